// The message library copy and the event source registration.
#include "event_source.h"
#include "kdl_intake.h"
#include "test_support.h"

#include "registry.h"

#include <gtest/gtest.h>

#include <string>

using namespace kdltest;

namespace {

const wchar_t kSourceKey[] = L"CCS:\\services\\eventlog\\System\\NDX Velmarine Management Service";

TEST(MessageDllSourcePath, Derivation)
{
    std::wstring deep = L"C:\\" + std::wstring(200, L'd') + L"\\Service\\qzrtlm.exe";
    std::wstring tooLongExe = L"C:\\Apps\\" + std::wstring(260, L'x') + L"\\qzrtlm.exe";
    // 230 characters of folder leave room for the executable, not for eventmsg\ and the library.
    std::wstring tooLongSource = L"C:\\" + std::wstring(230, L'f') + L"\\S\\q.exe";
    struct Case {
        const char *name;
        std::wstring exe;
        const wchar_t *source; // null: no source
    };
    const Case cases[] = {
        {"normal", L"C:\\Apps\\Agent\\Service\\qzrtlm.exe", L"C:\\Apps\\Agent\\eventmsg\\EventLogMessages.dll"},
        {"one folder deep", L"C:\\Service\\qzrtlm.exe", L"C:\\eventmsg\\EventLogMessages.dll"},
        {"root-level executable", L"C:\\qzrtlm.exe", nullptr},
        {"no folder at all", L"qzrtlm.exe", nullptr},
        {"empty", L"", nullptr},
        {"long but fitting", deep, nullptr /* checked below */},
        {"over-long executable path", tooLongExe, nullptr},
        {"over-long source path", tooLongSource, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        wchar_t out[kEventSourcePathChars];
        wmemset(out, L'#', kEventSourcePathChars);
        bool derived = MessageDllSourcePath(c.exe.c_str(), kMessageLibraryName, out, kEventSourcePathChars);
        if (c.exe == deep) {
            EXPECT_TRUE(derived);
            EXPECT_EQ(std::wstring(out), L"C:\\" + std::wstring(200, L'd') + L"\\eventmsg\\EventLogMessages.dll");
            continue;
        }
        EXPECT_EQ(derived, c.source != nullptr);
        EXPECT_EQ(std::wstring(out), c.source ? c.source : L"");
    }
}

TEST(MessageDllSourcePath, SmallBufferIsNotOverrun)
{
    wchar_t out[16];
    wmemset(out, L'#', 16);
    EXPECT_FALSE(MessageDllSourcePath(L"C:\\Apps\\Agent\\Service\\qzrtlm.exe", kMessageLibraryName, out, 10));
    EXPECT_EQ(out[0], L'\0');
    for (int i = 10; i < 16; ++i)
        EXPECT_EQ(out[i], L'#');
}

TEST(MessageDllTargetPath, SystemFolder)
{
    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(length, 0u);
    wchar_t target[kEventSourcePathChars];
    ASSERT_TRUE(MessageDllTargetPath(kMessageLibraryName, target, kEventSourcePathChars));
    EXPECT_EQ(_wcsicmp(target, (std::wstring(system, length) + L"\\EventLogMessages.dll").c_str()), 0);
    wchar_t tiny[8];
    EXPECT_FALSE(MessageDllTargetPath(kMessageLibraryName, tiny, 8));
    EXPECT_EQ(tiny[0], L'\0');
}

class MessageLibraryCopy : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MessageDllTargetPath(kMessageLibraryName, target, kEventSourcePathChars));
        DeleteFileW(target);
        // The build puts the library where the service finds it: bin\..\eventmsg\.
        built = ProgramFolder() + L"..\\eventmsg\\EventLogMessages.dll";
        ASSERT_FALSE(ReadFileBytes(built).empty());
    }
    void TearDown() override { DeleteFileW(target); }

    wchar_t target[kEventSourcePathChars];
    std::wstring built;
};

TEST_F(MessageLibraryCopy, MissingLibraryIsCopiedFromBesideTheProgramFolder)
{
    InstallMessageDllIfNeeded(kMessageLibraryName);
    EXPECT_EQ(ReadFileBytes(target), ReadFileBytes(built));
}

TEST_F(MessageLibraryCopy, LibraryInPlaceIsNotReplaced)
{
    ASSERT_TRUE(WriteFileBytes(target, "installed earlier"));
    InstallMessageDllIfNeeded(kMessageLibraryName);
    EXPECT_EQ(ReadFileBytes(target), "installed earlier");
}

