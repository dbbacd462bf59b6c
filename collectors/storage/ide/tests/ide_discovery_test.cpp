#include "ide_discovery.h"
#include "sim_ata_disk.h"
#include "sim_xide_raid.h"
#include "storagesim.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::shared_ptr<SimAtaDisk> AtaDisk(const char *serial, bool sata = false)
{
    auto disk = std::make_shared<SimAtaDisk>();
    disk->SetIdentity("QZ DISK", serial, "F1", 1953525168);
    if (sata)
        disk->SetWord(76, 0x0006);
    return disk;
}

class IdeDiscoveryTest : public testing::Test {
protected:
    void TearDown() override
    {
        m_State.Controllers.clear();
        EXPECT_TRUE(m_Sim.OpenHandles().empty()) << m_Sim.OpenHandles().front();
        EXPECT_EQ(m_Sim.DoubleCloses(), 0u);
        EXPECT_EQ(m_Sim.UnknownHandleUses(), 0u);
    }
    IDE_CONTROLLER_NODE &Controller(size_t i) { return *m_State.Controllers.at(i); }

    StorageSim m_Sim;
    StorageSimScope m_Scope{m_Sim};
    IDE_STATE m_State;
    IDE_IDENTIFICATION_SLOTS m_Slots;
};

TEST_F(IdeDiscoveryTest, AtapiPortsPairIntoControllers)
{
    m_Sim.AddScsiPort(0, "atapi");
    m_Sim.AddScsiPort(1, "ATAPI");
    m_Sim.AddScsiPort(2, "Atapi");
    m_Sim.AddScsiPort(3, "csa64xx");
    m_Sim.AddScsiPort(5, "iaStorB")->BusType = 11;   // SATA bus type wins over the table
    ASSERT_EQ(IdeScanControllers(&m_State), 0);
    ASSERT_EQ(m_State.Controllers.size(), 4u);
    struct Expect {
        int32_t type;
        uint8_t primary, secondary;
        const char *name;
    } expected[] = {
        {IDE_TYPE_ATAPI, 0, 1, "Standard IDE Controller"},
        {IDE_TYPE_ATAPI, 2, 255, "Standard IDE Controller"},
        {IDE_TYPE_MIRTOL, 3, 255, "Mirtol ATA/100 IDE Controller"},
        {IDE_TYPE_BUS, 5, 255, "Standard IDE Controller"},
    };
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Controller(i).Type, expected[i].type);
        EXPECT_EQ(Controller(i).PrimaryPort, expected[i].primary);
        EXPECT_EQ(Controller(i).SecondaryPort, expected[i].secondary);
        EXPECT_STREQ(Controller(i).Record.Name, expected[i].name);
        EXPECT_EQ(Controller(i).Record.ControllerIndex, i);
        EXPECT_EQ(Controller(i).Record.Condition, 1);
        EXPECT_EQ(Controller(i).Record.ControllerStatus, 2);
    }
    // No PCI function behind the port's driver: 255 each.
    EXPECT_STREQ(Controller(3).Record.PciLocation, "0000:FF:FF.FF");
}

TEST_F(IdeDiscoveryTest, BusPortGetsItsPciLocation)
{
    m_Sim.AddScsiPort(0, "storahci")->BusType = 11;
    m_Sim.AddPciDevice({"PCI\\VEN_8086&DEV_2922\\3&1", "PCI bus 0, device 31, function 2", 0, "storahci", -1});
    ASSERT_EQ(IdeScanControllers(&m_State), 0);
    ASSERT_EQ(m_State.Controllers.size(), 1u);
    EXPECT_STREQ(Controller(0).Record.PciLocation, "0000:00:1F.2");
}

