#include "tests/support/SleepRecorder.h"

namespace KESUTest {

SleepRecorder::SleepRecorder() {
    WinApi::SetSleepHook([this](DWORD ms) {
        std::function<void(DWORD)> onPause;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pauses_.push_back(Pause{ms, GetCurrentThreadId()});
            onPause = onPause_;
        }
        if (onPause) onPause(ms);
    });
}

SleepRecorder::~SleepRecorder() {
    WinApi::SetSleepHook(nullptr);
}

std::vector<SleepRecorder::Pause> SleepRecorder::Pauses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pauses_;
}

std::vector<DWORD> SleepRecorder::PausesOf(DWORD threadId) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<DWORD> result;
    for (const Pause& p : pauses_)
        if (p.threadId == threadId) result.push_back(p.milliseconds);
    return result;
}

std::vector<DWORD> SleepRecorder::Milliseconds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<DWORD> result;
    for (const Pause& p : pauses_) result.push_back(p.milliseconds);
    return result;
}

void SleepRecorder::SetPauseCallback(std::function<void(DWORD)> callback) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        onPause_.swap(callback);
    }
    // The callback replaced goes here, unlocked: what it owns may end a
    // thread that still pauses.
}

void SleepRecorder::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    pauses_.clear();
}

}  // namespace KESUTest
