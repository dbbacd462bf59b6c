#pragma once
// The records that the NIC library publishes below HKLM\SYSTEM\QZTLMNetwork and that the
// service's NIC and MIB-2 collectors read back.
//
// Each record value is the packed little-endian layout below, written whole as one REG_BINARY
// value; text fields are 8-bit, NUL-terminated inside their fixed field. Both binaries include
// this header, so the layouts are asserted field by field: a change that moves a field breaks the
// build instead of the other side's reading. The registry is outside either binary's control, so
// readers decode only through the bounded functions at the end of this header. No windows.h.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Keys, all below HKEY_LOCAL_MACHINE. Every key the library makes below the root is volatile.
constexpr wchar_t kNicRootKey[] = L"SYSTEM\\QZTLMNetwork";
constexpr wchar_t kNicInterfaceKey[] = L"SYSTEM\\QZTLMNetwork\\Interface";
constexpr wchar_t kNicLogInterfaceMapKey[] = L"SYSTEM\\QZTLMNetwork\\Interface\\LogInterfaceMap";
constexpr wchar_t kNicVlanInterfaceKey[] = L"SYSTEM\\QZTLMNetwork\\Interface\\VlanInterface";
constexpr wchar_t kNicPhysInterfaceKey[] = L"SYSTEM\\QZTLMNetwork\\Interface\\PhysInterface";
constexpr wchar_t kNicBridgingInfoKey[] = L"SYSTEM\\QZTLMNetwork\\Interface\\BridgingInfo";
constexpr wchar_t kNicEthernetKey[] = L"SYSTEM\\QZTLMNetwork\\Ethernet";
constexpr wchar_t kNicEthernetStatisticsKey[] = L"SYSTEM\\QZTLMNetwork\\Ethernet\\Statistics";
constexpr wchar_t kNicTrapConnectivityLostKey[] = L"SYSTEM\\QZTLMNetwork\\Trap_ConnectivityLost";
constexpr wchar_t kNicTrapConnectivityRegainedKey[] = L"SYSTEM\\QZTLMNetwork\\Trap_ConnectivityRegained";
constexpr wchar_t kNicTrapRedundancyIncreasedKey[] = L"SYSTEM\\QZTLMNetwork\\Trap_RedundancyIncreased";
constexpr wchar_t kNicTrapRedundancyReducedKey[] = L"SYSTEM\\QZTLMNetwork\\Trap_RedundancyReduced";

// Values of the root and Interface keys.
constexpr wchar_t kNicStatusValue[] = L"Status";
constexpr wchar_t kNicInterfaceDataReadyValue[] = L"InterfaceData_Ready";
constexpr wchar_t kNicIfTableInformationValue[] = L"IfTableInformation";
constexpr wchar_t kNicMibStatsValue[] = L"MibStats";
constexpr wchar_t kNicSoftwareRevisionsValue[] = L"SoftwareRevisions";
constexpr wchar_t kNicBridgeNameValue[] = L"BridgeName";
constexpr wchar_t kNicBridgeStatusValue[] = L"BridgeStatus";

// Prefixes of the numbered record values.
constexpr char kInterfaceMapPrefix[] = "InterfaceMap";
constexpr char kVlanMapPrefix[] = "VlanMap";
constexpr char kPhysAdapterPrefix[] = "PhysAdapter";
constexpr char kStatisticsPrefix[] = "Statistics";

// The NIC MIB group number, the first byte of MibStats.
constexpr uint8_t kNicMibGroup = 18;

// Conditions on the one scale of the NIC records.
enum NicCondition : uint8_t { kNicConditionOther = 1, kNicConditionOk = 2, kNicConditionDegraded = 3, kNicConditionFailed = 4 };

// Trap record kinds, also given by the key the record lies in.
enum NicTrapKind : int32_t {
    kNicTrapConnectivityLost = 11,
    kNicTrapConnectivityRegained = 12,
    kNicTrapRedundancyIncreased = 13,
    kNicTrapRedundancyReduced = 14,
};

#pragma pack(push, 1)

struct MIBSTATSRECORD {
    uint8_t MibGroup;
    uint8_t Condition;
    uint32_t PollSeconds;
};

struct SOFTWAREREVISIONSRECORD {
    uint8_t Major; // 1
    uint8_t Minor; // 46
    uint8_t Reserved[3971];
};

