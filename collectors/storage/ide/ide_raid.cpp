#include "ide_raid.h"

#include "ata_decode.h"
#include "csmi_reply.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr unsigned IDE_RAID_DRIVES = 8;
constexpr unsigned CSMI_RAID_SETS = 32;
constexpr uint32_t XIDE_REBUILDING = 14;
constexpr uint8_t NO_REBUILD = 255;

// Logical-drive status codes.
enum : uint8_t { LD_OTHER = 1, LD_OK = 2, LD_DEGRADED = 3, LD_REBUILDING = 4, LD_FAILED = 5 };

IDE_LOGICAL_DRIVE_NODE *FindDrive(IDE_CONTROLLER_NODE *controller, uint8_t index)
{
    for (auto &drive : controller->LogicalDrives)
        if (drive->Record.DriveIndex == index)
            return drive.get();
    return nullptr;
}

void RemoveDrive(IDE_CONTROLLER_NODE *controller, uint8_t index)
{
    auto &drives = controller->LogicalDrives;
    drives.erase(std::remove_if(drives.begin(), drives.end(),
                                [&](const auto &drive) { return drive->Record.DriveIndex == index; }),
                 drives.end());
}

IDE_LOGICAL_DRIVE_NODE *MakeDrive(IDE_CONTROLLER_NODE *controller, uint8_t index, bool *made)
{
    *made = false;
    if (IDE_LOGICAL_DRIVE_NODE *existing = FindDrive(controller, index))
        return existing;
    auto node = std::make_unique<IDE_LOGICAL_DRIVE_NODE>();
    node->Record.ControllerIndex = controller->Record.ControllerIndex;
    node->Record.DriveIndex = index;
    IDE_LOGICAL_DRIVE_NODE *raw = node.get();
    auto &drives = controller->LogicalDrives;
    auto at = std::upper_bound(drives.begin(), drives.end(), index,
                               [](uint8_t value, const auto &drive) { return value < drive->Record.DriveIndex; });
    drives.insert(at, std::move(node));
    *made = true;
    return raw;
}

// The fields every refill sets the same way.
void StartFill(IDE_CONTROLLER_NODE *controller, IDE_LOGICAL_DRIVE_RECORD &record)
{
    record.Slot = static_cast<uint8_t>(controller->Record.SlotNumber);
    std::snprintf(record.ControllerName, sizeof record.ControllerName, "%s", controller->Record.Name);
    record.RebuildIndex = NO_REBUILD;
    record.Status = LD_OTHER;
    record.Condition = IDE_OTHER;
    record.Members = {};
    record.Second = {};
}

// Before a pass: no disk is a RAID member or in a logical drive until the controller says so.
void ResetDiskFlags(IDE_CONTROLLER_NODE *controller)
{
    for (auto &disk : controller->Disks) {
        disk->Record.RaidRole = IDE_FLAG_NO;
        disk->Record.Membership = IDE_FLAG_NO;
    }
}

IDE_DISK_NODE *DiskByIdentity(IDE_CONTROLLER_NODE *controller, const XIDE_DRIVE_ENTRY &entry)
{
    for (auto &disk : controller->Disks)
        if (std::strcmp(disk->Record.Model, entry.Model) == 0 && std::strcmp(disk->Record.Serial, entry.Serial) == 0)
            return disk.get();
    return nullptr;
}

IDE_DISK_NODE *DiskBySerial(IDE_CONTROLLER_NODE *controller, const char *serial)
{
    std::string trimmed(serial);
    while (!trimmed.empty() && trimmed.back() == ' ')
        trimmed.pop_back();
    for (auto &disk : controller->Disks)
        if (trimmed == disk->Record.Serial)
            return disk.get();
    return nullptr;
}

