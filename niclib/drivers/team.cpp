// Team and VLAN data of a miniport: from the teaming intermediate driver's private OIDs, or for
// Windows' own teams (vendor description "Microsoft") from LBFO over WMI.
#include "miniport.h"

#include "if_table.h"
#include "lbfo.h"
#include "nic_decode.h"
#include "registry_key.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

int32_t g_NextTeamId = -1;

namespace {

constexpr char kMicrosoft[] = "Microsoft";
constexpr char kTeamDriver[] = "Network Teaming Intermediate Driver (NTID)";
constexpr ULONG kAdapterAddressesFirstBytes = 448;

} // namespace

DWORD CMiniport::QueryDescription(uint8_t answer[128], DWORD *returned)
{
    std::memset(answer, 0, 128);
    *returned = 0;
    DWORD result = NdisIoctl(kOidGenVendorDescription, answer, 128, returned);
    *returned = std::min<DWORD>(*returned, 128);
    return result;
}

std::string CMiniport::TeamGuidAnsi() const
{
    std::string text;
    for (const wchar_t *c = m_TeamGuid; c != nullptr && *c != 0 && text.size() < 255; ++c)
        text.push_back(static_cast<char>(*c));
    return text;
}

DWORD CMiniport::GetTeamInfo(CMiniportList *list)
{
    LOG_INFO(L"CMiniport::GetTeamInfo", L"Retrieving Team info.");
    uint8_t description[128];
    DWORD returned = 0;
    if (QueryDescription(description, &returned) != 0)
        return 0;
    if (VendorDescriptionMatches(description, returned, kMicrosoft)) {
        m_Flags |= 2;
        // Without a team GUID there is no team to look for.
        const std::string guid = TeamGuidAnsi();
        TEAMDATA team;
        std::memset(&team, 0, sizeof(team));
        if (getTeamData(guid.empty() ? nullptr : guid.c_str(), &team, nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr) == 0) {
            m_TeamMemberCount = static_cast<int32_t>(team.memberCount);
            for (int i = 0; i < static_cast<int>(kTeamMembers); ++i)
                if (team.members[i].name[0] != 0 && AddMSLBFOTeamMemberToMPList(team, i, list) == 0)
                    return 0;
        }
    }
    if (VendorDescriptionMatches(description, returned, kTeamDriver)) {
        std::vector<uint8_t> answer(sizeof(TEAMDATA), 0);
        DWORD bytes = 0;
        if (NdisIoctl(kOidTeamRecord, answer.data(), static_cast<DWORD>(answer.size()), &bytes) != 0)
            return 0;
        // Only what the driver returned is its record; the rest stays empty.
        const TEAMDATA team = DecodeTeamData(answer.data(), std::min<size_t>(bytes, answer.size()));
        m_TeamMemberCount = static_cast<int32_t>(team.memberCount);
        m_Flags |= 2;
        for (int i = 0; i < static_cast<int>(kTeamMembers); ++i)
            if (team.members[i].name[0] != 0 && AddTeamMemberToMPList(team, i, list) == 0)
                return 0;
    }
    return 0;
}

int CMiniport::AddMSLBFOTeamMemberToMPList(const TEAMDATA &team, int index, CMiniportList *list)
{
    return RegisterMember(team, index, TeamMemberName(team.members[index]), list);
}

// The team driver's member names are wide text, like LBFO's; they are used as they are.
int CMiniport::AddTeamMemberToMPList(const TEAMDATA &team, int index, CMiniportList *list)
{
    return RegisterMember(team, index, TeamMemberName(team.members[index]), list);
}

