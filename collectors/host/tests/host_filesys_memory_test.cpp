// The file-system table and the memory scalars: the real drives and performance information of
// the prefix, and the row builder and arithmetic on drives and numbers the prefix cannot show.
#include "host_test_support.h"
#include "zdthost_collector.h"

#include "store_writers.h"

#include <gtest/gtest.h>

#include <map>

using namespace hosttest;

namespace {

DRIVE_FACTS NoRootDir(char letter)
{
    DRIVE_FACTS drive;
    drive.letter = letter;
    drive.driveType = DRIVE_NO_ROOT_DIR;
    return drive;
}


class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(InitDataStores()); }
    void TearDown() override { TermDataStores(); }

    std::optional<int32_t> Cell(uint32_t column, uint32_t row)
    {
        return IntAt(&staging, EnterpriseOid({11, 2, 4, 1, 1, column, row}));
    }
    std::optional<std::string> Text(uint32_t column, uint32_t row)
    {
        return TextAt(&staging, EnterpriseOid({11, 2, 4, 1, 1, column, row}));
    }
    int Rows()
    {
        int rows = 0;
        while (Cell(1, rows).has_value())
            ++rows;
        return rows;
    }

    DATASTORE staging{false};
};

using FileSystemTest = StoreTest;

TEST_F(FileSystemTest, RealFixedDrives)
{
    s_ZDTHOSTDataCollector.Collect_zdtHoFileSys(0, &staging);
    EXPECT_EQ(std::optional<int32_t>(2), IntAt(&staging, EnterpriseOid({11, 2, 4, 2, 0})));

    // Every fixed drive with a volume, in letter order; Wine has at least C: and Z:.
    std::vector<char> fixed;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const char root[] = {letter, ':', '\\', '\0'};
        char volume[260];
        if (GetDriveTypeA(root) == DRIVE_FIXED && GetVolumeNameForVolumeMountPointA(root, volume, sizeof volume))
            fixed.push_back(letter);
    }
    ASSERT_GE(fixed.size(), 2u);
    ASSERT_EQ(static_cast<int>(fixed.size()), Rows());
    for (uint32_t row = 0; row < fixed.size(); ++row) {
        const char root[] = {fixed[row], ':', '\\', '\0'};
        SCOPED_TRACE(root);
        ULARGE_INTEGER available, total;
        ASSERT_TRUE(GetDiskFreeSpaceExA(root, &available, &total, nullptr));
        EXPECT_EQ(std::optional<int32_t>(static_cast<int32_t>(row)), Cell(1, row));
        EXPECT_EQ(std::optional<int32_t>(static_cast<int32_t>(total.QuadPart >> 20)), Cell(3, row));
        const std::string shortText = Text(9, row).value_or("");
        EXPECT_EQ(0u, shortText.rfind(std::string(root) + " [", 0)) << shortText;
        EXPECT_EQ(']', shortText.back());
        const std::string longText = Text(2, row).value_or("");
        EXPECT_EQ(0u, longText.rfind(shortText + " Volume{", 0)) << longText;
        EXPECT_EQ('}', longText.back());
        EXPECT_EQ(std::optional<int32_t>(2), Cell(8, row));
        const int32_t percent = Cell(5, row).value_or(-2);
        EXPECT_GE(percent, 0);
        EXPECT_LE(percent, 100);
    }
}

DRIVE_FACTS Fixed(char letter, const char *label, const char *fileSystem, std::optional<VOLUME_SPACE> space)
{
    DRIVE_FACTS drive;
    drive.letter = letter;
    drive.driveType = DRIVE_FIXED;
    drive.volumeName = std::string("\\\\?\\Volume{0000000") + letter + "-0000-0000-0000-000000000000}\\";
    drive.informationRead = true;
    drive.label = label;
    drive.fileSystem = fileSystem;
    drive.space = space;
    return drive;
}

