#include "port_map_text.h"

#include <climits>

uint8_t SmbiosFormattedByte(const uint8_t *structure, size_t offset)
{
    if (structure == nullptr || offset >= structure[1])
        return 0;
    return structure[offset];
}

namespace {

// atoi without its undefined overflow: optional blanks and sign, then digits, saturated.
int32_t TextNumber(const char *text)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        if (value <= INT32_MAX)
            value = value * 10 + (*text - '0');
    if (negative)
        return value > INT32_MAX ? INT32_MIN : static_cast<int32_t>(-value);
    return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

} // namespace

PortMapSmbiosFacts ReadPortMapSmbiosFacts(const CSMBIOSTable &table)
{
    PortMapSmbiosFacts facts;
    if (const uint8_t *rack = table.FindStructure(kSmbiosRackInformation, 0)) {
        facts.hasRackInfo = true;
        facts.serverBay = TextNumber(table.GetString(rack, SmbiosFormattedByte(rack, kSmbiosServerBayOffset)));
    }
    if (const uint8_t *system = table.FindStructure(kSmbiosSystemInformation, 0)) {
        facts.hasSystemInfo = true;
        facts.productName = table.GetString(system, SmbiosFormattedByte(system, kSmbiosProductNameOffset));
    }
    return facts;
}

long PortMapNextNumber(const wchar_t *text, size_t length, size_t *consumed)
{
    if (text == nullptr)
        return -1;
    size_t start = 0;
    while (start < length && !(text[start] >= L'0' && text[start] <= L'9'))
        ++start;
    if (start == length)
        return -1;
    long value = 0;
    size_t end = start;
    for (; end < length && text[end] >= L'0' && text[end] <= L'9'; ++end)
        value = value > (LONG_MAX - 9) / 10 ? LONG_MAX : value * 10 + (text[end] - L'0');
    if (consumed != nullptr)
        *consumed = end;
    return value;
}

bool ParsePortMapLocation(const wchar_t *text, size_t length, int32_t numbers[4])
{
    long found[4] = {-1, -1, -1, -1};
    size_t position = 0;
    size_t previous = 0;
    for (int i = 0; i < 4; ++i) {
        if (text == nullptr || position > length)
            return false;
        size_t consumed = previous;
        found[i] = PortMapNextNumber(text + position, length - position, &consumed);
        // A missing number leaves the count of the one before, and the scan moves by it again.
        position += consumed;
        previous = consumed;
    }
    auto narrow = [](long value) { return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value); };
    if (found[3] == -1) {
        numbers[0] = -1;
        numbers[1] = narrow(found[0]);
        numbers[2] = narrow(found[1]);
        numbers[3] = narrow(found[2]);
    } else {
        for (int i = 0; i < 4; ++i)
            numbers[i] = narrow(found[i]);
    }
    return true;
}
