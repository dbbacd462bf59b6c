#pragma once
// The location text a PCI device reports through the configuration manager ("PCI bus 3, device
// 0, function 1"): the numbers after "bus ", "device " and "function ", compared by their low
// bytes.

#include <cstddef>

struct PCI_LOCATION {
    int Bus = 0;
    int Device = 0;
    int Function = 0;
};

// Case does not matter; a word that is missing, or has no number after it, leaves its number
// `missing`. Reads at most size bytes and stops at a NUL.
PCI_LOCATION ParseLocationText(const char *text, size_t size, int missing = 0);
bool LocationMatches(const PCI_LOCATION &location, unsigned bus, unsigned device, unsigned function);
