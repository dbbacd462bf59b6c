#pragma once
// One NIC miniport as the library sees it through its NDIS driver ("\\.\{GUID}"): its names,
// medium, addresses, adapter type, PCI identity, firmware text and its place in a team or VLAN.
// Every driver query of the library is a method of this class. Data-collection thread only.

#include "nic_common.h"
#include "nic_decode.h"
#include "nic_platform.h"

#include <cstdint>
#include <string>

class CMiniportList;

// The library-wide team number: -1 at the start of every list build; the first team gets 0.
extern int32_t g_NextTeamId;
struct TEAMDATA;

// The library-wide team number: -1 at the start of every list build; the first team gets 0.
extern int32_t g_NextTeamId;

// NDIS query device control and the OIDs the miniport layer asks.
constexpr DWORD kIoctlNdisQueryGlobalStats = 0x00170002;
constexpr DWORD kIoctlVendorPrivateRequest = 0x00172800;
constexpr uint32_t kOidGenMediaInUse = 0x00010104;
constexpr uint32_t kOidGenVendorDescription = 0x0001010D;
constexpr uint32_t kOidGenMediaConnectStatus = 0x00010114;
constexpr uint32_t kOid8023PermanentAddress = 0x01010101;
constexpr uint32_t kOid8023CurrentAddress = 0x01010102;
constexpr uint32_t kOidIntelControlDevice = 0xFF0201A9;
constexpr uint32_t kOidIntelFirmwareVersion = 0xFF0201D3;
constexpr uint32_t kOidTeamVlanId = 0xFF010266;
constexpr uint32_t kOidTeamVlanName = 0xFF010268;
constexpr uint32_t kOidTeamMemberStatus = 0xFF0102E0;
constexpr uint32_t kOidTeamRecord = 0xFF023323;
// OIDs with this bit are mandatory in the failure messages.
constexpr uint32_t kOidMandatoryBit = 0x100;
constexpr DWORD kIntelFirmwareAnswerBytes = 72;

constexpr uint32_t kMediumNotRead = 20;
constexpr size_t kVlanNameChars = 257;
constexpr size_t kVlanTextChars = 257;
constexpr DWORD kMacBytes = 6;

// Conditions: 1 other, 2 ok, 3 degraded, 4 failed.
struct MINIPORTDYNAMICDATA {
    uint32_t condition;
    uint32_t duplexState;
    uint32_t linkSpeed;
};

// Adapter families, dynamic link data and part numbers.
constexpr uint32_t kOidGenLinkSpeed = 0x00010107;
constexpr uint32_t kOidGenMediaDuplexState = 0x0001028C;
constexpr uint32_t kOidGenLinkState = 0x00010207;
constexpr uint32_t kOidIntelDuplex = 0xFF0201EA;
constexpr uint32_t kOidNxp2Duplex = 0xFF01010D;
constexpr uint32_t kOidMv3LinkStatus = 0xFF020306;
constexpr uint32_t kOidMv3Duplex = 0xFF020319;
// Link conditions and duplex states of MINIPORTDYNAMICDATA.
constexpr uint32_t kConditionOther = 1;
constexpr uint32_t kConditionOk = 2;
constexpr uint32_t kConditionFailed = 4;
constexpr uint32_t kDuplexUnknown = 1;
constexpr uint32_t kDuplexHalf = 2;
constexpr uint32_t kDuplexFull = 3;
constexpr size_t kPartNumberChars = 257;

// One row of a part-number table: the family's key, the PCI device ID the row also asks for (0:
// any) and the maker's option part number (none: "N/A" stays). Rows are compared in order; the
// first match decides.
struct PARTNUMBERROW {
    uint32_t key;
    uint16_t deviceId;
    const wchar_t *partNumber;
};
struct PARTNUMBERTABLE {
    const PARTNUMBERROW *rows;
    size_t count;
};
// The families of the part-number lookup. Type 4 is keyed by the PCI ID, every other family by
// the subsystem ID.
enum PartNumberFamily {
    kPartGeneric,  // 2
    kPartTlan,     // 4
    kPartIntel,    // 5, 6, 7, 8, 13, 14, 18, 20
    kPartBroadcom, // 9
    kPartNetXen,   // 10
    kPartEmulex,   // 11
    kPartMellanox, // 12
    kPartMlx5,     // 15
    kPartQ579xx,   // 16
    kPartSfc,      // 17
    kPartSfNdis,   // 19
    kPartIonic,    // 21
    kPartFamilyCount
};
// The shipped tables are empty (the rows are the maker's product data); tests install their own.
struct PARTNUMBERTABLES {
    PARTNUMBERTABLE family[kPartFamilyCount];
};
const PARTNUMBERTABLES &PartNumberTables();
// The part number of a NIC by adapter type and IDs, or none ("N/A"). *missLine is the line to
// log when nothing matched (none when the family stays silent or a row matched).
const wchar_t *LookupPartNumber(const PARTNUMBERTABLES &tables, uint8_t adapterType, uint32_t pciId,
                                uint32_t subsystemId, const wchar_t **missLine);
