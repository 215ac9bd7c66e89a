// The library's data path allocates nothing per block once it has streamed a
// little, so that soaks and latency measurements see the plug-in's costs only.
// This binary's operator new counts what the testing thread allocates.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "platform/usbamp/KESUUSBDevice.h"
#include "platform/usbamp/UsbAmpSim.h"
#include "platform/win/WinApi.h"

namespace {

thread_local bool t_counting = false;
thread_local size_t t_allocations = 0;

void* allocate(size_t size) {
    if (t_counting) ++t_allocations;
    if (void* memory = std::malloc(size ? size : 1)) return memory;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t size) {
    return allocate(size);
}
void* operator new[](size_t size) {
    return allocate(size);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, size_t) noexcept {
    std::free(memory);
}

namespace {

using namespace UsbAmpSim;

// Allocations of this thread while `run` runs.
template <typename Run>
size_t AllocationsOf(Run run) {
    t_allocations = 0;
    t_counting = true;
    run();
    t_counting = false;
    return t_allocations;
}

// A receiver with no message queue: the announcement's post fails, so that
// the count leaves out the thread-message layer, which is not the library;
// the block stays queued all the same.
constexpr DWORD kNoQueue = 0x7FFFFFF0;

TEST(UsbAmpAllocationTest, AStreamingRunAllocatesNothingPerBlock) {
    Reset();
    SetAmplifiers({Amplifier{}, Amplifier{}, Amplifier{}});
    SetPointLoad(1, 500.0f, 0.1f, 0.2f);
    SetTrigger(2, 40, 1.0f);
    fmDLLPostDataReadyMessages(1);
    fmDLLPostUserThreadMessages(kNoQueue);
    fmBroadcastStart();
    ClearCalls();
    const auto stream = [](int blocks) {
        float* block = nullptr;
        for (int b = 0; b < blocks; ++b) {
            HandOverBlock();
            // Two ready at once now and then, as when the worker was busy.
            if (b % 3 == 0) HandOverBlock();
            while (fmDLLTransferFloatData(&block)) {
            }
        }
    };
    // Until every buffer of the data path has reached its size.
    stream(10);

    EXPECT_EQ(0u, AllocationsOf([&] { stream(1000); }));
    EXPECT_TRUE(Calls().empty());
    EXPECT_GT(DataTransfers(), 2000u);
    // The counter sees what it should: a recorded transfer allocates.
    RecordDataTransfers(true);
    EXPECT_GT(AllocationsOf([&] { stream(1); }), 0u);
    Reset();
}

}  // namespace
