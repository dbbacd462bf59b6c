// PCIe disks over the simulated NVMe disks, a faked WMI (the disks and the SCSI controller
// classes Wine lacks), the real registry of the test prefix and a hand-built SMBIOS copy:
// discovery, the table, the overall condition, and the traps over cycles.
#include "host_test_support.h"
#include "zdtstdeq_collector.h"
#include "zdtstdeq_pcie.h"

#include "registry.h"
#include "service_parameters.h"
#include "sim_nvme_disk.h"
#include "smbios_samples.h"
#include "smbios_table.h"
#include "stdeq_maker_ids.h"
#include "storagesim.h"
#include "store_writers.h"
#include "traps.h"
#include "wmi.h"
#include "wmi_fakes.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>

using namespace hosttest;

namespace {

constexpr char kEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum\\";
constexpr char kParametersKey[] = "System\\CurrentControlSet\\Services\\qzrtlm\\Parameters";
constexpr wchar_t kStatusKey[] =
    L"HKLM:System\\CurrentControlSet\\Services\\JUV\\MibStore\\MirtolServer\\Std_Equip\\Component\\PCIeDiskStatus";

constexpr char kStatusLeaf[] =
    "System\\CurrentControlSet\\Services\\JUV\\MibStore\\MirtolServer\\Std_Equip\\Component\\PCIeDiskStatus";

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

// One Win32_DiskDrive with its controller.
struct FakeDisk {
    int index;
    std::string pnp;            // PNPDeviceID
    std::string controller;     // the controller's device ID; "" for no association
    std::string status = "OK";  // Win32_SCSIController Status
    std::string antecedent = {};  // overrides the association's Antecedent
    std::string size = "960197124096";
};

// Win32_DiskDrive, Win32_SCSIControllerDevice and Win32_SCSIController from the test's disks.
class PcieConnection : public CWMIConnection {
public:
    PcieConnection() : CWMIConnection(nullptr) {}
    std::vector<FakeDisk> disks;
    bool failing = false;  // every enumeration fails to start

