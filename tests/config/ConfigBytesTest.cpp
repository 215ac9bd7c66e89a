// The fuzz targets read their inputs from memory (testkit/ConfigBytes.h): the
// same bytes must read there exactly as they do from a file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/AmbulorRead.h"
#include "config/CComboRead.h"
#include "config/TreadmillSupportRead.h"
#include "testkit/ConfigBytes.h"
#include "tests/config/ConfigTestFolder.h"

namespace {

using ConfigBytesTest = KESUTest::ConfigFileTest;

// Clean files, bad lines, CR LF and bare CR, no final line end, stray bytes.
const char* const kCombo[] = {
    "",
    "VERSION,3\r\nENABLED,1\r\nUNITS,1\r\nCP_COUNT,1\r\nCP_INFO,1,7,WALKWAY,T4,2,40.5,10,1.5\r\n"
    "PP_INFO,1,A\r\nPP_INFO,1,B\r\nPP_MEMBER,A,TA,20,10,0,0,0\r\nPP_MEMBER,B,TB,20,10,30,0,3",
    "CP_COUNT,1\nCP_INFO,0,0,C,T,0,0,0,0\nNOPE\n,,\nPP_MEMBER,A\n% note\rCP_INFO,1,0,\xE9,T,1,0,0,0\n",
};
const char* const kAmbulor[] = {
    "COUNT,1\nAMBULOR,1,U,1,2,3\nAMP,1,LEFT,x,A\nAMP,1,RIGHT,x,B\nSENSOR,1,LEFT,A,S,0,0,0\n"
    "SENSOR,1,LEFT,B,S,0,0,90\nSENSOR,1,RIGHT,A,S,0,0,180\nSENSOR,1,RIGHT,B,S,0,0,270",
    "VERSION,100\r\nUNITS,feet\r\nCOUNT,9\r\nAMP,0,up,x,A\r\n\r\n",
};
const char* const kTreadmill[] = {
    "",
    "TEXT_NOTE x\nSETUP_TYPE 4\r\nX_DIMENSION: 60\nUSE_MANUAL_OFFSETS\t1\n"
    "PHY_P left 1 2 3.5 4.5 6\nPHY_P r 1",
    "ENABLED 1\rTREADMILL_TYPE 5\nSTRIKE_LOAD 1e400\n\xFF\xFE",
};

TEST_F(ConfigBytesTest, CombinationFilesReadFromMemoryAsFromAFile) {
    for (const std::string text : kCombo) {
        SCOPED_TRACE(text);
        CComboRead fromFile, fromBytes;
        CString bytesErrors;
        const int fileResult = fromFile.Read(WriteConfig("CombinationPlatform.cfg", text), errors);
        EXPECT_EQ(fileResult, KESUTest::ReadConfigBytes(fromBytes, text.data(), text.size(), bytesErrors));
        EXPECT_EQ(errors, bytesErrors);
        EXPECT_EQ(fromFile.cpCount, fromBytes.cpCount);
        EXPECT_EQ(fromFile.comboReadCount, fromBytes.comboReadCount);
        EXPECT_EQ(fromFile.memberReadCount, fromBytes.memberReadCount);
        EXPECT_EQ(0, std::memcmp(fromFile.combos, fromBytes.combos, sizeof fromFile.combos));
        EXPECT_EQ(0, std::memcmp(fromFile.memberRefs, fromBytes.memberRefs, sizeof fromFile.memberRefs));
        EXPECT_EQ(0, std::memcmp(fromFile.members, fromBytes.members, sizeof fromFile.members));
    }
}

TEST_F(ConfigBytesTest, AmbulorFilesReadFromMemoryAsFromAFile) {
    for (const std::string text : kAmbulor) {
        SCOPED_TRACE(text);
        AmbulorRead fromFile, fromBytes;
        CString bytesErrors;
        const int fileResult = fromFile.Read(WriteConfig("Ambulor.cfg", text), errors);
        EXPECT_EQ(fileResult, KESUTest::ReadConfigBytes(fromBytes, text.data(), text.size(), bytesErrors));
        EXPECT_EQ(errors, bytesErrors);
        EXPECT_EQ(fromFile.count, fromBytes.count);
        EXPECT_EQ(fromFile.resultCount, fromBytes.resultCount);
        for (int unit = 0; unit < AmbulorRead::kMaxDevices; ++unit) {
            EXPECT_EQ(fromFile.devices[unit].defined, fromBytes.devices[unit].defined);
            EXPECT_STREQ(fromFile.devices[unit].name, fromBytes.devices[unit].name);
            EXPECT_STREQ(fromFile.devices[unit].ampId[0], fromBytes.devices[unit].ampId[0]);
        }
    }
}

TEST_F(ConfigBytesTest, TreadmillSupportFilesReadFromMemoryAsFromAFile) {
    for (const std::string text : kTreadmill) {
        SCOPED_TRACE(text);
        TreadmillSupportRead fromFile, fromBytes;
        TreadmillSupportSettings fileSettings, bytesSettings;
        std::memset(&fileSettings, 0x5A, sizeof fileSettings);
        std::memset(&bytesSettings, 0x5A, sizeof bytesSettings);
        CString bytesErrors;
        const int fileResult =
            fromFile.Read(WriteConfig("TreadmillSupport.cfg", text), &fileSettings, errors);
        EXPECT_EQ(fileResult, KESUTest::ReadConfigBytes(fromBytes, text.data(), text.size(), &bytesSettings,
                                                        bytesErrors));
        EXPECT_EQ(errors, bytesErrors);
        EXPECT_EQ(fromFile.physicalPlateCount, fromBytes.physicalPlateCount);
        EXPECT_EQ(0, std::memcmp(&fileSettings, &bytesSettings, sizeof fileSettings));
    }
}

}  // namespace
