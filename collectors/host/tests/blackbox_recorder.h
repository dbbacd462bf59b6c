#pragma once
// A recording stand-in of the black box's record builders that the host collector calls, for
// tests. A test links it
// before collectors_host, so that the collector's calls land here instead of in the black box's queue.

#include <cstdint>
#include <string>
#include <vector>

struct OS_INFO_POST {
    uint8_t type;
    uint8_t vendor;
    uint16_t bits;
    std::string osName;
    std::string osVersion;
    uint16_t major, minor, build, patch, servicePack;
};

// Every post since the last clear, in order.
std::vector<OS_INFO_POST> &RecordedOsInfoPosts();

// A "Driver", "Service", "Software" or "OS Update" record: the flags and the texts (five for a
// service, six for a driver, four for software, three for an update).
struct SOFTWARE_POST {
    uint32_t code;
    uint16_t flags;
    std::vector<std::string> texts;
};
std::vector<SOFTWARE_POST> &RecordedSoftwarePosts();

struct USAGE_POST {
    char kind;  // 'P' processor, 'O' operating system, 'M' memory
    std::vector<uint8_t> entries;
    uint64_t numbers[5];
    int result;
};
std::vector<USAGE_POST> &RecordedUsagePosts();
// Clears the recorded posts of all kinds.
void ClearRecordedPosts();