int CMiniport::RegisterMember(const TEAMDATA &team, int index, const std::wstring &name, CMiniportList *list)
{
    if (list == nullptr || index < 0 || index >= static_cast<int>(kTeamMembers))
        return 0;
    // Only a device name "\\.\{GUID}" names a miniport the library can open and find again.
    const std::wstring key = GuidTextFromDeviceName(name);
    if (key.empty())
        return 0;
    CMiniport *member = list->FindMiniportByName(key.c_str());
    if (member == nullptr) {
        MINIPORTNODE *node = CMiniportList::AllocateMiniportNode();
        if (node == nullptr)
            return 0;
        if (node->object->Init(nullptr, name.c_str(), (name.size() + 1) * sizeof(wchar_t), list) != 0) {
            DeleteListNode(node);
            return 0;
        }
        list->Append(node);
        member = node->object;
    }
    if (member->m_TeamId == -1) {
        if (m_TeamId == -1)
            m_TeamId = ++g_NextTeamId;
        member->m_TeamId = m_TeamId;
    } else if (m_TeamId != -1 && m_TeamId != member->m_TeamId) {
        LOG_ERROR(L"CMiniport::AddTeamMemberToMPList",
                  L"TeamID mismatch: 0x%X",
                  (static_cast<uint32_t>(m_TeamId) << 16) | (static_cast<uint32_t>(member->m_TeamId) & 0xFFFF));
        return 0;
    } else {
        m_TeamId = member->m_TeamId;
    }
    member->m_TeamMemberCount = static_cast<int32_t>(team.memberCount);
    member->m_MemberIndex = index;
    if (m_PrimaryIndex == -1)
        m_PrimaryIndex = TeamPrimaryIndex(team);
    member->m_PrimaryIndex = m_PrimaryIndex;
    member->m_Flags |= 1;
    delete[] member->m_TeamDeviceName;
    member->m_TeamDeviceName = DuplicateText(m_DeviceName);
    if (member->m_TeamDeviceName == nullptr)
        LOG_WARNING(L"CMiniport::AddTeamMemberToMPList", L"Can't allocate team device name. Return code: %d",
                    static_cast<int>(GetLastError()));
    return 1;
}

int32_t CMiniport::GetTeamMemberStatus()
{
    if (m_Flags == 0 || m_TeamDeviceName == nullptr)
        return -1;
    HANDLE device = OpenDevice(m_TeamDeviceName);
    if (device == INVALID_HANDLE_VALUE)
        return -1;
    uint32_t oid = kOidTeamMemberStatus;
    uint32_t answer[2] = {static_cast<uint32_t>(m_MemberIndex), 0};
    DWORD returned = 0;
    if (!Nic().DeviceIoControl(device, kIoctlNdisQueryGlobalStats, &oid, sizeof(oid), answer, sizeof(answer),
                               &returned, nullptr))
        answer[1] = static_cast<uint32_t>(-1);
    Nic().CloseHandle(device);
    return static_cast<int32_t>(answer[1]);
}

DWORD CMiniport::SetVlanId()
{
    LOG_INFO(L"CMiniport::SetVlanId", L"Saving VLAN Id.");
    uint8_t description[128];
    DWORD returned = 0;
    if (QueryDescription(description, &returned) != 0)
        return 0;
    if (VendorDescriptionMatches(description, returned, kMicrosoft)) {
        const std::string guid = TeamGuidAnsi();
        m_VlanId = getTeamVlanId(guid.empty() ? nullptr : guid.c_str());
        return 0;
    }
    uint32_t vlan = 0;
    DWORD bytes = 0;
    DWORD result = NdisIoctl(kOidTeamVlanId, &vlan, sizeof(vlan), &bytes);
    if (result != 0) {
        LOG_WARNING(L"CMiniport::SetVlanId", L"NdisIoctl returned: %d", static_cast<int>(result));
        m_FailureLogged = 1;
        return result;
    }
    m_VlanId = static_cast<int32_t>(vlan);
    return 0;
}

