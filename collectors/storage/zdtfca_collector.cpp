#include "zdtfca_collector.h"

#include "agentx_pdu.h"
#include "ax_session.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "fc_board_ids.h"
#include "fc_hba_api.h"
#include "location_text.h"
#include "service_parameters.h"
#include "smbios_string.h"
#include "smbios_table.h"
#include "storage_platform.h"
#include "storage_trap.h"
#include "store_writers.h"
#include "traps.h"

#include <cstdio>
#include <cstring>

ZDTFCADataCollector s_ZDTFCADataCollector;

namespace {

constexpr uint8_t kRegistrationPriority = 127;
constexpr uint32_t kFcaStatusTrap = 16028;

// Cleared at the end of every read of the adapters.
bool s_FirstCollection = true;

// A byte of an SMBIOS structure's formatted area; false past its end.
bool StructureByte(const uint8_t *structure, size_t offset, uint8_t *value)
{
    if (offset >= structure[1])
        return false;
    *value = structure[offset];
    return true;
}

bool StructureWord(const uint8_t *structure, size_t offset, uint16_t *value)
{
    if (offset + 2 > structure[1])
        return false;
    *value = static_cast<uint16_t>(structure[offset] | structure[offset + 1] << 8);
    return true;
}

// The slot a type-203 location text names: 0 for "Embedded", the number after "Slot ", else none.
bool SlotOfLocation(const char *location, int *slot)
{
    if (std::strstr(location, "Embedded") != nullptr) {
        *slot = 0;
        return true;
    }
    const char *at = std::strstr(location, "Slot ");
    return at != nullptr && std::sscanf(at + 5, "%d", slot) == 1;
}

std::string FirstHardwareId(DEVINST node)
{
    char ids[1024] = {};
    ULONG type = 0;
    ULONG length = sizeof ids - 2;
    if (StoragePlatform().GetDevNodeRegistryProperty(node, CM_DRP_HARDWAREID, &type, ids, &length, 0) != CR_SUCCESS)
        return std::string();
    ids[sizeof ids - 2] = '\0';
    return ids;
}

int32_t UiNumberOf(DEVINST node)
{
    uint32_t number = 0;
    ULONG type = 0;
    ULONG length = sizeof number;
    if (StoragePlatform().GetDevNodeRegistryProperty(node, CM_DRP_UI_NUMBER, &type, &number, &length, 0) != CR_SUCCESS)
        return -1;
    return static_cast<int32_t>(number);
}

void AddStringVarBind(TRAP_BUFFER *trap, uint32_t column, uint32_t index, const std::string &text)
{
    uint8_t oid[AGENTX_PDU_BUFFER_SIZE / 8];
    uint8_t varbind[AGENTX_PDU_BUFFER_SIZE / 2];
    EncodeAgentXOid(EnterpriseOid({16, 2, 7, 1, 1, column, index}), oid);
    AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, oid, text.c_str()));
}

void AddIntegerVarBind(TRAP_BUFFER *trap, uint32_t column, uint32_t index, uint32_t value)
{
    uint8_t oid[AGENTX_PDU_BUFFER_SIZE / 8];
    uint8_t varbind[AGENTX_PDU_BUFFER_SIZE / 2];
    EncodeAgentXOid(EnterpriseOid({16, 2, 7, 1, 1, column, index}), oid);
    AddTrapVarBind(trap, MakeIntegerVarBind(varbind, oid, static_cast<int32_t>(value)));
}

} // namespace

ZDTFCADataCollector::ZDTFCADataCollector() : DATACOLLECTOR(L"ZDTFCA", 16, 1, 34, &s_ServiceParameters.EnableZDTFCA)
{}

ZDTFCADataCollector::~ZDTFCADataCollector() = default;

void ZDTFCADataCollector::ResetForTests()
{
    m_Previous.clear();
    s_FirstCollection = true;
}

