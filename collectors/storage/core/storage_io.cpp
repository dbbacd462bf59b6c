#include "storage_io.h"

#include "location_text.h"
#include "storage_platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

DWORD s_PageSize = 0;

uint32_t LoadU32(const void *buffer, size_t offset)
{
    uint32_t value;
    std::memcpy(&value, static_cast<const uint8_t *>(buffer) + offset, sizeof value);
    return value;
}

uint8_t LoadU8(const void *buffer, size_t offset) { return static_cast<const uint8_t *>(buffer)[offset]; }

int SendCsmi(HANDLE port, uint32_t controlCode, void *buffer, uint32_t size, DWORD *returned)
{
    if (size < CSMI_HEADER_SIZE)
        return ERROR_INVALID_PARAMETER;
    auto *header = static_cast<CSMI_IOCTL_HEADER *>(buffer);
    header->Timeout = CSMI_DEFAULT_TIMEOUT;
    header->ReturnCode = 0;
    header->Length = size - CSMI_HEADER_SIZE;
    DWORD ignored = 0;
    return CsmiIoctl(port, controlCode, buffer, size, returned ? returned : &ignored);
}

// The data length of a pass-through request, with its frame, as the buffer size; false when the
// sum does not fit the 32-bit length of the call.
bool PassthroughSize(const void *buffer, size_t lengthOffset, uint32_t frame, uint32_t *size)
{
    uint32_t dataLength = LoadU32(buffer, lengthOffset);
    if (dataLength > 0xFFFFFFFFu - frame)
        return false;
    *size = dataLength + frame;
    return true;
}

// The PCI device IDs of the configuration manager, as a list of texts; false when the
// configuration manager fails.
bool PciDeviceIds(std::vector<std::string> *ids)
{
    return StorageDeviceIds("PCI", CM_GETIDLIST_FILTER_ENUMERATOR, ids);
}

bool ReadTextProperty(DEVINST device, ULONG property, char *text, ULONG capacity)
{
    ULONG type = 0;
    ULONG length = capacity;
    std::memset(text, 0, capacity);
    if (StoragePlatform().GetDevNodeRegistryProperty(device, property, &type, text, &length, 0) != CR_SUCCESS)
        return false;
    text[capacity - 1] = '\0';
    return true;
}

bool ReadLocation(DEVINST device, PCI_LOCATION *location)
{
    char text[1024];
    if (!ReadTextProperty(device, CM_DRP_LOCATION_INFORMATION, text, sizeof text))
        return false;
    *location = ParseLocationText(text, std::strlen(text));
    return true;
}

} // namespace

bool StorageDeviceIds(const char *filter, ULONG flags, std::vector<std::string> *ids)
{
    IStoragePlatform &platform = StoragePlatform();
    ULONG size = 0;
    if (platform.GetDeviceIdListSize(&size, filter, flags) != CR_SUCCESS || size == 0)
        return false;
    std::vector<char> list(static_cast<size_t>(size) + 2, '\0');
    if (platform.GetDeviceIdList(filter, list.data(), size, flags) != CR_SUCCESS)
        return false;
    // The list ends at an empty text; the two extra NULs end it even when the reply does not.
    for (size_t at = 0; at < size && list[at] != '\0';) {
        std::string id(list.data() + at);
        at += id.size() + 1;
        ids->push_back(std::move(id));
    }
    return true;
}

const char *CsmiSignature(uint32_t controlCode)
{
    if (controlCode >= 1 && controlCode <= 4)
        return "CSMIALL";
    if (controlCode >= 10 && controlCode <= 15)
        return "CSMIARY";
    if (controlCode >= 20 && controlCode <= 36)
        return "CSMISAS";
    if (controlCode == 60)
        return "CSMIPHY";
    return nullptr;
}

int CsmiIoctl(HANDLE port, uint32_t controlCode, void *buffer, uint32_t size, DWORD *returned)
{
    if (buffer == nullptr || size < CSMI_HEADER_SIZE)
        return ERROR_INVALID_PARAMETER;
    auto *header = static_cast<CSMI_IOCTL_HEADER *>(buffer);
    if (const char *signature = CsmiSignature(controlCode)) {
        std::memset(header->Signature, 0, sizeof header->Signature);
        std::memcpy(header->Signature, signature, std::strlen(signature));
    }
    header->HeaderLength = CSMI_HEADER_SIZE;
    header->ControlCode = controlCode;
    DWORD ignored = 0;
    if (!StoragePlatform().DeviceControl(port, IOCTL_SCSI_MINIPORT_CODE, buffer, size, buffer, size,
                                         returned ? returned : &ignored))
        return static_cast<int>(GetLastError());
    return header->ReturnCode != 0 ? CSMI_RETURN_CODE_FAILED : 0;
}

