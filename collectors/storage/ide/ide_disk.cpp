#include "ata_decode.h"
#include "ide_state.h"
#include "wear.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr int ERROR_NOT_PRESENT = 55;     // the device is gone
constexpr int ERROR_BUSY_DEVICE = 170;    // the disk was busy
constexpr int ERROR_DEVICE_FAULT = 1117;  // the I/O control reported an I/O device error
constexpr uint8_t ATTRIBUTE_POWER_ON_HOURS = 9;
constexpr uint8_t ATTRIBUTE_TEMPERATURE = 0xC2;
constexpr uint8_t LOG_DIRECTORY = 0;
constexpr uint8_t LOG_DEVICE_STATISTICS = 4;
constexpr uint8_t STATISTICS_TEMPERATURE_PAGE = 5;
constexpr uint32_t DEFAULT_MAXIMUM_TEMPERATURE = 60;
constexpr uint32_t WEAR_LOG_PERIOD = 3600;   // seconds between reads of the wear log


void SetDiskName(IDE_DISK_RECORD &record, unsigned driveNumber)
{
    std::snprintf(record.DiskName, sizeof record.DiskName, "Disk %u", driveNumber);
}

// Steps shared by creation and refill: everything IDENTIFY tells.
void FillFromIdentify(IDE_CONTROLLER_NODE *controller, IDE_DISK_NODE *disk, const uint8_t *data)
{
    IDE_DISK_RECORD &record = disk->Record;
    const IDE_DEVICE_RECORD &device = *disk->Device;
    ATA_IDENTIFY identify;
    DecodeAtaIdentify(data, ATA_SECTOR_SIZE, &identify);
    if (AtaIsSata(identify.SataCapabilities) || controller->Type == IDE_TYPE_CSMI) {
        record.Attachment = 3;
        record.Signalling = (identify.SataCapabilities & 4) ? 3 : 2;
        record.Channel = 4;
        if (controller->Type == IDE_TYPE_CSMI) {
            record.ChannelPosition = static_cast<uint8_t>(device.PhyId + 4);
            record.DiskName[0] = '\0';
        } else {
            record.ChannelPosition = static_cast<uint8_t>(record.DiskIndex + 4);
            SetDiskName(record, device.DriveNumber);
        }
        record.Media = AtaMediaCode(identify.MediaRotation);
    } else {
        record.Attachment = 2;
        record.Signalling = 1;
        if (controller->Type == IDE_TYPE_RAID)
            record.Channel = static_cast<uint8_t>(device.DrivePosition / 2 + 2);
        else if (device.PortNumber == controller->PrimaryPort)
            record.Channel = 2;
        else if (device.PortNumber == controller->SecondaryPort)
            record.Channel = 3;
        else
            record.Channel = 1;
        SetDiskName(record, device.DriveNumber);
        record.ChannelPosition = static_cast<uint8_t>(2 + (device.DrivePosition & 1));
    }
    record.TransferMode = identify.TransferMode;
    record.Status = IDE_DISK_OTHER;
    record.Condition = IDE_OTHER;
    record.SmartState = 1;
    record.Membership = IDE_FLAG_NO;
    record.RaidRole = IDE_FLAG_NO;
    record.PowerOnHours = WEAR_NOT_AVAILABLE;
    record.EnduranceUsed = WEAR_NOT_AVAILABLE;
    record.RemainingHours = -1;
    record.WearStatus = WEAR_STATUS_NOT_AVAILABLE;
    record.Temperature = 0;
    record.TemperatureThreshold = 0;
    std::memcpy(record.Serial, identify.Serial, sizeof record.Serial);
    std::memcpy(record.Firmware, identify.Firmware, sizeof record.Firmware);
    std::memcpy(record.Model, identify.Model, sizeof record.Model);
    record.CapacityMb = identify.CapacityMb;
    record.CapacityHigh = static_cast<uint32_t>(identify.CapacityBytes >> 32);
    record.CapacityLow = static_cast<uint32_t>(identify.CapacityBytes);
}

// Step 8 of creation and refill: the first health refresh.
int FirstHealth(IDE_CONTROLLER_NODE *controller, IDE_DISK_NODE *disk)
{
    IDE_DISK_RECORD &record = disk->Record;
    int result = IdeDiskHealth(controller, disk);
    if (result == 0) {
        record.SmartState = 2;
        disk->Answered = true;
    } else if (record.SmartResult == ERROR_DEVICE_FAULT) {
        record.Status = IDE_DISK_FAILED;
        record.Condition = IDE_FAILED;
    } else if (record.SmartResult == ERROR_BUSY_DEVICE) {
        record.SmartState = 2;
        disk->Answered = true;
    } else if (controller->Type == IDE_TYPE_CSMI && result != -1) {
        record.Status = IDE_DISK_OTHER;
        record.Condition = IDE_OTHER;
    }
    return result;
}

