// The adapter model's tables and decisions.
#include "adapter_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TeamTypes, EveryTypeWithAndWithoutAlgorithm)
{
    // Start from a team that already carries flag bits 1, 4 and 8: 4 and 8 belong to the table.
    struct Case {
        int64_t type;
        int64_t algorithm;
        uint8_t members;
        uint8_t kind;
        uint8_t teamMode;
        uint32_t flags;
        const char *text;
    };
    const Case cases[] = {
        {0, -1, 2, 4, 1, 0x1, "Unknown"}, // type 0 changes kind and mode of nothing
        {1, -1, 2, 14, 6, 0x1, "Automatic"},
        {2, -1, 2, 9, 6, 0x1, "802.3ad Dynamic with Fault Tolerance"},
        {3, -1, 2, 9, 6, 0x9, "802.3ad Dynamic Dual Channel Load Balancing"},
        {4, -1, 2, 9, 4, 0x1, "Switch-assisted Load Balancing with Fault Tolerance"},
        {5, -1, 2, 9, 6, 0x5, "Switch-assisted Dual Channel Load Balancing"},
        {6, -1, 2, 10, 6, 0x1, "Transmit Load Balancing with Fault Tolerance"},
        {7, -1, 2, 10, 7, 0x1, "Transmit Load Balancing with Fault Tolerance and Preference Order"},
        {8, -1, 2, 10, 6, 0x5, "Channel-based Transmit Load Balancing"},
        {9, -1, 2, 10, 6, 0x5, "Transmit Load Balancing with NFT and Dual Receive"},
        {10, -1, 2, 10, 6, 0x5, "Channel-based Transmit Load Balancing with Dual Receive"},
        {11, -1, 2, 4, 4, 0x1, "Network Fault Tolerance Only"},
        {12, -1, 2, 4, 7, 0x1, "Network Fault Tolerance with Preference Order"},
        {13, -1, 2, 4, 4, 0x5, "Switch-assisted Dual Channel Network Fault Tolerance"},
        {14, -1, 2, 4, 7, 0x5, "Switch-assisted Dual Channel NFT and Preference Order"},
        {15, -1, 2, 4, 4, 0x9, "802.3ad Dynamic Dual Channel Network Fault Tolerance"},
        {16, -1, 2, 4, 7, 0x9, "802.3ad Dynamic Dual Channel NFT and Preference Order"},
        {17, -1, 2, 12, 6, 0x1, "Switch Independent Team"},
        {18, -1, 2, 11, 6, 0x1, "Static Team"},
        {19, -1, 2, 13, 6, 0x1, "LACP Team"},
        // One member: mode 2 whatever the row says (type 0 too).
        {0, -1, 1, 4, 2, 0x1, "Unknown"},
        {12, -1, 0, 4, 2, 0x1, "Network Fault Tolerance with Preference Order"},
        // Algorithms replace the whole word; 1 and 6 leave it.
        {19, 5, 1, 13, 2, 0x200, "LACP Team"},
        {17, 0, 2, 12, 6, 0x20, "Switch Independent Team"},
        {17, 1, 2, 12, 6, 0x1, "Switch Independent Team"},
        {18, 2, 2, 11, 6, 0x80, "Static Team"},
        {18, 3, 2, 11, 6, 0x100, "Static Team"},
        {3, 4, 2, 9, 6, 0x40, "802.3ad Dynamic Dual Channel Load Balancing"},
        {3, 6, 2, 9, 6, 0x9, "802.3ad Dynamic Dual Channel Load Balancing"},
    };
    for (const Case &c : cases) {
        TEAMFIELDS fields = {4, 1, 0x1 | 0x4 | 0x8};
        const char *text = "Team";
        ASSERT_TRUE(ApplyTeamType(c.type, c.algorithm, c.members, &fields, &text)) << c.type;
        EXPECT_EQ(c.kind, fields.kind) << c.type << "/" << c.algorithm;
        EXPECT_EQ(c.teamMode, fields.teamMode) << c.type << "/" << c.algorithm;
        EXPECT_EQ(c.flags, fields.teamFlags) << c.type << "/" << c.algorithm;
        EXPECT_STREQ(c.text, text) << c.type;
    }
    for (int64_t type : {-1LL, 20LL, 0x100000000LL}) {
        TEAMFIELDS fields = {4, 1, 0xC};
        const char *text = "Team";
        EXPECT_FALSE(ApplyTeamType(type, 5, 1, &fields, &text)) << type;
        EXPECT_EQ(0xCu, fields.teamFlags);
        EXPECT_STREQ("Team", text);
    }
}

