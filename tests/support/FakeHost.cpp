#include "tests/support/FakeHost.h"

#include <algorithm>
#include <sstream>

using ZentuDigitalDevice::IDevice;
using ZentuDigitalDevice::IParameterValue;
using ZentuDigitalDevice::ResultPtr;

namespace KESUTest {

namespace {

std::string Text(const char* text) {
    return text ? std::string(text) : std::string(kNullText);
}

// The host's own copy of a value handed to it, read through its image; null
// when the type is unknown or the image does not load.
std::unique_ptr<FakeValue> Receive(const IParameterValue* value) {
    if (value == nullptr) return nullptr;
    std::unique_ptr<FakeValue> received = FakeValue::Make(value->GetType());
    if (!received || !value->SerialiseInto(*received)) return nullptr;
    return received;
}

}  // namespace

// --- FakeResult

void FakeResult::AddRef() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (references_ <= 0)
        ++faults_;
    else
        ++references_;
}

void FakeResult::Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (references_ <= 0)
        ++faults_;
    else
        --references_;
}

int FakeResult::References() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return references_;
}

int FakeResult::Faults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
}

// --- FakeHost: bookkeeping

FakeHost::FakeHost() = default;
FakeHost::~FakeHost() = default;

FakeCall FakeHost::Begin(const char* interfaceName, const char* operation) const {
    FakeCall call;
    call.interfaceName = interfaceName;
    call.operation = operation;
    call.threadId = GetCurrentThreadId();
    return call;
}

ResultPtr FakeHost::RefusalFor(FakeCall& call) {
    for (const Rule& rule : rules_)
        if (rule.predicate(call)) return Refuse(call, rule.text);
    return ResultPtr();
}

ResultPtr FakeHost::Refuse(FakeCall& call, const std::string& text) {
    call.refused = true;
    call.refusalText = text;
    std::lock_guard<std::mutex> lock(resultMutex_);
    results_.push_back(std::make_unique<FakeResult>(text, resultMutex_));
    return ResultPtr(results_.back().get());
}

void FakeHost::Record(FakeCall call) {
    calls_.push_back(std::move(call));
    changed_.notify_all();
}

FakeDefinition* FakeHost::CurrentDefinition() {
    return current_ < 0 ? nullptr : &definitions_[static_cast<size_t>(current_)];
}

FakeDeviceHost& FakeHost::DeviceHostLocked(const std::string& name) {
    std::unique_ptr<FakeDeviceHost>& slot = deviceHosts_[name];
    if (!slot) slot.reset(new FakeDeviceHost(*this, name));
    return *slot;
}

// --- IHost

void FakeHost::Log(const char* text, int level) {
    FakeCall call = Begin("IHost", "Log");
    call.texts = {Text(text)};
    call.numbers = {level};
    std::lock_guard<std::mutex> lock(mutex_);
    Record(std::move(call));
}

uint32_t FakeHost::GetBaseRate() {
    FakeCall call = Begin("IHost", "GetBaseRate");
    std::lock_guard<std::mutex> lock(mutex_);
    Record(std::move(call));
    return baseRate_;
}

void FakeHost::Unused2() {
    FakeCall call = Begin("IHost", "Unused2");
    std::lock_guard<std::mutex> lock(mutex_);
    Record(std::move(call));
}

double FakeHost::GetTime() {
    FakeCall call = Begin("IHost", "GetTime");
    std::lock_guard<std::mutex> lock(mutex_);
    Record(std::move(call));
    return time_;
}

// --- IDeviceDefinitionBuilder

ResultPtr FakeHost::DefineDevice(const char* maker, const char* name, const char* version,
                                 const char* description, const char* type, const char* addLabel,
                                 const char* scope) {
    FakeCall call = Begin("IDeviceDefinitionBuilder", "DefineDevice");
    call.texts = {Text(maker), Text(name),     Text(version), Text(description),
                  Text(type),  Text(addLabel), Text(scope)};
    std::lock_guard<std::mutex> lock(mutex_);
    ResultPtr result = RefusalFor(call);
    current_ = -1;
    if (result.IsEmpty()) {
        FakeDefinition definition;
        definition.maker = call.texts[0];
        definition.name = call.texts[1];
        definition.version = call.texts[2];
        definition.description = call.texts[3];
        definition.type = call.texts[4];
        definition.addLabel = call.texts[5];
        definition.scope = call.texts[6];
        definitions_.push_back(std::move(definition));
        current_ = static_cast<int>(definitions_.size()) - 1;
    }
    Record(std::move(call));
    return result;
}

