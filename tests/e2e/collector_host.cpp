// collector_e2e_host.exe: the service's collection and AgentX side without the service's start,
// for end-to-end tests: the real "Data Collection" thread over the collectors the test names,
// the sub-agent registering them through the scheduler link, traps, and the pipe channel to
// oxbsim.exe. It runs until the stop file appears.
//
//   collector_e2e_host.exe --sim NAME --dir DIR --collectors NAME[,NAME...] [--heartbeat-ms MS]
//                          [--software-seams] [--blackbox] [--stdeq-fixture FILE] [--nic-wait-ms MS]
//                          [--storage-server HBA-LIBRARY] [--lockstep] [--nic-library-pass]
// --software-seams answers the WMI classes Wine lacks and uses a test catalogue; --blackbox runs
// the black-box thread, whose records go to oxbsim.exe; --stdeq-fixture FILE shows the standard
// equipment of that fixture (stdeq_fixture.h); --storage-server shows the storage end-to-end
// test's simulated server (storage_server.h) with the test HBA API library at that path;
// --nic-wait-ms MS bounds the NIC collector's wait for its library's pass (a test that runs it
// without the library, over records it wrote itself); --nic-library-pass plays the library's
// part of each collection's handshake (its pass ends at once, over the records already written).
// --lockstep holds collection cycle N until DIR holds "go-N" and then runs it on a clock that has
// moved on far enough for every collector to be due; after it, "cycle-N.txt" gives the cycle's
// wall time in milliseconds and, with the storage server, its device requests and open handles,
// and "cycle-N.costs" (written first) what each part of the cycle took of the "Data Collection"
// thread: a line "part NAME WALL-US CPU-US BEGIN" (BEGIN a FILETIME) for the start pass, each collector that collected
// (by its group name), the end pass, the interval pass and the publish-and-merge step, then
// "window BEGIN END" (the cycle's begin and end as FILETIMEs) and "process-cpu-us N".
// The collectors are taken from the program's list, in its order, by their group names.
// DIR receives "registered" (a line per registration of the collectors) and is watched for "stop"
// and for "trigger": a collection of the groups it names (a name a line, ZDTNIC say), asked for as
// the service's network watcher asks for one when a link changes; the file goes once the
// collections are asked for. Without --lockstep, DIR's "cycles" holds the number of collection
// cycles ended, so a test that saw "trigger" go can wait for the cycle after the next to end (the
// next may have begun before the request).
#include "agentx_scheduler_link.h"
#include "collector_list.h"
#include "datastore.h"
#include "nic_handshake.h"
#include "pipe_backend.h"
#include "scheduler.h"
#include "service_parameters.h"
#include "software_seams.h"
#include "stdeq_fixture.h"
#include "storage_server.h"
#include "blackbox.h"
#include "subagent.h"
#include "traps.h"
#include "wmi.h"
#include "zdt_ci.h"
#include "zdthost_collector.h"
#include "zdtnic_collector.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring s_Dir;

std::wstring PathOf(const wchar_t *name) { return s_Dir + L"\\" + name; }

// The scheduler link, and a line in "registered" after every registration of the collectors.
class RecordingLink : public AGENTX_SCHEDULER_LINK {
public:
    int RegisterCollectors(AXSESSION &session) override
    {
        const int result = AGENTX_SCHEDULER_LINK::RegisterCollectors(session);
        if (FILE *f = _wfopen(PathOf(L"registered").c_str(), L"ab")) {
            fprintf(f, "session %u result %d\n", session.SessionId(), result);
            fclose(f);
        }
        return result;
    }
};

// The scheduler's own clock, with a count of the cycles ended in "cycles" (written whole).
class CycleCountingClock final : public SCHEDULER_CLOCK {
public:
    explicit CycleCountingClock(SCHEDULER_CLOCK *clock) : m_Clock(clock) {}

    uint64_t Now() override { return m_Clock->Now(); }

    DWORD Pause(int pause, HANDLE stopEvent, DWORD milliseconds) override
    {
        if (pause == 6) {  // the pause after a cycle
            const std::wstring partial = PathOf(L"cycles.tmp");
            if (FILE *f = _wfopen(partial.c_str(), L"wb")) {
                fprintf(f, "%llu\n", ++m_Ended);
                fclose(f);
                MoveFileExW(partial.c_str(), PathOf(L"cycles").c_str(), MOVEFILE_REPLACE_EXISTING);
            }
        }
        return m_Clock->Pause(pause, stopEvent, milliseconds);
    }

private:
    SCHEDULER_CLOCK *m_Clock;
    unsigned long long m_Ended = 0;
};

