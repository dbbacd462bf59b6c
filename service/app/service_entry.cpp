#include "service_entry.h"

namespace {

void WINAPI ServiceMain(DWORD argc, LPWSTR *argv)
{
    RunService(&s_ServiceEntry, argc, argv);
}

} // namespace

SERVICEENTRY s_ServiceEntry = {
    L"ndxtlm",
    ServiceMain,
    nullptr, // OnStart
    nullptr, // OnRun
    nullptr, // OnStop
    nullptr, // OnControl
    0, nullptr, nullptr, {},
};
