// The logical adapter: one modelled interface, its team data, its members and its records.
#include "logical_adapter.h"

#include "adapter_text.h"
#include "if_table.h"
#include "lbfo.h"
#include "miniport.h"
#include "nic_decode.h"
#include "nic_text.h"
#include "physical_adapter.h"
#include "registry_key.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kOidTeamOperatingMode = 0xFF023321;
constexpr uint32_t kOidTeamHeartbeatOption = 0xFF010290;
constexpr uint32_t kOidTeamOption2 = 0xFF010285;
constexpr uint32_t kOidTeamOption16 = 0xFF0102E3;
constexpr uint32_t kOidTeamType = 0xFF0102B2;
constexpr uint32_t kOidTeamFlags = 0xFF0102B0;
constexpr uint32_t kOidTeam8023adMode = 0xFF01021D;
// The number the LBFO team's MAC address is asked with.
constexpr uint32_t kOidLbfoTeamAddress = 0x00010205;
constexpr char kMicrosoft[] = "Microsoft";
constexpr char kNotAvailable[] = "N/A";
constexpr wchar_t kBridgeDeviceNameValue[] = L"BridgeDeviceName";
constexpr wchar_t kBridgeConnectionNameValue[] = L"BridgeConnectionName";
constexpr wchar_t kNetworkClassKey[] =
    L"system\\currentcontrolset\\control\\network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr size_t kMaxIndexes = 64;
constexpr size_t kMaxMemberIndexes = 16;

uint32_t SinceStart(DWORD lastChange)
{
    return lastChange >= g_StartStamp ? lastChange - g_StartStamp : 0;
}

template <size_t N> void SetText(char (&field)[N], const char *text)
{
    CopyTextField(text, field, N);
}

// One BridgingInfo text value in wide form (bounded), empty when it cannot be read.
std::wstring ReadBridgingInfoText(const wchar_t *name)
{
    CRegistryKey key = g_LocalMachineKey.OpenKey(kNicBridgingInfoKey, KEY_READ, 0, 0);
    if (!key.IsOpen())
        return std::wstring();
    wchar_t text[256] = {};
    if (key.GetValueSize(name, 0) != 0)
        key.GetStringValue(name, text, 256, 0);
    return text;
}

} // namespace

// ---- the adapter base ----

CAdapter::~CAdapter()
{
    delete m_Miniport;
    std::free(m_ServiceName);
}

int CAdapter::SetMiniport(const CMiniport *source)
{
    delete m_Miniport;
    m_Miniport = new (std::nothrow) CMiniport();
    if (m_Miniport != nullptr && source != nullptr) {
        *m_Miniport = *source;
        return 1;
    }
    LOG_WARNING(L"CAdapter::SetMiniport", L"Can't create CMiniport object. Return code: %d",
                static_cast<int>(GetLastError()));
    return 0;
}

// ---- the logical adapter ----

CLogicalAdapter::CLogicalAdapter()
{
    std::memset(&m_Map, 0, sizeof(m_Map));
    std::memset(&m_Vlan, 0, sizeof(m_Vlan));
    std::memset(&m_Trap, 0, sizeof(m_Trap));
    m_Map.Kind = 1;
    m_Map.TeamMode = 1;
    m_Map.Condition = 1;
    m_Map.Status = 1;
    SetText(m_Map.IPv6Address, kNotAvailable);
    m_Vlan.VlanIndex = -1;
    m_Vlan.ParentLogicalIndex = -1;
    m_Vlan.IfIndex = -1;
    SetText(m_Vlan.VlanName, kNotAvailable);
    SetText(m_Vlan.VlanIPv6Address, kNotAvailable);
    SetText(m_Vlan.VlanConnectionName, kNotAvailable);
}

CLogicalAdapter::~CLogicalAdapter()
{
    if (m_SharesMemberList == 0) {
        PHYSADAPTERNODE *node = m_MemberHead;
        while (node != nullptr) {
            PHYSADAPTERNODE *next = node->next;
            DeleteListNode(node);
            node = next;
        }
    }
    m_MemberHead = m_MemberTail = nullptr;
    std::free(m_Statistics);
}

