// The channel seam filled by the in-process fake drivers of the tests: the current generation is
// present while a FakeCurrentDriver exists, the legacy one while a FakeLegacyDriver exists.
#include "channel_backend.h"
#include "fake_current_driver.h"
#include "fake_legacy_driver.h"

#include <cstring>
#include <cwchar>

FakeCurrentDriver *FakeCurrentDriver::s_Instance = nullptr;

namespace {

constexpr wchar_t kFakePath[] = L"\\\\.\\FakeChannelDevice";

// An operation the fake completes as it is issued: status and count in the OVERLAPPED, its event set.
BOOL Complete(OVERLAPPED *overlapped, ULONG_PTR bytes)
{
    overlapped->Internal = 0;
    overlapped->InternalHigh = bytes;
    SetEvent(overlapped->hEvent);
    return TRUE;
}

} // namespace

struct CI_BACKEND_DEVICE {
    int unused;
};

DWORD CiBackendFindInterface(const GUID &, wchar_t *path, size_t capacity)
{
    if (FakeCurrentDriver::s_Instance == nullptr || capacity <= wcslen(kFakePath))
        return ERROR_NOT_FOUND;
    wcscpy(path, kFakePath);
    return ERROR_SUCCESS;
}

DWORD CiBackendOpen(const wchar_t *path, CI_BACKEND_DEVICE **device)
{
    if (FakeCurrentDriver::s_Instance == nullptr || wcscmp(path, kFakePath) != 0)
        return ERROR_FILE_NOT_FOUND;
    *device = new CI_BACKEND_DEVICE{0};
    ++FakeCurrentDriver::s_Instance->opens;
    return ERROR_SUCCESS;
}

void CiBackendClose(CI_BACKEND_DEVICE *device)
{
    if (FakeCurrentDriver::s_Instance != nullptr)
        ++FakeCurrentDriver::s_Instance->closes;
    delete device;
}

BOOL CiBackendIssue(CI_BACKEND_DEVICE *, const CI_IO_REQUEST &request, OVERLAPPED *overlapped)
{
    FakeCurrentDriver *driver = FakeCurrentDriver::s_Instance;
    if (driver == nullptr || driver->failWith != 0) {
        SetLastError(driver == nullptr ? ERROR_BROKEN_PIPE : driver->failWith);
        return FALSE;
    }
    switch (request.Kind) {
    case CiIoKind::Control:
        driver->controls.push_back(request.ControlCode);
        return Complete(overlapped, 0);
    case CiIoKind::Write: {
        const auto *bytes = static_cast<const uint8_t *>(request.Input);
        driver->written.emplace_back(bytes, bytes + request.InputSize);
        return Complete(overlapped, driver->writeReports < 0 ? request.InputSize : driver->writeReports);
    }
    case CiIoKind::Read: {
        size_t copied = driver->nextPacket.size() < request.OutputSize ? driver->nextPacket.size() : request.OutputSize;
        if (copied != 0)
            std::memcpy(request.Output, driver->nextPacket.data(), copied);
        return Complete(overlapped, driver->readReports < 0 ? copied : driver->readReports);
    }
    }
    return FALSE;
}

HANDLE CiBackendIoHandle(CI_BACKEND_DEVICE *, CiIoKind)
{
    return nullptr;
}

void CiBackendCancelAll(CI_BACKEND_DEVICE *)
{
}

DWORD CiBackendFinish(CI_BACKEND_DEVICE *, const CI_IO_REQUEST &, DWORD error, DWORD *)
{
    return error;
}

bool CiBackendCurrentDriverPresent()
{
    return FakeCurrentDriver::s_Instance != nullptr;
}

HANDLE CiBackendLegacyOpen(const char *path)
{
    if (FakeLegacyDriver::s_Instance == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return FakeLegacyDriver::s_Instance->Open(path);
}

BOOL CiBackendLegacyControl(HANDLE device, DWORD code, void *input, DWORD inputSize, void *output, DWORD outputSize,
                            DWORD *returned)
{
    if (returned != nullptr)
        *returned = outputSize;
    return FakeLegacyDriver::s_Instance != nullptr &&
           FakeLegacyDriver::s_Instance->Control(device, code, input, inputSize, output, outputSize);
}

void CiBackendLegacyClose(HANDLE device)
{
    if (FakeLegacyDriver::s_Instance != nullptr)
        FakeLegacyDriver::s_Instance->Close(device);
}
