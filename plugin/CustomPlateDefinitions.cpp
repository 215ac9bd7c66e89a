#include "plugin/CustomPlateDefinitions.h"

#include <algorithm>
#include <boost/format.hpp>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "config/AmbulorRead.h"
#include "config/CComboRead.h"
#include "config/TreadmillSupportRead.h"
#include "driver/DriverValues.h"
#include "plugin/ModuleStatics.h"

namespace KESU {

namespace {

// Single precision: a size is double(float(scale * size)), not the double
// product, and detected plates are held against it within 1 %.
const float kMetresPerInch = 0.0254f;
const float kMetresPerMillimetre = 0.001f;
const int kMaxNameUnits = 30;

struct CustomPlateEntry {
    std::string name;
    double sizeX;
    double sizeY;
};

double Metres(float scale, float size) {
    const float metres = scale * size;
    return static_cast<double>(metres);
}

// No force plate is smaller than a millimetre, and no host can place a plate
// whose size is not a length.
const double kSmallestPlateSize = 0.001;

bool IsPlateSize(double metres) {
    return std::isfinite(metres) && metres >= kSmallestPlateSize;
}

void TakeTreadmill(CString& errors, std::vector<CustomPlateEntry>& entries) {
    TreadmillSupportSettings settings = {};
    const int result = TreadmillSupportRead().Read(L"C:\\KESU\\CFG\\TreadmillSupport.cfg", &settings, errors);
    if (result < 1 || settings.enabled == 0) return;
    const char* name = settings.setupType == 4   ? "TANDEM_TM"
                       : settings.setupType == 5 ? "SIDE_BY_SIDE_TM"
                                                 : nullptr;
    if (name == nullptr) return;
    entries.push_back(
        {name, Metres(kMetresPerInch, settings.xDimension), Metres(kMetresPerInch, settings.yDimension)});
}

void TakeCombinedPlatforms(CString& errors, std::vector<CustomPlateEntry>& entries) {
    // Several kilobytes of records: not for the stack.
    std::unique_ptr<CComboRead> reader(new CComboRead);
    // ENABLED is not consulted: a clean file offers its platforms either way.
    if (reader->Read(L"C:\\KESU\\CFG\\CombinationPlatform.cfg", errors) <= 0 || reader->cpCount <= 0) return;
    const float scale = reader->units == 0 ? kMetresPerInch : kMetresPerMillimetre;
    const int count = std::min<int>(reader->cpCount, CComboRead::kMaxCombos);
    for (int i = 0; i < count; ++i) {
        const ComboPlatformRecord& combo = reader->combos[i];
        entries.push_back(
            {NarrowPlateName(combo.name), Metres(scale, combo.sizeX), Metres(scale, combo.sizeY)});
    }
}

void TakeTreadmillUnits(CString& errors, std::vector<CustomPlateEntry>& entries) {
    std::unique_ptr<AmbulorRead> reader(new AmbulorRead);
    if (reader->Read(L"C:\\KESU\\CFG\\Ambulor.cfg", errors) <= 0 || reader->version != 101 ||
        !reader->enabled || reader->count <= 0)
        return;
    const float scale = reader->units == 0 ? kMetresPerInch : kMetresPerMillimetre;
    const int count = std::min<int>(reader->count, AmbulorRead::kMaxDevices);
    for (int i = 0; i < count; ++i) {
        const AmbulorDeviceRecord& unit = reader->devices[i];
        entries.push_back({NarrowPlateName(unit.name), Metres(scale, unit.sizeX), Metres(scale, unit.sizeY)});
    }
}

}  // namespace

std::string NarrowPlateName(const wchar_t* name) {
    std::string narrow;
    for (int i = 0; i < kMaxNameUnits && name[i] != 0; ++i) {
        const char byte = static_cast<char>(static_cast<uint32_t>(name[i]) & 0xFF);
        if (byte == '\0') break;
        narrow += byte;
    }
    return narrow;
}

void BuildCustomPlateDefinitions() {
    // The readers' messages go nowhere: configuration errors only mean fewer
    // definitions.
    CString errors;
    std::vector<CustomPlateEntry> entries;
    TakeTreadmill(errors, entries);
    TakeCombinedPlatforms(errors, entries);
    TakeTreadmillUnits(errors, entries);

    // The rest of a file still counts when one of its plates has no usable size.
    std::vector<CustomPlateEntry> usable;
    for (const CustomPlateEntry& entry : entries) {
        if (IsPlateSize(entry.sizeX) && IsPlateSize(entry.sizeY)) {
            usable.push_back(entry);
        } else if (g_host) {
            const std::string text = boost::str(
                boost::format("Configured plate %s left out: its size %g x %g m is not a length of 1 mm or more") %
                entry.name % entry.sizeX % entry.sizeY);
            g_host->Log(text.c_str(), LogLevel::kWarning);
        }
    }
    entries.swap(usable);

    DeleteCustomPlateDefinitions();
    if (entries.empty()) return;
    VKESUGenericPlateDefinition* list = new VKESUGenericPlateDefinition[entries.size()];
    for (size_t i = 0; i < entries.size(); ++i) {
        list[i].name = entries[i].name;
        list[i].sizeX = entries[i].sizeX;
        list[i].sizeY = entries[i].sizeY;
    }
    g_customPlateDefinitions = list;
    g_customPlateCount = static_cast<int32_t>(entries.size());
}

void DeleteCustomPlateDefinitions() {
    VKESUGenericPlateDefinition* list = g_customPlateDefinitions;
    g_customPlateDefinitions = nullptr;
    g_customPlateCount = 0;
    delete[] list;
}

}  // namespace KESU