ResultPtr FakeHost::AddParameter(const char* name, const char* displayName, const char* description,
                                 const char* group, bool flag, const IParameterValue* value, uint64_t id) {
    FakeCall call = Begin("IDeviceDefinitionBuilder", "AddParameter");
    call.texts = {Text(name), Text(displayName), Text(description), Text(group)};
    call.numbers = {flag ? 1 : 0, static_cast<int64_t>(id)};
    std::lock_guard<std::mutex> lock(mutex_);
    // Taken during the call: the plug-in may hand over a value that ends with it.
    if (std::unique_ptr<FakeValue> received = Receive(value)) call.image = received->Image();
    ResultPtr result = RefusalFor(call);
    if (result.IsEmpty() && call.image.empty()) result = Refuse(call, "Parameter value not understood");
    if (result.IsEmpty() && CurrentDefinition()) {
        FakeDefinitionParameter parameter;
        parameter.name = call.texts[0];
        parameter.displayName = call.texts[1];
        parameter.description = call.texts[2];
        parameter.group = call.texts[3];
        parameter.flag = flag;
        parameter.id = id;
        parameter.image = call.image;
        CurrentDefinition()->parameters.push_back(std::move(parameter));
    }
    Record(std::move(call));
    return result;
}

ResultPtr FakeHost::SetSyncPort(const char* name) {
    FakeCall call = Begin("IDeviceDefinitionBuilder", "SetSyncPort");
    call.texts = {Text(name)};
    std::lock_guard<std::mutex> lock(mutex_);
    ResultPtr result = RefusalFor(call);
    if (result.IsEmpty() && CurrentDefinition()) CurrentDefinition()->syncPort = call.texts[0];
    Record(std::move(call));
    return result;
}

ResultPtr FakeHost::AddOutput(const char* name, uint32_t kind) {
    FakeCall call = Begin("IDeviceDefinitionBuilder", "AddOutput");
    call.texts = {Text(name)};
    call.numbers = {kind};
    std::lock_guard<std::mutex> lock(mutex_);
    ResultPtr result = RefusalFor(call);
    if (result.IsEmpty() && CurrentDefinition())
        CurrentDefinition()->outputs.push_back(FakeOutput{call.texts[0], kind, {}});
    Record(std::move(call));
    return result;
}

ResultPtr FakeHost::AddComponent(const char* name) {
    FakeCall call = Begin("IDeviceDefinitionBuilder", "AddComponent");
    call.texts = {Text(name)};
    std::lock_guard<std::mutex> lock(mutex_);
    ResultPtr result = RefusalFor(call);
    FakeDefinition* definition = CurrentDefinition();
    if (result.IsEmpty() && (!definition || definition->outputs.empty()))
        result = Refuse(call, "No output to add a component to");
    if (result.IsEmpty()) definition->outputs.back().components.push_back(call.texts[0]);
    Record(std::move(call));
    return result;
}

void FakeHost::Unused5() {
    FakeCall call = Begin("IDeviceDefinitionBuilder", "Unused5");
    std::lock_guard<std::mutex> lock(mutex_);
    Record(std::move(call));
}

ResultPtr FakeHost::Finish() {
    FakeCall call = Begin("IDeviceDefinitionBuilder", "Finish");
    std::lock_guard<std::mutex> lock(mutex_);
    ResultPtr result = RefusalFor(call);
    if (result.IsEmpty() && CurrentDefinition()) CurrentDefinition()->finished = true;
    current_ = -1;
    Record(std::move(call));
    return result;
}

// --- IDeviceFactory

ResultPtr FakeHost::InstantiateDevice(const char* maker, const char* definitionName, const char* version,
                                      const char* instanceName, IDevice* device) {
    FakeCall call = Begin("IDeviceFactory", "InstantiateDevice");
    call.texts = {Text(maker), Text(definitionName), Text(version), Text(instanceName)};
    call.object = device;
    std::lock_guard<std::mutex> lock(mutex_);
    ResultPtr result = RefusalFor(call);
    if (result.IsEmpty() && device == nullptr) result = Refuse(call, "No device to instantiate");
    if (result.IsEmpty()) {
        instances_.push_back(
            FakeInstance{call.texts[0], call.texts[1], call.texts[2], call.texts[3], device});
        const bool isNew = deviceHosts_.count(call.texts[3]) == 0;
        FakeDeviceHost& deviceHost = DeviceHostLocked(call.texts[3]);
        auto definition =
            std::find_if(definitions_.rbegin(), definitions_.rend(), [&](const FakeDefinition& d) {
                return d.maker == call.texts[0] && d.name == call.texts[1] && d.version == call.texts[2];
            });
        if (isNew && definition != definitions_.rend()) {
            for (const FakeDefinitionParameter& parameter : definition->parameters) {
                FakeDeviceHost::Parameter& stored = deviceHost.parameters_[parameter.name];
                stored.value = FakeValue::FromImage(parameter.image);
                stored.id = parameter.id;
            }
        }
    }
    Record(std::move(call));
    return result;
}

