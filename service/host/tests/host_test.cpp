// The service host in-process: exception guards, the control handler, console mode and the
// host's own events (through the event recorder).
#include "event_sink_recorder.h"
#include "exception_guard.h"
#include "service_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using eventsink::RecordedEvents;

std::vector<DWORD> RecordedIds()
{
    std::vector<DWORD> ids;
    for (const auto &e : RecordedEvents())
        ids.push_back(e.id);
    return ids;
}

void __attribute__((noinline)) WriteThroughNull(volatile int *target)
{
    *target = 1;
}

// --- exception guards ------------------------------------------------------------------------

TEST(ExceptionGuard, ReportsHardwareFaultsRaisedExceptionsAndEscapedCppExceptions)
{
    struct Case {
        const char *what;
        void (*body)();
        DWORD code;
    } cases[] = {
        {"access violation", [] { WriteThroughNull(nullptr); }, 0xC0000005},
        {"raised no-memory", [] { RaiseException(0xC0000017, 0, 0, nullptr); }, 0xC0000017},
        {"raised custom code", [] { RaiseException(0xE0001234, 0, 0, nullptr); }, 0xE0001234},
        {"escaped bad_alloc", [] { throw std::bad_alloc(); }, kExceptionNoMemory},
        {"escaped runtime_error", [] { throw std::runtime_error("x"); }, kExceptionLanguage},
        {"converted bad_alloc", [] { ConvertLanguageExceptions([]() -> int { throw std::bad_alloc(); }); },
         0xC0000017},
        {"converted other", [] { ConvertLanguageExceptions([] { throw 42; }); }, 0xC0000001},
    };
    for (const auto &c : cases) {
        DWORD code = 0;
        EXPECT_FALSE(RunGuarded(c.body, &code)) << c.what;
        EXPECT_EQ(code, c.code) << c.what;
    }
    // The thread goes on normally afterwards.
    DWORD code = 0;
    int ran = 0;
    EXPECT_TRUE(RunGuarded([&] { ran = 1; }, &code));
    EXPECT_EQ(ran, 1);
}

TEST(ExceptionGuard, ExceptionsHandledInsideTheBodyStayThere)
{
    DWORD code = 0;
    int caught = 0;
    EXPECT_TRUE(RunGuarded(
        [&] {
            try {
                throw std::runtime_error("handled inside");
            } catch (const std::exception &) {
                caught = 1;
            }
        },
        &code));
    EXPECT_EQ(caught, 1);
}

TEST(ExceptionGuard, NestedGuardsCatchAtTheInnermost)
{
    DWORD outerCode = 0, innerCode = 0;
    bool innerReturned = true;
    bool outerReturned = RunGuarded(
        [&] { innerReturned = RunGuarded([] { RaiseException(0xE0000001, 0, 0, nullptr); }, &innerCode); },
        &outerCode);
    EXPECT_TRUE(outerReturned);
    EXPECT_FALSE(innerReturned);
    EXPECT_EQ(innerCode, 0xE0000001u);
}

TEST(ExceptionGuard, GuardsOnOtherThreadsAreIndependent)
{
    std::atomic<int> faults{0};
    auto worker = [](void *arg) -> DWORD {
        auto *count = static_cast<std::atomic<int> *>(arg);
        for (int i = 0; i < 50; ++i) {
            DWORD code = 0;
            if (!RunGuarded([] { WriteThroughNull(nullptr); }, &code) && code == 0xC0000005)
                ++*count;
        }
        return 0;
    };
    HANDLE threads[4];
    for (auto &t : threads)
        t = CreateThread(nullptr, 0, worker, &faults, 0, nullptr);
    WaitForMultipleObjects(4, threads, TRUE, 30000);
    for (auto t : threads)
        CloseHandle(t);
    EXPECT_EQ(faults, 200);
}

// --- control handler -----------------------------------------------------------------------

std::atomic<DWORD> g_ControlSeen{0};

