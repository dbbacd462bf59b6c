// The FC HBA API wrapper, its slot discovery and the FCA collector, over the test HBA API
// library, the simulated ports' devices and a fake root\wmi.
#include "fc_test_support.h"

#include "datastore.h"
#include "fc_board_ids.h"
#include "host_test_support.h"
#include "service_parameters.h"
#include "smbios_table.h"
#include "traps.h"
#include "zdtfca_collector.h"

#include <chrono>
#include <thread>

using namespace fctest;
using namespace hosttest;

namespace {

constexpr uint64_t kNode = 0x200000109B11AA01ull;
constexpr uint64_t kPort = 0x100000109B11AA01ull;

MIBOID Cell(uint32_t column, uint32_t index) { return EnterpriseOid({16, 2, 7, 1, 1, column, index}); }

class FcCollectorTest : public FcFixture {
protected:
    void SetUp() override
    {
        FcFixture::SetUp();
        s_ZDTFCADataCollector.ResetForTests();
        s_ServiceParameters.EnableTraps = 1;
        ASSERT_TRUE(InitDataStores());
        InitTraps();
        s_SMBIOSTable.reset();
    }
    void TearDown() override
    {
        // The staging store goes before the stores it belongs to.
        staging.reset();
        s_SMBIOSTable.reset();
        TermTraps();
        TermDataStores();
        FcFixture::TearDown();
    }

    // One collection into a fresh staging store; the traps it queued.
    std::vector<RECORDED_PDU> Collect()
    {
        staging = std::make_unique<DATASTORE>(false);
        s_ZDTFCADataCollector.StartCollection(0, staging.get());
        s_ZDTFCADataCollector.Collect(0, staging.get());
        RecordingSession session;
        while (QueuedTrapCount() > 0)
            if (SendOneTrap(&session) != 0)
                break;
        return session.pdus;
    }

    std::optional<int32_t> Int(uint32_t column, uint32_t index = 0) { return IntAt(staging.get(), Cell(column, index)); }
    std::optional<std::string> Text(uint32_t column, uint32_t index = 0)
    {
        return TextAt(staging.get(), Cell(column, index));
    }

    // One adapter whose one port's device answers the driver's slot request with a UI number.
    void OneAdapter(uint32_t portState, std::optional<uint32_t> uiNumber = 1203)
    {
        auto device = AddPortDevice(2, 5, uiNumber);
        device->Slot = SimFcPort::SlotData{0x32621D5A, 3, 5, 0, 0};
        AdapterSpec spec{"fc-0", kNode};
        spec.Ports = {Port(kNode, kPort, portState, "\\\\.\\Scsi2:")};
        Set(Scenario({Adapter(spec)}));
    }

