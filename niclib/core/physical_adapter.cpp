// The physical adapter: one member NIC of a logical adapter, updated once per pass.
#include "physical_adapter.h"

#include "adapter_text.h"
#include "lbfo.h"
#include "miniport.h"
#include "registry_key.h"
#include "trap.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

namespace {

constexpr wchar_t kNetClassKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr wchar_t kMemberDeviceName[] = L"MemberDeviceName";
constexpr DWORD kMaxBridgeValues = 1000;

} // namespace

CPhysicalAdapter::CPhysicalAdapter()
{
    std::memset(&m_Record, 0, sizeof(m_Record));
    m_Record.Role = 1;
    m_Record.Slot = -1;
    m_Record.ResourceWord = -1;
    m_Record.Reserved1 = -1;
    m_Record.Duplex = 1;
    m_Record.Condition = 1;
    m_Record.Status = 1;
    m_Record.Status2 = 1;
    m_Record.Reserved2 = 1;
    m_Record.ConfSpeedDuplex = 1;
    m_Record.Reserved3 = -1;
    m_Record.ServerBay = -1;
    m_Record.VirtualPort = -1;
}

CPhysicalAdapter::~CPhysicalAdapter()
{
    m_Owner = nullptr;
}

DWORD CPhysicalAdapter::Init(const CMiniport *source, CLogicalAdapter *owner, int interfaceType, CTrap *trap)
{
    m_Owner = owner;
    m_Type = interfaceType;
    m_TrapTable = trap;
    delete m_Miniport;
    m_Miniport = new (std::nothrow) CMiniport();
    if (m_Miniport == nullptr) {
        const DWORD error = GetLastError() != 0 ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
        LOG_WARNING(L"CPhysicalAdapter::Init", L"Can't allocate CMiniport. Return code: %d", static_cast<int>(error));
        return error;
    }
    if (source != nullptr)
        *m_Miniport = *source;
    m_Record.PhysicalIndex = GetNextPhysicalAdapterIndex();
    m_Record.IfIndex = owner != nullptr ? static_cast<uint32_t>(owner->GetIfIndex()) : 0;
    m_Record.Role = RoleByRule();
    m_AddressLength = m_Miniport->GetPhysAddrLength();
    m_Miniport->GetCurrentPhysAddr(m_Record.MacAddress, sizeof(m_Record.MacAddress));
    return 0;
}

uint8_t CPhysicalAdapter::RoleByRule()
{
    if (m_Miniport == nullptr || m_Miniport->GetTeamId() == -1)
        return 255;
    // Whether the member's team is one of Windows' own is decided by the team interface itself.
    if (m_Owner != nullptr && m_Owner->IsLbfoTeam()) {
        char guid[256] = {};
        WideToAnsiField(m_Miniport->GetGuid(), guid, sizeof(guid));
        return LbfoMemberRole(getMemberRole(guid));
    }
    uint8_t role = 0;
    if (m_Owner != nullptr && m_Owner->GetKind() == 9)
        role = 4;
    else
        role = m_Miniport->GetTeamPrimaryIndex() == m_Miniport->GetTeamMemberIndex() ? 2 : 3;
    return MemberStatusRole(m_Miniport->GetTeamMemberStatus(), role);
}

std::string CPhysicalAdapter::DeviceNameAnsi() const
{
    char name[sizeof(m_DeviceName) / sizeof(wchar_t)] = {};
    WideToAnsiField(m_DeviceName, name, sizeof(name));
    return name;
}

void CPhysicalAdapter::RememberCondition()
{
    const std::string key = DeviceNameAnsi();
    if (m_LastPass <= 1) {
        g_PhysicalAdapterConditionMap[key] = m_Record.Condition;
        return;
    }
    auto entry = g_PhysicalAdapterConditionMap.find(key);
    if (entry == g_PhysicalAdapterConditionMap.end()) {
        m_Miniport->SetConditionStable(0);
    } else if (entry->second != m_Record.Condition && m_Record.Condition != 1) {
        m_Miniport->SetConditionStable(0);
        g_PhysicalAdapterConditionMap.erase(entry);
    }
}

