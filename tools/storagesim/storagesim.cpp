#include "storagesim.h"
#include "sim_ata_disk.h"
#include "sim_sas_devices.h"
#include "sim_scsi_port.h"
#include "sim_xide_raid.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kMiniport = 0x4D008;
constexpr LONG kStatusSuccess = 0;
constexpr LONG kStatusUnsuccessful = static_cast<LONG>(0xC0000001);
constexpr LONG kStatusInvalidHandle = static_cast<LONG>(0xC0000008);
constexpr LONG kStatusInvalidDeviceRequest = static_cast<LONG>(0xC0000010);
constexpr LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023);
constexpr LONG kStatusObjectNameNotFound = static_cast<LONG>(0xC0000034);
constexpr LONG kStatusInvalidView = static_cast<LONG>(0xC0000019);

std::string Lower(const std::string &text)
{
    std::string lower(text);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// A device path as Windows resolves it: after "\\.\", empty and "." components go, so
// "\\.\\\.\PhysicalDrive1" (a device ID put after the prefix once more) opens
// "\\.\PhysicalDrive1". Lower case, as paths compare without case.
std::string DevicePathKey(const std::string &path)
{
    const std::string lower = Lower(path);
    static const std::string kPrefix = "\\\\.\\";
    if (lower.compare(0, kPrefix.size(), kPrefix) != 0)
        return lower;
    std::string key = kPrefix;
    size_t at = kPrefix.size();
    while (at <= lower.size()) {
        size_t end = lower.find('\\', at);
        if (end == std::string::npos)
            end = lower.size();
        const std::string part = lower.substr(at, end - at);
        if (!part.empty() && part != ".")
            key += (key.size() > kPrefix.size() ? "\\" : "") + part;
        at = end + 1;
    }
    return key;
}

LONG ToNtStatus(DWORD error)
{
    switch (error) {
    case 0:
        return kStatusSuccess;
    case ERROR_INVALID_HANDLE:
        return kStatusInvalidHandle;
    case ERROR_INVALID_FUNCTION:
        return kStatusInvalidDeviceRequest;
    case ERROR_INSUFFICIENT_BUFFER:
        return kStatusBufferTooSmall;
    default:
        return kStatusUnsuccessful;
    }
}

CONFIGRET CopyText(const std::string &text, void *buffer, ULONG *length, ULONG *type)
{
    if (type)
        *type = REG_SZ;
    ULONG needed = static_cast<ULONG>(text.size() + 1);
    if (buffer == nullptr || *length < needed) {
        *length = needed;
        return CR_BUFFER_SMALL;
    }
    std::memcpy(buffer, text.c_str(), needed);
    *length = needed;
    return CR_SUCCESS;
}

} // namespace

StorageSim::StorageSim() = default;

StorageSim::~StorageSim()
{
    for (unsigned port : m_DeviceMapPorts) {
        char key[64];
        std::snprintf(key, sizeof key, "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %u", port);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
    }
}

void StorageSim::AddDevice(const std::string &path, std::shared_ptr<SimDevice> device)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    m_Devices[DevicePathKey(path)] = std::move(device);
}

std::shared_ptr<SimScsiPort> StorageSim::AddScsiPort(unsigned port, const char *driver)
{
    auto device = std::make_shared<SimScsiPort>();
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\Scsi%u:", port);
    AddDevice(path, device);
    if (driver)
        SetDeviceMapDriver(port, driver);
    return device;
}

std::shared_ptr<SimPhysicalDrive> StorageSim::AddPhysicalDrive(unsigned number, uint8_t port, uint8_t path,
                                                               uint8_t target, uint8_t lun)
{
    auto drive = std::make_shared<SimPhysicalDrive>();
    drive->PortNumber = port;
    drive->PathId = path;
    drive->TargetId = target;
    drive->Lun = lun;
    char name[40];
    std::snprintf(name, sizeof name, "\\\\.\\PhysicalDrive%u", number);
    AddDevice(name, drive);
    return drive;
}

