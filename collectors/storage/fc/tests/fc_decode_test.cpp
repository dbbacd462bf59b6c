// The FC layer's decoders of outside bytes and its board tables.
#include "fc_board_ids.h"
#include "fc_decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

namespace {

TEST(FcDecodeTest, FieldTextStopsAtTheFieldWithoutNul)
{
    char full[8];
    std::memcpy(full, "ABCDEFGH", 8);
    EXPECT_EQ("ABCDEFGH", FcFieldText(full, sizeof full));
    EXPECT_EQ("AB", FcFieldText("AB\0CD", 5));
    EXPECT_EQ("", FcFieldText(nullptr, 4));
}

TEST(FcDecodeTest, WwnTexts)
{
    const uint8_t wwn[8] = {0x20, 0x00, 0x00, 0x1b, 0x32, 0x8a, 0xbc, 0x0f};
    EXPECT_EQ("2000001B328ABC0F", FcWwnText(wwn));
    const uint8_t zero[8] = {};
    EXPECT_EQ("", FcWwnText(zero));
    const std::vector<uint8_t> long40(40, 0xAB);
    EXPECT_EQ(72u, FcHexBytesText(long40.data(), long40.size(), 36).size());
}

TEST(FcDecodeTest, InstanceNames)
{
    struct {
        const char *name;
        bool hasId;
        const char *id;
        bool hasBoard;
        uint32_t board;
    } cases[] = {
        {"PCI\\VEN_1D5A&DEV_0714&SUBSYS_32621D5A&REV_01\\4&1A&0_0", true,
         "PCI\\VEN_1D5A&DEV_0714&SUBSYS_32621D5A&REV_01\\4&1A&0", true, 0x32621D5A},
        {"PCI\\VEN_1D5A&SUBSYS_abcdef01\\X_1", true, "PCI\\VEN_1D5A&SUBSYS_abcdef01\\X", true, 0xABCDEF01},
        {"PCI\\VEN_1D5A&SUBSYS_1234\\X_1", true, "PCI\\VEN_1D5A&SUBSYS_1234\\X", false, 0},   // short digits
        {"PCI\\VEN_1D5A&SUBSYS_1234567G_0", true, "PCI\\VEN_1D5A&SUBSYS_1234567G", false, 0}, // not hex
        {"ROOT\\FCOE\\0000_0", true, "ROOT\\FCOE\\0000", false, 0},
        {"X", false, "", false, 0},
        {"", false, "", false, 0},
    };
    for (const auto &c : cases) {
        std::string id;
        uint32_t board = 0;
        EXPECT_EQ(c.hasId, FcInstanceDeviceId(c.name, std::strlen(c.name), &id)) << c.name;
        if (c.hasId) {
            EXPECT_EQ(c.id, id) << c.name;
        }
        EXPECT_EQ(c.hasBoard, FcInstanceBoardId(c.name, std::strlen(c.name), &board)) << c.name;
        if (c.hasBoard) {
            EXPECT_EQ(c.board, board) << c.name;
        }
    }
}

TEST(FcDecodeTest, LocationTexts)
{
    struct {
        int32_t slot;
        uint32_t counter;
        const char *text;
    } cases[] = {
        {3, 1, "Slot 3"},
        {255, 2, "Slot 255"},
        {-1, 1, "Slot 0"},
        {1203, 1, "Blade 4 Slot 0 Port 1"},          // 0x4B3
        {0x00050300, 2, "Blade 3 Slot 5 Port 2"},
        {0x00050300, 0, "Blade 3 Slot 5"},
        {0x00050300, 255, "Blade 3 Slot 5"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.text, FcLocationText(c.slot, c.counter)) << c.slot << " " << c.counter;
}

TEST(FcDecodeTest, MiniportRepliesNeedTheirBytes)
{
    std::vector<uint8_t> data(32, 0);
    data[4] = 0x5A, data[5] = 0x1D, data[6] = 0x62, data[7] = 0x32;
    data[8] = 3, data[10] = 7, data[11] = 2, data[12] = 1;
    FC_FCMP_REPLY reply;
    ASSERT_TRUE(DecodeFcmpReply(data.data(), data.size(), &reply));
    EXPECT_EQ(0x32621D5Au, reply.BoardId);
    EXPECT_EQ(3, reply.LocationKind);
    EXPECT_EQ(7, reply.Bus);
    EXPECT_EQ(1, reply.Function);
    EXPECT_FALSE(DecodeFcmpReply(data.data(), 12, &reply));

    std::vector<uint8_t> config(168, 0);
    config[12] = 0x11, config[18] = 3, config[19] = 3, config[20] = 9, config[21] = 4, config[22] = 2;
    FC_CSMI_CONFIG decoded;
    ASSERT_TRUE(DecodeFcCsmiConfig(config.data(), config.size(), &decoded));
    EXPECT_EQ(0x11u, decoded.BoardId);
    EXPECT_EQ(3, decoded.ControllerClass);
    EXPECT_EQ(9, decoded.Bus);
    EXPECT_EQ(4, decoded.Device);
    EXPECT_EQ(2, decoded.Function);
    EXPECT_FALSE(DecodeFcCsmiConfig(config.data(), 22, &decoded));
}

TEST(FcDecodeTest, PciLocationReadBack)
{
    unsigned bus = 0, device = 0, function = 0;
    ASSERT_TRUE(FcParsePciLocation("0000:0A:1F.3", 12, &bus, &device, &function));
    EXPECT_EQ(10u, bus);
    EXPECT_EQ(31u, device);
    EXPECT_EQ(3u, function);
    EXPECT_FALSE(FcParsePciLocation("", 0, &bus, &device, &function));
}

TEST(FcBoardTest, TablesHoldTheirRangesAndUnknownBoardsGive18)
{
    std::set<uint32_t> ids;
    for (const FC_BOARD_ROW &row : g_FcBoardTable) {
        EXPECT_GE(row.ModelCode, 6u);
        EXPECT_LE(row.ModelCode, 60u);
        ids.insert(row.BoardId);
        EXPECT_EQ(row.ModelCode, FcBoardModelCode(row.BoardId));
        const uint32_t model = FcaModelNumber(row.BoardId);
        EXPECT_GE(model, 19u);
        EXPECT_LE(model, 100u);
    }
    EXPECT_EQ(FC_BOARD_TABLE_ROWS, ids.size());
    EXPECT_EQ(18, FcBoardModelCode(0));
    EXPECT_EQ(18u, FcaModelNumber(0x12345678));
    EXPECT_EQ(100u, FcaModelNumber(0x00251F3C));   // the last row of the switch
}

} // namespace
