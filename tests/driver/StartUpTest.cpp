// The library start-up that opens every detection: readiness polls, set-up
// check, the fixed set-up calls, and what a repeated start-up does first.
#include <algorithm>
#include <atomic>
#include <ostream>
#include <string>
#include <vector>

#include "tests/driver/DriverTest.h"

namespace KESUTest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class StartUpTest : public DriverTest {};

const char* const kTimeOutMessage =
    "KESU device initialization timed out, consider restarting the application.";

// The library calls of the set-up that follows a ready answer, in their order.
std::vector<std::string> SetUpCalls(DWORD worker) {
    return {"fmDLLSetUSBPacketSize(512)",
            "fmBroadcastRunMode(1)",
            "fmDLLSetDataFormat(1)",
            "fmDLLPostDataReadyMessages(1)",
            "fmDLLPostUserThreadMessages(" + std::to_string(worker) + ")",
            "fmBroadcastGenlock(0)",
            "fmBroadcastResetSoftware()"};
}

TEST_F(StartUpTest, ReadyAtTheFirstPollPollsOnceThenChecksAndSetsUpOnTheWorker) {
    const Detection detection = Detect();
    const DWORD worker = Worker();

    EXPECT_THAT(Log(), ElementsAre("0 ::fmDLLInit()", "0 ::fmDLLIsDeviceInitComplete() -> 1",
                                   "0 ::fmDLLSetupCheck() -> 1", "0 ::fmDLLSetUSBPacketSize(512)",
                                   "0 ::fmBroadcastRunMode(1)", "0 ::fmDLLSetDataFormat(1)",
                                   "0 ::fmDLLPostDataReadyMessages(1)",
                                   "0 ::fmDLLPostUserThreadMessages(" + std::to_string(worker) + ")",
                                   "0 ::fmBroadcastGenlock(0)", "0 ::fmBroadcastResetSoftware()",
                                   "0 ::fmDLLGetDeviceCount() -> 0"));
    for (const FakeLogLine& line : host.LogLines()) EXPECT_EQ(line.threadId, worker) << line.text;

    std::vector<std::string> expected{"fmDLLInit()", "fmDLLIsDeviceInitComplete()", "fmDLLSetupCheck()"};
    for (const std::string& call : SetUpCalls(worker)) expected.push_back(call);
    expected.push_back("fmDLLGetDeviceCount()");
    expected.push_back("fmBroadcastCheckPelora()");
    EXPECT_THAT(DescribedCalls(), ElementsAreArray(expected));
    for (const UsbAmpSim::Call& call : UsbAmpSim::Calls()) EXPECT_EQ(call.threadId, worker) << call.function;

    // 250 after the init call, 250 after the poll, 1000 after the set-up; then
    // the detection settles.
    EXPECT_THAT(WorkerPauses(), ElementsAre(250u, 250u, 1000u, 500u));
    EXPECT_EQ(detection.info.status, 0);
    EXPECT_EQ(detection.info.setupCheckCode, 1);
    EXPECT_EQ(detection.info.message, "The KESU setup is the same as the last saved configuration");
    EXPECT_TRUE(service->IsDllInitialised());
}

TEST_F(StartUpTest, EveryPollIsTracedWithItsAnswerAndPausedAfter) {
    UsbAmpSim::SetReadyAfterPolls(3);
    Detect();

    EXPECT_THAT(Between(Log(), "0 ::fmDLLInit()", "0 ::fmDLLSetupCheck() -> 1"),
                ElementsAre("0 ::fmDLLIsDeviceInitComplete() -> 0", "0 ::fmDLLIsDeviceInitComplete() -> 0",
                            "0 ::fmDLLIsDeviceInitComplete() -> 1"));
    EXPECT_THAT(WorkerPauses(), ElementsAre(250u, 250u, 250u, 250u, 1000u, 500u));
}

TEST_F(StartUpTest, NeverReadyTimesOutAfter51PollsSkipsTheSetUpAndDetectionGoesOn) {
    UsbAmpSim::SetReadyAfterPolls(UsbAmpSim::kNeverReady);
    UsbAmpSim::SetAmplifiers({Plate(0)});
    const Detection detection = Detect();

    const std::vector<std::string> log = Log();
    std::vector<std::string> expected{"0 ::fmDLLInit()"};
    expected.insert(expected.end(), 51, "0 ::fmDLLIsDeviceInitComplete() -> 0");
    expected.push_back("2 ::fmDLLInit() failed");
    expected.push_back("0 ::fmDLLGetDeviceCount() -> 1");
    ASSERT_GE(log.size(), expected.size());
    EXPECT_THAT(std::vector<std::string>(log.begin(), log.begin() + expected.size()),
                ElementsAreArray(expected));

    const std::vector<std::string> calls = DescribedCalls();
    EXPECT_EQ(CountOf(calls, "fmDLLIsDeviceInitComplete()"), 51u);
    EXPECT_EQ(CountOf(calls, "fmDLLSetupCheck()"), 0u);
    for (const std::string& call : SetUpCalls(Worker())) EXPECT_EQ(CountOf(calls, call), 0u) << call;

    // No closing 1000 ms pause: straight from the last poll to the settle.
    std::vector<DWORD> pauses{250u};
    pauses.insert(pauses.end(), 51, 250u);
    pauses.push_back(500u);
    EXPECT_THAT(WorkerPauses(), ElementsAreArray(pauses));

    EXPECT_EQ(detection.info.status, 2);
    EXPECT_EQ(detection.info.message, kTimeOutMessage);
    EXPECT_EQ(detection.info.setupCheckCode, 0);
    EXPECT_FALSE(service->IsDllInitialised());
    // Whatever the library yields is still read and reported.
    ASSERT_EQ(detection.devices.size(), 1u);
    EXPECT_EQ(detection.devices[0].platformSerialNumber, "PS-0");
}

