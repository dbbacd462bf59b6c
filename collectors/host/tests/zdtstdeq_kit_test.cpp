// The SD/USB kit step over a faked WMI (the kit's disks and the system version) and the simulated
// log disk: the version gate, the row, the traps over cycles and the time-stamp file.
#include "host_test_support.h"
#include "zdtstdeq_collector.h"

#include "service_parameters.h"
#include "sim_usb_kit.h"
#include "stdeq_kit.h"
#include "storagesim.h"
#include "traps.h"
#include "wmi.h"
#include "wmi_fakes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace hosttest;

namespace {

constexpr char kLogDisk[] = "\\\\.\\PHYSICALDRIVE2";

// Win32_OperatingSystem and Win32_DiskDrive as the test sets them.
class KitConnection : public CWMIConnection {
public:
    KitConnection() : CWMIConnection(nullptr) {}
    std::wstring version = L"10.0.17763";
    bool dataDisk = true;
    bool logDisk = true;
    bool systemQueryFails = false;
    bool diskQueryFails = false;

    CWMIEnumerator ExecQuery(const wchar_t *wql) override
    {
        std::vector<ComPtr<IWbemClassObject>> rows;
        if ((systemQueryFails && wcsstr(wql, L"Win32_OperatingSystem")) ||
            (diskQueryFails && wcsstr(wql, L"Win32_DiskDrive")))
            return CWMIEnumerator();
        if (wcsstr(wql, L"Win32_OperatingSystem")) {
            auto *os = new FakeClassObject();
            os->SetString(L"Version", version.c_str());
            rows.emplace_back(os);
        } else if (wcsstr(wql, L"Win32_DiskDrive")) {
            auto *system = new FakeClassObject();
            system->SetString(L"Model", L"Virtual SATA Disk");
            system->SetString(L"DeviceID", L"\\\\.\\PHYSICALDRIVE0");
            rows.emplace_back(system);
            if (dataDisk) {
                auto *data = new FakeClassObject();
                data->SetString(L"Model", L"ZSK USB RAID LUN USB Device");
                data->SetString(L"SerialNumber", L"ZSK0001");
                data->SetString(L"Size", L"8017412096");
                data->SetString(L"DeviceID", L"\\\\.\\PHYSICALDRIVE1");
                rows.emplace_back(data);
            }
            if (logDisk) {
                auto *log = new FakeClassObject();
                log->SetString(L"Model", L"ZSK Log File LUN USB Device");
                log->SetString(L"DeviceID", L"\\\\.\\PHYSICALDRIVE2");
                rows.emplace_back(log);
            }
        }
        return CWMIEnumerator(new FakeEnumerator(std::move(rows)));
    }
};

std::string Rec(int s, const std::string &text)
{
    char head[64];
    snprintf(head, sizeof head, "2026:12:10:18:30:%02d:5:", s);
    return head + text;
}

class StdeqKitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(InitDataStores());
        InitTraps();
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        m_Dir = std::string(temp) + "stdeq-kit-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(m_Dir.c_str(), nullptr);
        GetCurrentDirectoryA(sizeof m_Previous, m_Previous);
        ASSERT_TRUE(SetCurrentDirectoryA(m_Dir.c_str()));
        DeleteFileA("tlmusb-tstamp.txt");
        m_SavedWmi = std::move(s_WMICimV2);
        auto connection = std::make_unique<KitConnection>();
        wmi = connection.get();
        s_WMICimV2 = std::move(connection);
        disk = std::make_shared<SimKitLogDisk>(std::vector<std::string>{});
        sim.AddDevice(kLogDisk, disk);
        m_Previous_platform = SetStoragePlatformForTest(&sim);
    }
    void TearDown() override
    {
        SetStoragePlatformForTest(m_Previous_platform);
        s_WMICimV2 = std::move(m_SavedWmi);
        DeleteFileA("tlmusb-tstamp.txt");
        SetCurrentDirectoryA(m_Previous);
        RemoveDirectoryA(m_Dir.c_str());
        s_ServiceParameters.EnableTraps = 1;
        TermTraps();
    }

    static std::optional<std::string> Stamp()
    {
        std::ifstream file("tlmusb-tstamp.txt");
        if (!file)
            return std::nullopt;
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    static std::optional<int32_t> Col(DATASTORE &store, uint32_t column)
    {
        return IntAt(&store, EnterpriseOid({1, 2, 15, 1, 1, column, 1}));
    }
    static std::optional<std::string> ColText(DATASTORE &store, uint32_t column)
    {
        return TextAt(&store, EnterpriseOid({1, 2, 15, 1, 1, column, 1}));
    }

    StorageSim sim;
    std::shared_ptr<SimKitLogDisk> disk;
    KitConnection *wmi = nullptr;

private:
    std::string m_Dir;
    char m_Previous[MAX_PATH] = {};
    std::unique_ptr<CWMIConnection> m_SavedWmi;
    IStoragePlatform *m_Previous_platform = nullptr;
};

