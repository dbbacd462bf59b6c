// The product's storage platform: the Windows calls themselves. The native calls come from
// ntdll by name, which is loaded in every process before any static object is constructed.

#include "storage_platform.h"

#include <winternl.h>

#include <atomic>

namespace {

using NtDeviceIoControlFileFn = LONG(NTAPI *)(HANDLE, HANDLE, PVOID, PVOID, IO_STATUS_BLOCK *, ULONG, PVOID, ULONG,
                                              PVOID, ULONG);
using NtOpenSectionFn = LONG(NTAPI *)(HANDLE *, ACCESS_MASK, OBJECT_ATTRIBUTES *);
using NtMapViewOfSectionFn = LONG(NTAPI *)(HANDLE, HANDLE, PVOID *, ULONG_PTR, SIZE_T, LARGE_INTEGER *, SIZE_T *,
                                           DWORD, ULONG, ULONG);
using NtUnmapViewOfSectionFn = LONG(NTAPI *)(HANDLE, PVOID);

constexpr LONG kStatusProcedureNotFound = static_cast<LONG>(0xC000007A);
constexpr ACCESS_MASK kSectionMapRead = 0x0004;
constexpr DWORD kViewShare = 1;

template <class Fn> Fn NtdllProc(const char *name)
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(ntdll, name))) : nullptr;
}

class Win32Platform final : public IStoragePlatform {
public:
    constexpr Win32Platform() = default;

    HANDLE OpenDevice(const char *path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override
    {
        return CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    }
    BOOL DeviceControl(HANDLE device, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize,
                       DWORD *returned) override
    {
        return DeviceIoControl(device, code, in, inSize, out, outSize, returned, nullptr);
    }
    LONG NativeDeviceControl(HANDLE device, ULONG code, void *in, ULONG inSize, void *out, ULONG outSize,
                             ULONG_PTR *information) override
    {
        auto call = NtdllProc<NtDeviceIoControlFileFn>("NtDeviceIoControlFile");
        if (call == nullptr)
            return kStatusProcedureNotFound;
        IO_STATUS_BLOCK status = {};
        LONG result = call(device, nullptr, nullptr, nullptr, &status, code, in, inSize, out, outSize);
        if (information)
            *information = status.Information;
        return result;
    }
    BOOL ReadDevice(HANDLE device, void *buffer, DWORD size, DWORD *read) override
    {
        return ReadFile(device, buffer, size, read, nullptr);
    }
    BOOL CloseDevice(HANDLE handle) override { return CloseHandle(handle); }

    LONG OpenPhysicalMemory(HANDLE *section) override
    {
        auto call = NtdllProc<NtOpenSectionFn>("NtOpenSection");
        if (call == nullptr)
            return kStatusProcedureNotFound;
        wchar_t name[] = L"\\device\\physicalmemory";
        UNICODE_STRING text;
        text.Buffer = name;
        text.Length = static_cast<USHORT>((sizeof name) - sizeof(wchar_t));
        text.MaximumLength = static_cast<USHORT>(sizeof name);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
        return call(section, kSectionMapRead, &attributes);
    }
    LONG MapPhysicalMemory(HANDLE section, uint64_t offset, SIZE_T viewSize, const void **view) override
    {
        auto call = NtdllProc<NtMapViewOfSectionFn>("NtMapViewOfSection");
        if (call == nullptr)
            return kStatusProcedureNotFound;
        PVOID base = nullptr;
        LARGE_INTEGER sectionOffset;
        sectionOffset.QuadPart = static_cast<LONGLONG>(offset);
        SIZE_T size = viewSize;
        LONG status = call(section, GetCurrentProcess(), &base, 0, viewSize, &sectionOffset, &size, kViewShare, 0,
                           PAGE_READONLY);
        *view = base;
        return status;
    }
    LONG UnmapPhysicalMemory(const void *view) override
    {
        auto call = NtdllProc<NtUnmapViewOfSectionFn>("NtUnmapViewOfSection");
        if (call == nullptr)
            return kStatusProcedureNotFound;
        return call(GetCurrentProcess(), const_cast<void *>(view));
    }

    CONFIGRET GetDeviceIdListSize(ULONG *size, const char *filter, ULONG flags) override
    {
        return CM_Get_Device_ID_List_SizeA(size, filter, flags);
    }
    CONFIGRET GetDeviceIdList(const char *filter, char *buffer, ULONG size, ULONG flags) override
    {
        return CM_Get_Device_ID_ListA(filter, buffer, size, flags);
    }
    CONFIGRET LocateDevNode(DEVINST *device, const char *deviceId, ULONG flags) override
    {
        return CM_Locate_DevNodeA(device, const_cast<char *>(deviceId), flags);
    }
    CONFIGRET GetDevNodeRegistryProperty(DEVINST device, ULONG property, ULONG *type, void *buffer, ULONG *length,
                                         ULONG flags) override
    {
        return CM_Get_DevNode_Registry_PropertyA(device, property, type, buffer, length, flags);
    }
    CONFIGRET GetParent(DEVINST *parent, DEVINST device, ULONG flags) override
    {
        return CM_Get_Parent(parent, device, flags);
    }
    CONFIGRET GetDeviceId(DEVINST device, char *buffer, ULONG length, ULONG flags) override
    {
        return CM_Get_Device_IDA(device, buffer, length, flags);
    }
};

// Constant-initialised: ready before any dynamic initialiser of any translation unit runs.
constinit Win32Platform s_Win32Platform;
constinit std::atomic<IStoragePlatform *> s_TestPlatform{nullptr};

} // namespace

IStoragePlatform &Win32StoragePlatform() { return s_Win32Platform; }

IStoragePlatform &StoragePlatform()
{
    IStoragePlatform *replacement = s_TestPlatform.load(std::memory_order_acquire);
    return replacement ? *replacement : s_Win32Platform;
}

IStoragePlatform *SetStoragePlatformForTest(IStoragePlatform *platform)
{
    return s_TestPlatform.exchange(platform, std::memory_order_acq_rel);
}
