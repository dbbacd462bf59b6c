#include "ide_discovery.h"

#include "ata_decode.h"
#include "csmi_reply.h"
#include "inquiry_walk.h"
#include "storage_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr unsigned IDE_PORTS = 64;
constexpr unsigned IDE_PHYSICAL_DRIVES = 255;
constexpr int ERROR_NOT_PRESENT = 55;
constexpr DWORD IOCTL_SCSI_GET_INQUIRY_DATA_CODE = 0x4100C;
constexpr uint8_t END_DEVICE = 0x10;

void SetText(char *field, size_t size, const char *text) { std::snprintf(field, size, "%s", text); }

void SetPciLocation(IDE_CONTROLLER_RECORD &record, unsigned bus, unsigned device, unsigned function)
{
    std::snprintf(record.PciLocation, sizeof record.PciLocation, "0000:%.2X:%.2X.%.1X", bus, device, function);
}

IDE_CONTROLLER_NODE *ControllerOfPort(IDE_STATE *state, uint8_t port)
{
    for (auto &controller : state->Controllers)
        if (controller->PrimaryPort == port || controller->SecondaryPort == port)
            return controller.get();
    return nullptr;
}

// Opens the controller's port at a PHY as the record of the disk attached there.
int OpenPhyDevice(IDE_CONTROLLER_NODE *controller, const CSMI_PHY_ENTITY_INFO &phy, uint8_t number,
                  IDE_DEVICE_RECORD **device)
{
    int result = IdeOpenScsiPortDevice(controller->PrimaryPort, number, device);
    if (result != 0)
        return result;
    std::memcpy((*device)->SasAddress, phy.Attached.SasAddress, 8);
    (*device)->DriveNumber = number;
    return 0;
}

// The PHYs of a CSMI controller with an end device attached; false when the query fails.
bool EndDevicePhys(IDE_CONTROLLER_NODE *controller, std::vector<std::pair<uint8_t, CSMI_PHY_ENTITY_INFO>> *phys)
{
    std::vector<uint8_t> buffer(CSMI_PHY_INFO_BUFFER_SIZE, 0);
    CSMI_PHY_INFO info;
    if (controller->Device == nullptr || CsmiGetPhyInfo(controller->Device->Port.Handle, buffer.data()) != 0 ||
        !DecodeCsmiPhyInfo(buffer.data(), buffer.size(), &info))
        return false;
    size_t count = std::min<size_t>(info.NumberOfPhys, info.Entities.size());
    for (size_t i = 0; i < count; ++i)
        if (info.Entities[i].Attached.DeviceType == END_DEVICE)
            phys->emplace_back(static_cast<uint8_t>(i), info.Entities[i]);
    return true;
}

void CsmiScanDisks(IDE_CONTROLLER_NODE *controller, IDE_STATE *state)
{
    std::vector<std::pair<uint8_t, CSMI_PHY_ENTITY_INFO>> phys;
    if (!EndDevicePhys(controller, &phys))
        return;
    for (auto &[number, phy] : phys) {
        IDE_DEVICE_RECORD *device = nullptr;
        if (OpenPhyDevice(controller, phy, number, &device) == 0)
            IdeCreateDisk(device, controller, state);
    }
}

void RaidScanDisks(unsigned driveNumber, IDE_CONTROLLER_NODE *controller, IDE_STATE *state)
{
    IDE_DEVICE_RECORD *own = nullptr;
    if (IdeOpenPhysicalDriveAt(driveNumber, 0, &own) != 0)
        return;
    IdeCloseDevice(controller->Device);
    controller->Device = own;
    IdeRaidControllerInfo(controller);
    for (uint8_t position = 0; position < 4; ++position) {
        IDE_DEVICE_RECORD *device = nullptr;
        if (IdeOpenPhysicalDriveAt(driveNumber, position, &device) == 0)
            IdeCreateDisk(device, controller, state);
    }
}

