// The two lookups that pick a plate definition for a detected platform.
#include <algorithm>
#include <cmath>
#include <string>

#include "config/DecimalNumber.h"
#include "plugin/ModuleStatics.h"
#include "plugin/VKESUPlateModels.h"
#include "plugin/VSharedConfigDevice.h"

namespace KESU {

namespace {

const double kMillimetresPerInch = 25.4;
const double kMetresPerInch = 0.0254;
// What a platform that reports no size is taken to measure.
const double kUnknownSizeInches = 19.7;

// A size text as atof reads it in the "C" locale; exactly 0 (also no number
// at all) means the platform reported none.
double ReadSizeInches(const std::string& text) {
    const double inches = ConfigValue::ReadDecimal(text.data(), text.size());
    return inches == 0.0 ? kUnknownSizeInches : inches;
}

template <class Model>
VKESUGenericPlateDefinition* NewModel() {
    return new Model;
}

// Strict: a difference of exactly 1 % does not match.
bool WithinOnePercent(double a, double b, double basis) {
    return std::fabs(a - b) < std::fabs(basis * 0.01);
}

}  // namespace

int VSharedConfigDevice::MatchPlateModel(VKESUDriverService::VDeviceInfo record) {
    const std::string& model = record.platformModelNumber;
    for (int row = 0; row < kPlateModelCount; ++row) {
        const VPlateModel& plate = kPlateModels[row];
        if (model.find(plate.name) != std::string::npos ||
            (plate.alternativeName != nullptr && model.find(plate.alternativeName) != std::string::npos))
            return row + 1;
    }

    const double length = ReadSizeInches(record.platformLength) * kMillimetresPerInch;
    const double width = ReadSizeInches(record.platformWidth) * kMillimetresPerInch;
    // The tolerance is 1 % of the measured size, and the first row wins.
    for (int row = 0; row < kPlateModelCount; ++row) {
        const VPlateModel& plate = kPlateModels[row];
        if (plate.hasSizeRule && WithinOnePercent(length, plate.length, length) &&
            WithinOnePercent(width, plate.width, width))
            return row + 1;
    }
    return 0;
}

VKESUGenericPlateDefinition* FindConfiguredPlateDefinition(const VKESUDriverService::VDeviceInfo& record) {
    if (g_customPlateCount < 1) return nullptr;

    const VKESUGenericPlateDefinition* match = nullptr;
    for (int32_t i = 0; i < g_customPlateCount; ++i)
        if (g_customPlateDefinitions[i].name == record.platformModelNumber)
            match = &g_customPlateDefinitions[i];

    if (match == nullptr) {
        const double x = ReadSizeInches(record.platformWidth) * kMetresPerInch;
        const double y = ReadSizeInches(record.platformLength) * kMetresPerInch;
        // Unlike the model table: 1 % of the element's own size, and the last
        // element wins.
        for (int32_t i = 0; i < g_customPlateCount; ++i) {
            const VKESUGenericPlateDefinition& plate = g_customPlateDefinitions[i];
            if (WithinOnePercent(plate.sizeY, y, plate.sizeY) &&
                WithinOnePercent(plate.sizeX, x, plate.sizeX))
                match = &plate;
        }
        if (match == nullptr) return nullptr;
    }

    VKESUGenericPlateDefinition* found = new VKESUGenericPlateDefinition;
    found->name = match->name;
    found->sizeX = match->sizeX;
    found->sizeY = match->sizeY;
    return found;
}

VKESUGenericPlateDefinition* NewModelPlateDefinition(int matchCode) {
    typedef VKESUGenericPlateDefinition* (*Factory)();
#define KESU_PLATE_MODEL_FACTORY(model, lowerModel) &NewModel<VKESU_##model##_PlateDefinition>,
    static const Factory factories[kPlateModelCount] = {KESU_PLATE_MODELS(KESU_PLATE_MODEL_FACTORY)};
#undef KESU_PLATE_MODEL_FACTORY
    if (matchCode < 1 || matchCode > kPlateModelCount) return nullptr;
    return factories[matchCode - 1]();
}

}  // namespace KESU
