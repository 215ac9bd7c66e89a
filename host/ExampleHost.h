// The host side of the plug-in interfaces, as a small example host plays it:
// it logs to a stream, keeps the definitions it is given, instantiates
// devices, holds their parameter values as byte images and keeps every
// sample packet written to it.
//
// Threads: the host's own thread calls the module's exports and the devices;
// the module's worker thread instantiates devices, reads and writes their
// parameters and writes samples. One recursive mutex guards everything here;
// no device is called while it is held.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "sdk/IDevice.h"
#include "sdk/IDeviceDefinitionBuilder.h"
#include "sdk/IDeviceFactory.h"
#include "sdk/IDeviceHost.h"
#include "sdk/IHost.h"
#include "sdk/IStreamConfig.h"

namespace KESUHost {

// "trace", "info", "warning", "error"; "level N" for any other level.
std::string LevelName(int level);

struct Parameter {
    std::string name;
    uint64_t id = 0;
    std::vector<unsigned char> image;
};

struct Definition {
    std::string maker, name, version, description, type;
    std::vector<Parameter> parameters;
    std::string syncPort;
    // "Force: Fx Fy Fz"
    std::vector<std::string> outputs;
    bool finished = false;
};

// One WriteSamples call: sampleCount samples of 9 values, sample after
// sample (Fx Fy Fz, Mx My Mz, Cx Cy Cz).
struct Packet {
    int64_t firstIndex = 0;
    uint32_t sampleCount = 0;
    std::vector<float> values;
};

// What a device declared for its stream when it started.
struct StreamDeclaration {
    uint32_t rateDivisor = 0;
    uint32_t samplesPerPacket = 0;
    uint32_t streamMode = 0;
    std::vector<std::string> syncPorts;
};

class ExampleHost;

// The host side of one device instance.
class DeviceHost : public ZentuDigitalDevice::IDeviceHost, public ZentuDigitalDevice::IStreamConfig {
public:
    DeviceHost(const DeviceHost&) = delete;
    DeviceHost& operator=(const DeviceHost&) = delete;

    // IDeviceHost: the host thread, and the module's worker thread while it
    // holds the module's device locks; each takes the host's mutex only. An
    // unknown parameter, or a value of another type than the one held, is
    // refused.
    ZentuDigitalDevice::ResultPtr GetParameterValue(ZentuDigitalDevice::IParameterValue* into,
                                                    const char* name, const char* scope) override;
    ZentuDigitalDevice::ResultPtr SetParameterValue(const ZentuDigitalDevice::IParameterValue* value,
                                                    const char* name, const char* scope) override;
    uint32_t GetChangedParameterCount() override;
    ZentuDigitalDevice::ResultPtr GetChangedParameterIds(const uint32_t* selector, uint64_t* ids,
                                                         uint32_t* count) override;
    ZentuDigitalDevice::ResultPtr WriteSamples(uint32_t hostDeviceId, int64_t firstIndex,
                                               uint32_t sampleCount, const uint32_t* outputIds,
                                               uint32_t outputCount, const float* values,
                                               uint32_t valueCount) override;
    void NotifyStatusChanged() override;

    // IStreamConfig: the host thread, inside the device's Start.
    ZentuDigitalDevice::ResultPtr SetRateDivisor(uint32_t divisor) override;
    ZentuDigitalDevice::ResultPtr DeclareSyncPort(const char* name, uint32_t kind, uint32_t window,
                                                  uint32_t reservedA, uint32_t reservedB,
                                                  bool enabled) override;
    void SetStreamMode(uint32_t mode) override;
    ZentuDigitalDevice::ResultPtr SetSamplesPerPacket(uint32_t samples) override;

    // The host's side, any thread.
    ZentuDigitalDevice::IDevice* Device() const { return device_; }
    uint32_t HostDeviceId() const { return hostDeviceId_; }
    const std::string& InstanceName() const { return instanceName_; }
    // The definition it was instantiated from.
    const Definition& Of() const { return definition_; }
    // As a user changes a value: stored through its image, and its id is
    // answered as changed until the device next asks. False for an unknown
    // name or another type.
    bool SetValue(const std::string& name, const ZentuDigitalDevice::IParameterValue& value);
    // Loads the held value into `into`; false when there is none or it does not load.
    bool ReadValue(const std::string& name, ZentuDigitalDevice::IParameterValue& into) const;
    // The packets kept (none while a packet sink is set).
    std::vector<Packet> Packets() const;
    // Every packet received: kept, handed to the sink or refused.
    size_t PacketCount() const;
    // Drops the packets received so far.
    void ClearPackets();
    int StatusNotifications() const;
    StreamDeclaration Stream() const;

private:
    friend class ExampleHost;
    DeviceHost(ExampleHost& host, uint32_t hostDeviceId, std::string instanceName, Definition definition,
               ZentuDigitalDevice::IDevice* device);

