// Teams and VLANs: the team driver's record and LBFO's WMI rows on described hosts.
#include "miniport_test_support.h"

#include "lbfo.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace nictest;

namespace {

constexpr wchar_t kStd[] = L"ROOT\\STANDARDCIMV2";
const std::wstring kTeam = L"\\\\.\\{AAAAAAAA-0000-0000-0000-000000000001}";
const std::wstring kMember0 = L"\\\\.\\{BBBBBBBB-0000-0000-0000-000000000000}";
const std::wstring kMember2 = L"\\\\.\\{BBBBBBBB-0000-0000-0000-000000000002}";
const std::string kLbfoGuid = "{CCCCCCCC-0000-0000-0000-000000000001}";
const std::wstring kLbfoPath = L"\\\\?\\compositebus#ms_implat_mp#{CCCCCCCC-0000-0000-0000-000000000001}#x";

std::vector<uint8_t> Bytes(const void *data, size_t size)
{
    const auto *p = static_cast<const uint8_t *>(data);
    return std::vector<uint8_t>(p, p + size);
}

std::vector<uint8_t> Text(const char *text)
{
    return Bytes(text, strlen(text) + 1);
}

void SetName(TEAMMEMBERENTRY &entry, const std::wstring &name)
{
    for (size_t i = 0; i < name.size() && i < kTeamMemberNameChars; ++i)
        entry.name[i] = static_cast<uint16_t>(name[i]);
}

class TeamTest : public MiniportTestBase {
protected:
    void SetUp() override
    {
        MiniportTestBase::SetUp();
        g_NextTeamId = -1;
    }
    void TearDown() override
    {
        if (m_Wmi)
            g_NetWMIClass.WBEMUninit();
        MiniportTestBase::TearDown();
    }
    void Answer(const std::wstring &path, uint32_t oid, std::vector<uint8_t> data, uint32_t status = 0)
    {
        fixture.Host().ndis.push_back({path, kIoctlNdisQueryGlobalStats, oid, status, std::move(data)});
    }
    // A NIC of medium 802.3 with an address and a plain driver.
    void AddNic(const std::wstring &path, uint8_t last, const char *description = "Intel")
    {
        const uint32_t medium[2] = {0, 0};
        Answer(path, kOidGenMediaInUse, Bytes(medium, 8));
        Answer(path, kOidGenVendorDescription, Text(description));
        Answer(path, kOid8023CurrentAddress, {0, 1, 2, 3, 4, last});
        Answer(path, kOid8023PermanentAddress, {0, 1, 2, 3, 4, last});
        const uint32_t vlan = 0;
        Answer(path, kOidTeamVlanId, Bytes(&vlan, 4));
        Answer(path, kOidTeamVlanName, {});
    }
    HRESULT StartWmi()
    {
        m_Wmi = true;
        return g_NetWMIClass.WBEMInit();
    }
    void Row(const std::wstring &wql, std::vector<std::pair<std::wstring, NicHostWmiValue>> properties)
    {
        fixture.Host().wmiRows.push_back({kStd, wql, std::move(properties)});
    }
    CMiniport *InitInto(CMiniportList &list, const std::wstring &device, const wchar_t *path = nullptr)
    {
        MINIPORTNODE *node = CMiniportList::AllocateMiniportNode();
        if (node->object->Init(path, device.c_str(), (device.size() + 1) * sizeof(wchar_t), &list) != 0) {
            DeleteListNode(node);
            return nullptr;
        }
        list.Append(node);
        return node->object;
    }

