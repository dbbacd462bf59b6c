#include "zdtsas_collector.h"

#include "agentx_pdu.h"
#include "ax_session.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "sas_engine.h"
#include "service_parameters.h"
#include "storage_trap.h"
#include "store_writers.h"
#include "traps.h"
#include "zdtscsi_collector.h"

#include <cctype>
#include <cstring>
#include <string>

ZDTSASDataCollector s_ZDTSASDataCollector;

namespace {

constexpr uint8_t kRegistrationPriority = 127;
constexpr uint32_t kTrapStatus = 5022;
constexpr uint32_t kTrapWear = 5026;

std::string Text(const char *field, size_t size)
{
    return std::string(field, strnlen(field, size));
}
#define FIELD_TEXT(field) Text(field, sizeof field).c_str()

// Count, then fill; a failed call or allocation leaves the list empty.
template <typename Record>
void CopyRecords(int (*exporter)(void *, int32_t *), std::vector<Record> *records)
{
    records->clear();
    int32_t count = 0;
    if (exporter(nullptr, &count) != 0 || count <= 0)
        return;
    std::vector<Record> buffer;
    try {
        buffer.resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc &) {
        return;
    }
    if (exporter(buffer.data(), &count) != 0)
        return;
    // Drives may have left between the two calls: only the records the second call wrote count.
    if (static_cast<size_t>(count) < buffer.size())
        buffer.resize(static_cast<size_t>(count));
    *records = std::move(buffer);
}

// Drives are matched by their serial number, without regard to case. A drive whose serial number
// could not be read has none to match by: it is matched by its row, its adapter and the drive
// index the discovery engine keeps for it while the drive stays where it is, so that its changes
// still reach the management processor without every such drive counting as one.
bool SameDrive(const SAS_PHYDRV_RECORD &a, const SAS_PHYDRV_RECORD &b)
{
    const std::string x = Text(a.SerialNumber, sizeof a.SerialNumber);
    const std::string y = Text(b.SerialNumber, sizeof b.SerialNumber);
    if (x.empty() || y.empty())
        return x.empty() && y.empty() && a.AdapterIndex == b.AdapterIndex && a.DriveIndex == b.DriveIndex;
    if (x.size() != y.size())
        return false;
    for (size_t i = 0; i < x.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(x[i])) != std::toupper(static_cast<unsigned char>(y[i])))
            return false;
    return true;
}

uint8_t VanishedStatus(uint8_t status)
{
    switch (status) {
    case 2: return 6;
    case 3: return 7;
    case 4: return 8;
    case 5: return 9;
    case 10: return 11;
    default: return 13;
    }
}

} // namespace

ZDTSASDataCollector::ZDTSASDataCollector() : DATACOLLECTOR(L"ZDTSAS", 0, 0, 0, &s_ServiceParameters.EnableZDTSAS)
{}

ZDTSASDataCollector::~ZDTSASDataCollector() = default;

int ZDTSASDataCollector::Register(AXSESSION *session)
{
    uint8_t encoded[AGENTX_PDU_BUFFER_SIZE / 4];
    EncodeAgentXOid(EnterpriseOid({5, 5}), encoded);
    return session->Register(encoded, kRegistrationPriority);
}

int ZDTSASDataCollector::GetSasHbaRecords(std::vector<SAS_HBA_RECORD> *records)
{
    CopyRecords(SasGetHbaList, records);
    return 0;
}

int ZDTSASDataCollector::GetSasDriveRecords(std::vector<SAS_PHYDRV_RECORD> *records)
{
    CopyRecords(SasGetPhysicalDriveList, records);
    return 0;
}

void ZDTSASDataCollector::Collect(int, DATASTORE *staging)
{
    LOG_INFO(L"ZDTSASDataCollector::Collect", L"Starting SAS collector.");
    // Group 5's condition is the SCSI collector's. The scheduler collects that one on the first
    // cycle and then only when a request for group 5 triggers it (it has no interval of its own
    // unless the Parameters key gives it one); this one on its own interval.
    // In a cycle where both collect, the SCSI collector (earlier in the list) was reset at the
    // cycle's start, this collection raises it, and its end publishes it. In every other cycle
    // this collection only raises it: the status objects show the raised value at once, the
    // group's condition object keeps what the SCSI collector's last end published, and that end
    // takes this collector's condition when it runs without this collection.
    Collect_zdtSasHba(staging);
    UpdateDriveList();
    Collect_zdtSasPhyDrv(staging);
}

