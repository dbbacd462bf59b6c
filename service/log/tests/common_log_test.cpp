#include "common_log.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

constexpr wchar_t kConfigKey[] = L"System\\TLMLOGCFG";
constexpr wchar_t kAnnouncementFunction[] = L"CCommonLog::LogInit";

struct RegValue {
    const wchar_t *name;
    DWORD type;
    std::vector<BYTE> data;
};

RegValue Dword(const wchar_t *name, DWORD value)
{
    std::vector<BYTE> data(sizeof(value));
    memcpy(data.data(), &value, sizeof(value));
    return {name, REG_DWORD, data};
}

// The string with its terminating NUL, as a registry string is stored.
RegValue String(const wchar_t *name, const std::wstring &text, DWORD type = REG_SZ)
{
    const BYTE *bytes = reinterpret_cast<const BYTE *>(text.c_str());
    return {name, type, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

RegValue Raw(const wchar_t *name, DWORD type, std::vector<BYTE> data)
{
    return {name, type, std::move(data)};
}

void ClearConfig()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kConfigKey);
}

void WriteConfig(const std::vector<RegValue> &values)
{
    ClearConfig();
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, kConfigKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    for (const auto &value : values) {
        // The system counts a NUL that follows string data as part of it; what follows here is not.
        std::vector<BYTE> padded = value.data;
        padded.insert(padded.end(), {0xFF, 0xFF});
        EXPECT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key, value.name, 0, value.type, padded.data(), static_cast<DWORD>(value.data.size())));
    }
    RegCloseKey(key);
}

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// A fresh, empty folder for one test, with a trailing backslash.
std::wstring FreshFolder(const std::wstring &name)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"tlmlog-" + name + L"\\";
    for (const wchar_t *suffix : {L"TLM.log", L"TLM.lo_", L"CommonLog_MutexError.log", L"CommonLog_MutexError.lo_"})
        DeleteFileW((folder + suffix).c_str());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::wstring CurrentTestName()
{
    const char *name = testing::UnitTest::GetInstance()->current_test_info()->name();
    std::wstring wide;
    for (const char *c = name; *c != '\0'; ++c)
        wide.push_back(isalnum(static_cast<unsigned char>(*c)) ? static_cast<wchar_t>(*c) : L'_');
    return wide;
}

std::string ReadBytes(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read != 0)
        bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

std::wstring ReadText(const std::wstring &path)
{
    std::string bytes = ReadBytes(path);
    std::wstring text(bytes.size() / 2, L'\0');
    memcpy(text.data(), bytes.data(), text.size() * 2);
    return text;
}

void WriteBytes(const std::wstring &path, const std::string &bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);
}

uint64_t FileSize(const std::wstring &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

struct Line {
    int level = 0;
    std::wstring function;
    std::wstring message;
};

int LevelFromName(const std::wstring &name)
{
    for (int level = 1; level <= 4; ++level)
        if (name == CCommonLog::LevelName(level))
            return level;
    return 0;
}

// One line without its CR LF: "MM/DD/YYYY hh:mm:ss.mmm, [level name], |function|, message".
bool ParseLine(const std::wstring &raw, Line *line)
{
    static const std::wstring stamp = L"99/99/9999 99:99:99.999, [";
    if (raw.size() < stamp.size() + 11 + 4)
        return false;
    for (size_t i = 0; i < stamp.size(); ++i)
        if (stamp[i] == L'9' ? !iswdigit(raw[i]) : raw[i] != stamp[i])
            return false;
    const int month = std::stoi(raw.substr(0, 2)), day = std::stoi(raw.substr(3, 2));
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return false;
    line->level = LevelFromName(raw.substr(stamp.size(), 11));
    size_t rest = stamp.size() + 11;
    if (line->level == 0 || raw.compare(rest, 4, L"], |") != 0)
        return false;
    rest += 4;
    const size_t bar = raw.find(L"|, ", rest);
    if (bar == std::wstring::npos || raw.find(L'|', rest) != bar)
        return false;
    line->function = raw.substr(rest, bar - rest);
    line->message = raw.substr(bar + 3);
    return line->message.find_first_of(L"\r\n") == std::wstring::npos;
}

// Splits a log file into lines. Every line must have the full format and end with CR LF; a
// malformed or torn line fails the test that reads it.
std::vector<Line> ParseLog(const std::wstring &text)
{
    std::vector<Line> lines;
    EXPECT_TRUE(text.empty() || text[0] != 0xFEFF) << "no byte-order mark";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            ADD_FAILURE() << "unterminated last line";
            break;
        }
        const std::wstring raw = text.substr(start, end - start);
        Line line;
        if (ParseLine(raw, &line))
            lines.push_back(std::move(line));
        else
            ADD_FAILURE() << "malformed line " << lines.size() + 1 << ": " << std::string(raw.begin(), raw.end());
        start = end + 2;
    }
    return lines;
}