TEST_F(MessageLibraryCopy, NoEventmsgFolderCopiesNothing)
{
    std::wstring folder = MakeTempFolder(L"kdl-noeventmsg");
    CreateDirectoryW((folder + L"Service").c_str(), nullptr);
    InstallMessageDllFrom((folder + L"Service\\qzrtlm.exe").c_str(), kMessageLibraryName);
    EXPECT_EQ(GetFileAttributesW(target), INVALID_FILE_ATTRIBUTES);
    InstallMessageDllFrom(L"C:\\qzrtlm.exe", kMessageLibraryName);
    EXPECT_EQ(GetFileAttributesW(target), INVALID_FILE_ATTRIBUTES);
}

TEST_F(MessageLibraryCopy, LibraryIsTakenFromTheExecutablesEventmsgFolder)
{
    std::wstring folder = MakeTempFolder(L"kdl-eventmsg");
    CreateDirectoryW((folder + L"eventmsg").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(folder + L"eventmsg\\EventLogMessages.dll", "library beside"));
    InstallMessageDllFrom((folder + L"Service\\qzrtlm.exe").c_str(), kMessageLibraryName);
    EXPECT_EQ(ReadFileBytes(target), "library beside");
}

class EventSource : public ::testing::Test {
protected:
    void SetUp() override { CRegistry::DeleteTree(HKEY_LOCAL_MACHINE, kSourceKey); }
    void TearDown() override { CRegistry::DeleteTree(HKEY_LOCAL_MACHINE, kSourceKey); }

    static void ExpectValue(HKEY key, const wchar_t *name, DWORD type, const std::wstring &text)
    {
        wchar_t data[512] = {};
        DWORD size = sizeof data - sizeof(wchar_t), actualType = 0;
        ASSERT_EQ(RegQueryValueExW(key, name, nullptr, &actualType, reinterpret_cast<BYTE *>(data), &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(actualType, type);
        EXPECT_EQ(size, (text.size() + 1) * sizeof(wchar_t)); // stored with its NUL
        EXPECT_EQ(std::wstring(data), text);
    }
    static void ExpectValue(HKEY key, const wchar_t *name, DWORD value)
    {
        DWORD data = 0, size = sizeof data, type = 0;
        ASSERT_EQ(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&data), &size), ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(data, value);
    }
    static DWORD ValueCount()
    {
        CRegistry key(kSourceKey);
        DWORD values = 0;
        key.QueryInfo(nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr, nullptr);
        return values;
    }
};

TEST_F(EventSource, MissingSourceIsCreatedWithItsValues)
{
    DefineEventSourceIfNeeded(kKdlEventSource, kMessageLibraryName);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            L"SYSTEM\\CurrentControlSet\\services\\eventlog\\System\\NDX Velmarine Management Service",
                            0, KEY_READ, &key),
              ERROR_SUCCESS);
    ExpectValue(key, L"EventMessageFile", REG_EXPAND_SZ, L"%SystemRoot%\\System32\\EventLogMessages.dll");
    ExpectValue(key, L"CategoryMessageFile", REG_EXPAND_SZ, L"%SystemRoot%\\System32\\EventLogMessages.dll");
    ExpectValue(key, L"CategoryCount", 16);
    ExpectValue(key, L"TypesSupported", 7);
    RegCloseKey(key);
    EXPECT_EQ(ValueCount(), 4u);
}

TEST_F(EventSource, ExistingSourceIsLeftAsItIs)
{
    // A key without any of the values stays without them.
    ASSERT_TRUE(CRegistry(kSourceKey).Create(0));
    DefineEventSourceIfNeeded(kKdlEventSource, kMessageLibraryName);
    EXPECT_EQ(ValueCount(), 0u);

    // A key registered otherwise keeps its values.
    {
        CRegistry key(kSourceKey);
        ASSERT_TRUE(key.SetString(L"EventMessageFile", L"C:\\Other\\Messages.dll", REG_EXPAND_SZ));
        ASSERT_TRUE(key.SetDword(L"TypesSupported", 1));
    }
    DefineEventSourceIfNeeded(kKdlEventSource, kMessageLibraryName);
    CRegistry key(kSourceKey);
    std::wstring file;
    DWORD types = 0;
    EXPECT_TRUE(key.GetString(L"EventMessageFile", &file));
    EXPECT_EQ(file, L"C:\\Other\\Messages.dll");
    EXPECT_TRUE(key.GetDword(L"TypesSupported", &types));
    EXPECT_EQ(types, 1u);
    EXPECT_EQ(ValueCount(), 2u);
}

TEST_F(EventSource, DeletedSourceIsCreatedAgain)
{
    DefineEventSourceIfNeeded(kKdlEventSource, kMessageLibraryName);
    ASSERT_EQ(ValueCount(), 4u);
    ASSERT_TRUE(CRegistry::DeleteTree(HKEY_LOCAL_MACHINE, kSourceKey));
    ASSERT_FALSE(CRegistry(kSourceKey).Exists());
    DefineEventSourceIfNeeded(kKdlEventSource, kMessageLibraryName);
    EXPECT_EQ(ValueCount(), 4u);
}

} // namespace
