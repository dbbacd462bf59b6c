#include "ata_decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// An ATA text field as a device stores it: the characters of each word swapped.
void PutAtaText(std::vector<uint8_t> &bytes, size_t at, size_t length, const char *text)
{
    std::string padded(text);
    padded.resize(length, ' ');
    for (size_t i = 0; i < length; ++i)
        bytes[at + (i ^ 1)] = static_cast<uint8_t>(padded[i]);
}

void PutWord(std::vector<uint8_t> &bytes, size_t word, uint16_t value)
{
    bytes[2 * word] = static_cast<uint8_t>(value);
    bytes[2 * word + 1] = static_cast<uint8_t>(value >> 8);
}

std::vector<uint8_t> Identify(uint64_t sectors)
{
    std::vector<uint8_t> data(512, 0);
    uint32_t low = sectors > 0x0FFFFFFF ? 0x0FFFFFFF : static_cast<uint32_t>(sectors);
    PutWord(data, 60, static_cast<uint16_t>(low));
    PutWord(data, 61, static_cast<uint16_t>(low >> 16));
    for (int i = 0; i < 4; ++i)
        PutWord(data, 100 + i, static_cast<uint16_t>(sectors >> (16 * i)));
    return data;
}

TEST(AtaText, SwapsEachWordAndTrimsBlanks)
{
    struct Case {
        const char *stored;   // as the characters read once swapped back
        size_t length;
        size_t capacity;
        const char *expected;
    } cases[] = {
        {"  S1234X            ", 20, 21, "S1234X"},
        {"WDC WD800JB-00JJC0                      ", 40, 41, "WDC WD800JB-00JJC0"},
        {"                    ", 20, 21, ""},
        {"AB CD   ", 8, 9, "AB CD"},     // inner blanks stay
        {"ABCDEFGH", 8, 5, "ABCD"},      // cut to the capacity
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> field(c.length);
        PutAtaText(field, 0, c.length, c.stored);
        char out[64];
        std::memset(out, 'x', sizeof(out));
        AtaText(field.data(), c.length, out, c.capacity);
        EXPECT_STREQ(out, c.expected) << c.stored;
    }
    // An odd last byte stands as it is.
    const uint8_t odd[] = {'B', 'A', 'C'};
    char out[8];
    AtaText(odd, 3, out, sizeof(out));
    EXPECT_STREQ(out, "ABC");
}

TEST(AtaIdentify, CapacityBySectorCount)
{
    struct Case {
        uint64_t sectors;
        uint64_t bytes;
        uint32_t mb;
    } cases[] = {
        {71132960, 36000000000ULL, 34732},
        {143374738, 72000000000ULL, 70007},
        {286749488, 146000000000ULL, 140014},
        {585937500, 300000000000ULL, 286102},
        {1953525168, 1000000000000ULL, 953869},            // the IDEMA rule
        {31251759104ULL, 31251759104ULL * 512, 15259648},   // 16 TB: beyond the rule, exact
        {97696368, 50000000000ULL, 47703},
        {2097152, 1000000000ULL, 1024},                     // just over 1 GB by the rule
        {1000000, 512000000ULL, 488},                       // under 1 GB: exact, never 0
        {1, 512, 0},
        {0, 0, 0},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> data = Identify(c.sectors);
        ATA_IDENTIFY identify;
        ASSERT_TRUE(DecodeAtaIdentify(data.data(), data.size(), &identify));
        EXPECT_EQ(identify.Sectors, c.sectors);
        EXPECT_EQ(identify.CapacityBytes, c.bytes) << c.sectors;
        EXPECT_EQ(identify.CapacityMb, c.mb) << c.sectors;
    }
    EXPECT_EQ(AtaCapacityBytes(71132960) >> 32, 8u);
    EXPECT_EQ(AtaCapacityBytes(71132960) & 0xFFFFFFFF, 1640261632u);
    // A 48-bit count near the top does not wrap.
    EXPECT_EQ(AtaCapacityBytes(0xFFFFFFFFFFFFULL), 0xFFFFFFFFFFFFULL * 512);
}

TEST(AtaIdentify, TextsAndShortData)
{
    std::vector<uint8_t> data = Identify(1000);
    PutAtaText(data, 20, 20, "  S1234X");
    PutAtaText(data, 46, 8, "FW01");
    PutAtaText(data, 54, 40, "QZ DISK 80");
    PutWord(data, 76, 0x0006);
    PutWord(data, 217, 1);
    ATA_IDENTIFY identify;
    ASSERT_TRUE(DecodeAtaIdentify(data.data(), data.size(), &identify));
    EXPECT_STREQ(identify.Serial, "S1234X");
    EXPECT_STREQ(identify.Firmware, "FW01");
    EXPECT_STREQ(identify.Model, "QZ DISK 80");
    EXPECT_TRUE(AtaIsSata(identify.SataCapabilities));
    EXPECT_EQ(AtaMediaCode(identify.MediaRotation), 3);
    EXPECT_FALSE(DecodeAtaIdentify(data.data(), 511, &identify));
    EXPECT_FALSE(AtaIsSata(0x0007));
    EXPECT_EQ(AtaMediaCode(0), 1);
    EXPECT_EQ(AtaMediaCode(7200), 2);
}

