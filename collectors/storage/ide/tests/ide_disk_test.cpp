#include "ide_state.h"
#include "sim_ata_disk.h"
#include "storagesim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr DWORD kSmartSend = 0x7C084;
constexpr DWORD kSmartReceive = 0x7C088;

class IdeDiskTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_Sim.AddScsiPort(0, "atapi");
        m_Disk = std::make_shared<SimAtaDisk>();
        m_Disk->SetIdentity("QZ DISK 36", "  S1234X", "FW01", 71132960);
        m_Disk->SetWord(53, 0x0006);
        m_Disk->SetWord(88, 0x203F);
        m_Controller.Type = IDE_TYPE_ATAPI;
        m_Controller.PrimaryPort = 0;
    }
    void TearDown() override
    {
        m_State.Controllers.clear();
        m_Controller.Disks.clear();
        EXPECT_TRUE(m_Sim.OpenHandles().empty()) << m_Sim.OpenHandles().front();
        EXPECT_EQ(m_Sim.DoubleCloses(), 0u);
        EXPECT_EQ(m_Sim.UnknownHandleUses(), 0u);
    }
    // A physical drive with the disk model at target on port 0.
    void AddDrive(unsigned number, uint8_t target, std::shared_ptr<SimAtaDisk> disk)
    {
        m_Sim.AddPhysicalDrive(number, 0, 0, target, 0)->Disk = std::move(disk);
    }
    int Create(unsigned number = 0)
    {
        IDE_DEVICE_RECORD *device = nullptr;
        int opened = IdeOpenPhysicalDrive(number, &device);
        EXPECT_EQ(opened, 0);
        return opened != 0 ? opened : IdeCreateDisk(device, &m_Controller, &m_State);
    }
    const IDE_DISK_RECORD &Disk(size_t i = 0) { return m_Controller.Disks.at(i)->Record; }

    StorageSim m_Sim;
    StorageSimScope m_Scope{m_Sim};
    std::shared_ptr<SimAtaDisk> m_Disk;
    IDE_CONTROLLER_NODE m_Controller;
    IDE_STATE m_State;
};

TEST_F(IdeDiskTest, OpensLearnTheAddressAndThePortType)
{
    AddDrive(0, 1, m_Disk);
    m_Sim.AddScsiPort(4);   // no IDE driver
    m_Sim.AddPhysicalDrive(1, 4, 0, 0, 0);
    IDE_DEVICE_RECORD *device = nullptr;
    ASSERT_EQ(IdeOpenPhysicalDrive(0, &device), 0);
    EXPECT_EQ(device->ControllerType, IDE_TYPE_ATAPI);
    EXPECT_EQ(device->TargetId, 1);
    EXPECT_EQ(device->DrivePosition, 1);
    EXPECT_EQ(device->DriveNumber, 0);
    EXPECT_EQ(IdeCloseDevice(device), 0);
    EXPECT_EQ(IdeCloseDevice(nullptr), ERROR_INVALID_HANDLE);

    IDE_DEVICE_RECORD *other = nullptr;
    EXPECT_EQ(IdeOpenPhysicalDrive(1, &other), -1);   // closed again
    EXPECT_NE(IdeOpenPhysicalDrive(7, &other), 0);    // no such drive
    EXPECT_EQ(IdeOpenPhysicalDriveAt(0, 3, &device), 0);
    EXPECT_EQ(device->DrivePosition, 3);
    IdeCloseDevice(device);
}

TEST_F(IdeDiskTest, PortTypeByBusTypeThenDriverTable)
{
    struct Case {
        unsigned port;
        const char *driver;
        uint8_t busType;
        int32_t type;
    } cases[] = {
        {1, "ATAPI", 1, IDE_TYPE_ATAPI},   {2, "zdtatapi", 1, IDE_TYPE_ATAPI}, {3, "csa64xx", 1, IDE_TYPE_MIRTOL},
        {5, "megaide", 1, IDE_TYPE_RAID},  {6, "LsiCsb6", 1, IDE_TYPE_RAID},   {7, "iaStorE", 1, IDE_TYPE_CSMI},
        {8, "iaStorB", 10, IDE_TYPE_CSMI}, {9, "iaStorB", 11, IDE_TYPE_BUS},   {10, "unknown", 3, IDE_TYPE_BUS},
        {11, "unknown", 1, IDE_TYPE_NONE}, {12, "atapiatapiatapi", 1, IDE_TYPE_NONE},
    };
    for (const Case &c : cases)
        m_Sim.AddScsiPort(c.port, c.driver)->BusType = c.busType;
    for (const Case &c : cases)
        EXPECT_EQ(IdePortType(c.port), c.type) << c.driver;
    EXPECT_EQ(IdePortType(40), IDE_TYPE_NONE);
}

