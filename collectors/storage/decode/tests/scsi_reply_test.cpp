// Drive and expander replies: the values the SAS discovery takes from them, and replies that
// announce more than they hold.
#include "scsi_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ScsiReply, CapacityInMiBByBlockLength)
{
    struct {
        uint64_t lastLba;
        uint32_t block;
        uint32_t mib;
    } cases[] = {
        {0x1FFFFF, 512, 1024},            // 1 GiB of 512-byte blocks
        {0x3FFFF, 4096, 1024},            // 4096-byte blocks: (last + 1) / 256
        {0x1FFFFFFFFull, 512, 4194304},   // beyond the 10-byte command's reach
        {100, 0, 0},                      // no block length
        {100, 2 * 1048576, 0},            // blocks larger than a MiB
        {UINT64_MAX, 512, 0xFFFFFFFFu},   // last LBA of all ones does not wrap to nothing
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.mib, CapacityMiB(c.lastLba, c.block)) << c.lastLba << " " << c.block;
}

TEST(ScsiReply, ReadCapacityTenAndSixteen)
{
    const uint8_t ten[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 2, 0};
    uint64_t lba = 0;
    uint32_t block = 0;
    ASSERT_TRUE(DecodeReadCapacity10(ten, sizeof ten, &lba, &block));
    EXPECT_EQ(0xFFFFFFFFu, lba);
    EXPECT_EQ(512u, block);
    EXPECT_FALSE(DecodeReadCapacity10(ten, 7, &lba, &block));
    const uint8_t sixteen[12] = {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x10, 0};
    ASSERT_TRUE(DecodeReadCapacity16(sixteen, sizeof sixteen, &lba, &block));
    EXPECT_EQ(0x100000000ull, lba);
    EXPECT_EQ(4096u, block);
    EXPECT_FALSE(DecodeReadCapacity16(sixteen, 11, &lba, &block));
}

TEST(ScsiReply, RotationBands)
{
    struct {
        uint32_t rpm;
        uint8_t rotationClass;
    } cases[] = {{0, 1}, {1, 1}, {6800, 1}, {6801, 2}, {7200, 2}, {7600, 1}, {9500, 1}, {10000, 3},
                 {10600, 1}, {14250, 1}, {15000, 4}, {15799, 4}, {15800, 1}};
    for (const auto &c : cases)
        EXPECT_EQ(c.rotationClass, RotationClass(c.rpm)) << c.rpm;

    std::vector<uint8_t> page(255, 0);
    page[5] = 22;
    page[24] = 0x3A;
    page[25] = 0x98;
    uint32_t rpm = 1;
    ASSERT_TRUE(DecodeRotationPage(page.data(), page.size(), &rpm));
    EXPECT_EQ(15000u, rpm);
    page[5] = 21;   // page too short to carry the rate
    ASSERT_TRUE(DecodeRotationPage(page.data(), page.size(), &rpm));
    EXPECT_EQ(0u, rpm);
    page[5] = 22;
    EXPECT_FALSE(DecodeRotationPage(page.data(), 25, &rpm));
}

TEST(ScsiReply, InformationalExceptions)
{
    std::vector<uint8_t> mode(255, 0);
    bool disabled = false;
    mode[6] = 0x08;
    ASSERT_TRUE(DecodeIeModePage(mode.data(), mode.size(), &disabled));
    EXPECT_TRUE(disabled);
    mode[6] = 0x00;
    ASSERT_TRUE(DecodeIeModePage(mode.data(), mode.size(), &disabled));
    EXPECT_FALSE(disabled);
    EXPECT_FALSE(DecodeIeModePage(mode.data(), 6, &disabled));

    struct {
        uint8_t code, qualifier, result;
    } cases[] = {{0x00, 0x00, 2}, {0x5D, 0x00, 3}, {0x5D, 0x10, 4}, {0x5D, 0xF3, 18}, {0x5C, 0xF0, 2}};
    for (const auto &c : cases) {
        std::vector<uint8_t> log(16, 0);
        log[8] = c.code;
        log[9] = c.qualifier;
        uint8_t result = 0;
        ASSERT_TRUE(DecodeIeLog(log.data(), log.size(), &result));
        EXPECT_EQ(c.result, result) << int(c.code) << " " << int(c.qualifier);
    }
    uint8_t result = 0;
    const uint8_t shortLog[9] = {};
    EXPECT_FALSE(DecodeIeLog(shortLog, sizeof shortLog, &result));
}

