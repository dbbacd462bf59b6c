#pragma once
// An NVMe disk behind the storage driver ("\\.\PhysicalDriveN"): the NVMe protocol queries
// (Identify Controller, the health information log), the adapter and device descriptors, and
// SCSI pass-through in both forms with the LOG SENSE pages the driver translates (supported
// pages, temperature). Every field can be set to what a real disk or driver gets wrong.

#include "sim_device.h"

#include <cstdint>
#include <string>
#include <vector>

// 4096 bytes of Identify Controller with the texts blank-padded in their fields.
std::vector<uint8_t> MakeNvmeIdentify(const std::string &serial, const std::string &model, const std::string &firmware);
// 512 bytes of the health information log.
std::vector<uint8_t> MakeNvmeHealthLog(uint8_t percentageUsed, uint64_t powerOnHours, uint16_t kelvin = 313);

class SimNvmeDisk final : public SimDevice {
public:
    SimNvmeDisk(const std::string &serial, const std::string &model, const std::string &firmware);

    // ---- What the disk and its driver answer ----
    bool Nvme = true;                       // false: the protocol query is refused, as for SATA disks
    std::vector<uint8_t> Identify;          // 4096 bytes
    std::vector<uint8_t> HealthLog;         // 512 bytes; empty: the log request fails
    bool HealthLogForAllNamespaces = false; // only sub-value 0xFFFFFFFF is answered
    std::vector<uint8_t> SupportedPages = {0x00, 0x02, 0x03, 0x0D, 0x2F};
    uint8_t Temperature = 40;
    uint8_t ReferenceTemperature = 70;
    uint8_t ScsiStatus = 0;                 // not 0: every pass-through ends with it
    uint8_t SrbType = 1;                    // 1: the driver takes the extended pass-through form
    uint32_t AdapterDescriptorBytes = 32;   // the size the adapter descriptor has
    uint32_t AdapterSizeClaimed = 0;        // not 0: the size its header claims instead
    bool Descriptors = true;                // false: property queries other than NVMe are refused

    DWORD Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned) override;

    // ---- What happened ----
    size_t ClassicPassThroughs = 0;
    size_t ExtendedPassThroughs = 0;
    uint32_t LastTimeout = 0;
    std::vector<uint32_t> HealthSubValues;  // sub-value of every health-log request

private:
    DWORD ProtocolQuery(const uint8_t *in, DWORD inSize, uint8_t *out, DWORD outSize, DWORD *returned);
    DWORD Descriptor(uint32_t property, uint8_t *out, DWORD outSize, DWORD *returned);
    // Runs a CDB: the SCSI status, and the data in.
    uint8_t Execute(const uint8_t *cdb, size_t cdbLength, std::vector<uint8_t> *data);
    DWORD PassThrough(const uint8_t *in, DWORD inSize, uint8_t *out, DWORD outSize, DWORD *returned);
    DWORD PassThroughEx(const uint8_t *in, DWORD inSize, uint8_t *out, DWORD outSize, DWORD *returned);
};
