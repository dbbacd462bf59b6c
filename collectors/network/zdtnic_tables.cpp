// The NIC group's tables: physical adapters, logical interfaces (with the group condition) and
// VLANs, from the library's records of the collection and the collector's adapter list.
#include "zdtnic_collector.h"

#include "common_log.h"
#include "datastore.h"
#include "enterprise_arc.h"
#include "nic_columns.h"
#include "registry.h"
#include "smbios_table.h"
#include "store_writers.h"
#include "wmi.h"

#include <algorithm>
#include <cstring>

std::vector<PHYS_ADAPTER_INDEX> s_PhysAdapterIndexMap;
std::vector<LOG_INTERFACE_INDEX> s_LogInterfaceIndexMap;

namespace {

constexpr uint32_t kDscPciId = 0x1DD81004;
constexpr char kDscPrefix[] = "DSC Manage";

void WriteCells(DATASTORE_TABLE *table, const NIC_ROW &row, uint32_t lastColumn = 0xFFFFFFFFu)
{
    for (const NIC_CELL &cell : row) {
        if (cell.column > lastColumn)
            continue;
        switch (cell.type) {
        case NicCellType::Integer:
            table->SetInteger(cell.column, static_cast<int32_t>(cell.number));
            break;
        case NicCellType::Counter32:
            table->SetCounter32(cell.column, cell.number);
            break;
        case NicCellType::Gauge32:
            table->SetGauge32(cell.column, cell.number);
            break;
        case NicCellType::TimeTicks:
            table->SetTimeTicks(cell.column, cell.number);
            break;
        case NicCellType::Octets:
            table->SetOctetString(cell.column, static_cast<uint32_t>(cell.bytes.size()), cell.bytes.data());
            break;
        case NicCellType::Text:
            table->SetString(cell.column, RecordTextToUtf8(cell.bytes).c_str());
            break;
        }
    }
}

template <size_t N> void CopyText(char (&field)[N], const std::string &text)
{
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

// A decimal text and nothing else, within 0 to 255.
bool StrictByte(const std::string &text, uint8_t *value)
{
    if (text.empty() || text.size() > 3)
        return false;
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > 255)
        return false;
    *value = static_cast<uint8_t>(v);
    return true;
}

void GetDuplexStatus(const std::string &adapterName, uint8_t *duplex)
{
    *duplex = 1;
    if (s_WMIRootWmi) {
        CWMIEnumerator rows = s_WMIRootWmi->ExecQuery(L"SELECT * FROM IntlLan_DuplexStatus");
        while (IWbemClassObject *row = rows.Next()) {
            std::string instance, status;
            if (!GetWMIString(row, L"InstanceName", &instance, false) || !NicNameEquals(instance, adapterName))
                continue;
            uint8_t value = 1;
            // A value that is not a plain decimal number counts as unknown.
            *duplex = GetWMIString(row, L"DuplexStatus", &status, true) && StrictByte(status, &value) ? value : 1;
        }
    }
    if (*duplex != 2 && *duplex != 3 && *duplex != 4)
        *duplex = 1;
}

void GetIonicFirmwareVersion(const std::string &adapterName, PHYSADAPTERRECORD *record)
{
    if (!s_WMIRootWmi)
        return;
    CWMIEnumerator rows = s_WMIRootWmi->CreateInstanceEnum(L"Ionic_FirmwareVersion");
    while (IWbemClassObject *row = rows.Next()) {
        std::string instance, version;
        if (GetWMIString(row, L"InstanceName", &instance, false) && NicNameEquals(instance, adapterName) &&
            GetWMIString(row, L"FirmwareVersion", &version, false))
            SetRecordFirmware(record, version);
    }
}

// Two addresses of one adapter; an all-zero address (a loopback, a record without one) is nobody's.
bool SameMac(const uint8_t *a, const uint8_t *b)
{
    static const uint8_t kZero[6] = {};
    return std::memcmp(a, kZero, 6) != 0 && std::memcmp(a, b, 6) == 0;
}

} // namespace