TEST_F(IdeDiscoveryTest, DisksOnPrimaryAndSecondaryPorts)
{
    m_Sim.AddScsiPort(0, "atapi");
    m_Sim.AddScsiPort(1, "atapi");
    m_Sim.AddPhysicalDrive(0, 0, 0, 0, 0)->Disk = AtaDisk("A");
    m_Sim.AddPhysicalDrive(1, 1, 0, 1, 0)->Disk = AtaDisk("B");
    m_Sim.AddPhysicalDrive(2, 7, 0, 0, 0)->Disk = AtaDisk("C");   // a port that is no controller
    ASSERT_EQ(IdeScanControllers(&m_State), 0);
    ASSERT_EQ(IdeScanDisks(&m_State), 0);
    ASSERT_EQ(Controller(0).Disks.size(), 2u);
    const IDE_DISK_RECORD &a = Controller(0).Disks[0]->Record;
    const IDE_DISK_RECORD &b = Controller(0).Disks[1]->Record;
    EXPECT_STREQ(a.Serial, "A");
    EXPECT_EQ(a.Channel, 2);
    EXPECT_EQ(a.ChannelPosition, 2);
    EXPECT_STREQ(b.Serial, "B");
    EXPECT_EQ(b.Channel, 3);
    EXPECT_EQ(b.ChannelPosition, 3);
    EXPECT_STREQ(b.DiskName, "Disk 1");
    EXPECT_EQ(b.DiskIndex, 1);
}

TEST_F(IdeDiscoveryTest, AtapiDevicesAndIdentificationSlots)
{
    auto primary = m_Sim.AddScsiPort(0, "atapi");
    auto secondary = m_Sim.AddScsiPort(1, "atapi");
    primary->Devices.push_back({0, 0, 0, 0, 1, MakeInquiry(0, false, "QZ", "HARD DISK", "1.0")});      // a disk: skipped
    primary->Devices.push_back({0, 0, 1, 0, 1, MakeInquiry(0, true, "QZ", "ZIP 250", "4.1")});         // removable
    secondary->Devices.push_back({0, 0, 1, 0, 1, MakeInquiry(5, true, "QZ", "DVD-ROM A", "1.00")});
    secondary->Devices.push_back({0, 0, 1, 0, 1, MakeInquiry(5, true, "QZ", "DVD-ROM B", "2.00")});    // same position
    secondary->Devices.push_back({0, 0, 0, 0, 1, MakeInquiry(5, true, "QZ", "CD-RW", "3.00")});
    secondary->Devices.push_back({0, 0, 0, 1, 1, MakeInquiry(7, true, "QZ", "CD-RW", "3.00")});         // LUN 1 optical
    ASSERT_EQ(IdeScanControllers(&m_State), 0);
    ASSERT_EQ(IdeScanAtapi(&m_State, &m_Slots), 0);
    auto &atapi = Controller(0).Atapi;
    ASSERT_EQ(atapi.size(), 4u);
    EXPECT_STREQ(atapi[0]->Record.Product, "QZ ZIP 250         ");
    EXPECT_EQ(atapi[0]->Record.Kind, 3);
    EXPECT_EQ(atapi[0]->Record.DeviceType, 2);
    EXPECT_EQ(atapi[0]->Record.Channel, 2);
    EXPECT_EQ(atapi[0]->Record.Position, 3);
    EXPECT_EQ(atapi[1]->Record.DeviceType, 7);
    EXPECT_EQ(atapi[1]->Record.Channel, 3);
    EXPECT_STREQ(atapi[1]->Record.Revision, "1.00");
    EXPECT_EQ(atapi[3]->Record.Kind, 2);   // the CD-RW with an optical LUN 1
    EXPECT_EQ(atapi[3]->Record.DeviceIndex, 3);
    // Secondary target 1 fills slot 3, the later drive's; the kind-2 drive fills none.
    EXPECT_TRUE(m_Slots.Present[3]);
    EXPECT_EQ(std::string(m_Slots.Records[3].Product).substr(0, 12), "QZ DVD-ROM B");
    EXPECT_EQ(m_Slots.Records[3].Position, 3u);
    EXPECT_FALSE(m_Slots.Present[0] || m_Slots.Present[1] || m_Slots.Present[2]);
}

