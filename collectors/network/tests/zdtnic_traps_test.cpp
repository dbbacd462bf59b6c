// The NIC group's traps: the library's trap records turned into traps of the adapters they
// belong to, golden varbinds, and what stays behind.
#include "host_test_support.h"
#include "nic_test_support.h"

#include "enterprise_arc.h"
#include "service_parameters.h"
#include "traps.h"

#include <gtest/gtest.h>

using namespace hosttest;
using namespace nictest;

namespace {

TRAPRECORD TrapRecord(uint8_t macLast, const char *name)
{
    TRAPRECORD r{};
    r.Kind = kNicTrapConnectivityLost;
    r.Format = 4;
    r.LogicalIndex = 3;
    r.PhysicalIndex = 2;
    r.Slot = 4;
    r.Port = 1;
    r.MemberStatus = 2;
    Put(r.MemberName, name);
    Put(r.PartNumber, "PN-123");
    const uint8_t v4[4] = {192, 168, 7, 21};
    memcpy(&r.IPv4Address, v4, 4);
    Put(r.IPv6Address, "fe80::7");
    r.PciBus = 5;
    r.PciDevice = 0;
    r.OkMemberCount = 1;
    const uint8_t mac[6] = {0x02, 0xfc, 0, 0, 0, macLast};
    memcpy(r.MacAddress, mac, 6);
    r.DhcpEnabled = 1;
    return r;
}

void WriteTrap(const wchar_t *key, const wchar_t *name, const TRAPRECORD &record)
{
    WriteValue(key, name, &record, sizeof record);
}

DWORD ValueCount(const wchar_t *path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD values = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return values;
}

std::string Dotted(const MIBOID &oid) { return OidText(oid); }

// A listing of trap keys that fails: the next `times` reads of value `index` give `error`.
struct ENUM_FAULT {
    DWORD index = 0;
    LSTATUS error = ERROR_SUCCESS;
    int times = 0;
};
ENUM_FAULT s_EnumFault;

LSTATUS WINAPI FailingEnumValue(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD size)
{
    if (index == s_EnumFault.index && s_EnumFault.times > 0) {
        --s_EnumFault.times;
        return s_EnumFault.error;
    }
    return RegEnumValueW(key, index, name, nameLength, reserved, type, data, size);
}

// The record's adapter name, as the trap's adapter-name varbind carries it.
std::string AdapterNameOf(const RECORDED_PDU &trap) { return trap.varbinds.size() > 7 ? trap.varbinds[7].text : ""; }
std::string Arc(const std::string &below) { return OidText(EnterpriseOid({})) + below; }

class NicTrapsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetNicTest(&devices);
        SetReady(1);
        s_ServiceParameters.EnableTraps = 1;
        InitTraps();
        s_If.rows = {Row(3, kIfTypeEthernet, kUp, true, kConnected, L"Port A", L"LAN A", 3),
                     Row(4, kIfTypeEthernet, kUp, true, kConnected, L"Port B", L"LAN B", 4),
                     Row(8, kIfTypeEthernet, kUp, false, kConnected, L"QZ Network Team #1", L"Team", 8)};
        s_If.addresses = {{3, "{a}"}, {4, "{b}"}, {8, "{t}"}};
        s_ZDTNICDataCollector.UpdateAllData();
    }
    void TearDown() override
    {
        ZDTNICDataCollector::EnumTrapValue = &RegEnumValueW;
        s_EnumFault = ENUM_FAULT{};
        TermTraps();
        s_NicDevNodes = nullptr;
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNicRootKey);
    }
    FakeDevNodes devices;
};

