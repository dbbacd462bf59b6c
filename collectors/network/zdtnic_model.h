#pragma once
// The NIC collector's own picture of the host's interfaces (NET_ADAPTER, from the IP Helper
// interface table and the adapter-address list), the Plug and Play lookup that gives an Ethernet
// port its slot and PCI identity, and the readers of the NIC library's bridge description.
//
// Where the interface data and the device nodes come from is a seam: the product takes the
// system's (the defaults), tests give their own.

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <cstdint>
#include <string>
#include <vector>

// ---- Interface data --------------------------------------------------------------------------

// The interface data of one collection. Each function returns a block that the matching free
// function releases, or null.
struct NIC_INTERFACE_SOURCE {
    IP_ADAPTER_ADDRESSES *(*addresses)();   // released with free
    MIB_IF_TABLE2 *(*ifTable)();
    void (*freeIfTable)(MIB_IF_TABLE2 *table);
    // The IPv6 adapter-address list of the Hyper-V address lookup (released with free); null
    // takes the system's.
    IP_ADAPTER_ADDRESSES *(*ipv6Addresses)() = nullptr;
};
extern const NIC_INTERFACE_SOURCE kSystemNicInterfaceSource;

// The adapter-address list, the interface table and its rows by ascending interface index.
class IF_TABLE_SNAPSHOT {
public:
    explicit IF_TABLE_SNAPSHOT(const NIC_INTERFACE_SOURCE &source);
    ~IF_TABLE_SNAPSHOT();
    IF_TABLE_SNAPSHOT(const IF_TABLE_SNAPSHOT &) = delete;
    IF_TABLE_SNAPSHOT &operator=(const IF_TABLE_SNAPSHOT &) = delete;

    bool Load();
    bool IsValid() const { return m_Valid; }
    const IP_ADAPTER_ADDRESSES *FindAddresses(NET_IFINDEX index) const;
    const MIB_IF_ROW2 *First();
    const MIB_IF_ROW2 *Next();

private:
    const NIC_INTERFACE_SOURCE &m_Source;
    IP_ADAPTER_ADDRESSES *m_Addresses = nullptr;
    MIB_IF_TABLE2 *m_Table = nullptr;
    std::vector<const MIB_IF_ROW2 *> m_Rows;
    size_t m_Cursor = 0;
    bool m_Valid = false;
};

constexpr ULONG kIfTypeEthernet = 6;
constexpr ULONG kIfTypeLoopback = 24;

bool IsTeamInterface(const MIB_IF_ROW2 &row);
bool IsInterfaceOfInterest(const MIB_IF_ROW2 &row);

// Link status and duplex of a physical part; condition and status of a logical part.
constexpr uint32_t kAdapterLinkUp = 2, kAdapterLinkDown = 4, kAdapterLinkOther = 1;
constexpr uint32_t kNicDuplexFull = 3, kNicDuplexOther = 1;
constexpr uint8_t kNicStatusUp = 2, kNicStatusDown = 5, kNicStatusOther = 1;

struct NET_ADAPTER {
    uint32_t InterfaceIndex;
    char AdapterName[64];
    struct {
        uint32_t Present;
        uint32_t PhysicalIndex;
        uint8_t MacAddress[6];
        uint32_t Slot;
        uint32_t Port;
        uint32_t DuplexState;
        uint32_t LinkStatus;
        uint64_t Speed;  // bit/s; a 10 Gbit/s port keeps its speed
        char Description[256];
        uint32_t PciId;
        uint32_t SubsystemId;
    } Physical;
    struct {
        uint32_t Present;
        char Description[256];
        uint8_t Kind;
        uint8_t MemberCount;
        uint8_t OkMemberCount;
        uint8_t Members[16];
        uint8_t MacAddress[6];
        uint8_t LinkState;
        uint8_t Condition;
        uint8_t Status;
        char Alias[256];
    } Logical;
    struct {
        char InstanceId[256];
        uint32_t Slot, Port, Vendor, Device, Subsystem;
    } Device;

    NET_ADAPTER();
    NET_ADAPTER(const MIB_IF_ROW2 &row, const IP_ADAPTER_ADDRESSES &entry);
    bool Update(const MIB_IF_ROW2 &row, const IP_ADAPTER_ADDRESSES &entry);
    void UpdatePhysical(const MIB_IF_ROW2 &row);
    void UpdateLogical(const MIB_IF_ROW2 &row);
    void UpdateDevice(const MIB_IF_ROW2 &row);
    bool IsValid() const { return Physical.Present != 0 || Logical.Present != 0; }
};

// A wide text as the records' 8-bit text (system code page), at most bytes - 1 bytes, NUL-ended.
void WideToRecordText(const wchar_t *text, char *out, size_t bytes);
// A record's 8-bit text as UTF-8 for the store.
std::string RecordTextToUtf8(const std::string &text);

// ---- Bridge description ----------------------------------------------------------------------

struct BRIDGE_ENTRY {
    std::string ConnectionName;
    std::string DeviceName;
    int Member = 0;
    int Bridge = 0;
};

// 1 once InterfaceData_Ready reads non-zero, 0 when it has not after the readiness tries.
int WaitForInterfaceDataReady();
void GetBridgingInfo(std::vector<BRIDGE_ENTRY> *entries);

// ---- Device lookup -----------------------------------------------------------------------------

// The configuration manager as the lookup uses it. Each call answers false on any failure.
class NIC_DEVNODE_PROVIDER {
public:
    virtual ~NIC_DEVNODE_PROVIDER() = default;
    // The present devices of an enumerator, in the system's order.
    virtual bool ListIds(const wchar_t *enumerator, std::vector<std::wstring> *ids);
    virtual bool GetDword(const wchar_t *id, ULONG property, DWORD *value);
    // Reads into a buffer of bufferBytes bytes.
    virtual bool GetString(const wchar_t *id, ULONG property, std::wstring *value, size_t bufferBytes);
};
// The provider the lookup uses; the system's configuration manager unless a test puts its own.
extern NIC_DEVNODE_PROVIDER *s_NicDevNodes;

// Configuration manager property numbers the lookup reads.
constexpr ULONG kDevPropDeviceDesc = 1, kDevPropFriendlyName = 13, kDevPropUiNumber = 17, kDevPropBusNumber = 22,
                kDevPropAddress = 29;

class DEVICE_ID_LIST {
public:
    bool Enumerate(const wchar_t *enumerator);
    bool Next(std::string *id);
    void Clear();

private:
    std::vector<std::string> m_Ids;
    size_t m_Cursor = 0;
};

struct NET_DEVICE_INFO {
    std::wstring InstanceId;
    std::wstring DeviceDescription;
    std::wstring FriendlyName;
    uint8_t Bus = 255, Device = 255, Function = 255;
    uint32_t UiNumber = 0;
};

bool GetDevNodeDword(const char *id, ULONG property, DWORD *value);
bool GetDevNodeString(const char *id, ULONG property, wchar_t *buffer, size_t capacity);
bool GetDevNodeWString(const char *id, ULONG property, std::wstring *value);
bool DeviceNameMatches(const char *id, const wchar_t *description);
bool ParseNetDeviceHardwareId(NET_DEVICE_INFO *info, const char *id);
bool FindNetDeviceByName(NET_DEVICE_INFO *info, const wchar_t *description);
