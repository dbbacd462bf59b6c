// netwatch_probe.exe DIR: the network polling thread against the host's real interfaces, for the
// test that runs in a network namespace of its own. It writes DIR\interfaces.txt (the interface
// table as Wine's GetIfTable reports it, states mapped, one "index<TAB>name<TAB>state" line each,
// rewritten every 50 ms) and appends one line to DIR\triggers.txt whenever the polling thread
// triggered the network collections. It ends when DIR\stop appears.
#include "datacollector.h"
#include "iphelper.h"
#include "scheduler.h"
#include "watchers.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: netwatch_probe DIR\n");
        return 2;
    }
    const std::wstring dir = argv[1];
    DATACOLLECTOR mib2(L"MIB-2", 0, 0, 0, nullptr);
    DATACOLLECTOR nic(L"ZDTNIC", 18, 1, 48, nullptr);
    DATACOLLECTOR *list[] = {&mib2, &nic, nullptr};
    SetCollectorList(list);
    NetworkWatcherTimeouts::PollTickMs = 100;
    NetworkWatcherTimeouts::PollTicks = 1;
    HANDLE thread = StartNetworkPollThread();
    if (thread == nullptr)
        return 1;

    int triggers = 0;
    while (GetFileAttributesW((dir + L"\\stop").c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (MIB_IFTABLE *table = AllocIfTable()) {
            std::string text;
            for (DWORD i = 0; i < table->dwNumEntries; ++i) {
                const MIB_IFROW &row = table->table[i];
                text += std::to_string(row.dwIndex) + "\t" + IfRowDescription(row) + "\t" +
                        std::to_string(row.dwOperStatus) + "\n";
            }
            free(table);
            const std::wstring temporary = dir + L"\\interfaces.tmp";
            if (FILE *f = _wfopen(temporary.c_str(), L"wb")) {
                fputs(text.c_str(), f);
                fclose(f);
                MoveFileExW(temporary.c_str(), (dir + L"\\interfaces.txt").c_str(), MOVEFILE_REPLACE_EXISTING);
            }
        }
        if (mib2.IsTriggered() && nic.IsTriggered()) {
            mib2.ClearTrigger();
            nic.ClearTrigger();
            if (FILE *f = _wfopen((dir + L"\\triggers.txt").c_str(), L"ab")) {
                fprintf(f, "trigger %d\n", ++triggers);
                fclose(f);
            }
        }
        Sleep(50);
    }
    StopNetworkWatcher();
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    SetCollectorList(nullptr);
    return 0;
}