std::vector<Line> WithoutAnnouncements(std::vector<Line> lines)
{
    std::erase_if(lines, [](const Line &line) { return line.function == kAnnouncementFunction; });
    return lines;
}

// A process started by the test; it shares the test's Wine prefix.
struct Child {
    PROCESS_INFORMATION info = {};
    Child() = default;
    Child(const Child &) = delete;
    Child(Child &&other) noexcept : info(other.info) { other.info = {}; }
    ~Child()
    {
        if (info.hProcess != nullptr) {
            CloseHandle(info.hProcess);
            CloseHandle(info.hThread);
        }
    }
};

Child StartWriter(const std::wstring &module, int rounds, const std::wstring &directory = {})
{
    std::wstring command = L"\"" + ProgramFolder() + L"log_writer.exe\" \"" + module + L"\" " + std::to_wstring(rounds);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    Child child;
    EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               directory.empty() ? nullptr : directory.c_str(), &startup, &child.info))
        << GetLastError();
    return child;
}

DWORD WaitExit(Child &child)
{
    if (child.info.hProcess == nullptr)
        return ~0u;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.info.hProcess, 120000));
    DWORD code = ~0u;
    GetExitCodeProcess(child.info.hProcess, &code);
    return code;
}

class CommonLogTest : public testing::Test {
protected:
    void SetUp() override { m_Folder = FreshFolder(CurrentTestName()); }
    void TearDown() override { ClearConfig(); }

    // Configuration with this test's folder plus the given values.
    void Configure(std::vector<RegValue> values)
    {
        values.push_back(String(L"LogFolder", m_Folder));
        WriteConfig(values);
    }
    std::wstring LogPath() const { return m_Folder + L"TLM.log"; }
    std::wstring BackupPath() const { return m_Folder + L"TLM.lo_"; }

    std::wstring m_Folder;
};

// --- configuration -------------------------------------------------------------------------------

struct ConfigCase {
    const char *what;
    std::vector<RegValue> values;
    const wchar_t *module;
    int level;
    DWORD maximum;
    int result;
};

