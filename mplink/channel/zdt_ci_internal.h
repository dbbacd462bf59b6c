#pragma once
// The two generations behind the driver interface's dispatch.

#include "common_log.h"
#include "zdt_ci.h"

#include <atomic>

namespace zdtci_current {
void Initialize();
void Terminate();
DWORD Create(ZDTCI_HANDLE *handle, DWORD sendBufferCount, DWORD sendBufferSize, DWORD receiveBufferCount,
             DWORD receiveBufferSize, DWORD priority);
DWORD Close(ZDTCI_HANDLE handle);
DWORD Status(ZDTCI_HANDLE handle);
DWORD Send(ZDTCI_HANDLE handle, const void *data, DWORD length, DWORD *status);
DWORD Recv(ZDTCI_HANDLE handle, void *buffer, DWORD size, DWORD *status, const DWORD *wait);
void SetAbortEvent(ZDTCI_HANDLE handle, HANDLE abortEvent);
} // namespace zdtci_current

namespace zdtci_legacy {
bool DriverPresent();
DWORD Create(void *context, ZDTCI_HANDLE *handle, DWORD sendBufferCount, DWORD sendBufferSize,
             DWORD receiveBufferCount, DWORD receiveBufferSize, DWORD priority);
DWORD Close(ZDTCI_HANDLE handle);
DWORD Send(ZDTCI_HANDLE handle, const void *data, DWORD length, DWORD *status);
DWORD Recv(ZDTCI_HANDLE handle, void *buffer, DWORD size, DWORD *status, const DWORD *wait);
void SetAbortEvent(ZDTCI_HANDLE handle, HANDLE abortEvent);
} // namespace zdtci_legacy

// What the driver hands back is checked before use; what does not fit is dropped, and said so
// once per place in the log rather than once per packet.
#define ZDTCI_WARN_ONCE(function, ...)                                                                                 \
    do {                                                                                                               \
        static std::atomic<bool> warned_{false};                                                                       \
        if (!warned_.exchange(true))                                                                                   \
            LOG_WARNING(function, __VA_ARGS__);                                                                        \
    } while (0)