int CsmiGetControllerConfig(HANDLE port, void *buffer)
{
    return SendCsmi(port, CSMI_CC_GET_CNTLR_CONFIG, buffer, CSMI_CNTLR_CONFIG_BUFFER_SIZE, nullptr);
}
int CsmiGetControllerStatus(HANDLE port, void *buffer)
{
    return SendCsmi(port, CSMI_CC_GET_CNTLR_STATUS, buffer, CSMI_CNTLR_STATUS_BUFFER_SIZE, nullptr);
}
int CsmiGetRaidInfo(HANDLE port, void *buffer)
{
    return SendCsmi(port, CSMI_CC_GET_RAID_INFO, buffer, CSMI_RAID_INFO_BUFFER_SIZE, nullptr);
}
int CsmiGetRaidConfig(HANDLE port, void *buffer, uint32_t size)
{
    return SendCsmi(port, CSMI_CC_GET_RAID_CONFIG, buffer, size, nullptr);
}
int CsmiGetPhyInfo(HANDLE port, void *buffer)
{
    return SendCsmi(port, CSMI_CC_GET_PHY_INFO, buffer, CSMI_PHY_INFO_BUFFER_SIZE, nullptr);
}

int CsmiSmpPassthrough(HANDLE port, void *buffer)
{
    int result = SendCsmi(port, CSMI_CC_SMP_PASSTHRU, buffer, CSMI_SMP_BUFFER_SIZE, nullptr);
    if (result != 0)
        return result;
    if (LoadU8(buffer, CSMI_SMP_CONNECTION_STATUS_OFFSET) != 0 || LoadU8(buffer, CSMI_SMP_FUNCTION_RESULT_OFFSET) != 0)
        return CSMI_PASSTHROUGH_FAILED;
    return 0;
}

int CsmiSspPassthrough(HANDLE port, void *buffer, uint32_t *dataReturned)
{
    uint32_t size = 0;
    if (!PassthroughSize(buffer, CSMI_SSP_DATA_LENGTH_OFFSET, CSMI_SSP_FRAME_SIZE, &size))
        return ERROR_INVALID_PARAMETER;
    DWORD returned = 0;
    int result = SendCsmi(port, CSMI_CC_SSP_PASSTHRU, buffer, size, &returned);
    if (result != 0)
        return result;
    if (LoadU8(buffer, CSMI_SSP_CONNECTION_STATUS_OFFSET) != 0 || LoadU8(buffer, CSMI_SSP_SCSI_STATUS_OFFSET) != 0)
        return CSMI_PASSTHROUGH_FAILED;
    // A driver that returns less than the frame has returned no data, not a negative amount.
    if (dataReturned)
        *dataReturned = returned > CSMI_SSP_FRAME_SIZE ? returned - CSMI_SSP_FRAME_SIZE : 0;
    return 0;
}

int CsmiStpPassthrough(HANDLE port, void *buffer, uint32_t *dataReturned)
{
    uint32_t size = 0;
    if (!PassthroughSize(buffer, CSMI_STP_DATA_LENGTH_OFFSET, CSMI_STP_FRAME_SIZE, &size))
        return ERROR_INVALID_PARAMETER;
    DWORD returned = 0;
    int result = SendCsmi(port, CSMI_CC_STP_PASSTHRU, buffer, size, &returned);
    if (result == 0 && dataReturned)
        *dataReturned = returned > CSMI_STP_FRAME_SIZE ? returned - CSMI_STP_FRAME_SIZE : 0;
    return result;
}

int CsmiGetScsiAddress(HANDLE port, void *buffer)
{
    return SendCsmi(port, CSMI_CC_GET_SCSI_ADDRESS, buffer, CSMI_SCSI_ADDRESS_BUFFER_SIZE, nullptr);
}
int CsmiGetConnectorInfo(HANDLE port, void *buffer)
{
    return SendCsmi(port, CSMI_CC_GET_CONNECTOR_INFO, buffer, CSMI_CONNECTOR_BUFFER_SIZE, nullptr);
}
int CsmiGetLocation(HANDLE port, void *buffer, uint32_t size)
{
    return SendCsmi(port, CSMI_CC_GET_LOCATION, buffer, size, nullptr);
}
int CsmiRequest32(HANDLE port, void *buffer)
{
    return SendCsmi(port, CSMI_CC_REQUEST_32, buffer, CSMI_REQUEST_32_BUFFER_SIZE, nullptr);
}
int CsmiRequest34(HANDLE port, void *buffer)
{
    return SendCsmi(port, CSMI_CC_REQUEST_34, buffer, CSMI_REQUEST_34_BUFFER_SIZE, nullptr);
}