TEST_F(CommonLogTest, ReadConfigAppliesRangesAndOverrides)
{
    const DWORD kDefaultMax = CCommonLog::kDefaultMaximumSize;
    const std::wstring folder = L"C:\\logs\\";
    auto base = [&](std::vector<RegValue> extra) {
        std::vector<RegValue> values = {String(L"LogFolder", folder)};
        values.insert(values.end(), extra.begin(), extra.end());
        return values;
    };
    const std::vector<ConfigCase> cases = {
        {"all valid", base({Dword(L"LogLevel", 3), Dword(L"LogMaxSize", 0x100000)}), L"TLM service", 3, 0x100000, 0},
        {"level 0 falls back and hides the per-log value",
         base({Dword(L"LogLevel", 0), Dword(L"LogLevel (TLM)", 4), Dword(L"LogMaxSize", 0x100000)}), L"TLM service", 2,
         0x100000, 87},
        {"level 5 falls back", base({Dword(L"LogLevel", 5), Dword(L"LogMaxSize", 0x100000)}), L"TLM service", 2,
         0x100000, 87},
        {"per-module override for the NIC library",
         base({Dword(L"LogLevel", 2), Dword(L"LogLevel (TLM)", 4), Dword(L"LogLevel (TLM:NETVARDL)", 1),
               Dword(L"LogMaxSize", 0x100000)}),
         L"NETVARDL", 1, 0x100000, 0},
        {"per-log override for the service",
         base({Dword(L"LogLevel", 2), Dword(L"LogLevel (TLM)", 4), Dword(L"LogLevel (TLM:NETVARDL)", 1),
               Dword(L"LogMaxSize", 0x100000)}),
         L"TLM service", 4, 0x100000, 0},
        {"module names compare upper-cased",
         base({Dword(L"LogLevel", 2), Dword(L"LogLevel (TLM)", 4), Dword(L"LogLevel (TLM:NETVARDL)", 1),
               Dword(L"LogMaxSize", 0x100000)}),
         L"NetVarDl", 1, 0x100000, 0},
        {"module override needs a valid per-log value",
         base({Dword(L"LogLevel", 3), Dword(L"LogLevel (TLM)", 9), Dword(L"LogLevel (TLM:NETVARDL)", 1),
               Dword(L"LogMaxSize", 0x100000)}),
         L"NETVARDL", 3, 0x100000, 0},
        {"level stored as a string", base({String(L"LogLevel", L"3"), Dword(L"LogMaxSize", 0x100000)}), L"TLM service",
         2, 0x100000, 87},
        {"level stored as 4 binary bytes",
         base({Raw(L"LogLevel", REG_BINARY, {3, 0, 0, 0}), Dword(L"LogMaxSize", 0x100000)}), L"TLM service", 2,
         0x100000, 87},
        {"size below range hides the per-log size",
         base({Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x7FFFF), Dword(L"LogMaxSize (TLM)", 0x100000)}),
         L"TLM service", 2, kDefaultMax, 87},
        {"size above range", base({Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x8000001)}), L"TLM service", 2,
         kDefaultMax, 87},
        {"size bounds are inclusive (low)", base({Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x80000)}),
         L"TLM service", 2, 0x80000, 0},
        {"size bounds are inclusive (high)", base({Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x8000000)}),
         L"TLM service", 2, 0x8000000, 0},
        {"per-log size",
         base({Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x200000), Dword(L"LogMaxSize (TLM)", 0x100000)}),
         L"TLM service", 2, 0x100000, 0},
        {"per-log size out of range is ignored",
         base({Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x200000), Dword(L"LogMaxSize (TLM)", 0x10)}),
         L"TLM service", 2, 0x200000, 0},
        {"nothing but the folder", base({}), L"TLM service", 2, kDefaultMax, 87},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        WriteConfig(test.values);
        std::wstring readFolder;
        int level = 0;
        DWORD maximum = 0;
        EXPECT_EQ(test.result, CCommonLog::ReadConfig(L"TLM", test.module, &readFolder, &level, &maximum));
        EXPECT_EQ(test.level, level);
        EXPECT_EQ(test.maximum, maximum);
        EXPECT_EQ(folder, readFolder);
    }
}

struct FolderCase {
    const char *what;
    RegValue value;
    std::wstring folder; // empty: the default folder
    int result;
};

