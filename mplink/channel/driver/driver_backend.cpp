// The product's side of the channel seam: the management processor's real channel drivers.
#include "channel_backend.h"
#include "zdt_ci.h"

#include <cfgmgr32.h>

#include <cwchar>
#include <new>
#include <vector>

struct CI_BACKEND_DEVICE {
    HANDLE file;
};

DWORD CiBackendFindInterface(const GUID &interfaceClass, wchar_t *path, size_t capacity)
{
    GUID classCopy = interfaceClass;
    ULONG units = 0;
    if (CM_Get_Device_Interface_List_SizeW(&units, &classCopy, nullptr, CM_GET_DEVICE_INTERFACE_LIST_PRESENT) !=
        CR_SUCCESS)
        return ERROR_NOT_FOUND;
    if (units <= 1)
        return ERROR_NOT_FOUND;
    std::vector<wchar_t> list;
    try {
        list.resize(units);
    } catch (const std::bad_alloc &) {
        return ERROR_OUTOFMEMORY;
    }
    if (CM_Get_Device_Interface_ListW(&classCopy, nullptr, list.data(), units, CM_GET_DEVICE_INTERFACE_LIST_PRESENT) !=
        CR_SUCCESS)
        return ERROR_NOT_FOUND;
    list.back() = L'\0';
    size_t length = wcslen(list.data());
    // A link cut to fit would name another device or none.
    if (length == 0 || length >= capacity)
        return ERROR_NOT_FOUND;
    wcscpy(path, list.data());
    return ERROR_SUCCESS;
}

DWORD CiBackendOpen(const wchar_t *path, CI_BACKEND_DEVICE **device)
{
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    auto *opened = new (std::nothrow) CI_BACKEND_DEVICE{file};
    if (opened == nullptr) {
        CloseHandle(file);
        return ERROR_OUTOFMEMORY;
    }
    *device = opened;
    return ERROR_SUCCESS;
}

void CiBackendClose(CI_BACKEND_DEVICE *device)
{
    if (device == nullptr)
        return;
    CloseHandle(device->file);
    delete device;
}

BOOL CiBackendIssue(CI_BACKEND_DEVICE *device, const CI_IO_REQUEST &request, OVERLAPPED *overlapped)
{
    switch (request.Kind) {
    case CiIoKind::Read:
        return ReadFile(device->file, request.Output, request.OutputSize, nullptr, overlapped);
    case CiIoKind::Write:
        return WriteFile(device->file, request.Input, request.InputSize, nullptr, overlapped);
    case CiIoKind::Control:
        return DeviceIoControl(device->file, request.ControlCode, const_cast<void *>(request.Input), request.InputSize,
                               request.Output, request.OutputSize, nullptr, overlapped);
    }
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

HANDLE CiBackendIoHandle(CI_BACKEND_DEVICE *device, CiIoKind)
{
    return device->file;
}

void CiBackendCancelAll(CI_BACKEND_DEVICE *device)
{
    CancelIoEx(device->file, nullptr);
}

DWORD CiBackendFinish(CI_BACKEND_DEVICE *, const CI_IO_REQUEST &, DWORD error, DWORD *)
{
    return error;
}

bool CiBackendCurrentDriverPresent()
{
    HANDLE file = CreateFileW(kZdtCiCurrentProbeName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

HANDLE CiBackendLegacyOpen(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

BOOL CiBackendLegacyControl(HANDLE device, DWORD code, void *input, DWORD inputSize, void *output, DWORD outputSize,
                            DWORD *returned)
{
    return DeviceIoControl(device, code, input, inputSize, output, outputSize, returned, nullptr);
}

void CiBackendLegacyClose(HANDLE device)
{
    if (device != nullptr)
        CloseHandle(device);
}
