// Replaces the process's Sleep with a recorder for the lifetime of the object:
// every pause returns at once and is kept, in order, with the thread that
// asked for it, so a test can assert the pacing without waiting it out.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "platform/win/WinApi.h"

namespace KESUTest {

class SleepRecorder {
public:
    struct Pause {
        DWORD milliseconds;
        DWORD threadId;
    };

    SleepRecorder();
    ~SleepRecorder();
    SleepRecorder(const SleepRecorder&) = delete;
    SleepRecorder& operator=(const SleepRecorder&) = delete;

    std::vector<Pause> Pauses() const;
    // The pauses requested by one thread, in order.
    std::vector<DWORD> PausesOf(DWORD threadId) const;
    // The pauses of every thread, in order.
    std::vector<DWORD> Milliseconds() const;
    void Clear();

    // Called on the pausing thread with each pause once it is recorded, with
    // none of the recorder's locks held, so that a test can act at a chosen
    // pause of the code under test (and hold it there). Any thread may set or
    // clear it (empty: none); a call already under way finishes on its own copy.
    void SetPauseCallback(std::function<void(DWORD milliseconds)> callback);

private:
    mutable std::mutex mutex_;
    std::vector<Pause> pauses_;
    std::function<void(DWORD)> onPause_;
};

}  // namespace KESUTest