// Whether a disk stays after its first health refresh: it answered, was busy, or reported a
// device fault (a failing disk is kept to be shown failed); on CSMI controllers anything but -1.
bool KeepsDisk(const IDE_CONTROLLER_NODE *controller, const IDE_DISK_NODE *disk, int result)
{
    if (result == 0)
        return true;
    if (controller->Type == IDE_TYPE_CSMI)
        return result != -1;
    return disk->Record.SmartResult == ERROR_BUSY_DEVICE || disk->Record.SmartResult == ERROR_DEVICE_FAULT;
}

void SetWearUnknown(IDE_DISK_RECORD &record)
{
    record.WearLogSupport = 1;
    record.WearStatus = WEAR_STATUS_NOT_AVAILABLE;
    record.PowerOnHours = WEAR_NOT_AVAILABLE;
    record.EnduranceUsed = WEAR_NOT_AVAILABLE;
    record.RemainingHours = -1;
}

void Temperatures(IDE_DISK_NODE *disk)
{
    IDE_DISK_RECORD &record = disk->Record;
    IDE_DEVICE_RECORD *device = disk->Device;
    uint8_t data[ATA_SECTOR_SIZE];
    uint8_t current = 0, limit = 0;
    // Device statistics, temperature page: always asked through the disk's own handle.
    if (device->ControllerType != IDE_TYPE_CSMI && IdeReadLogExt(device, LOG_DEVICE_STATISTICS,
                                                                 STATISTICS_TEMPERATURE_PAGE, data) == 0 &&
        AtaTemperatureStatistics(data, sizeof data, &current, &limit)) {
        record.Temperature = current;
        record.TemperatureThreshold = record.MaximumTemperature = limit;
    } else {
        record.Temperature = record.TemperatureThreshold = record.MaximumTemperature = 0;
    }
    if (device->ControllerType == IDE_TYPE_CSMI) {
        if (IdeReadLogExt(device, LOG_DEVICE_STATISTICS, STATISTICS_TEMPERATURE_PAGE, data) == 0 &&
            AtaTemperatureStatistics(data, sizeof data, &current, &limit)) {
            record.Temperature = current;
            record.TemperatureThreshold = record.MaximumTemperature = limit;
        }
        uint32_t hours = 0;
        if (IdeSmartRead(device, SMART_READ_DATA, data) == 0 &&
            SmartFirstAttributeRaw32(data, sizeof data, ATTRIBUTE_POWER_ON_HOURS, &hours))
            record.PowerOnHours = hours;
        if (record.Temperature == 0) {
            if (IdeSmartRead(device, SMART_READ_DATA, data) == 0 &&
                SmartLastAttributeRawByte(data, sizeof data, ATTRIBUTE_TEMPERATURE, &current))
                record.Temperature = current;
            if (IdeSmartRead(device, SMART_READ_THRESHOLDS, data) == 0 &&
                SmartLastThreshold(data, sizeof data, ATTRIBUTE_TEMPERATURE, &limit))
                record.TemperatureThreshold = record.MaximumTemperature = limit;
        }
    } else if (record.Temperature == 0 && IdeSmartRead(device, SMART_READ_DATA, data) == 0 &&
               SmartLastAttributeRawByte(data, sizeof data, ATTRIBUTE_TEMPERATURE, &current)) {
        record.Temperature = current;
    }
    uint8_t maximum = 0, overLimit = 0;
    if (IdeReadSctTable(device, data) == 0 && SctTemperatures(data, sizeof data, &maximum, &overLimit)) {
        record.SctOverLimit = overLimit;
        if (record.MaximumTemperature == 0)
            record.MaximumTemperature = maximum;
    }
    if (record.MaximumTemperature == 0)
        record.MaximumTemperature = DEFAULT_MAXIMUM_TEMPERATURE;
}

