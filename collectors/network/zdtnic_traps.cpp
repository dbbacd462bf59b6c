// The NIC group's traps: the library leaves one record per connectivity or redundancy change in
// four keys; every collection sends the records that belong to its adapters and deletes them.
#include "zdtnic_collector.h"

#include "agentx_pdu.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "nic_columns.h"
#include "registry.h"
#include "smbios_table.h"
#include "traps.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

struct TRAP_KEY {
    uint32_t trap;
    const wchar_t *key;
    const wchar_t *sent;
};
// In the order the collection looks at them.
const TRAP_KEY kTrapKeys[] = {
    {kNicTrapLost, kNicTrapConnectivityLostKey, L"Send zdtNic3ConnectivityLost"},
    {kNicTrapRestored, kNicTrapConnectivityRegainedKey, L"Send zdtNic3ConnectivityRestored"},
    {kNicTrapReduced, kNicTrapRedundancyReducedKey, L"Send zdtNic3RedundancyReduced"},
    {kNicTrapIncreased, kNicTrapRedundancyIncreasedKey, L"Send zdtNic3RedundancyIncreased"},
};

const TRAP_KEY *FindTrapKey(uint32_t trap)
{
    for (const TRAP_KEY &key : kTrapKeys)
        if (key.trap == trap)
            return &key;
    return nullptr;
}

std::atomic<bool> s_TrapDamageLogged{false};

// The library names its records by the time of their writing ("TrapData" and hex digits).
bool IsPlainName(const wchar_t *name, DWORD length)
{
    return length > 0 && std::all_of(name, name + length, [](wchar_t c) { return c > L' ' && c < 0x7F; });
}

// The whole record of the key whose name comes first (the one written first), leaving out the
// names in passedOver. A value that is no whole record, or whose name the library did not write,
// is no record. False with the error when the key cannot be read; true with an empty name when
// it holds no such record.
bool ReadFirstTrapValue(HKEY key, const std::set<std::string> *passedOver, std::string *firstName,
                        TRAPRECORD *first, LSTATUS *error)
{
    firstName->clear();
    for (DWORD index = 0;; ++index) {
        wchar_t name[257];
        DWORD nameLength = 257, type = 0;
        TRAPRECORD record{};
        DWORD size = sizeof record;
        const LSTATUS status = ZDTNICDataCollector::EnumTrapValue(key, index, name, &nameLength, nullptr, &type,
                                                                  reinterpret_cast<BYTE *>(&record), &size);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
            *error = status;
            return false;
        }
        if (status == ERROR_MORE_DATA || size != sizeof record || !IsPlainName(name, nameLength)) {
            name[256] = L'\0';
            if (!s_TrapDamageLogged.exchange(true))
                LOG_WARNING(L"ZDTNICDataCollector::CheckTraps", L"Skipping trap value %ws of %u bytes.", name,
                            static_cast<unsigned>(size));
            continue;
        }
        // Plain characters: the 8-bit name is the same text.
        const std::string narrow(name, name + nameLength);
        if (passedOver != nullptr && passedOver->count(narrow) != 0)
            continue;
        if (firstName->empty() || narrow < *firstName) {
            *firstName = narrow;
            *first = record;
        }
    }
    return true;
}

