// Arbitrary bytes as the library's data blocks, after a fixed detection of
// three amplifiers: alignment in each mode and the conversion of every plate.
// Input: mode byte, threshold byte, the host's time (8 bytes), then blocks of
// 16 samples x 3 amplifiers x 8 floats (a short last one is dropped).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/plugin/FuzzPlugin.h"
#include "plugin/VSharedConfigDevice.h"
#include "sdk/ModuleHost.h"

namespace {

const size_t kBlockFloats = 16 * 3 * 8;
const int32_t kTypes[3] = {300, 100, 400};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 10) return 0;
    KESUFuzz::CheckingHost host;
    std::memcpy(&host.now, data + 2, sizeof host.now);
    KESU::g_host = &host;

    // No driver: nothing here reaches it without a device host, and the
    // plates' device hosts are connected after the detection.
    KESU::VSharedConfigDevice placeholder(nullptr);
    KESU::VKESUDriverService::VDllInitInfo info;
    placeholder.OnDetectionResult(info, KESUFuzz::Detection(kTypes));
    KESUFuzz::Require(placeholder.devices.size() == 3);

    const uint32_t mode = data[0] % 3;
    const double threshold = data[1] * 4.0;
    host.threshold = threshold;
    placeholder.syncMode = mode;
    placeholder.synchronised = mode == 2;
    placeholder.startTimeKnown = true;
    placeholder.startTime = 0.0;
    placeholder.sampleRate = 1000;
    uint32_t id = 0;
    for (const boost::shared_ptr<KESU::VKESUMirtDevice>& device : placeholder.devices) {
        device->Connect(&host);
        device->SetSyncMode(mode);
        device->SetDataThreshold(threshold);
        device->Start(id++, nullptr);
    }

    std::unique_ptr<float[]> block(new float[kBlockFloats]);
    for (size_t at = 10; at + kBlockFloats * sizeof(float) <= size; at += kBlockFloats * sizeof(float)) {
        std::memcpy(block.get(), data + at, kBlockFloats * sizeof(float));
        host.block = block.get();
        placeholder.OnDataReady(block.get());
    }
    KESU::g_host = nullptr;
    return 0;
}