TEST_F(NicTrapsTest, ConnectivityLostGoldenVarbinds)
{
    WriteTrap(kNicTrapConnectivityLostKey, L"TrapData01DB000000000001", TrapRecord(4, "Port B"));
    s_ZDTNICDataCollector.CheckTraps();
    const std::vector<RECORDED_PDU> traps = SentTraps();
    ASSERT_EQ(1u, traps.size());
    const std::vector<VARBIND> &v = traps[0].varbinds;
    ASSERT_EQ(11u, v.size());
    EXPECT_EQ(Arc(".0.18012"), Dotted(v[0].oid));
    EXPECT_EQ(".1.3.6.1.2.1.1.5.0", Dotted(v[1].name));
    EXPECT_FALSE(v[1].text.empty());
    struct {
        std::string name;
        uint16_t type;
        int64_t integer;
        std::string text;
    } golden[] = {
        {Arc(".11.2.11.1.0"), MIBTYPE_INTEGER, 10, ""},
        {Arc(".18.2.3.1.1.5.2"), MIBTYPE_INTEGER, 4, ""},
        {Arc(".18.2.3.1.1.10.2"), MIBTYPE_INTEGER, 1, ""},
        {Arc(".2.2.4.17.0"), MIBTYPE_OCTETSTRING, 0, "N/A"},
        {Arc(".18.2.3.1.1.14.2"), MIBTYPE_INTEGER, 2, ""},
        {Arc(".1.2.13.1.1.5.5.0"), MIBTYPE_OCTETSTRING, 0, "Port B"},
        {Arc(".18.2.3.1.1.32.2"), MIBTYPE_OCTETSTRING, 0, "PN-123"},
        {".1.3.6.1.2.1.4.20.1.1.192.168.7.21", MIBTYPE_IPADDRESS, 0, ""},
        {Arc(".18.2.2.1.1.20.3"), MIBTYPE_OCTETSTRING, 0, "fe80::7"},
    };
    for (size_t i = 0; i < sizeof golden / sizeof golden[0]; ++i) {
        SCOPED_TRACE(golden[i].name);
        EXPECT_EQ(golden[i].name, Dotted(v[2 + i].name));
        EXPECT_EQ(golden[i].type, v[2 + i].type);
        if (golden[i].type == MIBTYPE_INTEGER) {
            EXPECT_EQ(golden[i].integer, v[2 + i].integer);
        }
        if (golden[i].type == MIBTYPE_OCTETSTRING) {
            EXPECT_EQ(golden[i].text, v[2 + i].text);
        }
    }
    EXPECT_EQ(0u, ValueCount(kNicTrapConnectivityLostKey));
    // The adapter takes the record's slot and port.
    EXPECT_EQ(4u, s_ZDTNICDataCollector.Adapters()[1].Physical.Slot);
    EXPECT_EQ(1u, s_ZDTNICDataCollector.Adapters()[1].Physical.Port);
}

TEST_F(NicTrapsTest, RedundancyReducedCarriesTheWorkingMembers)
{
    TRAPRECORD record = TrapRecord(3, "Port A");
    record.OkMemberCount = 1;
    record.DhcpEnabled = 0;
    record.MemberStatus = 4;
    WriteTrap(kNicTrapRedundancyReducedKey, L"TrapData01DB000000000001", record);
    s_ZDTNICDataCollector.CheckTraps();
    const std::vector<RECORDED_PDU> traps = SentTraps();
    ASSERT_EQ(1u, traps.size());
    const std::vector<VARBIND> &v = traps[0].varbinds;
    ASSERT_EQ(12u, v.size());
    EXPECT_EQ(Arc(".0.18014"), Dotted(v[0].oid));
    EXPECT_EQ(16, v[2].integer);
    EXPECT_EQ(Arc(".18.2.2.1.1.6.3"), Dotted(v[11].name));
    EXPECT_EQ(1, v[11].integer);
}

TEST_F(NicTrapsTest, RecordsOfNoAdapterBlockNothingAndTeamsMatchTheirOwnAddress)
{
    // In time order: a record of an adapter not ours, one of Port A, one of the team (its logical
    // address), one without any address.
    WriteTrap(kNicTrapConnectivityLostKey, L"TrapData01DB000000000001", TrapRecord(0x77, "Gone"));
    WriteTrap(kNicTrapConnectivityLostKey, L"TrapData01DB000000000003", TrapRecord(8, "Team"));
    WriteTrap(kNicTrapConnectivityLostKey, L"TrapData01DB000000000002", TrapRecord(3, "Port A"));
    WriteTrap(kNicTrapConnectivityLostKey, L"TrapData01DB000000000004", TrapRecord(0, "Nobody"));
    // A value of another size is no record.
    const uint8_t shortValue[10] = {};
    WriteValue(kNicTrapConnectivityLostKey, L"TrapData00000000000000", shortValue, sizeof shortValue);
    s_ZDTNICDataCollector.CheckTraps();
    const std::vector<RECORDED_PDU> traps = SentTraps();
    ASSERT_EQ(2u, traps.size());
    EXPECT_EQ("Port A", traps[0].varbinds[7].text);
    EXPECT_EQ("Team", traps[1].varbinds[7].text);
    EXPECT_EQ(3u, ValueCount(kNicTrapConnectivityLostKey)) << "the unmatched, the empty-address and the short value stay";
}

