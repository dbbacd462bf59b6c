#pragma once
// The generic service host: describes the hosted services, enters the service control manager's
// dispatcher (or, with "/debug", runs every service on a console thread of its own), drives each
// service through its states and reports the host's own events.

#include <windows.h>

struct SERVICEENTRY;

using SERVICE_ONSTART = int (*)(SERVICEENTRY *entry, DWORD argc, LPWSTR *argv);
using SERVICE_ONRUN = void (*)(SERVICEENTRY *entry);
using SERVICE_ONSTOP = void (*)(SERVICEENTRY *entry);
using SERVICE_ONCONTROL = DWORD (*)(SERVICEENTRY *entry, DWORD control, DWORD eventType, LPVOID eventData);

// One hosted service. Static, owned by the service's module.
struct SERVICEENTRY {
    const wchar_t *Name;                 // the name given to the service control manager
    LPSERVICE_MAIN_FUNCTIONW ServiceMain; // calls RunService with its own entry
    SERVICE_ONSTART OnStart;             // nonzero = started; null counts as success
    SERVICE_ONRUN OnRun;                 // null: RunService waits on the stop event itself
    SERVICE_ONSTOP OnStop;
    SERVICE_ONCONTROL OnControl;         // first look at every control; 120 = not handled
    volatile LONG StopRequested;
    HANDLE StopEvent;
    SERVICE_STATUS_HANDLE StatusHandle;
    SERVICE_STATUS Status;
};

constexpr int kMaxHostedServices = 7;

// The host descriptor, filled by wmain.
struct SERVICEHOST {
    const wchar_t *DisplayName;          // also the event-log source of the host's events
    void (*Startup)();                   // optional; before any service starts
    void (*Cleanup)();                   // optional; after every service ended
    SERVICEENTRY *Entries[kMaxHostedServices + 1]; // null-terminated
    int Argc;
    wchar_t **Argv;
};

// Event identifiers of the host (facility 0x101, severity bits included).
constexpr DWORD kEventProcessStarted = 0x41010064;   // 100
constexpr DWORD kEventProcessStopped = 0x41010065;   // 101
constexpr DWORD kEventServiceInitFailed = 0xC1010066; // 102, %1 = service name
constexpr DWORD kEventDispatcherFailed = 0xC1010067; // 103
constexpr DWORD kEventException = 0xC1010068;        // 104, %1 = code as %08X
constexpr DWORD kEventSubsystemFailed = 0xC1010069;  // 105, %1 = component name

// Wait hints of the reported states.
constexpr DWORD kStartWaitHintMs = 30000;
constexpr DWORD kStopWaitHintMs = 60000;

// The whole life of the process; returns when every service has ended.
void RunServiceHost(SERVICEHOST *host);
// The body of every ServiceMain; returns when the service is STOPPED.
void RunService(SERVICEENTRY *entry, DWORD argc, LPWSTR *argv);
DWORD WINAPI ServiceHandlerEx(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
void RequestServiceStop(SERVICEENTRY *entry);
void ReportServiceStatus(SERVICEENTRY *entry);
// One of the host's events; format (wide printf) gives the one insertion string, or null for none.
void ReportServiceEvent(WORD eventType, DWORD eventId, const wchar_t *format, ...);
// A one-shot event-log write under any source name (register, report, deregister).
void WriteEventLogEntry(const wchar_t *sourceName, WORD eventType, WORD category, DWORD eventId,
                        WORD stringCount, const wchar_t **strings);

// True while the host runs its services on console threads.
bool IsConsoleMode();

// Console mode.
int RunServicesInConsole(int argc, wchar_t **argv, const SERVICE_TABLE_ENTRYW *table);
int BindConsoleService(SERVICEENTRY *entry);
unsigned __stdcall ConsoleServiceThread(void *slot);
BOOL WINAPI ConsoleCtrlHandler(DWORD controlType);