struct INTERFACEMAPRECORD {
    uint32_t LogicalIndex;
    int32_t IfIndexCount;
    int32_t IfIndexList[64];
    char Description[256];
    uint8_t Kind;
    uint8_t MemberCount;
    uint8_t OkMemberCount;
    uint8_t MemberIndexes[16];
    uint8_t MacAddress[6];
    uint8_t TeamMode;
    uint8_t Condition;
    uint8_t Status;
    uint32_t TeamWord;
    char ReservedText[1];
    uint32_t SpeedMbps;
    uint32_t IPv4Address;
    uint8_t VlanCount;
    uint8_t VlanIndexList[64];
    uint32_t LastChange;
    uint32_t TeamFlags;
    char IPv6Address[256];
    char ConnectionName[256];
    uint8_t Dhcp;
    uint8_t Reserved[256];
};

struct VLANMAPRECORD {
    int32_t VlanIndex;
    int32_t ParentLogicalIndex;
    int32_t IfIndex;
    int32_t VlanId;
    char VlanName[512];
    char VlanIPv6Address[256];
    char VlanConnectionName[256];
};

struct PHYSADAPTERRECORD {
    uint32_t PhysicalIndex;
    uint32_t IfIndex;
    uint8_t Role;
    uint8_t MacAddress[6];
    int32_t Slot;
    uint32_t IoBase;
    int32_t ResourceWord;
    uint32_t MemoryBase;
    int32_t Reserved1;
    uint8_t Port;
    uint8_t Duplex;
    uint8_t Condition;
    uint8_t Status;
    uint8_t Status2;
    uint8_t Reserved2;
    uint32_t XmitOk;
    uint32_t RcvOk;
    uint32_t XmitErrors;
    uint32_t RcvErrors;
    uint32_t AlignmentErrors;
    uint32_t FcsErrors;
    uint32_t SingleCollisionFrames;
    uint32_t MultipleCollisionFrames;
    uint32_t DeferredTransmissions;
    uint32_t LateCollisions;
    uint32_t ExcessiveCollisions;
    uint32_t InternalMacTransmitErrors;
    uint32_t CarrierSenseErrors;
    uint32_t FrameTooLongs;
    uint32_t InternalMacReceiveErrors;
    char HwLocation[256];
    char PartNumber[33];
    uint32_t SpeedMbps;
    uint32_t InOctets;
    uint32_t OutOctets;
    int32_t ConfSpeedDuplex;
    int32_t Reserved3;
    char Name[257];
    int32_t ServerBay;
    char Firmware[33];
    int32_t VirtualPort;
    char PciLocation[256];
    uint32_t PciId;
    uint32_t SubsystemId;
};

// The columns of the EtherLike MIB's dot3StatsTable, interface index first.
struct ETHERNETSTATSRECORD {
    uint32_t IfIndex;
    uint32_t AlignmentErrors;
    uint32_t FcsErrors;
    uint32_t SingleCollisionFrames;
    uint32_t MultipleCollisionFrames;
    uint32_t SQETestErrors;
    uint32_t DeferredTransmissions;
    uint32_t LateCollisions;
    uint32_t ExcessiveCollisions;
    uint32_t InternalMacTransmitErrors;
    uint32_t CarrierSenseErrors;
    uint32_t FrameTooLongs;
    uint32_t InternalMacReceiveErrors;
};

struct TRAPRECORD {
    int32_t Kind;
    int32_t Format; // 4
    int32_t LogicalIndex;
    int32_t PhysicalIndex;
    int32_t Slot;
    uint8_t Port;
    uint8_t TeamOkCount;
    uint8_t Reserved;
    char ReservedText[9];
    uint8_t MemberStatus;
    char MemberName[257];
    char PartNumber[32];
    uint32_t IPv4Address;
    char IPv6Address[256];
    int32_t PciBus;
    int32_t PciDevice;
    int32_t OkMemberCount;
    uint8_t MacAddress[6];
    int32_t DhcpEnabled;
};

#pragma pack(pop)

