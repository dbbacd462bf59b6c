#pragma once
// Reading a storage key's numbered records back. Values are taken by their names ("AtaDisk000",
// "Instance1"...) in the order of the numbers in them, never in the registry's enumeration order
// (Windows enumerates in creation order, Wine sorted by name); a value of the wrong size or the
// wrong type is skipped.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class RecordNumberBase { Hex, Decimal };

// The number a value name carries after the prefix (compared without case), or nothing when the
// name is not prefix + digits of the base.
std::optional<uint32_t> RecordNumber(const char *name, const char *prefix, RecordNumberBase base);

struct STORAGE_RECORD_VALUE {
    uint32_t Number;
    std::vector<uint8_t> Data;
};
// The records of the key at HKLM\SYSTEM + the row's path. A Win32 code; the records come back
// sorted by number.
LONG ReadStorageRecords(int row, const char *prefix, RecordNumberBase base, size_t recordSize,
                        std::vector<STORAGE_RECORD_VALUE> *records);
