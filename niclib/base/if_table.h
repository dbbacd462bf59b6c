#pragma once
// A snapshot of the interface table and the IPv4 address table, the filter of the rows the
// library models, the matching of two snapshots, and the small utilities of the adapter code.

#include "nic_common.h"
#include "nic_platform.h"

#include <string>

class CIFTable {
public:
    CIFTable() = default;
    virtual ~CIFTable();
    CIFTable(const CIFTable &) = delete;
    CIFTable &operator=(const CIFTable &) = delete;

    // 0, or the error of the interface-table read (nonzero also when no memory was left).
    DWORD Init();
    DWORD GetEntryCount() const { return m_EntryCount; }
    MIB_IFROW *GetRow(DWORD i) { return &m_IfTable->table[i]; }
    MIB_IPADDRTABLE *GetIpAddrTable() const { return m_IpAddrTable; }

    int IsRealInterface(DWORD i) const;
    // 1 when this table holds a row that matches the other table's row (see the .cpp).
    int ContainsRow(const MIB_IFROW *row);
    DWORD FindLastIndexOfType(DWORD type) const;
    // The first row with the same hardware address; that row is used up (its address length
    // becomes 0). 0 when none.
    DWORD FindRowByAddress(const MIB_IFROW *row);

private:
    MIB_IFTABLE *m_IfTable = nullptr;
    DWORD m_EntryCount = 0;
    MIB_IPADDRTABLE *m_IpAddrTable = nullptr;
};

// The row's description in wide text, bounded by its declared length and its field.
std::wstring InterfaceDescription(const MIB_IFROW &row);

HANDLE OpenDevice(const wchar_t *path);
int CompareBytes(const void *a, const void *b, unsigned n);
DWORD MyGetIfTable(MIB_IFTABLE *buffer, ULONG *size, BOOL sorted);
DWORD GetIPAddressTable(MIB_IPADDRTABLE **out);
// The interface's configured IPv4 address (network byte order), 0 when none.
DWORD GetInterfaceIPAddress(const wchar_t *guid);
int IsDhcpEnabled(const wchar_t *guid);
// Converts the first *length characters to the ANSI code page over the start of the same buffer;
// *length becomes the bytes written (not terminated). 0, 122 or the conversion's error.
DWORD WideToAnsiInPlace(wchar_t *text, int *length);
const wchar_t *FindSubstring(const wchar_t *text, const wchar_t *pattern);
