#include "zdtnic_model.h"

#include "common_log.h"
#include "iphelper.h"
#include "nic_columns.h"
#include "nic_records.h"
#include "registry.h"
#include "text_helpers.h"
#include "zdtnic_collector.h"

#include <cfgmgr32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

MIB_IF_TABLE2 *SystemIfTable()
{
    MIB_IF_TABLE2 *table = nullptr;
    return GetIfTable2(&table) == NO_ERROR ? table : nullptr;
}
void SystemFreeIfTable(MIB_IF_TABLE2 *table) { FreeMibTable(table); }

// A fixed wide field of the interface row as a string that ends at its NUL or the field's end.
template <size_t N> std::wstring RowText(const WCHAR (&field)[N]) { return std::wstring(field, wcsnlen(field, N)); }

} // namespace

const NIC_INTERFACE_SOURCE kSystemNicInterfaceSource = {&AllocAdapterAddresses, &SystemIfTable, &SystemFreeIfTable};

void WideToRecordText(const wchar_t *text, char *out, size_t bytes)
{
    std::memset(out, 0, bytes);
    if (text == nullptr || bytes < 2)
        return;
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, out, static_cast<int>(bytes - 1), nullptr, nullptr);
    if (length <= 0) {
        // Too long for the field: as much as fits.
        const size_t chars = std::min(wcslen(text), bytes - 1);
        std::memset(out, 0, bytes);
        for (size_t cut = chars; cut > 0; --cut)
            if (WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(cut), out, static_cast<int>(bytes - 1), nullptr,
                                    nullptr) > 0)
                break;
    }
    out[bytes - 1] = '\0';
}

std::string RecordTextToUtf8(const std::string &text)
{
    if (text.empty())
        return text;
    const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0)
        return NicLatinToUtf8(text);
    std::wstring buffer(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), buffer.data(), wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return NicLatinToUtf8(text);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

// ---- IF_TABLE_SNAPSHOT -----------------------------------------------------------------------

IF_TABLE_SNAPSHOT::IF_TABLE_SNAPSHOT(const NIC_INTERFACE_SOURCE &source) : m_Source(source) {}

IF_TABLE_SNAPSHOT::~IF_TABLE_SNAPSHOT()
{
    if (m_Table != nullptr)
        m_Source.freeIfTable(m_Table);
    free(m_Addresses);
}

bool IF_TABLE_SNAPSHOT::Load()
{
    m_Addresses = m_Source.addresses();
    if (m_Addresses != nullptr)
        m_Table = m_Source.ifTable();
    if (m_Addresses != nullptr && m_Table != nullptr) {
        m_Rows.reserve(m_Table->NumEntries);
        for (ULONG i = 0; i < m_Table->NumEntries; ++i)
            m_Rows.push_back(&m_Table->Table[i]);
        std::stable_sort(m_Rows.begin(), m_Rows.end(), [](const MIB_IF_ROW2 *a, const MIB_IF_ROW2 *b) {
            return a->InterfaceIndex < b->InterfaceIndex;
        });
        m_Valid = true;
    }
    return m_Valid;
}

const IP_ADAPTER_ADDRESSES *IF_TABLE_SNAPSHOT::FindAddresses(NET_IFINDEX index) const
{
    for (const IP_ADAPTER_ADDRESSES *entry = m_Addresses; entry != nullptr; entry = entry->Next)
        if (entry->IfIndex == index)
            return entry;
    return nullptr;
}

const MIB_IF_ROW2 *IF_TABLE_SNAPSHOT::First()
{
    m_Cursor = 0;
    return m_Rows.empty() ? nullptr : m_Rows[0];
}

const MIB_IF_ROW2 *IF_TABLE_SNAPSHOT::Next()
{
    if (m_Cursor + 1 >= m_Rows.size()) {
        m_Cursor = m_Rows.size();
        return nullptr;
    }
    return m_Rows[++m_Cursor];
}

// ---- NET_ADAPTER -------------------------------------------------------------------------------

bool IsTeamInterface(const MIB_IF_ROW2 &row) { return IsTeamDescription(RowText(row.Description)); }

bool IsInterfaceOfInterest(const MIB_IF_ROW2 &row)
{
    if (row.OperStatus != IfOperStatusUp && row.OperStatus != IfOperStatusDown)
        return false;
    return row.Type == kIfTypeLoopback || (row.Type == kIfTypeEthernet && row.InterfaceAndOperStatusFlags.ConnectorPresent) ||
           IsTeamInterface(row);
}

NET_ADAPTER::NET_ADAPTER() { std::memset(static_cast<void *>(this), 0, sizeof *this); }

