#include "smbios_samples.h"
#include "smbios_table.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

uint16_t HandleOf(const uint8_t *structure)
{
    return static_cast<uint16_t>(structure[2] | structure[3] << 8);
}

std::vector<std::pair<int, uint16_t>> Walk(const CSMBIOSTable &table)
{
    std::vector<std::pair<int, uint16_t>> seen;
    const uint8_t *structure = nullptr;
    while (table.NextStructure(&structure))
        seen.emplace_back(structure[0], HandleOf(structure));
    return seen;
}

TEST(SMBIOSTableTest, WalkVisitsWholeStructuresAndStopsAtBrokenOnes)
{
    using Seen = std::vector<std::pair<int, uint16_t>>;
    const std::vector<std::pair<std::string, Seen>> cases = {
        {"platform",
         {{0, 0x0000},
          {9, 0x0901},
          {9, 0x0902},
          {41, 0x2901},
          {41, 0x2902},
          {203, 0xCB01},
          {240, 0xF001},
          {242, 0xF201},
          {127, 0x7F00}}},
        {"empty-sets", {{1, 0x0100}, {203, 0xCB02}, {9, 0x0903}, {240, 0xF002}, {127, 0x7F01}}},
        {"truncated-last", {{9, 0x0904}}},
        {"short-length", {{9, 0x0905}}},
        {"formatted-past-end", {{9, 0x0907}}},
        {"claims-more-than-copied", {{41, 0x2905}, {127, 0x7F02}}},
    };
    for (const auto &[name, expected] : cases) {
        SCOPED_TRACE(name);
        CSMBIOSTable table(SampleNamed(name).copy);
        ASSERT_TRUE(table.IsValid());
        EXPECT_EQ(expected, Walk(table));
    }
}

TEST(SMBIOSTableTest, FirstStructureFollowsTheEightByteHeader)
{
    CSMBIOSTable table(SampleNamed("platform").copy);
    const uint8_t *structure = nullptr;
    ASSERT_TRUE(table.NextStructure(&structure));
    EXPECT_EQ(table.Copy().data() + 8, structure);
    EXPECT_EQ(2, table.MajorVersion());
    EXPECT_EQ(8, table.MinorVersion());
}

TEST(SMBIOSTableTest, FindAndCountByType)
{
    CSMBIOSTable table(SampleNamed("platform").copy);
    struct {
        uint8_t type;
        unsigned count;
        std::vector<uint16_t> handles;
    } cases[] = {
        {9, 2, {0x0901, 0x0902}}, {41, 2, {0x2901, 0x2902}}, {203, 1, {0xCB01}},
        {240, 1, {0xF001}},       {242, 1, {0xF201}},        {17, 0, {}},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(static_cast<int>(test.type));
        ASSERT_EQ(test.count, table.CountStructures(test.type));
        for (unsigned index = 0; index < test.count; ++index) {
            const uint8_t *found = table.FindStructure(test.type, index);
            ASSERT_NE(nullptr, found);
            EXPECT_EQ(test.handles[index], HandleOf(found));
        }
        EXPECT_EQ(nullptr, table.FindStructure(test.type, test.count));
    }
}

TEST(SMBIOSTableTest, StringsAreLookedUpInsideTheirSet)
{
    CSMBIOSTable table(SampleNamed("platform").copy);
    const uint8_t *bios = table.FindStructure(0, 0);
    const uint8_t *oem = table.FindStructure(203, 0);
    const uint8_t *noStrings = table.FindStructure(240, 0);
    ASSERT_TRUE(bios && oem && noStrings);
    struct {
        const uint8_t *structure;
        unsigned number;
        std::string text;
    } cases[] = {
        {bios, 1, "Vostrel"}, {bios, 2, "1.02"},  {bios, 3, "01/02/2024"}, {bios, 4, ""},
        {bios, 0, ""},        {oem, 1, "Port 1"}, {oem, 2, "Port 2"},      {oem, 3, ""},
        {oem, 255, ""},       {noStrings, 1, ""}, {noStrings, 0, ""},
    };
    for (const auto &test : cases) {
        const char *text = table.GetString(test.structure, test.number);
        ASSERT_NE(nullptr, text);
        EXPECT_EQ(test.text, text) << "structure type " << int(test.structure[0]) << " string " << test.number;
    }
}

TEST(SMBIOSTableTest, EmptyStringSetIsFollowedByTheNextStructure)
{
    CSMBIOSTable table(SampleNamed("empty-sets").copy);
    const uint8_t *system = table.FindStructure(1, 0);
    const uint8_t *oem = table.FindStructure(203, 0);
    ASSERT_TRUE(system && oem);
    // The type 1 structure is 8 bytes long, then its two NULs.
    EXPECT_EQ(system + 8 + 2, oem);
    EXPECT_STREQ("", table.GetString(system, 1));
    EXPECT_STREQ("Riser Slot 3", table.GetString(table.FindStructure(9, 0), 1));
}

TEST(SMBIOSTableTest, ForeignPointersAreRefused)
{
    CSMBIOSTable table(SampleNamed("platform").copy);
    const uint8_t outside[] = {9, 5, 0, 0, 1, 'x', 0, 0};
    EXPECT_STREQ("", table.GetString(outside, 1));
    EXPECT_STREQ("", table.GetString(nullptr, 1));
    const uint8_t *header = table.Copy().data();
    EXPECT_STREQ("", table.GetString(header, 1)) << "the 8-byte header is no structure";
    const uint8_t *structure = outside;
    EXPECT_FALSE(table.NextStructure(&structure));
    EXPECT_EQ(outside, structure);
}

TEST(SMBIOSTableTest, CopiesWithoutStructures)
{
    struct {
        const char *what;
        std::vector<uint8_t> copy;
        int valid;
    } cases[] = {
        {"nothing", {}, 0},
        {"shorter than the header", {0, 2, 8, 0, 10, 0, 0}, 0},
        {"header only", BuildCopy({}), 1},
        {"header claims bytes that are absent", BuildCopy({}, 100), 1},
        {"a lone structure header", BuildCopy({9, 4, 1, 0}), 1},
        {"one NUL after the structure", BuildCopy({9, 4, 1, 0, 0}), 1},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        CSMBIOSTable table(test.copy);
        EXPECT_EQ(test.valid, table.IsValid());
        const uint8_t *structure = nullptr;
        EXPECT_FALSE(table.NextStructure(&structure));
        EXPECT_EQ(nullptr, structure);
        EXPECT_EQ(0u, table.CountStructures(9));
        EXPECT_EQ(nullptr, table.FindStructure(9, 0));
    }
}

TEST(SMBIOSTableTest, HeaderLengthBoundsTheWalk)
{
    // Bytes after the table's length are not structures, however they look.
    std::vector<uint8_t> structures = BuildStructures({{1, 0x0100, {0, 0, 0, 0}, {}}});
    const size_t tableLength = structures.size();
    std::vector<uint8_t> extra = BuildStructures({{9, 0x0999, {}, {"beyond"}}});
    structures.insert(structures.end(), extra.begin(), extra.end());
    CSMBIOSTable table(BuildCopy(structures, static_cast<long>(tableLength)));
    EXPECT_EQ(1u, table.CountStructures(1));
    EXPECT_EQ(0u, table.CountStructures(9));
    EXPECT_EQ(8 + tableLength, table.TableEnd());
}

} // namespace
