#include "service_start.h"

#include "agentx_pdu.h"
#include "agentx_scheduler_link.h"
#include "blackbox.h"
#include "chan.h"
#include "ci_device.h"
#include "collector_list.h"
#include "common_log.h"
#include "datastore.h"
#include "exception_guard.h"
#include "scheduler.h"
#include "service_parameters.h"
#include "subagent.h"
#include "traps.h"
#include "watchers.h"
#include "wmi.h"

#include <winsock2.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

std::unique_ptr<CSMBIOSTable> FirmwareSMBIOSTable() { return std::make_unique<CSMBIOSTable>(); }

HANDLE s_NetworkPollThread = nullptr;

bool Failing(const wchar_t *word)
{
    const wchar_t *failing = s_FailingStartStep.load();
    return failing != nullptr && wcscmp(failing, word) == 0;
}

int StartFailed(const wchar_t *word)
{
    LOG_ERROR(L"OnStart", L"The %s subsystem failed to initialize.", word);
    ReportServiceEvent(EVENTLOG_ERROR_TYPE, kEventSubsystemFailed, L"%s", word);
    return 0;
}

// Keeps the STOP_PENDING checkpoint moving while OnStop runs: after every step, and on a timer
// while one step waits (a worker that must be terminated takes 30 s, longer than any pause the
// service control manager grants without progress).
class StopProgress {
public:
    explicit StopProgress(SERVICEENTRY *entry) : m_Entry(entry)
    {
        if (m_Entry != nullptr)
            m_Ticker = std::thread([this] { Tick(); });
    }
    ~StopProgress()
    {
        if (!m_Ticker.joinable())
            return;
        {
            std::lock_guard<std::mutex> hold(m_Lock);
            m_Done = true;
        }
        m_Wake.notify_all();
        m_Ticker.join();
    }
    void Advance()
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        AdvanceLocked();
    }

private:
    void AdvanceLocked()
    {
        if (m_Entry == nullptr || m_Entry->Status.dwCurrentState != SERVICE_STOP_PENDING)
            return;
        ++m_Entry->Status.dwCheckPoint;
        ReportServiceStatus(m_Entry);
    }
    void Tick()
    {
        std::unique_lock<std::mutex> hold(m_Lock);
        while (!m_Wake.wait_for(hold, std::chrono::milliseconds(ServiceStopTimeouts::CheckpointMs.load()),
                                [this] { return m_Done; }))
            AdvanceLocked();
    }

    SERVICEENTRY *m_Entry;
    std::mutex m_Lock;
    std::condition_variable m_Wake;
    bool m_Done = false;
    std::thread m_Ticker;
};

int StartBody()
{
    ReadServiceParameters();
    LOG_INFO(L"OnStart", L"Service starting");
    SetPrivilege(L"SeDebugPrivilege", 1);
    if (Failing(L"COM") || !InitCom())
        return StartFailed(L"COM");
    InitDataStores();
    // The black box asks for fresh collections after the processor was reset.
    s_BlackBoxTrigger = &TriggerCollection;
    if (Failing(L"BB") || !InitBlackBox())
        return StartFailed(L"BB");
    InitTraps();
    SendColdStartTrap();

    if (!Failing(L"DS"))
        s_DataStore = new (std::nothrow) DATASTORE(true);
    if (s_DataStore == nullptr)
        return StartFailed(L"DS");

    if (!Failing(L"SMBIOS")) {
        SMBIOS_TABLE_SOURCE source = s_SMBIOSTableSource.load();
        s_SMBIOSTable = source != nullptr ? source() : FirmwareSMBIOSTable();
    }
    if (!s_SMBIOSTable || !s_SMBIOSTable->IsValid())
        return StartFailed(L"SMBIOS");

    // A namespace that cannot be reached is no failure: its queries come back empty.
    InitWMIConnection(&s_WMIRootWmi, L"\\\\.\\root\\wmi");
    InitWMIConnection(&s_WMICimV2, L"\\\\.\\root\\cimv2");

    SetCollectorList(s_CollectorList);
    if (Failing(L"Data Collection") || !StartDataCollection())
        return StartFailed(L"Data Collection");
    if (Failing(L"Network Monitor") || !StartNetworkWatcher())
        return StartFailed(L"Network Monitor");
    s_NetworkPollThread = StartNetworkPollThread();
    if (s_NetworkPollThread == nullptr)
        LOG_WARNING(L"OnStart", L"The network polling thread did not start");

    InstallAgentXSchedulerLink();
    if (Failing(L"AX Threads") || !StartAgentX())
        return StartFailed(L"AX Threads");
    StartDeviceWatcher();
    LOG_INFO(L"OnStart", L"Service started");
    return 1;
}

