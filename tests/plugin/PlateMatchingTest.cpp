// The model catalogue and the two lookups that pick a definition for a
// detected platform: the model table (first match, 1 % of the measured size)
// and the custom plate list (last match, 1 % of the element's own size).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "plugin/ModuleStatics.h"
#include "plugin/VKESUPlateModels.h"
#include "plugin/VSharedConfigDevice.h"
#include "tests/support/CommaLocale.h"

using namespace KESU;

namespace {

using Record = VKESUDriverService::VDeviceInfo;

Record Platform(const std::string& model, const std::string& length, const std::string& width) {
    Record record;
    record.platformModelNumber = model;
    record.platformLength = length;
    record.platformWidth = width;
    return record;
}

int Match(const std::string& model, const std::string& length, const std::string& width) {
    return VSharedConfigDevice::MatchPlateModel(Platform(model, length, width));
}

struct CustomPlate {
    std::string name;
    double sizeX;
    double sizeY;
};

// Installs a custom plate list as Initialise would and empties it again, so
// that no other test finds it.
class CustomPlateList {
public:
    explicit CustomPlateList(const std::vector<CustomPlate>& plates) {
        g_customPlateDefinitions = new VKESUGenericPlateDefinition[plates.size()];
        for (size_t i = 0; i < plates.size(); ++i) {
            g_customPlateDefinitions[i].name = plates[i].name;
            g_customPlateDefinitions[i].sizeX = plates[i].sizeX;
            g_customPlateDefinitions[i].sizeY = plates[i].sizeY;
        }
        g_customPlateCount = static_cast<int32_t>(plates.size());
    }
    ~CustomPlateList() {
        delete[] g_customPlateDefinitions;
        g_customPlateDefinitions = nullptr;
        g_customPlateCount = 0;
    }
    CustomPlateList(const CustomPlateList&) = delete;
    CustomPlateList& operator=(const CustomPlateList&) = delete;
};

std::unique_ptr<VKESUGenericPlateDefinition> Find(const std::string& model, const std::string& length,
                                                  const std::string& width) {
    return std::unique_ptr<VKESUGenericPlateDefinition>(
        FindConfiguredPlateDefinition(Platform(model, length, width)));
}

// The name of the definition found, or "none".
std::string Found(const std::string& model, const std::string& length, const std::string& width) {
    std::unique_ptr<VKESUGenericPlateDefinition> found = Find(model, length, width);
    return found ? found->name : "none";
}

}  // namespace

