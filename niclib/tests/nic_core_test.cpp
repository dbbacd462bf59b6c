// The NIC library's registry key, interface table, TCP/IP settings and condition table, on the
// real registry of the test prefix and on described hosts.
#include "nic_test_support.h"

#include "common_log.h"
#include "if_table.h"
#include "nic_fixture.h"
#include "nic_records.h"
#include "registry.h"
#include "registry_key.h"
#include "trap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

using namespace nictest;

namespace {

constexpr wchar_t kTestKey[] = L"SYSTEM\\NicCoreTest";

class NicCoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_LogPath = ConfigureVerboseLog(L"nic-core-log");
        s_CommonLog.LogInit(L"TLM", L"NETVARDL");
    }
    void SetUp() override { DeleteTree(kTestKey); }
    void TearDown() override { DeleteTree(kTestKey); }

    static std::wstring s_LogPath;
};
std::wstring NicCoreTest::s_LogPath;

// ---- registry key ----------------------------------------------------------------------------

TEST_F(NicCoreTest, DwordReadsOnlyFourByteDwords)
{
    const uint8_t eight[8] = {1, 0, 0, 0, 2, 0, 0, 0};
    const uint8_t two[2] = {5, 0};
    SetDword(kTestKey, L"Four", 42);
    SetValue(kTestKey, L"Eight", REG_DWORD, eight, sizeof(eight));
    SetValue(kTestKey, L"Two", REG_DWORD, two, sizeof(two));
    SetValue(kTestKey, L"Text", REG_SZ, L"42", 6);
    CRegistryKey key = g_LocalMachineKey.OpenKey(kTestKey, KEY_READ);
    ASSERT_TRUE(key.IsOpen());

    struct Case {
        const wchar_t *name;
        DWORD value;
        LONG error;
    };
    const Case cases[] = {
        {L"Four", 42, ERROR_SUCCESS},
        {L"Eight", 0, ERROR_SUCCESS}, // another size reads as 0, like another type
        {L"Two", 0, ERROR_SUCCESS},
        {L"Text", 0, ERROR_SUCCESS},
        {L"Missing", 0, ERROR_FILE_NOT_FOUND},
    };
    for (const Case &c : cases) {
        DWORD value = 0xDEAD;
        key.GetDWORDValue(c.name, &value, 0);
        EXPECT_EQ(c.value, value) << c.name;
        EXPECT_EQ(c.error, key.GetError()) << c.name;
    }
    // A missing value is logged once by the size query, even when the caller asked for no log.
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CRegistryKey::GetValueSize"),
                          L"Can't get data size. value_name: Missing Return code: 2"));
}

TEST_F(NicCoreTest, StringValueIsBoundedByTheCapacityAndTerminated)
{
    const wchar_t multi[] = L"first\0second\0";
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    SetValue(kTestKey, L"Sz", REG_SZ, L"abcdef", 14);
    SetValue(kTestKey, L"Multi", REG_MULTI_SZ, multi, sizeof(multi));
    SetValue(kTestKey, L"Raw", REG_SZ, unterminated, sizeof(unterminated));
    SetDword(kTestKey, L"Dword", 7);
    CRegistryKey key = g_LocalMachineKey.OpenKey(kTestKey, KEY_READ);

    struct Case {
        const wchar_t *name;
        size_t capacity;
        const wchar_t *text;
    };
    const Case cases[] = {
        {L"Sz", 64, L"abcdef"}, {L"Sz", 4, L"abc"},  {L"Sz", 1, L""},     {L"Multi", 64, L"first"},
        {L"Raw", 64, L"abc"},   {L"Dword", 64, L""}, {L"Missing", 64, L""},
    };
    for (const Case &c : cases) {
        wchar_t buffer[65];
        std::fill(std::begin(buffer), std::end(buffer), L'#');
        key.GetStringValue(c.name, buffer, c.capacity, 0);
        EXPECT_STREQ(c.text, buffer) << c.name << " " << c.capacity;
        EXPECT_EQ(L'#', buffer[c.capacity]) << "written past the capacity: " << c.name;
    }
}

