#include "mib2_collector.h"

#include "agentx_pdu.h"
#include "ax_session.h"
#include "registry.h"
#include "scheduler.h"
#include "service_parameters.h"
#include "store_writers.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

MIB2DataCollector s_MIB2DataCollector;

namespace {

constexpr int kRegistrationPriority = 127;

const MIBOID kInterfacesOid{1, 3, 6, 1, 2, 1, 2};
const MIBOID kIfEntryOid{1, 3, 6, 1, 2, 1, 2, 2, 1};
const MIBOID kIpOid{1, 3, 6, 1, 2, 1, 4};
const MIBOID kIpAddrEntryOid{1, 3, 6, 1, 2, 1, 4, 20, 1};
const MIBOID kIpRouteEntryOid{1, 3, 6, 1, 2, 1, 4, 21, 1};
const MIBOID kIpAddressEntryOid{1, 3, 6, 1, 2, 1, 4, 34, 1};
const MIBOID kHostOid{1, 3, 6, 1, 2, 1, 25};
const MIBOID kIpv6MibOid{1, 3, 6, 1, 2, 1, 55};

template <class T> struct FreeDeleter {
    void operator()(T *block) const { free(block); }
};
template <class T> using MallocPtr = std::unique_ptr<T, FreeDeleter<T>>;

bool SameText(const std::string &a, const std::string &b)
{
    return _stricmp(a.c_str(), b.c_str()) == 0;
}

// An 8-bit text of at most kMib2DescriptionBytes - 1 bytes, as the interface rows carry theirs.
std::string ToDescription(const std::wstring &wide)
{
    char buffer[kMib2DescriptionBytes] = {};
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), buffer,
                                           static_cast<int>(sizeof buffer - 1), nullptr, nullptr);
    if (length <= 0)
        return std::string();
    return std::string(buffer, strnlen(buffer, static_cast<size_t>(length)));
}

// The values "1" to "n" of the NICs key: descriptions of interfaces that count as up.
std::vector<std::string> ReadNicsList()
{
    std::vector<std::string> list;
    CRegistry key(HKEY_LOCAL_MACHINE, kNicsListKey, MAXIMUM_ALLOWED);
    DWORD values = 0;
    if (!key.Open() || !key.QueryInfo(nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr, nullptr))
        return list;
    for (DWORD i = 1; i <= values; ++i) {
        std::wstring text;
        if (key.GetString(std::to_wstring(i).c_str(), &text))
            list.push_back(ToDescription(text.substr(0, text.find(L'\0'))));
    }
    return list;
}

// The bridge that the NIC collector found failed: its name, or empty when the values are absent or
// the bridge is not failed.
std::string ReadFailedBridgeName()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNicInterfaceKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::string();
    DWORD status = 0, type = 0, size = sizeof status;
    const bool haveStatus = RegQueryValueExW(key, kNicBridgeStatusValue, nullptr, &type,
                                             reinterpret_cast<BYTE *>(&status), &size) == ERROR_SUCCESS &&
                            size == sizeof status;
    // The name is read into a field with room for its NUL, and ends at the first NUL whatever
    // the value holds.
    char name[kMib2DescriptionBytes + 1] = {};
    DWORD nameSize = kMib2DescriptionBytes;
    const bool haveName =
        RegQueryValueExA(key, "BridgeName", nullptr, &type, reinterpret_cast<BYTE *>(name), &nameSize) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!haveStatus || !haveName || status != kBridgeStatusFailed)
        return std::string();
    return std::string(name, strnlen(name, std::min<size_t>(nameSize, kMib2DescriptionBytes)));
}

void RegisterSubtree(AXSESSION *session, const MIBOID &subtree, int *result)
{
    uint8_t encoded[AGENTX_PDU_BUFFER_SIZE / 4];
    EncodeAgentXOid(subtree, encoded);
    const int registered = session->Register(encoded, kRegistrationPriority);
    if (registered != 0)
        *result = registered;
}

