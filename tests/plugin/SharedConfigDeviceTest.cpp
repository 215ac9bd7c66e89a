// The placeholder device as the host drives it: start and stop, the settings
// it carries to the driver, and what it does with bad input from the host.
#include "tests/plugin/SharedConfigDeviceTest.h"

#include <algorithm>
#include <boost/bind/bind.hpp>
#include <boost/thread/locks.hpp>

#include "plugin/ModuleStatics.h"
#include "tests/support/Signal.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using namespace ZentuDigitalDevice;

namespace KESUTest {

// ---- Support --------------------------------------------------------------------

ResultPtr AskingDeviceHost::GetParameterValue(IParameterValue* into, const char* name, const char* scope) {
    return inner_.GetParameterValue(into, name, scope);
}
ResultPtr AskingDeviceHost::SetParameterValue(const IParameterValue* value, const char* name,
                                              const char* scope) {
    return inner_.SetParameterValue(value, name, scope);
}
uint32_t AskingDeviceHost::GetChangedParameterCount() {
    return inner_.GetChangedParameterCount() + extraRoom;
}
ResultPtr AskingDeviceHost::GetChangedParameterIds(const uint32_t* selector, uint64_t* ids, uint32_t* count) {
    ResultPtr result = inner_.GetChangedParameterIds(selector, ids, count);
    *count += extraClaimed;
    return result;
}
ResultPtr AskingDeviceHost::WriteSamples(uint32_t hostDeviceId, int64_t firstIndex, uint32_t sampleCount,
                                         const uint32_t* outputIds, uint32_t outputCount, const float* values,
                                         uint32_t valueCount) {
    return inner_.WriteSamples(hostDeviceId, firstIndex, sampleCount, outputIds, outputCount, values,
                               valueCount);
}
void AskingDeviceHost::NotifyStatusChanged() {
    uint32_t state = 9;
    uint8_t flag = 9;
    device_.GetStatus(&state, &flag);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        statuses_.push_back(state * 10 + flag);
    }
    inner_.NotifyStatusChanged();
}
std::vector<uint32_t> AskingDeviceHost::Statuses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return statuses_;
}

ResultPtr ConnectingFactory::InstantiateDevice(const char* maker, const char* definitionName,
                                               const char* version, const char* instanceName,
                                               IDevice* device) {
    if (refuseWithNullText) {
        AddRef();
        return ResultPtr(this);
    }
    ResultPtr result = host_.InstantiateDevice(maker, definitionName, version, instanceName, device);
    if (result.IsEmpty()) device->Connect(&host_.DeviceHost(instanceName));
    return result;
}

UsbAmpSim::Amplifier Amp(int32_t productType, int n) {
    UsbAmpSim::Amplifier amp;
    amp.productType = productType;
    amp.amplifierModel = "AM" + std::to_string(n);
    amp.amplifierSerial = "AS" + std::to_string(n);
    amp.platformModel = "PM" + std::to_string(n);
    amp.platformSerial = "PS" + std::to_string(n);
    amp.length = amp.width = "10";
    return amp;
}

std::vector<float> Block(uint32_t n, float first) {
    std::vector<float> block(16 * n * 8, 0.0f);
    for (uint32_t s = 0; s < 16; ++s)
        for (uint32_t d = 0; d < n; ++d) {
            At(block, n, s, d, 0) = first + static_cast<float>(s);
            At(block, n, s, d, 7) = UsbAmpSim::kTriggerIdle;
        }
    return block;
}

float& At(std::vector<float>& block, uint32_t n, uint32_t s, uint32_t d, uint32_t f) {
    return block[(s * n + d) * 8 + f];
}

void PlaceholderTest::SetUp() {
    UsbAmpSim::Reset();
    KESU::g_host = &host;
    KESU::g_sharedConfigDefinition.Describe(&host, false);
    service = std::make_unique<KESU::VKESUDriverService>();
    placeholder = std::make_unique<KESU::VSharedConfigDevice>(service.get());
    placeholder->SetFactory(&factory);
}

