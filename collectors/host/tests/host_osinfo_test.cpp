// The operating-system group against Wine's real WMI and registry, under three Windows versions
// of the prefix; and when the "OS Info" record goes out again.
#include "blackbox_recorder.h"
#include "host_test_support.h"
#include "scheduler_fixture.h"
#include "zdthost_collector.h"

#include "host_text.h"
#include "registry.h"
#include "service_parameters.h"
#include "store_writers.h"
#include "wmi.h"

#include <gtest/gtest.h>

#include <map>

using namespace hosttest;

namespace {

constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr wchar_t kProbe[] = L"host_os_probe.exe";

std::wstring BinFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// Runs the probe under the given Windows version of the prefix (empty: the prefix's own) and
// returns its lines as name -> value.
std::map<std::string, std::string> RunProbe(const wchar_t *version)
{
    const std::wstring appKey = std::wstring(L"Software\\Wine\\AppDefaults\\") + kProbe;
    if (*version != L'\0')
        EXPECT_TRUE(CRegistry(HKEY_CURRENT_USER, appKey.c_str()).SetString(L"Version", version));
    else
        RegDeleteTreeW(HKEY_CURRENT_USER, appKey.c_str());

    // The output goes to a file: a pipe would stay open as long as any process that inherited
    // its handle (Wine starts helper processes of its own) lives.
    wchar_t folder[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"hop", 0, file);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, out);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process = {};
    std::wstring command = L"\"" + BinFolder() + kProbe + L"\"";
    const BOOL started =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(out);
    if (started) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 120000));
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    std::string output;
    if (FILE *f = _wfopen(file, L"rb")) {
        char buffer[4096];
        size_t got = 0;
        while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
            output.append(buffer, got);
        fclose(f);
    }
    DeleteFileW(file);
    RegDeleteTreeW(HKEY_CURRENT_USER, appKey.c_str());
    EXPECT_TRUE(started);

    std::map<std::string, std::string> lines;
    size_t at = 0;
    while (at < output.size()) {
        size_t end = output.find('\n', at);
        if (end == std::string::npos)
            end = output.size();
        std::string line = output.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            lines[line.substr(0, equals)] = line.substr(equals + 1);
        at = end + 1;
    }
    return lines;
}

TEST(HostOsInfoTest, ScalarsUnderThreeWindowsVersions)
{
    struct {
        const wchar_t *version;
        std::string versionPrefix;
        std::string code;
    } cases[] = {
        {L"", "6.1.7601", "28"},
        {L"win81", "6.3.", "32"},
        {L"win10", "10.0.", "58"},
    };
    char computer[260] = {};
    DWORD size = sizeof computer;
    ASSERT_TRUE(GetComputerNameA(computer, &size));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.versionPrefix);
        std::map<std::string, std::string> got = RunProbe(c.version);
        EXPECT_EQ(0u, got["2"].rfind(c.versionPrefix, 0)) << got["2"];
        const std::string build = got["2"].substr(got["2"].find_last_of('.') + 1);
        EXPECT_EQ(0u, got["3"].rfind("Build " + build, 0)) << got["3"];
        EXPECT_EQ(c.code, got["4"]);
        EXPECT_EQ(c.code, got["HostOsType"]);
        EXPECT_EQ("3", got["5"]);
        EXPECT_NE(std::string::npos, got["1"].find("Windows")) << got["1"];
        EXPECT_EQ(computer, got["12"]);
        EXPECT_EQ(0u, got["13"].rfind("Hardware: ", 0)) << got["13"];
        EXPECT_NE(std::string::npos, got["13"].find(" - Software: Windows Version ")) << got["13"];
        // One record, 64-bit, with the same name and version.
        EXPECT_EQ(0u, got["post"].rfind("0 0 64 " + got["1"] + "|" + got["2"] + "|" + got["2"] + ".0 sp", 0))
            << got["post"];
    }
}

