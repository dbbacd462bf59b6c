#pragma once
// Devices on the simulated SAS fabric: a SCSI disk answering SSP pass-through, a SATA disk behind
// the SAS adapter (the adapter translates SCSI commands to its ATA model; STP reaches the ATA
// model directly) and an SMP expander. Attach them to a SimCsmiController at the phy and SAS
// address a request carries; a drive behind an expander is attached at the expander's phy.

#include "sim_ata_disk.h"
#include "sim_device.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// The data of an SSP command: opcode, the page (or service action) byte it carries.
struct SimScsiCommand {
    uint8_t Opcode = 0;
    uint8_t Page = 0;
};

class SimScsiDisk : public SimSasTarget {
public:
    SimScsiDisk();
    // Standard INQUIRY (116 bytes); SetIdentity fills vendor, product and revision.
    std::vector<uint8_t> Inquiry;
    std::string Serial;                 // unit serial number page text (as the drive pads it)
    uint64_t LastLba = 0x1FFFFF;        // above 0xFFFFFFFF READ CAPACITY (10) reports all ones
    uint32_t BlockLength = 512;
    bool IeDisabled = false;            // DEXCPT of the mode page 0x1C
    uint8_t IeCode = 0, IeQualifier = 0;// additional sense code and qualifier of log page 0x2F
    uint32_t Rpm = 10000;               // mode page 0x04; 1 for a solid-state drive
    uint8_t DefectFormat = 0;
    uint16_t DefectListLength = 0;
    uint8_t Temperature = 30, ReferenceTemperature = 65;
    std::vector<uint8_t> LogPages = {0x00, 0x0D, 0x2F};   // supported log pages
    std::vector<uint8_t> WearLog;       // page 0x36 (512 bytes); empty: not answered
    uint8_t Peripheral = 0;             // INQUIRY byte 0: 0 disk, 1 tape, 13 enclosure
    // Whole replies in place of the model's, by opcode << 8 | page (page 0 for commands without).
    std::map<uint32_t, std::vector<uint8_t>> Raw;
    // Commands that fail with CHECK CONDITION, by the same key.
    std::map<uint32_t, bool> Fail;
    std::vector<SimScsiCommand> Commands;

    void SetIdentity(const char *vendor, const char *product, const char *revision, const char *serial);
    size_t CountCommands(uint8_t opcode) const;

    DWORD Ssp(uint8_t *buffer, DWORD size) override;

protected:
    // The reply data of one CDB; false: CHECK CONDITION.
    virtual bool Answer(const uint8_t *cdb, std::vector<uint8_t> *data);
};

// A SATA disk behind the SAS adapter: SCSI commands answered from the ATA model the way the
// adapter's translation layer does; STP goes to the ATA model itself.
class SimSataBehindSas : public SimScsiDisk {
public:
    explicit SimSataBehindSas(std::shared_ptr<SimAtaDisk> disk);
    DWORD Stp(uint8_t *buffer, DWORD size) override;
    std::shared_ptr<SimAtaDisk> Disk;

protected:
    bool Answer(const uint8_t *cdb, std::vector<uint8_t> *data) override;

private:
    std::shared_ptr<SimSasTarget> m_Stp;
};

// An SMP expander: REPORT GENERAL, DISCOVER per phy and REPORT MANUFACTURER INFORMATION.
class SimSmpExpander : public SimSasTarget {
public:
    struct Phy {
        uint8_t AttachedType = 0;       // 0 none, 1 end device, 2 edge, 3 fan-out expander
        uint8_t TargetFlags = 0;        // 1 SATA, 2 SMP, 4 STP, 8 SSP
        uint8_t AttachedAddress[8] = {};
        bool Virtual = false;
    };
    uint8_t SasAddress[8] = {};
    std::vector<Phy> Phys;
    std::string Vendor = "QZ", Product = "SIM EXPANDER", Revision = "0001";
    // Whole response frames in place of the model's, by function; empty: the model answers.
    std::map<uint8_t, std::vector<uint8_t>> Raw;
    size_t Requests = 0;

    void SetPhy(size_t phy, uint8_t type, uint8_t flags, const uint8_t address[8], bool isVirtual = false);
    DWORD Smp(uint8_t *buffer, DWORD size) override;
};

// Eight-byte SAS addresses for scenarios: 0x5000C500 00000000 + n.
void SimSasAddress(uint64_t n, uint8_t out[8]);