TEST_F(CommonLogTest, ReadConfigFolderValue)
{
    const std::vector<FolderCase> cases = {
        {"backslash appended", String(L"LogFolder", L"D:\\Logs"), L"D:\\Logs\\", 0},
        {"backslash kept", String(L"LogFolder", L"D:\\Logs\\"), L"D:\\Logs\\", 0},
        {"expand string is not expanded", String(L"LogFolder", L"%TEMP%\\x", REG_EXPAND_SZ), L"%TEMP%\\x\\", 0},
        {"cut at the first NUL", Raw(L"LogFolder", REG_SZ, {'A', 0, ':', 0, 0, 0, 'B', 0, 0, 0}), L"A:\\", 0},
        {"empty string", String(L"LogFolder", L""), L"", 0},
        {"not NUL-terminated", Raw(L"LogFolder", REG_SZ, {'E', 0, ':', 0}), L"", 87},
        {"odd byte count", Raw(L"LogFolder", REG_SZ, {'E', 0, ':', 0, 0, 0, 0}), L"", 87},
        {"wrong type", Dword(L"LogFolder", 7), L"", 87},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        WriteConfig({test.value, Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x100000)});
        std::wstring folder;
        int level = 0;
        DWORD maximum = 0;
        EXPECT_EQ(test.result, CCommonLog::ReadConfig(L"TLM", L"TLM service", &folder, &level, &maximum));
        EXPECT_EQ(test.folder.empty() ? CCommonLog::DefaultFolder() : test.folder, folder);
    }
}

TEST_F(CommonLogTest, MissingKeyGivesDefaultsSilently)
{
    ClearConfig();
    std::wstring folder;
    int level = 0;
    DWORD maximum = 0;
    EXPECT_EQ(0, CCommonLog::ReadConfig(L"TLM", L"TLM service", &folder, &level, &maximum));
    EXPECT_EQ(2, level);
    EXPECT_EQ(0x4000000u, maximum);
    wchar_t programFiles[MAX_PATH];
    ASSERT_NE(0u, ExpandEnvironmentStringsW(L"%ProgramFiles%", programFiles, MAX_PATH));
    EXPECT_EQ(std::wstring(programFiles) + L"\\Vostrel-Quinbar\\TLM\\Logs\\", folder);
}

// --- initialisation --------------------------------------------------------------------------------

TEST_F(CommonLogTest, MutexIsNamedAfterFolderAndLog)
{
    // The folder with and without its trailing backslash names the same file and mutex.
    const std::wstring folder = L"C:\\tlmlogs-mutex";
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const std::wstring &written : {folder, folder + L"\\"}) {
        WriteConfig({String(L"LogFolder", written), Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x100000)});
        CCommonLog log;
        ASSERT_EQ(0, log.LogInit(L"Tlm", L"TLM service"));
        EXPECT_TRUE(log.IsInitialized());
        EXPECT_EQ(folder + L"\\Tlm", log.GetBasePath());
        HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\C:TLMLOGS-MUTEXTLM");
        EXPECT_NE(nullptr, mutex);
        if (mutex != nullptr)
            CloseHandle(mutex);
    }
}

TEST_F(CommonLogTest, UnusableFolderFallsBackToDefaultFolder)
{
    // A folder whose parent is missing cannot be made (only the last level is created).
    WriteConfig(
        {String(L"LogFolder", L"C:\\no-such-parent\\logs"), Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x100000)});
    const std::wstring fallback = CCommonLog::DefaultFolder();
    const std::wstring parent = fallback.substr(0, fallback.find(L"\\TLM\\Logs\\"));
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((parent + L"\\..").c_str()));

    // Without the installer's folders there is nowhere to write.
    RemoveDirectoryW((parent + L"\\TLM\\Logs").c_str());
    RemoveDirectoryW((parent + L"\\TLM").c_str());
    RemoveDirectoryW(parent.c_str());
    ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(parent.c_str()));
    {
        CCommonLog log;
        EXPECT_NE(0, log.LogInit(L"TLM", L"TLM service"));
        EXPECT_FALSE(log.IsInitialized());
        EXPECT_EQ(CCommonLog::kNotReady, log.LogError(L"nowhere to go"));
    }

    // With them, the default folder takes the lines.
    ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((parent + L"\\TLM").c_str(), nullptr));
    CCommonLog log;
    EXPECT_EQ(0, log.LogInit(L"TLM", L"TLM service"));
    EXPECT_EQ(fallback + L"TLM", log.GetBasePath());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((fallback + L"TLM.log").c_str()));
    DeleteFileW((fallback + L"TLM.log").c_str());
    RemoveDirectoryW((parent + L"\\TLM\\Logs").c_str());
    RemoveDirectoryW((parent + L"\\TLM").c_str());
    RemoveDirectoryW(parent.c_str());
}

