// The fake host's own behaviour, where later suites rely on it.
#include <gtest/gtest.h>

#include <thread>

#include "sdk/ParameterValues.h"
#include "tests/support/FakeHost.h"

using namespace ZentuDigitalDevice;
using namespace KESUTest;

namespace {

// Does nothing; only its address matters to the factory.
class NullDevice : public IDevice {
public:
    void Connect(IDeviceHost*) override {}
    void OnParametersChanged() override {}
    bool Start(uint32_t, IStreamConfig*) override { return false; }
    void Unused4() override {}
    void SetStartTime(double) override {}
    void Stop() override {}
    void GetStatus(uint32_t*, uint8_t*) override {}
};

void DefinePlate(IDeviceDefinitionBuilder& builder) {
    builder.DefineDevice("KESU", "Plate", "V1", "A plate", "ForcePlate", "Add", "");
    IParameterValueString serial;
    serial.SetValue("S-1");
    serial.SetFlag1(true);
    builder.AddParameter("AmplifierSerial", "Serial", "", "Amplifier", true, &serial, 7);
    IParameterValueBool connected;
    builder.AddParameter("Connected", "Connected", "", "", false, &connected, 0);
    builder.AddOutput("Force", 1);
    for (const char* component : {"Fx", "Fy", "Fz"}) builder.AddComponent(component);
    builder.Finish();
}

TEST(FakeHostTest, RefusalsMatchTheirRuleAndAreCountedUntilReleased) {
    FakeHost host;
    host.RefuseOperationWith("AddComponent", "Fy", "No Fy today");
    DefinePlate(host);

    const std::vector<FakeCall> components = host.CallsOf("AddComponent");
    ASSERT_EQ(3u, components.size());
    EXPECT_FALSE(components[0].refused);
    EXPECT_TRUE(components[1].refused);
    EXPECT_EQ("No Fy today", components[1].refusalText);
    EXPECT_EQ(std::vector<std::string>({"Fx", "Fz"}), host.FindDefinition("Plate")->outputs.at(0).components);
    EXPECT_EQ(1u, host.ResultsHandedOut());
    EXPECT_TRUE(host.AllResultsReleased());  // DefinePlate dropped every result at once

    host.ClearRefusals();
    host.RefuseAll("busy");
    ResultPtr kept = host.SetSyncPort("Sync");
    ASSERT_FALSE(kept.IsEmpty());
    EXPECT_STREQ("busy", kept.GetText());
    EXPECT_FALSE(host.AllResultsReleased());
    IResult* raw = kept.Get();
    kept.Reset();
    EXPECT_TRUE(host.AllResultsReleased());
    raw->Release();
    EXPECT_FALSE(host.AllResultsReleased());
}

TEST(FakeHostTest, InstancesStartFromTheirDefinitionAndKeepValuesByImage) {
    FakeHost host;
    DefinePlate(host);
    NullDevice device;
    EXPECT_TRUE(host.InstantiateDevice("KESU", "Plate", "V1", "Plate #1", &device).IsEmpty());
    FakeDeviceHost* deviceHost = host.DeviceHostOf(&device);
    ASSERT_NE(nullptr, deviceHost);
    EXPECT_EQ("Plate #1", deviceHost->Name());
    EXPECT_EQ(7u, deviceHost->ParameterId("AmplifierSerial"));

    IParameterValueString serial;
    EXPECT_TRUE(deviceHost->GetParameterValue(&serial, "AmplifierSerial", "").IsEmpty());
    EXPECT_EQ("S-1", serial.GetValue());
    EXPECT_TRUE(serial.GetFlag1());

    // Another type is refused and the stored value kept; so is an unknown name.
    IParameterValueDouble wrongType;
    EXPECT_FALSE(deviceHost->SetParameterValue(&wrongType, "AmplifierSerial", "").IsEmpty());
    EXPECT_FALSE(deviceHost->GetParameterValue(&wrongType, "AmplifierSerial", "").IsEmpty());
    EXPECT_FALSE(deviceHost->GetParameterValue(&serial, "NoSuchName", "").IsEmpty());
    IParameterValueString readBack;
    ASSERT_TRUE(deviceHost->ReadStoredValue("AmplifierSerial", readBack));
    EXPECT_TRUE(readBack.Equals(serial));

    IParameterValueBool connected;
    connected.SetValue(true);
    EXPECT_TRUE(deviceHost->SetParameterValue(&connected, "Connected", "").IsEmpty());
    EXPECT_EQ(std::vector<unsigned char>({1, 0, 0, 0, 1, 0, 0, 0}), deviceHost->StoredImage("Connected"));
    EXPECT_EQ(deviceHost->StoredImage("Connected"), host.CallsOf("SetParameterValue").back().image);
    EXPECT_TRUE(host.AllResultsReleased());
}

TEST(FakeHostTest, ScriptedIdsAndSamplesAreRecorded) {
    FakeHost host;
    FakeDeviceHost& deviceHost = host.DeviceHost("Plate #1");
    deviceHost.SetChangedParameterIds({5, 9});
    const uint32_t selector = 1;
    std::vector<uint64_t> ids(deviceHost.GetChangedParameterCount());
    uint32_t count = 0;
    EXPECT_TRUE(deviceHost.GetChangedParameterIds(&selector, ids.data(), &count).IsEmpty());
    EXPECT_EQ(2u, count);
    EXPECT_EQ(std::vector<uint64_t>({5, 9}), ids);

    std::vector<float> values(144);
    for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i) * 0.5f;
    const uint32_t outputs[] = {0, 1, 2};
    deviceHost.WriteSamples(3, 1LL << 40, 16, outputs, 3, values.data(), 144);
    const FakeCall written = host.CallsOf("WriteSamples").at(0);
    EXPECT_EQ("Plate #1", written.deviceHost);
    EXPECT_EQ(std::vector<int64_t>({3, 1LL << 40, 16, 3, 144}), written.numbers);
    EXPECT_EQ(std::vector<uint32_t>({0, 1, 2}), written.outputIds);
    EXPECT_EQ(values, written.values);
    EXPECT_EQ(
        std::vector<std::string>({"GetChangedParameterCount", "GetChangedParameterIds", "WriteSamples"}),
        host.Operations());
}

TEST(FakeHostTest, WaitsForLogLinesOfAnotherThread) {
    FakeHost host;
    DWORD workerId = 0;
    std::thread worker([&] {
        workerId = GetCurrentThreadId();
        host.Log("first", 1);
        host.Log("Detected 2 KESU digital devices", 1);
    });
    EXPECT_TRUE(host.WaitForLog("Detected 2 KESU digital devices"));
    worker.join();
    const std::vector<FakeLogLine> lines = host.LogLines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("first", lines[0].text);
    EXPECT_EQ(1, lines[0].level);
    EXPECT_EQ(workerId, lines[1].threadId);
    EXPECT_NE(GetCurrentThreadId(), lines[1].threadId);

    host.ClearCalls();
    EXPECT_TRUE(host.LogTexts().empty());
    EXPECT_FALSE(host.WaitForLog("never", std::chrono::milliseconds(1)));
}

}  // namespace
