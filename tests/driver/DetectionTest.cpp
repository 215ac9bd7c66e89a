// Detection: counting the amplifiers, calibration download, identity reading,
// the settle pauses and what the callbacks receive.
#include <atomic>
#include <memory>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/driver/DriverTest.h"

namespace KESUTest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class DetectionTest : public DriverTest {};

// The pauses of a first start-up that was ready at once.
const std::vector<DWORD> kStartUpPauses{250u, 250u, 1000u};

std::vector<DWORD> StartUpThen(std::vector<DWORD> rest) {
    std::vector<DWORD> pauses = kStartUpPauses;
    pauses.insert(pauses.end(), rest.begin(), rest.end());
    return pauses;
}

TEST_F(DetectionTest, NoAmplifierReportsAnEmptyListAfterTheSettleAndEndsNotRunning) {
    WatchState();
    const Detection detection = Detect();

    EXPECT_THAT(detection.devices, IsEmpty());
    EXPECT_EQ(detection.info.status, 0);
    EXPECT_EQ(detection.threadId, Worker());
    const std::vector<std::string> calls = DescribedCalls();
    EXPECT_EQ(calls.back(), "fmBroadcastCheckPelora()");
    EXPECT_TRUE(CallsNamed("fmDLLSelectDeviceIndex").empty());
    EXPECT_TRUE(CallsNamed("fmPeloraDownloadCalFile").empty());
    EXPECT_EQ(Log().back(), "0 ::fmDLLGetDeviceCount() -> 0");
    EXPECT_THAT(WorkerPauses(), ElementsAreArray(StartUpThen({500u})));
    EXPECT_THAT(events.All(), ElementsAre("state 0"));
    EXPECT_EQ(StateReports().at(0).threadId, Worker());
    EXPECT_FALSE(service->IsRunning());
}

TEST_F(DetectionTest, ADetectionDuringAcquisitionEndsItAndTellsTheStateCallbackAfterItsOwnCallback) {
    WatchState();
    StartStreaming();
    ASSERT_THAT(StateValues(), ElementsAre(false, true));
    ClearRecords();

    service->DetectDevices(
        [this](Service::VDllInitInfo, std::vector<Service::VDeviceInfo>) { events.Add("detection"); });
    ASSERT_TRUE(events.WaitForCount(2));
    EXPECT_THAT(events.All(), ElementsAre("detection", "state 0"));
    EXPECT_EQ(StateReports().at(0).threadId, Worker());
    EXPECT_FALSE(service->IsRunning());
}

TEST_F(DetectionTest, ThreePlatesNeedingCalibrationAreDownloadedInListOrder) {
    UsbAmpSim::SetAmplifiers({Plate(0), Plate(1), Plate(2), Plate(3)});
    UsbAmpSim::SetCalibrationCheck({2, 0, 3});
    const Detection detection = Detect();

    EXPECT_THAT(Between(DescribedCalls(), "fmBroadcastCheckPelora()", "fmGetAmplifierModelNumber()"),
                ElementsAre("fmDLLSelectDeviceIndex(2)", "fmGetPlatformSerialNumber()",
                            "fmPeloraDownloadCalFile(1)", "fmIsPeloraDownloadComplete()",
                            "fmDLLSelectDeviceIndex(0)", "fmGetPlatformSerialNumber()",
                            "fmPeloraDownloadCalFile(1)", "fmIsPeloraDownloadComplete()",
                            "fmDLLSelectDeviceIndex(3)", "fmGetPlatformSerialNumber()",
                            "fmPeloraDownloadCalFile(1)", "fmIsPeloraDownloadComplete()",
                            // the identity reading of device 0 begins
                            "fmDLLSelectDeviceIndex(0)"));
    EXPECT_THAT(
        Between(Log(), "0 ::fmDLLGetDeviceCount() -> 4", "0 ::fmDLLSelectDeviceIndex(0)"),
        ElementsAre("2 3 Peloras not ready - BCF download will be attempted",
                    "0 fmPeloraDownloadCalFile() called for platform PS-2", "0 Pelora download is complete",
                    "0 fmPeloraDownloadCalFile() called for platform PS-0", "0 Pelora download is complete",
                    "0 fmPeloraDownloadCalFile() called for platform PS-3", "0 Pelora download is complete"));
    // A download complete at the first poll costs no pause.
    EXPECT_THAT(WorkerPauses(), ElementsAreArray(StartUpThen({500u})));
    EXPECT_EQ(detection.devices.size(), 4u);
}

