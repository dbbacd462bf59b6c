// RAID sets of the SAS adapters: logical drives, the roles and statuses of their members, drives
// known only from the configuration, and the operating-system disk of a volume.
#include "sas_fabric.h"

#include "byte_reader.h"
#include "storage_io.h"

#include <cstring>

using namespace sastest;

namespace {

struct Member {
    uint64_t address;
    const char *serial;
    uint8_t status;   // 0 ok, 1 rebuilding, 2 failed, 3 predicted, other
    uint8_t usage;    // 1 member, 2 spare
};

std::vector<uint8_t> RaidSet(uint32_t index, uint8_t type, uint8_t status, uint8_t information,
                             const std::vector<Member> &members, int announced = -1)
{
    std::vector<uint8_t> payload(36 + 136 * members.size(), 0);
    PutU32(&payload[0], index);
    PutU32(&payload[4], 2000000);
    PutU32(&payload[8], 128);
    payload[12] = type;
    payload[13] = status;
    payload[14] = information;
    payload[15] = static_cast<uint8_t>(announced < 0 ? members.size() : announced);
    for (size_t i = 0; i < members.size(); ++i) {
        uint8_t *m = &payload[36 + 136 * i];
        std::memcpy(m, "RAID MEMBER MODEL", 17);
        std::memcpy(m + 40, "R001", 4);
        std::memcpy(m + 48, members[i].serial, std::strlen(members[i].serial));
        SimSasAddress(members[i].address, m + 88);
        m[104] = members[i].status;
        m[105] = members[i].usage;
    }
    return payload;
}

class SasRaidTest : public SasFabricTest {
protected:
    std::vector<SAS_LOGDRV_RECORD> Logical()
    {
        std::vector<SAS_LOGDRV_RECORD> out;
        for (SAS_LOGDRV_NODE *l = s_SasDiscovery.First->LogicalDrives; l != nullptr; l = l->Next)
            out.push_back(l->Record);
        return out;
    }
};

TEST_F(SasRaidTest, Raid5RebuildingWithASpare)
{
    Adapter a = AddAdapter(0, 3);
    for (uint8_t phy = 0; phy < 4; ++phy)
        a.AttachDrive(phy, 0x70 + phy, Disk(("R" + std::to_string(phy)).c_str()));
    a.Csmi->SetRaid(1, 8);
    a.Csmi->RaidConfigs[0] = RaidSet(0, 4, 2, 37, {{0x70, "R0", 0, 1}, {0x71, "R1", 1, 1}, {0x72, "R2", 0, 1},
                                                  {0x73, "R3", 0, 2}});
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(4u, drives.size());
    std::vector<SAS_LOGDRV_RECORD> logical = Logical();
    ASSERT_EQ(1u, logical.size());
    const SAS_LOGDRV_RECORD &l = logical[0];
    EXPECT_EQ(1u, l.LogicalDriveNumber);
    EXPECT_EQ(5, l.RaidLevel);
    EXPECT_EQ(4, l.Status);
    EXPECT_EQ(3, l.Condition);
    EXPECT_EQ(37, l.RebuildProgress);
    EXPECT_EQ(2, l.RebuildingDrive);
    ASSERT_EQ(3u, l.DataDrives.Count);
    EXPECT_EQ(1u, l.DataDrives.Index[0]);
    EXPECT_EQ(3u, l.DataDrives.Index[2]);
    ASSERT_EQ(1u, l.SpareDrives.Count);
    EXPECT_EQ(4u, l.SpareDrives.Index[0]);
    EXPECT_EQ(2, drives[1].Status);
    EXPECT_EQ(2, drives[1].ArrayRole);
    EXPECT_EQ(3, drives[3].ArrayRole);
    EXPECT_EQ(3, s_SasDiscovery.First->Record.OverallCondition);
    EXPECT_EQ("Slot 0", std::string(l.AdapterLocation));
}

TEST_F(SasRaidTest, SeventeenMembersKeepSixteenIndexes)
{
    Adapter a = AddAdapter(0, 2);
    std::vector<Member> members;
    std::vector<std::string> serials;
    for (int i = 0; i < 17; ++i)
        serials.push_back("M" + std::to_string(100 + i));
    for (int i = 16; i >= 0; --i)   // listed in reverse: the list sorts
        members.push_back({static_cast<uint64_t>(0x100 + i), serials[i].c_str(), 0, 1});
    a.Csmi->SetRaid(1, 17);
    a.Csmi->RaidConfigs[0] = RaidSet(0, 4, 0, 0, members);
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(17u, drives.size());
    for (const SAS_PHYDRV_RECORD &d : drives) {
        EXPECT_EQ(2, d.ArrayRole);
        EXPECT_EQ(1, d.HotPlugClass);
        EXPECT_EQ(std::string("Unknown (") + std::to_string(d.DriveIndex) + ")", d.LocationName);
    }
    SAS_LOGDRV_RECORD l = Logical()[0];
    ASSERT_EQ(16u, l.DataDrives.Count);
    for (uint32_t i = 0; i < 16; ++i)
        EXPECT_EQ(i + 1, l.DataDrives.Index[i]);
    EXPECT_EQ(2, l.Status);
}

TEST_F(SasRaidTest, MembersBoundedByTheSetSizeAndTheReply)
{
    Adapter a = AddAdapter(0, 3);
    std::vector<Member> members = {{0x100, "A", 0, 1}, {0x101, "B", 0, 1}, {0x102, "C", 0, 1}};
    // The set claims 200 members, the adapter allows 2 per set, the reply holds 3.
    a.Csmi->SetRaid(1, 2);
    a.Csmi->RaidConfigs[0] = RaidSet(0, 2, 0, 0, members, 200);
    EXPECT_EQ(2u, Drives().size());
    EXPECT_EQ(2u, Logical()[0].DataDrives.Count);
    // No drives per set: nothing is asked.
    a.Csmi->SetRaid(1, 0);
    SasResetForTest();
    size_t before = sim.CountRequests(IOCTL_SCSI_MINIPORT_CODE, CSMI_CC_GET_RAID_CONFIG);
    EXPECT_TRUE(Drives().empty());
    EXPECT_EQ(before, sim.CountRequests(IOCTL_SCSI_MINIPORT_CODE, CSMI_CC_GET_RAID_CONFIG));
}

TEST_F(SasRaidTest, SetThatStopsAnsweringLosesItsDriveAndMembersGoLater)
{
    Adapter a = AddAdapter(0, 3);
    a.Csmi->SetRaid(1, 4);
    // A member the controller reports in an unknown state: status 1 (other).
    a.Csmi->RaidConfigs[0] = RaidSet(0, 2, 0, 0, {{0x100, "A", 0, 1}, {0x101, "B", 7, 1}});
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(2u, drives.size());
    EXPECT_EQ(1, drives[1].Status);
    a.Csmi->RaidConfigs.clear();
    drives = Drives();
    EXPECT_TRUE(Logical().empty());
    ASSERT_EQ(2u, drives.size());
    EXPECT_EQ(6, drives[0].Status);
    EXPECT_EQ(1, drives[1].Status);   // no lost form of its own, but missed all the same
    EXPECT_EQ(4, drives[1].ArrayRole);
    EXPECT_TRUE(Drives().empty());
}

TEST_F(SasRaidTest, NoRaidSupportStillNamesAndSweeps)
{
    Adapter a = AddAdapter(0, 3);
    a.AttachDrive(2, 0x72, Disk("N1"));
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(1u, drives.size());
    EXPECT_EQ("Port 2I Device 2", std::string(drives[0].LocationName));
    EXPECT_EQ(4, drives[0].ArrayRole);
    EXPECT_TRUE(Logical().empty());
}

TEST_F(SasRaidTest, VolumeGetsItsOsDisk)
{
    Adapter a = AddAdapter(1, 3);
    a.AttachDrive(0, 0x70, Disk("V0"));
    a.AttachDrive(1, 0x71, Disk("V1"));
    a.AttachDrive(2, 0x72, Disk("V2"));
    a.Csmi->SetRaid(2, 4);
    a.Csmi->RaidConfigs[0] = RaidSet(0, 1, 0, 0, {{0x71, "V1", 0, 1}, {0x70, "V0", 0, 1}, {0x72, "V2", 0, 2}});
    a.Csmi->RaidConfigs[1] = RaidSet(1, 1, 0, 0, {});
    SimInquiryDevice volume;
    volume.PathId = 0;
    volume.TargetId = 5;
    volume.Inquiry = MakeInquiry(0, false, "QZ", "IR Volume", "1.0");
    a.Port->Devices.push_back(volume);
    sim.AddPhysicalDrive(0, 0, 0, 5, 0);
    sim.AddPhysicalDrive(1, 1, 0, 5, 0);
    // The location of the volume names its first member, with a bay.
    std::vector<uint8_t> location(7 + 96, 0);
    location[5] = 1;
    PutU32(&location[7], 0x21);
    SimSasAddress(0x70, &location[11]);
    location[7 + 92] = 9;
    a.Csmi->Payloads[31] = location;
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    std::vector<SAS_LOGDRV_RECORD> logical = Logical();
    ASSERT_EQ(2u, logical.size());
    EXPECT_EQ("Disk 1", std::string(logical[0].OsDiskName));
    EXPECT_EQ("", std::string(logical[1].OsDiskName));
    ASSERT_EQ(3u, drives.size());
    EXPECT_EQ("Port 2I Bay 9", std::string(drives[0].LocationName));
    // A spare's address does not pick the logical drive; on this kind the unnamed logical drive
    // with the smallest first member takes the disk.
    SimSasAddress(0x72, &a.Csmi->Payloads[31][11]);
    logical = (Drives(), Logical());
    EXPECT_EQ("Disk 1", std::string(logical[0].OsDiskName));
    EXPECT_EQ(std::vector<std::string>{"\\\\.\\scsi1:"}, sim.OpenHandles());
}

} // namespace
