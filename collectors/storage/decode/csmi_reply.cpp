#include "csmi_reply.h"

#include "big_endian.h"

#include <cstring>

bool TextField(const ByteReader &reader, size_t offset, size_t length, char *out, size_t capacity)
{
    if (capacity == 0)
        return false;
    out[0] = '\0';
    const uint8_t *field = reader.At(offset, length);
    if (field == nullptr)
        return false;
    size_t copy = 0;
    while (copy < length && copy + 1 < capacity && field[copy] != 0)
        ++copy;
    std::memcpy(out, field, copy);
    out[copy] = '\0';
    return true;
}

bool DecodeCsmiControllerConfig(const uint8_t *buffer, size_t returned, CSMI_CONTROLLER_CONFIG *config)
{
    ByteReader reader(buffer, returned);
    if (!reader.Has(0, 28 + 180))
        return false;
    *config = {};
    reader.U32(28, &config->BaseIoAddress);
    reader.U32(CSMI_CONFIG_BOARD_ID, &config->BoardId);
    reader.U16(CSMI_CONFIG_SLOT, &config->SlotNumber);
    U8At(reader, CSMI_CONFIG_CLASS, &config->ControllerClass);
    U8At(reader, CSMI_CONFIG_IO_BUS_TYPE, &config->IoBusType);
    U8At(reader, CSMI_CONFIG_PCI_ADDRESS, &config->PciBus);
    U8At(reader, CSMI_CONFIG_PCI_ADDRESS + 1, &config->PciDevice);
    U8At(reader, CSMI_CONFIG_PCI_ADDRESS + 2, &config->PciFunction);
    TextField(reader, CSMI_CONFIG_SERIAL, CSMI_CONFIG_SERIAL_SIZE, config->SerialNumber, sizeof config->SerialNumber);
    for (int i = 0; i < 4; ++i) {
        reader.U16(CSMI_CONFIG_REVISION + 2 * i, &config->Revision[i]);
        reader.U16(CSMI_CONFIG_BIOS_REVISION + 2 * i, &config->BiosRevision[i]);
    }
    reader.U32(CSMI_CONFIG_FLAGS, &config->ControllerFlags);
    return true;
}

bool DecodeCsmiControllerStatus(const uint8_t *buffer, size_t returned, CSMI_CONTROLLER_STATUS *status)
{
    ByteReader reader(buffer, returned);
    return reader.U32(28, &status->Status) && reader.U32(32, &status->OfflineReason);
}

bool DecodeCsmiRaidInfo(const uint8_t *buffer, size_t returned, CSMI_RAID_INFO *info)
{
    ByteReader reader(buffer, returned);
    return reader.U32(28, &info->NumberOfRaidSets) && reader.U32(32, &info->MaxDrivesPerSet);
}

bool DecodeCsmiRaidConfig(const uint8_t *buffer, size_t returned, CSMI_RAID_CONFIG *config)
{
    ByteReader reader(buffer, returned);
    if (!reader.Has(0, CSMI_RAID_DRIVES_OFFSET))
        return false;
    config->Drives.clear();
    reader.U32(28, &config->RaidSetIndex);
    reader.U32(32, &config->Capacity);
    reader.U32(36, &config->StripeSize);
    U8At(reader, 40, &config->RaidType);
    U8At(reader, 41, &config->Status);
    U8At(reader, 42, &config->Information);
    U8At(reader, 43, &config->DriveCount);
    for (unsigned i = 0; i < config->DriveCount; ++i) {
        size_t at = CSMI_RAID_DRIVES_OFFSET + i * CSMI_RAID_DRIVE_SIZE;
        if (!reader.Has(at, CSMI_RAID_DRIVE_SIZE))
            break;
        CSMI_RAID_DRIVE drive = {};
        TextField(reader, at, 40, drive.Model, sizeof drive.Model);
        TextField(reader, at + 40, 8, drive.Firmware, sizeof drive.Firmware);
        TextField(reader, at + 48, 40, drive.SerialNumber, sizeof drive.SerialNumber);
        reader.Bytes(at + 88, drive.SasAddress, 8);
        reader.Bytes(at + 96, drive.SasLun, 8);
        U8At(reader, at + 104, &drive.DriveStatus);
        U8At(reader, at + 105, &drive.DriveUsage);
        config->Drives.push_back(drive);
    }
    return true;
}

