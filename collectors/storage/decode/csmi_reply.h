#pragma once
// Replies of CSMI requests, read from the whole request buffer (offsets count from the start of
// the 28-byte header) and only as far as the bytes the driver returned. Texts come back
// NUL-terminated however the controller filled its fields.

#include <cstddef>
#include <cstdint>
#include <vector>

// Controller configuration (code 2).
struct CSMI_CONTROLLER_CONFIG {
    uint32_t BaseIoAddress;
    uint32_t BoardId;
    uint16_t SlotNumber;
    uint8_t ControllerClass;
    uint8_t IoBusType;          // 3: PCI
    uint8_t PciBus, PciDevice, PciFunction;
    char SerialNumber[82];
    uint16_t Revision[4];       // major, minor, build, release
    uint16_t BiosRevision[4];
    uint32_t ControllerFlags;
};
constexpr size_t CSMI_CONFIG_BOARD_ID = 28 + 12;
constexpr size_t CSMI_CONFIG_SLOT = 28 + 16;
constexpr size_t CSMI_CONFIG_CLASS = 28 + 18;
constexpr size_t CSMI_CONFIG_IO_BUS_TYPE = 28 + 19;
constexpr size_t CSMI_CONFIG_PCI_ADDRESS = 28 + 20;
constexpr size_t CSMI_CONFIG_SERIAL = 28 + 52;
constexpr size_t CSMI_CONFIG_SERIAL_SIZE = 81;
constexpr size_t CSMI_CONFIG_REVISION = 28 + 134;
constexpr size_t CSMI_CONFIG_BIOS_REVISION = 28 + 142;
constexpr size_t CSMI_CONFIG_FLAGS = 28 + 152;
bool DecodeCsmiControllerConfig(const uint8_t *buffer, size_t returned, CSMI_CONTROLLER_CONFIG *config);

// Controller status (code 3).
struct CSMI_CONTROLLER_STATUS {
    uint32_t Status;          // 1 good, 2 failed, 3 offline
    uint32_t OfflineReason;
};
bool DecodeCsmiControllerStatus(const uint8_t *buffer, size_t returned, CSMI_CONTROLLER_STATUS *status);

// RAID information (code 10).
struct CSMI_RAID_INFO {
    uint32_t NumberOfRaidSets;
    uint32_t MaxDrivesPerSet;
};
bool DecodeCsmiRaidInfo(const uint8_t *buffer, size_t returned, CSMI_RAID_INFO *info);

// RAID configuration (code 11): the set and its member drives from buffer offset 64, 136 bytes
// each; only as many drives as the reply holds whole.
constexpr size_t CSMI_RAID_DRIVES_OFFSET = 64;
constexpr size_t CSMI_RAID_DRIVE_SIZE = 136;
struct CSMI_RAID_DRIVE {
    char Model[41];
    char Firmware[9];
    char SerialNumber[41];
    uint8_t SasAddress[8];
    uint8_t SasLun[8];
    uint8_t DriveStatus;
    uint8_t DriveUsage;
};
struct CSMI_RAID_CONFIG {
    uint32_t RaidSetIndex;
    uint32_t Capacity;
    uint32_t StripeSize;
    uint8_t RaidType;
    uint8_t Status;
    uint8_t Information;
    uint8_t DriveCount;       // as the controller reports it
    std::vector<CSMI_RAID_DRIVE> Drives;  // at most DriveCount, at most what was returned
};
bool DecodeCsmiRaidConfig(const uint8_t *buffer, size_t returned, CSMI_RAID_CONFIG *config);

