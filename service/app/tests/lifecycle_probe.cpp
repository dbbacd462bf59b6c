// lifecycle_probe.exe: the service program (the simulation build) with the test seams set from its
// command line, for the tests that run it under the service control manager.
//   --fail WORD   the start-up step with that word fails
//   --slow-stop   the network polling thread is inside a table read when the stop comes, however late
//                 it comes, and the read ends two seconds after it
#include "service_entry.h"
#include "service_start.h"
#include "watchers.h"

#include <windows.h>

#include <cwchar>

namespace {

// The tests install the probe under the service's own name.
constexpr wchar_t kServiceName[] = L"ndxtlm";

MIB_IFTABLE *SlowRawTable()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != nullptr ? OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS) : nullptr;
    for (const ULONGLONG start = GetTickCount64(); service != nullptr && GetTickCount64() - start < 120000;) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOP_PENDING ||
            status.dwCurrentState == SERVICE_STOPPED)
            break;
        Sleep(20);
    }
    if (service != nullptr)
        CloseServiceHandle(service);
    if (manager != nullptr)
        CloseServiceHandle(manager);
    Sleep(2000);
    return nullptr;
}
NETWORK_WATCHER_PLATFORM s_SlowPlatform;

} // namespace

int wmain(int argc, wchar_t **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"--fail") == 0 && i + 1 < argc) {
            s_FailingStartStep = argv[++i];
        } else if (wcscmp(argv[i], L"--slow-stop") == 0) {
            s_SlowPlatform = SystemNetworkWatcherPlatform();
            s_SlowPlatform.AllocRawIfTable = &SlowRawTable;
            SetNetworkWatcherPlatform(&s_SlowPlatform);
            NetworkWatcherTimeouts::PollTickMs = 10;
            NetworkWatcherTimeouts::PollTicks = 1;
            ServiceStopTimeouts::CheckpointMs = 200;
        }
    }
    return RunServiceProgram(argc, argv);
}
