// The force-plate models the plug-in knows, each with a definition class of
// its own, and the lookups that pick a definition for a detected plate.
#pragma once

#include "driver/VKESUDriverService.h"
#include "plugin/VKESUGenericPlateDefinition.h"

namespace KESU {

// One row of the model table; the match code is the row number.
struct VPlateModel {
    const char* name;
    // Searched after `name` in the platform's model text; null for none.
    const char* alternativeName;
    double sizeX;  // metres, as the definition carries them
    double sizeY;
    // Nominal sizes in millimetres that a platform's length and width are
    // held against; rows without a size rule are selected by name only.
    bool hasSizeRule;
    double length;
    double width;
};

inline constexpr int kPlateModelCount = 19;

inline constexpr VPlateModel kPlateModels[kPlateModelCount] = {
    {"Tamsel", nullptr, 0.4, 0.6, true, 600, 400},
    {"Ruvo", nullptr, 0.464, 0.508, true, 508, 464},
    {"Pasko", nullptr, 0.464, 0.508, false, 0, 0},
    {"Merkan", nullptr, 0.464, 0.508, false, 0, 0},
    {"Vell", nullptr, 0.498, 0.498, true, 498, 498},
    {"Sorvik", nullptr, 0.6, 0.6, true, 600, 600},
    {"Dunmar", nullptr, 0.6, 0.9, true, 900, 600},
    {"Halvost", nullptr, 0.6, 1.2, true, 1200, 600},
    {"Jorkel", nullptr, 0.603, 0.9, true, 900, 603},
    {"Brenox", nullptr, 0.9, 0.9, true, 900, 900},
    {"Quistral", nullptr, 1.2, 1.2, true, 1200, 1200},
    {"Ostrun", nullptr, 0.61, 0.711, true, 711, 610},
    {"Femdal", nullptr, 0.61, 0.61, true, 610, 610},
    {"Carvo", nullptr, 0.61, 1.219, true, 1219, 610},
    {"Pilsant", nullptr, 0.25, 0.5, true, 500, 250},
    {"Gemwick", nullptr, 0.325, 1.373, true, 1373, 325},
    // Held against 762 mm, not the 718 mm of its sizeY: not a slip.
    {"Trovane", "TROVANE", 0.622, 0.718, true, 762, 622},
    {"Nuvrel", nullptr, 0.405, 1.04, true, 1040, 405},
    {"Oskel", nullptr, 0.762, 1.016, true, 1016, 762},
};

// Every model of the table in match-code order, as X(Model, model): the class
// VKESU_<Model>_PlateDefinition and its module static g_<model>PlateDefinition.
// The classes, the statics and the factory of NewModelPlateDefinition are all
// made from this one list, so they cannot fall out of step.
#define KESU_PLATE_MODELS(X) \
    X(Tamsel, tamsel)        \
    X(Ruvo, ruvo)            \
    X(Pasko, pasko)          \
    X(Merkan, merkan)        \
    X(Vell, vell)            \
    X(Sorvik, sorvik)        \
    X(Dunmar, dunmar)        \
    X(Halvost, halvost)      \
    X(Jorkel, jorkel)        \
    X(Brenox, brenox)        \
    X(Quistral, quistral)    \
    X(Ostrun, ostrun)        \
    X(Femdal, femdal)        \
    X(Carvo, carvo)          \
    X(Pilsant, pilsant)      \
    X(Gemwick, gemwick)      \
    X(Trovane, trovane)      \
    X(Nuvrel, nuvrel)        \
    X(Oskel, oskel)

namespace PlateModelDetail {

constexpr bool SameText(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}

// A model's row in the table is its place in the list.
enum Row : int {
#define KESU_PLATE_MODEL_ROW(model, lowerModel) Row_##model,
    KESU_PLATE_MODELS(KESU_PLATE_MODEL_ROW) RowCount
#undef KESU_PLATE_MODEL_ROW
};
static_assert(RowCount == kPlateModelCount, "the model list and the table differ in length");

}  // namespace PlateModelDetail

// Detection makes a new instance of the class of a match code for each plate
// it finds; the classes differ from the generic definition only in the row
// they take.
#define KESU_PLATE_MODEL_CLASS(model, lowerModel)                                                           \
    class VKESU_##model##_PlateDefinition : public VKESUGenericPlateDefinition {                            \
    public:                                                                                                 \
        static_assert(PlateModelDetail::SameText(kPlateModels[PlateModelDetail::Row_##model].name, #model), \
                      "the class and its table row disagree");                                              \
        VKESU_##model##_PlateDefinition() {                                                                 \
            name = kPlateModels[PlateModelDetail::Row_##model].name;                                        \
            sizeX = kPlateModels[PlateModelDetail::Row_##model].sizeX;                                      \
            sizeY = kPlateModels[PlateModelDetail::Row_##model].sizeY;                                      \
        }                                                                                                   \
    };
KESU_PLATE_MODELS(KESU_PLATE_MODEL_CLASS)
#undef KESU_PLATE_MODEL_CLASS

// A new definition of the class of a match code (1 to 19), owned by the
// caller; null for any other code.
VKESUGenericPlateDefinition* NewModelPlateDefinition(int matchCode);

// Worker thread, inside detection handling; no lock. Searches the custom plate
// list, which does not change between Initialise and Shutdown: by name, else
// by size within 1 % of each element's own size, the last match winning.
// Returns a new generic definition with the match's name and sizes, owned by
// the caller, or null.
VKESUGenericPlateDefinition* FindConfiguredPlateDefinition(const VKESUDriverService::VDeviceInfo& record);

}  // namespace KESU
