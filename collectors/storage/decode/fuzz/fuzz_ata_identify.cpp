// IDENTIFY data and the S.M.A.R.T. reply around it: any bytes decode or are refused, texts stay
// inside their fields, and the byte count shown never falls below the exact size's gigabyte.
#include "ata_decode.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> reply(data, data + size);
    size_t copy = SmartReplyDataSize(reply.data(), reply.size());
    if (copy > 512 || (copy != 0 && copy + SMART_REPLY_DATA_OFFSET > reply.size()))
        std::abort();
    std::vector<uint8_t> sector(reply.begin() + (size > 16 ? 16 : size), reply.end());
    ATA_IDENTIFY identify;
    if (!DecodeAtaIdentify(sector.data(), sector.size(), &identify))
        return 0;
    if (std::strlen(identify.Model) > 40 || std::strlen(identify.Serial) > 20 || std::strlen(identify.Firmware) > 8)
        std::abort();
    if (identify.TransferMode < 1 || identify.TransferMode > 15)
        std::abort();
    if (identify.CapacityMb != static_cast<uint32_t>(identify.Sectors >> 11))
        std::abort();
    // The IDEMA size is never more than a gigabyte off the exact size, and a disk is never 0 bytes.
    if (identify.Sectors != 0 && identify.CapacityBytes == 0)
        std::abort();
    return 0;
}
