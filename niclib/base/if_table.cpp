#include "if_table.h"

#include "common_log.h"
#include "nic_text.h"
#include "registry_key.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

constexpr wchar_t kTcpipInterfacesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";

// The Tcpip key of one interface, opened without logging a missing one.
CRegistryKey OpenTcpipInterface(const wchar_t *guid)
{
    CRegistryKey interfaces = g_LocalMachineKey.OpenKey(kTcpipInterfacesKey, KEY_READ, 0, 0);
    if (!interfaces.IsOpen())
        return CRegistryKey();
    return interfaces.OpenKey(guid, KEY_READ, 0, 0);
}

} // namespace

CIFTable::~CIFTable()
{
    std::free(m_IfTable);
    std::free(m_IpAddrTable);
}

DWORD CIFTable::Init()
{
    std::free(m_IfTable);
    m_IfTable = nullptr;
    m_EntryCount = 0;
    ULONG size = 0;
    DWORD result = MyGetIfTable(nullptr, &size, TRUE);
    if (result == ERROR_INSUFFICIENT_BUFFER) {
        m_IfTable = static_cast<MIB_IFTABLE *>(std::malloc(size));
        if (m_IfTable == nullptr) {
            ZdtNicMgmtReportError(static_cast<int>(kNicAllocationFailed), nullptr, 0);
            ZdtNicMgmtReportError(kNicReportedError, "CIFTable::Init: malloc of IFTable failed", 0);
            // Never 0: the generation must fail rather than run on a table it never read.
            result = kNicAllocationFailed;
        } else {
            result = MyGetIfTable(m_IfTable, &size, TRUE);
            if (result == NO_ERROR) {
                m_EntryCount = m_IfTable->dwNumEntries;
            } else {
                std::free(m_IfTable);
                m_IfTable = nullptr;
            }
        }
    } else {
        ZdtNicMgmtReportError(kNicReportedError, "CIFTable::Init: unexpected error in getiftable", 0);
    }

    std::free(m_IpAddrTable);
    m_IpAddrTable = nullptr;
    if (GetIPAddressTable(&m_IpAddrTable) != NO_ERROR)
        ZdtNicMgmtReportError(kNicReportedError, "GetIPAddressTable Failed. VLAN ip address assignment could be incorrect",
                              0);
    return result;
}

std::wstring InterfaceDescription(const MIB_IFROW &row)
{
    size_t length = InterfaceDescriptionLength(row.bDescr, sizeof(row.bDescr), row.dwDescrLen);
    if (length == 0)
        return {};
    int chars = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char *>(row.bDescr), static_cast<int>(length),
                                    nullptr, 0);
    if (chars <= 0)
        return {};
    std::wstring text(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char *>(row.bDescr), static_cast<int>(length), text.data(),
                        chars);
    return text;
}

int CIFTable::IsRealInterface(DWORD i) const
{
    if (m_IfTable == nullptr || i >= m_EntryCount)
        return 0;
    const MIB_IFROW &row = m_IfTable->table[i];
    if (row.dwType != kIfTypeEthernetCsmacd && row.dwType != kIfTypeSoftwareLoopback)
        return 0;
    return IsRealInterfaceDescription(row.dwType, row.dwSpeed, InterfaceDescription(row));
}

DWORD CIFTable::FindLastIndexOfType(DWORD type) const
{
    DWORD index = 0;
    for (DWORD i = 0; i < m_EntryCount; ++i)
        if (m_IfTable->table[i].dwType == type)
            index = m_IfTable->table[i].dwIndex;
    return index;
}

DWORD CIFTable::FindRowByAddress(const MIB_IFROW *row)
{
    DWORD length = row->dwPhysAddrLen < MAXLEN_PHYSADDR ? row->dwPhysAddrLen : MAXLEN_PHYSADDR;
    for (DWORD i = 0; i < m_EntryCount; ++i) {
        MIB_IFROW &candidate = m_IfTable->table[i];
        if (candidate.dwPhysAddrLen == row->dwPhysAddrLen && CompareBytes(candidate.bPhysAddr, row->bPhysAddr, length)) {
            candidate.dwPhysAddrLen = 0; // used up: a second row with this address finds the next one
            return candidate.dwIndex;
        }
    }
    return 0;
}

int CIFTable::ContainsRow(const MIB_IFROW *row)
{
    if (row->dwType == kIfTypeSoftwareLoopback)
        return FindLastIndexOfType(kIfTypeSoftwareLoopback) == row->dwIndex;
    return FindRowByAddress(row) == row->dwIndex;
}

HANDLE OpenDevice(const wchar_t *path)
{
    HANDLE device = Nic().CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        LOG_WARNING(L"OpenDevice", L"CreateFile for device %s returned %d", path, static_cast<int>(GetLastError()));
    return device;
}

