#include "service_host.h"

#include "event_sink.h"
#include "exception_guard.h"
#include "worker_thread.h"

#include <process.h>

#include <cstdarg>
#include <cwchar>

namespace {

constexpr DWORD kServiceType = SERVICE_WIN32; // 0x30
constexpr size_t kInsertionChars = 1024;
constexpr int kConsoleSlots = 64;

SERVICEHOST *g_Host = nullptr;
bool g_ConsoleMode = false;
HANDLE g_EventSource = nullptr;
bool g_EventSourceTried = false;
CRITICAL_SECTION g_EventSourceLock;
INIT_ONCE g_EventSourceLockInit = INIT_ONCE_STATIC_INIT;

struct CONSOLESLOT {
    HANDLE Thread;
    DWORD ThreadId;
    int Argc;
    wchar_t **Argv;
    LPSERVICE_MAIN_FUNCTIONW ServiceMain;
    SERVICEENTRY *Entry;
};

CONSOLESLOT g_Slots[kConsoleSlots];
int g_SlotCount = 0;

BOOL CALLBACK InitEventSourceLock(PINIT_ONCE, PVOID, PVOID *)
{
    InitializeCriticalSection(&g_EventSourceLock);
    return TRUE;
}

void SetStatus(SERVICEENTRY *entry, DWORD state, DWORD accepted, DWORD checkpoint, DWORD waitHint)
{
    entry->Status.dwServiceType = kServiceType;
    entry->Status.dwCurrentState = state;
    entry->Status.dwControlsAccepted = accepted;
    entry->Status.dwWin32ExitCode = 0;
    entry->Status.dwServiceSpecificExitCode = 0;
    entry->Status.dwCheckPoint = checkpoint;
    entry->Status.dwWaitHint = waitHint;
    ReportServiceStatus(entry);
}

// Runs one callback of the host or a service; a structured exception is reported as event 104.
template <class Body>
bool CallGuarded(Body &&body)
{
    DWORD code = 0;
    if (RunGuarded(body, &code))
        return true;
    ReportServiceEvent(EVENTLOG_ERROR_TYPE, kEventException, L"%08X", static_cast<unsigned>(code));
    return false;
}

} // namespace

bool IsConsoleMode()
{
    return g_ConsoleMode;
}

void RunServiceHost(SERVICEHOST *host)
{
    g_Host = host;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    g_ConsoleMode = host->Argc >= 2 && host->Argv != nullptr && host->Argv[1] != nullptr &&
                    _wcsicmp(host->Argv[1], L"/debug") == 0;
    if (!g_ConsoleMode)
        ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, kEventProcessStarted, nullptr);

    if (host->Startup != nullptr && !CallGuarded([host] { host->Startup(); })) {
        ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, kEventProcessStopped, nullptr);
        return;
    }

    SERVICE_TABLE_ENTRYW table[kMaxHostedServices + 1] = {};
    for (int i = 0; i < kMaxHostedServices && host->Entries[i] != nullptr; ++i) {
        table[i].lpServiceName = const_cast<LPWSTR>(host->Entries[i]->Name);
        table[i].lpServiceProc = host->Entries[i]->ServiceMain;
    }

    if (g_ConsoleMode) {
        RunServicesInConsole(host->Argc, host->Argv, table);
    } else if (!StartServiceCtrlDispatcherW(table)) {
        ReportServiceEvent(EVENTLOG_ERROR_TYPE, kEventDispatcherFailed, nullptr);
    }

    if (host->Cleanup != nullptr)
        CallGuarded([host] { host->Cleanup(); });

    ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, kEventProcessStopped, nullptr);
}

void RunService(SERVICEENTRY *entry, DWORD argc, LPWSTR *argv)
{
    if (g_ConsoleMode) {
        if (!BindConsoleService(entry))
            return;
    } else {
        entry->StatusHandle = RegisterServiceCtrlHandlerExW(entry->Name, ServiceHandlerEx, entry);
        if (entry->StatusHandle == nullptr)
            return;
    }

    entry->StopRequested = 0;
    entry->StopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (entry->StopEvent == nullptr)
        return;

    SetStatus(entry, SERVICE_START_PENDING, 0, 0, kStartWaitHintMs);

    int started = 1;
    if (entry->OnStart != nullptr) {
        started = 0;
        if (!CallGuarded([&] { started = entry->OnStart(entry, argc, argv); }))
            started = 0;
    }
    if (!started) {
        ReportServiceEvent(EVENTLOG_ERROR_TYPE, kEventServiceInitFailed, L"%s", entry->Name);
    } else {
        SetStatus(entry, SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0);
        if (entry->OnRun != nullptr)
            CallGuarded([entry] { entry->OnRun(entry); });
        else
            WaitForSingleObject(entry->StopEvent, INFINITE);
    }

    SetStatus(entry, SERVICE_STOP_PENDING, 0, 1, kStopWaitHintMs);
    if (entry->OnStop != nullptr)
        CallGuarded([entry] { entry->OnStop(entry); });
    CloseHandleSafe(&entry->StopEvent);
    SetStatus(entry, SERVICE_STOPPED, 0, 0, 0);
}

