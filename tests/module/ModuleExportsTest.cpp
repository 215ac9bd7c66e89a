// The module as a host meets it: its file, its six exports, the definitions
// it announces, when it instantiates the placeholder device, and what a
// second Initialise and Shutdown leave. (Unloading without Shutdown:
// LifetimeScenariosTest.)
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/module/ModuleFixture.h"
#include "tests/support/FakeHost.h"

namespace KESUTest {
namespace {

const char* const kMaker = "KESU";
const char* const kPlaceholder = "Digital device common settings";
const char* const kVersion = "V1.14";

// The last word of each line a command prints.
std::vector<std::string> LastWords(const std::string& command, const std::string& lineFilter = "") {
    std::vector<std::string> words;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    while (pipe != nullptr && fgets(buffer, sizeof buffer, pipe) != nullptr) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
        if (line.find(lineFilter) != std::string::npos && line.rfind(' ') != std::string::npos)
            words.push_back(line.substr(line.rfind(' ') + 1));
    }
    if (pipe != nullptr) pclose(pipe);
    return words;
}

TEST(ModuleFileTest, ExportsExactlyTheSixEntryPointsAndNeedsOnlyItsNeighbours) {
    const std::string file = KESU_MODULE_FILE;
    EXPECT_EQ("/KESUplugin.kzm", file.substr(file.rfind('/')));
    const std::vector<std::string> exported = LastWords("nm -D --defined-only '" + file + "'");
    EXPECT_EQ((std::set<std::string>{"PluginAPIVersion", "Initialise", "ProvideDeviceDefinitions",
                                     "BeginDeviceInstantiation", "OnManualDeviceInstantiation", "Shutdown"}),
              std::set<std::string>(exported.begin(), exported.end()));

    // The C and C++ runtime, Boost, the stand-ins for Windows and the vendor
    // library, and a sanitizer runtime in those builds.
    const std::vector<std::string> allowed = {
        "libc.so",    "libm.so",     "libstdc++.so", "libgcc_s.so",   "ld-linux", "libboost_", "libwin32.so",
        "libasan.so", "libubsan.so", "libtsan.so",   "libpthread.so", "libdl.so", "libKESUUSBDevice.so"};
    const std::vector<std::string> needed = LastWords("objdump -p '" + file + "'", "NEEDED");
    EXPECT_FALSE(needed.empty());
    for (const std::string& library : needed)
        EXPECT_TRUE(std::any_of(allowed.begin(), allowed.end(),
                                [&](const std::string& prefix) { return library.rfind(prefix, 0) == 0; }))
            << library;
}

class ExportsTest : public ModuleTest {
protected:
    // The names of the definitions a fresh builder is given now.
    std::vector<std::string> DefinitionNames() {
        FakeHost builder;
        module_->ProvideDeviceDefinitions(&builder);
        std::vector<std::string> names;
        for (const FakeDefinition& d : builder.Definitions()) names.push_back(d.name);
        return names;
    }
};

TEST_F(ExportsTest, DefinitionsComeInOrderWithTheCustomPlatesBeforeForcePlate) {
    const std::vector<std::string> models = {
        kPlaceholder, "Tamsel",  "Ruvo",    "Pasko",   "Merkan", "Vell",    "Sorvik",
        "Dunmar",     "Halvost", "Jorkel",  "Brenox",  "Quistral", "Ostrun", "Femdal",
        "Carvo",      "Pilsant", "Gemwick", "Trovane", "Nuvrel", "Oskel"};
    const struct {
        std::map<std::string, std::string> files;
        std::vector<std::string> custom;
        bool withHost = true;
    } cases[] = {
        {{}, {}},
        {{{"Ambulor.cfg",
           "COUNT,1\nENABLED,1\nAMBULOR,1,UNIT_1,700,1750,0\nAMP,1,LEFT,0,L\nAMP,1,RIGHT,0,R\nSENSOR,1,"
           "LEFT,A,S,0,0,0\nSENSOR,1,LEFT,B,S,0,0,0\nSENSOR,1,RIGHT,A,S,0,0,0\nSENSOR,1,RIGHT,B,S,0,0,0\n"},
          {"CombinationPlatform.cfg",
           "CP_COUNT,2\nCP_INFO,1,0,PAIR_A,T,0,1,2,0\nCP_INFO,2,0,PAIR_B,T,0,3,4,0\n"},
          {"TreadmillSupport.cfg", "SETUP_TYPE 5\nX_DIMENSION 30\nY_DIMENSION 70\n"}},
         {"SIDE_BY_SIDE_TM", "PAIR_A", "PAIR_B", "UNIT_1"}},
        // No host to warn: the plate of no length is left out all the same.
        {{{"CombinationPlatform.cfg",
           "CP_COUNT,2\nCP_INFO,1,0,FLAT,T,0,0,2,0\nCP_INFO,2,0,PAIR_B,T,0,3,4,0\n"}},
         {"PAIR_B"},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.files.size());
        std::filesystem::remove_all(drive_.Path() / "KESU/CFG");
        for (const auto& file : c.files) WriteConfig(file.first, file.second);
        FakeHost host;
        KESUHost::PluginModule& module = Load();
        module.Initialise(c.withHost ? &host : nullptr);
        module.ProvideDeviceDefinitions(&host);

        std::vector<std::string> expected = models;
        expected.insert(expected.end(), c.custom.begin(), c.custom.end());
        expected.push_back("Force plate");
        EXPECT_EQ(expected, DefinitionNames());
        for (const FakeDefinition& definition : host.Definitions()) {
            if (definition.name == kPlaceholder) continue;
            bool blink = false;
            for (const FakeDefinitionParameter& parameter : definition.parameters)
                blink = blink || parameter.name == "BlinkAction";
            EXPECT_EQ(definition.name != "Vell", blink) << definition.name;
        }
        module.Shutdown();
        Unload();
    }
}

// Calls of the exports, and how often each factory was asked for the
// placeholder device. Every case loads the module afresh: statics left from
// an earlier case would not instantiate again.
TEST_F(ExportsTest, ThePlaceholderDeviceIsInstantiatedOnceAndOnlyWhenItCanBe) {
    FakeHost a, b;
    KESUHost::PluginModule* module = nullptr;
    const std::map<std::string, std::function<void()>> steps = {
        {"init", [&] { module->Initialise(&a); }},
        {"begin A", [&] { module->BeginDeviceInstantiation(&a); }},
        {"begin B", [&] { module->BeginDeviceInstantiation(&b); }},
        {"exact", [&] { module->OnManualDeviceInstantiation(kMaker, kPlaceholder, kVersion); }},
        {"lower-case maker", [&] { module->OnManualDeviceInstantiation("kesu", kPlaceholder, kVersion); }},
        {"trailing blank",
         [&] { module->OnManualDeviceInstantiation(kMaker, "Digital device common settings ", kVersion); }},
        {"plate", [&] { module->OnManualDeviceInstantiation(kMaker, "Sorvik", "   "); }},
        {"null texts", [&] { module->OnManualDeviceInstantiation(nullptr, nullptr, nullptr); }},
        {"refuse", [&] { a.RefuseOperation("InstantiateDevice", "Not now"); }},
    };
    const struct {
        std::vector<std::string> steps;
        size_t fromA, fromB;
    } cases[] = {
        {{"init", "begin A", "begin B"}, 1, 0},
        {{"init", "begin A", "exact", "lower-case maker", "trailing blank", "plate"}, 1, 0},
        {{"begin A", "exact", "null texts"}, 0, 0},
        {{"begin A", "init", "exact"}, 1, 0},
        {{"begin A", "init", "lower-case maker", "trailing blank", "plate", "null texts"}, 0, 0},
        {{"begin A", "init", "begin B"}, 0, 1},
        {{"init", "exact", "begin A"}, 1, 0},
        {{"init", "refuse", "begin A", "begin A", "exact"}, 1, 0},
    };
    for (const auto& c : cases) {
        std::string trace;
        for (const std::string& step : c.steps) trace += step + "; ";
        SCOPED_TRACE(trace);
        a.ClearCalls();
        b.ClearCalls();
        a.ClearRefusals();
        module = &Load();
        for (const std::string& step : c.steps) steps.at(step)();

        const std::vector<FakeCall> fromA = a.CallsOf("InstantiateDevice");
        EXPECT_EQ(c.fromA, fromA.size());
        EXPECT_EQ(c.fromB, b.CallsOf("InstantiateDevice").size());
        for (const FakeCall& call : fromA)
            EXPECT_EQ((std::vector<std::string>{kMaker, kPlaceholder, kVersion, "KESU Shared Config Device"}),
                      call.texts);
        EXPECT_TRUE(a.AllResultsReleased());
        Unload();
        EXPECT_EQ(nullptr, dlopen(KESU_MODULE_FILE, RTLD_NOW | RTLD_NOLOAD));
    }
}

TEST_F(ExportsTest, TheNewerFactoryReachesThePlaceholderDevice) {
    UsbAmpSim::SetAmplifiers({ScriptedAmplifier("Sorvik", 1), ScriptedAmplifier("Dunmar", 2)});
    FakeHost a, b;
    KESUHost::PluginModule& module = Load();
    module.Initialise(&a);
    module.ProvideDeviceDefinitions(&a);
    module.BeginDeviceInstantiation(&a);
    module.BeginDeviceInstantiation(&b);
    ASSERT_EQ(1u, a.Instances().size());
    a.Instances()[0].device->Connect(&a.DeviceHost("KESU Shared Config Device"));
    // Both plates go to b.
    ASSERT_TRUE(b.WaitForCalls("InstantiateDevice", 2));
    EXPECT_EQ(1u, a.CallsOf("InstantiateDevice").size());
    module.Shutdown();
}

// A second Initialise without Shutdown releases the earlier service (its
// worker ends and shuts the library down) before the new list replaces the old.
TEST_F(ExportsTest, ASecondInitialiseReplacesTheServiceTheDeviceAndTheListAndShutdownEmptiesIt) {
    UsbAmpSim::SetAmplifiers({ScriptedAmplifier("Sorvik", 1), ScriptedAmplifier("Dunmar", 2)});
    WriteConfig("TreadmillSupport.cfg", "SETUP_TYPE 4\nX_DIMENSION 30\nY_DIMENSION 70\n");
    FakeHost host;
    Load().Initialise(&host);
    module_->ProvideDeviceDefinitions(&host);
    module_->BeginDeviceInstantiation(&host);
    ASSERT_EQ(1u, host.Instances().size());
    host.Instances()[0].device->Connect(&host.DeviceHost("KESU Shared Config Device"));
    ASSERT_TRUE(host.WaitForLog("Detected 2 KESU digital devices"));
    EXPECT_EQ("TANDEM_TM", DefinitionNames().at(20));
    EXPECT_EQ(0u, LibraryCalls("fmDLLShutDown"));

    WriteConfig("TreadmillSupport.cfg", "SETUP_TYPE 5\nX_DIMENSION 30\nY_DIMENSION 70\n");
    module_->Initialise(&host);
    EXPECT_EQ(1u, LibraryCalls("fmDLLShutDown"));
    const std::vector<std::string> names = DefinitionNames();
    EXPECT_EQ(22u, names.size());
    EXPECT_EQ("SIDE_BY_SIDE_TM", names.at(20));
    // With every file gone, no custom plate is left over from before.
    std::filesystem::remove(drive_.Path() / "KESU/CFG/TreadmillSupport.cfg");
    module_->Initialise(&host);
    EXPECT_EQ(21u, DefinitionNames().size());
    module_->Shutdown();
    EXPECT_EQ(21u, DefinitionNames().size());
}

}  // namespace
}  // namespace KESUTest
