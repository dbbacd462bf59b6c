// The installer's text log on the real file system of the test prefix.
#include <gtest/gtest.h>

#include <regex>

#include "installer_log.h"
#include "installer_test_support.h"

using namespace catest;

namespace {

class InstallerLogTest : public ::testing::Test {
protected:
    ScopedProgramFiles m_ProgramFiles{L"log"};
    std::wstring LogFile() const { return InstallerLogFolder() + L"installer.log"; }
    std::wstring OldFile() const { return InstallerLogFolder() + L"installer.lo_"; }
};

TEST_F(InstallerLogTest, FirstOpenMakesTheFoldersAndTheFile)
{
    ASSERT_FALSE(FileExists(m_ProgramFiles.Path() + L"\\Vostrel-Quinbar"));
    InstallerLog log;
    EXPECT_EQ(0u, log.Open(L"installer", L"tlmca"));
    EXPECT_TRUE(FileExists(LogFile()));
    EXPECT_EQ(InstallerLogFolder() + L"installer", log.BasePath());
    EXPECT_EQ(0x100000u, log.SizeLimit());
}

TEST_F(InstallerLogTest, LineFormatWithoutByteOrderMark)
{
    InstallerLog log;
    log.Open(L"installer", L"tlmca");
    log.SetFunction(L"DepCheck");
    EXPECT_EQ(0u, log.Printf(L"Checking %s %hs %d", L"wide", "narrow", 42));
    log.SetFunction(L"PostInstall");
    log.Printf(L"two\nlines");

    const std::string bytes = ReadFileBytes(LogFile());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_FALSE(bytes[0] == '\xFF' && bytes[1] == '\xFE');
    const std::vector<std::wstring> lines = LogLines();
    ASSERT_EQ(2u, lines.size());
    const std::wregex first(LR"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d\d\d, tlmca, \t\|DepCheck\|, Checking wide narrow 42)");
    EXPECT_TRUE(std::regex_match(lines[0], first)) << Narrow(lines[0]);
    EXPECT_NE(std::wstring::npos, lines[1].find(L"|PostInstall|, two\nlines"));
}

TEST_F(InstallerLogTest, RollsOverAtTheLimitOnly)
{
    InstallerLog log;
    log.Open(L"installer", L"tlmca");
    log.SetFunction(L"F");
    struct Case {
        size_t size;
        bool rolls;
    };
    for (const Case c : {Case{1048575, false}, Case{1048576, true}}) {
        SCOPED_TRACE(c.size);
        DeleteFileW(OldFile().c_str());
        WriteFileBytes(LogFile(), std::string(c.size, 'x'));
        EXPECT_EQ(0u, log.Printf(L"line"));
        const size_t now = ReadFileBytes(LogFile()).size();
        if (c.rolls) {
            EXPECT_EQ(c.size, ReadFileBytes(OldFile()).size());
            EXPECT_LT(now, 200u);
        } else {
            EXPECT_FALSE(FileExists(OldFile()));
            EXPECT_GT(now, c.size);
        }
    }
}

TEST_F(InstallerLogTest, FailedRenameGivesThreeAndTheLineStillLands)
{
    InstallerLog log;
    log.Open(L"installer", L"tlmca");
    log.SetFunction(L"F");
    WriteFileBytes(LogFile(), std::string(1048576, 'x'));
    WriteFileBytes(OldFile(), "older");
    // Held open without delete sharing: the older file can be neither deleted nor replaced.
    HANDLE held = CreateFileW(OldFile().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    HANDLE file = CreateFileW(LogFile().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(3u, log.RotateIfNeeded(&file));
    EXPECT_EQ(INVALID_HANDLE_VALUE, file);

    EXPECT_EQ(0u, log.Printf(L"still here"));
    CloseHandle(held);
    EXPECT_EQ("older", ReadFileBytes(OldFile()));
    const std::vector<std::wstring> messages = LogMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(L"still here", messages.back());
    EXPECT_GT(ReadFileBytes(LogFile()).size(), 1048576u);
}

TEST_F(InstallerLogTest, NeverOpenedWritesNothing)
{
    InstallerLog log;
    EXPECT_NE(0u, log.Printf(L"lost"));
    EXPECT_FALSE(FileExists(LogFile()));
}

}  // namespace
