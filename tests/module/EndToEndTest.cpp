// One capture through the module with the example host's library: two
// simulated amplifiers at 1000 Hz under point loads, blocks handed over one
// by one.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "host/ExampleHost.h"
#include "tests/module/ModuleFixture.h"
#include "tests/support/Signal.h"

namespace KESUTest {
namespace {

using KESUHost::DeviceHost;
using KESUHost::ExampleHost;
using KESUHost::Packet;

struct PointLoad {
    float force, x, y;
};

class EndToEndTest : public ModuleTest {};

TEST_F(EndToEndTest, EveryPacketArrivesOnceWithTheScriptedForceAndCentreOfPressure) {
    // Sizes that fit the unit of Ambulor.cfg only: 1750 by 700 mm.
    WriteConfig("Ambulor.cfg",
                "COUNT,1\nENABLED,1\nAMBULOR,1,BELT_UNIT,700,1750,0\nAMP,1,LEFT,0,L\nAMP,1,RIGHT,0,R\n"
                "SENSOR,1,LEFT,A,S,0,0,0\nSENSOR,1,LEFT,B,S,0,0,0\nSENSOR,1,RIGHT,A,S,0,0,0\n"
                "SENSOR,1,RIGHT,B,S,0,0,0\n");
    const PointLoad loads[] = {{600.0f, 0.1f, -0.05f}, {350.5f, -0.25f, 0.4f}};
    const int kBlocks = 40;
    const uint32_t kFirstCounter = 5000;
    const double kNow = 100.0;

    // A second round in the same process starts from a module loaded afresh.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        UsbAmpSim::Reset();
        UsbAmpSim::SetAmplifiers(
            {ScriptedAmplifier("Sorvik", "", "", 1), ScriptedAmplifier("UNIT-7", "68.8976", "27.5591", 2)});
        UsbAmpSim::SetCounterStart(kFirstCounter);
        for (int i = 0; i < 2; ++i) UsbAmpSim::SetPointLoad(i, loads[i].force, loads[i].x, loads[i].y);

        std::ostringstream log;
        ExampleHost host(log);
        // The host's clock stands still: the capture starts at the first block handed over.
        host.SetClock([kNow] { return kNow; });
        KESUHost::PluginModule& module = Load();
        ASSERT_TRUE(module.IsLoaded());
        ASSERT_EQ(1, module.PluginAPIVersion());
        ASSERT_TRUE(module.Initialise(&host));
        module.ProvideDeviceDefinitions(&host);
        module.BeginDeviceInstantiation(&host);
        ASSERT_EQ(1u, host.Instances().size());
        DeviceHost* placeholder = host.Instances()[0];
        placeholder->Device()->Connect(placeholder);
        ASSERT_TRUE(host.WaitUntil([&] { return placeholder->StatusNotifications() > 0; }, kSafetyNet));

        std::vector<DeviceHost*> plates = host.Instances();
        plates.erase(plates.begin());
        ASSERT_EQ(2u, plates.size());
        EXPECT_EQ("Sorvik", plates[0]->Of().name);
        EXPECT_EQ("BELT_UNIT", plates[1]->Of().name);
        for (DeviceHost* plate : plates) plate->Device()->Connect(plate);

        for (DeviceHost* plate : plates) ASSERT_TRUE(plate->Device()->Start(plate->HostDeviceId(), plate));
        ASSERT_TRUE(placeholder->Device()->Start(placeholder->HostDeviceId(), placeholder));
        placeholder->Device()->SetStartTime(kNow);
        for (DeviceHost* plate : plates) plate->Device()->SetStartTime(kNow);
        for (DeviceHost* plate : plates) {
            EXPECT_EQ(16u, plate->Stream().samplesPerPacket);
            EXPECT_EQ(ExampleHost::kBaseRate / 1000, plate->Stream().rateDivisor);
        }

        ASSERT_TRUE(UsbAmpSim::WaitUntilStreaming(kSafetyNet));
        for (int block = 0; block < kBlocks; ++block) ASSERT_TRUE(UsbAmpSim::HandOverBlock());
        ASSERT_TRUE(host.WaitUntil(
            [&] { return plates[0]->PacketCount() >= kBlocks && plates[1]->PacketCount() >= kBlocks; },
            kSafetyNet));

        placeholder->Device()->Stop();
        for (DeviceHost* plate : plates) plate->Device()->Stop();
        module.Shutdown();
        Unload();

        for (size_t i = 0; i < plates.size(); ++i) {
            SCOPED_TRACE(plates[i]->InstanceName());
            const std::vector<Packet> packets = plates[i]->Packets();
            ASSERT_EQ(size_t(kBlocks), packets.size());
            for (int p = 0; p < kBlocks; ++p) {
                ASSERT_EQ(16u, packets[p].sampleCount);
                EXPECT_EQ(int64_t(16) * p, packets[p].firstIndex);
                for (int s = 0; s < 16; ++s) {
                    const float* v = &packets[p].values[9 * s];
                    EXPECT_EQ(loads[i].force, v[2]);
                    EXPECT_NEAR(loads[i].x, v[6], 2e-7f);
                    EXPECT_NEAR(loads[i].y, v[7], 2e-7f);
                    EXPECT_EQ(0.0f, v[8]);
                }
            }
        }
        const std::string logged = log.str();
        EXPECT_EQ(std::string::npos, logged.find("[error]")) << logged;
    }
}

}  // namespace
}  // namespace KESUTest
