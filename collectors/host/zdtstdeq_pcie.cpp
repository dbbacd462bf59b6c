// PCIe disk discovery through WMI, the storage I/O controls of each disk, the registry and the
// SMBIOS table. Every device request goes through the storage platform seam.
#include "zdtstdeq_pcie.h"

#include "byte_reader.h"
#include "smbios_table.h"
#include "storage_platform.h"
#include "text_helpers.h"
#include "wmi.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kQueryProperty = 0x2D1400;
constexpr uint32_t kAdapterProtocolSpecificProperty = 49;
constexpr uint32_t kStorageDeviceProperty = 0;
constexpr uint32_t kStorageAdapterProperty = 1;
constexpr uint32_t kProtocolTypeNvme = 3;
constexpr uint32_t kNvmeDataTypeIdentify = 1;
constexpr uint32_t kNvmeDataTypeLogPage = 2;
constexpr uint32_t kIdentifyControllerValue = 1;
constexpr uint32_t kHealthLogPage = 2;
// The query (8 bytes), the protocol-specific data (40 bytes) and the data.
constexpr size_t kProtocolQueryHeader = 8;
constexpr size_t kProtocolDataOffset = 40;
constexpr size_t kProtocolBufferBytes = kProtocolQueryHeader + kProtocolDataOffset + 4096;
constexpr DWORD kDefaultPassThroughTimeout = 10;
constexpr char kParametersKey[] = "System\\CurrentControlSet\\Services\\qzrtlm\\Parameters";
constexpr DWORD kLocationBytes = 256;
constexpr size_t kDevicePathCount = 256;

// "\\.\" before a text, cut to 255 characters as the fixed formatting buffer cuts it.
std::string DevicePath(const char *text)
{
    char path[FORMAT_BUFFER_BYTES];
    FormatBuffer256(path, kDevicePathCount, "\\\\.\\%s", text ? text : "");
    return path;
}

// One NVMe protocol request; false when the disk cannot be opened or the request fails.
bool NvmeQuery(const char *diskPath, uint32_t dataType, uint32_t value, uint32_t subValue, uint8_t *buffer,
               size_t keep)
{
    std::memset(buffer, 0, keep);
    HANDLE disk = StoragePlatform().OpenDevice(diskPath, GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    if (disk == INVALID_HANDLE_VALUE)
        return false;
    std::vector<uint8_t> request(kProtocolBufferBytes, 0);
    PutU32(&request[0], kAdapterProtocolSpecificProperty);
    PutU32(&request[8], kProtocolTypeNvme);
    PutU32(&request[12], dataType);
    PutU32(&request[16], value);
    PutU32(&request[20], subValue);
    PutU32(&request[24], kProtocolDataOffset);
    PutU32(&request[28], 4096);
    DWORD returned = 0;
    const BOOL done = StoragePlatform().DeviceControl(disk, kQueryProperty, request.data(),
                                                      static_cast<DWORD>(request.size()), request.data(),
                                                      static_cast<DWORD>(request.size()), &returned);
    if (done)
        std::memcpy(buffer, &request[kProtocolQueryHeader + kProtocolDataOffset], keep);
    StoragePlatform().CloseDevice(disk);
    return done != FALSE;
}

// One storage property query into out (outSize bytes, zeroed first). A refusal that only says
// the property or the size is not offered (234, 1, 50) leaves the output zeroed and counts as
// done; any other failure does not.
bool QueryDescriptor(HANDLE device, uint32_t property, uint8_t *out, DWORD outSize)
{
    uint8_t query[12] = {};
    PutU32(query, property);
    if (outSize != 0)
        std::memset(out, 0, outSize);
    DWORD returned = 0;
    if (StoragePlatform().DeviceControl(device, kQueryProperty, query, sizeof query, out, outSize, &returned))
        return true;
    const DWORD error = GetLastError();
    if (outSize != 0)
        std::memset(out, 0, outSize);
    return error == ERROR_MORE_DATA || error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED;
}

// The header, then the whole descriptor of the size the header gives (capped: the size is the
// device's word). Null buffer when the size is 0.
bool QueryWholeDescriptor(HANDLE device, uint32_t property, uint8_t **descriptor, DWORD *size)
{
    *descriptor = nullptr;
    *size = 0;
    uint8_t header[8];
    if (!QueryDescriptor(device, property, header, sizeof header))
        return false;
    DWORD wanted = DescriptorSize(header, sizeof header);
    if (wanted > kMaxDescriptorBytes)
        wanted = kMaxDescriptorBytes;
    if (wanted == 0)
        return true;
    *descriptor = static_cast<uint8_t *>(LocalAlloc(LPTR, wanted));
    if (*descriptor == nullptr)
        return false;
    *size = wanted;
    return QueryDescriptor(device, property, *descriptor, wanted);
}

void FreeDescriptor(uint8_t *descriptor)
{
    if (descriptor != nullptr)
        LocalFree(descriptor);
}

// Lower-cased, with doubled backslashes made single past the first position.
std::string Collapsed(const std::string &text)
{
    std::string lower = LowerText(text);
    CollapseRepeatedSeparator(&lower, "\\");
    return lower;
}

std::string Text(IWbemClassObject *object, const wchar_t *name, bool convert = false)
{
    std::string value;
    if (!GetWMIString(object, name, &value, convert))
        value.clear();
    return value;
}

// The status of the first SCSI controller whose PnP device ID holds the controller's device ID.
std::string ControllerStatus(const std::string &controllerId)
{
    CWMIEnumerator controllers = s_WMICimV2->CreateInstanceEnum(L"Win32_SCSIController");
    while (IWbemClassObject *controller = controllers.Next()) {
        if (LowerText(Text(controller, L"PNPDeviceID")).find(controllerId) != std::string::npos)
            return Text(controller, L"Status");
    }
    return {};
}

// Finds the disk's controller through Win32_SCSIControllerDevice; false when the controller is
// one of the maker's own, whose disks are not listed.
bool FindController(PCIE_DISK_INFO *disk)
{
    const std::string pnp = Collapsed(disk->PnpDeviceId);
    CWMIEnumerator associations = s_WMICimV2->CreateInstanceEnum(L"Win32_SCSIControllerDevice");
    while (IWbemClassObject *association = associations.Next()) {
        if (Collapsed(Text(association, L"Dependent")).find(pnp) == std::string::npos)
            continue;
        const std::optional<std::string> controller = ControllerIdFromAntecedent(Text(association, L"Antecedent"));
        if (!controller)
            return true;
        const std::optional<uint32_t> subsystem = ControllerSubsystem(*controller);
        if (subsystem && IsExcludedPcieSubsystem(*subsystem))
            return false;
        disk->ControllerId = *controller;
        disk->ControllerStatus = ControllerStatus(*controller);
        GetPcieDiskLocation(disk);
        return true;
    }
    return true;
}

} // namespace

