#include "config/CComboRead.h"

#include <cwchar>

#include "config/ConfigValue.h"

namespace {

enum KeywordId { kTextNote = 1, kVersion, kEnabled, kUnits, kCpCount, kCpInfo, kPpInfo, kPpMember };

const ConfigKeyword kKeywords[] = {
    {L"TEXT_NOTE", kTextNote, 0}, {L"VERSION", kVersion, 1},    {L"ENABLED", kEnabled, 1},
    {L"UNITS", kUnits, 1},        {L"CP_COUNT", kCpCount, 1},   {L"CP_INFO", kCpInfo, 8},
    {L"PP_INFO", kPpInfo, 2},     {L"PP_MEMBER", kPpMember, 7},
};

// A box that took in nothing keeps these, so its centre is (0, 0).
constexpr float kBoxStartMin = 10000.0f;
constexpr float kBoxStartMax = -10000.0f;

struct Box {
    float minX = kBoxStartMin, minY = kBoxStartMin;
    float maxX = kBoxStartMax, maxY = kBoxStartMax;
};

}  // namespace

void CComboRead::Init() {
    keywords = kKeywords;
    keywordCount = static_cast<int32_t>(sizeof kKeywords / sizeof kKeywords[0]);
    version = enabled = units = cpCount = 0;
    comboReadCount = memberRefReadCount = memberReadCount = memberCountSum = 0;
    for (int i = 0; i < kMaxCombos; ++i) {
        memberRefsPerCombo[i] = 0;
        comboDefined_[i] = false;
    }
}

bool CComboRead::ProcessKeyword(int id, const CString params[], CString& message) {
    using ConfigValue::CopyText;
    using ConfigValue::ToFloat;
    using ConfigValue::ToInt;
    message.Empty();
    switch (id) {
        case kTextNote:
            break;
        case kVersion:
            version = ToInt(params[0]);
            break;
        case kEnabled:
            enabled = ToInt(params[0]);
            break;
        case kUnits:
            units = ToInt(params[0]);
            break;
        case kCpCount:
            cpCount = ToInt(params[0]);
            break;
        case kCpInfo: {
            if (comboReadCount >= kMaxCombos) break;
            int index;
            if (!ParseRangedInt(params[0], index, 1, kMaxCombos)) {
                message.Format(L"Bad combo platform index %d", index);
                break;
            }
            ComboPlatformRecord& combo = combos[index - 1];
            combo.param2 = ToInt(params[1]);
            CopyText(combo.name, params[2], kTextChars);
            CopyText(combo.text4, params[3], kTextChars);
            combo.memberCount = ToInt(params[4]);
            combo.sizeX = ToFloat(params[5]);
            combo.sizeY = ToFloat(params[6]);
            combo.param8 = ToFloat(params[7]);
            comboDefined_[index - 1] = true;
            // Saturating: the counts come from the file and may be anything.
            const int64_t sum = static_cast<int64_t>(memberCountSum) + combo.memberCount;
            memberCountSum = sum > INT32_MAX   ? INT32_MAX
                             : sum < INT32_MIN ? INT32_MIN
                                               : static_cast<int32_t>(sum);
            ++comboReadCount;
            break;
        }
        case kPpInfo: {
            if (memberRefReadCount >= kMaxMemberRefs) break;
            int index;
            if (!ParseRangedInt(params[0], index, 1, kMaxCombos)) {
                message.Format(L"Bad combo platform index %d", index);
                break;
            }
            MemberRefRecord& ref = memberRefs[memberRefReadCount];
            ref.matched = 1;
            ref.comboIndex = index - 1;
            ref.offsetX = ref.offsetY = 0.0f;
            ref.orientation = 0;
            CopyText(ref.name, params[1], kTextChars);
            ++memberRefsPerCombo[index - 1];
            ++memberRefReadCount;
            break;
        }
        case kPpMember: {
            if (memberReadCount >= kMaxMembers) break;
            MemberPlatformRecord& member = members[memberReadCount];
            CopyText(member.name, params[0], kTextChars);
            CopyText(member.text2, params[1], kTextChars);
            member.sizeX = ToFloat(params[2]);
            member.sizeY = ToFloat(params[3]);
            member.centreX = ToFloat(params[4]);
            member.centreY = ToFloat(params[5]);
            const int32_t orientation = ToInt(params[6]);
            member.orientation = orientation < 0 || orientation > 3 ? 0 : orientation;
            ++memberReadCount;
            break;
        }
        default:
            message = L"Unprocessed keyword";
            break;
    }
    return message.IsEmpty();
}