#define NIC_RECORD_FIELD(record, field, offset, size)                                                                  \
    static_assert(offsetof(record, field) == (offset), #record "." #field " moved");                                \
    static_assert(sizeof(record::field) == (size), #record "." #field " resized")

static_assert(sizeof(MIBSTATSRECORD) == 6);
NIC_RECORD_FIELD(MIBSTATSRECORD, MibGroup, 0, 1);
NIC_RECORD_FIELD(MIBSTATSRECORD, Condition, 1, 1);
NIC_RECORD_FIELD(MIBSTATSRECORD, PollSeconds, 2, 4);

static_assert(sizeof(SOFTWAREREVISIONSRECORD) == 3973);
NIC_RECORD_FIELD(SOFTWAREREVISIONSRECORD, Major, 0, 1);
NIC_RECORD_FIELD(SOFTWAREREVISIONSRECORD, Minor, 1, 1);
NIC_RECORD_FIELD(SOFTWAREREVISIONSRECORD, Reserved, 2, 3971);

static_assert(sizeof(INTERFACEMAPRECORD) == 1403);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, LogicalIndex, 0, 4);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, IfIndexCount, 4, 4);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, IfIndexList, 8, 256);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, Description, 264, 256);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, Kind, 520, 1);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, MemberCount, 521, 1);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, OkMemberCount, 522, 1);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, MemberIndexes, 523, 16);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, MacAddress, 539, 6);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, TeamMode, 545, 1);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, Condition, 546, 1);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, Status, 547, 1);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, TeamWord, 548, 4);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, ReservedText, 552, 1);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, SpeedMbps, 553, 4);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, IPv4Address, 557, 4);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, VlanCount, 561, 1);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, VlanIndexList, 562, 64);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, LastChange, 626, 4);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, TeamFlags, 630, 4);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, IPv6Address, 634, 256);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, ConnectionName, 890, 256);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, Dhcp, 1146, 1);
NIC_RECORD_FIELD(INTERFACEMAPRECORD, Reserved, 1147, 256);

static_assert(sizeof(VLANMAPRECORD) == 1040);
NIC_RECORD_FIELD(VLANMAPRECORD, VlanIndex, 0, 4);
NIC_RECORD_FIELD(VLANMAPRECORD, ParentLogicalIndex, 4, 4);
NIC_RECORD_FIELD(VLANMAPRECORD, IfIndex, 8, 4);
NIC_RECORD_FIELD(VLANMAPRECORD, VlanId, 12, 4);
NIC_RECORD_FIELD(VLANMAPRECORD, VlanName, 16, 512);
NIC_RECORD_FIELD(VLANMAPRECORD, VlanIPv6Address, 528, 256);
NIC_RECORD_FIELD(VLANMAPRECORD, VlanConnectionName, 784, 256);

static_assert(sizeof(PHYSADAPTERRECORD) == 972);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, PhysicalIndex, 0, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, IfIndex, 4, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, Role, 8, 1);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, MacAddress, 9, 6);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, Slot, 15, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, IoBase, 19, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, ResourceWord, 23, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, MemoryBase, 27, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, Reserved1, 31, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, Port, 35, 1);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, Duplex, 36, 1);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, Condition, 37, 1);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, Status, 38, 1);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, Status2, 39, 1);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, Reserved2, 40, 1);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, XmitOk, 41, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, RcvOk, 45, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, XmitErrors, 49, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, RcvErrors, 53, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, AlignmentErrors, 57, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, FcsErrors, 61, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, SingleCollisionFrames, 65, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, MultipleCollisionFrames, 69, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, DeferredTransmissions, 73, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, LateCollisions, 77, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, ExcessiveCollisions, 81, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, InternalMacTransmitErrors, 85, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, CarrierSenseErrors, 89, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, FrameTooLongs, 93, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, InternalMacReceiveErrors, 97, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, HwLocation, 101, 256);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, PartNumber, 357, 33);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, SpeedMbps, 390, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, InOctets, 394, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, OutOctets, 398, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, ConfSpeedDuplex, 402, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, Reserved3, 406, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, Name, 410, 257);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, ServerBay, 667, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, Firmware, 671, 33);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, VirtualPort, 704, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, PciLocation, 708, 256);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, PciId, 964, 4);
NIC_RECORD_FIELD(PHYSADAPTERRECORD, SubsystemId, 968, 4);

static_assert(sizeof(ETHERNETSTATSRECORD) == 52);
NIC_RECORD_FIELD(ETHERNETSTATSRECORD, IfIndex, 0, 4);
NIC_RECORD_FIELD(ETHERNETSTATSRECORD, AlignmentErrors, 4, 4);
NIC_RECORD_FIELD(ETHERNETSTATSRECORD, FcsErrors, 8, 4);
NIC_RECORD_FIELD(ETHERNETSTATSRECORD, SingleCollisionFrames, 12, 4);
NIC_RECORD_FIELD(ETHERNETSTATSRECORD, MultipleCollisionFrames, 16, 4);
NIC_RECORD_FIELD(ETHERNETSTATSRECORD, SQETestErrors, 20, 4);
NIC_RECORD_FIELD(ETHERNETSTATSRECORD, DeferredTransmissions, 24, 4);
NIC_RECORD_FIELD(ETHERNETSTATSRECORD, LateCollisions, 28, 4);
NIC_RECORD_FIELD(ETHERNETSTATSRECORD, ExcessiveCollisions, 32, 4);
NIC_RECORD_FIELD(ETHERNETSTATSRECORD, InternalMacTransmitErrors, 36, 4);
NIC_RECORD_FIELD(ETHERNETSTATSRECORD, CarrierSenseErrors, 40, 4);
NIC_RECORD_FIELD(ETHERNETSTATSRECORD, FrameTooLongs, 44, 4);
NIC_RECORD_FIELD(ETHERNETSTATSRECORD, InternalMacReceiveErrors, 48, 4);