unsigned CPhysicalAdapter::Update(uint32_t *speed)
{
    static constexpr wchar_t kFunction[] = L"CPhysicalAdapter::Update";
    LOG_INFO(kFunction, L"Start NIC update.");
    if (m_LastPass == g_UpdatePass) {
        if (speed != nullptr)
            *speed = m_Record.SpeedMbps;
        return 0;
    }
    m_LastPass = g_UpdatePass;
    if (m_Miniport == nullptr && SetMiniport(nullptr) == 0)
        return 0;

    std::snprintf(m_Record.HwLocation, sizeof(m_Record.HwLocation), "PCIID0x%.8X,SUBSYSID0x%.8X",
                  m_Miniport->GetPCIDeviceID(), m_Miniport->GetSubsystemID());
    LOG_VERBOSE(kFunction, L"HWLocation: %hs", m_Record.HwLocation);

    const int previous = m_Record.Condition;
    m_Record.ConfSpeedDuplex = GetConfSpeedDuplex(m_Miniport->GetGuid());

    MINIPORTDYNAMICDATA data = {};
    if (ReadDynamicData(&data) == 0) {
        m_Record.Condition = static_cast<uint8_t>(data.condition);
        m_Record.Duplex = static_cast<uint8_t>(data.duplexState);
        m_Record.SpeedMbps = data.condition == 4 || data.condition == 1 ? 0 : data.linkSpeed;
        if (m_Record.Firmware[0] == 0) {
            CopyTextField(ReadFirmware(), m_Record.Firmware, sizeof(m_Record.Firmware));
            LOG_INFO(kFunction, L"Firmware version: %hs", m_Record.Firmware);
        }
    } else {
        m_Record.Condition = 1;
        m_Record.Duplex = 1;
        m_Record.SpeedMbps = 0;
    }
    if (speed != nullptr)
        *speed = m_Record.SpeedMbps;

    switch (m_Record.Condition) {
    case 1:
        m_Record.Status = m_Record.Status2 = 1;
        LOG_VERBOSE(kFunction, L"Other condition -> Status unknown");
        break;
    case 2: m_Record.Status = m_Record.Status2 = 2; break;
    case 4: m_Record.Status = m_Record.Status2 = 4; break;
    default: break; // degraded: the statuses of the previous pass stay
    }

    RememberCondition();

    const int stable = m_Miniport->GetConditionStable();
    if (stable != 0) {
        if (m_Record.Condition != 2) {
            m_Record.Condition = 1;
            LOG_VERBOSE(kFunction, L"GetIgnoreLink paCondition -> PA_COND_OTHER");
        }
        if (m_Record.Status != 2)
            m_Record.Status = 1;
        if (m_Record.Status2 != 2) {
            m_Record.Status2 = 1;
            LOG_VERBOSE(kFunction, L"GetIgnoreLink paStatus -> PA_STATUS_UNKNOWN");
        }
    }

    m_Record.Role = RoleByRule();

    MIB_IFROW row;
    std::memset(&row, 0, sizeof(row));
    row.dwIndex = m_Record.IfIndex;
    if (Nic().GetIfEntry(&row) == NO_ERROR) {
        m_Record.InOctets = row.dwInOctets;
        m_Record.OutOctets = row.dwOutOctets;
    }
    if (m_Miniport->GetMediaType() == 0)
        GetEthernetStatistics();

    std::snprintf(m_Record.PciLocation, sizeof(m_Record.PciLocation), "0000:%.2X:%.2X.%.1X", m_Bus,
                  static_cast<unsigned>(m_Device), static_cast<unsigned>(m_Function));

    const unsigned result = UpdateRegistryKeys();

    // The trap decision: a plain NIC compares its own published condition; a team or bridge
    // member asks the driver once more.
    const bool plain = m_Record.Role == 255 && IsBridgeMember(m_Record.Name) == 0;
    int now = m_Record.Condition;
    bool nowRead = true;
    if (!plain) {
        MINIPORTDYNAMICDATA second = {};
        nowRead = ReadDynamicData(&second) == 0;
        now = static_cast<int>(second.condition);
    }
    m_TrapNeeded = TrapNeeded(plain, previous, now, nowRead, m_Miniport->GetConditionStable(), m_LastPass);
    if (nowRead && now != previous && m_TrapTable != nullptr)
        m_TrapTable->SetAdapterCondition(static_cast<unsigned>(m_Registered.slot),
                                         static_cast<unsigned>(m_Registered.segment), m_Registered.bus,
                                         m_Registered.device, m_Registered.function, m_Record.Condition);
    return result;
}