// A bridge member's record takes the bridge's count of working members and its addresses.
void CompleteBridgeMember(const std::vector<BRIDGE_ENTRY> &bridges, TRAPRECORD *record)
{
    const std::string name = RecordText(record->MemberName);
    const auto member = std::find_if(bridges.begin(), bridges.end(), [&](const BRIDGE_ENTRY &entry) {
        return entry.Member && !name.empty() && NicNameEquals(entry.DeviceName, name);
    });
    if (member == bridges.end())
        return;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNicBridgingInfoKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    if (WaitForInterfaceDataReady()) {
        const uint32_t tries = NIC_COLLECTOR_TIMING::BridgeReadTries.load();
        auto read = [&](const char *value, void *buffer, DWORD capacity, DWORD needed) {
            for (uint32_t attempt = 0; attempt < tries; ++attempt) {
                DWORD size = capacity;
                if (RegQueryValueExA(key, value, nullptr, nullptr, static_cast<BYTE *>(buffer), &size) ==
                        ERROR_SUCCESS &&
                    size >= needed)
                    return true;
                if (DATACOLLECTOR::WaitOrStop(nullptr, NIC_COLLECTOR_TIMING::BridgeRetryMs.load()) ==
                    COLLECTOR_WAIT_STOP)
                    return false;
            }
            return false;
        };
        DWORD ok = 0;
        if (read("BridgeAdapterOKCount", &ok, sizeof ok, sizeof ok))
            record->OkMemberCount = static_cast<int32_t>(ok);
        uint8_t v4[64] = {};
        if (read("BridgeIPV4Address", v4, sizeof v4, 4))
            std::memcpy(&record->IPv4Address, v4, 4);
        char v6[256] = {};
        if (read("BridgeIPV6Address", v6, sizeof v6, 1)) {
            // The text ends inside its field whatever the value holds.
            std::memset(record->IPv6Address, 0, sizeof record->IPv6Address);
            std::memcpy(record->IPv6Address, v6, strnlen(v6, sizeof record->IPv6Address - 1));
        }
    }
    RegCloseKey(key);
    if (record->OkMemberCount == 0) {
        std::memset(record->IPv6Address, 0, sizeof record->IPv6Address);
        std::memcpy(record->IPv6Address, "N/A", 3);
        record->IPv4Address = 0;
    }
}

bool ZeroMac(const uint8_t *mac)
{
    static const uint8_t kZero[6] = {};
    return std::memcmp(mac, kZero, 6) == 0;
}

} // namespace

int ZDTNICDataCollector::ReadTrapRecord(uint32_t trapNumber, TRAPRECORD *record, std::string *valueName,
                                        const std::set<std::string> *passedOver)
{
    std::memset(record, 0, sizeof *record);
    valueName->clear();
    const TRAP_KEY *trap = FindTrapKey(trapNumber);
    if (trap == nullptr)
        return ERROR_NOT_FOUND;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, trap->key, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return ERROR_NOT_FOUND;
    LSTATUS error = ERROR_SUCCESS;
    const bool read = ReadFirstTrapValue(key, passedOver, valueName, record, &error);
    RegCloseKey(key);
    if (!read) {
        std::memset(record, 0, sizeof *record);
        valueName->clear();
        return static_cast<int>(error);
    }
    // An empty key is no record: a cleared one would pass for a record of an adapter without an
    // address.
    if (valueName->empty())
        return ERROR_NOT_FOUND;
    CompleteBridgeMember(m_Records.bridges, record);
    return 0;
}

NET_ADAPTER *ZDTNICDataCollector::FindTrapOwner(const uint8_t *mac)
{
    if (ZeroMac(mac))
        return nullptr;
    for (NET_ADAPTER &adapter : m_Adapters)
        if (adapter.Physical.Present && std::memcmp(adapter.Physical.MacAddress, mac, 6) == 0)
            return &adapter;
    // A team's record carries the team's own (logical) address.
    for (NET_ADAPTER &adapter : m_Adapters)
        if (adapter.Logical.Present && std::memcmp(adapter.Logical.MacAddress, mac, 6) == 0)
            return &adapter;
    return nullptr;
}