NET_ADAPTER::NET_ADAPTER(const MIB_IF_ROW2 &row, const IP_ADAPTER_ADDRESSES &entry) : NET_ADAPTER()
{
    Update(row, entry);
}

bool NET_ADAPTER::Update(const MIB_IF_ROW2 &row, const IP_ADAPTER_ADDRESSES &entry)
{
    InterfaceIndex = row.InterfaceIndex;
    std::memset(AdapterName, 0, sizeof AdapterName);
    if (entry.AdapterName != nullptr)
        std::strncpy(AdapterName, entry.AdapterName, sizeof AdapterName - 1);
    std::memset(&Physical, 0, sizeof Physical);
    std::memset(&Logical, 0, sizeof Logical);
    std::memset(&Device, 0, sizeof Device);
    UpdatePhysical(row);
    UpdateLogical(row);
    return IsValid();
}

void NET_ADAPTER::UpdateDevice(const MIB_IF_ROW2 &row)
{
    const std::wstring description = RowText(row.Description);
    NET_DEVICE_INFO info;
    if (!FindNetDeviceByName(&info, description.c_str())) {
        LOG_VERBOSE(L"NET_ADAPTER::UpdateDevice", L"Can't find \"%ws\"", description.c_str());
        return;
    }
    WideToRecordText(info.InstanceId.c_str(), Device.InstanceId, sizeof Device.InstanceId);
    Device.Slot = info.UiNumber;
    Device.Port = static_cast<uint32_t>(info.Function) + 1;
    const NIC_PCI_IDENTITY id = ParsePciInstanceId(Device.InstanceId);
    Device.Vendor = id.vendor;
    Device.Device = id.device;
    Device.Subsystem = id.subsystem;
}

void NET_ADAPTER::UpdatePhysical(const MIB_IF_ROW2 &row)
{
    LOG_VERBOSE(L"NET_ADAPTER::UpdatePhysical", L"OperStatus: %d Type: %d ConnectorPresent: %d",
                static_cast<int>(row.OperStatus), static_cast<int>(row.Type),
                static_cast<int>(row.InterfaceAndOperStatusFlags.ConnectorPresent));
    if ((row.OperStatus != IfOperStatusUp && row.OperStatus != IfOperStatusDown) || IsTeamInterface(row) ||
        row.Type != kIfTypeEthernet || !row.InterfaceAndOperStatusFlags.ConnectorPresent)
        return;
    Physical.Present = 1;
    UpdateDevice(row);
    std::memcpy(Physical.MacAddress, row.PhysicalAddress, sizeof Physical.MacAddress);
    Physical.Slot = Device.Slot;
    Physical.Port = Device.Port;
    LOG_VERBOSE(L"NET_ADAPTER::UpdatePhysical", L"MediaConnectState: %d", static_cast<int>(row.MediaConnectState));
    if (row.MediaConnectState == MediaConnectStateConnected) {
        Physical.LinkStatus = kAdapterLinkUp;
        Physical.DuplexState = kNicDuplexFull;
    } else if (row.MediaConnectState == MediaConnectStateDisconnected) {
        Physical.LinkStatus = kAdapterLinkDown;
        Physical.DuplexState = kNicDuplexOther;
    } else {
        Physical.LinkStatus = kAdapterLinkOther;
        Physical.DuplexState = kNicDuplexOther;
    }
    Physical.Speed = Physical.LinkStatus == kAdapterLinkUp ? row.TransmitLinkSpeed : 0;
    WideToRecordText(RowText(row.Description).c_str(), Physical.Description, sizeof Physical.Description);
    Physical.PciId = (Device.Vendor << 16) + Device.Device;
    Physical.SubsystemId = Device.Subsystem;
    LOG_VERBOSE(L"NET_ADAPTER::SetPartNumber", L"SubSysId: 0x%X", Physical.SubsystemId);
}

void NET_ADAPTER::UpdateLogical(const MIB_IF_ROW2 &row)
{
    if (!IsInterfaceOfInterest(row))
        return;
    const bool loopback = row.Type == kIfTypeLoopback;
    Logical.Present = 1;
    WideToRecordText(RowText(row.Description).c_str(), Logical.Description, sizeof Logical.Description);
    Logical.Kind = (loopback || IsTeamInterface(row)) ? 1 : 2;
    const size_t macLength = std::min<size_t>(row.PhysicalAddressLength, sizeof Logical.MacAddress);
    std::memcpy(Logical.MacAddress, row.PhysicalAddress, macLength);
    Logical.LinkState = 1;
    if (loopback)
        Logical.Status = kNicStatusOther;
    else if (row.MediaConnectState == MediaConnectStateConnected)
        Logical.Status = kNicStatusUp;
    else if (row.MediaConnectState == MediaConnectStateDisconnected)
        Logical.Status = kNicStatusDown;
    else
        Logical.Status = kNicStatusOther;
    Logical.Condition = Logical.Status == kNicStatusUp     ? kNicConditionOk
                        : Logical.Status == kNicStatusDown ? kNicConditionFailed
                                                           : kNicConditionOther;
    if (!loopback)
        WideToRecordText(RowText(row.Alias).c_str(), Logical.Alias, sizeof Logical.Alias);
}