TEST_F(NicCoreTest, QueryValueGivesNullForAValueItCannotRead)
{
    SetDword(kTestKey, L"Value", 1);
    // A key opened without the right to query: no buffer, whatever log says.
    CRegistryKey key = g_LocalMachineKey.OpenKey(kTestKey, KEY_SET_VALUE);
    for (int log : {0, 1}) {
        DWORD type = 0xAA;
        DWORD size = 0xBB;
        EXPECT_EQ(nullptr, key.QueryValue(L"Value", &type, &size, log));
        EXPECT_NE(ERROR_SUCCESS, key.GetError());
    }
}

TEST_F(NicCoreTest, KeysOpenCreateEnumerateAndDelete)
{
    CRegistryKey root = g_LocalMachineKey.CreateKey(kTestKey, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS);
    ASSERT_TRUE(root.IsOpen());
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), g_LocalMachineKey.GetDisposition());
    CRegistryKey again = g_LocalMachineKey.CreateKey(kTestKey, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS);
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), g_LocalMachineKey.GetDisposition());

    // Below a volatile key only volatile keys can be made.
    CRegistryKey stable = root.CreateKey(L"Stable", nullptr, 0, KEY_ALL_ACCESS);
    EXPECT_FALSE(stable.IsOpen());
    EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE, root.GetError());
    EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE, stable.GetError());

    CRegistryKey a = root.CreateKey(L"A", nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS);
    CRegistryKey b = root.CreateKey(L"B", nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS);
    CRegistryKey child = a.CreateKey(L"Child", nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS);
    ASSERT_TRUE(child.IsOpen());

    CRegistryKey reader = g_LocalMachineKey.OpenKey(kTestKey, KEY_READ);
    std::set<std::wstring> names;
    for (int i = 0; i < 2; ++i) {
        reader.EnumSubKey();
        ASSERT_EQ(ERROR_SUCCESS, reader.GetError());
        names.insert(reader.GetEnumName());
    }
    reader.EnumSubKey();
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, reader.GetError());
    EXPECT_EQ((std::set<std::wstring>{L"A", L"B"}), names);

    root.DeleteKey(L"A"); // has a subkey: refused
    EXPECT_NE(ERROR_SUCCESS, root.GetError());
    EXPECT_TRUE(g_LocalMachineKey.OpenKey((std::wstring(kTestKey) + L"\\A").c_str(), KEY_READ, 0, 0).IsOpen());
    root.DeleteKey(L"B");
    EXPECT_EQ(ERROR_SUCCESS, root.GetError());

    CRegistryKey missing = g_LocalMachineKey.OpenKey(L"SYSTEM\\NicCoreTest\\Nowhere", KEY_READ, 0, 1);
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, missing.GetError());
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CRegistryKey::OpenKey"),
                          L"Can't open registry key: SYSTEM\\NicCoreTest\\Nowhere Return code: 2"));
}

TEST_F(NicCoreTest, RecordsRoundTripThroughTheServiceRegistryClass)
{
    CRegistryKey key = g_LocalMachineKey.CreateKey(kTestKey, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS);
    for (uint32_t index = 1; index <= 3; ++index) {
        PHYSADAPTERRECORD record = {};
        record.PhysicalIndex = index;
        record.Slot = static_cast<int32_t>(index * 10);
        std::snprintf(record.Name, sizeof(record.Name), "Port %u", index);
        ASSERT_EQ(ERROR_SUCCESS, key.SetRegistryValue(FormatRecordValueNameW(kPhysAdapterPrefix, index).c_str(),
                                                      REG_BINARY, &record, sizeof(record)));
    }
    CRegistry reader(HKEY_LOCAL_MACHINE, kTestKey);
    DWORD length = 0, largest = 0, count = 0;
    ASSERT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), reader.GetAllValueData(nullptr, &length, &largest, &count));
    std::vector<uint8_t> buffer(length);
    ASSERT_EQ(0u, reader.GetAllValueData(buffer.data(), &length, &largest, &count));
    EXPECT_EQ(3u, count);
    EXPECT_EQ(sizeof(PHYSADAPTERRECORD), largest);
    size_t trailing = 99;
    std::vector<PHYSADAPTERRECORD> records = DecodeRecordArray<PHYSADAPTERRECORD>(buffer.data(), length, &trailing);
    EXPECT_EQ(0u, trailing);
    ASSERT_EQ(3u, records.size());
    std::set<std::pair<uint32_t, std::string>> seen; // the registry's order is its own
    for (const PHYSADAPTERRECORD &record : records) {
        EXPECT_EQ(static_cast<int32_t>(record.PhysicalIndex * 10), +record.Slot);
        seen.insert({record.PhysicalIndex, RecordText(record.Name)});
    }
    EXPECT_EQ((std::set<std::pair<uint32_t, std::string>>{{1, "Port 1"}, {2, "Port 2"}, {3, "Port 3"}}), seen);
}