void StopBody(SERVICEENTRY *entry)
{
    StopProgress progress(entry);
    LOG_INFO(L"OnStop", L"Service stopping");
    const auto step = [&](auto &&action) {
        action();
        progress.Advance();
    };
    step([] { StopDataCollection(); });
    step([] { StopAgentX(); });
    step([] { StopNetworkWatcher(); });
    step([] { TermTraps(); });
    step([] { TermBlackBox(); });
    step([] { TermDataStores(); });
    step([] {
        s_SMBIOSTable.reset();
        s_WMIRootWmi.reset();
        s_WMICimV2.reset();
    });
    step([] { ReleaseWbemLocator(); });
    step([] { UninitCom(); });
    if (s_NetworkPollThread != nullptr) {
        if (WaitForSingleObject(s_NetworkPollThread, ServiceStopTimeouts::PollThreadWaitMs) == WAIT_TIMEOUT) {
            LOG_WARNING(L"OnStop", L"The network polling thread did not end; terminating it");
            TerminateThread(s_NetworkPollThread, 0);
        }
        CloseHandleSafe(&s_NetworkPollThread);
    }
    LOG_INFO(L"OnStop", L"Service stopped");
}

} // namespace

std::atomic<SMBIOS_TABLE_SOURCE> s_SMBIOSTableSource{nullptr};
std::atomic<const wchar_t *> s_FailingStartStep{nullptr};

HANDLE NetworkPollThreadHandle() { return s_NetworkPollThread; }

void ServiceStartup()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    CiDeviceInitialize();
    CiDeviceStartNotifications();
    ChanInitialize(nullptr);
}

void ServiceCleanup()
{
    ChanTerminate();
    CiDeviceTerminate();
    WSACleanup();
}

void SendColdStartTrap()
{
    const uint32_t coldStart[] = {3, 1, 1, 5, 1};  // 1.3.6.1.6.3.1.1.5.1
    uint8_t oid[4 + 5 * 4];
    WriteAgentXOid(oid, 6, 0, coldStart, 5);
    TRAP_BUFFER *trap = CreateTrap(oid);
    if (trap == nullptr)
        return;
    SetTrapEnterprise(trap, nullptr);
    SendTrap(trap);
}

int OnStart(SERVICEENTRY *, DWORD, LPWSTR *)
{
    return ConvertLanguageExceptions([] { return StartBody(); });
}

void OnRun(SERVICEENTRY *entry)
{
    ConvertLanguageExceptions([entry] {
        PostOsBootRecord();
        SetConsoleCtrlHandler(&ConsoleShutdownHandler, TRUE);
        WaitForSingleObject(entry->StopEvent, INFINITE);
        SetConsoleCtrlHandler(&ConsoleShutdownHandler, FALSE);
    });
}

void OnStop(SERVICEENTRY *entry)
{
    ConvertLanguageExceptions([entry] { StopBody(entry); });
}

BOOL WINAPI ConsoleShutdownHandler(DWORD controlType)
{
    if (controlType == CTRL_SHUTDOWN_EVENT)
        PostOsShutdownRecord();
    return FALSE;
}
