// A host may call a device from inside one of its own callbacks: from inside
// WriteSamples, on the worker thread, which holds the device's lock further
// up. Such a call must not wait for that lock. The device either does it at
// once, where the write needs nothing the call changes, or defers it: what it
// asked for is done once the host's callback has returned, in the order
// asked, each exactly once.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <vector>

#include <boost/function.hpp>

#include "platform/win/WinApi.h"
#include "sdk/IDeviceHost.h"

namespace KESU {

// The ids of the parameters the host reports changed; none without a device
// host. Entries past the buffer were never written, whatever count the host
// claims.
inline std::vector<uint64_t> ChangedParameterIds(ZentuDigitalDevice::IDeviceHost* deviceHost,
                                                 const uint32_t* selector) {
    if (!deviceHost) return {};
    const uint32_t count = deviceHost->GetChangedParameterCount();
    std::vector<uint64_t> ids(count, 0);
    uint32_t written = 0;
    deviceHost->GetChangedParameterIds(selector, ids.data(), &written);
    ids.resize(std::min(written, count));
    return ids;
}

class VHostCallDeferral {
public:
    // Any thread, no lock: whether the caller is inside the guarded host
    // call, and so holds the device's lock further up.
    bool IsInside() const { return inside == GetCurrentThreadId(); }

    // The thread inside only: `later` runs once the guarded call has
    // returned, after everything deferred before it.
    void Defer(const boost::function<void()>& later) { deferred.push_back(later); }

    // The worker, device lock held: runs the host call with the calling
    // thread marked inside it, then what was deferred meanwhile. Also when the
    // call throws: the host was told its calls were taken. A call the host
    // makes from inside a deferred step is deferred in turn. The first
    // exception goes on once every step has run; nothing deferred, and no
    // mark, outlives the call.
    template <class HostCall>
    void Around(HostCall call) {
        inside = GetCurrentThreadId();
        std::exception_ptr failure;
        try {
            call();
        } catch (...) {
            failure = std::current_exception();
        }
        while (!deferred.empty()) {
            std::vector<boost::function<void()>> steps;
            steps.swap(deferred);
            for (const boost::function<void()>& step : steps) {
                try {
                    step();
                } catch (...) {
                    if (!failure) failure = std::current_exception();
                }
            }
        }
        inside = 0;
        if (failure) std::rethrow_exception(failure);
    }

private:
    // Compared without the device's lock by every thread that calls in.
    std::atomic<DWORD> inside{0};
    // Written and read only by the thread inside, device lock held.
    std::vector<boost::function<void()>> deferred;
};

}  // namespace KESU
