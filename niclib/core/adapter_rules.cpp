// The adapter model's tables and decisions (see adapter_rules.h).
#include "adapter_rules.h"

namespace {

constexpr TEAMTYPEROW kTeamTypes[kTeamTypeCount] = {
    {0, 0, 0, "Unknown"},
    {14, 6, 0, "Automatic"},
    {9, 6, 0, "802.3ad Dynamic with Fault Tolerance"},
    {9, 6, 8, "802.3ad Dynamic Dual Channel Load Balancing"},
    {9, 4, 0, "Switch-assisted Load Balancing with Fault Tolerance"},
    {9, 6, 4, "Switch-assisted Dual Channel Load Balancing"},
    {10, 6, 0, "Transmit Load Balancing with Fault Tolerance"},
    {10, 7, 0, "Transmit Load Balancing with Fault Tolerance and Preference Order"},
    {10, 6, 4, "Channel-based Transmit Load Balancing"},
    {10, 6, 4, "Transmit Load Balancing with NFT and Dual Receive"},
    {10, 6, 4, "Channel-based Transmit Load Balancing with Dual Receive"},
    {4, 4, 0, "Network Fault Tolerance Only"},
    {4, 7, 0, "Network Fault Tolerance with Preference Order"},
    {4, 4, 4, "Switch-assisted Dual Channel Network Fault Tolerance"},
    {4, 7, 4, "Switch-assisted Dual Channel NFT and Preference Order"},
    {4, 4, 8, "802.3ad Dynamic Dual Channel Network Fault Tolerance"},
    {4, 7, 8, "802.3ad Dynamic Dual Channel NFT and Preference Order"},
    {12, 6, 0, "Switch Independent Team"},
    {11, 6, 0, "Static Team"},
    {13, 6, 0, "LACP Team"},
};

constexpr char kNftText[] = "QZ Network Fault Tolerant Team";
constexpr uint32_t kMode8023ad = 0x10ADBA1;

} // namespace

const TEAMTYPEROW *TeamTypeRow(int teamType)
{
    if (teamType < 0 || teamType >= kTeamTypeCount)
        return nullptr;
    return &kTeamTypes[teamType];
}

uint32_t LbfoAlgorithmFlags(int algorithm)
{
    switch (algorithm) {
    case 0: return 0x20;
    case 2: return 0x80;
    case 3: return 0x100;
    case 4: return 0x40;
    case 5: return 0x200;
    default: return 0;
    }
}

bool ApplyTeamType(int64_t teamType, int64_t algorithm, uint8_t memberCount, TEAMFIELDS *fields, const char **text)
{
    if (teamType < 0 || teamType >= kTeamTypeCount)
        return false;
    const TEAMTYPEROW &row = kTeamTypes[teamType];
    fields->teamFlags &= ~(4u | 8u);
    if (row.kind != 0) {
        fields->kind = row.kind;
        fields->teamMode = row.teamMode;
        fields->teamFlags |= row.flag;
    }
    if (memberCount <= 1)
        fields->teamMode = 2;
    if (algorithm != -1) {
        const uint32_t flags = LbfoAlgorithmFlags(static_cast<int>(algorithm));
        if (flags != 0)
            fields->teamFlags = flags;
    }
    *text = row.text;
    return true;
}

OPERATINGMODERESULT OperatingModeRow(uint32_t mode, bool flagsRead, uint64_t flags, bool modeQueryRead,
                                     uint64_t modeQueryAnswer)
{
    const uint64_t used = flagsRead ? flags : 0;
    const uint8_t preference = (used & 1) != 0 ? 7 : 4;
    switch (mode) {
    case 1: return {4, preference, 0, 0, kNftText};
    case 4: return {10, preference, 0, 0, "QZ Transmit Load Balancing Team"};
    case 2: return {4, 3, 0, 0, kNftText};
    case 3: return {4, 5, 0, 0, kNftText};
    case 5:
        if (flagsRead && (flags & 0x3F) == 0x30)
            return {9, 4, 4, 4, "QZ Switch-assisted Dual Channel Load Balancing Team"};
        return {9, 4, 0, 4, "QZ Switch-assisted Load Balancing Team"};
    case kMode8023ad: {
        const uint8_t teamMode = !modeQueryRead ? 1 : (modeQueryAnswer != 0 ? 3 : 6);
        if (flagsRead) {
            switch (flags & 0x3F) {
            case 4: return {5, teamMode, 0, 8, "QZ 802.3ad Dynamic Fault Tolerant Team"};
            case 12: return {5, teamMode, 0, 8, "QZ Automatic Team"};
            case 20: return {5, teamMode, 8, 8, "QZ 802.3ad Dynamic Dual Channel Team"};
            default: break;
            }
        }
        return {5, teamMode, 0, 8, "Team"};
    }
    default: return {14, 1, 0, 0, "Team"};
    }
}

uint8_t TeamStatusCondition(uint32_t status)
{
    switch (status) {
    case 2: return 2;
    case 3:
    case 4:
    case 6:
    case 7: return 3;
    case 5: return 4;
    default: return 1;
    }
}

int ConfSpeedDuplexOf(ConfSpeedDuplexSetting setting, int value, uint8_t adapterType)
{
    switch (setting) {
    case kConfStarSpeedDuplex:
        if (value >= 0 && value <= 7)
            return value + 2;
        return static_cast<uint32_t>(value) == 0x81000302u ? 8 : 1;
    case kConfSpeedDuplex:
        if (value >= 0 && value <= 4)
            return value + 2;
        return value == 6 ? 8 : 1;
    case kConfRequestedMediaType:
        switch (value) {
        case 0: return 2;
        case 3: case 0x1003: case 0x10102: return 3;
        case 4: case 0x102: case 0x1004: return 4;
        case 5: case 0x1005: case 0x1020C: return 5;
        case 6: case 0x202: case 0x1006: return 6;
        case 8: case 12: case 0x2008: case 0x1000302: return 8;
        default: return 1;
        }
    case kConfSettingNone:
    default: return adapterType == 10 ? 9 : 2;
    }
}

uint8_t MemberStatusRole(int32_t memberStatus, uint8_t role)
{
    if (memberStatus >= 0 && memberStatus <= 3)
        return static_cast<uint8_t>(5 + memberStatus);
    return role;
}

uint8_t LbfoMemberRole(int lbfoRole)
{
    if (lbfoRole == 1)
        return 7;
    return lbfoRole == 4096 ? 8 : 9;
}

int TrapNeeded(bool plainNic, int previous, int now, bool nowRead, int conditionStable, uint32_t lastPass)
{
    if (!nowRead || now == previous)
        return 0;
    if (now == 1 && previous == 2)
        return 0;
    if (plainNic)
        return conditionStable != 0 ? 0 : 1;
    if (conditionStable != 0 && (now == 1 || now == 2))
        return 0;
    if (conditionStable != 0 && (now == 3 || now == 4))
        return lastPass <= 1 ? 1 : 0;
    return 1;
}

int TrapKindOf(int memberCondition, bool team, uint32_t okMemberCount)
{
    if (memberCondition == 2)
        return team && okMemberCount > 1 ? 13 : 12;
    return team && okMemberCount >= 1 ? 14 : 11;
}