TEST_F(IdeDiscoveryTest, CsmiControllerAndItsDisks)
{
    auto port = m_Sim.AddScsiPort(2, "iaStorE");
    port->Csmi = std::make_shared<SimCsmiController>();
    port->Csmi->SetConfig(IDE_BOARD_EMBEDDED_SATA_2, 3, 0, 31, 2, "SN-42", {1, 2, 3, 4}, {0, 0, 0, 0});
    m_Sim.AddPciDevice({"PCI\\VEN_8086&DEV_2822\\3&1", "PCI bus 0, device 31, function 2", 9, "iaStorE", -1});
    SimCsmiController::Phy phy;
    std::vector<SimCsmiController::Phy> phys(3, phy);
    const uint8_t address[8] = {0x50, 1, 2, 3, 4, 5, 6, 7};
    phys[1].AttachedDeviceType = 0x10;
    std::memcpy(phys[1].AttachedSasAddress, address, 8);
    port->Csmi->SetPhys(phys);
    auto disk = AtaDisk("SATA1", true);
    port->Csmi->Attach(1, address, disk->StpTarget());
    m_Sim.AddPhysicalDrive(0, 2, 0, 0, 0);
    ASSERT_EQ(IdeScanControllers(&m_State), 0);
    ASSERT_EQ(IdeScanDisks(&m_State), 0);
    IDE_CONTROLLER_NODE &controller = Controller(0);
    EXPECT_STREQ(controller.Record.Name, "Embedded SATA Controller #2");
    EXPECT_STREQ(controller.Record.Version, "1.2.3.4");
    EXPECT_STREQ(controller.Record.SerialNumber, "SN-42");
    EXPECT_STREQ(controller.Record.PciLocation, "0000:00:1F.2");
    EXPECT_EQ(controller.Record.SlotNumber, 9);
    ASSERT_EQ(controller.Disks.size(), 1u);
    EXPECT_STREQ(controller.Disks[0]->Record.Serial, "SATA1");
    EXPECT_EQ(controller.Disks[0]->Record.ChannelPosition, 5);
    ASSERT_EQ(IdeScanAtapi(&m_State, &m_Slots), 0);   // CSMI controllers are not scanned for ATAPI
    EXPECT_TRUE(controller.Atapi.empty());
}

TEST_F(IdeDiscoveryTest, RaidControllerAndItsDisks)
{
    m_Sim.AddScsiPort(4, "MegaIDE");
    auto raid = std::make_shared<SimXideRaid>();
    raid->BoardId = IDE_BOARD_IDE_RAID_CSB6;
    raid->Bus = 2, raid->Device = 3, raid->Function = 0;
    raid->Disks[0] = AtaDisk("R0");
    raid->Disks[3] = AtaDisk("R3");
    raid->Disks[3]->Exceeded = true;
    m_Sim.AddPhysicalDrive(0, 4, 0, 0, 0)->Disk = raid;
    m_Sim.AddPhysicalDrive(1, 4, 0, 1, 0)->Disk = raid;   // the same controller: scanned once
    ASSERT_EQ(IdeScanControllers(&m_State), 0);
    ASSERT_EQ(IdeScanDisks(&m_State), 0);
    IDE_CONTROLLER_NODE &controller = Controller(0);
    EXPECT_STREQ(controller.Record.Name, "CSB-6 Ultra ATA-100 IDE RAID Controller");
    EXPECT_STREQ(controller.Record.PciLocation, "0000:02:03.0");
    EXPECT_EQ(controller.Record.SlotNumber, -1);   // no PCI device there
    ASSERT_EQ(controller.Disks.size(), 2u);
    EXPECT_STREQ(controller.Disks[0]->Record.Serial, "R0");
    EXPECT_EQ(controller.Disks[0]->Record.Channel, 2);
    EXPECT_EQ(controller.Disks[0]->Record.Status, IDE_DISK_OK);
    EXPECT_STREQ(controller.Disks[1]->Record.Serial, "R3");
    EXPECT_EQ(controller.Disks[1]->Record.Channel, 3);         // position 3 / 2 + 2
    EXPECT_EQ(controller.Disks[1]->Record.ChannelPosition, 3);
    EXPECT_EQ(controller.Disks[1]->Record.Status, IDE_DISK_THRESHOLD);
    EXPECT_EQ(std::count(raid->Codes.begin(), raid->Codes.end(), 17u), 1);
}