TEST_F(DetectionTest, ADownloadThatNeverCompletesPolls50TimesWithAPauseAfterEach) {
    UsbAmpSim::SetAmplifiers({Plate(0), Plate(1)});
    UsbAmpSim::SetCalibrationCheck({1});
    UsbAmpSim::SetCalibrationDownload(1, 0, {0});
    const Detection detection = Detect();

    const std::vector<UsbAmpSim::Call> polls = CallsNamed("fmIsPeloraDownloadComplete");
    EXPECT_EQ(polls.size(), 50u);
    for (const UsbAmpSim::Call& poll : polls) EXPECT_EQ(poll.selectedDevice, 1);
    std::vector<DWORD> calibration(50, 500u);
    calibration.push_back(500u);  // the settle
    EXPECT_THAT(WorkerPauses(), ElementsAreArray(StartUpThen(calibration)));
    EXPECT_THAT(Between(Log(), "0 ::fmDLLGetDeviceCount() -> 2", "0 ::fmDLLSelectDeviceIndex(0)"),
                ElementsAre("2 1 Peloras not ready - BCF download will be attempted",
                            "0 fmPeloraDownloadCalFile() called for platform PS-1",
                            "2 Pelora BCF download timed out for PS-1", "2 Device 1 may give bad results"));
    // The plate is read and reported like any other.
    ASSERT_EQ(detection.devices.size(), 2u);
    EXPECT_EQ(detection.devices[1].platformSerialNumber, "PS-1");
}

struct DownloadCase {
    const char* name;
    int32_t downloadAnswer;
    std::vector<int32_t> completeAnswers;
    size_t polls;
    size_t pauses;  // of 500 ms each, between the polls
    std::vector<std::string> lines;
};

void PrintTo(const DownloadCase& c, std::ostream* out) {
    *out << c.name;
}

class DownloadOutcomeTest : public DriverTest, public ::testing::WithParamInterface<DownloadCase> {};

// Device index 2 is the list's only entry, so a message that took the entry's
// position (0) for the device index would show.
TEST_P(DownloadOutcomeTest, OutcomeGivesItsLinesAndPollsAndPausesBetweenPolls) {
    const DownloadCase& c = GetParam();
    UsbAmpSim::SetAmplifiers({Plate(0), Plate(1), Plate(2)});
    UsbAmpSim::SetCalibrationCheck({2});
    UsbAmpSim::SetCalibrationDownload(2, c.downloadAnswer, c.completeAnswers);
    const Detection detection = Detect();

    std::vector<std::string> lines{"2 1 Peloras not ready - BCF download will be attempted"};
    lines.insert(lines.end(), c.lines.begin(), c.lines.end());
    EXPECT_THAT(Between(Log(), "0 ::fmDLLGetDeviceCount() -> 3", "0 ::fmDLLSelectDeviceIndex(0)"),
                ElementsAreArray(lines));
    const std::vector<UsbAmpSim::Call> downloads = CallsNamed("fmPeloraDownloadCalFile");
    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_EQ(downloads[0].selectedDevice, 2);
    EXPECT_EQ(CallsNamed("fmIsPeloraDownloadComplete").size(), c.polls);
    std::vector<DWORD> calibration(c.pauses, 500u);
    calibration.push_back(500u);  // the settle
    EXPECT_THAT(WorkerPauses(), ElementsAreArray(StartUpThen(calibration)));
    EXPECT_EQ(detection.devices.size(), 3u);
}

const char* const kCalled = "0 fmPeloraDownloadCalFile() called for platform PS-2";
const char* const kBadResults = "2 Device 2 may give bad results";

