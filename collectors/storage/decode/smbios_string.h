#pragma once
// The string of an SMBIOS structure whose string number is the byte at an offset of the
// formatted area; "" when the offset lies outside that area (an older structure version that
// ends before the field) or the number is 0 or past the string set.

#include <cstddef>

#include "smbios_table.h"

const char *SmbiosStringAt(const CSMBIOSTable &table, const uint8_t *structure, size_t offset);
