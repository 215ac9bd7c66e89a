// A stream allocates nothing per block in the library, so that soaks and
// latency measurements see the plug-in's costs only.
#include <gtest/gtest.h>

#include "platform/usbamp/KESUUSBDevice.h"
#include "platform/usbamp/UsbAmpSim.h"
#include "tests/support/AllocationCounter.h"

namespace {

using namespace UsbAmpSim;
using KESUTest::AllocationsOf;

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

    // Behind a worker that fetches nothing the buffer fills, and each block
    // made then is dropped: its buffer makes the next one. The block past the
    // limit is the last to find no spare.
    for (size_t b = 0; b <= kBlockBufferLimit; ++b) HandOverBlock();
    const uint64_t dropped = DroppedBlocks();
    EXPECT_EQ(0u, AllocationsOf([] {
                  for (int b = 0; b < 100; ++b) HandOverBlock();
              }));
    EXPECT_EQ(dropped + 100, DroppedBlocks());
    // The count is not blind: a recorded transfer allocates.
    RecordDataTransfers(true);
    EXPECT_GT(AllocationsOf([&] { stream(1); }), 0u);
    Reset();
}

}  // namespace
