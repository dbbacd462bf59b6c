// The NIC collector's readers of the library's records and its adapter list.
#include "zdtnic_collector.h"

#include "common_log.h"
#include "nic_columns.h"
#include "nic_records.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

// Reads every value of a record key that is one whole record, in the order of the records' own
// indexes. A value of another size or type is no record: it is skipped (and logged once per
// kind), never cut into the records that follow it.
template <class Record, class IndexOf>
int ReadRecordKey(const wchar_t *path, std::vector<Record> *records, std::atomic<bool> *loggedDamage,
                  const wchar_t *function, IndexOf indexOf)
{
    records->clear();
    if (!WaitForInterfaceDataReady())
        return 3;
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS)
        return static_cast<int>(status);
    std::vector<Record> read;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0;
        Record record{};
        DWORD size = sizeof record;
        status = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE *>(&record), &size);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
            RegCloseKey(key);
            return static_cast<int>(status);
        }
        if (status == ERROR_MORE_DATA || type != REG_BINARY || size != sizeof record) {
            if (!loggedDamage->exchange(true))
                LOG_WARNING(function, L"Skipping value %ws: %u bytes of type %u, not a record of %u bytes.", name,
                            static_cast<unsigned>(size), static_cast<unsigned>(type),
                            static_cast<unsigned>(sizeof record));
            continue;
        }
        read.push_back(record);
    }
    RegCloseKey(key);
    std::stable_sort(read.begin(), read.end(),
                     [&](const Record &a, const Record &b) { return indexOf(a) < indexOf(b); });
    if (!WaitForInterfaceDataReady())
        return 3;
    *records = std::move(read);
    return 0;
}

std::atomic<bool> s_PhysDamageLogged{false}, s_LogDamageLogged{false}, s_VlanDamageLogged{false};

} // namespace

int ZDTNICDataCollector::Get_zdtNicIfPhysAdapterTable_Data(std::vector<PHYSADAPTERRECORD> *records)
{
    return ReadRecordKey(kNicPhysInterfaceKey, records, &s_PhysDamageLogged,
                         L"ZDTNICDataCollector::Get_zdtNicIfPhysAdapterTable_Data",
                         [](const PHYSADAPTERRECORD &r) { return r.PhysicalIndex; });
}

int ZDTNICDataCollector::Get_zdtNicIfLogMapTable_Data(std::vector<INTERFACEMAPRECORD> *records)
{
    return ReadRecordKey(kNicLogInterfaceMapKey, records, &s_LogDamageLogged,
                         L"ZDTNICDataCollector::Get_zdtNicIfLogMapTable_Data",
                         [](const INTERFACEMAPRECORD &r) { return r.LogicalIndex; });
}

int ZDTNICDataCollector::Get_zdtNicIfVlanMapTable_Data(std::vector<VLANMAPRECORD> *records)
{
    LOG_INFO(L"ZDTNICDataCollector::Get_zdtNicIfVlanMapTable_Data", L"Checking if network data ready in registry.");
    return ReadRecordKey(kNicVlanInterfaceKey, records, &s_VlanDamageLogged,
                         L"ZDTNICDataCollector::Get_zdtNicIfVlanMapTable_Data",
                         [](const VLANMAPRECORD &r) { return r.VlanIndex; });
}

void ZDTNICDataCollector::ReadCollectionRecords()
{
    m_Records.physResult = Get_zdtNicIfPhysAdapterTable_Data(&m_Records.phys);
    m_Records.logResult = Get_zdtNicIfLogMapTable_Data(&m_Records.logical);
    m_Records.vlanResult = Get_zdtNicIfVlanMapTable_Data(&m_Records.vlans);
    GetBridgingInfo(&m_Records.bridges);
}