    std::unique_ptr<DATASTORE> staging;
};

TEST_F(FcCollectorTest, WithoutTheLibraryEveryPollReportsItMissing)
{
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(FC_HBA_LIBRARY_NOT_FOUND, s_FcHbaApi.pollHBAInfo(1));
    EXPECT_TRUE(Collect().empty());
    EXPECT_EQ(std::nullopt, Int(1));
}

TEST_F(FcCollectorTest, ALibraryLackingAnEntryPointIsNotUsed)
{
    Load(Library::LackingExport);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(FC_HBA_EXPORT_MISSING, s_FcHbaApi.pollHBAInfo(1));
    EXPECT_TRUE(Collect().empty());
    EXPECT_EQ(std::nullopt, Int(1));
}

TEST_F(FcCollectorTest, AdapterStatusDoesNotDependOnPortOrder)
{
    Load(Library::Full);
    AddPortDevice(2, 5, 3)->Slot = SimFcPort::SlotData{0x32621D5A, 3, 5, 0, 0};
    struct {
        uint32_t first, second;
        int32_t status, condition;
    } cases[] = {
        {HBA_PORTSTATE_ONLINE, HBA_PORTSTATE_ERROR, 3, 4},
        {HBA_PORTSTATE_ERROR, HBA_PORTSTATE_ONLINE, 3, 4},
        {HBA_PORTSTATE_OFFLINE, HBA_PORTSTATE_ERROR, 3, 4},
        {HBA_PORTSTATE_ERROR, HBA_PORTSTATE_OFFLINE, 3, 4},
        {HBA_PORTSTATE_ONLINE, HBA_PORTSTATE_OFFLINE, 5, 3},
        {HBA_PORTSTATE_DIAGNOSTICS, HBA_PORTSTATE_ONLINE, 5, 3},
        {0, HBA_PORTSTATE_ONLINE, 2, 2},
        {HBA_PORTSTATE_ONLINE, 0, 2, 2},
        {0, 0, 1, 1},
    };
    for (const auto &c : cases) {
        s_ZDTFCADataCollector.ResetForTests();
        AdapterSpec spec{"fc-0", kNode};
        spec.Ports = {Port(kNode, kPort, c.first, "\\\\.\\Scsi2:"), Port(kNode, kPort + 1, c.second, "\\\\.\\Scsi2:")};
        Set(Scenario({Adapter(spec)}));
        Collect();
        EXPECT_EQ(c.status, Int(4)) << c.first << " " << c.second;
        EXPECT_EQ(c.condition, Int(5)) << c.first << " " << c.second;
    }
}

TEST_F(FcCollectorTest, UiNumberThroughTheDriverIsASlotThroughWmiABlade)
{
    Load(Library::Full);
    OneAdapter(HBA_PORTSTATE_ONLINE, 1203);
    Collect();
    EXPECT_EQ(3, Int(2));
    EXPECT_EQ("Slot 3", Text(11));
    EXPECT_EQ(static_cast<int32_t>(FcaModelNumber(0x32621D5A)), Int(3));
    EXPECT_EQ("200000109B11AA01", Text(6));
    EXPECT_EQ("100000109B11AA01", Text(12));
    EXPECT_EQ("2.10", Text(13));
    EXPECT_EQ("1.5", Text(14));
    EXPECT_EQ("SN0001", Text(10));
    EXPECT_EQ(2, Int(8));
    EXPECT_EQ(std::string(8, '\0'), Text(7));
    EXPECT_TRUE(sim.OpenHandles().empty());
    HBA_FIXTURE_COUNTS counts = Counts();
    EXPECT_EQ(counts.OpenAdapter, counts.CloseAdapter);
    EXPECT_EQ(2u, counts.OpenAdapter);   // one poll for the update, one for the report

    // The same device without the driver's request: the FCoE instance of the port's WWNs names
    // the PCI function, whose UI number is taken whole and read as a blade location.
    s_FcHbaApi.ResetForTests();
    s_ZDTFCADataCollector.ResetForTests();
    StorageSim other;
    StorageSimScope otherScope(other);
    auto device = std::make_shared<SimFcPort>();
    other.AddDevice("\\\\.\\Scsi2:", device);
    SimPciDevice node;
    node.DeviceId = "PCI\\VEN_1D5A&DEV_0714&SUBSYS_32631D5A&REV_01\\4&77&0";
    node.Location = "PCI bus 6, device 0, function 0";
    node.UiNumber = 1203;
    other.AddPciDevice(node);
    wmi->fcoe = {FcoeInstance(L"PCI\\VEN_1D5A&DEV_0714&SUBSYS_32631D5A&REV_01\\4&77&0_0", kNode, kPort)};
    Load(Library::Full);
    OneAdapter(HBA_PORTSTATE_ONLINE);
    Collect();
    EXPECT_EQ(1203, Int(2));
    EXPECT_EQ("Blade 4 Slot 0 Port 1", Text(11));
    EXPECT_EQ(static_cast<int32_t>(FcaModelNumber(0x32631D5A)), Int(3));
    EXPECT_EQ("0000:06:00.0", Text(15));
    EXPECT_TRUE(other.OpenHandles().empty());
}

// A present PCI function of the configuration manager with its location text and UI number.
SimPciDevice Function(const char *location, std::optional<uint32_t> ui, const char *id = "PCI\\VEN_1D5A&DEV_0714\\1")
{
    return SimPciDevice{id, location, ui, ""};
}

TEST(FcUiNumberTest, LocationTextsOfPresentDevices)
{
    SimPciDevice absent = Function("PCI bus 5, device 0, function 1", 7);
    absent.Present = false;
    const struct {
        const char *name;
        std::vector<SimPciDevice> devices;
        unsigned bus, device, function;
        LONG result;
        int32_t ui; // when found
    } cases[] = {
        {"one match", {Function("PCI bus 5, device 0, function 1", 7)}, 5, 0, 1, 0, 7},
        {"case does not matter", {Function("pci BUS 5, DEVICE 0, FUNCTION 1", 7)}, 5, 0, 1, 0, 7},
        {"no UI number", {Function("PCI bus 5, device 0, function 1", std::nullopt)}, 5, 0, 1, 0, 0},
        {"low bytes of the lookup", {Function("PCI bus 5, device 0, function 1", 7)}, 0x105, 0x100, 0x201, 0, 7},
        {"a number past a byte", {Function("PCI bus 261, device 0, function 1", 7)}, 5, 0, 1, 13, 0},
        {"a function past a byte", {Function("PCI bus 5, device 0, function 257", 7)}, 5, 0, 1, 13, 0},
        {"another function", {Function("PCI bus 5, device 0, function 1", 7)}, 5, 0, 0, 13, 0},
        {"no function word", {Function("PCI bus 5, device 0", 7)}, 5, 0, 0, 13, 0},
        {"no bus word", {Function("device 0, function 0", 7)}, 0, 0, 0, 13, 0},
        {"a word without its number", {Function("PCI bus 5, device x, function 0", 7)}, 5, 0, 0, 13, 0},
        {"a negative number", {Function("PCI bus -1, device 0, function 0", 7)}, 255, 0, 0, 13, 0},
        {"no location", {Function("", 7)}, 0, 0, 0, 13, 0},
        {"any enumerator", {Function("PCI bus 9, device 2, function 3", 12, "ROOT\\FCBUS\\0000")}, 9, 2, 3, 0, 12},
        {"present devices only",
         {absent, Function("PCI bus 5, device 0, function 1", 8, "PCI\\VEN_1D5A&DEV_0714\\2")}, 5, 0, 1, 0, 8},
        {"the first match",
         {Function("PCI bus 5, device 0", 6), Function("PCI bus 5, device 0, function 0", 7, "PCI\\VEN_1D5A\\2"),
          Function("PCI bus 5, device 0, function 0", 8, "PCI\\VEN_1D5A\\3")},
         5, 0, 0, 0, 7},
        {"no devices", {}, 5, 0, 0, 13, 0},
    };
    for (const auto &c : cases) {
        StorageSim local;
        StorageSimScope scope(local);
        for (const SimPciDevice &device : c.devices)
            local.AddPciDevice(device);
        int32_t ui = -5;
        EXPECT_EQ(c.result, CFCHBA_API::FindUiNumber(c.bus, c.device, c.function, &ui)) << c.name;
        EXPECT_EQ(c.result == 0 ? c.ui : -5, ui) << c.name;
    }
}

TEST_F(FcCollectorTest, FcoeInstancesThatNameNoBoardOrDeviceMatchNothing)
{
    struct {
        const wchar_t *instance;
        uint64_t node;
    } cases[] = {
        {L"PCI\\VEN_1D5A&DEV_0714\\4&77&0_0", kNode},                     // no board id
        {L"PCI\\VEN_1D5A&DEV_0714&SUBSYS_3263\\4&77&0_0", kNode},         // short board id
        {L"_", kNode},                                                   // no device id
        {L"PCI\\VEN_1D5A&DEV_0714&SUBSYS_32631D5A&REV_01\\4&77&0_0", 0}, // the adapter has no WWN
    };
    Load(Library::Full);
    for (const auto &c : cases) {
        s_FcHbaApi.ResetForTests();
        sim.AddDevice("\\\\.\\Scsi4:", std::make_shared<SimFcPort>());
        wmi->fcoe = {FcoeInstance(c.instance, c.node, kPort)};
        AdapterSpec spec{"fc-0", c.node};
        spec.Ports = {Port(c.node, kPort, HBA_PORTSTATE_ONLINE, "\\\\.\\Scsi4:")};
        Set(Scenario({Adapter(spec)}));
        ASSERT_EQ(0, s_FcHbaApi.pollHBAInfo(1));
        s_FcHbaApi.CopyToClientList();
        ASSERT_TRUE(s_FcHbaApi.LockClientList());
        ASSERT_EQ(1u, s_FcHbaApi.ClientList().Adapters.size());
        EXPECT_EQ(-1, s_FcHbaApi.ClientList().Adapters[0].Slot) << c.instance;
        EXPECT_EQ("N/A", s_FcHbaApi.ClientList().Adapters[0].Location) << c.instance;
        s_FcHbaApi.UnlockClientList();
    }
}

TEST_F(FcCollectorTest, CsmiControllersTakeTheirSlotFromTheirPciFunction)
{
    Load(Library::Full);
    struct {
        uint32_t board;
        uint8_t controllerClass;
        uint8_t ioBusType;
        std::optional<uint32_t> ui;
        bool slotRequest;   // the driver's slot request is sent too
        int32_t slot;
        uint32_t returnCode = 0;
    } cases[] = {
        {0x32701D5A, 3, 3, 7, false, 7},
        {0x32701D5A, 4, 3, 8, false, 8},
        {0x32701D5A, 3, 1, 7, false, 255},                   // not on PCI: nothing found
        {FC_BOARD_CSMI_TYPE4_A, 3, 3, 7, true, 9},           // slot from the driver: 109 % 100
        {0x32701D5A, 3, 3, 7, true, 9, 1},                   // CSMI refused: the driver's answer
    };
    for (const auto &c : cases) {
        s_FcHbaApi.ResetForTests();
        StorageSim local;
        StorageSimScope localScope(local);
        auto device = std::make_shared<SimFcPort>();
        device->Csmi = SimFcPort::CsmiConfig{c.board, c.controllerClass, c.ioBusType, 9, 0, 0, c.returnCode};
        device->Slot = SimFcPort::SlotData{c.board, 3, 10, 0, 0};
        local.AddDevice("\\\\.\\Scsi3:", device);
        SimPciDevice csmiNode{"PCI\\VEN_1D5A&DEV_0800\\9", "PCI bus 9, device 0, function 0", c.ui, ""};
        SimPciDevice slotNode{"PCI\\VEN_1D5A&DEV_0801\\10", "PCI bus 10, device 0, function 0", 109, ""};
        local.AddPciDevice(csmiNode);
        local.AddPciDevice(slotNode);
        AdapterSpec spec{"fc-0", kNode};
        spec.Ports = {Port(kNode, kPort, HBA_PORTSTATE_ONLINE, "\\\\.\\Scsi3:")};
        Set(Scenario({Adapter(spec)}));
        s_FcHbaApi.pollHBAInfo(1);
        s_FcHbaApi.CopyToClientList();
        ASSERT_TRUE(s_FcHbaApi.LockClientList());
        const FC_ADAPTER_RECORD &adapter = s_FcHbaApi.ClientList().Adapters.at(0);
        EXPECT_EQ(c.slot, adapter.Slot) << c.board << " " << int(c.controllerClass);
        EXPECT_EQ(c.ioBusType == 3 ? c.board : 0u, adapter.Attributes.VendorSpecificID);
        EXPECT_EQ(c.returnCode != 0 ? FC_CONTROLLER_DRIVER : c.slotRequest ? FC_CONTROLLER_CSMI_SLOT
                  : c.controllerClass == 4 ? FC_CONTROLLER_CSMI_CLASS4 : FC_CONTROLLER_CSMI,
                  adapter.Ports.at(0).ControllerType);
        s_FcHbaApi.UnlockClientList();
        EXPECT_EQ(c.slotRequest ? 1u : 0u, device->SlotRequests);
        EXPECT_TRUE(local.OpenHandles().empty());
    }
}

TEST_F(FcCollectorTest, LinkDownFromTheStartIsNoFailure)
{
    Load(Library::Full);
    OneAdapter(HBA_PORTSTATE_LINKDOWN);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(Collect().empty()) << i;
        EXPECT_EQ(1, Int(4)) << i;
        EXPECT_EQ(1, Int(5)) << i;
    }
}

