#include "nic_records.h"

#include <cstdio>
#include <cstring>

namespace {

std::wstring Widen(const std::string &text)
{
    return std::wstring(text.begin(), text.end()); // the names are ASCII
}

} // namespace

std::string FormatRecordValueName(const char *prefix, uint32_t number)
{
    char digits[16];
    std::snprintf(digits, sizeof(digits), "%03X", static_cast<unsigned>(number));
    return std::string(prefix) + digits;
}

std::wstring FormatRecordValueNameW(const char *prefix, uint32_t number)
{
    return Widen(FormatRecordValueName(prefix, number));
}

std::string FormatTrapValueName(uint64_t fileTime)
{
    char text[32];
    std::snprintf(text, sizeof(text), "TrapData%.8X%.8X", static_cast<unsigned>(fileTime >> 32),
                  static_cast<unsigned>(fileTime & 0xFFFFFFFFu));
    return text;
}

std::wstring FormatTrapValueNameW(uint64_t fileTime)
{
    return Widen(FormatTrapValueName(fileTime));
}

std::string RecordText(const char *field, size_t fieldSize)
{
    if (field == nullptr)
        return {};
    const void *end = std::memchr(field, 0, fieldSize);
    return std::string(field, end != nullptr ? static_cast<const char *>(end) - field : fieldSize);
}

bool DecodeRecord(const void *data, size_t size, void *record, size_t recordSize)
{
    if (data == nullptr || record == nullptr || size != recordSize)
        return false;
    std::memcpy(record, data, recordSize);
    return true;
}

size_t CountWholeRecords(size_t size, size_t recordSize)
{
    return recordSize != 0 ? size / recordSize : 0;
}
