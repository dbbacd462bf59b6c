#include "netclass.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kNetworkClass[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";

const std::wstring &UsbPattern()
{
    static const std::wstring pattern = [] {
        wchar_t text[64];
        swprintf(text, 64, L"\\\\?\\usb#vid_%04x&pid_%04x", kMgmtProcessorUsbVendorId, kMgmtProcessorUsbProductId);
        return std::wstring(text);
    }();
    return pattern;
}

} // namespace

int AdmittedPathPattern(std::wstring_view lowerPath)
{
    static const wchar_t *const kPatterns[] = {
        L"\\\\?\\pci#ven",
        L"\\\\?\\root#xj_zdtteammp",
        L"\\\\?\\root#net#",
        L"\\\\?\\root#vmware#",
        L"\\\\?\\root#msloop",
        L"\\\\?\\ebdrv#l2nd",
        L"\\\\?\\b06bdrv#l2nd",
        L"\\\\?\\mlx4#connectx_eth",
        L"\\\\?\\mlx4#connectx-3_eth",
        L"\\\\?\\mlx4#connectx-3pro_eth",
        L"\\\\?\\iba#ipoib",
        L"\\\\?\\iba#connectx-3_ipoib",
        L"\\\\?\\iba#connectx-3pro_ipoib",
        L"\\\\?\\qebdrv#l2nd",
        L"#ndis&ven_1924&dev_0903",
        nullptr, // the management processor's USB interface
        L"\\\\?\\compositebus#ms_implat_mp",
        L"\\\\?\\root#ms_bridgemp",
    };
    for (size_t i = 0; i < sizeof(kPatterns) / sizeof(kPatterns[0]); ++i) {
        const std::wstring_view pattern = kPatterns[i] != nullptr ? std::wstring_view(kPatterns[i]) : UsbPattern();
        if (lowerPath.find(pattern) != std::wstring_view::npos)
            return static_cast<int>(i + 1);
    }
    return 0;
}

void FreeNetClassIfDetail(NETCLASSIFDETAIL *detail)
{
    std::free(detail);
}

CNetClassIf::CNetClassIf(NETCLASSIFDETAIL *detail) : m_Detail(detail)
{
    const wchar_t *path = detail != nullptr ? detail->path : L"";
    const wchar_t *slash = wcsrchr(path, L'\\');
    if (slash != nullptr) {
        m_Name = slash + 1;
        LOG_VERBOSE(L"CNetClassIf::CNetClassIf", L"DeviceName: %s", m_Name);
    } else {
        m_Name = path;
        LOG_VERBOSE(L"CNetClassIf::CNetClassIf", L"Can't determine device name.");
    }
    m_PathSize = 2 * wcslen(path) + 2;
    m_DeviceNameSize = 2 * wcslen(m_Name) + 12;
}

CNetClassIf::~CNetClassIf()
{
    FreeNetClassIfDetail(m_Detail);
}

DWORD CNetClassIf::GetDeviceName(wchar_t *buffer) const
{
    if (buffer == nullptr) {
        LOG_VERBOSE(L"CNetClassIf::GetDeviceName", L"Device name is null.");
        return kNicAllocationFailed;
    }
    wcscpy(buffer, L"\\\\.\\");
    wcscat(buffer, m_Name);
    return 0;
}

DWORD CNetClassIf::GetDevicePath(wchar_t *buffer) const
{
    if (buffer == nullptr) {
        LOG_VERBOSE(L"CNetClassIf::GetDevicePath", L"Device path is null.");
        return kNicAllocationFailed;
    }
    std::memcpy(buffer, m_Detail != nullptr ? m_Detail->path : L"", static_cast<size_t>(m_PathSize));
    return 0;
}

CNetClassIfList::~CNetClassIfList()
{
    for (NETCLASSIFNODE *node = m_First; node != nullptr;) {
        NETCLASSIFNODE *next = node->next;
        DeleteListNode(node);
        node = next;
    }
}

