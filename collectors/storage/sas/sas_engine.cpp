#include "sas_engine.h"

#include "big_endian.h"
#include "csmi_reply.h"
#include "inquiry_walk.h"
#include "sas_publish.h"
#include "scsi_reply.h"
#include "ses_decode.h"
#include "storage_io.h"
#include "storage_platform.h"
#include "wear.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

SAS_DISCOVERY s_SasDiscovery;

namespace {

SasPublishState s_PublishState;

constexpr int kMissingArgument = 13;
constexpr DWORD kIoctlScsiGetAddress = 0x41018;
constexpr DWORD kIoctlScsiGetInquiryData = 0x4100C;
constexpr unsigned kMaxPort = 255;
constexpr unsigned kMaxPhysicalDrives = 512;
constexpr uint8_t kAnyPort = 255;
constexpr uint32_t kSspRead = 0x01;

// ---- Board ids of the maker's SAS controllers (our values) ----
struct BoardKind {
    uint32_t BoardId;
    uint8_t Kind;
};
constexpr BoardKind kBoardKinds[] = {
    {0x7A100031, 3}, {0x7A100032, 3}, {0x7A100033, 3}, {0x7A100034, 3},
    {0x7A100040, 4}, {0x7A100050, 5}, {0x7A100060, 6}, {0x7A100070, 7}, {0x7A100080, 8},
    {0x7A100090, 9}, {0x7A1000A0, 10}, {0x7A1000B0, 11}, {0x7A1000C0, 12}, {0x7A1000D0, 13},
};
constexpr uint32_t kGenericMask = 0xFF00FFFF;
constexpr uint32_t kGenericPattern = 0x30001000;

bool KindWithPortTable(uint8_t kind) { return kind >= 3 && kind <= 8; }
bool KindWithConnectors(uint8_t kind) { return kind >= 9 && kind <= 13; }
bool MakersKind(uint8_t kind) { return kind >= 3 && kind <= 13; }

// ---- Small helpers ----
bool s_FailAllocations = false;

template <typename T> T *Alloc(DWORD *error)
{
    if (s_FailAllocations) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    void *p = nullptr;
    *error = SasAlloc(sizeof(T), &p);
    return static_cast<T *>(p);
}

bool AddressIsZero(const uint8_t *address)
{
    for (int i = 0; i < 8; ++i)
        if (address[i] != 0)
            return false;
    return true;
}

void AddressText(const uint8_t *address, char (&out)[17])
{
    for (int i = 0; i < 8; ++i)
        std::snprintf(out + 2 * i, 3, "%02X", address[i]);
}

bool SameKey(const SAS_LOCATION_KEY &a, const SAS_LOCATION_KEY &b) { return a.Parent == b.Parent && a.Number == b.Number; }
bool IsBayKey(const SAS_LOCATION_KEY &key) { return key.Parent >= SAS_BAY_KEY_BASE; }

std::string WithoutSpaces(const char *text, size_t limit)
{
    std::string out;
    for (size_t i = 0; i < limit && text[i] != '\0'; ++i)
        if (text[i] != ' ')
            out += text[i];
    return out;
}

bool SameSerial(const std::string &a, const std::string &b)
{
    // Drives report their serial in either case through different paths: the first 16
    // characters without case decide.
    std::string x = a.substr(0, 16), y = b.substr(0, 16);
    if (x.size() != y.size())
        return false;
    for (size_t i = 0; i < x.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(x[i])) != std::toupper(static_cast<unsigned char>(y[i])))
            return false;
    return true;
}

template <typename Node> void FreeList(Node *node)
{
    while (node != nullptr) {
        Node *next = node->Next;
        SasFree(node);
        node = next;
    }
}

template <typename Node> void Unlink(Node **list, Node *node)
{
    for (Node **at = list; *at != nullptr; at = &(*at)->Next)
        if (*at == node) {
            *at = node->Next;
            return;
        }
}

// ---- Requests through the adapter ----
struct SspTarget {
    uint8_t Phy;
    uint8_t Port;
    const uint8_t *Address;
};

SspTarget EntryTarget(const SAS_DEVICE_ENTRY &entry)
{
    return {entry.Identify.PhyIdentifier, entry.PortIdentifier, entry.Attached.SasAddress};
}
SspTarget DriveTarget(const SAS_DRIVE_NODE *drive) { return {drive->Record.PhyId, kAnyPort, drive->SasAddress}; }

// One SCSI read command: 0 with the data the device returned, or the request's error.
int Ssp(HANDLE port, const SspTarget &target, std::initializer_list<uint8_t> cdb, uint32_t length,
        std::vector<uint8_t> *data)
{
    std::vector<uint8_t> buffer(CSMI_SSP_FRAME_SIZE + length, 0);
    buffer[28] = target.Phy;
    buffer[29] = target.Port;
    std::memcpy(&buffer[32], target.Address, 8);
    buffer[48] = static_cast<uint8_t>(cdb.size());
    std::memcpy(&buffer[52], cdb.begin(), cdb.size());
    PutU32(&buffer[68], kSspRead);
    PutU32(&buffer[CSMI_SSP_DATA_LENGTH_OFFSET], length);
    uint32_t returned = 0;
    int result = CsmiSspPassthrough(port, buffer.data(), &returned);
    if (result != 0)
        return result;
    if (returned > length)
        returned = length;
    data->assign(buffer.begin() + CSMI_SSP_DATA_OFFSET, buffer.begin() + CSMI_SSP_DATA_OFFSET + returned);
    return 0;
}

// One ATA PIO read of a sector through STP.
int StpRead(HANDLE port, const SAS_DRIVE_NODE *drive, uint8_t command, uint8_t logAddress, std::vector<uint8_t> *data)
{
    constexpr uint32_t kSector = 512;
    constexpr uint32_t kPioRead = 0x11;
    std::vector<uint8_t> buffer(CSMI_STP_FRAME_SIZE + kSector, 0);
    buffer[28] = drive->Record.PhyId;
    buffer[29] = kAnyPort;
    std::memcpy(&buffer[32], drive->SasAddress, 8);
    uint8_t *fis = &buffer[44];
    fis[0] = 0x27;
    fis[1] = 0x80;
    fis[2] = command;
    fis[4] = logAddress;
    fis[12] = 1;
    PutU32(&buffer[64], kPioRead);
    PutU32(&buffer[CSMI_STP_DATA_LENGTH_OFFSET], kSector);
    uint32_t returned = 0;
    int result = CsmiStpPassthrough(port, buffer.data(), &returned);
    if (result != 0)
        return result;
    CSMI_STP_REPLY reply{};
    if (!DecodeCsmiStpReply(buffer.data(), CSMI_STP_FRAME_SIZE + returned, &reply) || reply.ConnectionStatus != 0 ||
        (reply.StatusFis[2] & 0x01) != 0)
        return CSMI_PASSTHROUGH_FAILED;
    data->assign(reply.Data, reply.Data + reply.DataLength);
    return 0;
}

// One SMP function to an expander: 0 with the response frame, or the error.
int Smp(HANDLE port, uint8_t phy, uint8_t portId, const uint8_t *address, uint8_t function, uint32_t requestLength,
        uint8_t phyInRequest, std::vector<uint8_t> *response)
{
    std::vector<uint8_t> buffer(CSMI_SMP_BUFFER_SIZE, 0);
    buffer[28] = phy;
    buffer[29] = portId;
    std::memcpy(&buffer[32], address, 8);
    PutU32(&buffer[40], requestLength);
    buffer[44] = 0x40;
    buffer[45] = function;
    buffer[44 + 9] = phyInRequest;
    int result = CsmiSmpPassthrough(port, buffer.data());
    if (result != 0)
        return result;
    ByteReader reader(buffer.data(), buffer.size());
    uint32_t bytes = 0;
    reader.U32(1068, &bytes);
    if (bytes > 1020)
        bytes = 1020;
    response->assign(buffer.begin() + 1072, buffer.begin() + 1072 + bytes);
    return 0;
}

int Inquiry(HANDLE port, const SspTarget &target, std::vector<uint8_t> *data)
{
    return Ssp(port, target, {0x12, 0x00, 0x00, 0x00, 0x74, 0x00}, 116, data);
}

int InquirySerial(HANDLE port, const SspTarget &target, char *out, size_t capacity)
{
    std::vector<uint8_t> data;
    int result = Ssp(port, target, {0x12, 0x01, 0x80, 0x00, 0xFF, 0x00}, 255, &data);
    if (result != 0)
        return result;
    return DecodeUnitSerial(data.data(), data.size(), out, capacity) ? 0 : CSMI_PASSTHROUGH_FAILED;
}

// ---- Lists ----
void InsertDrive(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive)
{
    SAS_DRIVE_NODE **at = &hba->Drives;
    while (*at != nullptr && (*at)->Record.DriveIndex < drive->Record.DriveIndex)
        at = &(*at)->Next;
    drive->Next = *at;
    *at = drive;
}

SAS_DRIVE_NODE *DriveAtKey(SAS_HBA_NODE *hba, const SAS_LOCATION_KEY &key)
{
    for (SAS_DRIVE_NODE *drive = hba->Drives; drive != nullptr; drive = drive->Next)
        if (SameKey(drive->Key, key))
            return drive;
    return nullptr;
}

SAS_DRIVE_NODE *DriveWithAddress(SAS_HBA_NODE *hba, const uint8_t *address)
{
    for (SAS_DRIVE_NODE *drive = hba->Drives; drive != nullptr; drive = drive->Next)
        if (std::memcmp(drive->SasAddress, address, 8) == 0)
            return drive;
    return nullptr;
}