    CWMIEnumerator CreateInstanceEnum(const wchar_t *className) override
    {
        if (failing)
            return CWMIEnumerator();
        std::vector<ComPtr<IWbemClassObject>> rows;
        const std::wstring name = className;
        for (const FakeDisk &d : disks) {
            auto *row = new FakeClassObject();
            if (name == L"Win32_DiskDrive") {
                row->SetString(L"DeviceID", (L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(d.index)).c_str());
                row->SetString(L"PNPDeviceID", Wide(d.pnp).c_str());
                row->SetInt(L"Index", VT_I4, d.index);
                row->SetString(L"Size", Wide(d.size).c_str());
            } else if (name == L"Win32_SCSIControllerDevice" && !d.controller.empty()) {
                std::string pnp, controller;
                for (char c : d.pnp)
                    pnp += c == '\\' ? std::string("\\\\") : std::string(1, c);
                for (char c : d.controller)
                    controller += c == '\\' ? std::string("\\\\") : std::string(1, c);
                const std::string antecedent = d.antecedent.empty()
                    ? "\\\\TEST\\root\\cimv2:Win32_SCSIController.DeviceID=\"" + controller + "\""
                    : d.antecedent;
                row->SetString(L"Antecedent", Wide(antecedent).c_str());
                row->SetString(L"Dependent", Wide("\\\\TEST\\root\\cimv2:Win32_PnPEntity.DeviceID=\"" + pnp + "\"").c_str());
            } else if (name == L"Win32_SCSIController" && !d.controller.empty()) {
                row->SetString(L"PNPDeviceID", Wide(d.controller).c_str());
                row->SetString(L"Status", Wide(d.status).c_str());
            } else {
                row->Release();
                continue;
            }
            rows.emplace_back(row);
        }
        return CWMIEnumerator(new FakeEnumerator(std::move(rows)));
    }
};

const std::string kControllerA = "PCI\\VEN_144D&DEV_A808&SUBSYS_A801144D&REV_00\\4&2B8F0C1&0&0018";
const std::string kControllerB = "PCI\\VEN_8086&DEV_0953&SUBSYS_370A8086&REV_01\\4&11AA&0&0020";
const std::string kControllerC = "PCI\\VEN_1C5C&DEV_1327&SUBSYS_00001C5C&REV_00\\4&3&0&0040";
const std::string kMakerController =
    "PCI\\VEN_8086&DEV_0953&SUBSYS_0A02" + std::string("1F7A") + "&REV_01\\4&77&0&0030";

// A system slot (type 9) at bus . devfn and the location record (type 203) naming it.
SampleStructure Slot(uint16_t handle, uint8_t bus, uint8_t devfn)
{
    return {9, handle, {1, 0xB6, 0x0D, 4, 0x08, 1, 0, 0x04, 0x01, 0, 0, bus, devfn}, {"SLOT"}};
}
SampleStructure LocationRecord(uint16_t handle, uint16_t slot, const char *text)
{
    std::vector<uint8_t> body(28, 0);
    body[0] = static_cast<uint8_t>(slot);
    body[1] = static_cast<uint8_t>(slot >> 8);
    body[27] = 1;
    return {203, handle, body, {text}};
}

class StdeqPcieTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(InitDataStores());
        InitTraps();
        s_ZDTSTDEQDataCollector.ForgetDevices();
        m_SavedWmi = std::move(s_WMICimV2);
        auto connection = std::make_unique<PcieConnection>();
        wmi = connection.get();
        s_WMICimV2 = std::move(connection);
        s_SMBIOSTable = std::make_unique<CSMBIOSTable>(BuildCopy(BuildStructures(
            {Slot(0x900, 3, 0x00), LocationRecord(0xCB0, 0x900, "NVMe Bay 1")})));
        m_PreviousPlatform = SetStoragePlatformForTest(&sim);
        SetLocation(kControllerA, "@System32\\drivers\\pci.sys,#65536;PCI bus %1, device %2, function %3;(3,0,0)");
        SetLocation(kControllerC, "PCI Slot 5 (4,1,2)");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParametersKey);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kStatusLeaf);
    }
    void TearDown() override
    {
        SetStoragePlatformForTest(m_PreviousPlatform);
        s_WMICimV2 = std::move(m_SavedWmi);
        s_SMBIOSTable.reset();
        for (const std::string &key : m_EnumKeys)
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParametersKey);
        s_ZDTSTDEQDataCollector.ForgetDevices();
        s_ServiceParameters.EnableTraps = 1;
        TermTraps();
    }

    void SetLocation(const std::string &controller, const char *location)
    {
        const std::string key = kEnumKey + controller;
        HKEY handle = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &handle, nullptr));
        RegSetValueExA(handle, "LocationInformation", 0, REG_SZ, reinterpret_cast<const BYTE *>(location),
                       static_cast<DWORD>(strlen(location) + 1));
        RegCloseKey(handle);
        m_EnumKeys.push_back(key);
    }
    static void SetTimeout(DWORD seconds)
    {
        HKEY handle = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &handle, nullptr));
        RegSetValueExA(handle, "SCSIPassthroughTimeout", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&seconds),
                       sizeof seconds);
        RegCloseKey(handle);
    }
    std::shared_ptr<SimNvmeDisk> AddDisk(FakeDisk disk, const std::string &serial, const std::string &model = "NVMe Disk 960GB")
    {
        auto device = std::make_shared<SimNvmeDisk>(serial, model, "1B2QEXM7");
        sim.AddDevice("\\\\.\\PhysicalDrive" + std::to_string(disk.index), device);
        wmi->disks.push_back(std::move(disk));
        return device;
    }
    // A server of its own holding only this disk, in place of the last one.
    StorageSim &OnlyDisk(std::shared_ptr<SimNvmeDisk> disk, FakeDisk wmiDisk)
    {
        auto local = std::make_unique<StorageSim>();
        local->AddDevice("\\\\.\\PhysicalDrive" + std::to_string(wmiDisk.index), std::move(disk));
        SetStoragePlatformForTest(local.get());
        m_Local = std::move(local);
        wmi->disks = {std::move(wmiDisk)};
        return *m_Local;
    }
    static std::vector<PCIE_DISK_INFO> Discover()
    {
        std::vector<PCIE_DISK_INFO> disks;
        EXPECT_EQ(0, EnumeratePcieDisks(&disks));
        return disks;
    }
    // One cycle of the two PCIe disk steps.
    static void Cycle(DATASTORE *staging, int firstRun = 0)
    {
        s_ZDTSTDEQDataCollector.Collect_zdtSePcieDisk(firstRun, staging);
        s_ZDTSTDEQDataCollector.UpdatePcieDiskData();
    }
    static std::optional<int32_t> Col(DATASTORE &store, uint32_t column, uint32_t b = 3, uint32_t d = 0, uint32_t f = 0)
    {
        return IntAt(&store, EnterpriseOid({1, 2, 23, 1, 1, column, b, d, f}));
    }
    static std::optional<std::string> ColText(DATASTORE &store, uint32_t column, uint32_t b = 3, uint32_t d = 0,
                                              uint32_t f = 0)
    {
        return TextAt(&store, EnterpriseOid({1, 2, 23, 1, 1, column, b, d, f}));
    }
    static std::optional<uint32_t> ColUnsigned(DATASTORE &store, uint32_t column, uint16_t type)
    {
        std::optional<uint32_t> found;
        const MIBOID oid = EnterpriseOid({1, 2, 23, 1, 1, column, 3, 0, 0});
        store.Walk(oid, s_NoEndOid, false, [&](const MIBOID &at, const MIBVALUE_REF &value) {
            if (at == oid && value.type == type)
                found = value.U32();
            return false;
        });
        return found;
    }
    // True when the step wrote nothing at all into the staging store.
    static bool StagingIsEmpty(DATASTORE &staging)
    {
        bool empty = true;
        staging.Walk(EnterpriseOid({}), s_NoEndOid, false, [&](const MIBOID &, const MIBVALUE_REF &) {
            empty = false;
            return false;
        });
        return empty;
    }
    static std::optional<DWORD> StatusValue()
    {
        CRegistry key(kStatusKey, KEY_READ);
        DWORD value = 0;
        if (!key.GetDword(L"pcieDiskStatus", &value))
            return std::nullopt;
        return value;
    }
    static std::optional<int32_t> ServedCondition(DATASTORE &store)
    {
        return IntAt(&store, EnterpriseOid({1, 2, 23, 2, 0}));
    }
    // One collection of the two PCIe disk steps merged into the served store.
    static void ServedCycle(DATASTORE *served, int firstRun = 0)
    {
        DATASTORE staging(false);
        Cycle(&staging, firstRun);
        EXPECT_TRUE(served->Merge(&staging));
    }

    StorageSim sim;
    PcieConnection *wmi = nullptr;

