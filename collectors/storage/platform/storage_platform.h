#pragma once
// The storage device seam: every call the storage code makes to a device, to physical memory or
// to the configuration manager goes through IStoragePlatform, so that the storage layers above it
// run unchanged against the simulated storage server in tests.
//
// The interface sits at the lowest boundary: each operation takes and returns what the Windows
// call it stands for takes and returns (handles, Win32 codes through the thread's last error,
// NTSTATUS, CONFIGRET), so the code above it keeps every rule of the real calls.
//
// StoragePlatform() is usable at any time, also while static objects are being constructed (the
// IDE device layer starts then): the product's implementation is a constant-initialised object
// without state. Only a test installs a replacement, through SetStoragePlatformForTest; nothing
// in the product reads a registry value or the environment to choose one.

#include <windows.h>

#include <cfgmgr32.h>

#include <cstdint>

class IStoragePlatform {
public:
    // CreateFileA: INVALID_HANDLE_VALUE with the thread's last error set on failure.
    virtual HANDLE OpenDevice(const char *path, DWORD access, DWORD share, DWORD disposition, DWORD flags) = 0;
    // DeviceIoControl without overlapped I/O: FALSE with the thread's last error set on failure.
    virtual BOOL DeviceControl(HANDLE device, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize,
                               DWORD *returned) = 0;
    // NtDeviceIoControlFile without event, APC or overlapped I/O: the NTSTATUS, and the status
    // block's Information in *information.
    virtual LONG NativeDeviceControl(HANDLE device, ULONG code, void *in, ULONG inSize, void *out, ULONG outSize,
                                     ULONG_PTR *information) = 0;
    // ReadFile without overlapped I/O from a handle OpenDevice gave. A device opened with
    // FILE_FLAG_NO_BUFFERING takes only sector-aligned buffers and sizes. FALSE with the thread's
    // last error set on failure; platforms that read no devices refuse with ERROR_NOT_SUPPORTED.
    virtual BOOL ReadDevice(HANDLE device, void *buffer, DWORD size, DWORD *read)
    {
        (void)device, (void)buffer, (void)size;
        *read = 0;
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    // CloseHandle, for device handles and the physical-memory section alike.
    virtual BOOL CloseDevice(HANDLE handle) = 0;

    // NtOpenSection of "\device\physicalmemory" for SECTION_MAP_READ: an NTSTATUS.
    virtual LONG OpenPhysicalMemory(HANDLE *section) = 0;
    // NtMapViewOfSection into this process, read-only and shared, of viewSize bytes from the
    // page-aligned offset: an NTSTATUS.
    virtual LONG MapPhysicalMemory(HANDLE section, uint64_t offset, SIZE_T viewSize, const void **view) = 0;
    // NtUnmapViewOfSection of a view MapPhysicalMemory gave.
    virtual LONG UnmapPhysicalMemory(const void *view) = 0;

    // The configuration manager, narrow forms. A filter such as "PCI" names the enumerator;
    // flags are passed on unchanged (CM_GETIDLIST_FILTER_PRESENT and the like).
    virtual CONFIGRET GetDeviceIdListSize(ULONG *size, const char *filter, ULONG flags) = 0;
    virtual CONFIGRET GetDeviceIdList(const char *filter, char *buffer, ULONG size, ULONG flags) = 0;
    virtual CONFIGRET LocateDevNode(DEVINST *device, const char *deviceId, ULONG flags) = 0;
    virtual CONFIGRET GetDevNodeRegistryProperty(DEVINST device, ULONG property, ULONG *type, void *buffer,
                                                 ULONG *length, ULONG flags) = 0;
    virtual CONFIGRET GetParent(DEVINST *parent, DEVINST device, ULONG flags) = 0;
    virtual CONFIGRET GetDeviceId(DEVINST device, char *buffer, ULONG length, ULONG flags) = 0;

protected:
    // Never deleted through the interface: the product's instance is static, a test owns its own.
    ~IStoragePlatform() = default;
};

// The platform in use: the Windows implementation unless a test installed another.
IStoragePlatform &StoragePlatform();
// Tests only: installs a replacement (null goes back to the Windows implementation) and returns
// the one it replaces.
IStoragePlatform *SetStoragePlatformForTest(IStoragePlatform *platform);
// The Windows implementation itself, for tests that pin what the real system answers.
IStoragePlatform &Win32StoragePlatform();
