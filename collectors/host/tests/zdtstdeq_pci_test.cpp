// The standard-equipment collector: registration, the PCI tables over the simulated device tree
// and SMBIOS slots, and the PCI change traps over several cycles.
#include "host_test_support.h"
#include "zdtstdeq_collector.h"
#include "zdthost_software.h"

#include "service_parameters.h"
#include "smbios_samples.h"
#include "smbios_table.h"
#include "refusing_platform.h"
#include "storagesim.h"
#include "traps.h"

#include <gtest/gtest.h>

using namespace hosttest;

namespace {

TEST(ZdtStdeqRegisterTest, EverySubtreeIsTriedAndTheLastFailureReturned)
{
    const std::string arc = OidText(EnterpriseOid({}));
    const std::vector<std::string> subtrees = {arc + ".1.2.13", arc + ".1.2.23", arc + ".1.2.15"};
    struct {
        const char *what;
        std::vector<std::pair<std::string, int>> refusals;
        int result;
    } cases[] = {
        {"all accepted", {}, 0},
        {"only the first refused", {{".1.2.13", 263}}, 263},
        {"first and second refused", {{".1.2.13", 263}, {".1.2.23", 265}}, 265},
        {"only the kit refused", {{".1.2.15", 261}}, 261},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RecordingSession session;
        session.answer = RefuseSubtrees(c.refusals);
        EXPECT_EQ(c.result, s_ZDTSTDEQDataCollector.Register(&session));
        ASSERT_EQ(subtrees.size(), session.pdus.size());
        for (size_t i = 0; i < subtrees.size(); ++i) {
            EXPECT_EQ(AXPacketType_Register, session.pdus[i].type);
            EXPECT_EQ(subtrees[i], OidText(session.pdus[i].subtree));
            EXPECT_EQ(127, session.pdus[i].priority);
        }
    }
}

// A PCI function of the simulated tree.
SimPciDevice Function(const std::string &instance, int bus, int device, int function,
                      std::vector<std::string> hardwareIds, std::string name = {}, std::optional<uint32_t> ui = {})
{
    SimPciDevice d;
    d.DeviceId = instance;
    d.Location = "PCI bus " + std::to_string(bus) + ", device " + std::to_string(device) + ", function " +
                 std::to_string(function);
    d.HardwareIds = std::move(hardwareIds);
    d.FriendlyName = std::move(name);
    d.UiNumber = ui;
    return d;
}

// A system slot (type 9, SMBIOS 2.6 layout unless shorter).
SampleStructure SystemSlot(uint16_t handle, uint8_t type, uint8_t width, uint8_t usage, uint16_t id, uint8_t bus,
                           uint8_t devfn, int length = 0x11)
{
    std::vector<uint8_t> body = {1, type, width, usage, 0x08, static_cast<uint8_t>(id),
                                 static_cast<uint8_t>(id >> 8), 0x04, 0x01, 0, 0, bus, devfn};
    body.resize(static_cast<size_t>(length - 4));
    return {9, handle, body, {"SLOT"}};
}

class StdeqPciTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(InitDataStores());
        InitTraps();
        s_ZDTSTDEQDataCollector.ForgetDevices();
        s_SMBIOSTable.reset();
    }
    void TearDown() override
    {
        s_SMBIOSTable.reset();
        s_ZDTSTDEQDataCollector.ForgetDevices();
        s_ServiceParameters.EnableTraps = 1;
        TermTraps();
    }

    static std::optional<int32_t> Slot(DATASTORE &store, uint32_t column, uint32_t bus, uint32_t device)
    {
        return IntAt(&store, EnterpriseOid({1, 2, 13, 1, 1, column, bus, device}));
    }
    static std::optional<std::string> SlotText(DATASTORE &store, uint32_t column, uint32_t bus, uint32_t device)
    {
        return TextAt(&store, EnterpriseOid({1, 2, 13, 1, 1, column, bus, device}));
    }
    static std::optional<int32_t> Fn(DATASTORE &store, uint32_t column, uint32_t b, uint32_t d, uint32_t f)
    {
        return IntAt(&store, EnterpriseOid({1, 2, 13, 2, 1, column, b, d, f}));
    }
    static std::optional<std::string> FnText(DATASTORE &store, uint32_t column, uint32_t b, uint32_t d, uint32_t f)
    {
        return TextAt(&store, EnterpriseOid({1, 2, 13, 2, 1, column, b, d, f}));
    }
    // The rows of one table, as "bus.device(.function)".
    static std::vector<std::string> Rows(DATASTORE &store, uint32_t table)
    {
        std::vector<std::string> rows;
        const MIBOID first = EnterpriseOid({1, 2, 13, table, 1, 1});
        const std::string prefix = OidText(first) + ".";
        store.Walk(first, s_NoEndOid, false, [&](const MIBOID &at, const MIBVALUE_REF &) {
            const std::string text = OidText(at);
            if (text.rfind(prefix, 0) != 0)
                return false;
            rows.push_back(text.substr(prefix.size()));
            return true;
        });
        return rows;
    }
    static void Cycle(DATASTORE &staging)
    {
        s_ZDTSTDEQDataCollector.Collect_zdtSePci(0, &staging);
        s_ZDTSTDEQDataCollector.CheckPciChanges();
    }
};