int ZDTFCADataCollector::Register(AXSESSION *session)
{
    uint8_t encoded[AGENTX_PDU_BUFFER_SIZE / 4];
    EncodeAgentXOid(EnterpriseOid({16, 1}), encoded);
    const int first = session->Register(encoded, kRegistrationPriority);
    EncodeAgentXOid(EnterpriseOid({16, 2}), encoded);
    const int second = session->Register(encoded, kRegistrationPriority);
    return second != 0 ? second : first;
}

void ZDTFCADataCollector::Collect(int, DATASTORE *staging)
{
    LOG_INFO(L"ZDTFCADataCollector::Collect", L"Starting FCA collector.");
    UpdateFcaData();
    Report_zdtFcaHostCntlr(staging);
}

LONG ZDTFCADataCollector::GetFcaData(std::vector<FCA_HBA_RECORD> *records)
{
    const LONG polled = s_FcHbaApi.pollHBAInfo(1);
    if (polled == 0)
        s_FcHbaApi.CopyToClientList();
    records->clear();
    if (!s_FcHbaApi.LockClientList()) {
        s_FirstCollection = false;
        // Nothing was read: the table keeps the rows of the last collection that read the list.
        return polled != 0 ? polled : ERROR_TIMEOUT;
    }
    // The list walked below is the client list, so its count (not that of the last poll, which
    // may not have been copied) sizes the records: no empty records are left over.
    const FC_ADAPTER_LIST &list = s_FcHbaApi.ClientList();
    const size_t n = list.Adapters.size();
    LOG_INFO(L"ZDTFCADataCollector::GetFcaData", L"Number of HBA Ports %d", static_cast<int>(n));
    records->resize(n);
    m_Previous.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const FC_ADAPTER_RECORD &adapter = list.Adapters[i];
        FCA_HBA_RECORD &record = (*records)[i];
        record.Index = static_cast<uint32_t>(i);
        record.Slot = static_cast<uint32_t>(adapter.Slot);
        record.BoardId = adapter.Attributes.VendorSpecificID;
        record.Model = MapFcaModelToSnmpEnum(record.BoardId);
        uint32_t value = adapter.Status == 2 ? 2 : adapter.Status == 3 ? 3 : adapter.Status == 6 ? 4 : 1;
        record.Condition = record.OverallCondition = record.Status = value;
        if (record.Status == 4)
            record.Status = 3;
        else if (record.Status == 3)
            record.Status = 5;

        const HBA_ADAPTERATTRIBUTES &attributes = adapter.Attributes;
        record.ModelDescription = FcFieldText(attributes.ModelDescription, sizeof attributes.ModelDescription);
        record.SerialNumber = FcFieldText(attributes.SerialNumber, sizeof attributes.SerialNumber);
        record.HardwareLocation = adapter.Location;
        record.WorldWideName = adapter.NodeWwn;
        record.FirmwareVersion = FcFieldText(attributes.FirmwareVersion, sizeof attributes.FirmwareVersion);
        record.OptionRomVersion = FcFieldText(attributes.OptionROMVersion, sizeof attributes.OptionROMVersion);
        const FC_PORT_RECORD *first = adapter.Ports.empty() ? nullptr : &adapter.Ports.front();
        if (first != nullptr) {
            record.PortName = first->PortWwn;
            char location[32];
            std::snprintf(location, sizeof location, "0000:%.2X:%.2X.%.1X", first->Config.Bus, first->Config.Device,
                          first->Config.Function);
            record.PciLocation = location;
        }
        LOG_VERBOSE(L"ZDTFCADataCollector::GetFcaData", L"ModelDescription: %hs FirmwareVersion: %hs OptionROMVersion: %hs",
                    record.ModelDescription.c_str(), record.FirmwareVersion.c_str(), record.OptionRomVersion.c_str());

        std::string smbiosFirmware;
        GetSmbData(record.Slot, record.PciLocation, &smbiosFirmware);
        if (!smbiosFirmware.empty())
            record.FirmwareVersion = smbiosFirmware;
        if (record.FirmwareVersion.empty())
            record.FirmwareVersion = "N/A";

        for (const FC_PORT_RECORD &port : adapter.Ports)
            if (port.Attributes.PortState == HBA_PORTSTATE_LINKDOWN)
                record.Status = 7;

        if (first != nullptr && (record.BoardId == FC_BOARD_BRIDGE_SLOT_A || record.BoardId == FC_BOARD_BRIDGE_SLOT_B))
            GetRealPciSlotNumber(&record.Slot, first->Config.Bus, first->Config.Device, first->Config.Function);

        record.ActualStatus = record.Status;
        record.StatusChanged = m_Previous[i].StatusChanged;
        if (!s_FirstCollection && record.Status != m_Previous[i].ActualStatus)
            record.StatusChanged = 1;

        // A link that is down from the start is how the adapter is cabled, not a failure.
        if (record.Status == 7 && (s_FirstCollection || record.StatusChanged == 0)) {
            record.Status = 1;
            record.Condition = 1;
        } else if (record.Status == 7 && record.StatusChanged == 1) {
            record.Condition = 3;
        }
    }
    s_FcHbaApi.UnlockClientList();
    s_FirstCollection = false;
    return polled;
}