    bool m_Wmi = false;
};

TEST_F(TeamTest, TeamDriverRegistersItsMembersWithTheirPlaceInTheTeam)
{
    TEAMDATA team;
    std::memset(&team, 0, sizeof(team));
    team.memberCount = 3;
    SetName(team.members[0], kMember0);
    SetName(team.members[2], kMember2);
    team.members[2].primary = 1;
    AddNic(kTeam, 0x10, "Network Teaming Intermediate Driver (NTID)");
    Answer(kTeam, kOidTeamRecord, Bytes(&team, sizeof(team)));
    AddNic(kMember0, 0x20);
    AddNic(kMember2, 0x22);

    CMiniportList list;
    CMiniport *teamPort = InitInto(list, kTeam);
    ASSERT_NE(nullptr, teamPort);
    EXPECT_EQ(3u, list.GetCount());
    EXPECT_EQ(2u, teamPort->GetFlags());
    EXPECT_EQ(0, teamPort->GetTeamId());
    EXPECT_EQ(2, teamPort->GetTeamPrimaryIndex());
    struct Case {
        const std::wstring *name;
        int index;
    };
    const Case cases[] = {{&kMember0, 0}, {&kMember2, 2}};
    for (const Case &c : cases) {
        CMiniport *member = list.FindMiniportByName(c.name->c_str() + 4);
        ASSERT_NE(nullptr, member);
        EXPECT_EQ(1u, member->GetFlags());
        EXPECT_EQ(0, member->GetTeamId());
        EXPECT_EQ(3, member->GetTeamMemberCount());
        EXPECT_EQ(c.index, member->GetTeamMemberIndex());
        EXPECT_EQ(2, member->GetTeamPrimaryIndex());
        EXPECT_STREQ(kTeam.c_str(), member->GetTeamDeviceName());
    }

    // The member's status comes from the team device, with the member index going in.
    const uint32_t status[2] = {2, 1};
    fixture.Host().ndis.push_back({kTeam, kIoctlNdisQueryGlobalStats, kOidTeamMemberStatus, 0, Bytes(status, 8)});
    EXPECT_EQ(1, list.FindMiniportByName(kMember2.c_str() + 4)->GetTeamMemberStatus());
    EXPECT_EQ(-1, teamPort->GetTeamMemberStatus()); // a team interface has no team device
}

TEST_F(TeamTest, MemberNamesThatAreNoDeviceGuidAreNotRegistered)
{
    TEAMDATA team;
    std::memset(&team, 0, sizeof(team));
    team.memberCount = 2;
    SetName(team.members[0], L"NTIDMEMBER");
    SetName(team.members[1], kMember0);
    AddNic(kTeam, 0x10, "Network Teaming Intermediate Driver (NTID)");
    Answer(kTeam, kOidTeamRecord, Bytes(&team, sizeof(team)));
    AddNic(kMember0, 0x20);
    CMiniportList list;
    ASSERT_NE(nullptr, InitInto(list, kTeam));
    EXPECT_EQ(1u, list.GetCount()); // the walk stops at the name it cannot use
}

TEST_F(TeamTest, TeamIdMismatchStopsTheRecord)
{
    const std::wstring member3 = L"\\\\.\\{BBBBBBBB-0000-0000-0000-000000000003}";
    TEAMDATA first;
    std::memset(&first, 0, sizeof(first));
    first.memberCount = 1;
    SetName(first.members[0], kMember0);
    TEAMDATA second;
    std::memset(&second, 0, sizeof(second));
    second.memberCount = 3;
    SetName(second.members[0], kMember2);
    SetName(second.members[1], kMember0); // already in team 0
    SetName(second.members[2], member3);
    const std::wstring otherTeam = L"\\\\.\\{AAAAAAAA-0000-0000-0000-000000000002}";
    AddNic(kTeam, 0x10, "Network Teaming Intermediate Driver (NTID)");
    Answer(kTeam, kOidTeamRecord, Bytes(&first, sizeof(first)));
    AddNic(otherTeam, 0x11, "Network Teaming Intermediate Driver (NTID)");
    Answer(otherTeam, kOidTeamRecord, Bytes(&second, sizeof(second)));
    AddNic(kMember0, 0x20);
    AddNic(kMember2, 0x22);
    AddNic(member3, 0x23);
    CMiniportList list;
    ASSERT_NE(nullptr, InitInto(list, kTeam));
    CMiniport *other = InitInto(list, otherTeam);
    ASSERT_NE(nullptr, other);
    EXPECT_EQ(1, other->GetTeamId());
    EXPECT_EQ(1, list.FindMiniportByName(kMember2.c_str() + 4)->GetTeamId());
    EXPECT_EQ(0, list.FindMiniportByName(kMember0.c_str() + 4)->GetTeamId());
    EXPECT_EQ(nullptr, list.FindMiniportByName(member3.c_str() + 4)); // the rest was skipped
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CMiniport::AddTeamMemberToMPList"), L"TeamID mismatch: 0x10000"));
}

TEST_F(TeamTest, DescriptionsAndVlanNames)
{
    struct Case {
        std::vector<uint8_t> description;
        uint32_t descriptionStatus;
        size_t vlanNameBytes;
        uint32_t flags;
        const wchar_t *vlanName; // null: none
    };
    const Case cases[] = {
        {{}, 0, 8, 0, L"vvvv"},                            // an empty answer matches nothing
        {Text("Intel"), 0, 512, 0, nullptr},             // full 512 bytes: cut at 256 characters
        {Text("Intel"), 50, 8, 0, nullptr},              // failed description: no VLAN name
    };
    for (const Case &c : cases) {
        NicFixture local;
        const uint32_t medium[2] = {0, 0};
        local.Host().ndis.push_back({kMember0, kIoctlNdisQueryGlobalStats, kOidGenMediaInUse, 0, Bytes(medium, 8)});
        local.Host().ndis.push_back(
            {kMember0, kIoctlNdisQueryGlobalStats, kOidGenVendorDescription, c.descriptionStatus, c.description});
        std::vector<uint8_t> name(c.vlanNameBytes, 0);
        for (size_t i = 0; i + 1 < name.size(); i += 2)
            name[i] = 'v';
        local.Host().ndis.push_back({kMember0, kIoctlNdisQueryGlobalStats, kOidTeamVlanName, 0, name});
        local.Install();
        CMiniportList list;
        CMiniport *port = InitInto(list, kMember0);
        ASSERT_NE(nullptr, port);
        EXPECT_EQ(c.flags, port->GetFlags());
        if (c.vlanNameBytes == 512) {
            ASSERT_NE(nullptr, port->GetVlanName());
            EXPECT_EQ(256u, wcslen(port->GetVlanName()));
        } else if (c.vlanName == nullptr) {
            EXPECT_EQ(nullptr, port->GetVlanName());
        } else {
            EXPECT_STREQ(c.vlanName, port->GetVlanName());
        }
        fixture.Install();
    }
}

TEST_F(TeamTest, WindowsDriverWithoutWmiIsATeamInterfaceOfNoTeam)
{
    // As under Wine: ROOT\STANDARDCIMV2 does not exist, so every LBFO question finds nothing.
    EXPECT_EQ(static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE), StartWmi());
    AddNic(kTeam, 0x10, "Microsoft");
    CMiniportList list;
    CMiniport *port = InitInto(list, kTeam, kLbfoPath.c_str());
    ASSERT_NE(nullptr, port);
    EXPECT_EQ(2u, port->GetFlags());
    EXPECT_EQ(0, port->GetTeamMemberCount());
    EXPECT_EQ(-1, port->GetVlanId());
    EXPECT_STREQ(L"empty", port->GetVlanName());
    EXPECT_EQ(1u, list.GetCount());
    TEAMDATA team;
    EXPECT_EQ(kTeamNotFound, getTeamData(kLbfoGuid.c_str(), &team, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, getTeamType(kLbfoGuid.c_str(), nullptr, nullptr, 0));
    EXPECT_EQ(-1, getMemberRole(kLbfoGuid.c_str()));
}

TEST_F(TeamTest, LbfoTeamFromWmiRows)
{
    const std::wstring guid(kLbfoGuid.begin(), kLbfoGuid.end());
    const std::wstring name = L"Team \"A\"" + std::wstring(200, L'n'); // a quote, and longer than 100 bytes
    std::wstring escaped;
    for (wchar_t c : name) {
        if (c == L'"' || c == L'\\')
            escaped.push_back(L'\\');
        escaped.push_back(c);
    }
    Row(L"SELECT * FROM MSFT_NetLbfoTeamNic WHERE InstanceID = \"" + guid + L"\"",
        {{L"Primary", WmiBool(true)}, {L"VlanID", WmiUInt32(0)}, {L"Team", WmiString(name)}, {L"Name", WmiString(L"Team A")}});
    Row(L"SELECT * FROM MSFT_NetLbfoTeam WHERE Name = \"" + escaped + L"\"",
        {{L"Status", WmiUInt32(0)}, {L"LoadBalancingAlgorithm", WmiUInt32(4)}, {L"TeamingMode", WmiUInt32(0)}});
    const std::wstring members = L"SELECT * FROM MSFT_NetLbfoTeamMember WHERE Team = \"" + escaped + L"\"";
    Row(members, {{L"InstanceID", WmiString(L"{BBBBBBBB-0000-0000-0000-000000000000}")}, {L"OperationalMode", WmiUInt32(0)},
                  {L"AdministrativeMode", WmiUInt32(0)}});
    Row(members, {{L"InstanceID", WmiString(L"{DDDDDDDD-0000-0000-0000-000000000000}")}, {L"FailureReason", WmiUInt32(6)}});
    Row(members, {{L"InstanceID", WmiString(L"{BBBBBBBB-0000-0000-0000-000000000002}")}, {L"OperationalMode", WmiUInt32(2)},
                  {L"FailureReason", WmiUInt32(4)}, {L"AdministrativeMode", WmiUInt32(1)}});
    ASSERT_EQ(S_OK, StartWmi());

    const uint64_t start = fixture.Ticks();
    TEAMDATA team;
    std::memset(&team, 0, sizeof(team));
    uint32_t type = 0, balancing = 0, vlan = 0;
    wchar_t interfaceName[256] = {};
    ASSERT_EQ(0, getTeamData(kLbfoGuid.c_str(), &team, &type, &balancing, &vlan, interfaceName, nullptr, nullptr));
    EXPECT_EQ(3 * kLbfoQueryWaitMs, fixture.Ticks() - start);
    EXPECT_EQ(2u, team.memberCount); // FailureReason 6 left out
    EXPECT_EQ(2u, team.activeCount); // state 3 with AdministrativeMode read, whatever its value
    EXPECT_EQ(2u, team.status);
    EXPECT_EQ(18u, type);
    EXPECT_EQ(4u, balancing);
    EXPECT_EQ(0xFFFEu, vlan);
    EXPECT_STREQ(L"Team A", interfaceName);
    EXPECT_EQ(L"\\\\.\\{bbbbbbbb-0000-0000-0000-000000000000}", TeamMemberName(team.members[0]));
    EXPECT_EQ(3u, team.members[1].state); // reason 4 counts as operational
    EXPECT_EQ(0, team.members[1].primary);
    EXPECT_EQ(1u, g_LbfoTeamFound);
    EXPECT_EQ(0xFFFE, getTeamVlanId(kLbfoGuid.c_str()));

    // The team name into a caller's 100 bytes: cut and terminated.
    char small[100];
    std::memset(small, 'X', sizeof(small));
    EXPECT_EQ(18u, getTeamType(kLbfoGuid.c_str(), nullptr, small, sizeof(small)));
    EXPECT_EQ(99u, strlen(small));
    EXPECT_EQ(0, strncmp(small, "Team \"A\"", 8));

    // The team interface's miniport registers both members.
    AddNic(L"\\\\.\\" + guid, 0x30, "Microsoft");
    AddNic(kMember0, 0x20);
    AddNic(kMember2, 0x22);
    CMiniportList list;
    CMiniport *port = InitInto(list, L"\\\\.\\" + guid, kLbfoPath.c_str());
    ASSERT_NE(nullptr, port);
    EXPECT_EQ(3u, list.GetCount());
    EXPECT_EQ(0xFFFE, port->GetVlanId());
    EXPECT_EQ(0, port->GetTeamPrimaryIndex()); // the administratively active member
}

TEST_F(TeamTest, LbfoParentGuidAndMemberRole)
{
    const std::wstring team = L"{CCCCCCCC-0000-0000-0000-000000000002}";
    Row(L"SELECT * FROM MSFT_NetLbfoTeamNic WHERE InstanceID = \"" + team + L"\"",
        {{L"Primary", WmiBool(false)}, {L"Team", WmiString(L"T2")}, {L"Name", WmiString(L"T2 - VLAN 5")}, {L"VlanID", WmiUInt32(5)}});
    const std::wstring members = L"SELECT * FROM MSFT_NetLbfoTeamMember WHERE Team = \"T2\"";
    Row(members, {{L"InstanceID", WmiString(L"{eeeeeeee-0000-0000-0000-000000000000}")}, {L"OperationalMode", WmiUInt32(0)}});
    Row(members, {{L"InstanceID", WmiString(L"{eeeeeeee-0000-0000-0000-000000000002}")}, {L"OperationalMode", WmiUInt32(1)}});
    Row(L"SELECT * FROM MSFT_NetLbfoTeamNic WHERE Team = \"T2\" AND Primary = True",
        {{L"InstanceID", WmiString(L"{INST-9}")}});
    Row(L"SELECT * FROM MSFT_NetLbfoTeamMember WHERE InstanceID = \"{eeeeeeee-0000-0000-0000-000000000002}\"",
        {{L"AdministrativeMode", WmiUInt32(1)}, {L"OperationalMode", WmiUInt32(4096)}});
    NicHostDevice device;
    device.id = L"COMPOSITEBUS\\MS_IMPLAT_MP\\9";
    device.lanInterfaces = {L"\\\\?\\compositebus#ms_implat_mp#{inst-9}#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\"
                            L"{00000007-0000-0000-0000-00000000000a}"};
    fixture.Host().devices.push_back(device);
    ASSERT_EQ(S_OK, StartWmi());

    const std::string guid(team.begin(), team.end());
    TEAMDATA record;
    uint32_t vlan = 0;
    wchar_t parent[40] = {};
    const uint64_t start = fixture.Ticks();
    ASSERT_EQ(0, getTeamData(guid.c_str(), &record, nullptr, nullptr, &vlan, nullptr, parent, L"{PRIMARY}"));
    EXPECT_EQ(4 * kLbfoQueryWaitMs, fixture.Ticks() - start); // the parent lookup is the fourth query
    EXPECT_EQ(5u, vlan);
    EXPECT_STREQ(L"{00000007-0000-0000-0000-00000000000A}", parent); // upper-cased
    EXPECT_EQ(L"{EEEEEEEE-0000-0000-0000-000000000000}", TeamMemberName(record.members[0]));

    EXPECT_EQ(4096, getMemberRole("{eeeeeeee-0000-0000-0000-000000000002}"));
    EXPECT_EQ(-1, getMemberRole("{eeeeeeee-0000-0000-0000-000000000009}"));
    // A GUID that would not fit the member query's 128 bytes is not asked about.
    EXPECT_EQ(-1, getMemberRole(std::string(100, 'x').c_str()));
}

} // namespace
