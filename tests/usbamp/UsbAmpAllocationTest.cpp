// A stream allocates nothing per block in the library, so that soaks and
// latency measurements see the plug-in's costs only. This binary's operator
// new counts what the testing thread allocates.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "platform/usbamp/KESUUSBDevice.h"
#include "platform/usbamp/UsbAmpSim.h"

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

template <typename Run>
size_t AllocationsOf(Run run) {
    t_allocations = 0;
    t_counting = true;
    run();
    t_counting = false;
    return t_allocations;
}

TEST(UsbAmpAllocationTest, AStreamingRunAllocatesNothingPerBlock) {
    Reset();
    SetAmplifiers({Amplifier{}, Amplifier{}, Amplifier{}});
    SetPointLoad(1, 500.0f, 0.1f, 0.2f);
    fmDLLPostDataReadyMessages(1);
    // A receiver without a message queue: its announcements fail, which
    // keeps the thread-message layer, not the library, out of the count.
    fmDLLPostUserThreadMessages(0x7FFFFFF0);
    fmBroadcastStart();
    ClearCalls();
    const auto stream = [](int blocks) {
        float* block = nullptr;
        for (int b = 0; b < blocks; ++b) {
            HandOverBlock();
            if (b % 3 == 0) HandOverBlock();  // two ready at once, as behind a busy worker
            while (fmDLLTransferFloatData(&block)) {
            }
        }
    };
    stream(10);  // the library's buffers reach their size

    EXPECT_EQ(0u, AllocationsOf([&] { stream(1000); }));
    EXPECT_TRUE(Calls().empty());
    EXPECT_GT(DataTransfers(), 2000u);
    // The count is not blind: a recorded transfer allocates.
    RecordDataTransfers(true);
    EXPECT_GT(AllocationsOf([&] { stream(1); }), 0u);
    Reset();
}

}  // namespace
