// The portable rules of the firmware readers and the port map's reads of SMBIOS and location
// texts, on hand-made answers and tables.
#include "firmware_text.h"
#include "port_map_text.h"
#include "smbios_samples.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(FirmwareDispatch, FirstRuleThatHoldsDecides)
{
    struct Case {
        uint32_t pciId;
        uint8_t type;
        FirmwareReader reader;
    };
    const Case cases[] = {
        {0x80861572, 0, FirmwareReader::kIntel},
        {0x80861572, 15, FirmwareReader::kIntel},       // vendor before adapter type
        {0x40400001, 0, FirmwareReader::kNetXen},
        {0x10778020, 0, FirmwareReader::kNetXen},
        {0x19A20700, 0, FirmwareReader::kEmulex},
        {0x10DF0720, 0, FirmwareReader::kEmulex},
        {0x10DF0721, 0, FirmwareReader::kNone},         // no other Emulex device
        {0x14E41657, 0, FirmwareReader::kBroadcom},     // PCI hardware ID: BMAPI
        {0x164E14E4, 0, FirmwareReader::kQLogic},       // virtual bus driver: QLMAPI
        {0x16561234, 0, FirmwareReader::kQLogic},
        {0x16A11077, 0, FirmwareReader::kQLogic},
        {0x80701077, 0, FirmwareReader::kQLogic},
        {0x16541077, 0, FirmwareReader::kQLogic},
        {0x16551077, 0, FirmwareReader::kNone},         // other QLogic VBD IDs match no rule
        {0x19240803, 0, FirmwareReader::kSolarflare},
        {0x15B31003, 0, FirmwareReader::kMellanox},
        {0x12345678, 15, FirmwareReader::kMellanox},
        {0x12345678, 12, FirmwareReader::kMellanox},
        {0x12345678, 2, FirmwareReader::kNone},
        {0, 0, FirmwareReader::kNone},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.reader, SelectFirmwareReader(c.pciId, c.type)) << std::hex << c.pciId << " " << int(c.type);
}