DWORD WINAPI ServiceHandlerEx(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context)
{
    auto *entry = static_cast<SERVICEENTRY *>(context);
    if (entry == nullptr)
        return ERROR_CALL_NOT_IMPLEMENTED;

    if (entry->OnControl != nullptr) {
        DWORD result = entry->OnControl(entry, control, eventType, eventData);
        if (result != ERROR_CALL_NOT_IMPLEMENTED)
            return result;
    }

    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        RequestServiceStop(entry);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        ReportServiceStatus(entry);
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void RequestServiceStop(SERVICEENTRY *entry)
{
    SetStatus(entry, SERVICE_STOP_PENDING, 0, 0, kStopWaitHintMs);
    InterlockedExchange(&entry->StopRequested, 1);
    SetEvent(entry->StopEvent);
}

void ReportServiceStatus(SERVICEENTRY *entry)
{
    if (g_ConsoleMode || entry->StatusHandle == nullptr)
        return;
    SetServiceStatus(entry->StatusHandle, &entry->Status);
}

void ReportServiceEvent(WORD eventType, DWORD eventId, const wchar_t *format, ...)
{
    wchar_t insertion[kInsertionChars];
    insertion[0] = L'\0';
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        _vsnwprintf(insertion, kInsertionChars - 1, format, args);
        va_end(args);
        insertion[kInsertionChars - 1] = L'\0';
    }

    if (g_ConsoleMode)
        return;

    InitOnceExecuteOnce(&g_EventSourceLockInit, InitEventSourceLock, nullptr, nullptr);
    EnterCriticalSection(&g_EventSourceLock);
    if (!g_EventSourceTried) {
        g_EventSourceTried = true;
        if (g_Host != nullptr)
            g_EventSource = eventsink::Register(g_Host->DisplayName);
    }
    HANDLE source = g_EventSource;
    LeaveCriticalSection(&g_EventSourceLock);
    if (source == nullptr)
        return;

    const wchar_t *strings[1] = {insertion};
    eventsink::Report(source, eventType, 0, eventId, format != nullptr ? 1 : 0, strings);
}

void WriteEventLogEntry(const wchar_t *sourceName, WORD eventType, WORD category, DWORD eventId,
                        WORD stringCount, const wchar_t **strings)
{
    HANDLE source = eventsink::Register(sourceName);
    if (source == nullptr)
        return;
    eventsink::Report(source, eventType, category, eventId, stringCount, stringCount ? strings : nullptr);
    eventsink::Deregister(source);
}

int RunServicesInConsole(int argc, wchar_t **argv, const SERVICE_TABLE_ENTRYW *table)
{
    ZeroMemory(g_Slots, sizeof g_Slots);
    g_SlotCount = 0;
    SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE);

    for (const SERVICE_TABLE_ENTRYW *row = table; row->lpServiceProc != nullptr && g_SlotCount < kConsoleSlots; ++row) {
        CONSOLESLOT &slot = g_Slots[g_SlotCount];
        slot.Argc = argc;
        slot.Argv = argv;
        slot.ServiceMain = row->lpServiceProc;
        unsigned id = 0;
        uintptr_t thread = _beginthreadex(nullptr, 0, ConsoleServiceThread, &slot, CREATE_SUSPENDED, &id);
        if (thread == 0) {
            // Nothing has run yet: end the threads made so far without resuming them.
            for (int i = 0; i < g_SlotCount; ++i) {
                TerminateThread(g_Slots[i].Thread, 0);
                CloseHandleSafe(&g_Slots[i].Thread);
            }
            g_SlotCount = 0;
            SetConsoleCtrlHandler(ConsoleCtrlHandler, FALSE);
            return 0;
        }
        slot.Thread = reinterpret_cast<HANDLE>(thread);
        slot.ThreadId = id;
        ++g_SlotCount;
    }

    for (int i = 0; i < g_SlotCount; ++i)
        ResumeThread(g_Slots[i].Thread);

    for (;;) {
        HANDLE live[kConsoleSlots];
        int liveSlot[kConsoleSlots];
        DWORD count = 0;
        for (int i = 0; i < g_SlotCount; ++i) {
            if (g_Slots[i].Thread != nullptr) {
                live[count] = g_Slots[i].Thread;
                liveSlot[count] = i;
                ++count;
            }
        }
        if (count == 0)
            break;
        DWORD which = WaitForMultipleObjects(count, live, FALSE, INFINITE);
        if (which >= WAIT_OBJECT_0 && which < WAIT_OBJECT_0 + count) {
            CONSOLESLOT &ended = g_Slots[liveSlot[which - WAIT_OBJECT_0]];
            CloseHandleSafe(&ended.Thread);
            ended.ThreadId = 0;
        } else {
            break;
        }
    }

    SetConsoleCtrlHandler(ConsoleCtrlHandler, FALSE);
    return 1;
}

int BindConsoleService(SERVICEENTRY *entry)
{
    DWORD self = GetCurrentThreadId();
    for (int i = 0; i < g_SlotCount; ++i) {
        if (g_Slots[i].ThreadId == self) {
            g_Slots[i].Entry = entry;
            return 1;
        }
    }
    return 0;
}

unsigned __stdcall ConsoleServiceThread(void *slot)
{
    auto *consoleSlot = static_cast<CONSOLESLOT *>(slot);
    consoleSlot->ServiceMain(static_cast<DWORD>(consoleSlot->Argc), consoleSlot->Argv);
    return 0;
}

BOOL WINAPI ConsoleCtrlHandler(DWORD)
{
    for (int i = 0; i < g_SlotCount; ++i) {
        if (g_Slots[i].Thread != nullptr && g_Slots[i].Entry != nullptr)
            ServiceHandlerEx(SERVICE_CONTROL_STOP, 0, nullptr, g_Slots[i].Entry);
    }
    return TRUE;
}
