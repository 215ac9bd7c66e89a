// The scripted side of the simulated amplifier library: identities, readiness,
// calibration, the call record and held calls.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "platform/usbamp/KESUUSBDevice.h"
#include "platform/usbamp/UsbAmpSim.h"
#include "platform/win/WinApi.h"
#include "tests/support/Signal.h"

namespace {

using namespace UsbAmpSim;

constexpr size_t kTextSize = 1024;
constexpr size_t kSizeTextSize = 32;
using KESUTest::kSafetyNet;

class UsbAmpScriptTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
};

// A buffer of exactly the size the library is promised, so that ASan reports
// any byte written past it.
struct Buffer {
    explicit Buffer(size_t n) : size(n), bytes(new char[n]) { std::memset(bytes.get(), '#', n); }
    std::string Text() const { return std::string(bytes.get(), strnlen(bytes.get(), size)); }
    size_t size;
    std::unique_ptr<char[]> bytes;
};

std::future<void> onItsOwnThread(std::function<void()> call) {
    return std::async(std::launch::async, call);
}

// A caller still held when the safety net runs out is released, so that a
// failing test still ends.
bool returns(std::future<void>& call) {
    if (call.wait_for(kSafetyNet) == std::future_status::ready) return true;
    ReleaseHeldCall();
    return false;
}

TEST_F(UsbAmpScriptTest, IdentitiesComeBackIntoTheCallersBuffersNeverPastThem) {
    Amplifier plain{100, "AM-0", "AS-0", "FW-0", "PM-0", "PS-0", {1.5f, -2.25f, 0.5f}, "L0", "W0"};
    // As long as the buffer or longer: written without NUL; one byte shorter: with it.
    Amplifier filling{400,
                      std::string(kTextSize, 'm'),
                      std::string(kTextSize + 500, 's'),
                      std::string(kTextSize - 1, 'f'),
                      "PM-1",
                      "",
                      {0.0f, 3.0f, -1.0f},
                      std::string(kSizeTextSize, '1'),
                      std::string(kSizeTextSize + 8, '2')};
    SetAmplifiers({plain, filling});
    const std::pair<int (*)(char*), std::string Amplifier::*> texts[] = {
        {fmGetAmplifierModelNumber, &Amplifier::amplifierModel},
        {fmGetAmplifierSerialNumber, &Amplifier::amplifierSerial},
        {fmGetAmplifierFirmwareVersion, &Amplifier::amplifierFirmware},
        {fmGetPlatformModelNumber, &Amplifier::platformModel},
        {fmGetPlatformSerialNumber, &Amplifier::platformSerial}};

    // -1 and 2 select nothing listed: every answer is empty.
    for (int index : {1, 0, -1, 2}) {
        SCOPED_TRACE(index);
        fmDLLSelectDeviceIndex(index);
        const Amplifier expected = index == 0 ? plain : index == 1 ? filling : Amplifier{};
        for (const auto& [getter, field] : texts) {
            Buffer text(kTextSize);
            getter(text.bytes.get());
            EXPECT_EQ((expected.*field).substr(0, kTextSize), text.Text());
        }
        Buffer length(kSizeTextSize), width(kSizeTextSize);
        fmGetPlatformLengthAndWidth(length.bytes.get(), width.bytes.get());
        EXPECT_EQ(expected.length.substr(0, kSizeTextSize), length.Text());
        EXPECT_EQ(expected.width.substr(0, kSizeTextSize), width.Text());
        std::array<float, 3> xyz{9.0f, 9.0f, 9.0f};
        fmGetPlatformXYZOffsets(xyz.data());
        EXPECT_EQ(expected.xyzOffsets, xyz);
        EXPECT_EQ(expected.productType, fmGetProductType());
    }
}

TEST_F(UsbAmpScriptTest, DeviceCountIsTheNumberListedUnlessAnotherAnswerIsSet) {
    EXPECT_EQ(0, fmDLLGetDeviceCount());
    SetAmplifiers({Amplifier{}, Amplifier{}});
    EXPECT_EQ(2, fmDLLGetDeviceCount());
    for (int32_t answer : {0, -1, 7}) {
        SetDeviceCountAnswer(answer);
        EXPECT_EQ(answer, fmDLLGetDeviceCount());
    }
    SetDeviceCountAnswer(std::nullopt);
    EXPECT_EQ(2, fmDLLGetDeviceCount());
}

