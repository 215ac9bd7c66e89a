// The data path allocates nothing per block. A binary of its own: it
// replaces the global operator new.
#include <gtest/gtest.h>

#include <vector>

#include "plugin/VKESUMirtDevice.h"
#include "plugin/VSharedConfigDevice.h"
#include "testkit/CountingHost.h"
#include "tests/support/AllocationCounter.h"

namespace {

TEST(MirtDeviceAllocationTest, TransferDataAllocatesNothing) {
    ASSERT_TRUE(KESUTest::AllocationCounterInUse());
    KESU::VKESUDriverService::VDeviceInfo record;
    record.platformXYZOffsets = {1.0f, 2.0f, 3.0f};
    record.deviceIndex = 3;
    KESUTest::CountingHost host;
    KESU::VKESUMirtDevice device(1000, record, KESU::VKESUGenericPlateDefinition(), nullptr, nullptr);
    device.Connect(&host);
    device.SetDataThreshold(20.0);
    std::vector<float> block(16 * 4 * 8, 5.0f);
    for (size_t s = 0; s < 16; ++s) block[(s * 4 + 3) * 8 + 3] = -300.0f;

    EXPECT_EQ(0u, KESUTest::AllocationsOf([&] {
                  for (int i = 0; i < 10000; ++i) {
                      block[3 * 8] = static_cast<float>((i * 16) % 16777216);
                      device.TransferData(block.data(), 4);
                  }
              }));
    EXPECT_EQ(10000, host.converted);
}

// The whole fan-out of a block to sixteen plates, as the worker hands it
// over: nothing allocated per block either.
TEST(MirtDeviceAllocationTest, OnDataReadyWithSixteenAmplifiersAllocatesNothing) {
    const uint32_t n = 16;
    KESUTest::CountingHost host;
    KESU::VSharedConfigDevice placeholder(nullptr);
    std::vector<KESU::VKESUDriverService::VDeviceInfo> records(n);
    for (uint32_t d = 0; d < n; ++d) {
        records[d].productType = 100;
        records[d].amplifierSerialNumber = "A" + std::to_string(d);
        records[d].platformXYZOffsets = {1.0f, 2.0f, 3.0f};
        records[d].deviceIndex = d;
    }
    placeholder.OnDetectionResult(KESU::VKESUDriverService::VDllInitInfo(), records);
    ASSERT_EQ(n, placeholder.devices.size());
    for (const boost::shared_ptr<KESU::VKESUMirtDevice>& device : placeholder.devices) {
        device->Connect(&host);
        device->SetDataThreshold(20.0);
    }
    // Genlock: the block's own counters number the samples, no host clock needed.
    placeholder.syncMode = 2;
    placeholder.synchronised = true;
    std::vector<float> block(16 * n * 8, 5.0f);
    for (size_t s = 0; s < 16; ++s)
        for (size_t d = 0; d < n; ++d) block[(s * n + d) * 8 + 3] = -300.0f;

    EXPECT_EQ(0u, KESUTest::AllocationsOf([&] {
                  for (int i = 0; i < 2000; ++i) {
                      for (uint32_t d = 0; d < n; ++d) block[d * 8] = static_cast<float>((i * 16) % 16777216);
                      placeholder.OnDataReady(block.data());
                  }
              }));
    EXPECT_EQ(2000 * 16, host.writes);
    EXPECT_EQ(2000 * 16, host.converted);
}

}  // namespace