// ---- Readiness and bridge description ------------------------------------------------------------

int WaitForInterfaceDataReady()
{
    const uint32_t tries = NIC_COLLECTOR_TIMING::ReadyTries.load();
    for (uint32_t i = 0; i < tries; ++i) {
        CRegistry key(HKEY_LOCAL_MACHINE, kNicInterfaceKey, KEY_READ);
        DWORD ready = 0;
        if (key.Open() && key.GetDword(kNicInterfaceDataReadyValue, &ready) && ready != 0)
            return 1;
        if (DATACOLLECTOR::WaitOrStop(nullptr, NIC_COLLECTOR_TIMING::ReadyRetryMs.load()) == COLLECTOR_WAIT_STOP)
            return 0;
    }
    return 0;
}

namespace {

// An 8-bit text value of at most 256 bytes, NUL-ended whatever the value holds; empty when it
// cannot be read.
bool ReadBridgeText(HKEY key, const char *name, std::string *text)
{
    char buffer[257] = {};
    DWORD size = 256, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size) != ERROR_SUCCESS) {
        text->clear();
        return false;
    }
    *text = std::string(buffer, strnlen(buffer, std::min<DWORD>(size, 256)));
    return true;
}

} // namespace

void GetBridgingInfo(std::vector<BRIDGE_ENTRY> *entries)
{
    entries->clear();
    if (!WaitForInterfaceDataReady())
        return;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNicBridgingInfoKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD count = 0, type = 0, size = sizeof count;
        if (RegQueryValueExW(key, L"MemberCount", nullptr, &type, reinterpret_cast<BYTE *>(&count), &size) ==
                ERROR_SUCCESS &&
            size == sizeof count) {
            // A bridge has at most as many members as a member list holds.
            count = std::min<DWORD>(count, kNicMaxMembers);
            for (DWORD i = 1; i <= count; ++i) {
                BRIDGE_ENTRY member;
                member.Member = 1;
                char name[64];
                std::snprintf(name, sizeof name, "MemberDeviceName_%d", static_cast<int>(i));
                ReadBridgeText(key, name, &member.DeviceName);
                std::snprintf(name, sizeof name, "MemberConnectionName_%d", static_cast<int>(i));
                ReadBridgeText(key, name, &member.ConnectionName);
                entries->push_back(std::move(member));
            }
        }
        BRIDGE_ENTRY bridge;
        bridge.Bridge = 1;
        if (ReadBridgeText(key, "BridgeDeviceName", &bridge.DeviceName)) {
            ReadBridgeText(key, "BridgeConnectionName", &bridge.ConnectionName);
            entries->push_back(std::move(bridge));
        }
        RegCloseKey(key);
    }
    if (!WaitForInterfaceDataReady())
        entries->clear();
}

// ---- Device lookup -----------------------------------------------------------------------------