bool GetNvmeIdentifyController(const char *diskPath, uint8_t *buffer)
{
    return NvmeQuery(diskPath, kNvmeDataTypeIdentify, kIdentifyControllerValue, 0, buffer, kNvmeIdentifyBytes);
}

bool GetNvmeHealthLog(const char *diskPath, uint8_t *buffer)
{
    // Some drivers take the log only for the whole namespace set.
    return NvmeQuery(diskPath, kNvmeDataTypeLogPage, kHealthLogPage, 0, buffer, kNvmeHealthLogBytes) ||
           NvmeQuery(diskPath, kNvmeDataTypeLogPage, kHealthLogPage, 0xFFFFFFFF, buffer, kNvmeHealthLogBytes);
}

DWORD GetScsiPassThroughTimeout()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return kDefaultPassThroughTimeout;
    DWORD value = 0, type = 0, size = sizeof value;
    const LONG read = RegQueryValueExA(key, "SCSIPassthroughTimeout", nullptr, &type,
                                       reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value ? value : kDefaultPassThroughTimeout;
}

bool GetStorageAdapterInfo(HANDLE device, uint32_t *alignmentMask, uint32_t *srbType)
{
    *alignmentMask = 0;
    *srbType = 0;
    uint8_t *adapter = nullptr, *deviceDescriptor = nullptr;
    DWORD adapterSize = 0, deviceSize = 0;
    const bool done = QueryWholeDescriptor(device, kStorageAdapterProperty, &adapter, &adapterSize) &&
                      QueryWholeDescriptor(device, kStorageDeviceProperty, &deviceDescriptor, &deviceSize);
    if (done && adapter != nullptr) {
        const STORAGE_ADAPTER_INFO info = ParseAdapterDescriptor(adapter, adapterSize);
        *alignmentMask = info.AlignmentMask;
        *srbType = info.SrbType;
    }
    FreeDescriptor(adapter);
    FreeDescriptor(deviceDescriptor);
    return done;
}

