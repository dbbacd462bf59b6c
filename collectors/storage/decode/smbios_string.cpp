#include "smbios_string.h"

namespace {

// Only a structure the walk accepted whole has a formatted length that can be trusted.
bool IsStructureOf(const CSMBIOSTable &table, const uint8_t *structure)
{
    for (const uint8_t *walk = nullptr; table.NextStructure(&walk);) {
        if (walk == structure)
            return true;
    }
    return false;
}

} // namespace

const char *SmbiosStringAt(const CSMBIOSTable &table, const uint8_t *structure, size_t offset)
{
    if (structure == nullptr || !IsStructureOf(table, structure))
        return "";
    size_t formatted = structure[1];
    if (offset < sizeof(SMBIOS_STRUCTURE_HEADER) || offset >= formatted)
        return "";
    return table.GetString(structure, structure[offset]);
}