void SsdWear(IDE_DISK_NODE *disk)
{
    IDE_DISK_RECORD &record = disk->Record;
    IDE_DEVICE_RECORD *device = disk->Device;
    uint8_t data[ATA_SECTOR_SIZE];
    int result = IdeReadLogExt(device, LOG_DIRECTORY, 0, data);
    if (device->ControllerType == IDE_TYPE_CSMI && result == ERROR_NOT_PRESENT)
        record.Valid = 0;
    bool solidState = record.Media == 3;
    bool failed = result != 0 && !(device->ControllerType == IDE_TYPE_CSMI && result == ERROR_BUSY_DEVICE);
    if (!solidState || failed) {
        SetWearUnknown(record);
    } else {
        record.WearLogSupport = LogDirectoryHasWearLog(data, sizeof data) ? 2 : 1;
    }
    Temperatures(disk);
    if (!solidState || failed || record.WearLogSupport != 2 || record.WearCountdown != 0)
        return;
    WEAR_LOG log;
    if (IdeReadLogExt(device, ATA_WEAR_LOG_ADDRESS, 0, data) != 0 || !ParseWearLog(data, sizeof data, &log))
        return;
    record.WearLimitFlag = log.WearLimit ? 1 : 0;
    WEAR_ESTIMATE estimate = EstimateWear(log.PowerOnHours, log.EnduranceUsed, log.WearLimit, false);
    record.PowerOnHours = estimate.PowerOnHours;
    record.EnduranceUsed = estimate.EnduranceUsed;
    record.WearOutOfRange = estimate.OutOfRange ? 1 : 0;
    record.RemainingHours = static_cast<int32_t>(estimate.RemainingHours);
    record.WearStatus = estimate.Status;
    if (estimate.WornOut)
        record.Status = IDE_DISK_WORN_OUT;
}

} // namespace

bool IdeTakeDiskIndex(IDE_STATE *state, uint8_t *index)
{
    if (state->DiskIndexesUsed < IDE_DISK_INDEXES) {
        *index = static_cast<uint8_t>(state->DiskIndexesUsed++);
        return true;
    }
    for (auto &controller : state->Controllers) {
        auto &disks = controller->Disks;
        auto gone = std::find_if(disks.begin(), disks.end(), [](const auto &disk) { return disk->Record.Valid == 0; });
        if (gone != disks.end()) {
            *index = (*gone)->Record.DiskIndex;
            disks.erase(gone);
            return true;
        }
    }
    return false;
}

int IdeCreateDisk(IDE_DEVICE_RECORD *device, IDE_CONTROLLER_NODE *controller, IDE_STATE *state)
{
    uint8_t data[ATA_SECTOR_SIZE] = {};
    int result = IdeIdentify(device, data);
    uint8_t index = 0;
    if (result == 0 && !IdeTakeDiskIndex(state, &index))
        result = -1;
    if (result != 0) {
        IdeCloseDevice(device);
        return result;
    }
    auto disk = std::make_unique<IDE_DISK_NODE>();
    disk->Device = device;
    IDE_DISK_RECORD &record = disk->Record;
    record.ControllerIndex = controller->Record.ControllerIndex;
    record.DiskIndex = index;
    record.ControllerType = static_cast<uint8_t>(controller->Type);
    record.Valid = 1;
    FillFromIdentify(controller, disk.get(), data);
    result = FirstHealth(controller, disk.get());
    if (!KeepsDisk(controller, disk.get(), result))
        return result;   // the node and its record go
    auto &disks = controller->Disks;
    auto at = std::upper_bound(disks.begin(), disks.end(), index,
                               [](uint8_t value, const auto &node) { return value < node->Record.DiskIndex; });
    disks.insert(at, std::move(disk));
    return result;
}

int IdeRefillDisk(IDE_DEVICE_RECORD *device, IDE_CONTROLLER_NODE *controller, IDE_DISK_NODE *disk)
{
    uint8_t data[ATA_SECTOR_SIZE] = {};
    disk->TakeDevice(device);
    int result = IdeIdentify(device, data);
    if (result != 0)
        return result;
    disk->Record.Valid = 1;
    FillFromIdentify(controller, disk, data);
    return FirstHealth(controller, disk);
}

int IdeDiskHealth(IDE_CONTROLLER_NODE *controller, IDE_DISK_NODE *disk)
{
    IDE_DISK_RECORD &record = disk->Record;
    if (controller->PollInterval == 0)
        record.WearCountdown = 1;
    if (record.WearCountdown == 0)
        record.WearCountdown = static_cast<int32_t>(WEAR_LOG_PERIOD / std::min(controller->PollInterval, WEAR_LOG_PERIOD));
    --record.WearCountdown;
    SsdWear(disk);

    bool exceeded = false, fault = false;
    int ioctl = 0;
    int result = IdeSmartStatus(disk->Device, &exceeded, &fault, &ioctl);
    record.SmartResult = ioctl;
    if (fault) {
        record.Status = IDE_DISK_FAILED;
    } else if (result != 0) {
        if (ioctl == ERROR_DEVICE_FAULT) {
            record.Status = IDE_DISK_FAILED;
        } else if (ioctl == ERROR_NOT_PRESENT) {
            record.Valid = 0;
            return result;
        } else if (ioctl == ERROR_BUSY_DEVICE) {
            return result;
        } else {
            record.Status = IDE_DISK_OTHER;
        }
    } else if (exceeded) {
        record.Status = IDE_DISK_THRESHOLD;
    } else if (record.Status != IDE_DISK_WORN_OUT) {
        record.Status = IDE_DISK_OK;
    }
    record.Condition = IdeDiskCondition(record.Status);
    return result;
}
