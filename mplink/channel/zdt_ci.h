#pragma once
// The channel driver interface: one set of operations over the two generations of the management
// processor's channel driver. The first call probes which generation is installed; from then on
// every call goes to it. Every result is a channel status code (channel_status.h).

#include "channel_status.h"

#include <windows.h>
#include <winioctl.h>

#include <atomic>

using ZDTCI_HANDLE = void *;

enum : LONG {
    kZdtCiGenerationNone = 0,
    kZdtCiGenerationLegacy = 1,
    kZdtCiGenerationCurrent = 2,
};

// The device-interface class of the current generation's driver.
extern const GUID kZdtCiInterfaceClass;

// The current generation's four device controls (device type 0x22, buffered, any access).
constexpr DWORD kZdtCiControlSetPriority = CTL_CODE(0x22, 0xC82, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kZdtCiControlSetBuffers = CTL_CODE(0x22, 0xC83, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kZdtCiControlOpen = CTL_CODE(0x22, 0xC84, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kZdtCiControlStatus = CTL_CODE(0x22, 0xC85, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(kZdtCiControlSetPriority == 2241032 && kZdtCiControlSetBuffers == 2241036);
static_assert(kZdtCiControlOpen == 2241040 && kZdtCiControlStatus == 2241044);

// Device names the probe opens.
constexpr wchar_t kZdtCiCurrentProbeName[] = L"\\\\.\\Global\\OXBQOLB";
constexpr char kZdtCiLegacyControlPrefix[] = "\\\\.\\Global\\";
constexpr char kZdtCiLegacyControlName[] = "ZdtCiAO";

struct ZdtCiTimeouts {
    // A current-generation send that has not completed by then is cancelled (status 34).
    static inline std::atomic<DWORD> SendWaitMs{30000};
};

// Decides the generation when none is known yet: the current one when both are installed.
void ZdtCiProbeDriver();
LONG ZdtCiGeneration();
// Tests only: forgets the generation decided and every initialisation, as in a fresh process.
void ZdtCiForgetGenerationForTest();

DWORD ZdtCiInitialize(void *context);
void ZdtCiTerminate();

// Never queued: a driver without a free channel answers at once. The handle is null on failure.
DWORD ZdtCiCreate(ZDTCI_HANDLE *handle, DWORD sendBufferCount, DWORD sendBufferSize, DWORD receiveBufferCount,
                  DWORD receiveBufferSize, DWORD priority);
DWORD ZdtCiClose(ZDTCI_HANDLE handle);
// 0 while the channel is healthy. The legacy driver cannot tell (31).
DWORD ZdtCiStatus(ZDTCI_HANDLE handle);
// Both return the bytes moved and report the status through *status; nothing happens without it.
// A packet is sent whole or not at all (status 22 when it does not fit).
DWORD ZdtCiSend(ZDTCI_HANDLE handle, const void *data, DWORD length, DWORD *status);
// wait: milliseconds, INFINITE, or null for no wait. A read that finds nothing reports 21.
DWORD ZdtCiRecv(ZDTCI_HANDLE handle, void *buffer, DWORD size, DWORD *status, const DWORD *wait);
// The event ends a waiting receive (status 21) and, in the current generation, any waiting call.
void ZdtCiSetAbortEvent(ZDTCI_HANDLE handle, HANDLE abortEvent);
