#include "sim_xide_raid.h"

#include <cstring>

namespace {
constexpr DWORD kPassThroughDirect = 0x4D014;

void Put32(uint8_t *at, uint32_t value) { std::memcpy(at, &value, 4); }

void PutEntry(uint8_t *entry, const SimXideRaid::Member &member)
{
    std::memset(entry + 2, ' ', 40);
    std::memcpy(entry + 2, member.Model.data(), member.Model.size() < 40 ? member.Model.size() : 40);
    std::memset(entry + 83, ' ', 20);
    std::memcpy(entry + 83, member.Serial.data(), member.Serial.size() < 20 ? member.Serial.size() : 20);
    Put32(entry + 128, member.State);
}
} // namespace

DWORD SimXideRaid::Answer(uint32_t code, uint8_t *block, uint32_t size)
{
    Codes.push_back(code);
    uint8_t position = block[28];
    switch (code) {
    case 17:
        if (size < 136)
            return ERROR_INVALID_PARAMETER;
        block[28] = InfoOk ? 1 : 0;
        block[72] = Bus, block[73] = Device, block[74] = Function;
        Put32(block + 76, BoardId);
        return 0;
    case 18: {
        if (size < 1360)
            return ERROR_INVALID_PARAMETER;
        Put32(block + 40, MemberListValid ? 8 : 0);
        Put32(block + 52, static_cast<uint32_t>(MemberList.size()));
        for (size_t i = 0; i < MemberList.size() && 72 + (i + 1) * 156 <= size; ++i)
            PutEntry(block + 72 + i * 156, MemberList[i]);
        return 0;
    }
    case 1: {
        if (size < 692)
            return ERROR_INVALID_PARAMETER;
        auto drive = Drives.find(block[60]);
        if (drive == Drives.end()) {
            Put32(block + 64, 255);
            return 0;
        }
        const LogicalDrive &d = drive->second;
        Put32(block + 32, 1);
        Put32(block + 36, d.Level);
        Put32(block + 40, d.Stripe);
        Put32(block + 48, static_cast<uint32_t>(d.Members.size()));
        Put32(block + 52, d.Capacity);
        Put32(block + 56, d.Status);
        for (size_t i = 0; i < d.Members.size() && 68 + (i + 1) * 156 <= size; ++i)
            PutEntry(block + 68 + i * 156, d.Members[i]);
        return 0;
    }
    case 21:
    case 23: {
        if (position > 3 || !Disks[position])
            return ERROR_IO_DEVICE;
        SimAtaDisk &disk = *Disks[position];
        uint8_t data[512] = {};
        uint8_t status = 0, mid = 0, high = 0;
        if (code == 23) {
            if (size < 572 || block[53] != 0xEC)
                return ERROR_INVALID_PARAMETER;
            SimAtaCommand command{0xEC, 0, 0, 0, 0, block[52], "xide"};
            if (!disk.Execute(command, data, &status, &mid, &high))
                return ERROR_IO_DEVICE;
            std::memcpy(block + 57, data, 512);
            return 0;
        }
        if (size < 544 || block[29] != 0xDA)
            return ERROR_INVALID_PARAMETER;
        SimAtaCommand command{0xB0, 0xDA, 0, 0x4F, 0xC2, 0xA0, "xide"};
        disk.Execute(command, data, &status, &mid, &high);
        block[29] = mid == 0xF4 && high == 0x2C ? 5 : 4;
        return 0;
    }
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

DWORD SimXideRaid::Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned)
{
    *returned = 0;
    if (code != kPassThroughDirect)
        return ERROR_INVALID_FUNCTION;
    if (inSize < 56 || outSize < 56)
        return ERROR_INVALID_PARAMETER;
    const auto *request = static_cast<const uint8_t *>(in);
    uint32_t length = 0;
    uint8_t *block = nullptr;
    std::memcpy(&length, request + 12, 4);
    std::memcpy(&block, request + 24, sizeof block);
    if (request[36] != 0xFF || request[8] != 1 || block == nullptr || length < 32 ||
        std::memcmp(block + 4, "$XIDE$", 6) != 0)
        return ERROR_INVALID_PARAMETER;
    uint32_t requestCode = 0;
    std::memcpy(&requestCode, block + 16, 4);
    DWORD result = Answer(requestCode, block, length);
    if (result == 0) {
        if (out != in)
            std::memcpy(out, in, 56);
        *returned = 56;
    }
    return result;
}
