#include "csmi_reply.h"
#include "inquiry_walk.h"
#include "location_text.h"
#include "smbios_string.h"
#include "wear.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

void Put32(std::vector<uint8_t> &bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

TEST(LocationText, NumbersAfterTheWordsMatchedByLowBytes)
{
    struct Case {
        const char *text;
        unsigned bus, device, function;
        bool matches;
    } cases[] = {
        {"PCI bus 3, device 0, function 1", 3, 0, 1, true},
        {"PCI bus 3, device 0, function 1", 259, 0, 1, true},   // only the low bytes count
        {"PCI bus 3, device 0, function 1", 3, 0, 0, false},
        {"PCI BUS 7, DEVICE 2", 7, 2, 0, true},                   // no "function ": 0
        {"bus 1, device 2, function 3", 1, 2, 3, true},
        {"", 0, 0, 0, true},                                      // every word missing
        {"PCI bus x, device 4, function 2", 0, 4, 2, true},       // no digits leaves 0
        {"PCI bus 99999999999999999999, device 1, function 1", 0xFF, 1, 1, true},  // saturates, never overflows
    };
    for (const Case &c : cases) {
        PCI_LOCATION location = ParseLocationText(c.text, std::strlen(c.text));
        EXPECT_EQ(LocationMatches(location, c.bus, c.device, c.function), c.matches) << c.text;
    }
}

TEST(LocationText, StopsAtTheGivenSize)
{
    const char text[] = {'b', 'u', 's', ' ', '4', '2'};  // no NUL
    PCI_LOCATION location = ParseLocationText(text, 5);
    EXPECT_EQ(location.Bus, 4);
}

// A reply laid out as the port driver builds it: bus table, then chained entries.
struct InquiryReplyBuilder {
    std::vector<uint8_t> bytes;
    explicit InquiryReplyBuilder(uint8_t buses) : bytes(4 + 8 * buses, 0) { bytes[0] = buses; }
    size_t Entry(uint8_t path, uint8_t target, uint8_t lun, std::vector<uint8_t> inquiry)
    {
        size_t at = bytes.size();
        bytes.resize(at + 12 + inquiry.size(), 0);
        bytes[at] = path;
        bytes[at + 1] = target;
        bytes[at + 2] = lun;
        Put32(bytes, at + 4, static_cast<uint32_t>(inquiry.size()));
        std::memcpy(&bytes[at + 12], inquiry.data(), inquiry.size());
        return at;
    }
    void First(uint8_t bus, size_t entry) { Put32(bytes, 4 + 8 * bus + 4, static_cast<uint32_t>(entry)); }
    void Next(size_t entry, size_t next) { Put32(bytes, entry + 8, static_cast<uint32_t>(next)); }
};

TEST(InquiryWalk, FollowsEveryBusChain)
{
    InquiryReplyBuilder reply(2);
    size_t a = reply.Entry(0, 0, 0, std::vector<uint8_t>(36, 0x05));
    size_t b = reply.Entry(0, 1, 0, std::vector<uint8_t>(36, 0x00));
    size_t c = reply.Entry(1, 4, 1, std::vector<uint8_t>(36, 0x01));
    reply.First(0, a);
    reply.Next(a, b);
    reply.First(1, c);
    auto entries = WalkInquiryData(reply.bytes.data(), reply.bytes.size());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].TargetId, 1);
    EXPECT_EQ(entries[2].Bus, 1);
    EXPECT_EQ(entries[2].Lun, 1);
    EXPECT_EQ(entries[2].InquiryLength, 36u);
    EXPECT_EQ(entries[0].Inquiry[0], 0x05);
}

TEST(InquiryWalk, StaysInsideTheReplyAndStopsAtALoop)
{
    InquiryReplyBuilder reply(1);
    size_t a = reply.Entry(0, 0, 0, std::vector<uint8_t>(36, 0));
    size_t b = reply.Entry(0, 1, 0, std::vector<uint8_t>(36, 0));
    reply.First(0, a);
    reply.Next(a, b);
    reply.Next(b, a);  // a loop back to the first entry
    EXPECT_EQ(WalkInquiryData(reply.bytes.data(), reply.bytes.size()).size(), 2u);

    reply.Next(b, 0x7FFFFFF0);  // an offset far outside the reply
    EXPECT_EQ(WalkInquiryData(reply.bytes.data(), reply.bytes.size()).size(), 2u);

    // Returned bytes end inside the second entry's data: its length is cut to them.
    auto entries = WalkInquiryData(reply.bytes.data(), b + 12 + 10);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].InquiryLength, 10u);
    // ...and inside its header: it is not read at all.
    EXPECT_EQ(WalkInquiryData(reply.bytes.data(), b + 6).size(), 1u);
    // A bus count larger than the bus table returned: the walk ends with the bytes.
    reply.bytes[0] = 200;
    EXPECT_TRUE(WalkInquiryData(reply.bytes.data(), 4 + 8).empty());
    EXPECT_TRUE(WalkInquiryData(reply.bytes.data(), 0).empty());
}

