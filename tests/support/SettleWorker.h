// Meeting the driver's worker on a condition: the point where it has run
// every command queued and handled every data message posted before.
#pragma once

#include <atomic>
#include <memory>

#include <boost/bind/bind.hpp>

#include "driver/VKESUDriverService.h"
#include "platform/win/WinApi.h"
#include "tests/support/Signal.h"

namespace KESUTest {

namespace detail {

// Runs on the worker as a queued command. Commands run in queue order, but a
// surplus command message ahead of data messages may run this one before
// them; so while a data message still waits in the worker's own queue, it
// queues itself again behind it, and takes one command message out for the
// one that adds. Otherwise every step would leave one more surplus message
// behind the data, and the next settling would walk through twice as many:
// any command message serves any queued command, and the one added is last.
// It stops once the test has given up, so that a worker that never returns to
// its queue fails the test instead of hanging it.
struct Settler : std::enable_shared_from_this<Settler> {
    explicit Settler(KESU::VKESUDriverService& s) : service(s) {}
    void Run() {
        using Service = KESU::VKESUDriverService;
        MSG msg;
        if (abandoned) return;
        if (!PeekMessageW(&msg, nullptr, Service::WM_DATA_READY, Service::WM_DATA_READY, PM_NOREMOVE)) {
            done.Raise();
            return;
        }
        PeekMessageW(&msg, nullptr, Service::WM_DRIVER_COMMAND, Service::WM_DRIVER_COMMAND, PM_REMOVE);
        service.Enqueue(boost::bind(&Settler::Run, shared_from_this()));
    }
    KESU::VKESUDriverService& service;
    Signal done;
    std::atomic<bool> abandoned{false};
};

}  // namespace detail

// False when the safety net runs out first.
inline bool SettleWorker(KESU::VKESUDriverService& service) {
    auto settler = std::make_shared<detail::Settler>(service);
    service.Enqueue(boost::bind(&detail::Settler::Run, settler));
    if (settler->done.Wait()) return true;
    settler->abandoned = true;
    return false;
}

}  // namespace KESUTest