// The scheduler's clock in lock-step with the test: the first pause of cycle N waits for "go-N",
// and the cycle's time is N polling periods after the start, so every collector is due in it.
class LockstepClock final : public SCHEDULER_CLOCK {
public:
    explicit LockstepClock(bool storageServer) : m_StorageServer(storageServer)
    {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        m_Start = uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    }

    uint64_t Now() override { return m_Start + uint64_t(m_Cycle.load()) * kPeriodSeconds * 10000000ull; }

    DWORD Pause(int pause, HANDLE stopEvent, DWORD milliseconds) override
    {
        EndPart(pause);
        if (pause == 1) {
            const int next = m_Cycle.load() + 1;
            const std::wstring go = PathOf((L"go-" + std::to_wstring(next)).c_str());
            while (GetFileAttributesW(go.c_str()) == INVALID_FILE_ATTRIBUTES)
                if (WaitForSingleObject(stopEvent, 20) == WAIT_OBJECT_0)
                    return WAIT_OBJECT_0;
            if (m_StorageServer)
                StorageServerBeforeCycle(next);
            m_Cycle = next;
            m_Began = GetTickCount64();
            m_Paused = 0;
            m_Parts.clear();
            m_NextCollector = 0;
            GetSystemTimePreciseAsFileTime(&m_Window[0]);
            m_ProcessCpu = ProcessCpu();
        } else if (pause == 6 && m_Began != 0) {
            GetSystemTimePreciseAsFileTime(&m_Window[1]);
            WriteCosts();
            const ULONGLONG elapsed = GetTickCount64() - m_Began;
            m_Began = 0;
            const std::wstring name = L"cycle-" + std::to_wstring(m_Cycle.load());
            const std::wstring partial = PathOf((name + L".tmp").c_str());
            if (FILE *f = _wfopen(partial.c_str(), L"wb")) {
                // The cycle's wall time, and how much of it the scheduler spent in its pauses.
                fprintf(f, "ms %llu\npause-ms %llu\n", static_cast<unsigned long long>(elapsed),
                        static_cast<unsigned long long>(m_Paused));
                if (m_StorageServer)
                    StorageServerAfterCycle(f);
                fclose(f);
                MoveFileExW(partial.c_str(), PathOf((name + L".txt").c_str()).c_str(), MOVEFILE_REPLACE_EXISTING);
            }
        }
        const ULONGLONG before = GetTickCount64();
        const DWORD result = WaitForSingleObject(stopEvent, milliseconds);
        if (m_Began != 0)
            m_Paused += GetTickCount64() - before;
        BeginPart(pause);
        return result;
    }

private:
    struct PART {
        std::wstring name;
        double wallUs;
        double cpuUs;
        uint64_t began;
    };