TEST(PlateModelCatalogueTest, StaticsAndNewInstancesCarryTheirRow) {
    struct Row {
        const char* name;
        double sizeX, sizeY;
    };
    const Row rows[] = {{"Tamsel", 0.4, 0.6},      {"Ruvo", 0.464, 0.508},    {"Pasko", 0.464, 0.508},
                        {"Merkan", 0.464, 0.508},  {"Vell", 0.498, 0.498},    {"Sorvik", 0.6, 0.6},
                        {"Dunmar", 0.6, 0.9},      {"Halvost", 0.6, 1.2},     {"Jorkel", 0.603, 0.9},
                        {"Brenox", 0.9, 0.9},      {"Quistral", 1.2, 1.2},    {"Ostrun", 0.61, 0.711},
                        {"Femdal", 0.61, 0.61},    {"Carvo", 0.61, 1.219},    {"Pilsant", 0.25, 0.5},
                        {"Gemwick", 0.325, 1.373}, {"Trovane", 0.622, 0.718}, {"Nuvrel", 0.405, 1.04},
                        {"Oskel", 0.762, 1.016}};
    const VKESUGenericPlateDefinition* statics[] = {
        &g_tamselPlateDefinition,  &g_ruvoPlateDefinition,     &g_paskoPlateDefinition,
        &g_merkanPlateDefinition,  &g_vellPlateDefinition,     &g_sorvikPlateDefinition,
        &g_dunmarPlateDefinition,  &g_halvostPlateDefinition,  &g_jorkelPlateDefinition,
        &g_brenoxPlateDefinition,  &g_quistralPlateDefinition, &g_ostrunPlateDefinition,
        &g_femdalPlateDefinition,  &g_carvoPlateDefinition,    &g_pilsantPlateDefinition,
        &g_gemwickPlateDefinition, &g_trovanePlateDefinition,  &g_nuvrelPlateDefinition,
        &g_oskelPlateDefinition};
    const VKESUGenericPlateDefinition generic;

    for (int code = 1; code <= 19; ++code) {
        const Row& row = rows[code - 1];
        const VKESUGenericPlateDefinition& model = *statics[code - 1];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.name, model.name);
        EXPECT_EQ(row.sizeX, model.sizeX);
        EXPECT_EQ(row.sizeY, model.sizeY);
        // Everything but the name and the sizes is the generic definition's.
        EXPECT_EQ(generic.description, model.description);
        EXPECT_EQ("KESU", model.maker);
        EXPECT_EQ("   ", model.version);
        EXPECT_EQ("Sync Port", model.syncPort);
        EXPECT_EQ(5u, model.blinkAction.id);

        std::unique_ptr<VKESUGenericPlateDefinition> made(NewModelPlateDefinition(code));
        ASSERT_NE(nullptr, made);
        const VKESUGenericPlateDefinition& madeModel = *made;
        EXPECT_EQ(typeid(model), typeid(madeModel));
        EXPECT_NE(typeid(VKESUGenericPlateDefinition), typeid(madeModel));
        EXPECT_EQ(row.name, made->name);
        EXPECT_EQ(row.sizeX, made->sizeX);
        EXPECT_EQ(row.sizeY, made->sizeY);

        EXPECT_EQ(code, Match(row.name, "", ""));
    }
    EXPECT_EQ(nullptr, NewModelPlateDefinition(0));
    EXPECT_EQ(nullptr, NewModelPlateDefinition(20));

    EXPECT_EQ("Force plate", g_genericPlateDefinition.name);
    EXPECT_EQ(0.5, g_genericPlateDefinition.sizeX);
    EXPECT_EQ(0.5, g_genericPlateDefinition.sizeY);
    EXPECT_EQ(nullptr, g_customPlateDefinitions);
    EXPECT_EQ(0, g_customPlateCount);
}

TEST(MatchPlateModelTest, ModelTextIsACaseSensitiveSubstringAndTheEarlierRowWins) {
    EXPECT_EQ(1, Match("xTamsel-01", "", ""));
    // Lower case falls through to the sizes, which here are unknown: 19.7 in.
    EXPECT_EQ(5, Match("xtamsel-01", "", ""));
    EXPECT_EQ(17, Match("Trovane", "1", "1"));
    EXPECT_EQ(17, Match("FP-TROVANE-2", "1", "1"));
    for (const char* mixed : {"trovane", "TroVane", "TROVANe", "Trovan"})
        EXPECT_EQ(0, Match(mixed, "1", "1")) << mixed;
    EXPECT_EQ(1, Match("Sorvik/Tamsel", "", ""));
    EXPECT_EQ(2, Match("VellRuvo", "", ""));
    EXPECT_EQ(17, Match("TROVANE Oskel", "", ""));
    // The text decides even when the sizes fit another row (Tamsel's here).
    EXPECT_EQ(19, Match("Oskel", "23.622", "15.748"));
    // By size alone Ruvo's sizes give Ruvo, never Pasko or Merkan, which share them.
    EXPECT_EQ(2, Match("", "20", "18.267716535433072"));
}

