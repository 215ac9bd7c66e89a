// The custom plate list that Initialise builds from the three configuration
// files: which files and settings give a plate, its name and its sizes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/mfc/WinPath.h"
#include "plugin/CustomPlateDefinitions.h"
#include "plugin/ModuleStatics.h"
#include "sdk/ModuleHost.h"
#include "tests/platform/TempFolder.h"
#include "tests/support/FakeHost.h"

using namespace KESU;

namespace {

// Name, X and Y size.
using Plate = std::tuple<std::string, double, double>;

// Sizes are double(float(scale * size)).
double Inches(float size) { return static_cast<float>(0.0254f * size); }
double Millimetres(float size) { return static_cast<float>(0.001f * size); }

// Builds the list from the files given (name -> contents) on a drive of their
// own, reads it out and empties it again. Every element is a generic plate
// definition but for its name and sizes. The log lines go to `logged`.
std::vector<Plate> BuildFrom(const std::map<std::string, std::string>& files,
                             std::vector<std::string>* logged = nullptr) {
    KESUTest::TempFolder drive;
    for (const auto& file : files) drive.Write("KESU/CFG/" + file.first, file.second);
    const std::string savedRoot = WinPath::GetDriveRoot();
    WinPath::SetDriveRoot(drive.Path().string());
    KESUTest::FakeHost host;
    g_host = &host;
    BuildCustomPlateDefinitions();
    g_host = nullptr;
    WinPath::SetDriveRoot(savedRoot);
    for (const KESUTest::FakeLogLine& line : host.LogLines())
        if (logged) logged->push_back(std::to_string(line.level) + " " + line.text);

    std::vector<Plate> plates;
    const VKESUGenericPlateDefinition generic;
    for (int32_t i = 0; i < g_customPlateCount; ++i) {
        const VKESUGenericPlateDefinition& d = g_customPlateDefinitions[i];
        plates.emplace_back(d.name, d.sizeX, d.sizeY);
        EXPECT_TRUE(d.description == generic.description && d.maker == generic.maker &&
                    d.version == generic.version && d.syncPort == generic.syncPort)
            << d.name;
    }
    DeleteCustomPlateDefinitions();
    EXPECT_EQ(nullptr, g_customPlateDefinitions);
    return plates;
}

const char* const kTreadmill = "TreadmillSupport.cfg";
const char* const kCombo = "CombinationPlatform.cfg";
const char* const kAmbulor = "Ambulor.cfg";

std::string Combo(const std::string& enabled, const std::string& units, const std::string& count,
                  const std::string& platforms) {
    return "VERSION,1\nENABLED," + enabled + "\nUNITS," + units + "\nCP_COUNT," + count + "\n" + platforms;
}

std::string AmbulorUnit(int unit, const std::string& name, const std::string& sizes) {
    const std::string u = std::to_string(unit);
    return "AMBULOR," + u + "," + name + "," + sizes + ",0\nAMP," + u + ",LEFT,x,L\nAMP," + u +
           ",RIGHT,x,R\nSENSOR," + u + ",LEFT,A,S,0,0,0\nSENSOR," + u + ",LEFT,B,S,0,0,0\nSENSOR," + u +
           ",RIGHT,A,S,0,0,0\nSENSOR," + u + ",RIGHT,B,S,0,0,0\n";
}

std::string Ambulor(const std::string& enabled, const std::string& unitWord, const std::string& unitLines) {
    return "VERSION,101\nENABLED," + enabled + "\nUNITS," + unitWord + "\nCOUNT,2\n" + unitLines;
}

const std::string kTwoUnits = AmbulorUnit(1, "BeltA", "1750,700") + AmbulorUnit(2, "BeltB", "60,20");

TEST(CustomPlateDefinitionsTest, FilesAndSettingsGiveTheseDefinitionsInThisOrder) {
    const struct {
        const char* what;
        std::map<std::string, std::string> files;
        std::vector<Plate> plates;
    } cases[] = {
        {"no file", {}, {}},
        {"tandem treadmill",
         {{kTreadmill, "SETUP_TYPE 4\nX_DIMENSION 30\nY_DIMENSION 70.5\n"}},
         {{"TANDEM_TM", Inches(30), Inches(70.5f)}}},
        {"side-by-side treadmill",
         {{kTreadmill, "ENABLED 1\nTREADMILL_TYPE 5\nX_DIMENSION 20\nY_DIMENSION 40\n"}},
         {{"SIDE_BY_SIDE_TM", Inches(20), Inches(40)}}},
        {"other setup type", {{kTreadmill, "ENABLED 1\nSETUP_TYPE 2\nX_DIMENSION 20\n"}}, {}},
        {"treadmill type without setup", {{kTreadmill, "ENABLED 1\nTREADMILL_TYPE 3\n"}}, {}},
        {"treadmill switched off", {{kTreadmill, "ENABLED 0\nTREADMILL_TYPE 4\n"}}, {}},
        {"combination in inches",
         {{kCombo, Combo("1", "0", "1", "CP_INFO,1,0,Pair,T,0,20,30,0\n")}},
         {{"Pair", 0.50800001621246338, Inches(30)}}},
        {"combination in millimetres",
         {{kCombo, Combo("1", "1", "1", "CP_INFO,1,0,Pair,T,0,600,1200.5,0\n")}},
         {{"Pair", Millimetres(600), Millimetres(1200.5f)}}},
        {"combination count 0, enabled", {{kCombo, Combo("1", "0", "0", "")}}, {}},
        {"combination disabled, count 2",
         {{kCombo, Combo("0", "1", "2", "CP_INFO,2,0,Second,T,0,3,4,0\nCP_INFO,1,0,First,T,0,1,2,0\n")}},
         {{"First", Millimetres(1), Millimetres(2)}, {"Second", Millimetres(3), Millimetres(4)}}},
        {"faulty combination", {{kCombo, Combo("1", "1", "2", "CP_INFO,1,0,Only,T,0,1,2,0\n")}}, {}},
        {"units",
         {{kAmbulor, Ambulor("1", "METRIC", kTwoUnits)}},
         {{"BeltA", Millimetres(1750), Millimetres(700)}, {"BeltB", Millimetres(60), Millimetres(20)}}},
        {"units in inches",
         {{kAmbulor, Ambulor("1", "ENGLISH", kTwoUnits)}},
         {{"BeltA", Inches(1750), Inches(700)}, {"BeltB", Inches(60), Inches(20)}}},
        {"units disabled", {{kAmbulor, Ambulor("0", "METRIC", kTwoUnits)}}, {}},
        {"faulty units", {{kAmbulor, Ambulor("1", "METRIC", AmbulorUnit(1, "BeltA", "1,2"))}}, {}},
        {"all three files",
         {{kAmbulor, Ambulor("1", "METRIC", kTwoUnits)},
          {kCombo, Combo("1", "1", "1", "CP_INFO,1,0,Pair,T,0,5,6,0\n")},
          {kTreadmill, "SETUP_TYPE 5\nX_DIMENSION 1\nY_DIMENSION 2\n"}},
         {{"SIDE_BY_SIDE_TM", Inches(1), Inches(2)},
          {"Pair", Millimetres(5), Millimetres(6)},
          {"BeltA", Millimetres(1750), Millimetres(700)},
          {"BeltB", Millimetres(60), Millimetres(20)}}},
        {"a faulty file spoils only itself",
         {{kAmbulor, Ambulor("1", "METRIC", kTwoUnits)},
          {kCombo, "CP_COUNT,3\n"},
          {kTreadmill, "SETUP_TYPE 4\nX_DIMENSION 30\nY_DIMENSION 70\n"}},
         {{"TANDEM_TM", Inches(30), Inches(70)},
          {"BeltA", Millimetres(1750), Millimetres(700)},
          {"BeltB", Millimetres(60), Millimetres(20)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.plates, BuildFrom(c.files));
    }
}

TEST(CustomPlateDefinitionsTest, APlateUnderAMillimetreOrWithoutALengthIsLeftOutAndLoggedTheRestCounts) {
    const struct {
        const char* what;
        std::map<std::string, std::string> files;
        std::vector<Plate> plates;
        std::vector<std::string> leftOut;
    } cases[] = {
        {"infinite treadmill",
         {{kTreadmill, "SETUP_TYPE 4\nX_DIMENSION 1e400\nY_DIMENSION 70\n"}},
         {},
         {"TANDEM_TM"}},
        {"treadmill without sizes", {{kTreadmill, "SETUP_TYPE 5\n"}}, {}, {"SIDE_BY_SIDE_TM"}},
        {"a unit of negative width",
         {{kAmbulor,
           Ambulor("1", "METRIC", AmbulorUnit(1, "BeltA", "1750,-700") + AmbulorUnit(2, "BeltB", "60,20"))}},
         {{"BeltB", Millimetres(60), Millimetres(20)}},
         {"BeltA"}},
        {"a combined platform of zero length",
         {{kCombo, Combo("1", "1", "2", "CP_INFO,1,0,Flat,T,0,0,5,0\nCP_INFO,2,0,Good,T,0,3,4,0\n")}},
         {{"Good", Millimetres(3), Millimetres(4)}},
         {"Flat"}},
        {"combined platforms under a millimetre",
         {{kCombo, Combo("1", "1", "4",
                         "CP_INFO,1,0,Speck,T,0,1e-40,5,0\nCP_INFO,2,0,Half,T,0,600,0.5,0\n"
                         "CP_INFO,3,0,Milli,T,0,1,1,0\nCP_INFO,4,0,Floor,T,0,600,400,0\n")}},
         {{"Milli", Millimetres(1), Millimetres(1)}, {"Floor", Millimetres(600), Millimetres(400)}},
         {"Speck", "Half"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> logged;
        EXPECT_EQ(c.plates, BuildFrom(c.files, &logged));
        ASSERT_EQ(c.leftOut.size(), logged.size());
        for (size_t i = 0; i < logged.size(); ++i)
            EXPECT_EQ(0u, logged[i].find("2 Configured plate " + c.leftOut[i] + " left out")) << logged[i];
    }
}

TEST(CustomPlateDefinitionsTest, NamesKeepTheLowByteOfAtMostThirtyUnits) {
    const struct {
        std::wstring wide;
        std::string narrow;
    } cases[] = {
        {L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"},
        {L"ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"},
        {L"Caf\u00e9", "Caf\xe9"},
        {L"Left\u0100Right", "Left"},
        {L"A\u0141B",
         "A\x41"
         "B"},
        {L"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.narrow, NarrowPlateName(c.wide.c_str()));
}

}  // namespace