int RefreshXide(IDE_CONTROLLER_NODE *controller)
{
    ResetDiskFlags(controller);
    int first = 0;
    std::vector<uint8_t> block(XIDE_MEMBER_LIST_SIZE, 0);
    block[XIDE_REQUEST_BYTE_OFFSET] = 1;
    int result = IdeXideRequest(controller->Device, XIDE_MEMBER_LIST, XIDE_MEMBER_LIST_SIZE, block.data());
    XIDE_MEMBER_LIST_REPLY list;
    if (result != 0)
        first = result;
    else if (DecodeXideMemberList(block.data(), block.size(), &list))
        for (uint32_t i = 0; i < list.Count; ++i)
            if (IDE_DISK_NODE *disk = DiskByIdentity(controller, list.Entries[i]))
                disk->Record.RaidRole = IDE_FLAG_YES;

    for (uint8_t index = 0; index < IDE_RAID_DRIVES; ++index) {
        std::vector<uint8_t> request(XIDE_LOGICAL_DRIVE_SIZE, 0);
        request[XIDE_LOGICAL_DRIVE_OFFSET] = index;
        result = IdeXideRequest(controller->Device, XIDE_LOGICAL_DRIVE, XIDE_LOGICAL_DRIVE_SIZE, request.data());
        XIDE_LOGICAL_DRIVE_REPLY reply;
        if (result != 0 || !DecodeXideLogicalDrive(request.data(), request.size(), &reply)) {
            if (result != 0 && first == 0)
                first = result;
            RemoveDrive(controller, index);
            continue;
        }
        bool made = false;
        IDE_LOGICAL_DRIVE_RECORD &record = MakeDrive(controller, index, &made)->Record;
        if (made)
            std::snprintf(record.DiskName, sizeof record.DiskName, "Disk %u",
                          index + (controller->Device ? controller->Device->DriveNumber : 0u));
        StartFill(controller, record);
        record.Level = reply.Level >= 1 && reply.Level <= 3 ? static_cast<uint8_t>(reply.Level + 1) : 1;
        record.Capacity = reply.Capacity >> 10;
        record.Stripe = reply.Stripe / 2;
        IDE_DISK_NODE *rebuilding = nullptr;
        for (uint32_t i = 0; i < reply.Count; ++i) {
            IDE_DISK_NODE *disk = DiskByIdentity(controller, reply.Members[i]);
            if (disk == nullptr)
                continue;
            disk->Record.Membership = IDE_FLAG_YES;
            IdeDiskListAdd(&record.Members, disk->Record.DiskIndex);
            if (reply.Members[i].State == XIDE_REBUILDING && rebuilding == nullptr)
                rebuilding = disk;
        }
        if (record.Level == 3 || record.Level == 4)
            for (auto &disk : controller->Disks)
                if (disk->Record.RaidRole == IDE_FLAG_YES)
                    IdeDiskListAdd(&record.Second, disk->Record.DiskIndex);
        switch (reply.Status) {
        case 0: record.Status = LD_OK; break;
        case 2:
            record.Status = LD_DEGRADED;
            if (rebuilding != nullptr) {
                record.Status = LD_REBUILDING;
                record.RebuildIndex = rebuilding->Record.DiskIndex;
            }
            break;
        case 15: record.Status = LD_FAILED; break;
        default: record.Status = LD_OTHER; break;
        }
        record.Condition = IdeLogicalDriveCondition(record.Status);
    }
    return first;
}

