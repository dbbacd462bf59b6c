#pragma once
// The records of the IDE/ATA device layer: its in-memory state, written byte for byte as the
// REG_BINARY values under QZTLMStorage\Ide that the IDE collector and other programs read back.
// Every record is allocated zero-filled; texts are NUL-terminated inside their fields.

#include <cstddef>
#include <cstdint>

// Conditions and the statuses the records share.
enum IdeCondition : uint8_t { IDE_OTHER = 1, IDE_OK = 2, IDE_DEGRADED = 3, IDE_FAILED = 4 };
enum IdeDiskStatus : uint8_t {
    IDE_DISK_OTHER = 1,
    IDE_DISK_OK = 2,
    IDE_DISK_THRESHOLD = 3,
    IDE_DISK_FAILED = 4,
    IDE_DISK_WORN_OUT = 5,
};
// "Not set": membership and RAID role before a logical-drive refresh names the disk.
constexpr uint8_t IDE_FLAG_NO = 3;
constexpr uint8_t IDE_FLAG_YES = 2;

#pragma pack(push, 1)
struct IDE_CONTROLLER_RECORD {
    uint8_t ControllerIndex;
    uint8_t Condition;
    char Name[81];
    char Version[17];
    int32_t SlotNumber;
    uint8_t ControllerStatus;
    uint8_t SecondStatus;
    char SerialNumber[337];
    char PciLocation[256];
};

struct IDE_DISK_RECORD {
    uint8_t ControllerIndex;
    uint8_t DiskIndex;
    char Model[41];
    char Firmware[9];
    char Serial[21];
    uint8_t Status;
    uint8_t Condition;
    uint8_t SmartState;
    uint32_t CapacityMb;
    uint32_t CapacityHigh;
    uint32_t CapacityLow;
    uint8_t TransferMode;
    uint8_t Channel;
    uint8_t ChannelPosition;
    uint8_t Membership;
    uint8_t RaidRole;
    char DiskName[12];
    uint8_t Attachment;
    uint8_t Signalling;
    uint8_t Media;
    uint8_t WearStatus;
    uint32_t PowerOnHours;
    uint32_t EnduranceUsed;
    int32_t RemainingHours;
    uint32_t Temperature;
    uint32_t TemperatureThreshold;
    uint32_t MaximumTemperature;
    uint32_t SctOverLimit;
    uint8_t WearLogSupport;
    uint8_t WearLimitFlag;
    int32_t WearCountdown;
    uint8_t WearOutOfRange;
    char Location[256];
    int32_t SmartResult;
    uint8_t ControllerType;
    uint8_t Valid;
};

struct IDE_ATAPI_RECORD {
    uint8_t ControllerIndex;
    uint8_t DeviceIndex;
    char Product[41];
    char Revision[5];
    uint8_t Unused[4];
    uint8_t DeviceType;
    uint8_t Kind;
    uint8_t Channel;
    uint8_t Position;
};

struct IDE_IDENTIFICATION_RECORD {
    uint32_t Position;
    char Product[42];
    uint8_t Zero1[20];
    char Revision[10];
    int32_t One1;
    uint8_t Zero2[32];
    int32_t DeviceType;
    int32_t Kind;
    int32_t One2;
    int32_t One3;
    int32_t One4;
};

// A disk list: count, then up to 8 disk indexes in ascending order.
struct IDE_DISK_LIST {
    uint8_t Count;
    uint8_t Disks[8];
};

struct IDE_LOGICAL_DRIVE_RECORD {
    uint8_t ControllerIndex;
    uint8_t DriveIndex;
    uint8_t Level;
    uint8_t Status;
    uint8_t Condition;
    uint8_t RebuildIndex;
    uint8_t Slot;
    uint8_t Reserved;
    uint32_t Capacity;
    uint32_t Stripe;
    IDE_DISK_LIST Members;
    IDE_DISK_LIST Second;
    char ControllerName[81];
    char DiskName[12];
};
#pragma pack(pop)

static_assert(sizeof(IDE_CONTROLLER_RECORD) == 699);
static_assert(offsetof(IDE_CONTROLLER_RECORD, Condition) == 1);
static_assert(offsetof(IDE_CONTROLLER_RECORD, Name) == 2);
static_assert(offsetof(IDE_CONTROLLER_RECORD, Version) == 83);
static_assert(offsetof(IDE_CONTROLLER_RECORD, SlotNumber) == 100);
static_assert(offsetof(IDE_CONTROLLER_RECORD, ControllerStatus) == 104);
static_assert(offsetof(IDE_CONTROLLER_RECORD, SecondStatus) == 105);
static_assert(offsetof(IDE_CONTROLLER_RECORD, SerialNumber) == 106);
static_assert(offsetof(IDE_CONTROLLER_RECORD, PciLocation) == 443);