DWORD CMiniport::SetVlanName()
{
    uint8_t description[128];
    DWORD returned = 0;
    const DWORD described = QueryDescription(description, &returned);
    delete[] m_VlanName;
    m_VlanName = new (std::nothrow) wchar_t[kVlanNameChars]();
    if (m_VlanName == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        DWORD result = GetLastError();
        LOG_WARNING(L"CMiniport::SetVlanName", L"Can't allocate VLAN name. Return code: %d.", static_cast<int>(result));
        return result;
    }
    DWORD result = 0;
    if (described == 0 && VendorDescriptionMatches(description, returned, kMicrosoft)) {
        const std::string guid = TeamGuidAnsi();
        getTeamVlanName(guid.c_str(), m_VlanName);
    } else if (described != 0) {
        // Without a description nothing says this is a team's VLAN: no name.
        delete[] m_VlanName;
        m_VlanName = nullptr;
        result = described;
    } else {
        DWORD bytes = 0;
        result = NdisIoctl(kOidTeamVlanName, m_VlanName, 512, &bytes);
        if (result == 0) {
            m_VlanName[std::min<size_t>(bytes / sizeof(wchar_t), kVlanNameChars - 1)] = L'\0';
        } else {
            delete[] m_VlanName;
            m_VlanName = nullptr;
            LOG_WARNING(L"CMiniport::SetVlanName", L"NdisIoctl returned: %d.", static_cast<int>(result));
            m_FailureLogged = 1;
        }
    }
    LOG_VERBOSE(L"CMiniport::SetVlanName", L"VLAN name: %s.", m_VlanName != nullptr ? m_VlanName : L"(null)");
    return result;
}

int CMiniport::SetVlanIPv6AddressAndLacNumber()
{
    static constexpr wchar_t kFunction[] = L"CMiniport::SetVlanIPv6AddressAndLacNumber";
    LOG_INFO(kFunction, L"Saving VLAN IPv6 address.");
    int result = -1;
    if (m_VlanName == nullptr)
        return -1;
    delete[] m_VlanIPv6Address;
    delete[] m_VlanConnectionName;
    m_VlanIPv6Address = new (std::nothrow) wchar_t[kVlanTextChars]();
    m_VlanConnectionName = new (std::nothrow) wchar_t[kVlanTextChars]();
    if (m_VlanIPv6Address == nullptr || m_VlanConnectionName == nullptr)
        return -1;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return -1;

    ULONG size = kAdapterAddressesFirstBytes;
    std::vector<uint8_t> buffer(size);
    ULONG status = Nic().GetAdaptersAddresses(AF_INET6, 0, nullptr,
                                              reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()), &size);
    if (status == ERROR_BUFFER_OVERFLOW) {
        buffer.assign(size, 0);
        status = Nic().GetAdaptersAddresses(AF_INET6, 0, nullptr,
                                            reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()), &size);
    }
    if (status == NO_ERROR && m_Guid != nullptr) {
        for (auto *adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()); adapter != nullptr;
             adapter = adapter->Next) {
            if (adapter->AdapterName == nullptr || adapter->FirstUnicastAddress == nullptr)
                continue;
            std::wstring name;
            for (const char *c = adapter->AdapterName; *c != 0; ++c)
                name.push_back(static_cast<unsigned char>(*c));
            if (_wcsicmp(name.c_str(), m_Guid) != 0)
                continue;
            if (adapter->FriendlyName != nullptr)
                wcsncpy(m_VlanConnectionName, adapter->FriendlyName, kVlanTextChars - 1);
            SOCKET_ADDRESS &address = adapter->FirstUnicastAddress->Address;
            if (address.lpSockaddr != nullptr) {
                DWORD chars = 256;
                if (WSAAddressToStringW(address.lpSockaddr, address.iSockaddrLength, nullptr, m_VlanIPv6Address,
                                        &chars) != 0)
                    m_VlanIPv6Address[0] = L'\0';
                result = 1;
                LOG_VERBOSE(kFunction, L"VlanIPV6Address: %s", m_VlanIPv6Address);
            }
        }
    }
    LOG_VERBOSE(kFunction, L"VlanLACNumber: %s", m_VlanConnectionName);
    if (m_VlanConnectionName[0] == L'\0' && m_Guid != nullptr) {
        const std::wstring path =
            std::wstring(L"system\\currentcontrolset\\control\\network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\") +
            m_Guid + L"\\Connection";
        CRegistryKey key = g_LocalMachineKey.OpenKey(path.c_str(), KEY_READ, 0, 0);
        result = -1;
        if (key.IsOpen()) {
            key.GetStringValue(L"Name", m_VlanConnectionName, 128, 0);
            if (key.GetError() == ERROR_SUCCESS && m_VlanConnectionName[0] != L'\0')
                result = 1;
        }
    }
    WSACleanup();
    return result;
}
