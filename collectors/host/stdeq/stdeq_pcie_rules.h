#pragma once
// What the standard-equipment collector reads from PCIe (NVMe) disks and their controllers, and
// how it rates them and decides their traps. Portable: no windows.h, fuzzed natively. Every
// reader of device, WMI, registry or SMBIOS bytes is bounded by the size it is given; input that
// does not fit gives the "not read" values.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CSMBIOSTable;

// One PCIe disk as discovery found it. Texts are 8-bit.
struct PCIE_DISK_INFO {
    std::string Model;
    std::string DeviceId;          // Win32_DiskDrive DeviceID
    std::string PnpDeviceId;       // Win32_DiskDrive PNPDeviceID
    std::string FirmwareRevision;
    std::string SerialNumber;      // identifies the disk from one cycle to the next
    std::string LocationText;
    std::string ControllerId;      // the controller's device ID, lower case
    std::string ControllerStatus;  // Win32_SCSIController Status
    uint64_t SizeMb = 0;
    int32_t DiskIndex = 0;
    int32_t Temperature = 0;       // degrees Celsius; 0 when not read
    int32_t ReferenceTemperature = 0;
    int32_t Bus = -1;
    int32_t Device = -1;
    int32_t Function = -1;
    uint32_t PowerOnHours = 0xFFFFFFFF;
    int32_t PercentageUsed = -1;
    uint8_t HealthCode = 1;
};

// ---- NVMe data ----
constexpr size_t kNvmeIdentifyBytes = 4096;
constexpr size_t kNvmeHealthLogBytes = 512;

struct NVME_IDENTITY {
    std::string Model;      // bytes 24 to 63
    std::string Firmware;   // bytes 64 to 71
    std::string Serial;     // bytes 4 to 23
};
// Each field is cut at its first NUL and has blanks removed from both ends; a field that does
// not lie wholly inside the data is empty.
NVME_IDENTITY ParseNvmeIdentify(const uint8_t *data, size_t size);

// Applies the health log to the disk: power-on hours (low 32 bits of the 128-bit count at 128),
// percentage used (byte 5) and the health code. Data too short for them leaves the disk's "not
// read" values and gives false.
bool ApplyNvmeHealthLog(const uint8_t *data, size_t size, PCIE_DISK_INFO *disk);
// 6 at 100 % or more, 5 at 98, 4 at 95, else 2.
uint8_t NvmeHealthCode(int32_t percentageUsed);

// ---- SCSI log pages ----
constexpr size_t kLogSenseBytes = 16;
extern const uint8_t kSupportedLogPagesCdb[10];
extern const uint8_t kTemperatureLogPageCdb[10];
constexpr uint8_t kTemperatureLogPage = 0x0D;

// The page codes of the supported-pages page: bytes 4 on, as many as its big-endian length at 2
// says, as far as the data reaches. False when the header does not fit.
bool ParseSupportedLogPages(const uint8_t *data, size_t size, std::vector<uint8_t> *pages);
// Temperature (byte 9) and reference temperature (byte 15), each only when the data reaches it.
void ParseTemperatureLogPage(const uint8_t *data, size_t size, int32_t *temperature, int32_t *reference);

// ---- Pass-through requests ----
constexpr uint32_t IOCTL_SCSI_PASS_THROUGH_CODE = 0x4D004;
constexpr uint32_t IOCTL_SCSI_PASS_THROUGH_EX_CODE = 0x4D044;
constexpr uint32_t kSrbTypeScsiRequestBlockEx = 1;
// The request buffer of either form: room for the larger one's input.
constexpr size_t kPassThroughBufferBytes = 664;

struct PASS_THROUGH_FORM {
    uint32_t ControlCode;
    uint32_t InputBytes;
    uint32_t OutputBytes;
    size_t StatusOffset;    // the SCSI status byte the driver writes back
    size_t DataOffset;      // the 16 data bytes in
};
// The form the adapter's SRB type asks for: the extended one for type 1, else the classic one.
PASS_THROUGH_FORM PassThroughForm(uint32_t srbType);
// Builds the request (LOG SENSE data in, path 0, target 1, LUN 0) into a zeroed buffer of
// kPassThroughBufferBytes.
void BuildPassThrough(uint32_t srbType, const uint8_t cdb[10], uint32_t timeoutSeconds, uint8_t *buffer);

// ---- Storage descriptors ----
struct STORAGE_ADAPTER_INFO {
    uint32_t AlignmentMask = 0;
    uint32_t SrbType = 0;
};
// The descriptor's own size field (bytes 4 to 7); 0 when the header is short.
uint32_t DescriptorSize(const uint8_t *header, size_t size);
// Each field only when the descriptor reaches it (the SRB type needs 31 bytes).
STORAGE_ADAPTER_INFO ParseAdapterDescriptor(const uint8_t *descriptor, size_t size);
// The most a device may make the collector allocate for one descriptor.
constexpr uint32_t kMaxDescriptorBytes = 4096;

// ---- Controller association ----
// Wherever the separator, found from position 1 on, is immediately followed by the same
// character, the second one goes.
void CollapseRepeatedSeparator(std::string *text, const char *separator);
std::string LowerText(std::string text);
// The controller's device ID in a Win32_SCSIControllerDevice Antecedent (lower-cased and
// collapsed here): the text between the first double quote after the first "=" and the next
// double quote. Nothing when there is no "=", no pair of quotes after it, or nothing between them.
std::optional<std::string> ControllerIdFromAntecedent(const std::string &antecedent);
// The subsystem value of "pci\ven_%x&dev_%x&subsys_%x"; nothing when the text does not read so far.
std::optional<uint32_t> ControllerSubsystem(const std::string &controllerId);
bool IsExcludedPcieSubsystem(uint32_t subsystem);
// Bus, device and function from "(b,d,f)" in a LocationInformation value (at most size bytes):
// up to three decimal numbers between the first "(" and the next ")", separated by commas or
// spaces. False, leaving the outputs alone, without such parentheses or without a number.
bool ParsePcieLocation(const char *text, size_t size, int32_t *bus, int32_t *device, int32_t *function);
// The location text of the slot at bus . device . function: the first system slot (type 9) there
// gives its handle; the first type-203 structure naming that handle gives its string number 31.
// Structures too short for what is read are passed over. Empty when nothing matches.
std::string PcieDiskLocationText(const CSMBIOSTable &table, int32_t bus, int32_t device, int32_t function);

// ---- Ratings ----
// 2 for a controller status "ok" (any case), else 3; 3 whenever the health code is above 2.
int32_t PcieDiskCondition(const std::string &controllerStatus, uint8_t healthCode);
// "ok" 2; "degraded", "pred fail" 3; "error", "stressed", "nonrecover", "no contact", "lost comm" 4;
// else 1 (any case).
int32_t ControllerStatusCode(const std::string &status);
// Health code 2 gives 2; 3 to 5 give 3; 6 gives 4; else 1.
int32_t HealthCodeClass(uint8_t healthCode);
int32_t PcieDiskTrapFlags(unsigned trapNumber, const PCIE_DISK_INFO &disk);

// The traps a disk seen again (same serial number) asks for, in order: 1015 at or above the
// earlier reference temperature, 1016 when it fell below it, 1017 for a changed controller
// status, 1018 for a changed health code. A reference of 0 or 255, or a temperature of 255,
// is no reading: no temperature trap then.
std::vector<unsigned> PcieDiskTraps(const PCIE_DISK_INFO &previous, const PCIE_DISK_INFO &current);
