// Team interfaces of the team driver through the adapter model: team type and operating mode,
// team status, members, their roles and counters, and the redundancy events of a member.
#include "model_test_support.h"

#include <memory>

using namespace modeltest;

namespace {

const std::wstring kTeamGuid = L"{AAAAAAAA-0000-0000-0000-000000000001}";
const std::wstring kTeam = L"\\\\.\\" + kTeamGuid;
const std::wstring kMember0 = L"\\\\.\\{BBBBBBBB-0000-0000-0000-000000000000}";
const std::wstring kMember1 = L"\\\\.\\{BBBBBBBB-0000-0000-0000-000000000001}";
const std::vector<uint8_t> kTeamMac = {0x00, 0x1B, 0x21, 0x00, 0x00, 0x10};
const uint8_t kTeamDataMac[6] = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
constexpr uint32_t kOidLinkSpeed = 0x00010107;
constexpr uint32_t kOidOperatingMode = 0xFF023321;
constexpr uint32_t kOidTeamType = 0xFF0102B2;
constexpr uint32_t kOidTeamFlags = 0xFF0102B0;
constexpr uint32_t kOid8023adMode = 0xFF01021D;
constexpr uint32_t kIfIndex = 20;

void SetName(TEAMMEMBERENTRY &entry, const std::wstring &name)
{
    for (size_t i = 0; i < name.size() && i < kTeamMemberNameChars; ++i)
        entry.name[i] = static_cast<uint16_t>(name[i]);
}

class TeamAdapterTest : public ModelTest {
protected:
    TEAMDATA Team(uint32_t members, uint32_t active, uint32_t status)
    {
        TEAMDATA team;
        std::memset(&team, 0, sizeof(team));
        team.memberCount = members;
        team.activeCount = active;
        team.status = status;
        team.spareWord = 0x77;
        std::memcpy(team.spareBytes, kTeamDataMac, 6);
        SetName(team.members[0], kMember0);
        if (members > 1)
            SetName(team.members[1], kMember1);
        team.members[members > 1 ? 1 : 0].primary = 1;
        return team;
    }
    void SetTeam(const TEAMDATA &team) { Change(kTeam, kOidTeamRecord, Bytes(&team, sizeof(team))); }

    // The team driver's interface over two NICs; the team answers the given team type, or none.
    void Build(int64_t teamType, uint32_t vlanId = 0, uint32_t members = 2)
    {
        Driver(kTeam, kTeamMac, "Network Teaming Intermediate Driver (NTID)");
        Change(kTeam, kOidTeamVlanId, Word(vlanId));
        Change(kTeam, kOidTeamVlanName, Bytes(L"Blue", 10));
        SetTeam(Team(members, members, 2));
        Answer(kTeam, kOidLinkSpeed, Word(10000000, 8)); // 1 Gbit/s in units of 100 bit/s
        if (teamType >= 0)
            Answer(kTeam, kOidTeamType, Word(static_cast<uint32_t>(teamType)));
        Driver(kMember0, {0x00, 0x1B, 0x21, 0x00, 0x00, 0x20}, "Intel", true, 0);
        Driver(kMember1, {0x00, 0x1B, 0x21, 0x00, 0x00, 0x21}, "Intel", true, 100);
        ASSERT_NE(nullptr, InitInto(List(), kTeam));
        ASSERT_EQ(members + 1, List().GetCount());

        MIB_IFROW row = Row(kIfIndex, 6, kTeamMac, "Team #0", 1000000000,
                            L"\\DEVICE\\TCPIP_{aaaaaaaa-0000-0000-0000-000000000001}");
        struct {
            DWORD entries;
            MIB_IPADDRROW row;
        } addresses = {1, {}};
        addresses.row.dwIndex = kIfIndex;
        addresses.row.dwAddr = 0x0100A8C0;
        ASSERT_EQ(0u, Adapter().Init(&row, &trap, &List(), reinterpret_cast<MIB_IPADDRTABLE *>(&addresses)));
        ASSERT_EQ(0, Adapter().GetTeamId());
        ASSERT_EQ(1, Adapter().SetMiniport(List().FindMiniportByName(kTeamGuid.c_str())));
        Adapter().SetLogicalIndex(1);
        ASSERT_EQ(0u, Adapter().CreatePhysicalAdapterList(&List()));
    }
    void Pass(uint32_t pass)
    {
        g_UpdatePass = pass;
        Adapter().Update(0);
    }
    CPhysicalAdapter *Member(int i)
    {
        PHYSADAPTERNODE *node = Adapter().GetMemberList();
        for (; node != nullptr && i > 0; --i)
            node = node->next;
        return node != nullptr ? node->object : nullptr;
    }