// An IDE RAID controller's port that reports one device among its inquiry data; the controller
// as the ATAPI scan leaves it, and the addresses its requests went to.
struct DummyScan {
    std::string name, pciLocation;
    size_t atapi;
    int atapiType = -1, atapiPosition = -1;   // of the first ATAPI record, when there is one
    std::string atapiProduct;
    std::vector<std::array<uint8_t, 3>> addresses;
    size_t openHandles;
};

DummyScan ScanRaidPortWith(const SimInquiryDevice &entry)
{
    StorageSim sim;
    StorageSimScope scope(sim);
    auto port = sim.AddScsiPort(4, "MegaIDE");
    auto raid = std::make_shared<SimXideRaid>();
    raid->BoardId = IDE_BOARD_IDE_RAID_CSB6;
    raid->Bus = 2, raid->Device = 3, raid->Function = 0;
    port->PassThrough = raid;
    port->Devices.push_back(entry);
    IDE_STATE state;
    IDE_IDENTIFICATION_SLOTS slots;
    EXPECT_EQ(IdeScanControllers(&state), 0);
    EXPECT_EQ(IdeScanAtapi(&state, &slots), 0);
    DummyScan scan;
    const IDE_CONTROLLER_NODE &controller = *state.Controllers.at(0);
    scan.name = controller.Record.Name;
    scan.pciLocation = controller.Record.PciLocation;
    scan.atapi = controller.Atapi.size();
    if (!controller.Atapi.empty()) {
        const IDE_ATAPI_RECORD &record = controller.Atapi.front()->Record;
        scan.atapiType = record.DeviceType;
        scan.atapiPosition = record.Position;
        scan.atapiProduct = record.Product;
    }
    scan.addresses = port->PassThroughAddresses;
    EXPECT_EQ(controller.Device, nullptr);   // the stand-in's record is the scan's own
    state.Controllers.clear();
    scan.openHandles = sim.OpenHandles().size();
    return scan;
}

// The controller known only through the stand-in device its miniport reports at (target, LUN).
DummyScan ScanWithDummyAt(uint8_t target, uint8_t lun)
{
    return ScanRaidPortWith({0, 0, target, lun, 1, MakeInquiry(0x1F, false, "  RAID  ", " DummyDevice", "1")});
}

TEST(IdeRaidDummyDevice, NamesItsControllerAtAnyTargetAndLun)
{
    const struct {
        uint8_t target, lun;
    } cases[] = {{2, 0}, {5, 0}, {15, 0}, {0, 1}, {3, 7}};
    for (const auto &c : cases) {
        const DummyScan scan = ScanWithDummyAt(c.target, c.lun);
        EXPECT_EQ("CSB-6 Ultra ATA-100 IDE RAID Controller", scan.name) << int(c.target) << ":" << int(c.lun);
        EXPECT_EQ("0000:02:03.0", scan.pciLocation) << int(c.target) << ":" << int(c.lun);
        EXPECT_EQ((std::vector<std::array<uint8_t, 3>>{{0, c.target, c.lun}}), scan.addresses);
        EXPECT_EQ(0u, scan.atapi);
        EXPECT_EQ(0u, scan.openHandles);
    }
}

