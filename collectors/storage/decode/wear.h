#pragma once
// The vendor wear log of solid-state disks (the same 512 bytes whether read with SCSI LOG SENSE
// or ATA READ LOG EXT) and the estimate of remaining life and wear status that the SAS and IDE
// layers both make from it.

#include <cstddef>
#include <cstdint>

constexpr uint32_t WEAR_NOT_AVAILABLE = 0xFFFFFFFF;

struct WEAR_LOG {
    uint32_t PowerOnHours;    // big-endian 16-bit at 18
    uint32_t EnduranceUsed;   // big-endian 16-bit at 26, 0.01 % units
    bool WearLimit;           // byte 14 bit 3
};
// False when the log is shorter than its fields or its version text (bytes 64 to 67) compares
// below "QZ03".
bool ParseWearLog(const uint8_t *data, size_t size, WEAR_LOG *log);

enum WearStatus : uint8_t {
    WEAR_STATUS_NOT_AVAILABLE = 1,
    WEAR_STATUS_OK = 2,
    WEAR_STATUS_LIFE_56_DAYS = 3,
    WEAR_STATUS_USED_95 = 4,
    WEAR_STATUS_USED_98 = 5,
    WEAR_STATUS_USED_UP = 6,
};

struct WEAR_ESTIMATE {
    uint32_t PowerOnHours;
    uint32_t EnduranceUsed;
    uint32_t RemainingHours;
    uint8_t Status;          // WearStatus
    bool OutOfRange;         // this reading (or an earlier one the caller passes) was out of range
    bool WornOut;            // endurance used up with the wear-limit flag: the disk's status changes
};

// outOfRangeBefore: an earlier out-of-range reading that the caller keeps (the SAS layer keeps
// it for the drive's lifetime, the IDE layer passes false).
WEAR_ESTIMATE EstimateWear(uint32_t powerOnHours, uint32_t enduranceUsed, bool wearLimit, bool outOfRangeBefore);