void ZDTSASDataCollector::Collect_zdtSasHba(DATASTORE *staging)
{
    std::vector<SAS_HBA_RECORD> records;
    GetSasHbaRecords(&records);
    DATASTORE_TABLE table(staging);
    if (!table.BeginTable(EnterpriseOid({5, 5, 1, 1, 1}), 1, true))
        return;
    for (const SAS_HBA_RECORD &r : records) {
        table.SetIndex(r.AdapterIndex);
        table.SetInteger(1, static_cast<int32_t>(r.AdapterIndex));
        table.SetString(2, FIELD_TEXT(r.Location));
        table.SetInteger(3, r.ModelCode);
        table.SetInteger(4, r.ControllerStatus);
        table.SetInteger(5, r.ControllerCondition);
        table.SetInteger(6, r.OverallCondition);
        table.SetString(7, FIELD_TEXT(r.SerialNumber));
        table.SetString(8, FIELD_TEXT(r.FirmwareVersion));
        table.SetString(9, FIELD_TEXT(r.BiosVersion));
        table.SetString(10, FIELD_TEXT(r.PciLocation));
        SetCondition(r.OverallCondition);
        s_ZDTSCSIDataCollector.SetCondition(r.OverallCondition);
        LOG_VERBOSE(L"ZDTSASDataCollector::Collect_zdtSasHba", L"Index: %u Location: %hs Model: %d Condition: %d",
                    r.AdapterIndex, FIELD_TEXT(r.Location), r.ModelCode, r.OverallCondition);
    }
}

void ZDTSASDataCollector::Collect_zdtSasPhyDrv(DATASTORE *staging)
{
    std::vector<SAS_PHYDRV_RECORD> records;
    GetSasDriveRecords(&records);
    DATASTORE_TABLE table(staging);
    if (!table.BeginTable(EnterpriseOid({5, 5, 2, 1, 1}), 2, true))
        return;
    for (const SAS_PHYDRV_RECORD &r : records) {
        table.SetIndex(r.AdapterIndex, r.DriveIndex);
        table.SetInteger(1, static_cast<int32_t>(r.AdapterIndex));
        table.SetInteger(2, static_cast<int32_t>(r.DriveIndex));
        table.SetString(3, FIELD_TEXT(r.LocationName));
        table.SetString(4, FIELD_TEXT(r.Model));
        table.SetInteger(5, r.Status);
        table.SetInteger(6, r.Condition);
        table.SetString(7, FIELD_TEXT(r.FirmwareRevision));
        table.SetInteger(8, static_cast<int32_t>(r.CapacityMiB));
        table.SetCounter32(9, r.GrownDefects);
        table.SetString(10, FIELD_TEXT(r.SerialNumber));
        table.SetInteger(11, r.ArrayRole);
        table.SetInteger(12, r.RotationClass);
        table.SetString(13, FIELD_TEXT(r.OsDiskName));
        table.SetInteger(14, r.Placement);
        table.SetInteger(15, r.HotPlugClass);
        table.SetInteger(16, r.DriveType);
        table.SetString(17, FIELD_TEXT(r.SasAddress));
        table.SetInteger(18, r.MediaType);
        table.SetInteger(19, r.WearStatus);
        table.SetCounter32(20, r.PowerOnHours);
        table.SetGauge32(21, r.EnduranceUsed);
        table.SetCounter32(22, r.RemainingHours);
        table.SetInteger(23, r.CarrierState);
        table.SetInteger(24, r.CarrierByteA);
        table.SetInteger(25, r.CarrierByteB);
        table.SetGauge32(26, r.CurrentTemperature);
        table.SetGauge32(27, r.ReferenceTemperature);
        table.SetString(28, FIELD_TEXT(r.EnclosureProduct));
        table.SetString(29, FIELD_TEXT(r.EnclosureRevision));
        table.SetString(30, FIELD_TEXT(r.EnclosureVendor));
        table.SetString(31, FIELD_TEXT(r.EnclosureSerial));
    }
}

