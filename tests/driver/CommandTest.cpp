// The hardware commands: each body's guard, pause, library calls, log lines
// and state report; the single pending stop; zeroing on the caller's thread.
#include <atomic>
#include <boost/thread/barrier.hpp>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/driver/DriverTest.h"

namespace KESUTest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class CommandTest : public DriverTest {};

struct BodyCase {
    const char* name;
    std::function<void(Service&)> queue;
    const char* firstCall;
    std::vector<std::string> calls;
    std::vector<std::string> lines;
    std::optional<bool> report;
    bool runningAfter;
};

void PrintTo(const BodyCase& c, std::ostream* out) {
    *out << c.name;
}

class CommandBodyTest : public DriverTest, public ::testing::WithParamInterface<BodyCase> {};

// Each body runs while acquisition runs, so that a body that wrongly leaves
// `running` alone or wrongly changes it shows.
TEST_P(CommandBodyTest, BodyPausesThenCallsAndTracesOnTheWorkerThenReports) {
    const BodyCase& c = GetParam();
    WatchState();
    StartStreaming();
    ClearRecords();

    // Held at its first library call, the body has paused and written nothing.
    UsbAmpSim::HoldCall(c.firstCall);
    c.queue(*service);
    ASSERT_TRUE(UsbAmpSim::WaitUntilHeld(kSafetyNet));
    EXPECT_THAT(WorkerPauses(), ElementsAre(250u));
    EXPECT_THAT(host.LogLines(), IsEmpty());
    EXPECT_THAT(StateValues(), IsEmpty());
    UsbAmpSim::ReleaseHeldCall();
    ASSERT_TRUE(Drain());

    EXPECT_THAT(WorkerPauses(), ElementsAre(250u));
    EXPECT_THAT(recorder.Pauses(), testing::SizeIs(1u));
    EXPECT_THAT(DescribedCalls(), ElementsAreArray(c.calls));
    for (const UsbAmpSim::Call& call : UsbAmpSim::Calls())
        EXPECT_EQ(call.threadId, Worker()) << call.function;
    EXPECT_THAT(Log(), ElementsAreArray(c.lines));
    for (const FakeLogLine& line : host.LogLines()) EXPECT_EQ(line.threadId, Worker()) << line.text;
    if (c.report) {
        ASSERT_EQ(StateReports().size(), 1u);
        EXPECT_EQ(StateReports()[0].running, *c.report);
        EXPECT_EQ(StateReports()[0].threadId, Worker());
    } else {
        EXPECT_THAT(StateValues(), IsEmpty());
    }
    EXPECT_EQ(service->IsRunning(), c.runningAfter);
}

INSTANTIATE_TEST_SUITE_P(Bodies, CommandBodyTest,
                         ::testing::Values(BodyCase{"Rate",
                                                    [](Service& s) { s.SetAcquisitionRate(1200); },
                                                    "fmBroadcastAcquisitionRate",
                                                    {"fmBroadcastAcquisitionRate(1200)"},
                                                    {"0 ::fmBroadcastAcquisitionRate(1200)"},
                                                    std::nullopt,
                                                    true},
                                           BodyCase{"RateOddPassedUnchanged",
                                                    [](Service& s) { s.SetAcquisitionRate(123457); },
                                                    "fmBroadcastAcquisitionRate",
                                                    {"fmBroadcastAcquisitionRate(123457)"},
                                                    {"0 ::fmBroadcastAcquisitionRate(123457)"},
                                                    std::nullopt,
                                                    true},
                                           BodyCase{"GenlockOn",
                                                    [](Service& s) { s.SetGenlockMode(true); },
                                                    "fmBroadcastGenlock",
                                                    {"fmBroadcastGenlock(1)"},
                                                    {"0 ::fmBroadcastGenlockMode(1)"},
                                                    std::nullopt,
                                                    true},
                                           BodyCase{"GenlockOff",
                                                    [](Service& s) { s.SetGenlockMode(false); },
                                                    "fmBroadcastGenlock",
                                                    {"fmBroadcastGenlock(0)"},
                                                    {"0 ::fmBroadcastGenlockMode(0)"},
                                                    std::nullopt,
                                                    true},
                                           // Reported again although acquisition runs already.
                                           BodyCase{"StartAgain",
                                                    [](Service& s) { s.Start(); },
                                                    "fmBroadcastStart",
                                                    {"fmBroadcastStart()"},
                                                    {"0 ::fmBroadcastStart()"},
                                                    true,
                                                    true},
                                           BodyCase{"Stop",
                                                    [](Service& s) { s.Stop(); },
                                                    "fmBroadcastStop",
                                                    {"fmBroadcastStop()"},
                                                    {"0 ::fmBroadcastStop()"},
                                                    false,
                                                    false},
                                           BodyCase{"Blink",
                                                    [](Service& s) { s.Blink(3); },
                                                    "fmDLLSelectDeviceIndex",
                                                    {"fmDLLSelectDeviceIndex(3)", "fmSetBlink()"},
                                                    {"0 ::fmDLLSelectDeviceIndex(3)", "0 ::fmSetBlink()"},
                                                    false,
                                                    false}),
                         [](const ::testing::TestParamInfo<BodyCase>& info) {
                             return std::string(info.param.name);
                         });