// Puts other tables in for a scope (tests only).
class ScopedPartNumberTables {
public:
    explicit ScopedPartNumberTables(const PARTNUMBERTABLES &tables);
    ~ScopedPartNumberTables();
    ScopedPartNumberTables(const ScopedPartNumberTables &) = delete;
    ScopedPartNumberTables &operator=(const ScopedPartNumberTables &) = delete;

private:
    const PARTNUMBERTABLES *m_Saved;
};

// A row of a statistics request table.
struct OIDSTATENTRY {
    uint32_t oid;
    uint32_t *value;
    uint32_t size;
};

class CMiniport {
public:
    CMiniport();
    virtual ~CMiniport();
    CMiniport(const CMiniport &) = delete;
    // Only on freshly constructed objects.
    CMiniport &operator=(const CMiniport &source);

    DWORD Init(const wchar_t *path, const wchar_t *deviceName, uint64_t deviceNameSize, CMiniportList *list);
    DWORD SetMediaType();
    DWORD SetCurrentPhysAddr();
    DWORD SetPermPhysAddr();
    bool GetCurrentPhysAddr(uint8_t *destination, DWORD length) const;
    bool GetPermPhysAddr(uint8_t *destination, DWORD length) const;
    bool IsCurrentPhysAddr(const uint8_t *address, DWORD length) const;

    // Driver queries.
    DWORD NdisIoctl(uint32_t oid, void *answer, DWORD size, DWORD *returned);
    DWORD IntelNdisIoctl(uint32_t oid, void *data, DWORD size, DWORD *returned);
    DWORD GetMiniportInfo(const OIDSTATENTRY &row);
    DWORD UpdateEthernetXmitStats(const OIDSTATENTRY *rows, unsigned count);
    DWORD GetGenericCondition(MINIPORTDYNAMICDATA *data);

    // Adapter family, link data and part number.
    void SetAdapterType(const wchar_t *serviceName);
    void SetPartNumber();
    DWORD GetDynamicData(MINIPORTDYNAMICDATA *data);
    DWORD GetE100DynamicData(MINIPORTDYNAMICDATA *data);
    DWORD GetNXP2DynamicData(MINIPORTDYNAMICDATA *data);
    DWORD GetBE2DynamicData(MINIPORTDYNAMICDATA *data);
    DWORD GetMLX4DynamicData(MINIPORTDYNAMICDATA *data);
    DWORD GetIONICDynamicData(MINIPORTDYNAMICDATA *data);
    DWORD GetMV3DynamicData(MINIPORTDYNAMICDATA *data);
    DWORD GetQ57W2KDynamicData(MINIPORTDYNAMICDATA *data);
    DWORD GetQ579XXDynamicData(MINIPORTDYNAMICDATA *data);
    // Writes the duplex state only.
    DWORD GetBmapiNicInfo(MINIPORTDYNAMICDATA *data, const char *guid);
    // The driver's MediaDuplexState (0 unknown, 1 half, 2 full), or -1.
    int32_t GetDuplexState();

    // Team and VLAN data from the driver or LBFO.
    DWORD GetTeamInfo(CMiniportList *list);
    int AddMSLBFOTeamMemberToMPList(const TEAMDATA &team, int index, CMiniportList *list);
    int AddTeamMemberToMPList(const TEAMDATA &team, int index, CMiniportList *list);
    DWORD SetVlanId();
    DWORD SetVlanName();
    int SetVlanIPv6AddressAndLacNumber();
    int32_t GetTeamMemberStatus();

