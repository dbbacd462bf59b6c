// The NIC group's physical adapter, logical interface and VLAN tables: golden rows from the
// library's records and the collector's adapters.
#include "host_test_support.h"
#include "nic_test_support.h"

#include "datastore.h"
#include "enterprise_arc.h"
#include "store_writers.h"
#include "wmi.h"
#include "wmi_fakes.h"

#include <gtest/gtest.h>

using namespace hosttest;
using namespace nictest;

namespace {

// root\wmi with the duplex class of the test's own.
class DuplexWmi : public CWMIConnection {
public:
    DuplexWmi() : CWMIConnection(nullptr) {}
    std::vector<ComPtr<IWbemClassObject>> duplex;
    CWMIEnumerator ExecQuery(const wchar_t *) override { return CWMIEnumerator(new FakeEnumerator(duplex)); }
    CWMIEnumerator CreateInstanceEnum(const wchar_t *) override { return CWMIEnumerator(); }
};

ComPtr<IWbemClassObject> DuplexInstance(const wchar_t *name, const wchar_t *status)
{
    auto *object = new FakeClassObject();
    object->SetString(L"InstanceName", name);
    object->SetString(L"DuplexStatus", status);
    return ComPtr<IWbemClassObject>(object);
}

class NicTablesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitDataStores();
        ResetNicTest(&devices);
        SetReady(1);
        records().physResult = records().logResult = records().vlanResult = 0;
    }
    void TearDown() override
    {
        s_NicDevNodes = nullptr;
        s_WMIRootWmi.reset();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNicRootKey);
        delete staging;
        TermDataStores();
    }
    NIC_COLLECTION_RECORDS &records() { return s_ZDTNICDataCollector.Records(); }
    DATASTORE *Report()
    {
        delete staging;
        staging = new DATASTORE(false);
        s_ZDTNICDataCollector.Report_zdtNicIfPhysAdapter(staging);
        s_ZDTNICDataCollector.Report_zdtNicIfLogMap(staging);
        s_ZDTNICDataCollector.Report_zdtNicIfVLanMap(staging);
        return staging;
    }
    void Interfaces(std::vector<MIB_IF_ROW2> rows)
    {
        s_If.rows = std::move(rows);
        s_If.addresses.clear();
        for (const MIB_IF_ROW2 &row : s_If.rows)
            s_If.addresses.push_back({row.InterfaceIndex, "{" + std::to_string(row.InterfaceIndex) + "}"});
        s_ZDTNICDataCollector.UpdateAllData();
    }
    std::optional<int32_t> Int(std::initializer_list<uint32_t> below) { return IntAt(staging, EnterpriseOid(below)); }
    std::optional<std::string> Text(std::initializer_list<uint32_t> below) { return TextAt(staging, EnterpriseOid(below)); }
    uint32_t Number(std::initializer_list<uint32_t> below)
    {
        uint32_t found = 0xFFFFFFFFu;
        const MIBOID oid = EnterpriseOid(below);
        staging->Walk(oid, s_NoEndOid, false, [&](const MIBOID &at, const MIBVALUE_REF &value) {
            if (at == oid)
                found = value.U32();
            return false;
        });
        return found;
    }
    std::optional<std::string> RegText(const char *name)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNicInterfaceKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return std::nullopt;
        char text[300] = {};
        DWORD size = 299;
        const bool read = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(text), &size) == 0;
        RegCloseKey(key);
        if (!read)
            return std::nullopt;
        return std::string(text);
    }

    FakeDevNodes devices;
    DATASTORE *staging = nullptr;
};