void PlaceholderTest::TearDown() {
    UsbAmpSim::ReleaseHeldCall();
    recorder.SetPauseCallback(nullptr);
    // The worker calls the placeholder until the service has ended.
    service.reset();
    placeholder.reset();
    KESU::g_host = nullptr;
    UsbAmpSim::Reset();
}

void PlaceholderTest::Connect(const std::vector<UsbAmpSim::Amplifier>& amplifiers) {
    UsbAmpSim::SetAmplifiers(amplifiers);
    const KESU::VSharedConfigDefinition& definition = KESU::g_sharedConfigDefinition;
    ASSERT_TRUE(host.InstantiateDevice(definition.maker.c_str(), definition.name.c_str(),
                                       definition.version.c_str(), "KESU Shared Config Device",
                                       placeholder.get())
                    .IsEmpty());
    placeholderHost =
        std::make_unique<AskingDeviceHost>(host.DeviceHost("KESU Shared Config Device"), *placeholder);
    placeholder->Connect(placeholderHost.get());
    ASSERT_TRUE(Drain());
}

void PlaceholderTest::Rescan(const std::vector<UsbAmpSim::Amplifier>& amplifiers) {
    UsbAmpSim::SetAmplifiers(amplifiers);
    Change("", "", {5});
    ASSERT_TRUE(Drain());
}

void PlaceholderTest::Change(const std::string& name, const std::string& text, std::vector<uint64_t> ids) {
    const KESU::VSharedConfigDefinition& definition = KESU::g_sharedConfigDefinition;
    FakeDeviceHost& stored = placeholderHost->Inner();
    if (name == "DataThreshold") {
        IParameterValueDouble value = definition.dataThreshold.value;
        value.SetValue(std::stod(text));
        ASSERT_TRUE(stored.SetStoredValue(name, value));
    } else if (!name.empty()) {
        IParameterValueEnum value =
            name == "SyncMode" ? definition.syncMode.value : definition.sampleRate.value;
        value.SetValue(text);
        ASSERT_TRUE(stored.SetStoredValue(name, value));
    }
    stored.SetChangedParameterIds(ids);
    placeholder->OnParametersChanged();
}

namespace {

// Runs on the worker; while a data message still waits in the worker's own
// queue it queues itself again behind it.
struct Settler : std::enable_shared_from_this<Settler> {
    explicit Settler(KESU::VKESUDriverService& s) : service(s) {}
    void Run() {
        MSG msg;
        if (abandoned) return;
        if (PeekMessageW(&msg, nullptr, KESU::VKESUDriverService::WM_DATA_READY,
                         KESU::VKESUDriverService::WM_DATA_READY, PM_NOREMOVE))
            service.Enqueue(boost::bind(&Settler::Run, shared_from_this()));
        else
            done.Raise();
    }
    KESU::VKESUDriverService& service;
    Signal done;
    std::atomic<bool> abandoned{false};
};

}  // namespace

bool PlaceholderTest::Drain() {
    // Twice: detection handling queues the rate and the mode behind the first.
    for (int pass = 0; pass < 2; ++pass) {
        auto settler = std::make_shared<Settler>(*service);
        service->Enqueue(boost::bind(&Settler::Run, settler));
        if (settler->done.Wait()) continue;
        settler->abandoned = true;
        return false;
    }
    return true;
}

bool PlaceholderTest::StartCapture() {
    // The amplifier devices first: their Start writes "starting", which the
    // driver's report of running, due after the placeholder's Start, replaces.
    for (const Device& device : Devices()) device->Start(1, &host);
    const bool started = placeholder->Start(0, &host);
    EXPECT_TRUE(Drain());
    if (started) {
        EXPECT_TRUE(UsbAmpSim::WaitUntilStreaming(kSafetyNet));
    }
    return started;
}

void PlaceholderTest::Feed(const std::vector<float>& block) {
    ASSERT_TRUE(UsbAmpSim::HandOverBlock(block));
    ASSERT_TRUE(Drain());
}

std::vector<Device> PlaceholderTest::Devices() {
    boost::unique_lock<boost::mutex> lock(placeholder->mutex);
    return placeholder->devices;
}