INSTANTIATE_TEST_SUITE_P(
    Outcomes, DownloadOutcomeTest,
    ::testing::Values(
        // Every zero answer is followed by a pause, the answer that ends the polling is not.
        DownloadCase{"CompleteAtOnce", 0, {1}, 1, 0, {kCalled, "0 Pelora download is complete"}},
        DownloadCase{
            "CompleteAtTheThirdPoll", 0, {0, 0, 1}, 3, 2, {kCalled, "0 Pelora download is complete"}},
        DownloadCase{
            "BadVersion", 0, {3}, 1, 0, {kCalled, "2 Bad Pelora BCF version seen for PS-2", kBadResults}},
        DownloadCase{"BadCrcAtTheSecondPoll",
                     0,
                     {0, 4},
                     2,
                     1,
                     {kCalled, "2 Bad CRC check on Pelora BCF download for PS-2", kBadResults}},
        DownloadCase{
            "OtherFailure", 0, {2}, 1, 0, {kCalled, "2 Pelora BCF download failed for PS-2", kBadResults}},
        DownloadCase{"NegativeFailure",
                     0,
                     {-7},
                     1,
                     0,
                     {kCalled, "2 Pelora BCF download failed for PS-2", kBadResults}},
        DownloadCase{
            "TimedOut", 0, {0}, 50, 50, {kCalled, "2 Pelora BCF download timed out for PS-2", kBadResults}},
        DownloadCase{"NotAPelora", 1, {1}, 0, 0, {"2 Platform PS-2 is not an Pelora platform", kBadResults}},
        DownloadCase{"ConditionerMistaken",
                     2,
                     {1},
                     0,
                     0,
                     {"2 Signal conditioner 2 thinks it's an Pelora but it isn't", kBadResults}},
        DownloadCase{
            "NoBcfFile", 3, {1}, 0, 0, {"2 Can't find Pelora BCF on the system for PS-2", kBadResults}},
        DownloadCase{"UnknownFour",
                     4,
                     {1},
                     0,
                     0,
                     {"2 Unable to download Pelora BCF for unknown reasons", kBadResults}},
        DownloadCase{"UnknownNegative",
                     -1,
                     {1},
                     0,
                     0,
                     {"2 Unable to download Pelora BCF for unknown reasons", kBadResults}}),
    [](const ::testing::TestParamInfo<DownloadCase>& info) { return std::string(info.param.name); });

TEST_F(DetectionTest, OnlyTheFirst16ListedPlatesAreDownloaded) {
    std::vector<int32_t> listed;
    for (int32_t d = 19; d >= 0; --d) listed.push_back(d);
    UsbAmpSim::SetCalibrationCheck(listed);
    Detect();

    EXPECT_EQ(CountOf(Log(), "2 20 Peloras not ready - BCF download will be attempted"), 1u);
    const std::vector<UsbAmpSim::Call> downloads = CallsNamed("fmPeloraDownloadCalFile");
    ASSERT_EQ(downloads.size(), 16u);
    for (size_t i = 0; i < downloads.size(); ++i)
        EXPECT_EQ(downloads[i].selectedDevice, 19 - static_cast<int>(i));
}