TEST_F(NicTablesTest, PhysicalRowsSkipDscAndAddPortsTheLibraryDoesNotKnow)
{
    PHYSADAPTERRECORD a = Phys(1, "NIC A", 2, 1), dsc = Phys(2, "DSC Management 1", 2, 2), b = Phys(3, "NIC B", 4, 3),
                      nameless = Phys(4, "", 2, 4);
    a.SpeedMbps = 10000;
    b.SpeedMbps = 1000;
    b.Duplex = 0;
    records().phys = {a, dsc, b, nameless};
    WriteBridge({{"nic b", "LAN B"}}, "Network Bridge", "Bridge");
    GetBridgingInfo(&records().bridges);
    auto wmi = std::make_unique<DuplexWmi>();
    wmi->duplex = {DuplexInstance(L"NIC B", L"3"), DuplexInstance(L"NIC A", L"5")};
    s_WMIRootWmi = std::move(wmi);
    // Port C is the test's own Ethernet port that the library does not report.
    Interfaces({Row(7, kIfTypeEthernet, kUp, true, kConnected, L"Port C", L"LAN C", 9)});
    Report();

    EXPECT_EQ("NIC A", TextAt(staging, EnterpriseOid({18, 2, 3, 1, 1, 39, 1})));
    EXPECT_EQ("NIC B", TextAt(staging, EnterpriseOid({18, 2, 3, 1, 1, 39, 2})));
    EXPECT_EQ("Port C", TextAt(staging, EnterpriseOid({18, 2, 3, 1, 1, 39, 3})));
    EXPECT_FALSE(TextAt(staging, EnterpriseOid({18, 2, 3, 1, 1, 39, 4}))) << "DSC and nameless records have no row";
    struct {
        uint32_t column, row;
        uint32_t value;
    } numbers[] = {
        {1, 3, 3},           {3, 1, 0},   {3, 2, 1},   {3, 3, 255},   // role: bridge member 1, own row 255
        {12, 3, 1},          {13, 3, 1},  {14, 3, 1},  {15, 3, 2},    // own row: condition, status
        {11, 2, 3},          {11, 1, 3},                             // duplex: WMI "3" for NIC B; A keeps 3
        {33, 1, 0},          {36, 1, 10000}, {33, 2, 1000000000u}, {36, 2, 1000},
        {8, 3, 0xFFFFFFFFu}, {34, 3, 2},  {35, 3, 0xFFFFFFFFu}, {40, 1, 0xFFFFFFFFu},
    };
    for (const auto &n : numbers)
        EXPECT_EQ(n.value, Number({18, 2, 3, 1, 1, n.column, n.row})) << "column " << n.column << " row " << n.row;
    EXPECT_EQ(std::string(4, '\0'), TextAt(staging, EnterpriseOid({18, 2, 3, 1, 1, 2, 3})));
    EXPECT_EQ("N/A", TextAt(staging, EnterpriseOid({18, 2, 3, 1, 1, 32, 3})));
    EXPECT_EQ("N/A", TextAt(staging, EnterpriseOid({18, 2, 3, 1, 1, 41, 3})));
    EXPECT_EQ(std::string("\x02\xfc\0\0\0\x09", 6), TextAt(staging, EnterpriseOid({18, 2, 3, 1, 1, 4, 3})));
    ASSERT_EQ(3u, s_PhysAdapterIndexMap.size());
    EXPECT_EQ("NIC B", s_PhysAdapterIndexMap[1].AdapterName);
    EXPECT_EQ(2, s_PhysAdapterIndexMap[1].RowIndex);
}

TEST_F(NicTablesTest, DuplexFromWmiOnlyWhenStrictlyANumberOfTheScale)
{
    struct {
        const wchar_t *status;
        uint32_t duplex;
    } cases[] = {{L"3", 3}, {L"2", 2}, {L"5", 1}, {L"3 ", 1}, {L"x", 1}, {L"", 1}};
    for (const auto &c : cases) {
        PHYSADAPTERRECORD a = Phys(1, "NIC A", 2, 1);
        a.Duplex = 1;
        records().phys = {a};
        auto wmi = std::make_unique<DuplexWmi>();
        wmi->duplex = {DuplexInstance(L"nic a", c.status)};
        s_WMIRootWmi = std::move(wmi);
        Report();
        EXPECT_EQ(c.duplex, Number({18, 2, 3, 1, 1, 11, 1})) << static_cast<const void *>(c.status);
    }
}

