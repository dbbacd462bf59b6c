#pragma once
// What the standard-equipment collector reads from PCI hardware IDs and SMBIOS system-slot
// structures, and how it decides the PCI change traps. Portable: no windows.h, fuzzed natively.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The numbers in a device's hardware IDs.
struct PCI_IDS {
    uint16_t VendorId = 0;
    uint16_t DeviceId = 0;
    uint32_t Subsystem = 0;     // subsystem ID in the upper 16 bits, its vendor in the lower
    uint8_t Revision = 0;
    uint8_t BaseClass = 0;
    uint8_t SubClass = 0;
    uint8_t ProgIf = 0;
    // Where the class-code text starts (just past "CC_") in the buffer, when one was found.
    std::optional<size_t> ClassCodeOffset;
};

// Walks the NUL-terminated texts of ids (at most size bytes) up to the first empty one. The
// vendor and device IDs come from the first text that gives a non-zero value, the class bytes
// from the first "CC_" that gives any; "SUBSYS_" and "REV_" from each text that has them.
PCI_IDS ParsePciHardwareIds(const char *ids, size_t size);

// Packs hardware IDs, one after the other with their NULs, into a fixed buffer of size bytes:
// an ID is copied only while offset + length + 1 < size, and the offset grows whether it was
// copied or not. The buffer is zeroed first.
void PackHardwareIds(const std::vector<std::string> &hardwareIds, char *buffer, size_t size);

// The name of a PCI base class 1 to 17, else null.
const char *PciClassName(uint8_t baseClass);
// Bridges, memory controllers and interrupt controllers are not shown and do not count.
bool IsHiddenPciClass(uint8_t baseClass, uint8_t subClass);

// The slot width code of an SMBIOS data-bus-width byte: 5 to 14 give 3 to 12, else 1.
int32_t SlotWidthCode(uint8_t dataBusWidth);
// The slot type code: 0x14 to 0x17 give 8, 0x1F and 0x20 give 7, else 6.
int32_t SlotTypeCode(uint8_t slotType);

// One SMBIOS system-slot structure (type 9), as far as its formatted area reaches.
struct SMBIOS_SLOT {
    uint8_t SlotType = 0;
    uint8_t DataBusWidth = 0;
    uint8_t CurrentUsage = 0;
    uint16_t SlotId = 0;
    bool HasAddress = false;   // bus and device/function lie inside the formatted area
    uint8_t Bus = 0;
    uint8_t Device = 0;        // bits 7..3 of the device/function byte
    uint8_t Function = 0;      // bits 2..0
};
// False for anything but a type-9 structure whose formatted area holds the slot ID (11 bytes).
// Structures from before the address fields (under 17 bytes) read with HasAddress false, so a
// rule that needs the bus passes over them.
bool ReadSystemSlot(const uint8_t *structure, size_t available, SMBIOS_SLOT *slot);
// Current usage 1 (other), 2 (unknown) or 3 (available) marks an empty slot.
bool IsEmptySlotUsage(uint8_t currentUsage);

// The corrections a present device's slot row takes from the slots, in table order (the last
// match wins): with UI number 255, the slot at the device's bus and device gives the slot ID and
// width; otherwise the slot whose ID equals the UI number gives the width.
struct SLOT_ROW_FIX {
    std::optional<uint32_t> SlotId;
    std::optional<int32_t> WidthCode;
};
SLOT_ROW_FIX MatchSlot(const std::vector<SMBIOS_SLOT> &slots, uint32_t uiNumber, int bus, int device);

// One ancestor of a device, nearest first: its first hardware ID and UI number (-1 without one).
struct PCI_ANCESTOR {
    std::string HardwareId;
    int64_t UiNumber = -1;
};
// The slot number a device behind an Intel bridge under an ACPI node inherits, when the chain
// shows that shape.
std::optional<uint32_t> AncestorUiNumber(const std::vector<PCI_ANCESTOR> &chain);
// Devices whose slot number is read from an ancestor.
bool ReadsUiNumberFromAncestor(uint16_t vendorId, uint16_t deviceId);

// A device as the change check sees it.
struct PCI_ADDRESS {
    int Bus = 0;
    int Device = 0;
    int Function = 0;
};
// The trap a change of the PCI device count asks for, and which record it names.
struct PCI_CHANGE {
    unsigned Trap = 0;        // 1019 (more devices) or 1020 (fewer), 0 for none
    bool FromCurrent = true;  // the record is in the current list, else in the previous one
    size_t Position = 0;
};
// Nothing when the counts are equal or either list is empty. The record named is one whose
// bus . device . function is in its own list only (the first such) - the current list for 1019, the
// previous one for 1020; when every address is in both lists, position c - 1 when no previous
// record shares the bus of the last current record, else p - 1, in that same list.
PCI_CHANGE ChoosePciChange(const std::vector<PCI_ADDRESS> &previous, const std::vector<PCI_ADDRESS> &current);