TEST_F(StartUpTest, ATimedOutStatusRecordDoesNotCarryTheLastCheckCode) {
    UsbAmpSim::SetSetupCheckCode(214);
    ASSERT_EQ(Detect().info.setupCheckCode, 214);
    UsbAmpSim::SetReadyAfterPolls(UsbAmpSim::kNeverReady);
    const Detection timedOut = Detect();
    EXPECT_EQ(timedOut.info.status, 2);
    EXPECT_EQ(timedOut.info.setupCheckCode, 0);
}

struct SetupCheckCase {
    int32_t code;
    int32_t status;
    const char* message;
};

void PrintTo(const SetupCheckCase& c, std::ostream* out) {
    *out << "code " << c.code;
}

class SetupCheckTest : public DriverTest, public ::testing::WithParamInterface<SetupCheckCase> {};

TEST_P(SetupCheckTest, CodeGivesItsMessageAndStatusAndTheSetUpStillRuns) {
    const SetupCheckCase& c = GetParam();
    UsbAmpSim::SetSetupCheckCode(c.code);
    const Detection detection = Detect();

    EXPECT_EQ(detection.info.status, c.status);
    EXPECT_EQ(detection.info.setupCheckCode, c.code);
    EXPECT_EQ(detection.info.message, c.message);
    const std::vector<std::string> log = Log();
    EXPECT_EQ(CountOf(log, "0 ::fmDLLSetupCheck() -> " + std::to_string(c.code)), 1u);
    const std::vector<std::string> calls = DescribedCalls();
    for (const std::string& call : SetUpCalls(Worker())) EXPECT_EQ(CountOf(calls, call), 1u) << call;
    EXPECT_TRUE(service->IsDllInitialised());
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SetupCheckTest,
    ::testing::Values(
        SetupCheckCase{0, 1, "No KESU devices were found"},
        SetupCheckCase{1, 0, "The KESU setup is the same as the last saved configuration"},
        SetupCheckCase{211, 1, "The configuration file was not found"},
        SetupCheckCase{212, 1, "fmDLLSetupCheck returned an unknown status code"},
        SetupCheckCase{213, 1, "A configuration file was found but for the wrong version of the software"},
        SetupCheckCase{214, 1,
                       "The configuration has changed. A different number of KESU devices were detected than "
                       "the previously saved setup."},
        SetupCheckCase{
            215, 1,
            "The configuration has changed. The serial numbers don\x92t match the previously saved "
            "setup."},
        SetupCheckCase{2, 1, "fmDLLSetupCheck returned an unknown status code"},
        SetupCheckCase{-1, 1, "fmDLLSetupCheck returned an unknown status code"}),
    [](const ::testing::TestParamInfo<SetupCheckCase>& info) {
        return info.param.code < 0 ? "Minus" + std::to_string(-info.param.code)
                                   : "Code" + std::to_string(info.param.code);
    });

TEST_F(StartUpTest, TheSerialMismatchTextCarriesTheSingleWindowsQuoteByte) {
    UsbAmpSim::SetSetupCheckCode(215);
    const std::string message = Detect().info.message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\x92'), 1);
    EXPECT_EQ(message.find('\''), std::string::npos);
    EXPECT_NE(message.find("don\x92t match"), std::string::npos);
    // Not the three UTF-8 bytes of U+2019.
    EXPECT_EQ(message.find("\xE2\x80\x99"), std::string::npos);
}

// A detection whose callback notes whether a stop was still pending when it
// ran: after the start-up, before the stop queued behind the detection.
struct PendingSeen {
    Signal done;
    std::atomic<int> pending{-1};
};