// A bridge of two ports, in either record order, with one or no member connected.
TEST_F(NicTablesTest, BridgeRowFromItsMembers)
{
    struct {
        const char *what;
        int memberAMedia, memberBMedia;
        bool reversed;
        uint32_t ok, condition, status, speed;
        const char *ipv6;
        bool failedBridge;
    } cases[] = {
        {"one connected", kConnected, kDisconnected, false, 1, 2, 2, 10000, "fe80::1", false},
        {"none connected", kDisconnected, kDisconnected, false, 0, 4, 5, 0, "N/A", true},
        {"none connected, records reversed", kDisconnected, kDisconnected, true, 0, 4, 5, 0, "N/A", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        records().phys = {Phys(5, "NIC A", 2, 1), Phys(6, "NIC B", 4, 2)};
        INTERFACEMAPRECORD bridge = Logical(1, "Network Bridge", "Bridge", 2, 2);
        Put(bridge.IPv6Address, "fe80::1");
        records().logical = {Logical(2, "NIC A", "LAN A", 2, 2), Logical(3, "NIC B", "LAN B", 2, 4), bridge};
        if (c.reversed)
            std::reverse(records().logical.begin(), records().logical.end());
        WriteBridge({{"NIC A", "LAN A"}, {"NIC B", "LAN B"}}, "Network Bridge", "Bridge");
        GetBridgingInfo(&records().bridges);
        Interfaces({Row(3, kIfTypeEthernet, kUp, true, c.memberAMedia, L"NIC A", L"LAN A", 1, 10000000000ull),
                    Row(4, kIfTypeEthernet, kUp, true, c.memberBMedia, L"NIC B", L"LAN B", 2, 1000000000ull)});
        // Last collection's failed bridge is forgotten first.
        HKEY key = CreateKey(kNicInterfaceKey);
        RegSetValueExA(key, "BridgeName", 0, REG_SZ, reinterpret_cast<const BYTE *>("old"), 4);
        RegCloseKey(key);
        Report();
        // Members have no row of their own: the bridge is row 1, and nothing is at row 2.
        EXPECT_EQ("Network Bridge", Text({18, 2, 2, 1, 1, 3, 1}));
        EXPECT_FALSE(Text({18, 2, 2, 1, 1, 3, 2}));
        EXPECT_EQ(2, Int({18, 2, 2, 1, 1, 5, 1}));
        EXPECT_EQ(static_cast<int>(c.ok), Int({18, 2, 2, 1, 1, 6, 1}));
        EXPECT_EQ(std::string("\x01\x02", 2), Text({18, 2, 2, 1, 1, 7, 1})) << "the members' physical rows";
        EXPECT_EQ(2, Int({18, 2, 2, 1, 1, 9, 1}));
        EXPECT_EQ(static_cast<int>(c.condition), Int({18, 2, 2, 1, 1, 10, 1}));
        EXPECT_EQ(static_cast<int>(c.status), Int({18, 2, 2, 1, 1, 11, 1}));
        EXPECT_EQ(c.speed, Number({18, 2, 2, 1, 1, 19, 1})) << "the connected 10 Gbit/s member's speed";
        EXPECT_EQ(0u, Number({18, 2, 2, 1, 1, 14, 1}));
        EXPECT_EQ(c.ipv6, Text({18, 2, 2, 1, 1, 20, 1}));
        EXPECT_EQ(static_cast<int>(c.condition), Int({18, 2, 2, 2, 0}));
        if (c.failedBridge) {
            EXPECT_EQ("Network Bridge", RegText("BridgeName"));
        } else {
            EXPECT_FALSE(RegText("BridgeName"));
        }
    }
}

TEST_F(NicTablesTest, LogicalRowsOfTeamsPortsAndOwnInterfaces)
{
    INTERFACEMAPRECORD team = Logical(1, "QZ Network Team #1", "Team 1", 3, 2);
    team.IfIndexCount = 3;
    team.IfIndexList[1] = 202;
    team.IfIndexList[2] = 303;
    team.MemberCount = 20;
    team.SpeedMbps = 2000;
    for (uint8_t i = 0; i < 16; ++i)
        team.MemberIndexes[i] = static_cast<uint8_t>(i + 1);
    INTERFACEMAPRECORD dsc = Logical(2, "DSC Manage 1", "dsc", 2, 2);
    INTERFACEMAPRECORD up = Logical(3, "NIC A", "LAN A", 2, 4);
    up.OkMemberCount = 0;
    up.MemberCount = 0;
    up.SpeedMbps = 1000;
    INTERFACEMAPRECORD down = Logical(4, "NIC B", "LAN B", 2, 2);
    down.OkMemberCount = 1;
    down.MemberCount = 1;
    records().logical = {team, dsc, up, down};
    records().phys = {Phys(1, "NIC A", 2, 1), Phys(2, "NIC B", 4, 2)};
    Interfaces({Row(1, kIfTypeLoopback, kUp, false, kConnected, L"Loopback Pseudo-Interface 1", L"lo", 0)});
    Report();

    // Row 1: the team with three interface indexes and more members than a list holds.
    EXPECT_EQ(12u, Text({18, 2, 2, 1, 1, 2, 1})->size());
    EXPECT_EQ(16u, Text({18, 2, 2, 1, 1, 7, 1})->size());
    EXPECT_EQ(2000000000u, Number({18, 2, 2, 1, 1, 14, 1}));
    // Row 2: NIC A, whose physical record is up, whatever its logical record says; its member
    // count 0 gives speed 0.
    EXPECT_EQ("NIC A", Text({18, 2, 2, 1, 1, 3, 2}));
    EXPECT_EQ(1, Int({18, 2, 2, 1, 1, 6, 2}));
    EXPECT_EQ(2, Int({18, 2, 2, 1, 1, 10, 2}));
    EXPECT_EQ(2, Int({18, 2, 2, 1, 1, 11, 2}));
    EXPECT_EQ(0u, Number({18, 2, 2, 1, 1, 14, 2}));
    EXPECT_EQ(0u, Number({18, 2, 2, 1, 1, 19, 2}));
    // Row 3: NIC B, physically down.
    EXPECT_EQ(0, Int({18, 2, 2, 1, 1, 6, 3}));
    // Row 4: the loopback interface the library does not report: an interface-index list of one.
    EXPECT_EQ("Loopback Pseudo-Interface 1", Text({18, 2, 2, 1, 1, 3, 4}));
    EXPECT_EQ(std::string("\x01\0\0\0", 4), Text({18, 2, 2, 1, 1, 2, 4}));
    EXPECT_EQ(1, Int({18, 2, 2, 1, 1, 4, 4}));
    EXPECT_EQ(1, Int({18, 2, 2, 1, 1, 22, 4}));
    EXPECT_EQ(0u, Text({18, 2, 2, 1, 1, 8, 4})->size());
    EXPECT_FALSE(Text({18, 2, 2, 1, 1, 3, 5}));
    // The group condition: the highest row condition.
    EXPECT_EQ(2, Int({18, 2, 2, 2, 0}));
    ASSERT_EQ(4u, s_LogInterfaceIndexMap.size());
    EXPECT_EQ("LAN B", s_LogInterfaceIndexMap[2].ConnectionName);
}

TEST_F(NicTablesTest, VlanRowsFollowTheLogicalRows)
{
    records().logical = {Logical(1, "DSC Manage 1", "dsc", 2, 2), Logical(2, "NIC A", "LAN A", 2, 2),
                         Logical(3, "Network Bridge", "Bridge", 2, 2)};
    records().phys = {};
    VLANMAPRECORD matched{}, unmatched{}, bridged{};
    matched.VlanIndex = 1;
    matched.ParentLogicalIndex = 9;
    matched.VlanId = 100;
    Put(matched.VlanName, "vlan100");
    Put(matched.VlanConnectionName, "lan a");
    unmatched.VlanIndex = 2;
    unmatched.ParentLogicalIndex = 7;
    Put(unmatched.VlanConnectionName, "LAN Z");
    bridged.VlanIndex = 3;
    Put(bridged.VlanConnectionName, "Bridge");
    Put(bridged.VlanIPv6Address, "Bridge");
    records().vlans = {matched, unmatched, bridged};
    WriteBridge({}, "Network Bridge", "Bridge");
    HKEY key = CreateKey(kNicBridgingInfoKey);
    const DWORD ok = 1;
    RegSetValueExA(key, "BridgeAdapterOKCount", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&ok), 4);
    RegCloseKey(key);
    GetBridgingInfo(&records().bridges);
    Report();
    EXPECT_EQ(1, Int({18, 2, 4, 1, 1, 2, 1})) << "NIC A's logical row (the DSC record has none)";
    EXPECT_EQ(100, Int({18, 2, 4, 1, 1, 4, 1}));
    EXPECT_EQ("vlan100", Text({18, 2, 4, 1, 1, 5, 1}));
    EXPECT_EQ(7, Int({18, 2, 4, 1, 1, 2, 2}));
    EXPECT_EQ(2, Int({18, 2, 4, 1, 1, 2, 3}));
    EXPECT_EQ("N/A", Text({18, 2, 4, 1, 1, 6, 3})) << "a bridge address that cannot be read";
}

TEST_F(NicTablesTest, NoLogicalRecordsNoLogicalTableButTheVlanTableRuns)
{
    records().logResult = 3;
    VLANMAPRECORD vlan{};
    vlan.VlanIndex = 1;
    records().vlans = {vlan};
    Report();
    EXPECT_FALSE(Int({18, 2, 2, 2, 0}));
    EXPECT_EQ(1, Int({18, 2, 4, 1, 1, 1, 1}));
}

} // namespace