TEST_F(CommonLogTest, WritersBeforeInitWriteNothing)
{
    CCommonLog log;
    EXPECT_FALSE(log.IsInitialized());
    EXPECT_EQ(CCommonLog::kNotReady, log.LogError(L"too early"));
    EXPECT_EQ(0, log.LogVerbose(L"filtered before anything else"));
}

// --- line format and levels ------------------------------------------------------------------------

TEST_F(CommonLogTest, LinesCarryFunctionLevelAndFormattedMessage)
{
    Configure({Dword(L"LogLevel", 1), Dword(L"LogMaxSize", 0x100000)});
    CCommonLog log;
    ASSERT_EQ(0, log.LogInit(L"TLM", L"TLM service"));

    log.SetFunction(L"AXSESSION::OpenSession");
    EXPECT_EQ(0, log.LogInformation(L"wide %s, narrow %hs, number %d, hex 0x%08X", L"text", "bytes", -12, 0xBEEFu));
    log.SetFunction(L"");
    EXPECT_EQ(0, log.LogWarning(L"no function"));
    log.SetFunction(nullptr);
    EXPECT_EQ(0, log.LogError(L"%s", L"percent %d kept"));

    std::vector<Line> lines = ParseLog(ReadText(LogPath()));
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(kAnnouncementFunction, lines[0].function);
    EXPECT_EQ(2, lines[0].level);
    EXPECT_EQ(L"A logging interface is initialized (Module=\"TLM service\" Level=Verbose size=1048576)",
              lines[0].message);

    EXPECT_EQ(2, lines[1].level);
    EXPECT_EQ(L"AXSESSION::OpenSession", lines[1].function);
    EXPECT_EQ(L"wide text, narrow bytes, number -12, hex 0x0000BEEF", lines[1].message);
    EXPECT_EQ(3, lines[2].level);
    EXPECT_EQ(L"", lines[2].function);
    EXPECT_EQ(L"no function", lines[2].message);
    EXPECT_EQ(4, lines[3].level);
    EXPECT_EQ(L"percent %d kept", lines[3].message);
}

TEST_F(CommonLogTest, TimestampIsLocalTime)
{
    Configure({Dword(L"LogLevel", 4), Dword(L"LogMaxSize", 0x100000)});
    CCommonLog log;
    ASSERT_EQ(0, log.LogInit(L"TLM", L"TLM service"));
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    log.LogError(L"stamp");
    GetLocalTime(&after);

    const std::wstring text = ReadText(LogPath());
    const size_t stamp = text.find(L"|, stamp\r\n");
    ASSERT_NE(std::wstring::npos, stamp);
    const size_t previousEnd = text.rfind(L"\r\n", stamp);
    const std::wstring line = text.substr(previousEnd == std::wstring::npos ? 0 : previousEnd + 2);
    auto date = [](const SYSTEMTIME &time) {
        wchar_t text[32];
        swprintf(text, 32, L"%02d/%02d/%d %02d:", time.wMonth, time.wDay, time.wYear, time.wHour);
        return std::wstring(text);
    };
    EXPECT_TRUE(line.starts_with(date(before)) || line.starts_with(date(after)))
        << std::string(line.begin(), line.begin() + 24);
}

