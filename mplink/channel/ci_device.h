#pragma once
// The channel device layer: finds the current channel driver through its device-interface class,
// opens the device for overlapped I/O on first use, and runs reads, writes and device controls
// that wait with a time-out, end early when the record's abort event is set, and are cancelled
// with CancelIoEx when the wait ends without completion. Every result is a Win32 error code.

#include "channel_backend.h"
#include "unique_handle.h"

#include <windows.h>

#include <atomic>

// One record per device-interface class asked for. Never freed while the layer runs: a class
// whose last device went keeps its path for the next device of the class.
struct CI_DEVICE_CLASS {
    LIST_ENTRY Link{};
    LONG ReferenceCount = 0;      // CI_DEVICE records using the class; under the class-list lock
    GUID Class{};
    WCHAR DevicePath[260] = {};   // first present interface; empty when none was found
};

// One completion slot per kind of operation. Only one operation of a kind is in flight on a
// record at a time, so two threads writing to one channel never share an OVERLAPPED. The slot is
// taken with an atomic flag, which costs no system call; only a thread that finds it taken
// counts itself in Waiters and waits for Free (with its own time-out and abort event), and only
// then does the holder signal Free on release.
struct CI_IO_SLOT {
    OVERLAPPED Overlapped{};
    UniqueHandle Completion;      // manual-reset, the OVERLAPPED's event
    UniqueHandle Free;            // auto-reset, signalled on release while a thread waits
    std::atomic<bool> Busy{false};
    std::atomic<LONG> Waiters{0};
};

struct CI_DEVICE {
    LIST_ENTRY Link{};
    SRWLOCK Lock = SRWLOCK_INIT;  // the handle and the issuing of operations, never the waits
    CI_DEVICE_CLASS *Class = nullptr;
    CI_BACKEND_DEVICE *Handle = nullptr; // null while not open
    DWORD ReopenAllowed = 0;
    DWORD Closed = 0;             // set when an open handle was closed
    CI_IO_SLOT Read;
    CI_IO_SLOT Write;
    CI_IO_SLOT Control;
    std::atomic<HANDLE> AbortEvent{nullptr};

    // Destruction waits until no thread is inside an operation of the record, so that no
    // OVERLAPPED is freed while the system may still write to it.
    UniqueHandle Closing;         // manual-reset; set when the record is being destroyed
    std::atomic<bool> Destroying{false};
    SRWLOCK UsersLock = SRWLOCK_INIT;
    CONDITION_VARIABLE UsersIdle = CONDITION_VARIABLE_INIT;
    LONG Users = 0;
};

void CiDeviceInitialize();
void CiDeviceTerminate();
// Device-arrival notifications are not used by this layer; always ERROR_GEN_FAILURE.
DWORD CiDeviceStartNotifications();

// Makes a record for the class without opening the device (the first operation opens it).
DWORD CiDeviceCreate(const GUID *interfaceClass, DWORD reopenAllowed, CI_DEVICE **device);
// Cancels what is in flight, waits for it, closes the device and frees the record.
void CiDeviceDestroy(CI_DEVICE *device);

// A time-out of 0 makes a pending operation a poll; INFINITE waits until completion or abort.
DWORD CiDeviceRead(CI_DEVICE *device, void *buffer, DWORD size, DWORD *bytesRead, DWORD timeoutMs);
DWORD CiDeviceWrite(CI_DEVICE *device, const void *data, DWORD size, DWORD *bytesWritten, DWORD timeoutMs);
DWORD CiDeviceIoControl(CI_DEVICE *device, DWORD code, const void *input, DWORD inputSize, void *output,
                        DWORD outputSize, DWORD *bytesReturned, DWORD timeoutMs);
// The layer never sets or resets the event; null removes it.
void CiDeviceSetAbortEvent(CI_DEVICE *device, HANDLE abortEvent);
