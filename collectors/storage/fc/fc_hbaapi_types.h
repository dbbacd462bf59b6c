#pragma once
// The records of the Fibre Channel HBA API as the library lays them out: attributes of an
// adapter and of a port, and a port's statistics. Texts are fixed arrays that a library may fill
// to the last byte without a NUL; read them with FcFieldText.

#include <cstddef>
#include <cstdint>

using HBA_UINT32 = uint32_t;
using HBA_STATUS = uint32_t;
using HBA_HANDLE = uint32_t;

constexpr HBA_STATUS HBA_STATUS_OK = 0;
constexpr HBA_STATUS HBA_STATUS_ERROR = 1;

// Port states.
constexpr uint32_t HBA_PORTSTATE_ONLINE = 2;
constexpr uint32_t HBA_PORTSTATE_OFFLINE = 3;
constexpr uint32_t HBA_PORTSTATE_BYPASSED = 4;
constexpr uint32_t HBA_PORTSTATE_DIAGNOSTICS = 5;
constexpr uint32_t HBA_PORTSTATE_LINKDOWN = 6;
constexpr uint32_t HBA_PORTSTATE_ERROR = 7;
constexpr uint32_t HBA_PORTSTATE_LOOPBACK = 8;

struct HBA_WWN {
    uint8_t wwn[8];
};

struct HBA_ADAPTERATTRIBUTES {
    char Manufacturer[64];
    char SerialNumber[64];
    char Model[256];
    char ModelDescription[256];
    HBA_WWN NodeWWN;
    char NodeSymbolicName[256];
    char HardwareVersion[256];
    char DriverVersion[256];
    char OptionROMVersion[256];
    char FirmwareVersion[256];
    HBA_UINT32 VendorSpecificID;
    HBA_UINT32 NumberOfPorts;
    char DriverName[256];
};
static_assert(sizeof(HBA_ADAPTERATTRIBUTES) == 2192);
static_assert(offsetof(HBA_ADAPTERATTRIBUTES, ModelDescription) == 384);
static_assert(offsetof(HBA_ADAPTERATTRIBUTES, NodeWWN) == 640);
static_assert(offsetof(HBA_ADAPTERATTRIBUTES, OptionROMVersion) == 1416);
static_assert(offsetof(HBA_ADAPTERATTRIBUTES, FirmwareVersion) == 1672);
static_assert(offsetof(HBA_ADAPTERATTRIBUTES, VendorSpecificID) == 1928);
static_assert(offsetof(HBA_ADAPTERATTRIBUTES, NumberOfPorts) == 1932);
static_assert(offsetof(HBA_ADAPTERATTRIBUTES, DriverName) == 1936);

struct HBA_PORTATTRIBUTES {
    HBA_WWN NodeWWN;
    HBA_WWN PortWWN;
    HBA_UINT32 PortFcId;
    HBA_UINT32 PortType;
    HBA_UINT32 PortState;
    HBA_UINT32 PortSupportedClassofService;
    uint8_t PortSupportedFc4Types[32];
    uint8_t PortActiveFc4Types[32];
    char PortSymbolicName[256];
    char OSDeviceName[256];
    HBA_UINT32 PortSupportedSpeed;
    HBA_UINT32 PortSpeed;
    HBA_UINT32 PortMaxFrameSize;
    HBA_WWN FabricName;
    HBA_UINT32 NumberofDiscoveredPorts;
};
static_assert(sizeof(HBA_PORTATTRIBUTES) == 632);
static_assert(offsetof(HBA_PORTATTRIBUTES, PortWWN) == 8);
static_assert(offsetof(HBA_PORTATTRIBUTES, PortState) == 24);
static_assert(offsetof(HBA_PORTATTRIBUTES, OSDeviceName) == 352);
static_assert(offsetof(HBA_PORTATTRIBUTES, FabricName) == 620);
static_assert(offsetof(HBA_PORTATTRIBUTES, NumberofDiscoveredPorts) == 628);

struct HBA_PORTSTATISTICS {
    int64_t SecondsSinceLastReset;
    int64_t TxFrames;
    int64_t TxWords;
    int64_t RxFrames;
    int64_t RxWords;
    int64_t LIPCount;
    int64_t NOSCount;
    int64_t ErrorFrames;
    int64_t DumpedFrames;
    int64_t LinkFailureCount;
    int64_t LossOfSyncCount;
    int64_t LossOfSignalCount;
    int64_t PrimitiveSeqProtocolErrCount;
    int64_t InvalidTxWordCount;
    int64_t InvalidCRCCount;
};
static_assert(sizeof(HBA_PORTSTATISTICS) == 120);