std::vector<int> answers(int (*function)(), int count) {
    std::vector<int> result;
    for (int i = 0; i < count; ++i) result.push_back(function());
    return result;
}

TEST_F(UsbAmpScriptTest, ReadinessAndSetupCheckAnswerAsScripted) {
    fmDLLInit();
    EXPECT_EQ((std::vector<int>{1, 1}), answers(fmDLLIsDeviceInitComplete, 2));
    EXPECT_EQ(1, fmDLLSetupCheck());

    SetReadyAfterPolls(3);
    SetSetupCheckCode(214);
    fmDLLInit();
    EXPECT_EQ((std::vector<int>{0, 0, 1, 1}), answers(fmDLLIsDeviceInitComplete, 4));
    fmDLLInit();  // counts afresh
    EXPECT_EQ((std::vector<int>{0, 0, 1}), answers(fmDLLIsDeviceInitComplete, 3));
    EXPECT_EQ(214, fmDLLSetupCheck());

    SetReadyAfterPolls(kNeverReady);
    fmDLLInit();
    EXPECT_EQ(std::vector<int>(60, 0), answers(fmDLLIsDeviceInitComplete, 60));
}

TEST_F(UsbAmpScriptTest, CalibrationCheckWritesAtMostSixteenIndicesButAnswersTheFullCount) {
    std::vector<int32_t> twenty;
    for (int32_t i = 19; i >= 0; --i) twenty.push_back(i);
    std::vector<int32_t> threeThenUntouched(16, -7);
    threeThenUntouched[0] = 4, threeThenUntouched[1] = 2, threeThenUntouched[2] = 9;
    const std::tuple<std::vector<int32_t>, int, std::vector<int32_t>> cases[] = {
        {twenty, 20, std::vector<int32_t>(twenty.begin(), twenty.begin() + 16)},
        {{4, 2, 9}, 3, threeThenUntouched},
        {{}, 0, std::vector<int32_t>(16, -7)}};
    for (const auto& [listed, count, written] : cases) {
        SetCalibrationCheck(listed);
        auto indices = std::make_unique<int32_t[]>(16);  // exactly 16, for ASan
        std::fill_n(indices.get(), 16, -7);
        EXPECT_EQ(count, fmBroadcastCheckPelora(indices.get()));
        EXPECT_EQ(written, std::vector<int32_t>(indices.get(), indices.get() + 16));
    }
}

TEST_F(UsbAmpScriptTest, DownloadsOfTheSelectedPlateAnswerTheirScriptedSequence) {
    SetCalibrationDownload(2, 0, {0, 0, 1});
    SetCalibrationDownload(5, 3, {0});

    fmDLLSelectDeviceIndex(2);
    EXPECT_EQ(0, fmPeloraDownloadCalFile(1));
    EXPECT_EQ((std::vector<int>{0, 0}), answers(fmIsPeloraDownloadComplete, 2));
    // Another plate's polls leave plate 2 where it was.
    fmDLLSelectDeviceIndex(5);
    EXPECT_EQ(3, fmPeloraDownloadCalFile(1));
    EXPECT_EQ(std::vector<int>(60, 0), answers(fmIsPeloraDownloadComplete, 60));
    fmDLLSelectDeviceIndex(2);
    EXPECT_EQ((std::vector<int>{1, 1}), answers(fmIsPeloraDownloadComplete, 2));
    EXPECT_EQ(0, fmPeloraDownloadCalFile(1));  // starts the sequence afresh
    EXPECT_EQ((std::vector<int>{0, 0, 1}), answers(fmIsPeloraDownloadComplete, 3));

    // A plate without a script starts and completes at once.
    fmDLLSelectDeviceIndex(1);
    EXPECT_EQ(0, fmPeloraDownloadCalFile(1));
    EXPECT_EQ(1, fmIsPeloraDownloadComplete());
}

