// CSMI replies as a driver may return them: the first byte picks the decoder, the rest is the
// request buffer. Decoded texts are terminated and decoded data lies inside the buffer.
#include "csmi_reply.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Inside(const std::vector<uint8_t> &buffer, const uint8_t *at, size_t length)
{
    if (length != 0 && (at < buffer.data() || at + length > buffer.data() + buffer.size()))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    std::vector<uint8_t> buffer(data + 1, data + size);
    switch (data[0] % 6) {
    case 0: {
        CSMI_CONTROLLER_CONFIG config;
        if (DecodeCsmiControllerConfig(buffer.data(), buffer.size(), &config) &&
            std::strlen(config.SerialNumber) >= sizeof config.SerialNumber)
            std::abort();
        break;
    }
    case 1: {
        CSMI_CONTROLLER_STATUS status;
        DecodeCsmiControllerStatus(buffer.data(), buffer.size(), &status);
        break;
    }
    case 2: {
        CSMI_RAID_INFO info;
        DecodeCsmiRaidInfo(buffer.data(), buffer.size(), &info);
        break;
    }
    case 3: {
        CSMI_RAID_CONFIG config;
        if (DecodeCsmiRaidConfig(buffer.data(), buffer.size(), &config)) {
            if (config.Drives.size() > config.DriveCount)
                std::abort();
            for (const CSMI_RAID_DRIVE &drive : config.Drives) {
                if (std::strlen(drive.Model) > 40 || std::strlen(drive.SerialNumber) > 40 ||
                    std::strlen(drive.Firmware) > 8)
                    std::abort();
            }
        }
        break;
    }
    case 4: {
        CSMI_PHY_INFO info;
        if (DecodeCsmiPhyInfo(buffer.data(), buffer.size(), &info)) {
            for (const CSMI_PHY_ENTITY_INFO &entity : info.Entities)
                Inside(buffer, entity.Raw, CSMI_PHY_ENTITY_SIZE);
        }
        break;
    }
    default: {
        CSMI_STP_REPLY reply;
        if (DecodeCsmiStpReply(buffer.data(), buffer.size(), &reply))
            Inside(buffer, reply.Data, reply.DataLength);
        break;
    }
    }
    return 0;
}
