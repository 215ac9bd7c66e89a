#include "host/ExampleHost.h"

#include <algorithm>
#include <atomic>

#include "sdk/ValueImage.h"

namespace KESUHost {

using ZentuDigitalDevice::IDevice;
using ZentuDigitalDevice::IParameterValue;
using ZentuDigitalDevice::IResult;
using ZentuDigitalDevice::ResultPtr;

namespace {

class Refusal final : public IResult {
public:
    explicit Refusal(std::string text) : text_(std::move(text)) {}
    const char* GetText() const override { return text_.c_str(); }
    void AddRef() override { ++references_; }
    void Release() override {
        if (--references_ == 0) delete this;
    }

private:
    const std::string text_;
    std::atomic<int> references_{1};
};

ResultPtr Refuse(const std::string& text) {
    return ResultPtr(new Refusal(text));
}

// Empty when there is no value or it gives no image.
std::vector<unsigned char> ImageOf(const IParameterValue* value) {
    return value == nullptr ? std::vector<unsigned char>() : ZentuDigitalDevice::ImageOf(*value);
}

// The type tag leads every image, little-endian; -1 for an image too short to hold one.
int64_t TypeOf(const std::vector<unsigned char>& image) {
    if (image.size() < 4) return -1;
    return int64_t(image[0]) | int64_t(image[1]) << 8 | int64_t(image[2]) << 16 | int64_t(image[3]) << 24;
}

std::string Text(const char* text) {
    return text ? text : "";
}

}  // namespace

std::string LevelName(int level) {
    static const char* const names[] = {"trace", "info", "warning", "error"};
    if (level >= 0 && level < 4) return names[level];
    return "level " + std::to_string(level);
}

// ---- DeviceHost ---------------------------------------------------------------

DeviceHost::DeviceHost(ExampleHost& host, uint32_t hostDeviceId, std::string instanceName,
                       Definition definition, IDevice* device)
    : host_(host),
      hostDeviceId_(hostDeviceId),
      instanceName_(std::move(instanceName)),
      definition_(std::move(definition)),
      device_(device) {
    for (const Parameter& parameter : definition_.parameters) values_[parameter.name] = parameter;
}

ResultPtr DeviceHost::GetParameterValue(IParameterValue* into, const char* name, const char*) {
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    if (host_.Refuses("GetParameterValue")) return Refuse("Parameter reads are refused");
    const auto held = values_.find(Text(name));
    if (held == values_.end()) return Refuse("Unknown parameter " + Text(name));
    const std::vector<unsigned char>& image = held->second.image;
    if (into == nullptr || !into->LoadFromBytes(image.data(), static_cast<uint32_t>(image.size())))
        return Refuse("Parameter " + Text(name) + " holds a value of another type");
    return ResultPtr();
}

ResultPtr DeviceHost::SetParameterValue(const IParameterValue* value, const char* name, const char*) {
    const std::vector<unsigned char> image = ImageOf(value);
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    if (TypeOf(image) < 0) return Refuse("Parameter value without an image");
    Parameter& held = values_[Text(name)];
    if (!held.image.empty() && TypeOf(held.image) != TypeOf(image))
        return Refuse("Parameter " + Text(name) + " holds a value of another type");
    held.name = Text(name);
    held.image = image;
    host_.Changed();
    return ResultPtr();
}

uint32_t DeviceHost::GetChangedParameterCount() {
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    answeredCount_ = static_cast<uint32_t>(changedIds_.size());
    return answeredCount_;
}

ResultPtr DeviceHost::GetChangedParameterIds(const uint32_t*, uint64_t* ids, uint32_t* count) {
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    // The device made room for the count it was last answered; a change that
    // came after that is answered next time.
    const uint32_t n = std::min(answeredCount_, static_cast<uint32_t>(changedIds_.size()));
    std::copy(changedIds_.begin(), changedIds_.begin() + n, ids);
    changedIds_.erase(changedIds_.begin(), changedIds_.begin() + n);
    *count = n;
    answeredCount_ = 0;
    return ResultPtr();
}

ResultPtr DeviceHost::WriteSamples(uint32_t, int64_t firstIndex, uint32_t sampleCount, const uint32_t*,
                                   uint32_t outputCount, const float* values, uint32_t valueCount) {
    if (outputCount != 3 || valueCount != sampleCount * 9 || values == nullptr)
        return Refuse("Samples do not match the three outputs of three components");
    {
        std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
        // Waiters look again only once the lock is released, so one notice
        // covers the count and the packet kept below.
        ++packetCount_;
        host_.Changed();
        if (host_.Refuses("WriteSamples")) return Refuse("Sample writes are refused");
        if (host_.sink_) {
            host_.sink_(*this, firstIndex, sampleCount, values);
        } else {
            Packet packet;
            packet.firstIndex = firstIndex;
            packet.sampleCount = sampleCount;
            packet.values.assign(values, values + valueCount);
            packets_.push_back(std::move(packet));
        }
    }
    host_.Reenter("WriteSamples", *this);
    return ResultPtr();
}

void DeviceHost::NotifyStatusChanged() {
    {
        std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
        ++statusNotifications_;
        host_.Changed();
    }
    host_.Reenter("NotifyStatusChanged", *this);
}

ResultPtr DeviceHost::SetRateDivisor(uint32_t divisor) {
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    stream_.rateDivisor = divisor;
    return ResultPtr();
}

ResultPtr DeviceHost::DeclareSyncPort(const char* name, uint32_t, uint32_t, uint32_t, uint32_t, bool) {
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    stream_.syncPorts.push_back(Text(name));
    return ResultPtr();
}

void DeviceHost::SetStreamMode(uint32_t mode) {
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    stream_.streamMode = mode;
}

ResultPtr DeviceHost::SetSamplesPerPacket(uint32_t samples) {
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    stream_.samplesPerPacket = samples;
    return ResultPtr();
}

bool DeviceHost::SetValue(const std::string& name, const IParameterValue& value) {
    const std::vector<unsigned char> image = ImageOf(&value);
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    const auto held = values_.find(name);
    if (held == values_.end() || TypeOf(held->second.image) != TypeOf(image)) return false;
    held->second.image = image;
    if (std::find(changedIds_.begin(), changedIds_.end(), held->second.id) == changedIds_.end())
        changedIds_.push_back(held->second.id);
    return true;
}

bool DeviceHost::ReadValue(const std::string& name, IParameterValue& into) const {
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    const auto held = values_.find(name);
    return held != values_.end() &&
           into.LoadFromBytes(held->second.image.data(), static_cast<uint32_t>(held->second.image.size()));
}

std::vector<Packet> DeviceHost::Packets() const {
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    return packets_;
}

size_t DeviceHost::PacketCount() const {
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    return packetCount_;
}

void DeviceHost::ClearPackets() {
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    packets_.clear();
    packetCount_ = 0;
}

int DeviceHost::StatusNotifications() const {
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    return statusNotifications_;
}

StreamDeclaration DeviceHost::Stream() const {
    std::lock_guard<std::recursive_mutex> lock(host_.mutex_);
    return stream_;
}

// ---- ExampleHost ----------------------------------------------------------------

ExampleHost::ExampleHost(std::ostream& log) : log_(log) {
    const auto start = std::chrono::steady_clock::now();
    clock_ = [start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
}

ExampleHost::~ExampleHost() = default;

void ExampleHost::Log(const char* text, int level) {
    const std::string line = "[" + LevelName(level) + "] " + Text(text);
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    log_ << line << '\n' << std::flush;
    logLines_.push_back(line);
    Changed();
}

uint32_t ExampleHost::GetBaseRate() {
    return kBaseRate;
}

void ExampleHost::Unused2() {}

double ExampleHost::GetTime() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return clock_();
}

ResultPtr ExampleHost::DefineDevice(const char* maker, const char* name, const char* version,
                                    const char* description, const char* type, const char*, const char*) {
    Definition definition;
    definition.maker = Text(maker);
    definition.name = Text(name);
    definition.version = Text(version);
    definition.description = Text(description);
    definition.type = Text(type);
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    definitions_.push_back(std::move(definition));
    return ResultPtr();
}

ResultPtr ExampleHost::AddParameter(const char* name, const char*, const char*, const char*, bool,
                                    const IParameterValue* value, uint64_t id) {
    Parameter parameter;
    parameter.name = Text(name);
    parameter.id = id;
    parameter.image = ImageOf(value);
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (definitions_.empty()) return Refuse("No device is being defined");
    if (TypeOf(parameter.image) < 0) return Refuse("Parameter value without an image");
    definitions_.back().parameters.push_back(std::move(parameter));
    return ResultPtr();
}

ResultPtr ExampleHost::SetSyncPort(const char* name) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (definitions_.empty()) return Refuse("No device is being defined");
    definitions_.back().syncPort = Text(name);
    return ResultPtr();
}