void ZDTNICDataCollector::UpdateAllData()
{
    constexpr const wchar_t *kFunction = L"ZDTNICDataCollector::UpdateAllData";
    LOG_INFO(kFunction, L"Updating nic data.");
    IF_TABLE_SNAPSHOT snapshot(*InterfaceSource);
    if (!snapshot.Load()) {
        LOG_VERBOSE(kFunction, L"Can't obtain NIC data.");
        return;
    }
    size_t at = 0;
    for (const MIB_IF_ROW2 *row = snapshot.First(); row != nullptr; row = snapshot.Next()) {
        const IP_ADAPTER_ADDRESSES *entry = snapshot.FindAddresses(row->InterfaceIndex);
        if (entry == nullptr) {
            LOG_VERBOSE(kFunction, L"Can't find IP_ADAPTER_ADDRESSES for interface %d", static_cast<int>(row->InterfaceIndex));
            continue;
        }
        while (at < m_Adapters.size() && m_Adapters[at].InterfaceIndex < row->InterfaceIndex) {
            LOG_VERBOSE(kFunction, L"Deleting NET_ADAPTER for removed interface %d",
                        static_cast<int>(m_Adapters[at].InterfaceIndex));
            m_Adapters.erase(m_Adapters.begin() + static_cast<ptrdiff_t>(at));
        }
        if (at < m_Adapters.size() && m_Adapters[at].InterfaceIndex == row->InterfaceIndex) {
            const char *name = entry->AdapterName != nullptr ? entry->AdapterName : "";
            if (std::strncmp(m_Adapters[at].AdapterName, name, sizeof m_Adapters[at].AdapterName - 1) == 0) {
                LOG_VERBOSE(kFunction, L"Updating NET_ADAPTER for interface %d", static_cast<int>(row->InterfaceIndex));
                if (m_Adapters[at].Update(*row, *entry)) {
                    ++at;
                } else {
                    LOG_VERBOSE(kFunction, L"Deleting NET_ADAPTER for invalid interface %d",
                                static_cast<int>(row->InterfaceIndex));
                    m_Adapters.erase(m_Adapters.begin() + static_cast<ptrdiff_t>(at));
                }
                continue;
            }
            LOG_VERBOSE(kFunction, L"Deleting NET_ADAPTER for changed interface %d", static_cast<int>(row->InterfaceIndex));
            m_Adapters.erase(m_Adapters.begin() + static_cast<ptrdiff_t>(at));
        }
        if (!IsInterfaceOfInterest(*row)) {
            LOG_VERBOSE(kFunction, L"Interface %d isn't for us", static_cast<int>(row->InterfaceIndex));
            continue;
        }
        NET_ADAPTER adapter(*row, *entry);
        if (adapter.IsValid()) {
            LOG_VERBOSE(kFunction, L"Adding NET_ADAPTER for interface %d\n", static_cast<int>(row->InterfaceIndex));
            m_Adapters.insert(m_Adapters.begin() + static_cast<ptrdiff_t>(at), adapter);
            ++at;
        } else {
            LOG_VERBOSE(kFunction, L"Skipping invalid interface %d", static_cast<int>(row->InterfaceIndex));
        }
    }
    while (at < m_Adapters.size()) {
        LOG_VERBOSE(kFunction, L"Deleting NET_ADAPTER for removed interface %d\n",
                    static_cast<int>(m_Adapters[at].InterfaceIndex));
        m_Adapters.erase(m_Adapters.begin() + static_cast<ptrdiff_t>(at));
    }
    uint32_t physicalIndex = 0;
    for (NET_ADAPTER &adapter : m_Adapters)
        if (adapter.Physical.Present)
            adapter.Physical.PhysicalIndex = ++physicalIndex;
    // Each port is first its own only member. Then an interface that the library names in a team
    // is no physical interface of its own, and one it knows as a physical adapter in a role is no
    // logical interface of its own; without the library's records both parts stay.
    for (NET_ADAPTER &adapter : m_Adapters) {
        if (!adapter.Physical.Present || !adapter.Logical.Present)
            continue;
        adapter.Logical.MemberCount = 1;
        adapter.Logical.OkMemberCount = adapter.Physical.LinkStatus == kAdapterLinkUp ? 1 : 0;
        adapter.Logical.Members[0] = static_cast<uint8_t>(adapter.Physical.PhysicalIndex);
        if (m_Records.logResult != 0)
            continue;
        for (const INTERFACEMAPRECORD &record : m_Records.logical)
            if (record.Kind != 1 && record.Kind != 2 && adapter.Logical.Alias[0] != '\0' &&
                NicNameEquals(RecordText(record.ConnectionName), adapter.Logical.Alias))
                std::memset(&adapter.Physical, 0, sizeof adapter.Physical);
        if (m_Records.physResult != 0)
            continue;
        for (const PHYSADAPTERRECORD &record : m_Records.phys)
            if (record.Role != 255 && NicNameEquals(RecordText(record.Name), adapter.Logical.Description))
                std::memset(&adapter.Logical, 0, sizeof adapter.Logical);
    }
}
