#pragma once
// The service's switches and poll interval from its Parameters key, and the small start-up helpers
// that several components share (COM for the multithreaded apartment, token privileges).

#include <windows.h>

#include <cstddef>

// Every switch is 1 unless the Parameters key holds a REG_DWORD 0 for it.
struct SERVICE_PARAMETERS {
    int EnableDataCollection = 1;
    int EnableBlackbox = 1;
    int EnableAgentX = 1;
    int EnableTraps = 1;
    int EnableUtilization = 1;
    int EnableDeviceWatcher = 1;
    int EnableNetworkWatcher = 1;
    int EnableEventLogWatcher = 1;
    int EnableMIB2 = 1;
    int EnableZDTHOST = 1;
    int EnableZDTIDE = 1;
    int EnableZDTNIC = 1;
    int EnableZDTSAS = 1;
    int EnableZDTSTDEQ = 1;
    int EnableZDTFCA = 1;
    int EnableZDTWINOSMGMT = 1;
    int EnableZDTISCSI = 1;
    int EnableScomMgmtPack = 1;
    int EnableLLDP = 1;
    int PollInterval = 3600; // seconds
};

// A switch's value name and its field.
struct SERVICE_SWITCH {
    const wchar_t *Name;
    int SERVICE_PARAMETERS::*Field;
};

constexpr wchar_t kServiceParametersKey[] = L"SYSTEM\\CurrentControlSet\\services\\ndxtlm\\Parameters";
constexpr int kDefaultPollInterval = 3600;
constexpr DWORD kMinimumPollInterval = 10;
constexpr DWORD kMaximumPollInterval = 3600;

extern SERVICE_PARAMETERS s_ServiceParameters;

// Every switch, in the record's order.
const SERVICE_SWITCH *ServiceSwitches(size_t *count);

// Fills s_ServiceParameters from the Parameters key (defaults for what is missing or malformed),
// then starts the text log as "TLM" / "TLM service".
void ReadServiceParameters();

// Joins the calling thread to the multithreaded apartment and sets the process's COM security
// (impersonation level IMPERSONATE). 1 on success, also when the security was set before.
int InitCom();
void UninitCom();

// Enables (enable nonzero) or disables a privilege in the process token. 1 only when the token
// holds the privilege and it was adjusted.
int SetPrivilege(const wchar_t *privilege, int enable);
