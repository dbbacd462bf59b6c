// The whole library loaded the way the service loads it: netvarix_fixture.dll over the scenario
// host (its description file edited between passes), then the product netvarix.dll over Wine's
// own interfaces.
#include "nic_service_side.h"
#include "nic_test_support.h"

#include "nic_host.h"
#include "nic_records.h"
#include "scenario_host.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

using namespace nictest;

namespace {

constexpr NicHandshakeTimeouts kShort = {60000, 30000, 30000};

std::wstring BesideTheTest(const wchar_t *file)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + file;
}

std::string Narrow(const std::wstring &text)
{
    return std::string(text.begin(), text.end());
}

template <class Record> std::vector<Record> ReadRecords(const wchar_t *key, const char *prefix, size_t *wrongSize)
{
    std::vector<Record> records;
    *wrongSize = 0;
    for (const std::wstring &name : ValueNames(key)) {
        DWORD type = 0;
        std::vector<uint8_t> data;
        Record record = {};
        if (name.rfind(std::wstring(prefix, prefix + strlen(prefix)), 0) != 0 || !GetValue(key, name.c_str(), &type, &data) ||
            type != REG_BINARY || !DecodeRecord(data.data(), data.size(), &record))
            ++*wrongSize;
        else
            records.push_back(record);
    }
    return records;
}

class NicModelEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_LogPath = ConfigureVerboseLog(L"nic-model-e2e-log"); }
    void SetUp() override
    {
        DeleteTree(kNicRootKey);
        scenario::DeleteRegistry();
        scenario::WriteRegistry();
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        m_HostPath = std::wstring(temp) + L"nic-model-host.txt";
        SetEnvironmentVariableW(L"NIC_FIXTURE_HOST", m_HostPath.c_str());
        m_Host = scenario::BuildHost();
        m_Host.pollSecondMs = 1000;
    }
    void TearDown() override
    {
        DeleteTree(kNicRootKey);
        scenario::DeleteRegistry();
        DeleteFileW(m_HostPath.c_str());
    }

    // The description file, each version with a later time stamp.
    void WriteHost()
    {
        {
            std::ofstream out(Narrow(m_HostPath), std::ios::binary | std::ios::trunc);
            out << FormatNicHost(m_Host);
        }
        HANDLE file = CreateFileW(m_HostPath.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER stamp = {{now.dwLowDateTime, now.dwHighDateTime}};
        stamp.QuadPart += 10000000ull * ++m_Stamp;
        FILETIME written = {stamp.LowPart, stamp.HighPart};
        SetFileTime(file, nullptr, nullptr, &written);
        CloseHandle(file);
    }

    static std::vector<TRAPRECORD> Traps(const wchar_t *key)
    {
        size_t wrong = 0;
        std::vector<TRAPRECORD> records = ReadRecords<TRAPRECORD>(key, "TrapData", &wrong);
        EXPECT_EQ(0u, wrong) << Narrow(key);
        return records;
    }

    static inline std::wstring s_LogPath;
    std::wstring m_HostPath;
    NicHost m_Host;
    int m_Stamp = 0;
};