TEST_F(IdeDiskTest, CreatedFromIdentify)
{
    AddDrive(0, 0, m_Disk);
    ASSERT_EQ(Create(), 0);
    ASSERT_EQ(m_Controller.Disks.size(), 1u);
    const IDE_DISK_RECORD &disk = Disk();
    EXPECT_STREQ(disk.Model, "QZ DISK 36");
    EXPECT_STREQ(disk.Serial, "S1234X");
    EXPECT_STREQ(disk.Firmware, "FW01");
    EXPECT_EQ(disk.CapacityMb, 34732u);
    EXPECT_EQ(disk.CapacityHigh, 8u);
    EXPECT_EQ(disk.CapacityLow, 1640261632u);
    EXPECT_EQ(disk.TransferMode, 15);
    EXPECT_EQ(disk.Attachment, 2);
    EXPECT_EQ(disk.Signalling, 1);
    EXPECT_EQ(disk.Channel, 2);
    EXPECT_EQ(disk.ChannelPosition, 2);
    EXPECT_STREQ(disk.DiskName, "Disk 0");
    EXPECT_EQ(disk.Media, 0);
    EXPECT_EQ(disk.Status, IDE_DISK_OK);
    EXPECT_EQ(disk.Condition, IDE_OK);
    EXPECT_EQ(disk.SmartState, 2);
    EXPECT_EQ(disk.Membership, 3);
    EXPECT_EQ(disk.RaidRole, 3);
    EXPECT_EQ(disk.Valid, 1);
    EXPECT_EQ(disk.WearLogSupport, 1);
    EXPECT_EQ(disk.PowerOnHours, 0xFFFFFFFFu);
    EXPECT_EQ(disk.RemainingHours, -1);
    EXPECT_EQ(disk.MaximumTemperature, 60u);   // no source gave one
    EXPECT_EQ(disk.ControllerType, IDE_TYPE_ATAPI);
    EXPECT_TRUE(m_Controller.Disks[0]->Answered);
}

TEST_F(IdeDiskTest, BytesOfThePhysicalDrivePath)
{
    AddDrive(0, 1, m_Disk);   // odd target: device register 0xB0
    ASSERT_EQ(Create(), 0);
    std::vector<SimAtaCommand> seen = m_Disk->Commands;
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].Command, 0xEC);
    EXPECT_EQ(seen[0].Device, 0xB0);
    EXPECT_EQ(seen[0].Path, "smart");
    bool status = false, statistics = false, directory = false;
    for (const SimAtaCommand &c : seen) {
        if (c.Command == 0xB0 && c.Features == 0xDA) {
            status = true;
            EXPECT_EQ(c.LbaMid, 0x4F);
            EXPECT_EQ(c.LbaHigh, 0xC2);
            EXPECT_EQ(c.Device, 0xB0);
            EXPECT_EQ(c.Path, "smart");
        }
        if (c.Command == 0x2F) {
            EXPECT_EQ(c.Path, "apt");
            statistics |= c.LbaLow == 4 && c.LbaMid == 5;
            directory |= c.LbaLow == 0 && c.LbaMid == 0;
        }
    }
    EXPECT_TRUE(status);
    EXPECT_TRUE(statistics);
    EXPECT_TRUE(directory);
    EXPECT_EQ(m_Sim.CountRequests(kSmartReceive), 2u);   // IDENTIFY, then READ DATA for the temperature
    EXPECT_EQ(m_Sim.CountRequests(kSmartSend), 1u);
}