void ZDTFCADataCollector::UpdateFcaData()
{
    std::vector<FCA_HBA_RECORD> records;
    GetFcaData(&records);
    if (records.empty())
        return;
    for (const FCA_HBA_RECORD &record : records)
        for (const FCA_HBA_RECORD &previous : m_Previous)
            // An adapter without a world wide name cannot be told from another one.
            if (!record.WorldWideName.empty() && record.WorldWideName == previous.WorldWideName &&
                record.Status != previous.Status)
                SendFcaTrap(kFcaStatusTrap, record);
    m_Previous = records;
}

void ZDTFCADataCollector::Report_zdtFcaHostCntlr(DATASTORE *staging)
{
    LOG_INFO(L"ZDTFCADataCollector::Report_zdtFcaHostCntlr", L"Reporting host controller data.");
    std::vector<FCA_HBA_RECORD> records;
    if (GetFcaData(&records) != 0)
        return;
    DATASTORE_TABLE table(staging);
    if (!table.BeginTable(EnterpriseOid({16, 2, 7, 1, 1}), 1, true))
        return;
    static const uint8_t kZeros[8] = {};
    for (const FCA_HBA_RECORD &record : records) {
        table.SetIndex(record.Index);
        table.SetInteger(1, static_cast<int32_t>(record.Index));
        table.SetInteger(2, static_cast<int32_t>(record.Slot));
        table.SetInteger(3, static_cast<int32_t>(record.Model));
        table.SetInteger(4, static_cast<int32_t>(record.Status));
        table.SetInteger(5, static_cast<int32_t>(record.Condition));
        table.SetString(6, record.WorldWideName.c_str());
        table.SetOctetString(7, sizeof kZeros, kZeros);
        table.SetInteger(8, static_cast<int32_t>(record.OverallCondition));
        table.SetOctetString(9, sizeof kZeros, kZeros);
        table.SetString(10, record.SerialNumber.c_str());
        table.SetString(11, record.HardwareLocation.c_str());
        table.SetString(12, record.PortName.c_str());
        table.SetString(13, record.FirmwareVersion.c_str());
        table.SetString(14, record.OptionRomVersion.c_str());
        table.SetString(15, record.PciLocation.c_str());
        SetCondition(static_cast<uint8_t>(record.OverallCondition));
        LOG_INFO(L"ZDTFCADataCollector::Report_zdtFcaHostCntlr",
                 L"Index: %d Model: %hs BoardId: 0x%X FW: %hs OptionRom: %hs HWlocation: %hs PCIlocation: %hs",
                 static_cast<int>(record.Index), record.ModelDescription.c_str(), record.BoardId,
                 record.FirmwareVersion.c_str(), record.OptionRomVersion.c_str(), record.HardwareLocation.c_str(),
                 record.PciLocation.c_str());
        LOG_INFO(L"ZDTFCADataCollector::Report_zdtFcaHostCntlr",
                 L"Condition: %d ModelNum: %d OverallCondition: %d Slot: %d status: %d SerialNum: %hs ActualStat: %d "
                 L"StatChanged: %d",
                 static_cast<int>(record.Condition), static_cast<int>(record.Model),
                 static_cast<int>(record.OverallCondition), static_cast<int>(record.Slot),
                 static_cast<int>(record.Status), record.SerialNumber.c_str(), static_cast<int>(record.ActualStatus),
                 static_cast<int>(record.StatusChanged));
    }
}

