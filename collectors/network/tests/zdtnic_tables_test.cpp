// The NIC group's physical adapter, logical interface and VLAN tables: golden rows from the
// library's records and the collector's adapters.
#include "host_test_support.h"
#include "nic_test_support.h"

#include "datastore.h"
#include "enterprise_arc.h"
#include "store_writers.h"
#include "wmi.h"
#include "wmi_fakes.h"
#include "nic_smbios_bodies.h"
#include "smbios_samples.h"
#include "smbios_table.h"

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

// A namespace whose classes are lists of fake instances; a query "SELECT * FROM <class>" answers
// the class's instances.
class FakeNamespace : public CWMIConnection {
public:
    FakeNamespace() : CWMIConnection(nullptr) {}
    std::map<std::wstring, std::vector<ComPtr<IWbemClassObject>>> classes;
    CWMIEnumerator ExecQuery(const wchar_t *wql) override
    {
        const std::wstring text = wql;
        const std::wstring prefix = L"SELECT * FROM ";
        return text.rfind(prefix, 0) == 0 ? CreateInstanceEnum(text.substr(prefix.size()).c_str()) : CWMIEnumerator();
    }
    CWMIEnumerator CreateInstanceEnum(const wchar_t *name) override
    {
        auto it = classes.find(name);
        return it == classes.end() ? CWMIEnumerator() : CWMIEnumerator(new FakeEnumerator(it->second));
    }
};

ComPtr<IWbemClassObject> Instance(std::initializer_list<std::pair<const wchar_t *, const wchar_t *>> texts,
                                  std::initializer_list<std::pair<const wchar_t *, long long>> numbers = {})
{
    auto *object = new FakeClassObject();
    for (const auto &t : texts)
        object->SetString(t.first, t.second);
    for (const auto &n : numbers)
        object->SetInt(n.first, n.first == std::wstring(L"IPEnabled") ? VT_BOOL : VT_I4,
                       n.first == std::wstring(L"IPEnabled") && n.second ? VARIANT_TRUE : n.second);
    return ComPtr<IWbemClassObject>(object);
}

// The IPv6 adapter list of the Hyper-V lookup: one adapter "{SWITCH-1}" with fe80::abcd.
IP_ADAPTER_ADDRESSES *SwitchIpv6Addresses()
{
    struct Block {
        IP_ADAPTER_ADDRESSES adapter;
        IP_ADAPTER_UNICAST_ADDRESS unicast;
        sockaddr_in6 address;
        char name[32];
    };
    auto *block = static_cast<Block *>(calloc(1, sizeof(Block)));
    strcpy(block->name, "{SWITCH-1}");
    block->adapter.AdapterName = block->name;
    block->adapter.FirstUnicastAddress = &block->unicast;
    block->address.sin6_family = AF_INET6;
    block->address.sin6_addr.s6_addr[0] = 0xfe;
    block->address.sin6_addr.s6_addr[1] = 0x80;
    block->address.sin6_addr.s6_addr[14] = 0xab;
    block->address.sin6_addr.s6_addr[15] = 0xcd;
    block->unicast.Address.lpSockaddr = reinterpret_cast<sockaddr *>(&block->address);
    block->unicast.Address.iSockaddrLength = sizeof block->address;
    return &block->adapter;
}

ComPtr<IWbemClassObject> DuplexInstance(const wchar_t *name, const wchar_t *status)
{
    auto *object = new FakeClassObject();
    object->SetString(L"InstanceName", name);
    object->SetString(L"DuplexStatus", status);
    return ComPtr<IWbemClassObject>(object);
}

constexpr wchar_t kVmsmpNicList[] = L"System\\CurrentControlSet\\Services\\VMSMP\\Parameters\\NicList";

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
        s_WMICimV2.reset();
        s_SMBIOSTable.reset();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNicRootKey);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kVmsmpNicList);
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

