// The data path with sixteen amplifiers: one amplifier device's conversion of
// its share of a block, the placeholder device's fan-out and conversion of one
// block, and the latency from the simulated library announcing a block to the
// last plate's packet of it, through the module and the example host at
// 2000 Hz paced by the wall clock.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/ExampleHost.h"
#include "host/PluginModule.h"
#include "platform/usbamp/UsbAmpSim.h"
#include "platform/win/WinApi.h"
#include "plugin/VSharedConfigDevice.h"
#include "sdk/ModuleHost.h"
#include "sdk/ParameterValues.h"
#include "testkit/CountingHost.h"

namespace {

const uint32_t kAmplifiers = 16;

// Every plate under load, each sample above the threshold and converted.
std::vector<float> LoadedBlock() {
    std::vector<float> block(16 * kAmplifiers * 8);
    for (uint32_t s = 0; s < 16; ++s)
        for (uint32_t d = 0; d < kAmplifiers; ++d) {
            float* g = &block[(s * kAmplifiers + d) * 8];
            const float load = 1.0f + 0.01f * static_cast<float>(s + d);
            g[0] = static_cast<float>(s);
            g[1] = 12.5f * load;
            g[2] = -7.25f * load;
            g[3] = -300.0f * load;
            g[4] = 40.0f * load;
            g[5] = -25.0f * load;
            g[6] = 3.0f * load;
            g[7] = -1.0f;
        }
    return block;
}

// One amplifier's share of such a block, written to a host that only counts.
void TransferDataOfOneOfSixteen(benchmark::State& state) {
    const uint32_t index = 7;
    KESU::VKESUDriverService::VDeviceInfo record;
    record.platformXYZOffsets = {1.0f, 2.0f, 3.0f};
    record.deviceIndex = index;
    KESUTest::CountingHost host;
    KESU::VKESUMirtDevice device(1000, record, KESU::VKESUGenericPlateDefinition(), &host, nullptr);
    device.Connect(&host);
    device.SetDataThreshold(20.0);
    std::vector<float> block = LoadedBlock();

    uint32_t counter = 0;
    for (auto _ : state) {
        counter = (counter + 16) & 0xFFFFFF;
        block[index * 8] = static_cast<float>(counter);
        device.TransferData(block.data(), kAmplifiers);
    }
    benchmark::DoNotOptimize(host.lastValue);
    state.counters["writes"] = static_cast<double>(host.writes);
}

BENCHMARK(TransferDataOfOneOfSixteen);

// The placeholder device's fan-out of such a block to sixteen plates.
void OnDataReadyWithSixteenAmplifiers(benchmark::State& state) {
    KESUTest::CountingHost host;
    KESU::g_host = &host;
    KESU::VSharedConfigDevice placeholder(nullptr);
    std::vector<KESU::VKESUDriverService::VDeviceInfo> records(kAmplifiers);
    for (uint32_t d = 0; d < kAmplifiers; ++d) {
        records[d].productType = 100;
        records[d].amplifierSerialNumber = "A" + std::to_string(d);
        records[d].platformSerialNumber = "P" + std::to_string(d);
        records[d].platformXYZOffsets = {1.0f, 2.0f, 3.0f};
        records[d].deviceIndex = d;
    }
    placeholder.OnDetectionResult(KESU::VKESUDriverService::VDllInitInfo(), records);
    for (const boost::shared_ptr<KESU::VKESUMirtDevice>& device : placeholder.devices) {
        device->Connect(&host);
        device->SetDataThreshold(20.0);
    }
    placeholder.startTimeKnown = true;

    std::vector<float> block = LoadedBlock();

    uint32_t counter = 0;
    for (auto _ : state) {
        counter = (counter + 16) & 0xFFFFFF;
        for (uint32_t d = 0; d < kAmplifiers; ++d) block[d * 8] = static_cast<float>(counter);
        placeholder.OnDataReady(block.data());
    }
    benchmark::DoNotOptimize(host.lastValue);
    state.counters["writes/block"] =
        static_cast<double>(host.writes) / static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    KESU::g_host = nullptr;
}
BENCHMARK(OnDataReadyWithSixteenAmplifiers)->Unit(benchmark::kMicrosecond);

// Blocks announced by the bench thread on the wall clock's 2000 Hz schedule
// (one block of 16 samples every 8 ms); each one's latency ends with the
// sixteenth plate's packet of it.
void LatencyAnnouncementToLastPlate(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const int kBlocks = 500;  // four seconds
    char folder[] = "/tmp/kesu-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) return state.SkipWithError("no temporary folder");
    setenv("KESU_DRIVE_C", folder, 1);
    // The detection's and the start's pauses would only lengthen the set-up.
    WinApi::SetSleepHook([](DWORD) {});

    for (auto _ : state) {
        UsbAmpSim::Reset();
        std::vector<UsbAmpSim::Amplifier> amplifiers(kAmplifiers);
        for (uint32_t d = 0; d < kAmplifiers; ++d) {
            amplifiers[d].productType = 100;
            amplifiers[d].amplifierModel = "MIRT-300";
            amplifiers[d].amplifierSerial = "A" + std::to_string(d);
            amplifiers[d].platformModel = "Sorvik";
            amplifiers[d].platformSerial = "P" + std::to_string(d);
            UsbAmpSim::SetPointLoad(static_cast<int32_t>(d), 600.0f, 0.1f, -0.05f);
        }
        UsbAmpSim::SetAmplifiers(amplifiers);

        std::ostringstream log;
        KESUHost::ExampleHost host(log);
        host.SetClock([] { return 100.0; });
        std::vector<Clock::time_point> announced(kBlocks), completed(kBlocks);
        std::vector<uint32_t> arrived(kBlocks, 0);
        host.SetPacketSink([&](const KESUHost::DeviceHost&, int64_t firstIndex, uint32_t, const float*) {
            const Clock::time_point now = Clock::now();
            const int64_t block = firstIndex / 16;
            if (block < 0 || block >= kBlocks) return;
            if (++arrived[block] == kAmplifiers) completed[block] = now;
        });

        KESUHost::PluginModule module(KESU_MODULE_FILE);
        if (!module.IsLoaded()) return state.SkipWithError(module.Error().c_str());
        module.Initialise(&host);
        module.ProvideDeviceDefinitions(&host);
        module.BeginDeviceInstantiation(&host);
        KESUHost::DeviceHost* placeholder = host.Instances().at(0);
        placeholder->Device()->Connect(placeholder);
        host.WaitUntil([&] { return host.Instances().size() == 1 + kAmplifiers; }, std::chrono::seconds(30));
        ZentuDigitalDevice::IParameterValueEnum rate;
        placeholder->ReadValue("SampleRate", rate);
        rate.SetValue("2000");
        placeholder->SetValue("SampleRate", rate);
        placeholder->Device()->OnParametersChanged();
        std::vector<KESUHost::DeviceHost*> plates = host.Instances();
        plates.erase(plates.begin());
        for (KESUHost::DeviceHost* plate : plates) plate->Device()->Connect(plate);
        for (KESUHost::DeviceHost* plate : plates) plate->Device()->Start(plate->HostDeviceId(), plate);
        placeholder->Device()->Start(placeholder->HostDeviceId(), placeholder);
        placeholder->Device()->SetStartTime(100.0);
        UsbAmpSim::WaitUntilStreaming(std::chrono::seconds(30));
        // The start's own stop and start are behind the first block otherwise.
        host.WaitUntil(
            [&] {
                uint32_t status = 0;
                uint8_t flag = 0;
                placeholder->Device()->GetStatus(&status, &flag);
                return status == 1;
            },
            std::chrono::seconds(30));

        const Clock::time_point start = Clock::now();
        for (int b = 0; b < kBlocks; ++b) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(8000) * b);
            announced[b] = Clock::now();
            UsbAmpSim::HandOverBlock();
        }
        host.WaitUntil([&] { return plates.back()->PacketCount() >= size_t(kBlocks); },
                       std::chrono::seconds(30));
        module.Shutdown();

        std::vector<double> latencies;
        for (int b = 0; b < kBlocks; ++b)
            if (arrived[b] == kAmplifiers)
                latencies.push_back(
                    std::chrono::duration<double, std::micro>(completed[b] - announced[b]).count());
        if (latencies.size() != size_t(kBlocks)) return state.SkipWithError("blocks went missing");
        std::sort(latencies.begin(), latencies.end());
        state.counters["p50_us"] = latencies[latencies.size() / 2];
        state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
        state.counters["max_us"] = latencies.back();
    }
    WinApi::SetSleepHook(nullptr);
    unsetenv("KESU_DRIVE_C");
}
BENCHMARK(LatencyAnnouncementToLastPlate)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