TEST(Wear, EstimateTable)
{
    struct Case {
        uint32_t p, u;
        bool flag;
        uint32_t remaining;
        uint8_t status;
        bool wornOut, outOfRange;
    } cases[] = {
        {10000, 2500, false, 30000, WEAR_STATUS_OK, false, false},
        {10000, 9900, false, 101, WEAR_STATUS_USED_98, false, false},
        {10000, 10000, false, 0, WEAR_STATUS_USED_98, false, false},
        {10000, 10000, true, 0, WEAR_STATUS_USED_UP, true, false},
        {10000, 12000, false, 0, WEAR_STATUS_USED_98, false, false},  // used beyond 100 %: nothing left
        {10000, 0x8000, false, WEAR_NOT_AVAILABLE, WEAR_STATUS_NOT_AVAILABLE, false, true},
        {0xFFFF, 100, false, WEAR_NOT_AVAILABLE, WEAR_STATUS_NOT_AVAILABLE, false, true},
        {0, 100, false, WEAR_NOT_AVAILABLE, WEAR_STATUS_OK, false, false},
        {10000, 0, false, WEAR_NOT_AVAILABLE, WEAR_STATUS_OK, false, false},
        {1000, 9000, false, 111, WEAR_STATUS_LIFE_56_DAYS, false, false},
        {10000, 9500, false, 526, WEAR_STATUS_USED_95, false, false},
    };
    for (const Case &c : cases) {
        WEAR_ESTIMATE e = EstimateWear(c.p, c.u, c.flag, false);
        EXPECT_EQ(e.RemainingHours, c.remaining) << c.p << "/" << c.u;
        EXPECT_EQ(e.Status, c.status) << c.p << "/" << c.u;
        EXPECT_EQ(e.WornOut, c.wornOut) << c.p << "/" << c.u;
        EXPECT_EQ(e.OutOfRange, c.outOfRange) << c.p << "/" << c.u;
    }
}

TEST(Wear, AnEarlierOutOfRangeReadingKeepsTheStatusNotAvailable)
{
    WEAR_ESTIMATE e = EstimateWear(10000, 2500, false, true);
    EXPECT_EQ(e.Status, WEAR_STATUS_NOT_AVAILABLE);
    EXPECT_EQ(e.RemainingHours, 30000u);
}

TEST(Wear, LogFieldsAndVersion)
{
    std::vector<uint8_t> log(512, 0);
    log[14] = 0x08;
    log[18] = 0x27;
    log[19] = 0x10;  // 10000 hours
    log[26] = 0x09;
    log[27] = 0xC4;  // 2500
    std::memcpy(&log[64], "QZ03", 4);
    WEAR_LOG parsed = {};
    ASSERT_TRUE(ParseWearLog(log.data(), log.size(), &parsed));
    EXPECT_EQ(parsed.PowerOnHours, 10000u);
    EXPECT_EQ(parsed.EnduranceUsed, 2500u);
    EXPECT_TRUE(parsed.WearLimit);
    std::memcpy(&log[64], "QZ04", 4);
    EXPECT_TRUE(ParseWearLog(log.data(), log.size(), &parsed));
    std::memcpy(&log[64], "QZ02", 4);
    EXPECT_FALSE(ParseWearLog(log.data(), log.size(), &parsed));
    std::memcpy(&log[64], "QZ03", 4);
    EXPECT_FALSE(ParseWearLog(log.data(), 67, &parsed));
}

TEST(CsmiReply, ControllerConfigFieldsAndShortReplies)
{
    std::vector<uint8_t> buffer(208, 0);
    Put32(buffer, CSMI_CONFIG_BOARD_ID, 0x3229103C);
    buffer[CSMI_CONFIG_IO_BUS_TYPE] = 3;
    buffer[CSMI_CONFIG_PCI_ADDRESS] = 5;
    buffer[CSMI_CONFIG_PCI_ADDRESS + 1] = 0;
    buffer[CSMI_CONFIG_PCI_ADDRESS + 2] = 1;
    std::memset(&buffer[CSMI_CONFIG_SERIAL], 'S', CSMI_CONFIG_SERIAL_SIZE);  // no NUL in the field
    buffer[CSMI_CONFIG_REVISION] = 7;
    buffer[CSMI_CONFIG_BIOS_REVISION + 6] = 9;
    CSMI_CONTROLLER_CONFIG config;
    ASSERT_TRUE(DecodeCsmiControllerConfig(buffer.data(), buffer.size(), &config));
    EXPECT_EQ(config.BoardId, 0x3229103Cu);
    EXPECT_EQ(config.IoBusType, 3);
    EXPECT_EQ(config.PciBus, 5);
    EXPECT_EQ(config.PciFunction, 1);
    EXPECT_EQ(std::strlen(config.SerialNumber), CSMI_CONFIG_SERIAL_SIZE);
    EXPECT_EQ(config.Revision[0], 7);
    EXPECT_EQ(config.BiosRevision[3], 9);
    EXPECT_FALSE(DecodeCsmiControllerConfig(buffer.data(), 207, &config));

    CSMI_CONTROLLER_STATUS status;
    EXPECT_FALSE(DecodeCsmiControllerStatus(buffer.data(), 30, &status));
    CSMI_RAID_INFO raid;
    EXPECT_FALSE(DecodeCsmiRaidInfo(buffer.data(), 35, &raid));
}

