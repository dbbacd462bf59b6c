#include "stdeq_pci_rules.h"

#include <cctype>
#include <cstring>
#include <string_view>

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    const int lower = std::tolower(static_cast<unsigned char>(c));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// Up to digits hexadecimal digits at text[at]; none gives nothing.
std::optional<uint32_t> Hex(std::string_view text, size_t at, size_t digits)
{
    uint32_t value = 0;
    size_t read = 0;
    for (; read < digits && at + read < text.size(); ++read) {
        const int digit = HexDigit(text[at + read]);
        if (digit < 0)
            break;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return read ? std::optional<uint32_t>(value) : std::nullopt;
}

std::optional<uint32_t> HexAfter(std::string_view text, std::string_view key, size_t digits)
{
    const size_t at = text.find(key);
    if (at == std::string_view::npos)
        return std::nullopt;
    return Hex(text, at + key.size(), digits);
}

const char *const kClassNames[] = {
    "Mass storage controller",
    "Network controller",
    "Display controller",
    "Multimedia device",
    "Memory controller",
    "Bridge device",
    "Simple communications controller",
    "Base system peripheral",
    "Input device",
    "Docking station",
    "Processor",
    "Serial bus controller",
    "Wireless controller",
    "Intelligent I/O controller",
    "Satellite communications controller",
    "Encryption/Decryption controller",
    "Data acquisition and signal processing controller",
};

} // namespace

PCI_IDS ParsePciHardwareIds(const char *ids, size_t size)
{
    PCI_IDS parsed;
    size_t offset = 0;
    while (ids && offset < size && ids[offset] != '\0') {
        const char *start = ids + offset;
        const void *nul = std::memchr(start, '\0', size - offset);
        const size_t length = nul ? static_cast<size_t>(static_cast<const char *>(nul) - start) : size - offset;
        const std::string_view text(start, length);
        if (parsed.VendorId == 0)
            parsed.VendorId = static_cast<uint16_t>(HexAfter(text, "VEN_", 4).value_or(0));
        if (parsed.DeviceId == 0)
            parsed.DeviceId = static_cast<uint16_t>(HexAfter(text, "DEV_", 4).value_or(0));
        if (auto subsystem = HexAfter(text, "SUBSYS_", 8))
            parsed.Subsystem = *subsystem;
        if (auto revision = HexAfter(text, "REV_", 2))
            parsed.Revision = static_cast<uint8_t>(*revision);
        if (parsed.BaseClass == 0 && parsed.SubClass == 0 && parsed.ProgIf == 0) {
            const size_t at = text.find("CC_");
            if (at != std::string_view::npos) {
                const size_t bytes = at + 3;
                if (auto base = Hex(text, bytes, 2)) {
                    parsed.BaseClass = static_cast<uint8_t>(*base);
                    // A short byte ends the reading, as a scan of three two-digit fields would.
                    if (auto sub = bytes + 2 <= text.size() ? Hex(text, bytes + 2, 2) : std::nullopt) {
                        parsed.SubClass = static_cast<uint8_t>(*sub);
                        if (auto progIf = bytes + 4 <= text.size() ? Hex(text, bytes + 4, 2) : std::nullopt)
                            parsed.ProgIf = static_cast<uint8_t>(*progIf);
                    }
                }
                parsed.ClassCodeOffset = offset + bytes;
            }
        }
        offset += length + 1;
    }
    return parsed;
}

void PackHardwareIds(const std::vector<std::string> &hardwareIds, char *buffer, size_t size)
{
    std::memset(buffer, 0, size);
    size_t offset = 0;
    for (const std::string &id : hardwareIds) {
        const size_t length = std::strlen(id.c_str());
        if (offset + length + 1 < size)
            std::memcpy(buffer + offset, id.c_str(), length + 1);
        offset += length + 1;
    }
}

const char *PciClassName(uint8_t baseClass)
{
    return baseClass >= 1 && baseClass <= 17 ? kClassNames[baseClass - 1] : nullptr;
}

bool IsHiddenPciClass(uint8_t baseClass, uint8_t subClass)
{
    return baseClass == 6 || baseClass == 5 || (baseClass == 8 && subClass == 0);
}

