#pragma once
// The nodes of the IDE/ATA device layer: controllers with their disks, logical drives and ATAPI
// devices, and the layer's state. Each node keeps its published record and, for disks and
// controllers, the device record it talks through (owned: closed when the node goes).

#include "ide_device.h"
#include "ide_records.h"

#include <memory>
#include <vector>

struct IDE_DISK_NODE {
    IDE_DISK_RECORD Record = {};
    IDE_DEVICE_RECORD *Device = nullptr;
    bool Answered = false;   // the disk answered a health query at creation (or was busy)
    IDE_DISK_NODE() = default;
    IDE_DISK_NODE(const IDE_DISK_NODE &) = delete;
    IDE_DISK_NODE &operator=(const IDE_DISK_NODE &) = delete;
    ~IDE_DISK_NODE() { IdeCloseDevice(Device); }
    // Takes a new device record, closing the one it had.
    void TakeDevice(IDE_DEVICE_RECORD *device)
    {
        if (Device != device)
            IdeCloseDevice(Device);
        Device = device;
    }
};

struct IDE_LOGICAL_DRIVE_NODE {
    IDE_LOGICAL_DRIVE_RECORD Record = {};
};

struct IDE_ATAPI_NODE {
    IDE_ATAPI_RECORD Record = {};
};

struct IDE_CONTROLLER_NODE {
    IDE_CONTROLLER_RECORD Record = {};
    int32_t Type = IDE_TYPE_NONE;
    uint8_t PrimaryPort = 255;
    uint8_t SecondaryPort = 255;
    uint32_t PollInterval = 0;      // seconds; 0 until the collector's first refresh
    IDE_DEVICE_RECORD *Device = nullptr;
    std::vector<std::unique_ptr<IDE_DISK_NODE>> Disks;                 // by disk index
    std::vector<std::unique_ptr<IDE_LOGICAL_DRIVE_NODE>> LogicalDrives;  // by drive index
    std::vector<std::unique_ptr<IDE_ATAPI_NODE>> Atapi;                // by device index
    IDE_CONTROLLER_NODE() = default;
    IDE_CONTROLLER_NODE(const IDE_CONTROLLER_NODE &) = delete;
    IDE_CONTROLLER_NODE &operator=(const IDE_CONTROLLER_NODE &) = delete;
    ~IDE_CONTROLLER_NODE() { IdeCloseDevice(Device); }
};

constexpr unsigned IDE_DISK_INDEXES = 256;

struct IDE_STATE {
    std::vector<std::unique_ptr<IDE_CONTROLLER_NODE>> Controllers;   // by controller index
    // Disk indexes handed out so far; one count over all controllers, never repeated.
    unsigned DiskIndexesUsed = 0;
};

// The next disk index. Once all 256 are used, the index of a disk that no longer answers is
// taken over and that disk leaves its controller's list; false when every disk still answers.
bool IdeTakeDiskIndex(IDE_STATE *state, uint8_t *index);

// Disk creation from a device record (the new disk's, or closed: the record is always taken):
// 0, -1 or the error of the IDENTIFY or health query.
int IdeCreateDisk(IDE_DEVICE_RECORD *device, IDE_CONTROLLER_NODE *controller, IDE_STATE *state);
// Fills an existing disk again from a new device record (the old one is closed).
int IdeRefillDisk(IDE_DEVICE_RECORD *device, IDE_CONTROLLER_NODE *controller, IDE_DISK_NODE *disk);
// The health refresh of one disk: 0 or the status query's error.
int IdeDiskHealth(IDE_CONTROLLER_NODE *controller, IDE_DISK_NODE *disk);
