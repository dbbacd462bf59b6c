#include "sim_ata_disk.h"

#include <cstring>

namespace {
constexpr DWORD kSmartSend = 0x7C084;
constexpr DWORD kSmartReceive = 0x7C088;
constexpr DWORD kAtaPassThrough = 0x4D02C;
constexpr size_t kSector = 512;
constexpr size_t kAptHeader = 48;

void PutAtaText(std::vector<uint8_t> &bytes, size_t at, size_t length, const char *text)
{
    std::string padded(text);
    padded.resize(length, ' ');
    for (size_t i = 0; i < length; ++i)
        bytes[at + (i ^ 1)] = static_cast<uint8_t>(padded[i]);
}
} // namespace

SimAtaDisk::SimAtaDisk() : Identify(kSector, 0), Attributes(kSector, 0), Thresholds(kSector, 0) {}

void SimAtaDisk::SetWord(size_t word, uint16_t value)
{
    Identify[2 * word] = static_cast<uint8_t>(value);
    Identify[2 * word + 1] = static_cast<uint8_t>(value >> 8);
}

void SimAtaDisk::SetIdentity(const char *model, const char *serial, const char *firmware, uint64_t sectors)
{
    PutAtaText(Identify, 20, 20, serial);
    PutAtaText(Identify, 46, 8, firmware);
    PutAtaText(Identify, 54, 40, model);
    uint32_t low = sectors > 0x0FFFFFFF ? 0x0FFFFFFF : static_cast<uint32_t>(sectors);
    SetWord(60, static_cast<uint16_t>(low));
    SetWord(61, static_cast<uint16_t>(low >> 16));
    for (size_t i = 0; i < 4; ++i)
        SetWord(100 + i, static_cast<uint16_t>(sectors >> (16 * i)));
}

void SimAtaDisk::SetAttribute(size_t entry, uint8_t id, uint32_t raw)
{
    uint8_t *at = &Attributes[2 + 12 * entry];
    at[0] = id;
    std::memcpy(at + 5, &raw, 4);
}

void SimAtaDisk::SetThreshold(size_t entry, uint8_t id, uint8_t threshold)
{
    Thresholds[2 + 12 * entry] = id;
    Thresholds[2 + 12 * entry + 1] = threshold;
}

size_t SimAtaDisk::CountCommands(uint8_t command, uint8_t features) const
{
    size_t count = 0;
    for (const SimAtaCommand &c : Commands)
        count += c.Command == command && (features == 0 || c.Features == features);
    return count;
}

bool SimAtaDisk::Execute(const SimAtaCommand &command, uint8_t *data, uint8_t *status, uint8_t *lbaMid,
                         uint8_t *lbaHigh)
{
    Commands.push_back(command);
    *status = static_cast<uint8_t>(0x50 | (DeviceFault ? 0x20 : 0));
    *lbaMid = command.LbaMid;
    *lbaHigh = command.LbaHigh;
    auto give = [&](const std::vector<uint8_t> &bytes) {
        if (bytes.size() < kSector)
            return false;
        std::memcpy(data, bytes.data(), kSector);
        return true;
    };
    switch (command.Command) {
    case 0xEC:
        return give(Identify);
    case 0x2F: {
        auto log = Logs.find({command.LbaLow, command.LbaMid});
        return log != Logs.end() && give(log->second);
    }
    case 0xB0:
        if (command.LbaMid != 0x4F || command.LbaHigh != 0xC2)
            return false;
        switch (command.Features) {
        case 0xDA:
            if (Exceeded)
                *lbaMid = 0xF4, *lbaHigh = 0x2C;
            return true;
        case 0xD0:
            return give(Attributes);
        case 0xD1:
            return give(Thresholds);
        case 0xD6:   // SCT command: only "read the temperature history table" is known
            if (command.LbaLow != 0xE0 || SctTable.empty() || data[0] != 5 || data[2] != 1 || data[4] != 2)
                return false;
            m_SctRequest.assign(data, data + kSector);
            return true;
        case 0xD5:
            if (command.LbaLow != 0xE1 || m_SctRequest.empty())
                return false;
            m_SctRequest.clear();
            return give(SctTable);
        default:
            return false;
        }
    default:
        return false;
    }
}