static_assert(sizeof(IDE_DISK_RECORD) == 406);
static_assert(offsetof(IDE_DISK_RECORD, DiskIndex) == 1);
static_assert(offsetof(IDE_DISK_RECORD, Model) == 2);
static_assert(offsetof(IDE_DISK_RECORD, Firmware) == 43);
static_assert(offsetof(IDE_DISK_RECORD, Serial) == 52);
static_assert(offsetof(IDE_DISK_RECORD, Status) == 73);
static_assert(offsetof(IDE_DISK_RECORD, Condition) == 74);
static_assert(offsetof(IDE_DISK_RECORD, SmartState) == 75);
static_assert(offsetof(IDE_DISK_RECORD, CapacityMb) == 76);
static_assert(offsetof(IDE_DISK_RECORD, CapacityHigh) == 80);
static_assert(offsetof(IDE_DISK_RECORD, CapacityLow) == 84);
static_assert(offsetof(IDE_DISK_RECORD, TransferMode) == 88);
static_assert(offsetof(IDE_DISK_RECORD, Channel) == 89);
static_assert(offsetof(IDE_DISK_RECORD, ChannelPosition) == 90);
static_assert(offsetof(IDE_DISK_RECORD, Membership) == 91);
static_assert(offsetof(IDE_DISK_RECORD, RaidRole) == 92);
static_assert(offsetof(IDE_DISK_RECORD, DiskName) == 93);
static_assert(offsetof(IDE_DISK_RECORD, Attachment) == 105);
static_assert(offsetof(IDE_DISK_RECORD, Signalling) == 106);
static_assert(offsetof(IDE_DISK_RECORD, Media) == 107);
static_assert(offsetof(IDE_DISK_RECORD, WearStatus) == 108);
static_assert(offsetof(IDE_DISK_RECORD, PowerOnHours) == 109);
static_assert(offsetof(IDE_DISK_RECORD, EnduranceUsed) == 113);
static_assert(offsetof(IDE_DISK_RECORD, RemainingHours) == 117);
static_assert(offsetof(IDE_DISK_RECORD, Temperature) == 121);
static_assert(offsetof(IDE_DISK_RECORD, TemperatureThreshold) == 125);
static_assert(offsetof(IDE_DISK_RECORD, MaximumTemperature) == 129);
static_assert(offsetof(IDE_DISK_RECORD, SctOverLimit) == 133);
static_assert(offsetof(IDE_DISK_RECORD, WearLogSupport) == 137);
static_assert(offsetof(IDE_DISK_RECORD, WearLimitFlag) == 138);
static_assert(offsetof(IDE_DISK_RECORD, WearCountdown) == 139);
static_assert(offsetof(IDE_DISK_RECORD, WearOutOfRange) == 143);
static_assert(offsetof(IDE_DISK_RECORD, Location) == 144);
static_assert(offsetof(IDE_DISK_RECORD, SmartResult) == 400);
static_assert(offsetof(IDE_DISK_RECORD, ControllerType) == 404);
static_assert(offsetof(IDE_DISK_RECORD, Valid) == 405);

static_assert(sizeof(IDE_ATAPI_RECORD) == 56);
static_assert(offsetof(IDE_ATAPI_RECORD, Product) == 2);
static_assert(offsetof(IDE_ATAPI_RECORD, Revision) == 43);
static_assert(offsetof(IDE_ATAPI_RECORD, Unused) == 48);
static_assert(offsetof(IDE_ATAPI_RECORD, DeviceType) == 52);
static_assert(offsetof(IDE_ATAPI_RECORD, Kind) == 53);
static_assert(offsetof(IDE_ATAPI_RECORD, Channel) == 54);
static_assert(offsetof(IDE_ATAPI_RECORD, Position) == 55);

static_assert(sizeof(IDE_IDENTIFICATION_RECORD) == 132);
static_assert(offsetof(IDE_IDENTIFICATION_RECORD, Product) == 4);
static_assert(offsetof(IDE_IDENTIFICATION_RECORD, Zero1) == 46);
static_assert(offsetof(IDE_IDENTIFICATION_RECORD, Revision) == 66);
static_assert(offsetof(IDE_IDENTIFICATION_RECORD, One1) == 76);
static_assert(offsetof(IDE_IDENTIFICATION_RECORD, Zero2) == 80);
static_assert(offsetof(IDE_IDENTIFICATION_RECORD, DeviceType) == 112);
static_assert(offsetof(IDE_IDENTIFICATION_RECORD, Kind) == 116);
static_assert(offsetof(IDE_IDENTIFICATION_RECORD, One2) == 120);
static_assert(offsetof(IDE_IDENTIFICATION_RECORD, One3) == 124);
static_assert(offsetof(IDE_IDENTIFICATION_RECORD, One4) == 128);

static_assert(sizeof(IDE_LOGICAL_DRIVE_RECORD) == 127);
static_assert(offsetof(IDE_LOGICAL_DRIVE_RECORD, Level) == 2);
static_assert(offsetof(IDE_LOGICAL_DRIVE_RECORD, Status) == 3);
static_assert(offsetof(IDE_LOGICAL_DRIVE_RECORD, Condition) == 4);
static_assert(offsetof(IDE_LOGICAL_DRIVE_RECORD, RebuildIndex) == 5);
static_assert(offsetof(IDE_LOGICAL_DRIVE_RECORD, Slot) == 6);
static_assert(offsetof(IDE_LOGICAL_DRIVE_RECORD, Capacity) == 8);
static_assert(offsetof(IDE_LOGICAL_DRIVE_RECORD, Stripe) == 12);
static_assert(offsetof(IDE_LOGICAL_DRIVE_RECORD, Members) == 16);
static_assert(offsetof(IDE_LOGICAL_DRIVE_RECORD, Second) == 25);
static_assert(offsetof(IDE_LOGICAL_DRIVE_RECORD, ControllerName) == 34);
static_assert(offsetof(IDE_LOGICAL_DRIVE_RECORD, DiskName) == 115);

// Adds a disk index in ascending order; false when the list is full (8) or already has it.
bool IdeDiskListAdd(IDE_DISK_LIST *list, uint8_t disk);
// Condition of a disk status: 4 for failed, 3 for threshold or worn out, 2 ok, else 1.
uint8_t IdeDiskCondition(uint8_t status);
// Condition of a logical-drive status (1 other, 2 ok, 3 degraded, 4 rebuilding, 5 failed).
uint8_t IdeLogicalDriveCondition(uint8_t status);
// Fills the identification record of a CD/DVD drive from its ATAPI record.
void IdeFillIdentification(const IDE_ATAPI_RECORD &atapi, uint32_t position, IDE_IDENTIFICATION_RECORD *record);
