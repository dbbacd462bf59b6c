#include "kdl_format.h"

#include "kdl_entry.h"

#include <algorithm>

namespace {

constexpr const char *kUnknown = "Unknown";

bool IsAsciiAlnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

KdlField FormatByteOrUnknown(uint8_t value)
{
    return value == 0xFF ? KdlField::Of(kUnknown) : KdlField::Printf("%u", static_cast<unsigned>(value));
}

KdlField FormatDwordOrUnknown(uint32_t value)
{
    return value == 0xFFFFFFFFu ? KdlField::Of(kUnknown) : KdlField::Printf("%lu", static_cast<unsigned long>(value));
}

KdlField FormatCharOrUnknown(uint8_t value)
{
    return value == 0xFF ? KdlField::Of(kUnknown) : KdlField::Printf("%c", static_cast<char>(value));
}

KdlField FormatHexByte(uint8_t value)
{
    return KdlField::Printf("%02x", static_cast<unsigned>(value));
}

KdlField FormatHex32(uint32_t value)
{
    return KdlField::Printf("0x%08lX", static_cast<unsigned long>(value));
}

KdlField FormatTemperature(uint8_t celsius)
{
    return celsius == 0xFF ? KdlField::Of(kUnknown) : KdlField::Printf("%uC", static_cast<unsigned>(celsius));
}

KdlField FormatPortName(uint8_t first, uint8_t second)
{
    return KdlField::Printf("%c%c", static_cast<char>(first), static_cast<char>(second));
}

KdlField FormatChassisName(uint8_t number, const char *name)
{
    if (name != nullptr && name[0] != '\0')
        return KdlField::Of(name);
    return FormatByteOrUnknown(number);
}

KdlField FormatChassisPrefix(const char *name)
{
    if (name == nullptr || name[0] == '\0')
        return {};
    return KdlField::Printf("Chassis %s, ", name);
}

KdlField FormatControllerLocation(const KdlClassData &data, size_t offset, uint8_t slot)
{
    KdlField chassis = data.String(offset);
    KdlField slotName = data.String(data.After(offset));
    if (!slotName.empty())
        return KdlField::Printf("%s%s", FormatChassisPrefix(chassis.c_str()).c_str(), slotName.c_str());
    return KdlField::Printf("%sSlot %s", FormatChassisPrefix(chassis.c_str()).c_str(),
                            FormatByteOrUnknown(slot).c_str());
}

KdlField FormatEnclosureId(const char *serial, const KdlClassData &data)
{
    if (serial != nullptr && IsAsciiAlnum(serial[0]))
        return KdlField::Printf("Enclosure Serial Number %.16s", serial);
    return KdlField::Printf("Enclosure Address %04X", static_cast<unsigned>(data.Byte(1) << 8 | data.Byte(2)));
}

KdlField FormatStorageDevice(uint8_t box, uint8_t bay, uint8_t type)
{
    unsigned b = box, y = bay;
    switch (type) {
    case 1: return KdlField::Printf("SATA Device, Box %u, Bay %u", b, y);
    case 2: return KdlField::Printf("SAS Device, Box %u, Bay %u", b, y);
    case 5: return KdlField::Printf("SAS Expander, Box %u, Bay %u", b, y);
    case 16: return KdlField::Of("Switch Expander");
    case 17: return KdlField::Of("Unknown Device Type");
    case 254: return KdlField::Of("SAS Controller");
    default: return KdlField::Printf("Unknown Device Type 0x%02X, Box %u, Bay %u", static_cast<unsigned>(type), b, y);
    }
}

uint32_t BigEndianValue(const KdlClassData &data, size_t offset, uint8_t count)
{
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = value << 8 | data.Byte(offset + i);
    return value;
}

KdlField SqueezeSpaces(const char *source, size_t capacity)
{
    KdlField field;
    if (source == nullptr || capacity == 0)
        return field;
    const size_t last = std::min(capacity, sizeof field.Text) - 1; // room for the NUL
    size_t out = 0;
    bool pendingBlank = false;
    for (const char *p = source; *p != '\0'; ++p) {
        if (IsSpace(*p)) {
            pendingBlank = out > 0;
            continue;
        }
        // A blank is written only together with the character after it, so none ends the text.
        if (out + (pendingBlank ? 2 : 1) > last)
            break;
        if (pendingBlank)
            field.Text[out++] = ' ';
        pendingBlank = false;
        field.Text[out++] = *p;
    }
    field.Text[out] = '\0';
    return field;
}
