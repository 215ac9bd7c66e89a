// The placeholder device that carries the settings common to all plates: the
// hub of the plug-in at run time. It registers the callbacks with the driver
// service, turns each detection into amplifier devices, carries the common
// settings to the driver and to every device, and aligns each capture.
//
// Lock order: mutex, then an amplifier device's mutex, then the driver's
// state and queue mutexes; never the reverse.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>

#include "driver/VKESUDriverService.h"
#include "platform/win/WinApi.h"
#include "plugin/SampleRates.h"
#include "plugin/VHostCallDeferral.h"
#include "plugin/VHostTurns.h"
#include "plugin/VKESUMirtDevice.h"
#include "plugin/VSharedConfigDefinition.h"
#include "sdk/IDevice.h"
#include "sdk/IDeviceFactory.h"
#include "sdk/IDeviceHost.h"
#include "sdk/IHost.h"

namespace KESU {

class VSharedConfigDevice : public ZentuDigitalDevice::IDevice {
public:
    // Amplifier model + serial, platform model + serial.
    typedef std::pair<std::string, std::string> IdentityKey;

    // Host thread (Initialise). Copies the module's host pointer and the
    // static placeholder definition; the driver is borrowed and must outlive
    // every callback it holds of this device.
    explicit VSharedConfigDevice(VKESUDriverService* driver);
    // Touches neither the driver nor the host.
    ~VSharedConfigDevice() override;

    VSharedConfigDevice(const VSharedConfigDevice&) = delete;
    VSharedConfigDevice& operator=(const VSharedConfigDevice&) = delete;

    // Host threads; each takes mutex for its whole body, ahead of the
    // worker's next block. A null device host leaves the device without one:
    // nothing is asked of or told to the host. Called from inside a plate's
    // WriteSamples (the worker, mutex held), each is done once the block has
    // been written to every plate instead, in the order asked; Start then
    // answers at once whether it will start, and OnParametersChanged reads
    // the changed ids at once.
    void Connect(ZentuDigitalDevice::IDeviceHost* deviceHost) override;
    void OnParametersChanged() override;
    bool Start(uint32_t hostDeviceId, ZentuDigitalDevice::IStreamConfig* streamConfig) override;
    void Unused4() override;  // no lock
    void SetStartTime(double seconds) override;
    void Stop() override;
    // Any thread, no lock: reads atomics, so a host asking from inside
    // NotifyStatusChanged (called with mutex held) cannot deadlock.
    void GetStatus(uint32_t* state, uint8_t* flag) override;

    // Driver callbacks, worker thread, no driver lock held; take mutex. None
    // of them throws.
    void OnDriverStatus(bool running);
    void OnDetectionResult(const VKESUDriverService::VDllInitInfo& info,
                           const std::vector<VKESUDriverService::VDeviceInfo>& records);
    void OnDataReady(float* block);

    // Host thread (BeginDeviceInstantiation); takes mutex ahead of the
    // worker's next block, since detection handling reads the factory on the
    // worker.
    void SetFactory(ZentuDigitalDevice::IDeviceFactory* newFactory);

    // Host threads and the worker; callers hold mutex. SetState and
    // ApplySampleRate take each amplifier device's mutex in turn; all of them
    // may queue driver commands (the driver's queue mutex comes after mutex).
    void SetState(uint32_t s);
    void ApplySyncMode();
    void ApplyDataThreshold();
    // 0 resets the supported rates and trigger levels; 100, 300 and 400
    // narrow them; any other type answers -1 and changes nothing.
    int ApplyDeviceType(uint32_t productType);
    // Snaps the host's "SampleRate" to the supported rates and hands it to
    // the driver and every device. False when the text is no valid rate
    // (logged; nothing changes).
    bool ApplySampleRate();

    // Any thread; uses no device state. The match code of the model table
    // (1 to 19): the first row whose model text occurs in the platform's model
    // text, else the first whose length and width both lie within 1 % of the
    // measured sizes; 0 when none does.
    static int MatchPlateModel(VKESUDriverService::VDeviceInfo record);

    // Any thread. 0 software trigger, 1 hardware trigger, 2 genlock; any text
    // not spelt exactly as one of those selects the software trigger.
    static int SyncModeFromText(std::string text);

    // Plain fields, as the exports and the tests reach them; all but the
    // atomics are guarded by mutex.
    boost::mutex mutex;
    std::atomic<uint32_t> state;
    std::atomic<bool> connectedFlag;
    bool detectionOk;
    bool driverRunning;
    uint32_t deviceCount;
    int32_t rateCount;
    uint32_t rates[kDefaultRateCount];
    uint32_t sampleRate;
    std::vector<uint32_t> triggerLevel;
    bool synchronised;
    bool startTimeKnown;
    double startTime;
    uint32_t syncMode;
    ZentuDigitalDevice::IHost* host;
    VKESUDriverService* driver;
    std::vector<boost::shared_ptr<VKESUMirtDevice>> devices;
    // The devices made for each identity, in the order they were made. Records
    // of one identity reuse them in that order, so a detection makes a device
    // only for a record more than any earlier detection had of its identity.
    // Never pruned: the host keeps calling every device it was given.
    std::map<IdentityKey, std::vector<boost::shared_ptr<VKESUMirtDevice>>> byKey;
    ZentuDigitalDevice::IDeviceFactory* factory;
    ZentuDigitalDevice::IDeviceHost* deviceHost;
    uint32_t changedIdsSelector;
    VSharedConfigDefinition definition;
    // A call from inside a plate's WriteSamples, while the worker hands a
    // block to the devices (mutex held), waits for the hand-over.
    VHostCallDeferral hostCalls;
    // Shared with every amplifier device this one makes: the worker gives way
    // to a host thread waiting for either device's lock.
    boost::shared_ptr<VHostTurns> hostTurns;

private:
    // Host threads: runs the body of a host operation with mutex held, or,
    // from inside a write, once the block has been handed over.
    template <class Body>
    void HostCall(const Body& body);
    // Callers hold mutex: the body of Start.
    bool StartCapture();
    // Callers hold mutex, or are the worker inside a plate's write, which
    // holds it further up.
    void ApplyParameterChanges(const std::vector<uint64_t>& ids);
    // Worker thread (detection handling), mutex held. Logs instead of
    // instantiating when no factory was given; marks the device instantiated
    // once the host took it.
    void InstantiateDevice(VKESUMirtDevice& device, const VKESUDriverService::VDeviceInfo& record);
    // Worker thread (data handling), mutex held. Each answers false when the
    // block cannot fix the capture's start counter, which then stays unset.
    bool FindTriggerCounter(const float* block, int64_t& startCounter) const;
    bool CountFromStartTime(const float* block, int64_t& startCounter) const;
};

}  // namespace KESU
