#include "adapter_ids.h"

#include <array>
#include <cwchar>

namespace {

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

bool IsSpace(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f';
}

// A small scanner with the rules of the C library's scan for the few patterns used here: a
// literal character matches itself, a space in the pattern matches any run of white space, and
// %x / %d read a hexadecimal / decimal number after optional white space (hexadecimal may carry
// "0x"). Returns the fields read before the first mismatch; numbers keep their low 32 bits.
int Scan(std::wstring_view text, std::wstring_view pattern, uint32_t *fields, int maxFields)
{
    size_t t = 0;
    int read = 0;
    for (size_t p = 0; p < pattern.size(); ++p) {
        const wchar_t pc = pattern[p];
        if (pc == L'%' && p + 1 < pattern.size()) {
            const wchar_t kind = pattern[++p];
            while (t < text.size() && IsSpace(text[t]))
                ++t;
            bool negative = false;
            if (t < text.size() && (text[t] == L'-' || text[t] == L'+')) {
                negative = text[t] == L'-';
                ++t;
            }
            const unsigned base = kind == L'x' ? 16 : 10;
            if (base == 16 && t + 2 < text.size() && text[t] == L'0' && (text[t + 1] == L'x' || text[t + 1] == L'X') &&
                HexValue(text[t + 2]) >= 0)
                t += 2;
            uint32_t value = 0;
            size_t digits = 0;
            while (t < text.size()) {
                const int v = base == 16 ? HexValue(text[t]) : (IsDigit(text[t]) ? text[t] - L'0' : -1);
                if (v < 0)
                    break;
                value = value * base + static_cast<uint32_t>(v);
                ++t;
                ++digits;
            }
            if (digits == 0)
                return read;
            if (read < maxFields)
                fields[read] = negative ? 0u - value : value;
            ++read;
            continue;
        }
        if (IsSpace(pc)) {
            while (t < text.size() && IsSpace(text[t]))
                ++t;
            continue;
        }
        if (t >= text.size() || text[t] != pc)
            return read;
        ++t;
    }
    return read;
}

bool Contains(std::wstring_view text, std::wstring_view part)
{
    return text.find(part) != std::wstring_view::npos;
}

// "USB\VID_1B1F&PID_0E21" as the system writes it (upper case).
std::wstring_view MgmtUsbId()
{
    static const std::array<wchar_t, 32> text = [] {
        std::array<wchar_t, 32> t{};
        swprintf(t.data(), t.size(), L"USB\\VID_%04X&PID_%04X", kMgmtProcessorUsbVendorId, kMgmtProcessorUsbProductId);
        return t;
    }();
    return std::wstring_view(text.data());
}

constexpr std::wstring_view kMellanoxIds[] = {
    L"IBA\\IPOIB",         L"IBA\\CONNECTX-3_IPOIB",   L"IBA\\CONNECTX-3PRO_IPOIB",
    L"MLX4\\CONNECTX_ETH", L"MLX4\\CONNECTX-3_ETH",    L"MLX4\\CONNECTX-3PRO_ETH",
};

constexpr std::wstring_view kAcceptedIds[] = {
    L"PCI\\VEN",
    L"B06BDRV\\L2ND",
    L"EBDRV\\L2ND",
    L"QEBDRV\\L2ND",
    L"MLX4\\CONNECTX_ETH",
    L"MLX4\\CONNECTX-3_ETH",
    L"MLX4\\CONNECTX-3PRO_ETH",
    L"IBA\\IPOIB",
    L"IBA\\CONNECTX-3PRO_IPOIB",
    L"VEN_1924",
    L"IBA\\CONNECTX-3_IPOIB",
};

constexpr std::wstring_view kVirtualBusPatterns[] = {
    L"B06BDRV\\L2ND&PCI_%x&SUBSYS_%x&REV_%x",
    L"EBDRV\\L2ND&PCI_%x&SUBSYS_%x&REV_%x",
    L"QEBDRV\\L2ND&PCI_%x&SUBSYS_%x&REV_%x",
};

} // namespace

int32_t GetNextNumber(std::wstring_view text, size_t *consumed)
{
    size_t start = 0;
    while (start < text.size() && !IsDigit(text[start]))
        ++start;
    if (start == text.size())
        return -1;
    size_t end = start;
    uint32_t value = 0;
    bool saturated = false;
    while (end < text.size() && IsDigit(text[end])) {
        if (!saturated) {
            value = value * 10 + static_cast<uint32_t>(text[end] - L'0');
            if (value > 0x7FFFFFFFu / 10 && end + 1 < text.size() && IsDigit(text[end + 1]))
                saturated = true;
        }
        ++end;
    }
    if (saturated || value > 0x7FFFFFFFu)
        value = 0x7FFFFFFFu;
    if (consumed != nullptr)
        *consumed = end;
    return static_cast<int32_t>(value);
}

