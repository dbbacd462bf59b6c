// A service program built on the host framework, for the tests that drive it through the real
// service control manager. Its start arguments are: the path of a file in which it writes what it
// observes (its own status as the service control manager reports it, in each callback), and the
// behaviour of its callbacks: "ok", "fail" (OnStart returns 0), "fault" (OnStart writes through a
// null pointer), "badalloc" (OnStop lets std::bad_alloc escape, converted as the service does).
#include "exception_guard.h"
#include "service_host.h"

#include <cstdio>
#include <new>
#include <string>

namespace {

SERVICEENTRY s_ProbeEntry;
std::wstring g_ObservationFile;
std::wstring g_Mode = L"ok";

void Observe(const wchar_t *where)
{
    SERVICE_STATUS status{};
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, s_ProbeEntry.Name, SERVICE_QUERY_STATUS) : nullptr;
    bool known = service && QueryServiceStatus(service, &status);
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);

    FILE *file = _wfopen(g_ObservationFile.c_str(), L"a");
    if (file == nullptr)
        return;
    if (known)
        std::fwprintf(file, L"%ls state=%lu accepted=%lu checkpoint=%lu waithint=%lu\n", where,
                      status.dwCurrentState, status.dwControlsAccepted, status.dwCheckPoint, status.dwWaitHint);
    else
        std::fwprintf(file, L"%ls unknown\n", where);
    std::fclose(file);
}

void __attribute__((noinline)) WriteThroughNull(volatile int *target)
{
    *target = 1;
}

int OnStart(SERVICEENTRY *, DWORD argc, LPWSTR *argv)
{
    if (argc >= 2)
        g_ObservationFile = argv[1];
    if (argc >= 3)
        g_Mode = argv[2];
    Observe(L"OnStart");
    if (g_Mode == L"fault")
        WriteThroughNull(nullptr);
    return g_Mode == L"fail" ? 0 : 1;
}

void OnRun(SERVICEENTRY *entry)
{
    Observe(L"OnRun");
    WaitForSingleObject(entry->StopEvent, INFINITE);
    Observe(L"StopRequested");
}

void OnStop(SERVICEENTRY *)
{
    ConvertLanguageExceptions([] {
        Observe(L"OnStop");
        if (g_Mode == L"badalloc")
            throw std::bad_alloc();
    });
}

void WINAPI ProbeMain(DWORD argc, LPWSTR *argv)
{
    RunService(&s_ProbeEntry, argc, argv);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    s_ProbeEntry = SERVICEENTRY{};
    s_ProbeEntry.Name = L"tlmprobe";
    s_ProbeEntry.ServiceMain = ProbeMain;
    s_ProbeEntry.OnStart = OnStart;
    s_ProbeEntry.OnRun = OnRun;
    s_ProbeEntry.OnStop = OnStop;

    SERVICEHOST host{};
    host.DisplayName = L"Tlm Probe Service";
    host.Entries[0] = &s_ProbeEntry;
    host.Argc = argc;
    host.Argv = argv;
    RunServiceHost(&host);
    return 0;
}
