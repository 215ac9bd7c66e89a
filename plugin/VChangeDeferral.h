// A change notice that the host sends from inside one of its own callbacks,
// on the thread that holds the device's lock further up: the changed ids are
// read at once, since the host owes them only during its notice, and applied
// once that callback has returned, instead of waiting for the lock the thread
// holds.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

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

class VChangeDeferral {
public:
    // Any thread, before it takes the device's lock (OnParametersChanged).
    // True when the calling thread is inside the guarded host call: it reads
    // the changed ids with readIds there and then (it holds the device's lock
    // further up), and they wait for the call to return.
    template <class ReadIds>
    bool Defer(ReadIds readIds) {
        if (inside != GetCurrentThreadId()) return false;
        const std::vector<uint64_t> ids = readIds();
        noted.insert(noted.end(), ids.begin(), ids.end());
        return true;
    }

    // The worker, device lock held: runs the host call with the calling
    // thread marked inside it, then hands the ids noted meanwhile to apply,
    // once. Also when the call throws: the host was told its change was
    // taken. Nothing noted outlives the call.
    template <class HostCall, class Apply>
    void Around(HostCall call, Apply apply) {
        inside = GetCurrentThreadId();
        try {
            call();
        } catch (...) {
            inside = 0;
            ApplyNoted(apply);
            throw;
        }
        inside = 0;
        ApplyNoted(apply);
    }

private:
    template <class Apply>
    void ApplyNoted(Apply apply) {
        if (noted.empty()) return;
        std::vector<uint64_t> ids;
        ids.swap(noted);
        apply(ids);
    }

    // Compared without the device's lock by every thread that reports a change.
    std::atomic<DWORD> inside{0};
    // Written and read only by the thread inside, device lock held.
    std::vector<uint64_t> noted;
};

}  // namespace KESU