TEST(MatchPlateModelTest, UnreadableOrZeroSizesCountAsNineteenPointSevenInches) {
    // 19.7 in = 500.38 mm, within 1 % (5.0038 mm) of Vell's 498 mm both ways.
    for (const char* unknown : {"", "0", "0.0", "-0", "abc", "   ", ".", "+", "0x1F", "inf", "nan", "e5"})
        EXPECT_EQ(5, Match("", unknown, unknown)) << '"' << unknown << '"';
    // Either side alone can be unknown.
    EXPECT_EQ(0, Match("", "", "23.6"));
    EXPECT_EQ(5, Match("", "19.6", ""));
}

TEST(MatchPlateModelTest, SizeTextsReadAsAtofInTheClassicLocale) {
    // 23.6 in = 599.44 mm: Sorvik (600 by 600).
    for (const char* text : {"23.6", "  23.6", "\t\n23.6", "+23.6", "23.6in", "23.6.1", "2.36e1", "2.36E+1",
                             "236e-1", "23.60000", "23.6e", "23.6e+"})
        EXPECT_EQ(6, Match("", text, "23.6")) << '"' << text << '"';
    // The sign counts: -599.44 mm fits no row.
    EXPECT_EQ(0, Match("", "-23.6", "-23.6"));
    // A comma is no decimal point: "23,6" reads 23 (584.2 mm), which fits nothing.
    EXPECT_EQ(0, Match("", "23,6", "23,6"));
}

TEST(MatchPlateModelTest, SizesBeyondTheRangeOfADoubleReadAsInfinityOrZero) {
    // Too large: infinity, which fits no row, whatever the exponent's sign.
    for (const std::string& huge :
         {std::string("1e400"), std::string("1e99999999999999999999"), std::string(400, '9') + "e-1"})
        EXPECT_EQ(0, Match("", huge, huge)) << huge;
    // Too small: 0, read as 19.7 in (Vell), whatever the exponent's sign.
    for (const std::string& tiny : {std::string("1e-400"), std::string("-1e-99999999999999999999"),
                                    "0." + std::string(400, '0') + "1e+5"})
        EXPECT_EQ(5, Match("", tiny, tiny)) << tiny;
    // Below the normal doubles, but not 0.
    EXPECT_EQ(0, Match("", "1e-310", "1e-310"));
}

TEST(MatchPlateModelTest, TheProcessLocaleDoesNotChangeTheReading) {
    KESUTest::CommaLocale comma;
    if (!comma.Active()) GTEST_SKIP() << "no locale with a decimal comma could be set";
    ASSERT_EQ(23.0, std::atof("23.6"));  // the process locale now reads a comma
    EXPECT_EQ(6, Match("", "23.6", "23.6"));
    EXPECT_EQ(0, Match("", "23,6", "23,6"));
    EXPECT_EQ(5, Match("", "", ""));
}

TEST(MatchPlateModelTest, RowSeventeenIsHeldAgainstALengthOf762) {
    EXPECT_EQ(17, Match("", "30", "24.49"));  // 762 mm by 622.05 mm
    // 718 mm by 622 mm: the size its definition carries matches no row.
    EXPECT_EQ(0, Match("", "28.267716535433072", "24.488188976377952"));
}

TEST(MatchPlateModelTest, OverlappingRowsResolveToTheEarlierOne) {
    // 900 mm by 601 mm fits Dunmar (600 wide) and Jorkel (603 wide).
    EXPECT_EQ(7, Match("", "35.433070866141733", "23.661417322834644"));
    // 605 mm by 605 mm fits Sorvik and Femdal.
    EXPECT_EQ(6, Match("", "23.818897637795274", "23.818897637795274"));
}

TEST(MatchPlateModelTest, ToleranceIsStrictOnePercentOfTheMeasuredSize) {
    // No length of any row lands exactly on 1 % of itself in double
    // precision, so the inputs are the two neighbouring doubles around the
    // boundary. Both lie beyond 1 % of the nominal size: they tell the measured
    // basis from the nominal one.
    const std::string inside = "23.860653781913623";   // 606.06060606060601 mm
    const std::string outside = "23.860653781913626";  // 606.06060606060612 mm
    EXPECT_EQ(6, Match("", inside, "23.6"));
    EXPECT_EQ(0, Match("", outside, "23.6"));

    // The same on the width and below the nominal size: Tamsel, 400 mm wide.
    EXPECT_EQ(1, Match("", "23.6", "15.592110392141578"));  // 396.03960396039605 mm
    EXPECT_EQ(0, Match("", "23.6", "15.592110392141576"));  // 396.03960396039599 mm
}