DWORD SimAtaDisk::Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned)
{
    *returned = 0;
    if (code == kSmartReceive || code == kSmartSend) {
        if (inSize < 32)
            return ERROR_INVALID_PARAMETER;
        const auto *request = static_cast<const uint8_t *>(in);
        SimAtaCommand command{request[10], request[4], request[6], request[7], request[8], request[9], "smart"};
        uint8_t data[kSector] = {};
        uint8_t status = 0, mid = 0, high = 0;
        bool ok = Execute(command, data, &status, &mid, &high);
        if (code == kSmartSend) {
            if (outSize < 24)
                return ERROR_INSUFFICIENT_BUFFER;
            std::vector<uint8_t> reply(24, 0);
            reply[16] = command.Features;
            reply[19] = mid;
            reply[20] = high;
            reply[21] = command.Device;
            reply[22] = status;
            *returned = CopyReply(reply, out, outSize);
            return ok ? 0 : ERROR_IO_DEVICE;
        }
        if (!ok)
            return ERROR_IO_DEVICE;
        std::vector<uint8_t> reply(16 + kSector, 0);
        uint32_t size = kSector;
        std::memcpy(reply.data(), &size, 4);
        std::memcpy(reply.data() + 16, data, kSector);
        *returned = CopyReply(reply, out, outSize);
        return 0;
    }
    if (code == kAtaPassThrough) {
        if (inSize < kAptHeader || outSize < kAptHeader)
            return ERROR_INVALID_PARAMETER;
        auto *buffer = static_cast<uint8_t *>(out);
        std::vector<uint8_t> request(static_cast<const uint8_t *>(in), static_cast<const uint8_t *>(in) + inSize);
        uint16_t flags = 0;
        uint32_t length = 0;
        uint64_t offset = 0;
        std::memcpy(&flags, &request[2], 2);
        std::memcpy(&length, &request[8], 4);
        std::memcpy(&offset, &request[24], 8);
        if (length != kSector || offset + kSector > inSize || offset + kSector > outSize)
            return ERROR_INVALID_PARAMETER;
        const uint8_t *task = &request[40];
        SimAtaCommand command{task[6], task[0], task[2], task[3], task[4], task[5], "apt"};
        uint8_t data[kSector] = {};
        std::memcpy(data, &request[offset], kSector);
        uint8_t status = 0, mid = 0, high = 0;
        bool ok = Execute(command, data, &status, &mid, &high);
        std::memcpy(buffer, request.data(), request.size() < outSize ? request.size() : outSize);
        uint32_t moved = ok ? static_cast<uint32_t>(kSector) : 0;
        std::memcpy(&buffer[8], &moved, 4);
        buffer[40 + 3] = mid;
        buffer[40 + 4] = high;
        buffer[40 + 6] = status;
        if (ok && (flags & 2))
            std::memcpy(&buffer[offset], data, kSector);
        *returned = outSize;
        return 0;
    }
    return ERROR_INVALID_FUNCTION;
}

namespace {
// The disk as an STP target: the command FIS at buffer offset 44, the status FIS back at 76.
class AtaStpTarget : public SimSasTarget {
public:
    explicit AtaStpTarget(SimAtaDisk *disk) : m_Disk(disk) {}
    DWORD Stp(uint8_t *buffer, DWORD size) override
    {
        constexpr size_t kFrame = 168;
        if (size < kFrame + kSector)
            return 0;
        const uint8_t *fis = buffer + 44;
        SimAtaCommand command{fis[2], fis[3], fis[4], fis[5], fis[6], fis[7], "stp"};
        uint8_t status = 0, mid = 0, high = 0;
        uint8_t *data = buffer + 164;
        bool ok = m_Disk->Execute(command, data, &status, &mid, &high);
        uint8_t *reply = buffer + 76;
        std::memset(reply, 0, 20);
        reply[0] = 0x34;
        reply[2] = static_cast<uint8_t>(ok ? status : status | 1);
        reply[5] = mid;
        reply[6] = high;
        uint32_t bytes = ok ? static_cast<uint32_t>(kSector) : 0;
        std::memcpy(buffer + 160, &bytes, 4);
        return ok ? size : static_cast<DWORD>(kFrame);
    }

private:
    SimAtaDisk *m_Disk;
};
} // namespace

std::shared_ptr<SimSasTarget> SimAtaDisk::StpTarget()
{
    return std::make_shared<AtaStpTarget>(this);
}