std::vector<std::string> PlaceholderTest::Log() const {
    std::vector<std::string> lines;
    for (const FakeLogLine& line : host.LogLines())
        if (line.level > 0 && line.text.compare(0, 2, "::") != 0)
            lines.push_back(std::to_string(line.level) + " " + line.text);
    return lines;
}

std::vector<int64_t> PlaceholderTest::FirstIndices(const std::string& name) const {
    std::vector<int64_t> indices;
    for (const FakeCall& call : host.CallsOf("WriteSamples"))
        if (call.deviceHost == name) indices.push_back(call.numbers[1]);
    return indices;
}

uint32_t PlaceholderTest::StateOf(IDevice& device) {
    uint32_t state = 9;
    uint8_t flag = 0;
    device.GetStatus(&state, &flag);
    return state;
}

namespace {

// Library calls other than data transfers, as "fmBroadcastAcquisitionRate(1000)".
std::vector<std::string> LibraryCalls() {
    std::vector<std::string> calls;
    for (const UsbAmpSim::Call& call : UsbAmpSim::Calls()) {
        if (call.function == "fmDLLTransferFloatData") continue;
        std::string text = call.function + "(";
        for (size_t i = 0; i < call.arguments.size(); ++i)
            text += (i ? ", " : "") + std::to_string(call.arguments[i]);
        calls.push_back(text + ")");
    }
    return calls;
}

size_t Count(const std::vector<std::string>& items, const std::string& item) {
    return static_cast<size_t>(std::count(items.begin(), items.end(), item));
}

std::vector<std::string> ParameterReads(const FakeHost& host) {
    std::vector<std::string> names;
    for (const FakeCall& call : host.CallsOf("GetParameterValue"))
        if (call.deviceHost == "KESU Shared Config Device") names.push_back(call.texts[0]);
    return names;
}

}  // namespace

// ---- Start and stop -------------------------------------------------------------

TEST_F(PlaceholderTest, StartIsRefusedWithoutAUsableDetection) {
    struct Case {
        const char* what;
        int32_t readyAfterPolls;  // 0: never ready; -1: no detection at all
        int32_t productType;
    };
    for (const Case& c : {Case{"no detection", -1, 300}, Case{"timed out", UsbAmpSim::kNeverReady, 300},
                          Case{"unsupported only", 1, 200}}) {
        SCOPED_TRACE(c.what);
        if (c.readyAfterPolls >= 0) {
            UsbAmpSim::SetReadyAfterPolls(c.readyAfterPolls);
            placeholderHost ? Rescan({Amp(c.productType, 0)}) : Connect({Amp(c.productType, 0)});
        }
        UsbAmpSim::ClearCalls();
        recorder.Clear();
        EXPECT_FALSE(placeholder->Start(0, &host));
        EXPECT_EQ(StateOf(*placeholder), 2u);
        ASSERT_TRUE(Drain());
        EXPECT_THAT(LibraryCalls(), IsEmpty());
        EXPECT_THAT(recorder.PausesOf(GetCurrentThreadId()), IsEmpty());
    }
}

TEST_F(PlaceholderTest, StartQueuesRateStopAndStartWithOnePauseBetweenStopAndStart) {
    Connect({Amp(300, 0)});
    for (bool stopAlreadyPending : {false, true}) {
        SCOPED_TRACE(stopAlreadyPending ? "stop already pending" : "plain");
        UsbAmpSim::ClearCalls();
        recorder.Clear();
        // The worker waits in the first command, so what Start queues stays queued.
        UsbAmpSim::HoldCall(stopAlreadyPending ? "fmBroadcastStop" : "fmBroadcastAcquisitionRate");
        if (stopAlreadyPending) Change("SyncMode", "Software trigger", {0});
        std::atomic<int> stopPendingAtPause{-1};
        recorder.SetPauseCallback([&](DWORD ms) {
            if (ms == 500) stopPendingAtPause = service->IsStopPending();
        });
        EXPECT_TRUE(placeholder->Start(0, &host));
        EXPECT_EQ(stopPendingAtPause, 1);
        EXPECT_FALSE(service->IsStopPending()) << "the start was not queued after the pause";
        recorder.SetPauseCallback(nullptr);
        UsbAmpSim::ReleaseHeldCall();
        ASSERT_TRUE(Drain());
        EXPECT_THAT(recorder.PausesOf(GetCurrentThreadId()), ElementsAre(500u));
        if (stopAlreadyPending)
            EXPECT_THAT(LibraryCalls(),
                        ElementsAre("fmBroadcastStop()", "fmBroadcastGenlock(0)",
                                    "fmBroadcastAcquisitionRate(1000)", "fmBroadcastStart()"));
        else
            EXPECT_THAT(LibraryCalls(), ElementsAre("fmBroadcastAcquisitionRate(1000)", "fmBroadcastStop()",
                                                    "fmBroadcastStart()"));
    }
}

