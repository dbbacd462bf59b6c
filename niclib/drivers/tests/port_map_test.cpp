// The SMBIOS port map on a described host: the table from WMI rows of MSSmBios_RawSMBiosTables,
// network-class devices with their locations, slots and parents, and the partition probes.
#include "adapter_data_support.h"

#include "partition_probe.h"
#include "port_map.h"
#include "smbios_samples.h"

#include <gtest/gtest.h>

#include <functional>

using namespace nictest;

namespace {

constexpr wchar_t kNetClass[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kSmbiosWql[] = L"SELECT * FROM MSSmBios_RawSMBiosTables";

NicHostWmiValue Number(int64_t value)
{
    NicHostWmiValue v;
    v.kind = NicHostWmiValue::kUInt32;
    v.number = value;
    return v;
}

// Type 1 with the product name, and (optionally) type 204 with the bay.
std::vector<uint8_t> Structures(const std::string &product, const char *bay = "3")
{
    std::vector<SampleStructure> list = {{1, 1, {1, 2, 0, 0}, {"Maker", product}}};
    if (bay != nullptr)
        list.push_back({204, 2, {0, 0, 0, 1}, {bay}});
    list.push_back({127, 3, {}, {}});
    return BuildStructures(list);
}

class PortMapTest : public AdapterDataTestBase {
protected:
    void SetUp() override
    {
        AdapterDataTestBase::SetUp();
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        g_PortMap.Reset();
        g_PortMapProductData = {};
        DeleteTree(NicFixture::kDeviceKeyRoot);
    }
    void TearDown() override
    {
        g_PortMap.Reset();
        g_PortMapProductData = {kPortMapFirstBladeModel, kPortMapFirstBladeParentId, kPortMapSecondBladeModel};
        CoUninitialize();
        AdapterDataTestBase::TearDown();
    }
    // The SMBIOS instance as root\wmi hands it out; size -1 claims the array's length.
    void Smbios(const std::vector<uint8_t> &structures, int64_t size = -1, bool bytes = true)
    {
        NicHostWmiRow row;
        row.ns = L"\\\\.\\root\\wmi";
        row.wql = kSmbiosWql;
        NicHostWmiValue data;
        data.kind = bytes ? NicHostWmiValue::kBytes : NicHostWmiValue::kNull;
        data.bytes = structures;
        NicHostWmiValue used;
        used.kind = NicHostWmiValue::kBool;
        used.number = 1;
        row.properties = {{L"SMBiosData", data},
                          {L"Size", Number(size >= 0 ? size : static_cast<int64_t>(structures.size()))},
                          {L"Used20CallingMethod", used},
                          {L"SmbiosMajorVersion", Number(2)},
                          {L"SmbiosMinorVersion", Number(8)},
                          {L"DmiRevision", Number(0)}};
        fixture.Host().wmiRows.push_back(row);
    }
    NicHostDevice &Device(const std::wstring &id, const std::wstring &service, const std::wstring &location)
    {
        NicHostDevice device;
        device.id = id;
        device.classGuid = kNetClass;
        device.properties[CM_DRP_SERVICE] = service;
        device.properties[CM_DRP_DEVICEDESC] = service + L" adapter";
        if (!location.empty())
            device.properties[CM_DRP_LOCATION_INFORMATION] = location;
        fixture.Host().devices.push_back(device);
        return fixture.Host().devices.back();
    }
    NicHostDevice &Bus(const std::wstring &id, const std::wstring &location, int64_t ui = -1)
    {
        NicHostDevice device;
        device.id = id;
        device.classGuid = L"{4d36e97d-e325-11ce-bfc1-08002be10318}";
        device.properties[CM_DRP_LOCATION_INFORMATION] = location;
        if (ui >= 0)
            device.numbers[CM_DRP_UI_NUMBER] = static_cast<uint32_t>(ui);
        fixture.Host().devices.push_back(device);
        return fixture.Host().devices.back();
    }
    const PORTMAPDEVICE *Walked(const std::wstring &service) const
    {
        for (const PORTMAPDEVICE &device : g_PortMap.GetDevices())
            if (device.serviceName == service)
                return &device;
        return nullptr;
    }
};

TEST_F(PortMapTest, BuildReadsServerAndWalksTheDevices)
{
    Smbios(Structures("Rack Server 10", "12"));
    NicHostDevice &plain = Device(L"PCI\\VEN_8086&DEV_1572&SUBSYS_00018086&REV_01\\3&1", L"i40ea",
                                  L"PCI bus 3, device 0, function 1");
    plain.numbers[CM_DRP_UI_NUMBER] = 0x104; // the low eight bits are the slot
    Device(L"PCI\\VEN_8086&DEV_1572&SUBSYS_00018086&REV_01\\3&2", L"i40eb",
           L"PCI Segment 2 bus 4, device 0, function 1");
    NicHostDevice nameless = {L"PCI\\VEN_1\\1", L"", kNetClass, {{CM_DRP_SERVICE, L"nodesc"}}, {}, {}};
    fixture.Host().devices.push_back(nameless); // no description: skipped
    EXPECT_EQ(1, PortMapInit());
    EXPECT_EQ("Rack Server 10", g_PortMap.GetServerName());
    EXPECT_EQ(12, g_PortMap.GetServerBay());
    ASSERT_EQ(2u, g_PortMap.GetDevices().size());
    const PORTMAPDEVICE *first = Walked(L"i40ea");
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(-1, first->segment);
    EXPECT_EQ(3, first->bus);
    EXPECT_EQ(0, first->device);
    EXPECT_EQ(1, first->function);
    EXPECT_EQ(4, first->slot);
    const PORTMAPDEVICE *second = Walked(L"i40eb");
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(2, second->segment);
    EXPECT_EQ(4, second->bus);
    EXPECT_EQ(0, second->slot); // no UI number
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CPortMap::GetSystemInfo"), L"Server name: Rack Server 10"));
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CPortMap::GetServerBayNumber"), L"Server Bay Number: 12"));
    const auto slot = LogMessages(s_LogPath, L"CPortMap::GetSlotNumber");
    EXPECT_EQ(1u, CountOf(slot, L"Return code: STATUS_PRTMAP_NO_ERROR SlotNumber: 4"));
    EXPECT_EQ(1u, CountOf(slot, L"CM_Get_DevNode_Registry_PropertyW returned 2. ServiceName: i40eb"));
}

TEST_F(PortMapTest, EveryLookupMissesAndLogsTheLevels)
{
    Smbios(Structures("Rack Server 10", nullptr));
    EXPECT_EQ(1, PortMapInit()); // no rack structure: a warning, the build goes on
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CPortMap::GetServerBayNumber"), L"Can't parse smbios rack info."));
    int32_t slot = 9, bay = 9, port = 9, virtualPort = 9;
    EXPECT_EQ(0, PortMapGetPortInfo(-1, 3, 0, 1, 0, &slot, &bay, &port, &virtualPort));
    EXPECT_EQ(-1, slot);
    EXPECT_EQ(-1, bay);
    EXPECT_EQ(-1, port);
    EXPECT_EQ(9, virtualPort);
    EXPECT_EQ(0u, PortMapGetBayInfoFlag());
    const std::vector<std::wstring> expected = {
        L"Retrieving nic port info...", L"Cannot find Port mapping entry for..", L"SegmentNumber: -1",
        L"BusNumber: 3", L"DeviceNumber: 0", L"FunctionNumber: 1", L"LocationNumber: 0"};
    EXPECT_EQ(expected, LogMessages(s_LogPath, L"CPortMap::GetPortInfo"));
}

TEST_F(PortMapTest, LookupBuildsTheMapFirstOnlyOnce)
{
    Smbios(Structures("Rack Server 10"));
    int32_t slot, bay, port, virtualPort = 0;
    EXPECT_EQ(0, g_PortMap.GetPortInfo(0, 1, 2, 3, 4, &slot, &bay, &port, &virtualPort));
    EXPECT_EQ(0, g_PortMap.GetPortInfo(0, 1, 2, 3, 4, &slot, &bay, &port, &virtualPort));
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CPortMap::GetPortInfo"), L"Initializing nic port."));
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CPortMap::Init"), L"Initializing port map."));
}

TEST_F(PortMapTest, UnusableTables)
{
    struct Case {
        const char *name;
        std::function<void(PortMapTest &)> describe;
        int init;
        const wchar_t *function;
        const wchar_t *warning;
    };
    const Case cases[] = {
        {"no WMI instance", [](PortMapTest &) {}, 0, L"CPortMap::Init", L"GetSMBIOSTableFromWMI returned 2"},
        {"VT_NULL data", [](PortMapTest &t) { t.Smbios({}, 0, false); }, 0, L"CPortMap::GetSMBIOSProperties",
         L"Can't get data from SMBIOS table. Return code: 0x80041005"},
        {"no type 1", [](PortMapTest &t) { t.Smbios(BuildStructures({{204, 2, {0, 0, 0, 1}, {"1"}}})); }, 0,
         L"CPortMap::GetSystemInfo", L"Failed to get SMBIOS_SYSTEM_INFO_DATA"},
    };
    for (const Case &c : cases) {
        fixture.Host().wmiRows.clear();
        fixture.Host().wmiNamespaces = {L"root\\wmi"};
        Device(L"PCI\\VEN_8086&DEV_1572\\1", L"i40ea", L"PCI bus 3, device 0, function 1");
        c.describe(*this);
        EXPECT_EQ(c.init, PortMapInit()) << c.name;
        EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, c.function), c.warning)) << c.name;
        EXPECT_TRUE(g_PortMap.GetDevices().empty()) << c.name; // the walk never ran
        EXPECT_EQ("Unknown", g_PortMap.GetServerName()) << c.name;
        EXPECT_EQ(1u, g_PortMap.IsInitialized()) << c.name; // not tried again lazily
        ConfigureVerboseLog(L"nic-miniport-log");
    }
}

