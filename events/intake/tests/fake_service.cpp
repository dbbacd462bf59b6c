// A service that does nothing but run until it is stopped, for tests that need services in given
// states under the service control manager. Its service name is its first argument.
#include "service_host.h"

namespace {

SERVICEENTRY s_FakeEntry = {};

void WINAPI FakeServiceMain(DWORD argc, LPWSTR *argv)
{
    RunService(&s_FakeEntry, argc, argv);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    s_FakeEntry.Name = argc > 1 ? argv[1] : L"fake";
    s_FakeEntry.ServiceMain = FakeServiceMain;
    SERVICEHOST host = {};
    host.DisplayName = L"Fake service";
    host.Entries[0] = &s_FakeEntry;
    host.Argc = argc;
    host.Argv = argv;
    RunServiceHost(&host);
    return 0;
}