const std::vector<std::string> kHealthyLog = {
    Rec(1, "Active Fw Version 1.20"),
    Rec(2, "System State Redundant Active"),
    Rec(3, "Error Status SD0 = (1, 2, 3, 4)"),
    Rec(4, "Error Status SD1 = (0, 0, 0, 0)"),
    Rec(5, "SD0 State Active"),
    Rec(6, "SD1 State Active"),
    Rec(7, "Transfer Error on S0: reads = 5 writes = 6"),
};

TEST_F(StdeqKitTest, VersionGate)
{
    disk->SetRecords(kHealthyLog);
    const std::pair<const wchar_t *, bool> versions[] = {
        {L"6.1.7601", false}, {L"6.3.9600", true}, {L"10.0.17763", true}, {L"6", false}};
    for (const auto &[version, runs] : versions) {
        SCOPED_TRACE(testing::Message() << std::string(version, version + wcslen(version)));
        DeleteFileA("tlmusb-tstamp.txt");
        wmi->version = version;
        DATASTORE staging(false);
        s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(1, &staging);
        EXPECT_EQ(runs, Col(staging, 1).has_value());
        EXPECT_EQ(runs, Stamp().has_value());
        EXPECT_EQ(runs, !SentTraps().empty());
    }
}

TEST_F(StdeqKitTest, RowTrapsAndStampOverCycles)
{
    disk->SetRecords(kHealthyLog);
    DATASTORE staging(false);
    s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(1, &staging);
    EXPECT_EQ(std::optional<int32_t>(1), Col(staging, 1));
    EXPECT_EQ(std::optional<std::string>("zsk usb raid lun usb device"), ColText(staging, 5));
    EXPECT_EQ(std::optional<int32_t>(7646), Col(staging, 6));
    EXPECT_EQ(std::optional<std::string>(kUsbKitManufacturer), ColText(staging, 7));
    EXPECT_EQ(std::optional<std::string>("1.20"), ColText(staging, 9));
    EXPECT_EQ(std::optional<std::string>("ZSK0001"), ColText(staging, 10));
    EXPECT_EQ(std::optional<int32_t>(2), Col(staging, 12));
    EXPECT_EQ(std::optional<std::string>(std::string("\x06\x00", 2)), ColText(staging, 13));
    EXPECT_EQ(std::optional<int32_t>(2), Col(staging, 17));
    EXPECT_EQ(std::optional<int32_t>(1), Col(staging, 20));
    EXPECT_EQ(std::optional<std::string>(std::string("\x01\x01", 2)), ColText(staging, 22));
    EXPECT_EQ(std::optional<std::string>("2026:12:10:18:30:07:"), Stamp());

    // First step without a stamp file: the transfer-error record raises both of its traps.
    std::vector<RECORDED_PDU> traps = SentTraps();
    ASSERT_EQ((std::vector<unsigned>{1010, 1011}), TrapNumbers(traps));
    const std::vector<VARBIND> &v = traps[0].varbinds;
    ASSERT_EQ(12u, v.size());
    EXPECT_EQ(8, v[2].integer);
    EXPECT_EQ(OidText(EnterpriseOid({1, 2, 15, 1, 1, 1, 1})), OidText(v[3].name));
    EXPECT_EQ(1, v[3].integer);
    EXPECT_EQ(kUsbKitPartNumber, v[8].text);
    EXPECT_EQ(OidText(EnterpriseOid({1, 2, 15, 1, 1, 13, 1})), OidText(v[9].name));
    EXPECT_EQ("6", v[9].text);   // counted, without NUL
    EXPECT_EQ("2", v[10].text);  // counter 15 of card 0
    EXPECT_EQ(1, v[11].integer);
    EXPECT_EQ(OidText(EnterpriseOid({1, 2, 15, 1, 1, 14, 1})), OidText(traps[1].varbinds[9].name));
    EXPECT_EQ("5", traps[1].varbinds[9].text);

    // Unchanged log: nothing.
    DATASTORE second(false);
    s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(0, &second);
    EXPECT_TRUE(SentTraps().empty());

    // Redundancy lost after it: 1012 with flags 12, degraded row.
    std::vector<std::string> log = kHealthyLog;
    log.push_back(Rec(8, "Redundancy lost on card SD1"));
    disk->SetRecords(log);
    DATASTORE third(false);
    s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(0, &third);
    traps = SentTraps();
    ASSERT_EQ((std::vector<unsigned>{1012}), TrapNumbers(traps));
    EXPECT_EQ(12, traps[0].varbinds[2].integer);
    ASSERT_EQ(10u, traps[0].varbinds.size());
    EXPECT_EQ(1, traps[0].varbinds[9].integer);
    EXPECT_EQ(std::optional<int32_t>(3), Col(third, 17));
}

