// The wear log of a solid-state disk and the estimate made from it: any bytes decode or are
// refused, and the estimate leaves nothing remaining once the endurance is used up.
#include "wear.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> log(data, data + size);
    WEAR_LOG parsed;
    if (!ParseWearLog(log.data(), log.size(), &parsed))
        return 0;
    WEAR_ESTIMATE estimate = EstimateWear(parsed.PowerOnHours, parsed.EnduranceUsed, parsed.WearLimit, false);
    if (estimate.Status < WEAR_STATUS_NOT_AVAILABLE || estimate.Status > WEAR_STATUS_USED_UP)
        std::abort();
    if (!estimate.OutOfRange && parsed.PowerOnHours != 0 && parsed.EnduranceUsed >= 10000 &&
        estimate.RemainingHours != 0)
        std::abort();
    return 0;
}
