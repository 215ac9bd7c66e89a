// A recording fake of the host, shared by every suite.
//
// FakeHost is the host as the plug-in meets it through IHost,
// IDeviceDefinitionBuilder, IDeviceFactory and IStreamConfig (pass `&host`
// wherever one of them is wanted). Each device instance gets a FakeDeviceHost
// (the IDeviceHost of that device), owned by the FakeHost.
//
// Every call, from whatever thread, is appended to one ordered record of
// FakeCall, which tests read, clear and wait on. Calls that answer a result
// answer success unless a refusal rule matches; every refusal is a FakeResult
// whose references the host counts.
//
// Parameter values are kept as a host would keep them: in FakeValue objects
// (tests/support/FakeParameterValues.h) filled and read only through the byte
// image. A definition given to the builder keeps its parameters' values; an
// accepted InstantiateDevice gives the instance a FakeDeviceHost seeded with
// the values of the definition of that maker, name and version (none when no
// such definition was given).
//
// All of it is thread-safe: one mutex guards the record, the rules, the
// definitions and every stored value. While it is held the host calls only
// the plug-in's value objects (GetType, SerialiseInto, LoadFromBytes), never
// a device.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win/WinApi.h"
#include "sdk/IDevice.h"
#include "sdk/IDeviceDefinitionBuilder.h"
#include "sdk/IDeviceFactory.h"
#include "sdk/IDeviceHost.h"
#include "sdk/IHost.h"
#include "sdk/IStreamConfig.h"
#include "tests/support/FakeParameterValues.h"
#include "tests/support/Signal.h"

namespace KESUTest {

// One call as the host received it. Arguments by operation
// (texts | numbers | other fields):
//   IHost                    Log: text | level. GetBaseRate, Unused2, GetTime: - | -.
//   IDeviceDefinitionBuilder DefineDevice: maker, name, version, description, type, addLabel, scope | -.
//                            AddParameter: name, displayName, description, group | flag, id | image.
//                            SetSyncPort: name | -. AddOutput: name | kind. AddComponent: name | -.
//                            Unused5, Finish: - | -.
//   IDeviceFactory           InstantiateDevice: maker, definitionName, version, instanceName | -
//                                               | object (the IDevice*).
//   IDeviceHost              GetParameterValue: name, scope | - | object (`into`),
//                                               image (what `into` was given).
//                            SetParameterValue: name, scope | - | image.
//                            GetChangedParameterCount: - | the count answered.
//                            GetChangedParameterIds: - | *selector (-1 for null), ids written.
//                            WriteSamples: - | hostDeviceId, firstIndex, sampleCount, outputCount, valueCount
//                                          | outputIds, values.
//                            NotifyStatusChanged: - | -.
//   IStreamConfig            SetRateDivisor: - | divisor. DeclareSyncPort: name | kind, window, reservedA,
//                            reservedB, enabled. SetStreamMode: - | mode. SetSamplesPerPacket: - | samples.
// bool arguments are 0 or 1; a u64 id is kept by its bit pattern.
struct FakeCall {
    // "IHost", "IDeviceDefinitionBuilder", "IDeviceFactory", "IDeviceHost" or "IStreamConfig".
    std::string interfaceName;
    // IDeviceHost calls: the name of the FakeDeviceHost; otherwise empty.
    std::string deviceHost;
    std::string operation;
    std::vector<std::string> texts;  // a null text pointer is recorded as kNullText
    std::vector<int64_t> numbers;
    // The byte image of a value argument, as the host's own value wrote it
    // after loading it; empty when the value's image did not load.
    std::vector<unsigned char> image;
    const void* object = nullptr;
    std::vector<uint32_t> outputIds;
    std::vector<float> values;
    bool refused = false;
    std::string refusalText;
    DWORD threadId = 0;
};

struct FakeLogLine {
    std::string text;
    int level;
    DWORD threadId;
};

constexpr const char* kNullText = "<null>";

// A refusal handed to the plug-in. Owned by the FakeHost until the host ends,
// so that a release beyond the last reference is counted, not a crash.
class FakeResult final : public ZentuDigitalDevice::IResult {
public:
    FakeResult(std::string text, std::mutex& ledgerMutex) : text_(std::move(text)), mutex_(ledgerMutex) {}
    const char* GetText() const override { return text_.c_str(); }
    void AddRef() override;
    void Release() override;