// The host asks for the status inside every notification and connects each
// device inside its instantiation; neither may wait on the placeholder's lock.
TEST_F(PlaceholderTest, StatusFollowsStartTheDriverAndStopAndIsAskedFromInsideCallbacks) {
    Connect({Amp(300, 0), Amp(400, 1)});
    // After detection: stopped, connected; then the driver's stop report.
    EXPECT_THAT(placeholderHost->Statuses(), ElementsAre(21u, 21u));
    for (const FakeCall& call : host.CallsOf("SetParameterValue"))
        EXPECT_EQ(call.threadId, service->WorkerThreadId()) << call.deviceHost;
    ASSERT_TRUE(StartCapture());
    // The stop queued ahead of the start leaves "starting"; the start makes it running.
    EXPECT_THAT(placeholderHost->Statuses(), ElementsAre(21u, 21u, 0u, 10u));
    for (const Device& device : Devices()) EXPECT_EQ(StateOf(*device), 1u);
    placeholder->SetStartTime(0.0);
    Feed(Block(2, 0));
    EXPECT_EQ(host.CallsOf("WriteSamples").size(), 2u);

    UsbAmpSim::ClearCalls();
    placeholder->Stop();
    EXPECT_EQ(StateOf(*placeholder), 2u);
    for (const Device& device : Devices()) EXPECT_EQ(StateOf(*device), 2u);
    ASSERT_TRUE(Drain());
    EXPECT_THAT(LibraryCalls(), IsEmpty());
}

TEST_F(PlaceholderTest, SecondConnectRegistersAgainAndDetectsAgain) {
    Connect({Amp(300, 0)});
    AskingDeviceHost second(host.DeviceHost("second"), *placeholder);
    placeholder->Connect(&second);
    ASSERT_TRUE(Drain());
    EXPECT_EQ(Count(Log(), "1 Detected 1 KESU digital devices"), 2u);
    EXPECT_THAT(second.Statuses(), ElementsAre(21u, 21u));
    ASSERT_TRUE(StartCapture());
    placeholder->SetStartTime(0.0);
    Feed(Block(1, 100));
    EXPECT_EQ(FirstIndices("AS0PS0").size(), 1u) << "the data callback is gone";
}

// ---- Settings -------------------------------------------------------------------

