#pragma once
// The port map's reads of untrusted text: the two SMBIOS facts it takes from the table (server
// bay from type 204, product name from type 1) and the PCI location text of a device. Portable,
// fuzzed natively. No windows.h.

#include "smbios_table.h"

#include <cstddef>
#include <cstdint>
#include <string>

// SMBIOS structure types the port map reads, and the formatted-area bytes naming their strings.
constexpr uint8_t kSmbiosSystemInformation = 1;
constexpr size_t kSmbiosProductNameOffset = 5;
constexpr uint8_t kSmbiosRackInformation = 204;
constexpr size_t kSmbiosServerBayOffset = 7;

// A byte of a structure's formatted area; 0 (no string) when the area is too short to hold it.
uint8_t SmbiosFormattedByte(const uint8_t *structure, size_t offset);

struct PortMapSmbiosFacts {
    bool hasRackInfo = false;
    int32_t serverBay = 0;
    bool hasSystemInfo = false;
    std::string productName; // "" when the structure names no string
};
PortMapSmbiosFacts ReadPortMapSmbiosFacts(const CSMBIOSTable &table);

// The first decimal number (ASCII digits) in text[0, length): its value (saturated) and the
// characters from text to its end in *consumed; -1 with *consumed untouched when there is none.
long PortMapNextNumber(const wchar_t *text, size_t length, size_t *consumed);

// Segment, bus, device and function from a location text such as "PCI bus 3, device 0,
// function 1", scanning up to four numbers. False (nothing written) when the scan runs past the
// end of the text before the fourth number; otherwise with three numbers the segment is -1.
bool ParsePortMapLocation(const wchar_t *text, size_t length, int32_t numbers[4]);
