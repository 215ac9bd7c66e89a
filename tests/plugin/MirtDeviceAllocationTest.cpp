// The conversion allocates nothing per block. A binary of its own: it
// replaces the global operator new.
#include <gtest/gtest.h>

#include <vector>

#include "plugin/VKESUMirtDevice.h"
#include "tests/support/AllocationCounter.h"

namespace {

// Keeps nothing, so that only the device could allocate.
struct CountingHost : ZentuDigitalDevice::IDeviceHost {
    using ResultPtr = ZentuDigitalDevice::ResultPtr;
    ResultPtr GetParameterValue(ZentuDigitalDevice::IParameterValue*, const char*, const char*) override {
        return {};
    }
    ResultPtr SetParameterValue(const ZentuDigitalDevice::IParameterValue*, const char*,
                                const char*) override {
        return {};
    }
    uint32_t GetChangedParameterCount() override { return 0; }
    ResultPtr GetChangedParameterIds(const uint32_t*, uint64_t*, uint32_t*) override { return {}; }
    ResultPtr WriteSamples(uint32_t, int64_t, uint32_t, const uint32_t*, uint32_t, const float* values,
                           uint32_t) override {
        loaded += values[2] != 0.0f;  // Fz of sample 0 converted
        return {};
    }
    void NotifyStatusChanged() override {}
    long loaded = 0;
};

TEST(MirtDeviceAllocationTest, TransferDataAllocatesNothing) {
    ASSERT_TRUE(KESUTest::AllocationCounterInUse());
    KESU::VKESUDriverService::VDeviceInfo record;
    record.platformXYZOffsets = {1.0f, 2.0f, 3.0f};
    record.deviceIndex = 3;
    CountingHost host;
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
    EXPECT_EQ(10000, host.loaded);
}

}  // namespace
