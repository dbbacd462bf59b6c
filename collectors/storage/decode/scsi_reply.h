#pragma once
// Replies of the SCSI commands and SMP functions the SAS discovery sends to drives and expanders:
// standard INQUIRY, the unit serial number page, READ CAPACITY (10) and (16), the two MODE SENSE
// pages, the LOG SENSE pages (supported pages, temperature, informational exceptions), the grown
// defect list, and SMP REPORT GENERAL and DISCOVER. Every decoder reads only the bytes the
// device returned (a length inside the reply never reaches past them) and fails on a reply too
// short for what it needs.

#include <cstddef>
#include <cstdint>

// Standard INQUIRY: the peripheral byte (byte 0, whole), vendor (8 to 15), product (16 to 31) and
// revision (32 to 35) as they came, and byte 54 (bay-status flag in bit 2) when present.
struct SCSI_INQUIRY {
    uint8_t Peripheral;
    uint8_t Vendor[8];
    uint8_t Product[16];
    uint8_t Revision[4];
    bool HasByte54;
    uint8_t Byte54;
};
// Needs at least 36 bytes.
bool DecodeScsiInquiry(const uint8_t *data, size_t returned, SCSI_INQUIRY *inquiry);

// Unit serial number page (0x80): every byte from byte 4 that is not a space, within the page
// length (byte 3) and the bytes returned, cut to capacity - 1 characters and NUL-terminated.
// False when not even the page header came back.
bool DecodeUnitSerial(const uint8_t *data, size_t returned, char *out, size_t capacity);

// READ CAPACITY (10): last LBA and block length, big-endian; needs 8 bytes.
bool DecodeReadCapacity10(const uint8_t *data, size_t returned, uint64_t *lastLba, uint32_t *blockLength);
// READ CAPACITY (16): last LBA (8 bytes) and block length (4); needs 12 bytes.
bool DecodeReadCapacity16(const uint8_t *data, size_t returned, uint64_t *lastLba, uint32_t *blockLength);
// Capacity in MiB, truncated to 32 bits; 0 for a block length of 0 or above 1 MiB.
uint32_t CapacityMiB(uint64_t lastLba, uint32_t blockLength);

// MODE SENSE (6) page 0x1C: true with *disabled from the DEXCPT bit (data byte 6 bit 3).
bool DecodeIeModePage(const uint8_t *data, size_t returned, bool *disabled);
// MODE SENSE (6) page 0x04: the rotation rate (data bytes 24 and 25) when data byte 5 is at least
// 22, else 0. False when the reply is too short for the bytes it needs.
bool DecodeRotationPage(const uint8_t *data, size_t returned, uint32_t *rpm);
// Rotation class from a rotation rate: 2, 3, 4 for the 7200, 10000 and 15000 rpm bands, else 1.
uint8_t RotationClass(uint32_t rpm);

// LOG SENSE page 0x2F (informational exceptions): 3 + (byte 9 >> 4) when byte 8 is 0x5D, else 2.
bool DecodeIeLog(const uint8_t *data, size_t returned, uint8_t *result);
// LOG SENSE page 0x0D (temperature): current (byte 9) and reference (byte 15); needs 16 bytes.
bool DecodeTemperatureLog(const uint8_t *data, size_t returned, uint32_t *current, uint32_t *reference);
// LOG SENSE page 0x00 (supported pages): whether page 0x11 (solid-state media) and page 0x36 (the
// vendor wear log) are listed; only codes within the list length and the bytes returned count.
struct SCSI_LOG_PAGES {
    bool SolidState;
    bool WearLog;
};
bool DecodeSupportedLogPages(const uint8_t *data, size_t returned, SCSI_LOG_PAGES *pages);
// READ DEFECT DATA (10): number of grown defects from the list length and the format.
bool DecodeGrownDefects(const uint8_t *data, size_t returned, uint32_t *count);

// SMP replies, counted from the response frame (frame type at byte 0).
// REPORT GENERAL: the number of phys (byte 9).
bool DecodeSmpReportGeneral(const uint8_t *response, size_t returned, uint8_t *phys);
struct SMP_DISCOVER {
    uint8_t AttachedDeviceType;   // byte 12 bits 6 to 4, shifted down (0 none, 1 end device, 2/3 expanders)
    uint8_t AttachedDeviceByte;   // byte 12 AND 0x70
    uint8_t TargetFlags;          // byte 15 low 4 bits: 1 SATA, 2 SMP, 4 STP, 8 SSP
    uint8_t SasAddress[8];        // bytes 16 to 23
    uint8_t AttachedSasAddress[8];// bytes 24 to 31
    bool VirtualPhy;              // byte 43 bit 7
};
bool DecodeSmpDiscover(const uint8_t *response, size_t returned, SMP_DISCOVER *discover);
// REPORT MANUFACTURER INFORMATION: vendor (12 to 19), product (20 to 35), revision (36 to 39).
struct SMP_MANUFACTURER {
    char Vendor[9];
    char Product[17];
    char Revision[5];
};
bool DecodeSmpManufacturer(const uint8_t *response, size_t returned, SMP_MANUFACTURER *info);
