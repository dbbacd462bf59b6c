#include "ata_decode.h"

#include "byte_reader.h"

#include <cstring>

void AtaText(const uint8_t *field, size_t length, char *out, size_t capacity)
{
    if (capacity == 0)
        return;
    out[0] = '\0';
    if (field == nullptr)
        return;
    size_t begin = 0;
    size_t end = length;
    auto at = [&](size_t i) -> uint8_t { return (i ^ 1) < length ? field[i ^ 1] : field[i]; };
    while (begin < end && at(begin) == ' ')
        ++begin;
    while (end > begin && at(end - 1) == ' ')
        --end;
    size_t count = 0;
    for (size_t i = begin; i < end && count + 1 < capacity; ++i)
        out[count++] = static_cast<char>(at(i));
    out[count] = '\0';
}

uint64_t AtaCapacityBytes(uint64_t sectors)
{
    switch (sectors) {
    case 71132960: return 36000000000ULL;
    case 143374738: return 72000000000ULL;
    case 286749488: return 146000000000ULL;
    case 585937500: return 300000000000ULL;
    default: break;
    }
    // Sector counts above 2^55 cannot come from the 48-bit field; the guard keeps the product exact.
    const uint64_t exact = sectors < (uint64_t{1} << 54) ? sectors * ATA_SECTOR_SIZE : UINT64_MAX;
    if (exact <= 8001563222016ULL) {
        // Signed arithmetic: the formula goes below 1 GB (and below zero) for small disks, which
        // then show their exact size.
        double gigabytes = (static_cast<double>(sectors) - 97696368.0) / 1953504.0 + 50.0;
        if (gigabytes >= 1.0)
            return static_cast<uint64_t>(gigabytes) * 1000000000ULL;
    }
    return exact;
}

namespace {
uint8_t SingleBitMode(uint8_t bits, const uint8_t *codes, int count)
{
    for (int bit = 0; bit < count; ++bit)
        if (bits == (1u << bit))
            return codes[bit];
    return 1;
}
} // namespace

uint8_t AtaTransferMode(uint16_t word53, uint16_t word63, uint16_t word64, uint16_t word88, uint8_t byte103)
{
    if ((word53 & 4) != 0 && (word88 & 0xFF) != 0 && (word88 >> 8) != 0) {
        static const uint8_t ultra[] = {10, 11, 12, 13, 14, 15};
        return SingleBitMode(static_cast<uint8_t>(word88 >> 8), ultra, 6);
    }
    if ((word63 & 0xFF) != 0 && (word63 >> 8) != 0) {
        static const uint8_t multiword[] = {7, 8, 9};
        return SingleBitMode(static_cast<uint8_t>(word63 >> 8), multiword, 3);
    }
    if ((word64 & 0xFF) != 0) {
        static const uint8_t pio[] = {2, 3, 4, 5, 6};
        return SingleBitMode(byte103, pio, 5);
    }
    return 1;
}

bool DecodeAtaIdentify(const uint8_t *data, size_t size, ATA_IDENTIFY *identify)
{
    if (data == nullptr || size < ATA_SECTOR_SIZE)
        return false;
    ByteReader reader(data, size);
    auto word = [&](size_t n) {
        uint16_t value = 0;
        reader.U16(2 * n, &value);
        return value;
    };
    *identify = {};
    AtaText(data + 20, 20, identify->Serial, sizeof(identify->Serial));
    AtaText(data + 46, 8, identify->Firmware, sizeof(identify->Firmware));
    AtaText(data + 54, 40, identify->Model, sizeof(identify->Model));
    uint64_t sectors = uint64_t{word(60)} | (uint64_t{word(61)} << 16);
    if (sectors == 0x0FFFFFFF)
        sectors = uint64_t{word(100)} | (uint64_t{word(101)} << 16) | (uint64_t{word(102)} << 32) |
                  (uint64_t{word(103)} << 48);
    identify->Sectors = sectors;
    identify->CapacityMb = static_cast<uint32_t>(sectors >> 11);
    identify->CapacityBytes = AtaCapacityBytes(sectors);
    identify->TransferMode = AtaTransferMode(word(53), word(63), word(64), word(88), data[103]);
    identify->SataCapabilities = word(76);
    identify->MediaRotation = word(217);
    return true;
}

size_t SmartReplyDataSize(const uint8_t *reply, size_t returned)
{
    uint32_t size = 0;
    if (!ByteReader(reply, returned).U32(0, &size) || returned < SMART_REPLY_DATA_OFFSET)
        return 0;
    size_t count = size < ATA_SECTOR_SIZE ? size : ATA_SECTOR_SIZE;
    return count < returned - SMART_REPLY_DATA_OFFSET ? count : returned - SMART_REPLY_DATA_OFFSET;
}

namespace {
// The table entries wholly inside the data.
size_t SmartEntries(size_t size)
{
    if (size < SMART_TABLE_OFFSET)
        return 0;
    size_t whole = (size - SMART_TABLE_OFFSET) / SMART_ENTRY_SIZE;
    return whole < SMART_TABLE_ENTRIES ? whole : SMART_TABLE_ENTRIES;
}
const uint8_t *SmartEntry(const uint8_t *data, size_t index) { return data + SMART_TABLE_OFFSET + index * SMART_ENTRY_SIZE; }
} // namespace