    // A new host and model for the next case of a table.
    void Reset()
    {
        fixture.Host().ndis.clear();
        fixture.Host().interfaces.clear();
        m_Adapter = std::make_unique<CLogicalAdapter>();
        m_List = std::make_unique<CMiniportList>();
        g_NextTeamId = -1;
        ResetPhysicalAdapterIndex();
    }

    std::unique_ptr<CMiniportList> m_List = std::make_unique<CMiniportList>();
    std::unique_ptr<CLogicalAdapter> m_Adapter = std::make_unique<CLogicalAdapter>();
    CMiniportList &List() { return *m_List; }
    CLogicalAdapter &Adapter() { return *m_Adapter; }
};

TEST_F(TeamAdapterTest, NetworkFaultToleranceTeamOfTwo)
{
    Build(11);
    EXPECT_EQ(4, Adapter().GetKind());
    EXPECT_EQ(2, Adapter().GetMemberCount());
    ASSERT_NE(nullptr, Member(1));
    EXPECT_EQ(nullptr, Member(2));
    Pass(1);

    INTERFACEMAPRECORD map;
    ASSERT_TRUE(ReadRecord(kNicLogInterfaceMapKey, L"InterfaceMap001", &map));
    EXPECT_EQ("Network Fault Tolerance Only", RecordText(map.Description));
    EXPECT_EQ(4, map.Kind);
    EXPECT_EQ(4, map.TeamMode);
    EXPECT_EQ(2, map.Condition);
    EXPECT_EQ(2, map.Status);
    EXPECT_EQ(2, map.OkMemberCount);
    EXPECT_EQ(0x77u, map.TeamWord);
    EXPECT_EQ(0u, map.TeamFlags); // the option queries are not answered
    EXPECT_EQ(1000u, map.SpeedMbps);
    EXPECT_EQ(500u, map.LastChange);
    EXPECT_EQ(0, std::memcmp(kTeamDataMac, map.MacAddress, 6));
    EXPECT_EQ(1, map.MemberIndexes[0]);
    EXPECT_EQ(2, map.MemberIndexes[1]);

    // Member 1 is the primary; neither is the team of a switch-assisted kind.
    PHYSADAPTERRECORD first;
    PHYSADAPTERRECORD second;
    ASSERT_TRUE(ReadRecord(kNicPhysInterfaceKey, L"PhysAdapter001", &first));
    ASSERT_TRUE(ReadRecord(kNicPhysInterfaceKey, L"PhysAdapter002", &second));
    EXPECT_EQ(3, first.Role);
    EXPECT_EQ(2, second.Role);
    EXPECT_EQ(kIfIndex, first.IfIndex);
    EXPECT_EQ(kIfIndex, second.IfIndex);

    ETHERNETSTATSRECORD stats;
    ASSERT_TRUE(ReadRecord(kNicEthernetStatisticsKey, L"Statistics014", &stats));
    EXPECT_EQ(kIfIndex, stats.IfIndex);
    EXPECT_EQ(2u + 102, stats.AlignmentErrors);
    EXPECT_EQ(11u + 111, stats.InternalMacReceiveErrors);
    EXPECT_EQ(0u, stats.SQETestErrors);

    // A member fails while the other works: one redundancy-reduced record; the team is degraded.
    SetLink(kMember1, false);
    SetTeam(Team(2, 1, 6));
    Pass(2);
    EXPECT_EQ(3, Adapter().GetCondition());
    EXPECT_EQ(7, Adapter().GetInterfaceMap().Status);
    const std::wstring reduced = TrapKey(L"Trap_RedundancyReduced");
    const std::vector<std::wstring> names = ValueNames(reduced.c_str());
    ASSERT_EQ(1u, names.size());
    TRAPRECORD record;
    ASSERT_TRUE(ReadRecord(reduced.c_str(), names[0], &record));
    EXPECT_EQ(kNicTrapRedundancyReduced, record.Kind);
    EXPECT_EQ(1, record.LogicalIndex);
    EXPECT_EQ(1, record.TeamOkCount);
    EXPECT_EQ(1, record.OkMemberCount);
    EXPECT_EQ(2, record.PhysicalIndex);
    EXPECT_EQ(0, std::memcmp(kTeamDataMac, record.MacAddress, 6));
    for (const wchar_t *key : {L"Trap_ConnectivityLost", L"Trap_ConnectivityRegained", L"Trap_RedundancyIncreased"})
        EXPECT_TRUE(ValueNames(TrapKey(key).c_str()).empty()) << key;

    // The same again: nothing new. Three members working with status 6: the status stays 6.
    Pass(3);
    EXPECT_EQ(1u, ValueNames(reduced.c_str()).size());
    SetTeam(Team(2, 3, 6));
    Pass(4);
    EXPECT_EQ(6, Adapter().GetInterfaceMap().Status);
    EXPECT_EQ(3, Adapter().GetCondition());

    // The member comes back while the other works: redundancy increased.
    SetLink(kMember1, true);
    SetTeam(Team(2, 2, 2));
    Pass(5);
    EXPECT_EQ(1u, ValueNames(TrapKey(L"Trap_RedundancyIncreased").c_str()).size());
}

TEST_F(TeamAdapterTest, OperatingModesWhenTheTeamTypeIsNotAnswered)
{
    struct Case {
        uint32_t mode;
        bool flagsAnswered;
        uint64_t flags;
        bool modeAnswered;
        uint64_t modeAnswer;
        uint8_t kind;
        uint8_t teamMode;
        uint32_t teamFlags;
        const char *text;
        uint8_t role0;
    };
    const Case cases[] = {
        {5, true, 0x30, false, 0, 9, 4, 4, "QZ Switch-assisted Dual Channel Load Balancing Team", 4},
        {0x10ADBA1, false, 0, true, 5, 5, 3, 0, "Team", 3},
        {0x10ADBA1, true, 20, false, 0, 5, 1, 8, "QZ 802.3ad Dynamic Dual Channel Team", 3},
        {1, false, 1, false, 0, 4, 4, 0, "QZ Network Fault Tolerant Team", 3},
        {9, true, 1, false, 0, 14, 1, 0, "Team", 3},
    };
    for (const Case &c : cases) {
        Reset();
        Build(-1);
        uint8_t mode[16] = {};
        std::memcpy(mode, &c.mode, 4);
        Answer(kTeam, kOidOperatingMode, Bytes(mode, 16));
        if (c.flagsAnswered)
            Answer(kTeam, kOidTeamFlags, Bytes(&c.flags, 8));
        if (c.modeAnswered)
            Answer(kTeam, kOid8023adMode, Bytes(&c.modeAnswer, 8));
        Pass(1);
        const INTERFACEMAPRECORD &map = Adapter().GetInterfaceMap();
        EXPECT_EQ(c.kind, map.Kind) << c.mode;
        EXPECT_EQ(c.teamMode, map.TeamMode) << c.mode;
        EXPECT_EQ(c.teamFlags, map.TeamFlags) << c.mode;
        EXPECT_EQ(c.text, RecordText(map.Description)) << c.mode;
        EXPECT_EQ(c.role0, Member(0)->GetRecord().Role) << c.mode;
    }
}

TEST_F(TeamAdapterTest, TeamTypesFromTheDriver)
{
    struct Case {
        int64_t type;
        uint8_t kind;
        uint8_t teamMode;
        const char *text;
    };
    const Case cases[] = {
        {0, 4, 1, "Unknown"}, // kind and mode as Init left them
        {3, 9, 6, "802.3ad Dynamic Dual Channel Load Balancing"},
        {19, 13, 6, "LACP Team"},
        {20, 14, 1, "Team"}, // out of the table: the operating mode decides (none answered)
    };
    for (const Case &c : cases) {
        Reset();
        Build(c.type);
        Pass(1);
        EXPECT_EQ(c.kind, Adapter().GetKind()) << c.type;
        EXPECT_EQ(c.teamMode, Adapter().GetInterfaceMap().TeamMode) << c.type;
        EXPECT_EQ(c.text, RecordText(Adapter().GetInterfaceMap().Description)) << c.type;
    }
}

TEST_F(TeamAdapterTest, TeamDriverVlanKeepsItsOwnTextAndMacAfterAnLbfoTeamWasSeen)
{
    g_LbfoTeamFound = 1; // some other interface was an LBFO team
    Build(11, 12, 1);
    Adapter().GetVlanMap().VlanIndex = 1;
    Pass(1);
    EXPECT_EQ("QZ VLAN interface(s)", RecordText(Adapter().GetInterfaceMap().Description));
    EXPECT_EQ(0, std::memcmp(kTeamDataMac, Adapter().GetInterfaceMap().MacAddress, 6));
    EXPECT_EQ(0u, fixture.NdisQueries(kTeam, kIoctlNdisQueryGlobalStats, 0x00010205));
    EXPECT_EQ(2, Adapter().GetInterfaceMap().TeamMode); // one member
    VLANMAPRECORD vlan;
    ASSERT_TRUE(ReadRecord(kNicVlanInterfaceKey, L"VlanMap001", &vlan));
    EXPECT_EQ(12, vlan.VlanId);
    EXPECT_EQ("Blue", RecordText(vlan.VlanName));
    // The member keeps the team driver's role rule.
    EXPECT_EQ(2, Member(0)->GetRecord().Role);
}

} // namespace
