// The software inventory on the prefix's real services, drivers, files and registry, with a WMI
// connection that answers the classes Wine lacks; and the usage sampling with its timer.
#include "blackbox_recorder.h"
#include "driver_info.h"
#include "host_test_support.h"
#include "service_parameters.h"
#include "wmi.h"
#include "wmi_fakes.h"
#include "zdthost_collector.h"
#include "zdthost_software.h"

#include "blackbox.h"
#include "host_text.h"
#include "registry.h"
#include "scheduler.h"
#include "store_writers.h"

#include <gtest/gtest.h>

#include <psapi.h>

#include <atomic>
#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

using namespace hosttest;

namespace {

// Rows of one answered class or query.
using ROWS = std::vector<std::map<std::wstring, std::wstring>>;

// Answers the classes Wine lacks with the test's rows; every other request goes to nothing.
class FakeCimV2 : public CWMIConnection {
public:
    FakeCimV2() : CWMIConnection(nullptr) {}
    std::map<std::wstring, ROWS> answers;  // by query text or class name
    std::atomic<int> queryDelayMs{0};
    std::atomic<bool> throwOnQuery{false};
    std::atomic<int> queriesStarted{0};

    CWMIEnumerator ExecQuery(const wchar_t *wql) override
    {
        // Decided before it is counted: a test that saw the count knows whether this one throws.
        const bool fail = throwOnQuery;
        ++queriesStarted;
        if (fail)
            throw std::runtime_error("provider failed");
        if (queryDelayMs > 0)
            Sleep(queryDelayMs);
        return Answer(wql);
    }
    CWMIEnumerator CreateInstanceEnum(const wchar_t *className) override { return Answer(className); }

private:
    CWMIEnumerator Answer(const std::wstring &key)
    {
        std::vector<ComPtr<IWbemClassObject>> objects;
        for (const auto &row : answers[key]) {
            auto *object = new FakeClassObject();
            for (const auto &[name, value] : row)
                object->SetString(name, value.c_str());
            objects.emplace_back(object);
        }
        return CWMIEnumerator(new FakeEnumerator(std::move(objects)));
    }
};

constexpr wchar_t kProcessQuery[] = L"SELECT * FROM Win32_Process";
constexpr wchar_t kProcessorQuery[] = L"SELECT * FROM Win32_PerfFormattedData_Counters_ProcessorInformation";

std::string SystemFile(const char *relative)
{
    char root[MAX_PATH];
    GetWindowsDirectoryA(root, MAX_PATH);
    return std::string(root) + "\\" + relative;
}

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

std::wstring LowerAscii(std::wstring text)
{
    for (wchar_t &c : text)
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

void WriteBytes(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

class SoftwareTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitCom();
        wmi = new FakeCimV2();
        s_WMICimV2.reset(wmi);
        ASSERT_TRUE(InitDataStores());
        ClearRecordedPosts();
        g_DriversAndServicesLogged = false;
        s_PciFunctionSource = [] { return std::vector<PCI_FUNCTION>(); };
        // The service's key as installed: made first, it never becomes volatile as the parent of
        // the VolatileData key the black box writes (a volatile key takes no lasting subkeys).
        ASSERT_TRUE(CRegistry(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\ndxtlm").Create());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kBlackBoxVolatileKey);
        CRegistry(HKEY_LOCAL_MACHINE, kBlackBoxHostKey).DeleteValue(L"KWBCleared");
    }
    void TearDown() override
    {
        g_SwVerTable = g_ShippedSwVerTable;
        s_WMICimV2.reset();
        TermDataStores();
    }

    std::optional<std::string> SwText(uint32_t column, uint32_t row)
    {
        return TextAt(&staging, EnterpriseOid({11, 2, 7, 2, 1, column, row}));
    }
    std::vector<std::string> Published()
    {
        std::vector<std::string> names;
        for (uint32_t row = 0; SwText(4, row); ++row)
            names.push_back(*SwText(4, row));
        return names;
    }
    std::vector<std::string> Running()
    {
        std::vector<std::string> names;
        for (uint32_t row = 0;; ++row) {
            const auto name = TextAt(&staging, EnterpriseOid({11, 2, 6, 1, 1, 2, row}));
            if (!name)
                return names;
            names.push_back(*name);
        }
    }
    size_t RunningDrivers()
    {
        SERVICE_LIST services;
        services.EnumerateServices(0x13F);
        size_t drivers = 0;
        for (const SERVICE_INFO &service : services)
            drivers += service.currentState == SERVICE_RUNNING && (service.serviceType & 0xB) != 0;
        return drivers;
    }
    // One software-version collection of `table` with the dump switched on for it; returns the
    // switch as the collection left it.
    DWORD CollectWithDumpOnce(std::vector<SW_VER_ENTRY> &table)
    {
        g_SwVerTable = table.data();
        CRegistry parameters(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\services\\ndxtlm\\Parameters");
        EXPECT_TRUE(parameters.SetDword(L"EnableHoSwVerTableDumpOnce", 1));
        s_ZDTHOSTDataCollector.Collect_zdtHoSwVer(0, &staging);
        DWORD value = 1;
        EXPECT_TRUE(parameters.GetDword(L"EnableHoSwVerTableDumpOnce", &value));
        return value;
    }
    size_t DriverPosts()
    {
        size_t count = 0;
        for (const SOFTWARE_POST &post : RecordedSoftwarePosts())
            count += post.code == kBlackboxCodeDriver;
        return count;
    }

    FakeCimV2 *wmi = nullptr;
    DATASTORE staging{false};
};

// Services made in the prefix, each with the ImagePath of one case; the list keeps those whose
// file was found, with the path the rules give.
TEST_F(SoftwareTest, ImagePathsOfServicesMadeHere)
{
    const std::string programFolder = "C:\\Program Files\\Vostrel Test";
    CreateDirectoryA(programFolder.c_str(), nullptr);
    CopyFileA(SystemFile("system32\\notepad.exe").c_str(), (programFolder + "\\tool.exe").c_str(), FALSE);
    struct {
        const wchar_t *name;
        DWORD type;
        const wchar_t *image;  // null: no ImagePath
        const wchar_t *serviceDll;
        std::string expected;  // empty: not listed
    } cases[] = {
        {L"tlmtst_nopath", SERVICE_KERNEL_DRIVER, nullptr, nullptr, ""},
        {L"mountmgr", 0, nullptr, nullptr, SystemFile("system32\\drivers\\mountmgr.sys")},
        {L"tlmtst_rel", SERVICE_KERNEL_DRIVER, L"system32\\drivers\\mountmgr.sys", nullptr,
         SystemFile("system32\\drivers\\mountmgr.sys")},
        {L"tlmtst_root", SERVICE_KERNEL_DRIVER, L"\\SystemRoot\\system32\\drivers\\http.sys", nullptr,
         SystemFile("system32\\drivers\\http.sys")},
        {L"tlmtst_rootcase", SERVICE_KERNEL_DRIVER, L"\\systemroot\\system32\\drivers\\http.sys", nullptr,
         SystemFile("system32\\drivers\\http.sys")},
        {L"tlmtst_dev", SERVICE_KERNEL_DRIVER, L"\\??\\C:\\windows\\system32\\drivers\\http.sys", nullptr,
         "C:\\windows\\system32\\drivers\\http.sys"},
        {L"tlmtst_abs", SERVICE_KERNEL_DRIVER, L"C:\\windows\\system32\\drivers\\http.sys", nullptr,
         "C:\\windows\\system32\\drivers\\http.sys"},
        {L"tlmtst_svcnone", SERVICE_WIN32_OWN_PROCESS, nullptr, nullptr, ""},
        {L"tlmtst_quoted", SERVICE_WIN32_OWN_PROCESS, L"  \"C:\\windows\\system32\\Notepad.exe\" /a b ", nullptr,
         "C:\\windows\\system32\\Notepad.exe"},
        {L"tlmtst_args", SERVICE_WIN32_OWN_PROCESS, L"C:\\Windows\\System32\\Notepad.exe /a", nullptr,
         "c:\\windows\\system32\\notepad.exe"},
        {L"tlmtst_progargs", SERVICE_WIN32_OWN_PROCESS, L"C:\\Program Files\\Vostrel Test\\tool.exe -k run", nullptr,
         "c:\\program files\\vostrel test\\tool.exe"},
        {L"tlmtst_host", SERVICE_WIN32_SHARE_PROCESS, L"%SystemRoot%\\System32\\svchost.exe -k tlm",
         L"%SystemRoot%\\system32\\kernel32.dll", SystemFile("system32\\kernel32.dll")},
        {L"tlmtst_hostonly", SERVICE_WIN32_SHARE_PROCESS, L"%SystemRoot%\\System32\\svchost.exe", nullptr,
         SystemFile("System32\\svchost.exe")},
    };
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    for (const auto &c : cases) {
        if (c.type == 0)
            continue;  // one of the prefix's own
        SC_HANDLE service = CreateServiceW(manager, c.name, c.name, SERVICE_ALL_ACCESS, c.type, SERVICE_DEMAND_START,
                                           SERVICE_ERROR_IGNORE, L"C:\\placeholder.exe", nullptr, nullptr, nullptr,
                                           nullptr, nullptr);
        if (service == nullptr)
            service = OpenServiceW(manager, c.name, SERVICE_ALL_ACCESS);
        ASSERT_NE(service, nullptr) << GetLastError();
        CloseServiceHandle(service);
        CRegistry key((std::wstring(L"CCS:Services\\") + c.name).c_str());
        if (c.image != nullptr)
            key.SetString(L"ImagePath", c.image, REG_EXPAND_SZ);
        else
            key.DeleteValue(L"ImagePath");
        if (c.serviceDll != nullptr)
            CRegistry((std::wstring(L"CCS:Services\\") + c.name + L"\\Parameters").c_str())
                .SetString(L"ServiceDll", c.serviceDll, REG_EXPAND_SZ);
    }
    SERVICE_LIST services;
    services.EnumerateServices(0x13F);
    for (const auto &c : cases) {
        const std::string name = NarrowFromWide(c.name);
        std::string found;
        for (const SERVICE_INFO &service : services)
            if (EqualsNoCase(service.name, name))
                found = service.path;
        EXPECT_TRUE(EqualsNoCase(found, c.expected) && (found.empty() || found == c.expected || c.type == 0))
            << name << ": " << found << " expected " << c.expected;
    }
    for (const auto &c : cases) {
        if (c.type == 0)
            continue;
        SC_HANDLE service = OpenServiceW(manager, c.name, DELETE);
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

SW_VER_ENTRY Row(int32_t type, const char *file, const char *path, int32_t osFilter = 0, int32_t generation = 0)
{
    return SW_VER_ENTRY(type, file, "catalogue text", path, osFilter, generation);
}

// A small catalogue on real files: filters, running drivers, and the extra rows' order.
TEST_F(SoftwareTest, CatalogueFiltersAndDrivers)
{
    CRegistry osKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\ZORUROvid");
    CRegistry bios(HKEY_LOCAL_MACHINE, L"HARDWARE\\Description\\System\\BIOS");
    std::wstring product;
    const bool hadProduct = bios.GetString(L"SystemProductName", &product);
    const char *notepad = "%SystemRoot%\\system32\\notepad.exe";
    std::vector<SW_VER_ENTRY> table = {
        Row(5, "notepad.exe", notepad),
        Row(5, "NOTEPAD.EXE", "%systemroot%\\System32\\Notepad.exe"),
        Row(5, "f2008.exe", notepad, 2008),
        Row(5, "f2012.exe", notepad, 2012),
        Row(5, "f2016.exe", notepad, 2016),
        Row(5, "f38.exe", notepad, 38),
        Row(4, "g8.exe", notepad, 0, 8),
        Row(4, "g9.exe", notepad, 0, 9),
        Row(2, "mountmgr.sys", "%SystemRoot%\\system32\\drivers\\mountmgr.sys"),
        Row(2, "http.sys", "%SystemRoot%\\system32\\drivers\\http.sys"),
        Row(5, "missing.exe", "%SystemRoot%\\missing.exe"),
        Row(0, nullptr, nullptr),
    };
    g_SwVerTable = table.data();
    struct {
        std::optional<DWORD> osType;
        const wchar_t *product;
        std::vector<std::string> published;
    } cases[] = {
        {26, L"Pelinor ZDT9 server", {"notepad.exe", "NOTEPAD.EXE", "f2012.exe", "g9.exe", "mountmgr.sys"}},
        {38, L"Pelinor ZDT8", {"notepad.exe", "NOTEPAD.EXE", "f2012.exe", "f38.exe", "g8.exe", "mountmgr.sys"}},
        {37, L"Pelinor ZDT10", {"notepad.exe", "NOTEPAD.EXE", "f2008.exe", "mountmgr.sys"}},
        {57, L"", {"notepad.exe", "NOTEPAD.EXE", "f2016.exe", "mountmgr.sys"}},
        {std::nullopt, L"Pelinor ZDT9", {"notepad.exe", "NOTEPAD.EXE", "g9.exe", "mountmgr.sys"}},
    };
    for (const auto &c : cases) {
        if (c.osType)
            osKey.SetDword(L"HostOsType", *c.osType);
        else
            osKey.DeleteValue(L"HostOsType");
        ASSERT_TRUE(bios.SetString(L"SystemProductName", c.product));
        s_ZDTHOSTDataCollector.Collect_zdtHoSwVer(0, &staging);
        EXPECT_EQ(Published(), c.published) << (c.osType ? *c.osType : 0);
    }
    EXPECT_EQ(table[10].status, 3);  // missing file
    EXPECT_EQ(table[9].status, 1);   // HTTP does not run
    EXPECT_EQ(IntAt(&staging, EnterpriseOid({11, 2, 7, 1, 0})), -1);
    EXPECT_EQ(TextAt(&staging, EnterpriseOid({11, 2, 7, 3, 0})), std::string("10.100.0.0"));
    // The same file twice: two rows with consecutive indexes from 0, the path as expanded.
    EXPECT_EQ(IntAt(&staging, EnterpriseOid({11, 2, 7, 2, 1, 1, 0})), 0);
    EXPECT_EQ(IntAt(&staging, EnterpriseOid({11, 2, 7, 2, 1, 1, 1})), 1);
    EXPECT_TRUE(EqualsNoCase(*SwText(7, 1), SystemFile("system32\\notepad.exe")));
    EXPECT_EQ(SwText(6, 0)->size(), 7u);

    osKey.SetDword(L"HostOsType", 59);
    if (hadProduct)
        bios.SetString(L"SystemProductName", product);
    else
        bios.DeleteValue(L"SystemProductName");

    // A table that ends at once publishes nothing.
    std::vector<SW_VER_ENTRY> empty = {Row(0, nullptr, nullptr)};
    g_SwVerTable = empty.data();
    s_ZDTHOSTDataCollector.Collect_zdtHoSwVer(0, &staging);
    EXPECT_TRUE(Published().empty());
}

// The one-shot dump: the service list, the catalogue in its three groups, the keywords; the
// switch is reset, so the next collection writes none.
TEST_F(SoftwareTest, DumpOnceWritesServicesCatalogueAndKeywords)
{
    LogCapture log;
    ASSERT_TRUE(LogCapture::Verbose());
    CRegistry osKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\ZORUROvid");
    DWORD previousOsType = 0;
    const bool hadOsType = osKey.GetDword(L"HostOsType", &previousOsType);
    osKey.SetDword(L"HostOsType", 26);  // the 2012 filter applies, the 2008 one does not
    const char *notepad = "%SystemRoot%\\system32\\notepad.exe";
    std::vector<SW_VER_ENTRY> table = {
        Row(5, "notepad.exe", notepad),
        Row(2, "mountmgr.sys", "%SystemRoot%\\system32\\drivers\\mountmgr.sys"),
        Row(5, "missing.exe", "%SystemRoot%\\missing.exe"),
        Row(5, "f2008.exe", notepad, 2008),
        Row(2, "http.sys", "%SystemRoot%\\system32\\drivers\\http.sys"),
        Row(0, nullptr, nullptr),
    };
    EXPECT_EQ(CollectWithDumpOnce(table), 0u);

    const std::vector<std::wstring> messages = log.Messages(L"CollectSoftwareVersions");
    const auto at = [&](const wchar_t *text) { return std::find(messages.begin(), messages.end(), text); };
    const auto services = at(L"CollectSoftwareVersions: Dump current all service list");
    const auto catalogue = at(L"CollectSoftwareVersions: Dump local DB (g_SwVerTable)");
    ASSERT_NE(services, messages.end());
    ASSERT_NE(catalogue, messages.end());
    ASSERT_LT(services, catalogue);

    // One line per service, numbered from 0, with its state word; the running mount manager is
    // one of them, and its number is the one the catalogue line of its driver carries.
    const std::wstring mountmgrPath = Wide(SystemFile("system32\\drivers\\mountmgr.sys"));
    const std::set<std::wstring> stateWords = {L"Stopped", L"Start Pending", L"Stop Pending", L"Running",
                                               L"Continue Pending", L"Pause Pending", L"Paused", L"Unknown"};
    int mountmgr = -1;
    int k = 0;
    for (auto line = services + 1; line != catalogue; ++line, ++k) {
        const std::wstring prefix = L"    Id: " + std::to_wstring(k) + L",\tName: ";
        ASSERT_EQ(prefix, line->substr(0, prefix.size())) << NarrowFromWide(*line);
        const size_t state = line->find(L",\tState: ");
        const size_t display = line->find(L",\tDisplayName: ");
        ASSERT_TRUE(state != std::wstring::npos && display != std::wstring::npos && state < display);
        const std::wstring word = line->substr(state + 9, display - state - 9);
        EXPECT_EQ(1u, stateWords.count(word)) << NarrowFromWide(word);
        if (EqualsNoCase(line->substr(prefix.size(), state - prefix.size()), std::wstring(L"mountmgr")) &&
            EqualsNoCase(line->substr(line->find(L",\tPath: ") + 8), mountmgrPath)) {
            mountmgr = k;
            EXPECT_EQ(L"Running", word);
        }
    }
    ASSERT_GE(mountmgr, 0) << "the mount manager is not in the dumped service list";

    const std::wstring windows = Wide(SystemFile(""));
    const std::vector<std::wstring> expected = {
        L"CollectSoftwareVersions: Dump local DB (g_SwVerTable)",
        L"    Found and update to MIB later (Status = Loaded)",
        L"        Id: N/A,\tName: notepad.exe,\tLocation: " + windows + L"system32\\notepad.exe",
        L"        Id: " + std::to_wstring(mountmgr) + L",\tName: mountmgr.sys,\tLocation: " + windows +
            L"system32\\drivers\\mountmgr.sys",
        L"    Others (Status = Not Loaded)",
        L"        Name: missing.exe,\tLocation: " + windows + L"missing.exe",
        L"    Others (Status = Others)",
        L"        Name: f2008.exe,\tLocation: ",
        L"        Name: http.sys,\tLocation: ",
        L"CollectSoftwareVersions: dump include keyword 'vostrel-quinbar','vostrel','ndx','velmarine' in all "
        L"service list",
    };
    ASSERT_GE(static_cast<size_t>(messages.end() - catalogue), expected.size());
    EXPECT_EQ(expected, std::vector<std::wstring>(catalogue, catalogue + expected.size()));

    // The switch is off again: the next collection dumps nothing.
    LogCapture next;
    s_ZDTHOSTDataCollector.Collect_zdtHoSwVer(0, &staging);
    for (const std::wstring &message : next.Messages(L"CollectSoftwareVersions"))
        EXPECT_EQ(std::wstring::npos, message.find(L"Dump")) << NarrowFromWide(message);

    if (hadOsType)
        osKey.SetDword(L"HostOsType", previousOsType);
    else
        osKey.DeleteValue(L"HostOsType");
}

// Services made in the prefix from host_state_service.exe, which sits beside the test program:
// each is a copy of it at a path of the test's, started and then told the state it is to report
// (a service of state 1 is not started). At the end every one is stopped (its process ended where
// the manager passes it no stop control) and deleted.
class StateServices {
public:
    StateServices() : m_Manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {}
    ~StateServices()
    {
        for (SC_HANDLE service : m_Services) {
            End(service);
            DeleteService(service);
            CloseServiceHandle(service);
        }
        if (m_Manager != nullptr)
            CloseServiceHandle(m_Manager);
    }

    // An empty text when the service runs in its state (or, for state 1, exists), else what failed.
    std::string Add(const std::wstring &name, const std::wstring &display, const std::wstring &path, DWORD state)
    {
        wchar_t program[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, program, MAX_PATH);
        std::wstring source(program);
        source = source.substr(0, source.find_last_of(L"\\/") + 1) + L"host_state_service.exe";
        if (m_Manager == nullptr)
            return "no service manager";
        if (!CopyFileW(source.c_str(), path.c_str(), FALSE))
            return "copy to " + NarrowFromWide(path) + " failed: " + std::to_string(GetLastError());
        const std::wstring binary = L"\"" + path + L"\"";
        SC_HANDLE service = CreateServiceW(m_Manager, name.c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                           binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        if (service == nullptr)
            return "CreateService " + NarrowFromWide(name) + ": " + std::to_string(GetLastError());
        m_Services.push_back(service);
        if (state == SERVICE_STOPPED)
            return {};
        if (!StartServiceW(service, 0, nullptr))
            return "StartService " + NarrowFromWide(name) + ": " + std::to_string(GetLastError());
        if (!Reaches(service, SERVICE_RUNNING))
            return NarrowFromWide(name) + " does not run";
        SERVICE_STATUS status = {};
        if (state != SERVICE_RUNNING && !ControlService(service, 128 + state, &status))
            return "ControlService " + NarrowFromWide(name) + ": " + std::to_string(GetLastError());
        if (!Reaches(service, state))
            return NarrowFromWide(name) + " does not report state " + std::to_string(state);
        return {};
    }

private:
    static bool Reaches(SC_HANDLE service, DWORD state)
    {
        SERVICE_STATUS status = {};
        for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(20))
            if (QueryServiceStatus(service, &status) && status.dwCurrentState == state)
                return true;
        return false;
    }

    static void End(SC_HANDLE service)
    {
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&status), sizeof status,
                                  &needed) ||
            status.dwProcessId == 0)
            return;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId);
        SERVICE_STATUS ignored = {};
        if (!ControlService(service, SERVICE_CONTROL_STOP, &ignored) && process != nullptr)
            TerminateProcess(process, 0);
        if (process != nullptr) {
            WaitForSingleObject(process, 30000);
            CloseHandle(process);
        }
    }

    SC_HANDLE m_Manager;
    std::vector<SC_HANDLE> m_Services;
};

// The dump against a fixture of services in each of the seven states (the service manager lists
// no service in another, so "Unknown" cannot be reached here) and a small catalogue: each fixture
// service's line word for word (number, name, state word, display name, path as read), the
// catalogue lines with the number of the service whose path a row's default path names whatever
// that service's state, the maker's running services after the keywords with their lowered paths,
// every line at the Information level; and the maker's running service that no catalogue row
// names is published after the catalogue rows.
TEST_F(SoftwareTest, DumpOfFixtureServicesWordForWord)
{
    LogCapture log;
    ASSERT_TRUE(LogCapture::Verbose());
    const std::wstring plain = L"C:\\tlmdump";
    const std::wstring maker = L"C:\\Vostrel-Quinbar Dump";
    CreateDirectoryW(plain.c_str(), nullptr);
    CreateDirectoryW(maker.c_str(), nullptr);
    struct FIXTURE_SERVICE {
        const wchar_t *name;
        DWORD state;
        const wchar_t *word;
        bool maker;
        const wchar_t *file;
    };
    const FIXTURE_SERVICE fixture[] = {
        {L"tlmdump_s1", 1, L"Stopped", false, L"tlmdump_s1.exe"},
        {L"tlmdump_s2", 2, L"Start Pending", false, L"tlmdump_s2.exe"},
        {L"tlmdump_s3", 3, L"Stop Pending", false, L"tlmdump_s3.exe"},
        {L"tlmdump_s4", 4, L"Running", false, L"tlmdump_s4.exe"},
        {L"tlmdump_s5", 5, L"Continue Pending", false, L"tlmdump_s5.exe"},
        {L"tlmdump_s6", 6, L"Pause Pending", false, L"tlmdump_s6.exe"},
        {L"tlmdump_s7", 7, L"Paused", false, L"tlmdump_s7.exe"},
        {L"tlmdump_mk", 4, L"Running", true, L"TlmDump_Mk.exe"},
        {L"tlmdump_mk2", 4, L"Running", true, L"TlmDump_Mk2.exe"},
        {L"tlmdump_mkp", 7, L"Paused", true, L"TlmDump_Mkp.exe"},
    };
    const auto pathOf = [&](const FIXTURE_SERVICE &service) {
        return (service.maker ? maker : plain) + L"\\" + service.file;
    };
    const auto displayOf = [](const FIXTURE_SERVICE &service) {
        return std::wstring(L"Dump fixture ") + service.name + L" (" + service.word + L")";
    };
    StateServices services;
    for (const FIXTURE_SERVICE &service : fixture)
        ASSERT_EQ("", services.Add(service.name, displayOf(service), pathOf(service), service.state));

    std::vector<SW_VER_ENTRY> table = {
        Row(5, "StoppedTool.exe", "C:\\tlmdump\\tlmdump_s1.exe"),
        Row(5, "notepad.exe", "%SystemRoot%\\system32\\notepad.exe"),
        Row(5, "TLMDUMP_MK2.EXE", "c:\\vostrel-quinbar dump\\tlmdump_mk2.exe"),
        Row(5, "gone.exe", "C:\\tlmdump\\gone.exe"),
        Row(2, "http.sys", "%SystemRoot%\\system32\\drivers\\http.sys"),
        Row(0, nullptr, nullptr),
    };
    EXPECT_EQ(CollectWithDumpOnce(table), 0u);

    std::vector<LogCapture::LINE> lines;
    for (const LogCapture::LINE &line : log.Lines())
        if (line.function == L"CollectSoftwareVersions")
            lines.push_back(line);
    const auto at = [&](const wchar_t *text) {
        return std::find_if(lines.begin(), lines.end(), [&](const LogCapture::LINE &line) { return line.message == text; });
    };
    const auto listHeader = at(L"CollectSoftwareVersions: Dump current all service list");
    const auto catalogueHeader = at(L"CollectSoftwareVersions: Dump local DB (g_SwVerTable)");
    ASSERT_NE(listHeader, lines.end());
    ASSERT_NE(catalogueHeader, lines.end());
    ASSERT_LT(listHeader, catalogueHeader);

    // The service list: numbered from 0; each fixture service's line exactly.
    std::map<std::wstring, int> number;  // fixture service -> its number in the list
    int k = 0;
    for (auto line = listHeader + 1; line != catalogueHeader; ++line, ++k) {
        const std::wstring prefix = L"    Id: " + std::to_wstring(k) + L",\tName: ";
        ASSERT_EQ(prefix, line->message.substr(0, prefix.size())) << NarrowFromWide(line->message);
        const std::wstring name = line->message.substr(prefix.size(), line->message.find(L',', prefix.size()) - prefix.size());
        for (const FIXTURE_SERVICE &service : fixture)
            if (name == service.name) {
                EXPECT_EQ(0u, number.count(name)) << NarrowFromWide(name) << " listed twice";
                number[name] = k;
                EXPECT_EQ(prefix + service.name + L",\tState: " + service.word + L",\tDisplayName: " + displayOf(service) +
                              L",\tPath: " + pathOf(service),
                          line->message);
            }
    }
    for (const FIXTURE_SERVICE &service : fixture)
        EXPECT_EQ(1u, number.count(service.name)) << NarrowFromWide(service.name) << " is not in the dumped service list";
    ASSERT_EQ(std::size(fixture), number.size());

    // The catalogue in its three groups and the keywords; then the maker's running services.
    const std::wstring windows = Wide(SystemFile(""));
    const std::vector<std::wstring> expected = {
        L"CollectSoftwareVersions: Dump local DB (g_SwVerTable)",
        L"    Found and update to MIB later (Status = Loaded)",
        L"        Id: " + std::to_wstring(number[L"tlmdump_s1"]) +
            L",\tName: StoppedTool.exe,\tLocation: C:\\tlmdump\\tlmdump_s1.exe",
        L"        Id: N/A,\tName: notepad.exe,\tLocation: " + windows + L"system32\\notepad.exe",
        L"        Id: " + std::to_wstring(number[L"tlmdump_mk2"]) +
            L",\tName: TLMDUMP_MK2.EXE,\tLocation: c:\\vostrel-quinbar dump\\tlmdump_mk2.exe",
        L"    Others (Status = Not Loaded)",
        L"        Name: gone.exe,\tLocation: C:\\tlmdump\\gone.exe",
        L"    Others (Status = Others)",
        L"        Name: http.sys,\tLocation: ",
        L"CollectSoftwareVersions: dump include keyword 'vostrel-quinbar','vostrel','ndx','velmarine' in all "
        L"service list",
    };
    std::vector<std::pair<int, std::wstring>> makers;  // the maker's running services, in list order
    for (const FIXTURE_SERVICE &service : fixture)
        if (service.maker && service.state == SERVICE_RUNNING)
            makers.emplace_back(number[service.name], L"    Id:" + std::to_wstring(number[service.name]) + L",\tName: " +
                                                          service.name + L",\tPath: " + LowerAscii(pathOf(service)));
    std::sort(makers.begin(), makers.end());
    std::vector<std::wstring> tail = expected;
    for (const auto &maker : makers)
        tail.push_back(maker.second);
    std::vector<std::wstring> written;
    for (auto line = catalogueHeader; line != lines.end(); ++line)
        written.push_back(line->message);
    EXPECT_EQ(tail, written);

    // Every line of the dump at the Information level.
    for (auto line = listHeader; line != lines.end(); ++line)
        EXPECT_EQ(L"Information", line->level) << NarrowFromWide(line->message);

    // Published: the catalogue's loaded rows, then the maker's running service that no catalogue
    // row names (its service name with ".exe", an application, its lowered path); the one whose
    // name a catalogue row carries in other letters is not published twice.
    EXPECT_EQ(Published(), (std::vector<std::string>{"StoppedTool.exe", "notepad.exe", "TLMDUMP_MK2.EXE", "tlmdump_mk.exe"}));
    EXPECT_EQ(IntAt(&staging, EnterpriseOid({11, 2, 7, 2, 1, 3, 3})), 5);
    EXPECT_EQ(SwText(7, 3), NarrowFromWide(LowerAscii(maker + L"\\TlmDump_Mk.exe")));
    EXPECT_EQ(SwText(8, 3), std::string("2.7.1.8"));
    EXPECT_EQ(SwText(5, 3), std::string("state reporter"));
}

// The steps of one host collection in the order they ran, each call once, named by the line it
// writes first (the utilisation step writes its line only when a new posting of the usage is
// asked for, the operating-system step its line only in a first run).
std::vector<std::wstring> CollectSteps(const LogCapture &log)
{
    static const std::pair<const wchar_t *, const wchar_t *> kEntries[] = {
        {L"ZDTHOSTDataCollector::Collect", L"Starting HOST collector."},
        {L"ZDTHOSTDataCollector::Collect_zdtHoInfo", L"ZDTHOSTDataCollector::Collect_zdtHoInfo"},
        {L"ZDTHOSTDataCollector::Collect_zdtHoUtil", L"Log CPU and Memory usage again."},
        {L"ZDTHOSTDataCollector::Collect_zdtHoFileSys", L"ZDTHOSTDataCollector::Collect_zdtHoFileSys."},
        {L"ZDTHOSTDataCollector::Collect_zdtHoSwVer", L"ZDTHOSTDataCollector::Collect_zdtHoSwVer\n"},
        {L"ZDTHOSTDataCollector::Collect_zdtHoSwRunning", L"ZDTHOSTDataCollector::Collect_zdtHoSwRunning\n"},
        {L"ZDTHOSTDataCollector::Collect_zdtHoMemory", L"ZDTHOSTDataCollector::Collect_zdtHoMemory\n"},
    };
    const std::wstring collect = L"ZDTHOSTDataCollector::Collect";
    std::vector<std::wstring> steps;
    for (const LogCapture::LINE &line : log.Lines())
        for (const auto &[function, message] : kEntries)
            if (line.function == function && line.message == message)
                steps.push_back(line.function.substr(collect.size()));
    return steps;
}

std::optional<std::vector<uint8_t>> SoftwareStamp()
{
    CRegistry host(HKEY_LOCAL_MACHINE, kHostStateKey, KEY_READ);
    std::vector<uint8_t> stamp(8);
    DWORD size = static_cast<DWORD>(stamp.size());
    if (!host.GetBinary(L"LastSoftwareCollectionTime", stamp.data(), &size))
        return std::nullopt;
    stamp.resize(size);
    return stamp;
}

// Collect runs its steps in the order of the collector's contract, the two software groups only
// when a software collection is due, whatever makes it due, both in the same collection, and the
// memory group always, last. The host collector leaves the software stamp as it found it: the
// MIB-2 collector, later in the cycle, still finds the collection due and stamps it.
TEST_F(SoftwareTest, CollectStepsInOrderSoftwareOnlyWhenDue)
{
    LogCapture started;
    ASSERT_TRUE(LogCapture::Verbose());
    std::vector<SW_VER_ENTRY> table = {Row(5, "notepad.exe", "%SystemRoot%\\system32\\notepad.exe"),
                                       Row(2, "mountmgr.sys", "%SystemRoot%\\system32\\drivers\\mountmgr.sys"),
                                       Row(0, nullptr, nullptr)};
    g_SwVerTable = table.data();
    wmi->answers[L"Win32_SystemDriver"] = {{{L"Name", L"mountmgr"}, {L"State", L"Running"}, {L"DisplayName", L"Mount"}}};
    const std::vector<std::wstring> everyStep = {L"", L"_zdtHoInfo", L"_zdtHoUtil", L"_zdtHoFileSys", L"_zdtHoSwVer",
                                                 L"_zdtHoSwRunning", L"_zdtHoMemory"};
    const std::vector<std::wstring> noSoftware = {L"", L"_zdtHoInfo", L"_zdtHoUtil", L"_zdtHoFileSys",
                                                  L"_zdtHoMemory"};
    struct Case {
        const char *what;
        bool stampNow;             // false: the stamp is zero, so the interval has passed
        const wchar_t *hostFlag;   // a health-log flag under the host key, or null
        const wchar_t *relog;      // a re-log request under VolatileData, or null
        std::vector<std::wstring> steps;
    };
    const Case cases[] = {
        {"interval passed", false, nullptr, nullptr, everyStep},
        {"not due", true, nullptr, nullptr, noSoftware},
        // The versions step deletes this request; the running-software step must run all the same.
        {"drivers and services to log again", true, nullptr, L"RelogBBForServiceDriver", everyStep},
        {"health log cleared", true, L"KWBCleared", nullptr, everyStep},
        {"health log disabled then enabled", true, L"KWBDisabledThenEnabled", nullptr, everyStep},
    };
    CRegistry host(HKEY_LOCAL_MACHINE, kHostStateKey);
    ASSERT_TRUE(host.Create());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const bool due = c.steps == everyStep;
        CRegistry volatileData(kBlackBoxVolatileKey);
        ASSERT_TRUE(volatileData.Create(REG_OPTION_VOLATILE));
        ASSERT_TRUE(volatileData.SetDword(L"RelogBBForCpuUsage", 1));
        if (c.relog != nullptr) {
            ASSERT_TRUE(volatileData.SetDword(c.relog, 1));
        }
        if (c.hostFlag != nullptr) {
            ASSERT_TRUE(host.SetDword(c.hostFlag, 1));
        }
        ASSERT_TRUE(StampSoftwareCollection(c.stampNow));
        ASSERT_EQ(due, IsSoftwareCollectionDue());
        const auto stamp = SoftwareStamp();
        ASSERT_TRUE(stamp.has_value());

        LogCapture log;
        DATASTORE cycle(false);
        s_ZDTHOSTDataCollector.Collect(1, &cycle);

        EXPECT_EQ(c.steps, CollectSteps(log));
        EXPECT_EQ(due, IntAt(&cycle, EnterpriseOid({11, 2, 7, 1, 0})).has_value());
        EXPECT_EQ(due, TextAt(&cycle, EnterpriseOid({11, 2, 7, 2, 1, 4, 0})).has_value());
        EXPECT_EQ(due, IntAt(&cycle, EnterpriseOid({11, 2, 6, 1, 1, 1, 0})).has_value()) << "running software";
        EXPECT_TRUE(IntAt(&cycle, EnterpriseOid({11, 2, 13, 1, 0})).has_value()) << "memory in every cycle";
        EXPECT_EQ(stamp, SoftwareStamp()) << "the host collector stamped the software collection";
        if (c.hostFlag != nullptr)
            host.DeleteValue(c.hostFlag);
        volatileData.DeleteValue(L"RelogBBForServiceDriver");
    }
    StampSoftwareCollection(false);
}

// Between the collections that are due, the global store keeps serving the two software groups of
// the last one, while the memory group is written anew in every cycle.
TEST_F(SoftwareTest, SoftwareGroupsStayServedBetweenDueCollections)
{
    std::vector<SW_VER_ENTRY> table = {Row(5, "notepad.exe", "%SystemRoot%\\system32\\notepad.exe"),
                                       Row(2, "mountmgr.sys", "%SystemRoot%\\system32\\drivers\\mountmgr.sys"),
                                       Row(0, nullptr, nullptr)};
    g_SwVerTable = table.data();
    wmi->answers[L"Win32_SystemDriver"] = {{{L"Name", L"mountmgr"}, {L"State", L"Running"}, {L"DisplayName", L"Mount"}}};
    DATASTORE served(true);
    const MIBOID version = EnterpriseOid({11, 2, 7, 2, 1, 4, 0});
    const MIBOID running = EnterpriseOid({11, 2, 6, 1, 1, 2, 0});
    const MIBOID memory = EnterpriseOid({11, 2, 13, 1, 0});
    for (const bool due : {true, false, false}) {
        SCOPED_TRACE(due);
        ASSERT_TRUE(StampSoftwareCollection(!due));
        ASSERT_EQ(due, IsSoftwareCollectionDue());
        DATASTORE cycle(false);
        s_ZDTHOSTDataCollector.Collect(0, &cycle);
        ASSERT_TRUE(IntAt(&cycle, memory).has_value());
        ASSERT_EQ(due, TextAt(&cycle, version).has_value());
        ASSERT_TRUE(served.Merge(&cycle));
        EXPECT_EQ(TextAt(&served, version), std::string("notepad.exe"));
        EXPECT_EQ(IntAt(&served, EnterpriseOid({11, 2, 7, 1, 0})), -1);
        EXPECT_TRUE(TextAt(&served, running).has_value()) << "running software";
        EXPECT_TRUE(IntAt(&served, memory).has_value());
    }
    StampSoftwareCollection(false);
}

// Drivers and services go to the black box once, again on request, with first and last marked.
TEST_F(SoftwareTest, BlackBoxRecords)
{
    std::vector<SW_VER_ENTRY> table = {Row(0, nullptr, nullptr)};
    g_SwVerTable = table.data();
    s_PciFunctionSource = [] {
        return std::vector<PCI_FUNCTION>{{"mountmgr", 0x3B, 0x00020000}, {"other", 1, 0}, {"mountmgr", 0x3B, 0x00020001}};
    };
    const size_t drivers = RunningDrivers();
    ASSERT_GE(drivers, 2u);

    s_ZDTHOSTDataCollector.Collect_zdtHoSwVer(0, &staging);
    ASSERT_EQ(DriverPosts(), drivers);
    const auto &posts = RecordedSoftwarePosts();
    EXPECT_EQ(posts.front().flags, 1);
    EXPECT_EQ(posts[drivers - 1].flags, 2);
    bool sawMountmgr = false;
    for (const SOFTWARE_POST &post : posts)
        if (post.code == kBlackboxCodeDriver && post.texts[0] == "MountMgr") {
            sawMountmgr = true;
            EXPECT_EQ(post.texts[5], "");  // the device's service is compared with case
        } else if (post.code == kBlackboxCodeDriver && EqualsNoCase(post.texts[0], std::string("mountmgr"))) {
            sawMountmgr = true;
            EXPECT_EQ(post.texts[5], "0000:3B:02.0 0000:3B:02.1");
        }
    EXPECT_TRUE(sawMountmgr);
    for (const SOFTWARE_POST &post : posts)
        EXPECT_EQ(post.texts[3].size(), 19u) << post.texts[3];

    ClearRecordedPosts();
    s_ZDTHOSTDataCollector.Collect_zdtHoSwVer(0, &staging);
    EXPECT_TRUE(RecordedSoftwarePosts().empty());

    CRegistry volatileData(kBlackBoxVolatileKey);
    ASSERT_TRUE(volatileData.Create(REG_OPTION_VOLATILE));
    volatileData.SetDword(L"RelogBBForServiceDriver", 1);
    s_ZDTHOSTDataCollector.Collect_zdtHoSwVer(0, &staging);
    EXPECT_EQ(DriverPosts(), drivers);
    EXPECT_FALSE(volatileData.ValueExists(L"RelogBBForServiceDriver"));

    ClearRecordedPosts();
    CRegistry host(HKEY_LOCAL_MACHINE, kBlackBoxHostKey);
    host.SetDword(L"KWBCleared", 1);
    s_ZDTHOSTDataCollector.Collect_zdtHoSwVer(0, &staging);
    EXPECT_EQ(DriverPosts(), drivers);
    host.DeleteValue(L"KWBCleared");
}

// Running software: catalogue drivers minus stopped ones, then the maker's processes once each.
TEST_F(SoftwareTest, RunningSoftware)
{
    const std::string folder = "C:\\vostrel-quinbar-test";
    CreateDirectoryA(folder.c_str(), nullptr);
    WriteBytes(folder + "\\plain.exe", "not a program");
    std::vector<SW_VER_ENTRY> table = {
        Row(2, "MountMgr.sys", "%SystemRoot%\\system32\\drivers\\mountmgr.sys"),
        Row(2, "notepad.exe", "%SystemRoot%\\system32\\notepad.exe"),
        Row(5, "winver.exe", "%SystemRoot%\\system32\\winver.exe"),
        Row(0, nullptr, nullptr),
    };
    g_SwVerTable = table.data();
    const std::wstring notepad = std::wstring(L"C:\\windows\\system32\\notepad.exe");
    wmi->answers[kProcessQuery] = {
        {{L"Name", L"System"}, {L"ExecutablePath", L""}},
        {{L"Name", L"Twice.exe"}, {L"ExecutablePath", notepad}},
        {{L"Name", L"twice.exe"}, {L"ExecutablePath", L"C:\\vostrel-quinbar-test\\plain.exe"}},
        {{L"Name", L"Plain.exe"}, {L"ExecutablePath", L"C:\\Vostrel-Quinbar-Test\\plain.exe"}},
        {{L"Name", L"plain.exe"}, {L"ExecutablePath", L"C:\\Vostrel-Quinbar-Test\\plain.exe"}},
    };
    for (const wchar_t *state : {L"Running", L"Stopped"}) {
        wmi->answers[L"Win32_SystemDriver"] = {{{L"Name", L"mountmgr"}, {L"State", state}, {L"DisplayName", L"Mount"}}};
        s_ZDTHOSTDataCollector.Collect_zdtHoSwVer(0, &staging);
        s_ZDTHOSTDataCollector.Collect_zdtHoSwRunning(0, &staging);
        const std::vector<std::string> rows = Running();
        ASSERT_GE(rows.size(), 2u);
        EXPECT_EQ(rows.size(), std::wstring(state) == L"Running" ? 3u : 2u);
        // The plain file has no version resource: its lower-case path, no version.
        EXPECT_EQ(rows.back(), "c:\\vostrel-quinbar-test\\plain.exe");
        const uint32_t last = static_cast<uint32_t>(rows.size() - 1);
        EXPECT_EQ(TextAt(&staging, EnterpriseOid({11, 2, 6, 1, 1, 3, last})), rows.back());
        EXPECT_EQ(TextAt(&staging, EnterpriseOid({11, 2, 6, 1, 1, 4, last})), std::string());
        for (uint32_t row = 0; row <= last; ++row) {
            EXPECT_EQ(IntAt(&staging, EnterpriseOid({11, 2, 6, 1, 1, 1, row})), static_cast<int32_t>(row));
            EXPECT_EQ(IntAt(&staging, EnterpriseOid({11, 2, 6, 1, 1, 6, row})), 1);
            EXPECT_EQ(IntAt(&staging, EnterpriseOid({11, 2, 6, 1, 1, 7, row})), 2);
        }
    }
    // Nothing of the maker's runs and no catalogue driver is found: no rows.
    wmi->answers[kProcessQuery].clear();
    std::vector<SW_VER_ENTRY> none = {Row(0, nullptr, nullptr)};
    g_SwVerTable = none.data();
    s_ZDTHOSTDataCollector.Collect_zdtHoSwVer(0, &staging);
    s_ZDTHOSTDataCollector.Collect_zdtHoSwRunning(0, &staging);
    EXPECT_TRUE(Running().empty());
}

// ---- Usage ---------------------------------------------------------------------------------

class UsageTest : public SoftwareTest {
protected:
    void SetUp() override
    {
        SoftwareTest::SetUp();
        CRegistry(HKEY_LOCAL_MACHINE, kBlackBoxParametersKey).DeleteValue(L"PollInterval_CPUUtilizationInMinutes");
        UTILIZATION_TIMING::MinuteMs = 60000;
    }
    void TearDown() override
    {
        s_ZDTHOSTDataCollector.Terminate_zdtHoUtil();
        s_ServiceParameters.EnableUtilization = 1;
        UTILIZATION_TIMING::MinuteMs = 60000;
        SoftwareTest::TearDown();
    }
    size_t Posts(char kind)
    {
        size_t count = 0;
        for (const USAGE_POST &post : RecordedUsagePosts())
            count += post.kind == kind;
        return count;
    }
    bool WaitForPosts(char kind, size_t count, DWORD ms)
    {
        for (DWORD waited = 0; waited < ms; waited += 10) {
            if (Posts(kind) >= count)
                return true;
            Sleep(10);
        }
        return Posts(kind) >= count;
    }
};

TEST_F(UsageTest, ProcessorRowsAndRecords)
{
    ROWS rows = {{{L"Name", L"0,0"}, {L"PercentUserTime", L"12"}, {L"PercentPrivilegedTime", L"3"}},
                 {{L"Name", L"0,_Total"}, {L"PercentUserTime", L"90"}, {L"PercentPrivilegedTime", L"90"}},
                 {{L"Name", L"0,1"}, {L"PercentUserTime", L"40"}},
                 {{L"Name", L"_Total"}, {L"PercentUserTime", L"26"}, {L"PercentPrivilegedTime", L"7"}}};
    wmi->answers[kProcessorQuery] = rows;
    s_ZDTHOSTDataCollector.Initialize_zdtHoUtil();  // no period: once, at once
    ASSERT_TRUE(WaitForPosts('M', 1, 30000));
    const auto &posts = RecordedUsagePosts();
    ASSERT_EQ(posts.size(), 3u);
    EXPECT_EQ(posts[0].entries, (std::vector<uint8_t>{12, 3, 40, 0}));
    EXPECT_EQ(posts[1].numbers[3], 26u);
    EXPECT_EQ(posts[1].numbers[4], 7u);
    EXPECT_GT(posts[1].numbers[0], 0u);
    PERFORMANCE_INFORMATION information = {};
    ASSERT_TRUE(K32GetPerformanceInfo(&information, sizeof information));
    EXPECT_EQ(posts[2].numbers[0], uint64_t{information.PhysicalTotal} * information.PageSize);

    // 5000 processors: 4096 entries; the two other records still go.
    ROWS many;
    for (int i = 0; i < 5000; ++i)
        many.push_back({{L"Name", L"0," + std::to_wstring(i)}, {L"PercentUserTime", L"1"}});
    wmi->answers[kProcessorQuery] = many;
    ClearRecordedPosts();
    CRegistry volatileData(kBlackBoxVolatileKey);
    ASSERT_TRUE(volatileData.Create(REG_OPTION_VOLATILE));
    volatileData.SetDword(L"RelogBBForCpuUsage", 1);
    s_ZDTHOSTDataCollector.Collect_zdtHoUtil(0, &staging);
    EXPECT_FALSE(volatileData.ValueExists(L"RelogBBForCpuUsage"));
    ASSERT_EQ(RecordedUsagePosts().size(), 3u);
    EXPECT_EQ(RecordedUsagePosts()[0].numbers[0], 4096u);
}

TEST_F(UsageTest, DisabledDeletesRequestOnly)
{
    s_ServiceParameters.EnableUtilization = 0;
    s_ZDTHOSTDataCollector.Initialize_zdtHoUtil();
    CRegistry volatileData(kBlackBoxVolatileKey);
    ASSERT_TRUE(volatileData.Create(REG_OPTION_VOLATILE));
    volatileData.SetDword(L"RelogBBForCpuUsage", 1);
    s_ZDTHOSTDataCollector.Collect_zdtHoUtil(0, &staging);
    EXPECT_FALSE(volatileData.ValueExists(L"RelogBBForCpuUsage"));
    Sleep(100);
    EXPECT_TRUE(RecordedUsagePosts().empty());
    EXPECT_FALSE(s_ZDTHOSTDataCollector.UtilizationTimerExists());
}

TEST_F(UsageTest, PeriodicTimer)
{
    // A minute of 20 ms: a period of 5 "minutes" samples every 100 ms, the first after 100 ms.
    UTILIZATION_TIMING::MinuteMs = 20;
    CRegistry(HKEY_LOCAL_MACHINE, kBlackBoxParametersKey).SetDword(L"PollInterval_CPUUtilizationInMinutes", 5);
    const DWORD start = GetTickCount();
    s_ZDTHOSTDataCollector.Initialize_zdtHoUtil();
    ASSERT_TRUE(WaitForPosts('P', 1, 30000));
    EXPECT_GE(GetTickCount() - start, 90u);
    ASSERT_TRUE(WaitForPosts('P', 3, 30000));
    s_ZDTHOSTDataCollector.Terminate_zdtHoUtil();
    const size_t after = Posts('P');
    Sleep(300);
    EXPECT_EQ(Posts('P'), after);
}

TEST_F(UsageTest, ThrowingSamplingIsContained)
{
    wmi->throwOnQuery = true;
    s_ZDTHOSTDataCollector.Initialize_zdtHoUtil();
    // The sampling's query threw (a busy machine may start it late).
    for (int waited = 0; wmi->queriesStarted == 0 && waited < 30000; waited += 10)
        Sleep(10);
    ASSERT_GT(wmi->queriesStarted.load(), 0);
    EXPECT_TRUE(RecordedUsagePosts().empty());
    wmi->throwOnQuery = false;
    CRegistry volatileData(kBlackBoxVolatileKey);
    ASSERT_TRUE(volatileData.Create(REG_OPTION_VOLATILE));
    volatileData.SetDword(L"RelogBBForCpuUsage", 1);
    s_ZDTHOSTDataCollector.Collect_zdtHoUtil(0, &staging);
    EXPECT_EQ(Posts('P'), 1u);
}

TEST_F(UsageTest, TerminateWaitsForRunningSampling)
{
    wmi->queryDelayMs = 500;
    s_ZDTHOSTDataCollector.Initialize_zdtHoUtil();
    // Terminate once the sampling is inside its query (a busy machine may start it late).
    for (int waited = 0; wmi->queriesStarted == 0 && waited < 30000; waited += 10)
        Sleep(10);
    ASSERT_GT(wmi->queriesStarted.load(), 0);
    s_ZDTHOSTDataCollector.Terminate_zdtHoUtil();
    EXPECT_EQ(Posts('M'), 1u);
}

} // namespace
