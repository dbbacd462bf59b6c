#pragma once
// What the NIC collector's tests share: an interface table and adapter-address list of the test's
// own (teams, bridges, 10 Gbit/s ports, vanished rows), device nodes of the test's own, the
// library's records written into the registry, and short waits.
#include "zdtnic_collector.h"

#include "nic_records.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace nictest {

struct IF_FIXTURE {
    std::vector<MIB_IF_ROW2> rows;
    std::vector<std::pair<ULONG, std::string>> addresses; // interface index, AdapterName
    bool fail = false;
};
inline IF_FIXTURE s_If;

inline IP_ADAPTER_ADDRESSES *FixtureAddresses()
{
    if (s_If.fail || s_If.addresses.empty())
        return nullptr;
    const size_t n = s_If.addresses.size();
    const size_t size = n * (sizeof(IP_ADAPTER_ADDRESSES) + 64);
    auto *block = static_cast<uint8_t *>(calloc(1, size));
    auto *entries = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(block);
    char *names = reinterpret_cast<char *>(block + n * sizeof(IP_ADAPTER_ADDRESSES));
    for (size_t i = 0; i < n; ++i) {
        entries[i].IfIndex = s_If.addresses[i].first;
        strncpy(names + 64 * i, s_If.addresses[i].second.c_str(), 63);
        entries[i].AdapterName = names + 64 * i;
        entries[i].Next = i + 1 < n ? &entries[i + 1] : nullptr;
    }
    return entries;
}

inline MIB_IF_TABLE2 *FixtureIfTable()
{
    if (s_If.fail)
        return nullptr;
    auto *table = static_cast<MIB_IF_TABLE2 *>(calloc(1, sizeof(MIB_IF_TABLE2) + s_If.rows.size() * sizeof(MIB_IF_ROW2)));
    table->NumEntries = static_cast<ULONG>(s_If.rows.size());
    for (size_t i = 0; i < s_If.rows.size(); ++i)
        table->Table[i] = s_If.rows[i];
    return table;
}

inline void FreeFixtureIfTable(MIB_IF_TABLE2 *table) { free(table); }
inline const NIC_INTERFACE_SOURCE kFixtureSource = {&FixtureAddresses, &FixtureIfTable, &FreeFixtureIfTable};

enum : uint32_t { kUp = 1, kDown = 2, kNotPresent = 5 };
enum : int { kConnected = 1, kDisconnected = 2 };

inline MIB_IF_ROW2 Row(ULONG index, ULONG type, uint32_t oper, bool connector, int media, const wchar_t *description,
                       const wchar_t *alias, uint8_t macLast, uint64_t speed = 1000000000ull)
{
    MIB_IF_ROW2 row;
    memset(&row, 0, sizeof row);
    row.InterfaceIndex = index;
    row.Type = type;
    row.OperStatus = static_cast<IF_OPER_STATUS>(oper);
    row.InterfaceAndOperStatusFlags.ConnectorPresent = connector;
    row.MediaConnectState = static_cast<NET_IF_MEDIA_CONNECT_STATE>(media);
    wcsncpy(row.Description, description, 256);
    wcsncpy(row.Alias, alias, 256);
    if (type != kIfTypeLoopback) {
        const uint8_t mac[6] = {0x02, 0xfc, 0, 0, 0, macLast};
        memcpy(row.PhysicalAddress, mac, 6);
        row.PhysicalAddressLength = 6;
    }
    row.TransmitLinkSpeed = speed;
    return row;
}

// A device of the configuration manager; an absent property cannot be read.
struct FAKE_DEVICE {
    std::optional<std::wstring> friendly, description;
    std::optional<DWORD> bus, address, ui;
};
class FakeDevNodes : public NIC_DEVNODE_PROVIDER {
public:
    std::map<std::wstring, std::vector<std::wstring>> enumerators;
    std::map<std::wstring, FAKE_DEVICE> devices;
    bool ListIds(const wchar_t *enumerator, std::vector<std::wstring> *ids) override
    {
        auto it = enumerators.find(enumerator);
        if (it == enumerators.end())
            return false;
        *ids = it->second;
        return true;
    }
    bool GetDword(const wchar_t *id, ULONG property, DWORD *value) override
    {
        auto it = devices.find(id);
        if (it == devices.end())
            return false;
        const std::optional<DWORD> &v = property == kDevPropBusNumber ? it->second.bus
                                        : property == kDevPropAddress ? it->second.address
                                                                      : it->second.ui;
        if (!v)
            return false;
        *value = *v;
        return true;
    }
    bool GetString(const wchar_t *id, ULONG property, std::wstring *value, size_t) override
    {
        auto it = devices.find(id);
        if (it == devices.end())
            return false;
        const std::optional<std::wstring> &v = property == kDevPropFriendlyName ? it->second.friendly : it->second.description;
        if (!v)
            return false;
        *value = *v;
        return true;
    }
};

