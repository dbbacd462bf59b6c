#include "ide_discovery.h"
#include "ide_raid.h"
#include "sim_ata_disk.h"
#include "sim_xide_raid.h"
#include "storagesim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::shared_ptr<SimAtaDisk> AtaDisk(const char *serial)
{
    auto disk = std::make_shared<SimAtaDisk>();
    disk->SetIdentity("QZ DISK", serial, "F1", 1953525168);
    disk->SetWord(76, 0x0006);
    return disk;
}

std::vector<uint8_t> ListOf(const IDE_DISK_LIST &list)
{
    return std::vector<uint8_t>(list.Disks, list.Disks + std::min<uint8_t>(list.Count, 8));
}

class IdeRaidTest : public testing::Test {
protected:
    void TearDown() override
    {
        m_State.Controllers.clear();
        EXPECT_TRUE(m_Sim.OpenHandles().empty());
        EXPECT_EQ(m_Sim.DoubleCloses(), 0u);
    }
    // An IDE RAID controller on port 4 with disks at positions 0 to 3.
    IDE_CONTROLLER_NODE &RaidController()
    {
        m_Sim.AddScsiPort(4, "LsiCsb6");
        m_Raid = std::make_shared<SimXideRaid>();
        m_Raid->BoardId = IDE_BOARD_IDE_RAID_INTEGRATED;
        for (int i = 0; i < 4; ++i)
            m_Raid->Disks[i] = AtaDisk(("R" + std::to_string(i)).c_str());
        m_Sim.AddPhysicalDrive(1, 4, 0, 0, 0)->Disk = m_Raid;
        EXPECT_EQ(IdeScanControllers(&m_State), 0);
        EXPECT_EQ(IdeScanDisks(&m_State), 0);
        EXPECT_EQ(m_State.Controllers.at(0)->Disks.size(), 4u);
        return *m_State.Controllers.at(0);
    }
    static SimXideRaid::Member Member(int i, uint32_t state = 0)
    {
        return {"QZ DISK", "R" + std::to_string(i), state};
    }

    StorageSim m_Sim;
    StorageSimScope m_Scope{m_Sim};
    IDE_STATE m_State;
    std::shared_ptr<SimXideRaid> m_Raid;
};

TEST_F(IdeRaidTest, IdeRaidLogicalDrives)
{
    IDE_CONTROLLER_NODE &controller = RaidController();
    m_Raid->MemberList = {Member(0), Member(1), Member(3)};
    m_Raid->Drives[0] = {1, 256, 4u << 20, 0, {Member(0), Member(1)}};          // mirror, ok
    m_Raid->Drives[3] = {3, 128, 8u << 20, 2, {Member(3), Member(2, 14)}};      // degraded, rebuilding
    EXPECT_EQ(IdeRefreshLogicalDrives(&controller), 0);
    ASSERT_EQ(controller.LogicalDrives.size(), 2u);
    const IDE_LOGICAL_DRIVE_RECORD &first = controller.LogicalDrives[0]->Record;
    EXPECT_EQ(first.DriveIndex, 0);
    EXPECT_EQ(first.Level, 2);
    EXPECT_EQ(first.Status, 2);
    EXPECT_EQ(first.Condition, 2);
    EXPECT_EQ(first.RebuildIndex, 255);
    EXPECT_EQ(first.Capacity, 4096u);
    EXPECT_EQ(first.Stripe, 128u);
    EXPECT_EQ(ListOf(first.Members), (std::vector<uint8_t>{0, 1}));
    EXPECT_EQ(first.Second.Count, 0);
    EXPECT_STREQ(first.DiskName, "Disk 1");   // index 0 + the controller's drive number
    EXPECT_STREQ(first.ControllerName, "Integrated Ultra ATA-100 IDE RAID Controller");
    const IDE_LOGICAL_DRIVE_RECORD &second = controller.LogicalDrives[1]->Record;
    EXPECT_EQ(second.Level, 4);
    EXPECT_EQ(second.Status, 4);
    EXPECT_EQ(second.Condition, 3);
    EXPECT_EQ(second.RebuildIndex, 2);
    EXPECT_EQ(ListOf(second.Members), (std::vector<uint8_t>{2, 3}));
    EXPECT_EQ(ListOf(second.Second), (std::vector<uint8_t>{0, 1, 3}));   // RAID role 2, level code 4
    EXPECT_STREQ(second.DiskName, "Disk 4");
    EXPECT_EQ(controller.Disks[2]->Record.RaidRole, 3);
    EXPECT_EQ(controller.Disks[2]->Record.Membership, 2);

    // Drive 3 goes, and disk 2 is no member any more.
    m_Raid->Drives.erase(3);
    EXPECT_EQ(IdeRefreshLogicalDrives(&controller), 0);
    ASSERT_EQ(controller.LogicalDrives.size(), 1u);
    EXPECT_EQ(controller.Disks[2]->Record.Membership, 3);
    EXPECT_EQ(controller.Disks[0]->Record.Membership, 2);
}

