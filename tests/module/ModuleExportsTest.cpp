// The module as a host meets it: its file, its six exports, the definitions
// it announces and when it instantiates the placeholder device.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
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

const std::vector<std::string> kModels = {
    "Tamsel",   "Ruvo",   "Pasko",  "Merkan", "Vell",    "Sorvik",  "Dunmar",  "Halvost", "Jorkel", "Brenox",
    "Quistral", "Ostrun", "Femdal", "Carvo",  "Pilsant", "Gemwick", "Trovane", "Nuvrel",  "Oskel"};

std::vector<std::string> Lines(const std::string& command) {
    std::vector<std::string> lines;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return lines;
    char buffer[4096];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        lines.push_back(line);
    }
    pclose(pipe);
    return lines;
}

TEST(ModuleFileTest, ExportsExactlyTheSixEntryPointsAndNeedsOnlyItsNeighbours) {
    const std::string file = KESU_MODULE_FILE;
    EXPECT_EQ("/KESUplugin.kzm", file.substr(file.rfind('/')));

    std::set<std::string> exported;
    for (const std::string& line : Lines("nm -D --defined-only '" + file + "'")) {
        const size_t blank = line.rfind(' ');
        if (blank != std::string::npos) exported.insert(line.substr(blank + 1));
    }
    EXPECT_EQ((std::set<std::string>{"PluginAPIVersion", "Initialise", "ProvideDeviceDefinitions",
                                     "BeginDeviceInstantiation", "OnManualDeviceInstantiation", "Shutdown"}),
              exported);

    // The system's C and C++ runtime, Boost, the two stand-ins for Windows
    // and the vendor library, and a sanitizer runtime in those builds.
    const std::vector<std::string> allowed = {
        "libc.so",    "libm.so",     "libstdc++.so", "libgcc_s.so",
        "ld-linux",   "libboost_",   "libwin32.so",  "libKESUUSBDevice.so",
        "libasan.so", "libubsan.so", "libtsan.so",   "libpthread.so",
        "libdl.so"};
    int needed = 0;
    for (const std::string& line : Lines("objdump -p '" + file + "'")) {
        if (line.find("NEEDED") == std::string::npos) continue;
        ++needed;
        const std::string library = line.substr(line.rfind(' ') + 1);
        bool known = false;
        for (const std::string& prefix : allowed) known = known || library.rfind(prefix, 0) == 0;
        EXPECT_TRUE(known) << library;
    }
    EXPECT_GT(needed, 0);
}

class ExportsTest : public ModuleTest {};

TEST_F(ExportsTest, EachLoadStartsFromFreshStaticsAndUnloadLeavesNothing) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        FakeHost host;
        KESUHost::PluginModule& module = Load();
        ASSERT_TRUE(module.IsLoaded());
        EXPECT_EQ(1, module.PluginAPIVersion());
        EXPECT_TRUE(module.Initialise(&host));
        EXPECT_EQ(1, module.PluginAPIVersion());
        module.BeginDeviceInstantiation(&host);
        // A module left over from the first round would not instantiate again.
        EXPECT_EQ(1u, host.CallsOf("InstantiateDevice").size());
        module.Shutdown();
        Unload();
        EXPECT_EQ(nullptr, dlopen(KESU_MODULE_FILE, RTLD_NOW | RTLD_NOLOAD));
    }
}

std::vector<std::string> Names(const std::vector<FakeDefinition>& definitions) {
    std::vector<std::string> names;
    for (const FakeDefinition& d : definitions) names.push_back(d.name);
    return names;
}

bool HasParameter(const FakeDefinition& definition, const std::string& name) {
    for (const FakeDefinitionParameter& parameter : definition.parameters)
        if (parameter.name == name) return true;
    return false;
}

