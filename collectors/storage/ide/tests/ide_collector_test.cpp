// The IDE collector: its two tables, the disks read back from the registry, and the disk traps.
#include "datastore.h"
#include "host_test_support.h"
#include "ide_layer.h"
#include "service_parameters.h"
#include "sim_ata_disk.h"
#include "smbios_samples.h"
#include "smbios_table.h"
#include "storagesim.h"
#include "traps.h"
#include "zdtide_collector.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace hosttest;

namespace {

constexpr DWORD kSmartSend = 0x7C084;

IDE_DISK_RECORD Disk(uint8_t index, const char *serial, uint8_t status, uint8_t wear = 1)
{
    IDE_DISK_RECORD disk{};
    disk.ControllerIndex = 1;
    disk.DiskIndex = index;
    std::strcpy(disk.Model, "QZ DISK");
    std::strcpy(disk.Firmware, "F1");
    std::strcpy(disk.Serial, serial);
    disk.Status = status;
    disk.Condition = status == IDE_DISK_OK ? IDE_OK : IDE_FAILED;
    disk.WearStatus = wear;
    disk.Channel = 4;
    disk.ChannelPosition = 2;
    disk.Temperature = 35;
    disk.MaximumTemperature = 70;
    disk.Valid = 1;
    return disk;
}

IDE_CONTROLLER_RECORD Controller(uint8_t index, const char *location)
{
    IDE_CONTROLLER_RECORD controller{};
    controller.ControllerIndex = index;
    controller.Condition = IDE_OK;
    std::strcpy(controller.Name, "driver name");
    std::strcpy(controller.PciLocation, location);
    return controller;
}

MIBOID DiskCell(uint32_t column, uint32_t controller, uint32_t disk)
{
    return EnterpriseOid({14, 2, 4, 1, 1, column, controller, disk});
}
MIBOID ControllerCell(uint32_t column, uint32_t controller) { return EnterpriseOid({14, 2, 3, 1, 1, column, controller}); }

// A structure naming an embedded SATA controller: location string number at 28, name at 31.
SampleStructure ControllerName(const char *name, const char *location, int length = -1)
{
    std::vector<uint8_t> body(28, 0);
    body[28 - 4] = 1;
    body[31 - 4] = 2;
    return {203, 0xCB00, body, {location, name}, length};
}

// A structure placing a disk: serial at 39, model at 40, location at 42.
SampleStructure DiskLocation(const char *model, const char *serial, const char *location)
{
    std::vector<uint8_t> body(40, 0);
    body[39 - 4] = 1;
    body[40 - 4] = 2;
    body[42 - 4] = 3;
    return {242, 0xF200, body, {serial, model, location}};
}

CSMBIOSTable Table(const std::vector<SampleStructure> &structures)
{
    return CSMBIOSTable(BuildCopy(BuildStructures(structures)));
}

class IdeCollectorTest : public testing::Test {
protected:
    void SetUp() override
    {
        s_ZDTIDEDataCollector.ResetForTests();
        s_ServiceParameters.EnableTraps = 1;
        ASSERT_TRUE(InitDataStores());
        InitTraps();
    }
    void TearDown() override
    {
        IdeResetForTest();
        TermTraps();
        TermDataStores();
    }

    std::vector<RECORDED_PDU> SentTraps()
    {
        RecordingSession session;
        while (QueuedTrapCount() > 0)
            if (SendOneTrap(&session) != 0)
                break;
        return session.pdus;
    }
    static uint32_t TrapNumber(const RECORDED_PDU &pdu) { return pdu.varbinds[0].oid.subIds[pdu.varbinds[0].oid.count - 1]; }