TEST_F(CommonLogTest, LevelFilterWritesAtOrAboveConfiguredLevel)
{
    for (int configured = 4; configured >= 1; --configured) {
        SCOPED_TRACE(configured);
        FreshFolder(CurrentTestName());
        Configure({Dword(L"LogLevel", static_cast<DWORD>(configured)), Dword(L"LogMaxSize", 0x100000)});
        CCommonLog log;
        ASSERT_EQ(0, log.LogInit(L"TLM", L"TLM service"));
        log.SetFunction(L"Filter::Run");
        EXPECT_EQ(0, log.LogVerbose(L"v"));
        EXPECT_EQ(0, log.LogInformation(L"i"));
        EXPECT_EQ(0, log.LogWarning(L"w"));
        EXPECT_EQ(0, log.LogError(L"e"));

        std::vector<Line> lines = WithoutAnnouncements(ParseLog(ReadText(LogPath())));
        ASSERT_EQ(static_cast<size_t>(5 - configured), lines.size());
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(configured + static_cast<int>(i), lines[i].level);
    }
}

TEST_F(CommonLogTest, VerboseUnderDefaultLevelLeavesFileUntouched)
{
    Configure({Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x100000)});
    CCommonLog log;
    ASSERT_EQ(0, log.LogInit(L"TLM", L"TLM service"));
    const std::string before = ReadBytes(LogPath());
    EXPECT_EQ(0, log.LogVerbose(L"hidden"));
    EXPECT_EQ(before, ReadBytes(LogPath()));
}

TEST_F(CommonLogTest, AnnouncementIgnoresLevelAndIsMadeOncePerLevel)
{
    Configure({Dword(L"LogLevel", 4), Dword(L"LogMaxSize", 0x100000)});
    CCommonLog first;
    ASSERT_EQ(0, first.LogInit(L"TLM", L"TLM service"));
    CCommonLog second;
    ASSERT_EQ(0, second.LogInit(L"TLM", L"TLM service"));
    EXPECT_EQ(0, second.LogInit(L"TLM", L"other")) << "a second LogInit is a no-op";

    Configure({Dword(L"LogLevel", 3), Dword(L"LogMaxSize", 0x100000)});
    CCommonLog third;
    ASSERT_EQ(0, third.LogInit(L"TLM", L"NETVARDL"));

    std::vector<Line> lines = ParseLog(ReadText(LogPath()));
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(2, lines[0].level);
    EXPECT_EQ(L"A logging interface is initialized (Module=\"TLM service\" Level=Error size=1048576)",
              lines[0].message);
    EXPECT_EQ(L"A logging interface is initialized (Module=\"NETVARDL\" Level=Warning size=1048576)", lines[1].message);
}

TEST_F(CommonLogTest, LongMessageIsCutAtTheBound)
{
    Configure({Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x100000)});
    CCommonLog log;
    ASSERT_EQ(0, log.LogInit(L"TLM", L"TLM service"));
    const std::wstring huge(CCommonLog::kMaxMessageChars + 5000, L'm');
    log.SetFunction(L"Big::Message");
    EXPECT_EQ(0, log.LogError(L"%s!", huge.c_str()));
    EXPECT_EQ(0, log.LogError(L"after"));

    std::vector<Line> lines = WithoutAnnouncements(ParseLog(ReadText(LogPath())));
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(std::wstring(CCommonLog::kMaxMessageChars, L'm'), lines[0].message);
    EXPECT_EQ(L"after", lines[1].message);
}