void ZDTSASDataCollector::UpdateDriveList()
{
    std::vector<SAS_PHYDRV_RECORD> current;
    GetSasDriveRecords(&current);
    // No drive at all (every drive gone at once, or a discovery that failed): no trap, and the
    // previous list stays, so a drive that comes back is compared with what it was.
    if (current.empty())
        return;
    CheckSasTraps(current);
    SavePreviousDrives(current);
}

void ZDTSASDataCollector::CheckSasTraps(const std::vector<SAS_PHYDRV_RECORD> &current)
{
    const bool first = m_PreviousDrives.empty();
    for (const SAS_PHYDRV_RECORD &n : current) {
        bool known = false;
        bool sent = false;
        for (const SAS_PHYDRV_RECORD &p : m_PreviousDrives) {
            if (!SameDrive(n, p))
                continue;
            known = true;
            if (!sent && p.Status != n.Status) {
                SendSasTrap(kTrapStatus, n);
                sent = true;
            }
        }
        if (!sent)
            for (const SAS_PHYDRV_RECORD &p : m_PreviousDrives)
                if (SameDrive(n, p) && p.WearStatus != n.WearStatus) {
                    SendSasTrap(kTrapWear, n);
                    break;
                }
        if (!known && !first)
            SendSasTrap(kTrapStatus, n);
    }
    for (SAS_PHYDRV_RECORD &p : m_PreviousDrives) {
        bool present = false;
        for (const SAS_PHYDRV_RECORD &n : current)
            present = present || SameDrive(n, p);
        if (present)
            continue;
        p.Status = VanishedStatus(p.Status);
        SendSasTrap(kTrapStatus, p);
    }
}

void ZDTSASDataCollector::SavePreviousDrives(const std::vector<SAS_PHYDRV_RECORD> &current)
{
    m_PreviousDrives = current;
}

void ZDTSASDataCollector::SendSasTrap(uint32_t trapNumber, const SAS_PHYDRV_RECORD &r)
{
    LOG_INFO(L"ZDTSASDataCollector::SendSasTrap", L"Trap %u for drive %u.%u serial %hs status %d", trapNumber,
             r.AdapterIndex, r.DriveIndex, FIELD_TEXT(r.SerialNumber), r.Status);
    uint8_t trapOid[AGENTX_PDU_BUFFER_SIZE / 8];
    EncodeAgentXOid(EnterpriseOid({0, 0}), trapOid);
    SetLastSubId(trapOid, trapNumber);
    TRAP_BUFFER *trap = CreateTrap(trapOid);
    if (trap == nullptr)
        return;
    AddStorageTrapHeader(trap, r.Condition);
    uint8_t oid[AGENTX_PDU_BUFFER_SIZE / 8];
    uint8_t varbind[AGENTX_PDU_BUFFER_SIZE / 2];
    const uint32_t h = r.AdapterIndex, d = r.DriveIndex;
    EncodeAgentXOid(EnterpriseOid({5, 5, 1, 1, 1, 2, 0}), oid);
    SetLastSubId(oid, h);
    AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, oid, FIELD_TEXT(r.AdapterLocation)));
    auto column = [&](uint32_t number) {
        EncodeAgentXOid(EnterpriseOid({5, 5, 2, 1, 1, number, 0, 0}), oid);
        SetLastTwoSubIds(oid, h, d);
        return oid;
    };
    AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, column(3), FIELD_TEXT(r.LocationName)));
    AddTrapVarBind(trap, MakeIntegerVarBind(varbind, column(1), static_cast<int32_t>(h)));
    AddTrapVarBind(trap, MakeIntegerVarBind(varbind, column(2), static_cast<int32_t>(d)));
    if (trapNumber == kTrapStatus)
        AddTrapVarBind(trap, MakeIntegerVarBind(varbind, column(5), r.Status));
    AddTrapVarBind(trap, MakeIntegerVarBind(varbind, column(16), r.DriveType));
    AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, column(4), FIELD_TEXT(r.Model)));
    AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, column(7), FIELD_TEXT(r.FirmwareRevision)));
    AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, column(10), FIELD_TEXT(r.SerialNumber)));
    AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, column(17), FIELD_TEXT(r.SasAddress)));
    if (trapNumber == kTrapWear)
        AddTrapVarBind(trap, MakeIntegerVarBind(varbind, column(19), r.WearStatus));
    SendTrap(trap);
}
