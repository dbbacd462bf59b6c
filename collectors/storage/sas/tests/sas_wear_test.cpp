// Solid-state drives on the SAS adapters: media type, the wear log and the wear status made from
// it, through SCSI for SAS drives and through STP for SATA drives.
#include "sas_fabric.h"

#include <cstring>

using namespace sastest;

namespace {

std::vector<uint8_t> WearLog(uint16_t hours, uint16_t used, bool limit, const char *version = "QZ03")
{
    std::vector<uint8_t> log(512, 0);
    log[14] = limit ? 0x08 : 0;
    log[18] = static_cast<uint8_t>(hours >> 8);
    log[19] = static_cast<uint8_t>(hours);
    log[26] = static_cast<uint8_t>(used >> 8);
    log[27] = static_cast<uint8_t>(used);
    std::memcpy(&log[64], version, 4);
    return log;
}

class SasWearTest : public SasFabricTest {
protected:
    std::shared_ptr<SimScsiDisk> Ssd(uint8_t kind)
    {
        adapter = AddAdapter(0, kind);
        auto disk = Disk("SSD1");
        disk->Rpm = 1;
        disk->LogPages = {0x00, 0x0D, 0x11, 0x2F, 0x36};
        adapter.AttachDrive(0, 0x90, disk);
        return disk;
    }
    Adapter adapter;
};

TEST_F(SasWearTest, EstimateFromTheWearLog)
{
    constexpr uint32_t NA = 0xFFFFFFFF;
    struct {
        const char *name;
        uint16_t hours, used;
        bool limit;
        const char *version;
        uint8_t wear;
        uint32_t p, u, t;
        uint8_t status;
    } cases[] = {
        {"quarter used", 10000, 2500, false, "QZ03", 2, 10000, 2500, 30000, 2},
        {"99 percent", 10000, 9900, false, "QZ03", 5, 10000, 9900, 101, 2},
        {"used up without the limit flag", 10000, 10000, false, "QZ03", 5, 10000, 10000, 0, 2},
        {"used up with the limit flag", 10000, 10000, true, "QZ04", 6, 10000, 10000, 0, 10},
        {"hours out of range", 0xFFFF, 100, false, "QZ03", 1, NA, NA, NA, 2},
        {"old log version", 10000, 2500, false, "QZ02", 1, NA, NA, NA, 2},
        {"56 days left", 1000, 9500, false, "QZ03", 4, 1000, 9500, 52, 2},
    };
    for (const auto &c : cases) {
        SetUp();
        auto disk = Ssd(9);
        disk->WearLog = WearLog(c.hours, c.used, c.limit, c.version);
        std::vector<SAS_PHYDRV_RECORD> drives = Drives();
        ASSERT_EQ(1u, drives.size()) << c.name;
        const SAS_PHYDRV_RECORD &d = drives[0];
        EXPECT_EQ(3, d.MediaType) << c.name;
        EXPECT_EQ(5, d.RotationClass) << c.name;
        EXPECT_EQ(1, d.HasWearLog) << c.name;
        EXPECT_EQ(c.wear, d.WearStatus) << c.name;
        EXPECT_EQ(c.p, d.PowerOnHours) << c.name;
        EXPECT_EQ(c.u, d.EnduranceUsed) << c.name;
        EXPECT_EQ(c.t, d.RemainingHours) << c.name;
        EXPECT_EQ(c.status, d.Status) << c.name;
        EXPECT_EQ(SasDriveCondition(c.status), d.Condition) << c.name;
        SasResetForTest();
    }
}

TEST_F(SasWearTest, OutOfRangeOnceStaysNotAvailable)
{
    auto disk = Ssd(10);
    disk->WearLog = WearLog(0xFFFF, 100, false);
    ASSERT_EQ(1, Drives()[0].WearStatus);
    disk->WearLog = WearLog(10000, 2500, false);
    SAS_PHYDRV_RECORD d = Drives()[0];
    EXPECT_EQ(1, d.WearStatus);
    EXPECT_EQ(1, d.WearOutOfRange);
    EXPECT_EQ(30000u, d.RemainingHours);
}

TEST_F(SasWearTest, SsdOnAnAdapterWithoutWearSupportGetsNoEstimate)
{
    for (uint8_t kind : {2, 3, 8}) {
        SetUp();
        auto disk = Ssd(kind);
        disk->WearLog = WearLog(10000, 2500, false);
        SAS_PHYDRV_RECORD d = Drives()[0];
        EXPECT_EQ(3, d.MediaType) << int(kind);
        EXPECT_EQ(5, d.RotationClass) << int(kind);
        EXPECT_EQ(1, d.WearStatus) << int(kind);
        EXPECT_EQ(0xFFFFFFFFu, d.PowerOnHours) << int(kind);
        EXPECT_EQ(3u, disk->CountCommands(0x4D)) << int(kind);   // pages, IE, temperature: no wear log
        SasResetForTest();
    }
}

TEST_F(SasWearTest, SpinningDriveAndFailedPageList)
{
    adapter = AddAdapter(0, 9);
    auto spinning = Disk("HDD1");
    auto refusing = Disk("HDD2");
    refusing->Fail[0x4D00] = true;
    refusing->Temperature = 44;
    adapter.AttachDrive(0, 0x90, spinning);
    adapter.AttachDrive(1, 0x91, refusing);
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(2u, drives.size());
    EXPECT_EQ(2, drives[0].MediaType);
    EXPECT_EQ(3, drives[0].RotationClass);
    EXPECT_EQ(1, drives[0].WearStatus);
    EXPECT_EQ(30u, drives[0].CurrentTemperature);
    EXPECT_EQ(65u, drives[0].ReferenceTemperature);
    EXPECT_EQ(1, drives[1].MediaType);
    EXPECT_EQ(1, drives[1].WearStatus);
    // The temperatures are read again after the failed step.
    EXPECT_EQ(44u, drives[1].CurrentTemperature);
    // Media type 1 is asked again on the next pass.
    refusing->Fail.clear();
    EXPECT_EQ(2, Drives()[1].MediaType);
}

TEST_F(SasWearTest, SataSsdThroughStp)
{
    adapter = AddAdapter(0, 11);
    auto ata = std::make_shared<SimAtaDisk>();
    ata->SetIdentity("SIM SATA SSD", "SATASSD1", "FW01", 2097152);
    ata->SetWord(217, 1);
    std::vector<uint8_t> directory(512, 0);
    directory[0] = 1;
    directory[364] = 1;
    ata->Logs[{0x00, 0}] = directory;
    ata->Logs[{0xB6, 0}] = WearLog(10000, 2500, false);
    adapter.AttachDrive(3, 0xA0, std::make_shared<SimSataBehindSas>(ata), 1);
    SAS_PHYDRV_RECORD d = Drives()[0];
    EXPECT_EQ(3, d.DriveType);
    EXPECT_EQ(3, d.MediaType);
    EXPECT_EQ(5, d.RotationClass);
    EXPECT_EQ(1, d.HasWearLog);
    EXPECT_EQ(2, d.WearStatus);
    EXPECT_EQ(30000u, d.RemainingHours);
    EXPECT_EQ(1024u, d.CapacityMiB);
    // Without the wear log in the directory: no estimate.
    SetUp();
    adapter = AddAdapter(0, 11);
    directory[364] = 0;
    ata->Logs[{0x00, 0}] = directory;
    adapter.AttachDrive(3, 0xA0, std::make_shared<SimSataBehindSas>(ata), 1);
    d = Drives()[0];
    EXPECT_EQ(3, d.MediaType);
    EXPECT_EQ(0, d.HasWearLog);
    EXPECT_EQ(1, d.WearStatus);
}

} // namespace