int StorageSim::AddPciDevice(SimPciDevice device)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    m_Pci.push_back(std::move(device));
    return static_cast<int>(m_Pci.size()) - 1;
}

void StorageSim::SetDeviceMapDriver(unsigned port, const char *driver)
{
    char path[64];
    std::snprintf(path, sizeof path, "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %u", port);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "Driver", 0, REG_SZ, reinterpret_cast<const BYTE *>(driver),
                   static_cast<DWORD>(std::strlen(driver) + 1));
    RegCloseKey(key);
    std::lock_guard<std::mutex> hold(m_Lock);
    if (std::find(m_DeviceMapPorts.begin(), m_DeviceMapPorts.end(), port) == m_DeviceMapPorts.end())
        m_DeviceMapPorts.push_back(port);
}

void StorageSim::AddMemoryWindow(uint64_t address, std::vector<uint8_t> bytes)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    m_Memory[address] = std::move(bytes);
}

void StorageSim::AddFault(SimFault fault)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    fault.Path = DevicePathKey(fault.Path);
    m_Faults.push_back(std::move(fault));
}

std::vector<SimRequest> StorageSim::Requests() const
{
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_Requests;
}

void StorageSim::ForgetHistory()
{
    std::lock_guard<std::mutex> hold(m_Lock);
    m_Requests.clear();
    std::erase_if(m_Handles, [](const auto &entry) { return !entry.second.Open; });
    // What the devices recorded of the requests they saw.
    for (const auto &[path, device] : m_Devices) {
        if (auto *port = dynamic_cast<SimScsiPort *>(device.get()))
            port->PassThroughAddresses.clear();
        else if (auto *disk = dynamic_cast<SimAtaDisk *>(device.get()))
            disk->Commands.clear();
        else if (auto *scsi = dynamic_cast<SimScsiDisk *>(device.get()))
            scsi->Commands.clear();
        else if (auto *raid = dynamic_cast<SimXideRaid *>(device.get())) {
            raid->Codes.clear();
            for (const auto &member : raid->Disks)
                if (member)
                    member->Commands.clear();
        }
    }
}

size_t StorageSim::CountRequests(DWORD code, uint32_t csmiCode) const
{
    std::lock_guard<std::mutex> hold(m_Lock);
    return static_cast<size_t>(std::count_if(m_Requests.begin(), m_Requests.end(), [&](const SimRequest &request) {
        return request.Code == code && (csmiCode == 0 || request.CsmiCode == csmiCode);
    }));
}

std::vector<std::string> StorageSim::OpenHandles() const
{
    std::lock_guard<std::mutex> hold(m_Lock);
    std::vector<std::string> open;
    for (const auto &[value, handle] : m_Handles) {
        if (handle.Open)
            open.push_back(handle.Path);
    }
    return open;
}

size_t StorageSim::DoubleCloses() const
{
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_DoubleCloses;
}

size_t StorageSim::UnknownHandleUses() const
{
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_UnknownHandles;
}

size_t StorageSim::OpenAttempts() const
{
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_OpenAttempts;
}

DWORD StorageSim::LastOpenFlags() const
{
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_LastOpenFlags;
}

size_t StorageSim::OpenCount() const
{
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_Opens;
}

SimFault *StorageSim::MatchFault(const std::string &path, DWORD code, uint32_t csmiCode, bool open)
{
    for (SimFault &fault : m_Faults) {
        if (fault.Times == 0 || (fault.What == SimFault::Kind::OpenError) != open)
            continue;
        if (!fault.Path.empty() && fault.Path != path)
            continue;
        if (!open && ((fault.Code != 0 && fault.Code != code) || (fault.CsmiCode != 0 && fault.CsmiCode != csmiCode)))
            continue;
        if (fault.Times > 0)
            --fault.Times;
        return &fault;
    }
    return nullptr;
}