TEST_F(CommonLogTest, MacrosWriteThroughTheBinaryLog)
{
    Configure({Dword(L"LogLevel", 1), Dword(L"LogMaxSize", 0x100000)});
    ASSERT_EQ(0, s_CommonLog.LogInit(L"TLM", L"TLM service"));
    LOG_VERBOSE(L"Macro::Verbose", L"v%d", 1);
    LOG_INFO(L"Macro::Info", L"plain");
    LOG_WARNING(L"Macro::Warning", L"w%hs", "2");
    LOG_ERROR(L"Macro::Error", L"e%s", L"3");

    std::vector<Line> lines = WithoutAnnouncements(ParseLog(ReadText(LogPath())));
    ASSERT_EQ(4u, lines.size());
    const wchar_t *functions[] = {L"Macro::Verbose", L"Macro::Info", L"Macro::Warning", L"Macro::Error"};
    const wchar_t *messages[] = {L"v1", L"plain", L"w2", L"e3"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(static_cast<int>(i) + 1, lines[i].level);
        EXPECT_EQ(functions[i], lines[i].function);
        EXPECT_EQ(messages[i], lines[i].message);
    }
}

// --- roll-over ---------------------------------------------------------------------------------------

TEST_F(CommonLogTest, FullFileMovesToBackupAndNewFileStartsEmpty)
{
    Configure({Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x80000)});
    CCommonLog log;
    ASSERT_EQ(0, log.LogInit(L"TLM", L"TLM service"));
    WriteBytes(BackupPath(), "older backup");
    const std::string full(0x80000, 'f');
    WriteBytes(LogPath(), full);

    log.SetFunction(L"Roll::Over");
    EXPECT_EQ(0, log.LogError(L"first of the new file"));

    EXPECT_EQ(full, ReadBytes(BackupPath()));
    std::vector<Line> lines = ParseLog(ReadText(LogPath()));
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(L"first of the new file", lines[0].message);
}

TEST_F(CommonLogTest, FileBelowMaximumIsAppended)
{
    Configure({Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x80000)});
    CCommonLog log;
    ASSERT_EQ(0, log.LogInit(L"TLM", L"TLM service"));
    const std::string almost(0x80000 - 2, 'a');
    WriteBytes(LogPath(), almost);
    EXPECT_EQ(0, log.LogError(L"appended"));
    EXPECT_EQ(GetFileAttributesW(BackupPath().c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(almost, ReadBytes(LogPath()).substr(0, almost.size()));
}

TEST_F(CommonLogTest, FileBeyondFourGigabytesRollsOver)
{
    // Only the low 32 bits of this size (0x10) are below the maximum. The file is sparse.
    Configure({Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x80000)});
    CCommonLog log;
    ASSERT_EQ(0, log.LogInit(L"TLM", L"TLM service"));
    HANDLE file = CreateFileW(LogPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    LARGE_INTEGER size;
    size.QuadPart = 0x100000010LL;
    ASSERT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);

    EXPECT_EQ(0, log.LogError(L"after the big one"));
    EXPECT_EQ(0x100000010ull, FileSize(BackupPath()));
    EXPECT_EQ(1u, ParseLog(ReadText(LogPath())).size());
    DeleteFileW(BackupPath().c_str());
}

TEST_F(CommonLogTest, FailedMoveKeepsPreviousBackup)
{
    Configure({Dword(L"LogLevel", 2), Dword(L"LogMaxSize", 0x80000)});
    CCommonLog log;
    ASSERT_EQ(0, log.LogInit(L"TLM", L"TLM service"));
    WriteBytes(BackupPath(), "previous backup");
    const std::string full(0x80000, 'f');
    WriteBytes(LogPath(), full);

    // A reader that does not share delete access keeps the file from being moved.
    HANDLE reader = CreateFileW(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);

    HANDLE slot = CreateFileW(LogPath().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, slot);
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, log.RollOver(&slot, 0x80000));
    EXPECT_EQ(nullptr, slot);
    EXPECT_EQ("previous backup", ReadBytes(BackupPath()));

    // The writer appends to the full file instead and loses nothing.
    log.SetFunction(L"Roll::Blocked");
    EXPECT_EQ(0, log.LogError(L"still written"));
    CloseHandle(reader);
    EXPECT_EQ("previous backup", ReadBytes(BackupPath()));
    std::string bytes = ReadBytes(LogPath());
    ASSERT_GT(bytes.size(), full.size());
    EXPECT_EQ(full, bytes.substr(0, full.size()));
    std::vector<Line> lines = ParseLog(ReadText(LogPath()).substr(full.size() / 2));
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(L"still written", lines[0].message);

    // Once the reader is gone the next line rolls over as usual.
    EXPECT_EQ(0, log.LogError(L"new file"));
    EXPECT_EQ(bytes, ReadBytes(BackupPath()));
}