TEST(FindConfiguredPlateDefinitionTest, EmptyListFindsNothing) {
    EXPECT_EQ("none", Found("", "", ""));
    EXPECT_EQ("none", Found("TANDEM_TM", "19.685", "19.685"));
}

TEST(FindConfiguredPlateDefinitionTest, NameIsExactAndTheLastOneWins) {
    CustomPlateList list({{"CP-1", 0.3, 0.3}, {"CP-1", 0.4, 0.4}, {"CP-2", 0.50038, 0.50038}});

    // The unknown sizes fit CP-2 alone, yet the name decides; of the two
    // named CP-1 the later gives its sizes.
    std::unique_ptr<VKESUGenericPlateDefinition> found = Find("CP-1", "", "");
    ASSERT_NE(nullptr, found);
    EXPECT_EQ("CP-1", found->name);
    EXPECT_EQ(0.4, found->sizeX);
    EXPECT_EQ(0.4, found->sizeY);

    EXPECT_EQ("CP-2", Found("cp-1", "", ""));
    EXPECT_EQ("CP-2", Found("CP-1 ", "", ""));
    EXPECT_EQ("CP-2", Found("CP-", "", ""));
}

TEST(FindConfiguredPlateDefinitionTest, SizesMatchWidthToXAndLengthToYAndTheLastOneWins) {
    CustomPlateList list({{"A", 0.3, 0.6}, {"B", 0.301, 0.601}, {"C", 0.9, 0.9}});
    // 11.811 in = 0.29999 m wide, 23.622 in = 0.59999 m long: A and B fit.
    EXPECT_EQ("B", Found("unknown", "23.622", "11.811"));
    EXPECT_EQ("none", Found("unknown", "11.811", "23.622"));
    EXPECT_EQ("C", Found("", "35.433", "35.433"));
    EXPECT_EQ("none", Found("", "", ""));
}

TEST(FindConfiguredPlateDefinitionTest, ToleranceIsStrictOnePercentOfTheElementSize) {
    // Length "25.4" reads 0.64516 m. For this Y, 1 % of sizeY equals
    // |sizeY - Y| exactly in double precision.
    const double y = 25.4 * 0.0254;
    const double sizeY = 0.65167676767676763;
    ASSERT_EQ(std::fabs(sizeY * 0.01), std::fabs(sizeY - y));
    // Width "27.9" reads 0.70866 m; the boundary element lies below it.
    const double x = 27.9 * 0.0254;
    const double sizeX = 0.7016435643564356;
    ASSERT_EQ(std::fabs(sizeX * 0.01), std::fabs(sizeX - x));

    {
        CustomPlateList list({{"exactly 1 % in Y", x, sizeY}});
        EXPECT_EQ("none", Found("", "25.4", "27.9"));
    }
    {
        CustomPlateList list({{"exactly 1 % in X", sizeX, y}});
        EXPECT_EQ("none", Found("", "25.4", "27.9"));
    }
    {
        // One step inside matches, although the difference is more than 1 %
        // of the measured size: the basis is the element's.
        const double insideY = std::nextafter(sizeY, 0.0);
        ASSERT_GT(std::fabs(insideY - y), std::fabs(y * 0.01));
        CustomPlateList list({{"inside in Y", x, insideY}});
        EXPECT_EQ("inside in Y", Found("", "25.4", "27.9"));
    }
    {
        CustomPlateList list({{"inside in X", std::nextafter(sizeX, 1.0), y}});
        EXPECT_EQ("inside in X", Found("", "25.4", "27.9"));
    }
}