TEST_F(FcCollectorTest, LinkGoingDownLaterSendsATrap)
{
    Load(Library::Full);
    OneAdapter(HBA_PORTSTATE_ONLINE);
    EXPECT_TRUE(Collect().empty());
    EXPECT_EQ(2, Int(4));
    OneAdapter(HBA_PORTSTATE_LINKDOWN);
    std::vector<RECORDED_PDU> pdus = Collect();
    EXPECT_EQ(7, Int(4));
    EXPECT_EQ(3, Int(5));
    EXPECT_EQ(2, Int(8));   // the overall condition stays that of the adapter
    EXPECT_EQ(2, s_ZDTFCADataCollector.Condition());
    ASSERT_EQ(1u, pdus.size());
    const auto &v = pdus[0].varbinds;
    ASSERT_EQ(10u, v.size());
    EXPECT_EQ(OidText(EnterpriseOid({0, 16028})), OidText(v[0].oid));
    EXPECT_EQ(".1.3.6.1.2.1.1.5.0", OidText(v[1].name));
    char name[260] = {};
    DWORD size = sizeof name;
    ASSERT_TRUE(GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, name, &size));
    EXPECT_EQ(name, v[1].text);
    EXPECT_EQ(12, v[2].integer);   // condition 3 shifted left by 2
    const uint32_t columns[] = {11, 1, 4, 3, 10, 6, 12};
    for (size_t i = 0; i < 7; ++i)
        EXPECT_EQ(OidText(Cell(columns[i], 0)), OidText(v[3 + i].name)) << i;
    EXPECT_EQ("Slot 3", v[3].text);
    EXPECT_EQ(7, v[5].integer);
    EXPECT_EQ("200000109B11AA01", v[8].text);
    // Still down: the change is remembered, nothing new to tell.
    EXPECT_TRUE(Collect().empty());
    EXPECT_EQ(7, Int(4));
    EXPECT_EQ(3, Int(5));
}