TEST(OperatingModes, ModesFlagsAndFailedQueries)
{
    struct Case {
        uint32_t mode;
        bool flagsRead;
        uint64_t flags;
        bool modeRead;
        uint64_t modeAnswer;
        uint8_t kind;
        uint8_t teamMode;
        uint32_t set;
        uint32_t clear;
        const char *text;
    };
    const Case cases[] = {
        {1, true, 1, false, 0, 4, 7, 0, 0, "QZ Network Fault Tolerant Team"},
        {1, true, 2, false, 0, 4, 4, 0, 0, "QZ Network Fault Tolerant Team"},
        {1, false, 1, false, 0, 4, 4, 0, 0, "QZ Network Fault Tolerant Team"}, // failed query: no preference
        {4, true, 0x31, false, 0, 10, 7, 0, 0, "QZ Transmit Load Balancing Team"},
        {4, false, 0x31, false, 0, 10, 4, 0, 0, "QZ Transmit Load Balancing Team"},
        {2, true, 1, false, 0, 4, 3, 0, 0, "QZ Network Fault Tolerant Team"},
        {3, false, 0, false, 0, 4, 5, 0, 0, "QZ Network Fault Tolerant Team"},
        {5, true, 0x30, false, 0, 9, 4, 4, 4, "QZ Switch-assisted Dual Channel Load Balancing Team"},
        {5, true, 0x70, false, 0, 9, 4, 4, 4, "QZ Switch-assisted Dual Channel Load Balancing Team"},
        {5, true, 0x31, false, 0, 9, 4, 0, 4, "QZ Switch-assisted Load Balancing Team"},
        {5, false, 0x30, false, 0, 9, 4, 0, 4, "QZ Switch-assisted Load Balancing Team"},
        {0x10ADBA1, true, 4, true, 0, 5, 6, 0, 8, "QZ 802.3ad Dynamic Fault Tolerant Team"},
        {0x10ADBA1, true, 12, true, 7, 5, 3, 0, 8, "QZ Automatic Team"},
        {0x10ADBA1, true, 0x54, false, 0, 5, 1, 8, 8, "QZ 802.3ad Dynamic Dual Channel Team"},
        {0x10ADBA1, true, 5, true, 0, 5, 6, 0, 8, "Team"},
        {0x10ADBA1, false, 4, false, 0, 5, 1, 0, 8, "Team"}, // both queries failed
        {0, true, 1, false, 0, 14, 1, 0, 0, "Team"},
        {6, false, 0, false, 0, 14, 1, 0, 0, "Team"},
    };
    for (const Case &c : cases) {
        const OPERATINGMODERESULT r = OperatingModeRow(c.mode, c.flagsRead, c.flags, c.modeRead, c.modeAnswer);
        EXPECT_EQ(c.kind, r.kind) << c.mode << "/" << c.flags;
        EXPECT_EQ(c.teamMode, r.teamMode) << c.mode << "/" << c.flags;
        EXPECT_EQ(c.set, r.setFlags) << c.mode << "/" << c.flags;
        EXPECT_EQ(c.clear, r.clearFlags) << c.mode << "/" << c.flags;
        EXPECT_STREQ(c.text, r.text) << c.mode << "/" << c.flags;
    }
}

TEST(TeamStatus, Conditions)
{
    const uint8_t expected[] = {1, 1, 2, 3, 3, 4, 3, 3, 1, 1};
    for (uint32_t status = 0; status < sizeof(expected); ++status)
        EXPECT_EQ(expected[status], TeamStatusCondition(status)) << status;
    EXPECT_EQ(1, TeamStatusCondition(0x102)); // the whole word counts, not its low byte
}