void CLogicalAdapter::ShareMemberList(const CLogicalAdapter &owner)
{
    m_MemberHead = owner.m_MemberHead;
    m_MemberTail = owner.m_MemberTail;
    m_SharesMemberList = 1;
}

DWORD CLogicalAdapter::Init(MIB_IFROW *row, CTrap *trap, CMiniportList *miniports, const MIB_IPADDRTABLE *addresses)
{
    static constexpr wchar_t kFunction[] = L"CLogicalAdapter::Init";
    m_TrapTable = trap;
    m_Type = static_cast<int32_t>(row->dwType);
    m_Map.IfIndexList[0] = static_cast<int32_t>(row->dwIndex);
    m_Map.IfIndexCount = 1;
    m_Map.SpeedMbps = row->dwSpeed;
    m_InitSpeed = row->dwSpeed;
    m_Map.LastChange = SinceStart(row->dwLastChange);

    if (row->dwType != kIfTypeSoftwareLoopback && row->dwPhysAddrLen != 0) {
        CMiniport *miniport = miniports != nullptr ? miniports->AssignMiniport(row, addresses) : nullptr;
        if (miniport == nullptr) {
            m_Map.Condition = 1;
            m_Map.Status = 1;
            m_Type = 1;
            LOG_VERBOSE(kFunction, L"Can't find miniport based on mac address. Return code: %d", 2);
            return 2;
        }
        m_Vlan.VlanId = miniport->GetVlanId();
        if (m_Vlan.VlanId != 0) {
            if (miniport->GetVlanName() != nullptr)
                WideToAnsiField(miniport->GetVlanName(), m_Vlan.VlanName, sizeof(m_Vlan.VlanName));
            if (miniport->GetVlanIPv6Address() != nullptr)
                WideToAnsiField(miniport->GetVlanIPv6Address(), m_Vlan.VlanIPv6Address,
                                sizeof(m_Vlan.VlanIPv6Address));
            if (miniport->GetVlanConnectionName() != nullptr)
                WideToAnsiField(miniport->GetVlanConnectionName(), m_Vlan.VlanConnectionName,
                                sizeof(m_Vlan.VlanConnectionName));
        }
        m_TeamId = miniport->GetTeamId();
        if (m_TeamId == -1) {
            m_Map.MemberCount = 1;
            m_Map.Kind = 2;
        } else {
            m_Map.MemberCount = static_cast<uint8_t>(miniport->GetTeamMemberCount());
            m_Map.Kind = 4;
        }
    } else {
        m_Map.Condition = 1;
        m_Map.Status = 1;
        if (row->dwPhysAddrLen == 0)
            m_Type = 1;
        m_Map.Dhcp = 2;
        std::memset(row->bPhysAddr, 0, sizeof(row->bPhysAddr));
        row->dwPhysAddrLen = 8;
    }

    m_AddressLength = row->dwPhysAddrLen;
    std::memcpy(m_Map.MacAddress, row->bPhysAddr, std::min<size_t>(row->dwPhysAddrLen, sizeof(m_Map.MacAddress)));
    // The description: what the row declares, never past its field, a NUL or our 255 bytes.
    const size_t length = std::min(InterfaceDescriptionLength(row->bDescr, sizeof(row->bDescr), row->dwDescrLen),
                                   sizeof(m_Map.Description) - 1);
    std::memset(m_Map.Description, 0, sizeof(m_Map.Description));
    std::memcpy(m_Map.Description, row->bDescr, length);

    if (m_Type == static_cast<int32_t>(kIfTypeEthernetCsmacd)) {
        m_Statistics = static_cast<ETHERNETSTATSRECORD *>(std::calloc(1, sizeof(ETHERNETSTATSRECORD)));
        if (m_Statistics == nullptr) {
            const DWORD error = GetLastError() != 0 ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
            LOG_WARNING(kFunction, L"Can't allocate ethernet stats table: %d", static_cast<int>(error));
            return error;
        }
        m_Statistics->IfIndex = static_cast<uint32_t>(m_Map.IfIndexList[0]);
    }
    return 0;
}

