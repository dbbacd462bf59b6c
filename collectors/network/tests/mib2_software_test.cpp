// The MIB-2 collector's host-resources software groups: processes from a given source, programs
// of the Uninstall keys of this prefix, hot fixes and drivers from a WMI connection that answers
// the classes Wine lacks, the software list file, and the records posted on the first run.
#include "blackbox_recorder.h"
#include "host_test_support.h"
#include "mib2_collector.h"
#include "mib2_test_support.h"
#include "wmi_fakes.h"

#include "ax_session.h"
#include "blackbox.h"
#include "registry.h"
#include "scheduler.h"
#include "service_parameters.h"
#include "wmi.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>

using namespace hosttest;
using namespace mib2test;

namespace {

using ROW = std::map<std::wstring, std::wstring>;

class FakeCimV2 : public CWMIConnection {
public:
    FakeCimV2() : CWMIConnection(nullptr) {}
    std::map<std::wstring, std::vector<ROW>> answers;
    std::map<std::wstring, int> asked;
    CWMIEnumerator CreateInstanceEnum(const wchar_t *className) override
    {
        ++asked[className];
        std::vector<ComPtr<IWbemClassObject>> objects;
        for (const ROW &row : answers[className]) {
            auto *object = new FakeClassObject();
            for (const auto &[name, value] : row)
                object->SetString(name, value.c_str());
            objects.emplace_back(object);
        }
        return CWMIEnumerator(new FakeEnumerator(std::move(objects)));
    }
    CWMIEnumerator ExecQuery(const wchar_t *) override { return CWMIEnumerator(); }
};

// Processes of the test: an image path per id, or none for a process that cannot be opened.
std::vector<DWORD> s_ProcessIds;
std::map<DWORD, std::wstring> s_Images;
bool TestEnumerate(std::vector<DWORD> *ids)
{
    *ids = s_ProcessIds;
    return !s_ProcessIds.empty();
}
int TestImagePath(DWORD id, std::wstring *path)
{
    auto found = s_Images.find(id);
    if (found == s_Images.end())
        return 0;
    *path = found->second;
    return 1;
}

// A subkey of the Uninstall key of one view.
void AddProgram(REGSAM view, const wchar_t *subKey, const std::wstring &displayName, const wchar_t *uninstall,
                const wchar_t *version = L"1.0", const wchar_t *publisher = L"Someone")
{
    CRegistry key(HKEY_LOCAL_MACHINE, (std::wstring(kUninstallKey) + L"\\" + subKey).c_str(), KEY_ALL_ACCESS | view);
    ASSERT_TRUE(key.Create());
    key.SetString(L"DisplayName", displayName);
    if (uninstall != nullptr)
        key.SetString(L"UninstallString", uninstall);
    key.SetString(L"DisplayVersion", version);
    key.SetString(L"Publisher", publisher);
}

// Only the test's programs: the prefix's own entries are removed from both views.
void ClearUninstall()
{
    HKEY key = nullptr;
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_32KEY)})
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
            RegDeleteTreeW(key, nullptr);
            RegCloseKey(key);
        }
}

std::vector<std::string> Names(const std::vector<SOFTWARE_ENTRY> &entries)
{
    std::vector<std::string> names;
    for (const SOFTWARE_ENTRY &entry : entries)
        names.push_back(entry.name);
    return names;
}