TEST(FindConfiguredPlateDefinitionTest, ZeroSizedElementsNeverMatchBySize) {
    CustomPlateList list({{"flat", 0.0, 0.50038}, {"thin", 0.50038, 0.0}});
    EXPECT_EQ("none", Found("", "", ""));
    EXPECT_EQ("none", Found("", "0.0001", "0.0001"));
    EXPECT_EQ("flat", Found("flat", "", ""));
}

TEST(FindConfiguredPlateDefinitionTest, UnknownSizesMatchHalfAMetreSquare) {
    CustomPlateList list({{"half", 0.5, 0.5}});
    EXPECT_EQ("half", Found("", "", ""));
    EXPECT_EQ("half", Found("", "0", "junk"));
}

TEST(FindConfiguredPlateDefinitionTest, ResultIsANewGenericDefinitionWithTheMatchedNameAndSizes) {
    CustomPlateList list({{"SIDE_BY_SIDE_TM", 0.6, 1.8}});
    VKESUGenericPlateDefinition& element = g_customPlateDefinitions[0];
    element.description = "changed";
    element.syncPort = "changed";
    element.amplifierSerial.value.SetValue("changed");

    std::unique_ptr<VKESUGenericPlateDefinition> found = Find("SIDE_BY_SIDE_TM", "", "");
    ASSERT_NE(nullptr, found);
    EXPECT_NE(&element, found.get());
    const VKESUGenericPlateDefinition& foundDefinition = *found;
    EXPECT_EQ(typeid(VKESUGenericPlateDefinition), typeid(foundDefinition));
    EXPECT_EQ("SIDE_BY_SIDE_TM", found->name);
    EXPECT_EQ(0.6, found->sizeX);
    EXPECT_EQ(1.8, found->sizeY);
    // Only the name and sizes come from the element.
    EXPECT_EQ("This device represents an KESU force plate/signal conditioner pair", found->description);
    EXPECT_EQ("KESU", found->maker);
    EXPECT_EQ("   ", found->version);
    EXPECT_EQ("Sync Port", found->syncPort);
    EXPECT_EQ("", found->amplifierSerial.value.GetValue());
}

namespace {

// The size rule of every model row, written out here apart from the table so
// that a slip in one row's millimetres shows. Rows without a size rule are
// chosen by their model text alone.
struct SizeRule {
    const char* name;
    bool hasSizeRule;
    double length;  // millimetres
    double width;
};
const SizeRule kSizeRules[] = {
    {"Tamsel", true, 600, 400},   {"Ruvo", true, 508, 464},       {"Pasko", false, 0, 0},
    {"Merkan", false, 0, 0},      {"Vell", true, 498, 498},       {"Sorvik", true, 600, 600},
    {"Dunmar", true, 900, 600},   {"Halvost", true, 1200, 600},   {"Jorkel", true, 900, 603},
    {"Brenox", true, 900, 900},   {"Quistral", true, 1200, 1200}, {"Ostrun", true, 711, 610},
    {"Femdal", true, 610, 610},   {"Carvo", true, 1219, 610},     {"Pilsant", true, 500, 250},
    {"Gemwick", true, 1373, 325}, {"Trovane", true, 762, 622},    {"Nuvrel", true, 1040, 405},
    {"Oskel", true, 1016, 762},
};
static_assert(sizeof kSizeRules / sizeof kSizeRules[0] == 19, "one rule per model row");

// Millimetres as a size text in inches that reads back to the same double.
std::string Inches(double millimetres) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", millimetres / 25.4);
    return text;
}

// Millimetres as the lookup reads them back from Inches.
double ReadBack(double millimetres) {
    return std::strtod(Inches(millimetres).c_str(), nullptr) * 25.4;
}

bool Fits(double measured, double nominal) {
    return std::fabs(measured - nominal) < std::fabs(measured * 0.01);
}

