#include "ide_discovery.h"
#include "ide_layer.h"
#include "sim_ata_disk.h"
#include "sim_xide_raid.h"
#include "storage_keys.h"
#include "storage_records.h"
#include "storagesim.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

std::shared_ptr<SimAtaDisk> AtaDisk(const char *serial, bool sata)
{
    auto disk = std::make_shared<SimAtaDisk>();
    disk->SetIdentity("QZ DISK", serial, "F1", 1953525168);
    if (sata)
        disk->SetWord(76, 0x0006);
    return disk;
}

std::vector<uint32_t> Numbers(int row, const char *prefix, size_t size, RecordNumberBase base = RecordNumberBase::Hex)
{
    std::vector<STORAGE_RECORD_VALUE> records;
    EXPECT_EQ(ReadStorageRecords(row, prefix, base, size, &records), ERROR_SUCCESS);
    std::vector<uint32_t> numbers;
    for (auto &record : records)
        numbers.push_back(record.Number);
    return numbers;
}

class IdeLayerTest : public testing::Test {
protected:
    void TearDown() override
    {
        IdeResetForTest();
        EXPECT_TRUE(m_Sim.OpenHandles().empty());
        EXPECT_EQ(m_Sim.DoubleCloses(), 0u);
    }
    StorageSim m_Sim;
    StorageSimScope m_Scope{m_Sim};
};

TEST_F(IdeLayerTest, NoControllerLeavesEmptyKeysAndTheRevisions)
{
    EXPECT_EQ(IdeRestartForTest(), 0);
    int count = 0;
    EXPECT_EQ(IdeGetControllers(nullptr, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(IdeGetDisks(nullptr, &count), 0);
    EXPECT_EQ(count, 0);
    for (int row : {STORAGE_ROW_IDE_DEVICE, STORAGE_ROW_IDE_CONTROLLER, STORAGE_ROW_IDE_ATADISK,
                    STORAGE_ROW_IDE_ATAPIDEVICE, STORAGE_ROW_IDE_LOGICALDRIVE}) {
        char path[160];
        std::snprintf(path, sizeof path, "SYSTEM\\%s", StorageKeyPath(row));
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key), ERROR_SUCCESS) << path;
        DWORD values = 99;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                         nullptr);
        EXPECT_EQ(values, 0u) << path;
        RegCloseKey(key);
    }
    BYTE revisions[8] = {};
    DWORD size = sizeof revisions;
    ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\QZTLMStorage\\Ide", "SoftwareRevisions", RRF_RT_REG_BINARY,
                           nullptr, revisions, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(revisions[0], 1);
    EXPECT_EQ(revisions[1], 11);
    EXPECT_EQ(revisions[2], 0);
}

