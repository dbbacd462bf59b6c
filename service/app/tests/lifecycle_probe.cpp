// lifecycle_probe.exe: the service program (the simulation build) with the test seams set from its
// command line, for the tests that run it under the service control manager.
//   --fail WORD   the start-up step with that word fails
//   --slow-stop   the network polling thread is inside a two-second table read when the stop comes
#include "service_entry.h"
#include "service_start.h"
#include "watchers.h"

#include <cwchar>

namespace {

MIB_IFTABLE *SlowRawTable()
{
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
