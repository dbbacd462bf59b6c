#pragma once
// The host-resources software groups of the MIB-2 collector: running software (hrSWRun) and
// installed software (hrSWInstalled), and the first run's Software and OS Update records.

#include "software_text.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class CRegistry;

// One installed item. Texts are UTF-8.
struct SOFTWARE_ENTRY {
    uint16_t flags = 0;
    std::string name;
    std::string second; // a program's version; an update's hot-fix id or "n/a"
    std::string publisher;
    SOFTWARE_DATE time; // local time; year 0: no date
};

// Flags of SOFTWARE_ENTRY; first and last are added only to the posted records.
constexpr uint16_t kSoftwareFlagFirst = 1;
constexpr uint16_t kSoftwareFlagLast = 2;
constexpr uint16_t kSoftwareFlagMaker = 0x100;
constexpr uint16_t kSoftwareFlagServicePack = 512;
constexpr uint16_t kSoftwareFlagOsUpdate = 1024;

// Where the running processes come from. The product uses the system's; tests give their own.
struct MIB2_PROCESS_SOURCE {
    // Every process id; false when the enumeration failed.
    bool (*enumerate)(std::vector<DWORD> *ids);
    // 0 when the process cannot be opened; 1 when it was, with its image path (empty when that
    // could not be read).
    int (*imagePath)(DWORD id, std::wstring *path);
};
extern const MIB2_PROCESS_SOURCE kSystemProcessSource;
// Every process id through a K32EnumProcesses-like call, with a buffer grown until the answer
// leaves room (at most kMaxProcessIds); false when the call fails or the list never fits.
constexpr DWORD kMaxProcessIds = 1u << 22;
bool EnumerateProcessIds(BOOL(WINAPI *enumProcesses)(DWORD *, DWORD, DWORD *), std::vector<DWORD> *ids);

// A process's row: name, path, parameters and run type; id 0 becomes 1. 1 when it is listed.
int GetProcessImagePath(DWORD *id, std::string *name, std::string *path, std::string *parameters, int *runType);

// The maker's publisher names and driver-package fragments (this product's own choice).
struct MIB2_MAKER_NAMES {
    const wchar_t *shortPublisher;
    const wchar_t *longPublisher;   // 15 characters, compared with a publisher's first 15
    const char *driverFragments[5]; // lower case
};
extern const MIB2_MAKER_NAMES kMib2MakerNames;

// Walks the subkeys of one registry key.
class SubKeyEnumerator {
public:
    SubKeyEnumerator(HKEY root, const wchar_t *path, REGSAM access);
    ~SubKeyEnumerator();
    SubKeyEnumerator(const SubKeyEnumerator &) = delete;
    SubKeyEnumerator &operator=(const SubKeyEnumerator &) = delete;

    int NextName(std::wstring *name);
    // Closes the given key and opens the next subkey in it; 0 at the end.
    int Next(CRegistry *subKey);
    FILETIME GetLastWriteTime() const { return m_LastWrite; }

private:
    CRegistry *m_Parent;
    DWORD m_Index = 0;
    FILETIME m_LastWrite{};
};

// The program list of one registry view (0 or KEY_WOW64_32KEY), appended to programs.
void ScanUninstallKey(REGSAM view, std::vector<SOFTWARE_ENTRY> *programs);
// The operating-system updates from WMI's hot fixes.
void CollectHotFixes(std::vector<SOFTWARE_ENTRY> *updates);
// The items of the software list file in TEMP, dated by the install location.
void ReadSoftwareCollectionFile(std::vector<SOFTWARE_ENTRY> *items);
// A FILETIME (UTC) as local time; year 0 when it cannot be converted.
SOFTWARE_DATE LocalDateOf(const FILETIME &utc);

constexpr wchar_t kSoftwareListFileName[] = L"\\ndxtlmswcollection.txt";
constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
