// Reader of "TreadmillSupport.cfg", the instrumented treadmill's settings.
//
// The file has a loose syntax of its own: one value per line, found by looking
// for a known keyword anywhere in the line and taking the line's second
// blank-separated token; PHY_P lines describe the physical plates.
#pragma once

#include <cstdint>

#include "platform/mfc/CString.h"

class CStdioFile;

// One PHY_P line: the keyword, then six tokens.
struct PhysicalPlateRecord {
    int32_t value4;    // token 4
    int32_t value3;    // token 3
    int32_t value7;    // token 7
    wchar_t name[20];  // token 2, upper case
    float value5;      // token 5
    float value6;      // token 6
};

struct TreadmillSupportSettings {
    int32_t enabled;
    int32_t treadmillType;
    int32_t version;
    int32_t setupType;  // 4 tandem, 5 side by side, else 0
    int32_t outputFormat;
    int32_t numCp;
    int32_t plateCount;  // the PHY_P plates with manual offsets, else 2
    int32_t singlePlate;
    int32_t correctFootOrder;
    int32_t delayPackets;
    int32_t delayRepetitions;
    int32_t strikeDelayRep;
    int32_t spikeErrorRep;
    int32_t useManualOffsets;
    float dataToAvgMs;
    float strikeLoad;
    float unLoadN;
    float copSuppressN;
    float postUnloadMs;
    float footLength;
    float footWidth;
    float footRadius;
    float reliableLoad;
    float copTravel;
    float copMinimum;
    float platformGapMm;
    float distLFToOrigMm;
    float distOrigToOrigMm;
    float xDimension;  // inches
    float yDimension;  // inches
    PhysicalPlateRecord physicalPlates[29];
};

class TreadmillSupportRead {
public:
    static constexpr int kMaxPlates = 29;
    // Characters of a line that are looked at; the rest of a longer line is dropped.
    static constexpr int kMaxLineChars = 249;

    // path is a Windows path; settings must not be null. 1: read, errors empty.
    // 0: the file does not exist, settings untouched. -1: errors describes an
    // open failure (settings untouched) or a bad PHY_P line (reading stopped
    // there: settings hold what came before it, with the plate count and the
    // set-up worked out as at the end of a whole file).
    int Read(const CString& path, TreadmillSupportSettings* settings, CString& errors);
    // What Read does once the file is open, on a file opened by the caller
    // (also over bytes in memory, CStdioFile::OpenBytes): 1 or -1 as above.
    int ReadOpened(CStdioFile& file, TreadmillSupportSettings* settings, CString& errors);

    // PHY_P records stored by the current Read.
    int32_t physicalPlateCount = 0;
};
