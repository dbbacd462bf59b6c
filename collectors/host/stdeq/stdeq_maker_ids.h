#pragma once
// The maker's own PCI identities, chosen once for this product: the maker's PCI vendor ID and
// the subsystem values of the maker's own storage controllers, whose disks the PCIe disk table
// leaves out. A subsystem value holds the subsystem ID in the upper 16 bits and the subsystem
// vendor ID in the lower 16 bits, as the "SUBSYS_" field of a PCI device ID shows it.

#include <cstdint>

constexpr uint16_t kMakerPciVendorId = 0x1F7A;

constexpr uint32_t MakerSubsystem(uint16_t subsystemId) { return uint32_t{subsystemId} << 16 | kMakerPciVendorId; }

constexpr uint32_t kExcludedPcieSubsystems[5] = {
    MakerSubsystem(0x0A01), MakerSubsystem(0x0A02), MakerSubsystem(0x0A03),
    MakerSubsystem(0x0A11), MakerSubsystem(0x0A12),
};