    int References() const;
    // AddRef or Release calls that came after the last reference was released.
    int Faults() const;

private:
    const std::string text_;
    std::mutex& mutex_;
    int references_ = 1;
    int faults_ = 0;
};

// A parameter as the builder received it.
struct FakeDefinitionParameter {
    std::string name, displayName, description, group;
    bool flag = false;
    uint64_t id = 0;
    std::vector<unsigned char> image;
};

struct FakeOutput {
    std::string name;
    uint32_t kind = 0;
    std::vector<std::string> components;
};

// One DefineDevice (not refused) with what followed it up to the next one.
struct FakeDefinition {
    std::string maker, name, version, description, type, addLabel, scope;
    std::vector<FakeDefinitionParameter> parameters;
    std::string syncPort;
    std::vector<FakeOutput> outputs;
    bool finished = false;
};

struct FakeInstance {
    std::string maker, definitionName, version, instanceName;
    ZentuDigitalDevice::IDevice* device = nullptr;
};

class FakeHost;

// The host side of one device. Its parameters are stored by name; an unknown
// name is refused by GetParameterValue and stored anew by SetParameterValue; a
// value of another type than the stored one is refused and the stored value
// kept.
// Obtained from FakeHost::DeviceHost, which owns it.
class FakeDeviceHost final : public ZentuDigitalDevice::IDeviceHost {
public:
    FakeDeviceHost(const FakeDeviceHost&) = delete;
    FakeDeviceHost& operator=(const FakeDeviceHost&) = delete;

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

    const std::string& Name() const { return name_; }

    // Test side. SetStoredValue stores `value` (through its image) as if the
    // user had changed it in the host; false when its image does not load.
    bool SetStoredValue(const std::string& name, const ZentuDigitalDevice::IParameterValue& value);
    // Fills `into` from the stored value; false when there is none or it does not load.
    bool ReadStoredValue(const std::string& name, ZentuDigitalDevice::IParameterValue& into) const;
    bool HasStoredValue(const std::string& name) const;
    // Empty when there is no such parameter.
    std::vector<unsigned char> StoredImage(const std::string& name) const;
    std::vector<std::string> StoredNames() const;
    // The id the definition gave the parameter; 0 for one it did not define.
    uint64_t ParameterId(const std::string& name) const;
    // What GetChangedParameterCount and GetChangedParameterIds answer from now on.
    void SetChangedParameterIds(std::vector<uint64_t> ids);

private:
    friend class FakeHost;
    FakeDeviceHost(FakeHost& host, std::string name);

    struct Parameter {
        std::unique_ptr<FakeValue> value;
        uint64_t id = 0;
    };