TEST_F(NicModelEndToEnd, FixtureLibraryPublishesTheScenarioAndItsTraps)
{
    WriteHost();
    NicServiceSide service(kShort);
    ASSERT_TRUE(service.StartLibrary(BesideTheTest(L"nicfixture\\netvarix_fixture.dll")));
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect());
    DWORD ready = 0;
    ASSERT_TRUE(GetDword(kNicInterfaceKey, kNicInterfaceDataReadyValue, &ready));
    EXPECT_EQ(1u, ready);

    // Records: one interface record per logical adapter that owns its members (loopback, four
    // NICs, two teams, the bridge), both VLAN records of the LBFO team, one member record per
    // NIC of the model, one statistics record per Ethernet interface; every value whole.
    size_t wrong = 0;
    const auto maps = ReadRecords<INTERFACEMAPRECORD>(kNicLogInterfaceMapKey, kInterfaceMapPrefix, &wrong);
    EXPECT_EQ(0u, wrong);
    EXPECT_EQ(8u, maps.size());
    const auto vlans = ReadRecords<VLANMAPRECORD>(kNicVlanInterfaceKey, kVlanMapPrefix, &wrong);
    EXPECT_EQ(0u, wrong);
    EXPECT_EQ(2u, vlans.size());
    const auto physical = ReadRecords<PHYSADAPTERRECORD>(kNicPhysInterfaceKey, kPhysAdapterPrefix, &wrong);
    EXPECT_EQ(0u, wrong);
    EXPECT_EQ(9u, physical.size());
    const auto statistics = ReadRecords<ETHERNETSTATSRECORD>(kNicEthernetStatisticsKey, kStatisticsPrefix, &wrong);
    EXPECT_EQ(0u, wrong);
    EXPECT_EQ(8u, statistics.size());
    for (size_t i = 0; i < maps.size(); ++i)
        EXPECT_EQ(FormatRecordValueNameW(kInterfaceMapPrefix, maps[i].LogicalIndex), ValueNames(kNicLogInterfaceMapKey)[i]);
    HKEY child = nullptr;
    EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kNicPhysInterfaceKey) + L"\\Lasting").c_str(), 0,
                              nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &child, nullptr));

    // NIC A loses its link (its row's speed 0, the driver's medium disconnected): one
    // connectivity-lost record carrying its address, while the NIC is still published, failed;
    // the next pass adds none; the link back gives one regained record.
    const std::vector<uint8_t> macA = scenario::Mac(scenario::kNicA);
    auto memberA = [&]() {
        size_t wrongSize = 0;
        std::vector<PHYSADAPTERRECORD> found;
        for (const PHYSADAPTERRECORD &record :
             ReadRecords<PHYSADAPTERRECORD>(kNicPhysInterfaceKey, kPhysAdapterPrefix, &wrongSize))
            if (std::memcmp(macA.data(), record.MacAddress, 6) == 0)
                found.push_back(record);
        EXPECT_EQ(0u, wrongSize);
        return found;
    };
    scenario::SetLink(&m_Host, scenario::kNicA, false);
    WriteHost();
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect());
    std::vector<TRAPRECORD> lost = Traps(kNicTrapConnectivityLostKey);
    ASSERT_EQ(1u, lost.size());
    EXPECT_EQ(kNicTrapConnectivityLost, lost[0].Kind);
    EXPECT_EQ(0, std::memcmp(macA.data(), lost[0].MacAddress, 6));
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect());
    EXPECT_EQ(1u, Traps(kNicTrapConnectivityLostKey).size());
    EXPECT_EQ(9u, ValueNames(kNicPhysInterfaceKey).size());
    EXPECT_EQ(8u, ValueNames(kNicLogInterfaceMapKey).size());
    std::vector<PHYSADAPTERRECORD> down = memberA();
    ASSERT_EQ(1u, down.size()) << "NIC A is no longer published while its link is down";
    EXPECT_EQ(4, down[0].Condition);
    EXPECT_EQ(0u, down[0].SpeedMbps);
    scenario::SetLink(&m_Host, scenario::kNicA, true);
    WriteHost();
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect());
    std::vector<TRAPRECORD> regained = Traps(kNicTrapConnectivityRegainedKey);
    ASSERT_EQ(1u, regained.size());
    EXPECT_EQ(kNicTrapConnectivityRegained, regained[0].Kind);
    EXPECT_EQ(0, std::memcmp(macA.data(), regained[0].MacAddress, 6));
    std::vector<PHYSADAPTERRECORD> up = memberA();
    ASSERT_EQ(1u, up.size());
    EXPECT_EQ(2, up[0].Condition);

    // One member of the team driver's team down while the other works: redundancy reduced.
    scenario::SetLink(&m_Host, scenario::kNtidMember2, false);
    WriteHost();
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect());
    std::vector<TRAPRECORD> reduced = Traps(kNicTrapRedundancyReducedKey);
    ASSERT_EQ(1u, reduced.size());
    EXPECT_EQ(kNicTrapRedundancyReduced, reduced[0].Kind);

    // 100 passes of the scenario: their time goes to the test's record.
    const auto start = std::chrono::steady_clock::now();
    for (int pass = 0; pass < 100; ++pass)
        ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect()) << pass;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    RecordProperty("hundred_passes_ms", static_cast<int>(ms));
    std::printf("100 scenario passes through the handshake: %d ms\n", static_cast<int>(ms));

    NicServiceSide::StopResult stop = service.Stop();
    EXPECT_TRUE(stop.acknowledged);
    EXPECT_TRUE(stop.returned);
    EXPECT_EQ(nullptr, GetModuleHandleW(L"netvarix_fixture.dll"));
    // Stopping deletes nothing.
    EXPECT_EQ(8u, ValueNames(kNicLogInterfaceMapKey).size());
    EXPECT_EQ(1u, Traps(kNicTrapConnectivityLostKey).size());
}

TEST_F(NicModelEndToEnd, ProductLibraryOnWinesOwnInterfaces)
{
    NicServiceSide service(kShort);
    ASSERT_TRUE(service.StartLibrary(BesideTheTest(L"netvarix.dll")));
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect());
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect());
    DWORD value = 0;
    EXPECT_TRUE(GetDword(kNicRootKey, kNicStatusValue, &value));
    EXPECT_EQ(1u, value);
    EXPECT_TRUE(GetDword(kNicInterfaceKey, kNicInterfaceDataReadyValue, &value));
    EXPECT_EQ(1u, value);
    DWORD type = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(GetValue(kNicInterfaceKey, kNicSoftwareRevisionsValue, &type, &data));
    ASSERT_EQ(3973u, data.size());
    EXPECT_EQ(46, data[1]);
    ASSERT_TRUE(GetValue(kNicInterfaceKey, kNicMibStatsValue, &type, &data));
    ASSERT_EQ(6u, data.size());
    EXPECT_EQ(18, data[0]);
    // No sharing manager under Wine: BridgingInfo is there and empty.
    EXPECT_TRUE(KeyExists(kNicBridgingInfoKey));
    EXPECT_TRUE(ValueNames(kNicBridgingInfoKey).empty());
    // No miniport exists here, so no member NIC is modelled.
    EXPECT_TRUE(ValueNames(kNicPhysInterfaceKey).empty());
    NicServiceSide::StopResult stop = service.Stop();
    EXPECT_TRUE(stop.acknowledged);
    EXPECT_TRUE(stop.returned);
    EXPECT_EQ(nullptr, GetModuleHandleW(L"netvarix.dll"));
}

} // namespace
