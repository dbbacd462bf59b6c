// The MIB-2 collector's interfaces and IP groups: registrations, the status rules of the
// interfaces table over the NIC records in the registry, and the IP tables from given IP Helper
// tables.
#include "host_test_support.h"
#include "mib2_collector.h"
#include "mib2_test_support.h"

#include "scheduler.h"
#include "store_writers.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace hosttest;
using namespace mib2test;

namespace {

class Mib2Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitDataStores();
        ClearNicRegistry();
        MIB2_TIMING::ReadyRetryMs = 10;
        s_Tables = TABLES{};
        MIB2DataCollector::Sources = TestSources();
    }
    void TearDown() override
    {
        MIB2DataCollector::Sources = kSystemMib2Sources;
        ClearNicRegistry();
        delete m_Staging;
        TermDataStores();
    }
    // One collection of the interfaces and IP groups into a fresh staging store.
    DATASTORE *Collect()
    {
        delete m_Staging;
        m_Staging = new DATASTORE(false);
        s_MIB2DataCollector.Collect(0, m_Staging);
        return m_Staging;
    }

    DATASTORE *m_Staging = nullptr;
};

TEST_F(Mib2Test, RegisterAllFourSubtreesAndReturnTheLastFailure)
{
    const std::vector<std::string> subtrees = {".1.3.6.1.2.1.2", ".1.3.6.1.2.1.4", ".1.3.6.1.2.1.25",
                                               ".1.3.6.1.2.1.55"};
    struct {
        const char *what;
        std::vector<std::pair<std::string, int>> refused;
        int result;
    } cases[] = {
        {"all accepted", {}, 0},
        {"ip refused, the rest accepted", {{".1.3.6.1.2.1.4", 263}}, 263},
        {"two refused: the later one's code", {{".1.3.6.1.2.1.2", 261}, {".1.3.6.1.2.1.25", 263}}, 263},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(StampHotFixCollection(true));
        ASSERT_FALSE(IsHotFixCollectionDue());
        RecordingSession session;
        session.answer = [&](const RECORDED_PDU &pdu) {
            for (const auto &[subtree, code] : c.refused)
                if (OidText(pdu.subtree) == subtree)
                    return code;
            return 0;
        };
        EXPECT_EQ(c.result, s_MIB2DataCollector.Register(&session));
        ASSERT_EQ(subtrees.size(), session.pdus.size());
        for (size_t i = 0; i < subtrees.size(); ++i) {
            EXPECT_EQ(subtrees[i], OidText(session.pdus[i].subtree));
            EXPECT_EQ(127, session.pdus[i].priority);
        }
        // The next software collection reads the hot fixes again.
        EXPECT_TRUE(IsHotFixCollectionDue());
    }
}