TEST_F(PortMapTest, ClaimedSizeBeyondTheArrayIsCut)
{
    Smbios(Structures("Blade"), 100000);
    EXPECT_EQ(1, PortMapInit());
    ASSERT_NE(nullptr, g_PortMap.GetTable());
    EXPECT_EQ(Structures("Blade").size() + 8, g_PortMap.GetTable()->TableEnd());
    EXPECT_EQ(2, g_PortMap.GetTable()->MajorVersion());
    EXPECT_EQ(8, g_PortMap.GetTable()->MinorVersion());
}

TEST_F(PortMapTest, FunctionsLocatedThroughTheirParent)
{
    Smbios(Structures("Rack Server 10"));
    Bus(L"PCI\\VEN_15B3&DEV_1003&SUBSYS_0055103C&REV_00\\4&1", L"PCI bus 5, device 0, function 0", 7);
    NicHostDevice &eth = Device(L"MLX4\\CONNECTX-3_ETH\\5&1", L"mlx4eth63", L"");
    eth.parent = L"PCI\\VEN_15B3&DEV_1003&SUBSYS_0055103C&REV_00\\4&1";
    eth.numbers[CM_DRP_UI_NUMBER] = 2;
    NicHostDevice &ib = Device(L"IBA\\IPOIB\\5&2", L"ipoib6x", L"");
    ib.parent = L"PCI\\VEN_15B3&DEV_1003&SUBSYS_0055103C&REV_00\\4&1";
    NicHostDevice &sf = Device(L"SFC\\VEN_1924&DEV_0803\\6&1", L"SFCNDIS", L"");
    sf.parent = L"PCI\\VEN_1924&DEV_0803\\5&9";
    Bus(L"PCI\\VEN_1924&DEV_0803\\5&9", L"7, 2, 0, 1"); // whole text: segment 7
    NicHostDevice &orphan = Device(L"MLX4\\CONNECTX_ETH\\5&3", L"MLX4BUS", L"");
    (void)orphan;
    // The InfiniBand function has no UI number: its hardware key's InstanceIndex names the port.
    SetDword((std::wstring(NicFixture::kDeviceKeyRoot) + L"\\IBA#IPOIB#5&2\\Hardware").c_str(), L"InstanceIndex", 2);
    EXPECT_EQ(1, PortMapInit());

    const PORTMAPDEVICE *e = Walked(L"mlx4eth63");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ((std::vector<int32_t>{-1, 5, 0, 1}), (std::vector<int32_t>{e->segment, e->bus, e->device, e->function}));
    EXPECT_EQ(7, e->slot);    // the parent's UI number
    EXPECT_EQ(2, e->portLike); // its own
    const PORTMAPDEVICE *i = Walked(L"ipoib6x");
    ASSERT_NE(nullptr, i);
    EXPECT_EQ(1, i->function);
    EXPECT_EQ(7, i->slot);
    EXPECT_EQ(-1, i->portLike);
    const PORTMAPDEVICE *s = Walked(L"SFCNDIS");
    ASSERT_NE(nullptr, s);
    EXPECT_EQ((std::vector<int32_t>{7, 2, 0, 1}), (std::vector<int32_t>{s->segment, s->bus, s->device, s->function}));
    EXPECT_EQ(0, s->slot); // its parent has no UI number
    const PORTMAPDEVICE *o = Walked(L"MLX4BUS");
    ASSERT_NE(nullptr, o);
    EXPECT_EQ(-1, o->bus);
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CPortMap::GetSegBusDeviceFunctionNumber"), L"CM_Get_Parent failed"));
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CPortMap::GetSegBusDeviceFunctionNumber"), L"InstanceIndex: 2"));
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CPortMap::GetSlotNumber"), L"CM_Get_Parent returned 13"));
}

