// Enclosure pages: the input split into a configuration and a status page at its first byte,
// and the whole input as an additional element status page. Ranks stay in their range and every
// bay device names a slot that was counted.
#include "ses_decode.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    size_t split = data[0] < size ? data[0] : size;
    std::vector<uint8_t> config(data + 1 < data + split ? data + 1 : data + split, data + split);
    std::vector<uint8_t> status(data + split, data + size);
    SES_STATUS_SUMMARY summary;
    if (DecodeSesStatus(config.data(), config.size(), status.data(), status.size(), &summary)) {
        if (summary.PowerHigh > 5 || summary.FanLow < 1 || summary.TemperatureLow < 1)
            std::abort();
        if (SesPowerStatus(summary.PowerHigh, summary.PowerLow) > 5 || SesFanStatus(summary.FanHigh, summary.FanLow) > 5)
            std::abort();
    }
    std::vector<uint8_t> page(data, data + size);
    std::vector<SES_BAY_DEVICE> devices;
    if (DecodeSesAdditional(page.data(), page.size(), &devices))
        for (const SES_BAY_DEVICE &device : devices)
            if (device.Slot == 0 || device.Slot > size)
                std::abort();
    return 0;
}