    uint8_t GetAdapterType() const { return m_AdapterType; }
    uint32_t GetPCIDeviceID() const { return m_PciId; }
    void SetPCIDeviceID(uint32_t id) { m_PciId = id; }
    uint32_t GetSubsystemID() const { return m_SubsystemId; }
    void SetSubsystemID(uint32_t id) { m_SubsystemId = id; }
    DWORD GetPhysAddrLength() const { return m_CurrentAddressLength; }
    uint32_t GetMediaType() const { return m_Medium; }
    uint32_t GetFlags() const { return m_Flags; }
    const wchar_t *GetGuid() const { return m_Guid; }
    const wchar_t *GetTeamGuid() const { return m_TeamGuid; }
    const wchar_t *GetDeviceName() const { return m_DeviceName; }
    const wchar_t *GetTeamDeviceName() const { return m_TeamDeviceName; }
    int32_t GetTeamMemberCount() const { return m_TeamMemberCount; }
    int32_t GetTeamId() const { return m_TeamId; }
    int32_t GetTeamMemberIndex() const { return m_MemberIndex; }
    int32_t GetTeamPrimaryIndex() const { return m_PrimaryIndex; }
    int32_t GetVlanId() const { return m_VlanId; }
    const wchar_t *GetVlanName() const { return m_VlanName; }
    const wchar_t *GetVlanIPv6Address() const { return m_VlanIPv6Address; }
    const wchar_t *GetVlanConnectionName() const { return m_VlanConnectionName; }
    const wchar_t *GetPartNumber() const { return m_PartNumber; }
    int32_t GetConditionStable() const { return m_ConditionStable; }
    void SetConditionStable(int32_t value) { m_ConditionStable = value; }
    int32_t GetAssigned() const { return m_Assigned; }
    void SetAssigned(int32_t value) { m_Assigned = value; }
    int32_t GetLogicalIndex() const { return m_LogicalIndex; }
    void SetLogicalIndex(int32_t value) { m_LogicalIndex = value; }
    uint32_t GetFailureLogged() const { return m_FailureLogged; }
    uint32_t GetLinkQueryEnabled() const { return m_LinkQueryEnabled; }
    const char *GetFirmwareText() const { return m_FirmwareText; }

private:
    DWORD SetPhysAddr(bool current);
    // The vendor-description query; *returned is the answer's byte count.
    DWORD QueryDescription(uint8_t answer[128], DWORD *returned);
    // The team GUID text as 8-bit text, or empty when there is none.
    std::string TeamGuidAnsi() const;
    int RegisterMember(const TEAMDATA &team, int index, const std::wstring &name, CMiniportList *list);
    void LogFailure(const wchar_t *function, uint32_t oid, DWORD error, bool warning);

    wchar_t *m_DeviceName = nullptr;
    uint64_t m_DeviceNameSize = 0;
    wchar_t *m_TeamGuid = nullptr;
    uint32_t m_Medium = kMediumNotRead;
    uint32_t m_CurrentAddressLength = 0;
    uint32_t m_PermanentAddressLength = 0;
    uint32_t m_FailureLogged = 0;
    uint32_t m_LinkQueryEnabled = 1;
    uint32_t m_Flags = 0;
    uint8_t m_AdapterType = 0;
    uint8_t m_CurrentAddress[kMacBytes] = {};
    uint8_t m_PermanentAddress[kMacBytes] = {};
    wchar_t m_PartNumber[257] = {};
    uint32_t m_PciId = 0;
    uint32_t m_SubsystemId = 0;
    wchar_t *m_Guid = nullptr;
    int32_t m_PrimaryIndex = -1;
    int32_t m_TeamMemberCount = 0;
    int32_t m_MemberIndex = 0;
    int32_t m_TeamId = -1;
    int32_t m_VlanId = 0;
    wchar_t *m_VlanName = nullptr;
    wchar_t *m_VlanIPv6Address = nullptr;
    wchar_t *m_VlanConnectionName = nullptr;
    int32_t m_Assigned = 0;
    int32_t m_ConditionStable = 1;
    int32_t m_LogicalIndex = -1;
    wchar_t *m_TeamDeviceName = nullptr;
    char m_FirmwareText[256] = {};

    friend class CMiniportList;
};

using MINIPORTNODE = LISTNODE<CMiniport>;

class CMiniportList {
public:
    CMiniportList() = default;
    virtual ~CMiniportList();
    CMiniportList(const CMiniportList &) = delete;
    CMiniportList &operator=(const CMiniportList &) = delete;

    // The first miniport whose GUID text equals the given text without regard to case.
    CMiniport *FindMiniportByName(const wchar_t *guid) const;
    void Append(MINIPORTNODE *node);
    static MINIPORTNODE *AllocateMiniportNode();

    // One miniport per admitted network-class interface, plus the team members found on the way:
    // 0 when at least one interface reached CMiniport::Init, 8 when none did.
    DWORD Init();
    // The miniport behind an interface row, or none; it is marked assigned to the row's index.
    CMiniport *AssignMiniport(const MIB_IFROW *row, const MIB_IPADDRTABLE *table);
    CMiniport *FindMiniportByPhysAddr(DWORD index, const uint8_t *address, DWORD length) const;

    MINIPORTNODE *GetFirst() const { return m_First; }
    uint32_t GetCount() const { return m_Count; }

private:
    MINIPORTNODE *m_First = nullptr;
    MINIPORTNODE *m_Last = nullptr;
    uint32_t m_Count = 0;
};

// 0 when the interface has an IPv4 address other than 0.0.0.0 in the table, else 2. The list
// receives the interface's addresses (room for one per table row).
DWORD GetIPbyIfIndex(DWORD index, DWORD *addresses, const MIB_IPADDRTABLE *table);
const char *MyStrStr(const char *text, const char *pattern);

// A copy of the text on the heap (none when out of memory).
wchar_t *DuplicateText(const wchar_t *text);