ResultPtr ExampleHost::AddOutput(const char* name, uint32_t) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (definitions_.empty()) return Refuse("No device is being defined");
    definitions_.back().outputs.push_back(Text(name) + ":");
    return ResultPtr();
}

ResultPtr ExampleHost::AddComponent(const char* name) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (definitions_.empty() || definitions_.back().outputs.empty())
        return Refuse("No output is being defined");
    definitions_.back().outputs.back() += " " + Text(name);
    return ResultPtr();
}

void ExampleHost::Unused5() {}

ResultPtr ExampleHost::Finish() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (definitions_.empty()) return Refuse("No device is being defined");
    definitions_.back().finished = true;
    return ResultPtr();
}

ResultPtr ExampleHost::InstantiateDevice(const char* maker, const char* definitionName, const char* version,
                                         const char* instanceName, IDevice* device) {
    DeviceHost* instance = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (Refuses("InstantiateDevice")) return Refuse("Instantiation is refused");
        const auto found = std::find_if(definitions_.rbegin(), definitions_.rend(), [&](const Definition& d) {
            return d.maker == Text(maker) && d.name == Text(definitionName) && d.version == Text(version);
        });
        if (found == definitions_.rend())
            return Refuse("No definition " + Text(maker) + " " + Text(definitionName) + " " + Text(version));
        if (device == nullptr) return Refuse("No device");
        const uint32_t id = static_cast<uint32_t>(instances_.size() + 1);
        instances_.emplace_back(new DeviceHost(*this, id, Text(instanceName), *found, device));
        instance = instances_.back().get();
        Changed();
    }
    Reenter("InstantiateDevice", *instance);
    return ResultPtr();
}