TEST_F(FcCollectorTest, TrapsPairAdaptersByWorldWideName)
{
    Load(Library::Full);
    AddPortDevice(2, 5, 3)->Slot = SimFcPort::SlotData{0x32621D5A, 3, 5, 0, 0};
    auto scenario = [&](uint64_t node, uint32_t secondState) {
        AdapterSpec a{"fc-a", node}, b{"fc-b", node};
        a.Ports = {Port(node, kPort, HBA_PORTSTATE_ONLINE, "\\\\.\\Scsi2:")};
        b.Ports = {Port(node, kPort + 1, secondState, "\\\\.\\Scsi2:")};
        Set(Scenario({Adapter(a), Adapter(b)}));
    };
    scenario(kNode, HBA_PORTSTATE_ONLINE);
    EXPECT_TRUE(Collect().empty());
    // The second adapter fails: it differs from both previous records of its name, so it is
    // reported once for each; the first adapter is as both were.
    scenario(kNode, HBA_PORTSTATE_ERROR);
    std::vector<RECORDED_PDU> pdus = Collect();
    ASSERT_EQ(2u, pdus.size());
    for (const auto &pdu : pdus)
        EXPECT_EQ(3, pdu.varbinds[5].integer);
    // Adapters without a world wide name are never paired.
    s_ZDTFCADataCollector.ResetForTests();
    scenario(0, HBA_PORTSTATE_ONLINE);
    EXPECT_TRUE(Collect().empty());
    scenario(0, HBA_PORTSTATE_ERROR);
    EXPECT_TRUE(Collect().empty());
    EXPECT_EQ(3, Int(4, 1));
}