TEST_F(NicTrapsTest, DisabledTrapsStillConsumeTheRecord)
{
    s_ServiceParameters.EnableTraps = 0;
    WriteTrap(kNicTrapConnectivityRegainedKey, L"TrapData01DB000000000001", TrapRecord(3, "Port A"));
    s_ZDTNICDataCollector.CheckTraps();
    s_ServiceParameters.EnableTraps = 1;
    EXPECT_TRUE(SentTraps().empty());
    EXPECT_EQ(0u, ValueCount(kNicTrapConnectivityRegainedKey));
}

TEST_F(NicTrapsTest, BridgeMemberTakesTheBridgeState)
{
    WriteBridge({{"Port A", "LAN A"}}, "Network Bridge", "Bridge");
    HKEY key = CreateKey(kNicBridgingInfoKey);
    const DWORD ok = 0;
    RegSetValueExA(key, "BridgeAdapterOKCount", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&ok), 4);
    RegCloseKey(key);
    GetBridgingInfo(&s_ZDTNICDataCollector.Records().bridges);
    WriteTrap(kNicTrapConnectivityLostKey, L"TrapData01DB000000000001", TrapRecord(3, "Port A"));
    s_ZDTNICDataCollector.CheckTraps();
    const std::vector<RECORDED_PDU> traps = SentTraps();
    ASSERT_EQ(1u, traps.size());
    EXPECT_EQ(".1.3.6.1.2.1.4.20.1.1.0.0.0.0", Dotted(traps[0].varbinds[9].name));
    EXPECT_EQ("N/A", traps[0].varbinds[10].text);
}

TEST_F(NicTrapsTest, ReadTrapRecordResults)
{
    struct VALUE {
        const wchar_t *name;
        uint8_t macLast;  // 0: a value of 10 bytes, no record
    };
    struct {
        const char *what;
        std::vector<VALUE> values;  // in Trap_ConnectivityLost; empty: no key
        uint32_t trap;
        std::set<std::string> passedOver;
        ENUM_FAULT fault;
        int result;
        std::string name;
        uint8_t macLast;  // of the record read; 0: a cleared record
    } cases[] = {
        {"the record written first", {{L"TrapData01DB000000000002", 4}, {L"TrapData01DB000000000001", 3}},
         kNicTrapLost, {}, {}, 0, "TrapData01DB000000000001", 3},
        {"past a record already looked at", {{L"TrapData01DB000000000002", 4}, {L"TrapData01DB000000000001", 3}},
         kNicTrapLost, {"TrapData01DB000000000001"}, {}, 0, "TrapData01DB000000000002", 4},
        {"past a value that is no record", {{L"TrapData01DB000000000001", 0}, {L"TrapData01DB000000000002", 4}},
         kNicTrapLost, {}, {}, 0, "TrapData01DB000000000002", 4},
        {"past a name the library does not write", {{L"Trap Data 1", 3}, {L"TrapData\u00e901", 3}, {L"TrapData01DB000000000009", 4}},
         kNicTrapLost, {}, {}, 0, "TrapData01DB000000000009", 4},
        {"unknown trap number", {{L"TrapData01DB000000000001", 3}}, 18015, {}, {}, ERROR_NOT_FOUND, "", 0},
        {"key that does not open", {}, kNicTrapLost, {}, {}, ERROR_NOT_FOUND, "", 0},
        {"another trap's key does not open", {{L"TrapData01DB000000000001", 3}}, kNicTrapRestored, {}, {},
         ERROR_NOT_FOUND, "", 0},
        {"key without a record", {{L"TrapData01DB000000000001", 0}}, kNicTrapLost, {}, {}, ERROR_NOT_FOUND, "", 0},
        {"every record looked at", {{L"TrapData01DB000000000001", 3}}, kNicTrapLost, {"TrapData01DB000000000001"}, {},
         ERROR_NOT_FOUND, "", 0},
        {"the read fails", {{L"TrapData01DB000000000001", 3}}, kNicTrapLost, {}, {0, ERROR_KEY_DELETED, 1},
         ERROR_KEY_DELETED, "", 0},
        {"the read fails after a record", {{L"TrapData01DB000000000001", 3}, {L"TrapData01DB000000000002", 4}},
         kNicTrapLost, {}, {1, ERROR_ACCESS_DENIED, 1}, ERROR_ACCESS_DENIED, "", 0},
    };
    ZDTNICDataCollector::EnumTrapValue = &FailingEnumValue;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNicTrapConnectivityLostKey);
        for (const VALUE &value : c.values) {
            if (value.macLast != 0) {
                WriteTrap(kNicTrapConnectivityLostKey, value.name, TrapRecord(value.macLast, "Port A"));
            } else {
                const uint8_t shortValue[10] = {};
                WriteValue(kNicTrapConnectivityLostKey, value.name, shortValue, sizeof shortValue);
            }
        }
        s_EnumFault = c.fault;
        TRAPRECORD record;
        memset(&record, 0xCC, sizeof record);
        std::string name = "left over";
        EXPECT_EQ(c.result, s_ZDTNICDataCollector.ReadTrapRecord(c.trap, &record, &name,
                                                                 c.passedOver.empty() ? nullptr : &c.passedOver));
        EXPECT_EQ(c.name, name);
        if (c.macLast != 0) {
            const TRAPRECORD expected = TrapRecord(c.macLast, "Port A");
            EXPECT_EQ(0, memcmp(&expected, &record, sizeof record)) << "the whole record, as written";
        } else {
            const TRAPRECORD cleared{};
            EXPECT_EQ(0, memcmp(&cleared, &record, sizeof record)) << "a cleared record";
        }
        EXPECT_EQ(c.values.size(), ValueCount(kNicTrapConnectivityLostKey)) << "reading deletes nothing";
    }
}