unsigned CPhysicalAdapter::UpdateRegistryKeys()
{
    static constexpr wchar_t kFunction[] = L"CPhysicalAdapter::UpdateRegistryKeys";
    LOG_VERBOSE(kFunction, L"Updating registry key for phys adapter: %d", static_cast<int>(m_Record.PhysicalIndex));
    CRegistryKey key = g_LocalMachineKey.OpenKey(kNicPhysInterfaceKey, KEY_SET_VALUE);
    if (!key.IsOpen()) {
        LOG_VERBOSE(kFunction, L"Failed to open registry key. Return code: %d", static_cast<int>(key.GetError()));
        return static_cast<unsigned>(key.GetError());
    }
    const std::wstring name = FormatRecordValueNameW(kPhysAdapterPrefix, m_Record.PhysicalIndex);
    const LONG result = key.SetRegistryValue(name.c_str(), REG_BINARY, &m_Record, sizeof(m_Record));
    if (result != ERROR_SUCCESS)
        LOG_VERBOSE(kFunction, L"Failed to set registry value. Return code: %d", static_cast<int>(result));
    return static_cast<unsigned>(result);
}

DWORD CPhysicalAdapter::GetEthernetStatistics()
{
    m_Record.FrameTooLongs = 0;
    // The packed record's counters go through an aligned table and back.
    enum {
        kXmitOk, kRcvOk, kAlignment, kFcs, kSingle, kMultiple, kDeferred, kLate, kExcessive, kMacXmit, kCarrier,
        kMacRcv, kRows
    };
    uint32_t values[kRows] = {m_Record.XmitOk,
                              m_Record.RcvOk,
                              m_Record.AlignmentErrors,
                              m_Record.FcsErrors,
                              m_Record.SingleCollisionFrames,
                              m_Record.MultipleCollisionFrames,
                              m_Record.DeferredTransmissions,
                              m_Record.LateCollisions,
                              m_Record.ExcessiveCollisions,
                              m_Record.InternalMacTransmitErrors,
                              m_Record.CarrierSenseErrors,
                              m_Record.InternalMacReceiveErrors};
    const OIDSTATENTRY rows[kRows] = {
        {0x00020101, &values[kXmitOk], 4},    {0x00020102, &values[kRcvOk], 4},
        {0x01020101, &values[kAlignment], 4}, {0x0002020D, &values[kFcs], 4},
        {0x01020102, &values[kSingle], 4},    {0x01020103, &values[kMultiple], 4},
        {0x01020201, &values[kDeferred], 4},  {0x01020207, &values[kLate], 4},
        {0x01020202, &values[kExcessive], 4}, {0x01020204, &values[kMacXmit], 4},
        {0x01020206, &values[kCarrier], 4},   {0x01020203, &values[kMacRcv], 4},
    };
    const DWORD result = m_Miniport->UpdateEthernetXmitStats(rows, kRows);
    m_Record.XmitOk = values[kXmitOk];
    m_Record.RcvOk = values[kRcvOk];
    m_Record.AlignmentErrors = values[kAlignment];
    m_Record.FcsErrors = values[kFcs];
    m_Record.SingleCollisionFrames = values[kSingle];
    m_Record.MultipleCollisionFrames = values[kMultiple];
    m_Record.DeferredTransmissions = values[kDeferred];
    m_Record.LateCollisions = values[kLate];
    m_Record.ExcessiveCollisions = values[kExcessive];
    m_Record.InternalMacTransmitErrors = values[kMacXmit];
    m_Record.CarrierSenseErrors = values[kCarrier];
    m_Record.InternalMacReceiveErrors = values[kMacRcv];
    // Each error total is the sum of its counters, whatever any one of them is (wrapping).
    m_Record.XmitErrors = values[kDeferred] + values[kExcessive] + values[kMacXmit] + values[kCarrier];
    m_Record.RcvErrors = values[kFcs] + values[kLate] + values[kMacRcv] + values[kAlignment];
    return result;
}

