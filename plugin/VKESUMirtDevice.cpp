#include "plugin/VKESUMirtDevice.h"

#include <algorithm>
#include <cmath>

#include <boost/format.hpp>
#include <boost/thread/lock_guard.hpp>

#include "driver/DriverValues.h"

namespace KESU {

namespace {

const uint32_t kSamplesPerBlock = 16;
const uint32_t kGroupFloats = 8;
const uint32_t kValuesPerSample = 9;
const uint32_t kValuesPerPacket = kSamplesPerBlock * kValuesPerSample;
const uint64_t kBlinkActionId = 5;
const int64_t kCounterRange = 16777216;  // 2^24
const float kInchesToMetres = 0.0254f;

// A record built by hand may carry fewer than three offsets.
float Offset(const VKESUDriverService::VDeviceInfo& record, size_t axis) {
    return axis < record.platformXYZOffsets.size() ? record.platformXYZOffsets[axis] : 0.0f;
}

}  // namespace

VKESUMirtDevice::VKESUMirtDevice(uint32_t sampleRate, const VKESUDriverService::VDeviceInfo& record,
                                 const VKESUGenericPlateDefinition& definition,
                                 ZentuDigitalDevice::IHost* host, VKESUDriverService* driver)
    : driver(driver),
      deviceHost(nullptr),
      host(host),
      deviceIndex(record.deviceIndex),
      origin{Offset(record, 0), Offset(record, 1), Offset(record, 2)},
      outputIds(3, 0),
      hostDeviceId(0),
      changedIdsSelector(1),
      plateDefinition(definition),
      amplifierModelNumber(record.amplifierModelNumber),
      amplifierSerialNumber(record.amplifierSerialNumber),
      platformModelNumber(record.platformModelNumber),
      platformSerialNumber(record.platformSerialNumber),
      amplifierFirmwareVersion(record.amplifierFirmwareVersion),
      state(1),
      syncMode(0),
      sampleRate(sampleRate),
      startCounter(0),
      wrapOffset(0),
      lastCounter(-1),
      dataThreshold(0.0),
      instantiated(false) {
    outputIds[0] = 0;
    outputIds[1] = 1;
    outputIds[2] = 2;

    plateDefinition.amplifierModel.value.SetValue(amplifierModelNumber);
    plateDefinition.amplifierSerial.value.SetValue(amplifierSerialNumber);
    plateDefinition.platformModel.value.SetValue(platformModelNumber);
    plateDefinition.platformSerial.value.SetValue(platformSerialNumber);
    plateDefinition.firmwareVersion.value.SetValue(amplifierFirmwareVersion);

    // The factor is a float so that the origin, and what the host is shown,
    // come out as the single-precision products.
    origin[0] = origin[0] * kInchesToMetres;
    origin[1] = origin[1] * kInchesToMetres;
    origin[2] = origin[2] * -kInchesToMetres;

    plateDefinition.parameterA.value.SetValue(static_cast<double>(-origin[0]));
    plateDefinition.parameterB.value.SetValue(static_cast<double>(origin[1]));
    plateDefinition.parameterAZ0.value.SetValue(static_cast<double>(-origin[2]));

    name = plateDefinition.amplifierSerial.value.GetValue() + plateDefinition.platformSerial.value.GetValue();

    if (host)
        host->Log(boost::str(boost::format("Instantiating device %d: %s %s %s %s") % deviceIndex %
                             amplifierModelNumber % amplifierSerialNumber % platformModelNumber %
                             platformSerialNumber)
                      .c_str(),
                  LogLevel::kInformation);
}

VKESUMirtDevice::~VKESUMirtDevice() = default;

template <class Body>
auto VKESUMirtDevice::HostCall(const Body& body) -> decltype(body()) {
    if (hostCalls.IsInside()) return body();
    boost::unique_lock<boost::mutex> lock =
        hostTurns ? hostTurns->Lock(mutex) : boost::unique_lock<boost::mutex>(mutex);
    return body();
}

void VKESUMirtDevice::Connect(ZentuDigitalDevice::IDeviceHost* newDeviceHost) {
    HostCall([this, newDeviceHost] { ConnectLocked(newDeviceHost); });
}

void VKESUMirtDevice::ConnectLocked(ZentuDigitalDevice::IDeviceHost* newDeviceHost) {
    deviceHost = newDeviceHost;
    // A host that connects nothing gets nothing published, rather than a crash.
    if (!deviceHost) return;
    deviceHost->SetParameterValue(&plateDefinition.amplifierSerial.value, "AmplifierSerial", "");
    deviceHost->SetParameterValue(&plateDefinition.amplifierModel.value, "AmplifierModel", "");
    deviceHost->SetParameterValue(&plateDefinition.platformModel.value, "PlatformModel", "");
    deviceHost->SetParameterValue(&plateDefinition.platformSerial.value, "PlatformSerial", "");
    deviceHost->SetParameterValue(&plateDefinition.firmwareVersion.value, "FirmwareVersion", "");
    deviceHost->SetParameterValue(&plateDefinition.parameterA.value, "ParameterA", "");
    deviceHost->SetParameterValue(&plateDefinition.parameterB.value, "ParameterB", "");
    deviceHost->SetParameterValue(&plateDefinition.parameterAZ0.value, "ParameterAZ0", "");
    deviceHost->GetParameterValue(&connected, "Connected", "");
    connected.SetValue(true);
    deviceHost->SetParameterValue(&connected, "Connected", "");
}

void VKESUMirtDevice::OnParametersChanged() {
    HostCall([this] {
        for (uint64_t id : ChangedParameterIds(deviceHost, &changedIdsSelector))
            if (id == kBlinkActionId) driver->Blink(deviceIndex);
    });
}

bool VKESUMirtDevice::Start(uint32_t newHostDeviceId, ZentuDigitalDevice::IStreamConfig* streamConfig) {
    return HostCall([&] { return StartLocked(newHostDeviceId, streamConfig); });
}

bool VKESUMirtDevice::StartLocked(uint32_t newHostDeviceId, ZentuDigitalDevice::IStreamConfig* streamConfig) {
    state = 0;
    wrapOffset = 0;
    // Below any counter, so that the capture's first block never counts as a wrap.
    lastCounter = -1;
    hostDeviceId = newHostDeviceId;
    if (!connected.GetValue() || !streamConfig) return false;

    streamConfig->SetSamplesPerPacket(kSamplesPerBlock);
    if (sampleRate == 0) return false;
    const uint32_t divisor = host->GetBaseRate() / sampleRate;
    streamConfig->SetRateDivisor(divisor);
    streamConfig->SetStreamMode(2);
    if (syncMode == 1 && deviceIndex == 0) {
        const auto window = static_cast<uint32_t>(static_cast<double>(std::max<uint32_t>(divisor, 1)) * 1.5);
        streamConfig->DeclareSyncPort(plateDefinition.syncPort.c_str(), 1, window, 0, 0, true);
    }
    return true;
}

void VKESUMirtDevice::Unused4() {}

void VKESUMirtDevice::SetStartTime(double) {}

void VKESUMirtDevice::Stop() {}

void VKESUMirtDevice::GetStatus(uint32_t* stateOut, uint8_t* flag) {
    *flag = 0;
    *stateOut = state;
}

void VKESUMirtDevice::SetConnected(bool value) {
    boost::lock_guard<boost::mutex> lock(mutex);
    connected.SetValue(value);
    if (deviceHost) deviceHost->SetParameterValue(&connected, "Connected", "");
}

void VKESUMirtDevice::SetDataThreshold(double threshold) {
    dataThreshold = threshold;
}

void VKESUMirtDevice::SetSyncMode(uint32_t mode) {
    syncMode = mode;
}

void VKESUMirtDevice::SetDeviceIndex(uint32_t index) {
    boost::lock_guard<boost::mutex> lock(mutex);
    deviceIndex = index;
}

void VKESUMirtDevice::TransferData(const float* block, uint32_t deviceCount) {
    boost::lock_guard<boost::mutex> lock(mutex);
    if (!deviceHost) return;

    // Only a counter the library could have sent converts to an integer
    // without undefined behaviour; anything else leaves the capture's
    // numbering as it was.
    const float counter = block[deviceIndex * kGroupFloats];
    if (!(counter >= 0.0f && counter < static_cast<float>(kCounterRange))) return;

    float values[kValuesPerPacket] = {};
    const float a = origin[0];
    const float b = origin[1];
    const float c = origin[2];
    for (uint32_t s = 0; s < kSamplesPerBlock; ++s) {
        const float* group = block + (deviceIndex + s * deviceCount) * kGroupFloats;
        float* out = values + s * kValuesPerSample;
        const float fx = group[1];
        const float fy = group[2];
        const float fz = group[3];
        const float mx = group[4];
        const float my = group[5];
        const float mz = group[6];
        // A NaN Fz fails this test too, and a non-negative threshold keeps Fz
        // = 0 out of the divisions below.
        if (!(static_cast<double>(std::fabs(fz)) > dataThreshold)) continue;

        const float cx0 = a - ((c * fx + my) / fz);
        const float cy0 = ((mx - c * fy) / fz) + b;
        const float mx0 = mx - (c * fy - b * fz);
        const float my0 = my - (a * fz - c * fx);
        const float mz0 = mz - (b * fx - a * fy);
        out[0] = -fx;
        out[1] = fy;
        out[2] = -fz;
        out[3] = -mx0;
        out[4] = my0;
        out[5] = -mz0;
        out[6] = -cx0;
        out[7] = cy0;
        out[8] = 0.0f;
    }

    const auto k = static_cast<int64_t>(counter);
    if (k <= lastCounter) wrapOffset += kCounterRange;
    lastCounter = k;
    const int64_t firstIndex = wrapOffset - startCounter + k;

    hostCalls.Around([&] {
        deviceHost->WriteSamples(hostDeviceId, firstIndex, kSamplesPerBlock, outputIds.data(),
                                 static_cast<uint32_t>(outputIds.size()), values, kValuesPerPacket);
    });
}

}  // namespace KESU
