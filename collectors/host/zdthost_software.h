#pragma once
// The software inventory of the host collector: the catalogue of the maker's software, the
// installed services and drivers, and the posting of the running ones to the black box.

#include "software_rules.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What a software collection finds of one file.
struct SW_VER_FOUND {
    int32_t status = 0;  // 0 never collected, 1 unresolved, 2 loaded, 3 not loaded
    std::string path;
    std::string version;
    std::string fixedVersion;
    uint8_t dateTime[7] = {};
    std::string company;
    std::string productName;
    std::string fileDescription;
};

// One catalogue row: six constants and the state of the last software collection.
struct SW_VER_ENTRY : SW_VER_FOUND {
    SW_VER_ENTRY(int32_t type_, const char *fileName_, const char *description_, const char *defaultPath_,
                 int32_t osFilter_, int32_t generation_)
        : type(type_), fileName(fileName_), description(description_), defaultPath(defaultPath_),
          osFilter(osFilter_), generation(generation_)
    {
    }

    int32_t type;  // 2 driver, 3 management agent, 4 utility or library, 5 application; 0 ends
    const char *fileName;
    const char *description;
    const char *defaultPath;  // null or empty: looked for among the services and drivers
    int32_t osFilter;
    int32_t generation;

    // Resolves the row from its default path.
    void UpdateSoftwareBasedOnKeyFile();
    void Reset();
};

// A row made from a running service or driver of the maker that the catalogue lacks.
struct SW_VER_EXTRA : SW_VER_FOUND {
    int32_t type = 0;
    std::string fileName;
    std::string description;
    std::string defaultPath;
    int32_t osFilter = 0;
    int32_t generation = 0;
};

// The catalogue in use; it ends with a row of type 0. Test programs point it at their own.
extern SW_VER_ENTRY *g_SwVerTable;
extern std::vector<SW_VER_EXTRA> g_SwVerExtra;
extern bool g_DriversAndServicesLogged;

// The values chosen for this product (maker_data.cpp).
extern SW_VER_ENTRY g_ShippedSwVerTable[];
extern const wchar_t kGenerationMarker[];
extern const char *const kMakerNameKeywords[4];
extern const char *const kMakerPathKeywords[2];
extern const char *const kMakerProductKeywords[6];

struct SERVICE_INFO {
    uint32_t serviceType = 0;
    uint32_t currentState = 0;
    std::string name;
    std::string displayName;
    std::string path;
    SYSTEMTIME fileTime = {};
    std::string company;
    std::string productName;
    std::string fixedProductVersion;
    std::string productVersion;
    std::string fileDescription;
    std::string fixedFileVersion;
    std::string fileVersion;
};

class SERVICE_LIST : public std::vector<SERVICE_INFO> {
public:
    void EnumerateServices(uint32_t serviceType);
};

int ResolveServiceBinaryPath(SERVICE_INFO &service);
int GetOsTypefromRegistry();
int GetBiosServerGeneration();
void CollectSoftwareVersions();
void LogDriversAndServicesToBlackBox(const SERVICE_LIST &services);

// The PCI functions present with the driver service of each, read from the configuration manager
// through the device seam the standard-equipment collector uses. Tests may put another source.
std::vector<PCI_FUNCTION> PresentPciFunctions();
extern std::function<std::vector<PCI_FUNCTION>()> s_PciFunctionSource;

FILE_DATE FileDateOf(const SYSTEMTIME &time);