    static double Microseconds()
    {
        LARGE_INTEGER frequency, now;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
    }
    static double Us(const FILETIME &t) { return static_cast<double>(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10; }
    static double ThreadCpu()
    {
        FILETIME created, exited, kernel, user;
        return GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user) ? Us(kernel) + Us(user) : 0;
    }
    static double ProcessCpu()
    {
        FILETIME created, exited, kernel, user;
        return GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user) ? Us(kernel) + Us(user) : 0;
    }

    // The part of the cycle that follows pause number `pause`.
    void BeginPart(int pause)
    {
        m_Part.clear();
        if (m_Began == 0)
            return;
        switch (pause) {
        case 1: m_Part = L"start"; break;
        case 2: {
            // The collect pass pauses before each collector that is enabled and collecting.
            DATACOLLECTOR *const *list = GetCollectorList();
            while (list[m_NextCollector] != nullptr &&
                   !(list[m_NextCollector]->IsEnabled() && list[m_NextCollector]->IsCollecting()))
                ++m_NextCollector;
            if (list[m_NextCollector] != nullptr)
                m_Part = list[m_NextCollector++]->Name();
            break;
        }
        case 3: m_Part = L"end"; break;
        case 4: m_Part = L"intervals"; break;
        case 5: m_Part = L"merge"; break;
        default: break;
        }
        m_PartWall = Microseconds();
        m_PartCpu = ThreadCpu();
        GetSystemTimePreciseAsFileTime(&m_PartBegan);
    }

    void EndPart(int)
    {
        if (m_Part.empty())
            return;
        m_Parts.push_back({m_Part, Microseconds() - m_PartWall, ThreadCpu() - m_PartCpu,
                           uint64_t(m_PartBegan.dwHighDateTime) << 32 | m_PartBegan.dwLowDateTime});
        m_Part.clear();
    }

    void WriteCosts()
    {
        const std::wstring name = L"cycle-" + std::to_wstring(m_Cycle.load()) + L".costs";
        if (FILE *f = _wfopen(PathOf(name.c_str()).c_str(), L"wb")) {
            for (const PART &part : m_Parts)
                fprintf(f, "part %ls %.0f %.0f %llu\n", part.name.c_str(), part.wallUs, part.cpuUs,
                        static_cast<unsigned long long>(part.began));
            fprintf(f, "window %llu %llu\nprocess-cpu-us %.0f\n",
                    static_cast<unsigned long long>(uint64_t(m_Window[0].dwHighDateTime) << 32 | m_Window[0].dwLowDateTime),
                    static_cast<unsigned long long>(uint64_t(m_Window[1].dwHighDateTime) << 32 | m_Window[1].dwLowDateTime),
                    ProcessCpu() - m_ProcessCpu);
            fclose(f);
        }
    }

    // Longer than any poll interval or trigger a collector can have.
    static constexpr uint64_t kPeriodSeconds = 3601;
    bool m_StorageServer;
    uint64_t m_Start = 0;
    std::atomic<int> m_Cycle{0};
    ULONGLONG m_Began = 0;
    ULONGLONG m_Paused = 0;
    // What the "Data Collection" thread spends on each part of the cycle.
    std::wstring m_Part;
    double m_PartWall = 0, m_PartCpu = 0, m_ProcessCpu = 0;
    size_t m_NextCollector = 0;
    std::vector<PART> m_Parts;
    FILETIME m_Window[2] = {};
    FILETIME m_PartBegan = {};
};

// The NIC library's side of a collection's handshake, without the library: every Init it is
// given is answered with Done at once.
DWORD WINAPI NicLibraryPass(void *)
{
    HANDLE init = CreateEventW(nullptr, FALSE, FALSE, kNicInitEvent);
    if (init == nullptr)
        return 1;
    while (WaitForSingleObject(init, INFINITE) == WAIT_OBJECT_0) {
        if (HANDLE done = CreateEventW(nullptr, FALSE, FALSE, kNicInitDoneEvent)) {
            SetEvent(done);
            CloseHandle(done);
        }
    }
    return 0;
}

// The named collectors of the program's list, in the list's order, then null.
bool SelectCollectors(const std::wstring &names, std::vector<DATACOLLECTOR *> *selected)
{
    std::vector<std::wstring> wanted;
    for (size_t at = 0; at <= names.size();) {
        size_t comma = names.find(L',', at);
        if (comma == std::wstring::npos)
            comma = names.size();
        if (comma > at)
            wanted.push_back(names.substr(at, comma - at));
        at = comma + 1;
    }
    for (DATACOLLECTOR **entry = s_CollectorList; *entry != nullptr; ++entry)
        for (const std::wstring &name : wanted)
            if (_wcsicmp(name.c_str(), (*entry)->Name()) == 0)
                selected->push_back(*entry);
    selected->push_back(nullptr);
    return selected->size() == wanted.size() + 1;
}

