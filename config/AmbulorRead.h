// Reader of "Ambulor.cfg": up to four instrumented-treadmill units, each with
// a name and size (AMBULOR), one amplifier per side (AMP) and four sensors
// (SENSOR). Values are checked as they are stored; Summary checks that every
// unit has both amplifiers and all four sensors.
#pragma once

#include <cstdint>

#include "config/ConfigRead.h"

// One unit. Sides: 0 left/front, 1 right/back. Sensor slot = side x 2 +
// position (A 0, B 1).
struct AmbulorDeviceRecord {
    bool defined;  // an AMBULOR line gave this unit
    wchar_t name[30];
    float sizeY;
    float sizeX;
    float param5;
    wchar_t ampId[2][30];
    wchar_t sensorId[4][30];
    int32_t sensorSlot[4];  // -1 until a SENSOR line fills the slot
    float sensorValue5[4];
    float sensorValue6[4];
    int32_t sensorOrientation[4];  // degrees: 0, 90, 180 or 270
};

class AmbulorRead : public ConfigRead {
public:
    static constexpr int kMaxDevices = 4;
    // Characters a text field keeps of its parameter.
    static constexpr int kTextChars = 29;

    AmbulorRead();
    ~AmbulorRead() override = default;

    void Init() override;
    bool ProcessKeyword(int id, const CString params[], CString& message) override;
    int Summary(CString& message) override;

    // The defaults below; every record emptied but for its sensor ids.
    void Reset();
    // Upper-cases side in place. LEFT and FRONT give 0, RIGHT and BACK 1, any
    // other text -1. LEFT clears frontBackSides and FRONT sets it; the others
    // leave it as it is.
    int ParseSide(CString& side);

    int32_t version = 101;  // the only version accepted
    bool enabled = false;
    int32_t units = 1;  // 1 METRIC (millimetres), 0 ENGLISH (inches)
    int32_t count = 0;  // units in the file, always 0 to 4 (a refused COUNT is clamped)
    bool frontBackSides = false;
    AmbulorDeviceRecord devices[kMaxDevices] = {};  // unit i at position i - 1

private:
    bool CheckIndex(const CString& text, int& index, CString& message) const;
    bool CheckUnitAndSide(const CString params[], int& index, int& side, CString& message);
};
