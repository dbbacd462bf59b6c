#include "sim_csmi.h"

#include <cstring>

namespace {

void PutU16(uint8_t *at, uint16_t value) { std::memcpy(at, &value, 2); }
void PutU32(uint8_t *at, uint32_t value) { std::memcpy(at, &value, 4); }

uint64_t AddressKey(const uint8_t *address)
{
    uint64_t key = 0;
    for (int i = 0; i < 8; ++i)
        key = (key << 8) | address[i];
    return key;
}

constexpr uint32_t kCsmiStatusFailed = 1;
constexpr uint32_t kCsmiStatusInvalidParameter = 2;
// Connection status of a pass-through that reached nobody (CSMI_SAS_OPEN_REJECT_NO_DESTINATION).
constexpr uint8_t kNoDestination = 12;

} // namespace

void SimCsmiController::SetConfig(uint32_t boardId, uint8_t ioBusType, uint8_t bus, uint8_t device, uint8_t function,
                                  const char *serial, std::array<uint16_t, 4> revision,
                                  std::array<uint16_t, 4> biosRevision)
{
    std::vector<uint8_t> config(180, 0);
    PutU32(&config[12], boardId);
    config[18] = 5;  // controller class: HBA
    config[19] = ioBusType;
    config[20] = bus;
    config[21] = device;
    config[22] = function;
    std::strncpy(reinterpret_cast<char *>(&config[52]), serial, 80);
    for (int i = 0; i < 4; ++i) {
        PutU16(&config[134 + 2 * i], revision[i]);
        PutU16(&config[142 + 2 * i], biosRevision[i]);
    }
    Payloads[2] = config;
}

void SimCsmiController::SetStatus(uint32_t status, uint32_t offlineReason)
{
    std::vector<uint8_t> payload(36, 0);
    PutU32(&payload[0], status);
    PutU32(&payload[4], offlineReason);
    Payloads[3] = payload;
}

void SimCsmiController::SetPhys(const std::vector<Phy> &phys)
{
    std::vector<uint8_t> payload(2052, 0);
    payload[0] = static_cast<uint8_t>(phys.size());
    for (size_t i = 0; i < phys.size() && i < 32; ++i) {
        uint8_t *entity = &payload[4 + 64 * i];
        const Phy &phy = phys[i];
        entity[0] = phy.LocalDeviceType;
        entity[2] = 0x0E;  // initiator protocols: STP, SMP, SSP
        std::memcpy(entity + 12, phy.LocalSasAddress, 8);
        entity[20] = phy.PhyIdentifier;
        entity[28] = phy.PortIdentifier;
        entity[29] = phy.NegotiatedLinkRate;
        entity[30] = 0x08;
        entity[31] = 0x09;
        uint8_t *attached = entity + 36;
        attached[0] = phy.AttachedDeviceType;
        attached[3] = phy.AttachedTargetProtocol;
        std::memcpy(attached + 12, phy.AttachedSasAddress, 8);
        attached[20] = phy.PhyIdentifier;
    }
    Payloads[20] = payload;
}

void SimCsmiController::SetConnectorNames(const std::vector<std::string> &names)
{
    std::vector<uint8_t> payload(1152, 0);
    for (size_t i = 0; i < names.size() && i < 32; ++i) {
        uint8_t *entry = &payload[36 * i];
        std::memset(entry + 4, ' ', 16);
        std::memcpy(entry + 4, names[i].data(), names[i].size() < 16 ? names[i].size() : 16);
    }
    Payloads[30] = payload;
}

void SimCsmiController::SetRaid(uint32_t sets, uint32_t maxDrivesPerSet)
{
    std::vector<uint8_t> payload(100, 0);
    PutU32(&payload[0], sets);
    PutU32(&payload[4], maxDrivesPerSet);
    Payloads[10] = payload;
}

void SimCsmiController::Attach(uint8_t phy, const uint8_t sasAddress[8], std::shared_ptr<SimSasTarget> target)
{
    m_Targets[{phy, AddressKey(sasAddress)}] = std::move(target);
}

SimSasTarget *SimCsmiController::FindTarget(uint8_t phy, const uint8_t *address)
{
    auto found = m_Targets.find({phy, AddressKey(address)});
    return found == m_Targets.end() ? nullptr : found->second.get();
}

DWORD SimCsmiController::Request(uint8_t *buffer, DWORD size, DWORD *returned)
{
    uint32_t code = 0;
    std::memcpy(&code, buffer + 16, 4);
    // A driver answers only the signatures it implements; any other request is not its own.
    char signature[9] = {};
    std::memcpy(signature, buffer + 4, 8);
    if (std::strncmp(signature, "CSMI", 4) != 0)
        return ERROR_INVALID_FUNCTION;
    uint32_t returnCode = 0;
    uint8_t *payload = buffer + SIM_CSMI_HEADER;
    DWORD room = size - SIM_CSMI_HEADER;
    if (code == 23 || code == 24 || code == 25) {
        // Pass-through: PHY at payload byte 0, destination SAS address at payload bytes 4 to 11.
        size_t statusAt = code == 23 ? 1064 : code == 24 ? 100 : 72;
        if (size <= statusAt + 1) {
            returnCode = kCsmiStatusInvalidParameter;
        } else {
            SimSasTarget *target = FindTarget(payload[0], payload + 4);
            DWORD answered = 0;
            if (target != nullptr)
                answered = code == 23 ? target->Smp(buffer, size) : code == 24 ? target->Ssp(buffer, size)
                                                                               : target->Stp(buffer, size);
            if (answered == 0)
                buffer[statusAt] = kNoDestination;
            std::memcpy(buffer + 20, &returnCode, 4);
            *returned = answered ? answered : size;
            return 0;
        }
    } else {
        auto found = Payloads.find(code);
        const std::vector<uint8_t> *answer = found == Payloads.end() ? nullptr : &found->second;
        uint32_t set = 0;
        if (code == 11 && size >= SIM_CSMI_HEADER + 4) {
            std::memcpy(&set, payload, 4);
            auto config = RaidConfigs.find(set);
            if (config != RaidConfigs.end())
                answer = &config->second;
        }
        std::vector<uint8_t> address;
        if (code == 27 && size >= SIM_CSMI_HEADER + 20) {
            auto found27 = ScsiAddresses.find(AddressKey(payload));
            if (found27 != ScsiAddresses.end()) {
                address.assign(payload, payload + 16);
                address.insert(address.end(), found27->second.begin(), found27->second.end());
                answer = &address;
            }
        }
        if (answer == nullptr) {
            returnCode = kCsmiStatusFailed;
        } else {
            size_t count = answer->size() < room ? answer->size() : room;
            std::memcpy(payload, answer->data(), count);
        }
    }
    std::memcpy(buffer + 20, &returnCode, 4);
    *returned = size;
    return 0;
}
