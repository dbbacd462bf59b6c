// The NIC group's rows from the library's records, and the group's portable rules.
#include "nic_columns.h"

#include "nic_smbios_bodies.h"
#include "smbios_samples.h"
#include "smbios_table.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const NIC_CELL &Cell(const NIC_ROW &row, uint32_t column)
{
    for (const NIC_CELL &cell : row)
        if (cell.column == column)
            return cell;
    static NIC_CELL missing{0, NicCellType::Integer, 0xDEADu, "missing"};
    ADD_FAILURE() << "no column " << column;
    return missing;
}

TEST(NicColumns, PhysicalSpeedFitsTheGaugeOnlyUpTo4294Mbps)
{
    struct {
        uint32_t mbps, gauge;
    } cases[] = {{1000, 1000000000u}, {4294, 4294000000u}, {4295, 0}, {10000, 0}, {0, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mbps);
        PHYSADAPTERRECORD record{};
        record.SpeedMbps = c.mbps;
        const NIC_ROW row = PhysAdapterColumns(record, 3);
        ASSERT_EQ(43u, row.size());
        EXPECT_EQ(c.gauge, Cell(row, 33).number);
        EXPECT_EQ(NicCellType::Gauge32, Cell(row, 33).type);
        EXPECT_EQ(c.mbps, Cell(row, 36).number);
    }
}

TEST(NicColumns, PhysicalRowCarriesTheRecordFields)
{
    PHYSADAPTERRECORD record{};
    record.IfIndex = 0x0102;
    record.Role = 255;
    const uint8_t mac[6] = {2, 0xfc, 0, 0, 0, 1};
    std::memcpy(record.MacAddress, mac, 6);
    record.Slot = -1;
    record.FcsErrors = 77;
    record.InternalMacReceiveErrors = 99;
    std::memcpy(record.PartNumber, "N/A", 3);
    // A name without its NUL stops at the field's end.
    std::memset(record.Name, 'x', sizeof record.Name);
    const NIC_ROW row = PhysAdapterColumns(record, 3);
    EXPECT_EQ(3u, Cell(row, 1).number);
    EXPECT_EQ(std::string("\x02\x01\0\0", 4), Cell(row, 2).bytes);
    EXPECT_EQ(255u, Cell(row, 3).number);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(mac), 6), Cell(row, 4).bytes);
    EXPECT_EQ(0xFFFFFFFFu, Cell(row, 5).number);
    EXPECT_EQ(77u, Cell(row, 21).number);
    EXPECT_EQ(99u, Cell(row, 30).number);
    EXPECT_EQ(NicCellType::Counter32, Cell(row, 30).type);
    EXPECT_EQ("N/A", Cell(row, 32).bytes);
    EXPECT_EQ(std::string(sizeof record.Name, 'x'), Cell(row, 39).bytes);
    EXPECT_EQ(0xFFFFFFFFu, Cell(row, 40).number);
}