void ExampleHost::SetPacketSink(PacketSink sink) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    sink_ = std::move(sink);
}

void ExampleHost::RefuseEvery(const std::string& operation, bool on) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    refused_.erase(std::remove(refused_.begin(), refused_.end(), operation), refused_.end());
    if (on) refused_.push_back(operation);
}

void ExampleHost::SetReentry(Reentry reentry) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    reentry_ = std::move(reentry);
}

bool ExampleHost::Refuses(const char* operation) const {
    return std::find(refused_.begin(), refused_.end(), operation) != refused_.end();
}

void ExampleHost::Reenter(const char* operation, DeviceHost& device) const {
    Reentry reentry;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        reentry = reentry_;
    }
    if (reentry) reentry(operation, device);
}

void ExampleHost::SetClock(std::function<double()> clock) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    clock_ = std::move(clock);
}

std::vector<Definition> ExampleHost::Definitions() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return definitions_;
}

std::vector<DeviceHost*> ExampleHost::Instances() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<DeviceHost*> instances;
    for (const auto& instance : instances_) instances.push_back(instance.get());
    return instances;
}

std::vector<std::string> ExampleHost::LogLines() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return logLines_;
}

std::vector<std::string> ExampleHost::LogLinesFrom(size_t first) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (first >= logLines_.size()) return {};
    return std::vector<std::string>(logLines_.begin() + static_cast<std::ptrdiff_t>(first), logLines_.end());
}

bool ExampleHost::WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::recursive_mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, condition);
}

}  // namespace KESUHost
