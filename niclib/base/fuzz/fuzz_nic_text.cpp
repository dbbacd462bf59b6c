// An interface row's description bytes and registry string data of any content and length.
#include "nic_text.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8)
        return 0;
    uint32_t type = 0;
    uint32_t declared = 0;
    std::memcpy(&type, data, 4);
    std::memcpy(&declared, data + 4, 4);
    const uint8_t *field = data + 8;
    const size_t fieldSize = size - 8 < 256 ? size - 8 : 256;
    const size_t length = InterfaceDescriptionLength(field, fieldSize, declared);
    if (length > fieldSize)
        __builtin_trap();
    std::wstring description(field, field + length); // each byte one character
    (void)IsRealInterfaceDescription(type & 0x1F, declared, description);
    const size_t units = FirstRegistryStringUnits(data + 8, size - 8);
    if (units * 2 > size - 8)
        __builtin_trap();
    return 0;
}