TEST(NicColumns, LogicalListsStayWithinTheirArrays)
{
    struct {
        const char *what;
        int32_t ifCount;
        uint8_t members, vlans;
        size_t col2, col7, col16;
        uint32_t col15;
    } cases[] = {
        {"team of three", 3, 3, 2, 12, 3, 2, 2},
        {"synthesized", 1, 1, 0, 4, 1, 0, 0},
        {"20 members, 200 vlans", 70, 20, 200, 256, 16, 64, 64},
        {"negative count", -5, 0, 0, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        INTERFACEMAPRECORD record{};
        record.IfIndexCount = c.ifCount;
        for (int i = 0; i < 64; ++i)
            record.IfIndexList[i] = 100 + i;
        record.MemberCount = c.members;
        record.VlanCount = c.vlans;
        const NIC_ROW row = LogMapColumns(record, 1);
        ASSERT_EQ(23u, row.size());
        EXPECT_EQ(c.col2, Cell(row, 2).bytes.size());
        if (c.col2 >= 12) {
            int32_t third;
            std::memcpy(&third, Cell(row, 2).bytes.data() + 8, 4);
            EXPECT_EQ(102, third);
        }
        EXPECT_EQ(c.members, Cell(row, 5).number);
        EXPECT_EQ(c.col7, Cell(row, 7).bytes.size());
        EXPECT_EQ(c.col15, Cell(row, 15).number);
        EXPECT_EQ(c.col16, Cell(row, 16).bytes.size());
    }
}

// Column 2 takes the Hyper-V array, as many entries as the record counts, once its element 0
// names an interface; otherwise the record's own list.
TEST(NicColumns, LogicalColumnTwoTakesTheHyperVArrayWhenItsFirstElementIsSet)
{
    INTERFACEMAPRECORD record{};
    record.IfIndexCount = 3;
    record.IfIndexList[0] = 101;
    record.IfIndexList[1] = 202;
    record.IfIndexList[2] = 303;
    int32_t none[64] = {}, own[64] = {101}, other[64] = {0, 7, 8};
    struct {
        const char *what;
        const int32_t (*hyperV)[64];
        std::vector<int32_t> column;
    } cases[] = {
        {"no array", nullptr, {101, 202, 303}},
        {"array of zeros", &none, {101, 202, 303}},
        {"first interface IP-enabled", &own, {101, 0, 0}},
        {"element 0 zero, others set", &other, {101, 202, 303}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const NIC_ROW row = LogMapColumns(record, 1, c.hyperV);
        const std::string &bytes = Cell(row, 2).bytes;
        ASSERT_EQ(c.column.size() * 4, bytes.size());
        std::vector<int32_t> column(c.column.size());
        std::memcpy(column.data(), bytes.data(), bytes.size());
        EXPECT_EQ(c.column, column);
    }
}

TEST(NicColumns, LogicalMacIsEmptyWhenZeroAndSpeedFollowsTheGaugeRule)
{
    INTERFACEMAPRECORD record{};
    record.SpeedMbps = 10000;
    NIC_ROW row = LogMapColumns(record, 2);
    EXPECT_EQ(0u, Cell(row, 8).bytes.size());
    EXPECT_EQ(0u, Cell(row, 14).number);
    EXPECT_EQ(10000u, Cell(row, 19).number);
    record.MacAddress[5] = 1;
    record.SpeedMbps = 100;
    row = LogMapColumns(record, 2);
    EXPECT_EQ(6u, Cell(row, 8).bytes.size());
    EXPECT_EQ(100000000u, Cell(row, 14).number);
}

TEST(NicColumns, VlanRow)
{
    VLANMAPRECORD record{};
    record.ParentLogicalIndex = 4;
    record.IfIndex = 12;
    record.VlanId = 100;
    std::memcpy(record.VlanName, "vlan100", 7);
    std::memcpy(record.VlanIPv6Address, "N/A", 3);
    std::memcpy(record.VlanConnectionName, "LAN 1", 5);
    const NIC_ROW row = VlanColumns(record, 5);
    ASSERT_EQ(7u, row.size());
    EXPECT_EQ(5u, Cell(row, 1).number);
    EXPECT_EQ(4u, Cell(row, 2).number);
    EXPECT_EQ(100u, Cell(row, 4).number);
    EXPECT_EQ("vlan100", Cell(row, 5).bytes);
    EXPECT_EQ("N/A", Cell(row, 6).bytes);
    EXPECT_EQ("LAN 1", Cell(row, 7).bytes);
}

TEST(NicRules, TeamDescriptions)
{
    struct {
        const wchar_t *text;
        bool team;
    } cases[] = {{L"QZ Network Team #2", true}, {L"QZ Network Team #", true},    {L"QZ Network Team #12", true},
                 {L"QZ Network Team #2a", false}, {L"qz network team #2", false}, {L"QZ Network Team 2", false},
                 {L"Intel Ethernet", false}};
    for (const auto &c : cases)
        EXPECT_EQ(c.team, IsTeamDescription(c.text)) << static_cast<const void *>(c.text);
}

TEST(NicRules, PciInstanceIds)
{
    struct {
        const char *id;
        uint32_t vendor, device, subsystem;
    } cases[] = {{"PCI\\VEN_8086&DEV_1563&SUBSYS_0B091F7A&REV_01\\3&11583659&0&10", 0x8086, 0x1563, 0x0B091F7A},
                 {"PCI\\VEN_15b3&DEV_1015&SUBSYS_00011F7A&REV_00", 0x15B3, 0x1015, 0x00011F7A},
                 {"PCI\\VEN_8086&DEV_1563", 0, 0, 0},
                 {"EBDRV\\L2ND&PCI_16A1", 0, 0, 0},
                 {"", 0, 0, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id);
        const NIC_PCI_IDENTITY id = ParsePciInstanceId(c.id);
        EXPECT_EQ(c.vendor, id.vendor);
        EXPECT_EQ(c.device, id.device);
        EXPECT_EQ(c.subsystem, id.subsystem);
    }
    EXPECT_TRUE(IsFirmwareModel(0x80861563, 0x0B091F7A));
    EXPECT_FALSE(IsFirmwareModel(0x80861563, 0x0B011F7A));
}

TEST(NicRules, NamesCompareWithoutCaseOnlyForAsciiLetters)
{
    EXPECT_TRUE(NicNameEquals("LAN Connection", "lan connection"));
    EXPECT_FALSE(NicNameEquals("LAN", "LAN "));
    EXPECT_FALSE(NicNameEquals("\xC4", "\xE4")); // one code page, bytes as they are
    EXPECT_TRUE(NicNameBegins("dsc management 1", "DSC Manage"));
    EXPECT_FALSE(NicNameBegins("DSC", "DSC Manage"));
    EXPECT_EQ("Caf\xC3\xA9 \xE2\x82\xAC", NicLatinToUtf8("Caf\xE9 \x80"));
}

TEST(NicRules, SystemIdText)
{
    struct {
        std::string id, text;
    } cases[] = {{"$VQSY1234", "ZDT1234"}, {"$VQSY12345678", "ZDT1234"}, {"$VQSY12", "ZDT12"},
                 {"$VQSX1234", "N/A"},    {"", "N/A"},                  {"VQSY1234", "N/A"}};
    for (const auto &c : cases)
        EXPECT_EQ(c.text, NicSystemIdText(c.id)) << c.id;

    CSMBIOSTable none(BuildCopy(BuildStructures({{1, 0x10, {1, 2, 3, 4}, {"x"}}})));
    EXPECT_EQ("", GetSystemIdString(none));
    CSMBIOSTable with(BuildCopy(BuildStructures({{195, 0x20, {2, 0}, {"other", "$VQSY77"}}})));
    EXPECT_EQ("$VQSY77", GetSystemIdString(with));
    EXPECT_EQ("ZDT77", NicSystemIdText(GetSystemIdString(with)));
}

TEST(NicRules, TrapFlags)
{
    TRAPRECORD record{};
    record.DhcpEnabled = 1;
    record.MemberStatus = 2;
    EXPECT_EQ(10, NicTrapFlags(record));
    record.DhcpEnabled = 0;
    record.MemberStatus = 0x0C; // only the low three bits count
    EXPECT_EQ(16, NicTrapFlags(record));
}

TEST(NicRules, SmbiosFirmwareOfASlotCardAndAnEmbeddedPort)
{
    CSMBIOSTable table(BuildCopy(BuildStructures({
        {9, 0x90, BodySlot(5, 0), {}},
        {9, 0x91, BodySlot(7, 0), {}},
        {41, 0xA0, BodyOnboard(2, 0), {}},
        {203, 0x30, Body203(0x90), {"NIC", "PCI-E Slot 2"}},
        {203, 0x31, Body203(0x91), {"NIC", "PCI-E Slot 3"}},
        {203, 0x32, Body203(0xA0), {"NIC", "Embedded LOM 1"}},
        {203, 0x33, Body203(0x90), {"Storage", "PCI-E Slot 2"}},
        {240, 0x40, Body240(0x30), {"FW 2.10"}},
        {240, 0x41, Body240(0x31), {"FW 3.00"}},
        {240, 0x42, Body240(0x32), {"FW LOM 1.5"}},
        {240, 0x43, Body240(0x33), {"not a NIC"}},
    })));
    ASSERT_TRUE(table.IsValid());
    struct {
        int32_t slot;
        const char *location;
        bool found;
        const char *firmware;
    } cases[] = {{2, "0000:05:00.0", true, "FW 2.10"}, {3, "0000:07:00.1", true, "FW 3.00"},
                 {0, "0000:02:00.0", true, "FW LOM 1.5"}, {2, "0000:06:00.0", false, ""},
                 {2, "05:00.0", false, ""},             {4, "0000:05:00.0", false, ""}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.location);
        std::string firmware;
        EXPECT_EQ(c.found, SmbiosNicFirmware(table, c.slot, c.location, &firmware));
        EXPECT_EQ(c.firmware, firmware);
    }
}

TEST(NicRules, FirmwareIsCutTo32Characters)
{
    PHYSADAPTERRECORD record{};
    std::memset(record.Firmware, 'z', sizeof record.Firmware);
    SetRecordFirmware(&record, std::string(40, 'a'));
    EXPECT_EQ(std::string(32, 'a'), RecordText(record.Firmware));
    SetRecordFirmware(&record, "1.2");
    EXPECT_EQ("1.2", RecordText(record.Firmware));
}

} // namespace