void DecodeSasIdentify(const uint8_t *bytes, CSMI_SAS_IDENTIFY_INFO *identify)
{
    identify->DeviceType = bytes[0];
    identify->InitiatorProtocol = bytes[2];
    identify->TargetProtocol = bytes[3];
    std::memcpy(identify->SasAddress, bytes + 12, 8);
    identify->PhyIdentifier = bytes[20];
    identify->SignalClass = bytes[21];
}

bool DecodeCsmiPhyInfo(const uint8_t *buffer, size_t returned, CSMI_PHY_INFO *info)
{
    ByteReader reader(buffer, returned);
    if (!U8At(reader, CSMI_PHY_COUNT_OFFSET, &info->NumberOfPhys))
        return false;
    info->Entities.clear();
    for (unsigned i = 0; i < CSMI_MAX_PHYS; ++i) {
        const uint8_t *raw = reader.At(CSMI_PHY_ENTITIES_OFFSET + i * CSMI_PHY_ENTITY_SIZE, CSMI_PHY_ENTITY_SIZE);
        if (raw == nullptr)
            break;
        CSMI_PHY_ENTITY_INFO entity = {};
        DecodeSasIdentify(raw, &entity.Identify);
        entity.PortIdentifier = raw[28];
        entity.NegotiatedLinkRate = raw[29];
        entity.MinimumLinkRate = raw[30];
        entity.MaximumLinkRate = raw[31];
        entity.PhyChangeCount = raw[32];
        entity.AutoDiscover = raw[33];
        entity.PhyFeatures = raw[34];
        DecodeSasIdentify(raw + 36, &entity.Attached);
        entity.Raw = raw;
        info->Entities.push_back(entity);
    }
    return true;
}

bool DecodeCsmiStpReply(const uint8_t *buffer, size_t returned, CSMI_STP_REPLY *reply)
{
    ByteReader reader(buffer, returned);
    uint32_t requested = 0;
    if (!reader.U32(68, &requested) || !U8At(reader, 72, &reply->ConnectionStatus) ||
        !reader.Bytes(76, reply->StatusFis, sizeof reply->StatusFis) || !reader.U32(160, &reply->DataBytes))
        return false;
    size_t available = returned > 164 ? returned - 164 : 0;
    size_t length = reply->DataBytes;
    if (length > available)
        length = available;
    if (length > requested)
        length = requested;
    reply->Data = length ? buffer + 164 : nullptr;
    reply->DataLength = length;
    return true;
}

bool DecodeCsmiScsiAddress(const uint8_t *buffer, size_t returned, CSMI_SCSI_ADDRESS *address)
{
    ByteReader reader(buffer, returned);
    uint8_t bytes[4];
    if (!reader.Bytes(44, bytes, 4))
        return false;
    *address = {bytes[0], bytes[1], bytes[2], bytes[3]};
    return true;
}

bool DecodeCsmiConnectorName(const uint8_t *buffer, size_t returned, unsigned index, char out[5])
{
    ByteReader reader(buffer, returned);
    if (index >= 32)
        return false;
    char name[5] = {};
    if (!TextField(reader, 28 + 36 * size_t{index} + 4, 4, name, sizeof name))
        return false;
    size_t length = strnlen(name, 4);
    while (length > 0 && name[length - 1] == ' ')
        --length;
    name[length] = '\0';
    std::memcpy(out, name, 5);
    return true;
}

bool DecodeCsmiLocation(const uint8_t *buffer, size_t returned, std::vector<CSMI_LOCATION_ENTRY> *entries)
{
    ByteReader reader(buffer, returned);
    uint8_t count = 0;
    if (!reader.U8(33, &count))
        return false;
    entries->clear();
    for (size_t i = 0; i < count; ++i) {
        size_t at = CSMI_LOCATION_ENTRIES_OFFSET + i * CSMI_LOCATION_ENTRY_SIZE;
        if (!reader.Has(at, CSMI_LOCATION_ENTRY_SIZE))
            break;
        CSMI_LOCATION_ENTRY entry{};
        reader.U32(at, &entry.Flags);
        reader.Bytes(at + 4, entry.SasAddress, 8);
        reader.U8(at + 92, &entry.BayIdentifier);
        entries->push_back(entry);
    }
    return true;
}

bool DecodeCsmiCarrierState(const uint8_t *buffer, size_t returned, uint8_t *present, uint8_t *state)
{
    ByteReader reader(buffer, returned);
    return reader.U8(29, present) && reader.U8(30, state);
}

bool DecodeCsmiCarrierBytes(const uint8_t *buffer, size_t returned, uint8_t *a, uint8_t *b)
{
    ByteReader reader(buffer, returned);
    return reader.U8(34, a) && reader.U8(44, b);
}
