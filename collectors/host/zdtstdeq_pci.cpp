// PCI functions and slots: one row per present function from the configuration manager, the
// SMBIOS slots' corrections and empty slots, and the trap when the number of functions changes.
#include "zdtstdeq_collector.h"
#include "zdthost_software.h"

#include "agentx_pdu.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "location_text.h"
#include "smbios_table.h"
#include "stdeq_pci_rules.h"
#include "storage_platform.h"
#include "store_writers.h"
#include "traps.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>

namespace {

constexpr ULONG kPropertyBytes = 2048;
constexpr size_t kConvertedBytes = 1024;
constexpr int32_t kPciTrapFlags = 8;

MIBOID SlotEntry() { return EnterpriseOid({1, 2, 13, 1, 1}); }
MIBOID FunctionEntry() { return EnterpriseOid({1, 2, 13, 2, 1}); }

// A text property, cut to size - 1 bytes; false when it cannot be read.
bool ReadTextProperty(DEVINST node, ULONG property, char *out, size_t size)
{
    char buffer[kPropertyBytes + 2] = {};
    ULONG length = kPropertyBytes;
    ULONG type = 0;
    if (StoragePlatform().GetDevNodeRegistryProperty(node, property, &type, buffer, &length, 0) != CR_SUCCESS)
        return false;
    const size_t kept = std::min(std::strlen(buffer), size - 1);
    std::memcpy(out, buffer, kept);
    out[kept] = '\0';
    return true;
}

std::optional<uint32_t> ReadUiNumber(DEVINST node)
{
    uint32_t value = 0;
    ULONG length = sizeof value;
    ULONG type = 0;
    if (StoragePlatform().GetDevNodeRegistryProperty(node, CM_DRP_UI_NUMBER, &type, &value, &length, 0) !=
            CR_SUCCESS ||
        length < sizeof value)
        return std::nullopt;
    return value;
}

// The hardware IDs, each cut as its conversion would cut it; nothing when they cannot be read.
std::optional<std::vector<std::string>> ReadHardwareIds(DEVINST node)
{
    char buffer[kPropertyBytes + 2] = {};  // two NULs past the end close any list
    ULONG length = kPropertyBytes;
    ULONG type = 0;
    if (StoragePlatform().GetDevNodeRegistryProperty(node, CM_DRP_HARDWAREID, &type, buffer, &length, 0) !=
        CR_SUCCESS)
        return std::nullopt;
    std::vector<std::string> ids;
    for (const char *id = buffer; *id != '\0' && id < buffer + kPropertyBytes; id += std::strlen(id) + 1)
        ids.emplace_back(id, std::min(std::strlen(id), kConvertedBytes - 1));
    return ids;
}

PCI_LOCATION ReadLocation(DEVINST node)
{
    char text[kConvertedBytes] = {};
    ReadTextProperty(node, CM_DRP_LOCATION_INFORMATION, text, sizeof text);
    return ParseLocationText(text, sizeof text);
}

// The device ID list of the "PCI" enumerator: the whole multi-string, or nothing.
std::optional<std::vector<char>> PciDeviceList(ULONG flags)
{
    ULONG size = 0;
    if (StoragePlatform().GetDeviceIdListSize(&size, "PCI", flags) != CR_SUCCESS || size == 0)
        return std::nullopt;
    std::vector<char> list(size + 2, '\0');
    if (StoragePlatform().GetDeviceIdList("PCI", list.data(), size, flags) != CR_SUCCESS)
        return std::nullopt;
    return list;
}

template <class Visit> void ForEachId(const std::vector<char> &list, Visit visit)
{
    for (const char *id = list.data(); id < list.data() + list.size() && *id != '\0'; id += std::strlen(id) + 1)
        visit(id);
}

// The slot number of an adapter behind a bridge, taken from the ancestors of its node.
std::optional<uint32_t> UiNumberFromAncestors(const PCI_DEVICE_INFO &info)
{
    const auto all = PciDeviceList(CM_GETIDLIST_FILTER_ENUMERATOR);
    if (!all)
        return std::nullopt;
    std::optional<uint32_t> found;
    bool matched = false;
    ForEachId(*all, [&](const char *id) {
        DEVINST node = 0;
        if (matched || !std::strstr(id, "PCI\\VEN_") || StoragePlatform().LocateDevNode(&node, id, 0) != CR_SUCCESS)
            return;
        const PCI_LOCATION location = ReadLocation(node);
        if (location.Bus != info.Bus || location.Device != info.Device || location.Function != info.Function)
            return;
        matched = true;
        std::vector<PCI_ANCESTOR> chain;
        DEVINST parent = 0;
        while (StoragePlatform().GetParent(&parent, node, 0) == CR_SUCCESS) {
            node = parent;
            if (auto ids = ReadHardwareIds(node); ids && !ids->empty()) {
                const auto ui = ReadUiNumber(node);
                chain.push_back({ids->front(), ui ? static_cast<int64_t>(*ui) : -1});
            }
        }
        found = AncestorUiNumber(chain);
    });
    return found;
}

std::vector<SMBIOS_SLOT> SystemSlots()
{
    std::vector<SMBIOS_SLOT> slots;
    if (!s_SMBIOSTable || !s_SMBIOSTable->IsValid())
        return slots;
    const uint8_t *structure = nullptr;
    while (s_SMBIOSTable->NextStructure(&structure)) {
        SMBIOS_SLOT slot;
        if (ReadSystemSlot(structure, structure[1], &slot))
            slots.push_back(slot);
    }
    return slots;
}

void WriteSlotRow(DATASTORE_TABLE &table, const PCI_DEVICE_INFO &info, const std::vector<SMBIOS_SLOT> &slots)
{
    if (!table.BeginTable(SlotEntry(), 2, false))
        return;
    table.SetIndex(static_cast<uint32_t>(info.Bus), static_cast<uint32_t>(info.Device));
    const uint16_t subsystemVendor = static_cast<uint16_t>(info.Subsystem);
    const uint16_t subsystemId = static_cast<uint16_t>(info.Subsystem >> 16);
    const uint8_t boardId[8] = {static_cast<uint8_t>(subsystemVendor >> 8), static_cast<uint8_t>(subsystemVendor),
                                static_cast<uint8_t>(subsystemId >> 8), static_cast<uint8_t>(subsystemId)};
    const SLOT_ROW_FIX fix = MatchSlot(slots, info.UiNumber, info.Bus, info.Device);
    table.SetInteger(1, info.Bus);
    table.SetInteger(2, info.Device);
    table.SetInteger(3, static_cast<int32_t>(fix.SlotId.value_or(info.UiNumber)));
    table.SetOctetString(4, sizeof boardId, boardId);
    if (info.Name[0] != '\0')
        table.SetString(5, info.Name);
    table.SetInteger(6, fix.WidthCode.value_or(2));
    table.SetInteger(8, 0);
    table.SetInteger(9, 6);
    table.SetInteger(10, 2);
    for (uint32_t column : {11u, 12u, 13u})
        table.SetInteger(column, 0);
}

void WriteFunctionRow(DATASTORE_TABLE &table, const PCI_DEVICE_INFO &info)
{
    if (!table.BeginTable(FunctionEntry(), 3, false))
        return;
    table.SetIndex(static_cast<uint32_t>(info.Bus), static_cast<uint32_t>(info.Device),
                   static_cast<uint32_t>(info.Function));
    table.SetInteger(1, info.Bus);
    table.SetInteger(2, info.Device);
    table.SetInteger(3, info.Function);
    if (info.ClassCodeText != nullptr) {
        table.SetString(4, info.ClassCodeText);
        if (info.ClassName != nullptr)
            table.SetString(5, info.ClassName);
    }
    table.SetInteger(6, info.DeviceId);
    table.SetInteger(7, info.VendorId);
    table.SetInteger(8, info.Revision);
    table.SetInteger(9, 255);
    table.SetInteger(10, 2);
}

void WriteEmptySlotRow(DATASTORE_TABLE &table, const SMBIOS_SLOT &slot)
{
    if (!table.BeginTable(SlotEntry(), 2, false))
        return;
    static const uint8_t kNoBoard[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    table.SetIndex(slot.Bus, 0);
    table.SetInteger(1, slot.Bus);
    table.SetInteger(2, 0);
    table.SetInteger(3, slot.SlotId);
    table.SetOctetString(4, sizeof kNoBoard, kNoBoard);
    table.SetString(5, "(Empty)");
    table.SetInteger(6, SlotWidthCode(slot.DataBusWidth));
    table.SetInteger(8, 0);
    table.SetInteger(9, SlotTypeCode(slot.SlotType));
    table.SetInteger(10, 2);
    for (uint32_t column : {11u, 12u, 13u})
        table.SetInteger(column, 0);
}

} // namespace

std::vector<PCI_FUNCTION> PresentPciFunctions()
{
    std::vector<PCI_FUNCTION> functions;
    const auto list = PciDeviceList(CM_GETIDLIST_FILTER_ENUMERATOR | CM_GETIDLIST_FILTER_PRESENT);
    if (!list)
        return functions;
    ForEachId(*list, [&](const char *id) {
        DEVINST node = 0;
        if (StoragePlatform().LocateDevNode(&node, id, 0) != CR_SUCCESS)
            return;
        char service[512] = {};
        if (!ReadTextProperty(node, CM_DRP_SERVICE, service, sizeof service))
            return;
        PCI_FUNCTION function;
        function.service = service;
        // A number that cannot be read is 0; the address is asked only when the bus answered.
        uint32_t value = 0;
        ULONG length = sizeof value;
        ULONG type = 0;
        if (StoragePlatform().GetDevNodeRegistryProperty(node, CM_DRP_BUSNUMBER, &type, &value, &length, 0) ==
                CR_SUCCESS &&
            length == sizeof value) {
            function.bus = value;
            length = sizeof value;
            if (StoragePlatform().GetDevNodeRegistryProperty(node, CM_DRP_ADDRESS, &type, &value, &length, 0) ==
                    CR_SUCCESS &&
                length == sizeof value)
                function.address = value;
        }
        functions.push_back(std::move(function));
    });
    return functions;
}

void ZDTSTDEQDataCollector::Collect_zdtSePci(int, DATASTORE *staging)
{
    DATASTORE_TABLE table(staging);
    LOG_VERBOSE(L"ZDTSTDEQDataCollector::Collect_zdtSePci", L"ZDTSTDEQDataCollector::Collect_zdtSePci");
    table.BeginTable(SlotEntry(), 2, true);
    table.BeginTable(FunctionEntry(), 3, true);
    const std::vector<SMBIOS_SLOT> slots = SystemSlots();
    // Slot rows of present devices: an empty-slot row at the same index must not replace them.
    std::set<std::pair<int32_t, int32_t>> occupied;

    if (const auto list = PciDeviceList(CM_GETIDLIST_FILTER_ENUMERATOR | CM_GETIDLIST_FILTER_PRESENT)) {
        m_CurrentPci.clear();
        ForEachId(*list, [&](const char *id) {
            auto info = std::make_unique<PCI_DEVICE_INFO>();
            strncpy(info->Ids, id, sizeof info->Ids - 1);
            if (!std::strstr(info->Ids, "PCI\\VEN_"))
                return;
            DEVINST node = 0;
            if (StoragePlatform().LocateDevNode(&node, id, 0) != CR_SUCCESS) {
                m_CurrentPci.push_back(*info);
                return;
            }
            const PCI_LOCATION location = ReadLocation(node);
            info->Bus = location.Bus;
            info->Device = location.Device;
            info->Function = location.Function;
            if (!ReadTextProperty(node, CM_DRP_FRIENDLYNAME, info->Name, sizeof info->Name))
                ReadTextProperty(node, CM_DRP_DEVICEDESC, info->Name, sizeof info->Name);
            info->UiNumber = ReadUiNumber(node).value_or(0);
            if (const auto hardwareIds = ReadHardwareIds(node))
                PackHardwareIds(*hardwareIds, info->Ids, sizeof info->Ids);
            const PCI_IDS ids = ParsePciHardwareIds(info->Ids, sizeof info->Ids);
            info->VendorId = ids.VendorId;
            info->DeviceId = ids.DeviceId;
            info->Subsystem = ids.Subsystem;
            info->Revision = ids.Revision;
            info->BaseClass = ids.BaseClass;
            info->SubClass = ids.SubClass;
            info->ProgIf = ids.ProgIf;
            if (ids.ClassCodeOffset) {
                info->ClassCodeText = info->Ids + *ids.ClassCodeOffset;
                info->ClassName = PciClassName(ids.BaseClass);
            }
            if (IsHiddenPciClass(info->BaseClass, info->SubClass))
                return;
            if (ReadsUiNumberFromAncestor(info->VendorId, info->DeviceId))
                if (const auto ui = UiNumberFromAncestors(*info))
                    info->UiNumber = *ui;
            WriteSlotRow(table, *info, slots);
            occupied.insert({info->Bus, info->Device});
            WriteFunctionRow(table, *info);
            m_CurrentPci.push_back(*info);
        });
    }

    for (const SMBIOS_SLOT &slot : slots)
        if (IsEmptySlotUsage(slot.CurrentUsage) && slot.HasAddress && !occupied.count({slot.Bus, 0}))
            WriteEmptySlotRow(table, slot);
    LOG_VERBOSE(L"ZDTSTDEQDataCollector::Collect_zdtSePci", L"ZDTSTDEQDataCollector::Collect_zdtSePci EXIT");
}

int ZDTSTDEQDataCollector::CheckPciChanges()
{
    if (m_CurrentPci.empty())
        return 0;
    ComparePciLists(m_PreviousPci, m_CurrentPci);
    SavePciList(m_CurrentPci);
    m_CurrentPci.clear();
    return 0;
}

void ZDTSTDEQDataCollector::ComparePciLists(const std::vector<PCI_DEVICE_INFO> &previous,
                                            const std::vector<PCI_DEVICE_INFO> &current)
{
    auto addresses = [](const std::vector<PCI_DEVICE_INFO> &list) {
        std::vector<PCI_ADDRESS> out;
        for (const PCI_DEVICE_INFO &info : list)
            out.push_back({info.Bus, info.Device, info.Function});
        return out;
    };
    const PCI_CHANGE change = ChoosePciChange(addresses(previous), addresses(current));
    if (change.Trap != 0)
        SendPciTrap(change.Trap, (change.FromCurrent ? current : previous)[change.Position]);
}

size_t ZDTSTDEQDataCollector::SavePciList(const std::vector<PCI_DEVICE_INFO> &current)
{
    m_PreviousPci.clear();
    m_PreviousPci.reserve(current.size());
    for (const PCI_DEVICE_INFO &info : current)
        m_PreviousPci.push_back(info);
    return m_PreviousPci.size();
}

void ZDTSTDEQDataCollector::SendPciTrap(unsigned trapNumber, const PCI_DEVICE_INFO &device)
{
    LOG_INFO(L"ZDTSTDEQDataCollector::SendPciTrap", L"PCI device = %hs", device.Name);
    SendHostTrap(trapNumber, kPciTrapFlags, [&](TRAP_BUFFER *trap) {
        uint8_t oid[AGENTX_PDU_BUFFER_SIZE / 8];
        uint8_t varbind[AGENTX_PDU_BUFFER_SIZE / 4];
        const int32_t values[] = {device.Bus, device.Device, device.Function};
        for (uint32_t column = 1; column <= 3; ++column) {
            EncodeAgentXOid(EnterpriseOid({1, 2, 13, 2, 1, column, 0, 0, 0}), oid);
            SetLastThreeSubIds(oid, static_cast<uint32_t>(device.Bus), static_cast<uint32_t>(device.Device),
                               static_cast<uint32_t>(device.Function));
            AddTrapVarBind(trap, MakeIntegerVarBind(varbind, oid, values[column - 1]));
        }
    });
}
