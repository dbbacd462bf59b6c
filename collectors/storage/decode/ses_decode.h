#pragma once
// Pages of an enclosure's SCSI Enclosure Services: the configuration (1) and status (2) pages,
// walked together for the states of power supplies, fans and temperature sensors and the bay
// slots, and the additional element status page (10) with the devices in the bays. Every walk
// stays inside the page length, the bytes the device returned and the caller's arrays.

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t SES_BAY_SLOTS = 261;

struct SES_STATUS_SUMMARY {
    // Highest (from 1) and lowest (from 5) rank seen per kind.
    uint8_t PowerHigh = 1, PowerLow = 5;
    uint8_t FanHigh = 1, FanLow = 5;
    uint8_t TemperatureHigh = 1, TemperatureLow = 5;
    bool HaveBays = false;
    uint8_t BayCount = 0;
    // Status code of descriptor j of the array-device-slot element (0 the overall one); slots
    // past the array are not kept.
    uint8_t BayStatus[SES_BAY_SLOTS] = {};
};

// False when the configuration page is too short for its header; a status page that is too short
// ends the walk where it ends.
bool DecodeSesStatus(const uint8_t *config, size_t configReturned, const uint8_t *status, size_t statusReturned,
                     SES_STATUS_SUMMARY *summary);

// The ranks of a status code, 0 for codes that are skipped (0 and 8 to 15).
uint8_t SesPowerRank(uint8_t code);
uint8_t SesFanRank(uint8_t code);
uint8_t SesTemperatureRank(uint8_t code);

// Statuses and conditions of the box record from the highest and lowest ranks.
uint8_t SesPowerStatus(uint8_t high, uint8_t low);
uint8_t SesPowerCondition(uint8_t status);
uint8_t SesTemperatureStatus(uint8_t high, uint8_t low);
uint8_t SesTemperatureCondition(uint8_t status);
uint8_t SesFanStatus(uint8_t high, uint8_t low);
uint8_t SesFanCondition(uint8_t status);

// One phy of a device in a bay, from the additional element status page.
struct SES_BAY_DEVICE {
    uint32_t Slot;           // k: the count of SAS protocol parts, from 1
    uint8_t BayNumber;       // part byte 3 when not 0, else k (cut to a byte)
    uint8_t DeviceType;      // phy byte 0 AND 0x70
    uint8_t TargetFlags;     // phy byte 3
    uint8_t SasAddress[8];   // phy bytes 12 to 19
};
// Phys whose attached SAS address (bytes 4 to 11) is not zero.
bool DecodeSesAdditional(const uint8_t *page, size_t returned, std::vector<SES_BAY_DEVICE> *devices);
