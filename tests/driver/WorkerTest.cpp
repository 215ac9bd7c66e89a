// The worker's message loop, the data path, the callbacks' setters, exceptions
// on the worker, and what construction and destruction do.
#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/driver/DriverTest.h"

namespace KESUTest {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class WorkerTest : public DriverTest {
protected:
    struct Delivered {
        const float* block;
        float first;
        DWORD threadId;
    };

    // A data callback that keeps each block's address and first float.
    void WatchData() {
        service->SetDataCallback([this](float* block) {
            {
                std::lock_guard<std::mutex> lock(deliveredMutex_);
                delivered_.push_back(Delivered{block, block[0], GetCurrentThreadId()});
            }
            events.Add("data");
        });
    }

    std::vector<Delivered> DeliveredBlocks() const {
        std::lock_guard<std::mutex> lock(deliveredMutex_);
        return delivered_;
    }

    // Hands the library a block of its own making and answers the block's
    // address: the library lends out the very buffer it was given, so a
    // callback that receives this address received the block uncopied.
    const float* HandOver(float first) {
        std::vector<float> block(16 * 8, 0.0f);
        block[0] = first;
        const float* address = block.data();
        EXPECT_TRUE(UsbAmpSim::HandOverBlock(std::move(block)));
        return address;
    }

    std::vector<FakeLogLine> ErrorLines() const {
        std::vector<FakeLogLine> errors;
        for (const FakeLogLine& line : host.LogLines())
            if (line.level == 3) errors.push_back(line);
        return errors;
    }

private:
    mutable std::mutex deliveredMutex_;
    std::vector<Delivered> delivered_;
};

// Leaves exactly one command message and, behind it, one data message in the
// worker's own queue; only one command may run before the data is delivered.
TEST_F(WorkerTest, EachCommandMessageRunsOneCommandSoDataInterleaves) {
    WatchData();
    StartStreaming();
    Gate& gate = NewGate();
    service->Enqueue(gate.Command([] {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        PostThreadMessageW(GetCurrentThreadId(), Service::WM_DRIVER_COMMAND, 0, 0);
        PostThreadMessageW(GetCurrentThreadId(), Service::WM_DATA_READY, 0, 0);
    }));
    ASSERT_TRUE(gate.WaitUntilArrived());
    service->Enqueue([this] { events.Add("B"); });
    service->Enqueue([this] { events.Add("C"); });
    HandOver(1.0f);
    gate.Open();

    ASSERT_TRUE(events.WaitForCount(3));
    EXPECT_THAT(events.All(), ElementsAre("B", "data", "C"));
}

TEST_F(WorkerTest, SurplusCommandMessagesAndUnknownMessagesChangeNothing) {
    for (UINT message :
         {Service::WM_DRIVER_COMMAND, Service::WM_DRIVER_COMMAND, UINT{WM_USER + 108}, UINT{2000}})
        ASSERT_TRUE(PostThreadMessageW(Worker(), message, 0, 0));
    service->Enqueue([this] { events.Add("after"); });
    ASSERT_TRUE(events.WaitForCount(1));
    EXPECT_THAT(events.All(), ElementsAre("after"));
    EXPECT_THAT(UsbAmpSim::Calls(), IsEmpty());
    EXPECT_THAT(host.LogLines(), IsEmpty());
}

TEST_F(WorkerTest, ADataMessageDrainsEveryReadyBlockToTheCallbackUncopied) {
    WatchData();
    StartStreaming();
    ClearRecords();
    UsbAmpSim::RecordDataTransfers(true);

    // The worker is kept busy so that all three blocks wait for the first message.
    Gate& gate = NewGate();
    service->Enqueue(gate.Command());
    ASSERT_TRUE(gate.WaitUntilArrived());
    const float* first = HandOver(1.0f);
    const float* second = HandOver(2.0f);
    const float* third = HandOver(3.0f);
    gate.Open();
    ASSERT_TRUE(Drain());

    const std::vector<Delivered> delivered = DeliveredBlocks();
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered[0].block, first);
    EXPECT_EQ(delivered[1].block, second);
    EXPECT_EQ(delivered[2].block, third);
    EXPECT_EQ(delivered[0].first, 1.0f);
    EXPECT_EQ(delivered[1].first, 2.0f);
    EXPECT_EQ(delivered[2].first, 3.0f);
    for (const Delivered& d : delivered) EXPECT_EQ(d.threadId, Worker());
    // The first message fetched all three and one more transfer that found
    // none; the other two messages found none at once.
    const std::vector<UsbAmpSim::Call> transfers = CallsNamed("fmDLLTransferFloatData");
    EXPECT_EQ(transfers.size(), 6u);
    for (const UsbAmpSim::Call& t : transfers) EXPECT_EQ(t.threadId, Worker());
    EXPECT_THAT(host.LogLines(), IsEmpty());
}