bool SameIdentity(const IDE_DISK_RECORD &record, const ATA_IDENTIFY &identify)
{
    return std::strcmp(record.Model, identify.Model) == 0 && std::strcmp(record.Serial, identify.Serial) == 0;
}

void RescanCsmi(IDE_CONTROLLER_NODE *controller, IDE_STATE *state)
{
    uint8_t data[ATA_SECTOR_SIZE];
    for (auto &disk : controller->Disks)
        disk->Record.Valid = IdeIdentify(disk->Device, data) == ERROR_NOT_PRESENT ? 0 : 1;
    std::vector<std::pair<uint8_t, CSMI_PHY_ENTITY_INFO>> phys;
    if (!EndDevicePhys(controller, &phys))
        return;
    for (auto &[number, phy] : phys) {
        IDE_DEVICE_RECORD *device = nullptr;
        if (OpenPhyDevice(controller, phy, number, &device) != 0)
            continue;
        ATA_IDENTIFY identify;
        if (IdeIdentify(device, data) != 0 || !DecodeAtaIdentify(data, sizeof data, &identify)) {
            IdeCloseDevice(device);
            continue;
        }
        auto known = std::find_if(controller->Disks.begin(), controller->Disks.end(),
                                  [&](const auto &disk) { return disk->Device->PhyId == number; });
        if (known == controller->Disks.end())
            IdeCreateDisk(device, controller, state);
        else if (!SameIdentity((*known)->Record, identify))
            IdeRefillDisk(device, controller, known->get());
        else if ((*known)->Record.Valid == 0)
            (*known)->TakeDevice(device), (*known)->Record.Valid = 1;
        else
            IdeCloseDevice(device);
    }
}

void RescanBus(IDE_CONTROLLER_NODE *controller, IDE_STATE *state)
{
    uint8_t data[ATA_SECTOR_SIZE];
    for (auto &disk : controller->Disks) {
        int result = IdeIdentify(disk->Device, data);
        if (result != ERROR_NOT_PRESENT) {
            disk->Record.Valid = 1;
            continue;
        }
        IDE_DEVICE_RECORD *device = nullptr;
        if (IdeOpenPhysicalDrive(disk->Device->DriveNumber, &device) == 0) {
            disk->TakeDevice(device);
            std::snprintf(disk->Record.DiskName, sizeof disk->Record.DiskName, "Disk %u", device->DriveNumber);
            disk->Record.ChannelPosition = static_cast<uint8_t>(2 + (device->TargetId & 1));
            disk->Record.Valid = 1;
        } else {
            disk->Record.Valid = 0;
        }
    }
    for (unsigned number = 0; number < IDE_PHYSICAL_DRIVES; ++number) {
        bool used = std::any_of(controller->Disks.begin(), controller->Disks.end(),
                                [&](const auto &disk) { return disk->Device->DriveNumber == number; });
        if (used)
            continue;
        IDE_DEVICE_RECORD *device = nullptr;
        if (IdeOpenPhysicalDrive(number, &device) != 0)
            continue;
        if (ControllerOfPort(state, device->PortNumber) == controller)
            IdeCreateDisk(device, controller, state);
        else
            IdeCloseDevice(device);
    }
}

} // namespace

