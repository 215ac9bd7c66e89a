// The two lookups that pick a plate definition for a detected platform.
#include <locale.h>
#include <stdlib.h>

#include <cmath>
#include <string>

#include "plugin/ModuleStatics.h"
#include "plugin/VKESUPlateModels.h"
#include "plugin/VSharedConfigDevice.h"

namespace KESU {

namespace {

const double kMillimetresPerInch = 25.4;
const double kMetresPerInch = 0.0254;
// What a platform that reports no size is taken to measure.
const double kUnknownSizeInches = 19.7;

bool IsDigit(char ch) {
    return ch >= '0' && ch <= '9';
}

bool IsBlank(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

// Built once and never freed: the lookups run on the worker thread.
locale_t ClassicLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

// A size text as atof reads it in the "C" locale: leading blanks, then the
// longest leading decimal number, 0 when none begins the text. Only that
// decimal number reaches strtod, so neither the process locale's decimal point
// nor a hexadecimal, INF or NAN spelling can change what is read.
double ReadInches(const std::string& text) {
    const size_t n = text.size();
    size_t i = 0;
    while (i < n && IsBlank(text[i])) ++i;
    std::string number;
    if (i < n && (text[i] == '+' || text[i] == '-')) number += text[i++];
    size_t digits = 0;
    for (; i < n && IsDigit(text[i]); ++i, ++digits) number += text[i];
    if (i < n && text[i] == '.') {
        number += text[i++];
        for (; i < n && IsDigit(text[i]); ++i, ++digits) number += text[i];
    }
    if (digits == 0) return 0.0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < n && IsDigit(text[j])) {
            number.append(text, i, j - i);
            for (; j < n && IsDigit(text[j]); ++j) number += text[j];
        }
    }
    return strtod_l(number.c_str(), nullptr, ClassicLocale());
}

double ReadSizeInches(const std::string& text) {
    const double inches = ReadInches(text);
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
