// The slot and board id of an FC adapter, found through its ports' devices: the maker's CSMI
// controller configuration, the FC driver's slot request, the FCoE WMI class and the
// configuration manager.
#include "fc_board_ids.h"
#include "fc_hba_api.h"

#include "common_log.h"
#include "location_text.h"
#include "storage_io.h"
#include "storage_platform.h"
#include "wmi.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kOsDeviceNameChars = 64;
constexpr size_t kWmiWwnBytes = 36;
constexpr size_t kLocationBytes = 256;

// Sends one miniport request whose header carries the given signature; the Win32 error of a
// failed call, else 0 with *returned set.
DWORD MiniportRequest(HANDLE device, const char *signature, uint32_t timeout, uint8_t *buffer, uint32_t size,
                      DWORD *returned)
{
    CSMI_IOCTL_HEADER header{};
    header.HeaderLength = CSMI_HEADER_SIZE;
    std::memcpy(header.Signature, signature, std::strlen(signature));
    header.Timeout = timeout;
    header.ControlCode = 2;
    header.ReturnCode = 0;
    header.Length = size - CSMI_HEADER_SIZE;
    std::memcpy(buffer, &header, sizeof header);
    *returned = 0;
    if (!StoragePlatform().DeviceControl(device, IOCTL_SCSI_MINIPORT_CODE, buffer, size, buffer, size, returned)) {
        const DWORD error = GetLastError();
        return error != 0 ? error : ERROR_GEN_FAILURE;
    }
    return 0;
}

bool EqualNoCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && _strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// The instance name of the FCoE adapter object that carries the port's node and port WWNs. A
// port without either WWN has no such object.
bool FindFcoeInstance(const FC_PORT_RECORD &port, std::string *instanceName)
{
    if (port.NodeWwn.empty() || port.PortWwn.empty() || !s_WMIRootWmi)
        return false;
    CWMIEnumerator rows = s_WMIRootWmi->CreateInstanceEnum(L"BRCM_FCoEHBAAttributes");
    while (IWbemClassObject *object = rows.Next()) {
        std::string name;
        uint8_t node[kWmiWwnBytes], portWwn[kWmiWwnBytes];
        uint32_t nodeLength = sizeof node, portLength = sizeof portWwn;
        if (!GetWMIString(object, L"InstanceName", &name, false) ||
            !GetWMIByteArray(object, L"NodeWWN", node, &nodeLength, 0) ||
            !GetWMIByteArray(object, L"PortWWN", portWwn, &portLength, 0))
            continue;
        if (EqualNoCase(FcHexBytesText(node, nodeLength, kWmiWwnBytes), port.NodeWwn) &&
            EqualNoCase(FcHexBytesText(portWwn, portLength, kWmiWwnBytes), port.PortWwn)) {
            *instanceName = name;
            return true;
        }
    }
    return false;
}

// A number read from a location text (-1 for a missing word) against the low byte of a number
// asked for.
bool NamesLowByte(int number, unsigned asked)
{
    return number >= 0 && number == static_cast<int>(asked & 0xFF);
}

// The device node an instance name stands for.
bool LocateInstance(const std::string &instanceName, DEVINST *node)
{
    std::string deviceId;
    if (!FcInstanceDeviceId(instanceName.c_str(), instanceName.size(), &deviceId))
        return false;
    return StoragePlatform().LocateDevNode(node, deviceId.c_str(), CM_LOCATE_DEVNODE_NORMAL) == CR_SUCCESS;
}

} // namespace

