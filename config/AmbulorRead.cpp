#include "config/AmbulorRead.h"

#include "config/ConfigValue.h"

namespace {

enum KeywordId { kTextNote = 1, kVersion, kEnabled, kUnits, kCount, kAmbulor, kAmp, kSensor };

const ConfigKeyword kKeywords[] = {
    {L"TEXT_NOTE", kTextNote, 0},
    {L"VERSION", kVersion, 1},
    {L"ENABLED", kEnabled, 1},
    {L"UNITS", kUnits, 1},
    {L"COUNT", kCount, 1},
    {L"AMBULOR", kAmbulor, 5},
    {L"AMP", kAmp, 4},
    {L"SENSOR", kSensor, 7},
};

constexpr int32_t kFileVersion = 101;

}  // namespace

AmbulorRead::AmbulorRead() {
    Reset();
}

void AmbulorRead::Reset() {
    version = kFileVersion;
    enabled = false;
    units = 1;
    count = 0;
    frontBackSides = false;
    for (AmbulorDeviceRecord& device : devices) {
        device.defined = false;
        device.name[0] = L'\0';
        device.sizeY = device.sizeX = device.param5 = 0.0f;
        device.ampId[0][0] = device.ampId[1][0] = L'\0';
        for (int slot = 0; slot < 4; ++slot) {
            device.sensorSlot[slot] = -1;
            device.sensorValue5[slot] = device.sensorValue6[slot] = 0.0f;
            device.sensorOrientation[slot] = 0;
        }
    }
}

void AmbulorRead::Init() {
    Reset();
    keywords = kKeywords;
    keywordCount = static_cast<int32_t>(sizeof kKeywords / sizeof kKeywords[0]);
}

int AmbulorRead::ParseSide(CString& side) {
    side.MakeUpper();
    if (side == L"LEFT") {
        frontBackSides = false;
        return 0;
    }
    if (side == L"FRONT") {
        frontBackSides = true;
        return 0;
    }
    if (side == L"RIGHT" || side == L"BACK") return 1;
    return -1;
}

bool AmbulorRead::CheckIndex(const CString& text, int& index, CString& message) const {
    if (ParseRangedInt(text, index, 1, count)) return true;
    message.Format(L"Bad device index %d", index);
    return false;
}

// A side word that names no side would put the line outside its unit's
// arrays: the line then stores nothing.
bool AmbulorRead::CheckUnitAndSide(const CString params[], int& index, int& side, CString& message) {
    if (!CheckIndex(params[0], index, message)) return false;
    CString sideText = params[1];
    side = ParseSide(sideText);
    if (side >= 0) return true;
    message.Format(L"Bad amp id %s", sideText);
    return false;
}

bool AmbulorRead::ProcessKeyword(int id, const CString params[], CString& message) {
    using ConfigValue::CopyText;
    using ConfigValue::ToFloat;
    using ConfigValue::ToInt;
    message.Empty();
    int index = 0;
    switch (id) {
        case kTextNote:
            break;
        case kVersion:
            version = ToInt(params[0]);
            if (version != kFileVersion) message = L"Bad file version";
            break;
        case kEnabled:
            enabled = ToInt(params[0]) != 0;
            break;
        case kUnits: {
            CString word = params[0];
            word.MakeUpper();
            if (word == L"METRIC")
                units = 1;
            else if (word == L"ENGLISH")
                units = 0;
            else
                message.Format(L"Bad units %s", word);
            break;
        }
        case kCount: {
            const int32_t value = ToInt(params[0]);
            if (value < 0 || value > kMaxDevices) {
                message = L"Bad device count";
                // The file has failed; the nearest valid count keeps the unit
                // lines and Summary within the records, which rely on count
                // never leaving 0 to 4.
                count = value < 0 ? 0 : kMaxDevices;
            } else {
                count = value;
            }
            break;
        }
        case kAmbulor: {
            if (!CheckIndex(params[0], index, message)) break;
            AmbulorDeviceRecord& device = devices[index - 1];
            device.defined = true;
            CopyText(device.name, params[1], kTextChars);
            device.sizeX = ToFloat(params[2]);
            device.sizeY = ToFloat(params[3]);
            device.param5 = ToFloat(params[4]);
            break;
        }
        case kAmp: {
            int side = -1;
            if (!CheckUnitAndSide(params, index, side, message)) break;
            CopyText(devices[index - 1].ampId[side], params[3], kTextChars);
            break;
        }
        case kSensor: {
            int side = -1;
            if (!CheckUnitAndSide(params, index, side, message)) break;
            CString positionText = params[2];
            positionText.MakeUpper();
            int position;
            if (positionText == L"A") {
                position = 0;
            } else if (positionText == L"B") {
                position = 1;
            } else {
                message.Format(L"Bad sensor position %s", positionText);
                break;
            }
            const int slot = side * 2 + position;
            AmbulorDeviceRecord& device = devices[index - 1];
            device.sensorSlot[slot] = slot;
            CopyText(device.sensorId[slot], params[3], kTextChars);
            device.sensorValue5[slot] = ToFloat(params[4]);
            device.sensorValue6[slot] = ToFloat(params[5]);
            device.sensorOrientation[slot] = ToInt(params[6]);
            const int32_t degrees = device.sensorOrientation[slot];
            if (degrees != 0 && degrees != 90 && degrees != 180 && degrees != 270)
                message.Format(L"Bad sensor orientation %s", params[6]);
            break;
        }
        default:
            message = L"Unprocessed keyword";
            break;
    }
    return message.IsEmpty();
}

int AmbulorRead::Summary(CString& message) {
    message.Empty();
    if (count <= 0) {
        message = L"No Ambulor units defined in configuration";
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        const AmbulorDeviceRecord& device = devices[i];
        if (device.ampId[0][0] == L'\0') message += L"Missing amplifier ID for the Left side \r\n";
        if (device.ampId[1][0] == L'\0') message += L"Missing amplifier ID for the Right side \r\n";
        for (int slot = 0; slot < 4; ++slot) {
            if (device.sensorSlot[slot] != -1) continue;
            message.AppendFormat(L"Missing sensor record for %s %s \r\n", slot >= 2 ? L"Right" : L"Left",
                                 slot % 2 == 1 ? L"B" : L"A");
            break;
        }
    }
    if (message.IsEmpty() && enabled) resultCount = 2 * count;
    return message.IsEmpty() ? 1 : -1;
}
