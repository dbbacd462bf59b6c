#include "zdtide_collector.h"

#include "agentx_pdu.h"
#include "ax_session.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "ide_layer.h"
#include "service_parameters.h"
#include "smbios_string.h"
#include "smbios_table.h"
#include "storage_keys.h"
#include "storage_records.h"
#include "storage_trap.h"
#include "store_writers.h"
#include "traps.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

ZDTIDEDataCollector s_ZDTIDEDataCollector;

namespace {

constexpr uint8_t kRegistrationPriority = 127;
// The health query's answer of a disk that was busy: its status says nothing new.
constexpr int32_t kDiskBusy = 170;
// Temperatures from 128 up are no reading.
constexpr uint32_t kNoTemperature = 128;
constexpr uint32_t kDefaultMaximumTemperature = 60;
constexpr uint8_t kHighestChannelPosition = 20;

constexpr const wchar_t kGetData[] = L"ZDTIDEDataCollector::GetIdeDiskData";
constexpr const wchar_t kCheckTraps[] = L"ZDTIDEDataCollector::CheckIdeDiskTraps";
constexpr const wchar_t kReport[] = L"ZDTIDEDataCollector::Report_zdtIdeAtaDisk";

// SMBIOS structures naming the embedded SATA controllers (203) and the disks' locations (242).
constexpr uint8_t kControllerNameType = 203;
constexpr size_t kControllerLocationAt = 28;
constexpr size_t kControllerNameAt = 31;
constexpr uint8_t kDiskLocationType = 242;
constexpr size_t kDiskSerialAt = 39;
constexpr size_t kDiskModelAt = 40;
constexpr size_t kDiskLocationAt = 42;
constexpr char kEmbeddedSata[] = "Embedded SATA Controller";

// A fixed text field as a string, whatever the field holds.
template <size_t N> std::string Text(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

std::string Trimmed(std::string text)
{
    const char *space = " \t\r\n\f\v";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// Replaces a text field by a text, cut to the field and NUL-terminated; the rest zero-filled.
template <size_t N> void SetField(char (&field)[N], const std::string &text)
{
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

template <size_t N> void TrimField(char (&field)[N]) { SetField(field, Trimmed(Text(field))); }

bool SameText(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && _strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// The name of the embedded SATA controller at this PCI location from the SMBIOS structures
// naming them, or "" when none does.
std::string SmbiosControllerName(const CSMBIOSTable &smbios, const IDE_CONTROLLER_RECORD &controller)
{
    for (unsigned i = 0; const uint8_t *structure = smbios.FindStructure(kControllerNameType, i); ++i) {
        const char *name = SmbiosStringAt(smbios, structure, kControllerNameAt);
        const char *location = SmbiosStringAt(smbios, structure, kControllerLocationAt);
        if (std::strstr(name, kEmbeddedSata) == nullptr)
            continue;
        int bus = -1, device = -1, function = -1;
        std::sscanf(Text(controller.PciLocation).c_str(), "0000:%02x:%02x.%01x", &bus, &device, &function);
        char path[64];
        std::snprintf(path, sizeof path, "PciRoot(0x%x)/Pci(0x%x,0x%x)", bus, device, function);
        if (std::strstr(location, path) != nullptr)
            return name;
    }
    return {};
}

// The disk's location from the first SMBIOS structure naming its model and serial number, or "".
std::string SmbiosDiskLocation(const CSMBIOSTable &smbios, const IDE_DISK_RECORD &disk)
{
    const std::string model = Trimmed(Text(disk.Model));
    const std::string serial = Trimmed(Text(disk.Serial));
    for (unsigned i = 0; const uint8_t *structure = smbios.FindStructure(kDiskLocationType, i); ++i) {
        if (SameText(Trimmed(SmbiosStringAt(smbios, structure, kDiskModelAt)), model) &&
            SameText(Trimmed(SmbiosStringAt(smbios, structure, kDiskSerialAt)), serial))
            return SmbiosStringAt(smbios, structure, kDiskLocationAt);
    }
    return {};
}

const CSMBIOSTable *ValidTable(const CSMBIOSTable *smbios)
{
    return smbios != nullptr && smbios->IsValid() ? smbios : nullptr;
}

MIBOID DiskColumn(uint32_t column) { return EnterpriseOid({14, 2, 4, 1, 1, column, 0, 0}); }

} // namespace

ZDTIDEDataCollector::ZDTIDEDataCollector() : DATACOLLECTOR(L"ZDTIDE", 14, 1, 12, &s_ServiceParameters.EnableZDTIDE)
{
    // The device layer starts with the program, enabled or not; what it finds is published for
    // other programs too. Its result shows in the records, not here.
    IdeInit();
}

ZDTIDEDataCollector::~ZDTIDEDataCollector() = default;

void ZDTIDEDataCollector::ResetForTests()
{
    m_PreviousDisks.clear();
    m_FirstPoll = 1;
}

int ZDTIDEDataCollector::Register(AXSESSION *session)
{
    uint8_t encoded[AGENTX_PDU_BUFFER_SIZE / 4];
    EncodeAgentXOid(EnterpriseOid({14}), encoded);
    return session->Register(encoded, kRegistrationPriority);
}

void ZDTIDEDataCollector::Collect(int, DATASTORE *staging)
{
    const CSMBIOSTable *smbios = s_SMBIOSTable.get();

    std::vector<IDE_CONTROLLER_RECORD> controllers;
    int count = 0;
    if (IdeGetControllers(nullptr, &count) == ERROR_SUCCESS && count > 0) {
        controllers.resize(count);
        if (IdeGetControllers(controllers.data(), &count) != ERROR_SUCCESS)
            controllers.clear();
        else
            controllers.resize(std::min<size_t>(controllers.size(), count));
    }
    WriteControllerTable(staging, std::move(controllers), smbios);

    std::vector<IDE_DISK_RECORD> current;
    if (GetIdeDiskData(&current) == ERROR_SUCCESS && !current.empty()) {
        CheckIdeDiskTraps(m_PreviousDisks, current);
        m_PreviousDisks = std::move(current);
    }

    Report_zdtIdeAtaDisk(staging);
}

void ZDTIDEDataCollector::WriteControllerTable(DATASTORE *staging, std::vector<IDE_CONTROLLER_RECORD> controllers,
                                               const CSMBIOSTable *smbios)
{
    smbios = ValidTable(smbios);
    for (size_t i = 0; i < controllers.size(); ++i) {
        IDE_CONTROLLER_RECORD &controller = controllers[i];
        std::string name = smbios != nullptr ? SmbiosControllerName(*smbios, controller) : std::string();
        if (name.empty()) {
            // Appended piece by piece: GCC 12 warns falsely on the temporaries of operator+ here.
            name = kEmbeddedSata;
            name += " #";
            name += std::to_string(i + 1);
        }
        SetField(controller.Name, name);
    }
    DATASTORE_TABLE table(staging);
    if (!table.BeginTable(EnterpriseOid({14, 2, 3, 1, 1}), 1, true))
        return;
    for (const IDE_CONTROLLER_RECORD &controller : controllers) {
        table.SetIndex(controller.ControllerIndex);
        table.SetInteger(1, controller.ControllerIndex);
        table.SetInteger(2, controller.Condition);
        table.SetString(3, Text(controller.Name).c_str());
        table.SetString(4, Text(controller.Version).c_str());
        table.SetInteger(5, controller.SlotNumber);
        table.SetInteger(6, controller.ControllerStatus);
        table.SetInteger(7, controller.SecondStatus);
        table.SetString(8, Text(controller.SerialNumber).c_str());
        table.SetString(9, "");
        table.SetString(10, Text(controller.PciLocation).c_str());
        SetCondition(controller.Condition);
    }
}

LONG ZDTIDEDataCollector::GetIdeDiskData(std::vector<IDE_DISK_RECORD> *list)
{
    list->clear();
    std::vector<STORAGE_RECORD_VALUE> values;
    const LONG result =
        ReadStorageRecords(STORAGE_ROW_IDE_ATADISK, "AtaDisk", RecordNumberBase::Hex, sizeof(IDE_DISK_RECORD), &values);
    if (result != ERROR_SUCCESS)
        return result;
    list->resize(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        IDE_DISK_RECORD &disk = (*list)[i];
        std::memcpy(&disk, values[i].Data.data(), sizeof disk);
        TrimField(disk.Model);
        TrimField(disk.Firmware);
        TrimField(disk.Serial);
        LOG_VERBOSE(kGetData, L"Registry disk index %X number %X status: %X %X", disk.DiskIndex, disk.ChannelPosition,
                    disk.Status, disk.WearStatus);
        LOG_VERBOSE(kGetData, L"Registry disk IOCTL return: %X", static_cast<unsigned>(disk.SmartResult));
        if (disk.SmartResult != kDiskBusy)
            continue;
        if (m_FirstPoll) {
            disk.Status = IDE_DISK_OTHER;
            disk.Condition = IDE_OTHER;
            LOG_VERBOSE(kGetData, L"MIB disk (read registry) index %X overwrite status to default", disk.DiskIndex);
        } else {
            GetPreviousDiskStatus(disk.Serial, &disk.Status, &disk.Condition);
            LOG_VERBOSE(kGetData, L"MIB disk (read registry) index %X use previous status", disk.DiskIndex);
        }
    }
    return ERROR_SUCCESS;
}

void ZDTIDEDataCollector::CheckIdeDiskTraps(const std::vector<IDE_DISK_RECORD> &previous,
                                            const std::vector<IDE_DISK_RECORD> &current)
{
    for (const IDE_DISK_RECORD &disk : current) {
        const std::string serial = Text(disk.Serial);
        // A disk without a serial number cannot be told from another: it is never matched.
        if (disk.Valid == 0 || serial.empty())
            continue;
        for (const IDE_DISK_RECORD &before : previous) {
            if (!SameText(Text(before.Serial), serial))
                continue;
            if (disk.Status == before.Status) {
                if (disk.WearStatus != before.WearStatus) {
                    LOG_INFO(kCheckTraps, L"zdtIdeAtaDiskSSDWearStatusChange %X : %X %X", disk.DiskIndex,
                             disk.WearStatus, before.WearStatus);
                    SendIdeTrap(14006, disk);
                }
            } else if (before.SmartResult == kDiskBusy && disk.Status == IDE_DISK_OK) {
                LOG_VERBOSE(kCheckTraps, L"Registry disk index %X is OK from busy, no need to send the trap",
                            disk.DiskIndex);
            } else {
                LOG_INFO(kCheckTraps, L"zdtIdeAtaDiskStatusChange %X : %X %X", disk.DiskIndex, disk.Status,
                         before.Status);
                SendIdeTrap(14004, disk);
            }
        }
    }
}

void ZDTIDEDataCollector::SendIdeTrap(uint32_t trapNumber, const IDE_DISK_RECORD &disk)
{
    uint8_t trapOid[AGENTX_PDU_BUFFER_SIZE / 8];
    EncodeAgentXOid(EnterpriseOid({0, 0}), trapOid);
    SetLastSubId(trapOid, trapNumber);
    TRAP_BUFFER *trap = CreateTrap(trapOid);
    if (trap == nullptr)
        return;
    AddStorageTrapHeader(trap, disk.Condition);

    uint8_t oid[AGENTX_PDU_BUFFER_SIZE / 8];
    uint8_t varbind[AGENTX_PDU_BUFFER_SIZE / 2];
    auto name = [&](uint32_t column) {
        EncodeAgentXOid(DiskColumn(column), oid);
        SetLastTwoSubIds(oid, disk.ControllerIndex, disk.DiskIndex);
        return oid;
    };
    auto integer = [&](uint32_t column, int32_t value) {
        AddTrapVarBind(trap, MakeIntegerVarBind(varbind, name(column), value));
    };
    auto text = [&](uint32_t column, const std::string &value) {
        AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, name(column), value.c_str()));
    };
    integer(1, disk.ControllerIndex);
    integer(2, disk.DiskIndex);
    text(3, Text(disk.Model));
    text(4, Text(disk.Firmware));
    text(5, Text(disk.Serial));
    if (trapNumber == 14006)
        integer(19, disk.WearStatus);
    else
        integer(6, disk.Status);
    integer(11, disk.Channel);
    integer(12, disk.ChannelPosition);
    SendTrap(trap);
}

void ZDTIDEDataCollector::Report_zdtIdeAtaDisk(DATASTORE *staging)
{
    std::vector<IDE_DISK_RECORD> disks;
    int count = 0;
    if (IdeGetDisks(nullptr, &count) == ERROR_SUCCESS && count > 0) {
        disks.resize(count);
        if (IdeGetDisks(disks.data(), &count) != ERROR_SUCCESS)
            disks.clear();
        else
            disks.resize(std::min<size_t>(disks.size(), count));
    }
    WriteDiskTable(staging, std::move(disks), s_SMBIOSTable.get());
}

void ZDTIDEDataCollector::WriteDiskTable(DATASTORE *staging, std::vector<IDE_DISK_RECORD> disks,
                                         const CSMBIOSTable *smbios)
{
    smbios = ValidTable(smbios);
    for (IDE_DISK_RECORD &disk : disks) {
        if (smbios != nullptr) {
            const std::string location = SmbiosDiskLocation(*smbios, disk);
            if (!location.empty())
                SetField(disk.Location, location);
        }
        if (disk.ChannelPosition > kHighestChannelPosition)
            disk.ChannelPosition = 1;
    }
    DATASTORE_TABLE table(staging);
    if (!table.BeginTable(EnterpriseOid({14, 2, 4, 1, 1}), 2, true))
        return;
    for (IDE_DISK_RECORD &disk : disks) {
        if (disk.Valid == 0)
            continue;
        if (disk.SmartResult == kDiskBusy) {
            if (m_FirstPoll) {
                disk.Status = IDE_DISK_OTHER;
                disk.Condition = IDE_OTHER;
                LOG_VERBOSE(kReport, L"MIB disk index %X overwrite status to default.", disk.DiskIndex);
            } else {
                GetPreviousDiskStatus(disk.Serial, &disk.Status, &disk.Condition);
            }
        }
        if (disk.Temperature >= kNoTemperature) {
            if (m_FirstPoll) {
                disk.Temperature = 0;
                LOG_VERBOSE(kReport, L"MIB disk index %X overwrite currrnt temperature to default.", disk.DiskIndex);
            } else {
                GetPreviousDiskCurrTemperature(disk.Serial, &disk.Temperature);
            }
        }
        if (disk.MaximumTemperature >= kNoTemperature) {
            if (m_FirstPoll) {
                disk.MaximumTemperature = kDefaultMaximumTemperature;
                LOG_VERBOSE(L"nZDTIDEDataCollector::Report_zdtIdeAtaDisk",
                            L"MIB disk index %X overwrite max temperature to default.", disk.DiskIndex);
            } else {
                GetPreviousDiskMaximumOperatingTemp(disk.Serial, &disk.MaximumTemperature);
            }
        }
        table.SetIndex(disk.ControllerIndex, disk.DiskIndex);
        table.SetInteger(1, disk.ControllerIndex);
        table.SetInteger(2, disk.DiskIndex);
        table.SetString(3, Text(disk.Model).c_str());
        table.SetString(4, Text(disk.Firmware).c_str());
        table.SetString(5, Text(disk.Serial).c_str());
        table.SetInteger(6, disk.Status);
        table.SetInteger(7, disk.Condition);
        table.SetInteger(8, static_cast<int32_t>(disk.CapacityMb));
        table.SetInteger(9, disk.SmartState);
        table.SetInteger(10, disk.TransferMode);
        table.SetInteger(11, disk.Channel);
        table.SetInteger(12, disk.ChannelPosition);
        table.SetInteger(13, disk.Membership);
        table.SetInteger(14, disk.RaidRole);
        table.SetString(15, Text(disk.DiskName).c_str());
        table.SetInteger(16, disk.Attachment);
        table.SetInteger(17, disk.Signalling);
        table.SetInteger(18, disk.Media);
        table.SetInteger(19, disk.WearStatus);
        table.SetUnsigned32(20, disk.PowerOnHours);
        table.SetUnsigned32(21, disk.EnduranceUsed);
        table.SetUnsigned32(22, static_cast<uint32_t>(disk.RemainingHours));
        table.SetInteger(23, static_cast<int32_t>(disk.Temperature));
        table.SetInteger(24, static_cast<int32_t>(disk.MaximumTemperature));
        table.SetInteger(25, static_cast<int32_t>(disk.MaximumTemperature));
        table.SetInteger(26, static_cast<int32_t>(disk.SctOverLimit));
        table.SetString(27, Text(disk.Location).c_str());
        table.SetCounter32(28, disk.CapacityHigh);
        table.SetCounter32(29, disk.CapacityLow);
    }
    m_FirstPoll = 0;
}

const IDE_DISK_RECORD *ZDTIDEDataCollector::FindPrevious(const char *serial) const
{
    const std::string wanted = Trimmed(std::string(serial, strnlen(serial, sizeof(IDE_DISK_RECORD::Serial))));
    if (wanted.empty())
        return nullptr;
    for (const IDE_DISK_RECORD &before : m_PreviousDisks) {
        if (SameText(Trimmed(Text(before.Serial)), wanted))
            return &before;
    }
    return nullptr;
}

void ZDTIDEDataCollector::GetPreviousDiskStatus(const char *serial, uint8_t *status, uint8_t *condition)
{
    const IDE_DISK_RECORD *before = FindPrevious(serial);
    if (before == nullptr)
        return;
    LOG_VERBOSE(L"ZDTIDEDataCollector::GetPreviousDiskStatus", L"MIB disk index overwrite status. From %X to %X (Index: %X)",
                *status, before->Status, before->DiskIndex);
    *status = before->Status;
    *condition = before->Condition;
}

void ZDTIDEDataCollector::GetPreviousDiskCurrTemperature(const char *serial, uint32_t *temperature)
{
    const IDE_DISK_RECORD *before = FindPrevious(serial);
    if (before == nullptr)
        return;
    LOG_VERBOSE(L"ZDTIDEDataCollector::GetPreviousDiskCurrTemperature",
                L"MIB disk index overwrite current temperature. From %X to %X (Index: %X)", *temperature,
                before->Temperature, before->DiskIndex);
    *temperature = before->Temperature;
}

void ZDTIDEDataCollector::GetPreviousDiskMaximumOperatingTemp(const char *serial, uint32_t *temperature)
{
    const IDE_DISK_RECORD *before = FindPrevious(serial);
    if (before == nullptr)
        return;
    LOG_VERBOSE(L"ZDTIDEDataCollector::GetPreviousDiskMaximumOperatingTemp",
                L"MIB disk index overwrite max temperature. From %X to %X (Index: %X)", *temperature,
                before->MaximumTemperature, before->DiskIndex);
    *temperature = before->MaximumTemperature;
}
