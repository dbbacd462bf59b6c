#pragma once
// What the MIB-2 collector's tests share: IP Helper tables the tests set, the NIC library's
// records and the service's bridge values in the registry, and readers of typed values.

#include "mib2_collector.h"
#include "datastore.h"
#include "nic_records.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mib2test {

struct TABLES {
    std::vector<MIB_IFROW> ifRows;
    bool haveStats = false;
    MIB_IPSTATS stats{};
    bool haveAddrs = false;
    std::vector<MIB_IPADDRROW> addrRows;
    bool haveRoutes = false;
    std::vector<MIB_IPFORWARDROW> routes;
    // Adapters, each a list of unicast entries: an IPv6 address, or "" for an entry without one.
    std::vector<std::vector<std::string>> ipv6;
};
inline TABLES s_Tables;

// A table block of count rows after a DWORD count, from malloc, as the readers hand them out.
template <class Table, class Row> Table *TableBlock(const std::vector<Row> &rows)
{
    const size_t size = sizeof(Table) + rows.size() * sizeof(Row);
    Table *table = static_cast<Table *>(calloc(1, size));
    table->dwNumEntries = static_cast<DWORD>(rows.size());
    if (!rows.empty())
        std::memcpy(table->table, rows.data(), rows.size() * sizeof(Row));
    return table;
}

inline IP_ADAPTER_ADDRESSES *Ipv6Block()
{
    size_t adapters = s_Tables.ipv6.size(), entries = 0;
    for (const auto &adapter : s_Tables.ipv6)
        entries += adapter.size();
    if (adapters == 0)
        return nullptr;
    const size_t size =
        adapters * sizeof(IP_ADAPTER_ADDRESSES) + entries * (sizeof(IP_ADAPTER_UNICAST_ADDRESS) + sizeof(SOCKADDR_IN6));
    uint8_t *block = static_cast<uint8_t *>(calloc(1, size));
    auto *adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(block);
    auto *unicast = reinterpret_cast<IP_ADAPTER_UNICAST_ADDRESS *>(adapter + adapters);
    auto *socket = reinterpret_cast<SOCKADDR_IN6 *>(unicast + entries);
    for (size_t a = 0; a < adapters; ++a) {
        adapter[a].Next = a + 1 < adapters ? &adapter[a + 1] : nullptr;
        IP_ADAPTER_UNICAST_ADDRESS **link = &adapter[a].FirstUnicastAddress;
        for (const std::string &text : s_Tables.ipv6[a]) {
            if (!text.empty()) {
                socket->sin6_family = AF_INET6;
                inet_pton(AF_INET6, text.c_str(), &socket->sin6_addr);
                unicast->Address.lpSockaddr = reinterpret_cast<SOCKADDR *>(socket);
                unicast->Address.iSockaddrLength = sizeof *socket;
            }
            ++socket;
            *link = unicast;
            link = &unicast->Next;
            ++unicast;
        }
    }
    return reinterpret_cast<IP_ADAPTER_ADDRESSES *>(block);
}

inline MIB2_SOURCES TestSources()
{
    return MIB2_SOURCES{
        [] { return TableBlock<MIB_IFTABLE>(s_Tables.ifRows); },
        []() -> MIB_IPADDRTABLE * {
            return s_Tables.haveAddrs ? TableBlock<MIB_IPADDRTABLE>(s_Tables.addrRows) : nullptr;
        },
        []() -> MIB_IPFORWARDTABLE * {
            return s_Tables.haveRoutes ? TableBlock<MIB_IPFORWARDTABLE>(s_Tables.routes) : nullptr;
        },
        &Ipv6Block,
        [](MIB_IPSTATS *stats) -> ULONG {
            if (!s_Tables.haveStats)
                return ERROR_NOT_SUPPORTED;
            *stats = s_Tables.stats;
            return NO_ERROR;
        },
    };
}

inline std::wstring Wide(const char *text)
{
    std::wstring wide;
    for (; *text; ++text)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return wide;
}

inline DWORD Ip(BYTE a, BYTE b, BYTE c, BYTE d)
{
    return a | b << 8 | c << 16 | static_cast<DWORD>(d) << 24;
}