TEST_F(StdeqKitTest, AFailedReadKeepsTheStamp)
{
    disk->SetRecords(kHealthyLog);
    DATASTORE staging(false);
    s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(1, &staging);
    SentTraps();
    ASSERT_EQ(std::optional<std::string>("2026:12:10:18:30:07:"), Stamp());

    sim.AddFault({SimFault::Kind::OpenError, kLogDisk, 0, 0, 1, ERROR_ACCESS_DENIED});
    DATASTORE failed(false);
    s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(0, &failed);
    EXPECT_TRUE(SentTraps().empty());
    EXPECT_EQ(std::optional<int32_t>(3), Col(failed, 17));
    EXPECT_EQ(std::optional<int32_t>(0), Col(failed, 12));
    EXPECT_EQ(std::optional<int32_t>(2), Col(failed, 19));
    EXPECT_EQ(std::optional<std::string>("2026:12:10:18:30:07:"), Stamp());

    // The next good read raises nothing again.
    DATASTORE good(false);
    s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(0, &good);
    EXPECT_TRUE(SentTraps().empty());
    EXPECT_TRUE(sim.OpenHandles().empty());
}

// The log disk is opened without buffering and read in one piece into a sector-aligned area: the
// step's read passes the device's rule, the same read a few bytes off a sector boundary does not.
TEST_F(StdeqKitTest, TheLogDiskIsReadUnbufferedIntoAnAlignedArea)
{
    disk->SetRecords(kHealthyLog);
    DATASTORE staging(false);
    s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(1, &staging);
    SentTraps();
    EXPECT_NE(0u, sim.LastOpenFlags() & FILE_FLAG_NO_BUFFERING);
    EXPECT_EQ(1u, disk->Reads());
    EXPECT_EQ(std::optional<std::string>("1.20"), ColText(staging, 9));
    EXPECT_EQ(std::optional<std::string>("2026:12:10:18:30:07:"), Stamp());

    alignas(SimKitLogDisk::kSectorBytes) static uint8_t area[kUsbKitLogBytes + SimKitLogDisk::kSectorBytes];
    for (const size_t shift : {size_t{0}, size_t{1}, size_t{8}, size_t{SimKitLogDisk::kSectorBytes / 2}}) {
        SCOPED_TRACE(shift);
        HANDLE device = StoragePlatform().OpenDevice(kLogDisk, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                                     sim.LastOpenFlags());
        ASSERT_NE(INVALID_HANDLE_VALUE, device);
        DWORD count = 0;
        const BOOL read = StoragePlatform().ReadDevice(device, area + shift, kUsbKitLogBytes, &count);
        const DWORD error = GetLastError();
        StoragePlatform().CloseDevice(device);
        EXPECT_EQ(shift == 0, read != FALSE);
        if (shift != 0) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error);
        }
    }
    EXPECT_EQ(2u, disk->Reads());   // the refused reads never reached the disk
    EXPECT_TRUE(sim.OpenHandles().empty());
}

// The row is written without clearing: a step that finds no kit writes nothing, so the last row
// stays served, and a kit found again overwrites its cells.
TEST_F(StdeqKitTest, AGoneKitsRowStaysServed)
{
    disk->SetRecords(kHealthyLog);
    DATASTORE served(true);
    DATASTORE first(false);
    s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(1, &first);
    ASSERT_TRUE(served.Merge(&first));
    EXPECT_EQ(std::optional<int32_t>(1), Col(served, 1));
    EXPECT_EQ(std::optional<int32_t>(2), Col(served, 17));
    SentTraps();

    wmi->logDisk = false;
    wmi->dataDisk = false;
    DATASTORE second(false);
    s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(0, &second);
    EXPECT_EQ(std::nullopt, Col(second, 1)) << "nothing written without the kit";
    ASSERT_TRUE(served.Merge(&second));
    EXPECT_EQ(std::optional<int32_t>(1), Col(served, 1));
    EXPECT_EQ(std::optional<std::string>("ZSK0001"), ColText(served, 10));
    EXPECT_EQ(std::optional<int32_t>(2), Col(served, 17));

    wmi->logDisk = true;
    disk->SetRecords({Rec(1, "Active Fw Version 1.30"), Rec(2, "System State Non-redundant Active")});
    DATASTORE third(false);
    s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(0, &third);
    ASSERT_TRUE(served.Merge(&third));
    EXPECT_EQ(std::optional<std::string>("1.30"), ColText(served, 9));
    EXPECT_EQ(std::optional<std::string>(""), ColText(served, 10)) << "no data disk this time";
    EXPECT_EQ(std::optional<int32_t>(2), Col(served, 21));
    SentTraps();
}

