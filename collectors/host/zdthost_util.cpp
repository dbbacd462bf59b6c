// Processor, process and memory usage, posted to the black box periodically by a thread-pool
// timer, once after start, or when the black box asks for them again.
#include "zdthost_collector.h"

#include "blackbox.h"
#include "common_log.h"
#include "registry.h"
#include "service_parameters.h"
#include "wmi.h"

#include <objbase.h>
#include <psapi.h>

#include <exception>
#include <new>

namespace {

constexpr wchar_t kInitializeFunction[] = L"ZDTHOSTDataCollector::Initialize_zdtHoUtil";
constexpr wchar_t kSamplingFunction[] = L"ProcessorUtilizationTimerCallback";

// Runs the sampling unless the entry counter shows one of the same path running.
void EnterOnce(volatile LONG *entries, ZDTHOSTDataCollector *collector)
{
    if (InterlockedIncrement(entries) == 1)
        collector->ProcessorUtilizationTimerCallback();
    InterlockedDecrement(entries);
}

std::optional<int32_t> WmiPercent(IWbemClassObject *object, const wchar_t *name)
{
    std::string text;
    if (!GetWMIString(object, name, &text, true))
        return std::nullopt;
    return ParseLeadingInt(text.c_str());
}

} // namespace

VOID CALLBACK UtilizationTimerCallback(PTP_CALLBACK_INSTANCE, PVOID context, PTP_TIMER)
{
    // Thread-pool threads come without an apartment; WMI needs the multithreaded one.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    static_cast<ZDTHOSTDataCollector *>(context)->TimerSampling();
    if (SUCCEEDED(com))
        CoUninitialize();
}

void ZDTHOSTDataCollector::TimerSampling()
{
    EnterOnce(&m_TimerEntries, this);
}

void ZDTHOSTDataCollector::ProcessorUtilizationTimerCallback()
{
    // Nothing may leave a thread-pool callback: an escaping exception would end the service.
    try {
        LOG_VERBOSE(kSamplingFunction, L"ProcessorUtilizationTimerCallback.");
        EnterCriticalSection(&m_UsageLock);
        struct Leave {
            CRITICAL_SECTION *lock;
            ~Leave() { LeaveCriticalSection(lock); }
        } leave{&m_UsageLock};
        if (m_ProcessorUsage == nullptr)
            return;
        PROCESSOR_SAMPLE &sample = *m_ProcessorUsage;
        sample.Reset();
        if (s_WMICimV2 != nullptr) {
            CWMIEnumerator rows =
                s_WMICimV2->ExecQuery(L"SELECT * FROM Win32_PerfFormattedData_Counters_ProcessorInformation");
            while (IWbemClassObject *object = rows.Next(m_UtilStop)) {
                std::string name;
                if (!GetWMIString(object, L"Name", &name, true))
                    name.clear();
                const PROCESSOR_ROW kind = ClassifyProcessorRow(name);
                if (kind == PROCESSOR_ROW::MachineTotal || kind == PROCESSOR_ROW::Processor)
                    sample.Add(name, WmiPercent(object, L"PercentUserTime"),
                               WmiPercent(object, L"PercentPrivilegedTime"));
            }
        }
        PostProcessorUsageRecord(sample.Entries(), sample.Count());

        PERFORMANCE_INFORMATION information = {};
        information.cb = sizeof information;
        if (!K32GetPerformanceInfo(&information, sizeof information)) {
            LOG_ERROR(kSamplingFunction, L"ProcessorUtilizationTimerCallback: GetPerformanceInfo failed (%d)",
                      static_cast<int>(GetLastError()));
            return;
        }
        const uint64_t page = information.PageSize;
        PostOsUsageRecord(information.ProcessCount, information.ThreadCount, information.HandleCount,
                          sample.TotalUser(), sample.TotalPrivileged());
        PostMemoryUsageRecord(uint64_t{information.PhysicalTotal} * page, uint64_t{information.PhysicalAvailable} * page,
                              uint64_t{information.CommitLimit} * page,
                              (uint64_t{information.CommitLimit} - information.CommitTotal) * page);
    } catch (...) {
        LOG_ERROR(kSamplingFunction, L"ProcessorUtilizationTimerCallback: C++ exception");
    }
}