    FakeHost& host_;
    const std::string name_;
    // Guarded by the host's mutex.
    std::map<std::string, Parameter> parameters_;
    std::vector<uint64_t> changedIds_;
};

class FakeHost final : public ZentuDigitalDevice::IHost,
                       public ZentuDigitalDevice::IDeviceDefinitionBuilder,
                       public ZentuDigitalDevice::IDeviceFactory,
                       public ZentuDigitalDevice::IStreamConfig {
public:
    using Predicate = std::function<bool(const FakeCall&)>;

    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    // IHost
    void Log(const char* text, int level) override;
    uint32_t GetBaseRate() override;
    void Unused2() override;
    double GetTime() override;

    // IDeviceDefinitionBuilder
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

    // IDeviceFactory. Accepted: the instance gets a FakeDeviceHost named
    // instanceName (the existing one when that name is taken). The host
    // never connects the device itself; the test calls Connect.
    ZentuDigitalDevice::ResultPtr InstantiateDevice(const char* maker, const char* definitionName,
                                                    const char* version, const char* instanceName,
                                                    ZentuDigitalDevice::IDevice* device) override;

    // IStreamConfig
    ZentuDigitalDevice::ResultPtr SetRateDivisor(uint32_t divisor) override;
    ZentuDigitalDevice::ResultPtr DeclareSyncPort(const char* name, uint32_t kind, uint32_t window,
                                                  uint32_t reservedA, uint32_t reservedB,
                                                  bool enabled) override;
    void SetStreamMode(uint32_t mode) override;
    ZentuDigitalDevice::ResultPtr SetSamplesPerPacket(uint32_t samples) override;

    // --- Answers
    void SetTime(double seconds);         // GetTime; 0.0 at first
    void SetBaseRate(uint32_t baseRate);  // GetBaseRate; 1000000 at first

    // --- Refusals. A call is refused when a rule matches it (the first rule's
    // text is the refusal's); a refused call has no effect beyond its record.
    // Operations without a result (Log, NotifyStatusChanged, SetStreamMode,
    // the getters, Unused*) are never refused. A FakeDeviceHost also refuses
    // on its own (unknown parameter, wrong type, an image that does not load).
    void RefuseAll(const std::string& text);
    void RefuseOperation(const std::string& operation, const std::string& text);
    // Only calls of `operation` that have `argument` among their texts, e.g.
    // ("AddComponent", "Fy") or ("AddParameter", "StandardDimension_X").
    void RefuseOperationWith(const std::string& operation, const std::string& argument,
                             const std::string& text);
    // The predicate sees the call before its effect, under the host's lock: it
    // must not call the host.
    void RefuseWhen(Predicate predicate, const std::string& text);
    void ClearRefusals();

    // --- The record
    std::vector<FakeCall> Calls() const;
    std::vector<FakeCall> CallsOf(const std::string& operation) const;
    // Operation names in order, for checking a sequence at a glance.
    std::vector<std::string> Operations() const;
    std::vector<FakeLogLine> LogLines() const;
    std::vector<std::string> LogTexts() const;
    // Forgets the calls (and log lines); stored values, definitions and results stay.
    void ClearCalls();

    // Waits until the condition holds over the record; false when the safety
    // net ran out first. The condition runs under the host's lock and must not
    // call the host.
    bool WaitUntil(const std::function<bool(const std::vector<FakeCall>&)>& condition,
                   std::chrono::milliseconds safetyNet = kSafetyNet) const;
    bool WaitForLog(const std::string& text, std::chrono::milliseconds safetyNet = kSafetyNet) const;
    bool WaitForCalls(const std::string& operation, size_t count,
                      std::chrono::milliseconds safetyNet = kSafetyNet) const;

    // --- Results
    size_t ResultsHandedOut() const;
    // Every refusal handed out was released exactly once per reference it had
    // (one plus its AddRefs), and none more often.
    testing::AssertionResult AllResultsReleased() const;

    // --- Definitions and instances
    std::vector<FakeDefinition> Definitions() const;
    // The last definition given under that name; null when none.
    std::unique_ptr<FakeDefinition> FindDefinition(const std::string& name) const;
    std::vector<FakeInstance> Instances() const;
    // Creates an empty one when the name is new.
    FakeDeviceHost& DeviceHost(const std::string& name);
    // Null when none has that name / that device was never instantiated.
    FakeDeviceHost* FindDeviceHost(const std::string& name);
    FakeDeviceHost* DeviceHostOf(const ZentuDigitalDevice::IDevice* device);

private:
    friend class FakeDeviceHost;
    struct Rule {
        Predicate predicate;
        std::string text;
    };

    // Under mutex_: decides the refusal of a call about to take effect.
    ZentuDigitalDevice::ResultPtr RefusalFor(FakeCall& call);
    ZentuDigitalDevice::ResultPtr Refuse(FakeCall& call, const std::string& text);
    // Under mutex_: appends the call and wakes the waiters.
    void Record(FakeCall call);
    FakeCall Begin(const char* interfaceName, const char* operation) const;
    FakeDeviceHost& DeviceHostLocked(const std::string& name);
    FakeDefinition* CurrentDefinition();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<FakeCall> calls_;
    std::vector<Rule> rules_;
    double time_ = 0.0;
    uint32_t baseRate_ = 1000000;
    std::vector<FakeDefinition> definitions_;
    // Index into definitions_ of the one being described; -1 outside one.
    int current_ = -1;
    std::vector<FakeInstance> instances_;
    std::map<std::string, std::unique_ptr<FakeDeviceHost>> deviceHosts_;

    // Its own lock: the plug-in releases results outside any host call.
    mutable std::mutex resultMutex_;
    std::vector<std::unique_ptr<FakeResult>> results_;
};

}  // namespace KESUTest
