#include "sas_publish.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr const char *kPhyKey = "SYSTEM\\QZTLMStorage\\SCSI\\SASPhyDrv";
constexpr const char *kHbaKey = "SYSTEM\\QZTLMStorage\\SCSI\\SasHBA";

std::vector<std::string> ValueNames(const char *path)
{
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

std::vector<uint8_t> Value(const char *path, const std::string &name)
{
    std::vector<uint8_t> data(1024);
    DWORD size = static_cast<DWORD>(data.size());
    if (RegGetValueA(HKEY_LOCAL_MACHINE, path, name.c_str(), RRF_RT_REG_BINARY, nullptr, data.data(), &size) !=
        ERROR_SUCCESS)
        return {};
    data.resize(size);
    return data;
}

SasPublishAdapter Adapter(uint32_t index, size_t drives)
{
    SasPublishAdapter adapter{};
    std::memset(&adapter.Hba, 0, sizeof adapter.Hba);
    adapter.Hba.AdapterIndex = index;
    SasSetText(adapter.Hba.Location, "Slot " + std::to_string(index));
    for (size_t i = 0; i < drives; ++i) {
        SAS_PHYDRV_RECORD drive;
        std::memset(&drive, 0, sizeof drive);
        drive.AdapterIndex = index;
        drive.DriveIndex = static_cast<uint32_t>(i + 1);
        drive.Status = 2;
        drive.Condition = SasDriveCondition(2);
        SasSetText(drive.SerialNumber, "SER" + std::to_string(index) + "-" + std::to_string(i));
        adapter.Drives.push_back(drive);
    }
    return adapter;
}

class SasPublishTest : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SYSTEM\\QZTLMStorage"); }
    SasPublishState state;
};

TEST_F(SasPublishTest, DrivesOfAllAdaptersAreNumberedWithoutGapsAndByteEqual)
{
    // The middle adapter has no drives: it adds an HBA value but no drive value.
    std::vector<SasPublishAdapter> adapters{Adapter(0, 2), Adapter(1, 0), Adapter(4, 3)};
    ASSERT_EQ(SasPublishRecords(adapters, state, 1), ERROR_SUCCESS);

    EXPECT_EQ(ValueNames(kHbaKey), (std::vector<std::string>{"SasHBA000", "SasHBA001", "SasHBA002"}));
    auto names = ValueNames(kPhyKey);
    ASSERT_EQ(names, (std::vector<std::string>{"SasPhyDrv000", "SasPhyDrv001", "SasPhyDrv002", "SasPhyDrv003",
                                               "SasPhyDrv004"}));
    const SAS_PHYDRV_RECORD *expected[] = {&adapters[0].Drives[0], &adapters[0].Drives[1], &adapters[2].Drives[0],
                                           &adapters[2].Drives[1], &adapters[2].Drives[2]};
    for (size_t i = 0; i < names.size(); ++i) {
        auto bytes = Value(kPhyKey, names[i]);
        ASSERT_EQ(bytes.size(), sizeof(SAS_PHYDRV_RECORD));
        EXPECT_EQ(std::memcmp(bytes.data(), expected[i], bytes.size()), 0) << names[i];
    }
    auto hba = Value(kHbaKey, "SasHBA002");
    ASSERT_EQ(hba.size(), 512u);
    EXPECT_EQ(std::memcmp(hba.data(), &adapters[2].Hba, 512), 0);
    // Empty kinds still get their key, with nothing in it.
    EXPECT_TRUE(ValueNames("SYSTEM\\QZTLMStorage\\SCSI\\SASTapeDrv").empty());
    EXPECT_TRUE(ValueNames("SYSTEM\\QZTLMStorage\\SCSI\\SasLogDrv").empty());
}

TEST_F(SasPublishTest, ARemovedDriveLeavesNoStaleValueWithOrWithoutTheRewriteFlag)
{
    for (int fullRewrite : {1, 0}) {
        SetUp();
        state = {};
        std::vector<SasPublishAdapter> adapters{Adapter(2, 4)};
        ASSERT_EQ(SasPublishRecords(adapters, state, 1), ERROR_SUCCESS);
        ASSERT_EQ(ValueNames(kPhyKey).size(), 4u);
        adapters[0].Drives.erase(adapters[0].Drives.begin() + 1);
        ASSERT_EQ(SasPublishRecords(adapters, state, fullRewrite), ERROR_SUCCESS);
        EXPECT_EQ(ValueNames(kPhyKey), (std::vector<std::string>{"SasPhyDrv000", "SasPhyDrv001", "SasPhyDrv002"}))
            << fullRewrite;
        auto bytes = Value(kPhyKey, "SasPhyDrv001");
        ASSERT_EQ(bytes.size(), sizeof(SAS_PHYDRV_RECORD));
        EXPECT_EQ(std::memcmp(bytes.data(), &adapters[0].Drives[1], bytes.size()), 0);
    }
}

} // namespace
