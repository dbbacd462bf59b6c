// The classes Wine's WMI lacks, answered from the calls that Windows itself builds them from:
// processor times per processor (two samples), the processes with their image paths, and the
// drivers of the service control manager.
#include "software_seams.h"

#include "wmi.h"
#include "wmi_fakes.h"
#include "zdthost_software.h"

#include <windows.h>
#include <winternl.h>
#include <psapi.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using ROW = std::map<std::wstring, std::wstring>;

CWMIEnumerator Rows(const std::vector<ROW> &rows)
{
    std::vector<ComPtr<IWbemClassObject>> objects;
    for (const ROW &row : rows) {
        auto *object = new FakeClassObject();
        for (const auto &[name, value] : row)
            object->SetString(name, value.c_str());
        objects.emplace_back(object);
    }
    return CWMIEnumerator(new FakeEnumerator(std::move(objects)));
}

std::vector<SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION> ProcessorTimes()
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    std::vector<SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION> times(system.dwNumberOfProcessors);
    ULONG length = 0;
    if (NtQuerySystemInformation(SystemProcessorPerformanceInformation, times.data(),
                                 static_cast<ULONG>(times.size() * sizeof times[0]), &length) != 0)
        times.clear();
    times.resize(length / sizeof times[0]);
    return times;
}

std::vector<ROW> ProcessorRows()
{
    const auto first = ProcessorTimes();
    Sleep(200);
    const auto second = ProcessorTimes();
    std::vector<ROW> rows;
    long long userAll = 0, kernelAll = 0, totalAll = 0;
    for (size_t i = 0; i < first.size() && i < second.size(); ++i) {
        const long long idle = second[i].IdleTime.QuadPart - first[i].IdleTime.QuadPart;
        const long long kernel = second[i].KernelTime.QuadPart - first[i].KernelTime.QuadPart - idle;
        const long long user = second[i].UserTime.QuadPart - first[i].UserTime.QuadPart;
        const long long total = kernel + idle + user;
        userAll += user;
        kernelAll += kernel;
        totalAll += total;
        rows.push_back({{L"Name", L"0," + std::to_wstring(i)},
                        {L"PercentUserTime", std::to_wstring(total > 0 ? user * 100 / total : 0)},
                        {L"PercentPrivilegedTime", std::to_wstring(total > 0 ? kernel * 100 / total : 0)}});
    }
    const std::wstring user = std::to_wstring(totalAll > 0 ? userAll * 100 / totalAll : 0);
    const std::wstring kernel = std::to_wstring(totalAll > 0 ? kernelAll * 100 / totalAll : 0);
    rows.push_back({{L"Name", L"0,_Total"}, {L"PercentUserTime", user}, {L"PercentPrivilegedTime", kernel}});
    rows.push_back({{L"Name", L"_Total"}, {L"PercentUserTime", user}, {L"PercentPrivilegedTime", kernel}});
    return rows;
}

std::vector<ROW> ProcessRows()
{
    DWORD ids[1024], bytes = 0;
    std::vector<ROW> rows;
    if (!K32EnumProcesses(ids, sizeof ids, &bytes))
        return rows;
    for (DWORD i = 0; i < bytes / sizeof ids[0]; ++i) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ids[i]);
        if (process == nullptr)
            continue;
        wchar_t path[MAX_PATH];
        DWORD length = MAX_PATH;
        if (QueryFullProcessImageNameW(process, 0, path, &length)) {
            const std::wstring image(path, length);
            const size_t slash = image.find_last_of(L'\\');
            rows.push_back({{L"Name", image.substr(slash == std::wstring::npos ? 0 : slash + 1)},
                            {L"ExecutablePath", image}});
        }
        CloseHandle(process);
    }
    return rows;
}

std::vector<ROW> DriverRows()
{
    std::vector<ROW> rows;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, GENERIC_READ);
    if (manager == nullptr)
        return rows;
    DWORD needed = 0, count = 0;
    EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_DRIVER, SERVICE_STATE_ALL, nullptr, 0, &needed,
                          &count, nullptr, nullptr);
    std::vector<BYTE> buffer(needed);
    if (EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_DRIVER, SERVICE_STATE_ALL, buffer.data(),
                              needed, &needed, &count, nullptr, nullptr)) {
        const auto *entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW *>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
            const bool running = entries[i].ServiceStatusProcess.dwCurrentState == SERVICE_RUNNING;
            rows.push_back({{L"Name", entries[i].lpServiceName},
                            {L"DisplayName", entries[i].lpDisplayName},
                            {L"State", running ? L"Running" : L"Stopped"}});
        }
    }
    CloseServiceHandle(manager);
    return rows;
}

class E2eCimV2 : public CWMIConnection {
public:
    E2eCimV2() : CWMIConnection(GetWbemLocator()) { Connect(kWmiCimV2Path); }

    CWMIEnumerator ExecQuery(const wchar_t *wql) override
    {
        const std::wstring query = wql;
        if (query == L"SELECT * FROM Win32_PerfFormattedData_Counters_ProcessorInformation")
            return Rows(ProcessorRows());
        if (query == L"SELECT * FROM Win32_Process")
            return Rows(ProcessRows());
        return CWMIConnection::ExecQuery(wql);
    }
    CWMIEnumerator CreateInstanceEnum(const wchar_t *className) override
    {
        if (std::wstring(className) == L"Win32_SystemDriver")
            return Rows(DriverRows());
        return CWMIConnection::CreateInstanceEnum(className);
    }
};

// Files every prefix has: a program, a library, a running driver and a stopped one.
SW_VER_ENTRY s_TestCatalogue[] = {
    {5, "notepad.exe", "Notepad", "%SystemRoot%\\system32\\notepad.exe", 0, 0},
    {4, "kernel32.dll", "Kernel", "%SystemRoot%\\system32\\kernel32.dll", 0, 0},
    {2, "mountmgr.sys", "Mount manager", "%SystemRoot%\\system32\\drivers\\mountmgr.sys", 0, 0},
    {2, "http.sys", "HTTP", "%SystemRoot%\\system32\\drivers\\http.sys", 0, 0},
    {0, nullptr, nullptr, nullptr, 0, 0},
};

} // namespace

void InstallSoftwareSeams()
{
    s_WMICimV2 = std::make_unique<E2eCimV2>();
    g_SwVerTable = s_TestCatalogue;
}