// Where an ATAPI device may sit (LUN 0, target 0 or 1) the stand-in is listed as one by its type
// as well as naming its controller.
TEST(IdeRaidDummyDevice, AtAnAtapiAddressItIsAlsoListedAsAnAtapiDevice)
{
    for (uint8_t target : {0, 1}) {
        const DummyScan scan = ScanWithDummyAt(target, 0);
        EXPECT_EQ("CSB-6 Ultra ATA-100 IDE RAID Controller", scan.name) << int(target);
        EXPECT_EQ(1u, scan.addresses.size()) << int(target);
        ASSERT_EQ(1u, scan.atapi) << int(target);
        EXPECT_EQ(0x1F + 2, scan.atapiType) << int(target);
        EXPECT_EQ(target + 2, scan.atapiPosition) << int(target);
        EXPECT_NE(std::string::npos, scan.atapiProduct.find("RAID")) << scan.atapiProduct;
        EXPECT_NE(std::string::npos, scan.atapiProduct.find("DummyDevice")) << scan.atapiProduct;
    }
}

// Beside the stand-in, a device is listed only at LUN 0 of target 0 or 1 and only when it is no
// fixed disk; texts like the stand-in's on another type, or another text on its type, are no
// stand-in and send the controller no request.
TEST(IdeRaidDummyDevice, AtapiDevicesKeepTheirAddressesAndTheStandInItsTexts)
{
    const struct {
        const char *name;
        uint8_t target, lun, type;
        bool removable;
        const char *vendor, *product;
        size_t atapi, requests;
    } cases[] = {
        {"optical drive, target 0", 0, 0, 5, true, "QZ", "DVD-ROM", 1, 0},
        {"optical drive, target 1", 1, 0, 5, true, "QZ", "DVD-ROM", 1, 0},
        {"optical drive, target 2", 2, 0, 5, true, "QZ", "DVD-ROM", 0, 0},
        {"optical drive, LUN 1", 0, 1, 5, true, "QZ", "DVD-ROM", 0, 0},
        {"removable disk", 1, 0, 0, true, "QZ", "ZIP 250", 1, 0},
        {"fixed disk", 0, 0, 0, false, "QZ", "HARD DISK", 0, 0},
        {"unknown type, another product", 0, 0, 0x1F, false, "  RAID  ", " OtherDevice", 1, 0},
        {"unknown type, another product, target 5", 5, 0, 0x1F, false, "  RAID  ", " OtherDevice", 0, 0},
        {"unknown type, another vendor, target 5", 5, 0, 0x1F, false, "RAID", " DummyDevice", 0, 0},
        {"the stand-in's texts on a processor", 0, 0, 3, false, "  RAID  ", " DummyDevice", 1, 0},
        {"the stand-in's texts on a processor, target 5", 5, 0, 3, false, "  RAID  ", " DummyDevice", 0, 0},
        {"the stand-in, target 5", 5, 0, 0x1F, false, "  RAID  ", " DummyDevice", 0, 1},
        {"the stand-in, target 1", 1, 0, 0x1F, false, "  RAID  ", " DummyDevice", 1, 1},
    };
    for (const auto &c : cases) {
        const DummyScan scan =
            ScanRaidPortWith({0, 0, c.target, c.lun, 1, MakeInquiry(c.type, c.removable, c.vendor, c.product, "1")});
        EXPECT_EQ(c.atapi, scan.atapi) << c.name;
        EXPECT_EQ(c.requests, scan.addresses.size()) << c.name;
        EXPECT_EQ(c.requests != 0 ? "CSB-6 Ultra ATA-100 IDE RAID Controller" : "Unknown IDE Controller", scan.name)
            << c.name;
        EXPECT_EQ(0u, scan.openHandles) << c.name;
    }
}

std::vector<uint8_t> RaidRom(const char *signature, const char *text)
{
    std::vector<uint8_t> rom(0x8000, 0);
    rom[0] = 0x55, rom[1] = 0xAA, rom[2] = 0x40;   // 32 KB
    std::memcpy(&rom[6], signature, std::strlen(signature));
    std::memcpy(&rom[0x1234], text, std::strlen(text));
    return rom;
}