int IdeScanControllers(IDE_STATE *state)
{
    uint8_t index = 0;
    unsigned busPorts = 0;
    for (unsigned port = 0; port < IDE_PORTS; ++port) {
        int32_t type = IdePortType(port);
        if (type == IDE_TYPE_NONE)
            continue;
        auto controller = std::make_unique<IDE_CONTROLLER_NODE>();
        IDE_CONTROLLER_RECORD &record = controller->Record;
        controller->Type = type;
        SetText(record.Name, sizeof record.Name, "Unknown IDE Controller");
        record.ControllerStatus = IDE_OK;
        record.SecondStatus = IDE_OK;
        controller->PrimaryPort = static_cast<uint8_t>(port);
        switch (type) {
        case IDE_TYPE_ATAPI:
        case IDE_TYPE_MIRTOL:
            if (port + 1 < IDE_PORTS && IdePortType(port + 1) == type)
                controller->SecondaryPort = static_cast<uint8_t>(++port);
            SetText(record.Name, sizeof record.Name,
                    type == IDE_TYPE_ATAPI ? "Standard IDE Controller" : "Mirtol ATA/100 IDE Controller");
            break;
        case IDE_TYPE_CSMI:
            IdeCsmiControllerInfo(port, controller.get());
            break;
        case IDE_TYPE_BUS: {
            uint8_t bus = 255, device = 255, function = 255;
            GetScsiPortPciLocation(&bus, &device, &function, port, busPorts++);
            SetPciLocation(record, bus, device, function);
            SetText(record.Name, sizeof record.Name, "Standard IDE Controller");
            break;
        }
        default:
            break;
        }
        record.ControllerIndex = index++;
        record.Condition = IDE_OTHER;
        state->Controllers.push_back(std::move(controller));
    }
    return 0;
}

int IdeCsmiControllerInfo(unsigned portNumber, IDE_CONTROLLER_NODE *controller)
{
    IDE_DEVICE_RECORD *device = nullptr;
    int result = IdeOpenScsiPortDevice(portNumber, 255, &device);
    if (result != 0)
        return result;
    IdeCloseDevice(controller->Device);
    controller->Device = device;
    std::vector<uint8_t> buffer(CSMI_CNTLR_CONFIG_BUFFER_SIZE, 0);
    CSMI_CONTROLLER_CONFIG config;
    result = CsmiGetControllerConfig(device->Port.Handle, buffer.data());
    if (result != 0 || !DecodeCsmiControllerConfig(buffer.data(), buffer.size(), &config))
        return result != 0 ? result : -1;
    IDE_CONTROLLER_RECORD &record = controller->Record;
    if (config.IoBusType == 3) {
        uint32_t slot = 0;
        if (GetPciSlotNumber(config.PciBus, config.PciDevice, config.PciFunction, &slot) == 0)
            record.SlotNumber = static_cast<int32_t>(slot);
    }
    if (config.BoardId == IDE_BOARD_EMBEDDED_SATA_1)
        SetText(record.Name, sizeof record.Name, "Embedded SATA Controller #1");
    else if (config.BoardId == IDE_BOARD_EMBEDDED_SATA_2)
        SetText(record.Name, sizeof record.Name, "Embedded SATA Controller #2");
    else if (config.BoardId == IDE_BOARD_SATA_RAID_6_PORT)
        SetText(record.Name, sizeof record.Name, "QZ 6-Port SATA RAID Controller");
    std::snprintf(record.Version, sizeof record.Version, "%u.%u.%u.%u", config.Revision[0], config.Revision[1],
                  config.Revision[2], config.Revision[3]);
    SetText(record.SerialNumber, sizeof record.SerialNumber, config.SerialNumber);
    SetPciLocation(record, config.PciBus, config.PciDevice, config.PciFunction);
    return 0;
}

int IdeRaidControllerInfo(IDE_CONTROLLER_NODE *controller)
{
    std::vector<uint8_t> block(XIDE_CONTROLLER_INFO_SIZE, 0);
    block[XIDE_REQUEST_BYTE_OFFSET] = 2;
    int result = IdeXideRequest(controller->Device, XIDE_CONTROLLER_INFO, XIDE_CONTROLLER_INFO_SIZE, block.data());
    XIDE_CONTROLLER_INFO_REPLY info;
    if (result != 0 || !DecodeXideControllerInfo(block.data(), block.size(), &info))
        return result != 0 ? result : -1;
    IDE_CONTROLLER_RECORD &record = controller->Record;
    record.SlotNumber = -1;
    uint32_t slot = 0;
    if (GetPciSlotNumber(info.Bus, info.Device, info.Function, &slot) == 0)
        record.SlotNumber = static_cast<int32_t>(slot);
    SetText(record.Name, sizeof record.Name,
            info.BoardId == IDE_BOARD_IDE_RAID_INTEGRATED ? "Integrated Ultra ATA-100 IDE RAID Controller"
            : info.BoardId == IDE_BOARD_IDE_RAID_CSB6     ? "CSB-6 Ultra ATA-100 IDE RAID Controller"
                                                          : "Integrated Ultra ATA-100 Dual Channel IDE Controller");
    IdeFindRaidBiosVersion(sizeof record.Version, record.Version, info.BoardId);
    SetPciLocation(record, info.Bus, info.Device, info.Function);
    return 0;
}