void ZDTNICDataCollector::Report_zdtNicIfPhysAdapter(DATASTORE *staging)
{
    constexpr const wchar_t *kFunction = L"ZDTNICDataCollector::Report_zdtNicIfPhysAdapter";
    LOG_INFO(kFunction, L"Reporting physical nic data.");
    if (m_Records.physResult != 0)
        return;
    std::vector<PHYSADAPTERRECORD> records = m_Records.phys;
    const std::vector<BRIDGE_ENTRY> &bridges = m_Records.bridges;
    for (const NET_ADAPTER &adapter : m_Adapters) {
        if (!adapter.Physical.Present)
            continue;
        const bool model = IsFirmwareModel(adapter.Physical.PciId, adapter.Physical.SubsystemId) && s_SMBIOSTable &&
                           s_SMBIOSTable->IsValid();
        bool reported = false;
        for (PHYSADAPTERRECORD &record : records) {
            const bool sameName = NicNameEquals(RecordText(record.Name), adapter.Physical.Description);
            if (sameName || SameMac(record.MacAddress, adapter.Physical.MacAddress))
                reported = true;
            if (sameName)
                record.IfIndex = adapter.InterfaceIndex;
            std::string firmware;
            if (model && SmbiosNicFirmware(*s_SMBIOSTable, record.Slot, RecordText(record.PciLocation), &firmware))
                SetRecordFirmware(&record, firmware);
        }
        if (reported)
            continue;
        LOG_VERBOSE(kFunction, L"bPhysAdapterDisabled paStatus is MIB_CONDITION_OTHER");
        PHYSADAPTERRECORD own{};
        CopyText(own.Name, adapter.Physical.Description);
        own.Role = 255;
        std::memcpy(own.MacAddress, adapter.Physical.MacAddress, 6);
        own.Slot = static_cast<int32_t>(adapter.Physical.Slot);
        own.Reserved1 = -1;
        own.Port = static_cast<uint8_t>(adapter.Physical.Port);
        own.Duplex = static_cast<uint8_t>(adapter.Physical.DuplexState);
        own.Condition = kNicConditionOther;
        own.Status = 1;
        own.Status2 = 1;
        own.Reserved2 = 2;
        CopyText(own.PartNumber, "N/A");
        own.ConfSpeedDuplex = 2;
        own.Reserved3 = -1;
        own.ServerBay = -1;
        CopyText(own.Firmware, "N/A");
        own.VirtualPort = -1;
        records.push_back(own);
    }

    DATASTORE_TABLE table(staging);
    if (!table.BeginTable(EnterpriseOid({18, 2, 3, 1, 1}), 1, true))
        return;
    uint32_t row = 1;
    s_PhysAdapterIndexMap.clear();
    for (size_t position = 0; position < records.size(); ++position) {
        PHYSADAPTERRECORD &record = records[position];
        const std::string name = RecordText(record.Name);
        for (const BRIDGE_ENTRY &entry : bridges)
            if (entry.Member && !name.empty() && NicNameEquals(entry.DeviceName, name))
                record.Role = 1;
        if (NicNameBegins(name, kDscPrefix) || record.PciId == kDscPciId || name.empty())
            continue;
        if (record.Duplex == 0 || record.Duplex == 1)
            GetDuplexStatus(name, &record.Duplex);
        if (NicNameBegins(name, "Pensando")) {
            GetIonicFirmwareVersion(name, &record);
            LOG_VERBOSE(kFunction, L"Pensando index : %d , firmwareversion : %hs", static_cast<int>(position),
                        RecordText(record.Firmware).c_str());
        }
        table.SetIndex(row);
        WriteCells(&table, PhysAdapterColumns(record, row));
        SetCondition(record.Condition);
        s_PhysAdapterIndexMap.push_back({name, static_cast<uint8_t>(row)});
        ++row;
        std::string location = RecordText(record.HwLocation);
        std::replace(location.begin(), location.end(), ',', ' ');
        LOG_INFO(kFunction, L"Index: %d AdapterName: %hs FWversion: %hs HWLocation: %hs PCILocation: %hs",
                 static_cast<int>(record.PhysicalIndex), name.c_str(), RecordText(record.Firmware).c_str(),
                 location.c_str(), RecordText(record.PciLocation).c_str());
        LOG_INFO(kFunction, L"Condition: %d Duplex: %u FCSErrors: %d PN: %hs Port: %u Slot: %d Status: %u",
                 static_cast<int>(record.Condition), static_cast<unsigned>(record.Duplex),
                 static_cast<int>(record.FcsErrors), RecordText(record.PartNumber).c_str(),
                 static_cast<unsigned>(record.Port), static_cast<int>(record.Slot),
                 static_cast<unsigned>(record.Status2));
    }
}