// The collections that "trigger" asks for; the test writes it whole (renamed into place).
void TriggerNamedCollections()
{
    const std::wstring path = PathOf(L"trigger");
    FILE *f = _wfopen(path.c_str(), L"rb");
    if (f == nullptr)
        return;
    std::vector<std::wstring> groups;
    char line[128];
    while (fgets(line, sizeof line, f) != nullptr) {
        std::string name(line);
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' '))
            name.pop_back();
        if (!name.empty())
            groups.emplace_back(name.begin(), name.end());
    }
    fclose(f);
    for (const std::wstring &group : groups)
        TriggerCollection(group.c_str(), 0);
    DeleteFileW(path.c_str());
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    std::wstring sim, collectors, stdeqFixture, storageServer;
    bool softwareSeams = false, blackbox = false, lockstep = false, nicLibraryPass = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring key = argv[i];
        if (key == L"--software-seams") {
            softwareSeams = true;
            continue;
        }
        if (key == L"--blackbox") {
            blackbox = true;
            continue;
        }
        if (key == L"--nic-library-pass") {
            nicLibraryPass = true;
            continue;
        }
        if (key == L"--lockstep") {
            lockstep = true;
            continue;
        }
        if (i + 1 >= argc)
            break;
        if (key == L"--sim")
            sim = argv[i + 1];
        else if (key == L"--dir")
            s_Dir = argv[i + 1];
        else if (key == L"--collectors")
            collectors = argv[i + 1];
        else if (key == L"--stdeq-fixture")
            stdeqFixture = argv[i + 1];
        else if (key == L"--storage-server")
            storageServer = argv[i + 1];
        else if (key == L"--nic-wait-ms")
            NIC_COLLECTOR_TIMING::InitDoneMs = static_cast<uint32_t>(wcstoul(argv[i + 1], nullptr, 10));
        else if (key == L"--heartbeat-ms")
            HEARTBEAT_TIMING::PassMs = static_cast<DWORD>(wcstoul(argv[i + 1], nullptr, 10));
        ++i;
    }
    static std::vector<DATACOLLECTOR *> list;
    if (sim.empty() || s_Dir.empty() || !SelectCollectors(collectors, &list)) {
        fprintf(stderr, "usage: collector_e2e_host --sim NAME --dir DIR --collectors NAME[,NAME...]\n");
        return 2;
    }
    // A simulator that goes away must be found again quickly.
    AgentXThreadTimeouts::OpenRetryMs = 1000;
    AxTransportTimeouts::QueueWaitMs = 5000;
    AxTransportTimeouts::ThreadReadWaitMs = 2000;
    AxTransportTimeouts::IdleWaitMs = 1000;

    InitCom();
    InitWMIConnection(&s_WMIRootWmi, L"\\\\.\\root\\wmi");
    InitWMIConnection(&s_WMICimV2, kWmiCimV2Path);
    if (softwareSeams)
        InstallSoftwareSeams();
    if (!stdeqFixture.empty()) {
        // The kit's time-stamp file lies in the current directory.
        SetCurrentDirectoryW(s_Dir.c_str());
        InstallStdeqFixture(stdeqFixture);
    }
    if (!storageServer.empty() && !InstallStorageServer(storageServer)) {
        fprintf(stderr, "collector_e2e_host: the HBA API library did not load\n");
        return 1;
    }
    if (nicLibraryPass) {
        // Waiting on its Init event before the collector first sets it.
        HANDLE init = CreateEventW(nullptr, FALSE, FALSE, kNicInitEvent);
        if (HANDLE thread = CreateThread(nullptr, 0, NicLibraryPass, nullptr, 0, nullptr))
            CloseHandle(thread);
        (void)init;  // held for the program's life
    }
    if (lockstep) {
        static LockstepClock clock(!storageServer.empty());
        SetSchedulerClock(&clock);
    } else {
        static CycleCountingClock clock(GetSchedulerClock());
        SetSchedulerClock(&clock);
    }
    if (!InitDataStores())
        return 1;
    s_DataStore = new DATASTORE(true);
    InitTraps();
    SetCollectorList(list.data());
    static RecordingLink link;
    s_AgentXScheduler = &link;
    PipeBackendSetName(sim.c_str());
    ZdtCiInitialize(nullptr);
    if (blackbox && !InitBlackBox()) {
        fprintf(stderr, "collector_e2e_host: the black box did not start\n");
        return 1;
    }
    if (StartDataCollection() != 1 || !StartAgentX()) {
        fprintf(stderr, "collector_e2e_host: start failed\n");
        return 1;
    }
    const std::wstring stop = PathOf(L"stop");
    while (GetFileAttributesW(stop.c_str()) == INVALID_FILE_ATTRIBUTES) {
        TriggerNamedCollections();
        Sleep(100);
    }
    StopDataCollection();
    StopAgentX();
    if (blackbox)
        TermBlackBox();
    TermTraps();
    ZdtCiTerminate();
    s_WMICimV2.reset();
    s_WMIRootWmi.reset();
    TermDataStores();
    UninitCom();
    return 0;
}
