#pragma once
// Device I/O that the SAS discovery and the IDE/ATA layer share: CSMI requests through the SCSI
// miniport interface of a SCSI port, opening a SCSI port, finding a controller's slot or PCI
// location through the configuration manager, and reading physical memory. Every device and
// configuration-manager call goes through StoragePlatform(). Nothing here logs.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr DWORD IOCTL_SCSI_MINIPORT_CODE = 0x4D008;
constexpr uint32_t CSMI_HEADER_SIZE = 28;
constexpr uint32_t CSMI_DEFAULT_TIMEOUT = 60;
// ReturnCode not 0 after a successful call, and a pass-through whose reply reports a failed
// connection or a SCSI/SMP failure.
constexpr int CSMI_RETURN_CODE_FAILED = -1;
constexpr int CSMI_PASSTHROUGH_FAILED = -2;

#pragma pack(push, 1)
// The SRB_IO_CONTROL header in front of every CSMI payload; the same buffer goes out and back.
struct CSMI_IOCTL_HEADER {
    uint32_t HeaderLength;
    char Signature[8];
    uint32_t Timeout;
    uint32_t ControlCode;
    uint32_t ReturnCode;
    uint32_t Length;
};
#pragma pack(pop)
static_assert(sizeof(CSMI_IOCTL_HEADER) == CSMI_HEADER_SIZE);
static_assert(offsetof(CSMI_IOCTL_HEADER, Signature) == 4);
static_assert(offsetof(CSMI_IOCTL_HEADER, Timeout) == 12);
static_assert(offsetof(CSMI_IOCTL_HEADER, ControlCode) == 16);
static_assert(offsetof(CSMI_IOCTL_HEADER, ReturnCode) == 20);
static_assert(offsetof(CSMI_IOCTL_HEADER, Length) == 24);

// Control codes and buffer sizes of the requests (header included).
enum CsmiControlCode : uint32_t {
    CSMI_CC_GET_CNTLR_CONFIG = 2,
    CSMI_CC_GET_CNTLR_STATUS = 3,
    CSMI_CC_GET_RAID_INFO = 10,
    CSMI_CC_GET_RAID_CONFIG = 11,
    CSMI_CC_GET_PHY_INFO = 20,
    CSMI_CC_SMP_PASSTHRU = 23,
    CSMI_CC_SSP_PASSTHRU = 24,
    CSMI_CC_STP_PASSTHRU = 25,
    CSMI_CC_GET_SCSI_ADDRESS = 27,
    CSMI_CC_GET_CONNECTOR_INFO = 30,
    CSMI_CC_GET_LOCATION = 31,
    CSMI_CC_REQUEST_32 = 32,
    CSMI_CC_REQUEST_34 = 34,
};
constexpr uint32_t CSMI_CNTLR_CONFIG_BUFFER_SIZE = 208;
constexpr uint32_t CSMI_CNTLR_STATUS_BUFFER_SIZE = 64;
constexpr uint32_t CSMI_RAID_INFO_BUFFER_SIZE = 128;
constexpr uint32_t CSMI_PHY_INFO_BUFFER_SIZE = 2080;
constexpr uint32_t CSMI_SMP_BUFFER_SIZE = 2092;
constexpr uint32_t CSMI_SSP_FRAME_SIZE = 372;     // buffer = frame + data length
constexpr uint32_t CSMI_STP_FRAME_SIZE = 168;
constexpr uint32_t CSMI_SCSI_ADDRESS_BUFFER_SIZE = 48;
constexpr uint32_t CSMI_CONNECTOR_BUFFER_SIZE = 1180;
constexpr uint32_t CSMI_REQUEST_32_BUFFER_SIZE = 64;
constexpr uint32_t CSMI_REQUEST_34_BUFFER_SIZE = 548;