void ZDTNICDataCollector::CheckTraps()
{
    constexpr const wchar_t *kFunction = L"ZDTNICDataCollector::CheckTraps";
    LOG_VERBOSE(kFunction, L"Checking nic traps.");
    for (NET_ADAPTER &adapter : m_Adapters) {
        for (const TRAP_KEY &trap : kTrapKeys) {
            CRegistry key(HKEY_LOCAL_MACHINE, trap.key, KEY_ALL_ACCESS);
            DWORD length = 0, largest = 0, count = 0;
            key.GetAllValueData(nullptr, &length, &largest, &count);
            // A record of another adapter, or of none, is read past rather than read again: it
            // would otherwise hold up every record behind it for as long as it stays.
            std::set<std::string> passedOver;
            for (DWORD attempt = 0; attempt < count; ++attempt) {
                TRAPRECORD record;
                std::string name;
                if (ReadTrapRecord(trap.trap, &record, &name, &passedOver) != 0)
                    continue;
                passedOver.insert(name);
                if (FindTrapOwner(record.MacAddress) != &adapter)
                    continue;
                if (adapter.Physical.Present) {
                    adapter.Physical.Port = record.Port;
                    adapter.Physical.Slot = static_cast<uint32_t>(record.Slot);
                }
                SendConnectivityTrapEx(trap.trap, record);
                key.DeleteValue(std::wstring(name.begin(), name.end()).c_str());
                LOG_VERBOSE(kFunction, L"%ws", trap.sent);
            }
        }
    }
}

void ZDTNICDataCollector::SendConnectivityTrapEx(uint32_t trapNumber, const TRAPRECORD &record)
{
    const std::string name = RecordText(record.MemberName);
    LOG_INFO(L"ZDTNICDataCollector::SendConnectivityTrapEx", L"NIC adapter = %hs", name.c_str());
    uint8_t trapOid[AGENTX_PDU_BUFFER_SIZE / 8];
    EncodeAgentXOid(EnterpriseOid({0, trapNumber}), trapOid);
    TRAP_BUFFER *trap = CreateTrap(trapOid);
    if (trap == nullptr)
        return;
    AddTrapHeader(trap, NicTrapFlags(record));

    const uint32_t physical = static_cast<uint32_t>(record.PhysicalIndex);
    const uint32_t logical = static_cast<uint32_t>(record.LogicalIndex);
    uint8_t oid[AGENTX_PDU_BUFFER_SIZE / 8];
    uint8_t varbind[1024];
    auto integer = [&](const MIBOID &name, int32_t value) {
        EncodeAgentXOid(name, oid);
        AddTrapVarBind(trap, MakeIntegerVarBind(varbind, oid, value));
    };
    auto text = [&](const MIBOID &name, const std::string &value) {
        EncodeAgentXOid(name, oid);
        AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, oid, RecordTextToUtf8(value).c_str()));
    };
    integer(EnterpriseOid({18, 2, 3, 1, 1, 5, physical}), record.Slot);
    integer(EnterpriseOid({18, 2, 3, 1, 1, 10, physical}), record.Port);
    std::string systemId;
    if (s_SMBIOSTable && s_SMBIOSTable->IsValid())
        systemId = GetSystemIdString(*s_SMBIOSTable);
    text(EnterpriseOid({2, 2, 4, 17, 0}), NicSystemIdText(systemId));
    integer(EnterpriseOid({18, 2, 3, 1, 1, 14, physical}), record.MemberStatus);
    text(EnterpriseOid({1, 2, 13, 1, 1, 5, static_cast<uint32_t>(record.PciBus), static_cast<uint32_t>(record.PciDevice)}),
         name);
    text(EnterpriseOid({18, 2, 3, 1, 1, 32, physical}), RecordText(record.PartNumber));
    uint8_t address[4];
    std::memcpy(address, &record.IPv4Address, 4);
    EncodeAgentXOid(MIBOID{1, 3, 6, 1, 2, 1, 4, 20, 1, 1, 0, 0, 0, 0}, oid);
    SetOidIpAddressIndex(oid, address[0], address[1], address[2], address[3]);
    AddTrapVarBind(trap, MakeIpAddressVarBind(varbind, oid, address));
    text(EnterpriseOid({18, 2, 2, 1, 1, 20, logical}), RecordText(record.IPv6Address));
    if (trapNumber == kNicTrapIncreased || trapNumber == kNicTrapReduced)
        integer(EnterpriseOid({18, 2, 2, 1, 1, 6, logical}), record.OkMemberCount);
    SendTrap(trap);
}
