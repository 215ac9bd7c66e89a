#include "tests/driver/DriverTest.h"

#include <algorithm>
#include <atomic>
#include <boost/bind/bind.hpp>
#include <stdexcept>

#include "sdk/ModuleHost.h"
#include "tests/support/SettleWorker.h"
#include "tests/support/ThreadState.h"

namespace KESUTest {

BlockingCall::BlockingCall(std::function<void()> call)
    : thread_([this, call] {
          kernelId_ = KernelThreadId();
          started_.Raise();
          call();
          hasReturned_ = true;
          returned_.Raise();
      }) {}

BlockingCall::~BlockingCall() {
    thread_.join();
}

bool BlockingCall::WaitUntilAsleep() {
    if (!started_.Wait()) return false;
    const auto giveUp = std::chrono::steady_clock::now() + kSafetyNet;
    while (!hasReturned_ && std::chrono::steady_clock::now() < giveUp) {
        if (ThreadState(kernelId_) == 'S') return !hasReturned_;
        std::this_thread::yield();
    }
    return false;
}

boost::function<void()> Gate::Command(std::function<void()> onRelease) {
    return [this, onRelease] {
        arrived_.Raise();
        open_.Wait();
        if (onRelease) onRelease();
    };
}

void Events::Add(const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    added_.notify_all();
}

std::vector<std::string> Events::All() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

void Events::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

bool Events::WaitForCount(size_t count, std::chrono::milliseconds safetyNet) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return added_.wait_for(lock, safetyNet, [&] { return events_.size() >= count; });
}

void ThrowingLog::ThrowAt(const std::string& prefix, int times) {
    std::lock_guard<std::mutex> lock(mutex_);
    prefix_ = prefix;
    times_ = times;
}

void ThrowingLog::Log(const char* text, int level) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (times_ != 0 && std::string(text).rfind(prefix_, 0) == 0) {
            if (times_ > 0) --times_;
            throw std::runtime_error(std::string("the host's log failed at ") + text);
        }
    }
    host_.Log(text, level);
}

std::string Described(const UsbAmpSim::Call& call) {
    std::string text = call.function + "(";
    for (size_t i = 0; i < call.arguments.size(); ++i) {
        if (i) text += ", ";
        text += std::to_string(call.arguments[i]);
    }
    return text + ")";
}

std::vector<std::string> DescribedCalls() {
    std::vector<std::string> described;
    for (const UsbAmpSim::Call& call : UsbAmpSim::Calls())
        if (call.function != "fmDLLTransferFloatData") described.push_back(Described(call));
    return described;
}

std::vector<UsbAmpSim::Call> CallsNamed(const std::string& function) {
    std::vector<UsbAmpSim::Call> named;
    for (const UsbAmpSim::Call& call : UsbAmpSim::Calls())
        if (call.function == function) named.push_back(call);
    return named;
}

size_t CountOf(const std::vector<std::string>& items, const std::string& item) {
    return static_cast<size_t>(std::count(items.begin(), items.end(), item));
}

std::vector<std::string> Between(const std::vector<std::string>& items, const std::string& from,
                                 const std::string& to) {
    auto begin = std::find(items.begin(), items.end(), from);
    if (begin == items.end()) return {};
    ++begin;
    return std::vector<std::string>(begin, std::find(begin, items.end(), to));
}

UsbAmpSim::Amplifier Plate(int index) {
    const std::string n = std::to_string(index);
    UsbAmpSim::Amplifier plate;
    plate.productType = 300 + index;
    plate.amplifierModel = "AM-" + n;
    plate.amplifierSerial = "AS-" + n;
    plate.amplifierFirmware = "FW-" + n;
    plate.platformModel = "PM-" + n;
    plate.platformSerial = "PS-" + n;
    plate.xyzOffsets = {0.5f + static_cast<float>(index), -0.25f, 0.0f};
    plate.length = "L-" + n;
    plate.width = "W-" + n;
    return plate;
}