// The four index sub-identifiers of an address as the IP Helper tables hold it (first octet in
// the lowest byte).
void SetAddressIndex(DATASTORE_TABLE *table, DWORD address)
{
    table->SetIndex(address & 0xFF, (address >> 8) & 0xFF, (address >> 16) & 0xFF, address >> 24);
}

} // namespace

MIB2DataCollector::MIB2DataCollector() : DATACOLLECTOR(L"MIB-2", 0, 0, 0, &s_ServiceParameters.EnableMIB2)
{
    SetReadsRelogFlags();
}

MIB2DataCollector::~MIB2DataCollector() = default;

int MIB2DataCollector::Register(AXSESSION *session)
{
    int result = 0;
    for (const MIBOID *subtree : {&kInterfacesOid, &kIpOid, &kHostOid, &kIpv6MibOid})
        RegisterSubtree(session, *subtree, &result);
    // A new session brings a fresh read of the hot fixes at the next software collection.
    StampHotFixCollection(false);
    return result;
}

void MIB2DataCollector::Collect(int firstRun, DATASTORE *staging)
{
    Collect_ifTable(firstRun, staging);
    Collect_ip(firstRun, staging);
    Collect_ipAddrTable(firstRun, staging);
    Collect_ipRouteTable(firstRun, staging);
    Collect_ipAddressTable(firstRun, staging);
    // The software groups are slow to gather: only on their own schedule.
    if (IsSoftwareCollectionDue()) {
        Collect_hrSWRun(firstRun, staging);
        Collect_hrSwInstalled(firstRun, staging);
        StampSoftwareCollection(true);
    }
}

int MIB2DataCollector::IsInterfaceDataReady()
{
    CRegistry key(HKEY_LOCAL_MACHINE, kNicInterfaceKey, MAXIMUM_ALLOWED);
    const uint32_t tries = MIB2_TIMING::ReadyTries.load();
    for (uint32_t i = 0; i < tries; ++i) {
        DWORD ready = 0;
        if (key.GetDword(kNicInterfaceDataReadyValue, &ready) && ready != 0)
            return 1;
        WaitOrStop(nullptr, MIB2_TIMING::ReadyRetryMs.load());
    }
    return 0;
}

int MIB2DataCollector::ReadInterfacePhysRecords(std::vector<PHYSADAPTERRECORD> *records)
{
    if (!IsInterfaceDataReady()) {
        records->clear();
        return 3;
    }
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNicPhysInterfaceKey, 0, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS)
        return static_cast<int>(status);
    // Value by value, and only whole records: a value of another size or type in the key is no
    // record, and cutting one packed buffer at record steps would misread every record after it.
    std::vector<PHYSADAPTERRECORD> read;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0;
        PHYSADAPTERRECORD record{};
        DWORD size = sizeof record;
        status = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE *>(&record), &size);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS) {
            RegCloseKey(key);
            return static_cast<int>(status);
        }
        if (type == REG_BINARY && size == sizeof record)
            read.push_back(record);
    }
    RegCloseKey(key);
    *records = std::move(read);
    return 0;
}