TEST_F(IdeDiskTest, HealthAtCreation)
{
    struct Case {
        const char *name;
        bool fault, exceeded;
        DWORD error;            // of the status query; 0 none
        int result;
        bool kept;
        uint8_t status, condition, smartState;
        uint8_t valid;
    } cases[] = {
        {"ok", false, false, 0, 0, true, 2, 2, 2, 1},
        {"device fault", true, false, 0, 0, true, 4, 4, 2, 1},
        {"fault wins over not exceeded", true, true, 0, 0, true, 4, 4, 2, 1},
        {"exceeded", false, true, 0, 0, true, 3, 3, 2, 1},
        {"I/O device error", false, false, 1117, 1117, true, 4, 4, 1, 1},
        {"busy", false, false, 170, 170, true, 1, 1, 2, 1},
        {"gone", false, false, 55, 55, false, 0, 0, 0, 0},
        {"other error", false, false, ERROR_INVALID_FUNCTION, ERROR_INVALID_FUNCTION, false, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        StorageSim sim;
        StorageSimScope scope(sim);
        sim.AddScsiPort(0, "atapi");
        auto disk = std::make_shared<SimAtaDisk>();
        disk->SetIdentity("QZ", "S", "F", 1000000);
        disk->DeviceFault = c.fault;
        disk->Exceeded = c.exceeded;
        sim.AddPhysicalDrive(0, 0, 0, 0, 0)->Disk = disk;
        if (c.error != 0)
            sim.AddFault({.What = SimFault::Kind::Win32Error, .Code = kSmartSend, .Times = -1, .Error = c.error});
        IDE_CONTROLLER_NODE controller;
        controller.Type = IDE_TYPE_ATAPI;
        IDE_STATE state;
        IDE_DEVICE_RECORD *device = nullptr;
        ASSERT_EQ(IdeOpenPhysicalDrive(0, &device), 0);
        EXPECT_EQ(IdeCreateDisk(device, &controller, &state), c.result);
        ASSERT_EQ(controller.Disks.size(), c.kept ? 1u : 0u);
        if (c.kept) {
            const IDE_DISK_RECORD &record = controller.Disks[0]->Record;
            EXPECT_EQ(record.Status, c.status);
            EXPECT_EQ(record.Condition, c.condition);
            EXPECT_EQ(record.SmartState, c.smartState);
            EXPECT_EQ(record.SmartResult, static_cast<int32_t>(c.error));
            EXPECT_EQ(record.Valid, c.valid);
        }
        controller.Disks.clear();
        // The disk owns its record on every path: nothing left open, nothing closed twice.
        EXPECT_TRUE(sim.OpenHandles().empty());
        EXPECT_EQ(sim.DoubleCloses(), 0u);
    }
}

TEST_F(IdeDiskTest, LaterHealthRefreshes)
{
    AddDrive(0, 0, m_Disk);
    ASSERT_EQ(Create(), 0);
    IDE_DISK_NODE *disk = m_Controller.Disks[0].get();
    m_Controller.PollInterval = 120;

    m_Disk->Exceeded = true;
    EXPECT_EQ(IdeDiskHealth(&m_Controller, disk), 0);
    EXPECT_EQ(disk->Record.Status, IDE_DISK_THRESHOLD);
    m_Disk->Exceeded = false;

    // Busy: the status stays as it was.
    m_Sim.AddFault({.What = SimFault::Kind::Win32Error, .Code = kSmartSend, .Error = 170});
    EXPECT_EQ(IdeDiskHealth(&m_Controller, disk), 170);
    EXPECT_EQ(disk->Record.Status, IDE_DISK_THRESHOLD);
    EXPECT_EQ(disk->Record.SmartResult, 170);

    // Worn out stays worn out while the disk answers normally.
    disk->Record.Status = IDE_DISK_WORN_OUT;
    EXPECT_EQ(IdeDiskHealth(&m_Controller, disk), 0);
    EXPECT_EQ(disk->Record.Status, IDE_DISK_WORN_OUT);
    EXPECT_EQ(disk->Record.Condition, IDE_DEGRADED);

    // Gone: valid 0, status unchanged.
    m_Sim.AddFault({.What = SimFault::Kind::Win32Error, .Code = kSmartSend, .Error = 55});
    EXPECT_EQ(IdeDiskHealth(&m_Controller, disk), 55);
    EXPECT_EQ(disk->Record.Valid, 0);
    EXPECT_EQ(disk->Record.Status, IDE_DISK_WORN_OUT);

    m_Sim.AddFault({.What = SimFault::Kind::Win32Error, .Code = kSmartSend, .Error = ERROR_GEN_FAILURE});
    EXPECT_EQ(IdeDiskHealth(&m_Controller, disk), static_cast<int>(ERROR_GEN_FAILURE));
    EXPECT_EQ(disk->Record.Status, IDE_DISK_OTHER);
    EXPECT_EQ(disk->Record.Condition, IDE_OTHER);
}

// A SATA solid-state disk with a log directory listing the wear log.
std::shared_ptr<SimAtaDisk> SsdDisk(uint16_t hours, uint16_t used, bool wearLimit)
{
    auto disk = std::make_shared<SimAtaDisk>();
    disk->SetIdentity("QZ SSD", "SSD1", "F1", 1953525168);
    disk->SetWord(76, 0x0006);
    disk->SetWord(217, 1);
    std::vector<uint8_t> directory(512, 0);
    directory[0] = 1;
    directory[2 * 0xB6] = 1;
    disk->Logs[{0, 0}] = directory;
    std::vector<uint8_t> wear(512, 0);
    std::memcpy(&wear[64], "QZ03", 4);
    wear[18] = static_cast<uint8_t>(hours >> 8), wear[19] = static_cast<uint8_t>(hours);
    wear[26] = static_cast<uint8_t>(used >> 8), wear[27] = static_cast<uint8_t>(used);
    wear[14] = wearLimit ? 0x08 : 0;
    disk->Logs[{0xB6, 0}] = wear;
    return disk;
}

TEST_F(IdeDiskTest, SolidStateWear)
{
    struct Case {
        uint16_t hours, used;
        bool limit;
        uint32_t powerOn, endurance;
        int32_t remaining;
        uint8_t wearStatus, status, outOfRange;
    } cases[] = {
        {20000, 5000, false, 20000, 5000, 20000, 2, 2, 0},
        {20000, 9600, false, 20000, 9600, 833, 4, 2, 0},
        {20000, 9900, false, 20000, 9900, 202, 5, 2, 0},
        {20000, 10000, true, 20000, 10000, 0, 6, 5, 0},
        {20000, 0x8000, false, 0xFFFFFFFF, 0xFFFFFFFF, -1, 1, 2, 1},
        {0xFFFF, 100, false, 0xFFFFFFFF, 0xFFFFFFFF, -1, 1, 2, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.used));
        StorageSim sim;
        StorageSimScope scope(sim);
        sim.AddScsiPort(0, "atapi")->BusType = 11;
        sim.AddPhysicalDrive(2, 0, 0, 0, 0)->Disk = SsdDisk(c.hours, c.used, c.limit);
        IDE_CONTROLLER_NODE controller;
        controller.Type = IDE_TYPE_BUS;
        controller.PrimaryPort = 0;
        IDE_STATE state;
        IDE_DEVICE_RECORD *device = nullptr;
        ASSERT_EQ(IdeOpenPhysicalDrive(2, &device), 0);
        ASSERT_EQ(IdeCreateDisk(device, &controller, &state), 0);
        const IDE_DISK_RECORD &record = controller.Disks[0]->Record;
        EXPECT_EQ(record.Attachment, 3);
        EXPECT_EQ(record.Signalling, 3);
        EXPECT_EQ(record.Channel, 4);
        EXPECT_EQ(record.ChannelPosition, 4);   // disk index 0 + 4
        EXPECT_STREQ(record.DiskName, "Disk 2");
        EXPECT_EQ(record.Media, 3);
        EXPECT_EQ(record.WearLogSupport, 2);
        EXPECT_EQ(record.PowerOnHours, c.powerOn);
        EXPECT_EQ(record.EnduranceUsed, c.endurance);
        EXPECT_EQ(record.RemainingHours, c.remaining);
        EXPECT_EQ(record.WearStatus, c.wearStatus);
        EXPECT_EQ(record.Status, c.status);
        EXPECT_EQ(record.WearOutOfRange, c.outOfRange);
        EXPECT_EQ(record.CapacityHigh, 232u);   // 10^12 bytes
        EXPECT_EQ(record.CapacityLow, 3567587328u);
        controller.Disks.clear();
    }
}

