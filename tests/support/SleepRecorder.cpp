#include "tests/support/SleepRecorder.h"

namespace KESUTest {

SleepRecorder::SleepRecorder() {
    WinApi::SetSleepHook([this](DWORD ms) {
        std::lock_guard<std::mutex> lock(mutex_);
        pauses_.push_back(Pause{ms, GetCurrentThreadId()});
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

void SleepRecorder::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    pauses_.clear();
}

}  // namespace KESUTest