void ZDTFCADataCollector::SendFcaTrap(uint32_t trapNumber, const FCA_HBA_RECORD &record)
{
    LOG_INFO(L"ZDTFCADataCollector::SendFcaTrap", L"FC adapter = %hs", record.ModelDescription.c_str());
    TRAP_BUFFER *trap = CreateStorageTrap(trapNumber);
    if (trap == nullptr)
        return;
    AddStorageTrapHeader(trap, record.Condition);
    const uint32_t i = record.Index;
    AddStringVarBind(trap, 11, i, record.HardwareLocation);
    AddIntegerVarBind(trap, 1, i, record.Index);
    AddIntegerVarBind(trap, 4, i, record.Status);
    AddIntegerVarBind(trap, 3, i, record.Model);
    AddStringVarBind(trap, 10, i, record.SerialNumber);
    AddStringVarBind(trap, 6, i, record.WorldWideName);
    AddStringVarBind(trap, 12, i, record.PortName);
    SendTrap(trap);
}

uint32_t ZDTFCADataCollector::MapFcaModelToSnmpEnum(uint32_t boardId)
{
    LOG_INFO(L"ZDTFCADataCollector::MapFcaModelToSnmpEnum", L"BoardId: 0x%X", boardId);
    return FcaModelNumber(boardId);
}