int CFCHBA_API::GetCsmiControllerType(FC_PORT_RECORD *port)
{
    uint8_t buffer[FC_CSMI_BUFFER_SIZE] = {};
    DWORD returned = 0;
    if (MiniportRequest(port->Device, "ZDTCSMI", 60, buffer, sizeof buffer, &returned) != 0)
        return 0;
    uint32_t returnCode = 0;
    std::memcpy(&returnCode, buffer + offsetof(CSMI_IOCTL_HEADER, ReturnCode), sizeof returnCode);
    const size_t replied = returned < sizeof buffer ? returned : sizeof buffer;
    FC_CSMI_CONFIG config;
    if (returnCode != 0 || replied < FC_MINIPORT_HEADER_SIZE ||
        !DecodeFcCsmiConfig(buffer + FC_MINIPORT_HEADER_SIZE, replied - FC_MINIPORT_HEADER_SIZE, &config))
        return 0;
    port->Config = config;
    if (config.ControllerClass == 3) {
        port->ControllerType = config.BoardId == FC_BOARD_CSMI_TYPE4_A || config.BoardId == FC_BOARD_CSMI_TYPE4_B
                                   ? FC_CONTROLLER_CSMI_SLOT
                                   : FC_CONTROLLER_CSMI;
        return 1;
    }
    if (config.ControllerClass == 4) {
        port->ControllerType = FC_CONTROLLER_CSMI_CLASS4;
        return 1;
    }
    return 0;
}

