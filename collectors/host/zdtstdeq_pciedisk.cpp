// The PCIe disk table, the overall PCIe disk condition (served and kept in the registry), and the
// traps for a disk whose temperature, controller status or health changed since the last cycle.
#include "zdtstdeq_collector.h"
#include "zdtstdeq_pcie.h"

#include "agentx_pdu.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "registry.h"
#include "store_writers.h"
#include "traps.h"

namespace {

constexpr wchar_t kPcieDiskStatusKey[] =
    L"HKLM:System\\CurrentControlSet\\Services\\JUV\\MibStore\\MirtolServer\\Std_Equip\\Component\\PCIeDiskStatus";

MIBOID PcieDiskGroup() { return EnterpriseOid({1, 2, 23}); }
MIBOID PcieDiskEntry() { return EnterpriseOid({1, 2, 23, 1, 1}); }

uint32_t IndexPart(int32_t value) { return static_cast<uint32_t>(value); }

void WritePcieDiskStatus(int32_t condition)
{
    CRegistry key(kPcieDiskStatusKey, MAXIMUM_ALLOWED);
    key.Create();
    key.SetDword(L"pcieDiskStatus", static_cast<DWORD>(condition));
}

} // namespace

void ZDTSTDEQDataCollector::Collect_zdtSePcieDisk(int firstRun, DATASTORE *staging)
{
    if (firstRun == 0)
        Sleep(1);
    LOG_VERBOSE(L"ZDTSTDEQDataCollector::Collect_zdtSePcieDisk",
                L"ZDTSTDEQDataCollector::Collect_zdtSePcieDisk ENTRY\n");
    DATASTORE_TABLE table(staging);
    std::vector<PCIE_DISK_INFO> disks;
    EnumeratePcieDisks(&disks);
    // A discovery that finds nothing writes nothing: the rows, the condition and the registry
    // value of the last discovery that found disks stay as they are. Rows are written without
    // clearing, so the row of a disk that has gone stays served with its last values; a failed
    // query of one disk cannot be told from a disk that was removed.
    if (disks.empty())
        return;
    int32_t overall = 1;
    for (const PCIE_DISK_INFO &disk : disks) {
        if (!table.BeginTable(PcieDiskEntry(), 3, false))
            continue;
        const int32_t condition = PcieDiskCondition(disk.ControllerStatus, disk.HealthCode);
        table.SetIndex(IndexPart(disk.Bus), IndexPart(disk.Device), IndexPart(disk.Function));
        table.SetInteger(1, disk.Bus);
        table.SetInteger(2, disk.Device);
        table.SetInteger(3, disk.Function);
        table.SetString(4, disk.Model.c_str());
        table.SetString(5, disk.FirmwareRevision.c_str());
        table.SetString(6, disk.SerialNumber.c_str());
        table.SetGauge32(7, static_cast<uint32_t>(disk.SizeMb));
        table.SetInteger(8, condition);
        table.SetInteger(9, disk.Temperature);
        table.SetInteger(10, disk.ReferenceTemperature);
        table.SetString(11, disk.LocationText.c_str());
        table.SetString(12, ("Disk " + FormatUnsigned(static_cast<uint32_t>(disk.DiskIndex))).c_str());
        table.SetInteger(13, disk.HealthCode);
        table.SetCounter32(14, disk.PowerOnHours);
        table.SetGauge32(15, static_cast<uint32_t>(disk.PercentageUsed));
        if (condition > overall)
            overall = condition;
    }
    // The condition goes into the staging store first and into the registry only once it is
    // there: when the store has no room left for it, the registry keeps the condition that stays
    // served, so the two never tell different conditions.
    DATASTORE_CURSOR cursor(staging);
    if (!cursor.Open(PcieDiskGroup(), false) || !cursor.SetInteger(2, overall))
        return;
    WritePcieDiskStatus(overall);
}

int ZDTSTDEQDataCollector::UpdatePcieDiskData()
{
    LOG_VERBOSE(L"ZDTSTDEQDataCollector::UpdatePcieDiskData", L"UpdatePcieDiskData\n");
    std::vector<PCIE_DISK_INFO> disks;
    const int result = EnumeratePcieDisks(&disks);
    if (!disks.empty()) {
        ComparePcieDiskLists(m_PreviousPcieDisks, disks);
        SavePcieDiskList(disks);
        disks.clear();
    }
    return result;
}

void ZDTSTDEQDataCollector::ComparePcieDiskLists(const std::vector<PCIE_DISK_INFO> &previous,
                                                 const std::vector<PCIE_DISK_INFO> &current)
{
    for (const PCIE_DISK_INFO &disk : current)
        for (const PCIE_DISK_INFO &before : previous)
            for (unsigned trap : PcieDiskTraps(before, disk))
                SendPcieDiskTrap(trap, disk);
}

size_t ZDTSTDEQDataCollector::SavePcieDiskList(const std::vector<PCIE_DISK_INFO> &current)
{
    m_PreviousPcieDisks.assign(current.begin(), current.end());
    return m_PreviousPcieDisks.size();
}

void ZDTSTDEQDataCollector::SendPcieDiskTrap(unsigned trapNumber, const PCIE_DISK_INFO &disk)
{
    LOG_VERBOSE(L"ZDTSTDEQDataCollector::SendPcieDiskTrap", L"STDEQ_PCIeDisk::SendPcieDiskTrap(%d)\n",
                static_cast<int>(trapNumber));
    SendHostTrap(trapNumber, PcieDiskTrapFlags(trapNumber, disk), [&](TRAP_BUFFER *trap) {
        uint8_t oid[AGENTX_PDU_BUFFER_SIZE / 8];
        uint8_t varbind[AGENTX_PDU_BUFFER_SIZE / 2];
        auto name = [&](uint32_t column) {
            EncodeAgentXOid(EnterpriseOid({1, 2, 23, 1, 1, column, 0, 0, 0}), oid);
            SetLastThreeSubIds(oid, IndexPart(disk.Bus), IndexPart(disk.Device), IndexPart(disk.Function));
            return oid;
        };
        auto integer = [&](uint32_t column, int32_t value) {
            AddTrapVarBind(trap, MakeIntegerVarBind(varbind, name(column), value));
        };
        auto text = [&](uint32_t column, const std::string &value) {
            AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, name(column), value.c_str()));
        };
        integer(1, disk.Bus);
        integer(2, disk.Device);
        integer(3, disk.Function);
        if (trapNumber == 1015 || trapNumber == 1016) {
            integer(9, disk.Temperature);
            integer(10, disk.ReferenceTemperature);
        } else if (trapNumber == 1017) {
            text(8, disk.ControllerStatus);
        } else if (trapNumber == 1018) {
            integer(13, disk.HealthCode);
        }
        text(11, disk.LocationText);
    });
}
