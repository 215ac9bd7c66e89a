#include <gtest/gtest.h>

#include <string>

#include "config/AmbulorRead.h"
#include "tests/config/ConfigTestFolder.h"

namespace {

// Amplifiers and all four sensors of one unit.
std::string completeUnit(int unit) {
    const std::string u = std::to_string(unit);
    return "AMP," + u + ",LEFT,x,AMP" + u + "L\n" + "AMP," + u + ",RIGHT,x,AMP" + u + "R\n" + "SENSOR," + u +
           ",LEFT,A,S" + u + "0,1.5,2.5,0\n" + "SENSOR," + u + ",LEFT,B,S" + u + "1,0,0,90\n" + "SENSOR," +
           u + ",RIGHT,A,S" + u + "2,0,0,180\n" + "SENSOR," + u + ",RIGHT,B,S" + u + "3,0,0,270\n";
}

class AmbulorReadTest : public KESUTest::ConfigFileTest {
protected:
    int ReadText(const std::string& text) { return reader.Read(WriteConfig("Ambulor.cfg", text), errors); }
    static std::wstring Semantic(const std::wstring& message, int line) {
        return L"Semantic error (" + message + L") in configuration file at line " + std::to_wstring(line) +
               L" \r\n";
    }

    AmbulorRead reader;
};

TEST_F(AmbulorReadTest, CompleteFileFillsTheUnitsInIndexOrder) {
    EXPECT_EQ(1, ReadText("VERSION,101\nENABLED,1\nUNITS,english\nCOUNT,2\n"
                          "AMBULOR,2,SECOND,1000,500,3\nAMBULOR,1,FIRST,20.5,10.25,0\n" +
                          completeUnit(1) + completeUnit(2)));
    EXPECT_TRUE(errors.IsEmpty());
    EXPECT_EQ(4, reader.resultCount);
    EXPECT_EQ(0, reader.units);
    EXPECT_TRUE(reader.enabled);
    EXPECT_FALSE(reader.frontBackSides);

    const AmbulorDeviceRecord& first = reader.devices[0];
    EXPECT_TRUE(first.defined);
    EXPECT_STREQ(L"FIRST", first.name);
    EXPECT_EQ(20.5f, first.sizeX);
    EXPECT_EQ(10.25f, first.sizeY);
    EXPECT_STREQ(L"AMP1L", first.ampId[0]);
    EXPECT_STREQ(L"AMP1R", first.ampId[1]);
    for (int slot = 0; slot < 4; ++slot) {
        EXPECT_EQ(slot, first.sensorSlot[slot]);
        EXPECT_EQ(slot * 90, first.sensorOrientation[slot]);
    }
    EXPECT_STREQ(L"S13", first.sensorId[3]);
    EXPECT_EQ(1.5f, first.sensorValue5[0]);
    EXPECT_EQ(2.5f, first.sensorValue6[0]);
    EXPECT_STREQ(L"SECOND", reader.devices[1].name);
    EXPECT_EQ(3.0f, reader.devices[1].param5);
    EXPECT_FALSE(reader.devices[2].defined);
}

TEST_F(AmbulorReadTest, DisabledCleanFileYieldsNoResultCount) {
    EXPECT_EQ(1, ReadText("ENABLED,0\nCOUNT,1\n" + completeUnit(1)));
    EXPECT_EQ(0, reader.resultCount);
    EXPECT_EQ(101, reader.version);
    EXPECT_EQ(1, reader.units);
}

TEST_F(AmbulorReadTest, ValueMessages) {
    EXPECT_EQ(-1, ReadText("VERSION,100\nUNITS,ENGLISH\nUNITS, feet\nCOUNT,1\n" + completeUnit(1) +
                           "AMP,1,up,x,A\nSENSOR,1,down,A,S,0,0,0\n"));
    EXPECT_EQ(Semantic(L"Bad file version", 1) + Semantic(L"Bad units FEET", 3) +
                  Semantic(L"Bad amp id UP", 11) + Semantic(L"Bad amp id DOWN", 12),
              Errors());
    EXPECT_EQ(0, reader.units);
    EXPECT_EQ(100, reader.version);

    AmbulorRead sensors;
    EXPECT_EQ(-1, sensors.Read(WriteConfig("sensors.cfg",
                                           "COUNT,1\nSENSOR,1,LEFT,c,S,0,0,0\n"
                                           "SENSOR,1,RIGHT,A,S,0,0,45\n"),
                               errors));
    EXPECT_EQ(Semantic(L"Bad sensor position C", 2) + Semantic(L"Bad sensor orientation 45", 3) +
                  SummaryError(L"Missing amplifier ID for the Left side \r\n"
                               L"Missing amplifier ID for the Right side \r\n"
                               L"Missing sensor record for Left A \r\n"),
              Errors());
    // The bad orientation stays stored; bad sides and positions store nothing.
    EXPECT_EQ(45, sensors.devices[0].sensorOrientation[2]);
    EXPECT_EQ(2, sensors.devices[0].sensorSlot[2]);
    EXPECT_EQ(-1, sensors.devices[0].sensorSlot[0]);
    EXPECT_EQ(-1, sensors.devices[0].sensorSlot[1]);
}

TEST_F(AmbulorReadTest, SideWordsInAnyCaseAndTheLastLeftOrFrontWins) {
    AmbulorRead direct;
    CString side(L"front");
    EXPECT_EQ(0, direct.ParseSide(side));
    EXPECT_EQ(side, L"FRONT");
    EXPECT_TRUE(direct.frontBackSides);
    CString back(L"Back"), right(L"right"), left(L"LEFT"), other(L"LEFTX");
    EXPECT_EQ(1, direct.ParseSide(back));
    EXPECT_EQ(1, direct.ParseSide(right));
    EXPECT_TRUE(direct.frontBackSides);
    EXPECT_EQ(0, direct.ParseSide(left));
    EXPECT_FALSE(direct.frontBackSides);
    EXPECT_EQ(-1, direct.ParseSide(other));

    EXPECT_EQ(-1, ReadText("COUNT,2\nAMP,1,front,x,F1\nSENSOR,2,back,b,S4,0,0,270\nAMP,2,Left,x,L2\n"));
    EXPECT_STREQ(L"F1", reader.devices[0].ampId[0]);
    EXPECT_STREQ(L"L2", reader.devices[1].ampId[0]);
    EXPECT_EQ(3, reader.devices[1].sensorSlot[3]);
    EXPECT_STREQ(L"S4", reader.devices[1].sensorId[3]);
    EXPECT_EQ(270, reader.devices[1].sensorOrientation[3]);
    EXPECT_FALSE(reader.frontBackSides);
}

TEST_F(AmbulorReadTest, UnitLinesBeforeCountHaveBadIndexes) {
    EXPECT_EQ(-1, ReadText("AMBULOR,1,A,1,1,1\nAMP,2,LEFT,x,A\nCOUNT,1\nSENSOR,2,LEFT,A,S,0,0,0\n" +
                           completeUnit(1) + "AMBULOR,1,A,1,1,1\n"));
    EXPECT_EQ(Semantic(L"Bad device index 1", 1) + Semantic(L"Bad device index 2", 2) +
                  Semantic(L"Bad device index 2", 4),
              Errors());
    EXPECT_TRUE(reader.devices[0].defined);
    EXPECT_STREQ(L"", reader.devices[1].ampId[0]);
}

// Units are numbered from 1: a unit 0 (an easy slip in a hand-written file) or
// below is refused line by line and stores nothing anywhere.
TEST_F(AmbulorReadTest, UnitIndexesOfZeroOrBelowAreRefused) {
    EXPECT_EQ(-1, ReadText("COUNT,1\n" + completeUnit(1) +
                           "AMBULOR,0,ZERO,1,1,1\nAMP,0,LEFT,x,Z\nSENSOR,0,RIGHT,B,Z,0,0,90\n"
                           "AMBULOR,-1,MINUS,1,1,1\nSENSOR,-2147483648,LEFT,A,M,0,0,0\n"));
    EXPECT_EQ(Semantic(L"Bad device index 0", 8) + Semantic(L"Bad device index 0", 9) +
                  Semantic(L"Bad device index 0", 10) + Semantic(L"Bad device index -1", 11) +
                  Semantic(L"Bad device index -2147483648", 12),
              Errors());
    // Unit 1 keeps what its own lines gave; no unit took the refused lines.
    const AmbulorDeviceRecord& unit = reader.devices[0];
    EXPECT_FALSE(unit.defined);
    EXPECT_STREQ(L"AMP1L", unit.ampId[0]);
    EXPECT_STREQ(L"AMP1R", unit.ampId[1]);
    EXPECT_STREQ(L"S13", unit.sensorId[3]);
    EXPECT_EQ(270, unit.sensorOrientation[3]);
    for (const AmbulorDeviceRecord& device : reader.devices) EXPECT_FALSE(device.defined);
}

TEST_F(AmbulorReadTest, NoUnitsIsASummaryError) {
    EXPECT_EQ(-1, ReadText("VERSION,101\nENABLED,1\n"));
    EXPECT_EQ(SummaryError(L"No Ambulor units defined in configuration"), Errors());
    AmbulorRead zero;
    EXPECT_EQ(-1, zero.Read(WriteConfig("zero.cfg", "COUNT,0\n"), errors));
    EXPECT_EQ(SummaryError(L"No Ambulor units defined in configuration"), Errors());
}

TEST_F(AmbulorReadTest, MissingAmplifiersAndTheFirstMissingSensorPerUnit) {
    EXPECT_EQ(-1, ReadText("COUNT,2\nSENSOR,1,LEFT,A,S,0,0,0\nSENSOR,1,RIGHT,A,S,0,0,0\n" + completeUnit(2) +
                           "AMP,3,LEFT,x,A\n"));
    // The third unit lies beyond COUNT, so only its line is refused.
    EXPECT_EQ(
        Semantic(L"Bad device index 3", 10) + SummaryError(L"Missing amplifier ID for the Left side \r\n"
                                                           L"Missing amplifier ID for the Right side \r\n"
                                                           L"Missing sensor record for Left B \r\n"),
        Errors());
}

TEST_F(AmbulorReadTest, MissingSensorsOfTheRightSideNameRightAAndRightB) {
    EXPECT_EQ(-1,
              ReadText("COUNT,2\n"
                       "AMP,1,LEFT,x,A\nAMP,1,RIGHT,x,B\nSENSOR,1,LEFT,A,S,0,0,0\nSENSOR,1,LEFT,B,S,0,0,0\n"
                       "SENSOR,1,RIGHT,B,S,0,0,0\n"
                       "AMP,2,FRONT,x,A\nAMP,2,BACK,x,B\nSENSOR,2,FRONT,A,S,0,0,0\nSENSOR,2,FRONT,B,S,0,0,0\n"
                       "SENSOR,2,BACK,A,S,0,0,0\n"));
    // Right also for a unit written with FRONT and BACK.
    EXPECT_EQ(SummaryError(L"Missing sensor record for Right A \r\n"
                           L"Missing sensor record for Right B \r\n"),
              Errors());
}

TEST_F(AmbulorReadTest, UnitsWordsSetTheUnitsInAnyCase) {
    EXPECT_EQ(1, ReadText("UNITS,ENGLISH\nUNITS, metric\nCOUNT,1\n" + completeUnit(1)));
    EXPECT_TRUE(errors.IsEmpty());
    EXPECT_EQ(1, reader.units);

    AmbulorRead english;
    EXPECT_EQ(1, english.Read(
                     WriteConfig("english.cfg", "UNITS,Metric\nUNITS,english\nCOUNT,1\n" + completeUnit(1)),
                     errors));
    EXPECT_TRUE(errors.IsEmpty());
    EXPECT_EQ(0, english.units);
}

TEST_F(AmbulorReadTest, CountOutsideZeroToFourIsRefusedAndClamped) {
    EXPECT_EQ(-1, ReadText("COUNT,5\n" + completeUnit(1) + completeUnit(2) + completeUnit(3) +
                           completeUnit(4) + "AMP,5,LEFT,x,A\n"));
    EXPECT_EQ(Semantic(L"Bad device count", 1) + Semantic(L"Bad device index 5", 26), Errors());
    EXPECT_EQ(4, reader.count);

    AmbulorRead negative;
    EXPECT_EQ(-1, negative.Read(WriteConfig("negative.cfg", "COUNT,-2\nAMP,1,LEFT,x,A\n"), errors));
    EXPECT_EQ(0, negative.count);
    EXPECT_EQ(Semantic(L"Bad device count", 1) + Semantic(L"Bad device index 1", 2) +
                  SummaryError(L"No Ambulor units defined in configuration"),
              Errors());
}

TEST_F(AmbulorReadTest, TextsKeep29Characters) {
    const std::string long40(40, 'q');
    EXPECT_EQ(1, ReadText("COUNT,1\nAMBULOR,1," + long40 + ",1,1,1\n" + completeUnit(1) + "AMP,1,LEFT,x," +
                          long40 + "\nSENSOR,1,LEFT,A," + long40 + ",0,0,0\n"));
    const std::wstring kept(29, L'q');
    EXPECT_EQ(kept, reader.devices[0].name);
    EXPECT_EQ(kept, reader.devices[0].ampId[0]);
    EXPECT_EQ(kept, reader.devices[0].sensorId[0]);
}

}  // namespace
