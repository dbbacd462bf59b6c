#include "miniport.h"

#include "if_table.h"
#include "nic_decode.h"
#include "vendor_libs.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

namespace {

void FreeText(wchar_t *&text)
{
    delete[] text;
    text = nullptr;
}

// A copy of at most maxChars characters of the text, terminated.
wchar_t *CopyBounded(const wchar_t *text, size_t maxChars)
{
    const size_t length = text != nullptr ? wcsnlen(text, maxChars) : 0;
    wchar_t *copy = new (std::nothrow) wchar_t[length + 1];
    if (copy == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (length > 0)
        std::memcpy(copy, text, length * sizeof(wchar_t));
    copy[length] = L'\0';
    return copy;
}

DWORD LastErrorOr(DWORD fallback)
{
    DWORD error = GetLastError();
    return error != 0 ? error : fallback;
}

} // namespace

wchar_t *DuplicateText(const wchar_t *text)
{
    return text != nullptr ? CopyBounded(text, wcslen(text)) : nullptr;
}

CMiniport::CMiniport()
{
    HoldVendorLibraries();
}

CMiniport::~CMiniport()
{
    FreeText(m_DeviceName);
    FreeText(m_TeamGuid);
    FreeText(m_Guid);
    FreeText(m_VlanName);
    FreeText(m_VlanIPv6Address);
    FreeText(m_VlanConnectionName);
    FreeText(m_TeamDeviceName);
    ReleaseVendorLibraries();
}

CMiniport &CMiniport::operator=(const CMiniport &source)
{
    if (this == &source)
        return *this;
    m_Medium = source.m_Medium;
    m_CurrentAddressLength = source.m_CurrentAddressLength;
    m_PermanentAddressLength = source.m_PermanentAddressLength;
    m_FailureLogged = source.m_FailureLogged;
    m_LinkQueryEnabled = source.m_LinkQueryEnabled;
    m_TeamId = source.m_TeamId;
    m_Flags = source.m_Flags;
    m_VlanId = source.m_VlanId;
    m_LogicalIndex = source.m_LogicalIndex;
    m_Assigned = source.m_Assigned;
    m_AdapterType = source.m_AdapterType;
    std::memcpy(m_CurrentAddress, source.m_CurrentAddress, kMacBytes);
    std::memcpy(m_PermanentAddress, source.m_PermanentAddress, kMacBytes);

    m_DeviceNameSize = source.m_DeviceNameSize;
    FreeText(m_DeviceName);
    if (source.m_DeviceName != nullptr) {
        m_DeviceName = DuplicateText(source.m_DeviceName);
        if (m_DeviceName == nullptr)
            LOG_WARNING(L"CMiniport::operator =", L"Can't allocate Device name. Return code: %d",
                        static_cast<int>(GetLastError()));
    }
    FreeText(m_TeamGuid);
    if (source.m_TeamGuid != nullptr) {
        m_TeamGuid = DuplicateText(source.m_TeamGuid);
        if (m_TeamGuid == nullptr)
            LOG_WARNING(L"CMiniport::operator =", L"Can't allocate Team Guid. Return code: %d",
                        static_cast<int>(GetLastError()));
    }
    FreeText(m_Guid);
    if (source.m_Guid != nullptr) {
        m_Guid = DuplicateText(source.m_Guid);
        if (m_Guid == nullptr)
            LOG_WARNING(L"CMiniport::operator =", L"Can't allocate Guid. Return code: %d",
                        static_cast<int>(GetLastError()));
    }
    m_PciId = source.m_PciId;
    m_SubsystemId = source.m_SubsystemId;
    m_PrimaryIndex = source.m_PrimaryIndex;
    if (m_Flags & 1) {
        m_TeamMemberCount = source.m_TeamMemberCount;
        m_MemberIndex = source.m_MemberIndex;
    }
    FreeText(m_TeamDeviceName);
    if (source.m_TeamDeviceName != nullptr) {
        m_TeamDeviceName = DuplicateText(source.m_TeamDeviceName);
        if (m_TeamDeviceName == nullptr)
            LOG_WARNING(L"CMiniport::operator =", L"Can't allocate Team device name. Return code: %d",
                        static_cast<int>(GetLastError()));
    }
    return *this;
}

DWORD CMiniport::Init(const wchar_t *path, const wchar_t *deviceName, uint64_t deviceNameSize, CMiniportList *list)
{
    LOG_INFO(L"CMiniport::Init", L"DeviceName: %s size: %d", deviceName != nullptr ? deviceName : L"",
             static_cast<int>(deviceNameSize));
    if (path != nullptr) {
        // Only a full GUID text names the team; a shorter tail of the path names nothing.
        const std::wstring team = GuidTextFromPath(path);
        if (!team.empty()) {
            FreeText(m_TeamGuid);
            m_TeamGuid = new (std::nothrow) wchar_t[40]();
            if (m_TeamGuid != nullptr)
                std::memcpy(m_TeamGuid, team.c_str(), kGuidTextChars * sizeof(wchar_t));
        }
    }

    // The size counts bytes including the terminating NUL; the copy stays inside it.
    m_DeviceNameSize = deviceNameSize;
    const size_t chars = static_cast<size_t>(deviceNameSize / sizeof(wchar_t));
    FreeText(m_DeviceName);
    m_DeviceName = new (std::nothrow) wchar_t[chars + 1]();
    if (m_DeviceName == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        DWORD result = GetLastError();
        LOG_WARNING(L"CMiniport::Init", L"Can't allocate DeviceName. Return code: %d", static_cast<int>(result));
        return result;
    }
    if (deviceName != nullptr && chars > 0)
        std::memcpy(m_DeviceName, deviceName, wcsnlen(deviceName, chars) * sizeof(wchar_t));

    FreeText(m_Guid);
    m_Guid = CopyBounded(wcslen(m_DeviceName) > 4 ? m_DeviceName + 4 : L"", chars);
    if (m_Guid == nullptr) {
        DWORD result = GetLastError();
        LOG_WARNING(L"CMiniport::Init", L"Failure to allocate Guid: %d", static_cast<int>(result));
        return result;
    }

    SetLastError(0);
    DWORD media = SetMediaType();
    if (media != 0 || (m_Medium != 0 && m_Medium != 1)) {
        DWORD result = LastErrorOr(ERROR_INVALID_DATA);
        if (media != 0)
            result = media;
        LOG_VERBOSE(L"CMiniport::Init", L"Can't validate media type. Return code: %d", static_cast<int>(result));
        return result;
    }
    SetVlanId();
    SetVlanName();
    SetVlanIPv6AddressAndLacNumber();
    SetCurrentPhysAddr();
    SetPermPhysAddr();
    GetTeamInfo(list);
    return 0;
}

DWORD CMiniport::SetMediaType()
{
    LOG_INFO(L"CMiniport::SetMediaType", L"Saving media type.");
    uint8_t answer[8] = {};
    DWORD returned = 0;
    DWORD result = NdisIoctl(kOidGenMediaInUse, answer, sizeof(answer), &returned);
    std::memcpy(&m_Medium, answer, sizeof(m_Medium));
    if (result != 0) {
        LOG_VERBOSE(L"CMiniport::SetMediaType", L"NdisIoctl returned: %d", static_cast<int>(result));
        m_FailureLogged = 1;
    }
    return result;
}

DWORD CMiniport::SetCurrentPhysAddr()
{
    return SetPhysAddr(true);
}

DWORD CMiniport::SetPermPhysAddr()
{
    return SetPhysAddr(false);
}

DWORD CMiniport::SetPhysAddr(bool current)
{
    const wchar_t *function = current ? L"CMiniport::SetCurrentPhysAddr" : L"CMiniport::SetPermPhysAddr";
    LOG_INFO(function, current ? L"Saving current phyiscal address." : L"Saving permanent phyiscal address.");
    if (m_Medium != 0) {
        LOG_VERBOSE(function, L"UNKNOWN Medium: %d", static_cast<int>(m_Medium));
        return 0;
    }
    uint8_t answer[12] = {};
    DWORD returned = 0;
    DWORD result = NdisIoctl(current ? kOid8023CurrentAddress : kOid8023PermanentAddress, answer, sizeof(answer),
                             &returned);
    if (result != 0) {
        LOG_VERBOSE(function, L"NdisIoctl returned: %d", static_cast<int>(result));
        return result;
    }
    // The address field holds six bytes whatever count the driver reports.
    const DWORD length = std::min<DWORD>(returned, kMacBytes);
    std::memcpy(current ? m_CurrentAddress : m_PermanentAddress, answer, length);
    (current ? m_CurrentAddressLength : m_PermanentAddressLength) = length;
    return 0;
}

bool CMiniport::GetCurrentPhysAddr(uint8_t *destination, DWORD length) const
{
    if (destination == nullptr || length < m_CurrentAddressLength)
        return false;
    std::memcpy(destination, m_CurrentAddress, std::min<DWORD>(length, kMacBytes));
    return true;
}

bool CMiniport::GetPermPhysAddr(uint8_t *destination, DWORD length) const
{
    if (destination == nullptr || length < m_PermanentAddressLength)
        return false;
    std::memcpy(destination, m_PermanentAddress, std::min<DWORD>(length, kMacBytes));
    return true;
}

bool CMiniport::IsCurrentPhysAddr(const uint8_t *address, DWORD length) const
{
    return address != nullptr && length == m_CurrentAddressLength &&
           CompareBytes(address, m_CurrentAddress, length) != 0;
}

void CMiniport::LogFailure(const wchar_t *function, uint32_t oid, DWORD error, bool warning)
{
    if (m_FailureLogged != 0)
        return;
    m_FailureLogged = 1;
    if (warning)
        LOG_WARNING(function, L"Failed oid: 0x%X error: %d type: %d", oid, static_cast<int>(error),
                    static_cast<int>(m_AdapterType));
    else
        LOG_VERBOSE(function, L"Failed oid: 0x%X error: %d type: %d", oid, static_cast<int>(error),
                    static_cast<int>(m_AdapterType));
    if (oid & kOidMandatoryBit)
        LOG_WARNING(function, L"Madatory ioctl failed. DeviceName: %s Return code: %d",
                    m_DeviceName != nullptr ? m_DeviceName : L"", static_cast<int>(error));
}

DWORD CMiniport::NdisIoctl(uint32_t oid, void *answer, DWORD size, DWORD *returned)
{
    HANDLE device = OpenDevice(m_DeviceName != nullptr ? m_DeviceName : L"");
    if (device == INVALID_HANDLE_VALUE)
        return ERROR_GEN_FAILURE;
    DWORD result = 0;
    DWORD written = 0;
    if (!Nic().DeviceIoControl(device, kIoctlNdisQueryGlobalStats, &oid, sizeof(oid), answer, size, &written,
                               nullptr)) {
        result = LastErrorOr(ERROR_GEN_FAILURE);
        LogFailure(L"CMiniport::NdisIoctl", oid, result, true);
    }
    if (returned != nullptr)
        *returned = written;
    Nic().CloseHandle(device);
    return result;
}

DWORD CMiniport::IntelNdisIoctl(uint32_t oid, void *data, DWORD size, DWORD *returned)
{
    static constexpr wchar_t kFunction[] = L"CMiniport::IntelNdisIoctl";
    LOG_VERBOSE(kFunction, L"Sending Intel OID: 0x%X.", oid);
    HANDLE device = OpenDevice(m_DeviceName != nullptr ? m_DeviceName : L"");
    if (device == INVALID_HANDLE_VALUE)
        return ERROR_GEN_FAILURE;

    DWORD result = 0;
    DWORD error = 0;
    uint8_t nameAnswer[kControlDeviceNameBytes - 4] = {};
    DWORD nameBytes = 0;
    uint32_t nameOid = kOidIntelControlDevice;
    if (Nic().DeviceIoControl(device, kIoctlNdisQueryGlobalStats, &nameOid, sizeof(nameOid), nameAnswer,
                              sizeof(nameAnswer), &nameBytes, nullptr)) {
        char name[kControlDeviceNameBytes];
        ControlDeviceName(nameAnswer, nameBytes, name);
        wchar_t wide[kControlDeviceNameBytes] = {};
        for (size_t i = 0; i < kControlDeviceNameBytes && name[i] != 0; ++i)
            wide[i] = static_cast<unsigned char>(name[i]);
        HANDLE control = Nic().CreateFileW(wide, 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_READONLY,
                                           nullptr);
        if (control == INVALID_HANDLE_VALUE) {
            result = ERROR_GEN_FAILURE;
        } else {
            std::vector<uint8_t> request(static_cast<size_t>(size) + 12, 0);
            std::memcpy(request.data(), &oid, sizeof(oid));
            if (data != nullptr && size > 0)
                std::memcpy(request.data() + 12, data, size);
            DWORD written = 0;
            const DWORD requestSize = static_cast<DWORD>(request.size());
            if (Nic().DeviceIoControl(control, kIoctlVendorPrivateRequest, request.data(), requestSize,
                                      request.data(), requestSize, &written, nullptr)) {
                uint32_t status = 0;
                std::memcpy(&status, request.data() + 4, sizeof(status));
                if (status == 0) {
                    if (data != nullptr && size > 0)
                        std::memcpy(data, request.data() + 12, size);
                } else {
                    // A driver that refuses the request has given no answer: the caller falls back.
                    error = result = status;
                    LOG_VERBOSE(kFunction, L"Failed oid: 0x%X error: %d", oid, static_cast<int>(status));
                }
            } else {
                error = result = LastErrorOr(ERROR_GEN_FAILURE);
                LOG_VERBOSE(kFunction, L"Failed oid: 0x%X error: %d", oid, static_cast<int>(error));
            }
            if (returned != nullptr)
                *returned = written;
            Nic().CloseHandle(control);
        }
    } else {
        DWORD nameError = LastErrorOr(ERROR_GEN_FAILURE);
        bool answered = false;
        if (oid == kOidIntelFirmwareVersion) {
            uint8_t firmware[kIntelFirmwareAnswerBytes] = {};
            DWORD written = 0;
            uint32_t direct = oid;
            if (Nic().DeviceIoControl(device, kIoctlNdisQueryGlobalStats, &direct, sizeof(direct), firmware,
                                      sizeof(firmware), &written, nullptr)) {
                answered = true;
                if (data != nullptr && size >= kIntelFirmwareAnswerBytes)
                    std::memcpy(data, firmware, kIntelFirmwareAnswerBytes);
                if (returned != nullptr)
                    *returned = written;
            } else {
                nameError = LastErrorOr(ERROR_GEN_FAILURE);
            }
        }
        if (!answered) {
            error = result = nameError;
            LOG_VERBOSE(kFunction, L"Failed oid: 0x%X error: %d", kOidIntelControlDevice, static_cast<int>(error));
        }
    }
    if (error != 0)
        LogFailure(kFunction, oid, result, false);
    Nic().CloseHandle(device);
    return result;
}

DWORD CMiniport::GetMiniportInfo(const OIDSTATENTRY &row)
{
    uint32_t value = 0;
    DWORD returned = 0;
    DWORD result = NdisIoctl(row.oid, &value, sizeof(value), &returned);
    if (result == 0) {
        if (row.value != nullptr)
            *row.value = value;
    } else {
        LOG_VERBOSE(L"CMiniport::GetMiniportInfo", L"NdisIoctl returned: %d", static_cast<int>(result));
    }
    return result;
}

DWORD CMiniport::UpdateEthernetXmitStats(const OIDSTATENTRY *rows, unsigned count)
{
    static constexpr wchar_t kFunction[] = L"CMiniport::UpdateEthernetXmitStats";
    LOG_INFO(kFunction, L"Getting ethernet transmission statistics from the miniport. ");
    for (unsigned i = 0; rows != nullptr && i < count; ++i) {
        if (GetMiniportInfo(rows[i]) == 0)
            LOG_VERBOSE(kFunction, L"success with oid: 0x%X index: %d", rows[i].oid, static_cast<int>(i));
        else if (rows[i].oid & kOidMandatoryBit)
            LOG_VERBOSE(kFunction, L"Error in MANDATORY oid: 0x%X index: %d", rows[i].oid, static_cast<int>(i));
        else
            LOG_VERBOSE(kFunction, L"Error in OPTIONAL oid: 0x%X index: %d", rows[i].oid, static_cast<int>(i));
    }
    return 0;
}

DWORD CMiniport::GetGenericCondition(MINIPORTDYNAMICDATA *data)
{
    static constexpr wchar_t kFunction[] = L"CMiniport::GetGenericCondition";
    LOG_INFO(kFunction, L"Retrieving generic link condition.");
    if (m_LinkQueryEnabled != 1) {
        data->condition = 1;
        return 0;
    }
    uint8_t answer[8] = {};
    DWORD returned = 0;
    DWORD result = NdisIoctl(kOidGenMediaConnectStatus, answer, sizeof(answer), &returned);
    if (result == 0) {
        uint64_t status = 0;
        std::memcpy(&status, answer, sizeof(status));
        data->condition = status == 0 ? 2 : 4;
        LOG_VERBOSE(kFunction, L"Link condition: %d Link status: %d NdisMeidaStateConnected: %d",
                    static_cast<int>(data->condition), static_cast<int>(status), 0);
    } else {
        LOG_VERBOSE(kFunction, L"NdisIoctl returned: %d", static_cast<int>(result));
        data->condition = 1;
        m_LinkQueryEnabled = 0;
    }
    return result;
}

CMiniportList::~CMiniportList()
{
    MINIPORTNODE *node = m_First;
    while (node != nullptr) {
        MINIPORTNODE *next = node->next;
        DeleteListNode(node);
        node = next;
    }
}

CMiniport *CMiniportList::FindMiniportByName(const wchar_t *guid) const
{
    if (guid == nullptr)
        return nullptr;
    for (MINIPORTNODE *node = m_First; node != nullptr; node = node->next)
        if (node->object->m_Guid != nullptr && _wcsicmp(node->object->m_Guid, guid) == 0)
            return node->object;
    return nullptr;
}

void CMiniportList::Append(MINIPORTNODE *node)
{
    node->next = nullptr;
    if (m_Last != nullptr)
        m_Last->next = node;
    else
        m_First = node;
    m_Last = node;
    ++m_Count;
}

MINIPORTNODE *CMiniportList::AllocateMiniportNode()
{
    CMiniport *miniport = new (std::nothrow) CMiniport;
    if (miniport == nullptr) {
        LOG_WARNING(L"CMiniportList::AllocateMiniportNode", L"Can't allocate CMiniport: %d",
                    static_cast<int>(GetLastError()));
        return nullptr;
    }
    MINIPORTNODE *node = new (std::nothrow) MINIPORTNODE;
    if (node == nullptr) {
        LOG_WARNING(L"CMiniportList::AllocateMiniportNode", L"Can't allocate MINIPORTNODE: %d",
                    static_cast<int>(GetLastError()));
        delete miniport;
        return nullptr;
    }
    InitListNode(node, miniport, static_cast<MINIPORTNODE *>(nullptr));
    return node;
}