HANDLE StorageSim::OpenDevice(const char *path, DWORD, DWORD, DWORD, DWORD flags)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    ++m_OpenAttempts;
    std::string key = DevicePathKey(path ? path : "");
    if (SimFault *fault = MatchFault(key, 0, 0, true)) {
        SetLastError(fault->Error);
        return INVALID_HANDLE_VALUE;
    }
    auto found = m_Devices.find(key);
    if (found == m_Devices.end()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    uintptr_t value = m_NextHandle;
    m_NextHandle += 4;
    m_Handles[value] = {key, found->second, true, (flags & FILE_FLAG_NO_BUFFERING) != 0};
    m_LastOpenFlags = flags;
    ++m_Opens;
    return reinterpret_cast<HANDLE>(value);
}

BOOL StorageSim::ReadDevice(HANDLE device, void *buffer, DWORD size, DWORD *read)
{
    std::shared_ptr<SimDevice> target;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        auto found = m_Handles.find(reinterpret_cast<uintptr_t>(device));
        if (found == m_Handles.end() || !found->second.Open || !found->second.Device) {
            ++m_UnknownHandles;
            *read = 0;
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        target = found->second.Device;
        const DWORD sector = target->SectorBytes();
        if (found->second.Unbuffered && sector != 0 &&
            (reinterpret_cast<uintptr_t>(buffer) % sector != 0 || size % sector != 0)) {
            *read = 0;
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    const DWORD error = target->Read(buffer, size, read);
    SetLastError(error);
    return error == 0;
}

DWORD StorageSim::Dispatch(HANDLE device, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize,
                           DWORD *returned, bool native)
{
    std::unique_lock<std::mutex> hold(m_Lock);
    *returned = 0;
    SimRequest request;
    request.Code = code;
    request.InSize = inSize;
    request.OutSize = outSize;
    request.Native = native;
    auto found = m_Handles.find(reinterpret_cast<uintptr_t>(device));
    if (found == m_Handles.end() || !found->second.Open || !found->second.Device) {
        ++m_UnknownHandles;
        request.Result = ERROR_INVALID_HANDLE;
        m_Requests.push_back(request);
        return ERROR_INVALID_HANDLE;
    }
    request.Path = found->second.Path;
    if (code == kMiniport && in != nullptr && inSize >= 20)
        std::memcpy(&request.CsmiCode, static_cast<const uint8_t *>(in) + 16, 4);
    std::shared_ptr<SimDevice> target = found->second.Device;
    SimFault *fault = MatchFault(request.Path, code, request.CsmiCode, false);
    SimFault applied = fault ? *fault : SimFault{};
    DWORD result = 0;
    if (fault && applied.What == SimFault::Kind::Win32Error) {
        result = applied.Error;
    } else if (fault && applied.What == SimFault::Kind::ZeroTransfer) {
        *returned = 0;
    } else if (fault && applied.What == SimFault::Kind::RawReply) {
        *returned = CopyReply(applied.Raw, out, outSize);
    } else {
        // Models answer outside the server's lock: a model may be slow or call back.
        hold.unlock();
        result = target->Control(code, in, inSize, out, outSize, returned);
        hold.lock();
        if (result == 0 && fault && applied.What == SimFault::Kind::ReturnCode && outSize >= 24)
            std::memcpy(static_cast<uint8_t *>(out) + 20, &applied.ReturnCode, 4);
        if (result == 0 && fault && applied.What == SimFault::Kind::PatchBytes) {
            for (const auto &[offset, value] : applied.Patches) {
                if (offset < outSize)
                    static_cast<uint8_t *>(out)[offset] = value;
            }
        }
    }
    request.Result = result;
    m_Requests.push_back(request);
    return result;
}

BOOL StorageSim::DeviceControl(HANDLE device, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize,
                               DWORD *returned)
{
    DWORD count = 0;
    DWORD result = Dispatch(device, code, in, inSize, out, outSize, &count, false);
    if (returned)
        *returned = count;
    if (result != 0) {
        SetLastError(result);
        return FALSE;
    }
    return TRUE;
}

LONG StorageSim::NativeDeviceControl(HANDLE device, ULONG code, void *in, ULONG inSize, void *out, ULONG outSize,
                                     ULONG_PTR *information)
{
    DWORD count = 0;
    DWORD result = Dispatch(device, code, in, inSize, out, outSize, &count, true);
    if (information)
        *information = count;
    return ToNtStatus(result);
}

BOOL StorageSim::CloseDevice(HANDLE handle)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    auto found = m_Handles.find(reinterpret_cast<uintptr_t>(handle));
    if (found == m_Handles.end()) {
        ++m_UnknownHandles;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!found->second.Open) {
        ++m_DoubleCloses;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    found->second.Open = false;
    return TRUE;
}

LONG StorageSim::OpenPhysicalMemory(HANDLE *section)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    *section = nullptr;
    if (!m_PhysicalMemory)
        return kStatusObjectNameNotFound;
    uintptr_t value = m_NextHandle;
    m_NextHandle += 4;
    m_Handles[value] = {"\\device\\physicalmemory", nullptr, true};
    *section = reinterpret_cast<HANDLE>(value);
    return kStatusSuccess;
}

LONG StorageSim::MapPhysicalMemory(HANDLE section, uint64_t offset, SIZE_T viewSize, const void **view)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    *view = nullptr;
    auto found = m_Handles.find(reinterpret_cast<uintptr_t>(section));
    if (found == m_Handles.end() || !found->second.Open || found->second.Device) {
        ++m_UnknownHandles;
        return kStatusInvalidHandle;
    }
    m_LastMapOffset = offset;
    m_LastMapSize = viewSize;
    // The view shows every window that overlaps it; the rest reads as zero.
    std::vector<uint8_t> bytes(viewSize, 0);
    for (const auto &[address, window] : m_Memory) {
        uint64_t from = std::max<uint64_t>(address, offset);
        uint64_t to = std::min<uint64_t>(address + window.size(), offset + viewSize);
        if (from < to)
            std::memcpy(bytes.data() + (from - offset), window.data() + (from - address), static_cast<size_t>(to - from));
    }
    const void *data = bytes.data();
    m_Views[data] = std::move(bytes);
    *view = data;
    return kStatusSuccess;
}