DWORD CPhysicalAdapter::AddStatistics(ETHERNETSTATSRECORD *table)
{
    if (table == nullptr)
        return 0;
    table->AlignmentErrors += m_Record.AlignmentErrors;
    table->FcsErrors += m_Record.FcsErrors;
    table->SingleCollisionFrames += m_Record.SingleCollisionFrames;
    table->MultipleCollisionFrames += m_Record.MultipleCollisionFrames;
    table->DeferredTransmissions += m_Record.DeferredTransmissions;
    table->LateCollisions += m_Record.LateCollisions;
    table->ExcessiveCollisions += m_Record.ExcessiveCollisions;
    table->InternalMacTransmitErrors += m_Record.InternalMacTransmitErrors;
    table->CarrierSenseErrors += m_Record.CarrierSenseErrors;
    table->FrameTooLongs += m_Record.FrameTooLongs;
    table->InternalMacReceiveErrors += m_Record.InternalMacReceiveErrors;
    return 0;
}

int CPhysicalAdapter::GetConfSpeedDuplex(const wchar_t *guid)
{
    static constexpr wchar_t kFunction[] = L"CPhysicalAdapter::GetConfSpeedDuplex";
    CRegistryKey classKey = g_LocalMachineKey.OpenKey(kNetClassKey, KEY_READ, 0, 0);
    if (!classKey.IsOpen()) {
        LOG_WARNING(kFunction, L"Can't open registry key %s. Return code: %d", kNetClassKey,
                    static_cast<int>(classKey.GetError()));
        return 1;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[261] = {};
        DWORD nameChars = 261;
        const LONG enumerated =
            RegEnumKeyExW(classKey.GetHandle(), index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
        if (enumerated == ERROR_NO_MORE_ITEMS)
            return 1;
        if (enumerated != ERROR_SUCCESS && enumerated != ERROR_MORE_DATA) {
            LOG_WARNING(kFunction, L"Failed to enumerate registry key. Return code: %d", static_cast<int>(enumerated));
            return 1;
        }
        name[260] = 0;
        CRegistryKey adapter = classKey.OpenKey(name, KEY_READ, 0, 0);
        if (!adapter.IsOpen()) {
            LOG_WARNING(kFunction, L"Failed to open registry key %s. Return code: %d", name,
                        static_cast<int>(adapter.GetError()));
            return 1;
        }
        wchar_t instance[260] = {};
        if (adapter.GetValueSize(L"NetCfgInstanceID", 0) == 0)
            continue;
        adapter.GetStringValue(L"NetCfgInstanceID", instance, 260, 0);
        if (guid == nullptr || _wcsicmp(instance, guid) != 0)
            continue;

        struct Setting {
            const wchar_t *value;
            ConfSpeedDuplexSetting kind;
        };
        static constexpr Setting kSettings[] = {{L"*SpeedDuplex", kConfStarSpeedDuplex},
                                                {L"SpeedDuplex", kConfSpeedDuplex},
                                                {L"RequestedMediaType", kConfRequestedMediaType},
                                                {L"req_medium", kConfRequestedMediaType}};
        for (const Setting &setting : kSettings) {
            if (adapter.GetValueSize(setting.value, 0) == 0)
                continue;
            wchar_t text[64] = {};
            adapter.GetStringValue(setting.value, text, 64, 0);
            return ConfSpeedDuplexOf(setting.kind, _wtoi(text), 0);
        }
        return ConfSpeedDuplexOf(kConfSettingNone, 0, m_Miniport != nullptr ? m_Miniport->GetAdapterType() : 0);
    }
}

int CPhysicalAdapter::IsBridgeMember(const char *name)
{
    if (name == nullptr || name[0] == 0)
        return 0;
    CRegistryKey key = g_LocalMachineKey.OpenKey(kNicBridgingInfoKey, KEY_READ, 0, 0);
    if (!key.IsOpen())
        return 0;
    const std::wstring wanted = AnsiToWide(name);
    for (DWORD index = 0; index < kMaxBridgeValues; ++index) {
        wchar_t valueName[256] = {};
        DWORD nameChars = 256;
        wchar_t data[257] = {};
        DWORD type = 0;
        DWORD bytes = 256 * sizeof(wchar_t);
        const LONG result = RegEnumValueW(key.GetHandle(), index, valueName, &nameChars, nullptr, &type,
                                          reinterpret_cast<BYTE *>(data), &bytes);
        // A value too long for a device name cannot name one: it is passed over.
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            break;
        if (type != REG_SZ || std::wcsstr(valueName, kMemberDeviceName) == nullptr)
            continue;
        data[std::min<DWORD>(bytes / sizeof(wchar_t), 256)] = 0;
        if (_wcsicmp(data, wanted.c_str()) == 0)
            return 1;
    }
    return 0;
}