PHYSADAPTERNODE *CLogicalAdapter::AllocatePhysAdapterNode()
{
    static constexpr wchar_t kFunction[] = L"CLogicalAdapter::AllocatePhysAdapterNode";
    CPhysicalAdapter *adapter = new (std::nothrow) CPhysicalAdapter();
    if (adapter == nullptr) {
        LOG_WARNING(kFunction, L"Can't allocate CPhysicalAdapter: %d", static_cast<int>(GetLastError()));
        return nullptr;
    }
    PHYSADAPTERNODE *node = new (std::nothrow) PHYSADAPTERNODE;
    if (node == nullptr) {
        LOG_WARNING(kFunction, L"Can't allocate PHYSADAPTERNODE: %d", static_cast<int>(GetLastError()));
        delete adapter;
        return nullptr;
    }
    InitListNode(node, adapter, static_cast<PHYSADAPTERNODE *>(nullptr));
    return node;
}

void CLogicalAdapter::AppendMember(PHYSADAPTERNODE *node)
{
    if (m_MemberTail == nullptr)
        m_MemberHead = node;
    else
        SetListNodeNext(m_MemberTail, node);
    m_MemberTail = node;
}

DWORD CLogicalAdapter::CreatePhysicalAdapterList(CMiniportList *miniports)
{
    static constexpr wchar_t kFunction[] = L"CLogicalAdapter::CreatePhysicalAdapterList";
    if (m_Map.MemberCount == 1 && m_TeamId == -1) {
        PHYSADAPTERNODE *node = AllocatePhysAdapterNode();
        if (node == nullptr) {
            LOG_WARNING(kFunction, L"Can't allocate phys adapter: %d", static_cast<int>(kNicAllocationFailed));
            return kNicAllocationFailed;
        }
        const DWORD result = node->object->Init(m_Miniport, this, m_Type, m_TrapTable);
        if (result != 0) {
            LOG_WARNING(kFunction, L"Can't init phys adapter: %d", static_cast<int>(result));
            DeleteListNode(node);
            return result;
        }
        m_Map.MemberIndexes[0] = static_cast<uint8_t>(node->object->GetPhysicalIndex());
        AppendMember(node);
        return 0;
    }

    unsigned found = 0;
    for (MINIPORTNODE *entry = miniports != nullptr ? miniports->GetFirst() : nullptr;
         entry != nullptr && found < m_Map.MemberCount; entry = entry->next) {
        CMiniport *miniport = entry->object;
        if (miniport == nullptr || (miniport->GetFlags() & 1) == 0 || miniport->GetTeamId() != m_TeamId)
            continue;
        PHYSADAPTERNODE *node = AllocatePhysAdapterNode();
        if (node == nullptr) {
            LOG_WARNING(kFunction, L"Can't allocate phys adapter. Return code: %d",
                        static_cast<int>(kNicAllocationFailed));
            return kNicAllocationFailed;
        }
        const DWORD result = node->object->Init(miniport, this, m_Type, m_TrapTable);
        if (result != 0) {
            LOG_WARNING(kFunction, L"Can't initialize phys adapter. Return code: %d", static_cast<int>(result));
            DeleteListNode(node);
            return result;
        }
        // The record has room for sixteen member numbers; MemberCount keeps the true count.
        if (found < kMaxMemberIndexes)
            m_Map.MemberIndexes[found] = static_cast<uint8_t>(node->object->GetPhysicalIndex());
        AppendMember(node);
        ++found;
    }
    return 0;
}

void CLogicalAdapter::AddIfIndex(int index)
{
    if (m_Map.IfIndexCount < 0 || static_cast<size_t>(m_Map.IfIndexCount) >= kMaxIndexes)
        return;
    m_Map.IfIndexList[m_Map.IfIndexCount] = index;
    ++m_Map.IfIndexCount;
}

void CLogicalAdapter::AddVlanIndex(int index)
{
    if (m_Map.VlanCount >= kMaxIndexes)
        return;
    m_Map.VlanIndexList[m_Map.VlanCount] = static_cast<uint8_t>(index);
}

