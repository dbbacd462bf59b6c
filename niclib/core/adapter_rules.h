#pragma once
// The rules of the adapter model that need no system: what a team type, an operating mode, a
// team status, a member status and a driver setting mean in the records, the trap decision of a
// member NIC and the event kind of a trap record. No windows.h.

#include <cstdint>

// Team-type and operating-mode rows: what a team interface publishes for the type or mode its
// team reports. Kind/TeamMode 0 mean "unchanged".
struct TEAMTYPEROW {
    uint8_t kind;
    uint8_t teamMode;
    uint32_t flag; // TeamFlags bit set after bits 4 and 8 were cleared, 0 for none
    const char *text;
};
constexpr int kTeamTypeCount = 20;
// The row of a team type 0..19, or null for any other type.
const TEAMTYPEROW *TeamTypeRow(int teamType);
// TeamFlags for an LBFO load-balancing algorithm (0, 2, 3, 4, 5), or 0 when it sets none.
uint32_t LbfoAlgorithmFlags(int algorithm);

// The team fields a team type sets.
struct TEAMFIELDS {
    uint8_t kind;
    uint8_t teamMode;
    uint32_t teamFlags;
};
// Applies the row of a known team type 0..19 (algorithm -1 when none is reported); false, with
// the fields untouched, for any other type.
bool ApplyTeamType(int64_t teamType, int64_t algorithm, uint8_t memberCount, TEAMFIELDS *fields, const char **text);

// What the operating-mode table gives for a team driver's team whose type is not known.
struct OPERATINGMODERESULT {
    uint8_t kind;
    uint8_t teamMode;
    uint32_t setFlags;   // TeamFlags bits to set
    uint32_t clearFlags; // TeamFlags bits to clear (before setting)
    const char *text;
};
// flags: the answer of the team flag query, meaningful only when flagsRead. modeQuery: the
// result and answer of the 802.3ad mode query (only asked for that operating mode).
OPERATINGMODERESULT OperatingModeRow(uint32_t mode, bool flagsRead, uint64_t flags, bool modeQueryRead,
                                     uint64_t modeQueryAnswer);
// Condition of a team by its team status: 2 ok, 3/4/6/7 degraded, 5 failed, else other.
uint8_t TeamStatusCondition(uint32_t status);

// ConfSpeedDuplex: 1 unknown, 2 auto, 3 10 half, 4 10 full, 5 100 half, 6 100 full, 7 1G half,
// 8 1G full, 9 10G full. By the first driver setting that could be read; kConfSettingNone when
// none could.
enum ConfSpeedDuplexSetting { kConfStarSpeedDuplex, kConfSpeedDuplex, kConfRequestedMediaType, kConfSettingNone };
int ConfSpeedDuplexOf(ConfSpeedDuplexSetting setting, int value, uint8_t adapterType);

// The Role byte of a team member by the team member status query (0..3 give 5..8), keeping the
// role for any other answer; and of an LBFO member by getMemberRole.
uint8_t MemberStatusRole(int32_t memberStatus, uint8_t role);
uint8_t LbfoMemberRole(int lbfoRole);

// The trap decision: whether a changed condition is an event for the logical adapter.
// plainNic: a NIC that is neither a team member nor a bridge member (its own condition is
// compared); else the condition of a second dynamic-data query (nowRead false when it failed).
int TrapNeeded(bool plainNic, int previous, int now, bool nowRead, int conditionStable, uint32_t lastPass);

// The event kind of a trap record for a member whose condition is now memberCondition:
// 11 connectivity lost, 12 regained, 13 redundancy increased, 14 reduced.
int TrapKindOf(int memberCondition, bool team, uint32_t okMemberCount);