static_assert(sizeof(TRAPRECORD) == 604);
NIC_RECORD_FIELD(TRAPRECORD, Kind, 0, 4);
NIC_RECORD_FIELD(TRAPRECORD, Format, 4, 4);
NIC_RECORD_FIELD(TRAPRECORD, LogicalIndex, 8, 4);
NIC_RECORD_FIELD(TRAPRECORD, PhysicalIndex, 12, 4);
NIC_RECORD_FIELD(TRAPRECORD, Slot, 16, 4);
NIC_RECORD_FIELD(TRAPRECORD, Port, 20, 1);
NIC_RECORD_FIELD(TRAPRECORD, TeamOkCount, 21, 1);
NIC_RECORD_FIELD(TRAPRECORD, Reserved, 22, 1);
NIC_RECORD_FIELD(TRAPRECORD, ReservedText, 23, 9);
NIC_RECORD_FIELD(TRAPRECORD, MemberStatus, 32, 1);
NIC_RECORD_FIELD(TRAPRECORD, MemberName, 33, 257);
NIC_RECORD_FIELD(TRAPRECORD, PartNumber, 290, 32);
NIC_RECORD_FIELD(TRAPRECORD, IPv4Address, 322, 4);
NIC_RECORD_FIELD(TRAPRECORD, IPv6Address, 326, 256);
NIC_RECORD_FIELD(TRAPRECORD, PciBus, 582, 4);
NIC_RECORD_FIELD(TRAPRECORD, PciDevice, 586, 4);
NIC_RECORD_FIELD(TRAPRECORD, OkMemberCount, 590, 4);
NIC_RECORD_FIELD(TRAPRECORD, MacAddress, 594, 6);
NIC_RECORD_FIELD(TRAPRECORD, DhcpEnabled, 600, 4);

#undef NIC_RECORD_FIELD

// Value names. A numbered record is the prefix and the number in at least three upper-case hex
// digits ("InterfaceMap00A", "PhysAdapter1000"); a trap record is "TrapData" and the FILETIME
// of its writing, high and then low half, eight upper-case hex digits each.
std::string FormatRecordValueName(const char *prefix, uint32_t number);
std::wstring FormatRecordValueNameW(const char *prefix, uint32_t number);
std::string FormatTrapValueName(uint64_t fileTime);
std::wstring FormatTrapValueNameW(uint64_t fileTime);

// The text of a fixed text field: up to its first NUL, never past the field even when the
// registry handed over a field without one.
std::string RecordText(const char *field, size_t fieldSize);
template <size_t N> std::string RecordText(const char (&field)[N]) { return RecordText(field, N); }

// One record from a value's data: true only when the data is exactly one record long; *record is
// untouched otherwise. The library writes every record whole, so any other length is damage.
bool DecodeRecord(const void *data, size_t size, void *record, size_t recordSize);
template <class Record> bool DecodeRecord(const void *data, size_t size, Record *record)
{
    return DecodeRecord(data, size, record, sizeof(Record));
}

// The records of a key read in one buffer (all values packed one after another, the way the
// service's registry class hands them out). Only whole records are taken; the count of bytes left
// over (a value of another length in the key) comes back in *trailing when asked for.
size_t CountWholeRecords(size_t size, size_t recordSize);
template <class Record>
std::vector<Record> DecodeRecordArray(const void *data, size_t size, size_t *trailing = nullptr)
{
    std::vector<Record> records(CountWholeRecords(data != nullptr ? size : 0, sizeof(Record)));
    for (size_t i = 0; i < records.size(); ++i)
        DecodeRecord(static_cast<const uint8_t *>(data) + i * sizeof(Record), sizeof(Record), &records[i]);
    if (trailing != nullptr)
        *trailing = (data != nullptr ? size : 0) - records.size() * sizeof(Record);
    return records;
}
