#pragma once
// The SD/USB storage kit's log and state: the records taken from the log area, the status they
// report, and the events newer than the kept time stamp. Portable: no windows.h, fuzzed natively.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The kit's identity, chosen once for this product.
constexpr char kUsbKitManufacturer[] = "Vostrel-Quinbar";
constexpr char kUsbKitProductName[] = "Dual SD Card USB Storage Kit";
constexpr char kUsbKitPartNumber[] = "ZSK-2SD-0001";

constexpr size_t kUsbKitLogBytes = 65536;
constexpr size_t kUsbKitSlots = 512;
constexpr size_t kUsbKitSlotBytes = 128;
constexpr size_t kUsbKitStampChars = 20;
constexpr size_t kUsbKitCards = 8;  // counter entries per kind; cards 0 and 1 are published

struct USB_KIT_STATE {
    int32_t Index = 0;
    int32_t Column2 = 0;
    std::string Column3;
    int32_t Column4 = 0;
    std::string Model;
    int32_t SizeMb = 0;
    std::string Manufacturer;
    std::string ProductName;
    std::string FirmwareVersion;
    std::string SerialNumber;
    std::string PartNumber;
    int32_t CardCount = 0;
    uint8_t Counter13[kUsbKitCards] = {};
    uint8_t Counter14[kUsbKitCards] = {};
    uint8_t Counter15[kUsbKitCards] = {};
    uint8_t Counter16[kUsbKitCards] = {};
    int32_t Condition = 0;  // 2 ok, 3 degraded
    int32_t Column18 = 0;
    int32_t FailedCard = 0;
    int32_t TransferErrorCard = 0;
    int32_t Redundancy = 0;
    uint8_t CardsPresent[2] = {};
};

// What the data disk's WMI row gives: model (lower-cased here), serial number and Size text.
void SetUsbKitIdentity(USB_KIT_STATE *state, const std::string &model, const std::string &serialNumber,
                       const std::string &sizeText);

// The records, newest first, in slots of kUsbKitSlotBytes (NUL-terminated), and the newest time
// stamp.
struct USB_KIT_RECORDS {
    char Slots[kUsbKitSlots][kUsbKitSlotBytes] = {};
    size_t Count = 0;
    std::string NewestStamp;  // empty when nothing was taken
};
// Takes the newest records of one group from the end of the area backwards.
void TakeUsbKitRecords(const uint8_t *area, size_t size, USB_KIT_RECORDS *records);
// The seventh number of "%d:%d:%d:%d:%d:%d:%d:"; 0 when the record does not have seven.
int UsbKitRecordGroup(const char *record);

// Status records, oldest taken first, until everything the row needs was seen.
void ParseUsbKitStatus(USB_KIT_STATE *state, const USB_KIT_RECORDS &records);

// Event records, oldest first: state changes always, traps (trap, card) from the first record
// newer than the stamp on, or for all records without a stamp.
using USB_KIT_RAISE = std::function<void(unsigned trap, int card, const USB_KIT_STATE &state)>;
void ProcessUsbKitEvents(USB_KIT_STATE *state, const USB_KIT_RECORDS &records,
                         const std::optional<std::string> &stamp, const USB_KIT_RAISE &raise);

// The stamp kept in the file: the first word of its first line, at most 20 characters.
std::string ParseUsbKitStampLine(const char *line, size_t size);
// The kit step runs from Windows 6.2 on; a Version that cannot be split does not run it.
bool UsbKitStepRuns(const std::string &version);
// Trap flags of the kit traps: the condition's low three bits, shifted left by 2.
int32_t UsbKitTrapFlags(int32_t condition);
