#include "iphelper.h"

#include <algorithm>
#include <cstdlib>

void MapIfOperStatus(MIB_IFROW *row)
{
    DWORD state;
    if (row->dwAdminStatus == 2)
        state = kIfOperAdminDown;
    else if (row->dwAdminStatus == 3)
        state = kIfOperTesting;
    else if (row->dwOperStatus == 4 || row->dwOperStatus == 5)
        state = kIfOperUp;
    else if (row->dwOperStatus <= 3)
        state = kIfOperDown;
    else
        state = kIfOperUnknown;
    row->dwOperStatus = state;
}

void *AllocIpHelperBlock(const IPHELPER_READ &read, DWORD needMore)
{
    ULONG size = 0;
    if (read(nullptr, &size) != needMore || size == 0)
        return nullptr;
    for (int attempt = 1; attempt < kIpHelperReadAttempts; ++attempt) {
        void *block = malloc(size);
        if (block == nullptr)
            return nullptr;
        ULONG given = size;
        DWORD result = read(block, &size);
        if (result == NO_ERROR)
            return block;
        free(block);
        // Grown since the size query: read again with what it needs now.
        if (result != needMore || size <= given)
            return nullptr;
    }
    return nullptr;
}

MIB_IFTABLE *AllocIfTableWith(DWORD(WINAPI *getIfTable)(PMIB_IFTABLE, PULONG, BOOL), BOOL sort)
{
    return static_cast<MIB_IFTABLE *>(AllocIpHelperBlock(
        [&](void *buffer, ULONG *size) { return getIfTable(static_cast<MIB_IFTABLE *>(buffer), size, sort); },
        ERROR_INSUFFICIENT_BUFFER));
}

MIB_IFTABLE *AllocIfTable()
{
    MIB_IFTABLE *table = AllocIfTableWith(&GetIfTable, TRUE);
    if (table != nullptr)
        for (DWORD i = 0; i < table->dwNumEntries; ++i)
            MapIfOperStatus(&table->table[i]);
    return table;
}

MIB_IPADDRTABLE *AllocIpAddrTable()
{
    return static_cast<MIB_IPADDRTABLE *>(AllocIpHelperBlock(
        [](void *buffer, ULONG *size) { return GetIpAddrTable(static_cast<MIB_IPADDRTABLE *>(buffer), size, TRUE); },
        ERROR_INSUFFICIENT_BUFFER));
}

MIB_IPFORWARDTABLE *AllocIpForwardTable()
{
    return static_cast<MIB_IPFORWARDTABLE *>(AllocIpHelperBlock(
        [](void *buffer, ULONG *size) {
            return GetIpForwardTable(static_cast<MIB_IPFORWARDTABLE *>(buffer), size, FALSE);
        },
        ERROR_INSUFFICIENT_BUFFER));
}

namespace {

IP_ADAPTER_ADDRESSES *AllocAddresses(ULONG family, ULONG flags)
{
    return static_cast<IP_ADAPTER_ADDRESSES *>(AllocIpHelperBlock(
        [&](void *buffer, ULONG *size) {
            return GetAdaptersAddresses(family, flags, nullptr, static_cast<IP_ADAPTER_ADDRESSES *>(buffer), size);
        },
        ERROR_BUFFER_OVERFLOW));
}

} // namespace

IP_ADAPTER_ADDRESSES *AllocIpv6AdapterAddresses()
{
    // Wine fails the call with DNS servers asked for (error 9852); no caller reads them.
    return AllocAddresses(AF_INET6, GAA_FLAG_INCLUDE_PREFIX | GAA_FLAG_SKIP_DNS_SERVER);
}

IP_ADAPTER_ADDRESSES *AllocAdapterAddresses()
{
    return AllocAddresses(AF_UNSPEC,
                          GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_INCLUDE_ALL_INTERFACES);
}

std::string IfRowDescription(const MIB_IFROW &row, size_t maxChars)
{
    size_t length = std::min<size_t>({row.dwDescrLen, sizeof row.bDescr, maxChars});
    const char *text = reinterpret_cast<const char *>(row.bDescr);
    return std::string(text, std::find(text, text + length, '\0'));
}

DWORD IfRowPhysAddrLength(const MIB_IFROW &row)
{
    return std::min<DWORD>(row.dwPhysAddrLen, sizeof row.bPhysAddr);
}