TEST_F(IdeRaidTest, XideStatusesAndUnknownLevels)
{
    IDE_CONTROLLER_NODE &controller = RaidController();
    struct Case {
        uint32_t level, status;
        uint8_t levelCode, ldStatus, condition;
    } cases[] = {{1, 0, 2, 2, 2}, {2, 2, 3, 3, 3}, {3, 15, 4, 5, 4}, {0, 7, 1, 1, 1}, {5, 0, 1, 2, 2}};
    for (const Case &c : cases) {
        m_Raid->Drives[2] = {c.level, 64, 1024, c.status, {Member(0)}};
        IdeRefreshLogicalDrives(&controller);
        ASSERT_EQ(controller.LogicalDrives.size(), 1u);
        const IDE_LOGICAL_DRIVE_RECORD &record = controller.LogicalDrives[0]->Record;
        EXPECT_EQ(record.Level, c.levelCode) << c.level;
        EXPECT_EQ(record.Status, c.ldStatus) << c.status;
        EXPECT_EQ(record.Condition, c.condition) << c.status;
    }
}

// A CSMI SATA RAID controller on port 2 with disks on PHYs 0 to 3.
class IdeCsmiRaidTest : public IdeRaidTest {
protected:
    IDE_CONTROLLER_NODE &CsmiController(unsigned disks)
    {
        m_Port = m_Sim.AddScsiPort(2, "iaStorE");
        m_Port->Csmi = std::make_shared<SimCsmiController>();
        m_Port->Csmi->SetConfig(IDE_BOARD_SATA_RAID_6_PORT, 3, 0, 31, 2, "SN", {1, 0, 0, 0}, {0, 0, 0, 0});
        m_Port->Csmi->SetStatus(1);
        std::vector<SimCsmiController::Phy> phys(disks);
        for (unsigned i = 0; i < disks; ++i) {
            phys[i].AttachedDeviceType = 0x10;
            phys[i].AttachedSasAddress[7] = static_cast<uint8_t>(i + 1);
            m_Disks.push_back(AtaDisk(("C" + std::to_string(i)).c_str()));
            m_Port->Csmi->Attach(static_cast<uint8_t>(i), phys[i].AttachedSasAddress, m_Disks.back()->StpTarget());
        }
        m_Port->Csmi->SetPhys(phys);
        m_Sim.AddPhysicalDrive(0, 2, 0, 0, 0);
        EXPECT_EQ(IdeScanControllers(&m_State), 0);
        EXPECT_EQ(IdeScanDisks(&m_State), 0);
        EXPECT_EQ(m_State.Controllers.at(0)->Disks.size(), disks);
        return *m_State.Controllers.at(0);
    }
    struct Drive {
        int disk;
        uint8_t status, usage;
    };
    void SetSet(uint32_t index, uint8_t type, uint8_t status, std::vector<Drive> drives, uint8_t count = 0xFF)
    {
        std::vector<uint8_t> payload(36 + 136 * drives.size(), 0);   // bytes after the header
        std::memcpy(&payload[0], &index, 4);
        uint32_t capacity = 1000, stripe = 64;
        std::memcpy(&payload[4], &capacity, 4);
        std::memcpy(&payload[8], &stripe, 4);
        payload[12] = type;
        payload[13] = status;
        payload[15] = count == 0xFF ? static_cast<uint8_t>(drives.size()) : count;
        for (size_t i = 0; i < drives.size(); ++i) {
            uint8_t *entry = &payload[36 + 136 * i];
            std::string serial = "C" + std::to_string(drives[i].disk);
            std::memset(entry + 48, ' ', 40);
            std::memcpy(entry + 48, serial.data(), serial.size());
            entry[104] = drives[i].status;
            entry[105] = drives[i].usage;
        }
        m_Port->Csmi->RaidConfigs[index] = payload;
    }

    std::shared_ptr<SimScsiPort> m_Port;
    std::vector<std::shared_ptr<SimAtaDisk>> m_Disks;
};