TEST_F(UsbAmpScriptTest, EveryCallIsRecordedWithItsArgumentsSelectionAndThread) {
    const uint32_t me = GetCurrentThreadId();
    float xyz[3];
    fmDLLSelectDeviceIndex(3);
    fmBroadcastAcquisitionRate(2000);
    fmDLLPostUserThreadMessages(0xABCDEF01u);
    fmGetPlatformXYZOffsets(xyz);
    uint32_t other = 0;
    std::thread([&] {
        other = GetCurrentThreadId();
        fmDLLSelectDeviceIndex(-4);
        fmBroadcastGenlock(1);
    }).join();

    const std::vector<Call> expected = {
        {"fmDLLSelectDeviceIndex", {3}, -1, me},
        {"fmBroadcastAcquisitionRate", {2000}, 3, me},
        {"fmDLLPostUserThreadMessages", {0xABCDEF01ll}, 3, me},
        {"fmGetPlatformXYZOffsets", {}, 3, me},
        {"fmDLLSelectDeviceIndex", {-4}, 3, other},
        {"fmBroadcastGenlock", {1}, -4, other},
    };
    const std::vector<Call> calls = Calls();
    ASSERT_EQ(expected.size(), calls.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i].function, calls[i].function);
        EXPECT_EQ(expected[i].arguments, calls[i].arguments);
        EXPECT_EQ(expected[i].selectedDevice, calls[i].selectedDevice);
        EXPECT_EQ(expected[i].threadId, calls[i].threadId);
    }
    EXPECT_NE(me, other);

    ClearCalls();
    EXPECT_TRUE(Calls().empty());
    fmBroadcastZero();
    ASSERT_EQ(1u, Calls().size());
    EXPECT_EQ("fmBroadcastZero", Calls()[0].function);
}

// Tests feed blocks in lock-step by holding the transfer, so the hold works
// whether the transfer is recorded or only counted.
TEST_F(UsbAmpScriptTest, DataTransfersAreCountedRecordedOnRequestAndHeldEitherWay) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // this thread's queue takes the announcements
    fmDLLPostDataReadyMessages(1);
    fmDLLPostUserThreadMessages(GetCurrentThreadId());
    fmBroadcastStart();
    for (bool recorded : {false, true}) {
        SCOPED_TRACE(recorded);
        RecordDataTransfers(recorded);
        ClearCalls();
        ASSERT_TRUE(HandOverBlock(std::vector<float>(128, 7.0f)));
        HoldCall("fmDLLTransferFloatData");
        float* block = nullptr;
        auto held = onItsOwnThread([&] { fmDLLTransferFloatData(&block); });
        ASSERT_TRUE(WaitUntilHeld(kSafetyNet));
        ReleaseHeldCall();
        ASSERT_TRUE(returns(held));
        ASSERT_NE(nullptr, block);
        EXPECT_EQ(7.0f, block[0]);
        fmBroadcastZero();

        EXPECT_EQ(1u, DataTransfers());
        std::vector<std::string> functions;
        for (const Call& call : Calls()) functions.push_back(call.function);
        const std::vector<std::string> expected =
            recorded ? std::vector<std::string>{"fmDLLTransferFloatData", "fmBroadcastZero"}
                     : std::vector<std::string>{"fmBroadcastZero"};
        EXPECT_EQ(expected, functions);
    }
    Reset();
    EXPECT_EQ(0u, DataTransfers());
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

TEST_F(UsbAmpScriptTest, CallsFromManyThreadsAreAllRecordedInEachThreadsOrder) {
    constexpr int kThreads = 4;
    constexpr int kCalls = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kCalls; ++i) fmDLLSetUSBPacketSize(t * kCalls + i);
        });
    for (auto& thread : threads) thread.join();

    std::map<uint32_t, std::vector<int64_t>> byThread;
    for (const Call& call : Calls()) byThread[call.threadId].push_back(call.arguments.at(0));
    ASSERT_EQ(static_cast<size_t>(kThreads), byThread.size());
    for (const auto& [thread, arguments] : byThread) {
        ASSERT_EQ(static_cast<size_t>(kCalls), arguments.size());
        for (int i = 1; i < kCalls; ++i) EXPECT_EQ(arguments[0] + i, arguments[i]);
    }
}

