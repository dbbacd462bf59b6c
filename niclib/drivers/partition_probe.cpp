// NIC partition probes. The OID probes hold nothing between calls; the Broadcom probe loads
// "bmapi.dll" from this library's own folder, uses it and releases it within one call.
#include "partition_probe.h"

#include "miniport.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <vector>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

const char *const kNparNames[kNparEntryCount] = {
    "BmapiInitializeEx",   "BmapiUninitialize",        "BmapiGetBRCMNicInfoEx", "BmapiGetHandleByServiceName",
    "BmapiGetNumPhyNicEx", "BmapiGetAllPhyNicHandles", "BmapiGetPhyNic",        "BmapiGetPnpDevId",
};

using InitializeFn = uint32_t(__cdecl *)(uint32_t);
using UninitializeFn = uint32_t(__cdecl *)();
using HandleRecordFn = uint32_t(__cdecl *)(uint32_t, uint8_t *);
using CountFn = uint32_t(__cdecl *)(uint32_t *);
using HandlesFn = uint32_t(__cdecl *)(uint32_t *, uint32_t);
using PnpIdFn = uint32_t(__cdecl *)(uint32_t, char *, uint32_t *, uint32_t *, uint32_t *);

// The probe's own slot, apart from the BMAPI slot of the link and firmware readers.
struct NparSlot {
    HMODULE module = nullptr;
    FARPROC entries[kNparEntryCount] = {};
} s_Npar;

template <class Fn> Fn Entry(NparEntry entry)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(s_Npar.entries[entry]));
}

void ClearSlot()
{
    s_Npar = NparSlot();
}

// The OID probe: one query on the interface, the answer taken only when it is long enough.
void QueryPartition(const wchar_t *path, uint32_t oid, uint8_t *answer, DWORD size, DWORD needed,
                    const std::function<void(const uint8_t *)> &store)
{
    if (path == nullptr)
        return;
    HANDLE device = Nic().CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return;
    DWORD returned = 0;
    if (Nic().DeviceIoControl(device, kIoctlNdisQueryGlobalStats, &oid, sizeof(oid), answer, size, &returned,
                              nullptr) &&
        returned >= needed && returned <= size)
        store(answer);
    Nic().CloseHandle(device);
}

int32_t Word(const uint8_t *bytes)
{
    int32_t value = 0;
    std::memcpy(&value, bytes, sizeof(value));
    return value;
}

// A device-node property as text, read into a buffer of the given size; "" with false when absent.
bool ReadText(DEVINST device, ULONG property, std::wstring *text)
{
    std::vector<wchar_t> buffer(kNparPropertyBytes / sizeof(wchar_t) + 1, L'\0');
    ULONG length = kNparPropertyBytes;
    if (Nic().CM_Get_DevNode_Registry_PropertyW(device, property, nullptr, buffer.data(), &length, 0) != CR_SUCCESS)
        return false;
    buffer.back() = L'\0';
    *text = buffer.data();
    return true;
}

} // namespace

DWORD GetMellanoxPartitionValue(int32_t *value, const wchar_t *interfacePath)
{
    uint8_t answer[1] = {};
    QueryPartition(interfacePath, kOidMellanoxPartition, answer, sizeof(answer), 1,
                   [value](const uint8_t *bytes) { *value = bytes[0]; });
    return 0;
}

DWORD GetEmulexPartitionValue(int32_t *value, const wchar_t *interfacePath)
{
    uint8_t answer[4] = {};
    QueryPartition(interfacePath, kOidEmulexPartition, answer, sizeof(answer), 4,
                   [value](const uint8_t *bytes) { *value = Word(bytes); });
    return 0;
}

DWORD GetQlogicPartitionValue(int32_t *value, const wchar_t *interfacePath)
{
    uint8_t answer[kQlogicPartitionAnswerBytes] = {};
    const uint32_t signature = kQlogicPartitionSignature;
    std::memcpy(answer, &signature, sizeof(signature));
    QueryPartition(interfacePath, kOidQlogicPartition, answer, sizeof(answer), 12,
                   [value](const uint8_t *bytes) { *value = Word(bytes + 8); });
    return 0;
}

DWORD ResolveNparBmapi(HMODULE module)
{
    for (unsigned i = 0; i < kNparEntryCount; ++i) {
        s_Npar.entries[i] = Nic().GetProcAddress(module, kNparNames[i]);
        if (s_Npar.entries[i] == nullptr)
            return 2;
    }
    return 0;
}

DWORD LoadNparBmapi()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = Nic().GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 2;
    wchar_t *slash = std::wcsrchr(path, L'\\');
    if (slash == nullptr)
        return 2;
    slash[1] = L'\0';
    if (std::wcslen(path) + std::wcslen(kNparBmapiFile) >= MAX_PATH)
        return 2;
    std::wcscat(path, kNparBmapiFile);

    if (s_Npar.module != nullptr)
        return 0;
    s_Npar.module = Nic().LoadLibraryW(path);
    if (s_Npar.module == nullptr)
        return 2;
    if (ResolveNparBmapi(s_Npar.module) != 0) {
        Nic().FreeLibrary(s_Npar.module);
        ClearSlot();
        return 2;
    }
    auto initialize = Entry<InitializeFn>(kNparInitializeEx);
    for (unsigned attempt = 0; attempt < kNparInitAttempts; ++attempt) {
        if (initialize(0) == 0)
            return 0;
        Nic().Sleep(kNparInitWaitMs);
    }
    // Never brought up: the probe cannot ask it, but the library is still released.
    return 2;
}

