#pragma once
// The seam below the channel device layer.
//
// The device layer runs its overlapped reads, writes and device controls, its waits, time-outs,
// aborts and cancels for real; what lies below is replaced as a whole at link time:
//   mpchannel_driver  the product: device-interface lookup through the configuration manager,
//                     the driver's device opened with CreateFileW, controls with DeviceIoControl,
//                     the legacy driver's devices;
//   mpchannel_pipe    the simulation and the tests: the simulated management processor's pipes.
// Nothing in the product selects a backend at run time: whoever can create a pipe must not be able
// to pose as the management processor.

#include <windows.h>

// One open channel device as the backend keeps it. Opaque to the device layer.
struct CI_BACKEND_DEVICE;

enum class CiIoKind { Read, Write, Control };

// One operation as the device layer hands it down.
struct CI_IO_REQUEST {
    CiIoKind Kind;
    DWORD ControlCode;   // Control only
    const void *Input;   // Write and Control
    DWORD InputSize;
    void *Output;        // Read and Control
    DWORD OutputSize;
};

// Copies the symbolic link of the first present device interface of the class into path (at most
// capacity units with the terminator). A link that does not fit is not truncated: it counts as
// none. Returns 0, or ERROR_NOT_FOUND when no interface is present, or the lookup's error.
DWORD CiBackendFindInterface(const GUID &interfaceClass, wchar_t *path, size_t capacity);

// Opens the device at path for overlapped I/O. Returns 0 with the device, or the Win32 error.
DWORD CiBackendOpen(const wchar_t *path, CI_BACKEND_DEVICE **device);
void CiBackendClose(CI_BACKEND_DEVICE *device);

// Starts one operation with the caller's OVERLAPPED, with the contract of ReadFile, WriteFile and
// DeviceIoControl: TRUE when done at once, FALSE with the last error otherwise (ERROR_IO_PENDING
// when it goes on).
BOOL CiBackendIssue(CI_BACKEND_DEVICE *device, const CI_IO_REQUEST &request, OVERLAPPED *overlapped);

// The handle an operation of the kind runs on, for CancelIoEx.
HANDLE CiBackendIoHandle(CI_BACKEND_DEVICE *device, CiIoKind kind);

// Cancels every operation in flight on the device.
void CiBackendCancelAll(CI_BACKEND_DEVICE *device);

// Called once an issued operation has ended, with its result (that of GetOverlappedResult, or the
// issuing call's error when it failed at once); returns the result the device layer reports and
// may change the byte count.
DWORD CiBackendFinish(CI_BACKEND_DEVICE *device, const CI_IO_REQUEST &request, DWORD error, DWORD *bytes);

// True when the current generation's driver is installed (the probe's first question).
bool CiBackendCurrentDriverPresent();

// The legacy driver's devices: the control device and the channel devices it names. Synchronous.
// Returns null (with the last error set) when the device cannot be opened.
HANDLE CiBackendLegacyOpen(const char *path);
BOOL CiBackendLegacyControl(HANDLE device, DWORD code, void *input, DWORD inputSize, void *output, DWORD outputSize,
                            DWORD *returned);
void CiBackendLegacyClose(HANDLE device);