TEST_F(UsbAmpScriptTest, AHeldCallWaitsBeforeItsEffectWithoutBlockingTheLibrary) {
    fmDLLPostDataReadyMessages(1);
    fmDLLPostUserThreadMessages(GetCurrentThreadId());
    HoldCall("fmBroadcastStart");
    auto caller = onItsOwnThread(fmBroadcastStart);
    ASSERT_TRUE(WaitUntilHeld(kSafetyNet));

    EXPECT_EQ("fmBroadcastStart", Calls().back().function);
    EXPECT_NE(GetCurrentThreadId(), Calls().back().threadId);
    EXPECT_FALSE(WaitUntilStreaming(std::chrono::milliseconds(0)));
    SetAmplifiers({Amplifier{}});
    EXPECT_EQ(1, fmDLLGetDeviceCount());
    EXPECT_TRUE(WaitUntilHeld(std::chrono::milliseconds(0)));
    // Only the one call is held: the same function passes meanwhile.
    auto second = onItsOwnThread(fmBroadcastStart);
    EXPECT_TRUE(returns(second));
    EXPECT_TRUE(WaitUntilStreaming(std::chrono::milliseconds(0)));
    fmBroadcastStop();

    ReleaseHeldCall();
    ASSERT_TRUE(returns(caller));
    EXPECT_TRUE(WaitUntilStreaming(std::chrono::milliseconds(0)));
    EXPECT_FALSE(WaitUntilHeld(std::chrono::milliseconds(0)));
}

TEST_F(UsbAmpScriptTest, AReleaseBeforeAnyCallerArrivesDisarmsTheHold) {
    HoldCall("fmSetBlink");
    ReleaseHeldCall();
    auto blink = onItsOwnThread(fmSetBlink);
    EXPECT_TRUE(returns(blink));
    EXPECT_FALSE(WaitUntilHeld(std::chrono::milliseconds(0)));
}

TEST_F(UsbAmpScriptTest, ResetReleasesAHeldCaller) {
    HoldCall("fmDLLTransferFloatData");
    std::atomic<int> answer{-1};
    auto caller = onItsOwnThread([&] {
        float* block = nullptr;
        answer = fmDLLTransferFloatData(&block);
    });
    ASSERT_TRUE(WaitUntilHeld(kSafetyNet));
    Reset();
    ASSERT_TRUE(returns(caller));
    EXPECT_EQ(0, answer);
}

TEST_F(UsbAmpScriptTest, EveryFunctionAcceptsAnyStateAndNullBuffers) {
    EXPECT_EQ(0, fmBroadcastStop());
    float* block = nullptr;
    EXPECT_EQ(0, fmDLLTransferFloatData(&block));
    EXPECT_EQ(nullptr, block);
    fmDLLShutDown();
    fmBroadcastStart();
    fmBroadcastAcquisitionRate(0);
    EXPECT_EQ(0, fmDLLTransferFloatData(nullptr));
    EXPECT_EQ(0, fmBroadcastCheckPelora(nullptr));
    fmGetAmplifierModelNumber(nullptr);
    fmGetAmplifierFirmwareVersion(nullptr);
    fmGetAmplifierSerialNumber(nullptr);
    fmGetPlatformModelNumber(nullptr);
    fmGetPlatformSerialNumber(nullptr);
    fmGetPlatformXYZOffsets(nullptr);
    fmGetPlatformLengthAndWidth(nullptr, nullptr);
    fmSetBlink();
    EXPECT_EQ(0, fmPeloraDownloadCalFile(1));
    EXPECT_EQ(1, fmIsPeloraDownloadComplete());
    EXPECT_EQ(0, fmGetProductType());
    fmDLLShutDown();
    fmDLLShutDown();
    EXPECT_FALSE(WaitUntilStreaming(std::chrono::milliseconds(0)));
}

}  // namespace