DWORD UnloadNparBmapi()
{
    DWORD result = 0;
    if (auto uninitialize = Entry<UninitializeFn>(kNparUninitialize)) {
        if (uninitialize() != 0)
            result = 2;
        else
            Nic().Sleep(kNparReleaseWaitMs);
        // Freed either way: a library that refused to shut down is not kept loaded for good.
        if (!Nic().FreeLibrary(s_Npar.module))
            result = 2;
    }
    ClearSlot();
    return result;
}

DWORD FindNparPnpDeviceId(DEVINST device, wchar_t **id)
{
    *id = nullptr;
    std::wstring location;
    if (!ReadText(device, CM_DRP_LOCATION_INFORMATION, &location))
        return 0;
    ULONG size = 0;
    if (Nic().CM_Get_Device_ID_List_SizeW(&size, kNparDeviceClass, CM_GETIDLIST_FILTER_CLASS | CM_GETIDLIST_FILTER_PRESENT) !=
            CR_SUCCESS ||
        size == 0)
        return 0;
    std::unique_ptr<wchar_t[]> list(new (std::nothrow) wchar_t[size + 1]());
    if (!list || Nic().CM_Get_Device_ID_ListW(kNparDeviceClass, list.get(), size,
                                              CM_GETIDLIST_FILTER_CLASS | CM_GETIDLIST_FILTER_PRESENT) != CR_SUCCESS)
        return 0;
    list[size] = L'\0';
    for (const wchar_t *entry = list.get(); *entry != 0 && entry < list.get() + size; entry += std::wcslen(entry) + 1) {
        DEVINST node = 0;
        std::wstring text;
        if (Nic().CM_Locate_DevNodeW(&node, const_cast<wchar_t *>(entry), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS ||
            !ReadText(node, CM_DRP_LOCATION_INFORMATION, &text) || text != location)
            continue;
        *id = DuplicateText(entry);
        break;
    }
    return 0;
}

DWORD FindNparBmapiHandle(const wchar_t *id, uint32_t *handle)
{
    if (id == nullptr)
        return 2;
    uint32_t count = 0;
    if (Entry<CountFn>(kNparGetNumPhyNicEx)(&count) != 0 || count == 0)
        return 2;
    if (count > kNparMaxNics)
        count = kNparMaxNics;
    std::unique_ptr<uint32_t[]> handles(new (std::nothrow) uint32_t[count]());
    if (!handles || Entry<HandlesFn>(kNparGetAllPhyNicHandles)(handles.get(), count) != 0)
        return 2;
    auto getPhyNic = Entry<HandleRecordFn>(kNparGetPhyNic);
    auto getPnpId = Entry<PnpIdFn>(kNparGetPnpDevId);
    for (uint32_t i = count; i-- > 0;) {
        uint8_t nic[kNparPhyNicBytes] = {};
        const uint32_t recordSize = kNparPhyNicBytes;
        std::memcpy(nic, &recordSize, sizeof(recordSize));
        if (getPhyNic(handles[i], nic) != 0)
            continue;
        const int32_t type = Word(nic + 8);
        if (type != 4 && type != 5)
            continue;
        uint32_t size = 0;
        uint32_t unused1 = 0;
        uint32_t unused2 = 0;
        if (getPnpId(handles[i], nullptr, &size, &unused1, &unused2) != 0 || size == 0 || size > kNparMaxPnpIdBytes)
            break;
        std::unique_ptr<char[]> text(new (std::nothrow) char[size + 1]());
        std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[size + 1]());
        if (!text || !wide)
            break;
        uint32_t readSize = size;
        if (getPnpId(handles[i], text.get(), &readSize, &unused1, &unused2) != 0)
            break;
        // The library's text need not end inside what it was given.
        text[size] = '\0';
        const size_t converted = std::mbstowcs(wide.get(), text.get(), size);
        if (converted == static_cast<size_t>(-1) || converted == 0)
            continue;
        wide[std::min<size_t>(converted, size)] = L'\0';
        if (std::wcscmp(wide.get(), id) == 0) {
            *handle = handles[i];
            return 0;
        }
    }
    return 2;
}

DWORD GetBroadcomPartitionValue(DEVINST device, int32_t *value)
{
    DWORD result = LoadNparBmapi();
    if (result == 0) {
        wchar_t *id = nullptr;
        FindNparPnpDeviceId(device, &id);
        uint32_t handle = 0;
        if (FindNparBmapiHandle(id, &handle) != 0) {
            result = 2;
        } else {
            std::vector<uint8_t> info(kNparNicInfoBytes, 0);
            const uint32_t version = kNparNicInfoVersion;
            std::memcpy(info.data(), &version, sizeof(version));
            if (Entry<HandleRecordFn>(kNparGetBRCMNicInfoEx)(handle, info.data()) != 0)
                result = 2;
            else
                *value = Word(info.data() + kNparPartitionValueOffset);
        }
        delete[] id;
    }
    if (UnloadNparBmapi() != 0)
        result = 2;
    return result;
}