int CompareBytes(const void *a, const void *b, unsigned n)
{
    return n > 0 && std::memcmp(a, b, n) == 0 ? 1 : 0;
}

DWORD MyGetIfTable(MIB_IFTABLE *buffer, ULONG *size, BOOL sorted)
{
    DWORD result = Nic().GetIfTable(buffer, size, sorted);
    if (result == NO_ERROR)
        LOG_VERBOSE(L"MyGetIfTable", L"Succeed to get MIB2 interface table. NumEntries: %d",
                    buffer != nullptr ? static_cast<int>(buffer->dwNumEntries) : 0);
    else if (result != ERROR_INSUFFICIENT_BUFFER)
        LOG_WARNING(L"MyGetIfTable", L"GetIfTable returned %d", static_cast<int>(result));
    return result;
}

DWORD GetIPAddressTable(MIB_IPADDRTABLE **out)
{
    *out = nullptr;
    ULONG size = 0;
    DWORD result = Nic().GetIpAddrTable(nullptr, &size, FALSE);
    if (result != ERROR_INSUFFICIENT_BUFFER) {
        LOG_WARNING(L"GetIPAddressTable", L"GetIpAddrTable returned %d", static_cast<int>(result));
        // A table that cannot be read is never success, even when the system said so.
        return result != NO_ERROR ? result : ERROR_INVALID_DATA;
    }
    MIB_IPADDRTABLE *table = static_cast<MIB_IPADDRTABLE *>(std::malloc(size));
    if (table == nullptr) {
        LOG_WARNING(L"GetIPAddressTable", L"Failed to allocate ip table. Return code: %d",
                    static_cast<int>(GetLastError()));
        return kNicAllocationFailed;
    }
    result = Nic().GetIpAddrTable(table, &size, FALSE);
    if (result != NO_ERROR) {
        LOG_WARNING(L"GetIPAddressTable", L"GetIpAddrTable returned: %d", static_cast<int>(result));
        std::free(table);
        return result;
    }
    *out = table;
    return NO_ERROR;
}

// "EnableDHCP" of an interface's open Tcpip key: 1 when it is a REG_DWORD 1 (a missing value
// means a static address).
static int ReadEnableDhcp(CRegistryKey *key)
{
    DWORD dhcp = 0;
    key->GetDWORDValue(L"EnableDHCP", &dhcp, 1);
    return key->GetError() == ERROR_SUCCESS && dhcp == 1 ? 1 : 0;
}

DWORD GetInterfaceIPAddress(const wchar_t *guid)
{
    CRegistryKey key = OpenTcpipInterface(guid);
    if (!key.IsOpen())
        return 0;
    const wchar_t *valueName = ReadEnableDhcp(&key) ? L"DhcpIPAddress" : L"IPAddress";
    DWORD size = key.GetValueSize(valueName, 1);
    if (size == 0)
        return 0;
    // Room for the whole value and a terminator, whatever the registry holds.
    std::vector<wchar_t> text(static_cast<size_t>(size) / sizeof(wchar_t) + 1);
    key.GetStringValue(valueName, text.data(), text.size(), 1);
    IN_ADDR address = {};
    if (InetPtonW(AF_INET, text.data(), &address) != 1)
        return 0;
    return address.S_un.S_addr;
}

int IsDhcpEnabled(const wchar_t *guid)
{
    CRegistryKey key = OpenTcpipInterface(guid);
    return key.IsOpen() ? ReadEnableDhcp(&key) : 0;
}

DWORD WideToAnsiInPlace(wchar_t *text, int *length)
{
    if (*length <= 0) {
        *length = 0;
        return NO_ERROR;
    }
    constexpr size_t kStackBytes = 1024;
    char stackBuffer[kStackBytes];
    size_t needed = static_cast<size_t>(*length) + 16;
    char *work = needed <= kStackBytes ? stackBuffer : static_cast<char *>(std::malloc(needed));
    if (work == nullptr)
        return ERROR_INSUFFICIENT_BUFFER;
    // The bytes go over the wide characters they came from: never more than *length of them.
    int written = WideCharToMultiByte(CP_ACP, 0, text, *length, work, *length, nullptr, nullptr);
    DWORD result = NO_ERROR;
    if (written <= 0) {
        result = GetLastError();
        written = 0;
    } else {
        std::memcpy(text, work, static_cast<size_t>(written));
    }
    *length = written;
    if (work != stackBuffer)
        std::free(work);
    return result;
}

const wchar_t *FindSubstring(const wchar_t *text, const wchar_t *pattern)
{
    return std::wcsstr(text, pattern);
}
