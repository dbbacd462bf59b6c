#pragma once
// The four fixed-layout SAS records. The same bytes travel from the discovery engine's nodes to
// the collector and to the SCSI registry values, which other programs read: every layout is
// packed little-endian, and its size and field offsets are pinned below so a field added in the
// wrong place fails the build instead of shifting what those readers see.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#pragma pack(push, 1)
struct SAS_HBA_RECORD {
    uint32_t AdapterIndex;
    char Location[128];
    uint8_t Slot;
    uint8_t ModelCode;
    uint8_t ControllerCondition;
    uint8_t OverallCondition;
    uint8_t ControllerStatus;
    uint8_t Reserved1[2];
    char FirmwareVersion[17];
    char BiosVersion[17];
    char SerialNumber[83];
    char PciLocation[256];
};

struct SAS_PHYDRV_RECORD {
    uint32_t AdapterIndex;
    uint32_t DriveIndex;
    uint32_t CapacityMiB;
    uint32_t GrownDefects;
    uint8_t Reserved1[2];
    uint8_t Status;
    uint8_t IeResult;
    uint8_t Condition;
    uint8_t ArrayRole;
    uint8_t RotationClass;
    uint8_t Placement;
    uint8_t HotPlugClass;
    uint8_t PhyId;
    uint8_t DriveType;
    char AdapterLocation[128];
    char LocationName[81];
    char Model[41];
    char FirmwareRevision[9];
    char SerialNumber[41];
    char OsDiskName[12];
    char SasAddress[17];
    uint8_t MediaType;
    uint8_t WearStatus;
    uint32_t PowerOnHours;
    uint32_t EnduranceUsed;
    uint32_t RemainingHours;
    uint8_t HasWearLog;
    uint8_t WearLimitFlag;
    uint8_t Reserved2[2];
    uint32_t RefreshCountdown;
    uint8_t IeState;
    uint8_t CarrierByteA;
    uint8_t CarrierByteB;
    uint32_t CurrentTemperature;
    uint32_t ReferenceTemperature;
    uint8_t CarrierState;
    uint8_t CarrierQueryIndex;
    uint8_t BehindExpander;
    uint8_t WearOutOfRange;
    uint8_t Reserved3[7];
    char EnclosureProduct[17];
    char EnclosureRevision[8];
    char EnclosureVendor[9];
    char EnclosureSerial[24];
};

struct SAS_DRIVE_LIST {
    uint32_t Count;
    uint32_t Index[16];
};

struct SAS_LOGDRV_RECORD {
    uint32_t AdapterIndex;
    uint32_t LogicalDriveNumber;
    uint32_t Capacity;
    uint32_t StripeSize;
    int32_t RebuildingDrive;
    uint8_t RebuildProgress;
    uint8_t RaidLevel;
    uint8_t Condition;
    uint8_t Reserved1;
    char AdapterLocation[128];
    char OsDiskName[13];
    uint8_t Status;
    SAS_DRIVE_LIST DataDrives;
    SAS_DRIVE_LIST SpareDrives;
    uint8_t Reserved2[2];
};

struct SAS_TAPEDRV_RECORD {
    uint32_t AdapterIndex;
    uint32_t TapeIndex;
    uint8_t Condition;
    uint8_t Reserved1[2];
    uint8_t Status;
    char AdapterLocation[128];
    char Name[81];
    char Model[129];
    char FirmwareRevision[5];
    uint8_t Reserved2[4];
    char SerialNumber[65];
    char SasAddress[17];
    uint8_t Reserved3[7];
};
#pragma pack(pop)

static_assert(sizeof(SAS_HBA_RECORD) == 512);
static_assert(offsetof(SAS_HBA_RECORD, ControllerStatus) == 136);
static_assert(offsetof(SAS_HBA_RECORD, FirmwareVersion) == 139);
static_assert(offsetof(SAS_HBA_RECORD, SerialNumber) == 173);
static_assert(offsetof(SAS_HBA_RECORD, PciLocation) == 256);