// --- IStreamConfig

ResultPtr FakeHost::SetRateDivisor(uint32_t divisor) {
    FakeCall call = Begin("IStreamConfig", "SetRateDivisor");
    call.numbers = {divisor};
    std::lock_guard<std::mutex> lock(mutex_);
    ResultPtr result = RefusalFor(call);
    Record(std::move(call));
    return result;
}

ResultPtr FakeHost::DeclareSyncPort(const char* name, uint32_t kind, uint32_t window, uint32_t reservedA,
                                    uint32_t reservedB, bool enabled) {
    FakeCall call = Begin("IStreamConfig", "DeclareSyncPort");
    call.texts = {Text(name)};
    call.numbers = {kind, window, reservedA, reservedB, enabled ? 1 : 0};
    std::lock_guard<std::mutex> lock(mutex_);
    ResultPtr result = RefusalFor(call);
    Record(std::move(call));
    return result;
}

void FakeHost::SetStreamMode(uint32_t mode) {
    FakeCall call = Begin("IStreamConfig", "SetStreamMode");
    call.numbers = {mode};
    std::lock_guard<std::mutex> lock(mutex_);
    Record(std::move(call));
}

ResultPtr FakeHost::SetSamplesPerPacket(uint32_t samples) {
    FakeCall call = Begin("IStreamConfig", "SetSamplesPerPacket");
    call.numbers = {samples};
    std::lock_guard<std::mutex> lock(mutex_);
    ResultPtr result = RefusalFor(call);
    Record(std::move(call));
    return result;
}

// --- Test side

void FakeHost::SetTime(double seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    time_ = seconds;
}

void FakeHost::SetBaseRate(uint32_t baseRate) {
    std::lock_guard<std::mutex> lock(mutex_);
    baseRate_ = baseRate;
}

void FakeHost::RefuseAll(const std::string& text) {
    RefuseWhen([](const FakeCall&) { return true; }, text);
}

void FakeHost::RefuseOperation(const std::string& operation, const std::string& text) {
    RefuseWhen([operation](const FakeCall& call) { return call.operation == operation; }, text);
}

void FakeHost::RefuseOperationWith(const std::string& operation, const std::string& argument,
                                   const std::string& text) {
    RefuseWhen(
        [operation, argument](const FakeCall& call) {
            return call.operation == operation &&
                   std::find(call.texts.begin(), call.texts.end(), argument) != call.texts.end();
        },
        text);
}

void FakeHost::RefuseWhen(Predicate predicate, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.push_back(Rule{std::move(predicate), text});
}

void FakeHost::ClearRefusals() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
}

std::vector<FakeCall> FakeHost::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<FakeCall> FakeHost::CallsOf(const std::string& operation) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<FakeCall> found;
    for (const FakeCall& call : calls_)
        if (call.operation == operation) found.push_back(call);
    return found;
}

std::vector<std::string> FakeHost::Operations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    for (const FakeCall& call : calls_) names.push_back(call.operation);
    return names;
}

std::vector<FakeLogLine> FakeHost::LogLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<FakeLogLine> lines;
    for (const FakeCall& call : calls_)
        if (call.operation == "Log")
            lines.push_back(FakeLogLine{call.texts[0], static_cast<int>(call.numbers[0]), call.threadId});
    return lines;
}

std::vector<std::string> FakeHost::LogTexts() const {
    std::vector<std::string> texts;
    for (FakeLogLine& line : LogLines()) texts.push_back(std::move(line.text));
    return texts;
}

void FakeHost::ClearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

bool FakeHost::WaitUntil(const std::function<bool(const std::vector<FakeCall>&)>& condition,
                         std::chrono::milliseconds safetyNet) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, safetyNet, [&] { return condition(calls_); });
}

bool FakeHost::WaitForLog(const std::string& text, std::chrono::milliseconds safetyNet) const {
    return WaitUntil(
        [&text](const std::vector<FakeCall>& calls) {
            return std::any_of(calls.begin(), calls.end(), [&text](const FakeCall& call) {
                return call.operation == "Log" && call.texts[0] == text;
            });
        },
        safetyNet);
}