TEST(ServiceHandlerEx, ControlsAsATable)
{
    struct Case {
        DWORD control;
        DWORD result;
        bool stops;
    } cases[] = {
        {SERVICE_CONTROL_STOP, NO_ERROR, true},
        {SERVICE_CONTROL_SHUTDOWN, NO_ERROR, true},
        {SERVICE_CONTROL_INTERROGATE, NO_ERROR, false},
        {SERVICE_CONTROL_PAUSE, ERROR_CALL_NOT_IMPLEMENTED, false},
        {SERVICE_CONTROL_CONTINUE, ERROR_CALL_NOT_IMPLEMENTED, false},
        {SERVICE_CONTROL_PARAMCHANGE, ERROR_CALL_NOT_IMPLEMENTED, false},
        {200, ERROR_CALL_NOT_IMPLEMENTED, false},
    };
    for (const auto &c : cases) {
        SERVICEENTRY entry{};
        entry.Name = L"probe";
        entry.StopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        entry.Status.dwCurrentState = SERVICE_RUNNING;
        EXPECT_EQ(ServiceHandlerEx(c.control, 0, nullptr, &entry), c.result) << c.control;
        bool signalled = WaitForSingleObject(entry.StopEvent, 0) == WAIT_OBJECT_0;
        EXPECT_EQ(signalled, c.stops) << c.control;
        EXPECT_EQ(entry.StopRequested, c.stops ? 1 : 0) << c.control;
        if (c.stops) {
            EXPECT_EQ(entry.Status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
            EXPECT_EQ(entry.Status.dwCheckPoint, 0u);
            EXPECT_EQ(entry.Status.dwWaitHint, 60000u);
            EXPECT_EQ(entry.Status.dwControlsAccepted, 0u);
        } else {
            EXPECT_EQ(entry.Status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
        }
        CloseHandle(entry.StopEvent);
    }
    EXPECT_EQ(ServiceHandlerEx(SERVICE_CONTROL_STOP, 0, nullptr, nullptr), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
}

TEST(ServiceHandlerEx, OnControlLooksFirstAndOnlyNotHandledFallsThrough)
{
    SERVICEENTRY entry{};
    entry.StopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    entry.OnControl = [](SERVICEENTRY *, DWORD control, DWORD, LPVOID) -> DWORD {
        g_ControlSeen = control;
        return control == SERVICE_CONTROL_PAUSE ? 1234 : ERROR_CALL_NOT_IMPLEMENTED;
    };
    EXPECT_EQ(ServiceHandlerEx(SERVICE_CONTROL_PAUSE, 0, nullptr, &entry), 1234u);
    EXPECT_EQ(g_ControlSeen, static_cast<DWORD>(SERVICE_CONTROL_PAUSE));
    EXPECT_EQ(ServiceHandlerEx(SERVICE_CONTROL_STOP, 0, nullptr, &entry), static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(g_ControlSeen, static_cast<DWORD>(SERVICE_CONTROL_STOP));
    EXPECT_EQ(WaitForSingleObject(entry.StopEvent, 0), WAIT_OBJECT_0);
    CloseHandle(entry.StopEvent);
}

// --- the host ------------------------------------------------------------------------------

std::mutex g_TraceLock;
std::vector<std::wstring> g_Trace;

void Trace(const std::wstring &line)
{
    std::lock_guard<std::mutex> hold(g_TraceLock);
    g_Trace.push_back(line);
}

std::vector<std::wstring> TakeTrace()
{
    std::lock_guard<std::mutex> hold(g_TraceLock);
    return std::exchange(g_Trace, {});
}

SERVICEENTRY g_Entries[8];

template <int N>
void WINAPI ProbeMain(DWORD argc, LPWSTR *argv)
{
    RunService(&g_Entries[N], argc, argv);
}

template <int N>
constexpr LPSERVICE_MAIN_FUNCTIONW kMains = ProbeMain<N>;

void InitEntries(int count, SERVICE_ONSTART onStart)
{
    static const wchar_t *names[] = {L"s0", L"s1", L"s2", L"s3", L"s4", L"s5", L"s6", L"s7"};
    static const LPSERVICE_MAIN_FUNCTIONW mains[] = {kMains<0>, kMains<1>, kMains<2>, kMains<3>,
                                                     kMains<4>, kMains<5>, kMains<6>, kMains<7>};
    for (int i = 0; i < 8; ++i) {
        g_Entries[i] = SERVICEENTRY{};
        if (i >= count)
            continue;
        g_Entries[i].Name = names[i];
        g_Entries[i].ServiceMain = mains[i];
        g_Entries[i].OnStart = onStart;
        g_Entries[i].OnRun = [](SERVICEENTRY *e) {
            Trace(std::wstring(e->Name) + L" OnRun");
            WaitForSingleObject(e->StopEvent, INFINITE);
        };
        g_Entries[i].OnStop = [](SERVICEENTRY *e) { Trace(std::wstring(e->Name) + L" OnStop"); };
    }
}

int StartOk(SERVICEENTRY *e, DWORD, LPWSTR *)
{
    Trace(std::wstring(e->Name) + L" OnStart");
    return 1;
}

int StartFails(SERVICEENTRY *e, DWORD, LPWSTR *)
{
    Trace(std::wstring(e->Name) + L" OnStart");
    return 0;
}

SERVICEHOST MakeHost(std::vector<wchar_t *> &args, int entries)
{
    SERVICEHOST host{};
    host.DisplayName = L"Probe Host";
    for (int i = 0; i < entries && i < 8; ++i)
        host.Entries[i] = &g_Entries[i];
    host.Argc = static_cast<int>(args.size());
    host.Argv = args.data();
    return host;
}

// Stops every console service once all of them run.
DWORD WINAPI PressCtrlCWhenRunning(LPVOID countPtr)
{
    size_t expected = reinterpret_cast<size_t>(countPtr);
    for (int i = 0; i < 30000; ++i) {
        size_t running = 0;
        {
            std::lock_guard<std::mutex> hold(g_TraceLock);
            for (const auto &line : g_Trace)
                running += line.ends_with(L"OnRun");
        }
        if (running == expected)
            break;
        Sleep(2);
    }
    ConsoleCtrlHandler(CTRL_C_EVENT);
    return 0;
}

TEST(ConsoleMode, RunsEveryServiceInOrderAndReportsNoEvent)
{
    eventsink::ClearRecordedEvents();
    InitEntries(2, StartOk);
    wchar_t prog[] = L"probe.exe", debug[] = L"/DEBUG";
    std::vector<wchar_t *> args{prog, debug};
    SERVICEHOST host = MakeHost(args, 2);
    static std::atomic<int> startups{0}, cleanups{0};
    host.Startup = [] { ++startups; };
    host.Cleanup = [] { ++cleanups; };

    HANDLE presser = CreateThread(nullptr, 0, PressCtrlCWhenRunning, reinterpret_cast<LPVOID>(size_t{2}), 0, nullptr);
    RunServiceHost(&host);
    WaitForSingleObject(presser, INFINITE);
    CloseHandle(presser);

    EXPECT_TRUE(IsConsoleMode());
    EXPECT_EQ(startups, 1);
    EXPECT_EQ(cleanups, 1);
    auto trace = TakeTrace();
    for (const wchar_t *name : {L"s0", L"s1"}) {
        std::vector<std::wstring> mine;
        for (const auto &line : trace)
            if (line.starts_with(name))
                mine.push_back(line.substr(3));
        EXPECT_EQ(mine, (std::vector<std::wstring>{L"OnStart", L"OnRun", L"OnStop"})) << name;
    }
    EXPECT_EQ(g_Entries[0].Status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(g_Entries[0].Status.dwServiceType, 0x30u);
    EXPECT_TRUE(RecordedEvents().empty());
}

TEST(ConsoleMode, FailedStartStillStopsAndOnlySevenEntriesAreDispatched)
{
    InitEntries(8, StartFails);
    wchar_t prog[] = L"probe.exe", debug[] = L"/debug";
    std::vector<wchar_t *> args{prog, debug};
    SERVICEHOST host = MakeHost(args, 8);
    RunServiceHost(&host);

    auto trace = TakeTrace();
    EXPECT_EQ(trace.size(), 14u); // OnStart and OnStop for each of the first seven
    for (const auto &line : trace) {
        EXPECT_FALSE(line.starts_with(L"s7")) << "the eighth entry must not run";
        EXPECT_FALSE(line.ends_with(L"OnRun"));
    }
    EXPECT_EQ(g_Entries[6].Status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(g_Entries[7].Status.dwCurrentState, 0u);
}

TEST(ServiceMode, DebugOnlyCountsAsFirstArgument)
{
    eventsink::ClearRecordedEvents();
    InitEntries(1, StartOk);
    wchar_t prog[] = L"probe.exe", other[] = L"x", debug[] = L"/debug";
    std::vector<wchar_t *> args{prog, other, debug};
    SERVICEHOST host = MakeHost(args, 1);
    RunServiceHost(&host);

    // Not started by the service control manager: the dispatcher cannot connect.
    EXPECT_FALSE(IsConsoleMode());
    EXPECT_EQ(RecordedIds(), (std::vector<DWORD>{kEventProcessStarted, kEventDispatcherFailed, kEventProcessStopped}));
    for (const auto &e : RecordedEvents()) {
        EXPECT_EQ(e.source, L"Probe Host");
        EXPECT_TRUE(e.strings.empty());
    }
    EXPECT_TRUE(TakeTrace().empty());
}

TEST(ServiceMode, FaultInStartupSkipsServicesAndCleanup)
{
    eventsink::ClearRecordedEvents();
    InitEntries(1, StartOk);
    wchar_t prog[] = L"probe.exe";
    std::vector<wchar_t *> args{prog};
    SERVICEHOST host = MakeHost(args, 1);
    static std::atomic<int> cleanups{0};
    host.Startup = [] { WriteThroughNull(nullptr); };
    host.Cleanup = [] { ++cleanups; };
    RunServiceHost(&host);

    EXPECT_EQ(cleanups, 0);
    auto events = RecordedEvents();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].id, kEventProcessStarted);
    EXPECT_EQ(events[1].id, kEventException);
    EXPECT_EQ(events[1].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(events[1].strings, std::vector<std::wstring>{L"C0000005"});
    EXPECT_EQ(events[2].id, kEventProcessStopped);
}

TEST(ServiceMode, LongInsertionIsCutAt1023Characters)
{
    eventsink::ClearRecordedEvents();
    InitEntries(0, StartOk);
    wchar_t prog[] = L"probe.exe";
    std::vector<wchar_t *> args{prog};
    SERVICEHOST host = MakeHost(args, 0);
    host.Startup = [] {
        std::wstring longName(2000, L'n');
        ReportServiceEvent(EVENTLOG_ERROR_TYPE, kEventSubsystemFailed, L"%s", longName.c_str());
        ReportServiceEvent(EVENTLOG_ERROR_TYPE, kEventSubsystemFailed, L"%s", L"COM");
    };
    RunServiceHost(&host);

    auto events = RecordedEvents();
    ASSERT_GE(events.size(), 3u);
    ASSERT_EQ(events[1].strings.size(), 1u);
    EXPECT_EQ(events[1].strings[0], std::wstring(1023, L'n'));
    EXPECT_EQ(events[2].strings, std::vector<std::wstring>{L"COM"});
}

TEST(WriteEventLogEntry, PassesEverythingAndNoStringsWhenCountIsZero)
{
    eventsink::ClearRecordedEvents();
    const wchar_t *strings[] = {L"a", L"b", L"c", L"d"};
    WriteEventLogEntry(L"Some Source", EVENTLOG_WARNING_TYPE, 6, 0x8102000A, 4, strings);
    WriteEventLogEntry(L"Some Source", EVENTLOG_INFORMATION_TYPE, 6, 0x4102000B, 0, strings);
    eventsink::SetRegisterFails(true);
    WriteEventLogEntry(L"Some Source", EVENTLOG_INFORMATION_TYPE, 6, 0x4102000C, 0, nullptr);
    eventsink::SetRegisterFails(false);

    auto events = RecordedEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].source, L"Some Source");
    EXPECT_EQ(events[0].type, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(events[0].category, 6);
    EXPECT_EQ(events[0].id, 0x8102000Au);
    EXPECT_EQ(events[0].strings, (std::vector<std::wstring>{L"a", L"b", L"c", L"d"}));
    EXPECT_TRUE(events[1].strings.empty());
    // The event log is handed no string array at all when there are no strings.
    auto given = eventsink::RecordedArguments();
    ASSERT_EQ(given.size(), 2u);
    EXPECT_EQ(given[0].count, 4);
    EXPECT_EQ(given[0].strings, strings);
    EXPECT_EQ(given[1].count, 0);
    EXPECT_EQ(given[1].strings, nullptr);
}

TEST(EventFileLine, RoundTripsEscapes)
{
    eventsink::Event event{L"Src\twith tab", 1, 6, 0xC1010068, {L"line1\nline2", L"back\\slash", L""}};
    std::string line = eventsink::FormatLine(event);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    eventsink::Event back;
    ASSERT_TRUE(eventsink::ParseLine(line, &back));
    EXPECT_EQ(back.source, event.source);
    EXPECT_EQ(back.id, event.id);
    EXPECT_EQ(back.type, event.type);
    EXPECT_EQ(back.category, event.category);
    EXPECT_EQ(back.strings, event.strings);
    EXPECT_FALSE(eventsink::ParseLine("garbage", &back));
}

} // namespace
