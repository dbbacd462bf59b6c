#pragma once
// What ATA disks and IDE RAID miniports return: IDENTIFY DEVICE data, the S.M.A.R.T. receive
// reply, the attribute and threshold tables, the device statistics and SCT temperature pages, the
// log directory, and the "$XIDE$" replies. Every reader takes the bytes a device returned and
// their count, and reads nothing beyond them.

#include <cstddef>
#include <cstdint>

constexpr size_t ATA_SECTOR_SIZE = 512;

// An ATA text field: the bytes of every 16-bit word swapped, leading and trailing blanks
// removed, NUL-terminated in out (capacity bytes; the text is cut to fit). An odd last byte is
// taken as it stands.
void AtaText(const uint8_t *field, size_t length, char *out, size_t capacity);

// The disk's capacity in bytes as the system shows it (the sector count's decimal gigabytes by
// the IDEMA rule for the disks that have one, a few common sizes by their marketing size, else
// the exact size).
uint64_t AtaCapacityBytes(uint64_t sectors);

// Transfer mode code of the disk record: 1 other, 2..6 PIO 0..4, 7..9 multiword DMA 0..2,
// 10..15 Ultra DMA 0..5.
uint8_t AtaTransferMode(uint16_t word53, uint16_t word63, uint16_t word64, uint16_t word88, uint8_t byte103);

struct ATA_IDENTIFY {
    char Model[41];
    char Firmware[9];
    char Serial[21];
    uint64_t Sectors;
    uint32_t CapacityMb;
    uint64_t CapacityBytes;
    uint8_t TransferMode;
    uint16_t SataCapabilities;   // word 76
    uint16_t MediaRotation;      // word 217
};
// False when fewer than 512 bytes are given.
bool DecodeAtaIdentify(const uint8_t *data, size_t size, ATA_IDENTIFY *identify);
// Word 76: bit 0 clear and bit 1 set (a SATA device).
inline bool AtaIsSata(uint16_t word76) { return (word76 & 1) == 0 && (word76 & 2) != 0; }
// Media code of the disk record from word 217: 3 solid state, 1 not reported, 2 rotating.
inline uint8_t AtaMediaCode(uint16_t word217) { return word217 == 1 ? 3 : word217 == 0 ? 1 : 2; }

// The S.M.A.R.T. receive-data reply (the buffer size word, 12 bytes of registers and status,
// then data from offset 16): the number of data bytes to copy, never more than the reply holds
// or the 512 bytes of one sector. 0 when the reply gives no size.
constexpr size_t SMART_REPLY_DATA_OFFSET = 16;
size_t SmartReplyDataSize(const uint8_t *reply, size_t returned);

// Attribute and threshold tables: 30 entries of 12 bytes from offset 2 of the sector.
constexpr size_t SMART_TABLE_OFFSET = 2;
constexpr size_t SMART_TABLE_ENTRIES = 30;
constexpr size_t SMART_ENTRY_SIZE = 12;
// The first attribute with the id: its 32-bit raw value (entry bytes 5 to 8).
bool SmartFirstAttributeRaw32(const uint8_t *data, size_t size, uint8_t id, uint32_t *raw);
// The last attribute with the id: its first raw byte (entry byte 5).
bool SmartLastAttributeRawByte(const uint8_t *data, size_t size, uint8_t id, uint8_t *value);
// The last threshold entry with the id: its threshold byte (entry byte 1).
bool SmartLastThreshold(const uint8_t *data, size_t size, uint8_t id, uint8_t *threshold);

// Device statistics, temperature page (log 4, page 5): current (byte 8) and limit (byte 88).
bool AtaTemperatureStatistics(const uint8_t *data, size_t size, uint8_t *current, uint8_t *limit);
// SCT temperature history table: maximum operating (byte 6) and over-limit (byte 7).
bool SctTemperatures(const uint8_t *data, size_t size, uint8_t *maximum, uint8_t *overLimit);
// The log directory lists the vendor wear log (address 0xB6): words 0 and 182 non-zero.
constexpr uint8_t ATA_WEAR_LOG_ADDRESS = 0xB6;
bool LogDirectoryHasWearLog(const uint8_t *data, size_t size);

// ---- "$XIDE$" requests of the IDE RAID miniport ----
constexpr size_t XIDE_SIGNATURE_OFFSET = 4;
constexpr size_t XIDE_CODE_OFFSET = 16;
constexpr size_t XIDE_REQUEST_BYTE_OFFSET = 28;
constexpr size_t XIDE_LOGICAL_DRIVE_OFFSET = 60;
enum XideCode : uint32_t {
    XIDE_LOGICAL_DRIVE = 1,
    XIDE_CONTROLLER_INFO = 17,
    XIDE_MEMBER_LIST = 18,
    XIDE_SMART_STATUS = 21,
    XIDE_IDENTIFY = 23,
};
constexpr uint32_t XIDE_LOGICAL_DRIVE_SIZE = 692;
constexpr uint32_t XIDE_CONTROLLER_INFO_SIZE = 136;
constexpr uint32_t XIDE_MEMBER_LIST_SIZE = 1360;
constexpr uint32_t XIDE_SMART_STATUS_SIZE = 544;
constexpr uint32_t XIDE_IDENTIFY_SIZE = 572;
constexpr size_t XIDE_IDENTIFY_DATA_OFFSET = 57;
constexpr size_t XIDE_ENTRY_SIZE = 156;
constexpr size_t XIDE_MEMBER_LIST_MAX = (XIDE_MEMBER_LIST_SIZE - 72) / XIDE_ENTRY_SIZE;     // 8
constexpr size_t XIDE_DRIVE_MEMBERS_MAX = (XIDE_LOGICAL_DRIVE_SIZE - 68) / XIDE_ENTRY_SIZE; // 4

// Code 21: 0 not exceeded, 1 exceeded, -1 for any other answer.
int XideSmartExceeded(const uint8_t *block, size_t size);

struct XIDE_CONTROLLER_INFO_REPLY {
    uint8_t Bus, Device, Function;
    uint32_t BoardId;
};
// Code 17: false unless the reply reports success.
bool DecodeXideControllerInfo(const uint8_t *block, size_t size, XIDE_CONTROLLER_INFO_REPLY *info);

struct XIDE_DRIVE_ENTRY {
    char Model[41];     // trailing blanks removed
    char Serial[21];
    uint32_t State;     // logical-drive members only: 14 rebuilding
};
struct XIDE_MEMBER_LIST_REPLY {
    uint32_t Count;     // cut to the entries the block holds
    XIDE_DRIVE_ENTRY Entries[XIDE_MEMBER_LIST_MAX];
};
// Code 18: false unless the list is marked valid.
bool DecodeXideMemberList(const uint8_t *block, size_t size, XIDE_MEMBER_LIST_REPLY *list);

struct XIDE_LOGICAL_DRIVE_REPLY {
    uint32_t Level, Stripe, Capacity, Status;
    uint32_t Count;     // cut to the entries the block holds
    XIDE_DRIVE_ENTRY Members[XIDE_DRIVE_MEMBERS_MAX];
};
// Code 1: false when the drive does not exist.
bool DecodeXideLogicalDrive(const uint8_t *block, size_t size, XIDE_LOGICAL_DRIVE_REPLY *drive);