void MIB2DataCollector::Collect_ifTable(int, DATASTORE *staging)
{
    MallocPtr<MIB_IFTABLE> table(Sources.ifTable());
    if (!table)
        return;
    DATASTORE_CURSOR cursor(staging);
    if (cursor.Open(kInterfacesOid, true))
        cursor.SetInteger(1, static_cast<int32_t>(table->dwNumEntries));
    DATASTORE_TABLE ifTable(staging);
    if (!ifTable.BeginTable(kIfEntryOid, 1, true))
        return;

    // What the NIC side says is read once for the whole table: it does not change between rows,
    // and its readiness wait would otherwise be paid for every row.
    const std::vector<std::string> nicsList = ReadNicsList();
    std::vector<PHYSADAPTERRECORD> physRecords;
    const bool havePhysRecords = ReadInterfacePhysRecords(&physRecords) == 0;
    const std::string failedBridge = ReadFailedBridgeName();

    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_IFROW &row = table->table[i];
        const std::string description = IfRowDescription(row);
        auto entry = std::find_if(m_StatusMemory.begin(), m_StatusMemory.end(),
                                  [&](const MIB2_INTERFACE_MEMORY &e) { return SameText(e.description, description); });
        if (entry == m_StatusMemory.end())
            entry = m_StatusMemory.insert(m_StatusMemory.end(), {description, row.dwOperStatus, 0});

        int32_t adminStatus = static_cast<int32_t>(row.dwAdminStatus);
        int32_t operStatus = static_cast<int32_t>(row.dwOperStatus);
        if (entry->firstStatus != row.dwOperStatus)
            entry->changed = 1;
        // Down since it was first seen: nothing says the link ever worked.
        if (!entry->changed && row.dwOperStatus != kIfOperUp)
            operStatus = kIfOperUnknown;
        for (const std::string &listed : nicsList)
            if (SameText(listed, description)) {
                operStatus = kIfOperUp;
                adminStatus = 1;
            }
        if (havePhysRecords)
            for (const PHYSADAPTERRECORD &record : physRecords) {
                if (!SameText(RecordText(record.Name), description))
                    continue;
                if (record.Condition == kNicConditionOk) {
                    operStatus = kIfOperUp;
                    adminStatus = 1;
                } else if (record.Condition == kNicConditionOther) {
                    operStatus = kIfOperUnknown;
                }
            }
        if (!failedBridge.empty() && SameText(failedBridge, description))
            operStatus = kIfOperDown;

        ifTable.SetIndex(row.dwIndex);
        ifTable.SetInteger(1, static_cast<int32_t>(row.dwIndex));
        ifTable.SetString(2, description.c_str());
        ifTable.SetInteger(3, static_cast<int32_t>(row.dwType));
        ifTable.SetInteger(4, static_cast<int32_t>(row.dwMtu));
        ifTable.SetGauge32(5, row.dwSpeed);
        ifTable.SetOctetString(6, IfRowPhysAddrLength(row), row.bPhysAddr);
        ifTable.SetInteger(7, adminStatus);
        ifTable.SetInteger(8, operStatus);
        ifTable.SetTimeTicks(9, row.dwLastChange);
        const DWORD counters[] = {row.dwInOctets,      row.dwInUcastPkts,     row.dwInNUcastPkts, row.dwInDiscards,
                                  row.dwInErrors,      row.dwInUnknownProtos, row.dwOutOctets,    row.dwOutUcastPkts,
                                  row.dwOutNUcastPkts, row.dwOutDiscards,     row.dwOutErrors};
        for (uint32_t c = 0; c < sizeof counters / sizeof counters[0]; ++c)
            ifTable.SetCounter32(10 + c, counters[c]);
        ifTable.SetGauge32(21, row.dwOutQLen);
        ifTable.SetOid(22, s_ZeroDotZeroOid);
    }
}

void MIB2DataCollector::Collect_ip(int, DATASTORE *staging)
{
    MIB_IPSTATS stats{};
    if (Sources.ipStatistics(&stats) != NO_ERROR)
        return;
    DATASTORE_CURSOR cursor(staging);
    if (!cursor.Open(kIpOid, true))
        return;
    cursor.SetInteger(1, static_cast<int32_t>(stats.dwForwarding));
    cursor.SetInteger(2, static_cast<int32_t>(stats.dwDefaultTTL));
    const DWORD counters[] = {stats.dwInReceives,      stats.dwInHdrErrors, stats.dwInAddrErrors, stats.dwForwDatagrams,
                              stats.dwInUnknownProtos, stats.dwInDiscards,  stats.dwInDelivers,   stats.dwOutRequests,
                              stats.dwOutDiscards,     stats.dwOutNoRoutes};
    for (uint32_t i = 0; i < sizeof counters / sizeof counters[0]; ++i)
        cursor.SetCounter32(3 + i, counters[i]);
    cursor.SetInteger(13, static_cast<int32_t>(stats.dwReasmTimeout));
    const DWORD reassembly[] = {stats.dwReasmReqds, stats.dwReasmOks,  stats.dwReasmFails,
                                stats.dwFragOks,    stats.dwFragFails, stats.dwFragCreates};
    for (uint32_t i = 0; i < sizeof reassembly / sizeof reassembly[0]; ++i)
        cursor.SetCounter32(14 + i, reassembly[i]);
}

