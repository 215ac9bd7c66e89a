#include "config/TreadmillSupportRead.h"

#include <vector>

#include "config/ConfigOpenError.h"
#include "config/ConfigValue.h"
#include "platform/mfc/StdioFile.h"

namespace {

// A keyword and the field its value goes to (neither for PHY_P).
struct SettingKeyword {
    const wchar_t* keyword;
    int32_t TreadmillSupportSettings::*intField;
    float TreadmillSupportSettings::*floatField;
};

using S = TreadmillSupportSettings;

// Tested in this order; a line holding several keywords is taken once for each.
const SettingKeyword kKeywords[] = {
    {L"ENABLED", &S::enabled, nullptr},
    {L"TREADMILL_TYPE", &S::treadmillType, nullptr},
    {L"VERSION", &S::version, nullptr},
    {L"SETUP_TYPE", &S::setupType, nullptr},
    {L"OUTPUT_FORMAT", &S::outputFormat, nullptr},
    {L"SINGLE_PLATE", &S::singlePlate, nullptr},
    {L"USE_MANUAL_OFFSETS", &S::useManualOffsets, nullptr},
    {L"CORRECT_FOOT_ORDER", &S::correctFootOrder, nullptr},
    {L"STRIKE_LOAD", nullptr, &S::strikeLoad},
    {L"UN_LOAD_N", nullptr, &S::unLoadN},
    {L"COP_SUPPRESS_N", nullptr, &S::copSuppressN},
    {L"POST_UNLOAD_MS", nullptr, &S::postUnloadMs},
    {L"PLATFORM_GAP_MM", nullptr, &S::platformGapMm},
    {L"DIST_ORIG_TO_ORIG_MM", nullptr, &S::distOrigToOrigMm},
    {L"DIST_L_F_TO_ORIG_MM", nullptr, &S::distLFToOrigMm},
    {L"X_DIMENSION", nullptr, &S::xDimension},
    {L"Y_DIMENSION", nullptr, &S::yDimension},
    {L"DATA_TO_AVG_MS", nullptr, &S::dataToAvgMs},
    {L"NUM_CP", &S::numCp, nullptr},
    {L"FOOT_LENGTH", nullptr, &S::footLength},
    {L"FOOT_WIDTH", nullptr, &S::footWidth},
    {L"FOOT_RADIUS", nullptr, &S::footRadius},
    {L"RELIABLE_LOAD", nullptr, &S::reliableLoad},
    {L"COP_TRAVEL", nullptr, &S::copTravel},
    {L"COP_MINIMUM", nullptr, &S::copMinimum},
    {L"DELAY_REPETITIONS", &S::delayRepetitions, nullptr},
    {L"STRIKE_DELAY_REP", &S::strikeDelayRep, nullptr},
    {L"SPIKE_ERROR_REP", &S::spikeErrorRep, nullptr},
    {L"DELAY_PACKETS", &S::delayPackets, nullptr},
    {L"PHY_P", nullptr, nullptr},
};

constexpr int kSetupTandem = 4;
constexpr int kSetupSideBySide = 5;
constexpr int kPlateTokens = 7;

// Characters kept of each token, by position (0-based); beyond the seventh
// nothing is read. The value of a keyword line is its second token.
constexpr int kTokenChars[kPlateTokens] = {31, 24, 7, 7, 15, 15, 15};
constexpr int kPlateNameChars = 19;

std::vector<CString> splitAtWhiteSpace(const CString& line) {
    std::vector<CString> tokens;
    const int length = line.GetLength();
    for (int i = 0; i < length && tokens.size() < static_cast<size_t>(kPlateTokens);) {
        while (i < length && CString::IsWhiteSpace(line[i])) ++i;
        const int start = i;
        while (i < length && !CString::IsWhiteSpace(line[i])) ++i;
        if (i > start) {
            const int limit = kTokenChars[tokens.size()];
            tokens.push_back(line.Mid(start, i - start < limit ? i - start : limit));
        }
    }
    return tokens;
}

}  // namespace

int TreadmillSupportRead::Read(const CString& path, TreadmillSupportSettings* settings, CString& errors) {
    errors.Empty();

    CStdioFile file;
    CFileException failure;
    if (!file.Open(path.GetString(), CStdioFile::modeRead | CStdioFile::typeText, &failure)) {
        // Only the file is optional here; a missing folder is reported.
        if (failure.m_cause == CFileException::fileNotFound) return 0;
        errors = ConfigOpenError::Text(failure);
        return -1;
    }
    return ReadOpened(file, settings, errors);
}

int TreadmillSupportRead::ReadOpened(CStdioFile& file, TreadmillSupportSettings* settings, CString& errors) {
    using ConfigValue::ToFloat;
    using ConfigValue::ToInt;
    errors.Empty();

    *settings = TreadmillSupportSettings{};
    settings->setupType = -1;
    // Remembered apart from setupType, whose start value a file can also give.
    bool setupTypeGiven = false;
    int plates = 0;
    physicalPlateCount = 0;

    CString line;
    bool corrupted = false;
    while (!corrupted && file.ReadString(line)) {
        if (line.GetLength() > kMaxLineChars) line = line.Left(kMaxLineChars);
        line.Replace(L'\t', L' ');
        line.Replace(L',', L' ');
        line.Replace(L':', L' ');
        line.MakeUpper();
        if (line.Find(L"TEXT_NOTE") >= 0) continue;

        const std::vector<CString> tokens = splitAtWhiteSpace(line);
        const CString value = tokens.size() >= 2 ? tokens[1] : CString();
        for (const SettingKeyword& key : kKeywords) {
            if (line.Find(key.keyword) < 0) continue;
            if (key.intField) {
                settings->*key.intField = ToInt(value);
                if (key.intField == &S::setupType) setupTypeGiven = true;
            } else if (key.floatField) {
                settings->*key.floatField = ToFloat(value);
            } else if (tokens.size() < static_cast<size_t>(kPlateTokens)) {
                errors = L"Corrupted data file";
                corrupted = true;
            } else if (plates < kMaxPlates) {
                PhysicalPlateRecord& plate = settings->physicalPlates[plates];
                ConfigValue::CopyText(plate.name, tokens[1], kPlateNameChars);
                plate.value3 = ToInt(tokens[2]);
                plate.value4 = ToInt(tokens[3]);
                plate.value5 = ToFloat(tokens[4]);
                plate.value6 = ToFloat(tokens[5]);
                plate.value7 = ToInt(tokens[6]);
                ++plates;
                physicalPlateCount = plates;
            }
        }
    }
    file.Close();

    settings->plateCount = settings->useManualOffsets == 1 ? plates : 2;

    if (setupTypeGiven) {
        const int32_t given = settings->setupType;
        const bool known = given == kSetupTandem || given == kSetupSideBySide;
        settings->enabled = known ? 1 : 0;
        settings->treadmillType = known ? given : 0;
        settings->setupType = known ? given : 0;
    } else {
        const int32_t type = settings->treadmillType;
        settings->setupType =
            settings->enabled != 0 && (type == kSetupTandem || type == kSetupSideBySide) ? type : 0;
    }
    return errors.IsEmpty() ? 1 : -1;
}
