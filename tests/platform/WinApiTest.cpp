#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/win/WinApi.h"
#include "tests/support/Signal.h"
#include "tests/support/SleepRecorder.h"

namespace {

using KESUTest::Signal;

TEST(ThreadIdTest, StableNonZeroAndDistinctPerThread) {
    const DWORD mine = GetCurrentThreadId();
    EXPECT_NE(0u, mine);
    EXPECT_EQ(mine, GetCurrentThreadId());

    std::set<DWORD> ids{mine};
    std::mutex mutex;
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            DWORD id = GetCurrentThreadId();
            EXPECT_EQ(id, GetCurrentThreadId());
            std::lock_guard<std::mutex> lock(mutex);
            ids.insert(id);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(9u, ids.size());
    EXPECT_EQ(0u, ids.count(0));
}

TEST(ThreadMessageTest, PostBeforeTheTargetHasAQueueFailsAndIsLost) {
    Signal idKnown, posted;
    DWORD targetId = 0;
    bool foundAfterwards = true;
    std::thread target([&] {
        targetId = GetCurrentThreadId();
        idKnown.Raise();
        ASSERT_TRUE(posted.Wait());
        MSG msg;
        foundAfterwards = PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
    });
    ASSERT_TRUE(idKnown.Wait());
    EXPECT_EQ(FALSE, PostThreadMessageW(targetId, WM_USER + 1, 0, 0));
    posted.Raise();
    target.join();
    EXPECT_FALSE(foundAfterwards);
}

TEST(ThreadMessageTest, PostsFromManyThreadsArriveInOrderPerSenderAndNoneIsLost) {
    constexpr int kSenders = 4;
    constexpr int kPerSender = 500;
    Signal queueReady;
    DWORD targetId = 0;
    std::map<UINT, std::vector<WPARAM>> received;
    std::thread target([&] {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        targetId = GetCurrentThreadId();
        queueReady.Raise();
        for (int i = 0; i < kSenders * kPerSender; ++i) {
            ASSERT_NE(FALSE, GetMessageW(&msg, nullptr, 0, 0));
            received[msg.message].push_back(msg.wParam);
        }
    });
    ASSERT_TRUE(queueReady.Wait());
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s)
        senders.emplace_back([&, s] {
            for (int i = 0; i < kPerSender; ++i)
                EXPECT_NE(FALSE, PostThreadMessageW(targetId, WM_USER + s, static_cast<WPARAM>(i), 0));
        });
    for (auto& t : senders) t.join();
    target.join();

    ASSERT_EQ(static_cast<size_t>(kSenders), received.size());
    for (int s = 0; s < kSenders; ++s) {
        const std::vector<WPARAM>& seq = received[WM_USER + s];
        ASSERT_EQ(static_cast<size_t>(kPerSender), seq.size());
        for (int i = 0; i < kPerSender; ++i) EXPECT_EQ(static_cast<WPARAM>(i), seq[i]);
    }
}

