#pragma once
// The simulated storage server behind IStoragePlatform, for tests. A scenario is built in C++:
// devices under their paths ("\\.\Scsi0:", "\\.\PhysicalDrive0"), a PCI tree for the
// configuration manager, windows of physical memory, and the HARDWARE\DEVICEMAP driver names of
// the SCSI ports (written to the test prefix's real registry and removed again).
//
// A handle opened with FILE_FLAG_NO_BUFFERING reads as Windows reads one: a buffer or size that
// is not a whole number of the device's sectors is refused with ERROR_INVALID_PARAMETER before the
// device sees the read. (Every read starts at byte 0, so its offset is always aligned.)
//
// The server tracks every handle (leaks, double closes, use after close), logs and counts every
// request, and injects faults into the requests a fault matches: a Win32 error, a transfer of no
// bytes, a CSMI ReturnCode, patched status bytes or a whole raw reply.
//
// Install it with SetStoragePlatformForTest(&sim) and remove it before it goes (StorageSimScope).

#include "sim_csmi.h"
#include "sim_device.h"
#include "sim_scsi_port.h"
#include "storage_platform.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct SimRequest {
    std::string Path;
    DWORD Code = 0;
    uint32_t CsmiCode = 0;   // the control code of a miniport request, else 0
    DWORD InSize = 0;
    DWORD OutSize = 0;
    bool Native = false;
    DWORD Result = 0;        // Win32 error (0 success)
};

struct SimFault {
    enum class Kind { Win32Error, ZeroTransfer, ReturnCode, PatchBytes, RawReply, OpenError };
    Kind What = Kind::Win32Error;
    std::string Path = {};   // "" matches every device (paths compare without case)
    DWORD Code = 0;          // 0 matches every I/O control
    uint32_t CsmiCode = 0;   // 0 matches every miniport control code
    int Times = 1;           // how many matching requests it hits; -1: every one
    DWORD Error = ERROR_IO_DEVICE;
    uint32_t ReturnCode = 1;
    std::vector<std::pair<size_t, uint8_t>> Patches = {};  // reply offset, value
    std::vector<uint8_t> Raw = {};
};

struct SimPciDevice {
    std::string DeviceId;                // "PCI\VEN_...&DEV_...\..."
    std::string Location;                // CM_DRP_LOCATION_INFORMATION
    std::optional<uint32_t> UiNumber;    // CM_DRP_UI_NUMBER
    std::string Service;                 // CM_DRP_SERVICE
    int Parent = -1;                     // index of the parent node, -1 for the root
    bool Present = true;
    std::string FriendlyName = {};       // CM_DRP_FRIENDLYNAME
    std::string Description = {};        // CM_DRP_DEVICEDESC
    std::vector<std::string> HardwareIds = {};  // CM_DRP_HARDWAREID, a multi-string
    bool Locatable = true;               // false: CM_Locate_DevNode fails for it
    std::optional<uint32_t> BusNumber = {};  // CM_DRP_BUSNUMBER
    std::optional<uint32_t> Address = {};    // CM_DRP_ADDRESS: device in the high 16 bits, function low
};

class StorageSim final : public IStoragePlatform {
public:
    StorageSim();
    ~StorageSim();
    StorageSim(const StorageSim &) = delete;
    StorageSim &operator=(const StorageSim &) = delete;

    // ---- Scenario ----
    void AddDevice(const std::string &path, std::shared_ptr<SimDevice> device);
    std::shared_ptr<SimScsiPort> AddScsiPort(unsigned port, const char *driver = nullptr);
    std::shared_ptr<SimPhysicalDrive> AddPhysicalDrive(unsigned number, uint8_t port, uint8_t path, uint8_t target,
                                                       uint8_t lun);
    // A PCI node; returns its index for use as a parent.
    int AddPciDevice(SimPciDevice device);
    // The "Driver" value of HKLM\HARDWARE\DEVICEMAP\Scsi\Scsi Port N, removed when the server goes.
    void SetDeviceMapDriver(unsigned port, const char *driver);
    // Physical memory: bytes at an address; the section opens only when physical memory is on.
    void SetPhysicalMemory(bool available) { m_PhysicalMemory = available; }
    void AddMemoryWindow(uint64_t address, std::vector<uint8_t> bytes);
    void AddFault(SimFault fault);
    void ClearFaults() { m_Faults.clear(); }

