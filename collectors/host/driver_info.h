#pragma once
// One entry of a running-software or system-driver list. The host collector's running-software
// table and the network collectors' installed-software group both build lists of it.

#include "software_rules.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct DRIVER_INFO {
    DRIVER_INFO() = default;
    ~DRIVER_INFO() = default;

    std::string name;
    std::string displayName;
    std::string description;
    std::string path;
    std::string version;
    uint8_t dateTime[7] = {};
    int32_t kind = 0;
    int32_t runState = 0;
};

class DRIVER_INFO_LIST : public std::vector<DRIVER_INFO> {
public:
    // The catalogue drivers found on disk, then the maker's running processes.
    void GetRunningSoftwareCandidates();
    // The maker's running processes, one per image name; 0, or ERROR_NO_DATA when none.
    uint32_t GetMakerProcesses();
    // The system drivers of WMI: "running" keeps only running ones, "stopped" only the others,
    // any other word all.
    void GetSystemDrivers(std::string stateWord);
};

// The last-write time of a file in local time; all zero when it cannot be read.
FILE_DATE LocalFileDate(const std::string &path);
