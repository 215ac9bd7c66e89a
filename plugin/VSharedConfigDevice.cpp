#include "plugin/VSharedConfigDevice.h"

#include <algorithm>
#include <boost/bind/bind.hpp>
#include <boost/format.hpp>
#include <boost/lexical_cast.hpp>
#include <cmath>
#include <memory>

#include "driver/DriverValues.h"
#include "platform/win/WinApi.h"
#include "plugin/ModuleStatics.h"
#include "plugin/VKESUPlateModels.h"

namespace KESU {

namespace {

const uint32_t kStateStarting = 0;
const uint32_t kStateRunning = 1;
const uint32_t kStateStopped = 2;

const uint32_t kSoftwareTrigger = 0;
const uint32_t kHardwareTrigger = 1;
const uint32_t kGenlock = 2;

const DWORD kStopToStartPause = 500;

const uint32_t kSamplesPerBlock = 16;
const uint32_t kFloatsPerGroup = 8;
const uint32_t kTriggerFloat = 7;
// The amplifiers count samples in 24 bits.
const float kCounterLimit = 16777216.0f;
// The largest number of samples between the host's start and a block that a
// software-triggered capture is aligned on: 2^53.
const double kMaxStartCount = 9007199254740992.0;

// Rates each amplifier type cannot run at, descending, ended by 0.
const uint32_t kType100Excluded[] = {0};
const uint32_t kType300Excluded[] = {2000, 1800, 1500, 0};
const uint32_t kType400Excluded[] = {2000, 1800, 1500, 1200, 900, 800, 450, 400, 360, 240,
                                     225,  180,  90,   80,   75,  45,  40,  20,  0};

void Log(ZentuDigitalDevice::IHost* host, const std::string& text, int level) {
    if (host) host->Log(text.c_str(), level);
}

// A rate text is a whole decimal number that fits 32 signed bits and is not
// negative; anything else is refused rather than thrown.
bool ReadRate(const std::string& text, uint32_t& rate) {
    int32_t value = 0;
    try {
        value = boost::lexical_cast<int32_t>(text);
    } catch (const boost::bad_lexical_cast&) {
        return false;
    }
    if (value < 0) return false;
    rate = static_cast<uint32_t>(value);
    return true;
}

VSharedConfigDevice::IdentityKey KeyOf(const std::string& amplifierModel, const std::string& amplifierSerial,
                                       const std::string& platformModel, const std::string& platformSerial) {
    return VSharedConfigDevice::IdentityKey(amplifierModel + amplifierSerial, platformModel + platformSerial);
}

VSharedConfigDevice::IdentityKey KeyOf(const VKESUDriverService::VDeviceInfo& record) {
    return KeyOf(record.amplifierModelNumber, record.amplifierSerialNumber, record.platformModelNumber,
                 record.platformSerialNumber);
}

// A sample counter as the amplifiers send it: a whole number below 2^24
// carried in a float. Anything else cannot be turned into an index.
bool IsCounter(float value) {
    return std::isfinite(value) && value >= 0.0f && value < kCounterLimit;
}

VKESUGenericPlateDefinition* NewPlateDefinition(const VKESUDriverService::VDeviceInfo& record) {
    VKESUGenericPlateDefinition* definition =
        NewModelPlateDefinition(VSharedConfigDevice::MatchPlateModel(record));
    if (definition == nullptr) definition = FindConfiguredPlateDefinition(record);
    if (definition == nullptr) definition = new VKESUGenericPlateDefinition;
    return definition;
}

}  // namespace

VSharedConfigDevice::VSharedConfigDevice(VKESUDriverService* driverService)
    : state(kStateStopped),
      connectedFlag(true),
      detectionOk(false),
      driverRunning(false),
      deviceCount(0),
      rateCount(0),
      rates(),
      sampleRate(0),
      synchronised(false),
      startTimeKnown(false),
      startTime(0.0),
      syncMode(kSoftwareTrigger),
      host(g_host),
      driver(driverService),
      factory(nullptr),
      deviceHost(nullptr),
      changedIdsSelector(1),
      definition(g_sharedConfigDefinition),
      hostTurns(new VHostTurns) {}

VSharedConfigDevice::~VSharedConfigDevice() = default;

int VSharedConfigDevice::SyncModeFromText(std::string text) {
    if (text == "Hardware trigger") return 1;
    // Not offered to the host, but a stored "Genlock" still selects it.
    if (text == "Genlock") return 2;
    return 0;
}

void VSharedConfigDevice::SetFactory(ZentuDigitalDevice::IDeviceFactory* newFactory) {
    boost::unique_lock<boost::mutex> lock = hostTurns->Lock(mutex);
    factory = newFactory;
}

// ---- Host operations ----------------------------------------------------------

template <class Body>
void VSharedConfigDevice::HostCall(const Body& body) {
    // A thread inside a plate's write holds mutex further up, in OnDataReady.
    if (hostCalls.IsInside()) {
        hostCalls.Defer(body);
        return;
    }
    boost::unique_lock<boost::mutex> lock = hostTurns->Lock(mutex);
    body();
}

void VSharedConfigDevice::Connect(ZentuDigitalDevice::IDeviceHost* newDeviceHost) {
    using namespace boost::placeholders;
    HostCall([this, newDeviceHost] {
        connectedFlag = true;
        deviceHost = newDeviceHost;
        driver->SetStateCallback(boost::bind(&VSharedConfigDevice::OnDriverStatus, this, _1));
        driver->SetDataCallback(boost::bind(&VSharedConfigDevice::OnDataReady, this, _1));
        driver->DetectDevices(boost::bind(&VSharedConfigDevice::OnDetectionResult, this, _1, _2));
    });
}

void VSharedConfigDevice::OnParametersChanged() {
    // The host owes the changed ids only during its notice.
    if (hostCalls.IsInside()) {
        const std::vector<uint64_t> ids = ChangedParameterIds(deviceHost, &changedIdsSelector);
        hostCalls.Defer([this, ids] { ApplyParameterChanges(ids); });
        return;
    }
    boost::unique_lock<boost::mutex> lock = hostTurns->Lock(mutex);
    ApplyParameterChanges(ChangedParameterIds(deviceHost, &changedIdsSelector));
}

void VSharedConfigDevice::ApplyParameterChanges(const std::vector<uint64_t>& ids) {
    using namespace boost::placeholders;
    for (uint64_t id : ids) {
        if (id == definition.sampleRate.id) {
            driver->Stop();
            ApplySampleRate();
        } else if (id == definition.syncMode.id) {
            driver->Stop();
            ApplySyncMode();
        } else if (id == definition.dataThreshold.id) {
            ApplyDataThreshold();
        } else if (id == definition.broadcastZero.id) {
            driver->Zero();
        } else if (id == definition.scanForHardware.id) {
            driver->DetectDevices(boost::bind(&VSharedConfigDevice::OnDetectionResult, this, _1, _2));
        }
    }
}

bool VSharedConfigDevice::Start(uint32_t, ZentuDigitalDevice::IStreamConfig*) {
    if (hostCalls.IsInside()) {
        hostCalls.Defer([this] { StartCapture(); });
        // Nothing done before the deferred start changes the detection or the
        // devices: detections only queue.
        return detectionOk && !devices.empty();
    }
    boost::unique_lock<boost::mutex> lock = hostTurns->Lock(mutex);
    return StartCapture();
}

bool VSharedConfigDevice::StartCapture() {
    connectedFlag = false;
    synchronised = (syncMode == kGenlock);
    startTimeKnown = false;
    startTime = 0.0;

    if (!detectionOk || devices.empty() || !ApplySampleRate()) {
        state = kStateStopped;
        return false;
    }
    driver->Stop();
    state = kStateStarting;
    // The amplifiers need the stop to have settled before they start again.
    Sleep(kStopToStartPause);
    driver->Start();
    return true;
}

void VSharedConfigDevice::Unused4() {}

void VSharedConfigDevice::SetStartTime(double seconds) {
    HostCall([this, seconds] {
        if (syncMode != kSoftwareTrigger) return;
        startTime = seconds;
        startTimeKnown = true;
    });
}

void VSharedConfigDevice::Stop() {
    HostCall([this] {
        driverRunning = false;
        SetState(kStateStopped);
    });
}

void VSharedConfigDevice::GetStatus(uint32_t* stateOut, uint8_t* flagOut) {
    if (stateOut) *stateOut = state;
    if (flagOut) *flagOut = connectedFlag ? 1 : 0;
}

// ---- Settings -------------------------------------------------------------------

void VSharedConfigDevice::SetState(uint32_t s) {
    state = s;
    for (const boost::shared_ptr<VKESUMirtDevice>& device : devices) {
        boost::unique_lock<boost::mutex> deviceLock(device->mutex);
        device->state = s;
    }
}

void VSharedConfigDevice::ApplySyncMode() {
    if (!deviceHost) return;
    deviceHost->GetParameterValue(&definition.syncMode.value, definition.syncMode.name.c_str(), "");
    syncMode = static_cast<uint32_t>(SyncModeFromText(definition.syncMode.value.GetValue()));
    driver->SetGenlockMode(syncMode == kGenlock);
    for (const boost::shared_ptr<VKESUMirtDevice>& device : devices) device->SetSyncMode(syncMode);
}

void VSharedConfigDevice::ApplyDataThreshold() {
    if (!deviceHost) return;
    deviceHost->GetParameterValue(&definition.dataThreshold.value, definition.dataThreshold.name.c_str(), "");
    const double threshold = definition.dataThreshold.value.GetValue();
    for (const boost::shared_ptr<VKESUMirtDevice>& device : devices) device->SetDataThreshold(threshold);
}

// ---- Sample rates ---------------------------------------------------------------

int VSharedConfigDevice::ApplyDeviceType(uint32_t productType) {
    const uint32_t* excluded = nullptr;
    uint32_t level = 0;
    switch (productType) {
        case 0:
            std::copy(kDefaultRates, kDefaultRates + kDefaultRateCount, rates);
            rateCount = kDefaultRateCount;
            triggerLevel.clear();
            return 0;
        case 100:
            excluded = kType100Excluded;
            level = 1;
            break;
        case 300:
            excluded = kType300Excluded;
            level = 1;
            break;
        case 400:
            excluded = kType400Excluded;
            level = 0;
            break;
        default:
            return -1;
    }
    triggerLevel.push_back(level);

    // Both lists descend, so one walk over each removes every excluded rate.
    size_t k = 0;
    int32_t write = 0;
    int32_t dropped = 0;
    for (int32_t read = 0; read < rateCount; ++read) {
        const uint32_t rate = rates[read];
        while (excluded[k] > rate) ++k;
        if (excluded[k] == 0 && dropped == 0) break;
        if (excluded[k] == rate) {
            ++dropped;
            ++k;
            continue;
        }
        rates[write++] = rate;
    }
    rateCount -= dropped;
    return 0;
}

bool VSharedConfigDevice::ApplySampleRate() {
    if (!deviceHost) return true;
    deviceHost->GetParameterValue(&definition.sampleRate.value, definition.sampleRate.name.c_str(), "");
    const std::string text = definition.sampleRate.value.GetValue();
    uint32_t requested = 0;
    if (!ReadRate(text, requested)) {
        Log(host, boost::str(boost::format("Sample rate \"%s\" is not a valid rate") % text),
            LogLevel::kError);
        return false;
    }

    // The nearer supported neighbour wins, a tie goes to the lower one, and a
    // request above every supported rate passes unchanged.
    uint32_t best = requested;
    for (int32_t i = 0; i < rateCount; ++i) {
        const uint32_t rate = rates[i];
        if (rate == requested) {
            best = requested;
            break;
        }
        if (rate > requested) {
            best = rate;
            continue;
        }
        if (requested - rate <= best - requested) best = rate;
        break;
    }

    if (best != requested)
        Log(host,
            boost::str(boost::format("Sample rate %d adjusted to %d to match devices") % requested % best),
            LogLevel::kWarning);
    driver->SetAcquisitionRate(best);
    for (const boost::shared_ptr<VKESUMirtDevice>& device : devices) {
        boost::unique_lock<boost::mutex> deviceLock(device->mutex);
        device->sampleRate = best;
    }
    sampleRate = best;
    return true;
}

// ---- Driver callbacks -----------------------------------------------------------

void VSharedConfigDevice::OnDriverStatus(bool running) {
    boost::unique_lock<boost::mutex> lock(mutex);
    if (running) {
        SetState(kStateRunning);
        driverRunning = true;
    } else {
        if (driverRunning) connectedFlag = true;
        // The stop that Start queues ahead of its start must not end the start.
        if (state != kStateStarting) SetState(kStateStopped);
        driverRunning = false;
    }
    if (deviceHost) deviceHost->NotifyStatusChanged();
}

void VSharedConfigDevice::OnDetectionResult(const VKESUDriverService::VDllInitInfo& info,
                                            const std::vector<VKESUDriverService::VDeviceInfo>& records) {
    using boost::format;
    using boost::str;
    boost::unique_lock<boost::mutex> lock(mutex);

    if (info.status == DllInitStatus::kTimedOut) {
        Log(host, str(format("Unsuccessful KESU device detection loop: %s") % info.message),
            LogLevel::kError);
        detectionOk = false;
    } else {
        Log(host, str(format("Successful KESU device detection loop: %s") % info.message),
            LogLevel::kInformation);
        detectionOk = true;
    }

    ApplyDeviceType(0);

    for (const boost::shared_ptr<VKESUMirtDevice>& device : devices) device->SetConnected(false);
    devices.clear();

    deviceCount = static_cast<uint32_t>(records.size());
    Log(host, str(format("Detected %d KESU digital devices") % deviceCount), LogLevel::kInformation);

    for (const VKESUDriverService::VDeviceInfo& original : records) {
        const VKESUDriverService::VDeviceInfo record = original;
        // Type 0 would start the list afresh in mid-detection; a library
        // answers it for a type it could not read, which is no supported one.
        if (record.productType == 0 || ApplyDeviceType(static_cast<uint32_t>(record.productType)) < 0) {
            Log(host, str(format("Detected unsupported device type %d, skipping...)") % record.productType),
                LogLevel::kWarning);
            continue;
        }

        boost::shared_ptr<VKESUMirtDevice> device;
        std::vector<boost::shared_ptr<VKESUMirtDevice>>& known = byKey[KeyOf(record)];
        // Two records of one identity in one detection get a device each.
        for (const boost::shared_ptr<VKESUMirtDevice>& candidate : known)
            if (std::find(devices.begin(), devices.end(), candidate) == devices.end()) {
                device = candidate;
                break;
            }

        if (device) {
            devices.push_back(device);
        } else {
            uint32_t rate = sampleRate;
            ReadRate(definition.sampleRate.value.GetValue(), rate);
            const std::unique_ptr<VKESUGenericPlateDefinition> plate(NewPlateDefinition(record));
            device.reset(new VKESUMirtDevice(rate, record, *plate, host, driver));
            device->hostTurns = hostTurns;
            known.push_back(device);
            devices.push_back(device);
        }
        // Also a device the host refused, or had no factory for, last time.
        if (!device->instantiated) InstantiateDevice(*device, record);

        device->SetConnected(true);
        device->SetDeviceIndex(record.deviceIndex);
    }

    connectedFlag = true;
    if (deviceHost) deviceHost->NotifyStatusChanged();

    ApplySampleRate();
    ApplySyncMode();
    ApplyDataThreshold();
}

void VSharedConfigDevice::InstantiateDevice(VKESUMirtDevice& device,
                                            const VKESUDriverService::VDeviceInfo& record) {
    using boost::format;
    using boost::str;
    if (!factory) {
        Log(host, str(format("No host device factory to instantiate device %s") % record.platformModelNumber),
            LogLevel::kWarning);
        return;
    }
    const VKESUGenericPlateDefinition& plate = device.plateDefinition;
    ZentuDigitalDevice::ResultPtr result = factory->InstantiateDevice(
        plate.maker.c_str(), plate.name.c_str(), plate.version.c_str(), device.name.c_str(), &device);
    if (result.IsEmpty()) {
        device.instantiated = true;
        return;
    }
    const char* refusal = result.GetText();
    Log(host,
        str(format("Host returned \"%s\" when trying to instantiate device %s") % (refusal ? refusal : "") %
            record.platformModelNumber),
        LogLevel::kWarning);
}

void VSharedConfigDevice::OnDataReady(float* block) {
    hostTurns->GiveWay();
    boost::unique_lock<boost::mutex> lock(mutex);
    if (block == nullptr) {
        Log(host, "Transfer data called with null pointer", LogLevel::kWarning);
        return;
    }

    if (!synchronised) {
        int64_t startCounter = 0;
        const bool aligned = syncMode == kHardwareTrigger ? FindTriggerCounter(block, startCounter)
                                                          : CountFromStartTime(block, startCounter);
        if (!aligned) return;
        for (const boost::shared_ptr<VKESUMirtDevice>& device : devices) device->startCounter = startCounter;
        synchronised = true;
    }

    hostCalls.Around([&] {
        for (const boost::shared_ptr<VKESUMirtDevice>& device : devices)
            device->TransferData(block, deviceCount);
    });
}

bool VSharedConfigDevice::FindTriggerCounter(const float* block, int64_t& startCounter) const {
    if (deviceCount == 0) return false;
    bool hit = false;
    const size_t positions = std::min(devices.size(), triggerLevel.size());
    for (size_t d = 0; d < positions; ++d) {
        // Each level belongs to its own amplifier's group, wherever an
        // unsupported amplifier puts that group in the block.
        const uint32_t group = devices[d]->deviceIndex;
        if (group >= deviceCount) continue;
        const float level = static_cast<float>(triggerLevel[d]);
        for (uint32_t s = 0; s < kSamplesPerBlock; ++s) {
            const float* values = block + (static_cast<size_t>(s) * deviceCount + group) * kFloatsPerGroup;
            if (values[kTriggerFloat] != level || !IsCounter(values[0])) continue;
            // A later amplifier's hit replaces an earlier one's.
            startCounter = static_cast<int64_t>(values[0]);
            hit = true;
            break;
        }
    }
    return hit;
}

bool VSharedConfigDevice::CountFromStartTime(const float* block, int64_t& startCounter) const {
    if (!startTimeKnown || !host || !IsCounter(block[0])) return false;
    const double elapsed = host->GetTime() - startTime;
    const double count = static_cast<double>(sampleRate) * elapsed;
    // A clock that answers nonsense gives no alignment rather than a wild
    // one. A count up to 2^53 is exact in a double, and every index of a capture
    // (counters below 2^24 plus a wrap offset) stays far inside 64 bits.
    if (!std::isfinite(count) || std::fabs(count) > kMaxStartCount) return false;
    startCounter = static_cast<int64_t>(block[0]) - static_cast<int64_t>(count);
    return true;
}

}  // namespace KESU
