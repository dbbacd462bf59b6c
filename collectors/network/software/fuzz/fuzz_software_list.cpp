// Any bytes as the software list file: the parser keeps to its bounds.
#include "software_text.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto items = ParseSoftwareList(std::string_view(reinterpret_cast<const char *>(data), size));
    if (items.size() > kSoftwareListMaxItems)
        __builtin_trap();
    for (const SOFTWARE_LIST_ITEM &item : items)
        if (item.name.size() > kSoftwareListMaxLine || item.publisher.size() > kSoftwareListMaxLine ||
            item.version.size() > kSoftwareListMaxLine || item.installLocation.size() > kSoftwareListMaxLine)
            __builtin_trap();
    return 0;
}