// PHY information (code 20): 32 entities of 64 bytes from buffer offset 32.
constexpr size_t CSMI_PHY_COUNT_OFFSET = 28;
constexpr size_t CSMI_PHY_ENTITIES_OFFSET = 32;
constexpr size_t CSMI_PHY_ENTITY_SIZE = 64;
constexpr unsigned CSMI_MAX_PHYS = 32;
struct CSMI_SAS_IDENTIFY_INFO {
    uint8_t DeviceType;          // 0x00 none, 0x10 end device, 0x20 edge, 0x30 fan-out expander
    uint8_t InitiatorProtocol;
    uint8_t TargetProtocol;      // 1 SATA, 2 SMP, 4 STP, 8 SSP
    uint8_t SasAddress[8];
    uint8_t PhyIdentifier;
    uint8_t SignalClass;
};
struct CSMI_PHY_ENTITY_INFO {
    CSMI_SAS_IDENTIFY_INFO Identify;
    uint8_t PortIdentifier;
    uint8_t NegotiatedLinkRate;
    uint8_t MinimumLinkRate;
    uint8_t MaximumLinkRate;
    uint8_t PhyChangeCount;
    uint8_t AutoDiscover;
    uint8_t PhyFeatures;
    CSMI_SAS_IDENTIFY_INFO Attached;
    const uint8_t *Raw;          // the 64 bytes inside the buffer
};
struct CSMI_PHY_INFO {
    uint8_t NumberOfPhys;                       // as reported
    std::vector<CSMI_PHY_ENTITY_INFO> Entities; // the entities returned whole, at most 32
};
bool DecodeCsmiPhyInfo(const uint8_t *buffer, size_t returned, CSMI_PHY_INFO *info);
void DecodeSasIdentify(const uint8_t *bytes, CSMI_SAS_IDENTIFY_INFO *identify);  // 28 bytes

// STP pass-through reply (code 25).
struct CSMI_STP_REPLY {
    uint8_t ConnectionStatus;
    uint8_t StatusFis[20];
    uint32_t DataBytes;          // as reported
    const uint8_t *Data;         // inside the buffer
    size_t DataLength;           // DataBytes cut to the bytes returned and the request's length
};
bool DecodeCsmiStpReply(const uint8_t *buffer, size_t returned, CSMI_STP_REPLY *reply);

// SCSI address of a SAS address (code 27): host index, path id, target id and LUN at buffer
// bytes 44 to 47.
struct CSMI_SCSI_ADDRESS {
    uint8_t HostIndex, PathId, TargetId, Lun;
};
bool DecodeCsmiScsiAddress(const uint8_t *buffer, size_t returned, CSMI_SCSI_ADDRESS *address);

// Connector information (code 30): the first four characters of the connector name of entry
// `index` (36-byte entries from buffer byte 28, name at entry byte 4), trailing spaces removed.
bool DecodeCsmiConnectorName(const uint8_t *buffer, size_t returned, unsigned index, char out[5]);

// Location (code 31): the entry count at buffer byte 33, entries of 96 bytes from byte 35 (flags
// 32-bit, SAS address 8 bytes, bay identifier at entry byte 92). Only the entries the reply holds
// whole count, whatever the count byte says.
constexpr size_t CSMI_LOCATION_ENTRIES_OFFSET = 35;
constexpr size_t CSMI_LOCATION_ENTRY_SIZE = 96;
constexpr uint32_t CSMI_LOCATION_BUFFER_SIZE = 24516;
struct CSMI_LOCATION_ENTRY {
    uint32_t Flags;              // 0x01 SAS address valid, 0x20 bay identifier valid
    uint8_t SasAddress[8];
    uint8_t BayIdentifier;
};
bool DecodeCsmiLocation(const uint8_t *buffer, size_t returned, std::vector<CSMI_LOCATION_ENTRY> *entries);

// Drive-carrier replies: code 32 gives the present byte (29) and the state byte (30); code 34
// the two carrier bytes (34 and 44).
bool DecodeCsmiCarrierState(const uint8_t *buffer, size_t returned, uint8_t *present, uint8_t *state);
bool DecodeCsmiCarrierBytes(const uint8_t *buffer, size_t returned, uint8_t *a, uint8_t *b);
