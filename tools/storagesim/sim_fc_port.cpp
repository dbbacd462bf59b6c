#include "sim_fc_port.h"

#include <cstring>

namespace {
constexpr DWORD kScsiMiniport = 0x4D008;
constexpr DWORD kHeader = 28;

void Put32(uint8_t *at, uint32_t value) { std::memcpy(at, &value, 4); }
} // namespace

DWORD SimFcPort::Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned)
{
    *returned = 0;
    if (code != kScsiMiniport)
        return ERROR_INVALID_FUNCTION;
    if (in == nullptr || out == nullptr || inSize < kHeader || outSize < inSize)
        return ERROR_INVALID_PARAMETER;
    if (out != in)
        std::memmove(out, in, inSize);
    auto *buffer = static_cast<uint8_t *>(out);
    char signature[9] = {};
    std::memcpy(signature, buffer + 4, 8);
    uint32_t controlCode = 0;
    std::memcpy(&controlCode, buffer + 16, 4);
    uint8_t *data = buffer + kHeader;
    const DWORD room = inSize - kHeader;
    if (std::strcmp(signature, "ZDTCSMI") == 0 && Csmi && controlCode == 2) {
        ++CsmiRequests;
        if (room < 23)
            return ERROR_INVALID_PARAMETER;
        std::memset(data, 0, room);
        Put32(data + 12, Csmi->BoardId);
        data[18] = Csmi->ControllerClass;
        data[19] = Csmi->IoBusType;
        data[20] = Csmi->Bus, data[21] = Csmi->Device, data[22] = Csmi->Function;
        Put32(buffer + 20, Csmi->ReturnCode);
    } else if (std::strcmp(signature, "FCM&P") == 0 && Slot && controlCode == 2) {
        ++SlotRequests;
        if (room < 13)
            return ERROR_INVALID_PARAMETER;
        std::memset(data, 0, room);
        Put32(data + 4, Slot->BoardId);
        data[8] = Slot->LocationKind;
        data[10] = Slot->Bus, data[11] = Slot->Device, data[12] = Slot->Function;
        Put32(buffer + 20, 0);
    } else {
        return ERROR_INVALID_FUNCTION;
    }
    *returned = inSize;
    return 0;
}