// --- serialisation ------------------------------------------------------------------------------------

TEST_F(CommonLogTest, TwoProcessesWriteOnlyWholeLines)
{
    Configure({Dword(L"LogLevel", 1), Dword(L"LogMaxSize", 0x8000000)});
    constexpr int kRounds = 150;
    Child first = StartWriter(L"TLM service", kRounds);
    Child second = StartWriter(L"NETVARDL", kRounds);
    EXPECT_EQ(0u, WaitExit(first));
    EXPECT_EQ(0u, WaitExit(second));

    std::vector<Line> lines = WithoutAnnouncements(ParseLog(ReadText(LogPath())));
    ASSERT_EQ(static_cast<size_t>(2 * 4 * kRounds), lines.size());
    // Each process's lines arrive complete and in its own order.
    for (const wchar_t *module : {L"TLM service", L"NETVARDL"}) {
        int next = 0;
        for (const Line &line : lines) {
            std::wstring expected = L"round " + std::to_wstring(next / 4) + L" of " + module + L" ";
            if (line.message.find(std::wstring(L" of ") + module + L" ") == std::wstring::npos)
                continue;
            EXPECT_EQ(0u, line.message.find(expected));
            EXPECT_EQ(next % 4 + 1, line.level);
            ++next;
        }
        EXPECT_EQ(4 * kRounds, next);
    }
}

TEST_F(CommonLogTest, WithoutNamedMutexLinesStaySerialised)
{
    // Something else already owns the mutex's name, so the log cannot make its mutex.
    Configure({Dword(L"LogLevel", 1), Dword(L"LogMaxSize", 0x100000)});
    std::wstring name = L"Global\\";
    for (wchar_t c : m_Folder + L"TLM")
        if (c != L'\\')
            name.push_back(towupper(c));
    HANDLE squatter = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    ASSERT_NE(nullptr, squatter);

    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(m_Folder.c_str()));

    CCommonLog log;
    EXPECT_NE(0, log.LogInit(L"TLM", L"TLM service"));
    EXPECT_FALSE(log.IsInitialized());
    EXPECT_EQ(L"CommonLog_MutexError", log.GetBasePath());
    EXPECT_EQ(1024u, log.GetMaximumSize());

    // Two other processes and two threads of this one write at once.
    Child first = StartWriter(L"A", 40, m_Folder);
    Child second = StartWriter(L"B", 40, m_Folder);
    auto writer = [&log](const wchar_t *tag) {
        for (int i = 0; i < 100; ++i) {
            log.Lock();
            log.SetFunction(tag);
            log.LogError(L"thread line %d %hs", i, "padding padding padding padding padding");
            log.Unlock();
        }
    };
    std::thread one(writer, L"Thread::One");
    std::thread two(writer, L"Thread::Two");
    one.join();
    two.join();
    EXPECT_EQ(0u, WaitExit(first));
    EXPECT_EQ(0u, WaitExit(second));
    SetCurrentDirectoryW(previous);
    CloseHandle(squatter);

    // The file rolls over every few lines; both halves hold whole lines only.
    for (const wchar_t *file : {L"CommonLog_MutexError.log", L"CommonLog_MutexError.lo_"}) {
        SCOPED_TRACE(std::string(file, file + wcslen(file)));
        std::vector<Line> lines = ParseLog(ReadText(m_Folder + file));
        EXPECT_FALSE(lines.empty());
    }
}

} // namespace