TEST_F(WorkerTest, WithoutADataCallbackReadyBlocksAreStillDrained) {
    StartStreaming();
    ClearRecords();
    Gate& gate = NewGate();
    service->Enqueue(gate.Command());
    ASSERT_TRUE(gate.WaitUntilArrived());
    HandOver(1.0f);
    HandOver(2.0f);
    HandOver(3.0f);
    gate.Open();
    ASSERT_TRUE(Drain());
    EXPECT_EQ(UsbAmpSim::DataTransfers(), 6u);

    // Nothing of the three is left in the library: a callback set now gets
    // only the block handed over after it.
    WatchData();
    const float* fourth = HandOver(4.0f);
    ASSERT_TRUE(events.WaitForCount(1));
    ASSERT_TRUE(Drain());
    const std::vector<Delivered> delivered = DeliveredBlocks();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].block, fourth);
    EXPECT_EQ(delivered[0].first, 4.0f);
}

TEST_F(WorkerTest, ASecondDataCallbackLeavesTheFirstInPlace) {
    service->SetDataCallback([this](float*) { events.Add("first"); });
    service->SetDataCallback([this](float*) { events.Add("second"); });
    StartStreaming();
    HandOver(1.0f);
    ASSERT_TRUE(events.WaitForCount(1));
    ASSERT_TRUE(Drain());
    EXPECT_THAT(events.All(), ElementsAre("first"));
}

TEST_F(WorkerTest, ASecondStateCallbackReplacesTheFirstAndAnEmptyOneClearsIt) {
    service->SetStateCallback([this](bool) { events.Add("first"); });
    service->SetStateCallback([this](bool) { events.Add("second"); });
    service->Stop();
    ASSERT_TRUE(Drain());
    EXPECT_THAT(events.All(), ElementsAre("second"));

    service->SetStateCallback(Service::StateCallback());
    service->Stop();
    ASSERT_TRUE(Drain());
    EXPECT_THAT(events.All(), ElementsAre("second"));
    EXPECT_EQ(CallsNamed("fmBroadcastStop").size(), 2u);
    EXPECT_FALSE(service->IsRunning());
}