TEST_F(IdeDiskTest, WearLogReadEveryHourOfRefreshes)
{
    auto disk = SsdDisk(20000, 5000, false);
    m_Sim.AddPhysicalDrive(0, 0, 0, 0, 0)->Disk = disk;
    ASSERT_EQ(Create(), 0);
    auto wearReads = [&] {
        size_t n = 0;
        for (const SimAtaCommand &c : disk->Commands)
            n += c.Command == 0x2F && c.LbaLow == 0xB6;
        return n;
    };
    EXPECT_EQ(wearReads(), 1u);   // at creation
    m_Controller.PollInterval = 120;
    for (int i = 0; i < 30; ++i)
        IdeDiskHealth(&m_Controller, m_Controller.Disks[0].get());
    EXPECT_EQ(wearReads(), 2u);   // once in 30 refreshes of 120 s
    m_Controller.PollInterval = 7200;   // capped at an hour: every refresh
    for (int i = 0; i < 3; ++i)
        IdeDiskHealth(&m_Controller, m_Controller.Disks[0].get());
    EXPECT_EQ(wearReads(), 5u);
}

TEST_F(IdeDiskTest, TemperatureSources)
{
    struct Case {
        const char *name;
        bool statistics, attribute, sct;
        uint32_t current, threshold, maximum, overLimit;
    } cases[] = {
        {"device statistics", true, true, true, 38, 70, 70, 75},
        {"attribute 0xC2", false, true, false, 41, 0, 60, 0},
        {"SCT gives the maximum", false, false, true, 0, 0, 65, 75},
        {"nothing", false, false, false, 0, 0, 60, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        StorageSim sim;
        StorageSimScope scope(sim);
        sim.AddScsiPort(0, "atapi");
        auto disk = std::make_shared<SimAtaDisk>();
        disk->SetIdentity("QZ", "S", "F", 1000000);
        if (c.statistics) {
            std::vector<uint8_t> page(512, 0);
            page[8] = 38, page[88] = 70;
            disk->Logs[{4, 5}] = page;
        }
        if (c.attribute)
            disk->SetAttribute(3, 0xC2, 41);
        if (c.sct) {
            disk->SctTable.assign(512, 0);
            disk->SctTable[6] = 65, disk->SctTable[7] = 75;
        }
        sim.AddPhysicalDrive(0, 0, 0, 0, 0)->Disk = disk;
        IDE_CONTROLLER_NODE controller;
        controller.Type = IDE_TYPE_ATAPI;
        IDE_STATE state;
        IDE_DEVICE_RECORD *device = nullptr;
        ASSERT_EQ(IdeOpenPhysicalDrive(0, &device), 0);
        ASSERT_EQ(IdeCreateDisk(device, &controller, &state), 0);
        const IDE_DISK_RECORD &record = controller.Disks[0]->Record;
        EXPECT_EQ(record.Temperature, c.current);
        EXPECT_EQ(record.TemperatureThreshold, c.threshold);
        EXPECT_EQ(record.MaximumTemperature, c.maximum);
        EXPECT_EQ(record.SctOverLimit, c.overLimit);
        controller.Disks.clear();
        // The SCT requests use handles of their own and close them.
        EXPECT_TRUE(sim.OpenHandles().empty());
    }
}

TEST_F(IdeDiskTest, SmartReplyCopiedOnlyAsFarAsReturned)
{
    AddDrive(0, 0, m_Disk);
    // The driver claims 4096 bytes but returns 100: the copy stops at the reply's end.
    std::vector<uint8_t> raw(100, 0);
    raw[1] = 0x10;   // size word 4096
    m_Sim.AddFault({.What = SimFault::Kind::RawReply, .Code = kSmartReceive, .Raw = raw});
    IDE_DEVICE_RECORD *device = nullptr;
    ASSERT_EQ(IdeOpenPhysicalDrive(0, &device), 0);
    uint8_t data[512];
    std::memset(data, 0xEE, sizeof data);
    EXPECT_EQ(IdeIdentify(device, data), 0);
    EXPECT_EQ(data[0], 0);
    EXPECT_EQ(data[83], 0);
    EXPECT_EQ(data[84], 0xEE);   // beyond the 84 data bytes returned: untouched
    // A size word of 0 is a failure.
    m_Sim.AddFault({.What = SimFault::Kind::RawReply, .Code = kSmartReceive, .Raw = std::vector<uint8_t>(528, 0)});
    EXPECT_EQ(IdeIdentify(device, data), -1);
    IdeCloseDevice(device);
}

TEST_F(IdeDiskTest, CsmiDiskThroughStp)
{
    auto port = m_Sim.AddScsiPort(3, "iaStorE");
    port->Csmi = std::make_shared<SimCsmiController>();
    const uint8_t address[8] = {0x50, 0, 0, 0, 0, 0, 0, 7};
    m_Disk->SetWord(76, 0x0002);
    m_Disk->SetAttribute(0, 9, 1234);
    m_Disk->SetAttribute(1, 0xC2, 36);
    m_Disk->SetThreshold(1, 0xC2, 68);
    port->Csmi->Attach(2, address, m_Disk->StpTarget());
    m_Controller.Type = IDE_TYPE_CSMI;
    m_Controller.PrimaryPort = 3;
    IDE_DEVICE_RECORD *device = nullptr;
    ASSERT_EQ(IdeOpenScsiPortDevice(3, 2, &device), 0);
    EXPECT_EQ(device->ControllerType, IDE_TYPE_CSMI);
    std::memcpy(device->SasAddress, address, 8);
    device->DriveNumber = 2;
    ASSERT_EQ(IdeCreateDisk(device, &m_Controller, &m_State), 0);
    const IDE_DISK_RECORD &disk = Disk();
    EXPECT_STREQ(disk.Model, "QZ DISK 36");
    EXPECT_EQ(disk.Attachment, 3);
    EXPECT_EQ(disk.Signalling, 2);
    EXPECT_EQ(disk.ChannelPosition, 6);   // PHY 2 + 4
    EXPECT_STREQ(disk.DiskName, "");
    EXPECT_EQ(disk.Status, IDE_DISK_OK);
    EXPECT_EQ(disk.PowerOnHours, 1234u);
    EXPECT_EQ(disk.Temperature, 36u);
    EXPECT_EQ(disk.TemperatureThreshold, 68u);
    EXPECT_EQ(disk.MaximumTemperature, 68u);
    EXPECT_EQ(disk.SmartResult, 0);
    for (const SimAtaCommand &c : m_Disk->Commands)
        EXPECT_EQ(c.Path, "stp");
    EXPECT_EQ(m_Disk->CountCommands(0xB0, 0xDA), 1u);

    m_Disk->DeviceFault = true;
    EXPECT_EQ(IdeDiskHealth(&m_Controller, m_Controller.Disks[0].get()), 0);
    EXPECT_EQ(Disk().Status, IDE_DISK_FAILED);
    m_Disk->DeviceFault = false;
    m_Disk->Exceeded = true;
    EXPECT_EQ(IdeDiskHealth(&m_Controller, m_Controller.Disks[0].get()), 0);
    EXPECT_EQ(Disk().Status, IDE_DISK_THRESHOLD);
}

TEST_F(IdeDiskTest, DiskIndexesNeverRepeat)
{
    AddDrive(0, 0, m_Disk);
    m_State.DiskIndexesUsed = 255;
    ASSERT_EQ(Create(), 0);
    EXPECT_EQ(Disk().DiskIndex, 255);
    // All 256 used and every disk answers: no disk is made.
    EXPECT_EQ(Create(), -1);
    EXPECT_EQ(m_Controller.Disks.size(), 1u);
    // A disk that no longer answers gives its index to the new one and leaves the list.
    auto controller = std::make_unique<IDE_CONTROLLER_NODE>();
    controller->Type = IDE_TYPE_ATAPI;
    auto gone = std::make_unique<IDE_DISK_NODE>();
    gone->Record.DiskIndex = 17;
    gone->Record.Valid = 0;
    controller->Disks.push_back(std::move(gone));
    IDE_CONTROLLER_NODE *other = controller.get();
    m_State.Controllers.push_back(std::move(controller));
    ASSERT_EQ(Create(), 0);
    EXPECT_TRUE(other->Disks.empty());
    ASSERT_EQ(m_Controller.Disks.size(), 2u);
    EXPECT_EQ(Disk(0).DiskIndex, 17);   // kept in index order
    EXPECT_EQ(Disk(1).DiskIndex, 255);
}

TEST_F(IdeDiskTest, RefillKeepsTheIndexAndTakesTheNewRecord)
{
    AddDrive(0, 0, m_Disk);
    ASSERT_EQ(Create(), 0);
    IDE_DISK_NODE *disk = m_Controller.Disks[0].get();
    disk->Record.Valid = 0;
    m_Disk->SetIdentity("QZ DISK 72", "NEW", "FW02", 143374738);
    IDE_DEVICE_RECORD *device = nullptr;
    ASSERT_EQ(IdeOpenPhysicalDrive(0, &device), 0);
    EXPECT_EQ(IdeRefillDisk(device, &m_Controller, disk), 0);
    EXPECT_EQ(disk->Device, device);
    EXPECT_EQ(disk->Record.DiskIndex, 0);
    EXPECT_EQ(disk->Record.Valid, 1);
    EXPECT_STREQ(disk->Record.Serial, "NEW");
    EXPECT_EQ((uint64_t{disk->Record.CapacityHigh} << 32) | disk->Record.CapacityLow, 72000000000ULL);
    EXPECT_EQ(m_Controller.Disks.size(), 1u);
}

} // namespace