void MIB2DataCollector::Collect_ipAddrTable(int, DATASTORE *staging)
{
    MallocPtr<MIB_IPADDRTABLE> table(Sources.ipAddrTable());
    if (!table)
        return;
    DATASTORE_TABLE rows(staging);
    if (!rows.BeginTable(kIpAddrEntryOid, 4, true))
        return;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_IPADDRROW &row = table->table[i];
        SetAddressIndex(&rows, row.dwAddr);
        rows.SetIpAddress(1, row.dwAddr);
        rows.SetInteger(2, static_cast<int32_t>(row.dwIndex));
        rows.SetIpAddress(3, row.dwMask);
        rows.SetInteger(4, 1);
        rows.SetInteger(5, static_cast<int32_t>(row.dwReasmSize));
    }
}

void MIB2DataCollector::Collect_ipRouteTable(int, DATASTORE *staging)
{
    MallocPtr<MIB_IPFORWARDTABLE> table(Sources.ipForwardTable());
    if (!table)
        return;
    DATASTORE_TABLE rows(staging);
    if (!rows.BeginTable(kIpRouteEntryOid, 4, true))
        return;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_IPFORWARDROW &route = table->table[i];
        SetAddressIndex(&rows, route.dwForwardDest);
        rows.SetIpAddress(1, route.dwForwardDest);
        rows.SetInteger(2, static_cast<int32_t>(route.dwForwardIfIndex));
        rows.SetInteger(3, static_cast<int32_t>(route.dwForwardMetric1));
        rows.SetInteger(4, static_cast<int32_t>(route.dwForwardMetric2));
        rows.SetInteger(5, static_cast<int32_t>(route.dwForwardMetric3));
        rows.SetInteger(6, static_cast<int32_t>(route.dwForwardMetric4));
        rows.SetIpAddress(7, route.dwForwardNextHop);
        rows.SetInteger(8, static_cast<int32_t>(route.dwForwardType));
        rows.SetInteger(9, static_cast<int32_t>(route.dwForwardProto));
        rows.SetInteger(10, static_cast<int32_t>(route.dwForwardAge));
        rows.SetIpAddress(11, route.dwForwardMask);
        rows.SetInteger(12, static_cast<int32_t>(route.dwForwardMetric5));
        rows.SetOid(13, s_ZeroDotZeroOid);
    }
}

void MIB2DataCollector::Collect_ipAddressTable(int, DATASTORE *staging)
{
    MallocPtr<IP_ADAPTER_ADDRESSES> list(Sources.ipv6Addresses());
    if (!list)
        return;
    DATASTORE_TABLE rows(staging);
    if (!rows.BeginTable(kIpAddressEntryOid, 1, true))
        return;
    uint32_t counter = 1;
    for (const IP_ADAPTER_ADDRESSES *adapter = list.get(); adapter != nullptr; adapter = adapter->Next)
        for (const IP_ADAPTER_UNICAST_ADDRESS *unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next, ++counter) {
            const SOCKADDR *address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET6 ||
                unicast->Address.iSockaddrLength < static_cast<INT>(sizeof(SOCKADDR_IN6)))
                continue;
            char text[256] = {};
            if (inet_ntop(AF_INET6, &reinterpret_cast<const SOCKADDR_IN6 *>(address)->sin6_addr, text, sizeof text) ==
                nullptr)
                continue;
            rows.SetIndex(counter);
            rows.SetString(2, text);
        }
}