TEST(ConfSpeedDuplex, EverySettingAndTheFallback)
{
    struct Case {
        ConfSpeedDuplexSetting setting;
        int value;
        uint8_t adapterType;
        int result;
    };
    const Case cases[] = {
        {kConfStarSpeedDuplex, 0, 0, 2},
        {kConfStarSpeedDuplex, 6, 0, 8},
        {kConfStarSpeedDuplex, 7, 0, 9},
        {kConfStarSpeedDuplex, 8, 0, 1},
        {kConfStarSpeedDuplex, -1, 0, 1},
        {kConfStarSpeedDuplex, -2130705662, 0, 8},
        {kConfSpeedDuplex, 4, 0, 6},
        {kConfSpeedDuplex, 5, 0, 1},
        {kConfSpeedDuplex, 6, 0, 8},
        {kConfSpeedDuplex, 7, 0, 1},
        {kConfRequestedMediaType, 0, 0, 2},
        {kConfRequestedMediaType, 0x10102, 0, 3},
        {kConfRequestedMediaType, 0x102, 0, 4},
        {kConfRequestedMediaType, 0x1020C, 0, 5},
        {kConfRequestedMediaType, 4102, 0, 6},
        {kConfRequestedMediaType, 12, 0, 8},
        {kConfRequestedMediaType, 0x1000302, 0, 8},
        {kConfRequestedMediaType, 1, 0, 1},
        {kConfSettingNone, 0, 10, 9},
        {kConfSettingNone, 0, 3, 2},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.result, ConfSpeedDuplexOf(c.setting, c.value, c.adapterType)) << c.setting << ":" << c.value;
}

TEST(MemberRoles, MemberStatusAndLbfoRoles)
{
    EXPECT_EQ(5, MemberStatusRole(0, 2));
    EXPECT_EQ(8, MemberStatusRole(3, 2));
    EXPECT_EQ(4, MemberStatusRole(4, 4));
    EXPECT_EQ(3, MemberStatusRole(-1, 3));
    EXPECT_EQ(7, LbfoMemberRole(1));
    EXPECT_EQ(8, LbfoMemberRole(4096));
    EXPECT_EQ(9, LbfoMemberRole(0));
    EXPECT_EQ(9, LbfoMemberRole(-1));
}

TEST(TrapDecision, PlainNic)
{
    struct Case {
        int previous;
        int now;
        int stable;
        int trap;
    };
    const Case cases[] = {
        {2, 2, 0, 0}, {2, 4, 0, 1}, {4, 2, 0, 1}, {2, 1, 0, 0}, // ok to other is no event
        {1, 2, 0, 1}, {1, 4, 0, 1}, {2, 4, 1, 0}, {4, 2, 1, 0}, // while stable nothing is
    };
    for (const Case &c : cases)
        for (uint32_t pass : {1u, 5u})
            EXPECT_EQ(c.trap, TrapNeeded(true, c.previous, c.now, true, c.stable, pass))
                << c.previous << "->" << c.now << " stable " << c.stable << " pass " << pass;
}

TEST(TrapDecision, TeamOrBridgeMember)
{
    struct Case {
        int previous;
        int now;
        bool read;
        int stable;
        uint32_t pass;
        int trap;
    };
    const Case cases[] = {
        {2, 4, false, 0, 3, 0}, // the second query failed
        {2, 2, true, 0, 3, 0},  {2, 1, true, 0, 3, 0}, {2, 4, true, 0, 3, 1}, {4, 2, true, 0, 3, 1},
        {1, 2, true, 1, 3, 0},  {4, 1, true, 1, 3, 0}, // stable: ok and other are no event
        {2, 4, true, 1, 1, 1},  {2, 3, true, 1, 0, 1}, // stable in the first pass: failures are
        {2, 4, true, 1, 2, 0},  {2, 3, true, 1, 7, 0}, // ... but not later
        {1, 3, true, 0, 7, 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.trap, TrapNeeded(false, c.previous, c.now, c.read, c.stable, c.pass))
            << c.previous << "->" << c.now << " read " << c.read << " stable " << c.stable << " pass " << c.pass;
}

TEST(TrapKinds, ByConditionTeamAndWorkingMembers)
{
    struct Case {
        int condition;
        bool team;
        uint32_t ok;
        int kind;
    };
    const Case cases[] = {
        {4, false, 0, 11}, {2, false, 1, 12}, {4, true, 2, 14}, {4, true, 0, 11},
        {2, true, 2, 13},  {2, true, 1, 12},  {1, true, 1, 14}, {3, false, 5, 11},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.kind, TrapKindOf(c.condition, c.team, c.ok)) << c.condition << " " << c.team << " " << c.ok;
}

} // namespace
