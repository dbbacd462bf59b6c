#include "service_entry.h"
#include "service_start.h"

int wmain(int argc, wchar_t **argv)
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