const std::vector<std::string> kNic = {"PCI\\VEN_14E4&DEV_1657&SUBSYS_22BE103C&REV_01",
                                       "PCI\\VEN_14E4&DEV_1657&SUBSYS_22BE103C", "PCI\\VEN_14E4&DEV_1657&CC_020000",
                                       "PCI\\VEN_14E4&DEV_1657&CC_0200"};

TEST_F(StdeqPciTest, RowsOfPresentDevicesAndSlots)
{
    StorageSim sim;
    StorageSimScope scope(sim);
    sim.AddPciDevice(Function("PCI\\VEN_14E4&DEV_1657\\0", 3, 0, 0, kNic, "Port 1", 255));
    sim.AddPciDevice(Function("PCI\\VEN_14E4&DEV_1657\\1", 3, 0, 1, kNic, "Port 2", 255));
    SimPciDevice storage = Function("PCI\\VEN_8086&DEV_0A54\\0", 0x5E, 0, 0,
                                    {"PCI\\VEN_8086&DEV_0A54&SUBSYS_56781234&REV_02",
                                     "PCI\\VEN_8086&DEV_0A54&CC_010802", "PCI\\VEN_8086&DEV_0A54&CC_0108"},
                                    "", 4);
    storage.Description = "Storage controller";  // named by its description: no friendly name
    sim.AddPciDevice(storage);
    // No name at all: column 5 stays unwritten.
    sim.AddPciDevice(Function("PCI\\VEN_102B&DEV_0533\\0", 7, 0, 0, {"PCI\\VEN_102B&DEV_0533&CC_030000"}, "", 9));
    // Counted in the change check, but without rows.
    SimPciDevice lost = Function("PCI\\VEN_1077&DEV_2031\\0", 9, 0, 0, {"PCI\\VEN_1077&DEV_2031&CC_0C0400"}, "FC");
    lost.Locatable = false;
    sim.AddPciDevice(lost);
    // Hidden: bridge, memory controller, interrupt controller; and an ID that is not a PCI function.
    sim.AddPciDevice(Function("PCI\\VEN_8086&DEV_2F02\\0", 0, 1, 0, {"PCI\\VEN_8086&DEV_2F02&CC_060400"}, "Bridge"));
    sim.AddPciDevice(Function("PCI\\VEN_8086&DEV_2FA8\\0", 0, 5, 0, {"PCI\\VEN_8086&DEV_2FA8&CC_050000"}, "Mem"));
    sim.AddPciDevice(Function("PCI\\VEN_8086&DEV_2F2C\\0", 0, 5, 4, {"PCI\\VEN_8086&DEV_2F2C&CC_080020"}, "APIC"));
    sim.AddPciDevice(Function("PCI\\CC_0300\\0", 7, 0, 0, {"PCI\\CC_0300"}, "not a function"));

    s_SMBIOSTable = std::make_unique<CSMBIOSTable>(BuildCopy(BuildStructures({
        // The NIC's slot by address (UI number 255): slot ID 2, x8 (width 0x0B gives 9).
        SystemSlot(0x900, 0xA5, 0x0B, 4, 2, 3, 0 << 3),
        // Slot 4 by ID: x16 (0x0D gives 11).
        SystemSlot(0x901, 0xA6, 0x0D, 4, 4, 0x5E, 0),
        // Two empty slots on bus 0xFF: one row, the later one's values.
        SystemSlot(0x902, 0xA5, 0x0A, 3, 5, 0xFF, 0),
        SystemSlot(0x903, 0x1F, 0x0C, 3, 6, 0xFF, 0),
        // An empty slot behind the NIC's bus: its row would go to 3.0, where the NIC's row stays.
        SystemSlot(0x904, 0x14, 0x0C, 3, 7, 3, 2 << 3),
        // An old, short empty slot: its ID and width serve the display (UI number 9), its bus is
        // not read, so it gives no empty-slot row.
        SystemSlot(0x905, 0xA5, 0x05, 3, 9, 0, 0, 13),
        {127, 0x7F00, {}, {}},
    })));
    ASSERT_TRUE(s_SMBIOSTable->IsValid());

    DATASTORE staging(false);
    s_ZDTSTDEQDataCollector.Collect_zdtSePci(0, &staging);

    EXPECT_EQ((std::vector<std::string>{"3.0", "7.0", "94.0", "255.0"}), Rows(staging, 1));
    EXPECT_EQ((std::vector<std::string>{"3.0.0", "3.0.1", "7.0.0", "94.0.0"}), Rows(staging, 2));
    ASSERT_EQ(5u, s_ZDTSTDEQDataCollector.CurrentPciList().size());
    const PCI_DEVICE_INFO &unlocated = s_ZDTSTDEQDataCollector.CurrentPciList()[4];
    EXPECT_EQ(0, unlocated.Bus);
    EXPECT_STREQ("PCI\\VEN_1077&DEV_2031\\0", unlocated.Ids);

    // The NIC's slot: two functions, one row with the later function's values.
    EXPECT_EQ(std::optional<int32_t>(3), Slot(staging, 1, 3, 0));
    EXPECT_EQ(std::optional<int32_t>(0), Slot(staging, 2, 3, 0));
    EXPECT_EQ(std::optional<int32_t>(2), Slot(staging, 3, 3, 0));
    EXPECT_EQ(std::optional<std::string>(std::string("\x10\x3C\x22\xBE\0\0\0\0", 8)), SlotText(staging, 4, 3, 0));
    EXPECT_EQ(std::optional<std::string>("Port 2"), SlotText(staging, 5, 3, 0));
    EXPECT_EQ(std::optional<int32_t>(9), Slot(staging, 6, 3, 0));
    EXPECT_EQ(std::nullopt, Slot(staging, 7, 3, 0));
    EXPECT_EQ(std::optional<int32_t>(6), Slot(staging, 9, 3, 0));
    EXPECT_EQ(std::optional<int32_t>(0), Slot(staging, 2, 3, 0));
    EXPECT_EQ(std::optional<int32_t>(2), Slot(staging, 10, 3, 0));
    // The storage controller: width from slot 4.
    EXPECT_EQ(std::optional<int32_t>(4), Slot(staging, 3, 0x5E, 0));
    EXPECT_EQ(std::optional<int32_t>(11), Slot(staging, 6, 0x5E, 0));
    EXPECT_EQ(std::optional<std::string>("Storage controller"), SlotText(staging, 5, 0x5E, 0));
    // The display: width from the short slot 9; no name.
    EXPECT_EQ(std::optional<int32_t>(9), Slot(staging, 3, 7, 0));
    EXPECT_EQ(std::optional<int32_t>(3), Slot(staging, 6, 7, 0));
    EXPECT_EQ(std::nullopt, SlotText(staging, 5, 7, 0));
    EXPECT_EQ(std::optional<std::string>("Display controller"), FnText(staging, 5, 7, 0, 0));
    EXPECT_EQ(std::optional<std::string>(std::string("\x12\x34\x56\x78\0\0\0\0", 8)), SlotText(staging, 4, 0x5E, 0));
    // The empty slots at bus 0xFF: the later one.
    EXPECT_EQ(std::optional<int32_t>(6), Slot(staging, 3, 255, 0));
    EXPECT_EQ(std::optional<int32_t>(10), Slot(staging, 6, 255, 0));
    EXPECT_EQ(std::optional<int32_t>(7), Slot(staging, 9, 255, 0));
    EXPECT_EQ(std::optional<std::string>("(Empty)"), SlotText(staging, 5, 255, 0));
    EXPECT_EQ(std::optional<std::string>(std::string(8, '\xFF')), SlotText(staging, 4, 255, 0));

    // Function rows.
    EXPECT_EQ(std::optional<std::string>("020000"), FnText(staging, 4, 3, 0, 1));
    EXPECT_EQ(std::optional<std::string>("Network controller"), FnText(staging, 5, 3, 0, 1));
    EXPECT_EQ(std::optional<int32_t>(1), Fn(staging, 3, 3, 0, 1));
    EXPECT_EQ(std::optional<int32_t>(0x1657), Fn(staging, 6, 3, 0, 1));
    EXPECT_EQ(std::optional<int32_t>(0x14E4), Fn(staging, 7, 3, 0, 1));
    EXPECT_EQ(std::optional<int32_t>(1), Fn(staging, 8, 3, 0, 1));
    EXPECT_EQ(std::optional<int32_t>(255), Fn(staging, 9, 3, 0, 1));
    EXPECT_EQ(std::optional<int32_t>(2), Fn(staging, 10, 3, 0, 1));
    EXPECT_EQ(std::optional<std::string>("010802"), FnText(staging, 4, 0x5E, 0, 0));
    EXPECT_EQ(std::optional<std::string>("Mass storage controller"), FnText(staging, 5, 0x5E, 0, 0));
    EXPECT_EQ(std::optional<int32_t>(2), Fn(staging, 8, 0x5E, 0, 0));
}

