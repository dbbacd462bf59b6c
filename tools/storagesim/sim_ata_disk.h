#pragma once
// An ATA disk of the simulated storage server. One command model answers three ways in: the
// S.M.A.R.T. I/O controls and ATA pass-through of a physical drive (hang it on a
// SimPhysicalDrive's Disk), and STP pass-through behind a CSMI controller (attach StpTarget()).
// It knows IDENTIFY DEVICE, S.M.A.R.T. RETURN STATUS, READ DATA, READ THRESHOLDS, READ LOG and
// WRITE LOG (the SCT temperature table), and READ LOG EXT of the logs a scenario sets.

#include "sim_device.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

struct SimAtaCommand {
    uint8_t Command = 0, Features = 0, LbaLow = 0, LbaMid = 0, LbaHigh = 0, Device = 0;
    std::string Path;   // "smart", "apt" or "stp"
};

class SimAtaDisk : public SimDevice {
public:
    SimAtaDisk();
    std::vector<uint8_t> Identify;         // 512 bytes
    std::vector<uint8_t> Attributes;       // 512 bytes; attribute table from offset 2
    std::vector<uint8_t> Thresholds;       // 512 bytes
    std::map<std::pair<uint8_t, uint8_t>, std::vector<uint8_t>> Logs;   // READ LOG EXT by (address, page)
    std::vector<uint8_t> SctTable;         // empty: SCT not supported
    bool Exceeded = false;                 // RETURN STATUS reports the threshold exceeded
    bool DeviceFault = false;              // status register DF bit
    std::vector<SimAtaCommand> Commands;   // every command the disk saw, in order

    // Scenario helpers.
    void SetIdentity(const char *model, const char *serial, const char *firmware, uint64_t sectors);
    void SetWord(size_t word, uint16_t value);
    void SetAttribute(size_t entry, uint8_t id, uint32_t raw);
    void SetThreshold(size_t entry, uint8_t id, uint8_t threshold);
    size_t CountCommands(uint8_t command, uint8_t features = 0) const;

    DWORD Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned) override;
    // The target STP requests reach when attached behind a CSMI controller.
    std::shared_ptr<SimSasTarget> StpTarget();

    // Runs one command: data in or out (512 bytes); the output registers status, LBA mid and
    // high. False when the disk aborts the command.
    bool Execute(const SimAtaCommand &command, uint8_t *data, uint8_t *status, uint8_t *lbaMid, uint8_t *lbaHigh);

private:
    std::vector<uint8_t> m_SctRequest;
};