// Column 2 of a team row: its own three interface indexes, or, when WMI shows its first interface
// IP-enabled, that index followed by eight zero bytes.
TEST_F(NicTablesTest, LogicalColumnTwoFollowsTheHyperVArray)
{
    struct {
        const char *what;
        bool instance;
        bool ipEnabled;
        std::string column;
    } cases[] = {
        {"IP-enabled", true, true, std::string("\x65\0\0\0\0\0\0\0\0\0\0\0", 12)},
        {"not IP-enabled", true, false, std::string("\x65\0\0\0\xca\0\0\0\x2f\x01\0\0", 12)},
        {"no configuration instance", false, false, std::string("\x65\0\0\0\xca\0\0\0\x2f\x01\0\0", 12)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        INTERFACEMAPRECORD team = Logical(1, "QZ Network Team #1", "Team 1", 3, 2);
        team.IfIndexCount = 3;
        team.IfIndexList[0] = 101;
        team.IfIndexList[1] = 202;
        team.IfIndexList[2] = 303;
        records().logical = {team};
        records().phys = {};
        auto wmi = std::make_unique<FakeNamespace>();
        if (c.instance)
            wmi->classes[L"Win32_NetworkAdapterConfiguration"] = {
                Instance({{L"MACAddress", L"0A:00:00:00:00:01"}}, {{L"InterfaceIndex", 99}, {L"IPEnabled", 1}}),
                Instance({{L"MACAddress", L"0A:00:00:00:00:02"}},
                         {{L"InterfaceIndex", 101}, {L"IPEnabled", c.ipEnabled ? 1 : 0}})};
        s_WMICimV2 = std::move(wmi);
        Report();
        EXPECT_EQ(c.column, Text({18, 2, 2, 1, 1, 2, 1}));
    }
}

// A port bound to a virtual switch (not IP-enabled) takes the IPv6 address of the switch adapter
// whose VMSMP entry carries its MAC address; the walk stops at the first match.
TEST_F(NicTablesTest, HyperVPortTakesTheSwitchAdaptersIPv6Address)
{
    struct Entry {
        const wchar_t *key;
        std::vector<uint8_t> mac;
        const char *device;
    };
    struct {
        const char *what;
        std::vector<Entry> entries;
        const char *ipv6;
    } cases[] = {
        {"second entry matches",
         {{L"A", {0x02, 0xfc, 0, 0, 0, 0x07}, "\\Device\\{OTHER}"}, {L"B", {0x02, 0xfc, 0, 0, 0, 0x09}, "\\Device\\{SWITCH-1}"}},
         "fe80::abcd"},
        {"first match has no address, the walk stops there",
         {{L"A", {0x02, 0xfc, 0, 0, 0, 0x09}, "\\Device\\{OTHER}"}, {L"B", {0x02, 0xfc, 0, 0, 0, 0x09}, "\\Device\\{SWITCH-1}"}},
         "fe80::1"},
        {"no entry matches", {{L"A", {0x02, 0xfc, 0, 0, 0, 0x08}, "\\Device\\{SWITCH-1}"}}, "fe80::1"},
        {"no NicList", {}, "fe80::1"},
    };
    const NIC_INTERFACE_SOURCE source = {&FixtureAddresses, &FixtureIfTable, &FreeFixtureIfTable, &SwitchIpv6Addresses};
    ZDTNICDataCollector::InterfaceSource = &source;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kVmsmpNicList);
        for (const Entry &e : c.entries) {
            const std::wstring key = std::wstring(kVmsmpNicList) + L"\\" + e.key;
            WriteValue(key.c_str(), L"CurrentMacAddress", e.mac.data(), static_cast<DWORD>(e.mac.size()));
            HKEY nic = CreateKey(key.c_str());
            RegSetValueExA(nic, "DeviceGuid", 0, REG_SZ, reinterpret_cast<const BYTE *>(e.device),
                           static_cast<DWORD>(strlen(e.device) + 1));
            RegCloseKey(nic);
        }
        INTERFACEMAPRECORD port = Logical(1, "NIC A", "LAN A", 2, 2);
        port.IfIndexList[0] = 7;
        Put(port.IPv6Address, "fe80::1");
        records().logical = {port};
        records().phys = {};
        auto wmi = std::make_unique<FakeNamespace>();
        wmi->classes[L"Win32_NetworkAdapterConfiguration"] = {
            Instance({{L"MACAddress", L"02:FC:00:00:00:09"}}, {{L"InterfaceIndex", 7}, {L"IPEnabled", 0}})};
        s_WMICimV2 = std::move(wmi);
        Report();
        EXPECT_EQ(c.ipv6, Text({18, 2, 2, 1, 1, 20, 1}));
        EXPECT_EQ(std::string("\x07\0\0\0", 4), Text({18, 2, 2, 1, 1, 2, 1})) << "column 2 keeps the port's list";
    }
    ZDTNICDataCollector::InterfaceSource = &kFixtureSource;
}