// A kit step that cannot see the kit, after one that served its row, writes nothing: the row
// stays served with its last values, no trap is raised and the stamp stays.
TEST_F(StdeqKitTest, AKitThatCannotBeSeenKeepsItsServedRow)
{
    enum class Loss { Unplugged, DiskQueryFails, SystemQueryFails };
    const std::pair<const char *, Loss> cases[] = {
        {"the kit is unplugged", Loss::Unplugged},
        {"the disk query fails", Loss::DiskQueryFails},
        {"the system query fails", Loss::SystemQueryFails},
    };
    std::vector<std::string> log = kHealthyLog;
    log.push_back(Rec(8, "Redundancy lost on card SD1"));
    for (const auto &[what, loss] : cases) {
        SCOPED_TRACE(what);
        DeleteFileA("tlmusb-tstamp.txt");
        wmi->dataDisk = true;
        wmi->logDisk = true;
        wmi->diskQueryFails = false;
        wmi->systemQueryFails = false;
        disk->SetRecords(log);
        DATASTORE served(true);
        {
            DATASTORE first(false);
            s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(1, &first);
            ASSERT_TRUE(served.Merge(&first));
        }
        SentTraps();
        ASSERT_EQ(std::optional<int32_t>(3), Col(served, 17));
        ASSERT_EQ(std::optional<std::string>("2026:12:10:18:30:08:"), Stamp());

        switch (loss) {
        case Loss::Unplugged:
            wmi->dataDisk = false;
            wmi->logDisk = false;
            break;
        case Loss::DiskQueryFails:
            wmi->diskQueryFails = true;
            break;
        case Loss::SystemQueryFails:
            wmi->systemQueryFails = true;
            break;
        }
        DATASTORE second(false);
        s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(0, &second);
        EXPECT_EQ(std::nullopt, Col(second, 1)) << "nothing written";
        ASSERT_TRUE(served.Merge(&second));
        EXPECT_EQ(std::optional<int32_t>(1), Col(served, 1));
        EXPECT_EQ(std::optional<std::string>("1.20"), ColText(served, 9));
        EXPECT_EQ(std::optional<std::string>("ZSK0001"), ColText(served, 10));
        EXPECT_EQ(std::optional<int32_t>(3), Col(served, 17));
        EXPECT_EQ(std::optional<int32_t>(1), Col(served, 19));
        EXPECT_TRUE(SentTraps().empty());
        EXPECT_EQ(std::optional<std::string>("2026:12:10:18:30:08:"), Stamp());
    }
}

TEST_F(StdeqKitTest, WithoutTheDataDiskTrapsStillNameRowOne)
{
    wmi->dataDisk = false;
    disk->SetRecords({Rec(1, "Redundancy regained")});
    DATASTORE staging(false);
    s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(1, &staging);
    const std::vector<RECORDED_PDU> traps = SentTraps();
    ASSERT_EQ((std::vector<unsigned>{1013}), TrapNumbers(traps));
    EXPECT_EQ(OidText(EnterpriseOid({1, 2, 15, 1, 1, 1, 1})), OidText(traps[0].varbinds[3].name));
    EXPECT_EQ(1, traps[0].varbinds[3].integer);
}

TEST_F(StdeqKitTest, TrapsDisabledStillMoveTheStamp)
{
    s_ServiceParameters.EnableTraps = 0;
    disk->SetRecords(kHealthyLog);
    DATASTORE staging(false);
    s_ZDTSTDEQDataCollector.Collect_zdtSeUSBPort(1, &staging);
    EXPECT_EQ(0u, QueuedTrapCount());
    EXPECT_EQ(std::optional<std::string>("2026:12:10:18:30:07:"), Stamp());
}

// One collection runs every step: the PCI tables and change list, then the kit.
TEST_F(StdeqKitTest, OneCollectionRunsEveryStep)
{
    s_ZDTSTDEQDataCollector.ForgetDevices();
    SimPciDevice nic;
    nic.DeviceId = "PCI\\VEN_14E4&DEV_1657\\0";
    nic.Location = "PCI bus 3, device 0, function 0";
    nic.HardwareIds = {"PCI\\VEN_14E4&DEV_1657&CC_020000"};
    sim.AddPciDevice(nic);
    disk->SetRecords(kHealthyLog);
    DATASTORE staging(false);
    s_ZDTSTDEQDataCollector.Collect(1, &staging);
    EXPECT_EQ(std::optional<int32_t>(3), IntAt(&staging, EnterpriseOid({1, 2, 13, 2, 1, 1, 3, 0, 0})));
    EXPECT_EQ(1u, s_ZDTSTDEQDataCollector.PreviousPciList().size());
    EXPECT_EQ(std::optional<int32_t>(1), Col(staging, 1));
    SentTraps();
    s_ZDTSTDEQDataCollector.ForgetDevices();
}

} // namespace