// Also when a full queue refused the quit message; a command that those
// commands queue does not run.
TEST_F(WorkerTest, CommandsQueuedBeforeTheDestructorAllRunInOrderFirst) {
    for (const bool lost : {false, true}) {
        SCOPED_TRACE(lost ? "quit message lost" : "quit message delivered");
        if (lost) CreateService();
        events.Clear();
        const DWORD worker = Worker();
        std::vector<DWORD> threads;
        std::mutex threadsMutex;
        // Holds the worker until the quit message sits in its queue behind the
        // three commands' messages; takes it out when it is to be lost.
        service->Enqueue([this, lost] {
            MSG msg;
            const auto giveUp = std::chrono::steady_clock::now() + kSafetyNet;
            bool queued = false;
            while (!(queued = PeekMessageW(&msg, nullptr, Service::WM_DRIVER_QUIT, Service::WM_DRIVER_QUIT,
                                           lost ? PM_REMOVE : PM_NOREMOVE)) &&
                   std::chrono::steady_clock::now() < giveUp)
                std::this_thread::yield();
            events.Add(queued ? "quit queued" : "quit never came");
        });
        Service* const destroyed = service.get();
        for (int i = 1; i <= 3; ++i)
            service->Enqueue([this, i, destroyed, &threads, &threadsMutex] {
                events.Add("command " + std::to_string(i));
                if (i == 3) destroyed->Enqueue([this] { events.Add("queued by command 3"); });
                std::lock_guard<std::mutex> lock(threadsMutex);
                threads.push_back(GetCurrentThreadId());
            });
        BlockingCall destroying([this] { service.reset(); });
        const bool ended = destroying.WaitUntilReturned();
        // A worker that waits for the lost message gets one: the test fails
        // rather than hangs.
        if (!ended) PostThreadMessageW(worker, Service::WM_DRIVER_QUIT, 0, 0);
        ASSERT_TRUE(ended);

        EXPECT_THAT(events.All(), ElementsAre("quit queued", "command 1", "command 2", "command 3"));
        EXPECT_THAT(threads, ElementsAre(worker, worker, worker));
    }
}

// A full queue refuses posts, so a command's own message may be lost: the
// next data message still gives it its turn.
TEST_F(WorkerTest, ACommandWhoseMessageWasLostRunsAfterTheNextDataMessage) {
    WatchData();
    StartStreaming();
    Gate& gate = NewGate();
    service->Enqueue(gate.Command([] {
        MSG msg;
        while (
            PeekMessageW(&msg, nullptr, Service::WM_DRIVER_COMMAND, Service::WM_DRIVER_COMMAND, PM_REMOVE)) {
        }
    }));
    ASSERT_TRUE(gate.WaitUntilArrived());
    service->Enqueue([this] { events.Add("command"); });
    gate.Open();
    HandOver(1.0f);

    ASSERT_TRUE(events.WaitForCount(2));
    EXPECT_THAT(events.All(), ElementsAre("data", "command"));
}

// The turn comes every fourth block of a drain, counted from its start, so a
// command queued inside the first block waits out three more and no fifth.
TEST_F(WorkerTest, ACommandQueuedInsideADrainRunsAfterItsFourthBlock) {
    service->SetDataCallback([this, queued = false](float*) mutable {
        events.Add("data");
        if (!std::exchange(queued, true)) service->Enqueue([this] { events.Add("command"); });
    });
    StartStreaming();
    Gate& gate = NewGate();
    service->Enqueue(gate.Command());
    ASSERT_TRUE(gate.WaitUntilArrived());
    for (int b = 0; b < 10; ++b) HandOver(static_cast<float>(b));
    gate.Open();
    ASSERT_TRUE(events.WaitForCount(11));
    ASSERT_TRUE(Drain());

    std::vector<std::string> expected(11, "data");
    expected[4] = "command";
    EXPECT_EQ(events.All(), expected);
}

// A message that means nothing to the worker, so a post that arrives changes nothing.
constexpr UINT kMeaningless = WM_USER + 108;

