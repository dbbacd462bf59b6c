#pragma once
// The portable rules of the firmware readers: which reader a PCI identity gets, the version
// texts built from driver and vendor answers, and texts taken out of vendor records. Nothing
// here trusts an answer: every read stays inside the bytes given and every text written ends
// with NUL inside its buffer. No windows.h.

#include <cstddef>
#include <cstdint>

constexpr size_t kFirmwareTextBytes = 256;

enum class FirmwareReader {
    kNone,
    kIntel,
    kNetXen,
    kEmulex,
    kQLogic,   // QLMAPI
    kBroadcom, // BMAPI
    kSolarflare,
    kMellanox,
};

// The first rule of the dispatch table that holds for this PCI ID and adapter type.
FirmwareReader SelectFirmwareReader(uint32_t pciId, uint8_t adapterType);

// In place: the first three dot-separated numbers as "%d.%d.%d" when the first is not 0; else
// unchanged. size is the buffer's size; the text stays terminated inside it.
void NormalizeFirmwareVersion(char *text, size_t size = kFirmwareTextBytes);

// The version texts. Each writes at most size bytes with the NUL; false when size is 0.
bool FormatIntelFirmwareVersion(uint32_t word, char *out, size_t size);
bool FormatNetXenFirmwareVersion(const uint8_t *answer, size_t bytes, char *out, size_t size);
bool FormatMlxBootCodeVersion(uint64_t word, char *out, size_t size);
bool FormatPackedFirmwareVersion(uint32_t word, char *out, size_t size);

// The NUL-terminated text at offset inside a record of recordBytes, cut at the record's end and
// at size - 1 bytes; "" when the offset lies outside. Returns the text's length.
size_t CopyRecordText(const uint8_t *record, size_t recordBytes, size_t offset, char *out, size_t size);
// The little-endian word at offset, 0 when it does not lie inside.
uint32_t RecordWord(const uint8_t *record, size_t recordBytes, size_t offset);