// By SAS address where both sides have one (a SATA drive's address is the adapter's invention),
// else by serial number. An empty serial number names no drive.
SAS_DRIVE_NODE *SasFindDrive(SAS_DRIVE_NODE *list, const uint8_t *address, const char *serial)
{
    const std::string wanted = WithoutSpaces(serial, 41);
    for (SAS_DRIVE_NODE *drive = list; drive != nullptr; drive = drive->Next) {
        bool own = !AddressIsZero(drive->SasAddress) && drive->Record.DriveType != 3;
        if (!AddressIsZero(address) && own) {
            if (std::memcmp(drive->SasAddress, address, 8) == 0)
                return drive;
            continue;
        }
        if (!wanted.empty() && SameSerial(wanted, WithoutSpaces(drive->Record.SerialNumber, 41)))
            return drive;
    }
    return nullptr;
}

void SetStatus(SAS_DRIVE_NODE *drive, uint8_t status)
{
    drive->Record.Status = status;
    drive->Record.Condition = SasDriveCondition(status);
}

// A drive missed by this pass: the lost form of its status at the first miss; freed at the
// second unless an array holds it. A drive that never had a known status is lost the same way.
void SasMarkDriveLost(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive)
{
    if (!drive->Missed) {
        SetStatus(drive, SasLostStatus(drive->Record.Status));
        drive->Missed = 1;
        drive->Seen = 1;
        return;
    }
    if (drive->Record.ArrayRole == 4) {
        Unlink(&hba->Drives, drive);
        SasFree(drive);
    }
}

// ---- Controller ----
std::string Version(const uint16_t (&revision)[4])
{
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", revision[0], revision[1], revision[2], revision[3]);
    return text;
}

void SasUpdateControllerInfo(SAS_HBA_NODE *hba)
{
    SAS_HBA_RECORD &r = hba->Record;
    r.ControllerCondition = 1;
    r.ControllerStatus = 1;
    std::vector<uint8_t> buffer(CSMI_CNTLR_CONFIG_BUFFER_SIZE, 0);
    CSMI_CONTROLLER_CONFIG config{};
    if (CsmiGetControllerConfig(hba->Handle, buffer.data()) == 0 &&
        DecodeCsmiControllerConfig(buffer.data(), buffer.size(), &config)) {
        uint8_t kind = SasControllerKind(config.BoardId);
        r.ModelCode = kind == 0 ? 2 : kind;
        SasSetText(r.FirmwareVersion, Version(config.Revision));
        SasSetText(r.BiosVersion, Version(config.BiosRevision));
        SasSetText(r.SerialNumber, config.SerialNumber);
        char pci[32];
        std::snprintf(pci, sizeof pci, "0000:%.2X:%.2X.%.1X", config.PciBus, config.PciDevice, config.PciFunction);
        SasSetText(r.PciLocation, pci);
        r.Slot = 0;
        uint32_t slot = 0;
        if (config.IoBusType == 3 && GetPciSlotNumber(config.PciBus, config.PciDevice, config.PciFunction, &slot) == 0)
            r.Slot = static_cast<uint8_t>(slot);
        std::vector<uint8_t> status(CSMI_CNTLR_STATUS_BUFFER_SIZE, 0);
        CSMI_CONTROLLER_STATUS decoded{};
        if (CsmiGetControllerStatus(hba->Handle, status.data()) == 0 &&
            DecodeCsmiControllerStatus(status.data(), status.size(), &decoded))
            r.ControllerStatus = decoded.Status == 1 ? 2 : decoded.Status == 2 ? 3 : 1;
    }
    char location[16] = "";
    if (r.Slot != 255)
        std::snprintf(location, sizeof location, "Slot %d", r.Slot);
    SasSetText(r.Location, location);
    if (r.ControllerStatus > r.ControllerCondition)
        r.ControllerCondition = r.ControllerStatus;
    for (SAS_EXPANDER_RECORD *e = hba->Expanders; e != nullptr; e = e->Next)
        e->Visited = 0;
    for (SAS_DRIVE_NODE *d = hba->Drives; d != nullptr; d = d->Next) {
        d->Seen = 0;
        d->Bay = 0;
    }
    for (SAS_BOX_NODE *b = hba->Boxes; b != nullptr; b = b->Next)
        b->Seen = 0;
    for (SAS_TAPE_NODE *t = hba->Tapes; t != nullptr; t = t->Next) {
        t->Seen = 0;
        t->Record.Condition = 4;
        t->Record.Status = 3;
    }
}

int SasConnectorName(SAS_HBA_NODE *hba, uint8_t phy, char out[5])
{
    std::vector<uint8_t> buffer(CSMI_CONNECTOR_BUFFER_SIZE, 0);
    int result = CsmiGetConnectorInfo(hba->Handle, buffer.data());
    if (result != 0)
        return result;
    return DecodeCsmiConnectorName(buffer.data(), buffer.size(), phy, out) ? 0 : CSMI_PASSTHROUGH_FAILED;
}