TEST(ScsiReply, GrownDefectsByFormat)
{
    struct {
        uint8_t format;
        uint16_t length;
        uint32_t count;
    } cases[] = {{0, 40, 10}, {6, 40, 10}, {4, 40, 5}, {5, 40, 5}, {1, 40, 0}, {3, 40, 0}, {0x1C, 40, 5}, {4, 0, 0}};
    for (const auto &c : cases) {
        uint8_t data[4] = {0, c.format, static_cast<uint8_t>(c.length >> 8), static_cast<uint8_t>(c.length)};
        uint32_t count = 99;
        ASSERT_TRUE(DecodeGrownDefects(data, sizeof data, &count));
        EXPECT_EQ(c.count, count) << int(c.format);
    }
}

std::vector<uint8_t> SerialPage(const std::string &text, uint8_t announced)
{
    std::vector<uint8_t> page(4 + text.size(), 0);
    page[1] = 0x80;
    page[3] = announced;
    std::copy(text.begin(), text.end(), page.begin() + 4);
    return page;
}

TEST(ScsiReply, UnitSerialStaysInsideThePageAndTheReply)
{
    struct {
        std::string text;
        int announced;     // -1: the text's length
        size_t capacity;
        std::string serial;
    } cases[] = {
        {" 3QD 0A1B ", -1, 41, "3QD0A1B"},
        {"ABCDEFGH", 4, 41, "ABCD"},         // the page ends before the bytes do
        {"ABCD", 200, 41, "ABCD"},           // the page announces more than came back
        {"0123456789", -1, 5, "0123"},       // the field holds capacity - 1
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> page =
            SerialPage(c.text, static_cast<uint8_t>(c.announced < 0 ? c.text.size() : c.announced));
        char out[41];
        std::fill(std::begin(out), std::end(out), 'z');
        ASSERT_TRUE(DecodeUnitSerial(page.data(), page.size(), out, c.capacity));
        EXPECT_EQ(c.serial, std::string(out)) << c.text;
    }
    char out[4];
    const uint8_t header[3] = {0, 0x80, 0};
    EXPECT_FALSE(DecodeUnitSerial(header, sizeof header, out, sizeof out));
}

TEST(ScsiReply, SupportedLogPagesWithinListAndReply)
{
    std::vector<uint8_t> data(8, 0);
    data[3] = 4;
    data[4] = 0x00;
    data[5] = 0x0D;
    data[6] = 0x11;
    data[7] = 0x36;
    SCSI_LOG_PAGES pages{};
    ASSERT_TRUE(DecodeSupportedLogPages(data.data(), data.size(), &pages));
    EXPECT_TRUE(pages.SolidState);
    EXPECT_TRUE(pages.WearLog);
    data[3] = 2;   // the two codes past the list length do not count
    ASSERT_TRUE(DecodeSupportedLogPages(data.data(), data.size(), &pages));
    EXPECT_FALSE(pages.SolidState);
    EXPECT_FALSE(pages.WearLog);
    data[3] = 250; // a list longer than the reply reads what came back
    ASSERT_TRUE(DecodeSupportedLogPages(data.data(), data.size(), &pages));
    EXPECT_TRUE(pages.WearLog);
}

TEST(ScsiReply, SmpDiscoverAndReportGeneral)
{
    std::vector<uint8_t> reply(56, 0);
    reply[9] = 12;
    uint8_t phys = 0;
    ASSERT_TRUE(DecodeSmpReportGeneral(reply.data(), reply.size(), &phys));
    EXPECT_EQ(12, phys);
    EXPECT_FALSE(DecodeSmpReportGeneral(reply.data(), 9, &phys));

    reply[12] = 0x25;   // expander in bits 6 to 4, low bits not part of the type
    reply[15] = 0xFA;
    for (int i = 0; i < 8; ++i) {
        reply[16 + i] = static_cast<uint8_t>(0x50 + i);
        reply[24 + i] = static_cast<uint8_t>(0x60 + i);
    }
    reply[43] = 0x80;
    SMP_DISCOVER discover{};
    ASSERT_TRUE(DecodeSmpDiscover(reply.data(), reply.size(), &discover));
    EXPECT_EQ(2, discover.AttachedDeviceType);
    EXPECT_EQ(0x20, discover.AttachedDeviceByte);
    EXPECT_EQ(0x0A, discover.TargetFlags);
    EXPECT_EQ(0x57, discover.SasAddress[7]);
    EXPECT_EQ(0x60, discover.AttachedSasAddress[0]);
    EXPECT_TRUE(discover.VirtualPhy);
    ASSERT_TRUE(DecodeSmpDiscover(reply.data(), 40, &discover));
    EXPECT_FALSE(discover.VirtualPhy);
    EXPECT_FALSE(DecodeSmpDiscover(reply.data(), 31, &discover));
}

} // namespace