TEST_F(StartUpTest, ARepeatedStartUpOpensWithAStopAndClearsStopPending) {
    Detect();
    ClearRecords();

    auto seen = std::make_shared<PendingSeen>();
    Service* s = service.get();
    UsbAmpSim::HoldCall("fmBroadcastStop");
    service->DetectDevices([seen, s](Service::VDllInitInfo, std::vector<Service::VDeviceInfo>) {
        seen->pending = s->IsStopPending() ? 1 : 0;
        seen->done.Raise();
    });
    ASSERT_TRUE(UsbAmpSim::WaitUntilHeld(kSafetyNet));
    service->Stop();
    EXPECT_TRUE(service->IsStopPending());
    UsbAmpSim::ReleaseHeldCall();
    ASSERT_TRUE(seen->done.Wait());

    EXPECT_EQ(seen->pending, 0);
    const std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "0 ::fmBroadcastStop()");
    EXPECT_EQ(log[1], "0 ::fmDLLInit()");
    const std::vector<std::string> calls = DescribedCalls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "fmBroadcastStop()");
    EXPECT_EQ(calls[1], "fmDLLInit()");
    EXPECT_TRUE(service->IsDllInitialised());

    // The stop queued meanwhile still runs afterwards.
    ASSERT_TRUE(Drain());
    EXPECT_EQ(CountOf(DescribedCalls(), "fmBroadcastStop()"), 2u);
    EXPECT_FALSE(service->IsStopPending());
    EXPECT_THAT(WorkerPauses(), ElementsAre(250u, 1000u, 250u, 250u, 1000u, 500u, /* the stop */ 250u));
}

TEST_F(StartUpTest, BlocksMadeBeforeARepeatedStartUpAreFetchedAndDroppedBeforeTheInitWithOneWarning) {
    std::atomic<int> delivered{0};
    service->SetDataCallback([&delivered](float*) { ++delivered; });
    UsbAmpSim::SetAmplifiers({Plate(0)});
    for (const int left : {3, 0}) {
        SCOPED_TRACE(left);
        StartStreaming();
        ClearRecords();
        UsbAmpSim::RecordDataTransfers(true);
        delivered = 0;
        // Made while the start-up is under way, before its stop.
        UsbAmpSim::HoldCall("fmBroadcastStop");
        service->DetectDevices(Service::DetectionCallback());
        ASSERT_TRUE(UsbAmpSim::WaitUntilHeld(kSafetyNet));
        for (int b = 0; b < left; ++b) ASSERT_TRUE(UsbAmpSim::HandOverBlock());
        UsbAmpSim::ReleaseHeldCall();
        ASSERT_TRUE(Drain());

        std::vector<std::string> calls;
        for (const UsbAmpSim::Call& call : UsbAmpSim::Calls()) calls.push_back(call.function);
        std::vector<std::string> expected{"fmBroadcastStop"};
        expected.insert(expected.end(), left + 1, "fmDLLTransferFloatData");  // the last one finds none
        expected.push_back("fmDLLInit");
        ASSERT_GE(calls.size(), expected.size());
        EXPECT_EQ(expected, std::vector<std::string>(calls.begin(), calls.begin() + expected.size()));
        EXPECT_EQ(0, delivered);
        const std::vector<std::string> warned{
            "2 Dropped 3 data blocks made before the amplifiers were initialised again"};
        EXPECT_EQ(left > 0 ? warned : std::vector<std::string>(),
                  Between(Log(), "0 ::fmBroadcastStop()", "0 ::fmDLLInit()"));
    }
}

TEST_F(StartUpTest, AStartUpAfterATimeOutNeitherStopsNorClearsStopPending) {
    UsbAmpSim::SetReadyAfterPolls(UsbAmpSim::kNeverReady);
    Detect();
    UsbAmpSim::SetReadyAfterPolls(1);
    ClearRecords();

    auto seen = std::make_shared<PendingSeen>();
    Service* s = service.get();
    UsbAmpSim::HoldCall("fmDLLInit");
    service->DetectDevices([seen, s](Service::VDllInitInfo, std::vector<Service::VDeviceInfo>) {
        seen->pending = s->IsStopPending() ? 1 : 0;
        seen->done.Raise();
    });
    ASSERT_TRUE(UsbAmpSim::WaitUntilHeld(kSafetyNet));
    service->Stop();
    UsbAmpSim::ReleaseHeldCall();
    ASSERT_TRUE(seen->done.Wait());

    EXPECT_EQ(seen->pending, 1);
    const std::vector<std::string> calls = DescribedCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0], "fmDLLInit()");
    EXPECT_EQ(Log().at(0), "0 ::fmDLLInit()");
    EXPECT_TRUE(service->IsDllInitialised());

    ASSERT_TRUE(Drain());
    EXPECT_EQ(CountOf(DescribedCalls(), "fmBroadcastStop()"), 1u);
    EXPECT_FALSE(service->IsStopPending());
    EXPECT_THAT(WorkerPauses(), ElementsAre(250u, 250u, 1000u, 500u, /* the stop */ 250u));
}

}  // namespace
}  // namespace KESUTest