int IdeFindRaidBiosVersion(size_t capacity, char *destination, uint32_t boardId)
{
    const bool raid = boardId == IDE_BOARD_IDE_RAID_INTEGRATED || boardId == IDE_BOARD_IDE_RAID_CSB6;
    const char *signature = raid ? "MegaRAID" : "HyperDisk";
    const char *prefix = raid ? "IDE RAID BIOS Version "
                              : "Integrated Ultra ATA-100 Dual Channel IDE Controller\n\r(C)AMI, USA Version ";
    const size_t signatureLength = std::strlen(signature);
    const size_t prefixLength = std::strlen(prefix);
    constexpr size_t BLOCK = 65536;
    std::vector<uint8_t> rom(BLOCK);
    for (uint64_t address = 0xC0000; address < 0xF0000; address += 2048) {
        if (ReadPhysicalMemory(address, BLOCK, rom.data()) != 0)
            continue;
        if (rom[0] != 0x55 || rom[1] != 0xAA || _strnicmp(reinterpret_cast<const char *>(&rom[6]), signature,
                                                           signatureLength) != 0)
            continue;
        size_t searched = std::min<size_t>(512u * rom[2], BLOCK);
        for (size_t at = 0; at + prefixLength <= searched; ++at) {
            if (_strnicmp(reinterpret_cast<const char *>(&rom[at]), prefix, prefixLength) != 0)
                continue;
            std::memset(destination, 0, capacity);
            size_t count = std::min<size_t>({13, capacity - 1, BLOCK - at - prefixLength});
            std::memcpy(destination, &rom[at + prefixLength], count);
            destination[std::strlen(destination)] = '\0';
            return 0;
        }
    }
    return 1;
}

int IdeScanDisks(IDE_STATE *state)
{
    for (unsigned number = 0; number < IDE_PHYSICAL_DRIVES; ++number) {
        IDE_DEVICE_RECORD *device = nullptr;
        if (IdeOpenPhysicalDrive(number, &device) != 0)
            continue;
        IDE_CONTROLLER_NODE *controller = ControllerOfPort(state, device->PortNumber);
        if (controller == nullptr) {
            IdeCloseDevice(device);
            continue;
        }
        switch (controller->Type) {
        case IDE_TYPE_RAID:
            if (controller->Disks.empty())
                RaidScanDisks(number, controller, state);
            IdeCloseDevice(device);
            break;
        case IDE_TYPE_CSMI:
            if (controller->Disks.empty())
                CsmiScanDisks(controller, state);
            IdeCloseDevice(device);
            break;
        default:
            IdeCreateDisk(device, controller, state);
            break;
        }
    }
    return 0;
}

