// The current driver generation: a device-interface driver reached through the device layer,
// with four device controls and overlapped reads and writes.
#include "ci_device.h"
#include "zdt_ci_internal.h"

namespace zdtci_current {
namespace {

std::atomic<LONG> s_UseCount{0};

CI_DEVICE *Device(ZDTCI_HANDLE handle) { return static_cast<CI_DEVICE *>(handle); }

// The controls wait without a time-out; an abort event still ends them.
DWORD Control(CI_DEVICE *device, DWORD code, const void *input, DWORD inputSize)
{
    return ZdtCiMapWin32Error(CiDeviceIoControl(device, code, input, inputSize, nullptr, 0, nullptr, INFINITE));
}

} // namespace

void Initialize()
{
    if (++s_UseCount == 1)
        CiDeviceInitialize();
}

void Terminate()
{
    LONG count = s_UseCount.load();
    do {
        if (count == 0)
            return;
    } while (!s_UseCount.compare_exchange_weak(count, count - 1));
    if (count == 1)
        CiDeviceTerminate();
}

DWORD Create(ZDTCI_HANDLE *handle, DWORD sendBufferCount, DWORD sendBufferSize, DWORD receiveBufferCount,
             DWORD receiveBufferSize, DWORD priority)
{
    CI_DEVICE *device = nullptr;
    DWORD error = CiDeviceCreate(&kZdtCiInterfaceClass, 0, &device);
    if (error != ERROR_SUCCESS)
        return ZdtCiMapWin32Error(error);

    const DWORD buffers[4] = {sendBufferCount, sendBufferSize, receiveBufferCount, receiveBufferSize};
    DWORD status = Control(device, kZdtCiControlSetPriority, &priority, sizeof(priority));
    if (status == kCiSuccess)
        status = Control(device, kZdtCiControlSetBuffers, buffers, sizeof(buffers));
    if (status == kCiSuccess)
        status = Control(device, kZdtCiControlOpen, nullptr, 0);
    if (status != kCiSuccess) {
        CiDeviceDestroy(device);
        return status;
    }
    *handle = device;
    return kCiSuccess;
}

DWORD Close(ZDTCI_HANDLE handle)
{
    if (handle == nullptr)
        return kCiInvalidArgument;
    CiDeviceDestroy(Device(handle));
    return kCiSuccess;
}

DWORD Status(ZDTCI_HANDLE handle)
{
    if (handle == nullptr)
        return kCiInvalidArgument;
    return Control(Device(handle), kZdtCiControlStatus, nullptr, 0);
}

DWORD Send(ZDTCI_HANDLE handle, const void *data, DWORD length, DWORD *status)
{
    if (status == nullptr)
        return 0;
    if (handle == nullptr) {
        *status = kCiInvalidArgument;
        return 0;
    }
    DWORD written = 0;
    *status = ZdtCiMapWin32Error(CiDeviceWrite(Device(handle), data, length, &written, ZdtCiTimeouts::SendWaitMs));
    if (*status == kCiSuccess && written > length) {
        ZDTCI_WARN_ONCE(L"ZdtCiSend", L"The driver reported %lu bytes written of %lu.", written, length);
        *status = kCiUnexpected;
        return 0;
    }
    // A packet that went out in part is not a packet the far end can use: the caller must know.
    if (*status == kCiSuccess && written != length)
        *status = kCiTruncated;
    return written;
}

DWORD Recv(ZDTCI_HANDLE handle, void *buffer, DWORD size, DWORD *status, const DWORD *wait)
{
    if (status == nullptr)
        return 0;
    if (handle == nullptr) {
        *status = kCiInvalidArgument;
        return 0;
    }
    DWORD read = 0;
    *status = ZdtCiMapWin32Error(CiDeviceRead(Device(handle), buffer, size, &read, wait != nullptr ? *wait : 0));
    if (*status == kCiSuccess && read > size) {
        ZDTCI_WARN_ONCE(L"ZdtCiRecv", L"The driver reported %lu bytes read into a buffer of %lu.", read, size);
        *status = kCiUnexpected;
    }
    if ((*status == kCiSuccess && read == 0) || *status == kCiTimedOut)
        *status = kCiNoData;
    return *status == kCiSuccess ? read : 0;
}

void SetAbortEvent(ZDTCI_HANDLE handle, HANDLE abortEvent)
{
    if (handle != nullptr)
        CiDeviceSetAbortEvent(Device(handle), abortEvent);
}

} // namespace zdtci_current
