// Attribute and threshold tables, device statistics, SCT table and log directory: any bytes,
// nothing read past them.
#include "ata_decode.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> bytes(data, data + size);
    const uint8_t *p = bytes.data();
    uint32_t raw = 0;
    uint8_t a = 0, b = 0;
    for (uint8_t id : {uint8_t{9}, uint8_t{0xC2}}) {
        SmartFirstAttributeRaw32(p, size, id, &raw);
        SmartLastAttributeRawByte(p, size, id, &a);
        SmartLastThreshold(p, size, id, &a);
    }
    if (AtaTemperatureStatistics(p, size, &a, &b) && size < 89)
        std::abort();
    if (SctTemperatures(p, size, &a, &b) && size < 8)
        std::abort();
    if (LogDirectoryHasWearLog(p, size) && size < 2 * ATA_WEAR_LOG_ADDRESS + 2)
        std::abort();
    return 0;
}
