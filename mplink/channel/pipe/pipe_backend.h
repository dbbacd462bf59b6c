#pragma once
// The pipe side of the channel seam, for the simulation build and the tests: the current
// generation's device is the simulated management processor (oxbsim.exe) behind its pipes.
// No legacy driver is ever found through it.

#include <windows.h>

#include <atomic>
#include <string>

// The simulator's name: its control pipe is "\\.\pipe\<name>". "oxbsim" unless set.
void PipeBackendSetName(const wchar_t *name);
std::wstring PipeBackendName();

struct PipeBackendTimeouts {
    // How long opening a device may take: a busy pipe instance, and the attach exchange.
    static inline std::atomic<DWORD> AttachWaitMs{5000};
};