DWORD CLogicalAdapter::Query(uint32_t oid, void *answer, DWORD size, DWORD *returned)
{
    std::memset(answer, 0, size);
    if (returned != nullptr)
        *returned = 0;
    if (m_Miniport == nullptr)
        return ERROR_GEN_FAILURE;
    const DWORD result = m_Miniport->NdisIoctl(oid, answer, size, returned);
    if (result != 0)
        std::memset(answer, 0, size);
    return result;
}

bool CLogicalAdapter::QueryIsLbfo()
{
    uint8_t description[128];
    DWORD returned = 0;
    const DWORD result = Query(kOidGenVendorDescription, description, sizeof(description), &returned);
    m_IsLbfo = result == 0 && VendorDescriptionMatches(description, returned, kMicrosoft) ? 1 : 0;
    return m_IsLbfo != 0;
}

int CLogicalAdapter::IsLbfoTeam()
{
    if (m_TeamId == -1)
        return 0;
    if (m_IsLbfo < 0)
        QueryIsLbfo();
    return m_IsLbfo;
}

void CLogicalAdapter::ReadLastChange()
{
    MIB_IFROW row;
    std::memset(&row, 0, sizeof(row));
    row.dwIndex = static_cast<DWORD>(m_Map.IfIndexList[0]);
    if (Nic().GetIfEntry(&row) == NO_ERROR)
        m_Map.LastChange = SinceStart(row.dwLastChange);
}

