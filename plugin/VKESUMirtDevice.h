// The host device of one detected amplifier and the force plate wired to it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>

#include "driver/VKESUDriverService.h"
#include "plugin/VHostCallDeferral.h"
#include "plugin/VHostTurns.h"
#include "plugin/VKESUGenericPlateDefinition.h"
#include "sdk/IDevice.h"
#include "sdk/IDeviceHost.h"
#include "sdk/IHost.h"
#include "sdk/IStreamConfig.h"
#include "sdk/ParameterValues.h"

namespace KESU {

class VKESUMirtDevice : public ZentuDigitalDevice::IDevice {
public:
    // Worker thread (detection handling), placeholder mutex held. Logs one
    // line through host (when there is one); the caller may destroy definition right after.
    VKESUMirtDevice(uint32_t sampleRate, const VKESUDriverService::VDeviceInfo& record,
                    const VKESUGenericPlateDefinition& definition, ZentuDigitalDevice::IHost* host,
                    VKESUDriverService* driver);
    // Calls neither the host nor the driver.
    ~VKESUMirtDevice() override;

    VKESUMirtDevice(const VKESUMirtDevice&) = delete;
    VKESUMirtDevice& operator=(const VKESUMirtDevice&) = delete;

    // Host threads; each takes mutex for the whole body, host calls
    // included, ahead of the worker's next block. Called from inside this
    // device's own WriteSamples (the worker, mutex held further up), each
    // runs at once without taking mutex: the write needs nothing they change
    // once it returns, and Start must declare the stream to the configuration
    // the host lends for that call only.
    void Connect(ZentuDigitalDevice::IDeviceHost* deviceHost) override;
    void OnParametersChanged() override;
    // A null streamConfig answers false and declares nothing.
    bool Start(uint32_t hostDeviceId, ZentuDigitalDevice::IStreamConfig* streamConfig) override;
    // No effect and no lock: the placeholder device holds the capture's
    // start time and does the stopping.
    void Unused4() override;
    void SetStartTime(double startTime) override;
    void Stop() override;
    // Any thread, no lock: reads the atomic state, so a host asking from
    // inside one of its own callbacks while mutex is held cannot deadlock.
    void GetStatus(uint32_t* state, uint8_t* flag) override;

    // Worker thread, placeholder mutex held; takes mutex.
    virtual void SetConnected(bool connected);
    // Worker thread, placeholder mutex held; single stores without mutex.
    virtual void SetDataThreshold(double threshold);
    virtual void SetSyncMode(uint32_t mode);

    // Worker thread, placeholder mutex held; takes mutex.
    void SetDeviceIndex(uint32_t index);
    // Worker thread, placeholder mutex held; takes mutex for the whole call,
    // the host write included. block holds 16 x deviceCount groups of 8 floats.
    void TransferData(const float* block, uint32_t deviceCount);

    // Plain fields, as the placeholder device and the tests reach them. The
    // placeholder device writes state and sampleRate under this device's mutex, and
    // startCounter from the worker thread under its own mutex only.
    boost::mutex mutex;
    VKESUDriverService* driver;
    ZentuDigitalDevice::IDeviceHost* deviceHost;
    ZentuDigitalDevice::IHost* host;
    ZentuDigitalDevice::IParameterValueBool connected;
    uint32_t deviceIndex;
    std::vector<float> origin;  // a, b, c in metres
    std::vector<uint32_t> outputIds;
    uint32_t hostDeviceId;
    uint32_t changedIdsSelector;
    std::string name;
    VKESUGenericPlateDefinition plateDefinition;
    std::string amplifierModelNumber;
    std::string amplifierSerialNumber;
    std::string platformModelNumber;
    std::string platformSerialNumber;
    std::string amplifierFirmwareVersion;
    // Read without mutex by GetStatus.
    std::atomic<uint32_t> state;
    // Stored without mutex by the worker while a host thread's Start reads it.
    std::atomic<uint32_t> syncMode;
    uint32_t sampleRate;
    int64_t startCounter;
    int64_t wrapOffset;
    // -1 until the first block of a capture, so that no counter counts as a wrap.
    int64_t lastCounter;
    double dataThreshold;
    // Whether the host took the device; the placeholder device reads and
    // writes it under its own mutex and offers a device not taken again.
    bool instantiated;
    // Marks the worker inside this device's WriteSamples (mutex held).
    VHostCallDeferral hostCalls;
    // The placeholder device's, which made this one; empty for a device on
    // its own, whose host calls then simply take mutex.
    boost::shared_ptr<VHostTurns> hostTurns;

private:
    // Host threads: runs the body of a host operation with mutex held by
    // this call or, inside this device's write, further up.
    template <class Body>
    auto HostCall(const Body& body) -> decltype(body());
    // Callers hold mutex: the bodies of Connect and Start.
    void ConnectLocked(ZentuDigitalDevice::IDeviceHost* deviceHost);
    bool StartLocked(uint32_t hostDeviceId, ZentuDigitalDevice::IStreamConfig* streamConfig);
};

}  // namespace KESU
