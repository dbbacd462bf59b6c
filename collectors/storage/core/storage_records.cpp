#include "storage_records.h"

#include "storage_keys.h"

#include <algorithm>
#include <cctype>
#include <cstring>

std::optional<uint32_t> RecordNumber(const char *name, const char *prefix, RecordNumberBase base)
{
    size_t prefixLength = std::strlen(prefix);
    if (_strnicmp(name, prefix, prefixLength) != 0)
        return std::nullopt;
    const char *digits = name + prefixLength;
    if (*digits == '\0')
        return std::nullopt;
    uint64_t number = 0;
    for (const char *at = digits; *at != '\0'; ++at) {
        int digit;
        unsigned char c = static_cast<unsigned char>(*at);
        if (std::isdigit(c))
            digit = c - '0';
        else if (base == RecordNumberBase::Hex && std::isxdigit(c))
            digit = std::toupper(c) - 'A' + 10;
        else
            return std::nullopt;
        number = number * (base == RecordNumberBase::Hex ? 16 : 10) + static_cast<unsigned>(digit);
        if (number > 0xFFFFFFFFu)
            return std::nullopt;
    }
    return static_cast<uint32_t>(number);
}

LONG ReadStorageRecords(int row, const char *prefix, RecordNumberBase base, size_t recordSize,
                        std::vector<STORAGE_RECORD_VALUE> *records)
{
    records->clear();
    std::string path = std::string("SYSTEM\\") + StorageKeyPath(row);
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS)
        return result;
    std::vector<uint8_t> data(recordSize + 1);
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        DWORD type = 0;
        // One byte more than a record: a longer value then reads as too long, not as a record.
        DWORD size = static_cast<DWORD>(data.size());
        result = RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data.data(), &size);
        if (result == ERROR_NO_MORE_ITEMS) {
            result = ERROR_SUCCESS;
            break;
        }
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            break;
        std::optional<uint32_t> number = RecordNumber(name, prefix, base);
        if (!number || type != REG_BINARY || size != recordSize)
            continue;
        records->push_back({*number, std::vector<uint8_t>(data.begin(), data.begin() + static_cast<long>(recordSize))});
    }
    RegCloseKey(key);
    std::stable_sort(records->begin(), records->end(),
                     [](const STORAGE_RECORD_VALUE &a, const STORAGE_RECORD_VALUE &b) { return a.Number < b.Number; });
    return result;
}