// Each adapter in list order relays its own records, key by key; a record of an adapter further
// down the list no longer holds up one of an adapter before it until the next collection.
TEST_F(NicTrapsTest, DepartureRecordsOfLaterAdaptersHoldUpNoneInOneCollection)
{
    struct TRAP_VALUE {
        const wchar_t *key;
        const wchar_t *name;
        uint8_t macLast;
        const char *adapter;
    };
    struct {
        const char *what;
        std::vector<TRAP_VALUE> values;
        std::vector<std::string> adapters;  // of the traps, in the order they are sent
        std::vector<unsigned> numbers;
    } cases[] = {
        {"first record of the first adapter",
         {{kNicTrapConnectivityLostKey, L"TrapData01DB000000000001", 3, "Port A"},
          {kNicTrapConnectivityLostKey, L"TrapData01DB000000000002", 4, "Port B"}},
         {"Port A", "Port B"}, {18012, 18012}},
        {"first record of the later adapter",
         {{kNicTrapConnectivityLostKey, L"TrapData01DB000000000001", 4, "Port B"},
          {kNicTrapConnectivityLostKey, L"TrapData01DB000000000002", 3, "Port A"}},
         {"Port A", "Port B"}, {18012, 18012}},
        {"adapter by adapter, each key in its order",
         {{kNicTrapConnectivityLostKey, L"TrapData01DB000000000001", 4, "Port B"},
          {kNicTrapRedundancyIncreasedKey, L"TrapData01DB000000000002", 3, "Port A"},
          {kNicTrapConnectivityRegainedKey, L"TrapData01DB000000000003", 3, "Port A"}},
         {"Port A", "Port A", "Port B"}, {18011, 18013, 18012}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        for (const TRAP_VALUE &value : c.values)
            WriteTrap(value.key, value.name, TrapRecord(value.macLast, value.adapter));
        s_ZDTNICDataCollector.CheckTraps();
        const std::vector<RECORDED_PDU> traps = SentTraps();
        std::vector<std::string> adapters;
        for (const RECORDED_PDU &trap : traps)
            adapters.push_back(AdapterNameOf(trap));
        EXPECT_EQ(c.adapters, adapters);
        EXPECT_EQ(c.numbers, TrapNumbers(traps));
        for (const wchar_t *key : {kNicTrapConnectivityLostKey, kNicTrapConnectivityRegainedKey,
                                   kNicTrapRedundancyIncreasedKey, kNicTrapRedundancyReducedKey})
            EXPECT_EQ(0u, ValueCount(key));
    }
}

// A read that fails costs its attempt; the record stays for the next collection.
TEST_F(NicTrapsTest, AFailedReadLosesNoRecord)
{
    WriteTrap(kNicTrapConnectivityLostKey, L"TrapData01DB000000000001", TrapRecord(3, "Port A"));
    WriteTrap(kNicTrapConnectivityLostKey, L"TrapData01DB000000000002", TrapRecord(3, "Port A"));
    ZDTNICDataCollector::EnumTrapValue = &FailingEnumValue;
    s_EnumFault = {0, ERROR_KEY_DELETED, 1};
    s_ZDTNICDataCollector.CheckTraps();
    EXPECT_EQ(1u, SentTraps().size()) << "two values, two attempts, one of them failed";
    EXPECT_EQ(1u, ValueCount(kNicTrapConnectivityLostKey));
    s_ZDTNICDataCollector.CheckTraps();
    EXPECT_EQ(1u, SentTraps().size());
    EXPECT_EQ(0u, ValueCount(kNicTrapConnectivityLostKey));
}

} // namespace