void ZDTHOSTDataCollector::Initialize_zdtHoUtil()
{
    if (s_ServiceParameters.EnableUtilization == 0) {
        LOG_INFO(kInitializeFunction, L"ZDTHOSTDataCollector::Initialize_zdtHoUtil: Utilization is disabled.");
        return;
    }
    LOG_VERBOSE(kInitializeFunction, L"ZDTHOSTDataCollector::Initialize_zdtHoUtil.");
    if (m_ProcessorUsage == nullptr)
        m_ProcessorUsage = new (std::nothrow) PROCESSOR_SAMPLE();
    if (m_ProcessorUsage == nullptr) {
        LOG_VERBOSE(kInitializeFunction, L"Initialize_zdtHoUtil: Can't allocate BB_TLM_ProcessorUsageData.");
        return;
    }
    if (m_UtilStop == nullptr)
        m_UtilStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    else
        ResetEvent(m_UtilStop);
    if (m_UtilTimer == nullptr)
        m_UtilTimer = CreateThreadpoolTimer(&UtilizationTimerCallback, this, nullptr);
    if (m_UtilTimer == nullptr) {
        LOG_ERROR(kInitializeFunction, L"Initialize_zdtHoUtil: CreateThreadpoolTimer failed (%d)\n",
                  static_cast<int>(GetLastError()));
        return;
    }

    CRegistry parameters(HKEY_LOCAL_MACHINE, kBlackBoxParametersKey, KEY_READ);
    DWORD configured = 0;
    const bool readable = parameters.GetDword(L"PollInterval_CPUUtilizationInMinutes", &configured) != 0;
    const std::optional<uint32_t> minutes =
        UtilizationPeriodMinutes(readable ? std::optional<uint32_t>(configured) : std::nullopt);
    ULARGE_INTEGER due = {};
    DWORD periodMs = 0;
    if (!minutes) {
        LOG_VERBOSE(kInitializeFunction, readable ? L"PollInterval_CPUUtilizationInMinutes is zero, query CPU usage once."
                                                  : L"No PollInterval_CPUUtilizationInMinutes, query CPU usage once.");
        due.QuadPart = static_cast<ULONGLONG>(-1LL);  // one 100-ns unit from now
    } else {
        periodMs = *minutes * UTILIZATION_TIMING::MinuteMs.load();
        LOG_VERBOSE(kInitializeFunction, L"Query CPU usage every PollInterval_CPUUtilizationInMinutes(%ds)",
                    static_cast<int>(periodMs / 1000));
        due.QuadPart = static_cast<ULONGLONG>(-static_cast<LONGLONG>(periodMs) * 10000);
    }
    FILETIME dueTime = {due.LowPart, due.HighPart};
    SetThreadpoolTimer(m_UtilTimer, &dueTime, periodMs, 0);
}

void ZDTHOSTDataCollector::Terminate_zdtHoUtil()
{
    if (s_ServiceParameters.EnableUtilization == 0)
        return;
    LOG_VERBOSE(L"ZDTHOSTDataCollector::Terminate_zdtHoUtil", L"ZDTHOSTDataCollector::Terminate_zdtHoUtil");
    if (m_UtilTimer != nullptr) {
        SetThreadpoolTimer(m_UtilTimer, nullptr, 0, 0);
        // A sampling that waits on WMI gives up at the stop event instead of holding Terminate.
        if (m_UtilStop != nullptr)
            SetEvent(m_UtilStop);
        WaitForThreadpoolTimerCallbacks(m_UtilTimer, TRUE);
        CloseThreadpoolTimer(m_UtilTimer);
        m_UtilTimer = nullptr;
    }
    EnterCriticalSection(&m_UsageLock);
    delete m_ProcessorUsage;
    m_ProcessorUsage = nullptr;
    LeaveCriticalSection(&m_UsageLock);
    if (m_UtilStop != nullptr) {
        CloseHandle(m_UtilStop);
        m_UtilStop = nullptr;
    }
}

void ZDTHOSTDataCollector::Collect_zdtHoUtil(int, DATASTORE *)
{
    CRegistry volatileData(HKEY_LOCAL_MACHINE, kBlackBoxVolatileKey);
    if (!volatileData.ValueExists(L"RelogBBForCpuUsage"))
        return;
    LOG_VERBOSE(L"ZDTHOSTDataCollector::Collect_zdtHoUtil", L"Log CPU and Memory usage again.");
    volatileData.DeleteValue(L"RelogBBForCpuUsage");
    if (m_ProcessorUsage != nullptr)
        EnterOnce(&m_RequestEntries, this);
}
