#include "firmware_text.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Bounded decimal number at text (atoi-like: optional sign, digits); saturates instead of
// overflowing. *end gets the first character after it.
int ParseNumber(const char *text, const char *limit, const char **end)
{
    const char *p = text;
    bool negative = false;
    if (p < limit && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    long long value = 0;
    for (; p < limit && *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > INT_MAX)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    *end = p;
    if (negative)
        return value > INT_MAX ? INT_MIN : static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

bool Print(char *out, size_t size, const char *format, ...) __attribute__((format(printf, 3, 4)));

bool Print(char *out, size_t size, const char *format, ...)
{
    if (out == nullptr || size == 0)
        return false;
    va_list args;
    va_start(args, format);
    int written = vsnprintf(out, size, format, args);
    va_end(args);
    if (written < 0)
        out[0] = '\0';
    return true;
}

} // namespace

FirmwareReader SelectFirmwareReader(uint32_t pciId, uint8_t adapterType)
{
    const uint32_t hi = pciId >> 16;
    const uint32_t lo = pciId & 0xFFFF;
    if (hi == 0x8086)
        return FirmwareReader::kIntel;
    if (hi == 0x4040 || hi == 0x1077)
        return FirmwareReader::kNetXen;
    if (hi == 0x19A2 || pciId == 0x10DF0720)
        return FirmwareReader::kEmulex;
    if (lo == 0x14E4 || hi == 0x14E4 || hi == 0x1656 || pciId == 0x16A11077 || pciId == 0x80701077 ||
        pciId == 0x16541077) {
        if (lo == 0x14E4 || lo == 0x1077 || hi == 0x1656)
            return FirmwareReader::kQLogic;
        return FirmwareReader::kBroadcom;
    }
    if (hi == 0x1924)
        return FirmwareReader::kSolarflare;
    if (adapterType == 12 || adapterType == 15 || hi == 0x15B3)
        return FirmwareReader::kMellanox;
    return FirmwareReader::kNone;
}

void NormalizeFirmwareVersion(char *text, size_t size)
{
    if (text == nullptr || size == 0)
        return;
    const char *limit = static_cast<const char *>(std::memchr(text, 0, size));
    if (limit == nullptr) {
        // Not terminated inside its buffer: cut it there first.
        text[size - 1] = '\0';
        limit = text + size - 1;
    }
    int numbers[3] = {0, 0, 0};
    const char *p = text;
    for (int part = 0; part < 3 && p < limit; ++part) {
        const char *end = p;
        numbers[part] = ParseNumber(p, limit, &end);
        const char *dot = static_cast<const char *>(std::memchr(p, '.', static_cast<size_t>(limit - p)));
        if (dot == nullptr)
            break;
        p = dot + 1;
    }
    if (numbers[0] == 0)
        return;
    char rewritten[40];
    std::snprintf(rewritten, sizeof(rewritten), "%d.%d.%d", numbers[0], numbers[1], numbers[2]);
    std::snprintf(text, size, "%s", rewritten);
}

bool FormatIntelFirmwareVersion(uint32_t word, char *out, size_t size)
{
    unsigned major, minor, build;
    if (word & 0xFFFF0000u) {
        major = word >> 24;
        minor = (word >> 8) & 0xFFFF;
        build = word & 0xFF;
    } else {
        major = (word >> 12) & 0xF;
        minor = (word >> 8) & 0xF;
        build = word & 0xFF;
    }
    return Print(out, size, "%d.%d.%d", static_cast<int>(major), static_cast<int>(minor), static_cast<int>(build));
}

bool FormatNetXenFirmwareVersion(const uint8_t *answer, size_t bytes, char *out, size_t size)
{
    return Print(out, size, "%u.%u.%u", RecordWord(answer, bytes, 0), RecordWord(answer, bytes, 4),
                 RecordWord(answer, bytes, 8));
}

bool FormatMlxBootCodeVersion(uint64_t word, char *out, size_t size)
{
    // The three fields are 16-bit: printed as 32-bit numbers, the build with at least four digits.
    return Print(out, size, "%u.%u.%.4u", static_cast<uint32_t>((word >> 32) & 0xFFFF),
                 static_cast<uint32_t>((word >> 16) & 0xFFFF), static_cast<uint32_t>(word & 0xFFFF));
}

bool FormatPackedFirmwareVersion(uint32_t word, char *out, size_t size)
{
    return Print(out, size, "%d.%d.%d", static_cast<int>(word >> 24), static_cast<int>((word >> 16) & 0xFF),
                 static_cast<int>((word >> 8) & 0xFF));
}

size_t CopyRecordText(const uint8_t *record, size_t recordBytes, size_t offset, char *out, size_t size)
{
    if (out == nullptr || size == 0)
        return 0;
    out[0] = '\0';
    if (record == nullptr || offset >= recordBytes)
        return 0;
    size_t length = 0;
    const size_t room = recordBytes - offset;
    while (length < room && length + 1 < size && record[offset + length] != 0) {
        out[length] = static_cast<char>(record[offset + length]);
        ++length;
    }
    out[length] = '\0';
    return length;
}

uint32_t RecordWord(const uint8_t *record, size_t recordBytes, size_t offset)
{
    if (record == nullptr || offset > recordBytes || recordBytes - offset < 4)
        return 0;
    return static_cast<uint32_t>(record[offset]) | static_cast<uint32_t>(record[offset + 1]) << 8 |
           static_cast<uint32_t>(record[offset + 2]) << 16 | static_cast<uint32_t>(record[offset + 3]) << 24;
}