// Each case is one interface with a description of its own (the status memory never forgets one)
// seen over one or more collections; the expected statuses are those of the last collection.
TEST_F(Mib2Test, InterfaceStatusPrecedence)
{
    SetInterfaceDataReady(1);
    struct {
        const char *description;
        std::vector<DWORD> operSeen; // dwOperStatus (as mapped) at each collection
        DWORD admin;
        bool inNicsList;
        int physCondition; // 0: no physical record
        bool failedBridge;
        int32_t wantAdmin, wantOper;
    } cases[] = {
        {"down at first sight", {2}, 1, false, 0, false, 1, 4},
        {"down since first sight", {2, 2}, 1, false, 0, false, 1, 4},
        {"up at first sight", {1}, 1, false, 0, false, 1, 1},
        {"down after it was up", {1, 2}, 1, false, 0, false, 1, 2},
        {"down, up, down again", {2, 1, 2}, 1, false, 0, false, 1, 2},
        {"in the NICs key", {2}, 2, true, 0, false, 1, 1},
        {"physical record ok", {2}, 2, false, kNicConditionOk, false, 1, 1},
        {"physical record other", {1}, 1, false, kNicConditionOther, false, 1, 4},
        {"physical record failed changes nothing", {1}, 1, false, kNicConditionFailed, false, 1, 1},
        {"physical other over the NICs key", {1}, 1, true, kNicConditionOther, false, 1, 4},
        {"failed bridge over everything", {1}, 1, true, kNicConditionOk, true, 1, 2},
    };
    std::vector<std::wstring> nics;
    std::vector<PHYSADAPTERRECORD> records;
    for (const auto &c : cases) {
        if (c.inNicsList)
            nics.push_back(Wide(c.description));
        if (c.physCondition != 0)
            records.push_back(PhysRecord(c.description, static_cast<uint8_t>(c.physCondition)));
        if (c.failedBridge)
            SetBridge(c.description, 5);
    }
    WriteNicsList(nics);
    WritePhysRecords(records);
    size_t collections = 0;
    for (const auto &c : cases)
        collections = std::max(collections, c.operSeen.size());
    for (size_t n = 0; n < collections; ++n) {
        s_Tables.ifRows.clear();
        DWORD index = 1;
        for (const auto &c : cases) {
            const DWORD oper = c.operSeen[std::min(n, c.operSeen.size() - 1)];
            s_Tables.ifRows.push_back(IfRow(index++, c.description, oper, c.admin));
        }
        Collect();
    }
    EXPECT_EQ(IntAt(m_Staging, Oid(".1.3.6.1.2.1.2.1.0")), static_cast<int32_t>(std::size(cases)));
    DWORD index = 1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(IntAt(m_Staging, IfCell(7, index)), c.wantAdmin);
        EXPECT_EQ(IntAt(m_Staging, IfCell(8, index)), c.wantOper);
        ++index;
    }
}

TEST_F(Mib2Test, BridgeRuleNeedsStatusFiveAndTheSameName)
{
    SetInterfaceDataReady(1);
    struct {
        const char *what;
        const char *bridgeName;
        DWORD bridgeStatus;
        int32_t wantOper;
    } cases[] = {
        {"status 5, name in other case", "BRIDGE CASE A", 5, 2},
        {"status 2", "bridge case b", 2, 1},
        {"another name", "some other bridge", 5, 1},
    };
    const char *descriptions[] = {"bridge case a", "bridge case b", "bridge case c"};
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].what);
        SetBridge(cases[i].bridgeName, cases[i].bridgeStatus);
        s_Tables.ifRows = {IfRow(7, descriptions[i], 1, 1)};
        Collect();
        EXPECT_EQ(IntAt(m_Staging, IfCell(8, 7)), cases[i].wantOper);
    }
}

// Only REG_BINARY values of exactly one record count: a longer value before a good one must not
// shift the good one's reading.
TEST_F(Mib2Test, PhysicalRecordsAreTakenOnlyFromValuesOfOneRecord)
{
    SetInterfaceDataReady(1);
    PHYSADAPTERRECORD good = PhysRecord("phys after odd values", kNicConditionOk);
    PHYSADAPTERRECORD other = PhysRecord("phys in an odd value", kNicConditionOk);
    std::vector<uint8_t> longer(sizeof other + 7, 0);
    std::memcpy(longer.data(), &other, sizeof other);
    WriteRawPhysValue(L"PhysAdapter000", REG_BINARY, longer.data(), static_cast<DWORD>(longer.size()));
    WriteRawPhysValue(L"PhysAdapter001", REG_SZ, &other, sizeof other);
    WriteRawPhysValue(L"PhysAdapter002", REG_BINARY, &good, sizeof good);
    std::vector<PHYSADAPTERRECORD> records;
    ASSERT_EQ(0, s_MIB2DataCollector.ReadInterfacePhysRecords(&records));
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("phys after odd values", RecordText(records[0].Name));

    s_Tables.ifRows = {IfRow(1, "phys after odd values", 2, 2), IfRow(2, "phys in an odd value", 2, 2)};
    Collect();
    EXPECT_EQ(IntAt(m_Staging, IfCell(8, 1)), 1);
    EXPECT_EQ(IntAt(m_Staging, IfCell(8, 2)), 4); // down at first sight, no record
}