SimPciDevice Nic(int bus) { return Function("PCI\\VEN_14E4&DEV_1657\\" + std::to_string(bus), bus, 0, 0, kNic, "NIC"); }

TEST_F(StdeqPciTest, ChangeTrapsOverCycles)
{
    struct Step {
        const char *what;
        std::vector<int> buses;  // NICs present, at bus . 0 . 0
        bool listFails;
        bool trapsEnabled;
        unsigned trap;           // 0: none
        int named;               // the bus of the device the trap names
        std::vector<int> previousAfter;
    } steps[] = {
        {"first cycle", {3, 5}, false, true, 0, 0, {3, 5}},
        {"one more, in the middle of the list", {3, 4, 5}, false, true, 1019, 4, {3, 4, 5}},
        {"two fewer", {3}, false, true, 1020, 4, {3}},
        {"the list cannot be read", {}, true, true, 0, 0, {3}},
        {"no device at all", {}, false, true, 0, 0, {3}},
        {"traps disabled: the list still moves on", {3, 6}, false, false, 0, 0, {3, 6}},
        {"same count, other device", {3, 7}, false, true, 0, 0, {3, 7}},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        s_ServiceParameters.EnableTraps = step.trapsEnabled;
        StorageSim sim;
        // The configuration manager refuses the device list; nothing else is asked.
        RefusingStoragePlatform broken(CR_REGISTRY_ERROR);
        IStoragePlatform *previous = SetStoragePlatformForTest(step.listFails ? static_cast<IStoragePlatform *>(&broken)
                                                                              : &sim);
        for (int bus : step.buses)
            sim.AddPciDevice(Nic(bus));
        DATASTORE staging(false);
        Cycle(staging);
        SetStoragePlatformForTest(previous);

        const std::vector<RECORDED_PDU> traps = SentTraps();
        ASSERT_EQ(step.trap ? 1u : 0u, traps.size());
        if (step.trap) {
            const std::vector<VARBIND> &v = traps[0].varbinds;
            ASSERT_EQ(6u, v.size());
            EXPECT_EQ(OidText(EnterpriseOid({0, step.trap})), OidText(v[0].oid));
            EXPECT_EQ(".1.3.6.1.2.1.1.5.0", OidText(v[1].name));
            EXPECT_FALSE(v[1].text.empty());
            EXPECT_EQ(OidText(EnterpriseOid({11, 2, 11, 1, 0})), OidText(v[2].name));
            EXPECT_EQ(8, v[2].integer);
            const uint32_t b = static_cast<uint32_t>(step.named);
            for (uint32_t column = 1; column <= 3; ++column) {
                EXPECT_EQ(OidText(EnterpriseOid({1, 2, 13, 2, 1, column, b, 0, 0})), OidText(v[2 + column].name));
                EXPECT_EQ(MIBTYPE_INTEGER, v[2 + column].type);
            }
            EXPECT_EQ(step.named, v[3].integer);
            EXPECT_EQ(0, v[4].integer);
            EXPECT_EQ(0, v[5].integer);
        }
        std::vector<int> previousBuses;
        for (const PCI_DEVICE_INFO &info : s_ZDTSTDEQDataCollector.PreviousPciList())
            previousBuses.push_back(info.Bus);
        EXPECT_EQ(step.previousAfter, previousBuses);
        EXPECT_TRUE(s_ZDTSTDEQDataCollector.CurrentPciList().empty());
    }
}