bool SmartFirstAttributeRaw32(const uint8_t *data, size_t size, uint8_t id, uint32_t *raw)
{
    for (size_t i = 0; data != nullptr && i < SmartEntries(size); ++i) {
        const uint8_t *entry = SmartEntry(data, i);
        if (entry[0] == id) {
            *raw = uint32_t{entry[5]} | (uint32_t{entry[6]} << 8) | (uint32_t{entry[7]} << 16) | (uint32_t{entry[8]} << 24);
            return true;
        }
    }
    return false;
}

namespace {
bool LastEntryByte(const uint8_t *data, size_t size, uint8_t id, size_t offset, uint8_t *value)
{
    bool found = false;
    for (size_t i = 0; data != nullptr && i < SmartEntries(size); ++i) {
        const uint8_t *entry = SmartEntry(data, i);
        if (entry[0] == id) {
            *value = entry[offset];
            found = true;
        }
    }
    return found;
}
} // namespace

bool SmartLastAttributeRawByte(const uint8_t *data, size_t size, uint8_t id, uint8_t *value)
{
    return LastEntryByte(data, size, id, 5, value);
}

bool SmartLastThreshold(const uint8_t *data, size_t size, uint8_t id, uint8_t *threshold)
{
    return LastEntryByte(data, size, id, 1, threshold);
}

bool AtaTemperatureStatistics(const uint8_t *data, size_t size, uint8_t *current, uint8_t *limit)
{
    ByteReader reader(data, size);
    return reader.Has(88, 1) && reader.Bytes(8, current, 1) && reader.Bytes(88, limit, 1);
}

bool SctTemperatures(const uint8_t *data, size_t size, uint8_t *maximum, uint8_t *overLimit)
{
    ByteReader reader(data, size);
    return reader.Has(6, 2) && reader.Bytes(6, maximum, 1) && reader.Bytes(7, overLimit, 1);
}

bool LogDirectoryHasWearLog(const uint8_t *data, size_t size)
{
    ByteReader reader(data, size);
    uint16_t version = 0;
    uint16_t pages = 0;
    return reader.U16(0, &version) && reader.U16(2 * ATA_WEAR_LOG_ADDRESS, &pages) && version != 0 && pages != 0;
}

int XideSmartExceeded(const uint8_t *block, size_t size)
{
    uint8_t answer = 0;
    if (!ByteReader(block, size).Bytes(29, &answer, 1))
        return -1;
    return answer == 4 ? 0 : answer == 5 ? 1 : -1;
}

bool DecodeXideControllerInfo(const uint8_t *block, size_t size, XIDE_CONTROLLER_INFO_REPLY *info)
{
    ByteReader reader(block, size);
    uint8_t ok = 0;
    uint8_t address[3] = {};
    uint32_t board = 0;
    if (!reader.Bytes(XIDE_REQUEST_BYTE_OFFSET, &ok, 1) || ok != 1 || !reader.Bytes(72, address, 3) ||
        !reader.U32(76, &board))
        return false;
    *info = {address[0], address[1], address[2], board};
    return true;
}

namespace {
// A blank-padded text of the miniport, trailing blanks removed.
void TrimmedText(const uint8_t *field, size_t length, char *out)
{
    size_t end = 0;
    while (end < length && field[end] != '\0')
        ++end;
    while (end > 0 && field[end - 1] == ' ')
        --end;
    std::memcpy(out, field, end);
    out[end] = '\0';
}

// The entries of a reply, count cut to what the block holds.
uint32_t DecodeEntries(const ByteReader &reader, size_t first, uint32_t count, size_t capacity, XIDE_DRIVE_ENTRY *entries)
{
    uint32_t taken = 0;
    for (; taken < count && taken < capacity; ++taken) {
        const uint8_t *entry = reader.At(first + taken * XIDE_ENTRY_SIZE, XIDE_ENTRY_SIZE);
        if (entry == nullptr)
            break;
        XIDE_DRIVE_ENTRY &out = entries[taken];
        TrimmedText(entry + 2, 40, out.Model);
        TrimmedText(entry + 83, 20, out.Serial);
        out.State = uint32_t{entry[128]} | (uint32_t{entry[129]} << 8) | (uint32_t{entry[130]} << 16) |
                    (uint32_t{entry[131]} << 24);
    }
    return taken;
}
} // namespace

bool DecodeXideMemberList(const uint8_t *block, size_t size, XIDE_MEMBER_LIST_REPLY *list)
{
    ByteReader reader(block, size);
    uint32_t valid = 0;
    uint32_t count = 0;
    if (!reader.U32(40, &valid) || valid != 8 || !reader.U32(52, &count))
        return false;
    *list = {};
    list->Count = DecodeEntries(reader, 72, count, XIDE_MEMBER_LIST_MAX, list->Entries);
    return true;
}

bool DecodeXideLogicalDrive(const uint8_t *block, size_t size, XIDE_LOGICAL_DRIVE_REPLY *drive)
{
    ByteReader reader(block, size);
    uint32_t marker = 0;
    uint32_t present = 0;
    uint32_t count = 0;
    XIDE_LOGICAL_DRIVE_REPLY out = {};
    if (!reader.U32(64, &marker) || !reader.U32(32, &present) || marker == 255 || present == 0 ||
        !reader.U32(36, &out.Level) || !reader.U32(40, &out.Stripe) || !reader.U32(48, &count) ||
        !reader.U32(52, &out.Capacity) || !reader.U32(56, &out.Status))
        return false;
    out.Count = DecodeEntries(reader, 68, count, XIDE_DRIVE_MEMBERS_MAX, out.Members);
    *drive = out;
    return true;
}
