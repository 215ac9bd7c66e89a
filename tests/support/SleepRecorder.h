// Replaces the process's Sleep with a recorder for the lifetime of the object:
// every pause returns at once and is kept, in order, with the thread that
// asked for it, so a test can assert the pacing without waiting it out.
#pragma once

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

private:
    mutable std::mutex mutex_;
    std::vector<Pause> pauses_;
};

}  // namespace KESUTest
