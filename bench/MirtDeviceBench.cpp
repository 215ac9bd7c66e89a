// The per-block cost of one amplifier device: one amplifier's share of a
// block from sixteen amplifiers, written to a host that only counts.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "plugin/VKESUMirtDevice.h"
#include "testkit/CountingHost.h"

namespace {

void TransferDataOfOneOfSixteen(benchmark::State& state) {
    const uint32_t amplifiers = 16;
    const uint32_t index = 7;
    KESU::VKESUDriverService::VDeviceInfo record;
    record.platformXYZOffsets = {1.0f, 2.0f, 3.0f};
    record.deviceIndex = index;
    KESUTest::CountingHost host;
    KESU::VKESUMirtDevice device(1000, record, KESU::VKESUGenericPlateDefinition(), &host, nullptr);
    device.Connect(&host);
    device.SetDataThreshold(20.0);

    // A plate under load: every sample above the threshold and converted.
    std::vector<float> block(16 * amplifiers * 8);
    for (uint32_t s = 0; s < 16; ++s)
        for (uint32_t d = 0; d < amplifiers; ++d) {
            float* g = &block[(s * amplifiers + d) * 8];
            const float load = 1.0f + 0.01f * static_cast<float>(s);
            g[0] = static_cast<float>(s);
            g[1] = 12.5f * load;
            g[2] = -7.25f * load;
            g[3] = -300.0f * load;
            g[4] = 40.0f * load;
            g[5] = -25.0f * load;
            g[6] = 3.0f * load;
            g[7] = -1.0f;
        }

    uint32_t counter = 0;
    for (auto _ : state) {
        counter = (counter + 16) & 0xFFFFFF;
        block[index * 8] = static_cast<float>(counter);
        device.TransferData(block.data(), amplifiers);
    }
    benchmark::DoNotOptimize(host.lastValue);
    state.counters["writes"] = static_cast<double>(host.writes);
}

BENCHMARK(TransferDataOfOneOfSixteen);

}  // namespace