TEST(FirmwareText, VersionFormatters)
{
    char text[kFirmwareTextBytes];
    ASSERT_TRUE(FormatIntelFirmwareVersion(0x01020304, text, sizeof(text)));
    EXPECT_STREQ("1.515.4", text);
    FormatIntelFirmwareVersion(0x00001234, text, sizeof(text));
    EXPECT_STREQ("1.2.52", text);
    FormatMlxBootCodeVersion((2ull << 32) | (14ull << 16) | 3000, text, sizeof(text));
    EXPECT_STREQ("2.14.3000", text);
    FormatMlxBootCodeVersion((2ull << 32) | (1ull << 16) | 5, text, sizeof(text));
    EXPECT_STREQ("2.1.0005", text);
    // Only the three 16-bit fields count.
    FormatMlxBootCodeVersion(0xFFFF'FFFF'FFFF'FFFFull, text, sizeof(text));
    EXPECT_STREQ("65535.65535.65535", text);
    FormatPackedFirmwareVersion(0x07020300, text, sizeof(text));
    EXPECT_STREQ("7.2.3", text);
    const uint8_t netxen[12] = {4, 0, 0, 0, 0, 1, 0, 0, 30, 0, 0, 0};
    FormatNetXenFirmwareVersion(netxen, sizeof(netxen), text, sizeof(text));
    EXPECT_STREQ("4.256.30", text);
    FormatNetXenFirmwareVersion(netxen, 5, text, sizeof(text)); // a short answer: words past it are 0
    EXPECT_STREQ("4.0.0", text);
    char small[4];
    FormatIntelFirmwareVersion(0x01020304, small, sizeof(small));
    EXPECT_STREQ("1.5", small);
    EXPECT_FALSE(FormatIntelFirmwareVersion(1, small, 0));
}

TEST(FirmwareText, NormalizeFirmwareVersion)
{
    struct Case {
        const char *in;
        const char *out;
    };
    const Case cases[] = {
        {"7.12.31.4", "7.12.31"}, {"0.5", "0.5"}, {"7.12", "7.12.0"}, {"7", "7.0.0"},
        {"7.x.3", "7.0.3"},       {"", ""},       {"abc", "abc"},     {"99999999999.1.1", "2147483647.1.1"},
    };
    for (const Case &c : cases) {
        char text[kFirmwareTextBytes] = {};
        std::strcpy(text, c.in);
        NormalizeFirmwareVersion(text, sizeof(text));
        EXPECT_STREQ(c.out, text) << c.in;
    }
    // The rewrite stays inside a buffer it would outgrow, and an unterminated buffer is cut.
    char tight[6] = {'7', '.', '1', '2', 0, 0};
    NormalizeFirmwareVersion(tight, sizeof(tight));
    EXPECT_STREQ("7.12.", tight);
    char unterminated[3] = {'5', '.', '1'};
    NormalizeFirmwareVersion(unterminated, sizeof(unterminated));
    EXPECT_STREQ("5.", unterminated);
}

TEST(FirmwareText, RecordTextsStayInsideTheRecord)
{
    // A 579XX-sized record whose text at 5241 runs to the record's end without a NUL.
    std::vector<uint8_t> record(5257, 0);
    std::memset(record.data() + 5241, 'A', 16);
    char text[kFirmwareTextBytes];
    EXPECT_EQ(16u, CopyRecordText(record.data(), record.size(), 5241, text, sizeof(text)));
    EXPECT_EQ(std::string(16, 'A'), text);
    EXPECT_EQ(0u, CopyRecordText(record.data(), record.size(), 5257, text, sizeof(text)));
    EXPECT_STREQ("", text);
    // A 10-byte VPD answer filled to the brim.
    const uint8_t vpd[10] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', '0'};
    EXPECT_EQ(10u, CopyRecordText(vpd, sizeof(vpd), 0, text, sizeof(text)));
    EXPECT_STREQ("1234567890", text);
    char small[4];
    EXPECT_EQ(3u, CopyRecordText(vpd, sizeof(vpd), 0, small, sizeof(small)));
    EXPECT_STREQ("123", small);
    EXPECT_EQ(0x04030201u, RecordWord(std::vector<uint8_t>{1, 2, 3, 4}.data(), 4, 0));
    EXPECT_EQ(0u, RecordWord(vpd, sizeof(vpd), 8));
}

std::vector<uint8_t> Table(const std::vector<SampleStructure> &structures, long claimed = -1)
{
    return BuildCopy(BuildStructures(structures), claimed);
}

TEST(PortMapSmbios, ProductNameAndBayFromTheirStructures)
{
    // Type 1: product name is string 2 (byte 5); type 204: bay is string 1 (byte 7).
    CSMBIOSTable table(Table({{1, 1, {1, 2, 0, 0}, {"Maker", "Blade X9"}},
                              {204, 2, {0, 0, 0, 1}, {"12"}},
                              {127, 3, {}, {}}}));
    const PortMapSmbiosFacts facts = ReadPortMapSmbiosFacts(table);
    EXPECT_TRUE(facts.hasSystemInfo);
    EXPECT_EQ("Blade X9", facts.productName);
    EXPECT_TRUE(facts.hasRackInfo);
    EXPECT_EQ(12, facts.serverBay);
}

TEST(PortMapSmbios, CraftedTables)
{
    struct Case {
        const char *name;
        std::vector<uint8_t> copy;
        bool system;
        std::string product;
        bool rack;
        int32_t bay;
    };
    const Case cases[] = {
        // Formatted areas too short to hold bytes 5 and 7: no string, "" and bay 0.
        {"short areas", Table({{1, 1, {}, {"Maker", "X"}}, {204, 2, {0, 1}, {"7"}}}), true, "", true, 0},
        // A string number past the set.
        {"number past set", Table({{1, 1, {1, 9}, {"Maker"}}}), true, "", false, 0},
        // A length byte below 4 ends the walk before the structure.
        {"length below 4", Table({{1, 1, {1, 1}, {"Maker"}, 3}}), false, "", false, 0},
        // The string set is cut by the table's end (no double NUL).
        {"truncated strings",
         [] {
             std::vector<uint8_t> s = BuildStructures({{1, 1, {1, 1}, {"Maker"}}});
             s.resize(s.size() - 2);
             return BuildCopy(s);
         }(),
         false, "", false, 0},
        // A header that claims more than the copy holds.
        {"length past copy", Table({{1, 1, {1, 1}, {"Name"}}}, 4000), true, "Name", false, 0},
        {"no type 1", Table({{204, 2, {0, 0, 0, 1}, {"-3"}}}), false, "", true, -3},
        {"bay overflow", Table({{204, 2, {0, 0, 0, 1}, {"99999999999"}}}), false, "", true, INT32_MAX},
        {"header only", BuildCopy({}), false, "", false, 0},
        {"half header", std::vector<uint8_t>{0, 2}, false, "", false, 0},
    };
    for (const Case &c : cases) {
        CSMBIOSTable table(c.copy);
        const PortMapSmbiosFacts facts = ReadPortMapSmbiosFacts(table);
        EXPECT_EQ(c.system, facts.hasSystemInfo) << c.name;
        EXPECT_EQ(c.product, facts.productName) << c.name;
        EXPECT_EQ(c.rack, facts.hasRackInfo) << c.name;
        EXPECT_EQ(c.bay, facts.serverBay) << c.name;
    }
}

TEST(PortMapLocation, NumbersOfTheLocationText)
{
    struct Case {
        const wchar_t *text;
        bool parsed;
        int32_t numbers[4];
    };
    const Case cases[] = {
        {L"PCI bus 3, device 0, function 1", true, {-1, 3, 0, 1}},
        {L"PCI Segment 1 bus 4, device 0, function 1", true, {1, 4, 0, 1}},
        {L" bus 5, device 0, function 0, port 2", true, {5, 0, 0, 2}},
        {L"PCI bus 3, device 0", false, {}}, // the scan passes the end before the fourth number
        {L"bus 12", false, {}},
        {L"", true, {-1, -1, -1, -1}},
        {L"no digits here", true, {-1, -1, -1, -1}},
        {L"bus 99999999999, device 1, function 2", true, {-1, INT32_MAX, 1, 2}},
    };
    for (const Case &c : cases) {
        int32_t numbers[4] = {7, 7, 7, 7};
        EXPECT_EQ(c.parsed, ParsePortMapLocation(c.text, std::wcslen(c.text), numbers)) << c.text;
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(c.parsed ? c.numbers[i] : 7, numbers[i]) << c.text << " " << i;
    }
    size_t consumed = 99;
    EXPECT_EQ(-1, PortMapNextNumber(L"abc", 3, &consumed));
    EXPECT_EQ(99u, consumed);
    EXPECT_EQ(42, PortMapNextNumber(L"ab42cd", 6, &consumed));
    EXPECT_EQ(4u, consumed);
    EXPECT_EQ(4, PortMapNextNumber(L"ab42cd", 3, &consumed)); // never past the length given
}

} // namespace