TEST_F(Mib2Test, PhysicalRecordsWaitForTheLibrary)
{
    struct {
        const char *what;
        int ready; // -1: no value
        int result;
    } cases[] = {{"not ready", 0, 3}, {"no mark", -1, 3}, {"ready", 1, 0}};
    WritePhysRecords({PhysRecord("phys waiting", kNicConditionOk)});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        SetInterfaceDataReady(c.ready);
        std::vector<PHYSADAPTERRECORD> records(2);
        const DWORD start = GetTickCount();
        EXPECT_EQ(c.result, s_MIB2DataCollector.ReadInterfacePhysRecords(&records));
        EXPECT_EQ(c.result == 0 ? 1u : 0u, records.size());
        if (c.result == 3) { // both tries were made
            EXPECT_GE(GetTickCount() - start, 15u);
        }
    }
    // Not ready: the rule is skipped, the row keeps its memory's status.
    SetInterfaceDataReady(0);
    s_Tables.ifRows = {IfRow(3, "phys waiting", 2, 2)};
    Collect();
    EXPECT_EQ(IntAt(m_Staging, IfCell(8, 3)), 4);
    EXPECT_EQ(IntAt(m_Staging, IfCell(7, 3)), 2);
}

// The library's data is read once per table, whatever the number of rows.
TEST_F(Mib2Test, ReadinessIsWaitedForOncePerTable)
{
    SetInterfaceDataReady(0);
    // Two tries of 1 s each: once 2 s, once per row 16 s; the bound leaves a busy machine 6 s.
    MIB2_TIMING::ReadyRetryMs = 1000;
    s_Tables.ifRows.clear();
    for (DWORD i = 1; i <= 8; ++i)
        s_Tables.ifRows.push_back(IfRow(i, ("waiting row " + std::to_string(i)).c_str(), 1, 1));
    const DWORD start = GetTickCount();
    Collect();
    EXPECT_LT(GetTickCount() - start, 8 * 2000u / 2);
    EXPECT_EQ(IntAt(m_Staging, Oid(".1.3.6.1.2.1.2.1.0")), 8);
}

TEST_F(Mib2Test, InterfaceRowColumns)
{
    MIB_IFROW row = IfRow(12, "columns row", 1, 1);
    // The description ends at its stated length even when the array holds more.
    std::memcpy(row.bDescr, "columns row and more", 21);
    row.dwDescrLen = 11;
    row.dwType = 6;
    row.dwMtu = 1500;
    row.dwSpeed = 1000000000;
    row.dwPhysAddrLen = 200; // more than the array: cut to it
    for (int i = 0; i < MAXLEN_PHYSADDR; ++i)
        row.bPhysAddr[i] = static_cast<BYTE>(0xA0 + i);
    row.dwLastChange = 4242;
    DWORD counter = 100;
    for (DWORD *field : {&row.dwInOctets, &row.dwInUcastPkts, &row.dwInNUcastPkts, &row.dwInDiscards, &row.dwInErrors,
                         &row.dwInUnknownProtos, &row.dwOutOctets, &row.dwOutUcastPkts, &row.dwOutNUcastPkts,
                         &row.dwOutDiscards, &row.dwOutErrors})
        *field = counter++;
    row.dwOutQLen = 9;
    s_Tables.ifRows = {row};
    Collect();
    EXPECT_EQ(IntAt(m_Staging, IfCell(1, 12)), 12);
    EXPECT_EQ(TextAt(m_Staging, IfCell(2, 12)), "columns row");
    EXPECT_EQ(IntAt(m_Staging, IfCell(3, 12)), 6);
    EXPECT_EQ(IntAt(m_Staging, IfCell(4, 12)), 1500);
    EXPECT_EQ(TypedAt(m_Staging, IfCell(5, 12)), Typed(MIBTYPE_GAUGE32, 1000000000));
    EXPECT_EQ(TextAt(m_Staging, IfCell(6, 12)), std::string("\xA0\xA1\xA2\xA3\xA4\xA5\xA6\xA7", 8));
    EXPECT_EQ(TypedAt(m_Staging, IfCell(9, 12)), Typed(MIBTYPE_TIMETICKS, 4242));
    for (uint32_t column = 10; column <= 20; ++column)
        EXPECT_EQ(TypedAt(m_Staging, IfCell(column, 12)), Typed(MIBTYPE_COUNTER32, 100 + column - 10)) << column;
    EXPECT_EQ(TypedAt(m_Staging, IfCell(21, 12)), Typed(MIBTYPE_GAUGE32, 9));
    EXPECT_EQ(TypedAt(m_Staging, IfCell(22, 12)).first, MIBTYPE_OID);
    EXPECT_EQ(TypedAt(m_Staging, IfCell(23, 12)).first, MIBTYPE_NONE);
}

