// The iSCSI texts made from provider data: any 16 bytes give a bounded address text, any text a
// decimal value that never wraps, and a cut never ends inside a UTF-8 character.
#include "iscsi_text.h"

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size >= 16) {
        char text[ISCSI_ADDRESS_TEXT_BYTES + 1];
        std::memset(text, 'x', sizeof text);
        FormatIscsiIpv6(data, text);
        if (strnlen(text, sizeof text) == sizeof text)
            std::abort();
    }
    std::string input(reinterpret_cast<const char *>(data), size);
    uint64_t value = DecimalTextToUInt64(input.c_str());
    // The value never shrinks when a digit is added behind the leading ones.
    size_t digits = 0;
    while (digits < input.size() && input[digits] >= '0' && input[digits] <= '9')
        ++digits;
    if (digits > 0 && DecimalTextToUInt64(input.substr(0, digits - 1).c_str()) > value)
        std::abort();
    for (size_t limit : {size_t{0}, size_t{1}, size_t{ISCSI_ADDRESS_TEXT_BYTES}, size / 2}) {
        size_t cut = Utf8CutLength(input.data(), input.size(), limit);
        if (cut > limit && cut != input.size())
            std::abort();
        if (cut > input.size() || (cut < input.size() && (static_cast<unsigned char>(input[cut]) & 0xC0) == 0x80 &&
                                   cut != 0))
            std::abort();
    }
    return 0;
}