int RefreshCsmi(IDE_CONTROLLER_NODE *controller)
{
    ResetDiskFlags(controller);
    HANDLE port = controller->Device ? controller->Device->Port.Handle : INVALID_HANDLE_VALUE;
    std::vector<uint8_t> info(CSMI_RAID_INFO_BUFFER_SIZE, 0);
    int result = CsmiGetRaidInfo(port, info.data());
    CSMI_RAID_INFO raid;
    if (result != 0)
        return result;
    // A controller reporting sets of no drives has no configuration to ask for.
    if (!DecodeCsmiRaidInfo(info.data(), info.size(), &raid) || raid.MaxDrivesPerSet == 0)
        return -1;
    size_t size = (static_cast<size_t>(raid.MaxDrivesPerSet) - 1) * CSMI_RAID_DRIVE_SIZE + 200;
    std::vector<uint8_t> buffer(size);
    int first = 0;
    uint32_t found = 0;
    for (uint32_t index = 0; index < CSMI_RAID_SETS && found < raid.NumberOfRaidSets; ++index) {
        std::fill(buffer.begin(), buffer.end(), 0);
        std::memcpy(&buffer[28], &index, 4);
        result = CsmiGetRaidConfig(port, buffer.data(), static_cast<uint32_t>(size));
        CSMI_RAID_CONFIG config;
        if (result == 0 && (!DecodeCsmiRaidConfig(buffer.data(), buffer.size(), &config) || config.DriveCount == 0))
            result = -1;
        if (result != 0) {
            if (first == 0)
                first = result;
            RemoveDrive(controller, static_cast<uint8_t>(index));
            continue;
        }
        ++found;
        bool made = false;
        IDE_LOGICAL_DRIVE_RECORD &record = MakeDrive(controller, static_cast<uint8_t>(index), &made)->Record;
        StartFill(controller, record);
        static const uint8_t levels[9] = {1, 2, 3, 4, 5, 6, 1, 1, 7};
        record.Level = config.RaidType < 9 ? levels[config.RaidType] : 1;
        record.Capacity = config.Capacity;
        record.Stripe = config.StripeSize;
        IDE_DISK_NODE *firstRebuilding = nullptr;
        // Only the drives the set reports, the controller's maximum and the reply all hold.
        size_t count = std::min<size_t>({config.DriveCount, raid.MaxDrivesPerSet, config.Drives.size()});
        for (size_t i = 0; i < count; ++i) {
            const CSMI_RAID_DRIVE &drive = config.Drives[i];
            IDE_DISK_NODE *disk = DiskBySerial(controller, drive.SerialNumber);
            if (disk == nullptr)
                continue;
            IDE_DISK_RECORD &d = disk->Record;
            switch (drive.DriveStatus) {
            case 0: d.Status = IDE_DISK_OK; break;
            case 1:
                d.Status = IDE_DISK_OK;
                record.RebuildIndex = d.DiskIndex;
                if (firstRebuilding == nullptr)
                    firstRebuilding = disk;
                break;
            case 2: d.Status = IDE_DISK_FAILED; break;
            case 3: d.Status = IDE_DISK_THRESHOLD; break;
            default: break;
            }
            d.Condition = IdeDiskCondition(d.Status);
            if (drive.DriveUsage == 2) {
                d.Membership = IDE_FLAG_YES;
                d.RaidRole = IDE_FLAG_YES;
                IdeDiskListAdd(&record.Second, d.DiskIndex);
            } else {
                d.Membership = drive.DriveUsage == 1 ? IDE_FLAG_YES : IDE_FLAG_NO;
                IdeDiskListAdd(&record.Members, d.DiskIndex);
            }
        }
        switch (config.Status) {
        case 0: record.Status = LD_OK; break;
        case 1: record.Status = LD_DEGRADED; break;
        case 2:
            record.Status = LD_REBUILDING;
            if (firstRebuilding != nullptr)
                record.RebuildIndex = firstRebuilding->Record.DiskIndex;
            break;
        case 3: record.Status = LD_FAILED; break;
        default: record.Status = LD_OTHER; break;
        }
        record.Condition = IdeLogicalDriveCondition(record.Status);
    }
    return first;
}

} // namespace

int IdeControllerStatus(IDE_CONTROLLER_NODE *controller)
{
    int result = -1;
    IDE_CONTROLLER_RECORD &record = controller->Record;
    if (controller->Type == IDE_TYPE_CSMI && controller->Device != nullptr) {
        std::vector<uint8_t> buffer(CSMI_CNTLR_STATUS_BUFFER_SIZE, 0);
        result = CsmiGetControllerStatus(controller->Device->Port.Handle, buffer.data());
        CSMI_CONTROLLER_STATUS status;
        if (result == 0 && DecodeCsmiControllerStatus(buffer.data(), buffer.size(), &status))
            record.ControllerStatus = status.Status == 1 ? IDE_OK : status.Status == 2 ? IDE_DEGRADED : IDE_OTHER;
    }
    record.SecondStatus = std::max(record.ControllerStatus, record.SecondStatus);
    record.Condition = std::max(record.Condition, record.SecondStatus);
    return result;
}

int IdeRefreshLogicalDrives(IDE_CONTROLLER_NODE *controller)
{
    switch (controller->Type) {
    case IDE_TYPE_RAID: return RefreshXide(controller);
    case IDE_TYPE_CSMI: return RefreshCsmi(controller);
    default: return -1;
    }
}