TEST_F(ExportsTest, DefinitionsComeInOrderWithTheCustomPlatesBeforeForcePlate) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;
        std::vector<std::string> custom;
    };
    const Case cases[] = {
        {"no configuration file", {}, {}},
        {"all three files",
         {{"Ambulor.cfg",
           "COUNT,1\nENABLED,1\nAMBULOR,1,UNIT_1,700,1750,0\nAMP,1,LEFT,0,L\nAMP,1,RIGHT,0,R\n"
           "SENSOR,1,LEFT,A,S,0,0,0\nSENSOR,1,LEFT,B,S,0,0,0\nSENSOR,1,RIGHT,A,S,0,0,0\nSENSOR,1,RIGHT,B,S,0,"
           "0,0\n"},
          {"CombinationPlatform.cfg",
           "CP_COUNT,2\nCP_INFO,1,0,PAIR_A,T,0,1,2,0\nCP_INFO,2,0,PAIR_B,T,0,3,4,0\n"},
          {"TreadmillSupport.cfg", "SETUP_TYPE 5\n"}},
         {"SIDE_BY_SIDE_TM", "PAIR_A", "PAIR_B", "UNIT_1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& file : c.files) WriteConfig(file.first, file.second);
        FakeHost host;
        KESUHost::PluginModule& module = Load();
        module.Initialise(&host);
        module.ProvideDeviceDefinitions(&host);

        std::vector<std::string> expected = {kPlaceholder};
        expected.insert(expected.end(), kModels.begin(), kModels.end());
        expected.insert(expected.end(), c.custom.begin(), c.custom.end());
        expected.push_back("Force plate");
        const std::vector<FakeDefinition> definitions = host.Definitions();
        EXPECT_EQ(expected, Names(definitions));
        for (size_t i = 1; i < definitions.size(); ++i)
            EXPECT_EQ(definitions[i].name != "Vell", HasParameter(definitions[i], "BlinkAction"))
                << definitions[i].name;

        module.Shutdown();
        Unload();
    }
}

// Calls of the exports, and how often each factory was asked for the
// placeholder device.
TEST_F(ExportsTest, ThePlaceholderDeviceIsInstantiatedOnceAndOnlyWhenItCanBe) {
    FakeHost a, b;
    KESUHost::PluginModule* module = nullptr;
    std::map<std::string, std::function<void()>> steps = {
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
    struct Case {
        std::vector<std::string> steps;
        size_t fromA, fromB;
    };
    const Case cases[] = {
        {{"init", "begin A", "begin B"}, 1, 0},
        {{"init", "begin A", "exact", "lower-case maker", "trailing blank", "plate"}, 1, 0},
        {{"begin A", "exact", "null texts"}, 0, 0},
        {{"begin A", "init", "exact"}, 1, 0},
        {{"begin A", "init", "lower-case maker", "trailing blank", "plate", "null texts"}, 0, 0},
        {{"begin A", "init", "begin B"}, 0, 1},
        {{"init", "exact", "begin A"}, 1, 0},
        {{"init", "refuse", "begin A", "begin A", "exact"}, 1, 0},
    };
    for (const Case& c : cases) {
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
    }
}

TEST_F(ExportsTest, TheNewerFactoryReachesThePlaceholderDevice) {
    UsbAmpSim::SetAmplifiers(
        {ScriptedAmplifier("Sorvik", "", "", 1), ScriptedAmplifier("Dunmar", "", "", 2)});
    FakeHost a, b;
    KESUHost::PluginModule& module = Load();
    module.Initialise(&a);
    module.ProvideDeviceDefinitions(&a);
    module.ProvideDeviceDefinitions(&b);
    module.BeginDeviceInstantiation(&a);
    module.BeginDeviceInstantiation(&b);
    ASSERT_EQ(1u, a.Instances().size());
    a.Instances()[0].device->Connect(&a.DeviceHost("KESU Shared Config Device"));

    ASSERT_TRUE(b.WaitForCalls("InstantiateDevice", 2));
    EXPECT_EQ(1u, a.CallsOf("InstantiateDevice").size());
    module.Shutdown();
}

}  // namespace
}  // namespace KESUTest