TEST_F(Mib2Test, IpScalars)
{
    s_Tables.haveStats = true;
    MIB_IPSTATS &stats = s_Tables.stats;
    stats.dwForwarding = 2;
    stats.dwDefaultTTL = 64;
    DWORD value = 1000;
    for (DWORD *field : {&stats.dwInReceives, &stats.dwInHdrErrors, &stats.dwInAddrErrors, &stats.dwForwDatagrams,
                         &stats.dwInUnknownProtos, &stats.dwInDiscards, &stats.dwInDelivers, &stats.dwOutRequests,
                         &stats.dwOutDiscards, &stats.dwOutNoRoutes})
        *field = value++;
    stats.dwReasmTimeout = 60;
    for (DWORD *field : {&stats.dwReasmReqds, &stats.dwReasmOks, &stats.dwReasmFails, &stats.dwFragOks,
                         &stats.dwFragFails, &stats.dwFragCreates})
        *field = value++;
    stats.dwRoutingDiscards = 77;
    Collect();
    auto scalar = [&](uint32_t n) { return TypedAt(m_Staging, Oid(".1.3.6.1.2.1.4." + std::to_string(n) + ".0")); };
    EXPECT_EQ(scalar(1), Typed(MIBTYPE_INTEGER, 2));
    EXPECT_EQ(scalar(2), Typed(MIBTYPE_INTEGER, 64));
    for (uint32_t n = 3; n <= 12; ++n)
        EXPECT_EQ(scalar(n), Typed(MIBTYPE_COUNTER32, 1000 + n - 3)) << n;
    EXPECT_EQ(scalar(13), Typed(MIBTYPE_INTEGER, 60));
    for (uint32_t n = 14; n <= 19; ++n)
        EXPECT_EQ(scalar(n), Typed(MIBTYPE_COUNTER32, 1010 + n - 14)) << n;
    EXPECT_EQ(scalar(20).first, MIBTYPE_NONE);

    // A failed call leaves the group out; the interfaces group is still written.
    s_Tables.haveStats = false;
    s_Tables.ifRows = {IfRow(1, "stats failed row", 1, 1)};
    Collect();
    EXPECT_EQ(scalar(1).first, MIBTYPE_NONE);
    EXPECT_EQ(IntAt(m_Staging, Oid(".1.3.6.1.2.1.2.1.0")), 1);
}