// Waits until the worker's queue takes posts. A worker that makes its queue
// late would also lose the destructor's quit message, so a test that found
// the queue missing waits here before it fails: it fails rather than hangs.
void WaitForQueue(DWORD worker) {
    const auto giveUp = std::chrono::steady_clock::now() + kSafetyNet;
    while (!PostThreadMessageW(worker, kMeaningless, 0, 0) && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::yield();
}

// A post to a thread that has no message queue yet is dropped, so the worker
// must own one before the constructor returns; many rounds give a late queue
// its chance. Each round posts with nothing between the constructor's return
// and the post, then checks that a command queued at once runs. The first
// round takes the service SetUp has just made.
TEST_F(WorkerTest, TheWorkersQueueTakesPostsAndCommandsTheMomentTheConstructorReturns) {
    for (int round = 0; round < 300; ++round) {
        if (round > 0) CreateService();
        const bool taken = PostThreadMessageW(Worker(), kMeaningless, 0, 0) != FALSE;
        if (!taken) WaitForQueue(Worker());
        ASSERT_TRUE(taken) << "round " << round;
        auto ran = std::make_shared<Signal>();
        service->Enqueue([ran] { ran->Raise(); });
        ASSERT_TRUE(ran->Wait()) << "round " << round;
    }
    EXPECT_THAT(UsbAmpSim::Calls(), IsEmpty());
    EXPECT_THAT(host.LogLines(), IsEmpty());
}

TEST_F(WorkerTest, DestructionBeforeAnyDetectionTouchesNothing) {
    service.reset();
    ExpectTouchedNothing();
}

TEST_F(WorkerTest, DestructionAfterATimedOutStartUpTouchesNothing) {
    UsbAmpSim::SetReadyAfterPolls(UsbAmpSim::kNeverReady);
    Detect();
    ClearRecords();
    service.reset();
    ExpectTouchedNothing();
}

TEST_F(WorkerTest, DestructionAfterASuccessfulStartUpStopsAndShutsTheLibraryDownOnTheReleasingThread) {
    StartStreaming();
    ClearRecords();
    UsbAmpSim::HoldCall("fmDLLShutDown");
    DWORD releaser = 0;
    std::thread releasing([&] {
        releaser = GetCurrentThreadId();
        service.reset();
    });
    // At the shutdown call both pauses are behind it, its line and last pause ahead.
    const bool held = UsbAmpSim::WaitUntilHeld(kSafetyNet);
    const std::vector<DWORD> pausesAtShutDown = recorder.Milliseconds();
    const size_t linesAtShutDown = host.LogLines().size();
    UsbAmpSim::ReleaseHeldCall();
    releasing.join();

    ASSERT_TRUE(held);
    EXPECT_THAT(pausesAtShutDown, ElementsAre(250u, 250u));
    EXPECT_EQ(linesAtShutDown, 0u);
    const std::vector<UsbAmpSim::Call> calls = UsbAmpSim::Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(Described(calls[0]), "fmBroadcastStop()");
    EXPECT_EQ(Described(calls[1]), "fmDLLShutDown()");
    for (const UsbAmpSim::Call& call : calls) EXPECT_EQ(call.threadId, releaser);
    ASSERT_EQ(host.LogLines().size(), 1u);
    EXPECT_EQ(Log()[0], "0 ::fmDLLShutDown");
    EXPECT_EQ(host.LogLines()[0].threadId, releaser);
    EXPECT_THAT(recorder.Milliseconds(), ElementsAre(250u, 250u, 500u));
    EXPECT_THAT(recorder.PausesOf(releaser), ElementsAre(250u, 250u, 500u));
    EXPECT_FALSE(UsbAmpSim::WaitUntilStreaming(std::chrono::milliseconds(0)));
}

// The host calls the destructor while it unloads the module: a failing
// pause or log line is logged, and the library still stopped and shut down.
TEST_F(WorkerTest, TheDestructorLetsNoFailureOutAndStillShutsTheLibraryDown) {
    CreateService(&throwingLog);
    StartStreaming();
    ClearRecords();
    const DWORD releaser = GetCurrentThreadId();
    recorder.SetPauseCallback([releaser](DWORD ms) {
        if (GetCurrentThreadId() == releaser) throw std::runtime_error("pause of " + std::to_string(ms));
    });
    throwingLog.ThrowAt("::fmDLLShutDown", -1);
    service.reset();

    EXPECT_THAT(DescribedCalls(), ElementsAre("fmBroadcastStop()", "fmDLLShutDown()"));
    const std::string caught = "3 KESU driver shutdown caught an exception: ";
    EXPECT_THAT(Log(),
                ElementsAre(caught + "pause of 250", caught + "pause of 250",
                            caught + "the host's log failed at ::fmDLLShutDown", caught + "pause of 500"));
    EXPECT_THAT(recorder.Milliseconds(), ElementsAre(250u, 250u, 500u));
}

TEST_F(WorkerTest, AnExceptionFromACommandIsLoggedAsAnErrorAndTheWorkerGoesOn) {
    service->Enqueue([] { throw std::runtime_error("command broke"); });
    service->Enqueue([] { throw 42; });
    service->SetAcquisitionRate(700);
    ASSERT_TRUE(Drain());

    const std::vector<FakeLogLine> errors = ErrorLines();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_THAT(errors[0].text, HasSubstr("command broke"));
    EXPECT_EQ(errors[0].threadId, Worker());
    EXPECT_EQ(errors[1].threadId, Worker());
    EXPECT_EQ(CallsNamed("fmBroadcastAcquisitionRate").size(), 1u);
}

// The worker's last resort: an exception from the host's log while it logs
// the one it caught must end neither the worker nor the process.
TEST_F(WorkerTest, AHostLogThatFailsWhileAnExceptionIsLoggedLeavesTheWorkerRunning) {
    CreateService(&throwingLog);
    throwingLog.ThrowAt("KESU driver worker", -1);
    service->Enqueue([] { throw std::runtime_error("command broke"); });
    service->Enqueue([] { throw 42; });
    service->SetAcquisitionRate(700);
    ASSERT_TRUE(Drain());

    EXPECT_THAT(Log(), ElementsAre("0 ::fmBroadcastAcquisitionRate(700)"));
}

TEST_F(WorkerTest, AnExceptionFromTheStateCallbackIsLoggedAndTheStateMutexIsFree) {
    service->SetStateCallback([](bool) { throw std::logic_error("state callback broke"); });
    service->Stop();
    // Needs the state mutex the stop body held.
    service->SetAcquisitionRate(500);
    ASSERT_TRUE(Drain());

    EXPECT_THAT(Log(), ElementsAre("0 ::fmBroadcastStop()", ::testing::StartsWith("3 "),
                                   "0 ::fmBroadcastAcquisitionRate(500)"));
    EXPECT_THAT(ErrorLines().at(0).text, HasSubstr("state callback broke"));
    EXPECT_FALSE(service->IsStopPending());
    EXPECT_FALSE(service->IsRunning());
}

TEST_F(WorkerTest, AnExceptionFromTheDataCallbackIsLoggedAndLaterBlocksStillArrive) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    service->SetDataCallback([this, calls](float* block) {
        if (++*calls == 1) throw std::runtime_error("data callback broke");
        events.Add("data " + std::to_string(static_cast<int>(block[0])));
    });
    StartStreaming();
    HandOver(1.0f);
    HandOver(2.0f);
    ASSERT_TRUE(events.WaitForCount(1));
    ASSERT_TRUE(Drain());

    EXPECT_THAT(events.All(), ElementsAre("data 2"));
    ASSERT_EQ(ErrorLines().size(), 1u);
    EXPECT_THAT(ErrorLines()[0].text, HasSubstr("data callback broke"));
}

// Detection always leaves acquisition stopped (its start-up stopped the
// amplifiers), also when its own callback fails.
TEST_F(WorkerTest, AnExceptionFromTheDetectionCallbackStillEndsNotRunningWithTheStateCallbackTold) {
    WatchState();
    StartStreaming();
    ClearRecords();

    service->DetectDevices([](Service::VDllInitInfo, std::vector<Service::VDeviceInfo>) {
        throw std::runtime_error("detection callback broke");
    });
    ASSERT_TRUE(Drain());

    ASSERT_EQ(ErrorLines().size(), 1u);
    EXPECT_THAT(ErrorLines()[0].text, HasSubstr("detection callback broke"));
    EXPECT_EQ(ErrorLines()[0].threadId, Worker());
    EXPECT_FALSE(service->IsRunning());
    EXPECT_THAT(StateValues(), ElementsAre(false));
}

}  // namespace
}  // namespace KESUTest