void CLogicalAdapter::FetchLbfoTeam(TEAMDATA *team)
{
    std::memset(team, 0, sizeof(*team));
    WideToAnsiField(m_Miniport != nullptr ? m_Miniport->GetTeamGuid() : nullptr, m_TeamGuid, sizeof(m_TeamGuid));
    getTeamData(m_TeamGuid, team, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

unsigned CLogicalAdapter::UpdateTeam()
{
    static constexpr wchar_t kFunction[] = L"CLogicalAdapter::Update";
    m_Map.LastChange = 0;
    m_Map.TeamFlags = 0;
    ReadLastChange();

    uint8_t speed[8];
    DWORD result = Query(kOidGenLinkSpeed, speed, sizeof(speed), nullptr);
    uint32_t speedWord = 0;
    std::memcpy(&speedWord, speed, sizeof(speedWord));
    m_Map.SpeedMbps = speedWord / 10000;

    uint8_t mode[16];
    result = Query(kOidTeamOperatingMode, mode, sizeof(mode), nullptr);
    uint32_t operatingMode = 0;
    std::memcpy(&operatingMode, mode, sizeof(operatingMode));
    uint8_t description[129] = {};
    DWORD described = 0;
    result = Query(kOidGenVendorDescription, description, 128, &described);
    LOG_VERBOSE(kFunction, L"LinkSpeed: %d OpMode: %d HeartbeatEnabled: %d Pad:%u%u%u VendorDesc: %hs",
                static_cast<int>(m_Map.SpeedMbps), static_cast<int>(operatingMode), mode[12], mode[13], mode[14],
                mode[15], reinterpret_cast<const char *>(description));

    const bool lbfo = result == 0 && VendorDescriptionMatches(description, described, kMicrosoft);
    m_IsLbfo = lbfo ? 1 : 0;
    TEAMDATA team;
    if (lbfo) {
        g_LbfoTeamFound = 1;
        FetchLbfoTeam(&team);
        m_Vlan.VlanId = getTeamVlanId(m_TeamGuid);
    } else {
        std::vector<uint8_t> answer(sizeof(TEAMDATA));
        DWORD returned = 0;
        result = Query(kOidTeamRecord, answer.data(), static_cast<DWORD>(answer.size()), &returned);
        team = DecodeTeamData(answer.data(), result == 0 ? std::min<size_t>(returned, answer.size()) : 0);
        struct Option {
            uint32_t oid;
            DWORD size;
            uint32_t bit;
        };
        static constexpr Option kOptions[] = {
            {kOidTeamHeartbeatOption, 48, 1}, {kOidTeamOption2, 16, 2}, {kOidTeamOption16, 20, 16}};
        for (const Option &option : kOptions) {
            uint8_t data[48];
            result = Query(option.oid, data, option.size, nullptr);
            if (result == 0 && data[0] != 0)
                m_Map.TeamFlags |= option.bit;
            else
                m_Map.TeamFlags &= ~option.bit;
        }
    }

    const char *text = "Team";
    int64_t teamType = -1;
    int64_t algorithm = -1;
    if (lbfo) {
        uint32_t balancing = 0xFFFFFFFFu;
        char name[100] = {};
        teamType = getTeamType(m_TeamGuid, &balancing, name, sizeof(name));
        algorithm = balancing == 0xFFFFFFFFu ? -1 : static_cast<int64_t>(balancing);
    } else {
        uint8_t typeAnswer[4];
        result = Query(kOidTeamType, typeAnswer, sizeof(typeAnswer), nullptr);
        if (result == 0) {
            uint32_t type = 0;
            std::memcpy(&type, typeAnswer, sizeof(type));
            teamType = type;
        }
    }
    TEAMFIELDS fields = {m_Map.Kind, m_Map.TeamMode, m_Map.TeamFlags};
    if (ApplyTeamType(teamType, algorithm, m_Map.MemberCount, &fields, &text)) {
        m_Map.Kind = fields.kind;
        m_Map.TeamMode = fields.teamMode;
        m_Map.TeamFlags = fields.teamFlags;
    } else {
        uint8_t flagsAnswer[8];
        result = Query(kOidTeamFlags, flagsAnswer, sizeof(flagsAnswer), nullptr);
        const bool flagsRead = result == 0;
        uint64_t flags = 0;
        std::memcpy(&flags, flagsAnswer, sizeof(flags));
        bool modeRead = false;
        uint64_t modeAnswer = 0;
        if (operatingMode == 0x10ADBA1) {
            uint8_t data[8];
            result = Query(kOidTeam8023adMode, data, sizeof(data), nullptr);
            modeRead = result == 0;
            std::memcpy(&modeAnswer, data, sizeof(modeAnswer));
        }
        const OPERATINGMODERESULT mode8 = OperatingModeRow(operatingMode, flagsRead, flags, modeRead, modeAnswer);
        m_Map.Kind = mode8.kind;
        m_Map.TeamMode = mode8.teamMode;
        m_Map.TeamFlags = (m_Map.TeamFlags & ~mode8.clearFlags) | mode8.setFlags;
        text = mode8.text;
    }

    if (team.memberCount == 1 && m_Miniport != nullptr && m_Miniport->GetVlanId() != 0)
        text = lbfo ? "Microsoft VLAN interface(s)" : "QZ VLAN interface(s)";
    SetText(m_Map.Description, text);

    if (lbfo) {
        uint8_t address[6];
        DWORD returned = 0;
        result = Query(kOidLbfoTeamAddress, address, sizeof(address), &returned);
        if (result == 0)
            std::memcpy(m_Map.MacAddress, address, std::min<size_t>(returned, sizeof(address)));
    } else {
        std::memcpy(m_Map.MacAddress, team.spareBytes, sizeof(m_Map.MacAddress));
    }

    m_Map.Status = static_cast<uint8_t>(team.status);
    m_Map.Condition = TeamStatusCondition(team.status);

    if (team.activeCount == 0 && m_Map.ConnectionName[0] != 0 && m_Vlan.VlanConnectionName[0] != 0 &&
        _stricmp(RecordText(m_Map.ConnectionName).c_str(), RecordText(m_Vlan.VlanConnectionName).c_str()) == 0)
        m_Vlan.VlanIPv6Address[0] = 0;
    if (m_Map.IfIndexList[0] == m_Vlan.IfIndex && m_Map.Condition != 2 && m_Map.Condition != 3)
        SetText(m_Vlan.VlanIPv6Address, kNotAvailable);

    const std::string key = RecordText(m_Map.Description);
    if (g_UpdatePass <= 1) {
        g_LogicalAdapterConditionMap[key] = m_Map.Condition;
    } else {
        auto entry = g_LogicalAdapterConditionMap.find(key);
        if (entry != g_LogicalAdapterConditionMap.end() && entry->second != m_Map.Condition)
            g_LogicalAdapterConditionMap.erase(entry);
    }

    m_Map.OkMemberCount = static_cast<uint8_t>(team.activeCount);
    m_Map.TeamWord = team.spareWord;
    return result;
}

unsigned CLogicalAdapter::Update(int sharesMemberList)
{
    LOG_VERBOSE(L"CLogicalAdapter::Update", L"TeamId %d", static_cast<int>(m_TeamId));
    unsigned result = 0;
    if (m_TeamId != -1)
        result = UpdateTeam();

    const bool bridge = IsBridgeAdapter(m_Map.Description) != 0;
    const wchar_t *guid = m_Miniport != nullptr ? m_Miniport->GetGuid() : nullptr;
    if (m_MemberHead != nullptr && m_Statistics != nullptr) {
        std::memset(m_Statistics, 0, sizeof(*m_Statistics));
        m_Statistics->IfIndex = static_cast<uint32_t>(m_Map.IfIndexList[0]);
    }
    for (PHYSADAPTERNODE *node = m_MemberHead; node != nullptr; node = node->next) {
        CPhysicalAdapter *member = node->object;
        if (member == nullptr)
            continue;
        if (QueryIsLbfo()) {
            g_LbfoTeamFound = 1;
            TEAMDATA team;
            FetchLbfoTeam(&team);
            m_Map.OkMemberCount = static_cast<uint8_t>(team.activeCount);
        }
        uint32_t speed = 0;
        result = member->Update(&speed);
        const uint8_t condition = member->GetCondition();

        if (m_TeamId == -1) {
            m_Map.LastChange = 0;
            ReadLastChange();
            m_Map.SpeedMbps = bridge ? m_InitSpeed / 1000000 : speed;
            const CMiniport *own = member->GetMiniport();
            const bool stable = own != nullptr && own->GetConditionStable() != 0;
            if (condition == 2) {
                m_Map.Condition = 2;
                m_Map.Status = 2;
                m_Map.OkMemberCount = 1;
            } else if (condition == 1 || stable) {
                m_Map.Condition = 1;
                m_Map.Status = 1;
                m_Map.OkMemberCount = stable ? 1 : 0;
            } else {
                m_Map.Condition = 4;
                m_Map.Status = 5;
                m_Map.OkMemberCount = 0;
            }
        }

        GetConnectionNames(guid, m_Map.IPv6Address, sizeof(m_Map.IPv6Address), m_Map.ConnectionName,
                           sizeof(m_Map.ConnectionName));
        const int dhcp = guid != nullptr ? IsDhcpEnabled(guid) : 0;
        m_Map.Dhcp = static_cast<uint8_t>(dhcp != 0 ? dhcp : 2);

        if (sharesMemberList == 0 && member->GetTrapNeeded() == 1 && m_TrapTable != nullptr)
            BuildTrapRecord(member);
        if (m_Type == static_cast<int32_t>(kIfTypeEthernetCsmacd) && m_Statistics != nullptr)
            member->AddStatistics(m_Statistics);
    }

    if (m_Map.Condition == 4 || m_Map.Condition == 1) {
        const bool plain = m_Map.Kind == 1 || m_Map.Kind == 2;
        if ((!plain && m_Map.OkMemberCount < 1) || (plain && !bridge)) {
            m_Map.SpeedMbps = 0;
            SetText(m_Map.IPv6Address, kNotAvailable);
        }
    }
    if (m_Map.Status == 6 && m_Map.OkMemberCount <= 1)
        m_Map.Status = 7;
    else if (m_Map.Status == 7 && m_Map.OkMemberCount > 1)
        m_Map.Status = 6;

    PublishBridgeValues(bridge, guid);
    result = UpdateRegistryKeys(sharesMemberList);
    return result;
}

void CLogicalAdapter::PublishBridgeValues(bool bridge, const wchar_t *guid)
{
    static constexpr wchar_t kFunction[] = L"CLogicalAdapter::Update";
    // Only the bridge itself and its members have something to say here: an adapter that is
    // neither leaves the bridge's values as the bridge wrote them.
    const bool member = CPhysicalAdapter::IsBridgeMember(m_Map.Description) != 0;
    if (!bridge && !member)
        return;
    CRegistryKey root = g_LocalMachineKey.OpenKey(kNicRootKey, KEY_READ);
    if (!root.IsOpen())
        return;
    CRegistryKey interfaceKey = root.CreateKey(L"Interface", nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS);
    if (!interfaceKey.IsOpen())
        return;
    CRegistryKey info = interfaceKey.OpenKey(L"BridgingInfo", KEY_ALL_ACCESS);
    if (!info.IsOpen())
        return;
    if (member) {
        DWORD okCount = 0;
        info.GetDWORDValue(L"BridgeAdapterOKCount", &okCount, 1);
        if (m_Map.Condition == 2)
            ++okCount;
        info.SetRegistryValue(L"BridgeAdapterOKCount", REG_DWORD, &okCount, sizeof(okCount));
    }
    if (bridge) {
        const DWORD address = guid != nullptr ? GetInterfaceIPAddress(guid) : 0;
        if (info.SetRegistryValue(L"BridgeIPV4Address", REG_DWORD, &address, sizeof(address)) != ERROR_SUCCESS)
            LOG_VERBOSE(kFunction, L"Can't set registry value: %s", L"BridgeIPV4Address");
        info.SetRegistryValue(L"BridgeIPV6Address", REG_BINARY, m_Map.IPv6Address, sizeof(m_Map.IPv6Address));
    }
}

unsigned CLogicalAdapter::UpdateRegistryKeys(int sharesMemberList)
{
    static constexpr wchar_t kFunction[] = L"CLogicalAdapter::UpdateRegistryKeys";
    LOG_VERBOSE(kFunction, L"Updating registry key for nic: %d", static_cast<int>(m_Map.LogicalIndex));
    LONG result = ERROR_SUCCESS;
    struct Target {
        const wchar_t *key;
        const char *prefix;
        uint32_t number;
        const void *data;
        DWORD size;
        const wchar_t *setFailure;
        const wchar_t *openFailure;
    };
    std::vector<Target> targets;
    if (sharesMemberList == 0)
        targets.push_back({kNicLogInterfaceMapKey, kInterfaceMapPrefix, m_Map.LogicalIndex, &m_Map, sizeof(m_Map),
                           L"Can't set logical interface map registry for: %s", L"Can't open logical interface registry."});
    if (m_Vlan.VlanId != 0)
        targets.push_back({kNicVlanInterfaceKey, kVlanMapPrefix, static_cast<uint32_t>(m_Vlan.VlanIndex), &m_Vlan,
                           sizeof(m_Vlan), L"Can't set VLAN registry value for: %s", L"Can't open VLAN registry key."});
    if (m_Type == static_cast<int32_t>(kIfTypeEthernetCsmacd) && m_Statistics != nullptr)
        targets.push_back({kNicEthernetStatisticsKey, kStatisticsPrefix, m_Statistics->IfIndex, m_Statistics,
                           sizeof(*m_Statistics), L"Can't set ethernet stats registry value for: %s",
                           L"Can't open ethernet stats registry key."});
    for (const Target &target : targets) {
        CRegistryKey key = g_LocalMachineKey.OpenKey(target.key, KEY_SET_VALUE);
        if (!key.IsOpen()) {
            result = key.GetError();
            LOG_VERBOSE(kFunction, target.openFailure);
            continue;
        }
        const std::wstring name = FormatRecordValueNameW(target.prefix, target.number);
        result = key.SetRegistryValue(name.c_str(), REG_BINARY, target.data, target.size);
        if (result != ERROR_SUCCESS)
            LOG_VERBOSE(kFunction, target.setFailure, name.c_str());
    }
    return static_cast<unsigned>(result);
}

int CLogicalAdapter::GetConnectionNames(const wchar_t *guid, char *ipv6, size_t ipv6Size, char *name, size_t nameSize)
{
    int result = 0;
    const bool bridge = IsBridgeAdapter(m_Map.Description) != 0;
    if (guid != nullptr && (m_Map.Condition == 2 || m_Map.Condition == 3 || bridge)) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            return 0;
        ULONG size = 0;
        std::vector<uint8_t> buffer;
        ULONG answer = Nic().GetAdaptersAddresses(AF_INET6, 0, nullptr, nullptr, &size);
        if (answer == ERROR_BUFFER_OVERFLOW && size != 0) {
            buffer.assign(size, 0);
            answer = Nic().GetAdaptersAddresses(AF_INET6, 0, nullptr,
                                                reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()), &size);
        }
        if (answer == NO_ERROR && !buffer.empty()) {
            int counted = 0;
            for (const IP_ADAPTER_ADDRESSES *adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES *>(buffer.data());
                 adapter != nullptr; adapter = adapter->Next) {
                if (adapter->AdapterName == nullptr || _wcsicmp(AnsiToWide(adapter->AdapterName).c_str(), guid) != 0)
                    continue;
                for (const IP_ADAPTER_UNICAST_ADDRESS *address = adapter->FirstUnicastAddress; address != nullptr;
                     address = address->Next) {
                    WideToAnsiField(adapter->FriendlyName, name, nameSize);
                    if (address->Address.lpSockaddr != nullptr) {
                        wchar_t text[256] = {};
                        DWORD chars = 256;
                        if (WSAAddressToStringW(address->Address.lpSockaddr,
                                                static_cast<DWORD>(address->Address.iSockaddrLength), nullptr, text,
                                                &chars) != 0)
                            text[0] = 0;
                        if (counted++ == 0)
                            WideToAnsiField(text, ipv6, ipv6Size);
                    }
                    result = 1;
                }
            }
        }
        WSACleanup();
    }

    if (name != nullptr && nameSize != 0 && name[0] == 0 && guid != nullptr) {
        std::wstring path = kNetworkClassKey;
        path += L"\\";
        path += guid;
        path += L"\\Connection";
        CRegistryKey key = g_LocalMachineKey.OpenKey(path.c_str(), KEY_READ, 0, 0);
        wchar_t text[1024] = {};
        if (key.IsOpen() && key.GetValueSize(L"Name", 0) != 0)
            key.GetStringValue(L"Name", text, 1024, 0);
        if (text[0] != 0) {
            WideToAnsiField(text, name, nameSize);
            result = 1;
        } else {
            result = 0;
        }
    }

    if (bridge && name != nullptr && nameSize != 0)
        CopyTextField(GetBridgeConnectionName().c_str(), name, nameSize);
    return result;
}

