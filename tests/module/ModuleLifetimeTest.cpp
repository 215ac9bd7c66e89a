// What stays and what goes between Initialise, Shutdown and unloading: the
// custom plate list and a second Initialise. (Unloading without Shutdown:
// LifetimeScenariosTest.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/module/ModuleFixture.h"
#include "tests/support/FakeHost.h"

namespace KESUTest {
namespace {

class LifetimeTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        UsbAmpSim::SetAmplifiers({ScriptedAmplifier("Sorvik", 1), ScriptedAmplifier("Dunmar", 2)});
    }

    // The definitions a fresh builder is given now.
    std::vector<std::string> DefinitionNames() {
        FakeHost builder;
        module_->ProvideDeviceDefinitions(&builder);
        std::vector<std::string> names;
        for (const FakeDefinition& d : builder.Definitions()) names.push_back(d.name);
        return names;
    }

    // Connects the placeholder device, which queues a detection.
    void ConnectPlaceholder(FakeHost& host) {
        module_->ProvideDeviceDefinitions(&host);
        module_->BeginDeviceInstantiation(&host);
        ASSERT_EQ(1u, host.Instances().size());
        host.Instances()[0].device->Connect(&host.DeviceHost("KESU Shared Config Device"));
    }
};

const char* const kDetected = "Detected 2 KESU digital devices";

TEST_F(LifetimeTest, ASecondInitialiseReplacesTheServiceTheDeviceAndTheListAndShutdownEmptiesIt) {
    WriteConfig("TreadmillSupport.cfg", "SETUP_TYPE 4\n");
    FakeHost host;
    Load().Initialise(&host);
    ConnectPlaceholder(host);
    ASSERT_TRUE(host.WaitForLog(kDetected));
    EXPECT_EQ("TANDEM_TM", DefinitionNames().at(20));
    EXPECT_EQ(0u, LibraryCalls("fmDLLShutDown"));

    WriteConfig("TreadmillSupport.cfg", "SETUP_TYPE 5\n");
    module_->Initialise(&host);
    // The earlier service is gone: its worker ended and it shut the library down.
    EXPECT_EQ(1u, LibraryCalls("fmDLLShutDown"));
    const std::vector<std::string> names = DefinitionNames();
    EXPECT_EQ(22u, names.size());
    EXPECT_EQ("SIDE_BY_SIDE_TM", names.at(20));
    module_->Shutdown();
    EXPECT_EQ(21u, DefinitionNames().size());
}

}  // namespace
}  // namespace KESUTest