TEST_F(IdeDiscoveryTest, RaidBiosVersionFromTheOptionRom)
{
    // A real option ROM first: it carries no RAID signature and is passed over.
    std::ifstream file("Z:\\usr\\share\\seabios\\vgabios-cirrus.bin", std::ios::binary);
    ASSERT_TRUE(file) << "the seabios package provides the option ROM";
    std::vector<uint8_t> vga((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GE(vga.size(), 512u);
    ASSERT_EQ(vga[0], 0x55);
    ASSERT_EQ(vga[1], 0xAA);
    m_Sim.SetPhysicalMemory(true);
    m_Sim.AddMemoryWindow(0xC0000, vga);
    char version[17] = {};
    EXPECT_NE(IdeFindRaidBiosVersion(sizeof version, version, IDE_BOARD_IDE_RAID_INTEGRATED), 0);
    EXPECT_STREQ(version, "");

    m_Sim.AddMemoryWindow(0xCC800, RaidRom("megaraid", "ide raid bios version 2.10.0517 built"));
    ASSERT_EQ(IdeFindRaidBiosVersion(sizeof version, version, IDE_BOARD_IDE_RAID_INTEGRATED), 0);
    EXPECT_STREQ(version, "2.10.0517 bui");   // 13 characters
    // The other boards look for another signature.
    char other[17] = {};
    EXPECT_NE(IdeFindRaidBiosVersion(sizeof other, other, 0x1234), 0);
    m_Sim.AddMemoryWindow(0xD0000, RaidRom("HyperDisk", "Integrated Ultra ATA-100 Dual Channel IDE Controller\n\r"
                                                        "(C)AMI, USA Version 1.02"));
    ASSERT_EQ(IdeFindRaidBiosVersion(sizeof other, other, 0x1234), 0);
    EXPECT_STREQ(other, "1.02");
}

TEST_F(IdeDiscoveryTest, RaidBiosTextOnlyInsideTheRomSize)
{
    m_Sim.SetPhysicalMemory(true);
    std::vector<uint8_t> rom = RaidRom("MegaRAID", "IDE RAID BIOS Version 9.9");
    rom[2] = 8;   // 4 KB: the text at 0x1234 lies beyond
    m_Sim.AddMemoryWindow(0xC8000, rom);
    char version[17] = {};
    EXPECT_NE(IdeFindRaidBiosVersion(sizeof version, version, IDE_BOARD_IDE_RAID_CSB6), 0);
}

TEST_F(IdeDiscoveryTest, HotPlugOnABusController)
{
    m_Sim.AddScsiPort(0, "storahci")->BusType = 11;
    auto first = m_Sim.AddPhysicalDrive(0, 0, 0, 0, 0);
    first->Disk = AtaDisk("ONE", true);
    ASSERT_EQ(IdeScanControllers(&m_State), 0);
    ASSERT_EQ(IdeScanDisks(&m_State), 0);
    ASSERT_EQ(Controller(0).Disks.size(), 1u);

    m_Sim.AddPhysicalDrive(3, 0, 0, 1, 0)->Disk = AtaDisk("TWO", true);
    ASSERT_EQ(IdeRescanDisks(&m_State), 0);
    ASSERT_EQ(Controller(0).Disks.size(), 2u);
    EXPECT_STREQ(Controller(0).Disks[1]->Record.Serial, "TWO");
    EXPECT_EQ(Controller(0).Disks[1]->Record.DiskIndex, 1);
    EXPECT_STREQ(Controller(0).Disks[1]->Record.DiskName, "Disk 3");

    // The first disk goes: it keeps its record, with valid 0.
    m_Sim.AddFault({.What = SimFault::Kind::Win32Error, .Path = "\\\\.\\PhysicalDrive0", .Code = 0x7C088,
                    .Times = -1, .Error = 55});
    m_Sim.AddFault({.What = SimFault::Kind::OpenError, .Path = "\\\\.\\PhysicalDrive0", .Times = -1,
                    .Error = ERROR_FILE_NOT_FOUND});
    ASSERT_EQ(IdeRescanDisks(&m_State), 0);
    ASSERT_EQ(Controller(0).Disks.size(), 2u);
    EXPECT_EQ(Controller(0).Disks[0]->Record.Valid, 0);
    EXPECT_EQ(Controller(0).Disks[1]->Record.Valid, 1);
}

} // namespace