// COM, the WMI connection, the store and a clean registry for one test.
class OsInfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitCom();
        InitWMIConnection(&s_WMICimV2, kWmiCimV2Path);
        ASSERT_TRUE(InitDataStores());
        for (const wchar_t *key : {kHostStateKey, kVolatileDataKey})
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
        RecordedOsInfoPosts().clear();
        ForgetHostOsFacts();
    }
    void TearDown() override
    {
        s_WMICimV2.reset();
        TermDataStores();
        for (const wchar_t *key : {kHostStateKey, kVolatileDataKey})
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
        UninitCom();
    }

    std::optional<std::string> Collect(int firstRun, uint32_t scalar)
    {
        DATASTORE staging(false);
        s_ZDTHOSTDataCollector.Collect_zdtHoInfo(firstRun, &staging);
        return TextAt(&staging, EnterpriseOid({11, 2, 2, scalar, 0}));
    }
};

TEST_F(OsInfoTest, MatchesWmiAndTheRegistry)
{
    std::string caption, version, build;
    {
        CWMIEnumerator rows = s_WMICimV2->ExecQuery(L"SELECT * FROM Win32_OperatingSystem");
        IWbemClassObject *os = rows.Next();
        ASSERT_NE(nullptr, os);
        ASSERT_TRUE(GetWMIString(os, L"Caption", &caption, false));
        ASSERT_TRUE(GetWMIString(os, L"Version", &version, true));
        ASSERT_TRUE(GetWMIString(os, L"BuildNumber", &build, true));
    }
    DATASTORE staging(false);
    s_ZDTHOSTDataCollector.Collect_zdtHoInfo(1, &staging);
    EXPECT_EQ(caption, TextAt(&staging, EnterpriseOid({11, 2, 2, 1, 0})));
    EXPECT_EQ(version, TextAt(&staging, EnterpriseOid({11, 2, 2, 2, 0})));
    EXPECT_EQ(caption, HostOsName());
    std::wstring currentType;
    const bool hasType = CRegistry(HKEY_LOCAL_MACHINE, kCurrentVersionKey, KEY_READ).GetString(L"CurrentType", &currentType);
    EXPECT_EQ("Build " + build + (hasType ? " " + NarrowFromWide(currentType) : ""),
              TextAt(&staging, EnterpriseOid({11, 2, 2, 3, 0})));
    DWORD type = 0;
    ASSERT_TRUE(CRegistry(HKEY_LOCAL_MACHINE, L"SYSTEM\\ZORUROvid", KEY_READ).GetDword(L"HostOsType", &type));
    EXPECT_EQ(std::optional<int32_t>(static_cast<int32_t>(type)), IntAt(&staging, EnterpriseOid({11, 2, 2, 4, 0})));
    ASSERT_EQ(1u, RecordedOsInfoPosts().size());
    EXPECT_EQ(version, RecordedOsInfoPosts()[0].osVersion);
}

TEST_F(OsInfoTest, WithoutCurrentType)
{
    CRegistry version(HKEY_LOCAL_MACHINE, kCurrentVersionKey);
    std::wstring saved;
    const bool had = version.GetString(L"CurrentType", &saved);
    version.DeleteValue(L"CurrentType");

    DATASTORE staging(false);
    s_ZDTHOSTDataCollector.Collect_zdtHoInfo(1, &staging);
    const std::string build = std::to_string(GetHostOsFacts().build);
    EXPECT_EQ("Build " + build, TextAt(&staging, EnterpriseOid({11, 2, 2, 3, 0})));
    std::wstring currentBuild;
    version.GetString(L"CurrentBuild", &currentBuild);
    const std::optional<std::string> description = TextAt(&staging, EnterpriseOid({11, 2, 2, 13, 0}));
    ASSERT_TRUE(description.has_value());
    const std::string ending = " (Build " + NarrowFromWide(currentBuild) + " )";
    ASSERT_GE(description->size(), ending.size());
    EXPECT_EQ(ending, description->substr(description->size() - ending.size())) << *description;

    if (had)
        version.SetString(L"CurrentType", saved);
}