void ZDTNICDataCollector::Report_zdtNicIfLogMap(DATASTORE *staging)
{
    constexpr const wchar_t *kFunction = L"ZDTNICDataCollector::Report_zdtNicIfLogMap";
    LOG_INFO(kFunction, L"Reporting logical map data.");
    int groupMax = 0;
    s_LogInterfaceIndexMap.clear();
    if (m_Records.logResult != 0)
        return;
    std::vector<INTERFACEMAPRECORD> records = m_Records.logical;
    const std::vector<BRIDGE_ENTRY> &bridges = m_Records.bridges;
    const std::vector<PHYSADAPTERRECORD> &phys = m_Records.phys;
    const bool havePhys = m_Records.physResult == 0;

    for (const NET_ADAPTER &adapter : m_Adapters) {
        if (!adapter.Logical.Present)
            continue;
        bool reported = false;
        for (const INTERFACEMAPRECORD &record : records) {
            if (NicNameEquals(RecordText(record.Description), adapter.Logical.Description))
                reported = true;
            if (record.Kind != 1 && record.Kind != 2 &&
                ((adapter.Logical.Alias[0] != '\0' &&
                  NicNameEquals(RecordText(record.ConnectionName), adapter.Logical.Alias)) ||
                 SameMac(record.MacAddress, adapter.Logical.MacAddress)))
                reported = true;
        }
        if (!havePhys)
            return;
        for (const PHYSADAPTERRECORD &record : phys)
            if (record.Role != 255 && NicNameEquals(RecordText(record.Name), adapter.Logical.Description))
                reported = true;
        if (reported)
            continue;
        INTERFACEMAPRECORD own{};
        CopyText(own.Description, adapter.Logical.Description);
        own.Kind = adapter.Logical.Kind;
        own.MemberCount = adapter.Logical.MemberCount;
        own.OkMemberCount = adapter.Logical.OkMemberCount;
        std::memcpy(own.MemberIndexes, adapter.Logical.Members, sizeof own.MemberIndexes);
        std::memcpy(own.MacAddress, adapter.Logical.MacAddress, 6);
        own.TeamMode = adapter.Logical.LinkState;
        own.Condition = adapter.Logical.Condition;
        own.Status = adapter.Logical.Status;
        // Its one interface index is a list of one.
        own.IfIndexCount = 1;
        own.IfIndexList[0] = static_cast<int32_t>(adapter.InterfaceIndex);
        CopyText(own.ConnectionName, adapter.Logical.Alias);
        own.Dhcp = 1;
        records.push_back(own);
    }

    DATASTORE_TABLE table(staging);
    if (table.BeginTable(EnterpriseOid({18, 2, 2, 1, 1}), 1, true)) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNicInterfaceKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, kNicBridgeNameValue);
            RegDeleteValueW(key, kNicBridgeStatusValue);
            RegCloseKey(key);
        }
        uint32_t row = 1;
        for (INTERFACEMAPRECORD &record : records) {
            const std::string description = RecordText(record.Description);
            const std::string connection = RecordText(record.ConnectionName);
            if (NicNameBegins(description, kDscPrefix))
                continue;
            uint8_t memberEntries = 0;
            bool member = false, bridge = false;
            for (const BRIDGE_ENTRY &entry : bridges) {
                if (entry.Member) {
                    ++memberEntries;
                    if ((!connection.empty() && NicNameEquals(entry.ConnectionName, connection)) ||
                        (!description.empty() && NicNameEquals(entry.DeviceName, description)))
                        member = true;
                }
                if (entry.Bridge && !connection.empty() && NicNameEquals(entry.ConnectionName, connection))
                    bridge = true;
            }
            if (member)
                continue;
            if (bridge) {
                record.TeamMode = 2;
                record.MemberCount = std::min<uint8_t>(memberEntries, kNicMaxMembers);
                record.OkMemberCount = 0;
                std::memset(record.MemberIndexes, 0, sizeof record.MemberIndexes);
                uint8_t listed = 0;
                uint64_t speedMbps = record.SpeedMbps;
                for (const BRIDGE_ENTRY &entry : bridges) {
                    if (!entry.Member)
                        continue;
                    for (const PHYSADAPTERRECORD &p : phys)
                        if (listed < kNicMaxMembers && NicNameEquals(RecordText(p.Name), entry.DeviceName))
                            record.MemberIndexes[listed++] = static_cast<uint8_t>(p.PhysicalIndex);
                    for (const NET_ADAPTER &adapter : m_Adapters) {
                        if (!adapter.Physical.Present || !NicNameEquals(adapter.Physical.Description, entry.DeviceName))
                            continue;
                        if (adapter.Physical.LinkStatus == kAdapterLinkUp)
                            ++record.OkMemberCount;
                        // 64 bits: a 10 Gbit/s member counts with its full speed.
                        speedMbps = std::max<uint64_t>(speedMbps, adapter.Physical.Speed / 1000000u);
                    }
                }
                record.SpeedMbps = static_cast<uint32_t>(std::min<uint64_t>(speedMbps, 0xFFFFFFFFu));
                if (record.OkMemberCount > 0) {
                    record.Condition = kNicConditionOk;
                    record.Status = kNicStatusUp;
                } else {
                    record.Condition = kNicConditionFailed;
                    record.Status = kNicStatusDown;
                    CopyText(record.IPv6Address, "N/A");
                    CRegistry key(HKEY_LOCAL_MACHINE, kNicInterfaceKey, KEY_SET_VALUE);
                    if (key.Open()) {
                        char name[256] = {};
                        std::memcpy(name, description.data(), std::min<size_t>(description.size(), 255));
                        RegSetValueExA(key.GetHandle(), "BridgeName", 0, REG_SZ, reinterpret_cast<const BYTE *>(name),
                                       sizeof name);
                        key.SetDword(kNicBridgeStatusValue, 5);
                    }
                }
            }
            int32_t hyperV[64] = {};
            AdjustToHyperVSwitchIndex(&record, hyperV);
            const uint8_t members = LogMemberCount(record);
            for (uint8_t i = 0; i < members; ++i) {
                for (const PHYSADAPTERRECORD &p : phys) {
                    if (p.PhysicalIndex != record.MemberIndexes[i])
                        continue;
                    const std::string name = RecordText(p.Name);
                    for (const PHYS_ADAPTER_INDEX &mapped : s_PhysAdapterIndexMap)
                        if (mapped.AdapterName == name) {
                            record.MemberIndexes[i] = mapped.RowIndex;
                            break;
                        }
                    break;
                }
            }
            std::memset(record.MemberIndexes + members, 0, sizeof record.MemberIndexes - members);
            if (record.TeamMode == 0)
                record.TeamMode = 1;
            if (record.Condition == 0)
                record.Condition = 1;
            uint8_t rowCondition = record.Condition;
            table.SetIndex(row);
            if (!havePhys) {
                WriteCells(&table, LogMapColumns(record, row, &hyperV), 11);
                return;
            }
            for (const PHYSADAPTERRECORD &p : phys) {
                if (!NicNameEquals(RecordText(p.Name), description))
                    continue;
                if (p.Condition == kNicConditionOk) {
                    record.OkMemberCount = 1;
                    record.Condition = kNicConditionOk;
                    record.Status = kNicStatusUp;
                    rowCondition = kNicConditionOk;
                } else {
                    record.OkMemberCount = 0;
                }
            }
            if (record.MemberCount == 0)
                record.SpeedMbps = 0;
            WriteCells(&table, LogMapColumns(record, row, &hyperV));
            SetCondition(rowCondition);
            groupMax = std::max<int>(groupMax, rowCondition);
            s_LogInterfaceIndexMap.push_back({connection, row, record.Condition});
            LOG_INFO(kFunction, L"Index: %d Desc: %hs IPv6: %hs LAC: %hs", static_cast<int>(record.LogicalIndex),
                     description.c_str(), RecordText(record.IPv6Address).c_str(), connection.c_str());
            LOG_INFO(kFunction, L"Condition: %u Count: %d AdapOK: %u Status: %u VLANcount: %u",
                     static_cast<unsigned>(record.Condition), static_cast<int>(record.IfIndexCount),
                     static_cast<unsigned>(record.OkMemberCount), static_cast<unsigned>(record.Status),
                     static_cast<unsigned>(record.VlanCount));
            ++row;
        }
    }
    DATASTORE_CURSOR cursor(staging);
    if (cursor.Open(EnterpriseOid({18, 2, 2}), false))
        cursor.SetInteger(2, groupMax);
}