TEST_F(PortMapTest, BladeModels)
{
    struct Case {
        const char *product;
        uint32_t ui;
        int32_t slot;
    };
    const Case cases[] = {
        {"Test Blade Two", 4, 6}, {"Test Blade Two", 6, 4}, {"Test Blade Two", 5, 5},
        {"Rack Server 10", 4, 4}, {"Rack Server 10", 6, 6},
    };
    g_PortMapProductData = {"Test Blade One", L"PCI\\VEN_15B3&DEV_1007&SUBSYS_22F5103C", "Test Blade Two"};
    for (const Case &c : cases) {
        fixture.Host().wmiRows.clear();
        fixture.Host().devices.clear();
        Smbios(Structures(c.product));
        Device(L"PCI\\VEN_8086&DEV_1572\\1", L"i40ea", L"PCI bus 3, device 0, function 1").numbers[CM_DRP_UI_NUMBER] =
            c.ui;
        EXPECT_EQ(1, PortMapInit());
        ASSERT_EQ(1u, g_PortMap.GetDevices().size());
        EXPECT_EQ(c.slot, g_PortMap.GetDevices()[0].slot) << c.product << " " << c.ui;
    }
    // On the first model a Mellanox function under the listed PCI identity sits in slot 1, even
    // though its parent has no UI number; anywhere else it has none.
    for (const char *product : {"Test Blade One", "Rack Server 10"}) {
        fixture.Host().wmiRows.clear();
        fixture.Host().devices.clear();
        Smbios(Structures(product));
        Bus(L"PCI\\VEN_15B3&DEV_1007&SUBSYS_22F5103C&REV_00\\4&1", L"PCI bus 5, device 0, function 0");
        Device(L"MLX4\\CONNECTX-3_ETH\\5&1", L"mlx4eth63", L"").parent =
            L"PCI\\VEN_15B3&DEV_1007&SUBSYS_22F5103C&REV_00\\4&1";
        EXPECT_EQ(1, PortMapInit());
        ASSERT_EQ(1u, g_PortMap.GetDevices().size());
        EXPECT_EQ(std::string(product) == "Test Blade One" ? 1 : 0, g_PortMap.GetDevices()[0].slot) << product;
    }
}

