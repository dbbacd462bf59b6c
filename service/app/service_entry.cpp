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