// The Pensando firmware comes from the Ionic WMI class for Pensando adapters only.
TEST_F(NicTablesTest, PensandoFirmwareFromTheIonicClass)
{
    PHYSADAPTERRECORD pensando = Phys(1, "Pensando DSC25 Ethernet", 2, 1), other = Phys(2, "NIC B", 2, 2);
    Put(pensando.Firmware, "0.0");
    Put(other.Firmware, "5.0");
    records().phys = {pensando, other};
    auto wmi = std::make_unique<FakeNamespace>();
    wmi->classes[L"Ionic_FirmwareVersion"] = {
        Instance({{L"InstanceName", L"Other Adapter"}, {L"FirmwareVersion", L"9.9"}}),
        Instance({{L"InstanceName", L"pensando dsc25 ethernet"}, {L"FirmwareVersion", L"1.28.0-E-44"}}),
        Instance({{L"InstanceName", L"NIC B"}, {L"FirmwareVersion", L"7.7"}})};
    s_WMIRootWmi = std::move(wmi);
    Report();
    EXPECT_EQ("1.28.0-E-44", Text({18, 2, 3, 1, 1, 41, 1}));
    EXPECT_EQ("5.0", Text({18, 2, 3, 1, 1, 41, 2}));
}

// The SMBIOS firmware of a record in slot 2 at 0000:05:00.0: taken only while an adapter of a
// listed model is present and the SMBIOS table is valid.
TEST_F(NicTablesTest, SmbiosFirmwareOnlyForListedModelsWithAValidTable)
{
    struct {
        const char *what;
        uint32_t pciId, subsystemId;
        bool table;
        const char *firmware;
    } cases[] = {
        {"listed model", 0x80861563, 0x0B091F7A, true, "FW 2.10"},
        {"listed device, other subsystem", 0x80861563, 0x00018086, true, "old"},
        {"listed model, no SMBIOS table", 0x80861563, 0x0B091F7A, false, "old"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        s_SMBIOSTable.reset();
        if (c.table)
            s_SMBIOSTable = std::make_unique<CSMBIOSTable>(BuildCopy(BuildStructures({
                {9, 0x90, BodySlot(5, 0), {}},
                {203, 0x30, Body203(0x90), {"NIC", "PCI-E Slot 2"}},
                {240, 0x40, Body240(0x30), {"FW 2.10"}},
            })));
        PHYSADAPTERRECORD card = Phys(1, "QZ Card", 2, 1);
        card.Slot = 2;
        Put(card.PciLocation, "0000:05:00.0");
        Put(card.Firmware, "old");
        records().phys = {card};
        Interfaces({Row(7, kIfTypeEthernet, kUp, true, kConnected, L"QZ Card", L"LAN 1", 1)});
        ASSERT_FALSE(s_ZDTNICDataCollector.Adapters().empty());
        for (NET_ADAPTER &adapter : s_ZDTNICDataCollector.Adapters()) {
            adapter.Physical.PciId = c.pciId;
            adapter.Physical.SubsystemId = c.subsystemId;
        }
        Report();
        EXPECT_EQ(c.firmware, Text({18, 2, 3, 1, 1, 41, 1}));
    }
}

} // namespace