int32_t SlotWidthCode(uint8_t dataBusWidth)
{
    return dataBusWidth >= 5 && dataBusWidth <= 14 ? dataBusWidth - 2 : 1;
}

int32_t SlotTypeCode(uint8_t slotType)
{
    if (slotType >= 0x14 && slotType <= 0x17)
        return 8;
    if (slotType == 0x1F || slotType == 0x20)
        return 7;
    return 6;
}

bool ReadSystemSlot(const uint8_t *structure, size_t available, SMBIOS_SLOT *slot)
{
    if (structure == nullptr || available < 4 || structure[0] != 9)
        return false;
    const size_t length = structure[1] < available ? structure[1] : available;
    if (length < 11)
        return false;
    *slot = SMBIOS_SLOT{};
    slot->SlotType = structure[5];
    slot->DataBusWidth = structure[6];
    slot->CurrentUsage = structure[7];
    slot->SlotId = static_cast<uint16_t>(structure[9] | structure[10] << 8);
    if (length >= 17) {
        slot->HasAddress = true;
        slot->Bus = structure[15];
        slot->Device = structure[16] >> 3;
        slot->Function = structure[16] & 7;
    }
    return true;
}

bool IsEmptySlotUsage(uint8_t currentUsage)
{
    return currentUsage >= 1 && currentUsage <= 3;
}

SLOT_ROW_FIX MatchSlot(const std::vector<SMBIOS_SLOT> &slots, uint32_t uiNumber, int bus, int device)
{
    SLOT_ROW_FIX fix;
    for (const SMBIOS_SLOT &slot : slots) {
        if (uiNumber == 255) {
            if (slot.HasAddress && slot.Bus == bus && slot.Device == device) {
                fix.SlotId = slot.SlotId;
                fix.WidthCode = SlotWidthCode(slot.DataBusWidth);
            }
        } else if (slot.SlotId == uiNumber) {
            fix.WidthCode = SlotWidthCode(slot.DataBusWidth);
        }
    }
    return fix;
}

std::optional<uint32_t> AncestorUiNumber(const std::vector<PCI_ANCESTOR> &chain)
{
    if (chain.size() < 2)
        return std::nullopt;
    for (size_t z = chain.size() - 1; z >= 2; --z) {
        if (chain[z].HardwareId.rfind("ACPI\\", 0) == 0 &&
            chain[z - 1].HardwareId.find("PCI\\VEN_8086") != std::string::npos && chain[z - 1].UiNumber == -1 &&
            chain[z - 2].UiNumber != -1)
            return static_cast<uint32_t>(chain[z - 2].UiNumber);
    }
    return std::nullopt;
}

bool ReadsUiNumberFromAncestor(uint16_t vendorId, uint16_t deviceId)
{
    return vendorId == 0x10DF && (deviceId == 0xF100 || deviceId == 0xE200);
}

namespace {

bool SameAddress(const PCI_ADDRESS &a, const PCI_ADDRESS &b)
{
    return a.Bus == b.Bus && a.Device == b.Device && a.Function == b.Function;
}

// The first record of list whose address the other list lacks.
std::optional<size_t> OnlyIn(const std::vector<PCI_ADDRESS> &list, const std::vector<PCI_ADDRESS> &other)
{
    for (size_t i = 0; i < list.size(); ++i) {
        bool found = false;
        for (const PCI_ADDRESS &address : other)
            found = found || SameAddress(list[i], address);
        if (!found)
            return i;
    }
    return std::nullopt;
}

} // namespace

PCI_CHANGE ChoosePciChange(const std::vector<PCI_ADDRESS> &previous, const std::vector<PCI_ADDRESS> &current)
{
    PCI_CHANGE change;
    const size_t c = current.size(), p = previous.size();
    if (c == p || c == 0 || p == 0)
        return change;
    change.Trap = c > p ? 1019 : 1020;
    change.FromCurrent = c > p;
    const auto only = change.FromCurrent ? OnlyIn(current, previous) : OnlyIn(previous, current);
    if (only) {
        change.Position = *only;
        return change;
    }
    bool busSeen = false;
    for (const PCI_ADDRESS &address : previous)
        busSeen = busSeen || address.Bus == current.back().Bus;
    change.Position = busSeen ? p - 1 : c - 1;
    return change;
}
