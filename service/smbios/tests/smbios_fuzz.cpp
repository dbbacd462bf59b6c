// Any bytes as an SMBIOS copy: the walk must stay inside the table, hand out only whole
// structures and terminated strings, and end.
#include "smbios_table.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CSMBIOSTable table(std::vector<uint8_t>(data, data + size));
    const uint8_t *begin = table.Copy().data();
    const uint8_t *end = begin + table.TableEnd();

    size_t visited = 0;
    const uint8_t *structure = nullptr;
    while (table.NextStructure(&structure)) {
        if (structure < begin + sizeof(SMBIOS_RAW_HEADER) || structure + 4 > end || structure[1] < 4 ||
            structure + structure[1] > end)
            __builtin_trap();
        for (unsigned number = 0; number < 6; ++number) {
            const char *text = table.GetString(structure, number);
            if (text == nullptr)
                __builtin_trap();
            // Inside the table (or the static empty string), and terminated there.
            const uint8_t *at = reinterpret_cast<const uint8_t *>(text);
            if (*text != '\0' && (at < structure + structure[1] || std::memchr(at, 0, end - at) == nullptr))
                __builtin_trap();
        }
        const unsigned count = table.CountStructures(structure[0]);
        if (count == 0 || table.FindStructure(structure[0], count) != nullptr ||
            table.FindStructure(structure[0], 0) == nullptr)
            __builtin_trap();
        // Every step moves forward by at least a header and its two NULs.
        if (++visited > size / 6 + 1)
            __builtin_trap();
    }
    return 0;
}