class UnguardedBodyTest : public DriverTest, public ::testing::WithParamInterface<BodyCase> {};

// Only the start waits for an initialised library; these bodies act also on a
// service that never detected.
TEST_P(UnguardedBodyTest, BodyActsBeforeAnyDetection) {
    const BodyCase& c = GetParam();
    WatchState();
    c.queue(*service);
    ASSERT_TRUE(Drain());

    EXPECT_FALSE(service->IsDllInitialised());
    EXPECT_THAT(WorkerPauses(), ElementsAre(250u));
    EXPECT_THAT(recorder.Pauses(), testing::SizeIs(1u));
    EXPECT_THAT(DescribedCalls(), ElementsAreArray(c.calls));
    for (const UsbAmpSim::Call& call : UsbAmpSim::Calls())
        EXPECT_EQ(call.threadId, Worker()) << call.function;
    EXPECT_THAT(Log(), ElementsAreArray(c.lines));
    if (c.report)
        EXPECT_THAT(StateValues(), ElementsAre(*c.report));
    else
        EXPECT_THAT(StateValues(), IsEmpty());
    EXPECT_EQ(service->IsRunning(), c.runningAfter);
}

INSTANTIATE_TEST_SUITE_P(Bodies, UnguardedBodyTest,
                         ::testing::Values(BodyCase{"GenlockOn",
                                                    [](Service& s) { s.SetGenlockMode(true); },
                                                    "fmBroadcastGenlock",
                                                    {"fmBroadcastGenlock(1)"},
                                                    {"0 ::fmBroadcastGenlockMode(1)"},
                                                    std::nullopt,
                                                    false},
                                           BodyCase{"GenlockOff",
                                                    [](Service& s) { s.SetGenlockMode(false); },
                                                    "fmBroadcastGenlock",
                                                    {"fmBroadcastGenlock(0)"},
                                                    {"0 ::fmBroadcastGenlockMode(0)"},
                                                    std::nullopt,
                                                    false},
                                           BodyCase{"Blink",
                                                    [](Service& s) { s.Blink(2); },
                                                    "fmDLLSelectDeviceIndex",
                                                    {"fmDLLSelectDeviceIndex(2)", "fmSetBlink()"},
                                                    {"0 ::fmDLLSelectDeviceIndex(2)", "0 ::fmSetBlink()"},
                                                    false,
                                                    false},
                                           BodyCase{"Rate",
                                                    [](Service& s) { s.SetAcquisitionRate(2000); },
                                                    "fmBroadcastAcquisitionRate",
                                                    {"fmBroadcastAcquisitionRate(2000)"},
                                                    {"0 ::fmBroadcastAcquisitionRate(2000)"},
                                                    std::nullopt,
                                                    false}),
                         [](const ::testing::TestParamInfo<BodyCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(CommandTest, AStartFromStoppedReportsTrueAfterItsCall) {
    WatchState();
    Detect();
    ClearRecords();

    service->Start();
    ASSERT_TRUE(Drain());
    EXPECT_THAT(DescribedCalls(), ElementsAre("fmBroadcastStart()"));
    EXPECT_THAT(Log(), ElementsAre("0 ::fmBroadcastStart()"));
    EXPECT_THAT(WorkerPauses(), ElementsAre(250u));
    EXPECT_THAT(StateValues(), ElementsAre(true));
    EXPECT_TRUE(service->IsRunning());
}

TEST_F(CommandTest, AStartBeforeAnyDetectionDoesNothingAtAll) {
    WatchState();
    service->Start();
    ASSERT_TRUE(Drain());

    ExpectTouchedNothing();
    EXPECT_THAT(StateValues(), IsEmpty());
    EXPECT_FALSE(service->IsRunning());
}

TEST_F(CommandTest, AStartAfterATimedOutStartUpDoesNothingAtAll) {
    UsbAmpSim::SetReadyAfterPolls(UsbAmpSim::kNeverReady);
    Detect();
    WatchState();
    ClearRecords();

    service->Start();
    ASSERT_TRUE(Drain());
    ExpectTouchedNothing();
    EXPECT_THAT(StateValues(), IsEmpty());
    EXPECT_FALSE(service->IsRunning());
}

TEST_F(CommandTest, AStopOnANeverInitialisedLibraryStillStopsAndReports) {
    WatchState();
    service->Stop();
    ASSERT_TRUE(Drain());

    EXPECT_THAT(DescribedCalls(), ElementsAre("fmBroadcastStop()"));
    EXPECT_THAT(Log(), ElementsAre("0 ::fmBroadcastStop()"));
    EXPECT_THAT(WorkerPauses(), ElementsAre(250u));
    EXPECT_THAT(StateValues(), ElementsAre(false));
    EXPECT_FALSE(service->IsStopPending());
}

TEST_F(CommandTest, TwoStopsBeforeTheWorkerReachesTheFirstMakeOneStop) {
    WatchState();
    UsbAmpSim::HoldCall("fmBroadcastAcquisitionRate");
    service->SetAcquisitionRate(1000);
    ASSERT_TRUE(UsbAmpSim::WaitUntilHeld(kSafetyNet));

    service->Stop();
    EXPECT_TRUE(service->IsStopPending());
    service->Stop();
    UsbAmpSim::ReleaseHeldCall();
    ASSERT_TRUE(Drain());

    EXPECT_EQ(CallsNamed("fmBroadcastStop").size(), 1u);
    EXPECT_EQ(CountOf(Log(), "0 ::fmBroadcastStop()"), 1u);
    EXPECT_THAT(StateValues(), ElementsAre(false));
    EXPECT_FALSE(service->IsStopPending());

    // Once that stop has run, the next one is queued again.
    service->Stop();
    ASSERT_TRUE(Drain());
    EXPECT_EQ(CallsNamed("fmBroadcastStop").size(), 2u);
}

// A stop asked for after a start that was queued behind a running stop body
// must still come after that start: the host asked for the amplifiers to end
// stopped.
TEST_F(CommandTest, AStopAskedWhileAStopBodyIsAtTheLibraryIsNotSwallowed) {
    WatchState();
    StartStreaming();
    ClearRecords();

    UsbAmpSim::HoldCall("fmBroadcastStop");
    service->Stop();
    ASSERT_TRUE(UsbAmpSim::WaitUntilHeld(kSafetyNet));
    service->Start();
    service->Stop();
    UsbAmpSim::ReleaseHeldCall();
    ASSERT_TRUE(Drain());

    EXPECT_THAT(DescribedCalls(),
                ElementsAre("fmBroadcastStop()", "fmBroadcastStart()", "fmBroadcastStop()"));
    EXPECT_THAT(StateValues(), ElementsAre(false, true, false));
    EXPECT_FALSE(service->IsRunning());
    EXPECT_FALSE(service->IsStopPending());
}

// The same while the first stop body still waits in the queue behind a busy
// worker: the start queued after it must not absorb the stop asked for later.
TEST_F(CommandTest, AStopAskedAfterAStartQueuedBehindAWaitingStopIsNotSwallowed) {
    WatchState();
    StartStreaming();
    ClearRecords();

    UsbAmpSim::HoldCall("fmBroadcastAcquisitionRate");
    service->SetAcquisitionRate(500);
    ASSERT_TRUE(UsbAmpSim::WaitUntilHeld(kSafetyNet));
    service->Stop();
    service->Start();
    service->Stop();
    UsbAmpSim::ReleaseHeldCall();
    ASSERT_TRUE(Drain());

    EXPECT_THAT(DescribedCalls(), ElementsAre("fmBroadcastAcquisitionRate(500)", "fmBroadcastStop()",
                                              "fmBroadcastStart()", "fmBroadcastStop()"));
    EXPECT_THAT(StateValues(), ElementsAre(false, true, false));
    EXPECT_FALSE(service->IsRunning());
    EXPECT_FALSE(service->IsStopPending());
}

// A stop body that runs before Stop has recorded the pending stop would leave
// the flag set and swallow every later stop; many rounds give such a race its
// chance.
TEST_F(CommandTest, EveryStopAskedForAfterTheLastOneRanIsQueued) {
    for (int round = 1; round <= 200; ++round) {
        service->Stop();
        ASSERT_TRUE(Drain());
        ASSERT_FALSE(service->IsStopPending()) << "round " << round;
        ASSERT_EQ(CallsNamed("fmBroadcastStop").size(), static_cast<size_t>(round));
    }
}

// Start and Stop from two host threads at once, with the worker kept busy so
// that whatever they queue waits: a Stop that slips in between a Start's flag
// change and its queueing would leave the flag set with the start queued last,
// and the host's next Stop would be swallowed. The second thread asks again and
// again while the Start is under way, so that it meets that moment.
TEST_F(CommandTest, TheLastStopAskedForIsTheLibrarysLastBroadcastWhateverTheRace) {
    constexpr int kRounds = 2000;
    Detect();
    boost::barrier meet(3);
    std::atomic<bool> started{false};
    std::thread starter([&] {
        for (int round = 0; round < kRounds; ++round) {
            meet.wait();
            service->Start();
            started = true;
            meet.wait();
        }
    });
    std::thread stopper([&] {
        for (int round = 0; round < kRounds; ++round) {
            meet.wait();
            do service->Stop();
            while (!started);
            meet.wait();
        }
    });

    int failedRound = 0;
    for (int round = 1; round <= kRounds; ++round) {
        ClearRecords();
        Gate& gate = NewGate();
        service->Enqueue(gate.Command());
        const bool busy = gate.WaitUntilArrived();
        started = false;
        meet.wait();
        meet.wait();
        service->Stop();
        gate.Open();
        const bool drained = Drain();
        std::vector<std::string> broadcasts;
        for (const std::string& call : DescribedCalls())
            if (call == "fmBroadcastStart()" || call == "fmBroadcastStop()") broadcasts.push_back(call);
        const bool stopped = !broadcasts.empty() && broadcasts.back() == "fmBroadcastStop()" &&
                             !service->IsRunning() && !service->IsStopPending();
        if (!failedRound && !(busy && drained && stopped)) failedRound = round;
    }
    starter.join();
    stopper.join();
    EXPECT_EQ(failedRound, 0) << "the amplifiers ran on after the last stop in round " << failedRound;
}

TEST_F(CommandTest, ZeroWhileNotRunningDoesNothing) {
    service->Zero();
    ExpectTouchedNothing();

    // Initialised but not started is not running either.
    Detect();
    ClearRecords();
    service->Zero();
    ExpectTouchedNothing();
}

TEST_F(CommandTest, ZeroWhileRunningPausesCallsAndTracesOnTheCallersThread) {
    WatchState();
    StartStreaming();
    ClearRecords();

    DWORD caller = 0;
    std::thread zeroing([&] {
        caller = GetCurrentThreadId();
        service->Zero();
    });
    zeroing.join();

    ASSERT_NE(caller, Worker());
    const std::vector<UsbAmpSim::Call> calls = UsbAmpSim::Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(Described(calls[0]), "fmBroadcastZero()");
    EXPECT_EQ(calls[0].threadId, caller);
    ASSERT_EQ(host.LogLines().size(), 1u);
    EXPECT_EQ(Log()[0], "0 ::fmBroadcastZero()");
    EXPECT_EQ(host.LogLines()[0].threadId, caller);
    EXPECT_THAT(recorder.PausesOf(caller), ElementsAre(250u));
    EXPECT_THAT(WorkerPauses(), IsEmpty());
    EXPECT_THAT(StateValues(), IsEmpty());
    EXPECT_TRUE(service->IsRunning());
}

}  // namespace
}  // namespace KESUTest