// ---- Drive probing ----
void ReadCapacity(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive)
{
    SAS_PHYDRV_RECORD &r = drive->Record;
    r.CapacityMiB = 0;
    std::vector<uint8_t> data;
    uint64_t lastLba = 0;
    uint32_t block = 0;
    if (Ssp(hba->Handle, DriveTarget(drive), {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, &data) != 0 ||
        !DecodeReadCapacity10(data.data(), data.size(), &lastLba, &block))
        return;
    if (lastLba == 0xFFFFFFFF &&
        (Ssp(hba->Handle, DriveTarget(drive), {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, 32, &data) != 0 ||
         !DecodeReadCapacity16(data.data(), data.size(), &lastLba, &block)))
        return;
    r.CapacityMiB = CapacityMiB(lastLba, block);
}

void ReadRotation(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive)
{
    std::vector<uint8_t> data;
    uint32_t rpm = 0;
    if (Ssp(hba->Handle, DriveTarget(drive), {0x1A, 0x08, 0x04, 0x00, 0xFF, 0x00}, 255, &data) != 0 ||
        !DecodeRotationPage(data.data(), data.size(), &rpm))
        rpm = 0;
    drive->Record.RotationClass = RotationClass(rpm);
}

void ReadIe(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive)
{
    SAS_PHYDRV_RECORD &r = drive->Record;
    std::vector<uint8_t> data;
    if (r.IeState == 0) {
        bool disabled = false;
        if (Ssp(hba->Handle, DriveTarget(drive), {0x1A, 0x08, 0x1C, 0x00, 0xFF, 0x00}, 255, &data) == 0 &&
            DecodeIeModePage(data.data(), data.size(), &disabled))
            r.IeState = disabled ? 2 : 3;
        else
            r.IeState = 1;
    }
    r.IeResult = 1;
    uint8_t result = 0;
    if (r.IeState == 3 &&
        Ssp(hba->Handle, DriveTarget(drive), {0x4D, 0x00, 0x6F, 0, 0, 0, 0, 0x04, 0xB4, 0}, 1204, &data) == 0 &&
        DecodeIeLog(data.data(), data.size(), &result))
        r.IeResult = result;
}

void ReadGrownDefects(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive)
{
    std::vector<uint8_t> data;
    uint32_t count = 0;
    if (Ssp(hba->Handle, DriveTarget(drive), {0x37, 0x00, 0x0D, 0, 0, 0, 0, 0, 0x04, 0}, 255, &data) == 0 &&
        DecodeGrownDefects(data.data(), data.size(), &count))
        drive->Record.GrownDefects = count;
}

void ReadTemperature(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive)
{
    std::vector<uint8_t> data;
    uint32_t current = 0, reference = 0;
    if (Ssp(hba->Handle, DriveTarget(drive), {0x4D, 0x00, 0x4D, 0, 0, 0, 0, 0, 0x10, 0}, 16, &data) != 0 ||
        !DecodeTemperatureLog(data.data(), data.size(), &current, &reference))
        current = reference = 0;
    drive->Record.CurrentTemperature = current;
    drive->Record.ReferenceTemperature = reference;
}

// Opens every physical drive in turn, from 0, and gives the first whose SCSI address matches;
// -1 when none does. Every handle is closed before the next is opened.
int FindPhysicalDrive(uint8_t portNumber, uint8_t pathId, uint8_t targetId)
{
    IStoragePlatform &platform = StoragePlatform();
    for (unsigned n = 0; n < kMaxPhysicalDrives; ++n) {
        char path[40];
        std::snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%d", static_cast<int>(n));
        HANDLE handle = platform.OpenDevice(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
        if (handle == INVALID_HANDLE_VALUE)
            continue;
        uint8_t address[8] = {};
        DWORD returned = 0;
        BOOL ok = platform.DeviceControl(handle, kIoctlScsiGetAddress, nullptr, 0, address, sizeof address, &returned);
        platform.CloseDevice(handle);
        if (ok && returned >= 7 && address[4] == portNumber && address[5] == pathId && address[6] == targetId)
            return static_cast<int>(n);
    }
    return -1;
}

void SasFindOsDisk(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive)
{
    SAS_PHYDRV_RECORD &r = drive->Record;
    SasSetText(r.OsDiskName, "");
    std::vector<uint8_t> buffer(CSMI_SCSI_ADDRESS_BUFFER_SIZE, 0);
    std::memcpy(&buffer[28], drive->SasAddress, 8);
    CSMI_SCSI_ADDRESS address{};
    if (CsmiGetScsiAddress(hba->Handle, buffer.data()) != 0 ||
        !DecodeCsmiScsiAddress(buffer.data(), buffer.size(), &address))
        return;
    int disk = FindPhysicalDrive(static_cast<uint8_t>(hba->Record.AdapterIndex), address.PathId, address.TargetId);
    if (disk < 0)
        return;
    if (!IsBayKey(drive->Key)) {
        std::vector<uint8_t> location(CSMI_LOCATION_BUFFER_SIZE, 0);
        location[28] = 255;
        location[29] = address.PathId;
        location[30] = address.TargetId;
        location[31] = address.Lun;
        location[34] = static_cast<uint8_t>(CSMI_LOCATION_ENTRY_SIZE);
        std::vector<CSMI_LOCATION_ENTRY> entries;
        if (CsmiGetLocation(hba->Handle, location.data(), CSMI_LOCATION_BUFFER_SIZE) == 0 &&
            DecodeCsmiLocation(location.data(), location.size(), &entries) && entries.size() == 1 &&
            (entries[0].Flags & 0x21) == 0x21 && std::memcmp(entries[0].SasAddress, drive->SasAddress, 8) == 0) {
            drive->Bay = entries[0].BayIdentifier;
            r.CarrierQueryIndex = location[131];
        }
    }
    char name[12];
    std::snprintf(name, sizeof name, "Disk %d", disk);
    SasSetText(r.OsDiskName, name);
}

void SasReadCarrierState(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive)
{
    SAS_PHYDRV_RECORD &r = drive->Record;
    std::vector<uint8_t> buffer(CSMI_REQUEST_32_BUFFER_SIZE, 0);
    buffer[28] = r.CarrierQueryIndex;
    uint8_t present = 0, state = 0;
    if (CsmiRequest32(hba->Handle, buffer.data()) != 0 ||
        !DecodeCsmiCarrierState(buffer.data(), buffer.size(), &present, &state) || present == 0) {
        r.CarrierState = 1;
        r.CarrierByteA = r.CarrierByteB = 0;
        return;
    }
    if (state == 1) {
        r.CarrierState = 4;
        std::vector<uint8_t> bytes(CSMI_REQUEST_34_BUFFER_SIZE, 0);
        bytes[28] = r.CarrierQueryIndex;
        PutU16(&bytes[30], 0);
        PutU16(&bytes[544], 13);
        if (CsmiRequest34(hba->Handle, bytes.data()) != 0 ||
            !DecodeCsmiCarrierBytes(bytes.data(), bytes.size(), &r.CarrierByteA, &r.CarrierByteB))
            r.CarrierByteA = r.CarrierByteB = 0;
    } else if (state == 255 || state == 0) {
        r.CarrierState = state == 255 ? 3 : 2;
        r.CarrierByteA = r.CarrierByteB = 0;
    }
}

// ---- SSD wear ----
void WearNotAvailable(SAS_PHYDRV_RECORD &r)
{
    r.WearStatus = WEAR_STATUS_NOT_AVAILABLE;
    r.PowerOnHours = r.EnduranceUsed = r.RemainingHours = WEAR_NOT_AVAILABLE;
}

int SasReadLogPages(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive)
{
    SAS_PHYDRV_RECORD &r = drive->Record;
    std::vector<uint8_t> data;
    SCSI_LOG_PAGES pages{};
    int result = Ssp(hba->Handle, DriveTarget(drive), {0x4D, 0x00, 0x40, 0, 0, 0, 0, 0, 0xFC, 0}, 252, &data);
    if (result == 0 && !DecodeSupportedLogPages(data.data(), data.size(), &pages))
        result = CSMI_PASSTHROUGH_FAILED;
    if (result != 0) {
        r.HasWearLog = 0;
        WearNotAvailable(r);
        return result;
    }
    if (pages.SolidState) {
        r.MediaType = 3;
        r.RotationClass = 5;
    }
    if (pages.WearLog)
        r.HasWearLog = 1;
    if (r.MediaType != 3) {
        r.MediaType = 2;
        WearNotAvailable(r);
    }
    if (r.HasWearLog != 1) {
        r.HasWearLog = 0;
        WearNotAvailable(r);
    }
    return 0;
}

int SasIdentifySata(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive)
{
    SAS_PHYDRV_RECORD &r = drive->Record;
    std::vector<uint8_t> identify, directory;
    uint16_t rotation = 0;
    int result = StpRead(hba->Handle, drive, 0xEC, 0, &identify);
    if (result == 0 && !ByteReader(identify.data(), identify.size()).U16(2 * 217, &rotation))
        result = CSMI_PASSTHROUGH_FAILED;
    if (result == 0 && rotation != 1) {
        r.MediaType = 2;
        r.RotationClass = 1;
        WearNotAvailable(r);
        return 0;
    }
    if (result == 0) {
        r.MediaType = 3;
        r.RotationClass = 5;
        result = StpRead(hba->Handle, drive, 0x2F, 0x00, &directory);
    }
    uint16_t version = 0;
    uint8_t pages = 0;
    ByteReader reader(directory.data(), directory.size());
    if (result == 0 && reader.U16(0, &version) && reader.U8(364, &pages) && version != 0 && pages != 0) {
        r.HasWearLog = 1;
        return 0;
    }
    r.HasWearLog = 0;
    WearNotAvailable(r);
    return result;
}

int ReadWearLog(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive, WEAR_LOG *log)
{
    std::vector<uint8_t> data;
    int result = drive->Record.DriveType == 3
                     ? StpRead(hba->Handle, drive, 0x2F, 0xB6, &data)
                     : Ssp(hba->Handle, DriveTarget(drive), {0x4D, 0x00, 0x76, 0, 0, 0, 0, 0x02, 0x00, 0}, 512, &data);
    if (result != 0)
        return result;
    return ParseWearLog(data.data(), data.size(), log) ? 0 : 1;
}

void SasUpdateWear(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive)
{
    SAS_PHYDRV_RECORD &r = drive->Record;
    if (r.MediaType != 2 && r.MediaType != 3) {
        int result = r.DriveType == 2 ? SasReadLogPages(hba, drive) : r.DriveType == 3 ? SasIdentifySata(hba, drive) : 0;
        if (result != 0) {
            r.MediaType = 1;
            WearNotAvailable(r);
            r.CurrentTemperature = r.ReferenceTemperature = 0;
        }
    }
    if (!KindWithConnectors(hba->Record.ModelCode)) {
        WearNotAvailable(r);
    } else if (r.MediaType == 3 && r.HasWearLog == 1 && r.RefreshCountdown == 0) {
        WEAR_LOG log{};
        if (ReadWearLog(hba, drive, &log) != 0) {
            WearNotAvailable(r);
        } else {
            if (log.WearLimit)
                r.WearLimitFlag = 1;
            WEAR_ESTIMATE estimate = EstimateWear(log.PowerOnHours, log.EnduranceUsed, r.WearLimitFlag == 1,
                                                  r.WearOutOfRange == 1);
            r.PowerOnHours = estimate.PowerOnHours;
            r.EnduranceUsed = estimate.EnduranceUsed;
            r.RemainingHours = estimate.RemainingHours;
            r.WearStatus = estimate.Status;
            if (estimate.OutOfRange)
                r.WearOutOfRange = 1;
            if (estimate.WornOut)
                r.Status = 10;
        }
    }
    ReadTemperature(hba, drive);
}

void SasProbeDrive(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive, const SAS_DEVICE_ENTRY &entry)
{
    SAS_PHYDRV_RECORD &r = drive->Record;
    r.Status = 2;
    if (std::memcmp(drive->SasAddress, entry.Attached.SasAddress, 8) != 0 || drive->FromRaid) {
        SasSetText(r.SerialNumber, "");
        r.CapacityMiB = 0;
        r.RotationClass = 0;
    }
    std::memcpy(drive->SasAddress, entry.Attached.SasAddress, 8);
    AddressText(drive->SasAddress, r.SasAddress);
    r.PhyId = entry.Identify.PhyIdentifier;
    r.ArrayRole = 4;
    r.Placement = 1;
    r.HotPlugClass = 3;
    std::memcpy(r.AdapterLocation, hba->Record.Location, sizeof r.AdapterLocation);
    const uint8_t flags = entry.Attached.TargetProtocol;
    r.DriveType = flags == 1 ? 3 : flags == 8 ? 2 : 1;
    const bool sata = r.DriveType == 3;
    if (r.SerialNumber[0] == '\0' || sata)
        InquirySerial(hba->Handle, DriveTarget(drive), r.SerialNumber, sizeof r.SerialNumber);
    if (r.CapacityMiB == 0 || sata)
        ReadCapacity(hba, drive);
    if (r.RotationClass == 0) {
        if (sata)
            r.RotationClass = 1;
        else
            ReadRotation(hba, drive);
    }
    ReadIe(hba, drive);
    r.RefreshCountdown = 0;
    if (!sata)
        ReadGrownDefects(hba, drive);
    SasFindOsDisk(hba, drive);
    const uint8_t kind = hba->Record.ModelCode;
    if (MakersKind(kind)) {
        r.HotPlugClass = 2;
        r.Placement = SasIsInternalPort(kind, entry.Identify.PhyIdentifier) ? 2 : 3;
    }
    SasUpdateWear(hba, drive);
    if (r.BehindExpander == 0)
        SasReadCarrierState(hba, drive);
    if (r.Model[0] == '\0')
        r.Status = 4;
    else if (r.CapacityMiB == 0)
        r.Status = 5;
    if ((r.Status == 1 || r.Status == 2) && r.IeResult > 2)
        r.Status = 3;
    if (r.Status != 5 && r.CarrierState == 3)
        r.Status = 12;
    r.Condition = SasDriveCondition(r.Status);
}

int SasUpdateDrive(SAS_DRIVE_NODE *drive, SAS_HBA_NODE *hba, const SAS_DEVICE_ENTRY &entry,
                   const SAS_LOCATION_KEY &key, const SCSI_INQUIRY &inquiry, int behindExpander)
{
    if (drive == nullptr) {
        char serial[41] = "";
        if (InquirySerial(hba->Handle, EntryTarget(entry), serial, sizeof serial) == 0)
            drive = SasFindDrive(hba->Drives, entry.Attached.SasAddress, serial);
        // A drive that moved is where it was found now: its old key would name its old port,
        // and hand the drive's node to whatever device came to that port next.
        if (drive != nullptr)
            drive->Key = key;
    }
    if (drive == nullptr) {
        DWORD error = 0;
        drive = Alloc<SAS_DRIVE_NODE>(&error);
        if (drive == nullptr)
            return static_cast<int>(error);
        drive->Record.AdapterIndex = hba->Record.AdapterIndex;
        drive->Key = key;
        drive->Record.DriveIndex = ++hba->NextId;
        drive->Record.BehindExpander = behindExpander == 1 ? 1 : 0;
        InsertDrive(hba, drive);
    }
    SAS_PHYDRV_RECORD &r = drive->Record;
    SasSetText(r.Model, "");
    if (inquiry.Vendor[0] != 0) {
        char model[25];
        for (int i = 0; i < 8; ++i)
            model[i] = inquiry.Vendor[i] == 0 ? ' ' : static_cast<char>(inquiry.Vendor[i]);
        for (int i = 0; i < 16; ++i)
            model[8 + i] = inquiry.Product[i] == 0 ? ' ' : static_cast<char>(inquiry.Product[i]);
        model[24] = '\0';
        SasSetText(r.Model, model);
        SasSetText(r.FirmwareRevision, std::string(reinterpret_cast<const char *>(inquiry.Revision),
                                                   strnlen(reinterpret_cast<const char *>(inquiry.Revision), 4)));
    }
    SasProbeDrive(hba, drive, entry);
    drive->FromRaid = 0;
    drive->Seen = 1;
    drive->Missed = 0;
    return 0;
}

// ---- Enclosures and tapes ----
// Product texts of the maker's external enclosures (our values): the first 9 characters of three
// names, the first 12 of two.
struct ExternalName {
    const char *Text;
    size_t Length;
};
constexpr ExternalName kExternalNames[] = {
    {"QZ SE-100", 9}, {"QZ SE-200", 9}, {"QZ SE-300", 9}, {"QZ JBOD-2400", 12}, {"QZ JBOD-3600", 12},
};

std::string Trimmed(const uint8_t *bytes, size_t length)
{
    std::string text(reinterpret_cast<const char *>(bytes), strnlen(reinterpret_cast<const char *>(bytes), length));
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

template <size_t N> void SetText(char (&field)[N], const std::string &text) { SasSetText(field, text); }

void SasProbeAttachedDevice(SAS_HBA_NODE *hba, const SAS_DEVICE_ENTRY &entry, const SAS_LOCATION_KEY &key,
                            int behindExpander);

SAS_BOX_NODE *SasNewEnclosure(SAS_HBA_NODE *hba, const SAS_DEVICE_ENTRY &entry, const SAS_LOCATION_KEY &key)
{
    DWORD error = 0;
    SAS_BOX_NODE *node = Alloc<SAS_BOX_NODE>(&error);
    if (node == nullptr)
        return nullptr;
    STORAGE_BOX_VALUE &v = node->Box.Value;
    node->Number = ++hba->NextBox;
    v.SequenceNumber = static_cast<uint8_t>(node->Number);
    v.Constant2 = 1;
    v.FanStatus = 4;
    v.Condition = 1;
    v.TemperatureStatus = 5;
    v.Constant40 = 1;
    v.PowerSupplyStatus = 5;
    v.Constant42 = 1;
    v.BayCount = 1;
    v.Constant44 = v.Constant45 = 1;
    v.Constant71 = v.Constant73 = v.Constant75 = 2;
    v.FanCondition = v.TemperatureCondition = v.PowerSupplyCondition = 1;
    v.HostAdapterIndex = hba->Record.AdapterIndex;
    std::memcpy(v.SlotText, hba->Record.Location, sizeof v.SlotText);
    v.Constant209 = 1;
    v.BoxKind = 3;
    v.Presence = 2;
    v.BoxClass = 2;
    node->Key = key;
    std::memcpy(node->SasAddress, entry.Attached.SasAddress, 8);
    AddressText(node->SasAddress, node->SasAddressText);

    const uint8_t kind = hba->Record.ModelCode;
    char port[5] = "";
    std::string base;
    if (KindWithPortTable(kind)) {
        std::snprintf(port, sizeof port, "%s", SasPortName(kind, entry.Identify.PhyIdentifier));
        base = std::string("Port ") + port;
    } else if (KindWithConnectors(kind) && SasConnectorName(hba, entry.Identify.PhyIdentifier, port) == 0) {
        base = std::string("Port ") + port;
    } else {
        port[0] = '\0';
        base = "Index " + std::to_string(node->Number);
    }
    std::memcpy(v.ConnectorText, port, sizeof v.ConnectorText);
    unsigned ordinal = 0;
    for (SAS_BOX_NODE *other = hba->Boxes; other != nullptr; other = other->Next)
        if (_strnicmp(other->Box.Value.ConnectorText, v.ConnectorText, sizeof v.ConnectorText) == 0 &&
            other->Box.Value.BoxNumber > ordinal)
            ordinal = other->Box.Value.BoxNumber;
    v.BoxNumber = static_cast<uint8_t>(ordinal + 1);
    char name[64];
    std::snprintf(name, sizeof name, "%s Box %u", base.c_str(), ordinal + 1);
    SetText(v.BoxName, name);
    char serial[25] = "";
    InquirySerial(hba->Handle, EntryTarget(entry), serial, sizeof serial);
    SetText(v.SerialNumber, serial);

    SAS_BOX_NODE **at = &hba->Boxes;
    while (*at != nullptr && (*at)->Number < node->Number)
        at = &(*at)->Next;
    node->Next = *at;
    *at = node;
    node->Listed = InsertStorageBox(&node->Box) == 0 ? 1 : 0;
    return node;
}

void FreeEnclosure(SAS_HBA_NODE *hba, SAS_BOX_NODE *node)
{
    Unlink(&hba->Boxes, node);
    if (node->Listed)
        RemoveStorageBox(&node->Box);
    SasFree(node);
}

SAS_BOX_NODE *EnclosureWithNumber(SAS_HBA_NODE *hba, uint32_t number)
{
    for (SAS_BOX_NODE *box = hba->Boxes; box != nullptr; box = box->Next)
        if (box->Number == number)
            return box;
    return nullptr;
}

void SasReadBayCarrier(SAS_HBA_NODE *hba, SAS_DRIVE_NODE *drive, const SAS_DEVICE_ENTRY &enclosure)
{
    SAS_PHYDRV_RECORD &r = drive->Record;
    std::vector<uint8_t> data;
    if (Ssp(hba->Handle, EntryTarget(enclosure), {0x26, 0x00, drive->Bay, 0, 0, 0, 0x23, 0x00, 0x10, 0x00}, 16,
            &data) != 0) {
        r.CarrierByteA = r.CarrierByteB = 0;
        return;
    }
    ByteReader reader(data.data(), data.size());
    uint8_t a = 0, b = 0;
    if (r.CarrierState == 4 && reader.U8(2, &a) && reader.U8(12, &b)) {
        r.CarrierByteA = a;
        r.CarrierByteB = b;
    } else {
        r.CarrierByteA = r.CarrierByteB = 0;
    }
}

int ReceiveDiagnostic(SAS_HBA_NODE *hba, const SAS_DEVICE_ENTRY &entry, uint8_t page, std::vector<uint8_t> *data)
{
    return Ssp(hba->Handle, EntryTarget(entry), {0x1C, 0x01, page, 0x08, 0x00, 0x00}, 2054, data);
}

void SasReadSes(SAS_HBA_NODE *hba, SAS_BOX_NODE *node, const SAS_DEVICE_ENTRY &entry)
{
    STORAGE_BOX_VALUE &v = node->Box.Value;
    std::vector<uint8_t> config, status, additional;
    if (ReceiveDiagnostic(hba, entry, 0x01, &config) != 0)
        return;
    SES_STATUS_SUMMARY summary;
    if (ReceiveDiagnostic(hba, entry, 0x02, &status) == 0 &&
        DecodeSesStatus(config.data(), config.size(), status.data(), status.size(), &summary)) {
        if (summary.HaveBays) {
            v.BayCount = summary.BayCount;
            std::memcpy(v.BayStatus, summary.BayStatus, sizeof v.BayStatus);
        }
        v.PowerSupplyStatus = SesPowerStatus(summary.PowerHigh, summary.PowerLow);
        v.PowerSupplyCondition = SesPowerCondition(v.PowerSupplyStatus);
        v.TemperatureStatus = SesTemperatureStatus(summary.TemperatureHigh, summary.TemperatureLow);
        v.TemperatureCondition = SesTemperatureCondition(v.TemperatureStatus);
        v.FanStatus = SesFanStatus(summary.FanHigh, summary.FanLow);
        v.FanCondition = SesFanCondition(v.FanStatus);
    }
    std::vector<SES_BAY_DEVICE> devices;
    if (ReceiveDiagnostic(hba, entry, 0x0A, &additional) != 0 ||
        !DecodeSesAdditional(additional.data(), additional.size(), &devices))
        return;
    for (const SES_BAY_DEVICE &device : devices) {
        const SAS_LOCATION_KEY key{SAS_BAY_KEY_BASE + node->Number, device.BayNumber};
        SAS_DEVICE_ENTRY bay{};
        bay.Identify.PhyIdentifier = entry.Identify.PhyIdentifier;
        bay.PortIdentifier = entry.PortIdentifier;
        bay.Attached.DeviceType = device.DeviceType;
        bay.Attached.TargetProtocol = device.TargetFlags;
        std::memcpy(bay.Attached.SasAddress, device.SasAddress, 8);
        SAS_DRIVE_NODE *drive = DriveWithAddress(hba, device.SasAddress);
        if (drive != nullptr) {
            drive->Key = key;
            SAS_PHYDRV_RECORD &r = drive->Record;
            if (v.BayStatusValid) {
                // Slots past the bay array have no stored status.
                const uint8_t code = device.Slot < SES_BAY_SLOTS ? v.BayStatus[device.Slot] : 0;
                r.CarrierState = code == 2 || code == 3 ? 3 : code == 1 ? 4 : 1;
            } else {
                r.CarrierState = 2;
            }
            if (r.CarrierState != 1 && r.CarrierState != 2) {
                drive->Bay = static_cast<uint8_t>(key.Number);
                SasReadBayCarrier(hba, drive, entry);
            }
        }
        if (drive == nullptr || !drive->Seen)
            SasProbeAttachedDevice(hba, bay, key, 1);
    }
}

void SasUpdateEnclosure(SAS_HBA_NODE *hba, const SAS_DEVICE_ENTRY &entry, const SAS_LOCATION_KEY &key)
{
    SAS_BOX_NODE *node = hba->Boxes;
    while (node != nullptr && std::memcmp(node->SasAddress, entry.Attached.SasAddress, 8) != 0)
        node = node->Next;
    std::vector<uint8_t> data;
    SCSI_INQUIRY inquiry{};
    if (node == nullptr) {
        const bool answered = Inquiry(hba->Handle, EntryTarget(entry), &data) == 0 &&
                              DecodeScsiInquiry(data.data(), data.size(), &inquiry);
        const bool external = answered && inquiry.Peripheral == 13 &&
                              SasIsExternalEnclosure(Trimmed(inquiry.Product, 16).c_str());
        node = SasNewEnclosure(hba, entry, key);
        if (node == nullptr)
            return;
        if (external || KindWithConnectors(hba->Record.ModelCode))
            node->Box.Value.Presence = 3;
        if (external) {
            STORAGE_BOX_VALUE &v = node->Box.Value;
            v.BoxClass = 3;
            v.BayCount = 255;
            v.FanStatus = v.TemperatureStatus = v.PowerSupplyStatus = 1;
            v.Condition = 2;
            SetText(v.SerialNumber, "");
        }
    }
    node->Key = key;
    STORAGE_BOX_VALUE &v = node->Box.Value;
    bool external = false;
    if (Inquiry(hba->Handle, EntryTarget(entry), &data) != 0 || !DecodeScsiInquiry(data.data(), data.size(), &inquiry) ||
        inquiry.Peripheral != 13) {
        std::vector<uint8_t> response;
        SMP_MANUFACTURER info{};
        if (Smp(hba->Handle, entry.Identify.PhyIdentifier, entry.PortIdentifier, entry.Attached.SasAddress, 0x01, 4, 0,
                &response) == 0 &&
            DecodeSmpManufacturer(response.data(), response.size(), &info) && info.Vendor[0] != '\0') {
            SetText(v.VendorId, info.Vendor);
            SetText(v.ProductId, info.Product);
            SetText(v.ProductRevision, info.Revision);
        }
        // The expander's virtual phy sits two above its last bay; a key below that has no bays.
        v.BayCount = static_cast<uint8_t>(key.Number >= 2 ? key.Number - 2 : 0);
    } else {
        SetText(v.VendorId, Trimmed(inquiry.Vendor, 8));
        const std::string product = Trimmed(inquiry.Product, 16);
        SetText(v.ProductId, product);
        SetText(v.ProductRevision, Trimmed(inquiry.Revision, 4));
        external = SasIsExternalEnclosure(product.c_str());
        if (external) {
            std::vector<uint8_t> page;
            if (Ssp(hba->Handle, EntryTarget(entry), {0x12, 0x01, 0x85, 0x00, 0x3C, 0x00}, 60, &page) == 0) {
                ByteReader reader(page.data(), page.size());
                char text[64];
                if (TextField(reader, 8, std::min<size_t>(63, page.size() > 8 ? page.size() - 8 : 0), text, sizeof text))
                    SetText(v.ManagementText1, text);
                if (TextField(reader, 36, std::min<size_t>(63, page.size() > 36 ? page.size() - 36 : 0), text,
                              sizeof text))
                    SetText(v.ManagementText2, text);
                char address[17];
                AddressText(entry.Identify.SasAddress, address);
                SetText(v.AdapterSasAddress, address);
                AddressText(entry.Attached.SasAddress, address);
                SetText(v.BoxSasAddress, address);
            }
        } else {
            v.BayStatusValid = inquiry.HasByte54 && (inquiry.Byte54 & 0x04) != 0 ? 1 : 0;
            SasReadSes(hba, node, entry);
        }
    }
    if (!external) {
        uint8_t condition = v.FanCondition > 1 ? v.FanCondition : 1;
        condition = std::max(condition, v.TemperatureCondition);
        condition = std::max(condition, v.PowerSupplyCondition);
        v.Condition = condition;
    }
    node->Seen = 1;
}

void SasUpdateTape(SAS_HBA_NODE *hba, const SAS_DEVICE_ENTRY &entry, const SAS_LOCATION_KEY &key,
                   const std::vector<uint8_t> &inquiryData)
{
    const uint32_t index = key.Number + 1;
    SAS_TAPE_NODE *tape = hba->Tapes;
    while (tape != nullptr && tape->Record.TapeIndex != index)
        tape = tape->Next;
    if (tape == nullptr) {
        DWORD error = 0;
        tape = Alloc<SAS_TAPE_NODE>(&error);
        if (tape == nullptr)
            return;
        SAS_TAPEDRV_RECORD &t = tape->Record;
        t.AdapterIndex = hba->Record.AdapterIndex;
        t.TapeIndex = index;
        std::memcpy(t.AdapterLocation, hba->Record.Location, sizeof t.AdapterLocation);
        char name[32];
        std::snprintf(name, sizeof name, "Device %d", static_cast<int>(index));
        SetText(t.Name, name);
        AddressText(entry.Attached.SasAddress, t.SasAddress);
        std::vector<uint8_t> identity = inquiryData;
        uint8_t byte41 = 0;
        if (ByteReader(identity.data(), identity.size()).U8(41, &byte41) && (byte41 & 0x0F) == 0x0C) {
            std::vector<uint8_t> page;
            if (Ssp(hba->Handle, EntryTarget(entry), {0x12, 0x01, 0xCC, 0x00, 0x74, 0x00}, 116, &page) == 0 &&
                page.size() >= 16) {
                const std::string vendor = Trimmed(&page[8], 8);
                if (_stricmp(vendor.c_str(), "MIRTOL") == 0 || _stricmp(vendor.c_str(), "QZ") == 0)
                    identity = page;
            }
        }
        SCSI_INQUIRY inquiry{};
        if (DecodeScsiInquiry(identity.data(), identity.size(), &inquiry)) {
            std::string model = Trimmed(inquiry.Vendor, 8) + " " +
                                std::string(reinterpret_cast<const char *>(inquiry.Product),
                                            strnlen(reinterpret_cast<const char *>(inquiry.Product), 16));
            while (!model.empty() && model.back() == ' ')
                model.pop_back();
            SetText(t.Model, model);
            SetText(t.FirmwareRevision, std::string(reinterpret_cast<const char *>(inquiry.Revision),
                                                    strnlen(reinterpret_cast<const char *>(inquiry.Revision), 4)));
        }
        if (t.SerialNumber[0] == '\0')
            InquirySerial(hba->Handle, EntryTarget(entry), t.SerialNumber, sizeof t.SerialNumber);
        SAS_TAPE_NODE **at = &hba->Tapes;
        while (*at != nullptr && (*at)->Record.TapeIndex < index)
            at = &(*at)->Next;
        tape->Next = *at;
        *at = tape;
    }
    tape->Record.Status = 2;
    tape->Record.Condition = 2;
    tape->Seen = 1;
}

void SasPruneEnclosures(SAS_HBA_NODE *hba)
{
    for (SAS_BOX_NODE *box = hba->Boxes; box != nullptr;) {
        SAS_BOX_NODE *next = box->Next;
        if (!box->Seen) {
            STORAGE_BOX_VALUE &v = box->Box.Value;
            // Enclosures that report their own presence stay, marked lost, at their first miss.
            if ((v.BoxClass == 3 || KindWithConnectors(hba->Record.ModelCode)) && v.Presence == 3) {
                v.Presence = 4;
                v.Condition = 4;
            } else {
                FreeEnclosure(hba, box);
            }
        }
        box = next;
    }
}

// Every SAS drive shows the identity of the enclosure it sits in: the one whose bay key it holds,
// or, with a single enclosure on the adapter, that one.
void SasCopyEnclosureIdentity(SAS_HBA_NODE *hba)
{
    const bool single = hba->Boxes != nullptr && hba->Boxes->Next == nullptr;
    for (SAS_DRIVE_NODE *drive = hba->Drives; drive != nullptr; drive = drive->Next) {
        if (drive->Record.DriveType != 2)
            continue;
        SAS_BOX_NODE *box = IsBayKey(drive->Key) ? EnclosureWithNumber(hba, drive->Key.Parent - SAS_BAY_KEY_BASE)
                                                 : nullptr;
        if (box == nullptr && single)
            box = hba->Boxes;
        SAS_PHYDRV_RECORD &r = drive->Record;
        if (box == nullptr) {
            SetText(r.EnclosureProduct, "");
            SetText(r.EnclosureRevision, "");
            SetText(r.EnclosureVendor, "");
            SetText(r.EnclosureSerial, "");
            continue;
        }
        const STORAGE_BOX_VALUE &v = box->Box.Value;
        SetText(r.EnclosureProduct, std::string(v.ProductId, strnlen(v.ProductId, sizeof v.ProductId)));
        SetText(r.EnclosureRevision, std::string(v.ProductRevision, strnlen(v.ProductRevision, sizeof v.ProductRevision)));
        SetText(r.EnclosureVendor, std::string(v.VendorId, strnlen(v.VendorId, sizeof v.VendorId)));
        SetText(r.EnclosureSerial, std::string(v.SerialNumber, strnlen(v.SerialNumber, sizeof v.SerialNumber)));
    }
}

// ---- Topology ----
bool ExpanderListed(SAS_HBA_NODE *hba, const uint8_t *address)
{
    for (SAS_EXPANDER_RECORD *e = hba->Expanders; e != nullptr; e = e->Next)
        if (std::memcmp(e->SasAddress, address, 8) == 0)
            return true;
    return false;
}

// Appends an expander unless its address is listed already (a wide port shows it on several
// phys, and a loop in the fabric shows it again further down).
void AddExpander(SAS_HBA_NODE *hba, uint8_t phy, uint8_t port, uint8_t rate, uint8_t flags, const uint8_t *address,
                 const SAS_LOCATION_KEY &key)
{
    if (ExpanderListed(hba, address))
        return;
    DWORD error = 0;
    SAS_EXPANDER_RECORD *expander = Alloc<SAS_EXPANDER_RECORD>(&error);
    if (expander == nullptr)
        return;
    expander->Id = ++hba->NextId;
    expander->Key = key;
    expander->PhyId = phy;
    expander->PortId = port;
    expander->LinkRate = rate;
    expander->TargetFlags = flags;
    std::memcpy(expander->SasAddress, address, 8);
    SAS_EXPANDER_RECORD **at = &hba->Expanders;
    while (*at != nullptr)
        at = &(*at)->Next;
    *at = expander;
}

void SasProbeAttachedDevice(SAS_HBA_NODE *hba, const SAS_DEVICE_ENTRY &entry, const SAS_LOCATION_KEY &key,
                            int behindExpander)
{
    SAS_DRIVE_NODE *drive = DriveAtKey(hba, key);
    const uint8_t type = entry.Attached.DeviceType;
    if (type == 0x10) {
        std::vector<uint8_t> data;
        SCSI_INQUIRY inquiry{};
        if (Inquiry(hba->Handle, EntryTarget(entry), &data) == 0 && DecodeScsiInquiry(data.data(), data.size(), &inquiry)) {
            if (inquiry.Peripheral == 0)
                SasUpdateDrive(drive, hba, entry, key, inquiry, behindExpander);
            else if (inquiry.Peripheral == 1)
                SasUpdateTape(hba, entry, key, data);
            else if (inquiry.Peripheral == 13)
                SasUpdateEnclosure(hba, entry, key);
            return;
        }
    } else if (type == 0x20 || type == 0x30) {
        AddExpander(hba, entry.Identify.PhyIdentifier, entry.PortIdentifier, entry.NegotiatedLinkRate,
                    entry.Attached.TargetProtocol, entry.Attached.SasAddress, key);
        return;
    }
    if (drive != nullptr)
        SasMarkDriveLost(hba, drive);
}

void Discover(SAS_HBA_NODE *hba, SAS_EXPANDER_RECORD *expander, uint8_t phy, int *result)
{
    std::vector<uint8_t> response;
    *result = Smp(hba->Handle, expander->PhyId, expander->PortId, expander->SasAddress, 0x10, 12, phy, &response);
    SMP_DISCOVER discover{};
    if (*result != 0 || !DecodeSmpDiscover(response.data(), response.size(), &discover))
        return;
    if (std::memcmp(discover.AttachedSasAddress, expander->SasAddress, 8) == 0)
        return;
    const SAS_LOCATION_KEY key{expander->Id, phy};
    if (discover.AttachedDeviceType > 1) {
        AddExpander(hba, expander->PhyId, expander->PortId, 0, discover.TargetFlags, discover.AttachedSasAddress, key);
        return;
    }
    if (discover.AttachedDeviceType != 1)
        return;
    SAS_DEVICE_ENTRY entry{};
    std::memcpy(entry.Identify.SasAddress, discover.SasAddress, 8);
    entry.Identify.PhyIdentifier = expander->PhyId;
    entry.PortIdentifier = expander->PortId;
    entry.Attached.DeviceType = discover.AttachedDeviceByte;
    entry.Attached.TargetProtocol = discover.TargetFlags;
    std::memcpy(entry.Attached.SasAddress, discover.AttachedSasAddress, 8);
    if (discover.VirtualPhy) {
        SasUpdateEnclosure(hba, entry, key);
        return;
    }
    SAS_DRIVE_NODE *drive = DriveWithAddress(hba, discover.AttachedSasAddress);
    if ((drive == nullptr || !drive->Seen) && (discover.TargetFlags & 0x09) != 0) {
        if (drive != nullptr)
            drive->Key = key;
        SasProbeAttachedDevice(hba, entry, key, 1);
    }
}

int SasWalkExpanders(SAS_HBA_NODE *hba)
{
    int result = 0;
    for (;;) {
        SAS_EXPANDER_RECORD *expander = hba->Expanders;
        while (expander != nullptr && expander->Visited)
            expander = expander->Next;
        if (expander == nullptr)
            return result;
        expander->Visited = 1;
        if ((expander->TargetFlags & 2) == 0)
            continue;
        std::vector<uint8_t> response;
        uint8_t phys = 0;
        if (Smp(hba->Handle, expander->PhyId, expander->PortId, expander->SasAddress, 0x00, 4, 0, &response) != 0 ||
            response.empty() || !DecodeSmpReportGeneral(response.data(), response.size(), &phys)) {
            result = -1;
            continue;
        }
        expander->Phys = phys;
        for (unsigned phy = 0; phy < phys; ++phy)
            Discover(hba, expander, static_cast<uint8_t>(phy), &result);
    }
}

void SasScanPhys(SAS_HBA_NODE *hba)
{
    std::vector<uint8_t> buffer(CSMI_PHY_INFO_BUFFER_SIZE, 0);
    CSMI_PHY_INFO info{};
    if (CsmiGetPhyInfo(hba->Handle, buffer.data()) == 0 && DecodeCsmiPhyInfo(buffer.data(), buffer.size(), &info)) {
        unsigned remaining = info.NumberOfPhys;
        for (const CSMI_PHY_ENTITY_INFO &entity : info.Entities) {
            if (remaining == 0)
                break;
            if (entity.Identify.DeviceType == 0)
                continue;
            --remaining;
            SasProbeAttachedDevice(hba, entity, {0, entity.Identify.PhyIdentifier}, 0);
        }
    }
    SasWalkExpanders(hba);
}

// ---- End of the pass: the drives it missed, and their names ----
void SasSweepLost(SAS_HBA_NODE *hba)
{
    for (SAS_DRIVE_NODE *drive = hba->Drives; drive != nullptr;) {
        SAS_DRIVE_NODE *next = drive->Next;
        if (!drive->Seen) {
            if (drive->Record.ArrayRole == 4) {
                SasMarkDriveLost(hba, drive);
            } else {
                Unlink(&hba->Drives, drive);
                SasFree(drive);
            }
        }
        drive = next;
    }
}

void SasNameDrives(SAS_HBA_NODE *hba)
{
    const uint8_t kind = hba->Record.ModelCode;
    for (SAS_DRIVE_NODE *drive = hba->Drives; drive != nullptr; drive = drive->Next) {
        char name[81] = "";
        SAS_BOX_NODE *box =
            IsBayKey(drive->Key) ? EnclosureWithNumber(hba, drive->Key.Parent - SAS_BAY_KEY_BASE) : nullptr;
        if (drive->FromRaid) {
            std::snprintf(name, sizeof name, "Unknown (%d)", static_cast<int>(drive->Record.DriveIndex));
        } else if (box != nullptr && drive->Key.Number != 0) {
            drive->Bay = static_cast<uint8_t>(drive->Key.Number);
            const STORAGE_BOX_VALUE &v = box->Box.Value;
            std::snprintf(name, sizeof name, "%s Bay %d", std::string(v.BoxName, strnlen(v.BoxName, sizeof v.BoxName)).c_str(),
                          drive->Bay);
        } else {
            char port[16] = "";
            const uint8_t number = static_cast<uint8_t>(drive->Key.Number);
            if (KindWithPortTable(kind)) {
                std::snprintf(port, sizeof port, "Port %s", SasPortName(kind, number));
            } else if (KindWithConnectors(kind)) {
                char connector[5] = "??";
                if (SasConnectorName(hba, number, connector) != 0)
                    std::strcpy(connector, "??");
                std::snprintf(port, sizeof port, "Port %s", connector);
            }
            if (drive->Bay != 0)
                std::snprintf(name, sizeof name, "%s Bay %d", port, drive->Bay);
            else
                std::snprintf(name, sizeof name, "%s Device %d", port, static_cast<int>(drive->Key.Number));
        }
        SasSetText(drive->Record.LocationName, name);
    }
}

// ---- RAID sets ----
// Sorted insert of a drive index; -1 when the list holds 16 already.
int SasInsertMember(SAS_DRIVE_LIST *list, uint32_t index)
{
    if (list->Count >= 16)
        return -1;
    uint32_t carried = index;
    for (uint32_t i = 0; i < list->Count; ++i)
        if (carried < list->Index[i])
            std::swap(carried, list->Index[i]);
    list->Index[list->Count++] = carried;
    return 0;
}

SAS_DRIVE_NODE *DriveWithIndex(SAS_HBA_NODE *hba, uint32_t index)
{
    for (SAS_DRIVE_NODE *drive = hba->Drives; drive != nullptr; drive = drive->Next)
        if (drive->Record.DriveIndex == index)
            return drive;
    return nullptr;
}

void ApplyPredictionAndCarrier(SAS_DRIVE_NODE *drive)
{
    SAS_PHYDRV_RECORD &r = drive->Record;
    if ((r.Status == 1 || r.Status == 2) && r.IeResult > 2)
        r.Status = 3;
    if (r.Status != 5 && r.CarrierState == 3)
        r.Status = 12;
    r.Condition = SasDriveCondition(r.Status);
}

void SasFillLogicalDrive(SAS_HBA_NODE *hba, SAS_LOGDRV_NODE *logical, const CSMI_RAID_CONFIG &config, uint32_t maxDrives)
{
    SAS_LOGDRV_RECORD &l = logical->Record;
    switch (config.RaidType) {
    case 1: l.RaidLevel = 2; break;
    case 2: l.RaidLevel = 3; break;
    case 3: l.RaidLevel = 4; break;
    case 4: l.RaidLevel = 5; break;
    case 5: l.RaidLevel = 6; break;
    case 8: l.RaidLevel = 7; break;
    default: l.RaidLevel = 1; break;
    }
    l.RebuildingDrive = -1;
    l.RebuildProgress = 255;
    l.Status = 1;
    l.Condition = 1;
    l.Capacity = config.Capacity;
    l.StripeSize = config.StripeSize;
    std::memcpy(l.AdapterLocation, hba->Record.Location, sizeof l.AdapterLocation);
    l.DataDrives = SAS_DRIVE_LIST{};
    l.SpareDrives = SAS_DRIVE_LIST{};
    int32_t firstRebuilding = -1;
    // Members as far as the set reports them, the reply holds them and the adapter said a set
    // can have.
    const size_t members = std::min<size_t>(config.Drives.size(), maxDrives);
    for (size_t j = 0; j < members; ++j) {
        const CSMI_RAID_DRIVE &member = config.Drives[j];
        SAS_DRIVE_NODE *drive = SasFindDrive(hba->Drives, member.SasAddress, member.SerialNumber);
        if (drive == nullptr) {
            DWORD error = 0;
            drive = Alloc<SAS_DRIVE_NODE>(&error);
            if (drive == nullptr)
                return;
            SAS_PHYDRV_RECORD &r = drive->Record;
            r.AdapterIndex = hba->Record.AdapterIndex;
            r.DriveIndex = ++hba->NextId;
            drive->FromRaid = 1;
            InsertDrive(hba, drive);
            SasSetText(r.Model, member.Model);
            SasSetText(r.FirmwareRevision, member.Firmware);
            SasSetText(r.SerialNumber, WithoutSpaces(member.SerialNumber, sizeof member.SerialNumber));
            std::memcpy(drive->SasAddress, member.SasAddress, 8);
            AddressText(drive->SasAddress, r.SasAddress);
            r.HotPlugClass = MakersKind(hba->Record.ModelCode) ? 2 : 1;
            r.Placement = 1;
            r.DriveType = 1;
            r.MediaType = 1;
            WearNotAvailable(r);
            r.CurrentTemperature = r.ReferenceTemperature = 0;
            r.CarrierState = 1;
        }
        SAS_PHYDRV_RECORD &r = drive->Record;
        switch (member.DriveStatus) {
        case 0: r.Status = 2; break;
        case 1:
            r.Status = 2;
            l.RebuildingDrive = static_cast<int32_t>(r.DriveIndex);
            if (firstRebuilding < 0)
                firstRebuilding = static_cast<int32_t>(r.DriveIndex);
            break;
        case 2: r.Status = 5; break;
        case 3: r.Status = 3; break;
        default: r.Status = 1; break;
        }
        ApplyPredictionAndCarrier(drive);
        if (member.DriveUsage == 2) {
            r.ArrayRole = 3;
            SasInsertMember(&l.SpareDrives, r.DriveIndex);
        } else {
            r.ArrayRole = member.DriveUsage == 1 ? 2 : 4;
            SasInsertMember(&l.DataDrives, r.DriveIndex);
        }
        drive->Seen = 1;
        drive->Missed = 0;
    }
    switch (config.Status) {
    case 0: l.Status = 2; break;
    case 1: l.Status = 3; break;
    case 2:
        l.Status = 4;
        l.RebuildProgress = config.Information;
        l.RebuildingDrive = firstRebuilding;
        break;
    case 3: l.Status = 5; break;
    case 4: l.Status = 6; break;
    default: l.Status = 1; break;
    }
    l.Condition = l.Status == 5 || l.Status == 6 ? 4 : l.Status == 3 || l.Status == 4 ? 3 : l.Status == 2 ? 2 : 1;
}

bool IsVolume(const SCSI_INQUIRY_ENTRY &entry)
{
    if (entry.InquiryLength < 32)
        return false;
    const char *vendor = reinterpret_cast<const char *>(entry.Inquiry + 8);
    const char *product = reinterpret_cast<const char *>(entry.Inquiry + 16);
    return (std::memcmp(vendor, "LSILOGIC", 8) == 0 && std::memcmp(product, "Logical Volume  ", 16) == 0) ||
           (std::memcmp(vendor, "QZ      ", 8) == 0 && std::memcmp(product, "IR Volume       ", 16) == 0);
}

void SasNameVolumes(SAS_HBA_NODE *hba)
{
    for (SAS_LOGDRV_NODE *l = hba->LogicalDrives; l != nullptr; l = l->Next)
        SasSetText(l->Record.OsDiskName, "");
    constexpr DWORD kInquiryBufferSize = 33860;
    std::vector<uint8_t> buffer(kInquiryBufferSize, 0);
    DWORD returned = 0;
    if (!StoragePlatform().DeviceControl(hba->Handle, kIoctlScsiGetInquiryData, buffer.data(), kInquiryBufferSize,
                                         buffer.data(), kInquiryBufferSize, &returned))
        return;
    for (const SCSI_INQUIRY_ENTRY &entry : WalkInquiryData(buffer.data(), returned)) {
        if (!IsVolume(entry))
            continue;
        int disk = FindPhysicalDrive(static_cast<uint8_t>(hba->Record.AdapterIndex), entry.PathId, entry.TargetId);
        if (disk < 0)
            continue;
        SAS_LOGDRV_NODE *found = nullptr;
        std::vector<uint8_t> location(CSMI_LOCATION_BUFFER_SIZE, 0);
        location[28] = 255;
        location[29] = entry.PathId;
        location[30] = entry.TargetId;
        location[31] = entry.Lun;
        location[34] = static_cast<uint8_t>(CSMI_LOCATION_ENTRY_SIZE);
        std::vector<CSMI_LOCATION_ENTRY> entries;
        if (CsmiGetLocation(hba->Handle, location.data(), CSMI_LOCATION_BUFFER_SIZE) == 0 &&
            DecodeCsmiLocation(location.data(), location.size(), &entries)) {
            for (const CSMI_LOCATION_ENTRY &e : entries) {
                if ((e.Flags & 0x01) == 0)
                    continue;
                for (SAS_LOGDRV_NODE *l = hba->LogicalDrives; l != nullptr && found == nullptr; l = l->Next)
                    for (uint32_t k = 0; k < l->Record.DataDrives.Count; ++k) {
                        SAS_DRIVE_NODE *d = DriveWithIndex(hba, l->Record.DataDrives.Index[k]);
                        if (d != nullptr && std::memcmp(d->SasAddress, e.SasAddress, 8) == 0) {
                            found = l;
                            break;
                        }
                    }
                if ((e.Flags & 0x20) == 0)
                    continue;
                for (SAS_DRIVE_NODE *d = hba->Drives; d != nullptr; d = d->Next)
                    if ((d->Record.ArrayRole == 2 || d->Record.ArrayRole == 3) && !IsBayKey(d->Key) &&
                        std::memcmp(d->SasAddress, e.SasAddress, 8) == 0)
                        d->Bay = e.BayIdentifier;
            }
        }
        if (found == nullptr && MakersKind(hba->Record.ModelCode)) {
            for (SAS_LOGDRV_NODE *l = hba->LogicalDrives; l != nullptr; l = l->Next)
                if (l->Record.OsDiskName[0] == '\0' && l->Record.DataDrives.Count > 0 &&
                    (found == nullptr || l->Record.DataDrives.Index[0] < found->Record.DataDrives.Index[0]))
                    found = l;
        }
        if (found != nullptr) {
            char name[13];
            std::snprintf(name, sizeof name, "Disk %u", static_cast<unsigned>(disk));
            SasSetText(found->Record.OsDiskName, name);
        }
    }
}

void SasUpdateRaid(SAS_HBA_NODE *hba)
{
    for (SAS_DRIVE_NODE *drive = hba->Drives; drive != nullptr; drive = drive->Next)
        drive->Record.ArrayRole = 4;
    std::vector<uint8_t> info(CSMI_RAID_INFO_BUFFER_SIZE, 0);
    CSMI_RAID_INFO raid{};
    // A set of no drives has no configuration to ask for: the buffer size would wrap.
    const bool haveInfo = CsmiGetRaidInfo(hba->Handle, info.data()) == 0 &&
                          DecodeCsmiRaidInfo(info.data(), info.size(), &raid) && raid.MaxDrivesPerSet > 0 &&
                          raid.MaxDrivesPerSet <= 0xFFFF;
    if (haveInfo) {
        const uint32_t size = (raid.MaxDrivesPerSet - 1) * static_cast<uint32_t>(CSMI_RAID_DRIVE_SIZE) + 200;
        std::vector<uint8_t> buffer(size, 0);
        uint32_t remaining = raid.NumberOfRaidSets;
        for (uint32_t i = 0; i < 254 && remaining > 0; ++i) {
            std::fill(buffer.begin(), buffer.begin() + 200, 0);
            PutU32(&buffer[28], i);
            SAS_LOGDRV_NODE *logical = hba->LogicalDrives;
            while (logical != nullptr && logical->Record.LogicalDriveNumber != i + 1)
                logical = logical->Next;
            CSMI_RAID_CONFIG config{};
            if (CsmiGetRaidConfig(hba->Handle, buffer.data(), size) != 0 ||
                !DecodeCsmiRaidConfig(buffer.data(), buffer.size(), &config)) {
                if (logical != nullptr) {
                    Unlink(&hba->LogicalDrives, logical);
                    SasFree(logical);
                }
                continue;
            }
            --remaining;
            if (logical == nullptr) {
                DWORD error = 0;
                logical = Alloc<SAS_LOGDRV_NODE>(&error);
                if (logical == nullptr)
                    break;
                logical->Record.AdapterIndex = hba->Record.AdapterIndex;
                logical->Record.LogicalDriveNumber = i + 1;
                SAS_LOGDRV_NODE **at = &hba->LogicalDrives;
                while (*at != nullptr && (*at)->Record.LogicalDriveNumber < i + 1)
                    at = &(*at)->Next;
                logical->Next = *at;
                *at = logical;
            }
            SasFillLogicalDrive(hba, logical, config, raid.MaxDrivesPerSet);
        }
    }
    // The drives this pass missed are swept whatever the RAID information said: an adapter
    // without RAID support still loses the drives that left it.
    SasSweepLost(hba);
    if (haveInfo)
        SasNameVolumes(hba);
    SasPruneEnclosures(hba);
    SasNameDrives(hba);
}

void SasUpdateController(SAS_HBA_NODE *hba)
{
    SAS_HBA_RECORD &r = hba->Record;
    r.OverallCondition = 1;
    SasUpdateControllerInfo(hba);
    SasScanPhys(hba);
    SasUpdateRaid(hba);
    uint8_t overall = 1;
    auto raise = [&overall](uint8_t value) {
        if (value > overall)
            overall = value;
    };
    for (SAS_LOGDRV_NODE *logical = hba->LogicalDrives; logical != nullptr; logical = logical->Next)
        raise(logical->Record.Condition);
    for (SAS_DRIVE_NODE *drive = hba->Drives; drive != nullptr; drive = drive->Next) {
        const SAS_PHYDRV_RECORD &d = drive->Record;
        if (d.ArrayRole == 4 || d.Condition == 3)
            raise(d.Condition);
        else if (d.ArrayRole == 3)
            raise(d.Condition == 4 ? 3 : d.Condition);
    }
    for (SAS_TAPE_NODE *tape = hba->Tapes; tape != nullptr; tape = tape->Next)
        raise(tape->Record.Condition);
    for (SAS_BOX_NODE *box = hba->Boxes; box != nullptr; box = box->Next)
        raise(box->Box.Value.Condition);
    raise(r.ControllerCondition);
    r.OverallCondition = overall;
    SasCopyEnclosureIdentity(hba);
}

void FreeAdapter(SAS_HBA_NODE *hba)
{
    StoragePlatform().CloseDevice(hba->Handle);
    FreeList(hba->Drives);
    FreeList(hba->LogicalDrives);
    FreeList(hba->Expanders);
    while (hba->Boxes != nullptr)
        FreeEnclosure(hba, hba->Boxes);
    FreeList(hba->Tapes);
    SasFree(hba);
}

// ---- Enumeration ----
int SasOpenController(unsigned port, HANDLE *handle)
{
    SCSI_PORT_RECORD record{INVALID_HANDLE_VALUE};
    int result = OpenScsiPort(port, &record);
    if (result != 0)
        return result;
    std::vector<uint8_t> buffer(CSMI_CNTLR_CONFIG_BUFFER_SIZE, 0);
    CSMI_CONTROLLER_CONFIG config{};
    if (CsmiGetControllerConfig(record.Handle, buffer.data()) != 0 ||
        !DecodeCsmiControllerConfig(buffer.data(), buffer.size(), &config) || SasControllerKind(config.BoardId) == 0) {
        StoragePlatform().CloseDevice(record.Handle);
        return -1;
    }
    *handle = record.Handle;
    return 0;
}

// The next accepted port from *port on; true with its handle, false when none is left.
bool SasFindNextController(unsigned *port, HANDLE *handle)
{
    for (; *port <= kMaxPort; ++*port)
        if (SasOpenController(*port, handle) == 0)
            return true;
    return false;
}

int SasEnumerateControllers()
{
    SAS_HBA_NODE *old = s_SasDiscovery.First;
    SAS_HBA_NODE *fresh = nullptr;
    int result = 0;
    HANDLE handle = INVALID_HANDLE_VALUE;
    // Running out of ports ends the walk; it is no error, whatever the last port answered.
    for (unsigned port = 0; SasFindNextController(&port, &handle); ++port) {
        SAS_HBA_NODE *node = nullptr;
        for (SAS_HBA_NODE **at = &old; *at != nullptr; at = &(*at)->Next)
            if ((*at)->Record.AdapterIndex == port) {
                node = *at;
                *at = node->Next;
                StoragePlatform().CloseDevice(handle);
                break;
            }
        if (node == nullptr) {
            DWORD error = 0;
            node = Alloc<SAS_HBA_NODE>(&error);
            if (node == nullptr) {
                StoragePlatform().CloseDevice(handle);
                result = static_cast<int>(error);
                break;
            }
            node->Handle = handle;
            node->Record.AdapterIndex = port;
        }
        SAS_HBA_NODE **at = &fresh;
        while (*at != nullptr && (*at)->Record.AdapterIndex < port)
            at = &(*at)->Next;
        node->Next = *at;
        *at = node;
    }
    while (old != nullptr) {
        SAS_HBA_NODE *next = old->Next;
        FreeAdapter(old);
        old = next;
    }
    s_SasDiscovery.First = fresh;
    return result;
}

void SasUpdateAllControllers()
{
    uint8_t overall = 1;
    for (SAS_HBA_NODE *hba = s_SasDiscovery.First; hba != nullptr; hba = hba->Next) {
        SasUpdateController(hba);
        if (hba->Record.OverallCondition > overall)
            overall = hba->Record.OverallCondition;
    }
    s_SasDiscovery.Overall = overall;
}

void Publish(int fullRewrite)
{
    std::vector<SasPublishAdapter> adapters;
    for (SAS_HBA_NODE *hba = s_SasDiscovery.First; hba != nullptr; hba = hba->Next) {
        SasPublishAdapter adapter{};
        adapter.Hba = hba->Record;
        for (SAS_LOGDRV_NODE *logical = hba->LogicalDrives; logical != nullptr; logical = logical->Next)
            adapter.LogicalDrives.push_back(logical->Record);
        for (SAS_DRIVE_NODE *drive = hba->Drives; drive != nullptr; drive = drive->Next)
            adapter.Drives.push_back(drive->Record);
        for (SAS_TAPE_NODE *tape = hba->Tapes; tape != nullptr; tape = tape->Next)
            adapter.Tapes.push_back(tape->Record);
        for (SAS_BOX_NODE *box = hba->Boxes; box != nullptr; box = box->Next)
            if (box->Listed)
                adapter.Enclosures.push_back(&box->Box);
        adapters.push_back(std::move(adapter));
    }
    SasPublishRecords(adapters, s_PublishState, fullRewrite);
}

template <typename Record, typename Walk> int CopyOut(void *buffer, int32_t *count, Walk walk)
{
    if (count == nullptr)
        return kMissingArgument;
    s_SasDiscovery.Rebuild = 1;
    int result = SasDiscoveryRefresh();
    if (result != 0)
        return result;
    if (s_SasDiscovery.First == nullptr)
        return 0;
    int32_t i = 0;
    walk([&](const Record &record) {
        if (buffer != nullptr && i < *count)
            std::memcpy(static_cast<uint8_t *>(buffer) + static_cast<size_t>(i) * sizeof(Record), &record,
                        sizeof(Record));
        ++i;
    });
    if (*count <= 0)
        *count = i;
    return 0;
}

} // namespace

uint8_t SasControllerKind(uint32_t boardId)
{
    for (const BoardKind &row : kBoardKinds)
        if (row.BoardId == boardId)
            return row.Kind;
    return (boardId & kGenericMask) == kGenericPattern ? 2 : 0;
}

bool SasIsExternalEnclosure(const char *product)
{
    for (const ExternalName &name : kExternalNames)
        if (std::strncmp(product, name.Text, name.Length) == 0)
            return true;
    return false;
}

bool SasIsInternalPort(uint8_t kind, uint8_t phy)
{
    switch (kind) {
    case 3: case 4: case 6: case 9: case 11: case 12: return true;
    case 5: return phy < 4;
    case 13: return phy / 4 == 1;
    default: return false;
    }
}

const char *SasPortName(uint8_t kind, uint8_t phy)
{
    static const char *const kNames[][2] = {
        {"2I", "1I"}, {"1I", "??"}, {"2I", "1E"}, {"1I", "??"}, {"1E", "2E"}, {"2E", "1E"},
    };
    if (!KindWithPortTable(kind))
        return "??";
    return kNames[kind - 3][phy < 4 ? 0 : 1];
}

int SasDiscoveryRefresh()
{
    bool rebuilt = false;
    int result = 0;
    if (s_SasDiscovery.Rebuild) {
        s_SasDiscovery.Rebuild = 0;
        result = SasEnumerateControllers();
        rebuilt = true;
    }
    if (result != 0)
        return result;
    SasUpdateAllControllers();
    Publish(rebuilt ? 1 : 0);
    return 0;
}

int SasGetHbaList(void *buffer, int32_t *count)
{
    return CopyOut<SAS_HBA_RECORD>(buffer, count, [](auto &&copy) {
        for (SAS_HBA_NODE *hba = s_SasDiscovery.First; hba != nullptr; hba = hba->Next)
            copy(hba->Record);
    });
}

int SasGetPhysicalDriveList(void *buffer, int32_t *count)
{
    return CopyOut<SAS_PHYDRV_RECORD>(buffer, count, [](auto &&copy) {
        for (SAS_HBA_NODE *hba = s_SasDiscovery.First; hba != nullptr; hba = hba->Next) {
            uint32_t drives = 0;
            for (SAS_DRIVE_NODE *drive = hba->Drives; drive != nullptr; drive = drive->Next, ++drives)
                copy(drive->Record);
            hba->PublishedDrives = drives;
        }
    });
}

void SasFailAllocationsForTest(bool fail)
{
    s_FailAllocations = fail;
}

void SasResetForTest()
{
    while (s_SasDiscovery.First != nullptr) {
        SAS_HBA_NODE *next = s_SasDiscovery.First->Next;
        FreeAdapter(s_SasDiscovery.First);
        s_SasDiscovery.First = next;
    }
    s_SasDiscovery = SAS_DISCOVERY{};
    s_PublishState = SasPublishState{};
}