LONG CFCHBA_API::OpenPortDevice(FC_PORT_RECORD *port)
{
    const std::string path = FcFieldText(port->Attributes.OSDeviceName, kOsDeviceNameChars);
    port->Device = StoragePlatform().OpenDevice(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    if (port->Device == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error != 0 ? static_cast<LONG>(error) : -1;
    }
    if (GetCsmiControllerType(port))
        return 0;
    port->ControllerType = FC_CONTROLLER_DRIVER;
    std::string instance;
    DEVINST node = 0;
    if (!FindFcoeInstance(*port, &instance) || !LocateInstance(instance, &node))
        return 0;
    char location[kLocationBytes + 1] = {};
    ULONG type = 0;
    ULONG length = kLocationBytes;
    if (StoragePlatform().GetDevNodeRegistryProperty(node, CM_DRP_LOCATION_INFORMATION, &type, location, &length, 0) !=
        CR_SUCCESS)
        return 0;
    const PCI_LOCATION parsed = ParseLocationText(location, kLocationBytes);
    port->Config.Bus = static_cast<uint8_t>(parsed.Bus);
    port->Config.Device = static_cast<uint8_t>(parsed.Device);
    port->Config.Function = static_cast<uint8_t>(parsed.Function);
    return 0;
}

LONG CFCHBA_API::FindUiNumber(unsigned bus, unsigned device, unsigned function, int32_t *uiNumber)
{
    // Every present device, whatever enumerated it: an FC function may sit behind a bus driver of
    // its own. A location without one of the three words names no PCI function.
    std::vector<std::string> ids;
    if (!StorageDeviceIds(nullptr, CM_GETIDLIST_FILTER_PRESENT, &ids))
        return ERROR_INVALID_DATA;
    IStoragePlatform &platform = StoragePlatform();
    for (const std::string &id : ids) {
        DEVINST node = 0;
        if (platform.LocateDevNode(&node, id.c_str(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
            continue;
        char location[kLocationBytes + 1] = {};
        ULONG type = 0;
        ULONG length = kLocationBytes;
        if (platform.GetDevNodeRegistryProperty(node, CM_DRP_LOCATION_INFORMATION, &type, location, &length, 0) !=
            CR_SUCCESS)
            continue;
        // The numbers as the text gives them against the low bytes asked for: a location that
        // names bus 261 is not bus 5.
        const PCI_LOCATION found = ParseLocationText(location, kLocationBytes, -1);
        if (!NamesLowByte(found.Bus, bus) || !NamesLowByte(found.Device, device) ||
            !NamesLowByte(found.Function, function))
            continue;
        uint32_t number = 0;
        length = sizeof number;
        if (platform.GetDevNodeRegistryProperty(node, CM_DRP_UI_NUMBER, &type, &number, &length, 0) != CR_SUCCESS)
            number = 0;
        *uiNumber = static_cast<int32_t>(number);
        return 0;
    }
    return ERROR_INVALID_DATA;
}

LONG CFCHBA_API::getHBAPCISlot(FC_ADAPTER_RECORD *adapter, FC_PORT_RECORD *port)
{
    LONG result = OpenPortDevice(port);
    if (result != 0)
        return result;
    LOG_INFO(L"CFCHBA_API::getHBAPCISlot", L"Controller Type: %d", static_cast<int>(port->ControllerType));
    result = -1;
    if (port->ControllerType == FC_CONTROLLER_DRIVER || port->ControllerType == FC_CONTROLLER_CSMI_SLOT) {
        LOG_VERBOSE(L"CFCHBA_API::getHBAPCISlot", L"Sending driver ioctl to get slot data.");
        uint8_t buffer[FC_FCMP_BUFFER_SIZE] = {};
        DWORD returned = 0;
        const DWORD error = MiniportRequest(port->Device, "FCM&P", 10, buffer, sizeof buffer, &returned);
        const size_t replied = returned < sizeof buffer ? returned : sizeof buffer;
        FC_FCMP_REPLY reply;
        int32_t slot = -1;
        bool found = false;
        uint32_t boardId = 0;
        if (error == 0 && replied >= FC_MINIPORT_HEADER_SIZE &&
            DecodeFcmpReply(buffer + FC_MINIPORT_HEADER_SIZE, replied - FC_MINIPORT_HEADER_SIZE, &reply)) {
            boardId = reply.BoardId;
            slot = 255;
            int32_t ui = 0;
            if (reply.LocationKind == 3 && FindUiNumber(reply.Bus, reply.Device, reply.Function, &ui) == 0)
                slot = ui % 100;
            found = true;
        } else {
            LOG_VERBOSE(L"CFCHBA_API::getHBAPCISlot", L"IOCTL_SCSI_MINIPORT returned %d", static_cast<int>(error));
            LOG_VERBOSE(L"CFCHBA_API::getHBAPCISlot", L"Retrieving slot data via WMI class and Registry.");
            std::string instance;
            DEVINST node = 0;
            // An instance whose name carries no board id describes no adapter this layer can
            // name, so it matches nothing.
            if (FindFcoeInstance(*port, &instance) && FcInstanceBoardId(instance.c_str(), instance.size(), &boardId) &&
                LocateInstance(instance, &node)) {
                uint32_t ui = 0;
                ULONG type = 0;
                ULONG length = sizeof ui;
                if (StoragePlatform().GetDevNodeRegistryProperty(node, CM_DRP_UI_NUMBER, &type, &ui, &length, 0) !=
                    CR_SUCCESS)
                    ui = 0;
                slot = static_cast<int32_t>(ui);
                found = true;
            }
        }
        adapter->Slot = slot;
        if (found) {
            adapter->Attributes.VendorSpecificID = boardId;
            m_BoardId = boardId;
            result = 0;
        }
        LOG_VERBOSE(L"CFCHBA_API::getHBAPCISlot", L"PCISlot: %d VendorSpecificID: 0x%X", static_cast<int>(slot),
                    adapter->Attributes.VendorSpecificID);
    } else if ((port->ControllerType == FC_CONTROLLER_CSMI_CLASS4 || port->ControllerType == FC_CONTROLLER_CSMI) &&
               port->Config.IoBusType == 3) {
        adapter->Attributes.VendorSpecificID = port->Config.BoardId;
        m_BoardId = port->Config.BoardId;
        int32_t ui = -1;
        if (FindUiNumber(port->Config.Bus, port->Config.Device, port->Config.Function, &ui) == 0 && ui != -1) {
            adapter->Slot = ui;
            result = 0;
        }
    }
    StoragePlatform().CloseDevice(port->Device);
    port->Device = INVALID_HANDLE_VALUE;
    return result;
}