TEST(AtaIdentify, TransferMode)
{
    struct Case {
        uint16_t w53, w63, w64, w88;
        uint8_t b103;
        uint8_t mode;
    } cases[] = {
        {0x0006, 0x0407, 0x0003, 0x203F, 0, 15},   // Ultra DMA 5 active
        {0x0006, 0x0407, 0x0003, 0x013F, 0, 10},
        {0x0006, 0x0407, 0x0003, 0x063F, 0, 1},    // two active bits: not known
        {0x0002, 0x0407, 0x0003, 0x203F, 0, 9},    // word 88 not valid: multiword DMA 2
        {0x0006, 0x0207, 0x0003, 0x0000, 0, 8},
        {0x0006, 0x0107, 0x0003, 0x003F, 0, 7},    // word 88 with no active mode
        {0x0006, 0x0300, 0x0003, 0x0000, 1, 2},    // word 63 supports nothing: PIO from byte 103
        {0x0000, 0x0000, 0x0003, 0x0000, 16, 6},
        {0x0000, 0x0000, 0x0003, 0x0000, 3, 1},
        {0x0000, 0x0000, 0x0000, 0x0000, 2, 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(AtaTransferMode(c.w53, c.w63, c.w64, c.w88, c.b103), c.mode) << std::hex << c.w88 << " " << c.w63;
}

TEST(SmartReply, DataSizeNeverPassesTheReply)
{
    struct Case {
        uint32_t size;
        size_t returned;
        size_t expected;
    } cases[] = {
        {512, 528, 512}, {512, 100, 84}, {4096, 528, 512}, {0, 528, 0}, {16, 528, 16}, {512, 12, 0}, {512, 16, 0},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> reply(528, 0);
        std::memcpy(reply.data(), &c.size, 4);
        EXPECT_EQ(SmartReplyDataSize(reply.data(), c.returned), c.expected) << c.size << " " << c.returned;
    }
}

TEST(SmartTables, AttributesAndThresholds)
{
    std::vector<uint8_t> data(512, 0);
    auto entry = [&](size_t i) { return data.data() + 2 + 12 * i; };
    entry(0)[0] = 9;
    entry(0)[5] = 0x20, entry(0)[6] = 0x4E;          // 20000 hours
    entry(1)[0] = 9;
    entry(1)[5] = 1;                                  // a second id 9 does not count
    entry(2)[0] = 0xC2, entry(2)[5] = 30;
    entry(29)[0] = 0xC2, entry(29)[5] = 41;           // the last 0xC2 wins
    uint32_t hours = 0;
    uint8_t temperature = 0;
    ASSERT_TRUE(SmartFirstAttributeRaw32(data.data(), data.size(), 9, &hours));
    EXPECT_EQ(hours, 20000u);
    ASSERT_TRUE(SmartLastAttributeRawByte(data.data(), data.size(), 0xC2, &temperature));
    EXPECT_EQ(temperature, 41);
    // Entry 29 lies beyond a short reply.
    ASSERT_TRUE(SmartLastAttributeRawByte(data.data(), 2 + 12 * 29, 0xC2, &temperature));
    EXPECT_EQ(temperature, 30);
    EXPECT_FALSE(SmartFirstAttributeRaw32(data.data(), data.size(), 5, &hours));
    // Entries past the 30th are never read.
    std::vector<uint8_t> big(1024, 0);
    big[2 + 12 * 30] = 0xC2;
    EXPECT_FALSE(SmartLastThreshold(big.data(), big.size(), 0xC2, &temperature));
    big[2 + 12 * 3] = 0xC2, big[2 + 12 * 3 + 1] = 55;
    ASSERT_TRUE(SmartLastThreshold(big.data(), big.size(), 0xC2, &temperature));
    EXPECT_EQ(temperature, 55);
}

TEST(AtaLogs, TemperaturePagesAndDirectory)
{
    std::vector<uint8_t> page(512, 0);
    page[8] = 37, page[88] = 70, page[6] = 65, page[7] = 75;
    uint8_t a = 0, b = 0;
    ASSERT_TRUE(AtaTemperatureStatistics(page.data(), page.size(), &a, &b));
    EXPECT_EQ(a, 37);
    EXPECT_EQ(b, 70);
    EXPECT_FALSE(AtaTemperatureStatistics(page.data(), 88, &a, &b));
    ASSERT_TRUE(SctTemperatures(page.data(), page.size(), &a, &b));
    EXPECT_EQ(a, 65);
    EXPECT_EQ(b, 75);
    std::vector<uint8_t> directory(512, 0);
    EXPECT_FALSE(LogDirectoryHasWearLog(directory.data(), directory.size()));
    directory[0] = 1;
    EXPECT_FALSE(LogDirectoryHasWearLog(directory.data(), directory.size()));
    directory[2 * 0xB6] = 1;
    EXPECT_TRUE(LogDirectoryHasWearLog(directory.data(), directory.size()));
    EXPECT_FALSE(LogDirectoryHasWearLog(directory.data(), 2 * 0xB6 + 1));
}

void Put32(std::vector<uint8_t> &bytes, size_t at, uint32_t value) { std::memcpy(&bytes[at], &value, 4); }

void PutEntry(std::vector<uint8_t> &block, size_t at, const char *model, const char *serial, uint32_t state)
{
    std::string m(model), s(serial);
    m.resize(40, ' ');
    s.resize(20, ' ');
    std::memcpy(&block[at + 2], m.data(), 40);
    std::memcpy(&block[at + 83], s.data(), 20);
    Put32(block, at + 128, state);
}

TEST(XideReplies, StatusAndControllerInfo)
{
    std::vector<uint8_t> block(XIDE_SMART_STATUS_SIZE, 0);
    for (auto [answer, expected] : std::vector<std::pair<uint8_t, int>>{{4, 0}, {5, 1}, {0, -1}, {0xDA, -1}}) {
        block[29] = answer;
        EXPECT_EQ(XideSmartExceeded(block.data(), block.size()), expected);
    }
    EXPECT_EQ(XideSmartExceeded(block.data(), 29), -1);

    std::vector<uint8_t> info(XIDE_CONTROLLER_INFO_SIZE, 0);
    info[72] = 2, info[73] = 3, info[74] = 1;
    Put32(info, 76, 0x1234);
    XIDE_CONTROLLER_INFO_REPLY reply;
    EXPECT_FALSE(DecodeXideControllerInfo(info.data(), info.size(), &reply));
    info[28] = 1;
    ASSERT_TRUE(DecodeXideControllerInfo(info.data(), info.size(), &reply));
    EXPECT_EQ(reply.Bus, 2);
    EXPECT_EQ(reply.Device, 3);
    EXPECT_EQ(reply.Function, 1);
    EXPECT_EQ(reply.BoardId, 0x1234u);
    EXPECT_FALSE(DecodeXideControllerInfo(info.data(), 79, &reply));
}

TEST(XideReplies, CountsCutToTheEntriesTheBlockHolds)
{
    std::vector<uint8_t> list(XIDE_MEMBER_LIST_SIZE, 0);
    Put32(list, 52, 200);
    XIDE_MEMBER_LIST_REPLY members;
    EXPECT_FALSE(DecodeXideMemberList(list.data(), list.size(), &members));   // not marked valid
    Put32(list, 40, 8);
    for (size_t i = 0; i < 8; ++i)
        PutEntry(list, 72 + 156 * i, "QZ DISK", ("SER" + std::to_string(i)).c_str(), 0);
    ASSERT_TRUE(DecodeXideMemberList(list.data(), list.size(), &members));
    EXPECT_EQ(members.Count, 8u);
    EXPECT_STREQ(members.Entries[7].Serial, "SER7");
    EXPECT_STREQ(members.Entries[0].Model, "QZ DISK");
    ASSERT_TRUE(DecodeXideMemberList(list.data(), 72 + 156 * 3, &members));
    EXPECT_EQ(members.Count, 3u);

    std::vector<uint8_t> drive(XIDE_LOGICAL_DRIVE_SIZE, 0);
    XIDE_LOGICAL_DRIVE_REPLY reply;
    EXPECT_FALSE(DecodeXideLogicalDrive(drive.data(), drive.size(), &reply));   // word 32 is 0
    Put32(drive, 32, 1);
    Put32(drive, 36, 1);
    Put32(drive, 40, 128);
    Put32(drive, 48, 9);
    Put32(drive, 52, 1 << 20);
    Put32(drive, 56, 2);
    for (size_t i = 0; i < 4; ++i)
        PutEntry(drive, 68 + 156 * i, "QZ DISK", "S", i == 1 ? 14 : 0);
    ASSERT_TRUE(DecodeXideLogicalDrive(drive.data(), drive.size(), &reply));
    EXPECT_EQ(reply.Count, 4u);
    EXPECT_EQ(reply.Members[1].State, 14u);
    EXPECT_EQ(reply.Capacity, 1u << 20);
    Put32(drive, 64, 255);
    EXPECT_FALSE(DecodeXideLogicalDrive(drive.data(), drive.size(), &reply));
}

} // namespace
