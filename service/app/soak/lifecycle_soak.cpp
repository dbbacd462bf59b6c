// lifecycle_soak.exe: figures for the reliability soak (scripts run it by hand, never as a test).
//   lifecycle_soak.exe cycles N         N OnStart/OnStop cycles in this process, after one cycle
//                                       that makes what the process keeps for good (COM, the WMI
//                                       locator); prints handle count and private bytes before and
//                                       after
//   lifecycle_soak.exe scm N PROGRAM    N start/stop cycles of PROGRAM installed as the service
//                                       "ndxtlm"; prints the service control manager's
//                                       (services.exe) handle count and private bytes before and
//                                       after, and the service process's in its last cycle
//   lifecycle_soak.exe measure NAME     handle count and private bytes of the process NAME
#include "service_host.h"
#include "service_start.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Figures {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
};

// Wine answers GetProcessHandleCount and the private usage of GetProcessMemoryInfo with 0, so the
// figures are taken the long way, which means the same on Windows: the system's handle table
// entries of the process, and the committed private regions of its address space.
struct SYSTEM_HANDLE_ENTRY {
    ULONG ProcessId;
    UCHAR ObjectType;
    UCHAR Flags;
    USHORT Handle;
    PVOID Object;
    ACCESS_MASK Access;
};
struct SYSTEM_HANDLE_TABLE {
    ULONG Count;
    SYSTEM_HANDLE_ENTRY Handles[1];
};
constexpr ULONG kSystemHandleInformation = 16;

DWORD HandleCount(DWORD pid)
{
    std::vector<char> buffer(1 << 20);
    ULONG needed = 0;
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(kSystemHandleInformation),
                                              buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
           static_cast<NTSTATUS>(0xC0000004))
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return 0;
    const auto *table = reinterpret_cast<const SYSTEM_HANDLE_TABLE *>(buffer.data());
    DWORD count = 0;
    for (ULONG i = 0; i < table->Count; ++i)
        count += table->Handles[i].ProcessId == pid;
    return count;
}

SIZE_T PrivateBytes(HANDLE process)
{
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char *at = nullptr; VirtualQueryEx(process, at, &region, sizeof region) == sizeof region;
         at = static_cast<const char *>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += region.RegionSize;
    }
    return total;
}

bool Measure(HANDLE process, Figures *figures)
{
    figures->handles = HandleCount(GetProcessId(process));
    figures->privateBytes = PrivateBytes(process);
    return figures->handles != 0 && figures->privateBytes != 0;
}

DWORD FindProcess(const wchar_t *name)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD pid = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && pid == 0; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, name) == 0)
            pid = entry.th32ProcessID;
    CloseHandle(snapshot);
    return pid;
}

void Cycle(SERVICEENTRY *entry)
{
    if (!OnStart(entry, 0, nullptr))
        fprintf(stderr, "a start failed\n");
    entry->Status.dwCurrentState = SERVICE_STOP_PENDING;
    OnStop(entry);
}

bool MeasureByName(const wchar_t *name, Figures *figures)
{
    DWORD pid = FindProcess(name);
    HANDLE process = pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr;
    if (process == nullptr)
        return false;
    bool measured = Measure(process, figures);
    CloseHandle(process);
    return measured;
}

bool WaitForState(SC_HANDLE service, DWORD wanted)
{
    for (int i = 0; i < 3000; ++i) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status))
            return false;
        if (status.dwCurrentState == wanted)
            return true;
        Sleep(10);
    }
    return false;
}

int ScmCycles(int cycles, const wchar_t *program)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
        return 1;
    std::wstring command = std::wstring(L"\"") + program + L"\"";
    SC_HANDLE service = CreateServiceW(manager, L"ndxtlm", L"NDX Velmarine Management Service", SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr)
        service = OpenServiceW(manager, L"ndxtlm", SERVICE_ALL_ACCESS);
    if (service == nullptr)
        return 1;
    const auto cycle = [&](Figures *serviceFigures) {
        if (!StartServiceW(service, 0, nullptr) || !WaitForState(service, SERVICE_RUNNING))
            return false;
        const wchar_t *name = wcsrchr(program, L'\\');
        if (serviceFigures != nullptr)
            MeasureByName(name ? name + 1 : program, serviceFigures);
        SERVICE_STATUS status{};
        return ControlService(service, SERVICE_CONTROL_STOP, &status) && WaitForState(service, SERVICE_STOPPED);
    };
    Figures firstService, lastService, before, after;
    bool ok = cycle(&firstService);
    MeasureByName(L"services.exe", &before);
    int done = 0;
    for (int i = 0; ok && i < cycles; ++i, ++done)
        ok = cycle(i + 1 == cycles ? &lastService : nullptr);
    MeasureByName(L"services.exe", &after);
    printf("%d %lu %llu %lu %llu %lu %llu %lu %llu\n", done, before.handles,
           static_cast<unsigned long long>(before.privateBytes), after.handles,
           static_cast<unsigned long long>(after.privateBytes), firstService.handles,
           static_cast<unsigned long long>(firstService.privateBytes), lastService.handles,
           static_cast<unsigned long long>(lastService.privateBytes));
    DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc == 3 && wcscmp(argv[1], L"measure") == 0) {
        DWORD pid = FindProcess(argv[2]);
        HANDLE process = pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr;
        Figures figures;
        if (process == nullptr || !Measure(process, &figures)) {
            fprintf(stderr, "cannot measure %ls\n", argv[2]);
            return 1;
        }
        printf("%lu %llu\n", figures.handles, static_cast<unsigned long long>(figures.privateBytes));
        CloseHandle(process);
        return 0;
    }
    if (argc == 4 && wcscmp(argv[1], L"scm") == 0)
        return ScmCycles(_wtoi(argv[2]), argv[3]);
    if (argc == 3 && wcscmp(argv[1], L"cycles") == 0) {
        const int cycles = _wtoi(argv[2]);
        SERVICEENTRY entry{};
        entry.Name = L"ndxtlm";
        Cycle(&entry);
        Figures before, after;
        Measure(GetCurrentProcess(), &before);
        for (int i = 0; i < cycles; ++i)
            Cycle(&entry);
        Measure(GetCurrentProcess(), &after);
        printf("%d %lu %llu %lu %llu\n", cycles, before.handles, static_cast<unsigned long long>(before.privateBytes),
               after.handles, static_cast<unsigned long long>(after.privateBytes));
        return 0;
    }
    fprintf(stderr, "usage: lifecycle_soak cycles N | measure NAME\n");
    return 2;
}
