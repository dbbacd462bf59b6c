#pragma once
// The host collector's rules that need no operating system: the operating-system type code, the
// split of the WMI Version text, the memory and file-system arithmetic and the heartbeat trap's
// reading of its registry values. Every input here comes from WMI, the registry or the file
// system and is taken as it comes: nothing here trusts a value to be in range.

#include <cstdint>
#include <optional>
#include <string>

// ---- Operating system --------------------------------------------------------------------------

constexpr uint16_t kArchitectureX86 = 0;
constexpr uint16_t kArchitectureIa64 = 6;
constexpr uint16_t kArchitectureAmd64 = 9;
constexpr uint8_t kProductTypeWorkstation = 1;

// The version facts the host collector reads once per process.
struct HOST_OS_FACTS {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    uint16_t servicePackMajor = 0;
    uint8_t productType = 0;
    uint16_t architecture = 0;
};

// The operating-system type code of the host group (scalar 4 and HostOsType). osName is the
// UTF-8 name (null counts as empty); it matters only for the server builds of version 10.0.
int32_t HostOsTypeCode(const HOST_OS_FACTS &facts, const char *osName);

// Whether text contains "azure stack hci" without regard to ASCII case.
bool ContainsAzureStackHci(const char *text);

// Splits a Version text such as "10.0.19045" into its first two numbers. Major and minor are 4
// and 0 unless the text has a first '.' after its first character and the rest another such '.';
// then they are the numbers the two leading parts begin with (as atoi reads them, saturated).
void SplitOsVersion(const char *version, uint32_t *major, uint32_t *minor);

// atoi without undefined behaviour: leading blanks, a sign and digits, saturated to int32.
int32_t ParseLeadingInt(const char *text);

// ---- Memory -------------------------------------------------------------------------------------

// The numbers of the performance information the memory group uses (pages, and bytes per page).
struct MEMORY_PAGES {
    uint64_t physicalTotal = 0;
    uint64_t physicalAvailable = 0;
    uint64_t commitLimit = 0;
    uint64_t commitTotal = 0;
    uint64_t pageSize = 0;
};

// The four memory scalars in megabytes, each one more than the whole megabytes; -1 each when the
// information is missing or its page size gives no whole number of pages per megabyte.
struct MEMORY_MEGABYTES {
    int32_t physicalTotal = -1;
    int32_t physicalAvailable = -1;
    int32_t commitLimit = -1;
    int32_t commitAvailable = -1;
};
MEMORY_MEGABYTES ComputeMemoryMegabytes(const std::optional<MEMORY_PAGES> &pages);

// ---- File systems -------------------------------------------------------------------------------

// What the file-system table needs of a volume's space.
struct VOLUME_SPACE {
    uint64_t totalBytes = 0;
    uint64_t availableBytes = 0;  // to the caller
    uint64_t totalClusters = 0;
    uint64_t freeClusters = 0;
};

// Columns 3 to 7 of a file-system row; -1 each while the space is unknown.
struct VOLUME_USAGE {
    int32_t totalMb = -1;
    int32_t usedMb = -1;
    int32_t usedPercent = -1;
    int32_t totalClusters = -1;
    int32_t usedClusters = -1;
};
VOLUME_USAGE ComputeVolumeUsage(const std::optional<VOLUME_SPACE> &space);

// ---- Heartbeat test trap ------------------------------------------------------------------------

enum HEARTBEAT_UNIT : uint32_t {
    HeartbeatSeconds = 0,
    HeartbeatMinutes = 1,
    HeartbeatHours = 2,
    HeartbeatDays = 3,
};

// "Seconds", "Minute(s)", "Hour(s)" or "Day(s)", compared exactly; anything else (and null) is
// minutes.
HEARTBEAT_UNIT ParseHeartbeatTimeFormat(const char *text);
// Timeout in the unit, as seconds. 64 bits: a period of days does not wrap.
uint64_t HeartbeatPeriodSeconds(uint32_t timeout, HEARTBEAT_UNIT unit);

// The values of the heartbeat key as one pass read them; a value that is missing or of the wrong
// type or size is absent.
struct HEARTBEAT_VALUES {
    bool keyOpened = false;
    std::optional<uint32_t> stopTrap;
    std::optional<uint32_t> startTrap;
    std::optional<uint32_t> periodicTrapEnabled;
    std::optional<uint32_t> timeout;
    std::optional<std::string> timeFmt;  // in the ANSI code page
};

// What a pass must do.
struct HEARTBEAT_ACTIONS {
    bool sendTrap = false;
    std::optional<uint32_t> periodicallySending;  // value of PeriodicallySendingTrap to write
    bool clearStartTrapEcho = false;              // write "nStartTrap" = 0
};

// The state the heartbeat thread keeps from pass to pass.
class HEARTBEAT_STATE {
public:
    // Seconds that one pass stands for.
    static constexpr uint64_t kPassSeconds = 5;

    HEARTBEAT_ACTIONS Pass(const HEARTBEAT_VALUES &values);

    uint64_t Elapsed() const { return m_Elapsed; }
    bool Periodic() const { return m_Periodic; }

private:
    uint64_t m_Elapsed = 0;
    bool m_Periodic = false;
};