    DATASTORE staging{false};
};

TEST_F(IdeCollectorTest, StatusAndWearChangesGiveTheirTraps)
{
    struct Case {
        const char *what;
        IDE_DISK_RECORD before, after;
        int32_t previousResult;  // the previous record's last health answer
        uint32_t trap;           // 0: none
    } cases[] = {
        {"status changed", Disk(3, "S1", 2), Disk(3, "S1", 4), 0, 14004},
        {"wear changed", Disk(3, "S1", 2, 1), Disk(3, "S1", 2, 3), 0, 14006},
        {"both changed: the status trap only", Disk(3, "S1", 2, 1), Disk(3, "S1", 4, 3), 0, 14004},
        {"OK after busy", Disk(3, "S1", 1), Disk(3, "S1", 2), 170, 0},
        {"failed after busy", Disk(3, "S1", 1), Disk(3, "S1", 4), 170, 14004},
        {"serials compare without case", Disk(3, "abc", 2), Disk(3, "ABC", 4), 0, 14004},
        {"a new disk", Disk(3, "S1", 2), Disk(4, "S2", 4), 0, 0},
        {"no serial matches nothing", Disk(3, "", 2), Disk(3, "", 4), 0, 0},
        {"nothing changed", Disk(3, "S1", 2), Disk(3, "S1", 2), 0, 0},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        c.before.SmartResult = c.previousResult;
        s_ZDTIDEDataCollector.CheckIdeDiskTraps({c.before}, {c.after});
        std::vector<RECORDED_PDU> traps = SentTraps();
        if (c.trap == 0) {
            EXPECT_TRUE(traps.empty());
            continue;
        }
        ASSERT_EQ(traps.size(), 1u);
        EXPECT_EQ(TrapNumber(traps[0]), c.trap);
    }
    // An invalid disk sends nothing either.
    IDE_DISK_RECORD gone = Disk(3, "S1", 4);
    gone.Valid = 0;
    s_ZDTIDEDataCollector.CheckIdeDiskTraps({Disk(3, "S1", 2)}, {gone});
    EXPECT_TRUE(SentTraps().empty());
}

TEST_F(IdeCollectorTest, TrapVarbindsCarryTheDisksTwoPartIndex)
{
    for (uint32_t trap : {14004u, 14006u}) {
        SCOPED_TRACE(trap);
        IDE_DISK_RECORD disk = Disk(5, "SER9", 4, 3);
        disk.ControllerIndex = 2;
        s_ZDTIDEDataCollector.SendIdeTrap(trap, disk);
        std::vector<RECORDED_PDU> traps = SentTraps();
        ASSERT_EQ(traps.size(), 1u);
        const std::vector<VARBIND> &v = traps[0].varbinds;
        ASSERT_EQ(v.size(), 11u);
        EXPECT_EQ(OidText(v[0].oid), OidText(EnterpriseOid({0, trap})));
        EXPECT_EQ(OidText(v[1].name), ".1.3.6.1.2.1.1.5.0");
        EXPECT_EQ(OidText(v[2].name), OidText(EnterpriseOid({11, 2, 11, 1, 0})));
        EXPECT_EQ(v[2].integer, 4 * IDE_FAILED);
        const uint32_t status = trap == 14004 ? 6 : 19;
        const uint32_t columns[] = {1, 2, 3, 4, 5, status, 11, 12};
        for (size_t i = 0; i < std::size(columns); ++i)
            EXPECT_EQ(OidText(v[3 + i].name), OidText(DiskCell(columns[i], 2, 5))) << i;
        EXPECT_EQ(v[3].integer, 2);
        EXPECT_EQ(v[4].integer, 5);
        EXPECT_EQ(v[5].text, "QZ DISK");
        EXPECT_EQ(v[6].text, "F1");
        EXPECT_EQ(v[7].text, "SER9");
        EXPECT_EQ(v[8].integer, trap == 14004 ? 4 : 3);
        EXPECT_EQ(v[9].integer, 4);
        EXPECT_EQ(v[10].integer, 2);
    }
}

TEST_F(IdeCollectorTest, FirstPollDefaultsAndLaterPreviousValues)
{
    IDE_DISK_RECORD busy = Disk(1, "B1", 3);
    busy.SmartResult = 170;
    busy.Temperature = 128;
    busy.MaximumTemperature = 200;
    busy.ChannelPosition = 21;
    IDE_DISK_RECORD gone = Disk(2, "G1", 2);
    gone.Valid = 0;

    s_ZDTIDEDataCollector.WriteDiskTable(&staging, {busy, gone}, nullptr);
    EXPECT_EQ(IntAt(&staging, DiskCell(6, 1, 1)), 1);
    EXPECT_EQ(IntAt(&staging, DiskCell(7, 1, 1)), 1);
    EXPECT_EQ(IntAt(&staging, DiskCell(23, 1, 1)), 0);
    EXPECT_EQ(IntAt(&staging, DiskCell(24, 1, 1)), 60);
    EXPECT_EQ(IntAt(&staging, DiskCell(25, 1, 1)), 60);
    EXPECT_EQ(IntAt(&staging, DiskCell(12, 1, 1)), 1) << "a position past 20 becomes 1";
    EXPECT_EQ(IntAt(&staging, DiskCell(1, 1, 2)), std::nullopt) << "an invalid disk has no row";

    // Later polls take the previous collection's values for the same serial number.
    IDE_DISK_RECORD before = Disk(1, "b1", 4);
    before.Temperature = 41;
    before.MaximumTemperature = 65;
    s_ZDTIDEDataCollector.SetPreviousDisksForTests({before});
    s_ZDTIDEDataCollector.WriteDiskTable(&staging, {busy}, nullptr);
    EXPECT_EQ(IntAt(&staging, DiskCell(6, 1, 1)), 4);
    EXPECT_EQ(IntAt(&staging, DiskCell(7, 1, 1)), IDE_FAILED);
    EXPECT_EQ(IntAt(&staging, DiskCell(23, 1, 1)), 41);
    EXPECT_EQ(IntAt(&staging, DiskCell(24, 1, 1)), 65);
    EXPECT_EQ(IntAt(&staging, DiskCell(25, 1, 1)), 65);

    // A disk without a serial number takes nothing from a previous one without one.
    IDE_DISK_RECORD anonymous = busy;
    anonymous.Serial[0] = '\0';
    IDE_DISK_RECORD anonymousBefore = before;
    anonymousBefore.Serial[0] = '\0';
    s_ZDTIDEDataCollector.SetPreviousDisksForTests({anonymousBefore});
    s_ZDTIDEDataCollector.WriteDiskTable(&staging, {anonymous}, nullptr);
    EXPECT_EQ(IntAt(&staging, DiskCell(6, 1, 1)), 3) << "the status as the disk gave it";
    EXPECT_EQ(IntAt(&staging, DiskCell(23, 1, 1)), 128);
}

TEST_F(IdeCollectorTest, ControllerNamesFromTheSmbiosTable)
{
    const std::vector<IDE_CONTROLLER_RECORD> controllers = {Controller(0, "0000:00:1f.2"),
                                                            Controller(1, "0000:3a:00.0")};
    struct Case {
        const char *what;
        std::vector<SampleStructure> structures;
        const char *first, *second;
    } cases[] = {
        {"no structure", {}, "Embedded SATA Controller #1", "Embedded SATA Controller #2"},
        {"the second named",
         {ControllerName("Embedded SATA Controller 2 (Bay)", "PciRoot(0x3a)/Pci(0x0,0x0)/Sata(0)")},
         "Embedded SATA Controller #1", "Embedded SATA Controller 2 (Bay)"},
        {"a name that is no embedded SATA controller", {ControllerName("Other", "PciRoot(0x0)/Pci(0x1f,0x2)")},
         "Embedded SATA Controller #1", "Embedded SATA Controller #2"},
        {"a string number past the structure's length is not read",
         {ControllerName("Embedded SATA Controller 1", "PciRoot(0x0)/Pci(0x1f,0x2)", 31)},
         "Embedded SATA Controller #1", "Embedded SATA Controller #2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CSMBIOSTable table = Table(c.structures);
        s_ZDTIDEDataCollector.WriteControllerTable(&staging, controllers, &table);
        EXPECT_EQ(TextAt(&staging, ControllerCell(3, 0)), c.first);
        EXPECT_EQ(TextAt(&staging, ControllerCell(3, 1)), c.second);
        EXPECT_EQ(TextAt(&staging, ControllerCell(9, 1)), "");
        EXPECT_EQ(TextAt(&staging, ControllerCell(10, 1)), "0000:3a:00.0");
    }
}

TEST_F(IdeCollectorTest, DiskLocationsFromTheSmbiosTable)
{
    CSMBIOSTable table = Table({DiskLocation("qz disk ", "S2", "Bay 2"), DiskLocation("QZ DISK", " s1", "Bay 1")});
    IDE_DISK_RECORD unplaced = Disk(3, "S3", 2);
    std::strcpy(unplaced.Location, "from the layer");
    s_ZDTIDEDataCollector.WriteDiskTable(&staging, {Disk(1, "S1", 2), Disk(2, "S2", 2), unplaced}, &table);
    EXPECT_EQ(TextAt(&staging, DiskCell(27, 1, 1)), "Bay 1");
    EXPECT_EQ(TextAt(&staging, DiskCell(27, 1, 2)), "Bay 2");
    EXPECT_EQ(TextAt(&staging, DiskCell(27, 1, 3)), "from the layer");
}

// Whole collections on the simulated server: a disk busy at the first collection, fine at the
// next, then over its threshold.
TEST_F(IdeCollectorTest, CollectionsOnTheSimulatedServer)
{
    StorageSim sim;
    StorageSimScope scope(sim);
    sim.AddScsiPort(0, "storahci")->BusType = 11;
    auto disk = std::make_shared<SimAtaDisk>();
    disk->SetIdentity("QZ DISK", "SIMSERIAL", "F1", 1953525168);
    disk->SetWord(76, 0x0006);
    sim.AddPhysicalDrive(0, 0, 0, 0, 0)->Disk = disk;
    ASSERT_EQ(IdeRestartForTest(), 0);
    s_SMBIOSTable.reset();

    auto collect = [&] {
        DATASTORE store(false);
        s_ZDTIDEDataCollector.StartCollection(0, &store);
        s_ZDTIDEDataCollector.Collect(0, &store);
        struct {
            std::optional<int32_t> status;
            std::optional<std::string> controller;
            std::vector<RECORDED_PDU> traps;
        } seen{IntAt(&store, DiskCell(6, 0, 0)), TextAt(&store, ControllerCell(3, 0)), SentTraps()};
        return seen;
    };

    sim.AddFault({.What = SimFault::Kind::Win32Error, .Code = kSmartSend, .Times = -1, .Error = 170});
    auto first = collect();
    EXPECT_EQ(first.status, 1) << "busy at the first collection";
    EXPECT_EQ(first.controller, "Embedded SATA Controller #1");
    EXPECT_TRUE(first.traps.empty());
    ASSERT_EQ(s_ZDTIDEDataCollector.PreviousDisks().size(), 1u);
    EXPECT_STREQ(s_ZDTIDEDataCollector.PreviousDisks()[0].Serial, "SIMSERIAL");

    sim.ClearFaults();
    auto second = collect();
    EXPECT_EQ(second.status, 2);
    EXPECT_TRUE(second.traps.empty()) << "OK after busy sends nothing";

    disk->Exceeded = true;
    auto third = collect();
    EXPECT_EQ(third.status, 3);
    ASSERT_EQ(third.traps.size(), 1u);
    EXPECT_EQ(TrapNumber(third.traps[0]), 14004u);

    sim.AddFault({.What = SimFault::Kind::Win32Error, .Code = kSmartSend, .Times = -1, .Error = 170});
    auto fourth = collect();
    EXPECT_EQ(fourth.status, 3) << "busy later: the previous collection's status";
    EXPECT_TRUE(fourth.traps.empty());
}

TEST_F(IdeCollectorTest, RegistersGroupFourteen)
{
    RecordingSession session;
    EXPECT_EQ(s_ZDTIDEDataCollector.Register(&session), 0);
    ASSERT_EQ(session.pdus.size(), 1u);
    EXPECT_EQ(OidText(session.pdus[0].subtree), OidText(EnterpriseOid({14})));
    EXPECT_EQ(session.pdus[0].priority, 127);
    session.answer = [](const RECORDED_PDU &) { return 257; };
    EXPECT_EQ(s_ZDTIDEDataCollector.Register(&session), 257);
}

} // namespace