TEST_F(StdeqPciTest, CopiedRecordsPointIntoTheirOwnIds)
{
    StorageSim sim;
    StorageSimScope scope(sim);
    sim.AddPciDevice(Nic(3));
    DATASTORE staging(false);
    Cycle(staging);
    ASSERT_EQ(1u, s_ZDTSTDEQDataCollector.PreviousPciList().size());
    const PCI_DEVICE_INFO &saved = s_ZDTSTDEQDataCollector.PreviousPciList()[0];
    ASSERT_NE(nullptr, saved.ClassCodeText);
    EXPECT_GE(saved.ClassCodeText, saved.Ids);
    EXPECT_LT(saved.ClassCodeText, saved.Ids + sizeof saved.Ids);
    EXPECT_STREQ("020000", saved.ClassCodeText);
    EXPECT_STREQ("Network controller", saved.ClassName);
}

TEST_F(StdeqPciTest, SlotNumberFromAnAncestorChain)
{
    StorageSim sim;
    StorageSimScope scope(sim);
    SimPciDevice root;
    root.DeviceId = "ROOT\\0";
    const int rootIndex = sim.AddPciDevice(root);
    SimPciDevice acpi;
    acpi.DeviceId = "ACPI\\PNP0A08\\0";
    acpi.HardwareIds = {"ACPI\\PNP0A08"};
    acpi.Parent = rootIndex;
    const int acpiIndex = sim.AddPciDevice(acpi);
    SimPciDevice bridge = Function("PCI\\VEN_8086&DEV_3C08\\0", 0, 3, 0, {"PCI\\VEN_8086&DEV_3C08&CC_060400"});
    bridge.Parent = acpiIndex;
    const int bridgeIndex = sim.AddPciDevice(bridge);
    SimPciDevice port = Function("PCI\\VEN_10DF&DEV_F101\\0", 4, 0, 0, {"PCI\\VEN_10DF&DEV_F101&CC_060400"}, "", 6);
    port.Parent = bridgeIndex;
    const int portIndex = sim.AddPciDevice(port);
    SimPciDevice adapter = Function("PCI\\VEN_10DF&DEV_F100\\0", 5, 0, 0, {"PCI\\VEN_10DF&DEV_F100&CC_0C0400"}, "FC");
    adapter.Parent = portIndex;
    sim.AddPciDevice(adapter);
    SimPciDevice other = adapter;  // same chain, a device ID that does not ask for it
    other.DeviceId = "PCI\\VEN_10DF&DEV_F200\\0";
    other.HardwareIds = {"PCI\\VEN_10DF&DEV_F200&CC_0C0400"};
    other.Location = "PCI bus 8, device 0, function 0";
    sim.AddPciDevice(other);

    DATASTORE staging(false);
    s_ZDTSTDEQDataCollector.Collect_zdtSePci(0, &staging);
    EXPECT_EQ(std::optional<int32_t>(6), Slot(staging, 3, 5, 0));
    ASSERT_EQ(2u, s_ZDTSTDEQDataCollector.CurrentPciList().size());
    EXPECT_EQ(0u, s_ZDTSTDEQDataCollector.CurrentPciList()[1].UiNumber);
}

} // namespace