int CLogicalAdapter::IsBridgeAdapter(const char *description)
{
    if (description == nullptr || description[0] == 0)
        return 0;
    const std::wstring bridge = ReadBridgingInfoText(kBridgeDeviceNameValue);
    if (bridge.empty())
        return 0;
    return _wcsicmp(bridge.c_str(), AnsiToWide(description).c_str()) == 0 ? 1 : 0;
}

std::string CLogicalAdapter::GetBridgeConnectionName()
{
    return WideToUtf8Text(ReadBridgingInfoText(kBridgeConnectionNameValue).c_str());
}

// ---- text conversions ----

void WideToAnsiField(const wchar_t *text, char *out, size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return;
    out[0] = 0;
    if (text == nullptr || text[0] == 0)
        return;
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return;
    std::string converted(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, converted.data(), needed, nullptr, nullptr);
    CopyTextField(converted.c_str(), out, outSize);
}

void CopyTextField(const char *text, char *out, size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return;
    const size_t length = text != nullptr ? strnlen(text, outSize - 1) : 0;
    if (length != 0)
        std::memmove(out, text, length);
    out[length] = 0;
}

std::wstring AnsiToWide(const char *text)
{
    if (text == nullptr || text[0] == 0)
        return std::wstring();
    const int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), needed);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

std::string WideToUtf8Text(const wchar_t *text)
{
    if (text == nullptr || text[0] == 0)
        return std::string();
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::string();
    std::string converted(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, converted.data(), needed, nullptr, nullptr);
    converted.resize(strlen(converted.c_str()));
    return converted;
}