private:
    std::unique_ptr<CWMIConnection> m_SavedWmi;
    IStoragePlatform *m_PreviousPlatform = nullptr;
    std::vector<std::string> m_EnumKeys;
    std::unique_ptr<StorageSim> m_Local;
};

const std::string kPnp0 = "SCSI\\DISK&VEN_NVME&PROD_SAMPLE_960\\5&1A2B&0&000000";
const std::string kPnp1 = "SCSI\\DISK&VEN_NVME&PROD_B\\5&1&0&1";

// Takes, in a store of its own, every node the store heap still has room for, so that the next
// node cannot be had; its end gives them back.
class StoreHeapHog {
public:
    StoreHeapHog()
    {
        // Rows of 256 values keep every sibling list short.
        constexpr uint32_t kLimit = 1u << 22;
        uint32_t n = 0;
        while (n < kLimit && m_Store->SetInteger(MIBOID({1, 5, n / 256, n % 256}), 0))
            ++n;
        // The value that failed may have needed two new nodes: take the single ones left.
        for (uint32_t extra = 256; extra < kLimit && m_Store->SetInteger(MIBOID({1, 5, 0, extra}), 0); ++extra) {
        }
    }
    ~StoreHeapHog() { delete m_Store; }
    StoreHeapHog(const StoreHeapHog &) = delete;
    StoreHeapHog &operator=(const StoreHeapHog &) = delete;

    // True when not even one more node can be had.
    static bool HeapIsFull()
    {
        DATASTORE probe(false);
        return !probe.SetInteger(MIBOID({1, 6}), 0);
    }

private:
    DATASTORE *m_Store = new DATASTORE(false);
};

TEST_F(StdeqPcieTest, WhichDisksAreListed)
{
    AddDisk({0, kPnp0, kControllerA}, "  SER-0  ", "  NVMe Disk 960GB   ");
    AddDisk({1, "SCSI\\DISK&VEN_ATA\\5&1&0&1", kControllerB}, "SATA")->Nvme = false;
    AddDisk({2, "SCSI\\DISK&VEN_NVME&PROD_NOTEMP\\5&1&0&2", kControllerB}, "SER-2")->SupportedPages = {0x00, 0x02, 0x2F};
    AddDisk({3, "SCSI\\DISK&VEN_NVME&PROD_MAKER\\5&1&0&3", kMakerController}, "SER-3");
    AddDisk({4, "SCSI\\DISK&VEN_NVME&PROD_LOOSE\\5&1&0&4", ""}, "SER-4");
    AddDisk({5, "SCSI\\DISK&VEN_NVME&PROD_STATUS\\5&1&0&5", kControllerB}, "SER-5")->ScsiStatus = 2;
    AddDisk({6, "SCSI\\DISK&VEN_NVME&PROD_NOQUOTE\\5&1&0&6", kControllerB, "OK", "Win32_SCSIController.DeviceID=x"},
            "SER-6");
    AddDisk({7, "SCSI\\DISK&VEN_NVME&PROD_OTHER\\5&1&0&7", kControllerC, "Degraded"}, "SER-7");

    const std::vector<PCIE_DISK_INFO> disks = Discover();
    ASSERT_EQ(4u, disks.size());
    const PCIE_DISK_INFO &d = disks[0];
    EXPECT_EQ("SER-0", d.SerialNumber);
    EXPECT_EQ("NVMe Disk 960GB", d.Model);
    EXPECT_EQ("1B2QEXM7", d.FirmwareRevision);
    EXPECT_EQ("\\\\.\\PHYSICALDRIVE0", d.DeviceId);
    EXPECT_EQ(kPnp0, d.PnpDeviceId);
    EXPECT_EQ(0, d.DiskIndex);
    EXPECT_EQ(915715u, d.SizeMb);
    EXPECT_EQ(40, d.Temperature);
    EXPECT_EQ(70, d.ReferenceTemperature);
    EXPECT_EQ(1200u, d.PowerOnHours);
    EXPECT_EQ(3, d.PercentageUsed);
    EXPECT_EQ(2, d.HealthCode);
    EXPECT_EQ(LowerText(kControllerA), d.ControllerId);
    EXPECT_EQ("OK", d.ControllerStatus);
    EXPECT_EQ(3, d.Bus);
    EXPECT_EQ(0, d.Device);
    EXPECT_EQ(0, d.Function);
    EXPECT_EQ("NVMe Bay 1", d.LocationText);

    // Without an association, or with one that names no controller: -1 and empty texts.
    for (size_t i : {1u, 2u}) {
        EXPECT_EQ(-1, disks[i].Bus);
        EXPECT_EQ(-1, disks[i].Function);
        EXPECT_EQ("", disks[i].ControllerId);
        EXPECT_EQ("", disks[i].ControllerStatus);
        EXPECT_EQ("", disks[i].LocationText);
    }
    EXPECT_EQ("SER-4", disks[1].SerialNumber);
    EXPECT_EQ("SER-6", disks[2].SerialNumber);
    EXPECT_EQ("SER-7", disks[3].SerialNumber);
    EXPECT_EQ(7, disks[3].DiskIndex);
    EXPECT_EQ("Degraded", disks[3].ControllerStatus);
    EXPECT_EQ(4, disks[3].Bus);
    EXPECT_EQ(1, disks[3].Device);
    EXPECT_EQ(2, disks[3].Function);
    EXPECT_EQ("", disks[3].LocationText);
    EXPECT_TRUE(sim.OpenHandles().empty());
}

