#pragma once
// The black-box feeder's entry points, filled by the feeder's library when the program links it.
// A program without the feeder starts and runs without black-box records.

#include <cstdint>

struct BLACKBOX_ENTRY_POINTS {
    bool (*Init)() = nullptr;
    void (*Term)() = nullptr;
    void (*PostOsBoot)() = nullptr;
    int (*PostOsShutdown)() = nullptr;
    void (*PostNicLink)(uint32_t interfaceIndex, uint16_t flags, const char *description) = nullptr;
};
extern BLACKBOX_ENTRY_POINTS s_BlackBoxEntryPoints;
