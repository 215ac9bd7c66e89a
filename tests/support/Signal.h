// What the suites use to meet another thread on a condition rather than on
// time: a one-shot signal, and the safety net that bounds every such wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace KESUTest {

// Bounds every wait of the suites; a wait that reaches it has failed. It
// never paces a test that passes.
constexpr std::chrono::milliseconds kSafetyNet{30000};

// A one-shot signal between threads: once raised it stays raised.
class Signal {
public:
    void Raise() {
        std::lock_guard<std::mutex> lock(mutex_);
        up_ = true;
        raised_.notify_all();
    }

    // True once raised; false when the safety net runs out first.
    bool Wait(std::chrono::milliseconds safetyNet = kSafetyNet) {
        std::unique_lock<std::mutex> lock(mutex_);
        return raised_.wait_for(lock, safetyNet, [this] { return up_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable raised_;
    bool up_ = false;
};

}  // namespace KESUTest
