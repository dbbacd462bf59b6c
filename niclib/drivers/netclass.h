#pragma once
// The NDIS LAN interfaces of the present network-class devices that the library may query: one
// per device (its first), admitted only when its path matches a known bus or driver pattern.
// Lives only while a miniport list is built. Data-collection thread only.

#include "adapter_ids.h"
#include "nic_common.h"
#include "nic_platform.h"

#include <cstdint>
#include <string_view>

// The first admitted pattern the lower-cased path contains (1-based order), or 0.
int AdmittedPathPattern(std::wstring_view lowerPath);

// {size field 8, the interface path in lower case}.
struct NETCLASSIFDETAIL {
    uint32_t size;
    wchar_t path[1];
};

class CNetClassIf {
public:
    explicit CNetClassIf(NETCLASSIFDETAIL *detail);
    virtual ~CNetClassIf();
    CNetClassIf(const CNetClassIf &) = delete;
    CNetClassIf &operator=(const CNetClassIf &) = delete;

    // "\\.\" followed by the name; the buffer holds at least GetDeviceNameSize() bytes.
    DWORD GetDeviceName(wchar_t *buffer) const;
    DWORD GetDevicePath(wchar_t *buffer) const;
    uint64_t GetPathSize() const { return m_PathSize; }
    uint64_t GetDeviceNameSize() const { return m_DeviceNameSize; }
    const wchar_t *GetName() const { return m_Name; }

private:
    uint64_t m_PathSize = 0;
    uint64_t m_DeviceNameSize = 0;
    const wchar_t *m_Name = nullptr;
    NETCLASSIFDETAIL *m_Detail = nullptr;
};

using NETCLASSIFNODE = LISTNODE<CNetClassIf>;

class CNetClassIfList {
public:
    CNetClassIfList() = default;
    virtual ~CNetClassIfList();
    CNetClassIfList(const CNetClassIfList &) = delete;
    CNetClassIfList &operator=(const CNetClassIfList &) = delete;

    DWORD Init();
    // 0 when the list's first path is admitted (then *detail is the caller's), 13 when excluded.
    DWORD MyGetDeviceIfDetail(size_t length, const wchar_t *list, NETCLASSIFDETAIL **detail);
    static NETCLASSIFNODE *AllocateNetClassIfNode(NETCLASSIFDETAIL *detail);

    NETCLASSIFNODE *GetFirst() const { return m_First; }
    uint32_t GetCount() const { return m_Count; }

private:
    NETCLASSIFNODE *m_First = nullptr;
    NETCLASSIFNODE *m_Last = nullptr;
    uint32_t m_Count = 0;
};

void FreeNetClassIfDetail(NETCLASSIFDETAIL *detail);
