// Hardware IDs, system slots and the choice of the PCI change trap.
#include "stdeq_pci_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Multi(std::initializer_list<std::string> texts)
{
    std::string multi;
    for (const std::string &text : texts)
        multi += text + '\0';
    return multi + '\0';
}

TEST(StdeqHardwareIds, NumbersFromTheTexts)
{
    struct Case {
        const char *what;
        std::string ids;
        uint16_t vendor, device;
        uint32_t subsystem;
        uint8_t revision, base, sub, progIf;
        std::string classCode;  // "" when none
    } cases[] = {
        {"full list: CC_010802 before CC_0108",
         Multi({"PCI\\VEN_8086&DEV_0A54&SUBSYS_56781234&REV_01", "PCI\\VEN_8086&DEV_0A54&SUBSYS_56781234",
                "PCI\\VEN_8086&DEV_0A54&CC_010802", "PCI\\VEN_8086&DEV_0A54&CC_0108"}),
         0x8086, 0x0A54, 0x56781234, 1, 1, 8, 2, "010802"},
        {"two class bytes only", Multi({"PCI\\VEN_10DF&DEV_F100&CC_0C04"}), 0x10DF, 0xF100, 0, 0, 0x0C, 4, 0, "0C04"},
        {"lower-case digits", Multi({"PCI\\VEN_abcd&DEV_ef01&REV_a1&CC_020000"}), 0xABCD, 0xEF01, 0, 0xA1, 2, 0, 0,
         "020000"},
        {"no class code", Multi({"PCI\\VEN_1000&DEV_0097"}), 0x1000, 0x97, 0, 0, 0, 0, 0, ""},
        // A vendor of 0 in the first text is taken from the next one.
        {"vendor 0 first", Multi({"PCI\\VEN_0000&DEV_0000", "PCI\\VEN_1234&DEV_5678"}), 0x1234, 0x5678, 0, 0, 0, 0,
         0, ""},
        {"digits missing", Multi({"PCI\\VEN_&DEV_zz&SUBSYS_&REV_"}), 0, 0, 0, 0, 0, 0, 0, ""},
        {"stops at the first empty text", Multi({"PCI\\VEN_1111"}) + "PCI\\VEN_2222&DEV_3333", 0x1111, 0, 0, 0, 0,
         0, 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const PCI_IDS ids = ParsePciHardwareIds(c.ids.data(), c.ids.size());
        EXPECT_EQ(c.vendor, ids.VendorId);
        EXPECT_EQ(c.device, ids.DeviceId);
        EXPECT_EQ(c.subsystem, ids.Subsystem);
        EXPECT_EQ(c.revision, ids.Revision);
        EXPECT_EQ(c.base, ids.BaseClass);
        EXPECT_EQ(c.sub, ids.SubClass);
        EXPECT_EQ(c.progIf, ids.ProgIf);
        ASSERT_EQ(!c.classCode.empty(), ids.ClassCodeOffset.has_value());
        if (ids.ClassCodeOffset) {
            EXPECT_EQ(c.classCode, std::string(c.ids.data() + *ids.ClassCodeOffset));
        }
    }
}

TEST(StdeqHardwareIds, UnterminatedBufferIsReadWithinItsSize)
{
    const std::string ids = "PCI\\VEN_8086&DEV_12";  // no NUL at all
    const PCI_IDS parsed = ParsePciHardwareIds(ids.data(), ids.size());
    EXPECT_EQ(0x8086, parsed.VendorId);
    EXPECT_EQ(0x12, parsed.DeviceId);
    EXPECT_EQ(0, ParsePciHardwareIds(nullptr, 10).VendorId);
}

TEST(StdeqHardwareIds, PackingKeepsWithinTheBufferAndCountsSkippedIds)
{
    char buffer[16];
    // "ABCDEFGHIJ" (11 with NUL) fits; "0123" would end at 16 and is skipped; "X" after the
    // skipped one starts at 16 and does not fit either.
    PackHardwareIds({"ABCDEFGHIJ", "0123", "X"}, buffer, sizeof buffer);
    EXPECT_EQ(std::string("ABCDEFGHIJ"), buffer);
    for (size_t i = 10; i < sizeof buffer; ++i)
        EXPECT_EQ('\0', buffer[i]) << i;
    PackHardwareIds({"AB", "CD"}, buffer, sizeof buffer);
    EXPECT_EQ(std::string("AB\0CD\0\0", 7), std::string(buffer, 7));
}

TEST(StdeqClasses, NamesAndHiddenClasses)
{
    EXPECT_EQ(nullptr, PciClassName(0));
    EXPECT_STREQ("Mass storage controller", PciClassName(1));
    EXPECT_STREQ("Input device", PciClassName(9));
    EXPECT_STREQ("Data acquisition and signal processing controller", PciClassName(17));
    EXPECT_EQ(nullptr, PciClassName(18));
    EXPECT_EQ(nullptr, PciClassName(255));
    struct {
        uint8_t base, sub;
        bool hidden;
    } cases[] = {{6, 4, true}, {5, 0, true}, {8, 0, true}, {8, 5, false}, {1, 8, false}, {0x0C, 3, false}};
    for (const auto &c : cases)
        EXPECT_EQ(c.hidden, IsHiddenPciClass(c.base, c.sub)) << int(c.base) << "." << int(c.sub);
}

TEST(StdeqSlots, WidthAndTypeCodes)
{
    const std::pair<uint8_t, int32_t> widths[] = {{0, 1}, {4, 1}, {5, 3}, {0x0B, 9}, {14, 12}, {15, 1}, {255, 1}};
    for (const auto &[width, code] : widths)
        EXPECT_EQ(code, SlotWidthCode(width)) << int(width);
    const std::pair<uint8_t, int32_t> types[] = {{0x13, 6}, {0x14, 8}, {0x17, 8}, {0x18, 6},
                                                 {0x1F, 7}, {0x20, 7}, {0x21, 6}, {0xA5, 6}};
    for (const auto &[type, code] : types)
        EXPECT_EQ(code, SlotTypeCode(type)) << int(type);
}

// A type-9 structure of the given formatted length (at least 11), bus 0x40, device 3 function 1.
std::vector<uint8_t> Slot(uint8_t length, uint16_t slotId = 0x0102)
{
    std::vector<uint8_t> s(length, 0);
    s[0] = 9;
    s[1] = length;
    s[5] = 0xA5;
    s[6] = 0x0B;
    s[7] = 3;
    s[9] = static_cast<uint8_t>(slotId);
    s[10] = static_cast<uint8_t>(slotId >> 8);
    if (length >= 17) {
        s[15] = 0x40;
        s[16] = 3 << 3 | 1;
    }
    return s;
}

TEST(StdeqSlots, ShortStructuresArePassedOverByTheRulesThatNeedMore)
{
    SMBIOS_SLOT slot;
    // SMBIOS 2.1 slots end at 13 bytes: their ID and width are usable, their address is not.
    const std::vector<uint8_t> old = Slot(13);
    ASSERT_TRUE(ReadSystemSlot(old.data(), old.size(), &slot));
    EXPECT_EQ(0x0102, slot.SlotId);
    EXPECT_FALSE(slot.HasAddress);
    const std::vector<uint8_t> full = Slot(17);
    ASSERT_TRUE(ReadSystemSlot(full.data(), full.size(), &slot));
    EXPECT_TRUE(slot.HasAddress);
    EXPECT_EQ(0x40, slot.Bus);
    EXPECT_EQ(3, slot.Device);
    EXPECT_EQ(1, slot.Function);
    // Claims 17 bytes with only 13 in hand; too short for the ID; another type.
    EXPECT_TRUE(ReadSystemSlot(full.data(), 13, &slot));
    EXPECT_FALSE(slot.HasAddress);
    EXPECT_FALSE(ReadSystemSlot(Slot(10 + 1).data(), 10, &slot));
    std::vector<uint8_t> other = full;
    other[0] = 8;
    EXPECT_FALSE(ReadSystemSlot(other.data(), other.size(), &slot));
}

TEST(StdeqSlots, MatchingAPresentDevice)
{
    SMBIOS_SLOT a, b, old;
    std::vector<uint8_t> sa = Slot(17, 5), sb = Slot(17, 7), so = Slot(13, 9);
    sb[6] = 0x0D;
    ASSERT_TRUE(ReadSystemSlot(sa.data(), sa.size(), &a));
    ASSERT_TRUE(ReadSystemSlot(sb.data(), sb.size(), &b));
    ASSERT_TRUE(ReadSystemSlot(so.data(), so.size(), &old));
    const std::vector<SMBIOS_SLOT> slots = {a, b, old};
    // UI number 255: by address, the last match wins (both a and b sit at 0x40.3).
    SLOT_ROW_FIX fix = MatchSlot(slots, 255, 0x40, 3);
    EXPECT_EQ(std::optional<uint32_t>(7), fix.SlotId);
    EXPECT_EQ(std::optional<int32_t>(11), fix.WidthCode);
    // The short structure never matches by address.
    fix = MatchSlot({old}, 255, 0, 0);
    EXPECT_FALSE(fix.SlotId || fix.WidthCode);
    // Otherwise by slot ID, width only.
    fix = MatchSlot(slots, 9, 0, 0);
    EXPECT_FALSE(fix.SlotId);
    EXPECT_EQ(std::optional<int32_t>(9), fix.WidthCode);
    fix = MatchSlot(slots, 4, 0x40, 3);
    EXPECT_FALSE(fix.SlotId || fix.WidthCode);
}

TEST(StdeqAncestors, SlotNumberFromTheChain)
{
    using Chain = std::vector<PCI_ANCESTOR>;
    struct {
        const char *what;
        Chain chain;
        std::optional<uint32_t> ui;
    } cases[] = {
        {"port with a number, Intel bridge without, ACPI node",
         Chain{{"PCI\\VEN_10DF&DEV_F101", 4}, {"PCI\\VEN_8086&DEV_3C08", -1}, {"ACPI\\PNP0A08", -1}, {"ROOT", -1}},
         4},
        {"the bridge has a number", Chain{{"X", 4}, {"PCI\\VEN_8086&DEV_3C08", 2}, {"ACPI\\PNP0A08", -1}}, {}},
        {"not an Intel bridge", Chain{{"X", 4}, {"PCI\\VEN_1022&DEV_3C08", -1}, {"ACPI\\PNP0A08", -1}}, {}},
        {"nearest has no number", Chain{{"X", -1}, {"PCI\\VEN_8086&DEV_3C08", -1}, {"ACPI\\PNP0A08", -1}}, {}},
        {"the farthest match counts",
         Chain{{"A", 1}, {"PCI\\VEN_8086&DEV_1", -1}, {"ACPI\\X", 2}, {"PCI\\VEN_8086&DEV_2", -1}, {"ACPI\\Y", -1}},
         2},
        {"too short", Chain{{"PCI\\VEN_8086", -1}, {"ACPI\\X", -1}}, {}},
        {"empty", Chain{}, {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.ui, AncestorUiNumber(c.chain)) << c.what;
    EXPECT_TRUE(ReadsUiNumberFromAncestor(0x10DF, 0xF100));
    EXPECT_TRUE(ReadsUiNumberFromAncestor(0x10DF, 0xE200));
    EXPECT_FALSE(ReadsUiNumberFromAncestor(0x10DF, 0xF101));
    EXPECT_FALSE(ReadsUiNumberFromAncestor(0x10DE, 0xF100));
}

TEST(StdeqPciChange, TrapAndNamedRecord)
{
    using List = std::vector<PCI_ADDRESS>;
    struct {
        const char *what;
        List previous, current;
        unsigned trap;
        bool fromCurrent;
        size_t position;
    } cases[] = {
        {"first cycle", {}, {{1, 0, 0}}, 0, true, 0},
        {"same count", {{1, 0, 0}}, {{2, 0, 0}}, 0, true, 0},
        {"no current", {{1, 0, 0}}, {}, 0, true, 0},
        // The new device sits in the middle of the list: it is named, not the last one.
        {"one more", {{0, 2, 0}, {3, 0, 0}}, {{0, 2, 0}, {1, 0, 0}, {3, 0, 0}}, 1019, true, 1},
        {"two fewer", {{0, 2, 0}, {1, 0, 0}, {1, 0, 1}, {3, 0, 0}}, {{0, 2, 0}, {3, 0, 0}}, 1020, false, 1},
        // Duplicated addresses (unlocatable devices read as 0.0.0): the position rule.
        {"more, last bus new", {{0, 0, 0}}, {{0, 0, 0}, {0, 0, 0}, {5, 0, 0}}, 1019, true, 2},
        {"more, duplicates only", {{0, 0, 0}}, {{0, 0, 0}, {0, 0, 0}}, 1019, true, 0},
        {"fewer, duplicates only", {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, {{0, 0, 0}}, 1020, false, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const PCI_CHANGE change = ChoosePciChange(c.previous, c.current);
        EXPECT_EQ(c.trap, change.Trap);
        if (c.trap) {
            EXPECT_EQ(c.fromCurrent, change.FromCurrent);
            EXPECT_EQ(c.position, change.Position);
        }
    }
}

} // namespace