TEST_F(StdeqPcieTest, HealthLogReadings)
{
    struct {
        const char *what;
        std::vector<uint8_t> log;
        bool allNamespaces;
        uint8_t health;
        int32_t used;
        uint32_t hours;
        std::vector<uint32_t> subValues;
    } cases[] = {
        {"94 %", MakeNvmeHealthLog(94, 0x100000010ull), false, 2, 94, 0x10, {0}},
        {"95 %", MakeNvmeHealthLog(95, 7), false, 4, 95, 7, {0}},
        {"98 %", MakeNvmeHealthLog(98, 7), false, 5, 98, 7, {0}},
        {"100 %", MakeNvmeHealthLog(100, 7), false, 6, 100, 7, {0}},
        {"whole namespace set only", MakeNvmeHealthLog(50, 9), true, 2, 50, 9, {0, 0xFFFFFFFF}},
        {"no log", {}, false, 1, -1, 0xFFFFFFFF, {0, 0xFFFFFFFF}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto disk = std::make_shared<SimNvmeDisk>("S", "M", "F");
        disk->HealthLog = c.log;
        disk->HealthLogForAllNamespaces = c.allNamespaces;
        OnlyDisk(disk, {0, kPnp0, kControllerA});
        const std::vector<PCIE_DISK_INFO> disks = Discover();
        ASSERT_EQ(1u, disks.size());
        EXPECT_EQ(c.health, disks[0].HealthCode);
        EXPECT_EQ(c.used, disks[0].PercentageUsed);
        EXPECT_EQ(c.hours, disks[0].PowerOnHours);
        EXPECT_EQ(c.subValues, disk->HealthSubValues);
    }
}

TEST_F(StdeqPcieTest, PassThroughFormTimeOutAndDescriptors)
{
    struct {
        const char *what;
        uint8_t srb;
        uint32_t adapterBytes, claimed;
        bool extended;
    } cases[] = {
        {"extended SRBs", 1, 32, 0, true},
        {"classic SRBs", 0, 32, 0, false},
        {"SRB type 2", 2, 32, 0, false},
        {"descriptor too short for the SRB type", 1, 30, 0, false},
        {"descriptor claims 2 GB", 1, 32, 0x7FFFFFF0, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto disk = std::make_shared<SimNvmeDisk>("S", "M", "F");
        disk->SrbType = c.srb;
        disk->AdapterDescriptorBytes = c.adapterBytes;
        disk->AdapterSizeClaimed = c.claimed;
        StorageSim &local = OnlyDisk(disk, {0, kPnp0, kControllerA});
        EXPECT_EQ(1u, Discover().size());
        // Each LOG SENSE is issued twice: supported pages, then temperature.
        EXPECT_EQ(c.extended ? 4u : 0u, disk->ExtendedPassThroughs);
        EXPECT_EQ(c.extended ? 0u : 4u, disk->ClassicPassThroughs);
        EXPECT_EQ(10u, disk->LastTimeout);
        for (const SimRequest &request : local.Requests())
            EXPECT_LE(request.OutSize, 4144u);
    }
}

TEST_F(StdeqPcieTest, PassThroughResults)
{
    auto disk = AddDisk({0, kPnp0, kControllerA}, "S");
    const char *path = "\\\\.\\PhysicalDrive0";
    uint8_t data[32];
    int size = 0;
    EXPECT_EQ(122u, ScsiPassThrough(path, kTemperatureLogPageCdb, nullptr, &size));
    EXPECT_EQ(16, size);
    size = sizeof data;
    std::memset(data, 0xEE, sizeof data);
    EXPECT_EQ(0u, ScsiPassThrough(path, kTemperatureLogPageCdb, data, &size));
    EXPECT_EQ(40, data[9]);
    EXPECT_EQ(70, data[15]);
    EXPECT_EQ(0, data[16]) << "the buffer is zeroed past the 16 bytes";
    size = 0;
    EXPECT_EQ(2u, ScsiPassThrough("\\\\.\\PhysicalDrive7", kTemperatureLogPageCdb, nullptr, &size));

    int32_t temperature = -1, reference = -1;
    EXPECT_EQ(0u, GetScsiTemperature("\\\\.\\PHYSICALDRIVE0", &temperature, &reference));
    EXPECT_EQ(40, temperature);
    disk->SupportedPages = {0x00, 0x2F};
    EXPECT_EQ(50u, GetScsiTemperature("\\\\.\\PHYSICALDRIVE0", &temperature, &reference));
    EXPECT_EQ(0, temperature);
    EXPECT_EQ(0, reference);
    disk->ScsiStatus = 2;
    size = 16;
    EXPECT_EQ(50u, ScsiPassThrough(path, kSupportedLogPagesCdb, data, &size));
    EXPECT_TRUE(sim.OpenHandles().empty());
}

TEST_F(StdeqPcieTest, TimeOutFromTheParametersKey)
{
    auto disk = AddDisk({0, kPnp0, kControllerA}, "S");
    SetTimeout(30);
    EXPECT_EQ(30u, GetScsiPassThroughTimeout());
    ASSERT_EQ(1u, Discover().size());
    EXPECT_EQ(30u, disk->LastTimeout);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParametersKey);
    EXPECT_EQ(10u, GetScsiPassThroughTimeout());
}

TEST_F(StdeqPcieTest, TableScalarAndRegistry)
{
    struct {
        const char *what;
        std::string status;
        uint8_t used;
        int32_t condition;
    } cases[] = {
        {"ok and healthy", "OK", 3, 2},
        {"degraded", "Degraded", 3, 3},
        {"worn 95 %", "OK", 95, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto disk = std::make_shared<SimNvmeDisk>("SER-0", "NVMe Disk", "FW1");
        disk->HealthLog = MakeNvmeHealthLog(c.used, 4321);
        OnlyDisk(disk, {4, kPnp0, kControllerA, c.status});
        DATASTORE staging(false);
        s_ZDTSTDEQDataCollector.Collect_zdtSePcieDisk(1, &staging);
        EXPECT_EQ(std::optional<int32_t>(3), Col(staging, 1));
        EXPECT_EQ(std::optional<int32_t>(0), Col(staging, 2));
        EXPECT_EQ(std::optional<int32_t>(0), Col(staging, 3));
        EXPECT_EQ(std::optional<std::string>("NVMe Disk"), ColText(staging, 4));
        EXPECT_EQ(std::optional<std::string>("FW1"), ColText(staging, 5));
        EXPECT_EQ(std::optional<std::string>("SER-0"), ColText(staging, 6));
        EXPECT_EQ(std::optional<uint32_t>(915715), ColUnsigned(staging, 7, MIBTYPE_GAUGE32));
        EXPECT_EQ(std::optional<int32_t>(c.condition), Col(staging, 8));
        EXPECT_EQ(std::optional<int32_t>(40), Col(staging, 9));
        EXPECT_EQ(std::optional<int32_t>(70), Col(staging, 10));
        EXPECT_EQ(std::optional<std::string>("NVMe Bay 1"), ColText(staging, 11));
        EXPECT_EQ(std::optional<std::string>("Disk 4"), ColText(staging, 12));
        EXPECT_EQ(std::optional<int32_t>(NvmeHealthCode(c.used)), Col(staging, 13));
        EXPECT_EQ(std::optional<uint32_t>(4321), ColUnsigned(staging, 14, MIBTYPE_COUNTER32));
        EXPECT_EQ(std::optional<uint32_t>(c.used), ColUnsigned(staging, 15, MIBTYPE_GAUGE32));
        EXPECT_EQ(std::optional<int32_t>(c.condition), IntAt(&staging, EnterpriseOid({1, 2, 23, 2, 0})));
        EXPECT_EQ(std::optional<DWORD>(static_cast<DWORD>(c.condition)), StatusValue());
    }
}

// Rows are written without clearing: a gone disk's row stays served with its last values, a disk
// back at another bus, device and function gets a row beside its old one, and a discovery that
// finds nothing writes nothing. The served overall condition and the registry value are written
// together, so they always agree.
TEST_F(StdeqPcieTest, RowsStayWhenDisksGoAndNothingIsWrittenWhenNoneIsFound)
{
    const MIBOID scalar = EnterpriseOid({1, 2, 23, 2, 0});
    auto step = [](DATASTORE *served, int firstRun) {
        DATASTORE staging(false);
        s_ZDTSTDEQDataCollector.Collect_zdtSePcieDisk(firstRun, &staging);
        const bool wrote = !StagingIsEmpty(staging);
        EXPECT_TRUE(served->Merge(&staging));
        return wrote;
    };
    DATASTORE served(true);

    // No disk yet: no row, no scalar, no registry value.
    EXPECT_FALSE(step(&served, 1));
    EXPECT_EQ(std::nullopt, IntAt(&served, scalar));
    EXPECT_EQ(std::nullopt, StatusValue());

    AddDisk({0, kPnp0, kControllerA, "OK"}, "SER-0");
    AddDisk({1, "SCSI\\DISK&VEN_NVME&PROD_B\\5&1&0&1", kControllerC, "Pred Fail"}, "SER-1");
    EXPECT_TRUE(step(&served, 0));
    EXPECT_EQ(std::optional<int32_t>(2), Col(served, 8));
    EXPECT_EQ(std::optional<int32_t>(3), Col(served, 8, 4, 1, 2));
    EXPECT_EQ(std::optional<int32_t>(3), IntAt(&served, scalar));
    EXPECT_EQ(std::optional<DWORD>(3), StatusValue());

    // The second disk goes: its row stays with its last values; the overall condition is that of
    // the rows written in this step, in the store and in the registry alike.
    wmi->disks.pop_back();
    EXPECT_TRUE(step(&served, 0));
    EXPECT_EQ(std::optional<int32_t>(3), Col(served, 8, 4, 1, 2));
    EXPECT_EQ(std::optional<std::string>("SER-1"), ColText(served, 6, 4, 1, 2));
    EXPECT_EQ(std::optional<int32_t>(2), Col(served, 8));
    EXPECT_EQ(std::optional<int32_t>(2), IntAt(&served, scalar));
    EXPECT_EQ(std::optional<DWORD>(2), StatusValue());

    // A discovery that finds nothing (the query failed, or every disk went) writes nothing: rows,
    // scalar and registry value stay as the last discovery with disks left them.
    wmi->disks.clear();
    EXPECT_FALSE(step(&served, 0));
    EXPECT_EQ(std::optional<int32_t>(2), Col(served, 8));
    EXPECT_EQ(std::optional<int32_t>(3), Col(served, 8, 4, 1, 2));
    EXPECT_EQ(std::optional<int32_t>(2), IntAt(&served, scalar));
    EXPECT_EQ(std::optional<DWORD>(2), StatusValue());

    // The disk comes back at another bus, device and function: a new row beside the old one.
    const std::string movedController = "PCI\\VEN_1C5C&DEV_1327&SUBSYS_00001C5C&REV_00\\4&3&0&0050";
    SetLocation(movedController, "PCI Slot 6 (5,0,0)");
    wmi->disks.push_back({1, "SCSI\\DISK&VEN_NVME&PROD_B\\5&1&0&1", movedController, "OK"});
    EXPECT_TRUE(step(&served, 0));
    EXPECT_EQ(std::optional<std::string>("SER-1"), ColText(served, 6, 5, 0, 0));
    EXPECT_EQ(std::optional<std::string>("SER-1"), ColText(served, 6, 4, 1, 2));
    EXPECT_EQ(std::optional<int32_t>(2), IntAt(&served, scalar));
    EXPECT_EQ(std::optional<DWORD>(2), StatusValue());
}

// A discovery that fails or finds fewer disks, after one that found two, removes nothing that is
// served: every row stays with its values, the overall condition is that of the rows written in
// the step (unchanged when there were none), the served condition and the registry value tell
// the same condition, and the disks of the last discovery that found some are kept for the
// comparison.
TEST_F(StdeqPcieTest, AFailedOrEmptyDiscoveryKeepsWhatIsServed)
{
    enum class Failure { Enumeration, AllGone, LogSense, Identify, SecondTemperaturePage };
    struct {
        const char *what;
        Failure failure;
        int32_t condition;  // served and in the registry after the failed discovery
        size_t kept;        // disks kept for the next comparison
    } cases[] = {
        {"the disk enumeration fails", Failure::Enumeration, 3, 2},
        {"every disk is gone", Failure::AllGone, 3, 2},
        {"every LOG SENSE fails", Failure::LogSense, 3, 2},
        {"every Identify fails", Failure::Identify, 3, 2},
        {"the second disk lists no temperature page", Failure::SecondTemperaturePage, 2, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        s_ZDTSTDEQDataCollector.ForgetDevices();
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kStatusLeaf);
        StorageSim local;
        auto first = std::make_shared<SimNvmeDisk>("SER-0", "NVMe Disk 960GB", "1B2QEXM7");
        auto second = std::make_shared<SimNvmeDisk>("SER-1", "NVMe Disk 960GB", "1B2QEXM7");
        local.AddDevice("\\\\.\\PhysicalDrive0", first);
        local.AddDevice("\\\\.\\PhysicalDrive1", second);
        SetStoragePlatformForTest(&local);
        wmi->failing = false;
        wmi->disks = {{0, kPnp0, kControllerA, "OK"}, {1, kPnp1, kControllerC, "Pred Fail"}};

        DATASTORE served(true);
        ServedCycle(&served, 1);
        ASSERT_EQ(std::optional<int32_t>(3), ServedCondition(served));
        ASSERT_EQ(std::optional<DWORD>(3), StatusValue());
        ASSERT_EQ(2u, s_ZDTSTDEQDataCollector.PreviousPcieDiskList().size());

        switch (c.failure) {
        case Failure::Enumeration:
            wmi->failing = true;
            break;
        case Failure::AllGone:
            wmi->disks.clear();
            break;
        case Failure::LogSense:
            local.AddFault({SimFault::Kind::Win32Error, "", IOCTL_SCSI_PASS_THROUGH_EX_CODE, 0, -1});
            break;
        case Failure::Identify:
            first->Nvme = false;
            second->Nvme = false;
            break;
        case Failure::SecondTemperaturePage:
            second->SupportedPages = {0x00, 0x02, 0x2F};
            break;
        }
        ServedCycle(&served);
        EXPECT_TRUE(SentTraps().empty());

        EXPECT_EQ(std::optional<std::string>("SER-0"), ColText(served, 6));
        EXPECT_EQ(std::optional<int32_t>(2), Col(served, 8));
        EXPECT_EQ(std::optional<std::string>("SER-1"), ColText(served, 6, 4, 1, 2));
        EXPECT_EQ(std::optional<int32_t>(3), Col(served, 8, 4, 1, 2));
        EXPECT_EQ(std::optional<int32_t>(40), Col(served, 9, 4, 1, 2));
        EXPECT_EQ(std::optional<int32_t>(c.condition), ServedCondition(served));
        EXPECT_EQ(std::optional<DWORD>(static_cast<DWORD>(c.condition)), StatusValue());
        EXPECT_EQ(c.kept, s_ZDTSTDEQDataCollector.PreviousPcieDiskList().size());
        SetStoragePlatformForTest(&sim);
    }
}

// Departure: the overall condition goes into the staging store before it goes into the registry,
// and into the registry only once it is stored. When the store heap is full the condition cannot
// be stored; the registry then keeps the condition that stays served instead of taking one that
// the MIB reader never sees (1 when no row could be stored, the new condition when only the rows
// could).
TEST_F(StdeqPcieTest, DepartureWithTheStoreFullTheRegistryKeepsTheServedCondition)
{
    struct {
        const char *what;
        bool rowsFit;
    } cases[] = {
        {"no room for the rows", false},
        {"room for the rows only", true},
    };
    AddDisk({0, kPnp0, kControllerA, "OK"}, "SER-0");
    AddDisk({1, kPnp1, kControllerC, "Pred Fail"}, "SER-1");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        wmi->disks[1].status = "Pred Fail";
        DATASTORE served(true);
        {
            DATASTORE staging(false);
            s_ZDTSTDEQDataCollector.Collect_zdtSePcieDisk(1, &staging);
            ASSERT_TRUE(served.Merge(&staging));
        }
        ASSERT_EQ(std::optional<int32_t>(3), ServedCondition(served));
        ASSERT_EQ(std::optional<DWORD>(3), StatusValue());

        // The second disk recovers: the condition of the rows becomes 2.
        wmi->disks[1].status = "OK";
        DATASTORE staging(false);
        if (c.rowsFit) {
            // The rows' nodes are made before the heap fills; the step's values fit into them.
            DATASTORE_TABLE rows(&staging);
            ASSERT_TRUE(rows.BeginTable(EnterpriseOid({1, 2, 23, 1, 1}), 3, false));
            for (const std::array<uint32_t, 3> &index : {std::array<uint32_t, 3>{3, 0, 0}, {4, 1, 2}}) {
                rows.SetIndex(index[0], index[1], index[2]);
                for (uint32_t column = 1; column <= 15; ++column)
                    ASSERT_TRUE(rows.SetInteger(column, 0));
            }
        }
        {
            StoreHeapHog hog;
            ASSERT_TRUE(StoreHeapHog::HeapIsFull());
            s_ZDTSTDEQDataCollector.Collect_zdtSePcieDisk(0, &staging);
        }
        EXPECT_EQ(c.rowsFit ? std::optional<int32_t>(2) : std::nullopt, Col(staging, 8, 4, 1, 2));
        EXPECT_EQ(std::nullopt, ServedCondition(staging)) << "no room for the condition";
        ASSERT_TRUE(served.Merge(&staging));
        EXPECT_EQ(std::optional<int32_t>(3), ServedCondition(served));
        EXPECT_EQ(std::optional<DWORD>(3), StatusValue()) << "the registry tells the served condition";

        // With room again the next step brings both to the new condition.
        DATASTORE next(false);
        s_ZDTSTDEQDataCollector.Collect_zdtSePcieDisk(0, &next);
        ASSERT_TRUE(served.Merge(&next));
        EXPECT_EQ(std::optional<int32_t>(2), ServedCondition(served));
        EXPECT_EQ(std::optional<DWORD>(2), StatusValue());
    }
}

TEST_F(StdeqPcieTest, TrapsOverCycles)
{
    auto disk = AddDisk({0, kPnp0, kControllerA, "OK"}, "SER-0");
    disk->Temperature = 60;
    disk->ReferenceTemperature = 55;
    const std::string arc = OidText(EnterpriseOid({}));
    auto cycle = [&](int firstRun = 0) {
        DATASTORE staging(false);
        Cycle(&staging, firstRun);
        return SentTraps();
    };

    EXPECT_TRUE(cycle(1).empty()) << "the first cycle has nothing to compare";
    std::vector<RECORDED_PDU> traps = cycle();
    ASSERT_EQ((std::vector<unsigned>{1015}), TrapNumbers(traps));
    const std::vector<VARBIND> &v = traps[0].varbinds;
    ASSERT_EQ(9u, v.size());
    EXPECT_EQ(16, v[2].integer);
    const std::vector<std::pair<uint32_t, int64_t>> columns = {{1, 3}, {2, 0}, {3, 0}, {9, 60}, {10, 55}};
    for (size_t i = 0; i < columns.size(); ++i) {
        EXPECT_EQ(arc + ".1.2.23.1.1." + std::to_string(columns[i].first) + ".3.0.0", OidText(v[3 + i].name));
        EXPECT_EQ(columns[i].second, v[3 + i].integer);
    }
    EXPECT_EQ(arc + ".1.2.23.1.1.11.3.0.0", OidText(v[8].name));
    EXPECT_EQ("NVMe Bay 1", v[8].text);

    EXPECT_EQ((std::vector<unsigned>{1015}), TrapNumbers(cycle())) << "again while it stays hot";
    disk->Temperature = 50;
    traps = cycle();
    ASSERT_EQ((std::vector<unsigned>{1016}), TrapNumbers(traps));
    EXPECT_EQ(8, traps[0].varbinds[2].integer);
    EXPECT_TRUE(cycle().empty()) << "1016 only once";

    wmi->disks[0].status = "Degraded";
    traps = cycle();
    ASSERT_EQ((std::vector<unsigned>{1017}), TrapNumbers(traps));
    ASSERT_EQ(8u, traps[0].varbinds.size());
    EXPECT_EQ(12, traps[0].varbinds[2].integer);
    EXPECT_EQ(arc + ".1.2.23.1.1.8.3.0.0", OidText(traps[0].varbinds[6].name));
    EXPECT_EQ(MIBTYPE_OCTETSTRING, traps[0].varbinds[6].type);
    EXPECT_EQ("Degraded", traps[0].varbinds[6].text);

    disk->HealthLog = MakeNvmeHealthLog(100, 1300);
    traps = cycle();
    ASSERT_EQ((std::vector<unsigned>{1018}), TrapNumbers(traps));
    EXPECT_EQ(16, traps[0].varbinds[2].integer);
    EXPECT_EQ(arc + ".1.2.23.1.1.13.3.0.0", OidText(traps[0].varbinds[6].name));
    EXPECT_EQ(6, traps[0].varbinds[6].integer);

    // A reference of 255 is no threshold; an unreadable temperature none either.
    disk->Temperature = 90;
    disk->ReferenceTemperature = 255;
    cycle();
    EXPECT_TRUE(cycle().empty());

    // Replaced by a disk with another serial number: no trap for either.
    disk->Identify = MakeNvmeIdentify("SER-9", "NVMe Disk 960GB", "1B2QEXM7");
    disk->ReferenceTemperature = 55;
    wmi->disks[0].status = "Error";
    EXPECT_TRUE(cycle().empty());
    ASSERT_EQ(1u, s_ZDTSTDEQDataCollector.PreviousPcieDiskList().size());
    EXPECT_EQ("SER-9", s_ZDTSTDEQDataCollector.PreviousPcieDiskList()[0].SerialNumber);

    // No disk in a cycle: no trap, and the list of the last cycle with disks is kept.
    wmi->disks.clear();
    EXPECT_TRUE(cycle().empty());
    EXPECT_EQ(1u, s_ZDTSTDEQDataCollector.PreviousPcieDiskList().size());
}

TEST_F(StdeqPcieTest, TrapsDisabledStillKeepTheList)
{
    auto disk = AddDisk({0, kPnp0, kControllerA}, "SER-0");
    disk->Temperature = 60;
    disk->ReferenceTemperature = 55;
    s_ServiceParameters.EnableTraps = 0;
    for (int i = 0; i < 2; ++i) {
        DATASTORE staging(false);
        Cycle(&staging, i == 0);
    }
    EXPECT_EQ(0u, QueuedTrapCount());
    ASSERT_EQ(1u, s_ZDTSTDEQDataCollector.PreviousPcieDiskList().size());
    EXPECT_EQ(60, s_ZDTSTDEQDataCollector.PreviousPcieDiskList()[0].Temperature);
}

} // namespace