TEST_F(OsInfoTest, LaterCyclesWriteNoScalarsAndPostOnlyOnRequest)
{
    EXPECT_TRUE(Collect(1, 1).has_value());
    ASSERT_EQ(1u, RecordedOsInfoPosts().size());
    EXPECT_EQ(std::nullopt, Collect(0, 1));
    EXPECT_EQ(1u, RecordedOsInfoPosts().size());

    struct {
        const char *what;
        std::function<void()> request;
    } requests[] = {
        {"KWBCleared", [] { CRegistry(HKEY_LOCAL_MACHINE, kHostStateKey).SetDword(L"KWBCleared", 1); }},
        {"KWBDisabledThenEnabled",
         [] { CRegistry(HKEY_LOCAL_MACHINE, kHostStateKey).SetDword(L"KWBDisabledThenEnabled", 1); }},
        {"RelogBBForOsInfo", [] {
             CRegistry key(HKEY_LOCAL_MACHINE, kVolatileDataKey);
             key.Create(REG_OPTION_VOLATILE);
             key.SetDword(L"RelogBBForOsInfo", 1);
         }},
    };
    for (const auto &r : requests) {
        SCOPED_TRACE(r.what);
        RecordedOsInfoPosts().clear();
        r.request();
        Collect(0, 1);
        EXPECT_EQ(1u, RecordedOsInfoPosts().size());
        // The collector deletes only the volatile request; the scheduler resets the host flags.
        EXPECT_FALSE(CRegistry(HKEY_LOCAL_MACHINE, kVolatileDataKey, KEY_READ).ValueExists(L"RelogBBForOsInfo"));
        for (const wchar_t *flag : {L"KWBCleared", L"KWBDisabledThenEnabled"})
            CRegistry(HKEY_LOCAL_MACHINE, kHostStateKey).SetDword(flag, 0);
        Collect(0, 1);
        EXPECT_EQ(1u, RecordedOsInfoPosts().size());
    }
}

TEST_F(OsInfoTest, LookingForTheRelogValueCreatesNoKey)
{
    Collect(1, 1);
    Collect(0, 1);
    // The black box creates the VolatileData key as a volatile key; nobody else may create it.
    EXPECT_FALSE(CRegistry(HKEY_LOCAL_MACHINE, kVolatileDataKey, KEY_READ).Exists());
}

// A flag set between two host collections, while another collector collects every cycle, is
// still seen by the host collector: the scheduler keeps it until the host collector collected.
class OsInfoScheduleTest : public schedtest::SchedulerTest {};

TEST_F(OsInfoScheduleTest, RelogFlagBetweenHostCollectionsPostsOnce)
{
    HEARTBEAT_TIMING::PassMs = 60000;
    RecordedOsInfoPosts().clear();
    ForgetHostOsFacts();
    schedtest::TestCollector fast(L"FAST", 0);
    UseCollectors({&s_ZDTHOSTDataCollector, &fast});
    RunCycles(30, [&](int cycle) {
        // Every cycle is a few seconds later: the fast collector is always due, the host
        // collector (300 s) only in cycles 1, 20 and 30.
        clock.now += 2 * schedtest::kSecond;
        if (cycle == 20 || cycle == 30)
            clock.now += 301 * schedtest::kSecond;
        if (cycle == 5)
            CRegistry(HKEY_LOCAL_MACHINE, kHostStateKey).SetDword(L"KWBCleared", 1);
    });
    EXPECT_EQ(30, fast.Collections());
    EXPECT_EQ(2u, RecordedOsInfoPosts().size()) << "the first collection and the one after the flag";
    EXPECT_EQ(std::optional<DWORD>(0), schedtest::ReadDword(kHostStateKey, L"KWBCleared"));
}

} // namespace
