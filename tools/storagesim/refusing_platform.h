#pragma once
// A storage platform that refuses everything: no device opens, and the configuration manager
// answers every question with the one code the test chooses. For tests that need the seam replaced
// but no device behind it.

#include "storage_platform.h"

class RefusingStoragePlatform final : public IStoragePlatform {
public:
    explicit RefusingStoragePlatform(CONFIGRET answer = CR_FAILURE) : m_Answer(answer) {}

    HANDLE OpenDevice(const char *, DWORD, DWORD, DWORD, DWORD) override { return INVALID_HANDLE_VALUE; }
    BOOL DeviceControl(HANDLE, DWORD, void *, DWORD, void *, DWORD, DWORD *) override { return FALSE; }
    LONG NativeDeviceControl(HANDLE, ULONG, void *, ULONG, void *, ULONG, ULONG_PTR *) override { return -1; }
    BOOL CloseDevice(HANDLE) override { return FALSE; }
    LONG OpenPhysicalMemory(HANDLE *) override { return -1; }
    LONG MapPhysicalMemory(HANDLE, uint64_t, SIZE_T, const void **) override { return -1; }
    LONG UnmapPhysicalMemory(const void *) override { return -1; }
    CONFIGRET GetDeviceIdListSize(ULONG *, const char *, ULONG) override { return m_Answer; }
    CONFIGRET GetDeviceIdList(const char *, char *, ULONG, ULONG) override { return m_Answer; }
    CONFIGRET LocateDevNode(DEVINST *, const char *, ULONG) override { return m_Answer; }
    CONFIGRET GetDevNodeRegistryProperty(DEVINST, ULONG, ULONG *, void *, ULONG *, ULONG) override
    {
        return m_Answer;
    }
    CONFIGRET GetParent(DEVINST *, DEVINST, ULONG) override { return m_Answer; }
    CONFIGRET GetDeviceId(DEVINST, char *, ULONG, ULONG) override { return m_Answer; }

private:
    CONFIGRET m_Answer;
};