// ---- interface table -------------------------------------------------------------------------

NicHostInterface Row(uint32_t index, uint32_t type, uint32_t speed, std::vector<uint8_t> mac, std::string descr,
                     int64_t descrLen = -1)
{
    NicHostInterface row;
    row.index = index;
    row.type = type;
    row.speed = speed;
    row.mac = std::move(mac);
    row.description = std::move(descr);
    row.descrLen = descrLen;
    return row;
}

const std::vector<uint8_t> kMacA = {0, 0x11, 0x22, 0x33, 0x44, 0x55};
const std::vector<uint8_t> kMacB = {0, 0x11, 0x22, 0x33, 0x44, 0x66};

TEST_F(NicCoreTest, RealInterfacesOfADescribedTable)
{
    NicFixture fixture;
    const std::string full(256, 'N'); // a whole field without a NUL
    fixture.Host().interfaces = {
        Row(1, 24, 0, {}, "Software Loopback Interface 1"),
        Row(2, 6, 1000000000, kMacA, "Intel NIC"),
        Row(3, 6, 0, kMacB, "Intel NIC"),
        Row(4, 6, 1000000000, kMacB, "Intel NIC Virtual", 9), // the row says 9 bytes: "Intel NIC"
        Row(5, 6, 1000000000, kMacB, "Hyper-V Virtual Ethernet Adapter"),
        Row(6, 6, 1000000000, kMacB, full, 256),
        Row(7, 6, 1000000000, kMacB, full, 5000), // a length past the field
        Row(8, 71, 1000000000, kMacB, "Wireless"),
    };
    fixture.Install();
    CIFTable table;
    ASSERT_EQ(0u, table.Init());
    ASSERT_EQ(8u, table.GetEntryCount());
    const int expected[] = {1, 1, 0, 1, 0, 1, 1, 0};
    for (DWORD i = 0; i < 8; ++i)
        EXPECT_EQ(expected[i], table.IsRealInterface(i)) << "row " << table.GetRow(i)->dwIndex;
    EXPECT_EQ(full, [&] {
        std::wstring text = InterfaceDescription(*table.GetRow(6));
        return std::string(text.begin(), text.end());
    }());
}

TEST_F(NicCoreTest, SnapshotsMatchRowByRow)
{
    struct Case {
        const char *what;
        std::vector<NicHostInterface> before;
        std::vector<NicHostInterface> after;
        std::vector<int> matches; // per row of before
    };
    const std::vector<NicHostInterface> two = {Row(1, 24, 0, {}, "Software Loopback Interface 1"),
                                               Row(2, 6, 1000, kMacA, "A"), Row(3, 6, 1000, kMacB, "B")};
    const Case cases[] = {
        {"unchanged", two, two, {1, 1, 1}},
        {"a MAC changed, index kept", two,
         {Row(1, 24, 0, {}, "Software Loopback Interface 1"), Row(2, 6, 1000, kMacB, "A"),
          Row(3, 6, 1000, kMacB, "B")},
         {1, 0, 0}},
        {"duplicate MACs are used up in order",
         {Row(4, 6, 1000, kMacA, "team member 1"), Row(5, 6, 1000, kMacA, "team member 2")},
         {Row(4, 6, 1000, kMacA, "team member 1"), Row(5, 6, 1000, kMacA, "team member 2")},
         {1, 1}},
        {"empty MACs never match", {Row(6, 6, 1000, {}, "tunnel")}, {Row(6, 6, 1000, {}, "tunnel")}, {0}},
        {"the loopback is the last row of its type",
         {Row(1, 24, 0, {}, "Software Loopback Interface 1")},
         {Row(1, 24, 0, {}, "Software Loopback Interface 1"), Row(9, 24, 0, {}, "Second loopback")},
         {0}},
        {"a row gone", two, {Row(1, 24, 0, {}, "Software Loopback Interface 1"), Row(2, 6, 1000, kMacA, "A")},
         {1, 1, 0}},
    };
    for (const Case &c : cases) {
        NicFixture fixture;
        fixture.Host().interfaces = c.before;
        fixture.Install();
        CIFTable before;
        ASSERT_EQ(0u, before.Init());
        fixture.Host().interfaces = c.after;
        CIFTable after;
        ASSERT_EQ(0u, after.Init());
        ASSERT_EQ(c.matches.size(), before.GetEntryCount());
        for (DWORD i = 0; i < before.GetEntryCount(); ++i)
            EXPECT_EQ(c.matches[i], after.ContainsRow(before.GetRow(i))) << c.what << ", row " << i;
    }
}

