// The IP Helper readers: the state mapping, the read that retries when a table grows, the bounded
// reads of a row's text and address, and the real tables as Wine reports the host's interfaces.
#include "iphelper.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

TEST(MapIfOperStatus, AdministrativeStateFirstThenOperationalState)
{
    struct Case {
        DWORD admin, oper, mapped;
    } cases[] = {
        {2, 5, kIfOperAdminDown}, {2, 0, kIfOperAdminDown}, {3, 5, kIfOperTesting}, {3, 0, kIfOperTesting},
        {1, 4, kIfOperUp},        {1, 5, kIfOperUp},        {1, 0, kIfOperDown},    {1, 1, kIfOperDown},
        {1, 2, kIfOperDown},      {1, 3, kIfOperDown},      {1, 6, kIfOperUnknown}, {1, 99, kIfOperUnknown},
        {0, 5, kIfOperUp},
    };
    for (const Case &c : cases) {
        MIB_IFROW row{};
        row.dwAdminStatus = c.admin;
        row.dwOperStatus = c.oper;
        MapIfOperStatus(&row);
        EXPECT_EQ(row.dwOperStatus, c.mapped) << "admin " << c.admin << " oper " << c.oper;
    }
}

// A reader whose table has `sizes[i]` bytes at its i-th call; a read into a smaller block answers
// needMore with the size of that moment, as the system does when a table grows in between.
struct GrowingTable {
    std::vector<ULONG> sizes;
    DWORD firstAnswer = ERROR_INSUFFICIENT_BUFFER;
    DWORD failWith = NO_ERROR;
    int calls = 0;
    DWORD operator()(void *buffer, ULONG *size)
    {
        ULONG now = sizes[std::min<size_t>(calls, sizes.size() - 1)];
        ++calls;
        if (buffer == nullptr) {
            *size = now;
            return firstAnswer;
        }
        if (failWith != NO_ERROR)
            return failWith;
        if (*size < now) {
            *size = now;
            return ERROR_INSUFFICIENT_BUFFER;
        }
        std::memset(buffer, 0xAB, now);
        return NO_ERROR;
    }
};

TEST(AllocIpHelperBlock, ReadsAgainWhileTheTableGrowsThenGivesUp)
{
    struct Case {
        const char *name;
        GrowingTable table;
        bool read;
        int calls;
    } cases[] = {
        {"steady", {{64}}, true, 2},
        {"grew once", {{64, 96}}, true, 3},
        {"grew twice", {{64, 96, 128}}, true, 4},
        {"never stops growing", {{64, 96, 128, 160, 192, 224}}, false, 4},
        {"size query answers success", {{64}, NO_ERROR}, false, 1},
        {"size query fails", {{64}, ERROR_NOT_SUPPORTED}, false, 1},
        {"read fails", {{64}, ERROR_INSUFFICIENT_BUFFER, ERROR_NOT_SUPPORTED}, false, 2},
        {"shrinks then claims more room", {{64, 32}}, true, 2},
    };
    for (Case &c : cases) {
        GrowingTable &table = c.table;
        void *block = AllocIpHelperBlock(std::ref(table), ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(block != nullptr, c.read) << c.name;
        EXPECT_EQ(table.calls, c.calls) << c.name;
        free(block);
    }
}

TEST(IfRowText, DescriptionAndAddressStayInsideTheRow)
{
    MIB_IFROW row{};
    std::memset(row.bDescr, 'a', sizeof row.bDescr);
    struct Case {
        DWORD stated;
        size_t max;
        size_t length;
    } cases[] = {{0, 255, 0}, {10, 255, 10}, {255, 255, 255}, {256, 255, 255}, {100000, 255, 255},
                 {100000, 100000, sizeof row.bDescr}, {12, 5, 5}};
    for (const Case &c : cases) {
        row.dwDescrLen = c.stated;
        EXPECT_EQ(IfRowDescription(row, c.max).size(), c.length) << c.stated;
    }
    // The stated length usually counts the terminating NUL; the text ends there.
    std::memcpy(row.bDescr, "eth0\0junk", 9);
    row.dwDescrLen = 9;
    EXPECT_EQ(IfRowDescription(row), "eth0");

    for (DWORD stated : {0u, 6u, 8u, 9u, 0xFFFFFFFFu}) {
        row.dwPhysAddrLen = stated;
        EXPECT_EQ(IfRowPhysAddrLength(row), std::min<DWORD>(stated, MAXLEN_PHYSADDR)) << stated;
    }
}

TEST(IpHelperReaders, ReadTheHostTables)
{
    MIB_IFTABLE *interfaces = AllocIfTable();
    ASSERT_NE(interfaces, nullptr);
    ASSERT_GE(interfaces->dwNumEntries, 1u);  // at least the loopback interface
    bool loopback = false;
    for (DWORD i = 0; i < interfaces->dwNumEntries; ++i) {
        const MIB_IFROW &row = interfaces->table[i];
        const DWORD state = row.dwOperStatus;
        EXPECT_TRUE(state == kIfOperUp || state == kIfOperDown || state == kIfOperTesting ||
                    state == kIfOperUnknown || state == kIfOperAdminDown)
            << state;
        if (i > 0) {
            EXPECT_LT(interfaces->table[i - 1].dwIndex, row.dwIndex) << "sorted by index";
        }
        loopback |= row.dwType == IF_TYPE_SOFTWARE_LOOPBACK;
    }
    EXPECT_TRUE(loopback);

    MIB_IPADDRTABLE *addresses = AllocIpAddrTable();
    ASSERT_NE(addresses, nullptr);
    bool localhost = false;
    for (DWORD i = 0; i < addresses->dwNumEntries; ++i)
        localhost |= addresses->table[i].dwAddr == htonl(INADDR_LOOPBACK);
    EXPECT_TRUE(localhost);
    free(addresses);

    // A host without routes answers that there is nothing to read; every route it has leaves
    // through one of its interfaces.
    MIB_IPFORWARDTABLE *routes = AllocIpForwardTable();
    for (DWORD i = 0; routes != nullptr && i < routes->dwNumEntries; ++i) {
        bool known = false;
        for (DWORD j = 0; j < interfaces->dwNumEntries; ++j)
            known |= interfaces->table[j].dwIndex == routes->table[i].dwForwardIfIndex;
        EXPECT_TRUE(known) << routes->table[i].dwForwardIfIndex;
    }
    free(routes);
    free(interfaces);

    IP_ADAPTER_ADDRESSES *all = AllocAdapterAddresses();
    ASSERT_NE(all, nullptr);
    EXPECT_NE(all->AdapterName, nullptr);
    free(all);
    free(AllocIpv6AdapterAddresses());  // null on a host without IPv6; either way nothing leaks
}

} // namespace
