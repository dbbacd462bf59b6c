#include "service_entry.h"

#include "service_start.h"

namespace {

void WINAPI ServiceMain(DWORD argc, LPWSTR *argv)
{
    RunService(&s_ServiceEntry, argc, argv);
}

} // namespace

SERVICEENTRY s_ServiceEntry = {
    L"ndxtlm",
    ServiceMain,
    OnStart,
    OnRun,
    OnStop,
    nullptr, // OnControl
    0, nullptr, nullptr, {},
};

int RunServiceProgram(int argc, wchar_t **argv)
{
    SERVICEHOST host = {};
    host.DisplayName = kServiceDisplayName;
    host.Startup = ServiceStartup;
    host.Cleanup = ServiceCleanup;
    host.Entries[0] = &s_ServiceEntry;
    host.Entries[1] = nullptr;
    host.Argc = argc;
    host.Argv = argv;
    RunServiceHost(&host);
    return 0;
}