void DriverTest::SetUp() {
    UsbAmpSim::Reset();
    CreateService();
}

void DriverTest::TearDown() {
    // A failed test may have left the worker waiting; let it go so that the
    // destructor's join ends.
    UsbAmpSim::ReleaseHeldCall();
    for (Gate& gate : gates_) gate.Open();
    // A pause callback may reach into the test body that has ended.
    recorder.SetPauseCallback(nullptr);
    // Joined outside the lock: a worker still inside a callback may be
    // starting one more.
    for (;;) {
        std::vector<std::thread> probes;
        {
            std::lock_guard<std::mutex> lock(probesMutex_);
            probes.swap(probes_);
        }
        if (probes.empty()) break;
        for (std::thread& probe : probes) probe.join();
    }
    service.reset();
    KESU::g_host = nullptr;
    UsbAmpSim::Reset();
}

void DriverTest::CreateService(ZentuDigitalDevice::IHost* logger) {
    service.reset();
    KESU::g_host = logger ? logger : &host;
    service = std::make_unique<Service>();
}

DriverTest::Detection DriverTest::Detect() {
    struct Outcome {
        Signal done;
        Detection detection;
    };
    auto outcome = std::make_shared<Outcome>();
    service->DetectDevices([outcome](Service::VDllInitInfo info, std::vector<Service::VDeviceInfo> devices) {
        outcome->detection = Detection{info, devices, GetCurrentThreadId()};
        outcome->done.Raise();
    });
    EXPECT_TRUE(outcome->done.Wait()) << "the detection callback never came";
    // The detection reports its running state after its callback.
    EXPECT_TRUE(Drain());
    return outcome->detection;
}

bool DriverTest::Drain() {
    return SettleWorker(*service);
}

void DriverTest::StartStreaming() {
    Detect();
    service->Start();
    ASSERT_TRUE(Drain());
    ASSERT_TRUE(service->IsRunning());
    ASSERT_TRUE(UsbAmpSim::WaitUntilStreaming(kSafetyNet));
}

Gate& DriverTest::NewGate() {
    return gates_.emplace_back();
}

bool DriverTest::StateMutexIsFree() {
    auto answered = std::make_shared<Signal>();
    const Service* s = service.get();
    {
        std::lock_guard<std::mutex> lock(probesMutex_);
        probes_.emplace_back([s, answered] {
            s->IsDllInitialised();
            answered->Raise();
        });
    }
    return answered->Wait();
}

void DriverTest::ExpectTouchedNothing() const {
    EXPECT_THAT(UsbAmpSim::Calls(), ::testing::IsEmpty());
    EXPECT_THAT(host.LogLines(), ::testing::IsEmpty());
    EXPECT_THAT(recorder.Pauses(), ::testing::IsEmpty());
}

void DriverTest::ClearRecords() {
    UsbAmpSim::ClearCalls();
    host.ClearCalls();
    recorder.Clear();
    events.Clear();
    std::lock_guard<std::mutex> lock(reportsMutex_);
    reports_.clear();
}

std::vector<std::string> DriverTest::Log() const {
    std::vector<std::string> lines;
    for (const FakeLogLine& line : host.LogLines())
        lines.push_back(std::to_string(line.level) + " " + line.text);
    return lines;
}

void DriverTest::WatchState() {
    service->SetStateCallback([this](bool running) {
        {
            std::lock_guard<std::mutex> lock(reportsMutex_);
            reports_.push_back(Report{running, GetCurrentThreadId()});
        }
        events.Add(running ? "state 1" : "state 0");
    });
}

std::vector<DriverTest::Report> DriverTest::StateReports() const {
    std::lock_guard<std::mutex> lock(reportsMutex_);
    return reports_;
}

std::vector<bool> DriverTest::StateValues() const {
    std::vector<bool> values;
    for (const Report& report : StateReports()) values.push_back(report.running);
    return values;
}

}  // namespace KESUTest