LONG StorageSim::UnmapPhysicalMemory(const void *view)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_Views.erase(view) ? kStatusSuccess : kStatusInvalidView;
}

std::string StorageSim::PciIdList(const char *filter, ULONG flags) const
{
    std::string list;
    for (const SimPciDevice &device : m_Pci) {
        if ((flags & CM_GETIDLIST_FILTER_PRESENT) && !device.Present)
            continue;
        if ((flags & CM_GETIDLIST_FILTER_ENUMERATOR) && filter) {
            std::string prefix = Lower(filter) + "\\";
            if (Lower(device.DeviceId).compare(0, prefix.size(), prefix) != 0)
                continue;
        }
        list += device.DeviceId;
        list.push_back('\0');
    }
    list.push_back('\0');
    return list;
}

CONFIGRET StorageSim::GetDeviceIdListSize(ULONG *size, const char *filter, ULONG flags)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    *size = static_cast<ULONG>(PciIdList(filter, flags).size());
    return CR_SUCCESS;
}

CONFIGRET StorageSim::GetDeviceIdList(const char *filter, char *buffer, ULONG size, ULONG flags)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    std::string list = PciIdList(filter, flags);
    if (size < list.size())
        return CR_BUFFER_SMALL;
    std::memcpy(buffer, list.data(), list.size());
    return CR_SUCCESS;
}