TEST_F(NicCoreTest, FailedTableReadsFailTheSnapshot)
{
    NicPlatform platform = RealNicPlatform();
    platform.GetIfTable = [](PMIB_IFTABLE, PULONG, BOOL) -> DWORD { return ERROR_NOT_SUPPORTED; };
    {
        ScopedNicPlatform scope(platform);
        CIFTable table;
        EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), table.Init());
        EXPECT_EQ(0u, table.GetEntryCount());
    }
    // A table that grows between the size query and the read: the read's error, no rows.
    platform.GetIfTable = [](PMIB_IFTABLE, PULONG size, BOOL) -> DWORD {
        *size = 4096;
        return ERROR_INSUFFICIENT_BUFFER;
    };
    {
        ScopedNicPlatform scope(platform);
        CIFTable table;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), table.Init());
        EXPECT_EQ(0u, table.GetEntryCount());
    }
}

TEST_F(NicCoreTest, WineTablesReadAndNoRowWithoutSpeedIsReal)
{
    CIFTable table;
    ASSERT_EQ(0u, table.Init());
    EXPECT_GT(table.GetEntryCount(), 0u);
    for (DWORD i = 0; i < table.GetEntryCount(); ++i) {
        const MIB_IFROW &row = *table.GetRow(i);
        if (row.dwSpeed == 0 && InterfaceDescription(row).find(L"Software Loopback Interface 1") == std::wstring::npos) {
            EXPECT_EQ(0, table.IsRealInterface(i)) << row.dwIndex;
        }
    }
    EXPECT_NE(nullptr, table.GetIpAddrTable());
}

// ---- TCP/IP settings -------------------------------------------------------------------------

TEST_F(NicCoreTest, InterfaceAddressFromTcpipSettings)
{
    const std::wstring interfaces = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\";
    struct Case {
        const wchar_t *guid;
        int dhcp; // -1: no EnableDHCP value
        const wchar_t *name;
        DWORD type;
        std::wstring data; // with its NULs
        DWORD address;
        int dhcpEnabled;
    };
    const Case cases[] = {
        {L"{00000000-0000-0000-0000-00000000000A}", 1, L"DhcpIPAddress", REG_SZ, std::wstring(L"192.168.7.9", 12),
         0x0907A8C0, 1},
        {L"{00000000-0000-0000-0000-00000000000B}", 0, L"IPAddress", REG_MULTI_SZ,
         std::wstring(L"10.1.2.3\0" L"10.1.2.4\0", 19), 0x0302010A, 0},
        {L"{00000000-0000-0000-0000-00000000000C}", -1, L"IPAddress", REG_MULTI_SZ, std::wstring(L"10.9.8.7\0", 10),
         0x0708090A, 0},
        {L"{00000000-0000-0000-0000-00000000000D}", 0, L"IPAddress", REG_SZ, std::wstring(L"10.1.2", 7), 0, 0},
        {L"{00000000-0000-0000-0000-00000000000E}", 0, L"IPAddress", REG_SZ, std::wstring(L"10.4.5.6"), 0x0605040A,
         0}, // stored without its NUL
        {L"{00000000-0000-0000-0000-00000000000F}", 1, L"IPAddress", REG_SZ, std::wstring(L"10.4.5.6", 9), 0, 1},
    };
    for (const Case &c : cases) {
        const std::wstring key = interfaces + c.guid;
        DeleteTree(key.c_str());
        if (c.dhcp >= 0)
            SetDword(key.c_str(), L"EnableDHCP", static_cast<DWORD>(c.dhcp));
        SetValue(key.c_str(), c.name, c.type, c.data.data(), static_cast<DWORD>(c.data.size() * sizeof(wchar_t)));
        EXPECT_EQ(c.address, GetInterfaceIPAddress(c.guid)) << std::string(c.guid, c.guid + wcslen(c.guid));
        EXPECT_EQ(c.dhcpEnabled, IsDhcpEnabled(c.guid));
        DeleteTree(key.c_str());
    }
    EXPECT_EQ(0u, GetInterfaceIPAddress(L"{no-such-interface}"));
    EXPECT_EQ(0, IsDhcpEnabled(L"{no-such-interface}"));
}

