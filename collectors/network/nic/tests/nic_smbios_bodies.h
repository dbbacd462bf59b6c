#pragma once
// The bodies of the maker's SMBIOS structures that the NIC firmware lookup reads, for tests.
#include <cstdint>
#include <vector>

// A type 203 device record (handle, related handle, strings: type and location), its type 240
// firmware record, and the slot or onboard structure it relates to.
inline std::vector<uint8_t> Body203(uint16_t related)
{
    std::vector<uint8_t> body(0x20 - 4, 0);
    body[4 - 4] = static_cast<uint8_t>(related);
    body[5 - 4] = static_cast<uint8_t>(related >> 8);
    body[0x1D - 4] = 1;
    body[0x1F - 4] = 2;
    return body;
}
inline std::vector<uint8_t> Body240(uint16_t device)
{
    std::vector<uint8_t> body(0x0B - 4, 0);
    body[0] = static_cast<uint8_t>(device);
    body[1] = static_cast<uint8_t>(device >> 8);
    body[0x0A - 4] = 1;
    return body;
}
inline std::vector<uint8_t> BodySlot(uint8_t bus, uint8_t device)
{
    std::vector<uint8_t> body(0x11 - 4, 0);
    body[0x0F - 4] = bus;
    body[0x10 - 4] = static_cast<uint8_t>(device << 3);
    return body;
}
inline std::vector<uint8_t> BodyOnboard(uint8_t bus, uint8_t device)
{
    std::vector<uint8_t> body(0x0B - 4, 0);
    body[9 - 4] = bus;
    body[0x0A - 4] = static_cast<uint8_t>(device << 3);
    return body;
}

