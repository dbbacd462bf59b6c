#include "ide_device.h"

#include "ata_decode.h"
#include "storage_platform.h"

#include <cstdio>
#include <cstring>
#include <vector>

const IDE_PORT_DRIVER_ROW IDE_PORT_DRIVER_TABLE[7] = {
    {IDE_TYPE_ATAPI, "Atapi"},  {IDE_TYPE_ATAPI, "zdtatapi"}, {IDE_TYPE_MIRTOL, "csa64xx"}, {IDE_TYPE_RAID, "MegaIDE"},
    {IDE_TYPE_RAID, "LsiCsb6"}, {IDE_TYPE_CSMI, "iaStorE"},   {IDE_TYPE_CSMI, "iaStorB"},
};

namespace {

constexpr uint8_t ATA_IDENTIFY_DEVICE = 0xEC;
constexpr uint8_t ATA_SMART = 0xB0;
constexpr uint8_t ATA_READ_LOG_EXT = 0x2F;
constexpr uint8_t SMART_RETURN_STATUS = 0xDA;
constexpr uint8_t SMART_READ_LOG = 0xD5;
constexpr uint8_t SMART_WRITE_LOG = 0xD6;
constexpr uint8_t SMART_LBA_MID = 0x4F;
constexpr uint8_t SMART_LBA_HIGH = 0xC2;
constexpr uint8_t SCT_COMMAND_LOG = 0xE0;
constexpr uint8_t SCT_DATA_LOG = 0xE1;
// What the SCT requests give when their drive does not open.
constexpr int IDE_SCT_NO_DRIVE = 1275;

int LastError() { return static_cast<int>(GetLastError()); }

uint8_t DeviceRegister(const IDE_DEVICE_RECORD *record) { return (record->TargetId & 1) ? 0xB0 : 0xA0; }

IDE_DEVICE_RECORD *NewRecord()
{
    void *memory = nullptr;
    if (SasAlloc(sizeof(IDE_DEVICE_RECORD), &memory) != 0)
        return nullptr;
    auto *record = static_cast<IDE_DEVICE_RECORD *>(memory);
    record->Port.Handle = INVALID_HANDLE_VALUE;
    return record;
}

// Sets the type of the record's port; a port that is no IDE controller closes the record.
int TypeOrClose(IDE_DEVICE_RECORD *record, IDE_DEVICE_RECORD **out)
{
    record->ControllerType = IdePortType(record->PortNumber);
    if (record->ControllerType == IDE_TYPE_NONE) {
        IdeCloseDevice(record);
        return -1;
    }
    *out = record;
    return 0;
}

int OpenPath(const char *path, IDE_DEVICE_RECORD *record)
{
    record->Port.Handle = StoragePlatform().OpenDevice(path, GENERIC_READ | GENERIC_WRITE,
                                                       FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    return record->Port.Handle == INVALID_HANDLE_VALUE ? LastError() : 0;
}

// ---- The S.M.A.R.T. I/O controls (the operating system's SENDCMDINPARAMS / SENDCMDOUTPARAMS) ----
constexpr DWORD SMART_IN_SIZE = 32;
constexpr DWORD SMART_RECEIVE_REPLY = 528;
constexpr DWORD SMART_SEND_REPLY = 24;
constexpr size_t SMART_REPLY_REGISTERS = 16;   // IDEREGS of a send-command reply

struct SmartRegisters {
    uint8_t Features, Count, Number, CylinderLow, CylinderHigh, Device, Command;
};

int SmartControl(IDE_DEVICE_RECORD *record, DWORD code, DWORD bufferSize, const SmartRegisters &registers,
                 uint8_t *reply, DWORD replySize, DWORD *returned)
{
    uint8_t in[SMART_IN_SIZE] = {};
    std::memcpy(in, &bufferSize, 4);
    in[4] = registers.Features;
    in[5] = registers.Count;
    in[6] = registers.Number;
    in[7] = registers.CylinderLow;
    in[8] = registers.CylinderHigh;
    in[9] = registers.Device;
    in[10] = registers.Command;
    in[12] = record->TargetId;   // drive number
    *returned = 0;
    if (!StoragePlatform().DeviceControl(record->Port.Handle, code, in, sizeof in, reply, replySize, returned))
        return LastError();
    return 0;
}

// A receive-data request whose reply data (as much as the reply holds) lands in data.
int SmartReceive(IDE_DEVICE_RECORD *record, const SmartRegisters &registers, uint8_t *data)
{
    std::vector<uint8_t> reply(SMART_RECEIVE_REPLY, 0);
    DWORD returned = 0;
    int result = SmartControl(record, SMART_RCV_DRIVE_DATA_CODE, ATA_SECTOR_SIZE, registers, reply.data(),
                              SMART_RECEIVE_REPLY, &returned);
    if (result != 0)
        return result;
    // The driver's size word is not trusted beyond the reply it returned or one sector.
    size_t count = SmartReplyDataSize(reply.data(), returned);
    if (count == 0)
        return -1;
    std::memcpy(data, reply.data() + SMART_REPLY_DATA_OFFSET, count);
    return 0;
}

// ---- ATA pass-through (ATA_PASS_THROUGH_EX, 48 bytes, data behind it) ----
constexpr size_t APT_HEADER = 48;
constexpr uint16_t ATA_FLAGS_DATA_IN = 2;
constexpr uint16_t ATA_FLAGS_DATA_OUT = 4;
constexpr uint16_t ATA_FLAGS_48BIT = 8;

struct TaskFile {
    uint8_t Features, Count, LbaLow, LbaMid, LbaHigh, Device, Command;
};

int PassThrough(HANDLE handle, uint16_t flags, const TaskFile &task, uint8_t *data)
{
    std::vector<uint8_t> buffer(APT_HEADER + ATA_SECTOR_SIZE, 0);
    uint16_t length = APT_HEADER;
    uint32_t transfer = ATA_SECTOR_SIZE;
    uint32_t timeout = 10;
    uint64_t offset = APT_HEADER;
    std::memcpy(&buffer[0], &length, 2);
    std::memcpy(&buffer[2], &flags, 2);
    std::memcpy(&buffer[8], &transfer, 4);
    std::memcpy(&buffer[12], &timeout, 4);
    std::memcpy(&buffer[24], &offset, 8);
    const uint8_t current[8] = {task.Features, task.Count, task.LbaLow, task.LbaMid, task.LbaHigh, task.Device,
                                task.Command, 0};
    std::memcpy(&buffer[40], current, 8);
    if (flags & ATA_FLAGS_DATA_OUT)
        std::memcpy(&buffer[APT_HEADER], data, ATA_SECTOR_SIZE);
    DWORD returned = 0;
    if (!StoragePlatform().DeviceControl(handle, IOCTL_ATA_PASS_THROUGH_CODE, buffer.data(),
                                         static_cast<DWORD>(buffer.size()), buffer.data(),
                                         static_cast<DWORD>(buffer.size()), &returned))
        return LastError();
    std::memcpy(&transfer, &buffer[8], 4);
    if (transfer == 0)
        return 1;   // the call went through but nothing moved
    if (flags & ATA_FLAGS_DATA_IN)
        std::memcpy(data, &buffer[APT_HEADER], ATA_SECTOR_SIZE);
    return 0;
}

// ---- CSMI STP pass-through on the record's PHY ----
constexpr uint32_t STP_READ = 17;    // read, PIO
constexpr uint32_t STP_WRITE = 18;

struct StpResult {
    uint8_t Status = 0, LbaMid = 0, LbaHigh = 0;
};

int Stp(IDE_DEVICE_RECORD *record, bool commandBit, const TaskFile &task, uint32_t flags, uint8_t *data,
        StpResult *status, bool copyOnFailure)
{
    std::vector<uint8_t> buffer(CSMI_STP_FRAME_SIZE + ATA_SECTOR_SIZE, 0);
    buffer[28] = record->PhyId;
    buffer[29] = 255;   // port: any
    std::memcpy(&buffer[32], record->SasAddress, 8);
    uint8_t *fis = &buffer[44];
    fis[0] = 0x27;
    fis[1] = commandBit ? 0x80 : 0;
    fis[2] = task.Command;
    fis[3] = task.Features;
    fis[4] = task.LbaLow;
    fis[5] = task.LbaMid;
    fis[6] = task.LbaHigh;
    fis[7] = task.Device;
    fis[12] = task.Count;
    std::memcpy(&buffer[64], &flags, 4);
    uint32_t length = ATA_SECTOR_SIZE;
    std::memcpy(&buffer[CSMI_STP_DATA_LENGTH_OFFSET], &length, 4);
    if (flags == STP_WRITE)
        std::memcpy(&buffer[CSMI_STP_DATA_OFFSET], data, ATA_SECTOR_SIZE);
    int result = CsmiStpPassthrough(record->Port.Handle, buffer.data(), nullptr);
    if (status != nullptr) {
        const uint8_t *reply = &buffer[CSMI_STP_STATUS_FIS_OFFSET];
        *status = {reply[2], reply[5], reply[6]};
    }
    if (flags == STP_READ && data != nullptr && (result == 0 || copyOnFailure))
        std::memcpy(data, &buffer[CSMI_STP_DATA_OFFSET], ATA_SECTOR_SIZE);
    return result;
}

TaskFile SmartTask(uint8_t feature, uint8_t device, uint8_t logAddress = 0)
{
    return {feature, 1, logAddress, SMART_LBA_MID, SMART_LBA_HIGH, device, ATA_SMART};
}

// A handle of its own for the SCT requests: the disk's handle may be the one in use.
int FreshDrivePassThrough(unsigned driveNumber, uint16_t flags, const TaskFile &task, uint8_t *data)
{
    char path[40];
    std::snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%d", static_cast<int>(driveNumber));
    HANDLE handle = StoragePlatform().OpenDevice(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 OPEN_EXISTING, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return IDE_SCT_NO_DRIVE;
    int result = PassThrough(handle, flags, task, data);
    StoragePlatform().CloseDevice(handle);
    return result;
}

} // namespace

int32_t IdePortType(unsigned portNumber)
{
    uint8_t busType = 127;
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\Scsi%u:", portNumber);
    HANDLE port = StoragePlatform().OpenDevice(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               OPEN_EXISTING, 0);
    if (port != INVALID_HANDLE_VALUE) {
        uint32_t query[3] = {1 /* StorageAdapterProperty */, 0 /* PropertyStandardQuery */, 0};
        uint8_t descriptor[32] = {};
        DWORD returned = 0;
        if (StoragePlatform().DeviceControl(port, IOCTL_STORAGE_QUERY_PROPERTY_CODE, query, sizeof query, descriptor,
                                            sizeof descriptor, &returned) &&
            returned > 24)
            busType = descriptor[24];   // STORAGE_ADAPTER_DESCRIPTOR.BusType
        StoragePlatform().CloseDevice(port);
    }
    if (busType == 3 || busType == 11)
        return IDE_TYPE_BUS;

    char key[64];
    std::snprintf(key, sizeof key, "Hardware\\DeviceMap\\Scsi\\Scsi Port %d", static_cast<int>(portNumber));
    char driver[12] = {};
    DWORD size = sizeof driver;
    DWORD type = 0;
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return IDE_TYPE_NONE;
    LONG read = RegQueryValueExA(handle, "Driver", nullptr, &type, reinterpret_cast<BYTE *>(driver), &size);
    RegCloseKey(handle);
    // A name longer than the buffer does not fit and matches nothing.
    if (read != ERROR_SUCCESS || type != REG_SZ)
        return IDE_TYPE_NONE;
    driver[sizeof driver - 1] = '\0';
    for (const IDE_PORT_DRIVER_ROW &row : IDE_PORT_DRIVER_TABLE)
        if (_stricmp(row.Driver, driver) == 0)
            return row.Type;
    return IDE_TYPE_NONE;
}

int IdeOpenPhysicalDriveAt(unsigned driveNumber, uint8_t drivePosition, IDE_DEVICE_RECORD **out)
{
    IDE_DEVICE_RECORD *record = NewRecord();
    if (record == nullptr)
        return LastError();
    char path[40];
    std::snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%u", driveNumber);
    int result = OpenPath(path, record);
    uint8_t address[8] = {};
    DWORD returned = 0;
    if (result == 0 && !StoragePlatform().DeviceControl(record->Port.Handle, IOCTL_SCSI_GET_ADDRESS_CODE, nullptr, 0,
                                                        address, sizeof address, &returned))
        result = LastError();
    if (result != 0) {
        IdeCloseDevice(record);
        return result;
    }
    std::memcpy(&record->AddressLength, address, 4);
    record->PortNumber = address[4];
    record->PathId = address[5];
    record->TargetId = address[6];
    record->Lun = address[7];
    record->DriveNumber = static_cast<uint8_t>(driveNumber);
    record->DrivePosition = drivePosition;
    return TypeOrClose(record, out);
}

int IdeOpenPhysicalDrive(unsigned driveNumber, IDE_DEVICE_RECORD **out)
{
    IDE_DEVICE_RECORD *record = nullptr;
    int result = IdeOpenPhysicalDriveAt(driveNumber, 0, &record);
    if (result == 0) {
        record->DrivePosition = record->TargetId;
        *out = record;
    }
    return result;
}

namespace {
// A new record on "\\.\Scsi%u:" with its address fields set by fill, typed by the port.
template <class Fill> int OpenPortRecord(unsigned portNumber, IDE_DEVICE_RECORD **out, Fill fill)
{
    IDE_DEVICE_RECORD *record = NewRecord();
    if (record == nullptr)
        return LastError();
    int result = OpenScsiPort(portNumber, &record->Port);
    if (result != 0) {
        IdeCloseDevice(record);
        return result;
    }
    record->PortNumber = static_cast<uint8_t>(portNumber);
    fill(*record);
    return TypeOrClose(record, out);
}
} // namespace

int IdeOpenScsiPortDevice(unsigned portNumber, uint8_t phy, IDE_DEVICE_RECORD **out)
{
    return OpenPortRecord(portNumber, out, [&](IDE_DEVICE_RECORD &record) { record.PhyId = phy; });
}

int IdeOpenScsiAddress(unsigned portNumber, uint8_t path, uint8_t target, uint8_t lun, IDE_DEVICE_RECORD **out)
{
    return OpenPortRecord(portNumber, out, [&](IDE_DEVICE_RECORD &record) {
        record.PathId = path;
        record.TargetId = target;
        record.Lun = lun;
    });
}

int IdeCloseDevice(IDE_DEVICE_RECORD *record)
{
    if (record == nullptr)
        return ERROR_INVALID_HANDLE;
    int result = 0;
    if (record->Port.Handle != INVALID_HANDLE_VALUE && record->Port.Handle != nullptr &&
        !StoragePlatform().CloseDevice(record->Port.Handle))
        result = LastError();
    SasFree(record);
    return result;
}

int IdeXideRequest(IDE_DEVICE_RECORD *record, uint32_t code, uint32_t blockSize, uint8_t *block)
{
    if (record == nullptr || record->ControllerType != IDE_TYPE_RAID)
        return -1;
    std::memcpy(block + XIDE_SIGNATURE_OFFSET, "$XIDE$\0\0", 8);
    std::memcpy(block + XIDE_CODE_OFFSET, &code, 4);
    // SCSI_PASS_THROUGH_DIRECT (56 bytes on this platform): data in, CDB 0xFF.
    uint8_t request[56] = {};
    uint16_t length = sizeof request;
    std::memcpy(&request[0], &length, 2);
    request[3] = record->PathId;
    request[4] = record->TargetId;
    request[5] = record->Lun;
    request[6] = 10;   // CDB length
    request[8] = 1;    // SCSI_IOCTL_DATA_IN
    std::memcpy(&request[12], &blockSize, 4);
    uint32_t timeout = 10;
    std::memcpy(&request[16], &timeout, 4);
    std::memcpy(&request[24], &block, sizeof block);
    request[36] = 0xFF;   // CDB byte 0
    DWORD returned = 0;
    if (!StoragePlatform().DeviceControl(record->Port.Handle, IOCTL_SCSI_PASS_THROUGH_DIRECT_CODE, request,
                                         sizeof request, request, sizeof request, &returned))
        return LastError();
    return 0;
}

int IdeIdentify(IDE_DEVICE_RECORD *record, uint8_t *data)
{
    switch (record->ControllerType) {
    case IDE_TYPE_RAID: {
        std::vector<uint8_t> block(XIDE_IDENTIFY_SIZE, 0);
        block[XIDE_REQUEST_BYTE_OFFSET] = record->DrivePosition;
        uint32_t size = ATA_SECTOR_SIZE;
        std::memcpy(&block[32], &size, 4);
        block[36] = 1;
        block[37] = 1;
        block[52] = (record->DrivePosition & 1) ? 0xB0 : 0xA0;
        block[53] = ATA_IDENTIFY_DEVICE;
        block[54] = 0xFF;
        std::memcpy(&block[XIDE_IDENTIFY_DATA_OFFSET], data, ATA_SECTOR_SIZE);
        int result = IdeXideRequest(record, XIDE_IDENTIFY, XIDE_IDENTIFY_SIZE, block.data());
        std::memcpy(data, &block[XIDE_IDENTIFY_DATA_OFFSET], ATA_SECTOR_SIZE);
        return result;
    }
    case IDE_TYPE_CSMI:
        return Stp(record, true, {0, 0, 0, 0, 0, 0, ATA_IDENTIFY_DEVICE}, STP_READ, data, nullptr, true);
    default:
        return SmartReceive(record, {0, 0, 0, 0, 0, DeviceRegister(record), ATA_IDENTIFY_DEVICE}, data);
    }
}

int IdeSmartStatus(IDE_DEVICE_RECORD *record, bool *exceeded, bool *deviceFault, int *ioctlResult)
{
    *exceeded = false;
    *deviceFault = false;
    *ioctlResult = 0;
    switch (record->ControllerType) {
    case IDE_TYPE_RAID: {
        std::vector<uint8_t> block(XIDE_SMART_STATUS_SIZE, 0);
        block[XIDE_REQUEST_BYTE_OFFSET] = record->DrivePosition;
        block[29] = SMART_RETURN_STATUS;
        int result = IdeXideRequest(record, XIDE_SMART_STATUS, XIDE_SMART_STATUS_SIZE, block.data());
        if (result != 0)
            return result;
        int answer = XideSmartExceeded(block.data(), block.size());
        if (answer < 0)
            return -1;
        *exceeded = answer == 1;
        return 0;
    }
    case IDE_TYPE_CSMI: {
        StpResult status;
        int result = Stp(record, true, SmartTask(SMART_RETURN_STATUS, 0xA0), STP_READ, nullptr, &status, false);
        if (result != 0)
            return result;
        *deviceFault = (status.Status & 0x20) != 0;
        *exceeded = status.LbaMid == 0xF4 && status.LbaHigh == 0x2C;
        return 0;
    }
    default: {
        uint8_t reply[SMART_SEND_REPLY] = {};
        DWORD returned = 0;
        int result = SmartControl(record, SMART_SEND_DRIVE_COMMAND_CODE, 8,
                                  {SMART_RETURN_STATUS, 0, 0, SMART_LBA_MID, SMART_LBA_HIGH, DeviceRegister(record),
                                   ATA_SMART},
                                  reply, sizeof reply, &returned);
        *ioctlResult = result;
        if (result != 0)
            return result;
        const uint8_t *registers = reply + SMART_REPLY_REGISTERS;
        *deviceFault = (registers[6] & 0x20) != 0;
        *exceeded = registers[3] == 0xF4 && registers[4] == 0x2C;
        return 0;
    }
    }
}

int IdeSmartRead(IDE_DEVICE_RECORD *record, uint8_t feature, uint8_t *data)
{
    if (record->ControllerType == IDE_TYPE_CSMI)
        return Stp(record, false, SmartTask(feature, 0xA0), STP_READ, data, nullptr, false);
    SmartRegisters registers = {feature, 0, 0, SMART_LBA_MID, SMART_LBA_HIGH, DeviceRegister(record), ATA_SMART};
    return SmartReceive(record, registers, data);
}

int IdeReadLogExt(IDE_DEVICE_RECORD *record, uint8_t address, uint8_t page, uint8_t *data)
{
    TaskFile task = {0, 1, address, page, 0, 0, ATA_READ_LOG_EXT};
    if (record->ControllerType == IDE_TYPE_CSMI)
        return Stp(record, false, task, STP_READ, data, nullptr, false);
    return PassThrough(record->Port.Handle, ATA_FLAGS_DATA_IN | ATA_FLAGS_48BIT, task, data);
}

int IdeReadSctTable(IDE_DEVICE_RECORD *record, uint8_t *data)
{
    uint8_t request[ATA_SECTOR_SIZE] = {5, 0, 1, 0, 2, 0};   // read the temperature history table
    TaskFile write = SmartTask(SMART_WRITE_LOG, 0, SCT_COMMAND_LOG);
    TaskFile read = SmartTask(SMART_READ_LOG, 0, SCT_DATA_LOG);
    if (record->ControllerType == IDE_TYPE_CSMI) {
        int result = Stp(record, false, write, STP_WRITE, request, nullptr, false);
        return result != 0 ? result : Stp(record, false, read, STP_READ, data, nullptr, false);
    }
    int result = FreshDrivePassThrough(record->DriveNumber, ATA_FLAGS_DATA_OUT, write, request);
    return result != 0 ? result : FreshDrivePassThrough(record->DriveNumber, ATA_FLAGS_DATA_IN, read, data);
}