void ZDTNICDataCollector::Report_zdtNicIfVLanMap(DATASTORE *staging)
{
    constexpr const wchar_t *kFunction = L"ZDTNICDataCollector::Report_zdtNicIfVLanMap";
    LOG_INFO(kFunction, L"Reporting vlan map data.");
    if (m_Records.vlanResult != 0)
        return;
    DATASTORE_TABLE table(staging);
    if (!table.BeginTable(EnterpriseOid({18, 2, 4, 1, 1}), 1, true))
        return;
    uint32_t row = 1;
    for (VLANMAPRECORD record : m_Records.vlans) {
        const std::string connection = RecordText(record.VlanConnectionName);
        for (const LOG_INTERFACE_INDEX &entry : s_LogInterfaceIndexMap)
            if (NicNameEquals(entry.ConnectionName, connection))
                record.ParentLogicalIndex = static_cast<int32_t>(entry.RowIndex);
        for (const BRIDGE_ENTRY &entry : m_Records.bridges) {
            if (!entry.Bridge || connection.empty() || !NicNameEquals(entry.ConnectionName, connection))
                continue;
            HKEY key = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNicBridgingInfoKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
                char name[257] = {};
                DWORD size = 256;
                if (RegQueryValueExA(key, "BridgeConnectionName", nullptr, nullptr, reinterpret_cast<BYTE *>(name),
                                     &size) == ERROR_SUCCESS &&
                    NicNameEquals(std::string(name, strnlen(name, 256)), connection)) {
                    DWORD ok = 0, okSize = sizeof ok;
                    if (RegQueryValueExA(key, "BridgeAdapterOKCount", nullptr, nullptr, reinterpret_cast<BYTE *>(&ok),
                                         &okSize) != ERROR_SUCCESS ||
                        okSize != sizeof ok)
                        ok = 0;
                    char address[257] = {};
                    DWORD addressSize = 256;
                    const bool haveAddress =
                        RegQueryValueExA(key, "BridgeIPV6Address", nullptr, nullptr,
                                         reinterpret_cast<BYTE *>(address), &addressSize) == ERROR_SUCCESS;
                    // Without a working member, or without an address to show, there is none.
                    CopyText(record.VlanIPv6Address,
                             ok > 0 && haveAddress ? std::string(address, strnlen(address, 256)) : std::string("N/A"));
                }
                RegCloseKey(key);
            }
            break;
        }
        table.SetIndex(row);
        WriteCells(&table, VlanColumns(record, row));
        ++row;
        LOG_INFO(kFunction, L"Index: %d Id: %d IPv6: %hs LAC: %hs LogIndex: %d Name: %hs",
                 static_cast<int>(record.IfIndex), static_cast<int>(record.VlanId),
                 RecordText(record.VlanIPv6Address).c_str(), connection.c_str(),
                 static_cast<int>(record.ParentLogicalIndex), RecordText(record.VlanName).c_str());
    }
}

