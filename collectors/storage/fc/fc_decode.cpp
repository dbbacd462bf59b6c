#include "fc_decode.h"

#include "byte_reader.h"

#include <cctype>
#include <cstdio>
#include <cstring>

std::string FcFieldText(const char *field, size_t size)
{
    if (field == nullptr)
        return std::string();
    const void *end = std::memchr(field, '\0', size);
    return std::string(field, end ? static_cast<size_t>(static_cast<const char *>(end) - field) : size);
}

std::string FcHexBytesText(const uint8_t *bytes, size_t count, size_t maxBytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; bytes != nullptr && i < count && i < maxBytes; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 15]);
    }
    return text;
}

std::string FcWwnText(const uint8_t wwn[8])
{
    bool zero = true;
    for (int i = 0; i < 8; ++i)
        zero = zero && wwn[i] == 0;
    return zero ? std::string() : FcHexBytesText(wwn, 8, 8);
}

bool DecodeFcCsmiConfig(const uint8_t *config, size_t size, FC_CSMI_CONFIG *out)
{
    ByteReader reader(config, size);
    if (!reader.Has(0, 23))
        return false;
    *out = {};
    reader.U32(12, &out->BoardId);
    reader.U8(18, &out->ControllerClass);
    reader.U8(19, &out->IoBusType);
    reader.U8(20, &out->Bus);
    reader.U8(21, &out->Device);
    reader.U8(22, &out->Function);
    return true;
}

bool DecodeFcmpReply(const uint8_t *data, size_t size, FC_FCMP_REPLY *out)
{
    ByteReader reader(data, size);
    if (!reader.Has(0, 13))
        return false;
    *out = {};
    reader.U32(4, &out->BoardId);
    reader.U8(8, &out->LocationKind);
    reader.U8(10, &out->Bus);
    reader.U8(11, &out->Device);
    reader.U8(12, &out->Function);
    return true;
}

bool FcInstanceDeviceId(const char *name, size_t size, std::string *id)
{
    std::string text = FcFieldText(name, size);
    if (text.size() < 2)
        return false;
    *id = text.substr(0, text.size() - 2);
    return true;
}

bool FcInstanceBoardId(const char *name, size_t size, uint32_t *boardId)
{
    static const char kWord[] = "SUBSYS_";
    const std::string text = FcFieldText(name, size);
    const size_t at = text.find(kWord);
    if (at == std::string::npos)
        return false;
    const size_t digits = at + sizeof kWord - 1;
    if (text.size() - digits < 8)
        return false;
    uint32_t value = 0;
    for (size_t i = digits; i < digits + 8; ++i) {
        const char c = text[i];
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        value = value << 4 | static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                                              : std::tolower(c) - 'a' + 10);
    }
    *boardId = value;
    return true;
}

std::string FcLocationText(int32_t slot, uint32_t portCounter)
{
    const uint32_t value = slot == -1 ? 0u : static_cast<uint32_t>(slot);
    char text[128];
    if (value < 256) {
        std::snprintf(text, sizeof text, "Slot %lu", static_cast<unsigned long>(value));
    } else {
        const int blade = static_cast<int>(value >> 8 & 0xF);
        const int bladeSlot = static_cast<int>(value >> 16 & 0xFF);
        if (portCounter >= 1 && portCounter <= 254)
            std::snprintf(text, sizeof text, "Blade %d Slot %d Port %d", blade, bladeSlot, static_cast<int>(portCounter));
        else
            std::snprintf(text, sizeof text, "Blade %d Slot %d", blade, bladeSlot);
    }
    return text;
}

bool FcParsePciLocation(const char *text, size_t size, unsigned *bus, unsigned *device, unsigned *function)
{
    const std::string bounded = FcFieldText(text, size);
    unsigned b = 0, d = 0, f = 0;
    if (std::sscanf(bounded.c_str(), "0000:%02x:%02x.%01x", &b, &d, &f) != 3)
        return false;
    *bus = b;
    *device = d;
    *function = f;
    return true;
}
