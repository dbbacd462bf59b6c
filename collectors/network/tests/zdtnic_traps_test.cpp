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

} // namespace
