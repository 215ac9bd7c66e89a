// The placeholder device as the host drives it: start and stop, the settings
// it carries to the driver and the devices, and bad input from the host.
#include "tests/plugin/SharedConfigDeviceTest.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace KESUTest {

namespace {

size_t Count(const std::vector<std::string>& items, const std::string& item) {
    return static_cast<size_t>(std::count(items.begin(), items.end(), item));
}

// The placeholder's parameters read from the host, by name.
std::vector<std::string> ParameterReads(const FakeHost& host) {
    std::vector<std::string> names;
    for (const FakeCall& call : host.CallsOf("GetParameterValue"))
        if (call.deviceHost == "KESU Shared Config Device") names.push_back(call.texts[0]);
    return names;
}

}  // namespace

TEST_F(PlaceholderTest, ACallFromInsideAWriteReturnsAndActsOnceAfterTheBlockInTheOrderAsked) {
    Connect({Amp(300, 0)});
    const Device device = Devices().at(0);
    AskingDeviceHost plateHost(host.DeviceHost("AS0PS0"), *device);
    device->Connect(&plateHost);
    // The host owes the changed ids only during its notice: it forgets them after.
    auto notice = [](FakeDeviceHost& stored, IDevice& noticed, uint64_t id) {
        stored.SetChangedParameterIds({id});
        noticed.OnParametersChanged();
        stored.SetChangedParameterIds({});
    };
    auto rate = [&](const char* text) {
        ZentuDigitalDevice::IParameterValueEnum value = KESU::g_sharedConfigDefinition.sampleRate.value;
        value.SetValue(text);
        ASSERT_TRUE(placeholderHost->inner.SetStoredValue("SampleRate", value));
        notice(placeholderHost->inner, *placeholder, 1);
    };
    const auto writes = [&] { return host.CallsOf("WriteSamples").size(); };
    struct Case {
        const char* what;
        std::function<void()> inside;
        std::vector<std::string> calls;  // library calls while its block is handled
        std::function<void()> after = nullptr;
    };
    const Case cases[] = {
        {"rate", [&] { rate("500"); }, {"fmBroadcastStop()", "fmBroadcastAcquisitionRate(500)"}},
        {"zero, then the write throws",
         [&] {
             notice(placeholderHost->inner, *placeholder, 3);
             throw std::runtime_error("host write failed");
         },
         {"fmBroadcastZero()"}},
        {"zero and rate in one write",
         [&] {
             notice(placeholderHost->inner, *placeholder, 3);
             rate("250");
         },
         {"fmBroadcastZero()", "fmBroadcastStop()", "fmBroadcastAcquisitionRate(250)"}},
        {"blink of the plate itself",
         [&] { notice(plateHost.inner, *device, 5); },
         {"fmDLLSelectDeviceIndex(0)", "fmSetBlink()"}},
        {"a call from another host thread is no call from inside",
         [&] {
             bool elsewhere = true;
             std::thread([&] { elsewhere = placeholder->hostCalls.IsInside(); }).join();
             EXPECT_FALSE(elsewhere);
             EXPECT_TRUE(placeholder->hostCalls.IsInside());
         },
         {}},
        // The amplifiers run on, as after any host stop.
        {"stop", [&] { placeholder->Stop(); }, {}, [&] { EXPECT_EQ(StateOf(*placeholder), 2u); }},
        {"the plate's own start",
         [&] {
             const size_t declared = host.CallsOf("SetSamplesPerPacket").size();
             EXPECT_TRUE(device->Start(7, &host));
             EXPECT_EQ(declared + 1, host.CallsOf("SetSamplesPerPacket").size());
         },
         {}},
        {"stop, then start, then its start time",
         [&] {
             placeholder->Stop();
             EXPECT_TRUE(placeholder->Start(0, &host));
             placeholder->SetStartTime(1.0);
         },
         {"fmBroadcastAcquisitionRate(250)", "fmBroadcastStop()", "fmBroadcastStart()"},
         [&] {
             EXPECT_EQ(StateOf(*placeholder), 1u) << "the stop came before the start";
             const size_t written = writes();
             Feed(Block(1, 2000));
             EXPECT_EQ(writes(), written + 1);
         }},
        {"start, written on once the start time is given",
         [&] { EXPECT_TRUE(placeholder->Start(0, &host)); },
         {"fmBroadcastAcquisitionRate(250)", "fmBroadcastStop()", "fmBroadcastStart()"},
         [&] {
             const size_t written = writes();
             Feed(Block(1, 2000));
             EXPECT_EQ(writes(), written);
             placeholder->SetStartTime(0.0);
             Feed(Block(1, 2016));
             EXPECT_EQ(writes(), written + 1);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        plateHost.inside = c.inside;
        for (const bool first : {true, false}) {
            ASSERT_TRUE(StartCapture());
            placeholder->SetStartTime(0.0);
            UsbAmpSim::ClearCalls();
            Feed(Block(1, 1000));
            EXPECT_THAT(LibraryCalls(), ElementsAreArray(first ? c.calls : std::vector<std::string>()))
                << "the calls must act once, at its block";
            if (first && c.after) c.after();
            if (HasFatalFailure()) return;
            // Outside any write a notice from the worker itself acts at once,
            // also after a write that threw.
            UsbAmpSim::ClearCalls();
            service->Enqueue([&] { notice(placeholderHost->inner, *placeholder, 0); });
            ASSERT_TRUE(Drain());
            EXPECT_THAT(LibraryCalls(), ElementsAre("fmBroadcastStop()", "fmBroadcastGenlock(0)"));
        }
    }
    EXPECT_EQ(placeholder->sampleRate, 250u);
}

TEST_F(PlaceholderTest, StartIsRefusedWithoutAUsableDetection) {
    struct Case {
        const char* what;
        int32_t readyAfterPolls;  // -1: no detection at all
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
        EXPECT_THAT(recorder.Pauses(), IsEmpty());
    }
}

TEST_F(PlaceholderTest, StartQueuesRateStopAndStartWithOnePauseBetweenStopAndStart) {
    Connect({Amp(300, 0)});
    UsbAmpSim::ClearCalls();
    recorder.Clear();
    // The worker waits in the first command, so what Start queues stays queued.
    UsbAmpSim::HoldCall("fmBroadcastAcquisitionRate");
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
    EXPECT_THAT(LibraryCalls(),
                ElementsAre("fmBroadcastAcquisitionRate(1000)", "fmBroadcastStop()", "fmBroadcastStart()"));
}

// The host asks for the status inside every notification and connects each
// device inside its instantiation; neither may wait on the placeholder's lock.
TEST_F(PlaceholderTest, StatusFollowsStartTheDriverAndStopAndIsAskedFromInsideCallbacks) {
    Connect({Amp(300, 0), Amp(400, 1)});
    // Stopped and connected after detection, and after the driver's stop report.
    EXPECT_THAT(placeholderHost->Statuses(), ElementsAre(21u, 21u));
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
        // More ids claimed than there is room for, or fewer written than there
        // is room for: the unwritten zeros would read as "SyncMode".
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

TEST_F(PlaceholderTest, EachBlinkActionIdBlinksItsAmplifierOnce) {
    Connect({Amp(300, 0), Amp(300, 1)});
    const Device device = Devices().at(1);
    struct Case {
        std::vector<uint64_t> ids;
        std::vector<std::string> calls;
    };
    for (const Case& c :
         {Case{{5, 5},
               {"fmDLLSelectDeviceIndex(1)", "fmSetBlink()", "fmDLLSelectDeviceIndex(1)", "fmSetBlink()"}},
          Case{{0, 1, 2, 3, 4, 6}, {}}}) {
        host.DeviceHost("AS1PS1").SetChangedParameterIds(c.ids);
        host.ClearCalls();
        UsbAmpSim::ClearCalls();
        device->OnParametersChanged();
        ASSERT_TRUE(Drain());
        EXPECT_THAT(LibraryCalls(), ElementsAreArray(c.calls));
        const std::vector<FakeCall> asked = host.CallsOf("GetChangedParameterIds");
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].numbers[0], 1);  // the selector
    }
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