int IdeScanAtapi(IDE_STATE *state, IDE_IDENTIFICATION_SLOTS *slots)
{
    uint8_t deviceIndex = 0;
    for (auto &controller : state->Controllers) {
        if (controller->Type == IDE_TYPE_CSMI)
            continue;
        const uint8_t ports[2] = {controller->PrimaryPort, controller->SecondaryPort};
        for (unsigned position = 0; position < 2; ++position) {
            if (ports[position] == 255)
                continue;
            SCSI_PORT_RECORD port = {};
            if (OpenScsiPort(ports[position], &port) != 0)
                continue;
            std::vector<uint8_t> reply(4096, 0);
            ULONG_PTR information = 0;
            LONG status = StoragePlatform().NativeDeviceControl(port.Handle, IOCTL_SCSI_GET_INQUIRY_DATA_CODE, nullptr,
                                                                0, reply.data(), static_cast<ULONG>(reply.size()),
                                                                &information);
            StoragePlatform().CloseDevice(port.Handle);
            if (status < 0)
                continue;
            size_t returned = std::min<size_t>(information, reply.size());
            std::vector<SCSI_INQUIRY_ENTRY> entries = WalkInquiryData(reply.data(), returned);
            for (const SCSI_INQUIRY_ENTRY &entry : entries) {
                if (entry.InquiryLength < 36)
                    continue;
                const uint8_t *inquiry = entry.Inquiry;
                uint8_t type = inquiry[0] & 0x1F;
                bool removable = (inquiry[1] & 0x80) != 0;
                const char *vendor = reinterpret_cast<const char *>(inquiry + 8);
                const char *product = reinterpret_cast<const char *>(inquiry + 16);
                // The IDE RAID miniport's stand-in for the controller itself, at whatever address
                // it reports. Where an ATAPI device may sit it is listed as one as well, by its type.
                const bool raidDummy = type == 0x1F && std::memcmp(vendor, "  RAID  ", 8) == 0 &&
                                       std::memcmp(product, " DummyDevice    ", 16) == 0;
                if (entry.Lun == 0 && entry.TargetId <= 1 && (type != 0 || removable)) {
                    auto node = std::make_unique<IDE_ATAPI_NODE>();
                    IDE_ATAPI_RECORD &record = node->Record;
                    record.ControllerIndex = controller->Record.ControllerIndex;
                    record.DeviceIndex = deviceIndex++;
                    size_t vendorLength = 8;
                    while (vendorLength > 0 && (vendor[vendorLength - 1] == ' ' || vendor[vendorLength - 1] == '\0'))
                        --vendorLength;
                    std::snprintf(record.Product, sizeof record.Product, "%.*s %.16s", static_cast<int>(vendorLength),
                                  vendor, product);
                    std::snprintf(record.Revision, sizeof record.Revision, "%.4s",
                                  reinterpret_cast<const char *>(inquiry + 32));
                    record.DeviceType = static_cast<uint8_t>(type + 2);
                    record.Kind = 1;
                    if (type == 0 && removable)
                        record.Kind = 3;
                    else if (type == 5 &&
                             std::any_of(entries.begin(), entries.end(), [&](const SCSI_INQUIRY_ENTRY &other) {
                                 return other.Bus == entry.Bus && other.PathId == entry.PathId &&
                                        other.TargetId == entry.TargetId && other.Lun == 1 && other.InquiryLength > 0 &&
                                        (other.Inquiry[0] & 0x1F) == 7;
                             }))
                        record.Kind = 2;
                    record.Channel = static_cast<uint8_t>(2 + position);
                    record.Position = static_cast<uint8_t>(entry.TargetId + 2);
                    if (record.DeviceType == 7 && record.Kind == 1) {
                        unsigned slot = entry.TargetId + 2 * position;
                        IdeFillIdentification(record, slot, &slots->Records[slot]);
                        slots->Present[slot] = true;
                    }
                    controller->Atapi.push_back(std::move(node));
                }
                if (raidDummy) {
                    IDE_DEVICE_RECORD *device = nullptr;
                    if (IdeOpenScsiAddress(ports[position], entry.PathId, entry.TargetId, entry.Lun, &device) == 0) {
                        IDE_DEVICE_RECORD *kept = controller->Device;
                        controller->Device = device;
                        IdeRaidControllerInfo(controller.get());
                        controller->Device = kept;
                        IdeCloseDevice(device);
                    }
                }
            }
        }
    }
    return 0;
}

int IdeRescanDisks(IDE_STATE *state)
{
    for (auto &controller : state->Controllers) {
        if (controller->Type == IDE_TYPE_CSMI)
            RescanCsmi(controller.get(), state);
        else if (controller->Type == IDE_TYPE_BUS)
            RescanBus(controller.get(), state);
    }
    return 0;
}
