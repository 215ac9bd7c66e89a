#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/TreadmillSupportRead.h"
#include "tests/config/ConfigTestFolder.h"

namespace {

class TreadmillSupportReadTest : public KESUTest::ConfigFileTest {
protected:
    void SetUp() override {
        ConfigFileTest::SetUp();
        std::memset(&settings, 0x5A, sizeof settings);
    }
    int ReadText(const std::string& text) {
        return reader.Read(WriteConfig("TreadmillSupport.cfg", text), &settings, errors);
    }
    bool Untouched() const {
        TreadmillSupportSettings pattern;
        std::memset(&pattern, 0x5A, sizeof pattern);
        return std::memcmp(&pattern, &settings, sizeof settings) == 0;
    }

    TreadmillSupportRead reader;
    TreadmillSupportSettings settings;
};

TEST_F(TreadmillSupportReadTest, EveryKeywordFillsItsOwnField) {
    ASSERT_EQ(
        1, ReadText("ENABLED 1\nTREADMILL_TYPE 4\nVERSION 3\nOUTPUT_FORMAT 5\nNUM_CP 6\nSINGLE_PLATE 7\n"
                    "CORRECT_FOOT_ORDER 8\nDELAY_PACKETS 9\nDELAY_REPETITIONS 10\nSTRIKE_DELAY_REP 11\n"
                    "SPIKE_ERROR_REP 12\nUSE_MANUAL_OFFSETS 13\nDATA_TO_AVG_MS 1.5\nSTRIKE_LOAD 2.5\n"
                    "UN_LOAD_N 3.5\nCOP_SUPPRESS_N 4.5\nPOST_UNLOAD_MS 5.5\nFOOT_LENGTH 6.5\nFOOT_WIDTH 7.5\n"
                    "FOOT_RADIUS 8.5\nRELIABLE_LOAD 9.5\nCOP_TRAVEL 10.5\nCOP_MINIMUM 11.5\n"
                    "PLATFORM_GAP_MM 12.5\nDIST_L_F_TO_ORIG_MM 13.5\nDIST_ORIG_TO_ORIG_MM 14.5\n"
                    "X_DIMENSION 60\nY_DIMENSION 0.1\n"));
    EXPECT_TRUE(errors.IsEmpty());
    EXPECT_EQ(1, settings.enabled);
    EXPECT_EQ(4, settings.treadmillType);
    EXPECT_EQ(3, settings.version);
    EXPECT_EQ(4, settings.setupType);
    EXPECT_EQ(5, settings.outputFormat);
    EXPECT_EQ(6, settings.numCp);
    EXPECT_EQ(2, settings.plateCount);
    EXPECT_EQ(7, settings.singlePlate);
    EXPECT_EQ(8, settings.correctFootOrder);
    EXPECT_EQ(9, settings.delayPackets);
    EXPECT_EQ(10, settings.delayRepetitions);
    EXPECT_EQ(11, settings.strikeDelayRep);
    EXPECT_EQ(12, settings.spikeErrorRep);
    EXPECT_EQ(13, settings.useManualOffsets);
    EXPECT_EQ(1.5f, settings.dataToAvgMs);
    EXPECT_EQ(2.5f, settings.strikeLoad);
    EXPECT_EQ(3.5f, settings.unLoadN);
    EXPECT_EQ(4.5f, settings.copSuppressN);
    EXPECT_EQ(5.5f, settings.postUnloadMs);
    EXPECT_EQ(6.5f, settings.footLength);
    EXPECT_EQ(7.5f, settings.footWidth);
    EXPECT_EQ(8.5f, settings.footRadius);
    EXPECT_EQ(9.5f, settings.reliableLoad);
    EXPECT_EQ(10.5f, settings.copTravel);
    EXPECT_EQ(11.5f, settings.copMinimum);
    EXPECT_EQ(12.5f, settings.platformGapMm);
    EXPECT_EQ(13.5f, settings.distLFToOrigMm);
    EXPECT_EQ(14.5f, settings.distOrigToOrigMm);
    EXPECT_EQ(60.0f, settings.xDimension);
    EXPECT_EQ(static_cast<float>(0.1), settings.yDimension);
}

TEST_F(TreadmillSupportReadTest, KeywordsAreFoundAnywhereAndTheSecondTokenIsTheValue) {
    const char* const forms[] = {"x_dimension: 60\n", "X_DIMENSION,60\n", "X_DIMENSION\t60\n",
                                 "  X_DIMENSION 60 inches\n"};
    for (const char* form : forms) {
        ASSERT_EQ(1, ReadText(form)) << form;
        EXPECT_EQ(60.0f, settings.xDimension) << form;
    }
    ASSERT_EQ(1, ReadText("X_DIMENSION = 60\n1 ENABLED\nY_DIMENSION\n"));
    EXPECT_EQ(0.0f, settings.xDimension);
    EXPECT_EQ(0, settings.enabled);
    EXPECT_EQ(0.0f, settings.yDimension);

    // Later lines overwrite; one line holding two keywords sets both.
    ASSERT_EQ(1, ReadText("X_DIMENSION 10\nX_DIMENSION 20\nFOOT_WIDTH FOOT_LENGTH 3\n"));
    EXPECT_EQ(20.0f, settings.xDimension);
    EXPECT_EQ(0.0f, settings.footWidth);
    EXPECT_EQ(0.0f, settings.footLength);
    ASSERT_EQ(1, ReadText("NUM_CP 7 SINGLE_PLATE\n"));
    EXPECT_EQ(7, settings.numCp);
    EXPECT_EQ(7, settings.singlePlate);
}

TEST_F(TreadmillSupportReadTest, TextNoteLinesAreSkippedWhole) {
    ASSERT_EQ(1, ReadText("TEXT_NOTE SETUP_TYPE 4\nsome text_note ENABLED 1\n"));
    EXPECT_EQ(0, settings.enabled);
    EXPECT_EQ(0, settings.setupType);
}

TEST_F(TreadmillSupportReadTest, SetupTypeDecidesEnabledAndType) {
    ASSERT_EQ(1, ReadText("SETUP_TYPE 5\n"));
    EXPECT_EQ(1, settings.enabled);
    EXPECT_EQ(5, settings.treadmillType);
    EXPECT_EQ(5, settings.setupType);

    ASSERT_EQ(1, ReadText("ENABLED 1\nTREADMILL_TYPE 4\n"));
    EXPECT_EQ(1, settings.enabled);
    EXPECT_EQ(4, settings.treadmillType);
    EXPECT_EQ(4, settings.setupType);

    ASSERT_EQ(1, ReadText("ENABLED 1\nTREADMILL_TYPE 3\n"));
    EXPECT_EQ(1, settings.enabled);
    EXPECT_EQ(3, settings.treadmillType);
    EXPECT_EQ(0, settings.setupType);

    ASSERT_EQ(1, ReadText("ENABLED 0\nTREADMILL_TYPE 5\n"));
    EXPECT_EQ(0, settings.setupType);

    ASSERT_EQ(1, ReadText("SETUP_TYPE 2\nENABLED 1\nTREADMILL_TYPE 4\n"));
    EXPECT_EQ(0, settings.enabled);
    EXPECT_EQ(0, settings.treadmillType);
    EXPECT_EQ(0, settings.setupType);
}

TEST_F(TreadmillSupportReadTest, SetupTypeMinusOneSwitchesTheTreadmillOffToo) {
    ASSERT_EQ(1, ReadText("ENABLED 1\nTREADMILL_TYPE 4\nSETUP_TYPE -1\n"));
    EXPECT_EQ(0, settings.enabled);
    EXPECT_EQ(0, settings.treadmillType);
    EXPECT_EQ(0, settings.setupType);
}

TEST_F(TreadmillSupportReadTest, PhysicalPlatesAndTheirCount) {
    ASSERT_EQ(1, ReadText("USE_MANUAL_OFFSETS 1\nPHY_P left 1 2 3.5 4.5 6\nPHY_P,b,7,8,9,10,11,extra\n"
                          "PHY_P:c\t0 0 0 0 0\n"));
    EXPECT_EQ(3, settings.plateCount);
    EXPECT_EQ(3, reader.physicalPlateCount);
    const PhysicalPlateRecord& left = settings.physicalPlates[0];
    EXPECT_STREQ(L"LEFT", left.name);
    EXPECT_EQ(1, left.value3);
    EXPECT_EQ(2, left.value4);
    EXPECT_EQ(3.5f, left.value5);
    EXPECT_EQ(4.5f, left.value6);
    EXPECT_EQ(6, left.value7);
    EXPECT_STREQ(L"B", settings.physicalPlates[1].name);
    EXPECT_EQ(11, settings.physicalPlates[1].value7);
    EXPECT_STREQ(L"C", settings.physicalPlates[2].name);
    EXPECT_STREQ(L"", settings.physicalPlates[3].name);

    ASSERT_EQ(1, ReadText("USE_MANUAL_OFFSETS 2\nPHY_P a 1 2 3 4 5\n"));
    EXPECT_EQ(2, settings.plateCount);
    EXPECT_EQ(1, reader.physicalPlateCount);
}

TEST_F(TreadmillSupportReadTest, EmptyFileClearsTheRecord) {
    ASSERT_EQ(1, ReadText(""));
    TreadmillSupportSettings expected{};
    expected.plateCount = 2;
    EXPECT_EQ(0, std::memcmp(&expected, &settings, sizeof settings));
}

TEST_F(TreadmillSupportReadTest, MissingFileIsNoErrorButAMissingFolderIs) {
    folder_.Write("KESU/CFG/other.cfg", "");
    EXPECT_EQ(0, reader.Read(KESUTest::ConfigPath("TreadmillSupport.cfg"), &settings, errors));
    EXPECT_TRUE(errors.IsEmpty());
    EXPECT_TRUE(Untouched());

    EXPECT_EQ(-1, reader.Read(L"C:\\KESU\\GONE\\TreadmillSupport.cfg", &settings, errors));
    EXPECT_EQ(
        errors,
        L"Cannot open configuration file: The folder of C:\\KESU\\GONE\\TreadmillSupport.cfg was not found.");
    EXPECT_TRUE(Untouched());
}

TEST_F(TreadmillSupportReadTest, ShortPlateLineEndsTheReadingAsCorrupted) {
    EXPECT_EQ(
        -1,
        ReadText("SETUP_TYPE 4\nUSE_MANUAL_OFFSETS 1\nPHY_P a 1 2 3 4 5\nPHY_P b 1 2 3 4\nX_DIMENSION 60\n"));
    EXPECT_EQ(errors, L"Corrupted data file");
    EXPECT_EQ(0.0f, settings.xDimension);
    // The end steps still ran.
    EXPECT_EQ(1, settings.plateCount);
    EXPECT_EQ(1, settings.enabled);
    EXPECT_EQ(4, settings.setupType);
}

TEST_F(TreadmillSupportReadTest, PlatesBeyondTwentyNineAreLeftOut) {
    std::string text = "USE_MANUAL_OFFSETS 1\n";
    for (int i = 0; i < 31; ++i) text += "PHY_P P" + std::to_string(i) + " 1 2 3 4 5\n";
    ASSERT_EQ(1, ReadText(text + "X_DIMENSION 60\n"));
    EXPECT_EQ(29, reader.physicalPlateCount);
    EXPECT_EQ(29, settings.plateCount);
    EXPECT_STREQ(L"P28", settings.physicalPlates[28].name);
    EXPECT_EQ(60.0f, settings.xDimension);
}

TEST_F(TreadmillSupportReadTest, OverLongLinesAndTokensAreCut) {
    // Past character 249 nothing is looked at.
    ASSERT_EQ(
        1, ReadText(std::string(240, ' ') + "X_DIMENSION 60\n" + std::string(235, ' ') + "Y_DIMENSION 60\n"));
    EXPECT_EQ(0.0f, settings.xDimension);
    EXPECT_EQ(60.0f, settings.yDimension);

    // A value keeps 24 characters; a plate name 19, tokens 3 and 4 seven, 5 to 7 fifteen.
    ASSERT_EQ(1, ReadText("NUM_CP 000000000000000000000012345\n"
                          "PHY_P ABCDEFGHIJKLMNOPQRSTUVWXYZ 123456789 -98765432 1.2345678901234567 0.25 "
                          "000000000000012345\n"));
    EXPECT_EQ(12, settings.numCp);
    const PhysicalPlateRecord& plate = settings.physicalPlates[0];
    EXPECT_STREQ(L"ABCDEFGHIJKLMNOPQRS", plate.name);
    EXPECT_EQ(1234567, plate.value3);
    EXPECT_EQ(-987654, plate.value4);
    EXPECT_EQ(static_cast<float>(1.2345678901234), plate.value5);
    EXPECT_EQ(0.25f, plate.value6);
    EXPECT_EQ(12, plate.value7);
}

}  // namespace
