#include "ata_decode.h"
#include "ide_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(IdeDiskList, AscendingAndBoundedToEight)
{
    IDE_DISK_LIST list = {};
    for (uint8_t disk : {7, 3, 9, 0, 5, 1, 8, 2})
        EXPECT_TRUE(IdeDiskListAdd(&list, disk));
    EXPECT_EQ(list.Count, 8);
    const uint8_t sorted[] = {0, 1, 2, 3, 5, 7, 8, 9};
    EXPECT_EQ(std::memcmp(list.Disks, sorted, 8), 0);
    // A ninth member is refused and the list keeps its eight.
    EXPECT_FALSE(IdeDiskListAdd(&list, 4));
    EXPECT_EQ(list.Count, 8);
    EXPECT_EQ(std::memcmp(list.Disks, sorted, 8), 0);

    IDE_DISK_LIST twice = {};
    EXPECT_TRUE(IdeDiskListAdd(&twice, 6));
    EXPECT_FALSE(IdeDiskListAdd(&twice, 6));
    EXPECT_EQ(twice.Count, 1);
}

TEST(IdeConditions, ByStatus)
{
    const uint8_t disk[][2] = {{0, 1}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 3}, {6, 1}};
    for (auto &c : disk)
        EXPECT_EQ(IdeDiskCondition(c[0]), c[1]) << int(c[0]);
    const uint8_t drive[][2] = {{1, 1}, {2, 2}, {3, 3}, {4, 3}, {5, 4}, {6, 1}};
    for (auto &c : drive)
        EXPECT_EQ(IdeLogicalDriveCondition(c[0]), c[1]) << int(c[0]);
}

TEST(IdeIdentification, FromTheAtapiRecord)
{
    IDE_ATAPI_RECORD atapi = {};
    std::memset(atapi.Product, 'P', sizeof(atapi.Product) - 1);
    std::memcpy(atapi.Revision, "1.02", 5);
    atapi.DeviceType = 7;
    atapi.Kind = 1;
    IDE_IDENTIFICATION_RECORD record;
    std::memset(&record, 0xEE, sizeof(record));
    IdeFillIdentification(atapi, 3, &record);
    EXPECT_EQ(record.Position, 3u);
    EXPECT_EQ(std::string(record.Product), std::string(40, 'P'));
    EXPECT_EQ(reinterpret_cast<const uint8_t *>(&record)[45], 0);
    EXPECT_STREQ(record.Revision, "1.02");
    EXPECT_EQ(record.One1, 1);
    EXPECT_EQ(record.One4, 1);
    EXPECT_EQ(record.DeviceType, 7);
    EXPECT_EQ(record.Kind, 1);
    for (uint8_t b : record.Zero2)
        EXPECT_EQ(b, 0);
}

TEST(IdeDiskRecord, SerialFieldFromIdentify)
{
    // Word-swapped "  S1234X" and twelve blanks lands in the 21-byte field as "S1234X".
    uint8_t field[20];
    const char text[] = "  S1234X            ";
    for (size_t i = 0; i < 20; ++i)
        field[i ^ 1] = static_cast<uint8_t>(text[i]);
    IDE_DISK_RECORD record = {};
    AtaText(field, sizeof(field), record.Serial, sizeof(record.Serial));
    EXPECT_STREQ(record.Serial, "S1234X");
}

} // namespace
