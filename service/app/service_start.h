#pragma once
// The service itself as the host sees it: the host's startup and cleanup callbacks, and OnStart,
// OnRun and OnStop of the one hosted service.
//
// OnStart brings every component up in a fixed order and names the one that failed (event 105);
// OnStop takes them down in a fixed order, also after a failed start, whatever was made.

#include "service_host.h"
#include "smbios_table.h"

#include <atomic>
#include <memory>

void ServiceStartup();
void ServiceCleanup();
void SendColdStartTrap();

int OnStart(SERVICEENTRY *entry, DWORD argc, LPWSTR *argv);
void OnRun(SERVICEENTRY *entry);
void OnStop(SERVICEENTRY *entry);
BOOL WINAPI ConsoleShutdownHandler(DWORD controlType);

// The words of the start-up steps that can fail, in their order.
constexpr const wchar_t *kStartStepWords[] = {L"COM", L"BB", L"DS", L"SMBIOS", L"Data Collection", L"Network Monitor",
                                              L"AX Threads"};

struct ServiceStopTimeouts {
    // How long OnStop waits for the network polling thread before terminating it.
    static inline std::atomic<DWORD> PollThreadWaitMs{120000};
    // While OnStop runs, the STOP_PENDING checkpoint advances at least this often (and after
    // every step), so the service control manager sees a stop that is progressing.
    static inline std::atomic<DWORD> CheckpointMs{5000};
};

// The handle of the network polling thread while it runs (null otherwise).
HANDLE NetworkPollThreadHandle();

// Test seams (the product never sets them).
// The SMBIOS copy the start takes: the firmware's (null) unless a test installs its own source.
using SMBIOS_TABLE_SOURCE = std::unique_ptr<CSMBIOSTable> (*)();
extern std::atomic<SMBIOS_TABLE_SOURCE> s_SMBIOSTableSource;
// A start-up step whose word this names fails without running (fault matrix of the tests).
extern std::atomic<const wchar_t *> s_FailingStartStep;
