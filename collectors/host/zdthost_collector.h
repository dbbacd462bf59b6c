#pragma once
#include "datacollector.h"
#include "host_rules.h"
#include "software_rules.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>

// The host collector of group 11: operating system, file systems, memory, and the heartbeat
// test trap; the utilisation and software groups come with their own steps, which are empty
// until then. It reads the health-log re-log flags.
class ZDTHOSTDataCollector : public DATACOLLECTOR {
public:
    ZDTHOSTDataCollector();
    ~ZDTHOSTDataCollector() override;

    // Starts the heartbeat thread and marks the software inventory as due.
    void Initialize() override;
    // Stops the heartbeat thread: it is asked to stop and joined, and terminated only when it
    // does not end within HEARTBEAT_TIMING::StopWaitMs.
    void Terminate() override;
    // The nine regions of the group, each tried; the last failure's code, or 0.
    int Register(AXSESSION *session) override;
    void Collect(int firstRun, DATASTORE *staging) override;

    void Collect_zdtHoInfo(int firstRun, DATASTORE *staging);
    void Collect_zdtHoUtil(int firstRun, DATASTORE *staging);
    void Collect_zdtHoFileSys(int firstRun, DATASTORE *staging);
    void Collect_zdtHoSwVer(int firstRun, DATASTORE *staging);
    void Collect_zdtHoSwRunning(int firstRun, DATASTORE *staging);
    void Collect_zdtHoMemory(int firstRun, DATASTORE *staging);
    void Initialize_zdtHoUtil();
    void Terminate_zdtHoUtil();

    // The heartbeat thread's loop; returns when the stop event is set.
    void Thread_HeartbeatTrap();
    // Trap ENTERPRISE_ARC.0.trapNumber with sysName.0, the trap flags and, for 11003, the text.
    void SendZdtHoTestTrap(unsigned trapNumber, std::string text);

    bool HeartbeatRunning() const { return m_HeartbeatThread != nullptr; }

    // One usage sampling: the three usage records from the processor rows and the performance
    // information. Samplings of the timer and of requests never write the buffer at once.
    void ProcessorUtilizationTimerCallback();
    // The timer's entry: a tick that comes while the timer's last sampling runs does nothing.
    void TimerSampling();
    bool UtilizationTimerExists() const { return m_UtilTimer != nullptr; }

private:
    HANDLE m_HeartbeatThread = nullptr;
    HANDLE m_HeartbeatStop = nullptr;

    PROCESSOR_SAMPLE *m_ProcessorUsage = nullptr;  // BB_TLM_ProcessorUsageData
    PTP_TIMER m_UtilTimer = nullptr;
    HANDLE m_UtilStop = nullptr;  // set at Terminate: a sampling waiting on WMI gives up
    volatile LONG m_TimerEntries = 0;
    volatile LONG m_RequestEntries = 0;
    CRITICAL_SECTION m_UsageLock;
};

VOID CALLBACK UtilizationTimerCallback(PTP_CALLBACK_INSTANCE instance, PVOID context, PTP_TIMER timer);

struct UTILIZATION_TIMING {
    // One minute of PollInterval_CPUUtilizationInMinutes.
    static inline std::atomic<DWORD> MinuteMs{60000};
};

extern ZDTHOSTDataCollector s_ZDTHOSTDataCollector;

unsigned __stdcall HeartbeatThreadProc(void *collector);

class CRegistry;
// A REG_DWORD of four bytes, or nothing.
std::optional<uint32_t> ReadRegistryDword(CRegistry &key, const wchar_t *name);

struct HEARTBEAT_TIMING {
    // One pass of the heartbeat thread; the trap periods count 5 seconds per pass.
    static inline std::atomic<DWORD> PassMs{5000};
    // How long Terminate waits for the thread to end before it terminates it.
    static inline std::atomic<DWORD> StopWaitMs{10000};
};

constexpr wchar_t kHeartbeatKey[] = L"System\\ZORUROVID\\Heartbeat";
constexpr unsigned kHeartbeatTrapNumber = 11003;
constexpr char kHeartbeatTrapText[] = "Remote Pelinor Test Trap";

// ---- Operating system ------------------------------------------------------------------------

// The version facts, read by the first host collection of the process.
const HOST_OS_FACTS &GetHostOsFacts();
// The next host collection reads the facts again, and posts the "OS Info" record again.
void ForgetHostOsFacts();

std::string GetHostOsName();
std::string FormatOsVersion(bool withBuild);
std::string GetOsBuildString();
int32_t GetHostOsType();
std::string GetHostComputerName();
std::string GetSystemDescription();
// The name GetHostOsName last read, in UTF-8 ("Windows" before).
const std::string &HostOsName();

// ---- File systems ----------------------------------------------------------------------------

// What the system says of one drive letter. A later field is only looked at when the earlier
// ones let the row exist.
struct DRIVE_FACTS {
    char letter = 'A';
    UINT driveType = DRIVE_UNKNOWN;
    std::optional<std::string> volumeName;  // \\?\Volume{...}\ form
    bool informationRead = false;
    DWORD informationError = 0;  // GetLastError when the information could not be read
    std::string label;
    std::string fileSystem;
    std::optional<VOLUME_SPACE> space;
};

// The drive as the system reports it.
DRIVE_FACTS ProbeDrive(char letter);
// The scalar and the table of file systems, one row per fixed drive with a volume, drives A to Z.
void WriteFileSystemTable(DATASTORE *staging, const std::function<DRIVE_FACTS(char letter)> &probe);

// ---- Memory ----------------------------------------------------------------------------------

// The performance information's pages, or nothing when it cannot be read.
std::optional<MEMORY_PAGES> ReadMemoryPages();
void WriteMemoryScalars(DATASTORE *staging, const std::optional<MEMORY_PAGES> &pages);