TEST_F(DetectionTest, ASerialOver16CharactersIsCutInTheDownloadMessagesButWholeInTheRecord) {
    UsbAmpSim::Amplifier plate = Plate(0);
    plate.platformSerial = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    UsbAmpSim::SetAmplifiers({plate});
    UsbAmpSim::SetCalibrationCheck({0});
    UsbAmpSim::SetCalibrationDownload(0, 0, {3});
    const Detection detection = Detect();

    const std::vector<std::string> log = Log();
    EXPECT_EQ(CountOf(log, "0 fmPeloraDownloadCalFile() called for platform ABCDEFGHIJKLMNOP"), 1u);
    EXPECT_EQ(CountOf(log, "2 Bad Pelora BCF version seen for ABCDEFGHIJKLMNOP"), 1u);
    EXPECT_EQ(CountOf(log, "0 ::fmGetPlatformSerialNumber() -> ABCDEFGHIJKLMNOPQRSTUVWXYZ"), 1u);
    ASSERT_EQ(detection.devices.size(), 1u);
    EXPECT_EQ(detection.devices[0].platformSerialNumber, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
}

TEST_F(DetectionTest, EveryIdentityIsReadAndTracedInItsOrderIntoItsField) {
    UsbAmpSim::Amplifier first = Plate(0);
    first.xyzOffsets = {1.5f, -0.25f, 1234.5678f};
    first.length = "20.0";
    first.width = "18.5";
    UsbAmpSim::Amplifier second = Plate(1);
    second.productType = 100;
    second.amplifierModel = "AM-%s-%d";  // a text that looks like a format is still only a text
    second.xyzOffsets = {0.0f, 20.0f, -3.0625f};
    UsbAmpSim::SetAmplifiers({first, second});
    const Detection detection = Detect();

    std::vector<std::string> calls;
    for (int i = 0; i < 2; ++i) {
        calls.push_back("fmDLLSelectDeviceIndex(" + std::to_string(i) + ")");
        for (const char* read :
             {"fmGetAmplifierModelNumber()", "fmGetProductType()", "fmGetAmplifierFirmwareVersion()",
              "fmGetAmplifierSerialNumber()", "fmGetPlatformModelNumber()", "fmGetPlatformSerialNumber()",
              "fmGetPlatformXYZOffsets()", "fmGetPlatformLengthAndWidth()"})
            calls.push_back(read);
    }
    EXPECT_THAT(Between(DescribedCalls(), "fmBroadcastCheckPelora()", "<end>"), ElementsAreArray(calls));
    // Each read goes to the device selected just before it.
    int selected = -1;
    for (const UsbAmpSim::Call& call : UsbAmpSim::Calls()) {
        if (call.function == "fmDLLSelectDeviceIndex") selected = static_cast<int>(call.arguments.at(0));
        if (call.function.rfind("fmGet", 0) == 0) {
            EXPECT_EQ(call.selectedDevice, selected) << call.function;
        }
    }

    EXPECT_THAT(
        Between(Log(), "0 ::fmDLLGetDeviceCount() -> 2", "<end>"),
        ElementsAre("0 ::fmDLLSelectDeviceIndex(0)", "0 ::fmGetAmplifierModelNumber() -> AM-0",
                    "0 ::fmGetProductType() -> 300", "0 ::fmGetAmplifierFirmwareVersion() -> FW-0",
                    "0 ::fmGetAmplifierSerialNumber() -> AS-0", "0 ::fmGetPlatformModelNumber() -> PM-0",
                    "0 ::fmGetPlatformSerialNumber() -> PS-0",
                    "0 ::fmGetPlatformXYZOffsets() -> (1.500000, -0.250000, 1234.567749)",
                    "0 ::fmGetPlatformLengthAndWidth() -> 20.0, 18.5", "0 ::fmDLLSelectDeviceIndex(1)",
                    "0 ::fmGetAmplifierModelNumber() -> AM-%s-%d", "0 ::fmGetProductType() -> 100",
                    "0 ::fmGetAmplifierFirmwareVersion() -> FW-1", "0 ::fmGetAmplifierSerialNumber() -> AS-1",
                    "0 ::fmGetPlatformModelNumber() -> PM-1", "0 ::fmGetPlatformSerialNumber() -> PS-1",
                    "0 ::fmGetPlatformXYZOffsets() -> (0.000000, 20.000000, -3.062500)",
                    "0 ::fmGetPlatformLengthAndWidth() -> L-1, W-1"));
    for (const FakeLogLine& line : host.LogLines()) EXPECT_EQ(line.threadId, Worker()) << line.text;

    ASSERT_EQ(detection.devices.size(), 2u);
    const Service::VDeviceInfo& a = detection.devices[0];
    EXPECT_EQ(a.productType, 300);
    EXPECT_EQ(a.amplifierModelNumber, "AM-0");
    EXPECT_EQ(a.amplifierSerialNumber, "AS-0");
    EXPECT_EQ(a.amplifierFirmwareVersion, "FW-0");
    EXPECT_EQ(a.platformModelNumber, "PM-0");
    EXPECT_EQ(a.platformSerialNumber, "PS-0");
    EXPECT_THAT(a.platformXYZOffsets, ElementsAre(1.5f, -0.25f, 1234.5678f));
    EXPECT_EQ(a.platformLength, "20.0");
    EXPECT_EQ(a.platformWidth, "18.5");
    EXPECT_EQ(a.deviceIndex, 0u);
    const Service::VDeviceInfo& b = detection.devices[1];
    EXPECT_EQ(b.productType, 100);
    EXPECT_EQ(b.amplifierModelNumber, "AM-%s-%d");
    EXPECT_EQ(b.amplifierSerialNumber, "AS-1");
    EXPECT_EQ(b.amplifierFirmwareVersion, "FW-1");
    EXPECT_EQ(b.platformModelNumber, "PM-1");
    EXPECT_EQ(b.platformSerialNumber, "PS-1");
    EXPECT_THAT(b.platformXYZOffsets, ElementsAre(0.0f, 20.0f, -3.0625f));
    EXPECT_EQ(b.platformLength, "L-1");
    EXPECT_EQ(b.platformWidth, "W-1");
    EXPECT_EQ(b.deviceIndex, 1u);
}

TEST_F(DetectionTest, TextsThatFillTheWholeBufferAreReadUpToItsEndOnly) {
    UsbAmpSim::Amplifier plate = Plate(0);
    plate.amplifierModel = std::string(1024, 'm');
    plate.amplifierSerial = std::string(1500, 's');
    plate.amplifierFirmware = std::string(1023, 'f');
    plate.platformSerial = std::string(1024, 'p');
    plate.length = std::string(32, '1');
    plate.width = std::string(40, '2');
    UsbAmpSim::SetAmplifiers({plate});
    UsbAmpSim::SetCalibrationCheck({0});
    UsbAmpSim::SetCalibrationDownload(0, 1, {1});
    const Detection detection = Detect();

    ASSERT_EQ(detection.devices.size(), 1u);
    const Service::VDeviceInfo& d = detection.devices[0];
    EXPECT_EQ(d.amplifierModelNumber, std::string(1024, 'm'));
    EXPECT_EQ(d.amplifierSerialNumber, std::string(1024, 's'));
    EXPECT_EQ(d.amplifierFirmwareVersion, std::string(1023, 'f'));
    EXPECT_EQ(d.platformSerialNumber, std::string(1024, 'p'));
    EXPECT_EQ(d.platformModelNumber, "PM-0");
    EXPECT_EQ(d.platformLength, std::string(32, '1'));
    EXPECT_EQ(d.platformWidth, std::string(32, '2'));
    const std::vector<std::string> log = Log();
    EXPECT_EQ(CountOf(log, "0 ::fmGetAmplifierSerialNumber() -> " + std::string(1024, 's')), 1u);
    EXPECT_EQ(CountOf(log, "0 ::fmGetPlatformLengthAndWidth() -> " + std::string(32, '1') + ", " +
                               std::string(32, '2')),
              1u);
    EXPECT_EQ(CountOf(log, "2 Platform " + std::string(16, 'p') + " is not an Pelora platform"), 1u);
}

TEST_F(DetectionTest, ATextTheLibraryLeavesUnwrittenIsEmptyNotTheTextReadBefore) {
    UsbAmpSim::SetAmplifiers({Plate(0)});
    UsbAmpSim::SetUnwrittenTexts({"fmGetAmplifierFirmwareVersion", "fmGetPlatformSerialNumber"});
    UsbAmpSim::SetCalibrationCheck({0});
    UsbAmpSim::SetCalibrationDownload(0, 1, {1});
    const Detection detection = Detect();

    ASSERT_EQ(detection.devices.size(), 1u);
    EXPECT_EQ(detection.devices[0].amplifierModelNumber, "AM-0");
    EXPECT_EQ(detection.devices[0].amplifierFirmwareVersion, "");
    EXPECT_EQ(detection.devices[0].platformModelNumber, "PM-0");
    EXPECT_EQ(detection.devices[0].platformSerialNumber, "");
    const std::vector<std::string> log = Log();
    EXPECT_EQ(CountOf(log, "0 ::fmGetAmplifierFirmwareVersion() -> "), 1u);
    EXPECT_EQ(CountOf(log, "0 ::fmGetPlatformSerialNumber() -> "), 1u);
    // The download's own serial read comes first, into a buffer nothing was read into yet.
    EXPECT_EQ(CountOf(log, "2 Platform  is not an Pelora platform"), 1u);
}

struct SettleCase {
    int plates;
    std::vector<DWORD> settle;
};

void PrintTo(const SettleCase& c, std::ostream* out) {
    *out << c.plates << " records";
}

class SettleTest : public DriverTest, public ::testing::WithParamInterface<SettleCase> {};

TEST_P(SettleTest, MoreThanFourRecordsSettleTwoSecondsLonger) {
    std::vector<UsbAmpSim::Amplifier> plates;
    for (int i = 0; i < GetParam().plates; ++i) plates.push_back(Plate(i));
    UsbAmpSim::SetAmplifiers(plates);
    EXPECT_EQ(Detect().devices.size(), static_cast<size_t>(GetParam().plates));
    EXPECT_THAT(WorkerPauses(), ElementsAreArray(StartUpThen(GetParam().settle)));
}

INSTANTIATE_TEST_SUITE_P(Records, SettleTest,
                         ::testing::Values(SettleCase{4, {500u}}, SettleCase{5, {500u, 2000u}}),
                         [](const ::testing::TestParamInfo<SettleCase>& info) {
                             return std::to_string(info.param.plates) + "Records";
                         });

TEST_F(DetectionTest, BackToBackDetectionsEachReportAFreshSet) {
    UsbAmpSim::SetAmplifiers({Plate(0), Plate(1)});
    struct Seen {
        Signal done;
        std::vector<std::vector<std::string>> serials;
        std::vector<std::string> messages;
    };
    auto seen = std::make_shared<Seen>();
    // Runs on the worker between the two detections: changes the hardware,
    // so that records left over from the first detection would show.
    service->DetectDevices([seen](Service::VDllInitInfo info, std::vector<Service::VDeviceInfo> devices) {
        seen->messages.push_back(info.message);
        seen->serials.push_back({});
        for (const auto& d : devices) seen->serials.back().push_back(d.platformSerialNumber);
        UsbAmpSim::SetAmplifiers({Plate(7)});
    });
    service->DetectDevices([seen](Service::VDllInitInfo info, std::vector<Service::VDeviceInfo> devices) {
        seen->messages.push_back(info.message);
        seen->serials.push_back({});
        for (const auto& d : devices) seen->serials.back().push_back(d.platformSerialNumber);
        seen->done.Raise();
    });
    ASSERT_TRUE(seen->done.Wait());

    ASSERT_EQ(seen->serials.size(), 2u);
    EXPECT_THAT(seen->serials[0], ElementsAre("PS-0", "PS-1"));
    EXPECT_THAT(seen->serials[1], ElementsAre("PS-7"));
    EXPECT_THAT(seen->messages, ElementsAre("The KESU setup is the same as the last saved configuration",
                                            "The KESU setup is the same as the last saved configuration"));
    // The second one re-initialised, with its stop first.
    EXPECT_EQ(CountOf(DescribedCalls(), "fmDLLInit()"), 2u);
    EXPECT_EQ(CountOf(Log(), "0 ::fmBroadcastStop()"), 1u);
}

// The lock order of the callers depends on it: receivers take their own mutex
// in the callbacks, and call into the service under it.
TEST_F(DetectionTest, TheStateMutexIsFreeDuringTheSettlePausesAndTheCallbacks) {
    std::vector<UsbAmpSim::Amplifier> plates;
    for (int i = 0; i < 5; ++i) plates.push_back(Plate(i));
    UsbAmpSim::SetAmplifiers(plates);
    struct Seen {
        std::mutex mutex;
        std::vector<std::string> moments;
        Signal reported;
    };
    auto seen = std::make_shared<Seen>();
    auto note = [this, seen](const std::string& moment) {
        const bool free = StateMutexIsFree();
        std::lock_guard<std::mutex> lock(seen->mutex);
        seen->moments.push_back(moment + (free ? " free" : " held"));
    };
    // With no plate to calibrate, the worker's only pauses of 500 and 2000 ms
    // are the settle pauses.
    const DWORD worker = Worker();
    recorder.SetPauseCallback([worker, note](DWORD ms) {
        if (GetCurrentThreadId() == worker && (ms == 500u || ms == 2000u))
            note("pause " + std::to_string(ms));
    });
    service->SetStateCallback([note, seen](bool) {
        note("state callback");
        seen->reported.Raise();
    });
    service->DetectDevices(
        [note](Service::VDllInitInfo, std::vector<Service::VDeviceInfo>) { note("detection callback"); });
    // Each of the four moments may use up a safety net of its own when it fails.
    ASSERT_TRUE(seen->reported.Wait(5 * kSafetyNet));

    std::lock_guard<std::mutex> lock(seen->mutex);
    EXPECT_THAT(seen->moments, ElementsAre("pause 500 free", "pause 2000 free", "detection callback free",
                                           "state callback free"));
}

// Zeroing asked for as the detection begins gets the mutex only after the
// last identity read. The worker is kept at its settle pause until the
// zeroing is over, so acquisition still runs and the zeroing's library call
// shows where it got its turn.
TEST_F(DetectionTest, ADetectionHoldsTheStateMutexFromItsStartThroughItsIdentityReads) {
    UsbAmpSim::SetAmplifiers({Plate(0)});
    StartStreaming();
    ClearRecords();

    struct Race {
        std::unique_ptr<BlockingCall> zeroing;  // set on the worker before `started`
        bool asleepAtStart = false;
        Signal started;
        Signal detected;
    };
    auto race = std::make_shared<Race>();
    Service* s = service.get();
    const DWORD worker = Worker();
    recorder.SetPauseCallback([race, s, worker](DWORD ms) {
        if (GetCurrentThreadId() != worker) return;
        if (!race->zeroing) {
            // The detection's first pause, before the stop that opens its start-up.
            race->zeroing = std::make_unique<BlockingCall>([s] { s->Zero(); });
            race->asleepAtStart = race->zeroing->WaitUntilAsleep();
            race->started.Raise();
        } else if (ms == 500u) {
            race->zeroing->WaitUntilReturned();
        }
    });
    // The plate's last read is the detection's last call under the mutex.
    UsbAmpSim::HoldCall("fmGetPlatformLengthAndWidth");
    service->DetectDevices(
        [race](Service::VDllInitInfo, std::vector<Service::VDeviceInfo>) { race->detected.Raise(); });
    ASSERT_TRUE(race->started.Wait());
    EXPECT_TRUE(race->asleepAtStart) << "Zero did not wait for the detection's start-up";
    ASSERT_TRUE(UsbAmpSim::WaitUntilHeld(kSafetyNet));
    EXPECT_TRUE(race->zeroing->WaitUntilAsleep()) << "Zero did not wait for the identity reads";
    EXPECT_EQ(CountOf(DescribedCalls(), "fmBroadcastZero()"), 0u);
    UsbAmpSim::ReleaseHeldCall();
    ASSERT_TRUE(race->detected.Wait());
    ASSERT_TRUE(race->zeroing->WaitUntilReturned());

    const std::vector<std::string> calls = DescribedCalls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front(), "fmBroadcastStop()");
    EXPECT_THAT(std::vector<std::string>(calls.end() - 2, calls.end()),
                ElementsAre("fmGetPlatformLengthAndWidth()", "fmBroadcastZero()"));
    EXPECT_EQ(CountOf(calls, "fmBroadcastZero()"), 1u);
    const std::vector<UsbAmpSim::Call> zeros = CallsNamed("fmBroadcastZero");
    ASSERT_EQ(zeros.size(), 1u);
    EXPECT_NE(zeros[0].threadId, worker);
}