TEST_F(IdeLayerTest, CountThenFill)
{
    m_Sim.AddScsiPort(0, "storahci")->BusType = 11;
    m_Sim.AddPhysicalDrive(0, 0, 0, 0, 0)->Disk = AtaDisk("ONE", true);
    m_Sim.AddPhysicalDrive(1, 0, 0, 1, 0)->Disk = AtaDisk("TWO", true);
    ASSERT_EQ(IdeRestartForTest(), 0);

    int count = 2;
    EXPECT_EQ(IdeGetDisks(nullptr, &count), ERROR_INVALID_DATA);
    EXPECT_EQ(IdeGetControllers(nullptr, &count), ERROR_INVALID_DATA);
    EXPECT_EQ(IdeGetDisks(nullptr, nullptr), ERROR_INVALID_DATA);
    count = -1;
    ASSERT_EQ(IdeGetDisks(nullptr, &count), 0);
    ASSERT_EQ(count, 2);

    // A disk arrives between the counting and the filling call: no more than counted is copied.
    m_Sim.AddPhysicalDrive(2, 0, 0, 2, 0)->Disk = AtaDisk("THREE", true);
    IDE_DISK_RECORD disks[3];
    std::memset(disks, 0xEE, sizeof disks);
    ASSERT_EQ(IdeGetDisks(disks, &count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(disks[0].Serial, "ONE");
    EXPECT_STREQ(disks[1].Serial, "TWO");
    EXPECT_EQ(disks[1].ControllerType, IDE_TYPE_BUS);
    EXPECT_EQ(disks[2].Valid, 0xEE);   // beyond the count: untouched

    // More room than disks: the rest reads zero, valid 0.
    count = 3;
    IDE_DISK_RECORD more[4];
    std::memset(more, 0xEE, sizeof more);
    m_Sim.AddFault({.What = SimFault::Kind::OpenError, .Path = "\\\\.\\PhysicalDrive2", .Times = -1});
    ASSERT_EQ(IdeGetDisks(more, &count), 0);
    EXPECT_STREQ(more[2].Serial, "THREE");
    EXPECT_EQ(Numbers(STORAGE_ROW_IDE_ATADISK, "AtaDisk", sizeof(IDE_DISK_RECORD)), (std::vector<uint32_t>{0, 1, 2}));

    IDE_CONTROLLER_RECORD controllers[2];
    count = 2;
    ASSERT_EQ(IdeGetControllers(controllers, &count), 0);
    EXPECT_STREQ(controllers[0].Name, "Standard IDE Controller");
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(controllers[1].Name, "");   // one controller: the second record reads zero
}

TEST_F(IdeLayerTest, FewerLogicalDrivesRecreateTheirKey)
{
    m_Sim.AddScsiPort(4, "MegaIDE");
    auto raid = std::make_shared<SimXideRaid>();
    for (int i = 0; i < 2; ++i)
        raid->Disks[i] = AtaDisk(("R" + std::to_string(i)).c_str(), false);
    SimXideRaid::Member m0{"QZ DISK", "R0", 0}, m1{"QZ DISK", "R1", 0};
    raid->MemberList = {m0, m1};
    raid->Drives[0] = {1, 64, 1 << 20, 0, {m0, m1}};
    raid->Drives[1] = {1, 64, 1 << 20, 0, {m0}};
    raid->Drives[3] = {1, 64, 1 << 20, 0, {m1}};
    m_Sim.AddPhysicalDrive(0, 4, 0, 0, 0)->Disk = raid;
    ASSERT_EQ(IdeRestartForTest(), 0);
    EXPECT_EQ(Numbers(STORAGE_ROW_IDE_LOGICALDRIVE, "LogicalDrive", sizeof(IDE_LOGICAL_DRIVE_RECORD)),
              (std::vector<uint32_t>{0, 1, 2}));
    raid->Drives.erase(3);
    int count = 0;
    ASSERT_EQ(IdeGetControllers(nullptr, &count), 0);
    EXPECT_EQ(Numbers(STORAGE_ROW_IDE_LOGICALDRIVE, "LogicalDrive", sizeof(IDE_LOGICAL_DRIVE_RECORD)),
              (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(Numbers(STORAGE_ROW_IDE_ATADISK, "AtaDisk", sizeof(IDE_DISK_RECORD)), (std::vector<uint32_t>{0, 1}));
}

TEST_F(IdeLayerTest, ConditionRollUp)
{
    m_Sim.AddScsiPort(4, "MegaIDE");
    auto raid = std::make_shared<SimXideRaid>();
    for (int i = 0; i < 3; ++i)
        raid->Disks[i] = AtaDisk(("R" + std::to_string(i)).c_str(), false);
    SimXideRaid::Member m0{"QZ DISK", "R0", 0}, m1{"QZ DISK", "R1", 0};
    raid->Drives[0] = {1, 64, 1 << 20, 0, {m0, m1}};
    m_Sim.AddPhysicalDrive(0, 4, 0, 0, 0)->Disk = raid;
    ASSERT_EQ(IdeRestartForTest(), 0);
    EXPECT_EQ(IdeOverallConditionForTest(), IDE_OK);
    auto condition = [] {
        IDE_CONTROLLER_RECORD record;
        int count = 1;
        EXPECT_EQ(IdeGetControllers(&record, &count), 0);
        return record.Condition;
    };
    // A disk past its threshold degrades the controller, a failed logical drive fails it.
    raid->Disks[2]->Exceeded = true;
    EXPECT_EQ(condition(), IDE_DEGRADED);
    EXPECT_EQ(IdeOverallConditionForTest(), IDE_DEGRADED);
    raid->Disks[2]->Exceeded = false;
    EXPECT_EQ(condition(), IDE_OK);
    raid->Drives[0].Status = 15;   // the logical drive failed
    EXPECT_EQ(condition(), IDE_FAILED);
    EXPECT_EQ(IdeOverallConditionForTest(), IDE_FAILED);
}

} // namespace