TEST_F(Mib2Test, AddressAndRouteTables)
{
    s_Tables.haveAddrs = s_Tables.haveRoutes = true;
    MIB_IPADDRROW address{};
    address.dwAddr = Ip(10, 0, 0, 5);
    address.dwIndex = 3;
    address.dwMask = Ip(255, 255, 255, 0);
    address.dwReasmSize = 65535;
    s_Tables.addrRows = {address};
    MIB_IPFORWARDROW first{}, second{};
    first.dwForwardDest = second.dwForwardDest = Ip(192, 168, 7, 0);
    first.dwForwardIfIndex = 3;
    second.dwForwardIfIndex = 4;
    second.dwForwardNextHop = Ip(192, 168, 7, 1);
    second.dwForwardMask = Ip(255, 255, 255, 0);
    second.dwForwardType = 4;
    second.dwForwardProto = 3;
    second.dwForwardMetric1 = 25;
    s_Tables.routes = {first, second};
    Collect();

    const std::string a = ".1.3.6.1.2.1.4.20.1.";
    EXPECT_EQ(TextAt(m_Staging, Oid(a + "1.10.0.0.5")), std::string("\x0A\x00\x00\x05", 4));
    EXPECT_EQ(TypedAt(m_Staging, Oid(a + "1.10.0.0.5")).first, MIBTYPE_IPADDRESS);
    EXPECT_EQ(IntAt(m_Staging, Oid(a + "2.10.0.0.5")), 3);
    EXPECT_EQ(TextAt(m_Staging, Oid(a + "3.10.0.0.5")), std::string("\xFF\xFF\xFF\x00", 4));
    EXPECT_EQ(IntAt(m_Staging, Oid(a + "4.10.0.0.5")), 1);
    EXPECT_EQ(IntAt(m_Staging, Oid(a + "5.10.0.0.5")), 65535);

    const std::string r = ".1.3.6.1.2.1.4.21.1.";
    EXPECT_EQ(IntAt(m_Staging, Oid(r + "2.192.168.7.0")), 4); // the later route
    EXPECT_EQ(IntAt(m_Staging, Oid(r + "3.192.168.7.0")), 25);
    EXPECT_EQ(TextAt(m_Staging, Oid(r + "7.192.168.7.0")), std::string("\xC0\xA8\x07\x01", 4));
    EXPECT_EQ(IntAt(m_Staging, Oid(r + "8.192.168.7.0")), 4);
    EXPECT_EQ(IntAt(m_Staging, Oid(r + "9.192.168.7.0")), 3);
    EXPECT_EQ(TextAt(m_Staging, Oid(r + "11.192.168.7.0")), std::string("\xFF\xFF\xFF\x00", 4));
    EXPECT_EQ(TypedAt(m_Staging, Oid(r + "13.192.168.7.0")).first, MIBTYPE_OID);
    EXPECT_EQ(CountBelow(m_Staging, Oid(r + "1")), 1u);
}

TEST_F(Mib2Test, Ipv6AddressRowsCountEveryUnicastEntry)
{
    s_Tables.ipv6 = {{"2001:db8::5", "", "fe80::1"}, {"::1"}};
    Collect();
    const std::string t = ".1.3.6.1.2.1.4.34.1.2.";
    EXPECT_EQ(TextAt(m_Staging, Oid(t + "1")), "2001:db8::5");
    EXPECT_EQ(TextAt(m_Staging, Oid(t + "2")), std::nullopt);
    EXPECT_EQ(TextAt(m_Staging, Oid(t + "3")), "fe80::1");
    EXPECT_EQ(TextAt(m_Staging, Oid(t + "4")), "::1");
    EXPECT_EQ(CountBelow(m_Staging, Oid(".1.3.6.1.2.1.4.34")), 3u);
}

// The system's own tables under Wine: the interfaces group has a row per interface of the host.
TEST_F(Mib2Test, SystemTables)
{
    MIB2DataCollector::Sources = kSystemMib2Sources;
    MIB_IFTABLE *table = AllocIfTable();
    ASSERT_NE(nullptr, table);
    const DWORD rows = table->dwNumEntries;
    free(table);
    Collect();
    EXPECT_EQ(IntAt(m_Staging, Oid(".1.3.6.1.2.1.2.1.0")), static_cast<int32_t>(rows));
    EXPECT_EQ(CountBelow(m_Staging, Oid(".1.3.6.1.2.1.2.2.1.1")), rows);
    EXPECT_GE(CountBelow(m_Staging, Oid(".1.3.6.1.2.1.4.21.1.1")), 1u);
    EXPECT_EQ(TypedAt(m_Staging, Oid(".1.3.6.1.2.1.4.2.0")).first, MIBTYPE_INTEGER);
}

} // namespace