// A table with the firmware-package structures of one card at PCI bus 5: a stand-up card in
// slot 3 (its slot structure, type 9) or an embedded one (its on-board device, type 41).
std::vector<uint8_t> SmbiosWithFirmwarePackage(const char *version, const char *deviceClass, bool embedded = false)
{
    std::vector<uint8_t> t = {0, 2, 8, 0, 0, 0, 0, 0};
    auto add = [&](std::vector<uint8_t> formatted, std::vector<std::string> strings) {
        t.insert(t.end(), formatted.begin(), formatted.end());
        for (const auto &s : strings) {
            t.insert(t.end(), s.begin(), s.end());
            t.push_back(0);
        }
        if (strings.empty())
            t.push_back(0);
        t.push_back(0);
    };
    std::vector<uint8_t> device(32, 0);
    device[0] = 203, device[1] = 32, device[2] = 0x10, device[3] = 0x00;   // handle 0x0010
    device[4] = 0x20, device[5] = 0x00;                                     // associated slot 0x0020
    device[29] = 1, device[31] = 2;
    add(device, {deviceClass, embedded ? "Embedded" : "PCI-E Slot 3"});
    std::vector<uint8_t> package(11, 0);
    package[0] = 240, package[1] = 11, package[2] = 0x11;
    package[4] = 0x10, package[5] = 0x00;
    package[10] = 1;
    add(package, {version});
    if (embedded) {
        std::vector<uint8_t> onboard(11, 0);
        onboard[0] = 41, onboard[1] = 11, onboard[2] = 0x20;
        onboard[9] = 5, onboard[10] = 0 << 3;
        add(onboard, {});
    } else {
        std::vector<uint8_t> slot(17, 0);
        slot[0] = 9, slot[1] = 17, slot[2] = 0x20;
        slot[15] = 5, slot[16] = 0 << 3;
        add(slot, {});
    }
    add({127, 4, 0xFF, 0xFF}, {});
    const uint32_t length = static_cast<uint32_t>(t.size() - 8);
    std::memcpy(&t[4], &length, 4);
    return t;
}

