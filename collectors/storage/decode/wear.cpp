#include "wear.h"

#include "big_endian.h"

#include <cstring>

bool ParseWearLog(const uint8_t *data, size_t size, WEAR_LOG *log)
{
    ByteReader reader(data, size);
    const uint8_t *version = reader.At(64, 4);
    uint16_t hours = 0;
    uint16_t used = 0;
    uint8_t flags = 0;
    if (version == nullptr || std::memcmp(version, "QZ03", 4) < 0 || !BeU16(reader, 18, &hours) ||
        !BeU16(reader, 26, &used) || !U8At(reader, 14, &flags))
        return false;
    log->PowerOnHours = hours;
    log->EnduranceUsed = used;
    log->WearLimit = (flags & 0x08) != 0;
    return true;
}

WEAR_ESTIMATE EstimateWear(uint32_t powerOnHours, uint32_t enduranceUsed, bool wearLimit, bool outOfRangeBefore)
{
    WEAR_ESTIMATE estimate = {powerOnHours, enduranceUsed, WEAR_NOT_AVAILABLE, WEAR_STATUS_OK, outOfRangeBefore, false};
    uint32_t &p = estimate.PowerOnHours;
    uint32_t &u = estimate.EnduranceUsed;
    if (p == 0xFFFF || u >= 0x8000) {
        p = u = WEAR_NOT_AVAILABLE;
        estimate.OutOfRange = true;
    }
    if (p != 0 && p != WEAR_NOT_AVAILABLE && u != 0 && u != WEAR_NOT_AVAILABLE) {
        // Once the endurance is used up nothing remains: the formula would go negative there, and
        // a negative float converted to an unsigned number is undefined.
        if (u >= 10000) {
            estimate.RemainingHours = 0;
        } else {
            float hours = static_cast<float>(p);
            float fraction = static_cast<float>(u) / 10000.0f;
            estimate.RemainingHours = static_cast<uint32_t>(hours / fraction - hours);
        }
    }
    estimate.Status = estimate.RemainingHours / 24 <= 56 ? WEAR_STATUS_LIFE_56_DAYS : WEAR_STATUS_OK;
    if (p == 0 || u == 0)
        estimate.Status = WEAR_STATUS_OK;
    if (u >= 9500)
        estimate.Status = WEAR_STATUS_USED_95;
    if (u >= 9800)
        estimate.Status = WEAR_STATUS_USED_98;
    if (u >= 10000 && wearLimit) {
        estimate.Status = WEAR_STATUS_USED_UP;
        estimate.WornOut = true;
    }
    if (estimate.OutOfRange)
        estimate.Status = WEAR_STATUS_NOT_AVAILABLE;
    return estimate;
}