// Where a detection fails before its callback: the host's log throws at a
// chosen line (under the state mutex), or the settle pause throws (outside it).
struct Failure {
    const char* name;
    const char* line;  // null: the settle pause fails instead
};

void PrintTo(const Failure& f, std::ostream* out) {
    *out << f.name;
}

class DetectionFailureTest : public DriverTest, public ::testing::WithParamInterface<Failure> {};

// The start-up stopped the amplifiers, so the detection ends with running
// false and the state callback told; the detection callback, which would get
// records half read, is not called; the worker and the state mutex go on.
TEST_P(DetectionFailureTest, AFailureBeforeTheCallbackStillEndsNotRunningAndSkipsTheCallback) {
    const char* line = GetParam().line;
    CreateService(&throwingLog);
    UsbAmpSim::SetAmplifiers({Plate(0), Plate(1)});
    UsbAmpSim::SetCalibrationCheck({1});
    WatchState();
    StartStreaming();
    ClearRecords();
    const DWORD worker = Worker();
    if (line)
        throwingLog.ThrowAt(line);
    else
        recorder.SetPauseCallback([worker](DWORD ms) {
            if (GetCurrentThreadId() == worker && ms == 500u) throw std::runtime_error("settle pause");
        });

    auto called = std::make_shared<std::atomic<bool>>(false);
    service->DetectDevices(
        [called](Service::VDllInitInfo, std::vector<Service::VDeviceInfo>) { *called = true; });
    ASSERT_TRUE(Drain());
    recorder.SetPauseCallback(nullptr);
    service->SetAcquisitionRate(900);
    ASSERT_TRUE(Drain());

    EXPECT_FALSE(*called);
    EXPECT_THAT(StateValues(), ElementsAre(false));
    EXPECT_EQ(StateReports().at(0).threadId, worker);
    EXPECT_FALSE(service->IsRunning());
    const std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_THAT(log[log.size() - 2], ::testing::StartsWith("3 KESU driver worker caught an exception: "));
    EXPECT_THAT(log[log.size() - 2], ::testing::EndsWith(line ? line : "settle pause"));
    EXPECT_EQ(log.back(), "0 ::fmBroadcastAcquisitionRate(900)");
}

