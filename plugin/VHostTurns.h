// Host threads and the driver's worker share the devices' locks. In a flood
// the worker takes the placeholder device's lock for every block and takes it
// again microseconds after letting it go; a mutex hands itself to no waiter in
// particular, so a host thread could wait for seconds. A host thread counts
// itself as waiting until it holds a device's lock, and the worker gives way
// to it before its next block.
#pragma once

#include <atomic>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/locks.hpp>
#include <boost/thread/mutex.hpp>

namespace KESU {

class VHostTurns {
public:
    // Host threads, and the worker where the host calls a device from inside
    // one of its callbacks: takes a device's mutex for the caller.
    boost::unique_lock<boost::mutex> Lock(boost::mutex& deviceMutex) {
        struct Waiting {
            VHostTurns& turns;
            explicit Waiting(VHostTurns& t) : turns(t) { ++turns.waiting; }
            ~Waiting() {
                if (--turns.waiting != 0) return;
                boost::lock_guard<boost::mutex> lock(turns.gate);
                turns.arrived.notify_all();
            }
        } waiting(*this);
        return boost::unique_lock<boost::mutex>(deviceMutex);
    }

    // The worker, holding no device lock, before it takes the placeholder
    // device's lock for a block: returns once no host thread waits for a
    // device's lock. One atomic load when none does.
    void GiveWay() {
        if (waiting == 0) return;
        boost::unique_lock<boost::mutex> lock(gate);
        while (waiting != 0) arrived.wait(lock);
    }

private:
    std::atomic<int> waiting{0};
    boost::mutex gate;
    boost::condition_variable arrived;
};

}  // namespace KESU
