#include "zdtiscsi_collector.h"

#include "agentx_pdu.h"
#include "ax_session.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "iscsi_cowmi.h"
#include "iscsi_lists.h"
#include "service_parameters.h"
#include "storage_keys.h"
#include "storage_records.h"
#include "storage_trap.h"
#include "store_writers.h"
#include "traps.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

ZDTiSCSIDataCollector s_ZDTiSCSIDataCollector;

namespace {

constexpr uint8_t kRegistrationPriority = 127;

// The records of one kind, in the order of the numbers in their value names; empty when the key
// cannot be read.
template <class Record> std::vector<Record> ReadRecords(int row, const char *prefix)
{
    std::vector<STORAGE_RECORD_VALUE> values;
    std::vector<Record> records;
    if (ReadStorageRecords(row, prefix, RecordNumberBase::Decimal, sizeof(Record), &values) != ERROR_SUCCESS)
        return records;
    records.resize(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        std::memcpy(&records[i], values[i].Data.data(), sizeof(Record));
    return records;
}

// A fixed text field as a NUL-terminated string, whatever the field holds.
std::string Text(const char *field, size_t size)
{
    return std::string(field, strnlen(field, size));
}
#define FIELD_TEXT(field) Text(field, sizeof field).c_str()

bool BeginTable(DATASTORE_TABLE *table, std::initializer_list<uint32_t> entry)
{
    return table->BeginTable(EnterpriseOid(entry), 1, true);
}

} // namespace

ZDTiSCSIDataCollector::ZDTiSCSIDataCollector() : DATACOLLECTOR(L"ZDTISCSI", 169, 1, 5, &s_ServiceParameters.EnableZDTISCSI)
{}

ZDTiSCSIDataCollector::~ZDTiSCSIDataCollector() = default;

void ZDTiSCSIDataCollector::ResetForTests()
{
    m_PreviousInstances.clear();
    m_FirstCheck = true;
}

int ZDTiSCSIDataCollector::Register(AXSESSION *session)
{
    static const std::initializer_list<uint32_t> kRegions[] = {
        {169, 1}, {169, 2, 2}, {169, 2, 3}, {169, 2, 9}, {169, 2, 11}, {169, 2, 12},
    };
    int result = 0;
    for (const auto &region : kRegions) {
        uint8_t encoded[AGENTX_PDU_BUFFER_SIZE / 4];
        EncodeAgentXOid(EnterpriseOid(region), encoded);
        const int registered = session->Register(encoded, kRegistrationPriority);
        if (registered != 0)
            result = registered;
    }
    return result;
}

void ZDTiSCSIDataCollector::Collect(int, DATASTORE *staging)
{
    LOG_INFO(L"ZDTiSCSIDataCollector::Collect", L"Starting iSCSI collector.");
    ISCSI_LISTS context;
    BuildIscsiLists(&context);
    CoWMIInitialize();
    HRESULT connected = CoWMINameSpaceConnect(L"root\\WMI");
    if (connected != 0)
        LOG_VERBOSE(L"ZDTiSCSIDataCollector::Collect",
                    L"Can't open WMI Namespace. CoWMINameSpaceConnect returned %08X", static_cast<unsigned>(connected));
    UpdateIscsiData(&context);
    Collect_zdtIscsiInst(staging);
    CheckIscsiChanges();
    Collect_zdtIscsiPortal(staging);
    Collect_zdtIscsiInitiator(staging);
    Collect_zdtIscsiSession(staging);
    Collect_zdtIscsiConnection(staging);
    CoWMINameSpaceRelease();
    CoWMIUninitialize();
}

void ZDTiSCSIDataCollector::Collect_zdtIscsiInst(DATASTORE *staging)
{
    LOG_INFO(L"ZDTiSCSIDataCollector::Collect_zdtIscsiInst", L"Collecting iSCSI instance info.");
    std::vector<ISCSI_INSTANCE_RECORD> records = ReadRecords<ISCSI_INSTANCE_RECORD>(STORAGE_ROW_ISCSI_INSTANCE, "Instance");
    DATASTORE_TABLE table(staging);
    if (!BeginTable(&table, {169, 2, 2, 1, 1}))
        return;
    const MIBOID zeroZero{0, 0};
    for (ISCSI_INSTANCE_RECORD &record : records) {
        record.InstanceCount = static_cast<uint32_t>(records.size());
        table.SetIndex(record.InstanceIndex);
        table.SetGauge32(1, record.InstanceIndex);
        table.SetString(2, FIELD_TEXT(record.Description));
        table.SetInteger(3, record.VersionMin);
        table.SetInteger(4, record.VersionMax);
        table.SetString(5, FIELD_TEXT(record.VendorId));
        table.SetString(6, FIELD_TEXT(record.VendorVersion));
        table.SetGauge32(7, record.NumberOfPortals);
        table.SetGauge32(8, record.InstanceCount);
        table.SetGauge32(9, record.NumberOfSessions);
        table.SetCounter32(10, record.SessionFailureCount);
        table.SetOid(11, zeroZero);
        table.SetString(12, FIELD_TEXT(record.RemoteNodeName));
        SetCondition(2);
        LOG_VERBOSE(L"ZDTiSCSIDataCollector::Collect_zdtIscsiInst",
                    L"Index: %d Description: %hs VendorID: %hs NumberPortals: %d NumberSessions: %d SsnFailures: %ld",
                    record.InstanceIndex, FIELD_TEXT(record.Description), FIELD_TEXT(record.VendorId),
                    record.NumberOfPortals, record.NumberOfSessions, static_cast<long>(record.SessionFailureCount));
    }
}

void ZDTiSCSIDataCollector::Collect_zdtIscsiPortal(DATASTORE *staging)
{
    LOG_INFO(L"ZDTiSCSIDataCollector::Collect_zdtIscsiPortal", L"Collecting iSCSI portal info.");
    std::vector<ISCSI_PORTAL_RECORD> records = ReadRecords<ISCSI_PORTAL_RECORD>(STORAGE_ROW_ISCSI_PORTAL, "Portal");
    DATASTORE_TABLE table(staging);
    if (!BeginTable(&table, {169, 2, 3, 1, 1}))
        return;
    for (const ISCSI_PORTAL_RECORD &record : records) {
        table.SetIndex(record.PortalIndex);
        table.SetGauge32(1, record.InstanceIndex);
        table.SetGauge32(2, record.PortalIndex);
        table.SetInteger(3, static_cast<int32_t>(record.Constant1));
        table.SetOctetString(4, 2, record.Roles);
        table.SetInteger(5, static_cast<int32_t>(record.AddressType));
        table.SetString(6, FIELD_TEXT(record.Address));
        table.SetInteger(7, static_cast<int32_t>(record.Protocol));
        table.SetInteger(8, static_cast<int32_t>(record.MaxRecvDataLength));
        table.SetInteger(9, static_cast<int32_t>(record.HeaderDigest));
        table.SetInteger(10, static_cast<int32_t>(record.DataDigest));
        table.SetInteger(11, static_cast<int32_t>(record.Constant3a));
        table.SetInteger(12, static_cast<int32_t>(record.Constant3b));
        table.SetInteger(13, static_cast<int32_t>(record.Constant2));
        LOG_VERBOSE(L"ZDTiSCSIDataCollector::Collect_zdtIscsiPortal",
                    L"Index: %d PortalIndex: %d AddrType: %d Address: %hs Protocol: %d MaxRecvData: %ld",
                    record.InstanceIndex, record.PortalIndex, record.AddressType, FIELD_TEXT(record.Address),
                    record.Protocol, static_cast<long>(record.MaxRecvDataLength));
    }
}

void ZDTiSCSIDataCollector::Collect_zdtIscsiInitiator(DATASTORE *staging)
{
    LOG_INFO(L"ZDTiSCSIDataCollector::Collect_zdtIscsiInitiator", L"Collecting iSCSI initiator info.");
    std::vector<ISCSI_INITIATOR_RECORD> records =
        ReadRecords<ISCSI_INITIATOR_RECORD>(STORAGE_ROW_ISCSI_INITIATOR, "Initiator");
    DATASTORE_TABLE table(staging);
    if (!BeginTable(&table, {169, 2, 9, 1, 1}))
        return;
    for (const ISCSI_INITIATOR_RECORD &record : records) {
        table.SetIndex(record.InstanceIndex);
        table.SetGauge32(1, record.InstanceIndex);
        table.SetGauge32(2, record.NodeIndex);
        table.SetCounter32(3, record.LoginFailures);
        table.SetTimeTicks(4, record.LastFailureTime);
        table.SetString(6, FIELD_TEXT(record.FailureName));
        table.SetInteger(7, 1);
        table.SetString(8, FIELD_TEXT(record.FailureAddress));
        LOG_VERBOSE(L"ZDTiSCSIDataCollector::Collect_zdtIscsiInitiator",
                    L"Index: %d NodeIndex: %d LoginFailures: %ld FailureName: %hs FailureAddrType: %d FailureAddress: %hs",
                    record.InstanceIndex, record.NodeIndex, static_cast<long>(record.LoginFailures),
                    FIELD_TEXT(record.FailureName), 1, FIELD_TEXT(record.FailureAddress));
    }
}

void ZDTiSCSIDataCollector::Collect_zdtIscsiSession(DATASTORE *staging)
{
    LOG_INFO(L"ZDTiSCSIDataCollector::Collect_zdtIscsiSession", L"Collecting iSCSI session info.");
    std::vector<ISCSI_SESSION_RECORD> records = ReadRecords<ISCSI_SESSION_RECORD>(STORAGE_ROW_ISCSI_SESSION, "Session");
    DATASTORE_TABLE table(staging);
    if (!BeginTable(&table, {169, 2, 11, 1, 1}))
        return;
    for (const ISCSI_SESSION_RECORD &record : records) {
        char isid[2 * sizeof record.Isid + 1] = {};
        for (size_t i = 0; i < sizeof record.Isid; ++i)
            std::snprintf(isid + 2 * i, 3, "%02X", static_cast<unsigned>(record.Isid[i]));
        table.SetIndex(record.SessionIndex);
        table.SetGauge32(1, record.InstanceIndex);
        table.SetGauge32(2, record.NodeIndex);
        table.SetGauge32(3, record.SessionIndex);
        table.SetString(5, FIELD_TEXT(record.InitiatorName));
        table.SetString(6, FIELD_TEXT(record.TargetName));
        table.SetInteger(7, static_cast<int32_t>(record.Tsid));
        table.SetString(8, isid);
        table.SetString(9, FIELD_TEXT(record.InitiatorAlias));
        table.SetString(10, FIELD_TEXT(record.TargetAlias));
        table.SetInteger(11, static_cast<int32_t>(record.InitialR2t));
        table.SetInteger(12, static_cast<int32_t>(record.ImmediateData));
        table.SetInteger(13, static_cast<int32_t>(record.SessionType));
        table.SetInteger(14, static_cast<int32_t>(record.MaxOutstandingR2t));
        table.SetInteger(15, record.FirstBurstLength);
        table.SetInteger(16, record.MaxBurstLength);
        table.SetGauge32(17, record.ConnectionCount);
        table.SetInteger(19, static_cast<int32_t>(record.DataSequenceInOrder));
        table.SetInteger(20, static_cast<int32_t>(record.DataPduInOrder));
        table.SetInteger(21, static_cast<int32_t>(record.ErrorRecoveryLevel));
        table.SetString(22, FIELD_TEXT(record.SessionId));
        LOG_VERBOSE(L"ZDTiSCSIDataCollector::Collect_zdtIscsiSession",
                    L"InstIndex: %d NodeIndex: %d SsnIndex: %d Initiator: %hs Target: %hs IntrAlias: %hs TargetAlias: %hs "
                    L"SessionType: %d NumberConnections: %d ErrorRecoveryLevel: %d SessionID: %hs",
                    record.InstanceIndex, record.NodeIndex, record.SessionIndex, FIELD_TEXT(record.InitiatorName),
                    FIELD_TEXT(record.TargetName), FIELD_TEXT(record.InitiatorAlias), FIELD_TEXT(record.TargetAlias),
                    record.SessionType, record.ConnectionCount, record.ErrorRecoveryLevel, FIELD_TEXT(record.SessionId));
    }
}

void ZDTiSCSIDataCollector::Collect_zdtIscsiConnection(DATASTORE *staging)
{
    LOG_INFO(L"ZDTiSCSIDataCollector::Collect_zdtIscsiConnection", L"Collecting iSCSI connection info.");
    std::vector<ISCSI_CONNECTION_RECORD> records =
        ReadRecords<ISCSI_CONNECTION_RECORD>(STORAGE_ROW_ISCSI_CONNECTION, "Connection");
    DATASTORE_TABLE table(staging);
    if (!BeginTable(&table, {169, 2, 12, 1, 1}))
        return;
    for (const ISCSI_CONNECTION_RECORD &record : records) {
        table.SetIndex(record.ConnectionIndex);
        table.SetGauge32(1, record.InstanceIndex);
        table.SetGauge32(2, record.NodeIndex);
        table.SetGauge32(3, record.SessionIndex);
        table.SetGauge32(4, record.ConnectionIndex);
        table.SetInteger(5, static_cast<int32_t>(record.Cid));
        table.SetInteger(6, static_cast<int32_t>(record.State));
        table.SetInteger(7, static_cast<int32_t>(record.LocalAddressType));
        table.SetString(8, FIELD_TEXT(record.LocalAddress));
        table.SetInteger(9, static_cast<int32_t>(record.Protocol));
        table.SetGauge32(10, record.LocalPort);
        table.SetInteger(11, static_cast<int32_t>(record.RemoteAddressType));
        table.SetString(12, FIELD_TEXT(record.RemoteAddress));
        table.SetGauge32(13, record.RemotePort);
        table.SetInteger(14, record.MaxRecvDataSegmentLength);
        table.SetInteger(15, record.MaxDatagramSize);
        table.SetInteger(16, static_cast<int32_t>(record.HeaderIntegrity));
        table.SetInteger(17, static_cast<int32_t>(record.DataIntegrity));
        table.SetInteger(18, static_cast<int32_t>(record.Constant2a));
        table.SetInteger(19, static_cast<int32_t>(record.Constant2b));
        table.SetInteger(20, static_cast<int32_t>(record.Reserved148));
        LOG_VERBOSE(L"ZDTiSCSIDataCollector::Collect_zdtIscsiConnection",
                    L"InstIndex: %d NodeIndex: %d SsnIndex: %d CxnIndex: %d CxnID: %d State: %d LocalAddrType: %d "
                    L"LocalAddress: %hs RemoteAddrType: %d RemoteAddress: %hs",
                    record.InstanceIndex, record.NodeIndex, record.SessionIndex, record.ConnectionIndex, record.Cid,
                    record.State, record.LocalAddressType, FIELD_TEXT(record.LocalAddress), record.RemoteAddressType,
                    FIELD_TEXT(record.RemoteAddress));
    }
}

LONG ZDTiSCSIDataCollector::GetIscsiData(std::vector<ISCSI_INSTANCE_RECORD> *list)
{
    LOG_INFO(L"ZDTiSCSIDataCollector::GetIscsiData", L"Get iSCSI controller info.");
    list->clear();
    std::vector<STORAGE_RECORD_VALUE> values;
    LONG result = ReadStorageRecords(STORAGE_ROW_ISCSI_INSTANCE, "Instance", RecordNumberBase::Decimal,
                                     sizeof(ISCSI_INSTANCE_RECORD), &values);
    if (result != ERROR_SUCCESS)
        return result;
    list->resize(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        ISCSI_INSTANCE_RECORD &record = (*list)[i];
        std::memcpy(&record, values[i].Data.data(), sizeof record);
        LOG_VERBOSE(L"ZDTiSCSIDataCollector::GetIscsiData",
                    L"Index: %d Description: %hs InstanceName: %hs VendorID: %hs VendorVersion: %hs NumberPortals: %d "
                    L"NumberSessions: %d SsnFailures: %d RemoteNodeName: %hs",
                    record.InstanceIndex, FIELD_TEXT(record.Description), FIELD_TEXT(record.InstanceName),
                    FIELD_TEXT(record.VendorId), FIELD_TEXT(record.VendorVersion), record.NumberOfPortals,
                    record.NumberOfSessions, record.SessionFailureCount, FIELD_TEXT(record.RemoteNodeName));
    }
    return 0;
}

LONG ZDTiSCSIDataCollector::CheckIscsiChanges()
{
    std::vector<ISCSI_INSTANCE_RECORD> current;
    LONG result = GetIscsiData(&current);
    CheckIscsiTraps(m_PreviousInstances, current);
    m_PreviousInstances = std::move(current);
    return result;
}

void ZDTiSCSIDataCollector::CheckIscsiTraps(const std::vector<ISCSI_INSTANCE_RECORD> &oldList,
                                            const std::vector<ISCSI_INSTANCE_RECORD> &newList)
{
    const size_t nOld = oldList.size();
    const size_t nNew = newList.size();
    LOG_VERBOSE(L"ZDTiSCSIDataCollector::CheckIscsiTraps", L"TotalInstancesNew: %d TotalInstancesOld: %d",
                static_cast<int>(nNew), static_cast<int>(nOld));
    if (nOld == 0 && nNew == 0)
        return;
    uint32_t sNew = nNew != 0 ? newList.back().NumberOfSessions : 0;
    uint32_t sOld = nNew != 0 && nOld != 0 ? oldList.back().NumberOfSessions : 0;
    size_t p = 0;
    if (nOld != 0) {
        const ISCSI_INSTANCE_RECORD *last = nNew != 0 ? &newList.back() : nullptr;
        bool matched = last != nullptr && std::any_of(oldList.begin(), oldList.end(), [&](const ISCSI_INSTANCE_RECORD &old) {
                           return std::memcmp(old.InstanceName, last->InstanceName, sizeof old.InstanceName) == 0;
                       });
        p = matched ? nOld - 1 : (nNew != 0 ? nNew - 1 : 0);
    }
    if (m_FirstCheck) {
        sOld = sNew;
        m_FirstCheck = false;
    }
    LOG_VERBOSE(L"ZDTiSCSIDataCollector::CheckIscsiTraps", L"SessionCountNew: %d SessionCountOld: %d",
                static_cast<int>(sNew), static_cast<int>(sOld));
    // The position comes from one list and may index the other: it is kept inside the list the
    // trap describes.
    if (sNew > sOld)
        SendIscsiTrap(169001, newList[std::min(p, nNew - 1)]);
    else if (sNew < sOld)
        SendIscsiTrap(169002, oldList[std::min(p, nOld - 1)]);
}

void ZDTiSCSIDataCollector::SendIscsiTrap(uint32_t trapNumber, const ISCSI_INSTANCE_RECORD &record)
{
    std::string description = Text(record.Description, sizeof record.Description);
    LOG_INFO(L"ZDTiSCSIDataCollector::SendIscsiTrap", L"iSCSI description = %hs", description.c_str());
    TRAP_BUFFER *trap = CreateStorageTrap(trapNumber);
    if (trap == nullptr)
        return;
    AddStorageTrapHeader(trap, 1);
    uint8_t oid[AGENTX_PDU_BUFFER_SIZE / 8];
    uint8_t varbind[AGENTX_PDU_BUFFER_SIZE / 2];
    EncodeAgentXOid(EnterpriseOid({169, 2, 2, 1, 1, 2, 0}), oid);
    SetLastSubId(oid, record.InstanceIndex);
    AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, oid, description.c_str()));
    SendTrap(trap);
}
