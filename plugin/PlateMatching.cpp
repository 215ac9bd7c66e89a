// The two lookups that pick a plate definition for a detected platform.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

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

// Caps an exponent's digits far beyond the range of double yet far below the
// limit of long: a capped exponent still gives the right sign of the order of
// magnitude, since no text has that many digits before its exponent.
const long kExponentCap = 1000000000000000L;

// A size text as atof reads it in the "C" locale: leading blanks, then the
// longest leading decimal number, 0 when none begins the text. The number is
// scanned here and only its digits, point and exponent reach from_chars, which
// depends on no locale and, as strtod does, gives the nearest double. The sign
// is applied here, since from_chars takes no '+'.
double ReadInches(const std::string& text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end && IsBlank(*p)) ++p;
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-')) ++p;
    const char* const first = p;

    // The power of ten of the first non-zero digit: from_chars does not say
    // whether a number out of range was too large or too small.
    long order = 0;
    bool nonZero = false;
    size_t digits = 0;
    for (; p < end && IsDigit(*p); ++p, ++digits) {
        if (nonZero)
            ++order;
        else
            nonZero = *p != '0';
    }
    if (p < end && *p == '.') {
        long place = 0;
        for (++p; p < end && IsDigit(*p); ++p, ++digits) {
            --place;
            if (!nonZero && *p != '0') {
                nonZero = true;
                order = place;
            }
        }
    }
    if (digits == 0) return 0.0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        const bool negativeExponent = q < end && *q == '-';
        if (q < end && (*q == '+' || *q == '-')) ++q;
        if (q < end && IsDigit(*q)) {
            long exponent = 0;
            for (; q < end && IsDigit(*q); ++q) exponent = std::min(exponent * 10 + (*q - '0'), kExponentCap);
            order += negativeExponent ? -exponent : exponent;
            p = q;
        }
    }

    double magnitude = 0.0;
    // Out of range leaves magnitude unset; strtod gives infinity or zero.
    if (std::from_chars(first, p, magnitude).ec == std::errc::result_out_of_range)
        magnitude = order >= 0 ? HUGE_VAL : 0.0;
    return negative ? -magnitude : magnitude;
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