bool FakeHost::WaitForCalls(const std::string& operation, size_t count,
                            std::chrono::milliseconds safetyNet) const {
    return WaitUntil(
        [&](const std::vector<FakeCall>& calls) {
            return static_cast<size_t>(std::count_if(calls.begin(), calls.end(), [&](const FakeCall& call) {
                       return call.operation == operation;
                   })) >= count;
        },
        safetyNet);
}

size_t FakeHost::ResultsHandedOut() const {
    std::lock_guard<std::mutex> lock(resultMutex_);
    return results_.size();
}

testing::AssertionResult FakeHost::AllResultsReleased() const {
    std::vector<const FakeResult*> handedOut;
    {
        // Results live as long as the host, so the pointers stay good after the lock.
        std::lock_guard<std::mutex> lock(resultMutex_);
        for (const auto& result : results_) handedOut.push_back(result.get());
    }
    std::ostringstream problems;
    for (const FakeResult* result : handedOut) {
        const int references = result->References();
        const int faults = result->Faults();
        if (references != 0 || faults != 0)
            problems << "\n  result \"" << result->GetText() << "\": " << references << " reference(s) left, "
                     << faults << " AddRef/Release after the last release";
    }
    const std::string text = problems.str();
    if (text.empty()) return testing::AssertionSuccess();
    return testing::AssertionFailure() << handedOut.size() << " result(s) handed out;" << text;
}

std::vector<FakeDefinition> FakeHost::Definitions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return definitions_;
}

std::unique_ptr<FakeDefinition> FakeHost::FindDefinition(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto d = definitions_.rbegin(); d != definitions_.rend(); ++d)
        if (d->name == name) return std::make_unique<FakeDefinition>(*d);
    return nullptr;
}

std::vector<FakeInstance> FakeHost::Instances() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return instances_;
}

FakeDeviceHost& FakeHost::DeviceHost(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return DeviceHostLocked(name);
}

FakeDeviceHost* FakeHost::FindDeviceHost(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = deviceHosts_.find(name);
    return found == deviceHosts_.end() ? nullptr : found->second.get();
}

FakeDeviceHost* FakeHost::DeviceHostOf(const IDevice* device) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto instance = instances_.rbegin(); instance != instances_.rend(); ++instance)
        if (instance->device == device) return deviceHosts_.at(instance->instanceName).get();
    return nullptr;
}

// --- FakeDeviceHost

FakeDeviceHost::FakeDeviceHost(FakeHost& host, std::string name) : host_(host), name_(std::move(name)) {}

ResultPtr FakeDeviceHost::GetParameterValue(IParameterValue* into, const char* name, const char* scope) {
    FakeCall call = host_.Begin("IDeviceHost", "GetParameterValue");
    call.deviceHost = name_;
    call.texts = {Text(name), Text(scope)};
    call.object = into;
    std::lock_guard<std::mutex> lock(host_.mutex_);
    ResultPtr result = host_.RefusalFor(call);
    auto stored = parameters_.find(call.texts[0]);
    if (result.IsEmpty() && stored == parameters_.end()) result = host_.Refuse(call, "Unknown parameter");
    if (result.IsEmpty()) {
        call.image = stored->second.value->Image();
        if (into == nullptr || !stored->second.value->SerialiseInto(*into))
            result = host_.Refuse(call, "Parameter value of another type");
    }
    host_.Record(std::move(call));
    return result;
}

ResultPtr FakeDeviceHost::SetParameterValue(const IParameterValue* value, const char* name,
                                            const char* scope) {
    FakeCall call = host_.Begin("IDeviceHost", "SetParameterValue");
    call.deviceHost = name_;
    call.texts = {Text(name), Text(scope)};
    std::lock_guard<std::mutex> lock(host_.mutex_);
    std::unique_ptr<FakeValue> received = Receive(value);
    if (received) call.image = received->Image();
    ResultPtr result = host_.RefusalFor(call);
    if (result.IsEmpty() && !received) result = host_.Refuse(call, "Parameter value not understood");
    auto stored = parameters_.find(call.texts[0]);
    if (result.IsEmpty() && stored != parameters_.end() &&
        stored->second.value->GetType() != received->GetType())
        result = host_.Refuse(call, "Parameter value of another type");
    if (result.IsEmpty()) parameters_[call.texts[0]].value = std::move(received);
    host_.Record(std::move(call));
    return result;
}