TEST_F(FcCollectorTest, FirmwareFromTheFirmwarePackageElseTheLibraryElseNA)
{
    Load(Library::Full);
    auto device = std::make_shared<SimFcPort>();
    device->Csmi = SimFcPort::CsmiConfig{0x32701D5A, 3, 3, 5, 0, 0, 0};
    sim.AddDevice("\\\\.\\Scsi2:", device);
    sim.AddPciDevice({"PCI\\VEN_1D5A&DEV_0800\\5", "PCI bus 5, device 0, function 0", 3, ""});
    struct {
        const char *table;        // null: no SMBIOS table
        const char *deviceClass;
        const char *library;
        const char *expected;
    } cases[] = {
        {"9.1.2", "Storage", "2.10", "9.1.2"},
        {"9.1.2", "Display", "2.10", "2.10"},
        {nullptr, "", "2.10", "2.10"},
        {nullptr, "", "", "N/A"},
        {"", "Storage", "", "N/A"},
    };
    for (const auto &c : cases) {
        s_ZDTFCADataCollector.ResetForTests();
        if (c.table)
            s_SMBIOSTable = std::make_unique<CSMBIOSTable>(SmbiosWithFirmwarePackage(c.table, c.deviceClass));
        else
            s_SMBIOSTable.reset();
        AdapterSpec spec{"fc-0", kNode};
        spec.Firmware = c.library;
        spec.Ports = {Port(kNode, kPort, HBA_PORTSTATE_ONLINE, "\\\\.\\Scsi2:")};
        Set(Scenario({Adapter(spec)}));
        Collect();
        EXPECT_EQ("0000:05:00.0", Text(15));
        EXPECT_EQ(c.expected, Text(13)) << c.deviceClass << " " << c.library;
    }
}

TEST_F(FcCollectorTest, EmbeddedCardsFindTheirFirmwarePackageThroughTheirOnBoardDevice)
{
    Load(Library::Full);
    auto device = std::make_shared<SimFcPort>();
    device->Csmi = SimFcPort::CsmiConfig{0x32701D5A, 3, 3, 5, 0, 0, 0};
    sim.AddDevice("\\\\.\\Scsi2:", device);
    sim.AddPciDevice({"PCI\\VEN_1D5A&DEV_0800\\5", "PCI bus 5, device 0, function 0", std::nullopt, ""});   // slot 0
    s_SMBIOSTable = std::make_unique<CSMBIOSTable>(SmbiosWithFirmwarePackage("7.0.4", "NIC", true));
    AdapterSpec spec{"fc-0", kNode};
    spec.Ports = {Port(kNode, kPort, HBA_PORTSTATE_ONLINE, "\\\\.\\Scsi2:")};
    Set(Scenario({Adapter(spec)}));
    Collect();
    EXPECT_EQ(0, Int(2));
    EXPECT_EQ("7.0.4", Text(13));
}