void ZDTFCADataCollector::GetRealPciSlotNumber(uint32_t *slot, unsigned bus, unsigned device, unsigned function)
{
    IStoragePlatform &platform = StoragePlatform();
    ULONG size = 0;
    if (platform.GetDeviceIdListSize(&size, "PCI", CM_GETIDLIST_FILTER_ENUMERATOR) != CR_SUCCESS || size == 0)
        return;
    std::vector<char> list(static_cast<size_t>(size) + 2, '\0');
    if (platform.GetDeviceIdList("PCI", list.data(), size, CM_GETIDLIST_FILTER_ENUMERATOR) != CR_SUCCESS)
        return;
    for (size_t at = 0; at < size && list[at] != '\0';) {
        const std::string id(list.data() + at);
        at += id.size() + 1;
        if (id.find("PCI\\VEN_") == std::string::npos)
            continue;
        DEVINST node = 0;
        if (platform.LocateDevNode(&node, id.c_str(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
            continue;
        char location[257] = {};
        ULONG type = 0;
        ULONG length = sizeof location - 1;
        if (platform.GetDevNodeRegistryProperty(node, CM_DRP_LOCATION_INFORMATION, &type, location, &length, 0) !=
            CR_SUCCESS)
            continue;
        if (!LocationMatches(ParseLocationText(location, sizeof location - 1), bus, device, function))
            continue;
        // The parents up to the root, each with its first hardware id and its UI number.
        struct Parent {
            std::string HardwareId;
            int32_t UiNumber;
        };
        std::vector<Parent> parents;
        DEVINST child = node;
        DEVINST parent = 0;
        // A tree deeper than this is not a PCI hierarchy; the bound ends a loop in a broken tree.
        for (int depth = 0; depth < 64 && platform.GetParent(&parent, child, 0) == CR_SUCCESS; ++depth) {
            parents.push_back({FirstHardwareId(parent), UiNumberOf(parent)});
            child = parent;
        }
        for (size_t k = parents.size(); k >= 3; --k) {
            const Parent &top = parents[k - 1], &bridge = parents[k - 2], &below = parents[k - 3];
            if (top.HardwareId.rfind("ACPI\\", 0) == 0 && bridge.HardwareId.find("PCI\\VEN_8086") != std::string::npos &&
                bridge.UiNumber == -1 && below.UiNumber != -1) {
                *slot = static_cast<uint32_t>(below.UiNumber);
                LOG_VERBOSE(L"ZDTFCADataCollector::GetRealPciSlotNumber", L"FC physical slot %d", below.UiNumber);
                break;
            }
        }
        return;
    }
}

void ZDTFCADataCollector::GetSmbData(uint32_t slot, const std::string &pciLocation, std::string *firmware)
{
    firmware->clear();
    const CSMBIOSTable *table = s_SMBIOSTable.get();
    if (table == nullptr || !table->IsValid())
        return;
    LOG_VERBOSE(L"ZDTFCADataCollector::GetSmbData", L"Type203Count: %d Type240Count: %d",
                static_cast<int>(table->CountStructures(203)), static_cast<int>(table->CountStructures(240)));
    unsigned wantedBus = 0, wantedDevice = 0, wantedFunction = 0;
    const bool haveLocation =
        FcParsePciLocation(pciLocation.c_str(), pciLocation.size(), &wantedBus, &wantedDevice, &wantedFunction);
    for (unsigned n = 0; const uint8_t *device = table->FindStructure(203, n); ++n) {
        const char *deviceClass = SmbiosStringAt(*table, device, 29);
        const char *location = SmbiosStringAt(*table, device, 31);
        if (std::strstr(deviceClass, "Storage") == nullptr && std::strstr(deviceClass, "PCI") == nullptr &&
            std::strstr(deviceClass, "NIC") == nullptr)
            continue;
        int deviceSlot = 0;
        if (!SlotOfLocation(location, &deviceSlot) || static_cast<uint32_t>(deviceSlot) != slot)
            continue;
        uint16_t handle = 0, association = 0;
        StructureWord(device, 2, &handle);
        const bool associated = StructureWord(device, 4, &association);
        for (unsigned m = 0; const uint8_t *package = table->FindStructure(240, m); ++m) {
            uint16_t owner = 0;
            if (!StructureWord(package, 4, &owner) || owner != handle || !associated)
                continue;
            const bool embedded = deviceSlot <= 0;
            const uint8_t type = embedded ? 41 : 9;
            const size_t busAt = embedded ? 9 : 15;
            LOG_VERBOSE(L"ZDTFCADataCollector::GetSmbData", embedded ? L"Embedded card.." : L"Stand-up card..");
            if (embedded)
                LOG_VERBOSE(L"ZDTFCADataCollector::GetSmbData", L"Type41Count: %d",
                            static_cast<int>(table->CountStructures(41)));
            for (unsigned k = 0; const uint8_t *peer = table->FindStructure(type, k); ++k) {
                uint16_t peerHandle = 0;
                StructureWord(peer, 2, &peerHandle);
                if (peerHandle != association)
                    continue;
                LOG_VERBOSE(L"ZDTFCADataCollector::GetSmbData",
                            embedded ? L"Type203 DeviceHandleAssociation: 0x%X Type41Hanlde: 0x%X"
                                     : L"Type203 DeviceHandleAssociation: 0x%X Type9Hanlde: 0x%X",
                            association, peerHandle);
                uint8_t bus = 0, devfn = 0;
                if (!haveLocation || !StructureByte(peer, busAt, &bus) || !StructureByte(peer, busAt + 1, &devfn))
                    continue;
                const unsigned physicalDevice = devfn >> 3;
                LOG_VERBOSE(L"ZDTFCADataCollector::GetSmbData",
                            embedded ? L"nBus: %d PhyBus: %d nDev: %d PhyDev: %d"
                                     : L"nBus: %d nPhyBus: %d nDev: %d nPhyDev: %d",
                            static_cast<int>(wantedBus), static_cast<int>(bus), static_cast<int>(wantedDevice),
                            static_cast<int>(physicalDevice));
                if (wantedBus == bus && wantedDevice == physicalDevice) {
                    *firmware = SmbiosStringAt(*table, package, 10);
                    LOG_VERBOSE(L"ZDTFCADataCollector::GetSmbData", L"FWPackageVersion: %hs", firmware->c_str());
                }
            }
        }
    }
}