    // ---- What happened ----
    std::vector<SimRequest> Requests() const;
    // Forgets the requests recorded so far, the handles already closed and what the devices it
    // holds recorded of their requests, so that a long run does not grow by its record; the counts
    // stay. A later use of a forgotten handle counts as a use of an unknown handle.
    void ForgetHistory();
    size_t CountRequests(DWORD code, uint32_t csmiCode = 0) const;
    std::vector<std::string> OpenHandles() const;   // paths of handles not closed: leaks
    size_t DoubleCloses() const;
    size_t UnknownHandleUses() const;
    size_t OpenCount() const;
    size_t OpenAttempts() const;    // opens asked, found or not
    // The flags of the last open that found its device (FILE_FLAG_NO_BUFFERING and the like).
    DWORD LastOpenFlags() const;
    // The last view mapped: offset and size asked.
    uint64_t LastMapOffset() const { return m_LastMapOffset; }
    SIZE_T LastMapSize() const { return m_LastMapSize; }

    // ---- IStoragePlatform ----
    HANDLE OpenDevice(const char *path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override;
    BOOL DeviceControl(HANDLE device, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize,
                       DWORD *returned) override;
    LONG NativeDeviceControl(HANDLE device, ULONG code, void *in, ULONG inSize, void *out, ULONG outSize,
                             ULONG_PTR *information) override;
    BOOL ReadDevice(HANDLE device, void *buffer, DWORD size, DWORD *read) override;
    BOOL CloseDevice(HANDLE handle) override;
    LONG OpenPhysicalMemory(HANDLE *section) override;
    LONG MapPhysicalMemory(HANDLE section, uint64_t offset, SIZE_T viewSize, const void **view) override;
    LONG UnmapPhysicalMemory(const void *view) override;
    CONFIGRET GetDeviceIdListSize(ULONG *size, const char *filter, ULONG flags) override;
    CONFIGRET GetDeviceIdList(const char *filter, char *buffer, ULONG size, ULONG flags) override;
    CONFIGRET LocateDevNode(DEVINST *device, const char *deviceId, ULONG flags) override;
    CONFIGRET GetDevNodeRegistryProperty(DEVINST device, ULONG property, ULONG *type, void *buffer, ULONG *length,
                                         ULONG flags) override;
    CONFIGRET GetParent(DEVINST *parent, DEVINST device, ULONG flags) override;
    CONFIGRET GetDeviceId(DEVINST device, char *buffer, ULONG length, ULONG flags) override;

private:
    struct OpenHandle {
        std::string Path;
        std::shared_ptr<SimDevice> Device;   // null for the memory section
        bool Open = true;
        bool Unbuffered = false;             // opened with FILE_FLAG_NO_BUFFERING
    };
    DWORD Dispatch(HANDLE device, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned,
                   bool native);
    SimFault *MatchFault(const std::string &path, DWORD code, uint32_t csmiCode, bool open);
    std::string PciIdList(const char *filter, ULONG flags) const;
    const SimPciDevice *Node(DEVINST device) const;

    mutable std::mutex m_Lock;
    std::map<std::string, std::shared_ptr<SimDevice>> m_Devices;   // lower-case path
    std::map<uintptr_t, OpenHandle> m_Handles;
    uintptr_t m_NextHandle = 0x51000;
    size_t m_DoubleCloses = 0;
    size_t m_UnknownHandles = 0;
    size_t m_Opens = 0;
    size_t m_OpenAttempts = 0;
    DWORD m_LastOpenFlags = 0;
    std::vector<SimRequest> m_Requests;
    std::vector<SimFault> m_Faults;
    std::vector<SimPciDevice> m_Pci;
    std::vector<unsigned> m_DeviceMapPorts;
    bool m_PhysicalMemory = false;
    std::map<uint64_t, std::vector<uint8_t>> m_Memory;
    std::map<const void *, std::vector<uint8_t>> m_Views;
    uint64_t m_LastMapOffset = 0;
    SIZE_T m_LastMapSize = 0;
};

// Installs a server for one scope.
class StorageSimScope {
public:
    explicit StorageSimScope(StorageSim &sim) : m_Previous(SetStoragePlatformForTest(&sim)) {}
    ~StorageSimScope() { SetStoragePlatformForTest(m_Previous); }
    StorageSimScope(const StorageSimScope &) = delete;
    StorageSimScope &operator=(const StorageSimScope &) = delete;

private:
    IStoragePlatform *m_Previous;
};