TEST_F(FcCollectorTest, TwoBoardsTakeTheirSlotFromTheBridgeBelowTheRootPort)
{
    Load(Library::Full);
    const int root = sim.AddPciDevice({"ACPI\\PNP0A08\\0", "", std::nullopt, "", -1, true, "", "", {"ACPI\\PNP0A08"}});
    const int rootPort = sim.AddPciDevice({"PCI\\VEN_8086&DEV_3C04\\3", "PCI bus 0, device 2, function 0", std::nullopt,
                                           "", root, true, "", "", {"PCI\\VEN_8086&DEV_3C04&REV_07"}});
    const int bridge = sim.AddPciDevice({"PCI\\VEN_1D5A&DEV_0900\\4", "PCI bus 11, device 0, function 0", 4, "", rootPort,
                                         true, "", "", {"PCI\\VEN_1D5A&DEV_0900"}});
    sim.AddPciDevice({"PCI\\VEN_1D5A&DEV_0800\\12", "PCI bus 12, device 0, function 0", 33, "", bridge, true, "", "",
                      {"PCI\\VEN_1D5A&DEV_0800"}});
    auto device = std::make_shared<SimFcPort>();
    sim.AddDevice("\\\\.\\Scsi2:", device);
    struct {
        uint32_t board;
        int32_t slot;
    } cases[] = {{FC_BOARD_BRIDGE_SLOT_A, 4}, {FC_BOARD_BRIDGE_SLOT_B, 4}, {0x32701D5A, 33}};
    for (const auto &c : cases) {
        s_ZDTFCADataCollector.ResetForTests();
        device->Csmi = SimFcPort::CsmiConfig{c.board, 3, 3, 12, 0, 0, 0};
        AdapterSpec spec{"fc-0", kNode};
        spec.Ports = {Port(kNode, kPort, HBA_PORTSTATE_ONLINE, "\\\\.\\Scsi2:")};
        Set(Scenario({Adapter(spec)}));
        Collect();
        EXPECT_EQ(c.slot, Int(2)) << c.board;
        EXPECT_EQ("Slot 33", Text(11)) << c.board;   // the wrapper's location stays its own
    }
}

TEST_F(FcCollectorTest, APortWhoseDeviceCannotBeOpenedLeavesTheSlotUnknown)
{
    Load(Library::Full);
    AdapterSpec spec{"fc-0", kNode};
    spec.Ports = {Port(kNode, kPort, HBA_PORTSTATE_ONLINE, "\\\\.\\Scsi9:")};
    Set(Scenario({Adapter(spec)}));
    Collect();
    EXPECT_EQ(255, Int(2));
    EXPECT_EQ("N/A", Text(11));
    EXPECT_EQ("0000:00:00.0", Text(15));   // no configuration came from the device
    EXPECT_EQ(2, Int(4));
}

TEST_F(FcCollectorTest, LibraryTextsEndAtTheirFields)
{
    Load(Library::Full);
    // A device name of 64 characters followed by more: only the 64 name the device.
    const std::string device = "\\\\.\\FcPort" + std::string(64 - 10, 'P');
    sim.AddDevice(device, std::make_shared<SimFcPort>());
    AdapterSpec spec{"fc-0", kNode};
    spec.Serial = std::string(64, 'S');        // fills its field, no NUL
    spec.Model = std::string(256, 'M');
    spec.Ports = {Port(kNode, kPort, HBA_PORTSTATE_ONLINE, (device + "XYZ").c_str())};
    Set(Scenario({Adapter(spec)}));
    Collect();
    EXPECT_EQ(std::string(64, 'S'), Text(10));
    EXPECT_EQ(2u, sim.OpenCount());   // opened by each of the collection's two polls
    EXPECT_TRUE(sim.OpenHandles().empty());
}

TEST_F(FcCollectorTest, AStopEndsTheWaitForAListMutex)
{
    HANDLE stop = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    DATACOLLECTOR::SetStopEvent(stop);
    const DWORD savedWait = FcHbaTimeouts::MutexWaitMs.load();
    FcHbaTimeouts::MutexWaitMs = 60000;
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        HANDLE mutex = CreateMutexW(nullptr, FALSE, L"_TlmFCHBACurrListMutex");
        WaitForSingleObject(mutex, INFINITE);
        SetEvent(held);
        WaitForSingleObject(go, INFINITE);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, 30000));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(0, s_FcHbaApi.pollHBAInfo(1));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << "the stop ended the 60 s wait";
    SetEvent(go);
    holder.join();
    DATACOLLECTOR::SetStopEvent(nullptr);
    FcHbaTimeouts::MutexWaitMs = savedWait;
    CloseHandle(stop);
    CloseHandle(held);
    CloseHandle(go);
}