TEST(CsmiReply, RaidConfigTakesOnlyWholeDrives)
{
    std::vector<uint8_t> buffer(64 + 2 * 136 + 20, 0);
    buffer[43] = 5;  // five drives claimed, two and a bit returned
    std::memcpy(&buffer[64], "MODEL-A", 7);
    buffer[64 + 136 + 104] = 1;
    CSMI_RAID_CONFIG config;
    ASSERT_TRUE(DecodeCsmiRaidConfig(buffer.data(), buffer.size(), &config));
    EXPECT_EQ(config.DriveCount, 5);
    ASSERT_EQ(config.Drives.size(), 2u);
    EXPECT_STREQ(config.Drives[0].Model, "MODEL-A");
    EXPECT_EQ(config.Drives[1].DriveStatus, 1);
}

TEST(CsmiReply, PhyInfoAndStpReply)
{
    std::vector<uint8_t> buffer(2080, 0);
    buffer[28] = 40;  // more phys claimed than the table holds
    uint8_t *entity = &buffer[32 + 64];
    entity[20] = 1;
    entity[28] = 3;
    entity[36] = 0x10;
    entity[36 + 3] = 0x08;
    entity[36 + 12] = 0x50;
    CSMI_PHY_INFO info;
    ASSERT_TRUE(DecodeCsmiPhyInfo(buffer.data(), buffer.size(), &info));
    ASSERT_EQ(info.Entities.size(), 32u);
    EXPECT_EQ(info.Entities[1].Identify.PhyIdentifier, 1);
    EXPECT_EQ(info.Entities[1].PortIdentifier, 3);
    EXPECT_EQ(info.Entities[1].Attached.DeviceType, 0x10);
    EXPECT_EQ(info.Entities[1].Attached.TargetProtocol, 0x08);
    EXPECT_EQ(info.Entities[1].Attached.SasAddress[0], 0x50);
    ASSERT_TRUE(DecodeCsmiPhyInfo(buffer.data(), 32 + 64 * 3 + 10, &info));
    EXPECT_EQ(info.Entities.size(), 3u);

    std::vector<uint8_t> stp(168 + 512, 0);
    Put32(stp, 68, 512);
    stp[76] = 0x34;
    Put32(stp, 160, 4096);  // more than asked and returned
    CSMI_STP_REPLY reply;
    ASSERT_TRUE(DecodeCsmiStpReply(stp.data(), stp.size(), &reply));
    EXPECT_EQ(reply.StatusFis[0], 0x34);
    EXPECT_EQ(reply.DataLength, 512u);
    ASSERT_TRUE(DecodeCsmiStpReply(stp.data(), 164 + 100, &reply));
    EXPECT_EQ(reply.DataLength, 100u);
    EXPECT_FALSE(DecodeCsmiStpReply(stp.data(), 163, &reply));
}

TEST(SmbiosString, StringOfTheIndexByteInsideTheFormattedArea)
{
    // Header, then a type 9 structure of 8 formatted bytes whose byte 4 names string 2, then the
    // end structure.
    std::vector<uint8_t> copy = {0, 2, 8, 0, 0, 0, 0, 0};
    std::vector<uint8_t> structures = {9, 8, 1, 0, 2, 1, 0, 0, 'o', 'n', 'e', 0, 't', 'w', 'o', 0, 0,
                                       127, 4, 2, 0, 0, 0};
    Put32(copy, 4, 0);
    copy.insert(copy.end(), structures.begin(), structures.end());
    Put32(copy, 4, static_cast<uint32_t>(structures.size()));
    CSMBIOSTable table(copy);
    ASSERT_TRUE(table.IsValid());
    const uint8_t *slot = table.FindStructure(9, 0);
    ASSERT_NE(slot, nullptr);
    EXPECT_STREQ(SmbiosStringAt(table, slot, 4), "two");
    EXPECT_STREQ(SmbiosStringAt(table, slot, 5), "one");
    EXPECT_STREQ(SmbiosStringAt(table, slot, 6), "");   // index 0
    EXPECT_STREQ(SmbiosStringAt(table, slot, 8), "");   // past the formatted area
    EXPECT_STREQ(SmbiosStringAt(table, slot, 40), "");
    EXPECT_STREQ(SmbiosStringAt(table, slot + 1, 4), "");  // not a structure of the table
}

} // namespace