// A mapped interface row (operational status as AllocIfTable leaves it).
inline MIB_IFROW IfRow(DWORD index, const char *description, DWORD oper, DWORD admin)
{
    MIB_IFROW row{};
    row.dwIndex = index;
    row.dwDescrLen = static_cast<DWORD>(strlen(description)) + 1;
    std::memcpy(row.bDescr, description, row.dwDescrLen);
    row.dwOperStatus = oper;
    row.dwAdminStatus = admin;
    return row;
}

inline PHYSADAPTERRECORD PhysRecord(const char *name, uint8_t condition)
{
    PHYSADAPTERRECORD record{};
    strncpy(record.Name, name, sizeof record.Name - 1);
    record.Condition = condition;
    return record;
}

inline HKEY CreateKey(const wchar_t *path)
{
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

inline void ClearNicRegistry()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNicRootKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNicsListKey);
}

inline void SetInterfaceDataReady(int ready)
{
    HKEY key = CreateKey(kNicInterfaceKey);
    if (ready < 0) {
        RegDeleteValueW(key, kNicInterfaceDataReadyValue);
    } else {
        const DWORD value = static_cast<DWORD>(ready);
        RegSetValueExW(key, kNicInterfaceDataReadyValue, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), 4);
    }
    RegCloseKey(key);
}

inline void WriteNicsList(const std::vector<std::wstring> &descriptions)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNicsListKey);
    HKEY key = CreateKey(kNicsListKey);
    for (size_t i = 0; i < descriptions.size(); ++i)
        RegSetValueExW(key, std::to_wstring(i + 1).c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE *>(descriptions[i].c_str()),
                       static_cast<DWORD>((descriptions[i].size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

inline void WriteRawPhysValue(const wchar_t *name, DWORD type, const void *data, DWORD size)
{
    HKEY key = CreateKey(kNicPhysInterfaceKey);
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(key);
}

inline void WritePhysRecords(const std::vector<PHYSADAPTERRECORD> &records)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNicPhysInterfaceKey);
    for (size_t i = 0; i < records.size(); ++i)
        WriteRawPhysValue(FormatRecordValueNameW(kPhysAdapterPrefix, static_cast<uint32_t>(i)).c_str(), REG_BINARY,
                          &records[i], sizeof records[i]);
}

inline void SetBridge(const char *name, DWORD status)
{
    HKEY key = CreateKey(kNicInterfaceKey);
    RegSetValueExA(key, "BridgeName", 0, REG_SZ, reinterpret_cast<const BYTE *>(name),
                   static_cast<DWORD>(strlen(name) + 1));
    RegSetValueExW(key, kNicBridgeStatusValue, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&status), 4);
    RegCloseKey(key);
}

inline MIBOID Oid(const std::string &dotted)
{
    MIBOID oid;
    size_t at = dotted[0] == '.' ? 1 : 0;
    while (at < dotted.size()) {
        size_t dot = dotted.find('.', at);
        if (dot == std::string::npos)
            dot = dotted.size();
        oid.Append(static_cast<uint32_t>(std::stoul(dotted.substr(at, dot - at))));
        at = dot + 1;
    }
    return oid;
}

inline MIBOID IfCell(uint32_t column, uint32_t index)
{
    return Oid(".1.3.6.1.2.1.2.2.1." + std::to_string(column) + "." + std::to_string(index));
}

// A value's type and its 32-bit number; MIBTYPE_NONE when the store has no value there.
using TYPED = std::pair<uint16_t, uint32_t>;
inline TYPED Typed(uint16_t type, uint32_t number)
{
    return {type, number};
}
inline TYPED TypedAt(DATASTORE *store, const MIBOID &oid)
{
    TYPED found{MIBTYPE_NONE, 0};
    store->Walk(oid, s_NoEndOid, false, [&](const MIBOID &at, const MIBVALUE_REF &value) {
        if (at == oid)
            found = {value.type, value.U32()};
        return false;
    });
    return found;
}

// The number of values whose OID lies below prefix.
inline size_t CountBelow(DATASTORE *store, const MIBOID &prefix)
{
    size_t count = 0;
    store->Walk(prefix, s_NoEndOid, false, [&](const MIBOID &at, const MIBVALUE_REF &) {
        if (at.count <= prefix.count || !std::equal(prefix.subIds, prefix.subIds + prefix.count, at.subIds))
            return false;
        ++count;
        return true;
    });
    return count;
}

} // namespace mib2test