TEST_F(FcCollectorTest, RecordsFollowTheClientListNotTheLastPoll)
{
    Load(Library::Full);
    OneAdapter(HBA_PORTSTATE_ONLINE);
    Collect();
    ASSERT_EQ(0, Int(1));
    // A second adapter whose statistics fail: that poll is not copied, so the client list still
    // holds one adapter although two were opened.
    AdapterSpec first{"fc-0", kNode}, second{"fc-1", kNode + 1};
    first.Ports = {Port(kNode, kPort, HBA_PORTSTATE_ONLINE, "\\\\.\\Scsi2:")};
    second.Ports = {Port(kNode + 1, kPort + 1, HBA_PORTSTATE_ONLINE, "\\\\.\\Scsi2:")};
    HBA_FIXTURE_SCENARIO scenario = Scenario({Adapter(first), Adapter(second)});
    scenario.Adapters[1].Ports[0].StatisticsStatus = 5;
    Set(scenario);
    std::vector<FCA_HBA_RECORD> records;
    EXPECT_EQ(5, s_ZDTFCADataCollector.GetFcaData(&records));
    EXPECT_EQ(2u, s_FcHbaApi.AdaptersOpened());
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("200000109B11AA01", records[0].WorldWideName);
}

TEST_F(FcCollectorTest, FailedPortAttributesAreCleared)
{
    Load(Library::Full);
    OneAdapter(HBA_PORTSTATE_ONLINE);
    AdapterSpec spec{"fc-0", kNode};
    spec.Ports = {Port(kNode, kPort, HBA_PORTSTATE_ONLINE, "\\\\.\\Scsi2:")};
    HBA_FIXTURE_SCENARIO scenario = Scenario({Adapter(spec)});
    scenario.Adapters[0].Ports[0].AttributesStatus = 4;
    Set(scenario);
    EXPECT_EQ(4, s_FcHbaApi.pollHBAInfo(1));
    s_FcHbaApi.CopyToClientList();   // what the next copy would hand out
    ASSERT_TRUE(s_FcHbaApi.LockClientList());
    const FC_PORT_RECORD &port = s_FcHbaApi.ClientList().Adapters.at(0).Ports.at(0);
    const HBA_PORTATTRIBUTES cleared{};
    EXPECT_EQ(0, std::memcmp(&cleared, &port.Attributes, sizeof cleared));
    EXPECT_EQ(0u, port.Status);
    EXPECT_EQ(0u, s_FcHbaApi.ClientList().Adapters[0].Status);
    s_FcHbaApi.UnlockClientList();
}

TEST_F(FcCollectorTest, AListMutexHeldElsewhereIsWaitedForBoundedAndTakenWhenAbandoned)
{
    Load(Library::Full);
    OneAdapter(HBA_PORTSTATE_ONLINE);
    const DWORD savedWait = FcHbaTimeouts::MutexWaitMs.load();
    FcHbaTimeouts::MutexWaitMs = 300;
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        // The wrapper made the mutex already, so only a wait makes it this thread's.
        HANDLE mutex = CreateMutexW(nullptr, FALSE, L"_TlmFCHBAClientListMutex");
        WaitForSingleObject(mutex, INFINITE);
        SetEvent(held);
        WaitForSingleObject(go, INFINITE);
        CloseHandle(mutex);   // the thread ends without releasing it: the mutex is abandoned
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, 30000));
    const auto start = std::chrono::steady_clock::now();
    Collect();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(std::nullopt, Int(1));
    EXPECT_LT(elapsed, std::chrono::seconds(20)) << "below the 30 s the wait takes by default";
    SetEvent(go);
    holder.join();
    Collect();
    EXPECT_EQ(0, Int(1));
    EXPECT_EQ("Slot 3", Text(11));
    // The abandoned mutex was taken and given back: it is free now.
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"_TlmFCHBAClientListMutex");
    ASSERT_NE(nullptr, mutex);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 0));
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    CloseHandle(held);
    CloseHandle(go);
    FcHbaTimeouts::MutexWaitMs = savedWait;
}

TEST(FcRegisterTest, TwoRegionsAndTheSecondResultFirst)
{
    struct {
        int first, second, result;
    } cases[] = {{0, 0, 0}, {261, 0, 261}, {0, 263, 263}, {261, 263, 263}};
    for (const auto &c : cases) {
        RecordingSession session;
        int call = 0;
        session.answer = [&](const RECORDED_PDU &) { return ++call == 1 ? c.first : c.second; };
        EXPECT_EQ(c.result, s_ZDTFCADataCollector.Register(&session));
        ASSERT_EQ(2u, session.pdus.size());
        EXPECT_EQ(OidText(EnterpriseOid({16, 1})), OidText(session.pdus[0].subtree));
        EXPECT_EQ(OidText(EnterpriseOid({16, 2})), OidText(session.pdus[1].subtree));
        EXPECT_EQ(127, session.pdus[1].priority);
    }
}

} // namespace
