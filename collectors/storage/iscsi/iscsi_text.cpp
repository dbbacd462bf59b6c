#include "iscsi_text.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool IsZeroGroup(const std::string &group)
{
    return group == "0000";
}

} // namespace

void FormatIscsiIpv6(const uint8_t address[16], char text[ISCSI_ADDRESS_TEXT_BYTES + 1])
{
    std::string groups[8];
    for (int i = 0; i < 8; ++i) {
        char digits[5];
        std::snprintf(digits, sizeof digits, "%.2X%.2X", address[2 * i], address[2 * i + 1]);
        groups[i] = digits;
    }
    // Group 0 is never shortened; the first zero group after it starts the one shortening.
    std::string result = groups[0];
    bool compressionFree = true;
    bool colonNeeded = true;
    for (int i = 1; i <= 6; ++i) {
        if (IsZeroGroup(groups[i]) && IsZeroGroup(groups[i + 1]) && compressionFree) {
            result += "::";
            colonNeeded = false;
            compressionFree = false;
        } else if (IsZeroGroup(groups[i]) && !IsZeroGroup(groups[i + 1]) && compressionFree) {
            result += ":0:";
            colonNeeded = false;
            compressionFree = false;
        } else if (IsZeroGroup(groups[i]) && !colonNeeded) {
            // Still inside the shortened run.
        } else {
            if (colonNeeded)
                result += ":";
            result += groups[i];
            colonNeeded = true;
        }
    }
    if (!IsZeroGroup(groups[7])) {
        if (colonNeeded)
            result += ":";
        result += groups[7];
    } else if (colonNeeded) {
        result += ":0";
    }
    size_t length = result.size() < ISCSI_ADDRESS_TEXT_BYTES ? result.size() : ISCSI_ADDRESS_TEXT_BYTES;
    std::memcpy(text, result.data(), length);
    text[length] = '\0';
}

uint64_t DecimalTextToUInt64(const char *text)
{
    if (text == nullptr)
        return 0;
    uint64_t value = 0;
    for (const char *at = text; *at >= '0' && *at <= '9'; ++at) {
        unsigned digit = static_cast<unsigned>(*at - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return UINT64_MAX;
        value = value * 10 + digit;
    }
    return value;
}

size_t Utf8CutLength(const char *text, size_t length, size_t maxBytes)
{
    if (length <= maxBytes)
        return length;
    size_t cut = maxBytes;
    // Back off over continuation bytes to the start of the character that does not fit.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}
