// The SAS discovery engine over simulated fabrics: adapters found and lost, the topology walk,
// and what the probe of a drive puts into its record.
#include "sas_fabric.h"

#include "byte_reader.h"
#include "storage_io.h"

#include <cstring>

using namespace sastest;

namespace {

class SasEngineTest : public SasFabricTest {};

TEST_F(SasEngineTest, NoAdapterExportsNothing)
{
    int32_t count = 0;
    EXPECT_EQ(0, SasGetPhysicalDriveList(nullptr, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(0, SasGetHbaList(nullptr, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(13, SasGetHbaList(nullptr, nullptr));
}

TEST_F(SasEngineTest, TwoAdaptersAreSummedAdapterByAdapterAndCutToTheBuffer)
{
    Adapter a = AddAdapter(3, 3);
    Adapter b = AddAdapter(1, 9);
    a.AttachDrive(0, 0x30, Disk("A0"));
    a.AttachDrive(1, 0x31, Disk("A1"));
    b.AttachDrive(4, 0x10, Disk("B0"));
    int32_t count = 0;
    ASSERT_EQ(0, SasGetPhysicalDriveList(nullptr, &count));
    ASSERT_EQ(3, count);
    std::vector<SAS_PHYDRV_RECORD> buffer(3);
    count = 2;
    ASSERT_EQ(0, SasGetPhysicalDriveList(buffer.data(), &count));
    EXPECT_EQ(2, count);
    // Port 1 comes first; the third slot was not written.
    EXPECT_EQ(1u, buffer[0].AdapterIndex);
    EXPECT_EQ("B0", Text(buffer[0].SerialNumber));
    EXPECT_EQ(3u, buffer[1].AdapterIndex);
    EXPECT_EQ("A0", Text(buffer[1].SerialNumber));
    EXPECT_EQ(0u, buffer[2].AdapterIndex);
    std::vector<SAS_HBA_RECORD> hbas = Hbas();
    ASSERT_EQ(2u, hbas.size());
    EXPECT_EQ(1u, hbas[0].AdapterIndex);
    EXPECT_EQ(9, hbas[0].ModelCode);
    EXPECT_EQ(3, hbas[1].ModelCode);
    EXPECT_EQ("1.2.3.4", Text(hbas[1].FirmwareVersion));
    EXPECT_EQ("5.6.7.8", Text(hbas[1].BiosVersion));
    EXPECT_EQ("HBA-SN", Text(hbas[1].SerialNumber));
    EXPECT_EQ("0000:00:00.0", Text(hbas[1].PciLocation));
    EXPECT_EQ(2, hbas[1].ControllerStatus);
    EXPECT_EQ(2, hbas[1].OverallCondition);
}

TEST_F(SasEngineTest, AdaptersByBoardId)
{
    struct {
        uint32_t board;
        int accepted;   // model code, 0: refused
    } cases[] = {{0x7A100031, 3}, {0x7A100034, 3}, {0x7A100050, 5}, {0x7A1000D0, 13},
                 {0x30001000, 2}, {0x30FF1000, 2}, {0x30001001, 0}, {0x31001000, 0}, {0x12345678, 0}};
    for (const auto &c : cases) {
        SasResetForTest();
        StorageSim local;
        StorageSimScope inner(local);
        auto port = local.AddScsiPort(0);
        port->Csmi = std::make_shared<SimCsmiController>();
        port->Csmi->SetConfig(c.board, 3, 0, 0, 0, "S", {1, 0, 0, 0}, {1, 0, 0, 0});
        port->Csmi->SetPhys({});
        std::vector<SAS_HBA_RECORD> hbas = Hbas();
        ASSERT_EQ(c.accepted ? 1u : 0u, hbas.size()) << std::hex << c.board;
        if (c.accepted)
            EXPECT_EQ(c.accepted, hbas[0].ModelCode);
        else
            EXPECT_EQ(0u, local.CountRequests(IOCTL_SCSI_MINIPORT_CODE, CSMI_CC_GET_PHY_INFO)) << std::hex << c.board;
        SasResetForTest();
        EXPECT_TRUE(local.OpenHandles().empty());
    }
}

TEST_F(SasEngineTest, LastPortFailingIsNoError)
{
    Adapter a = AddAdapter(0, 3);
    a.AttachDrive(0, 0x30, Disk("A0"));
    // The last port the walk tries is refused, and cannot be opened at all the next time.
    auto last = sim.AddScsiPort(255);
    last->Csmi = std::make_shared<SimCsmiController>();
    last->Csmi->SetConfig(0x12345678, 3, 0, 0, 0, "S", {}, {});
    int result = -5;
    EXPECT_EQ(1u, Drives(&result).size());
    EXPECT_EQ(0, result);
    sim.AddFault({SimFault::Kind::OpenError, "\\\\.\\Scsi255:", 0, 0, -1, ERROR_ACCESS_DENIED});
    EXPECT_EQ(1u, Drives(&result).size());
    EXPECT_EQ(0, result);
}

TEST_F(SasEngineTest, VanishedPortFreesItsDrivesAndCloses)
{
    Adapter a = AddAdapter(0, 3);
    Adapter b = AddAdapter(2, 3);
    a.AttachDrive(0, 0x30, Disk("A0"));
    b.AttachDrive(0, 0x40, Disk("B0"));
    ASSERT_EQ(2u, Drives().size());
    sim.AddFault({SimFault::Kind::OpenError, "\\\\.\\Scsi2:", 0, 0, -1, ERROR_FILE_NOT_FOUND});
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(1u, drives.size());
    EXPECT_EQ(0u, drives[0].AdapterIndex);
    EXPECT_EQ(1u, Hbas().size());
    EXPECT_EQ(std::vector<std::string>{"\\\\.\\scsi0:"}, sim.OpenHandles());
    EXPECT_EQ(0u, sim.DoubleCloses());
}

TEST_F(SasEngineTest, WidePortExpanderIsListedOnceAndItsDrivesProbedOnce)
{
    Adapter a = AddAdapter(0, 3);
    auto expander = Expander(0x100);
    auto d0 = Disk("E0");
    auto d1 = Disk("E1");
    expander->SetPhy(0, 1, 8, Address(0x200).data());
    expander->SetPhy(1, 0, 0, Address(0).data());
    expander->SetPhy(2, 1, 8, Address(0x201).data());
    a.AttachExpander({4, 5, 6, 7}, expander);
    a.Behind(4, 0x200, d0);
    a.Behind(4, 0x201, d1);
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(2u, drives.size());
    EXPECT_EQ(1u, s_SasDiscovery.First->Expanders->Id);
    EXPECT_EQ(nullptr, s_SasDiscovery.First->Expanders->Next);
    // One REPORT GENERAL and one DISCOVER per phy: the three other adapter phys add nothing.
    EXPECT_EQ(4u, expander->Requests);
    EXPECT_EQ(1u, d0->CountCommands(0x25));
    EXPECT_EQ(1, drives[0].BehindExpander);
    EXPECT_EQ(2u, drives[0].DriveIndex);   // the expander took id 1
    EXPECT_EQ("Port 2I Device 0", Text(drives[0].LocationName));
    EXPECT_EQ("Port 2I Device 2", Text(drives[1].LocationName));
}

TEST_F(SasEngineTest, LoopAndSelfAddressEndTheWalk)
{
    Adapter a = AddAdapter(0, 3);
    auto top = Expander(0x100);
    auto below = Expander(0x101);
    top->SetPhy(0, 2, 2, below->SasAddress);
    top->SetPhy(1, 1, 8, top->SasAddress);        // claims itself: ignored
    below->SetPhy(0, 2, 2, top->SasAddress);      // back up: a loop
    below->SetPhy(1, 1, 8, Address(0x300).data());
    a.AttachExpander({0}, top);
    a.Behind(0, 0x101, below);
    a.Behind(0, 0x300, Disk("L0"));
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(1u, drives.size());
    EXPECT_EQ("L0", Text(drives[0].SerialNumber));
    int expanders = 0;
    for (SAS_EXPANDER_RECORD *e = s_SasDiscovery.First->Expanders; e != nullptr; e = e->Next)
        ++expanders;
    EXPECT_EQ(2, expanders);
    // REPORT GENERAL and one DISCOVER per phy, once each.
    EXPECT_EQ(3u, top->Requests);
    EXPECT_EQ(3u, below->Requests);
}

TEST_F(SasEngineTest, KindFivePortsAndPlacement)
{
    Adapter a = AddAdapter(0, 5);
    a.AttachDrive(3, 0x33, Disk("P3"));
    a.AttachDrive(4, 0x34, Disk("P4"));
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(2u, drives.size());
    EXPECT_EQ("Port 2I Device 3", Text(drives[0].LocationName));
    EXPECT_EQ(2, drives[0].Placement);
    EXPECT_EQ("Port 1E Device 4", Text(drives[1].LocationName));
    EXPECT_EQ(3, drives[1].Placement);
    EXPECT_EQ(2, drives[0].HotPlugClass);
    EXPECT_EQ(2, drives[0].DriveType);
    EXPECT_EQ("QZ      SIM300          ", Text(drives[0].Model));
    EXPECT_EQ("A1B2", Text(drives[0].FirmwareRevision));
    EXPECT_EQ("5000C50000000033", Text(drives[0].SasAddress));
}

TEST_F(SasEngineTest, GenericAndConnectorKindsNameTheirPorts)
{
    Adapter generic = AddAdapter(0, 2);
    generic.AttachDrive(1, 0x51, Disk("G1"));
    Adapter connectors = AddAdapter(1, 9);
    connectors.Csmi->SetConnectorNames({"1I  ", "1I", "3E  "});
    connectors.AttachDrive(2, 0x62, Disk("C2"));
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(2u, drives.size());
    EXPECT_EQ(" Device 1", Text(drives[0].LocationName));
    EXPECT_EQ(1, drives[0].Placement);
    EXPECT_EQ(3, drives[0].HotPlugClass);
    EXPECT_EQ("Port 3E Device 2", Text(drives[1].LocationName));
    connectors.Csmi->Payloads.erase(30);
    EXPECT_EQ("Port ?? Device 2", Text(Drives()[1].LocationName));
}

TEST_F(SasEngineTest, ProbeValues)
{
    struct Case {
        const char *name;
        void (*setup)(SimScsiDisk &);
        uint32_t capacity;
        uint8_t rotation, ieState, ieResult, status;
    } cases[] = {
        {"plain", [](SimScsiDisk &) {}, 1024, 3, 3, 2, 2},
        {"capacity 16", [](SimScsiDisk &d) { d.LastLba = 0x1FFFFFFFFull; }, 4194304, 3, 3, 2, 2},
        {"4096-byte blocks", [](SimScsiDisk &d) { d.LastLba = 0x3FFFF; d.BlockLength = 4096; }, 1024, 3, 3, 2, 2},
        {"7200 rpm", [](SimScsiDisk &d) { d.Rpm = 7200; }, 1024, 2, 3, 2, 2},
        {"15000 rpm", [](SimScsiDisk &d) { d.Rpm = 15000; }, 1024, 4, 3, 2, 2},
        {"reporting disabled", [](SimScsiDisk &d) { d.IeDisabled = true; d.IeCode = 0x5D; }, 1024, 3, 2, 1, 2},
        {"failure predicted", [](SimScsiDisk &d) { d.IeCode = 0x5D; d.IeQualifier = 0x10; }, 1024, 3, 3, 4, 3},
        {"mode page refused", [](SimScsiDisk &d) { d.Fail[0x1A1C] = true; d.IeCode = 0x5D; }, 1024, 3, 1, 1, 2},
        {"no capacity", [](SimScsiDisk &d) { d.Fail[0x2500] = true; }, 0, 3, 3, 2, 5},
        {"no model", [](SimScsiDisk &d) { std::memset(&d.Inquiry[8], 0, 8); }, 1024, 3, 3, 2, 4},
    };
    for (const Case &c : cases) {
        SetUp();
        StorageSim local;
        StorageSimScope inner(local);
        Adapter a = AdapterOn(local, 0, 3);
        auto disk = Disk("X1");
        c.setup(*disk);
        a.AttachDrive(0, 0x70, disk);
        std::vector<SAS_PHYDRV_RECORD> drives = Drives();
        ASSERT_EQ(1u, drives.size()) << c.name;
        const SAS_PHYDRV_RECORD &d = drives[0];
        EXPECT_EQ(c.capacity, d.CapacityMiB) << c.name;
        EXPECT_EQ(c.rotation, d.RotationClass) << c.name;
        EXPECT_EQ(c.ieState, d.IeState) << c.name;
        EXPECT_EQ(c.ieResult, d.IeResult) << c.name;
        EXPECT_EQ(c.status, d.Status) << c.name;
        EXPECT_EQ(SasDriveCondition(c.status), d.Condition) << c.name;
        SasResetForTest();
    }
}

TEST_F(SasEngineTest, GrownDefectsKeepTheLastCountWhenTheReadFails)
{
    Adapter a = AddAdapter(0, 3);
    auto disk = Disk("D1");
    disk->DefectFormat = 5;
    disk->DefectListLength = 80;
    a.AttachDrive(0, 0x70, disk);
    EXPECT_EQ(10u, Drives()[0].GrownDefects);
    disk->Fail[0x3700] = true;
    EXPECT_EQ(10u, Drives()[0].GrownDefects);
}

TEST_F(SasEngineTest, MovedDriveKeepsItsIndex)
{
    Adapter a = AddAdapter(0, 3);
    auto disk = Disk("M1");
    a.AttachDrive(0, 0x70, Disk("OTHER"));
    a.AttachDrive(1, 0x71, disk);
    ASSERT_EQ(2u, Drives()[1].DriveIndex);
    a.Detach(1);
    a.AttachDrive(6, 0x71, disk);
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(2u, drives.size());
    EXPECT_EQ(2u, drives[1].DriveIndex);
    EXPECT_EQ("Port 1I Device 6", Text(drives[1].LocationName));
    EXPECT_EQ(2, drives[1].Status);
}

TEST_F(SasEngineTest, SataDriveIsKnownBySerialWhateverItsSpacesAndCase)
{
    Adapter a = AddAdapter(0, 3);
    auto ata = std::make_shared<SimAtaDisk>();
    ata->SetIdentity("SIM SATA 500", "  ab12cd34", "FW01", 1048576);
    auto sata = std::make_shared<SimSataBehindSas>(ata);
    a.AttachDrive(2, 0x80, sata, 1);
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(1u, drives.size());
    EXPECT_EQ(3, drives[0].DriveType);
    EXPECT_EQ(1, drives[0].RotationClass);
    EXPECT_EQ("ab12cd34", Text(drives[0].SerialNumber));
    EXPECT_EQ(512u, drives[0].CapacityMiB);
    EXPECT_EQ("ATA     SIM SATA 500    ", Text(drives[0].Model));
    // The adapter invents another address for it on another phy; its serial now comes in
    // upper case with other spaces.
    a.Detach(2);
    ata->SetIdentity("SIM SATA 500", "AB12 CD34", "FW01", 1048576);
    a.AttachDrive(5, 0x85, sata, 1);
    drives = Drives();
    ASSERT_EQ(1u, drives.size());
    EXPECT_EQ(1u, drives[0].DriveIndex);
    EXPECT_EQ("AB12CD34", Text(drives[0].SerialNumber));
    EXPECT_EQ("5000C50000000085", Text(drives[0].SasAddress));
}

TEST_F(SasEngineTest, MissedDriveIsLostThenFreed)
{
    Adapter a = AddAdapter(0, 3);
    a.AttachDrive(0, 0x70, Disk("K1"));
    a.AttachDrive(1, 0x71, Disk("G1"));
    ASSERT_EQ(2u, Drives().size());
    a.Detach(1);
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(2u, drives.size());
    EXPECT_EQ(6, drives[1].Status);
    EXPECT_EQ(4, drives[1].Condition);
    EXPECT_EQ(4, s_SasDiscovery.First->Record.OverallCondition);
    drives = Drives();
    ASSERT_EQ(1u, drives.size());
    EXPECT_EQ("K1", Text(drives[0].SerialNumber));
    EXPECT_EQ(2, s_SasDiscovery.First->Record.OverallCondition);
}

TEST_F(SasEngineTest, DriveBehindAnExpanderThatLeavesIsLost)
{
    Adapter a = AddAdapter(0, 3);
    auto expander = Expander(0x100);
    expander->SetPhy(0, 1, 8, Address(0x200).data());
    a.AttachExpander({4}, expander);
    a.Behind(4, 0x200, Disk("E0"));
    ASSERT_EQ(2, Drives()[0].Status);
    expander->Phys[0].AttachedType = 0;
    EXPECT_EQ(6, Drives()[0].Status);
    EXPECT_TRUE(Drives().empty());
}

TEST_F(SasEngineTest, OsDiskNameAndBayFromTheLocation)
{
    Adapter a = AddAdapter(4, 3);
    a.AttachDrive(0, 0x70, Disk("O1"));
    a.Csmi->ScsiAddresses[0x5000C50000000070ull] = {4, 0, 9, 0};
    sim.AddPhysicalDrive(0, 4, 0, 3, 0);
    sim.AddPhysicalDrive(2, 3, 0, 9, 0);   // another port
    sim.AddPhysicalDrive(3, 4, 0, 9, 1);   // the LUN is not compared
    std::vector<uint8_t> location(CSMI_LOCATION_BUFFER_SIZE - 28, 0);
    location[5] = 1;
    PutU32(&location[7], 0x21);
    SimSasAddress(0x70, &location[7 + 4]);
    location[7 + 92] = 7;
    location[103] = 42;                     // buffer byte 131: the carrier query index
    a.Csmi->Payloads[31] = std::vector<uint8_t>(location.begin(), location.begin() + 7 + 2 * 96);
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(1u, drives.size());
    EXPECT_EQ("Disk 3", Text(drives[0].OsDiskName));
    EXPECT_EQ("Port 2I Bay 7", Text(drives[0].LocationName));
    EXPECT_EQ(42, drives[0].CarrierQueryIndex);
    // Every physical drive opened on the way was closed at once.
    EXPECT_EQ(std::vector<std::string>{"\\\\.\\scsi4:"}, sim.OpenHandles());
    EXPECT_EQ(0u, sim.UnknownHandleUses());
    // A reply announcing every entry it has room for is not the one entry of this drive.
    a.Csmi->Payloads[31][5] = 255;
    drives = Drives();
    EXPECT_EQ("Disk 3", Text(drives[0].OsDiskName));
    EXPECT_EQ("Port 2I Device 0", Text(drives[0].LocationName));
}

TEST_F(SasEngineTest, CarrierStates)
{
    struct {
        uint8_t present, state;
        uint8_t carrier, a, b, status;
    } cases[] = {{0, 1, 1, 0, 0, 2}, {1, 0, 2, 0, 0, 2}, {1, 1, 4, 0x11, 0x22, 2}, {1, 255, 3, 0, 0, 12}};
    for (const auto &c : cases) {
        SetUp();
        StorageSim local;
        StorageSimScope inner(local);
        Adapter a = AdapterOn(local, 0, 3);
        a.AttachDrive(0, 0x70, Disk("C1"));
        std::vector<uint8_t> state(36, 0);
        state[1] = c.present;
        state[2] = c.state;
        a.Csmi->Payloads[32] = state;
        std::vector<uint8_t> bytes(520, 0);
        bytes[6] = 0x11;
        bytes[16] = 0x22;
        a.Csmi->Payloads[34] = bytes;
        std::vector<SAS_PHYDRV_RECORD> drives = Drives();
        ASSERT_EQ(1u, drives.size());
        EXPECT_EQ(c.carrier, drives[0].CarrierState) << int(c.state);
        EXPECT_EQ(c.a, drives[0].CarrierByteA) << int(c.state);
        EXPECT_EQ(c.b, drives[0].CarrierByteB) << int(c.state);
        EXPECT_EQ(c.status, drives[0].Status) << int(c.state);
        SasResetForTest();
    }
}

TEST_F(SasEngineTest, SerialPageLongerThanTheReplyIsCutToWhatCame)
{
    Adapter a = AddAdapter(0, 3);
    auto disk = Disk("unused");
    std::vector<uint8_t> page = {0, 0x80, 0, 250, 'S', 'N', ' ', '9'};
    disk->Raw[0x1280] = page;
    a.AttachDrive(0, 0x70, disk);
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(1u, drives.size());
    EXPECT_EQ("SN9", Text(drives[0].SerialNumber));
}

TEST_F(SasEngineTest, PublishedValuesEqualTheExportedRecords)
{
    Adapter a = AddAdapter(0, 3);
    Adapter b = AddAdapter(1, 2);
    a.AttachDrive(0, 0x70, Disk("R1"));
    b.AttachDrive(0, 0x80, Disk("R2"));
    b.AttachDrive(1, 0x81, Disk("R3"));
    std::vector<SAS_PHYDRV_RECORD> drives = Drives();
    ASSERT_EQ(3u, drives.size());
    for (size_t i = 0; i < drives.size(); ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "SasPhyDrv%03X", static_cast<unsigned>(i));
        std::vector<uint8_t> value(1024);
        DWORD size = static_cast<DWORD>(value.size());
        ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\QZTLMStorage\\SCSI\\SASPhyDrv", name,
                                              RRF_RT_REG_BINARY, nullptr, value.data(), &size));
        ASSERT_EQ(sizeof(SAS_PHYDRV_RECORD), size);
        EXPECT_EQ(0, std::memcmp(value.data(), &drives[i], size)) << name;
    }
    // A drive that leaves takes its value with it once it is freed.
    b.Detach(1);
    Drives();
    Drives();
    DWORD size = 0;
    EXPECT_NE(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\QZTLMStorage\\SCSI\\SASPhyDrv",
                                          "SasPhyDrv002", RRF_RT_REG_BINARY, nullptr, nullptr, &size));
}

} // namespace