    ExampleHost& host_;
    const uint32_t hostDeviceId_;
    const std::string instanceName_;
    const Definition definition_;
    ZentuDigitalDevice::IDevice* const device_;
    // Guarded by the host's mutex.
    std::map<std::string, Parameter> values_;
    std::vector<uint64_t> changedIds_;
    uint32_t answeredCount_ = 0;
    std::vector<Packet> packets_;
    size_t packetCount_ = 0;
    int statusNotifications_ = 0;
    StreamDeclaration stream_;
};

class ExampleHost : public ZentuDigitalDevice::IHost,
                    public ZentuDigitalDevice::IDeviceDefinitionBuilder,
                    public ZentuDigitalDevice::IDeviceFactory {
public:
    // Log lines go to `log`, one per call, with the level's name.
    explicit ExampleHost(std::ostream& log);
    ~ExampleHost();
    ExampleHost(const ExampleHost&) = delete;
    ExampleHost& operator=(const ExampleHost&) = delete;

    // IHost: the host thread and the module's worker thread, which may hold
    // the module's locks; each takes the host's mutex only.
    void Log(const char* text, int level) override;
    uint32_t GetBaseRate() override;
    void Unused2() override;
    double GetTime() override;

    // IDeviceDefinitionBuilder: the host thread, inside ProvideDeviceDefinitions.
    ZentuDigitalDevice::ResultPtr DefineDevice(const char* maker, const char* name, const char* version,
                                               const char* description, const char* type,
                                               const char* addLabel, const char* scope) override;
    ZentuDigitalDevice::ResultPtr AddParameter(const char* name, const char* displayName,
                                               const char* description, const char* group, bool flag,
                                               const ZentuDigitalDevice::IParameterValue* value,
                                               uint64_t id) override;
    ZentuDigitalDevice::ResultPtr SetSyncPort(const char* name) override;
    ZentuDigitalDevice::ResultPtr AddOutput(const char* name, uint32_t kind) override;
    ZentuDigitalDevice::ResultPtr AddComponent(const char* name) override;
    void Unused5() override;
    ZentuDigitalDevice::ResultPtr Finish() override;

    // IDeviceFactory: the host thread (placeholder device) and the module's
    // worker thread under the placeholder device's lock (plate devices).
    // Refused unless a definition of that maker, name and version was given;
    // the new instance holds its values.
    ZentuDigitalDevice::ResultPtr InstantiateDevice(const char* maker, const char* definitionName,
                                                    const char* version, const char* instanceName,
                                                    ZentuDigitalDevice::IDevice* device) override;

    static constexpr uint32_t kBaseRate = 1000000;

    // Seconds for GetTime; a steady clock from the host's construction unless replaced.
    void SetClock(std::function<double()> clock);

    std::vector<Definition> Definitions() const;
    // In the order of instantiation.
    std::vector<DeviceHost*> Instances() const;
    std::vector<std::string> LogLines() const;
    // The lines from this one on (none past the end).
    std::vector<std::string> LogLinesFrom(size_t first) const;

    // Packets as they arrive, instead of keeping them (empty: keep them):
    // called on the writing thread with the host's mutex held, so a long
    // capture needs no memory per packet. The values are only lent.
    typedef std::function<void(const DeviceHost& device, int64_t firstIndex, uint32_t sampleCount,
                               const float* values)>
        PacketSink;
    void SetPacketSink(PacketSink sink);

    // A host that says no: every call of "InstantiateDevice",
    // "GetParameterValue" or "WriteSamples" is refused from now on while on.
    void RefuseEvery(const std::string& operation, bool on);

    // A host that calls back into the plug-in: run on the calling thread at
    // the end of "InstantiateDevice" (with the new instance),
    // "NotifyStatusChanged" and "WriteSamples", without the host's mutex and
    // with whatever locks the plug-in holds there. Empty: none.
    typedef std::function<void(const std::string& operation, DeviceHost& device)> Reentry;
    void SetReentry(Reentry reentry);

    // Waits until the condition holds (it may call this host, not a device);
    // false when the timeout, a safety net, runs out first.
    bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const;

private:
    friend class DeviceHost;
    // Under mutex_.
    void Changed() const { changed_.notify_all(); }

    mutable std::recursive_mutex mutex_;
    mutable std::condition_variable_any changed_;
    std::ostream& log_;
    std::vector<std::string> logLines_;
    std::function<double()> clock_;
    std::vector<Definition> definitions_;
    std::vector<std::unique_ptr<DeviceHost>> instances_;
    PacketSink sink_;
    std::vector<std::string> refused_;
    Reentry reentry_;

    // Under mutex_.
    bool Refuses(const char* operation) const;
    // Takes mutex_ for the copy only; calls the hook unlocked.
    void Reenter(const char* operation, DeviceHost& device) const;
};

}  // namespace KESUHost