int OpenScsiPort(unsigned portNumber, SCSI_PORT_RECORD *record)
{
    if (record == nullptr)
        return -1;
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\Scsi%u:", portNumber);
    record->Handle = StoragePlatform().OpenDevice(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  OPEN_EXISTING, 0);
    if (record->Handle == INVALID_HANDLE_VALUE)
        return static_cast<int>(GetLastError());
    return 0;
}

int GetPciSlotNumber(unsigned bus, unsigned device, unsigned function, uint32_t *slot)
{
    std::vector<std::string> ids;
    if (!PciDeviceIds(&ids))
        return ERROR_NOT_FOUND;
    IStoragePlatform &platform = StoragePlatform();
    for (const std::string &id : ids) {
        if (id.find("PCI\\VEN_") == std::string::npos)
            continue;
        DEVINST node = 0;
        if (platform.LocateDevNode(&node, id.c_str(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
            continue;
        PCI_LOCATION location;
        if (!ReadLocation(node, &location) || !LocationMatches(location, bus, device, function))
            continue;
        ULONG type = 0;
        uint32_t number = 0;
        ULONG length = sizeof number;
        if (platform.GetDevNodeRegistryProperty(node, CM_DRP_UI_NUMBER, &type, &number, &length, 0) != CR_SUCCESS)
            number = 0;
        if (slot)
            *slot = number;
        return 0;
    }
    return ERROR_NOT_FOUND;
}

int GetScsiPortPciLocation(uint8_t *bus, uint8_t *device, uint8_t *function, unsigned portNumber, unsigned ordinal)
{
    if (bus == nullptr || device == nullptr || function == nullptr)
        return ERROR_INVALID_DATA;
    *bus = *device = *function = 255;
    char keyPath[64];
    std::snprintf(keyPath, sizeof keyPath, "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %d", static_cast<int>(portNumber));
    char driver[257] = {};
    DWORD size = 256;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, keyPath, "Driver", RRF_RT_REG_SZ, nullptr, driver, &size) != ERROR_SUCCESS)
        return 0;
    driver[256] = '\0';
    std::vector<std::string> ids;
    if (!PciDeviceIds(&ids))
        return 0;
    IStoragePlatform &platform = StoragePlatform();
    unsigned counted = 0;
    for (const std::string &id : ids) {
        if (id.find("PCI\\VEN_") == std::string::npos)
            continue;
        DEVINST node = 0;
        if (platform.LocateDevNode(&node, id.c_str(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
            continue;
        char service[257];
        if (!ReadTextProperty(node, CM_DRP_SERVICE, service, sizeof service) || _stricmp(service, driver) != 0)
            continue;
        if (counted++ != ordinal)
            continue;
        PCI_LOCATION location;
        if (ReadLocation(node, &location)) {
            *bus = static_cast<uint8_t>(location.Bus);
            *device = static_cast<uint8_t>(location.Device);
            *function = static_cast<uint8_t>(location.Function);
        }
        break;
    }
    return 0;
}

int ReadPhysicalMemory(uint64_t address, uint32_t length, void *destination)
{
    if (s_PageSize == 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        s_PageSize = info.dwPageSize ? info.dwPageSize : 4096;
    }
    uint64_t base = address - address % s_PageSize;
    uint64_t offset = address - base;
    IStoragePlatform &platform = StoragePlatform();
    HANDLE section = nullptr;
    if (platform.OpenPhysicalMemory(&section) < 0)
        return 1;
    const void *view = nullptr;
    if (platform.MapPhysicalMemory(section, base, static_cast<SIZE_T>(offset + length), &view) < 0 || view == nullptr) {
        platform.CloseDevice(section);
        return 1;
    }
    std::memcpy(destination, static_cast<const uint8_t *>(view) + offset, length);
    platform.UnmapPhysicalMemory(view);
    platform.CloseDevice(section);
    return 0;
}

DWORD SasAlloc(size_t size, void **pointer)
{
    *pointer = std::calloc(size ? size : 1, 1);
    if (*pointer != nullptr)
        return 0;
    // Callers take 0 for success, so a failed allocation never reports 0 even when the thread's
    // last error happens to be clear.
    DWORD error = GetLastError();
    return error != 0 ? error : ERROR_NOT_ENOUGH_MEMORY;
}

void SasFree(void *pointer)
{
    if (pointer != nullptr)
        std::free(pointer);
}

void ResetPageSizeForTest() { s_PageSize = 0; }