TEST_F(IdeCsmiRaidTest, SetsDisksAndRebuild)
{
    IDE_CONTROLLER_NODE &controller = CsmiController(4);
    EXPECT_STREQ(controller.Record.Name, "QZ 6-Port SATA RAID Controller");
    m_Port->Csmi->SetRaid(2, 4);
    SetSet(0, 5, 2, {{0, 0, 1}, {1, 1, 1}, {2, 2, 1}, {3, 0, 2}});   // RAID 5 rebuilding the second drive
    SetSet(5, 1, 0, {{3, 3, 3}});
    EXPECT_EQ(IdeRefreshLogicalDrives(&controller), -1);   // set 1 to 4 absent
    ASSERT_EQ(controller.LogicalDrives.size(), 2u);
    const IDE_LOGICAL_DRIVE_RECORD &set = controller.LogicalDrives[0]->Record;
    EXPECT_EQ(set.Level, 6);
    EXPECT_EQ(set.Status, 4);
    EXPECT_EQ(set.RebuildIndex, 1);
    EXPECT_EQ(ListOf(set.Members), (std::vector<uint8_t>{0, 1, 2}));
    EXPECT_EQ(ListOf(set.Second), (std::vector<uint8_t>{3}));
    EXPECT_EQ(controller.Disks[2]->Record.Status, IDE_DISK_FAILED);
    EXPECT_EQ(controller.Disks[1]->Record.Status, IDE_DISK_OK);
    EXPECT_EQ(controller.Disks[3]->Record.RaidRole, 2);
    const IDE_LOGICAL_DRIVE_RECORD &other = controller.LogicalDrives[1]->Record;
    EXPECT_EQ(other.DriveIndex, 5);
    EXPECT_EQ(other.Level, 2);
    EXPECT_EQ(other.Status, 2);
    EXPECT_EQ(controller.Disks[3]->Record.Status, IDE_DISK_THRESHOLD);
    EXPECT_EQ(controller.Disks[3]->Record.Membership, 3);   // usage 3: listed, not a member

    // A set that reports 0 drives is absent.
    SetSet(5, 1, 0, {}, 0);
    IdeRefreshLogicalDrives(&controller);
    EXPECT_EQ(controller.LogicalDrives.size(), 1u);
}

TEST_F(IdeCsmiRaidTest, DriveCountBoundedByTheControllersMaximum)
{
    IDE_CONTROLLER_NODE &controller = CsmiController(3);
    // No drives per set: nothing is asked (the buffer size would go below its header).
    m_Port->Csmi->SetRaid(1, 0);
    SetSet(0, 1, 0, {{0, 0, 1}});
    EXPECT_EQ(IdeRefreshLogicalDrives(&controller), -1);
    EXPECT_TRUE(controller.LogicalDrives.empty());
    EXPECT_EQ(m_Sim.CountRequests(0x4D008, 11), 0u);
    // Two per set, while the set claims three: the third entry is not read.
    m_Port->Csmi->SetRaid(1, 2);
    SetSet(0, 1, 0, {{0, 0, 1}, {1, 0, 1}, {2, 0, 1}});
    EXPECT_EQ(IdeRefreshLogicalDrives(&controller), 0);
    ASSERT_EQ(controller.LogicalDrives.size(), 1u);
    EXPECT_EQ(ListOf(controller.LogicalDrives[0]->Record.Members), (std::vector<uint8_t>{0, 1}));
}

TEST_F(IdeCsmiRaidTest, ControllerStatus)
{
    IDE_CONTROLLER_NODE &controller = CsmiController(1);
    struct Case {
        uint32_t status;
        uint8_t controllerStatus;
    } cases[] = {{1, 2}, {2, 3}, {3, 1}};
    for (const Case &c : cases) {
        m_Port->Csmi->SetStatus(c.status);
        EXPECT_EQ(IdeControllerStatus(&controller), 0);
        EXPECT_EQ(controller.Record.ControllerStatus, c.controllerStatus);
    }
    // The second status and the condition keep the worst seen.
    EXPECT_EQ(controller.Record.SecondStatus, 3);
    EXPECT_EQ(controller.Record.Condition, 3);
    IDE_CONTROLLER_NODE plain;
    plain.Type = IDE_TYPE_ATAPI;
    plain.Record.ControllerStatus = 2;
    plain.Record.SecondStatus = 2;
    plain.Record.Condition = 1;
    EXPECT_EQ(IdeControllerStatus(&plain), -1);
    EXPECT_EQ(plain.Record.Condition, 2);
    EXPECT_EQ(IdeRefreshLogicalDrives(&plain), -1);
}

} // namespace
