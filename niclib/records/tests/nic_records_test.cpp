// The record value names and the bounded decoders the service reads the records with.
#include "nic_records.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(NicRecordNames, NumberedRecordsUseAtLeastThreeUpperCaseHexDigits)
{
    struct Case {
        const char *prefix;
        uint32_t number;
        const char *name;
    };
    const Case cases[] = {
        {kInterfaceMapPrefix, 1, "InterfaceMap001"},  {kInterfaceMapPrefix, 10, "InterfaceMap00A"},
        {kInterfaceMapPrefix, 255, "InterfaceMap0FF"}, {kVlanMapPrefix, 4095, "VlanMapFFF"},
        {kPhysAdapterPrefix, 4096, "PhysAdapter1000"}, {kPhysAdapterPrefix, 500, "PhysAdapter1F4"},
        {kStatisticsPrefix, 11, "Statistics00B"},     {kStatisticsPrefix, 0xFFFFFFFF, "StatisticsFFFFFFFF"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.name, FormatRecordValueName(c.prefix, c.number)) << c.number;
        const std::string narrow = c.name;
        EXPECT_EQ(std::wstring(narrow.begin(), narrow.end()), FormatRecordValueNameW(c.prefix, c.number));
    }
}

TEST(NicRecordNames, TrapRecordsCarryHighThenLowHalfOfTheFileTime)
{
    EXPECT_EQ("TrapData01DA2B3C0000000A", FormatTrapValueName(0x01DA2B3C0000000Aull));
    EXPECT_EQ("TrapData0000000000000000", FormatTrapValueName(0));
    EXPECT_EQ(L"TrapDataFFFFFFFFFFFFFFFF", FormatTrapValueNameW(~0ull));
}

TEST(NicRecordDecode, OneRecordOnlyFromDataOfExactlyItsSize)
{
    INTERFACEMAPRECORD written = {};
    written.LogicalIndex = 7;
    written.SpeedMbps = 1000;
    written.LastChange = 0x01020304;
    std::memcpy(written.ConnectionName, "Ethernet 2", 11);
    std::vector<uint8_t> bytes(sizeof(written));
    std::memcpy(bytes.data(), &written, sizeof(written));
    // The fields sit where the other binary expects them, little-endian and unaligned.
    EXPECT_EQ(7, bytes[0]);
    EXPECT_EQ(0x04, bytes[626]);
    EXPECT_EQ(0x01, bytes[629]);
    EXPECT_EQ('E', bytes[890]);

    INTERFACEMAPRECORD read = {};
    ASSERT_TRUE(DecodeRecord(bytes.data(), bytes.size(), &read));
    EXPECT_EQ(7u, +read.LogicalIndex); // by value: packed fields are unaligned
    EXPECT_EQ(1000u, +read.SpeedMbps);
    EXPECT_EQ("Ethernet 2", RecordText(read.ConnectionName));

    INTERFACEMAPRECORD untouched = {};
    untouched.LogicalIndex = 99;
    EXPECT_FALSE(DecodeRecord(bytes.data(), bytes.size() - 1, &untouched));
    bytes.push_back(0);
    EXPECT_FALSE(DecodeRecord(bytes.data(), bytes.size(), &untouched));
    EXPECT_FALSE(DecodeRecord(nullptr, sizeof(untouched), &untouched));
    EXPECT_EQ(99u, +untouched.LogicalIndex);
}

TEST(NicRecordDecode, ArraysTakeWholeRecordsAndReportTheRest)
{
    struct Case {
        size_t size;
        size_t records;
        size_t trailing;
    };
    const Case cases[] = {{0, 0, 0}, {603, 0, 603}, {604, 1, 0}, {1208, 2, 0}, {1300, 2, 92}};
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes(c.size, 0);
        for (size_t i = 0; i + sizeof(TRAPRECORD) <= c.size; i += sizeof(TRAPRECORD))
            bytes[i] = static_cast<uint8_t>(11 + i / sizeof(TRAPRECORD));
        size_t trailing = 1234;
        std::vector<TRAPRECORD> records = DecodeRecordArray<TRAPRECORD>(bytes.data(), bytes.size(), &trailing);
        ASSERT_EQ(c.records, records.size()) << c.size;
        EXPECT_EQ(c.trailing, trailing) << c.size;
        for (size_t i = 0; i < records.size(); ++i)
            EXPECT_EQ(static_cast<int32_t>(11 + i), +records[i].Kind);
    }
    size_t trailing = 1;
    EXPECT_TRUE(DecodeRecordArray<TRAPRECORD>(nullptr, 604, &trailing).empty());
    EXPECT_EQ(0u, trailing);
}

TEST(NicRecordDecode, TextStopsAtTheFieldEvenWithoutTerminator)
{
    PHYSADAPTERRECORD record;
    std::memset(&record, 'x', sizeof(record));
    EXPECT_EQ(std::string(33, 'x'), RecordText(record.PartNumber));
    EXPECT_EQ(std::string(257, 'x'), RecordText(record.Name));
    record.Firmware[3] = '\0';
    EXPECT_EQ("xxx", RecordText(record.Firmware));
    EXPECT_EQ("", RecordText(nullptr, 10));
}

} // namespace