// Buffer offsets of the pass-through requests and replies.
constexpr size_t CSMI_SSP_DATA_LENGTH_OFFSET = 96;
constexpr size_t CSMI_SSP_CONNECTION_STATUS_OFFSET = 100;
constexpr size_t CSMI_SSP_SCSI_STATUS_OFFSET = 105;
constexpr size_t CSMI_SSP_DATA_OFFSET = 368;
constexpr size_t CSMI_STP_DATA_LENGTH_OFFSET = 68;
constexpr size_t CSMI_STP_CONNECTION_STATUS_OFFSET = 72;
constexpr size_t CSMI_STP_STATUS_FIS_OFFSET = 76;
constexpr size_t CSMI_STP_DATA_OFFSET = 164;
constexpr size_t CSMI_SMP_CONNECTION_STATUS_OFFSET = 1064;
constexpr size_t CSMI_SMP_FUNCTION_RESULT_OFFSET = 1074;

// The signature a control code is sent with; null for a code that keeps the caller's own.
const char *CsmiSignature(uint32_t controlCode);

// 0; the Win32 error of a failed call; CSMI_RETURN_CODE_FAILED when the reply's ReturnCode is not
// 0. A buffer smaller than the header is refused with ERROR_INVALID_PARAMETER.
int CsmiIoctl(HANDLE port, uint32_t controlCode, void *buffer, uint32_t size, DWORD *returned);

// The request builders: the caller hands a zero-filled buffer of the request's size with its
// request fields in place; each sets Timeout, ReturnCode and Length and sends it.
int CsmiGetControllerConfig(HANDLE port, void *buffer);
int CsmiGetControllerStatus(HANDLE port, void *buffer);
int CsmiGetRaidInfo(HANDLE port, void *buffer);
int CsmiGetRaidConfig(HANDLE port, void *buffer, uint32_t size);
int CsmiGetPhyInfo(HANDLE port, void *buffer);
int CsmiSmpPassthrough(HANDLE port, void *buffer);
// The buffer holds CSMI_SSP_FRAME_SIZE + its uDataLength bytes; *dataReturned (optional) gets the
// reply data bytes.
int CsmiSspPassthrough(HANDLE port, void *buffer, uint32_t *dataReturned);
int CsmiStpPassthrough(HANDLE port, void *buffer, uint32_t *dataReturned);
int CsmiGetScsiAddress(HANDLE port, void *buffer);
int CsmiGetConnectorInfo(HANDLE port, void *buffer);
int CsmiGetLocation(HANDLE port, void *buffer, uint32_t size);
int CsmiRequest32(HANDLE port, void *buffer);
int CsmiRequest34(HANDLE port, void *buffer);

// The first member of the device records of the SAS and IDE layers: the port's handle.
struct SCSI_PORT_RECORD {
    HANDLE Handle;
};
// Opens "\\.\Scsi%u:" into record->Handle (INVALID_HANDLE_VALUE on failure): 0, the Win32 error,
// or -1 without a record.
int OpenScsiPort(unsigned portNumber, SCSI_PORT_RECORD *record);

// The configuration manager's device instance ids for a filter and its flags (the filter may be
// null), appended to *ids; false when the configuration manager fails or lists nothing.
bool StorageDeviceIds(const char *filter, ULONG flags, std::vector<std::string> *ids);
// 0 and the device's UI number (0 when it has none) when a PCI device sits at the location's low
// bytes; ERROR_NOT_FOUND otherwise.
int GetPciSlotNumber(unsigned bus, unsigned device, unsigned function, uint32_t *slot);
// The k-th PCI function driven by the port's driver; outputs preset to 255, left so when not
// found. 0 whatever was found; ERROR_INVALID_DATA (13) when an output is missing.
int GetScsiPortPciLocation(uint8_t *bus, uint8_t *device, uint8_t *function, unsigned portNumber, unsigned ordinal);

// 0 when length bytes at the physical address were copied; non-zero otherwise.
int ReadPhysicalMemory(uint64_t address, uint32_t length, void *destination);

// Zero-filled allocations of the SAS engine and the IDE layer: 0, or a Win32 error with *pointer
// null.
DWORD SasAlloc(size_t size, void **pointer);
void SasFree(void *pointer);

// Tests only: forget the cached page size.
void ResetPageSizeForTest();