TEST_F(NicCoreTest, WideToAnsiInPlaceOnTheStackAndTheHeap)
{
    for (int chars : {0, 5, 1008, 1009, 4000}) {
        std::wstring text(static_cast<size_t>(chars), L'x');
        int length = chars;
        ASSERT_EQ(0u, WideToAnsiInPlace(text.data(), &length)) << chars;
        ASSERT_EQ(chars, length);
        EXPECT_EQ(std::string(static_cast<size_t>(chars), 'x'),
                  std::string(reinterpret_cast<const char *>(text.data()), static_cast<size_t>(length)));
    }
    EXPECT_EQ(0, CompareBytes("ab", "ab", 0));
    EXPECT_EQ(1, CompareBytes("ab", "ab", 2));
    EXPECT_EQ(0, CompareBytes("ab", "ac", 2));
}

// ---- condition table -------------------------------------------------------------------------

struct Adapter {
    unsigned slot, segment;
    int bus, device, function;
};

std::vector<int> Conditions(const ADAPTERCONDITIONNODE *node)
{
    std::vector<int> slots;
    for (; node != nullptr; node = node->next)
        slots.push_back(node->object->slot);
    return slots;
}

TEST_F(NicCoreTest, ConditionsOutliveGenerations)
{
    const Adapter a{1, 0, 3, 0, 0}, b{1, 0, 3, 0, 1}, c{2, 0, 4, 0, 0}, d{5, 0, 9, 0, 0};
    CTrap trap;
    for (const Adapter &x : {a, b, c})
        EXPECT_EQ(1, trap.AddAdapterToStateTable(x.slot, x.segment, x.bus, x.device, x.function));
    EXPECT_EQ((std::vector<int>{1, 1, 2}), Conditions(trap.GetCurrentHead()));
    trap.SetAdapterCondition(a.slot, a.segment, a.bus, a.device, a.function, 2);
    trap.SetAdapterCondition(b.slot, b.segment, b.bus, b.device, b.function, 4);
    trap.SetAdapterCondition(c.slot, c.segment, c.bus, c.device, c.function, 3);

    // The next generation registers in another order, without b, and with a new adapter d.
    trap.ReInit();
    EXPECT_EQ(3, trap.AddAdapterToStateTable(c.slot, c.segment, c.bus, c.device, c.function));
    EXPECT_EQ(2, trap.AddAdapterToStateTable(a.slot, a.segment, a.bus, a.device, a.function));
    EXPECT_EQ(1, trap.AddAdapterToStateTable(d.slot, d.segment, d.bus, d.device, d.function));
    EXPECT_EQ((std::vector<int>{2, 1, 5}), Conditions(trap.GetCurrentHead()));
    EXPECT_EQ((std::vector<int>{1}), Conditions(trap.GetPreviousHead())); // b waits one generation

    // b comes back a generation too late: its condition is gone.
    trap.ReInit();
    EXPECT_EQ(1, trap.AddAdapterToStateTable(b.slot, b.segment, b.bus, b.device, b.function));
    EXPECT_EQ((std::vector<int>{2, 1, 5}), Conditions(trap.GetPreviousHead()));

    // An adapter whose slot changed after it registered finds nothing and stores nothing.
    trap.SetAdapterCondition(9, 0, b.bus, b.device, b.function, 4);
    EXPECT_EQ(1, trap.GetCurrentHead()->object->condition);
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CTrap::SetAdapterCondition"),
                          L"Failed to find adapter Slot: 9 Segment: 0 Bus: 3 Device: 0 Function: 1"));
}

} // namespace