DWORD ScsiPassThrough(const char *path, const uint8_t cdb[10], uint8_t *data, int *size)
{
    const DWORD timeout = GetScsiPassThroughTimeout();
    HANDLE device = StoragePlatform().OpenDevice(path, GENERIC_READ | GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    if (device == INVALID_HANDLE_VALUE)
        return GetLastError();
    uint32_t alignmentMask = 0, srbType = 0;
    if (!GetStorageAdapterInfo(device, &alignmentMask, &srbType)) {
        const DWORD error = GetLastError();
        StoragePlatform().CloseDevice(device);
        return error != 0 ? error : ERROR_GEN_FAILURE;
    }
    alignas(16) uint8_t request[kPassThroughBufferBytes];
    BuildPassThrough(srbType, cdb, timeout, request);
    const PASS_THROUGH_FORM form = PassThroughForm(srbType);
    DWORD returned = 0;
    DWORD result = 0;
    if (!StoragePlatform().DeviceControl(device, form.ControlCode, request, form.InputBytes, request,
                                         form.OutputBytes, &returned))
        result = GetLastError();
    StoragePlatform().CloseDevice(device);
    if (request[form.StatusOffset] != 0)
        return ERROR_NOT_SUPPORTED;
    if (*size < static_cast<int>(kLogSenseBytes)) {
        *size = kLogSenseBytes;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memset(data, 0, static_cast<size_t>(*size));
    std::memcpy(data, request + form.DataOffset, kLogSenseBytes);
    return result;
}

DWORD GetSupportedLogPages(const char *deviceId, std::vector<uint8_t> *pages)
{
    const std::string path = DevicePath(deviceId);
    int size = 0;
    DWORD result = ScsiPassThrough(path.c_str(), kSupportedLogPagesCdb, nullptr, &size);
    std::vector<uint8_t> data;
    if (result == ERROR_INSUFFICIENT_BUFFER) {
        data.assign(static_cast<size_t>(size), 0);
        result = ScsiPassThrough(path.c_str(), kSupportedLogPagesCdb, data.data(), &size);
    }
    if (result == 0)
        ParseSupportedLogPages(data.data(), data.size(), pages);
    return result;
}

DWORD GetScsiTemperature(const char *deviceId, int32_t *temperature, int32_t *reference)
{
    *temperature = 0;
    *reference = 0;
    const std::string path = DevicePath(deviceId);
    std::vector<uint8_t> pages;
    if (GetSupportedLogPages(deviceId, &pages) != 0 ||
        std::find(pages.begin(), pages.end(), kTemperatureLogPage) == pages.end())
        return ERROR_NOT_SUPPORTED;
    int size = 0;
    DWORD result = ScsiPassThrough(path.c_str(), kTemperatureLogPageCdb, nullptr, &size);
    std::vector<uint8_t> data;
    if (result == ERROR_INSUFFICIENT_BUFFER) {
        data.assign(static_cast<size_t>(size), 0);
        result = ScsiPassThrough(path.c_str(), kTemperatureLogPageCdb, data.data(), &size);
    }
    if (result == 0)
        ParseTemperatureLogPage(data.data(), data.size(), temperature, reference);
    return result;
}

LONG GetPcieDiskLocation(PCIE_DISK_INFO *disk)
{
    disk->LocationText.clear();
    disk->Bus = disk->Device = disk->Function = -1;
    HKEY key = nullptr;
    const std::string path = "SYSTEM\\CurrentControlSet\\Enum\\" + disk->ControllerId;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (result != ERROR_SUCCESS)
        return result;
    char location[kLocationBytes + 1] = {};
    DWORD size = kLocationBytes, type = 0;
    result = RegQueryValueExA(key, "LocationInformation", nullptr, &type, reinterpret_cast<BYTE *>(location), &size);
    if (result == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ))
        ParsePcieLocation(location, size < kLocationBytes ? size : kLocationBytes, &disk->Bus, &disk->Device,
                          &disk->Function);
    if (s_SMBIOSTable && s_SMBIOSTable->IsValid())
        disk->LocationText = PcieDiskLocationText(*s_SMBIOSTable, disk->Bus, disk->Device, disk->Function);
    RegCloseKey(key);
    return result;
}

int EnumeratePcieDisks(std::vector<PCIE_DISK_INFO> *list)
{
    if (!s_WMICimV2)
        return 0;
    CWMIEnumerator disks = s_WMICimV2->CreateInstanceEnum(L"Win32_DiskDrive");
    std::vector<uint8_t> identify(kNvmeIdentifyBytes), health(kNvmeHealthLogBytes);
    while (IWbemClassObject *object = disks.Next()) {
        PCIE_DISK_INFO disk;
        const std::string pnp = Text(object, L"PNPDeviceID");
        int32_t index = 0;
        GetWMIInt32(object, L"Index", &index);
        char diskPath[64];
        snprintf(diskPath, sizeof diskPath, "\\\\.\\PhysicalDrive%d", index);
        if (!GetNvmeIdentifyController(diskPath, identify.data()))
            continue;
        disk.DeviceId = Text(object, L"DeviceID");
        // Index is a VT_I4: read as text, it needs the conversion.
        disk.DiskIndex = atoi(Text(object, L"Index", true).c_str());
        if (GetNvmeHealthLog(diskPath, health.data()))
            ApplyNvmeHealthLog(health.data(), health.size(), &disk);
        if (GetScsiTemperature(disk.DeviceId.c_str(), &disk.Temperature, &disk.ReferenceTemperature) != 0)
            continue;
        disk.SizeMb = static_cast<uint64_t>(_atoi64(Text(object, L"Size", true).c_str())) / 1048576;
        disk.PnpDeviceId = pnp;
        const NVME_IDENTITY id = ParseNvmeIdentify(identify.data(), identify.size());
        disk.FirmwareRevision = id.Firmware;
        disk.Model = id.Model;
        disk.SerialNumber = id.Serial;
        if (FindController(&disk))
            list->push_back(std::move(disk));
    }
    return 0;
}

std::string FormatUnsigned(uint32_t value)
{
    char text[64];
    snprintf(text, sizeof text, "%u", value);
    return text;
}
