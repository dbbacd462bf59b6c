#pragma once
// The NIC library's one worker thread: builds a generation of the adapter model, then runs one
// pass per request of the service, per poll period and per change of the interface table, until
// the service stops it. The named events it shares with the service are in nic_handshake.h.

#include "nic_state.h"

class CMsgQueue;
class CTrap;
class INicGeneration;

// The thread's start block, filled completely before the thread starts.
struct DCSTRUCT {
    CMsgQueue *queue;
    HANDLE scmEvent;  // wait index 0
    HANDLE initEvent; // wait index 1
    HANDLE stopEvent; // wait index 2
    HANDLE cmdDoneEvent;
    DWORD *command;
    DWORD period; // the Timeout value; kNicPausedPeriod means paused
    DWORD runAsService;
};

// A period of this value means "paused": a generation, once built, is kept as it is.
constexpr DWORD kNicPausedPeriod = 0xFFFFFFFF;

// The thread's times and counts; tests shorten them.
struct NicThreadTimings {
    DWORD pollSecondMs = 1000;       // one second of "PollInterval"
    DWORD defaultPeriodMs = 120000;  // Timeout missing
    DWORD minimumPeriodMs = 30000;   // Timeout below this
    DWORD retries = 4;               // attempts after a failed one before the failure is logged
};
extern NicThreadTimings g_NicThreadTimings;

constexpr wchar_t kNicParametersKey[] = L"SYSTEM\\CurrentControlSet\\services\\ndxtlm\\Parameters";
constexpr wchar_t kNicPollIntervalValue[] = L"PollInterval";
constexpr DWORD kNicPollIntervalMin = 10;
constexpr DWORD kNicPollIntervalMax = 3600;

// The wait of the coming turn: "PollInterval" seconds when it is a 4-byte REG_DWORD from 10 to
// 3600, else one hour.
DWORD ReadPollTime();

unsigned __stdcall DataCollectionThread(void *block);
DWORD InitializeDataCollection(INicGeneration **list, CTrap *trap);
