// One capture through the module with the example host's library: two
// simulated amplifiers at 1000 Hz under point loads, blocks handed over one
// by one, and the same again in a module loaded afresh.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/module/ModuleFixture.h"

namespace KESUTest {
namespace {

using EndToEndTest = ModuleTest;

TEST_F(EndToEndTest, EveryPacketArrivesOnceWithTheScriptedForceAndCentreOfPressure) {
    // Sizes that fit the unit of Ambulor.cfg only: 1750 by 700 mm.
    WriteConfig("Ambulor.cfg",
                "COUNT,1\nENABLED,1\nAMBULOR,1,BELT_UNIT,700,1750,0\nAMP,1,LEFT,0,L\nAMP,1,RIGHT,0,R\n"
                "SENSOR,1,LEFT,A,S,0,0,0\nSENSOR,1,LEFT,B,S,0,0,0\nSENSOR,1,RIGHT,A,S,0,0,0\n"
                "SENSOR,1,RIGHT,B,S,0,0,0\n");
    const struct {
        float force, x, y;
    } loads[] = {{600.0f, 0.1f, -0.05f}, {350.5f, -0.25f, 0.4f}};
    const size_t kBlocks = 40;

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        UsbAmpSim::Reset();
        UsbAmpSim::SetAmplifiers(
            {ScriptedAmplifier("Sorvik", 1), ScriptedAmplifier("UNIT-7", 2, "68.8976", "27.5591")});
        UsbAmpSim::SetCounterStart(5000);
        for (int i = 0; i < 2; ++i) UsbAmpSim::SetPointLoad(i, loads[i].force, loads[i].x, loads[i].y);

        HostSession s;
        UnloadAtEnd unload{*this};
        KESUHost::PluginModule& module = Load();
        ASSERT_EQ(1, module.PluginAPIVersion());
        ASSERT_TRUE(s.Boot(module));
        ASSERT_TRUE(s.Detect());
        ASSERT_EQ(2u, s.plates.size());
        EXPECT_EQ("Sorvik", s.plates[0]->Of().name);
        EXPECT_EQ("BELT_UNIT", s.plates[1]->Of().name);
        ASSERT_TRUE(s.Start());
        for (KESUHost::DeviceHost* plate : s.plates) {
            EXPECT_EQ(16u, plate->Stream().samplesPerPacket);
            EXPECT_EQ(KESUHost::ExampleHost::kBaseRate / 1000, plate->Stream().rateDivisor);
        }
        for (size_t block = 0; block < kBlocks; ++block) ASSERT_TRUE(UsbAmpSim::HandOverBlock());
        ASSERT_TRUE(s.WaitForPackets(kBlocks));
        s.Stop();
        module.Shutdown();
        Unload();

        for (size_t i = 0; i < s.plates.size(); ++i) {
            SCOPED_TRACE(s.plates[i]->InstanceName());
            const std::vector<KESUHost::Packet> packets = s.plates[i]->Packets();
            ASSERT_EQ(kBlocks, packets.size());
            for (size_t p = 0; p < kBlocks; ++p) {
                ASSERT_EQ(16u, packets[p].sampleCount);
                EXPECT_EQ(int64_t(16 * p), packets[p].firstIndex);
                for (int s = 0; s < 16; ++s) {
                    const float* v = &packets[p].values[9 * s];
                    EXPECT_EQ(loads[i].force, v[2]);
                    EXPECT_NEAR(loads[i].x, v[6], 2e-7f);
                    EXPECT_NEAR(loads[i].y, v[7], 2e-7f);
                    EXPECT_EQ(0.0f, v[8]);
                }
            }
        }
        EXPECT_EQ(0u, s.LogCount("[error]")) << s.log.str();
    }
}

}  // namespace
}  // namespace KESUTest