namespace {

NIC_DEVNODE_PROVIDER s_SystemDevNodes;

std::wstring Widen(const char *text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

bool LocateDevNode(const wchar_t *id, DEVINST *node)
{
    return CM_Locate_DevNodeW(node, const_cast<DEVINSTID_W>(id), CM_LOCATE_DEVNODE_NORMAL) == CR_SUCCESS;
}

} // namespace

NIC_DEVNODE_PROVIDER *s_NicDevNodes = &s_SystemDevNodes;

bool NIC_DEVNODE_PROVIDER::ListIds(const wchar_t *enumerator, std::vector<std::wstring> *ids)
{
    constexpr ULONG kFlags = CM_GETIDLIST_FILTER_ENUMERATOR | CM_GETIDLIST_FILTER_PRESENT;
    ULONG length = 0;
    if (CM_Get_Device_ID_List_SizeW(&length, enumerator, kFlags) != CR_SUCCESS || length == 0)
        return false;
    std::vector<wchar_t> list(length + 2, L'\0');
    if (CM_Get_Device_ID_ListW(enumerator, list.data(), length, kFlags) != CR_SUCCESS)
        return false;
    for (size_t at = 0; at < length && list[at] != L'\0';) {
        const size_t size = wcsnlen(&list[at], length - at);
        ids->emplace_back(&list[at], size);
        at += size + 1;
    }
    return true;
}

bool NIC_DEVNODE_PROVIDER::GetDword(const wchar_t *id, ULONG property, DWORD *value)
{
    DEVINST node = 0;
    if (!LocateDevNode(id, &node))
        return false;
    DWORD data = 0;
    ULONG size = sizeof data;
    if (CM_Get_DevNode_Registry_PropertyW(node, property, nullptr, &data, &size, 0) != CR_SUCCESS)
        return false;
    *value = data;
    return true;
}

bool NIC_DEVNODE_PROVIDER::GetString(const wchar_t *id, ULONG property, std::wstring *value, size_t bufferBytes)
{
    DEVINST node = 0;
    if (!LocateDevNode(id, &node))
        return false;
    std::vector<wchar_t> buffer(bufferBytes / sizeof(wchar_t) + 1, L'\0');
    ULONG size = static_cast<ULONG>(bufferBytes);
    if (CM_Get_DevNode_Registry_PropertyW(node, property, nullptr, buffer.data(), &size, 0) != CR_SUCCESS)
        return false;
    *value = std::wstring(buffer.data(), wcsnlen(buffer.data(), bufferBytes / sizeof(wchar_t)));
    return true;
}

bool DEVICE_ID_LIST::Enumerate(const wchar_t *enumerator)
{
    Clear();
    std::vector<std::wstring> ids;
    if (!s_NicDevNodes->ListIds(enumerator, &ids))
        return false;
    for (const std::wstring &id : ids) {
        char ansi[1024];
        WideToRecordText(id.c_str(), ansi, sizeof ansi);
        m_Ids.emplace_back(ansi);
    }
    return !m_Ids.empty();
}

bool DEVICE_ID_LIST::Next(std::string *id)
{
    if (m_Cursor >= m_Ids.size()) {
        id->clear();
        return false;
    }
    *id = m_Ids[m_Cursor++];
    return true;
}

void DEVICE_ID_LIST::Clear()
{
    m_Ids.clear();
    m_Cursor = 0;
}

bool GetDevNodeDword(const char *id, ULONG property, DWORD *value)
{
    return s_NicDevNodes->GetDword(Widen(id).c_str(), property, value);
}

bool GetDevNodeString(const char *id, ULONG property, wchar_t *buffer, size_t capacity)
{
    std::wstring text;
    if (!s_NicDevNodes->GetString(Widen(id).c_str(), property, &text, 2048))
        return false;
    if (text.size() < capacity)
        wmemcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

bool GetDevNodeWString(const char *id, ULONG property, std::wstring *value)
{
    return s_NicDevNodes->GetString(Widen(id).c_str(), property, value, 2048);
}

bool DeviceNameMatches(const char *id, const wchar_t *description)
{
    wchar_t name[1024] = {};
    if (!GetDevNodeString(id, kDevPropFriendlyName, name, 1024) &&
        !GetDevNodeString(id, kDevPropDeviceDesc, name, 1024))
        return false;
    return wcscmp(name, description) == 0;
}

bool ParseNetDeviceHardwareId(NET_DEVICE_INFO *info, const char *id)
{
    *info = NET_DEVICE_INFO();
    const std::wstring wide = Widen(id);
    if (wide.size() >= 1024)
        return false;
    info->InstanceId = wide;
    GetDevNodeWString(id, kDevPropDeviceDesc, &info->DeviceDescription);
    GetDevNodeWString(id, kDevPropFriendlyName, &info->FriendlyName);
    if (StringMid(wide, 0, 4) != L"PCI\\" && StringMid(wide, 0, 6) != L"EBDRV\\")
        return false;
    DWORD bus = 0, address = 0;
    if (!GetDevNodeDword(id, kDevPropBusNumber, &bus) || !GetDevNodeDword(id, kDevPropAddress, &address))
        return false;
    info->Bus = static_cast<uint8_t>(bus);
    info->Device = static_cast<uint8_t>(address >> 16);
    info->Function = static_cast<uint8_t>(address);
    DWORD ui = 0;
    if (GetDevNodeDword(id, kDevPropUiNumber, &ui))
        info->UiNumber = ui;
    return true;
}

bool FindNetDeviceByName(NET_DEVICE_INFO *info, const wchar_t *description)
{
    bool found = false;
    for (const wchar_t *enumerator : {L"PCI", L"EBDRV"}) {
        DEVICE_ID_LIST list;
        list.Enumerate(enumerator);
        std::string id;
        while (list.Next(&id))
            if (DeviceNameMatches(id.c_str(), description)) {
                found = ParseNetDeviceHardwareId(info, id.c_str());
                break;
            }
        list.Clear();
        if (found)
            break;
    }
    return found;
}