// The code the rules above give a platform without model text: the first row
// whose nominal length and width both lie within 1 % of the measured sizes.
int ExpectedCode(double length, double width) {
    const double readLength = ReadBack(length);
    const double readWidth = ReadBack(width);
    for (int row = 0; row < 19; ++row) {
        const SizeRule& rule = kSizeRules[row];
        if (rule.hasSizeRule && Fits(readLength, rule.length) && Fits(readWidth, rule.width)) return row + 1;
    }
    return 0;
}

}  // namespace

// Each row's own nominal sizes, and each size just inside and just outside 1 %
// on either side (the tolerance is 1 % of the measured size, so the window of
// a nominal n runs from n / 1.01 to n / 0.99): inside gives that row, or the
// earlier row whose sizes overlap it; outside never gives that row.
TEST(MatchPlateModelTest, EveryRowsSizeRuleHoldsItsNominalSizesToOnePercent) {
    // Strict bounds of the window, as factors of the nominal size, with a
    // margin far above rounding and far below a millimetre.
    const double inside[] = {1 / 1.01 * (1 + 1e-6), 1 / 0.99 * (1 - 1e-6)};
    const double outside[] = {1 / 1.01 * (1 - 1e-6), 1 / 0.99 * (1 + 1e-6)};
    int earlier = 0;
    for (int row = 0; row < 19; ++row) {
        const SizeRule& rule = kSizeRules[row];
        const int code = row + 1;
        SCOPED_TRACE(rule.name);
        ASSERT_EQ(std::string(rule.name), kPlateModels[row].name);
        if (!rule.hasSizeRule) {
            // Only the model text reaches this row: not even the sizes its
            // definition carries.
            const double length = kPlateModels[row].sizeY * 1000;
            const double width = kPlateModels[row].sizeX * 1000;
            EXPECT_NE(code, Match("", Inches(length), Inches(width)));
            EXPECT_EQ(ExpectedCode(length, width), Match("", Inches(length), Inches(width)));
            continue;
        }

        const int nominal = Match("", Inches(rule.length), Inches(rule.width));
        EXPECT_EQ(ExpectedCode(rule.length, rule.width), nominal);
        EXPECT_GE(code, nominal);
        EXPECT_LT(0, nominal);
        if (nominal != code) ++earlier;

        for (int side = 0; side < 2; ++side) {
            const double lengthIn = rule.length * inside[side], widthIn = rule.width * inside[side];
            const double lengthOut = rule.length * outside[side], widthOut = rule.width * outside[side];
            const int lengthInside = Match("", Inches(lengthIn), Inches(rule.width));
            const int widthInside = Match("", Inches(rule.length), Inches(widthIn));
            const int lengthOutside = Match("", Inches(lengthOut), Inches(rule.width));
            const int widthOutside = Match("", Inches(rule.length), Inches(widthOut));
            SCOPED_TRACE(side == 0 ? "below" : "above");
            EXPECT_EQ(ExpectedCode(lengthIn, rule.width), lengthInside);
            EXPECT_EQ(ExpectedCode(rule.length, widthIn), widthInside);
            EXPECT_EQ(ExpectedCode(lengthOut, rule.width), lengthOutside);
            EXPECT_EQ(ExpectedCode(rule.length, widthOut), widthOutside);
            EXPECT_GE(code, lengthInside);
            EXPECT_LT(0, lengthInside);
            EXPECT_GE(code, widthInside);
            EXPECT_LT(0, widthInside);
            EXPECT_NE(code, lengthOutside);
            EXPECT_NE(code, widthOutside);
        }
    }
    // Jorkel's nominal sizes (900 by 603) also fit Dunmar (900 by 600), which
    // comes first; every other row answers its own nominal sizes.
    EXPECT_EQ(7, Match("", Inches(900), Inches(603)));
    EXPECT_EQ(1, earlier);
}