INSTANTIATE_TEST_SUITE_P(
    Failures, DetectionFailureTest,
    ::testing::Values(Failure{"StartUp", "::fmDLLInit()"},
                      Failure{"Calibration", "fmPeloraDownloadCalFile() called for platform PS-1"},
                      // The first record is whole, the second half read.
                      Failure{"SecondIdentity", "::fmGetAmplifierSerialNumber() -> AS-1"},
                      Failure{"SettlePause", nullptr}),
    [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

class DeviceCountTest : public DriverTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(DeviceCountTest, ACountOfZeroOrLessReadsNoIdentityButStillCallsBack) {
    UsbAmpSim::SetAmplifiers({Plate(0), Plate(1)});
    UsbAmpSim::SetDeviceCountAnswer(GetParam());
    const Detection detection = Detect();

    EXPECT_THAT(detection.devices, IsEmpty());
    EXPECT_EQ(Log().back(), "0 ::fmDLLGetDeviceCount() -> " + std::to_string(GetParam()));
    EXPECT_TRUE(CallsNamed("fmDLLSelectDeviceIndex").empty());
    EXPECT_TRUE(CallsNamed("fmGetAmplifierModelNumber").empty());
    EXPECT_THAT(WorkerPauses(), ElementsAreArray(StartUpThen({500u})));
}

INSTANTIATE_TEST_SUITE_P(Counts, DeviceCountTest, ::testing::Values(0, -1, -40),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return info.param == 0 ? std::string("Zero")
                                                    : "Minus" + std::to_string(-info.param);
                         });

}  // namespace
}  // namespace KESUTest