static_assert(sizeof(SAS_PHYDRV_RECORD) == 458);
static_assert(offsetof(SAS_PHYDRV_RECORD, Status) == 18);
static_assert(offsetof(SAS_PHYDRV_RECORD, AdapterLocation) == 27);
static_assert(offsetof(SAS_PHYDRV_RECORD, LocationName) == 155);
static_assert(offsetof(SAS_PHYDRV_RECORD, Model) == 236);
static_assert(offsetof(SAS_PHYDRV_RECORD, SerialNumber) == 286);
static_assert(offsetof(SAS_PHYDRV_RECORD, OsDiskName) == 327);
static_assert(offsetof(SAS_PHYDRV_RECORD, SasAddress) == 339);
static_assert(offsetof(SAS_PHYDRV_RECORD, MediaType) == 356);
static_assert(offsetof(SAS_PHYDRV_RECORD, PowerOnHours) == 358);
static_assert(offsetof(SAS_PHYDRV_RECORD, HasWearLog) == 370);
static_assert(offsetof(SAS_PHYDRV_RECORD, RefreshCountdown) == 374);
static_assert(offsetof(SAS_PHYDRV_RECORD, IeState) == 378);
static_assert(offsetof(SAS_PHYDRV_RECORD, CurrentTemperature) == 381);
static_assert(offsetof(SAS_PHYDRV_RECORD, CarrierState) == 389);
static_assert(offsetof(SAS_PHYDRV_RECORD, Reserved3) == 393);
static_assert(offsetof(SAS_PHYDRV_RECORD, EnclosureProduct) == 400);
static_assert(offsetof(SAS_PHYDRV_RECORD, EnclosureRevision) == 417);
static_assert(offsetof(SAS_PHYDRV_RECORD, EnclosureVendor) == 425);
static_assert(offsetof(SAS_PHYDRV_RECORD, EnclosureSerial) == 434);

static_assert(sizeof(SAS_LOGDRV_RECORD) == 304);
static_assert(offsetof(SAS_LOGDRV_RECORD, AdapterLocation) == 24);
static_assert(offsetof(SAS_LOGDRV_RECORD, OsDiskName) == 152);
static_assert(offsetof(SAS_LOGDRV_RECORD, Status) == 165);
static_assert(offsetof(SAS_LOGDRV_RECORD, DataDrives) == 166);
static_assert(offsetof(SAS_LOGDRV_RECORD, SpareDrives) == 234);
static_assert(offsetof(SAS_LOGDRV_RECORD, Reserved2) == 302);

static_assert(sizeof(SAS_TAPEDRV_RECORD) == 448);
static_assert(offsetof(SAS_TAPEDRV_RECORD, Status) == 11);
static_assert(offsetof(SAS_TAPEDRV_RECORD, AdapterLocation) == 12);
static_assert(offsetof(SAS_TAPEDRV_RECORD, Name) == 140);
static_assert(offsetof(SAS_TAPEDRV_RECORD, Model) == 221);
static_assert(offsetof(SAS_TAPEDRV_RECORD, FirmwareRevision) == 350);
static_assert(offsetof(SAS_TAPEDRV_RECORD, SerialNumber) == 359);
static_assert(offsetof(SAS_TAPEDRV_RECORD, SasAddress) == 424);
static_assert(offsetof(SAS_TAPEDRV_RECORD, Reserved3) == 441);

// Copies text into a fixed field, cut so the field always ends in a NUL and the rest is zero.
template <size_t N> void SasSetText(char (&field)[N], const std::string &text)
{
    size_t n = text.size() < N - 1 ? text.size() : N - 1;
    for (size_t i = 0; i < N; ++i)
        field[i] = i < n ? text[i] : '\0';
}

// Drive condition (1 other, 2 ok, 3 degraded, 4 failed) from a drive status.
uint8_t SasDriveCondition(uint8_t status);
// The status a drive carries once it was not seen in a pass: the lost form of its last status.
// A status that has no lost form of its own (other, or already lost) is kept.
uint8_t SasLostStatus(uint8_t status);

// One registry value of a publish: its name and its bytes.
struct SasRecordValue {
    std::string Name;
    std::vector<uint8_t> Bytes;
};

// The values one record kind's key holds after a full rewrite: numbered from 000 upwards in
// the order given, without gaps, so a key recreated from this list keeps no stale value.
template <typename Record>
std::vector<SasRecordValue> SasRecordValues(const char *prefix, const std::vector<Record> &records);

// The value name "%s%03X" of the n-th record of a kind.
std::string SasValueName(const char *prefix, unsigned counter);