int CComboRead::Summary(CString& message) {
    message.Empty();
    if (comboReadCount != cpCount) message += L"Combined platform count incorrect\r\n";
    // The combined platforms offered are the first cpCount positions, so each
    // of them must hold a line of its own: a gap or a repeated index would
    // offer an empty record and leave a given one out. Positions beyond the
    // lines read are already covered by the count message.
    const int declared = cpCount < comboReadCount ? cpCount : comboReadCount;
    for (int i = 0; i < declared; ++i)
        if (!comboDefined_[i]) message.AppendFormat(L"Combo platform %d not defined\r\n", i + 1);
    for (int i = 0; i < comboReadCount && i < kMaxCombos; ++i)
        if (combos[i].memberCount != memberRefsPerCombo[i])
            message.AppendFormat(L"Member platform count incorrect for combo platform %d\r\n", i + 1);
    memberRefTotal = memberRefReadCount;

    Box boxes[kMaxCombos];
    const MemberPlatformRecord* memberOf[kMaxMemberRefs] = {};
    for (int r = 0; r < memberRefReadCount && r < kMaxMemberRefs; ++r) {
        MemberRefRecord& ref = memberRefs[r];
        const int combo = ref.comboIndex;
        if (combo < 0 || combo >= kMaxCombos || !comboDefined_[combo]) {
            message.AppendFormat(L"Combo platform %d not defined for member platform '%s'\r\n", combo + 1,
                                 ref.name);
            continue;
        }
        for (int m = 0; m < memberReadCount && m < kMaxMembers && !memberOf[r]; ++m)
            if (std::wcscmp(members[m].name, ref.name) == 0) memberOf[r] = &members[m];
        if (!memberOf[r]) {
            message.AppendFormat(L"Member platform '%s' unknown for combo platform %d\r\n", ref.name,
                                 combo + 1);
            continue;
        }
        ref.matched = 1;
        const MemberPlatformRecord& member = *memberOf[r];
        const bool turned = member.orientation == 1 || member.orientation == 3;
        const float hx = (turned ? member.sizeY : member.sizeX) * 0.5f;
        const float hy = (turned ? member.sizeX : member.sizeY) * 0.5f;
        Box& box = boxes[combo];
        if (member.centreX - hx < box.minX) box.minX = member.centreX - hx;
        if (member.centreX + hx > box.maxX) box.maxX = member.centreX + hx;
        if (member.centreY - hy < box.minY) box.minY = member.centreY - hy;
        if (member.centreY + hy > box.maxY) box.maxY = member.centreY + hy;
    }
    memberTotal = memberReadCount;

    for (int r = 0; r < memberRefReadCount && r < kMaxMemberRefs; ++r) {
        if (!memberOf[r]) continue;
        MemberRefRecord& ref = memberRefs[r];
        const Box& box = boxes[ref.comboIndex];
        const float centreX = (box.maxX + box.minX) * 0.5f;
        const float centreY = (box.maxY + box.minY) * 0.5f;
        ref.offsetX = (memberOf[r]->centreX - centreX) * -1.0f;
        ref.offsetY = (memberOf[r]->centreY - centreY) * -1.0f;
        ref.orientation = memberOf[r]->orientation;
    }

    if (message.IsEmpty() && enabled != 0) resultCount = memberRefReadCount;
    return message.IsEmpty() ? 1 : -1;
}
