// The trap records of the adapter model: built for a member whose condition change matters,
// written as a new value below the Trap_ key of its event kind.
#include "adapter_text.h"
#include "if_table.h"
#include "miniport.h"
#include "physical_adapter.h"
#include "registry_key.h"

#include <cstring>
#include <string>

namespace {

const wchar_t *TrapKeyName(int32_t kind)
{
    switch (kind) {
    case kNicTrapConnectivityLost: return L"Trap_ConnectivityLost";
    case kNicTrapConnectivityRegained: return L"Trap_ConnectivityRegained";
    case kNicTrapRedundancyIncreased: return L"Trap_RedundancyIncreased";
    case kNicTrapRedundancyReduced: return L"Trap_RedundancyReduced";
    default: return nullptr;
    }
}

bool ValueExists(const CRegistryKey &key, const wchar_t *name)
{
    return RegQueryValueExW(key.GetHandle(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

} // namespace

void CLogicalAdapter::BuildTrapRecord(CPhysicalAdapter *member)
{
    if (member == nullptr)
        return;
    const bool team = m_TeamId != -1;
    const int kind = TrapKindOf(member->GetCondition(), team, m_Map.OkMemberCount);

    std::memset(&m_Trap, 0, sizeof(m_Trap));
    if (kind == kNicTrapRedundancyIncreased || kind == kNicTrapRedundancyReduced) {
        m_Trap.LogicalIndex = static_cast<int32_t>(m_Map.LogicalIndex);
        m_Trap.TeamOkCount = m_Map.OkMemberCount;
    }
    m_Trap.Format = 4;
    m_Trap.Kind = kind;
    m_Trap.PhysicalIndex = static_cast<int32_t>(member->GetPhysicalIndex());
    m_Trap.Slot = member->GetSlot();
    m_Trap.Port = member->GetPort();
    m_Trap.PciBus = member->GetBus();
    m_Trap.PciDevice = member->GetDevice();
    WideToAnsiField(member->GetDeviceName(), m_Trap.MemberName, sizeof(m_Trap.MemberName));
    CopyTextField(RecordText(member->GetRecord().PartNumber).c_str(), m_Trap.PartNumber, sizeof(m_Trap.PartNumber));
    const wchar_t *guid = m_Miniport != nullptr ? m_Miniport->GetGuid() : nullptr;
    m_Map.IPv4Address = guid != nullptr ? GetInterfaceIPAddress(guid) : 0;
    m_Trap.IPv4Address = m_Map.IPv4Address;
    const std::string ipv6 = RecordText(m_Map.IPv6Address);
    CopyTextField(ipv6.empty() ? "N/A" : ipv6.c_str(), m_Trap.IPv6Address, sizeof(m_Trap.IPv6Address));
    m_Trap.MemberStatus = member->GetStatus();
    m_Trap.OkMemberCount = m_Map.OkMemberCount;
    m_Trap.Reserved = 0;
    std::memcpy(m_Trap.MacAddress, m_Map.MacAddress, sizeof(m_Trap.MacAddress));
    m_Trap.DhcpEnabled = m_Map.Dhcp == 1 ? 1 : 0;
    WriteTrapRecord(m_Trap);
}

void CLogicalAdapter::WriteTrapRecord(TRAPRECORD record)
{
    const wchar_t *keyName = TrapKeyName(record.Kind);
    if (keyName == nullptr)
        return;
    CRegistryKey root = g_LocalMachineKey.OpenKey(kNicRootKey, KEY_READ);
    if (!root.IsOpen())
        return;
    CRegistryKey trapKey = root.CreateKey(keyName, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS);
    if (!trapKey.IsOpen())
        return;
    Nic().Sleep(10);
    FILETIME now = {};
    Nic().GetSystemTimeAsFileTime(&now);
    uint64_t stamp = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    // The clock may repeat a value or step back: a name in use is never overwritten, the next
    // free one is taken.
    std::wstring name = FormatTrapValueNameW(stamp);
    while (ValueExists(trapKey, name.c_str()))
        name = FormatTrapValueNameW(++stamp);
    trapKey.SetRegistryValue(name.c_str(), REG_BINARY, &record, sizeof(record));
}