// The driver records' PCI devices: each present, locatable function with a driver service, its bus
// and address as the configuration manager gives them, 0 for numbers it cannot give.
TEST(PresentPciFunctionsTest, ServiceBusAndAddressOfEachFunction)
{
    StorageSim sim;
    StorageSimScope scope(sim);
    auto add = [&](const char *id, const char *service, std::optional<uint32_t> bus, std::optional<uint32_t> address,
                   bool present = true, bool locatable = true) {
        SimPciDevice device;
        device.DeviceId = id;
        device.Service = service;
        device.BusNumber = bus;
        device.Address = address;
        device.Present = present;
        device.Locatable = locatable;
        sim.AddPciDevice(device);
    };
    add("PCI\\VEN_14E4&DEV_1657\\0", "b57nd60a", 0x3B, 0x00020000);
    add("PCI\\VEN_14E4&DEV_1657\\1", "b57nd60a", 0x3B, 0x00020001);
    add("PCI\\VEN_8086&DEV_0A54\\0", "stornvme", std::nullopt, 0x00010000);  // no bus: no address asked
    add("PCI\\VEN_8086&DEV_1D3A\\0", "", 1, 0);                              // no service: not a driver's
    add("PCI\\VEN_1077&DEV_2031\\0", "ql2300", 5, 0, false);                  // not present
    add("PCI\\VEN_102B&DEV_0533\\0", "mga", 7, 0, true, false);                // cannot be located

    const std::vector<PCI_FUNCTION> functions = PresentPciFunctions();
    ASSERT_EQ(3u, functions.size());
    EXPECT_EQ("b57nd60a", functions[0].service);
    EXPECT_EQ(0x3Bu, functions[0].bus);
    EXPECT_EQ(0x00020001u, functions[1].address);
    EXPECT_EQ("stornvme", functions[2].service);
    EXPECT_EQ(0u, functions[2].bus);
    EXPECT_EQ(0u, functions[2].address);
    EXPECT_EQ("0000:3B:02.0 0000:3B:02.1", PciLocationsOf("b57nd60a", functions));
}