TEST_F(FileSystemTest, RowsOfDrivesThePrefixCannotShow)
{
    constexpr uint64_t TB = uint64_t(1) << 40;
    std::map<char, DRIVE_FACTS> drives;
    drives['C'] = Fixed('C', "System", "NTFS", VOLUME_SPACE{4 * TB, 2 * TB, 4 * TB / 4096, 2 * TB / 4096});
    drives['D'] = Fixed('D', "Stick", "FAT32", VOLUME_SPACE{1 << 30, 0, 1000, 0});
    drives['D'].driveType = DRIVE_REMOVABLE;
    drives['E'] = Fixed('E', "old label", "", std::nullopt);
    drives['E'].informationRead = false;
    drives['E'].informationError = ERROR_UNRECOGNIZED_VOLUME;
    drives['F'] = Fixed('F', "", "", VOLUME_SPACE{1 << 20, 0, 10, 0});
    drives['F'].informationRead = false;  // space of a volume without information does not count
    drives['F'].informationError = ERROR_ACCESS_DENIED;
    drives['G'] = Fixed('G', "Empty", "NTFS", VOLUME_SPACE{0, 0, 0, 0});
    drives['H'] = Fixed('H', "No GUID", "NTFS", VOLUME_SPACE{1 << 20, 0, 1, 0});
    drives['H'].volumeName.reset();
    drives['I'] = Fixed('I', "Unread", "NTFS", std::nullopt);
    drives['J'] = Fixed('J', "L\xE4nder", "NTFS", VOLUME_SPACE{1 << 20, 0, 1, 0});

    WriteFileSystemTable(&staging, [&](char letter) {
        const auto found = drives.find(letter);
        return found != drives.end() ? found->second : NoRootDir(letter);
    });

    struct Row {
        std::string shortText;
        std::vector<int32_t> columns3to7;
    };
    const Row rows[] = {
        {"C:\\ [System:NTFS]", {4194304, 2097152, 50, 1073741824, 536870912}},
        {"E:\\ [:RAW]", {-1, -1, -1, -1, -1}},
        {"F:\\ [:UNKNOWN]", {-1, -1, -1, -1, -1}},
        {"G:\\ [Empty:NTFS]", {0, 0, 0, 0, 0}},
        {"I:\\ [Unread:NTFS]", {-1, -1, -1, -1, -1}},
        {"Invalid character found", {1, 1, 100, 1, 1}},
    };
    ASSERT_EQ(6, Rows());
    for (uint32_t row = 0; row < 6; ++row) {
        SCOPED_TRACE(rows[row].shortText);
        EXPECT_EQ(rows[row].shortText, Text(9, row));
        if (row < 5) {
            const char letter = rows[row].shortText[0];
            EXPECT_EQ(rows[row].shortText + " Volume{0000000" + letter + "-0000-0000-0000-000000000000}", Text(2, row));
        }
        for (uint32_t column = 3; column <= 7; ++column)
            EXPECT_EQ(std::optional<int32_t>(rows[row].columns3to7[column - 3]), Cell(column, row)) << column;
        EXPECT_EQ(std::optional<int32_t>(2), Cell(8, row));
    }
}

TEST_F(FileSystemTest, ADriveGoneIsGoneFromTheNextTable)
{
    DATASTORE served(true);
    for (bool withD : {true, false}) {
        DATASTORE cycle(false);
        WriteFileSystemTable(&cycle, [&](char letter) {
            if (letter == 'C' || (letter == 'D' && withD))
                return Fixed(letter, "x", "NTFS", VOLUME_SPACE{1 << 20, 0, 1, 0});
            return NoRootDir(letter);
        });
        ASSERT_TRUE(served.Merge(&cycle));
    }
    EXPECT_EQ("C:\\ [x:NTFS]", TextAt(&served, EnterpriseOid({11, 2, 4, 1, 1, 9, 0})));
    EXPECT_EQ(std::nullopt, TextAt(&served, EnterpriseOid({11, 2, 4, 1, 1, 9, 1})));
}

using MemoryTest = StoreTest;

TEST_F(MemoryTest, RealPerformanceInformation)
{
    s_ZDTHOSTDataCollector.Collect_zdtHoMemory(0, &staging);
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    ASSERT_TRUE(GlobalMemoryStatusEx(&status));
    const int32_t totalMb = static_cast<int32_t>(status.ullTotalPhys >> 20) + 1;
    const std::optional<int32_t> total = IntAt(&staging, EnterpriseOid({11, 2, 13, 1, 0}));
    ASSERT_TRUE(total.has_value());
    EXPECT_LE(std::abs(*total - totalMb), 1);
    const std::optional<int32_t> limit = IntAt(&staging, EnterpriseOid({11, 2, 13, 3, 0}));
    const std::optional<int32_t> free = IntAt(&staging, EnterpriseOid({11, 2, 13, 4, 0}));
    ASSERT_TRUE(limit && free);
    EXPECT_GT(*limit, 1);
    EXPECT_LE(*free, *limit);
    EXPECT_LE(IntAt(&staging, EnterpriseOid({11, 2, 13, 2, 0})).value_or(INT32_MAX), *total);
}

TEST_F(MemoryTest, UnreadableInformationIsWrittenAsMinusOne)
{
    for (const std::optional<MEMORY_PAGES> &pages :
         {std::optional<MEMORY_PAGES>(), std::optional<MEMORY_PAGES>(MEMORY_PAGES{4194304, 1, 1, 0, 0})}) {
        DATASTORE cycle(false);
        WriteMemoryScalars(&cycle, pages);
        for (uint32_t scalar = 1; scalar <= 4; ++scalar)
            EXPECT_EQ(std::optional<int32_t>(-1), IntAt(&cycle, EnterpriseOid({11, 2, 13, scalar, 0}))) << scalar;
    }
    DATASTORE cycle(false);
    WriteMemoryScalars(&cycle, MEMORY_PAGES{4194304, 262144, 8388608, 8388608, 4096});
    EXPECT_EQ(std::optional<int32_t>(16385), IntAt(&cycle, EnterpriseOid({11, 2, 13, 1, 0})));
    EXPECT_EQ(std::optional<int32_t>(1), IntAt(&cycle, EnterpriseOid({11, 2, 13, 4, 0})));
}

} // namespace