inline HKEY CreateKey(const wchar_t *path)
{
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

inline void SetReady(DWORD ready)
{
    HKEY key = CreateKey(kNicInterfaceKey);
    RegSetValueExW(key, kNicInterfaceDataReadyValue, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&ready), 4);
    RegCloseKey(key);
}

inline void WriteValue(const wchar_t *path, const std::wstring &name, const void *data, DWORD size, DWORD type = REG_BINARY)
{
    HKEY key = CreateKey(path);
    RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(key);
}

template <class Record> void WriteRecords(const wchar_t *path, const char *prefix, const std::vector<Record> &records)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, path);
    for (size_t i = 0; i < records.size(); ++i)
        WriteValue(path, FormatRecordValueNameW(prefix, static_cast<uint32_t>(i)), &records[i], sizeof records[i]);
}

template <size_t N> void Put(char (&field)[N], const char *text) { strncpy(field, text, N - 1); }

inline PHYSADAPTERRECORD Phys(uint32_t index, const char *name, uint8_t condition, uint8_t macLast = 0)
{
    PHYSADAPTERRECORD r{};
    r.PhysicalIndex = index;
    Put(r.Name, name);
    r.Condition = condition;
    r.Duplex = 3;
    r.MacAddress[0] = 0x0a;
    r.MacAddress[5] = macLast;
    return r;
}

inline INTERFACEMAPRECORD Logical(uint32_t index, const char *description, const char *connection, uint8_t kind,
                                  uint8_t condition)
{
    INTERFACEMAPRECORD r{};
    r.LogicalIndex = index;
    Put(r.Description, description);
    Put(r.ConnectionName, connection);
    r.Kind = kind;
    r.Condition = condition;
    r.Status = condition == 2 ? 2 : 5;
    r.TeamMode = 1;
    r.IfIndexCount = 1;
    r.IfIndexList[0] = static_cast<int32_t>(100 + index);
    return r;
}

inline void WriteBridge(const std::vector<std::pair<const char *, const char *>> &members, const char *device,
                        const char *connection)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNicBridgingInfoKey);
    HKEY key = CreateKey(kNicBridgingInfoKey);
    const DWORD count = static_cast<DWORD>(members.size());
    RegSetValueExW(key, L"MemberCount", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&count), 4);
    for (size_t i = 0; i < members.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        RegSetValueExA(key, ("MemberDeviceName_" + n).c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE *>(members[i].first), static_cast<DWORD>(strlen(members[i].first) + 1));
        RegSetValueExA(key, ("MemberConnectionName_" + n).c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE *>(members[i].second), static_cast<DWORD>(strlen(members[i].second) + 1));
    }
    if (device != nullptr) {
        RegSetValueExA(key, "BridgeDeviceName", 0, REG_SZ, reinterpret_cast<const BYTE *>(device),
                       static_cast<DWORD>(strlen(device) + 1));
        RegSetValueExA(key, "BridgeConnectionName", 0, REG_SZ, reinterpret_cast<const BYTE *>(connection),
                       static_cast<DWORD>(strlen(connection) + 1));
    }
    RegCloseKey(key);
}

// Short waits, a clean registry, the fixture's interfaces and devices.
inline void ResetNicTest(FakeDevNodes *devices)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNicRootKey);
    NIC_COLLECTOR_TIMING::ReadyTries = 2;
    NIC_COLLECTOR_TIMING::ReadyRetryMs = 10;
    NIC_COLLECTOR_TIMING::BridgeReadTries = 2;
    NIC_COLLECTOR_TIMING::BridgeRetryMs = 10;
    s_If = IF_FIXTURE{};
    ZDTNICDataCollector::InterfaceSource = &kFixtureSource;
    s_NicDevNodes = devices;
    s_ZDTNICDataCollector.Adapters().clear();
    s_ZDTNICDataCollector.Records() = NIC_COLLECTION_RECORDS{};
}

} // namespace nictest
