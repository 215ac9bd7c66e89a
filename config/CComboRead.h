// Reader of "CombinationPlatform.cfg": combined platforms (CP_INFO), the
// member references naming their physical platforms (PP_INFO) and the member
// platforms (PP_MEMBER). Summary checks the counts, resolves every reference
// by name and places each member relative to the centre of its combined
// platform's bounding box. Sizes and centres are in the file's units.
#pragma once

#include <cstdint>

#include "config/ConfigRead.h"

// One CP_INFO line.
struct ComboPlatformRecord {
    int32_t param2;
    int32_t memberCount;  // member platforms it should have
    float sizeY;
    float sizeX;
    float param8;
    wchar_t text4[30];
    wchar_t name[30];
};

// One PP_INFO line.
struct MemberRefRecord {
    int32_t matched;
    int32_t comboIndex;  // 0-based position of the combined platform
    float offsetX;       // from the member's centre to the combined centre
    float offsetY;
    wchar_t name[30];     // of a member platform
    int32_t orientation;  // copied from the member platform
};

// One PP_MEMBER line.
struct MemberPlatformRecord {
    wchar_t name[30];
    wchar_t text2[30];
    float sizeX;  // extents at orientation 0
    float sizeY;
    float centreX;
    float centreY;
    int32_t orientation;  // 0 to 3; 1 and 3 swap the extents
};

class CComboRead : public ConfigRead {
public:
    static constexpr int kMaxCombos = 25;
    static constexpr int kMaxMemberRefs = 100;
    static constexpr int kMaxMembers = 30;
    // Characters a text field keeps of its parameter.
    static constexpr int kTextChars = 28;

    CComboRead() = default;
    ~CComboRead() override = default;

    void Init() override;
    bool ProcessKeyword(int id, const CString params[], CString& message) override;
    int Summary(CString& message) override;

    int32_t version = 0;
    int32_t enabled = 0;
    int32_t units = 0;  // 0 inches, else millimetres
    int32_t memberRefTotal = 0;
    int32_t memberTotal = 0;
    int32_t cpCount = 0;
    MemberRefRecord memberRefs[kMaxMemberRefs] = {};
    ComboPlatformRecord combos[kMaxCombos] = {};  // at the position of their index
    MemberPlatformRecord members[kMaxMembers] = {};
    int32_t comboReadCount = 0;
    int32_t memberRefReadCount = 0;
    int32_t memberReadCount = 0;
    int32_t memberCountSum = 0;
    int32_t memberRefsPerCombo[kMaxCombos] = {};

private:
    // Positions some CP_INFO line filled. Summary refuses a reference to any
    // other, and any of the first cpCount positions left empty.
    bool comboDefined_[kMaxCombos] = {};
};