int32_t GetNextNumber(const wchar_t *text, size_t *consumed)
{
    return GetNextNumber(text != nullptr ? std::wstring_view(text) : std::wstring_view(), consumed);
}

bool ParsePciHardwareId(std::wstring_view id, uint32_t *pciId, uint32_t *subsystemId)
{
    uint32_t fields[4] = {};
    if (Scan(id, L"PCI\\VEN_%x&DEV_%x&SUBSYS_%x&REV_%x", fields, 4) != 4)
        return false;
    *pciId = (fields[0] << 16) + fields[1];
    *subsystemId = fields[2];
    return true;
}

HARDWAREIDINFO ClassifyHardwareId(std::wstring_view upperId)
{
    HARDWAREIDINFO info;
    const bool mgmtUsb = Contains(upperId, MgmtUsbId());
    bool accepted = mgmtUsb;
    for (std::wstring_view id : kAcceptedIds)
        accepted = accepted || Contains(upperId, id);
    if (!accepted)
        return info;

    if (mgmtUsb) {
        info.family = HardwareIdFamily::kMgmtUsb;
        info.isMgmtUsb = true;
        info.pciId = (static_cast<uint32_t>(kMgmtProcessorUsbVendorId) << 16) | kMgmtProcessorUsbProductId;
        info.subsystemId = 0;
        return info;
    }
    if (ParsePciHardwareId(upperId, &info.pciId, &info.subsystemId)) {
        info.family = HardwareIdFamily::kPci;
        info.isPciId = true;
        return info;
    }
    for (std::wstring_view pattern : kVirtualBusPatterns) {
        uint32_t fields[3] = {};
        if (Scan(upperId, pattern, fields, 3) == 3) {
            info.family = HardwareIdFamily::kVirtualBus;
            info.pciId = fields[0];
            info.subsystemId = fields[1];
            return info;
        }
    }
    if (Contains(upperId, L"VEN_1924")) {
        info.family = HardwareIdFamily::kSolarflare;
        info.isSolarflare = true;
        return info;
    }
    for (std::wstring_view id : kMellanoxIds) {
        if (Contains(upperId, id)) {
            info.family = HardwareIdFamily::kMellanox;
            info.isMellanox = true;
            return info;
        }
    }
    info.family = HardwareIdFamily::kUnparsed;
    return info;
}

uint32_t MellanoxLocationPort(std::wstring_view location)
{
    uint32_t fields[4] = {};
    if (Scan(location, L"MLX4 bus %x, device %x, function %x, port %x", fields, 4) != 4)
        return 0;
    return fields[3];
}

bool ParseSolarflareLocation(std::wstring_view location, uint32_t *bus, uint32_t *device, uint32_t *function)
{
    uint32_t fields[3] = {};
    if (Scan(location, L"PCI bus %d, device %d, function %d", fields, 3) != 3)
        return false;
    *bus = fields[0];
    *device = fields[1];
    *function = fields[2];
    return true;
}

LOCATIONINFO ParseLocationText(std::wstring_view location, bool mellanox)
{
    LOCATIONINFO info;
    // Only the characters that are there are skipped.
    std::wstring_view rest = mellanox ? location.substr(location.size() < 4 ? location.size() : 4) : location;
    int32_t numbers[4] = {-1, -1, -1, -1};
    int found = 0;
    while (found < 4) {
        size_t consumed = 0;
        const int32_t number = GetNextNumber(rest, &consumed);
        if (number == -1 || consumed > rest.size())
            break;
        numbers[found++] = number;
        rest.remove_prefix(consumed);
    }
    info.numbers = found;
    if (found < 4) {
        info.segment = 0;
        info.bus = static_cast<uint32_t>(numbers[0]);
        info.device = static_cast<uint32_t>(numbers[1]);
        info.function = static_cast<uint32_t>(numbers[2]);
    } else if (mellanox) {
        info.segment = 0;
        info.bus = static_cast<uint32_t>(numbers[0]);
        info.device = static_cast<uint32_t>(numbers[1]);
        info.function = static_cast<uint32_t>(numbers[2]);
        info.hasPort = true;
        info.port = numbers[3];
    } else {
        info.segment = static_cast<uint32_t>(numbers[0]);
        info.bus = static_cast<uint32_t>(numbers[1]);
        info.device = static_cast<uint32_t>(numbers[2]);
        info.function = static_cast<uint32_t>(numbers[3]);
    }
    return info;
}
