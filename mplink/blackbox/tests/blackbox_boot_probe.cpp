// One start of the service as far as the boot record goes: starts the black box against a
// simulated processor, posts the boot record twice and a shutdown record as a marker, and exits
// 0 when the log received the number of boot records the argument says ("posted": 1, "none": 0).
// check_boot_record.sh runs it across restarts of the wineserver, the operating system's boot.
#include "blackbox.h"
#include "chan.h"
#include "oxbsim_process.h"
#include "pipe_backend.h"
#include "service_parameters.h"

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2 || (wcscmp(argv[1], L"posted") != 0 && wcscmp(argv[1], L"none") != 0)) {
        fprintf(stderr, "usage: blackbox_boot_probe posted|none\n");
        return 2;
    }
    const size_t expected = wcscmp(argv[1], L"posted") == 0 ? 1 : 0;
    ChanTimeouts::DefaultReplyWaitMs = 2000;
    BlackBoxTimeouts::WakeMs = 300;
    s_ServiceParameters.EnableBlackbox = 1;

    OxbSim sim(OxbSim::UniqueName("bbboot"));
    PipeBackendSetName(sim.Name().c_str());
    if (!sim.Start() || !InitBlackBox()) {
        fprintf(stderr, "could not start\n");
        return 1;
    }
    PostOsBootRecord();
    PostOsBootRecord();
    PostOsShutdownRecord();
    size_t boots = 0;
    bool marker = false;
    for (int wait = 0; wait < 1500 && !marker; ++wait) {
        Sleep(20);
        boots = 0;
        for (const SimRecord &record : sim.Records("bbdata")) {
            boots += record.Number("code") == 1;
            marker = marker || record.Number("code") == 2;
        }
    }
    TermBlackBox();
    sim.Stop();
    printf("boot records: %zu, expected %zu\n", boots, expected);
    return marker && boots == expected ? 0 : 1;
}
