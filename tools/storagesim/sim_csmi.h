#pragma once
// A CSMI controller behind a SCSI port: the replies of the information requests (configuration,
// status, PHYs, connectors, location, SCSI address, RAID, codes 32 and 34) are the payload bytes
// a scenario sets; SSP, STP and SMP pass-through go to the target attached at the request's PHY
// with the request's destination SAS address.

#include "sim_device.h"

#include <array>
#include <map>
#include <memory>
#include <string>

constexpr size_t SIM_CSMI_HEADER = 28;

class SimCsmiController {
public:
    // Payloads (the bytes after the 28-byte header) by control code; a code without a payload
    // answers ReturnCode 1 (CSMI_SAS_STATUS_FAILED).
    std::map<uint32_t, std::vector<uint8_t>> Payloads;
    // RAID configuration payloads (code 11) by the request's set index; a set without one takes
    // Payloads[11] when there is one.
    std::map<uint32_t, std::vector<uint8_t>> RaidConfigs;

    // SCSI addresses (code 27) by the request's SAS address: host index, path id, target id, LUN.
    // A SAS address without one takes Payloads[27] when there is one.
    std::map<uint64_t, std::array<uint8_t, 4>> ScsiAddresses;

    void SetConfig(uint32_t boardId, uint8_t ioBusType, uint8_t bus, uint8_t device, uint8_t function,
                   const char *serial, std::array<uint16_t, 4> revision, std::array<uint16_t, 4> biosRevision);
    void SetStatus(uint32_t status, uint32_t offlineReason = 0);
    struct Phy {
        uint8_t LocalDeviceType = 0x10;   // an initiator phy of the controller
        uint8_t LocalSasAddress[8] = {};
        uint8_t PhyIdentifier = 0;
        uint8_t PortIdentifier = 0;
        uint8_t NegotiatedLinkRate = 0x09;
        uint8_t AttachedDeviceType = 0;   // 0 none, 0x10 end device, 0x20/0x30 expanders
        uint8_t AttachedTargetProtocol = 0;
        uint8_t AttachedSasAddress[8] = {};
    };
    void SetPhys(const std::vector<Phy> &phys);
    void SetConnectorNames(const std::vector<std::string> &names);  // by phy, 16 characters each
    void SetRaid(uint32_t sets, uint32_t maxDrivesPerSet);

    // Attaches a target at a phy under a SAS address: pass-through to (phy, address) reaches it.
    void Attach(uint8_t phy, const uint8_t sasAddress[8], std::shared_ptr<SimSasTarget> target);

    // Answers one IOCTL_SCSI_MINIPORT request in place.
    DWORD Request(uint8_t *buffer, DWORD size, DWORD *returned);

private:
    SimSasTarget *FindTarget(uint8_t phy, const uint8_t *address);
    std::map<std::pair<uint8_t, uint64_t>, std::shared_ptr<SimSasTarget>> m_Targets;
};
