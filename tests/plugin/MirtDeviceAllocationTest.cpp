// The conversion allocates nothing per block. A binary of its own, because it
// replaces the global allocation functions, which would take the sanitizers'
// own new/delete checks away from every other suite.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "plugin/VKESUMirtDevice.h"
#include "plugin/VSharedConfigDevice.h"

namespace {

std::atomic<long> g_allocations{0};

void* Allocate(std::size_t size, std::size_t alignment = 0) {
    ++g_allocations;
    if (size == 0) size = 1;
    void* p = nullptr;
    if (alignment <= alignof(std::max_align_t))
        p = std::malloc(size);
    else if (posix_memalign(&p, alignment, size) != 0)
        p = nullptr;
    return p;
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment = 0) {
    void* p = Allocate(size, alignment);
    if (!p) throw std::bad_alloc();
    return p;
}

}  // namespace

// Every form, so that each delete frees what the matching new took from malloc.
void* operator new(std::size_t n) {
    return AllocateOrThrow(n);
}
void* operator new[](std::size_t n) {
    return AllocateOrThrow(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return Allocate(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return Allocate(n);
}
void* operator new(std::size_t n, std::align_val_t a) {
    return AllocateOrThrow(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a) {
    return AllocateOrThrow(n, static_cast<std::size_t>(a));
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return Allocate(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return Allocate(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

// A device host that keeps nothing, so that only the device could allocate.
class CountingHost : public ZentuDigitalDevice::IDeviceHost {
public:
    ZentuDigitalDevice::ResultPtr GetParameterValue(ZentuDigitalDevice::IParameterValue*, const char*,
                                                    const char*) override {
        return {};
    }
    ZentuDigitalDevice::ResultPtr SetParameterValue(const ZentuDigitalDevice::IParameterValue*, const char*,
                                                    const char*) override {
        return {};
    }
    uint32_t GetChangedParameterCount() override { return 0; }
    ZentuDigitalDevice::ResultPtr GetChangedParameterIds(const uint32_t*, uint64_t*, uint32_t*) override {
        return {};
    }
    ZentuDigitalDevice::ResultPtr WriteSamples(uint32_t, int64_t, uint32_t, const uint32_t*, uint32_t,
                                               const float* values, uint32_t valueCount) override {
        ++writes;
        if (valueCount == 144 && values[2] != 0.0f) ++loaded;
        return {};
    }
    void NotifyStatusChanged() override {}

    long writes = 0;
    long loaded = 0;
};

TEST(MirtDeviceAllocationTest, TransferDataAllocatesNothing) {
    const long before = g_allocations;
    // Through a volatile pointer, or the compiler may leave out the pair.
    static int* volatile probe;
    probe = new int(1);
    delete probe;
    ASSERT_EQ(before + 1, g_allocations) << "the replaced operator new is not in use";

    KESU::VKESUDriverService::VDeviceInfo record;
    record.platformXYZOffsets = {1.0f, 2.0f, 3.0f};
    record.deviceIndex = 3;
    CountingHost host;
    auto device = std::make_unique<KESU::VKESUMirtDevice>(1000, record, KESU::VKESUGenericPlateDefinition(),
                                                          nullptr, nullptr);
    device->Connect(&host);
    std::vector<float> block(16 * 4 * 8, 5.0f);
    for (size_t s = 0; s < 16; ++s) block[(s * 4 + 3) * 8 + 3] = -300.0f;
    device->SetDataThreshold(20.0);

    const long start = g_allocations;
    for (int i = 0; i < 10000; ++i) {
        block[3 * 8] = static_cast<float>((i * 16) % 16777216);
        device->TransferData(block.data(), 4);
    }
    EXPECT_EQ(start, g_allocations.load());
    EXPECT_EQ(10000, host.writes);
    EXPECT_EQ(10000, host.loaded);
}

// The whole fan-out of a block to sixteen plates, as the worker hands it
// over: nothing allocated per block either.
TEST(MirtDeviceAllocationTest, OnDataReadyWithSixteenAmplifiersAllocatesNothing) {
    const uint32_t n = 16;
    CountingHost host;
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

    const long start = g_allocations;
    for (int i = 0; i < 2000; ++i) {
        for (uint32_t d = 0; d < n; ++d) block[d * 8] = static_cast<float>((i * 16) % 16777216);
        placeholder.OnDataReady(block.data());
    }
    EXPECT_EQ(start, g_allocations.load());
    EXPECT_EQ(2000 * 16, host.writes);
    EXPECT_EQ(2000 * 16, host.loaded);
}

}  // namespace
