// A change notice that the host sends from inside one of its own callbacks,
// on the thread that holds the device's lock further up: handled once that
// callback has returned, instead of waiting for the lock the thread holds.
#pragma once

#include <atomic>

#include "platform/win/WinApi.h"

namespace KESU {

class VChangeDeferral {
public:
    // Any thread, before it takes the device's lock (OnParametersChanged).
    // True when the calling thread is inside the guarded host call: the
    // change is noted and must not be handled now.
    bool Defer() {
        if (inside != GetCurrentThreadId()) return false;
        pending = true;
        return true;
    }

    // The worker, device lock held: runs the host call with the calling
    // thread marked inside it; answers whether a change was noted meanwhile.
    template <class HostCall>
    bool Around(HostCall call) {
        struct Leave {
            std::atomic<DWORD>& inside;
            ~Leave() { inside = 0; }
        } leave{inside};
        inside = GetCurrentThreadId();
        call();
        const bool noted = pending;
        pending = false;
        return noted;
    }

private:
    // Compared without the device's lock by every thread that reports a change.
    std::atomic<DWORD> inside{0};
    // Written and read only by the thread inside, device lock held.
    bool pending = false;
};

}  // namespace KESU
