// Any bytes as a hot fix's InstalledOn: a date found is a real calendar date, and its forms are
// well made.
#include "software_text.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const INSTALLED_ON on = ParseInstalledOn(std::string_view(reinterpret_cast<const char *>(data), size));
    if (on.kind == INSTALLED_ON::Date) {
        const SOFTWARE_DATE &d = on.date;
        if (d.year <= 1000 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31)
            __builtin_trap();
        uint8_t bytes[8];
        SoftwareDateAndTime(d, bytes);
        if (SoftwareDateText(d).size() != 10)
            __builtin_trap();
    } else if (on.kind == INSTALLED_ON::FileTime && on.fileTime == 0) {
        __builtin_trap();
    }
    return 0;
}