TEST(ThreadMessageTest, GetMessageAnswersZeroForQuitAndNonZeroOtherwise) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    const DWORD me = GetCurrentThreadId();
    ASSERT_NE(FALSE, PostThreadMessageW(me, WM_USER + 7, 11, 22));
    ASSERT_NE(FALSE, PostThreadMessageW(me, WM_QUIT, 0, 0));

    EXPECT_NE(FALSE, GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(WM_USER + 7, msg.message);
    EXPECT_EQ(11u, msg.wParam);
    EXPECT_EQ(22, msg.lParam);
    EXPECT_EQ(FALSE, GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(WM_QUIT, msg.message);
}

TEST(ThreadMessageTest, GetMessageWaitsForALaterPost) {
    Signal queueReady;
    DWORD targetId = 0;
    UINT got = 0;
    std::thread target([&] {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        targetId = GetCurrentThreadId();
        queueReady.Raise();
        if (GetMessageW(&msg, nullptr, 0, 0)) got = msg.message;
    });
    ASSERT_TRUE(queueReady.Wait());
    ASSERT_NE(FALSE, PostThreadMessageW(targetId, 1133, 0, 0));
    target.join();
    EXPECT_EQ(1133u, got);
}

TEST(ThreadMessageTest, PostToAThreadThatEndedFails) {
    DWORD targetId = 0;
    std::thread target([&] {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        targetId = GetCurrentThreadId();
        EXPECT_NE(FALSE, PostThreadMessageW(targetId, WM_USER, 0, 0));
    });
    target.join();
    EXPECT_EQ(FALSE, PostThreadMessageW(targetId, WM_USER, 0, 0));
}

// A thread that falls behind costs bounded memory: its senders are told.
TEST(ThreadMessageTest, APostToAFullQueueFailsUntilAMessageIsTaken) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
    const DWORD me = GetCurrentThreadId();
    for (WPARAM i = 0; i < WinApi::kPostedMessageLimit; ++i)
        ASSERT_NE(FALSE, PostThreadMessageW(me, WM_USER, i, 0)) << i;
    EXPECT_EQ(FALSE, PostThreadMessageW(me, WM_QUIT, 0, 0));
    ASSERT_NE(FALSE, PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(0u, msg.wParam);
    EXPECT_NE(FALSE, PostThreadMessageW(me, WM_USER + 1, 0, 0));
    EXPECT_EQ(FALSE, PostThreadMessageW(me, WM_USER + 2, 0, 0));
    size_t taken = 0;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ++taken;
    EXPECT_EQ(WinApi::kPostedMessageLimit, taken);
    EXPECT_EQ(WM_USER + 1, msg.message);
}

TEST(ThreadMessageTest, PeekHonoursTheFilterAndTheRemoveFlag) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);  // creates the queue; empty
    const DWORD me = GetCurrentThreadId();
    ASSERT_NE(FALSE, PostThreadMessageW(me, 100, 1, 0));
    ASSERT_NE(FALSE, PostThreadMessageW(me, 200, 2, 0));

    ASSERT_NE(FALSE, PeekMessageW(&msg, nullptr, 150, 250, PM_NOREMOVE));
    EXPECT_EQ(200u, msg.message);
    ASSERT_NE(FALSE, PeekMessageW(&msg, nullptr, 150, 250, PM_REMOVE));
    EXPECT_EQ(200u, msg.message);
    EXPECT_EQ(FALSE, PeekMessageW(&msg, nullptr, 150, 250, PM_REMOVE));
    ASSERT_NE(FALSE, PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(100u, msg.message);
    EXPECT_EQ(FALSE, PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(SleepHookTest, RecorderKeepsEveryPauseWithItsThread) {
    KESUTest::SleepRecorder recorder;
    Sleep(250);
    DWORD otherId = 0;
    std::thread other([&] {
        otherId = GetCurrentThreadId();
        Sleep(13000);
        Sleep(500);
    });
    other.join();
    Sleep(1000);

    EXPECT_EQ((std::vector<DWORD>{250, 1000}), recorder.PausesOf(GetCurrentThreadId()));
    EXPECT_EQ((std::vector<DWORD>{13000, 500}), recorder.PausesOf(otherId));
    EXPECT_EQ(4u, recorder.Milliseconds().size());
    recorder.Clear();
    EXPECT_TRUE(recorder.Pauses().empty());
}

// The callback may read the recorder (a callback run under its lock would
// deadlock here) and already finds its own pause recorded.
TEST(SleepHookTest, ThePauseCallbackRunsOnThePausingThreadAfterThePauseIsRecorded) {
    KESUTest::SleepRecorder recorder;
    struct Seen {
        DWORD milliseconds;
        DWORD threadId;
        size_t recorded;
    };
    std::mutex seenMutex;
    std::vector<Seen> seen;
    recorder.SetPauseCallback([&](DWORD ms) {
        const size_t recorded = recorder.Pauses().size();
        std::lock_guard<std::mutex> lock(seenMutex);
        seen.push_back(Seen{ms, GetCurrentThreadId(), recorded});
    });
    Sleep(250);
    DWORD otherId = 0;
    std::thread other([&] {
        otherId = GetCurrentThreadId();
        Sleep(500);
    });
    other.join();
    recorder.SetPauseCallback(nullptr);
    Sleep(1000);

    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(250u, seen[0].milliseconds);
    EXPECT_EQ(GetCurrentThreadId(), seen[0].threadId);
    EXPECT_EQ(1u, seen[0].recorded);
    EXPECT_EQ(500u, seen[1].milliseconds);
    EXPECT_EQ(otherId, seen[1].threadId);
    EXPECT_EQ(2u, seen[1].recorded);
    // Cleared, the callback is no longer called, and the pause is still recorded.
    EXPECT_EQ((std::vector<DWORD>{250, 500, 1000}), recorder.Milliseconds());
}

TEST(SleepHookTest, RemovingTheHookRestoresRealSleeping) {
    int probed = 0;
    WinApi::SetSleepHook([&probed](DWORD) { ++probed; });
    Sleep(7);
    EXPECT_EQ(1, probed);
    WinApi::SetSleepHook(nullptr);
    Sleep(0);
    EXPECT_EQ(1, probed);

    {
        KESUTest::SleepRecorder first;
        Sleep(7);
        EXPECT_EQ(1u, first.Pauses().size());
    }
    Sleep(0);  // must not reach the destroyed recorder
    KESUTest::SleepRecorder second;
    EXPECT_TRUE(second.Pauses().empty());
}

}  // namespace