TEST_F(PlaceholderTest, ChangedParameterIdsActOnTheSettingsNamed) {
    Connect({Amp(300, 0), Amp(300, 1)});
    struct Case {
        std::vector<uint64_t> ids;
        uint32_t extraRoom, extraClaimed;
        std::vector<std::string> reads;  // the placeholder's parameters read from the host
        std::vector<std::string> libraryCalls;
    };
    const Case cases[] = {
        {{2}, 0, 0, {"DataThreshold"}, {}},
        {{3}, 0, 0, {}, {"fmBroadcastZero()"}},
        {{4, 99}, 0, 0, {}, {}},
        // A host that claims more ids than it has room for, or writes fewer
        // than it made room for: the unwritten zeros would read as "SyncMode".
        {{2}, 0, 3, {"DataThreshold"}, {}},
        {{2}, 3, 0, {"DataThreshold"}, {}},
        // A rate or mode change stops the capture and does not restart it.
        {{0}, 0, 0, {"SyncMode"}, {"fmBroadcastStop()", "fmBroadcastGenlock(0)"}},
        {{1}, 0, 0, {"SampleRate"}, {"fmBroadcastStop()", "fmBroadcastAcquisitionRate(1000)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.ids));
        ASSERT_TRUE(StartCapture());
        host.ClearCalls();
        UsbAmpSim::ClearCalls();
        placeholderHost->extraRoom = c.extraRoom;
        placeholderHost->extraClaimed = c.extraClaimed;
        Change("DataThreshold", "12.5", c.ids);
        ASSERT_TRUE(Drain());
        EXPECT_THAT(ParameterReads(host), ElementsAreArray(c.reads));
        EXPECT_THAT(LibraryCalls(), ElementsAreArray(c.libraryCalls));
    }
    for (const Device& device : Devices()) EXPECT_EQ(device->dataThreshold, 12.5);

    placeholderHost->extraRoom = placeholderHost->extraClaimed = 0;
    UsbAmpSim::ClearCalls();
    Rescan({Amp(300, 0)});
    EXPECT_EQ(Count(LibraryCalls(), "fmDLLInit()"), 1u);
}

TEST_F(PlaceholderTest, InvalidSampleRateTextChangesNothingAndThrowsNothing) {
    Connect({Amp(300, 0)});
    for (const char* text : {"fast", "", "12.5", "-100", "2147483648", " 500", "500 "}) {
        SCOPED_TRACE(text);
        host.ClearCalls();
        UsbAmpSim::ClearCalls();
        // The threshold after the rate is still applied.
        Change("SampleRate", text, {1, 2});
        EXPECT_THAT(Log(), ElementsAre(std::string("3 Sample rate \"") + text + "\" is not a valid rate"));
        EXPECT_THAT(ParameterReads(host), ElementsAre("SampleRate", "DataThreshold"));
        EXPECT_FALSE(placeholder->Start(0, &host));
        EXPECT_EQ(StateOf(*placeholder), 2u);
        ASSERT_TRUE(Drain());
        EXPECT_THAT(LibraryCalls(), ElementsAre("fmBroadcastStop()"));
        EXPECT_EQ(Devices()[0]->sampleRate, 1000u);
    }
    host.ClearCalls();
    Rescan({Amp(300, 0), Amp(300, 1)});
    EXPECT_EQ(Devices()[1]->sampleRate, 1000u);
    EXPECT_THAT(ParameterReads(host), ElementsAre("SampleRate", "SyncMode", "DataThreshold"));
}

TEST_F(PlaceholderTest, NullPointersFromOutsideAreSurvived) {
    placeholder->GetStatus(nullptr, nullptr);
    placeholder->OnParametersChanged();
    placeholder->OnDataReady(nullptr);
    EXPECT_THAT(Log(), ElementsAre("2 Transfer data called with null pointer"));
    EXPECT_THAT(host.CallsOf("GetChangedParameterCount"), IsEmpty());

    UsbAmpSim::SetAmplifiers({Amp(300, 0)});
    placeholder->Connect(nullptr);
    ASSERT_TRUE(Drain());
    EXPECT_EQ(Devices().size(), 1u);
    EXPECT_THAT(host.CallsOf("NotifyStatusChanged"), IsEmpty());

    host.ClearCalls();
    Connect({Amp(300, 0), Amp(300, 1)});
    placeholder->SetFactory(nullptr);
    Rescan({Amp(300, 0), Amp(300, 1), Amp(300, 2)});
    placeholder->SetFactory(&factory);
    factory.refuseWithNullText = true;
    Rescan({Amp(300, 0), Amp(300, 1), Amp(300, 2), Amp(300, 3)});
    EXPECT_EQ(Count(Log(), "2 No host device factory to instantiate device PM2"), 1u);
    EXPECT_EQ(Count(Log(), "2 Host returned \"\" when trying to instantiate device PM3"), 1u);
    EXPECT_EQ(factory.references, 0);
    EXPECT_EQ(Devices().size(), 4u);
    EXPECT_EQ(host.CallsOf("InstantiateDevice").size(), 2u) << "the placeholder and the second amplifier";
}

}  // namespace KESUTest