DWORD CNetClassIfList::MyGetDeviceIfDetail(size_t length, const wchar_t *list, NETCLASSIFDETAIL **detail)
{
    *detail = nullptr;
    const size_t chars = list != nullptr ? wcsnlen(list, length) : 0;
    auto *record = static_cast<NETCLASSIFDETAIL *>(
        std::calloc(1, offsetof(NETCLASSIFDETAIL, path) + (chars + 1) * sizeof(wchar_t)));
    if (record == nullptr)
        return kNicAllocationFailed;
    record->size = 8;
    for (size_t i = 0; i < chars; ++i)
        record->path[i] = static_cast<wchar_t>(towlower(list[i]));
    record->path[chars] = L'\0';
    *detail = record;
    if (AdmittedPathPattern(record->path) != 0) {
        LOG_INFO(L"CNetClassIfList::MyGetDeviceIfDetail", L"Including: %s", record->path);
        return 0;
    }
    LOG_INFO(L"CNetClassIfList::MyGetDeviceIfDetail", L"Excluding: %s", record->path);
    return ERROR_INVALID_DATA;
}

NETCLASSIFNODE *CNetClassIfList::AllocateNetClassIfNode(NETCLASSIFDETAIL *detail)
{
    CNetClassIf *netIf = new (std::nothrow) CNetClassIf(detail);
    if (netIf == nullptr) {
        LOG_WARNING(L"CNetClassIfList::AllocateNetClassIfNode", L"Can't allocate CNetClassIf: %d",
                    static_cast<int>(GetLastError()));
        FreeNetClassIfDetail(detail);
        return nullptr;
    }
    NETCLASSIFNODE *node = new (std::nothrow) NETCLASSIFNODE;
    if (node == nullptr) {
        LOG_WARNING(L"CNetClassIfList::AllocateNetClassIfNode", L"Can't allocate NETCLASSIFNODE: %d",
                    static_cast<int>(GetLastError()));
        delete netIf;
        return nullptr;
    }
    InitListNode(node, netIf, static_cast<NETCLASSIFNODE *>(nullptr));
    return node;
}

DWORD CNetClassIfList::Init()
{
    DWORD result = ERROR_NOT_ENOUGH_MEMORY; // 8
    ULONG size = 0;
    if (Nic().CM_Get_Device_ID_List_SizeW(&size, kNetworkClass, CM_GETIDLIST_FILTER_CLASS | CM_GETIDLIST_FILTER_PRESENT) !=
            CR_SUCCESS ||
        size == 0)
        return result;
    std::vector<wchar_t> ids(size, L'\0');
    if (Nic().CM_Get_Device_ID_ListW(kNetworkClass, ids.data(), size,
                                     CM_GETIDLIST_FILTER_CLASS | CM_GETIDLIST_FILTER_PRESENT) != CR_SUCCESS)
        return result;
    ids.back() = L'\0';
    for (size_t at = 0; at < ids.size() && ids[at] != L'\0'; at += wcslen(&ids[at]) + 1) {
        wchar_t *id = &ids[at];
        DEVINST instance = 0;
        if (Nic().CM_Locate_DevNodeW(&instance, id, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
            continue;
        GUID lan = kNdisLanClass;
        ULONG length = 0;
        if (Nic().CM_Get_Device_Interface_List_SizeW(&length, &lan, id, CM_GET_DEVICE_INTERFACE_LIST_PRESENT) !=
                CR_SUCCESS ||
            length == 0)
            continue;
        std::vector<wchar_t> interfaces(length + 1, L'\0');
        if (Nic().CM_Get_Device_Interface_ListW(&lan, id, interfaces.data(), length,
                                                CM_GET_DEVICE_INTERFACE_LIST_PRESENT) != CR_SUCCESS ||
            interfaces[0] == L'\0')
            continue;
        NETCLASSIFDETAIL *detail = nullptr;
        result = MyGetDeviceIfDetail(length, interfaces.data(), &detail);
        if (result != 0) {
            FreeNetClassIfDetail(detail);
            LOG_VERBOSE(L"CNetClassIfList::Init", L"MyGetDeviceIfDetail returned: %d", static_cast<int>(result));
            continue;
        }
        NETCLASSIFNODE *node = AllocateNetClassIfNode(detail);
        if (node == nullptr)
            continue;
        if (m_Last != nullptr)
            SetListNodeNext(m_Last, node);
        else
            m_First = node;
        m_Last = node;
        ++m_Count;
    }
    return result;
}
