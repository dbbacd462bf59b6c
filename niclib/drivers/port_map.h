#pragma once
// The chassis numbering of NIC ports: slot or mezzanine, server bay, port and virtual port of a
// physical adapter given by its PCI location. CPortMap takes the SMBIOS table through WMI
// (root\wmi MSSmBios_RawSMBiosTables, copied into the firmware's 8-byte header layout and walked
// with CSMBIOSTable) and the configuration manager's network-class devices; on the way it asks
// each device of a known driver whether its NIC is partitioned, and logs the answer.
//
// Nothing of the build fills the port table, so every lookup misses and the bay-info flag stays
// 0; the caller then keeps the adapter's own slot and numbers the port itself. Tests put entries
// and a flag in through g_PortMapPreset.
//
// Data-collection thread only; COM is initialised by the caller around each call.

#include "nic_platform.h"
#include "smbios_table.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct IWbemClassObject;

// How long the WMI enumerator may take to hand out the SMBIOS instance.
constexpr LONG kPortMapSmbiosWaitMs = 10000;
// The property buffers of the device walk, in bytes.
constexpr ULONG kPortMapPropertyBytes = 2048;
// The interface path the partition probes open is cut to this many characters.
constexpr size_t kPortMapInterfacePathChars = 1023;

// The maker's product data: the product names of its two blade models (on the first, a NIC whose
// parent's instance ID begins with the listed PCI identity sits in slot 1; on the second, slots 4
// and 6 are exchanged). Empty: no server is one of them.
struct PortMapProductData {
    std::string firstBladeModel;
    std::wstring firstBladeParentId; // "PCI\VEN_xxxx&DEV_xxxx&SUBSYS_xxxxxxxx"
    std::string secondBladeModel;
};
constexpr char kPortMapFirstBladeModel[] = "";
constexpr wchar_t kPortMapFirstBladeParentId[] = L"";
constexpr char kPortMapSecondBladeModel[] = "";
// Starts as the constants above; tests put their own in.
extern PortMapProductData g_PortMapProductData;

struct PORTMAPENTRY {
    wchar_t name[256];
    int32_t serverBay;
    int32_t port;
    int32_t slotOrMezzanine;
    int32_t virtualPort;
};

// The port table's key: segment, bus, device, function and location, as the lookup takes them.
struct PORTMAPLOCATION {
    int32_t segment;
    int32_t bus;
    int32_t device;
    int32_t function;
    int32_t location;
};

// What every build of the port map starts from: entries of the table and the bay-info flag.
// Empty and 0 in the library; tests put their own in.
struct PortMapPreset {
    std::vector<std::pair<PORTMAPLOCATION, PORTMAPENTRY>> entries;
    uint32_t bayInfo = 0;
};
extern PortMapPreset g_PortMapPreset;

// What the device walk learns about one network-class device.
struct PORTMAPDEVICE {
    std::wstring serviceName;
    std::wstring description;
    int32_t segment = -1;
    int32_t bus = -1;
    int32_t device = -1;
    int32_t function = -1;
    int32_t slot = -1;
    int32_t portLike = -1;
    std::wstring interfacePath;
    bool partitioned = false;
};

class CPortMap {
public:
    CPortMap();
    ~CPortMap();
    CPortMap(const CPortMap &) = delete;
    CPortMap &operator=(const CPortMap &) = delete;

    // 0, 2, or the result of the step that failed.
    DWORD Init();
    // 1 with the four numbers when the location is in the table; 0 with slot, bay and port -1.
    int GetPortInfo(int32_t segment, int32_t bus, int32_t device, int32_t function, int32_t location,
                    int32_t *slotOrMezzanine, int32_t *serverBay, int32_t *port, int32_t *virtualPort);
    std::string GetServerName();
    uint32_t GetBayInfoFlag();

    // The steps of Init.
    DWORD GetSMBIOSTableFromWMI();
    DWORD GetSMBIOSProperties(IWbemClassObject *instance);
    void GetServerBayNumber();
    DWORD GetSystemInfo();
    DWORD GetAdapterList();
    DWORD GetSegBusDeviceFunctionNumber(DEVINST device, const wchar_t *serviceName, PORTMAPDEVICE *facts);
    int32_t GetSlotNumber(DEVINST device, int32_t *portLike, const wchar_t *serviceName);
    bool IsThisAPartitionedAdapter(const wchar_t *serviceName, DEVINST device, const wchar_t *interfacePath);

    // The structure walk over the copy (never past the copied bytes).
    int FindSmbiosStructure(uint8_t type, unsigned index, const uint8_t **structure) const;
    int GetNextSmbiosStructure(const uint8_t **cursor) const;
    // "" for number 0 and for a number past the structure's strings.
    std::string GetSmbiosString(const uint8_t *structure, unsigned number) const;

    // For tests and the log.
    int32_t GetServerBay() const { return m_ServerBay; }
    const CSMBIOSTable *GetTable() const { return m_Smbios.get(); }
    const std::vector<PORTMAPDEVICE> &GetDevices() const { return m_Devices; }
    uint32_t IsInitialized() const { return m_Initialized; }
    void Reset();

private:
    using FunctionMap = std::map<uint32_t, std::map<uint32_t, PORTMAPENTRY>>;
    using PortTable = std::map<uint32_t, std::map<uint32_t, std::map<uint32_t, FunctionMap>>>;

    std::unique_ptr<CSMBIOSTable> m_Smbios;
    PortTable m_Ports;
    int32_t m_ServerBay = 0;
    uint32_t m_Initialized = 0;
    uint32_t m_BayInfo = 0;
    std::string m_ServerName = "Unknown";
    std::vector<PORTMAPDEVICE> m_Devices;
};

extern CPortMap g_PortMap;

// The interface list's entry points: 1 when the build returned 0, else 0.
int PortMapInit();
int PortMapGetPortInfo(int32_t segment, int32_t bus, int32_t device, int32_t function, int32_t location,
                       int32_t *slotOrMezzanine, int32_t *serverBay, int32_t *port, int32_t *virtualPort);
uint32_t PortMapGetBayInfoFlag();
