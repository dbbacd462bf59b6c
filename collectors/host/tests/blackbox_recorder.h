#pragma once
// A recording stand-in of the black box's "OS Info" record builder, for tests. A test links it
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