uint32_t FakeDeviceHost::GetChangedParameterCount() {
    FakeCall call = host_.Begin("IDeviceHost", "GetChangedParameterCount");
    call.deviceHost = name_;
    std::lock_guard<std::mutex> lock(host_.mutex_);
    const auto count = static_cast<uint32_t>(changedIds_.size());
    call.numbers = {count};
    host_.Record(std::move(call));
    return count;
}

ResultPtr FakeDeviceHost::GetChangedParameterIds(const uint32_t* selector, uint64_t* ids, uint32_t* count) {
    FakeCall call = host_.Begin("IDeviceHost", "GetChangedParameterIds");
    call.deviceHost = name_;
    std::lock_guard<std::mutex> lock(host_.mutex_);
    call.numbers = {selector ? static_cast<int64_t>(*selector) : -1, 0};
    ResultPtr result = host_.RefusalFor(call);
    if (result.IsEmpty() && (count == nullptr || (ids == nullptr && !changedIds_.empty())))
        result = host_.Refuse(call, "No buffer for the changed ids");
    if (result.IsEmpty()) {
        std::copy(changedIds_.begin(), changedIds_.end(), ids);
        *count = static_cast<uint32_t>(changedIds_.size());
        call.numbers[1] = *count;
    }
    host_.Record(std::move(call));
    return result;
}

ResultPtr FakeDeviceHost::WriteSamples(uint32_t hostDeviceId, int64_t firstIndex, uint32_t sampleCount,
                                       const uint32_t* outputIds, uint32_t outputCount, const float* values,
                                       uint32_t valueCount) {
    FakeCall call = host_.Begin("IDeviceHost", "WriteSamples");
    call.deviceHost = name_;
    call.numbers = {hostDeviceId, firstIndex, sampleCount, outputCount, valueCount};
    const bool readable = (outputIds || outputCount == 0) && (values || valueCount == 0);
    if (readable) {
        call.outputIds.assign(outputIds, outputIds + outputCount);
        call.values.assign(values, values + valueCount);
    }
    std::lock_guard<std::mutex> lock(host_.mutex_);
    ResultPtr result = host_.RefusalFor(call);
    if (result.IsEmpty() && !readable) result = host_.Refuse(call, "No sample buffer");
    host_.Record(std::move(call));
    return result;
}

void FakeDeviceHost::NotifyStatusChanged() {
    FakeCall call = host_.Begin("IDeviceHost", "NotifyStatusChanged");
    call.deviceHost = name_;
    std::lock_guard<std::mutex> lock(host_.mutex_);
    host_.Record(std::move(call));
}

bool FakeDeviceHost::SetStoredValue(const std::string& name, const IParameterValue& value) {
    std::lock_guard<std::mutex> lock(host_.mutex_);
    std::unique_ptr<FakeValue> received = Receive(&value);
    if (!received) return false;
    parameters_[name].value = std::move(received);
    return true;
}

bool FakeDeviceHost::ReadStoredValue(const std::string& name, IParameterValue& into) const {
    std::lock_guard<std::mutex> lock(host_.mutex_);
    auto stored = parameters_.find(name);
    return stored != parameters_.end() && stored->second.value->SerialiseInto(into);
}

bool FakeDeviceHost::HasStoredValue(const std::string& name) const {
    std::lock_guard<std::mutex> lock(host_.mutex_);
    return parameters_.count(name) != 0;
}

std::vector<unsigned char> FakeDeviceHost::StoredImage(const std::string& name) const {
    std::lock_guard<std::mutex> lock(host_.mutex_);
    auto stored = parameters_.find(name);
    return stored == parameters_.end() ? std::vector<unsigned char>() : stored->second.value->Image();
}

std::vector<std::string> FakeDeviceHost::StoredNames() const {
    std::lock_guard<std::mutex> lock(host_.mutex_);
    std::vector<std::string> names;
    for (const auto& parameter : parameters_) names.push_back(parameter.first);
    return names;
}

uint64_t FakeDeviceHost::ParameterId(const std::string& name) const {
    std::lock_guard<std::mutex> lock(host_.mutex_);
    auto stored = parameters_.find(name);
    return stored == parameters_.end() ? 0 : stored->second.id;
}

void FakeDeviceHost::SetChangedParameterIds(std::vector<uint64_t> ids) {
    std::lock_guard<std::mutex> lock(host_.mutex_);
    changedIds_ = std::move(ids);
}

}  // namespace KESUTest