class Mib2SoftwareTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitCom();
        wmi = new FakeCimV2();
        s_WMICimV2.reset(wmi);
        InitDataStores();
        ClearRecordedPosts();
        ClearUninstall();
        s_ProcessIds.clear();
        s_Images.clear();
        MIB2DataCollector::ProcessSource = {&TestEnumerate, &TestImagePath};
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_Temp = std::wstring(temp) + L"mib2-software-test";
        CreateDirectoryW(m_Temp.c_str(), nullptr);
        DeleteFileW((m_Temp + kSoftwareListFileName).c_str());
        SetEnvironmentVariableW(L"TEMP", m_Temp.c_str());
        CRegistry(HKEY_LOCAL_MACHINE, kServiceKey).DeleteValue(L"FirstDataCollectionDone");
        CRegistry(HKEY_LOCAL_MACHINE, kAgentXVolatileKey).DeleteValue(L"RelogBBForSwOs");
        StampHotFixCollection(false);
    }
    void TearDown() override
    {
        MIB2DataCollector::ProcessSource = kSystemProcessSource;
        s_WMICimV2.reset();
        ClearUninstall();
        delete m_Staging;
        TermDataStores();
    }
    DATASTORE *Installed(int firstRun)
    {
        delete m_Staging;
        m_Staging = new DATASTORE(false);
        s_MIB2DataCollector.Collect_hrSwInstalled(firstRun, m_Staging);
        return m_Staging;
    }
    void WriteList(const std::string &text)
    {
        HANDLE file =
            CreateFileW((m_Temp + kSoftwareListFileName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
    std::optional<std::string> Installed(uint32_t column, uint32_t row)
    {
        return TextAt(m_Staging, Oid(".1.3.6.1.2.1.25.6.3.1." + std::to_string(column) + "." + std::to_string(row)));
    }
    std::optional<int32_t> InstalledType(uint32_t row)
    {
        return IntAt(m_Staging, Oid(".1.3.6.1.2.1.25.6.3.1.4." + std::to_string(row)));
    }

    FakeCimV2 *wmi = nullptr;
    DATASTORE *m_Staging = nullptr;
    std::wstring m_Temp;
};

TEST_F(Mib2SoftwareTest, RunningProcessRows)
{
    s_ProcessIds = {0, 4, 100, 200, 300, 400};
    s_Images = {{100, L"C:\\Apps\\Tool\\tool.exe"},
                {300, L"noslash.exe"},
                {400, L"C:\\Apps\\caf\u00e9\\\u00fcber.exe"}}; // 200 cannot be opened
    DATASTORE *store = new DATASTORE(false);
    s_MIB2DataCollector.Collect_hrSWRun(0, store);
    wchar_t windows[MAX_PATH];
    ExpandEnvironmentStringsW(L"%WINDIR%", windows, MAX_PATH);
    std::string windowsDir;
    for (const wchar_t *c = windows; *c; ++c)
        windowsDir += static_cast<char>(*c);
    struct {
        uint32_t index;
        const char *name;
        std::string path;
        int32_t type;
    } rows[] = {
        {1, "System Idle Process", "Path hidden by operating system.", 2},
        {4, "System", windowsDir + "\\System32", 2},
        {100, "tool.exe", "C:\\Apps\\Tool", 4},
        {300, "noslash.exe", "", 4},
        {400,
         "\xC3\xBC"
         "ber.exe",
         "C:\\Apps\\caf\xC3\xA9", 4},
    };
    auto cell = [](uint32_t column, uint32_t index) {
        return Oid(".1.3.6.1.2.1.25.4.2.1." + std::to_string(column) + "." + std::to_string(index));
    };
    EXPECT_EQ(IntAt(store, Oid(".1.3.6.1.2.1.25.4.1.0")), 4);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(IntAt(store, cell(1, row.index)), static_cast<int32_t>(row.index));
        EXPECT_EQ(TextAt(store, cell(2, row.index)), row.name);
        EXPECT_EQ(TypedAt(store, cell(3, row.index)).first, MIBTYPE_OID);
        EXPECT_EQ(TextAt(store, cell(4, row.index)), row.path);
        EXPECT_EQ(TextAt(store, cell(5, row.index)), "");
        EXPECT_EQ(IntAt(store, cell(6, row.index)), row.type);
        EXPECT_EQ(IntAt(store, cell(7, row.index)), 1);
    }
    EXPECT_EQ(CountBelow(store, Oid(".1.3.6.1.2.1.25.4.2.1.1")), std::size(rows));
    delete store;
}

// More processes than the first buffer holds: none of them is lost.
std::vector<DWORD> s_ManyIds;
BOOL WINAPI ManyProcesses(DWORD *ids, DWORD bytes, DWORD *returned)
{
    const DWORD fits = std::min<DWORD>(bytes / 4, static_cast<DWORD>(s_ManyIds.size()));
    std::copy(s_ManyIds.begin(), s_ManyIds.begin() + fits, ids);
    *returned = fits * 4;
    return TRUE;
}

TEST_F(Mib2SoftwareTest, ProcessIdsBeyondTheFirstBuffer)
{
    for (size_t count : {size_t(3), size_t(1023), size_t(1024), size_t(3000)}) {
        SCOPED_TRACE(count);
        s_ManyIds.clear();
        for (size_t i = 0; i < count; ++i)
            s_ManyIds.push_back(static_cast<DWORD>(8 + 4 * i));
        std::vector<DWORD> ids;
        ASSERT_TRUE(EnumerateProcessIds(&ManyProcesses, &ids));
        EXPECT_EQ(s_ManyIds, ids);
    }
    // The system's own list under Wine includes this process.
    std::vector<DWORD> ids;
    ASSERT_TRUE(kSystemProcessSource.enumerate(&ids));
    EXPECT_NE(std::find(ids.begin(), ids.end(), GetCurrentProcessId()), ids.end());
}

TEST_F(Mib2SoftwareTest, UninstallProgramsOfBothViews)
{
    AddProgram(0, L"a", L"Fixture Alpha", L"unins.exe", L"2.1", L"Someone");
    AddProgram(0, L"b", L"Fixture Alpha", L"unins.exe");        // same name in this view
    AddProgram(0, L"c", L"Fixture No Uninstall", nullptr);      // not listed
    AddProgram(0, L"d", L"Fixture No Uninstall", L"unins.exe"); // the name was seen already
    AddProgram(0, L"e", L"Foo\u00AE Tool", L"unins.exe");
    AddProgram(0, L"f", L"NDX Velmarine NIC Driver x64", L"unins.exe"); // the maker's driver package
    AddProgram(0, L"g", L"Fixture Maker Short", L"unins.exe", L"1", L"VQ");
    AddProgram(0, L"h", L"Fixture Maker Long", L"unins.exe", L"1", L"Vostrel-Quinbar Company Ltd.");
    AddProgram(0, L"i", L"Fixture Almost Maker", L"unins.exe", L"1", L"Vostrel-Quinba");
    AddProgram(0, L"j", L"Fixture Not Short", L"unins.exe", L"1", L"VQ Ltd");
    AddProgram(KEY_WOW64_32KEY, L"a", L"Fixture Alpha", L"unins.exe", L"2.1-32");
    AddProgram(KEY_WOW64_32KEY, L"z", L"Fixture \u00C9t\u00E9", L"unins.exe");

    std::vector<SOFTWARE_ENTRY> programs;
    ScanUninstallKey(0, &programs);
    ScanUninstallKey(KEY_WOW64_32KEY, &programs);
    EXPECT_EQ(Names(programs),
              (std::vector<std::string>{"fixture alpha", "foo  tool", "fixture maker short", "fixture maker long",
                                        "fixture almost maker", "fixture not short", "fixture alpha",
                                        "fixture \xC3\xA9t\xC3\xA9"}));
    ASSERT_EQ(8u, programs.size());
    EXPECT_EQ("2.1", programs[0].second);
    EXPECT_EQ("Someone", programs[0].publisher);
    EXPECT_EQ("2.1-32", programs[6].second);
    const uint16_t maker[] = {0, 0, kSoftwareFlagMaker, kSoftwareFlagMaker, 0, 0, 0, 0};
    for (size_t i = 0; i < programs.size(); ++i) {
        EXPECT_EQ(maker[i], programs[i].flags) << programs[i].name;
        EXPECT_GE(programs[i].time.year, 2020) << "the subkey's write time";
    }
}

TEST_F(Mib2SoftwareTest, HotFixes)
{
    wmi->answers[L"Win32_QuickFixEngineering"] = {
        {{L"Description", L"Security Update"}, {L"HotFixID", L"KB123"}, {L"InstalledOn", L"3/15/2020"}},
        {{L"HotFixID", L"KB124"}, {L"InstalledOn", L"2020/3/15"}},
        {{L"Description", L"Service Pack"}, {L"InstalledOn", L"15/3/20"}},
        {{L"Description", L"Update"}, {L"HotFixID", L"KB125"}, {L"InstalledOn", L"22/2/2022"}},
        {{L"InstalledOn", L"3/15/2020"}}, // neither description nor id: skipped
        {{L"Description", L"Hotfix"}, {L"HotFixID", L"KB126"}, {L"InstalledOn", L"01d5a0b3c7e48000"}},
    };
    std::vector<SOFTWARE_ENTRY> updates(3);
    CollectHotFixes(&updates);
    ASSERT_EQ(5u, updates.size());
    struct {
        const char *name, *second;
        uint16_t flags;
        const char *date;
    } want[] = {
        {"Security Update (KB123)", "KB123", kSoftwareFlagOsUpdate, "2020/03/15"},
        {"Hotfix KB124", "KB124", kSoftwareFlagOsUpdate, "2020/03/15"},
        {"Service Pack", "n/a", kSoftwareFlagServicePack, "n/a"},
        {"Update (KB125)", "KB125", kSoftwareFlagOsUpdate, "n/a"},
        {"Hotfix (KB126)", "KB126", kSoftwareFlagOsUpdate, nullptr},
    };
    for (size_t i = 0; i < std::size(want); ++i) {
        SCOPED_TRACE(want[i].name);
        EXPECT_EQ(want[i].name, updates[i].name);
        EXPECT_EQ(want[i].second, updates[i].second);
        EXPECT_EQ(want[i].flags, updates[i].flags);
        if (want[i].date) {
            EXPECT_EQ(want[i].date, SoftwareDateText(updates[i].time));
        }
    }
    // 0x01d5a0b3c7e48000 is 2019-11-21 21:36 UTC; local time is that day or a neighbour.
    EXPECT_EQ(2019, updates[4].time.year);
    EXPECT_EQ(11, updates[4].time.month);
    EXPECT_NEAR(21, updates[4].time.day, 1);
}

TEST_F(Mib2SoftwareTest, InstalledRowsInOrderWithTheirDates)
{
    AddProgram(0, L"a", L"Fixture Tool", L"unins.exe");
    AddProgram(0, L"b", L"Fixture Other", L"unins.exe");
    wmi->answers[L"Win32_QuickFixEngineering"] = {
        {{L"Description", L"Update"}, {L"HotFixID", L"KB1"}, {L"InstalledOn", L"2021/5/4"}}};
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string selfPath;
    for (const wchar_t *c = self; *c; ++c)
        selfPath += static_cast<char>(*c);
    const std::string selfDir = selfPath.substr(0, selfPath.rfind('\\'));
    wmi->answers[L"Win32_SystemDriver"] = {
        {{L"Name", L"fixdrv"}, {L"State", L"Running"}, {L"DisplayName", L"FIXTURE TOOL"}, {L"PathName", self}},
        {{L"Name", L"ondrv"}, {L"State", L"Running"}, {L"DisplayName", L"Fixture Driver"}, {L"PathName", self}},
        {{L"Name", L"offdrv"}, {L"State", L"Stopped"}, {L"DisplayName", L"Fixture Stopped"}, {L"PathName", self}},
    };
    wmi->answers[L"Win32_Process"] = {{{L"ExecutablePath", L"C:\\elsewhere\\x.exe"}}, {{L"ExecutablePath", self}}};
    WriteList("Name : Listed File\nInstallLocation : " + selfPath + "\n\nName : Listed Folder\nInstallLocation : " +
              selfDir + "\n\nName : Listed Nowhere\nInstallLocation : C:\\nowhere\n\nName : Listed Without\n");
    Installed(0);

    const std::vector<std::pair<std::string, int32_t>> want = {
        {"fixture tool", 4}, {"fixture other", 4}, {"Update (KB1)", 2},   {"Fixture Driver", 3},
        {"Listed File", 4},  {"Listed Folder", 4}, {"Listed Nowhere", 4}, {"Listed Without", 4},
    };
    // Rows of the Uninstall key come in the key's order; compare them as a set.
    std::vector<std::pair<std::string, int32_t>> got;
    for (uint32_t row = 1; row <= want.size(); ++row) {
        EXPECT_EQ(IntAt(m_Staging, Oid(".1.3.6.1.2.1.25.6.3.1.1." + std::to_string(row))), static_cast<int32_t>(row));
        got.emplace_back(Installed(2, row).value_or("(none)"), InstalledType(row).value_or(0));
        EXPECT_EQ(TypedAt(m_Staging, Oid(".1.3.6.1.2.1.25.6.3.1.3." + std::to_string(row))).first, MIBTYPE_OID);
    }
    std::sort(got.begin(), got.begin() + 2);
    std::vector<std::pair<std::string, int32_t>> sortedWant = want;
    std::sort(sortedWant.begin(), sortedWant.begin() + 2);
    EXPECT_EQ(sortedWant, got);
    EXPECT_EQ(Installed(2, static_cast<uint32_t>(want.size() + 1)), std::nullopt);

    // DateAndTime: the hot fix's day, the file's own time, the running program's for the folder,
    // nothing for a location that neither opens nor holds a running program.
    EXPECT_EQ(Installed(5, 3), std::string("\x07\xE5\x05\x04\0\0\0\0", 8));
    const SOFTWARE_DATE selfDate = [&] {
        HANDLE file = CreateFileW(self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        FILETIME written{};
        GetFileTime(file, nullptr, nullptr, &written);
        CloseHandle(file);
        SOFTWARE_DATE date = LocalDateOf(written);
        date.milliseconds = 0;
        return date;
    }();
    uint8_t selfBytes[8];
    SoftwareDateAndTime(selfDate, selfBytes);
    EXPECT_EQ(Installed(5, 5), std::string(reinterpret_cast<char *>(selfBytes), 8));
    EXPECT_EQ(Installed(5, 6), std::string(reinterpret_cast<char *>(selfBytes), 8));
    EXPECT_EQ(Installed(5, 7), std::string(8, '\0'));
    EXPECT_EQ(Installed(5, 8), std::string(8, '\0'));
    EXPECT_EQ(wmi->asked[L"Win32_Process"], 2) << "the folder's and the missing location's items";

    const auto lastChange = TypedAt(m_Staging, Oid(".1.3.6.1.2.1.25.6.1.0"));
    EXPECT_EQ(lastChange.first, MIBTYPE_TIMETICKS);
    EXPECT_EQ(TypedAt(m_Staging, Oid(".1.3.6.1.2.1.25.6.2.0")), lastChange);
}

TEST_F(Mib2SoftwareTest, FirstRunPostsProgramsAndUpdates)
{
    AddProgram(0, L"a", L"Fixture Single", L"unins.exe", L"3.2", L"VQ");
    wmi->answers[L"Win32_QuickFixEngineering"] = {
        {{L"Description", L"Update"}, {L"HotFixID", L"KB1"}, {L"InstalledOn", L"2021/5/4"}},
        {{L"HotFixID", L"KB2"}},
        {{L"Description", L"Service Pack"}, {L"HotFixID", L"SP1"}, {L"InstalledOn", L"1/2/2003"}},
    };
    struct {
        const char *what;
        int firstRun;
        DWORD firstDone; // ~0: no value
        bool relog;
        bool posted;
    } cases[] = {
        {"first run", 1, ~0u, false, true},
        {"not the first run", 0, ~0u, false, false},
        {"first run after an earlier start's collection", 1, 1, false, false},
        {"re-log asked", 0, 1, true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ClearRecordedPosts();
        CRegistry service(HKEY_LOCAL_MACHINE, kServiceKey);
        if (c.firstDone == ~0u)
            service.DeleteValue(L"FirstDataCollectionDone");
        else
            ASSERT_TRUE(service.SetDword(L"FirstDataCollectionDone", c.firstDone));
        CRegistry volatileKey(HKEY_LOCAL_MACHINE, kAgentXVolatileKey);
        if (c.relog) {
            ASSERT_TRUE(volatileKey.Create(REG_OPTION_VOLATILE) && volatileKey.SetDword(L"RelogBBForSwOs", 1));
        }
        Installed(c.firstRun);
        EXPECT_FALSE(CRegistry(HKEY_LOCAL_MACHINE, kAgentXVolatileKey).ValueExists(L"RelogBBForSwOs"));
        const auto &posts = RecordedSoftwarePosts();
        if (!c.posted) {
            EXPECT_TRUE(posts.empty());
            continue;
        }
        ASSERT_EQ(4u, posts.size());
        EXPECT_EQ(kBlackboxCodeSoftware, posts[0].code);
        EXPECT_EQ(kSoftwareFlagMaker | 3, posts[0].flags);
        EXPECT_EQ("VQ", posts[0].texts[0]);
        EXPECT_EQ("fixture single", posts[0].texts[1]);
        EXPECT_EQ("3.2", posts[0].texts[2]);
        EXPECT_TRUE(std::regex_match(posts[0].texts[3], std::regex(R"(\d{4}/\d\d/\d\d( \d\d:\d\d:\d\d)?)")))
            << posts[0].texts[3];
        const std::vector<std::vector<std::string>> updates = {{"Update (KB1)", "KB1", "2021/05/04"},
                                                               {"Hotfix KB2", "KB2", "n/a"},
                                                               {"Service Pack (SP1)", "SP1", "2003/01/02"}};
        const uint16_t flags[] = {kSoftwareFlagOsUpdate | 1, kSoftwareFlagOsUpdate, kSoftwareFlagServicePack | 2};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(kBlackboxCodeOsUpdate, posts[1 + i].code);
            EXPECT_EQ(flags[i], posts[1 + i].flags);
            EXPECT_EQ(updates[i], posts[1 + i].texts);
        }
    }
    // The hot fixes were read once (the stamp was cleared before the first case) and kept since.
    EXPECT_EQ(wmi->asked[L"Win32_QuickFixEngineering"], 1);
}

} // namespace

namespace {

// The software groups are written only when their schedule is due, and the collection stamps it.
TEST_F(Mib2SoftwareTest, SoftwareGroupsOnlyWhenDue)
{
    s_ProcessIds = {0};
    MIB2DataCollector::Sources = TestSources();
    for (bool due : {false, true}) {
        SCOPED_TRACE(due);
        ASSERT_TRUE(StampSoftwareCollection(!due));
        ASSERT_EQ(due, IsSoftwareCollectionDue());
        DATASTORE *store = new DATASTORE(false);
        s_MIB2DataCollector.Collect(0, store);
        EXPECT_EQ(due ? std::optional<int32_t>(4) : std::nullopt, IntAt(store, Oid(".1.3.6.1.2.1.25.4.1.0")));
        EXPECT_EQ(due ? std::optional<int32_t>(1) : std::nullopt, IntAt(store, Oid(".1.3.6.1.2.1.25.4.2.1.1.1")));
        EXPECT_EQ(due, TypedAt(store, Oid(".1.3.6.1.2.1.25.6.1.0")).first == MIBTYPE_TIMETICKS);
        EXPECT_FALSE(IsSoftwareCollectionDue());
        delete store;
    }
    MIB2DataCollector::Sources = kSystemMib2Sources;
}

} // namespace
