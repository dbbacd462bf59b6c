#pragma once
// How the IDE/ATA device layer talks to one disk: the device record of an open disk or port, the
// four command paths chosen by the controller type (S.M.A.R.T. I/O controls on a physical drive,
// ATA pass-through, "$XIDE$" requests of an IDE RAID miniport, CSMI STP on a SATA controller's
// PHY), and the ATA commands the layer sends through them. Every device call goes through
// StoragePlatform(); nothing here logs.

#include "storage_io.h"

#include <windows.h>

#include <cstdint>

// Controller types: how a controller's disks are reached.
enum IdeControllerType : int32_t {
    IDE_TYPE_NONE = 0,
    IDE_TYPE_ATAPI = 1,
    IDE_TYPE_MIRTOL = 2,
    IDE_TYPE_RAID = 3,
    IDE_TYPE_CSMI = 5,
    IDE_TYPE_BUS = 6,
};

constexpr DWORD IOCTL_SCSI_GET_ADDRESS_CODE = 0x41018;
constexpr DWORD SMART_SEND_DRIVE_COMMAND_CODE = 0x7C084;
constexpr DWORD SMART_RCV_DRIVE_DATA_CODE = 0x7C088;
constexpr DWORD IOCTL_ATA_PASS_THROUGH_CODE = 0x4D02C;
constexpr DWORD IOCTL_SCSI_PASS_THROUGH_DIRECT_CODE = 0x4D014;
constexpr DWORD IOCTL_STORAGE_QUERY_PROPERTY_CODE = 0x2D1400;

#pragma pack(push, 1)
struct IDE_DEVICE_RECORD {
    SCSI_PORT_RECORD Port;      // the device handle
    int32_t ControllerType;
    uint32_t AddressLength;
    uint8_t PortNumber;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t DriveNumber;        // N of \\.\PhysicalDriveN, or the PHY on CSMI controllers
    uint8_t DrivePosition;      // the target, or 0 to 3 behind an IDE RAID controller
    uint8_t PhyId;              // 255 for a controller's own record
    uint8_t SasAddress[8];
};
#pragma pack(pop)

// The controller type of SCSI port N: bus type ATA or SATA first, then the port driver table.
int32_t IdePortType(unsigned portNumber);
// Tests only: the port-driver table's rows, in search order.
struct IDE_PORT_DRIVER_ROW {
    int32_t Type;
    char Driver[9];
};
extern const IDE_PORT_DRIVER_ROW IDE_PORT_DRIVER_TABLE[7];

// Opens: a Win32 code, or -1 when the port is no IDE controller (the record is then closed and
// freed). On success *record is a new zero-filled record the caller owns.
int IdeOpenPhysicalDrive(unsigned driveNumber, IDE_DEVICE_RECORD **record);
int IdeOpenPhysicalDriveAt(unsigned driveNumber, uint8_t drivePosition, IDE_DEVICE_RECORD **record);
int IdeOpenScsiPortDevice(unsigned portNumber, uint8_t phy, IDE_DEVICE_RECORD **record);
int IdeOpenScsiAddress(unsigned portNumber, uint8_t path, uint8_t target, uint8_t lun, IDE_DEVICE_RECORD **record);
// The Win32 code of CloseHandle (6 for no record); frees the record.
int IdeCloseDevice(IDE_DEVICE_RECORD *record);

// IDENTIFY DEVICE into 512 bytes: 0 or an error.
int IdeIdentify(IDE_DEVICE_RECORD *record, uint8_t *data);
// S.M.A.R.T. RETURN STATUS: 0 or an error; *ioctlResult gets the I/O control's own result on the
// physical-drive path (0 elsewhere).
int IdeSmartStatus(IDE_DEVICE_RECORD *record, bool *exceeded, bool *deviceFault, int *ioctlResult);
// A "$XIDE$" request: the block (zero-filled, its request fields in place) is sent and read back.
// -1 without a record or on a controller that is not IDE RAID.
int IdeXideRequest(IDE_DEVICE_RECORD *record, uint32_t code, uint32_t blockSize, uint8_t *block);

// S.M.A.R.T. READ DATA (0xD0) or READ THRESHOLDS (0xD1) into 512 bytes.
constexpr uint8_t SMART_READ_DATA = 0xD0;
constexpr uint8_t SMART_READ_THRESHOLDS = 0xD1;
int IdeSmartRead(IDE_DEVICE_RECORD *record, uint8_t feature, uint8_t *data);
// READ LOG EXT of one sector at the log address and page.
int IdeReadLogExt(IDE_DEVICE_RECORD *record, uint8_t address, uint8_t page, uint8_t *data);
// The SCT temperature history table (SMART WRITE LOG 0xE0 with the request, then READ LOG 0xE1).
int IdeReadSctTable(IDE_DEVICE_RECORD *record, uint8_t *data);