TEST_F(PortMapTest, PartitionProbesByService)
{
    struct Case {
        const wchar_t *service;
        uint32_t oid;
        std::vector<uint8_t> answer;
        uint32_t status;
        bool partitioned;
        const wchar_t *message;
    };
    std::vector<uint8_t> qlogic2(20, 0);
    qlogic2[8] = 2;
    std::vector<uint8_t> qlogic1(20, 0);
    qlogic1[8] = 1;
    const Case cases[] = {
        {L"be2net", kOidEmulexPartition, Bytes(2, 4), 0, true, L"This is a Partitioned Emulex adapter."},
        {L"be2net", kOidEmulexPartition, Bytes(0, 4), 0, false, nullptr},
        {L"be2net", kOidEmulexPartition, Bytes(5, 2), 0, false, nullptr}, // a short answer is no answer
        {L"NXND6QZ", kOidQlogicPartition, qlogic2, 0, true, L"This is a Partitioned Qlogic adapter."},
        {L"QLNDNIC", kOidQlogicPartition, qlogic1, 0, false, nullptr},
        {L"mlx4eth6", kOidMellanoxPartition, {4}, 0, true, L"This is a Partitioned Mellanox adapter."},
        {L"ipoib6x", kOidMellanoxPartition, {4}, 50, false, nullptr}, // the driver refuses the OID
        {L"MLX4ETH6", kOidMellanoxPartition, {4}, 0, false, nullptr},  // names compare with case
    };
    for (const Case &c : cases) {
        fixture.Host().wmiRows.clear();
        fixture.Host().devices.clear();
        fixture.Host().ndis.clear();
        ConfigureVerboseLog(L"nic-miniport-log");
        Smbios(Structures("Rack Server 10"));
        const std::wstring path = L"\\\\?\\PCI#VEN_1#3&1#{AD498944-762F-11D0-8DCB-00C04FC3358C}\\{ABC}";
        std::wstring lower = path;
        for (wchar_t &ch : lower)
            ch = static_cast<wchar_t>(towlower(ch));
        Device(L"PCI\\VEN_1\\3&1", c.service, L"PCI bus 3, device 0, function 1").lanInterfaces = {path};
        fixture.Host().ndis.push_back({lower, kIoctlNdisQueryGlobalStats, c.oid, c.status, c.answer});
        EXPECT_EQ(1, PortMapInit());
        ASSERT_EQ(1u, g_PortMap.GetDevices().size());
        EXPECT_EQ(lower, g_PortMap.GetDevices()[0].interfacePath);
        EXPECT_EQ(c.partitioned, g_PortMap.GetDevices()[0].partitioned) << c.service;
        const auto lines = LogMessages(s_LogPath, L"CPortMap::IsThisAPartitionedAdapter");
        EXPECT_EQ(c.message != nullptr ? 1u : 0u, lines.size()) << c.service;
        if (c.message != nullptr) {
            EXPECT_EQ(1u, CountOf(lines, c.message)) << c.service;
        }
    }
}

} // namespace