int ZDTNICDataCollector::AdjustToHyperVSwitchIndex(INTERFACEMAPRECORD *record, int32_t indexes[64])
{
    // An IP-enabled interface names itself in element 0 (column 2 then takes the array); a port
    // bound to a virtual switch takes the switch adapter's IPv6 address.
    const int32_t key = record->IfIndexList[0];
    if (!s_WMICimV2)
        return 1168;
    CWMIEnumerator rows = s_WMICimV2->CreateInstanceEnum(L"Win32_NetworkAdapterConfiguration");
    std::string enabled, mac;
    bool found = false;
    while (IWbemClassObject *row = rows.Next()) {
        int32_t index = 0;
        if (!GetWMIInt32(row, L"InterfaceIndex", &index) || index != key)
            continue;
        GetWMIString(row, L"IPEnabled", &enabled, true);
        GetWMIString(row, L"MACAddress", &mac, false);
        found = true;
        break;
    }
    if (!found)
        return 1168;
    if (!enabled.empty() && enabled != "0" && enabled != "False" && enabled != "false") {
        indexes[0] = key;
        return 0;
    }
    if (mac.empty())
        return 13;
    mac.erase(std::remove(mac.begin(), mac.end(), ':'), mac.end());
    const wchar_t kNicList[] = L"System\\CurrentControlSet\\Services\\VMSMP\\Parameters\\NicList";
    HKEY list = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNicList, 0, KEY_READ, &list) != ERROR_SUCCESS)
        return 13;
    for (DWORD i = 0;; ++i) {
        wchar_t sub[256];
        DWORD subLength = 256;
        if (RegEnumKeyExW(list, i, sub, &subLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY nic = nullptr;
        if (RegOpenKeyExW(list, sub, 0, KEY_READ, &nic) != ERROR_SUCCESS)
            continue;
        uint8_t current[100] = {};
        DWORD size = sizeof current;
        bool matched = false;
        if (RegQueryValueExW(nic, L"CurrentMacAddress", nullptr, nullptr, current, &size) == ERROR_SUCCESS) {
            std::string hex;
            for (DWORD b = 0; b < size && b < sizeof current; ++b) {
                char two[3];
                snprintf(two, sizeof two, "%02x", current[b]);
                hex += two;
            }
            matched = NicNameEquals(hex, mac);
        }
        if (matched) {
            char guid[257] = {};
            DWORD guidSize = 256;
            if (RegQueryValueExA(nic, "DeviceGuid", nullptr, nullptr, reinterpret_cast<BYTE *>(guid), &guidSize) ==
                ERROR_SUCCESS) {
                std::string name(guid, strnlen(guid, 256));
                const size_t device = name.find("\\Device\\");
                if (device != std::string::npos)
                    name.erase(device, 8);
                char address[1024] = {};
                if (GetAdapterIPv6Address(name.c_str(), address, sizeof address)) {
                    LOG_INFO(L"ZDTNICDataCollector::AdjustToHyperVSwitchIndex", L"IPv6 in hyper v: %hs", address);
                    CopyText(record->IPv6Address, address);
                }
            }
        }
        RegCloseKey(nic);
        if (matched)
            break;
    }
    RegCloseKey(list);
    return 0;
}

namespace {

// The AF_INET6 adapter-address list, sized by a first call (the list is freed with free).
IP_ADAPTER_ADDRESSES *SystemIpv6Addresses()
{
    // Wine answers AF_INET6 lookups only without the DNS servers.
    constexpr ULONG kFlags = GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 0;
    if (GetAdaptersAddresses(AF_INET6, kFlags, nullptr, nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0)
        return nullptr;
    auto *list = static_cast<IP_ADAPTER_ADDRESSES *>(malloc(size));
    if (list != nullptr && GetAdaptersAddresses(AF_INET6, kFlags, nullptr, list, &size) != NO_ERROR) {
        free(list);
        list = nullptr;
    }
    return list;
}

} // namespace

int GetAdapterIPv6Address(const char *adapterName, char *buffer, size_t bufferSize)
{
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 0;
    int found = 0;
    const NIC_INTERFACE_SOURCE *source = ZDTNICDataCollector::InterfaceSource;
    IP_ADAPTER_ADDRESSES *list =
        source != nullptr && source->ipv6Addresses != nullptr ? source->ipv6Addresses() : SystemIpv6Addresses();
    for (IP_ADAPTER_ADDRESSES *a = list; a != nullptr && !found; a = a->Next) {
        if (a->AdapterName == nullptr || !NicNameEquals(a->AdapterName, adapterName) || a->FirstUnicastAddress == nullptr)
            continue;
        wchar_t text[256];
        DWORD length = 256;
        const SOCKET_ADDRESS &address = a->FirstUnicastAddress->Address;
        if (WSAAddressToStringW(address.lpSockaddr, static_cast<DWORD>(address.iSockaddrLength), nullptr, text,
                                &length) == 0) {
            WideToRecordText(text, buffer, bufferSize);
            found = 1;
        }
    }
    free(list);
    WSACleanup();
    return found;
}