const SimPciDevice *StorageSim::Node(DEVINST device) const
{
    return device >= 1 && device <= m_Pci.size() ? &m_Pci[device - 1] : nullptr;
}

CONFIGRET StorageSim::LocateDevNode(DEVINST *device, const char *deviceId, ULONG)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    std::string wanted = Lower(deviceId ? deviceId : "");
    for (size_t i = 0; i < m_Pci.size(); ++i) {
        if (Lower(m_Pci[i].DeviceId) == wanted && m_Pci[i].Locatable) {
            *device = static_cast<DEVINST>(i + 1);
            return CR_SUCCESS;
        }
    }
    return CR_NO_SUCH_DEVNODE;
}

namespace {

// A REG_DWORD property as the configuration manager answers it.
CONFIGRET CopyNumber(const std::optional<uint32_t> &value, void *buffer, ULONG *length, ULONG *type)
{
    if (!value)
        return CR_NO_SUCH_VALUE;
    if (type)
        *type = REG_DWORD;
    if (buffer == nullptr || *length < 4) {
        *length = 4;
        return CR_BUFFER_SMALL;
    }
    std::memcpy(buffer, &*value, 4);
    *length = 4;
    return CR_SUCCESS;
}

}  // namespace

CONFIGRET StorageSim::GetDevNodeRegistryProperty(DEVINST device, ULONG property, ULONG *type, void *buffer,
                                                 ULONG *length, ULONG)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    const SimPciDevice *node = Node(device);
    if (node == nullptr)
        return CR_NO_SUCH_DEVNODE;
    switch (property) {
    case CM_DRP_LOCATION_INFORMATION:
        return node->Location.empty() ? CR_NO_SUCH_VALUE : CopyText(node->Location, buffer, length, type);
    case CM_DRP_SERVICE:
        return node->Service.empty() ? CR_NO_SUCH_VALUE : CopyText(node->Service, buffer, length, type);
    case CM_DRP_FRIENDLYNAME:
        return node->FriendlyName.empty() ? CR_NO_SUCH_VALUE : CopyText(node->FriendlyName, buffer, length, type);
    case CM_DRP_DEVICEDESC:
        return node->Description.empty() ? CR_NO_SUCH_VALUE : CopyText(node->Description, buffer, length, type);
    case CM_DRP_HARDWAREID: {
        if (node->HardwareIds.empty())
            return CR_NO_SUCH_VALUE;
        std::string multi;
        for (const std::string &id : node->HardwareIds)
            multi += id + '\0';
        // CopyText adds the list's closing NUL.
        CONFIGRET result = CopyText(multi, buffer, length, type);
        if (type)
            *type = REG_MULTI_SZ;
        return result;
    }
    case CM_DRP_UI_NUMBER:
        return CopyNumber(node->UiNumber, buffer, length, type);
    case CM_DRP_BUSNUMBER:
        return CopyNumber(node->BusNumber, buffer, length, type);
    case CM_DRP_ADDRESS:
        return CopyNumber(node->Address, buffer, length, type);
    default:
        return CR_NO_SUCH_VALUE;
    }
}

CONFIGRET StorageSim::GetParent(DEVINST *parent, DEVINST device, ULONG)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    const SimPciDevice *node = Node(device);
    if (node == nullptr || node->Parent < 0)
        return CR_NO_SUCH_DEVNODE;
    *parent = static_cast<DEVINST>(node->Parent + 1);
    return CR_SUCCESS;
}

CONFIGRET StorageSim::GetDeviceId(DEVINST device, char *buffer, ULONG length, ULONG)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    const SimPciDevice *node = Node(device);
    if (node == nullptr)
        return CR_NO_SUCH_DEVNODE;
    if (length < node->DeviceId.size() + 1)
        return CR_BUFFER_SMALL;
    std::memcpy(buffer, node->DeviceId.c_str(), node->DeviceId.size() + 1);
    return CR_SUCCESS;
}
