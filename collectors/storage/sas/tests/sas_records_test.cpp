#include "sas_records.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(SasRecords, DriveConditionAndLostStatusFollowTheStatusTable)
{
    struct Case {
        uint8_t status, condition, lost;
    };
    const Case cases[] = {
        {0, 1, 0},   {1, 1, 1},   {2, 2, 6},   {3, 3, 7},   {4, 4, 8},   {5, 4, 9},  {6, 4, 6},
        {7, 4, 7},   {8, 4, 8},   {9, 4, 9},   {10, 3, 11}, {11, 4, 11}, {12, 3, 13},
        {13, 4, 13}, {14, 1, 14}, {255, 1, 255},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(SasDriveCondition(c.status), c.condition) << int(c.status);
        EXPECT_EQ(SasLostStatus(c.status), c.lost) << int(c.status);
    }
}

TEST(SasRecords, TextIsCutToTheFieldAndTheRestIsZero)
{
    SAS_PHYDRV_RECORD record;
    std::memset(&record, 0xAA, sizeof record);
    SasSetText(record.OsDiskName, "Disk 12345678901234");
    EXPECT_EQ(std::string(record.OsDiskName), "Disk 123456");
    SasSetText(record.SasAddress, "5000C500ABCDEF01");
    EXPECT_EQ(std::string(record.SasAddress), "5000C500ABCDEF01");
    SasSetText(record.Model, "ab");
    for (size_t i = 2; i < sizeof record.Model; ++i)
        EXPECT_EQ(record.Model[i], '\0') << i;
    // The field beside the cut one is untouched.
    EXPECT_EQ(static_cast<uint8_t>(record.MediaType), 0xAA);
}

TEST(SasRecords, ValuesAreNumberedWithoutGapsAndCarryTheRecordBytes)
{
    std::vector<SAS_PHYDRV_RECORD> drives(17);
    for (size_t i = 0; i < drives.size(); ++i) {
        std::memset(&drives[i], 0, sizeof drives[i]);
        drives[i].AdapterIndex = i < 5 ? 1 : 3;
        drives[i].DriveIndex = static_cast<uint32_t>(i + 1);
        SasSetText(drives[i].SerialNumber, "S" + std::to_string(i));
    }
    auto values = SasRecordValues("SasPhyDrv", drives);
    ASSERT_EQ(values.size(), 17u);
    EXPECT_EQ(values[0].Name, "SasPhyDrv000");
    EXPECT_EQ(values[10].Name, "SasPhyDrv00A");
    EXPECT_EQ(values[16].Name, "SasPhyDrv010");
    for (size_t i = 0; i < values.size(); ++i) {
        ASSERT_EQ(values[i].Bytes.size(), 458u);
        EXPECT_EQ(std::memcmp(values[i].Bytes.data(), &drives[i], 458), 0) << i;
    }
    // Little-endian drive index at offset 4, serial at 286.
    EXPECT_EQ(values[16].Bytes[4], 17);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&values[16].Bytes[286])), "S16");

    EXPECT_TRUE(SasRecordValues("SasHBA", std::vector<SAS_HBA_RECORD>{}).empty());
    EXPECT_EQ(SasValueName("SasTapeDrv", 0xFFF), "SasTapeDrvFFF");
}

} // namespace
