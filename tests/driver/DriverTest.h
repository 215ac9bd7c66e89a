// What every driver service suite shares: a fake host as the module's logger,
// the Sleep recorder, a freshly reset simulated library, one service, and ways
// to meet the worker thread on conditions rather than on time.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/VKESUDriverService.h"
#include "platform/usbamp/UsbAmpSim.h"
#include "platform/win/WinApi.h"
#include "tests/support/FakeHost.h"
#include "tests/support/Signal.h"
#include "tests/support/SleepRecorder.h"

namespace KESUTest {

using Service = KESU::VKESUDriverService;

// Runs a call on a thread of its own, so that a test can tell whether the
// call waits for a lock: it either returns or sleeps in the kernel. Joins the
// thread when destroyed.
class BlockingCall {
public:
    explicit BlockingCall(std::function<void()> call);
    ~BlockingCall();
    BlockingCall(const BlockingCall&) = delete;
    BlockingCall& operator=(const BlockingCall&) = delete;

    // True once the call sleeps in the kernel without having returned; false
    // once it has returned, or when the safety net runs out first.
    bool WaitUntilAsleep();
    // True once the call has returned; false when the safety net runs out first.
    bool WaitUntilReturned() { return returned_.Wait(); }
    bool Returned() const { return hasReturned_; }

private:
    std::atomic<long> kernelId_{0};
    std::atomic<bool> hasReturned_{false};
    Signal started_;
    Signal returned_;
    std::thread thread_;
};

// A command that stops the worker until the test lets it go, so that the test
// can arrange the worker's queue while it is known to be busy.
class Gate {
public:
    // Reports its arrival, waits until opened, then runs `onRelease` (on the
    // worker) before it ends.
    boost::function<void()> Command(std::function<void()> onRelease = nullptr);
    bool WaitUntilArrived() { return arrived_.Wait(); }
    void Open() { open_.Raise(); }

private:
    Signal arrived_;
    Signal open_;
};

// Records what the worker reports, in one order shared by all callbacks, so a
// test can check which came first.
class Events {
public:
    void Add(const std::string& event);
    std::vector<std::string> All() const;
    void Clear();
    // Waits until `count` events were added since the last Clear.
    bool WaitForCount(size_t count, std::chrono::milliseconds safetyNet = kSafetyNet) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable added_;
    std::vector<std::string> events_;
};

// The host's log as a failing host may offer it: the lines chosen throw
// instead of being written; every other call goes on to the fake host.
class ThrowingLog final : public ZentuDigitalDevice::IHost {
public:
    explicit ThrowingLog(FakeHost& host) : host_(host) {}

    // The next `times` lines that begin with `prefix` throw a runtime_error
    // naming the line; times < 0: every such line. Any thread.
    void ThrowAt(const std::string& prefix, int times = 1);

    void Log(const char* text, int level) override;
    uint32_t GetBaseRate() override { return host_.GetBaseRate(); }
    void Unused2() override { host_.Unused2(); }
    double GetTime() override { return host_.GetTime(); }

private:
    FakeHost& host_;
    std::mutex mutex_;
    std::string prefix_;
    int times_ = 0;
};

// "fmDLLSetUSBPacketSize(512)": a library call with its integer arguments.
std::string Described(const UsbAmpSim::Call& call);
// Every library call as described, transfers left out.
std::vector<std::string> DescribedCalls();
std::vector<UsbAmpSim::Call> CallsNamed(const std::string& function);
size_t CountOf(const std::vector<std::string>& items, const std::string& item);
// The items after the first `from` (exclusive) and before the next `to`
// (exclusive); everything after `from` when `to` does not follow it.
std::vector<std::string> Between(const std::vector<std::string>& items, const std::string& from,
                                 const std::string& to);

// An amplifier whose every identity field names its index, so that swapped
// fields or devices show.
UsbAmpSim::Amplifier Plate(int index);

class DriverTest : public ::testing::Test {
protected:
    struct Detection {
        Service::VDllInitInfo info;
        std::vector<Service::VDeviceInfo> devices;
        DWORD threadId = 0;
    };

    void SetUp() override;
    void TearDown() override;

    // Builds the service as Initialise does: logger first, then the service.
    // Without an argument the service logs to `host`.
    void CreateService(ZentuDigitalDevice::IHost* logger = nullptr);
    // Queues one detection and waits until it has ended.
    Detection Detect();
    // Waits until the worker has run every command queued and handled every
    // data message posted before this call.
    bool Drain();
    // Detection, then a start, then the library streaming: the state a capture runs in.
    void StartStreaming();
    // A gate owned by the fixture, opened in TearDown if a test left it shut.
    Gate& NewGate();
    // Forgets the calls, log lines and pauses recorded so far.
    void ClearRecords();
    // Since the last ClearRecords: no library call, no log line, no pause.
    void ExpectTouchedNothing() const;
    // Whether a thread other than the caller can take the state mutex now:
    // one of its own asks for it (IsDllInitialised takes it) and the answer
    // comes when that returns. A caller that holds the mutex itself gets false
    // once the safety net has run out, not a deadlock; the asking thread ends
    // when the mutex comes free and is joined in TearDown. Any thread.
    bool StateMutexIsFree();

    // The host log as "level text", e.g. "0 ::fmDLLInit()".
    std::vector<std::string> Log() const;
    DWORD Worker() const { return service->WorkerThreadId(); }
    std::vector<DWORD> WorkerPauses() const { return recorder.PausesOf(Worker()); }

    // Sets a state callback that adds "state 1" / "state 0" to events and
    // keeps each value with its thread.
    void WatchState();
    struct Report {
        bool running;
        DWORD threadId;
    };
    std::vector<Report> StateReports() const;
    std::vector<bool> StateValues() const;

    FakeHost host;
    ThrowingLog throwingLog{host};
    SleepRecorder recorder;
    Events events;
    std::unique_ptr<Service> service;

private:
    std::list<Gate> gates_;
    std::mutex probesMutex_;
    std::vector<std::thread> probes_;
    mutable std::mutex reportsMutex_;
    std::vector<Report> reports_;
};

}  // namespace KESUTest
