// The install-time actions against the test prefix's real registry, file system and service
// control manager; the channel device, the command interpreter and the service configuration that
// Wine does not keep go through recording hooks.
#include <gtest/gtest.h>

#include "event_source.h"
#include "installer_actions.h"
#include "installer_log.h"
#include "kdl_intake.h"
#include "installer_paths.h"
#include "installer_test_support.h"
#include "registry.h"

#include <map>
#include <ostream>
#include <vector>

using namespace catest;

namespace {

constexpr wchar_t kServiceKeyPath[] = L"System\\CurrentControlSet\\Services\\ndxtlm";
constexpr wchar_t kSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\services\\eventlog\\System\\NDX Velmarine Management Service";
constexpr wchar_t kLevelsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Server\\ServerLevels";

void DeleteServiceIfPresent(const wchar_t *name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (SC_HANDLE service = manager ? OpenServiceW(manager, name, DELETE) : nullptr) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    if (manager)
        CloseServiceHandle(manager);
}

std::wstring SystemMessageLibrary()
{
    return tlmca::SystemRootPath().value() + L"\\System32\\EventLogMessages.dll";
}

// One registry value as stored: its type and its bytes.
struct StoredValue {
    DWORD type;
    std::vector<BYTE> data;
    bool operator==(const StoredValue &) const = default;
};
using StoredValues = std::map<std::wstring, StoredValue>;

const char *TypeName(DWORD type)
{
    switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return "another type";
    }
}

void PrintTo(const StoredValue &value, std::ostream *out)
{
    *out << TypeName(value.type) << ", " << value.data.size() << " bytes:";
    for (BYTE b : value.data)
        *out << ' ' << std::hex << static_cast<int>(b) << std::dec;
}

StoredValue Text(DWORD type, const std::wstring &text)
{
    const BYTE *bytes = reinterpret_cast<const BYTE *>(text.c_str());
    return {type, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}
StoredValue Dword(DWORD value)
{
    const BYTE *bytes = reinterpret_cast<const BYTE *>(&value);
    return {REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof value)};
}

// Every value of the event source's key, by name.
StoredValues SourceValues()
{
    StoredValues values;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameChars = 256, type = 0, size = 0;
        if (RegEnumValueW(key, index, name, &nameChars, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size);
        nameChars = 256;
        RegEnumValueW(key, index, name, &nameChars, nullptr, &type, data.data(), &size);
        data.resize(size);
        values[name] = {type, data};
    }
    RegCloseKey(key);
    return values;
}

// The two writers of the event source: the installer, and the service when it finds no source
// before its first hardware event. Each writes the message and category files unexpanded, as
// expandable strings (the installer names the product's eventmsg folder, the service the system
// folder it copies the library to), 16 categories, and error, warning and information events.
enum class SourceWriter { Installer, Service };

struct SourceValueRow {
    SourceWriter writer;
    const wchar_t *name;
    StoredValue value;
};

std::vector<SourceValueRow> SourceValueTable()
{
    const std::wstring installerFile = L"%ProgramFiles%\\Vostrel-Quinbar\\TLM\\eventmsg\\EventLogMessages.dll";
    const std::wstring serviceFile = L"%SystemRoot%\\System32\\EventLogMessages.dll";
    return {
        {SourceWriter::Installer, L"EventMessageFile", Text(REG_EXPAND_SZ, installerFile)},
        {SourceWriter::Installer, L"CategoryMessageFile", Text(REG_EXPAND_SZ, installerFile)},
        {SourceWriter::Installer, L"CategoryCount", Dword(16)},
        {SourceWriter::Installer, L"TypesSupported", Dword(7)},
        {SourceWriter::Service, L"EventMessageFile", Text(REG_EXPAND_SZ, serviceFile)},
        {SourceWriter::Service, L"CategoryMessageFile", Text(REG_EXPAND_SZ, serviceFile)},
        {SourceWriter::Service, L"CategoryCount", Dword(16)},
        {SourceWriter::Service, L"TypesSupported", Dword(7)},
    };
}

StoredValues ExpectedSourceValues(SourceWriter writer)
{
    StoredValues values;
    for (const SourceValueRow &row : SourceValueTable())
        if (row.writer == writer)
            values[row.name] = row.value;
    return values;
}

class InstallActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tlmca::InstallerTimeouts::StartPauseMs = 0;
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kServiceKeyPath);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"System\\TLMLOGCFG");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSourceKey);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLevelsKey);
        DeleteServiceIfPresent(tlmca::kServiceName);
        DeleteFileW(SystemMessageLibrary().c_str());
        g_InstallerLog.Open(L"installer", L"tlmca");
    }
    void TearDown() override
    {
        DeleteServiceIfPresent(tlmca::kServiceName);
        DeleteFileW(SystemMessageLibrary().c_str());
        tlmca::InstallerTimeouts::StartPauseMs = 5000;
    }
    std::wstring ServiceFolder() const { return m_ProgramFiles.Path() + L"\\Vostrel-Quinbar\\TLM\\Service\\"; }
    void MakeServiceFolder() const
    {
        CreateDirectoryW((m_ProgramFiles.Path() + L"\\Vostrel-Quinbar").c_str(), nullptr);
        CreateDirectoryW((m_ProgramFiles.Path() + L"\\Vostrel-Quinbar\\TLM").c_str(), nullptr);
        CreateDirectoryW(ServiceFolder().c_str(), nullptr);
        CreateDirectoryW((m_ProgramFiles.Path() + L"\\Vostrel-Quinbar\\TLM\\eventmsg").c_str(), nullptr);
    }

    ScopedProgramFiles m_ProgramFiles{L"install"};
    ScopedRecordingHooks m_Hooks;
};

TEST_F(InstallActionsTest, DepCheckBothWays)
{
    for (const bool present : {true, false}) {
        SCOPED_TRACE(present);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kServiceKeyPath);
        Recorder().devicePresent = present;
        TestPackage package(L"1.0");
        EXPECT_EQ(present ? 0u : 10u, tlmca::DepCheck(package.Handle()));
        EXPECT_EQ(present ? L"YES" : L"NO", package.Property(L"QOLBDRIVER"));
        CRegistry service(HKEY_LOCAL_MACHINE, kServiceKeyPath);
        DWORD interactive = 99;
        EXPECT_EQ(present ? 0 : 1, service.GetDword(L"InteractiveMode", &interactive));
        if (!present) {
            EXPECT_EQ(0u, interactive);
        }
        EXPECT_EQ(present ? 0 : 1, service.Exists()) << "present: nothing written to the registry";
    }
    const std::vector<std::wstring> messages = LogMessages();
    ASSERT_EQ(3u, messages.size());
    EXPECT_EQ(L"Checking dependencies..", messages[0]);
    EXPECT_EQ(L"QOLB driver is absent. Skipping installation.", messages[2]);
}

// Departs from the 32-byte buffer, which made the installed version read "NA" whenever the
// program folder's path was longer: the version is read under any %ProgramFiles%.
TEST_F(InstallActionsTest, DeparturePreInstallVersionsEvenUnderALongProgramFiles)
{
    // The folder name alone is well past 32 characters.
    ScopedProgramFiles longFolder(L"a-program-files-folder-with-a-long-name");
    MakeServiceFolder();
    EXPECT_EQ(L"NA", tlmca::GetInstalledServiceVersion());
    CreateDirectoryW((longFolder.Path() + L"\\Vostrel-Quinbar").c_str(), nullptr);
    CreateDirectoryW((longFolder.Path() + L"\\Vostrel-Quinbar\\TLM").c_str(), nullptr);
    CreateDirectoryW((longFolder.Path() + L"\\Vostrel-Quinbar\\TLM\\Service").c_str(), nullptr);
    // Any file with a version resource stands for the installed program.
    const std::wstring sample = tlmca::SystemRootPath().value() + L"\\System32\\kernel32.dll";
    const std::wstring installed = longFolder.Path() + L"\\Vostrel-Quinbar\\TLM\\Service\\qzrtlm.exe";
    ASSERT_TRUE(CopyFileW(sample.c_str(), installed.c_str(), FALSE));
    const std::wstring version = tlmca::GetInstalledServiceVersion();
    EXPECT_NE(L"NA", version);
    EXPECT_EQ(tlmca::FileVersionText(sample), version);

    TestPackage package(L"3.2.1");
    EXPECT_EQ(0u, tlmca::PreInstall(package.Handle()));
    const std::vector<std::wstring> messages = LogMessages();
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ(L"TLM installed version: " + version, messages[0]);
    EXPECT_EQ(L"TLM installer version: 3.2.1 build: 25", messages[1]);

    // A package without the property answers an empty value, which is what is logged.
    TestPackage noVersion(nullptr);
    EXPECT_EQ(L"", tlmca::GetMsiProductVersion(noVersion.Handle()));
}

// Departure: a start that fails is logged as failed, with its code, not as started.
TEST_F(InstallActionsTest, DeparturePostInstallLogsAFailedStartAndLeavesConfigurationManifestAndSource)
{
    MakeServiceFolder();
    const std::wstring manifest = ServiceFolder() + L"qzrtlmevents.man";
    WriteFileBytes(manifest, "<provider name=\"X\" guid=\"{1}\" symbol=\"S\"\n resourceFileName=\"C:\\a\\b.man\">\n");
    WriteFileBytes(m_ProgramFiles.Path() + L"\\Vostrel-Quinbar\\TLM\\eventmsg\\EventLogMessages.dll", "MZ");

    EXPECT_EQ(0u, tlmca::PostInstall(0));

    CRegistry config(HKEY_LOCAL_MACHINE, L"System\\TLMLOGCFG");
    std::wstring folder;
    DWORD level = 0, size = 0;
    EXPECT_TRUE(config.GetString(L"LogFolder", &folder));
    EXPECT_EQ(m_ProgramFiles.Path() + L"\\Vostrel-Quinbar\\TLM\\Logs\\", folder);
    EXPECT_TRUE(config.GetDword(L"LogLevel", &level));
    EXPECT_EQ(2u, level);
    EXPECT_TRUE(config.GetDword(L"LogMaxSize", &size));
    EXPECT_EQ(0x4000000u, size);

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, tlmca::kServiceName, SERVICE_QUERY_CONFIG);
    ASSERT_NE(nullptr, service);
    BYTE buffer[8192];
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer), sizeof(buffer), &needed));
    const auto *settings = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer);
    EXPECT_EQ(L"\"" + ServiceFolder() + L"qzrtlm.exe\"", std::wstring(settings->lpBinaryPathName));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), settings->dwStartType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), settings->dwServiceType);
    EXPECT_EQ(L"LocalSystem", std::wstring(settings->lpServiceStartName));
    EXPECT_EQ(std::wstring(tlmca::kServiceDisplayName), settings->lpDisplayName);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    EXPECT_EQ(std::wstring(tlmca::kServiceDescription), Recorder().description);
    ASSERT_EQ(2u, Recorder().failureActions.size());
    for (const SC_ACTION &action : Recorder().failureActions) {
        EXPECT_EQ(SC_ACTION_RESTART, action.Type);
        EXPECT_EQ(60000u, action.Delay);
    }

    const std::string exe = Narrow(ServiceFolder()) + "qzrtlm.exe";
    EXPECT_EQ("             <provider name=\"NDX Velmarine Management Service\" guid=\"{1}\" symbol=\"S\"\r\n"
              "                resourceFileName=\"" + exe + "\">\r\n",
              ReadFileBytes(manifest));

    EXPECT_EQ("MZ", ReadFileBytes(SystemMessageLibrary()));
    EXPECT_EQ(ExpectedSourceValues(SourceWriter::Installer), SourceValues());

    const std::vector<std::wstring> messages = LogMessages();
    // The program is not really there: the start fails, and says so with its code.
    bool startFailureLogged = false;
    for (const std::wstring &message : messages)
        startFailureLogged |= message.find(L"did not start. Error code:") != std::wstring::npos;
    EXPECT_TRUE(startFailureLogged);
    EXPECT_EQ(L"Completed.", messages.back());
}

// InstallService's failures: each is logged with its own line, ends the step with 0 and leaves no
// service and no configuration behind.
TEST_F(InstallActionsTest, InstallServiceFailures)
{
    MakeServiceFolder();
    const std::wstring executable = ServiceFolder() + L"qzrtlm.exe";
    struct Case {
        const char *name;
        const wchar_t *serviceName;
        bool withoutProgramFiles;
        const wchar_t *takenDisplayName;  // another service already shows the display name
        std::vector<std::wstring> messages;
    };
    const Case cases[] = {
        {"no %ProgramFiles%", tlmca::kServiceName, true, nullptr,
         {L"ServiceName: qzrtlm", L"Can't determine install location. Stopping service installation!"}},
        {"display name taken", tlmca::kServiceName, false, tlmca::kServiceDisplayName,
         {L"ServiceName: qzrtlm", L"Service file location: " + executable,
          L"Installation Failed! Can't create the service object."}},
        {"invalid service name", L"qzrtlm\\bad", false, nullptr,
         {L"ServiceName: qzrtlm\\bad", L"Service file location: " + executable,
          L"Installation Failed! Can't create the service object."}},
    };
    constexpr wchar_t kOther[] = L"qzrtlm-other";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW((InstallerLogFolder() + L"installer.log").c_str());
        g_InstallerLog.Open(L"installer", L"tlmca");
        Recorder().configLevels.clear();
        if (c.takenDisplayName != nullptr) {
            SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
            SC_HANDLE other = CreateServiceW(manager, kOther, c.takenDisplayName, SERVICE_ALL_ACCESS,
                                             SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                             L"C:\\elsewhere.exe", nullptr, nullptr, nullptr, nullptr, nullptr);
            ASSERT_NE(nullptr, other);
            CloseServiceHandle(other);
            CloseServiceHandle(manager);
        }
        if (c.withoutProgramFiles)
            SetEnvironmentVariableW(L"ProgramFiles", nullptr);
        const int result = tlmca::InstallService(c.serviceName, tlmca::kServiceExecutable,
                                                 tlmca::kServiceDisplayName, tlmca::kServiceDescription);
        SetEnvironmentVariableW(L"ProgramFiles", m_ProgramFiles.Path().c_str());
        DeleteServiceIfPresent(kOther);

        EXPECT_EQ(0, result);
        EXPECT_EQ(c.messages, LogMessages());
        EXPECT_EQ(0, tlmca::IsServiceInstalled(c.serviceName));
        EXPECT_TRUE(Recorder().configLevels.empty()) << "no description or failure actions set";
    }
}

// Each writer's source key holds exactly the values of its rows, each with its name, type and
// data: a file written as a plain string, a count of another size or type, a value too many or
// too few fails.
TEST_F(InstallActionsTest, EventSourceValuesOfBothWritersNamesTypesAndData)
{
    struct Writer {
        const char *name;
        SourceWriter writer;
        void (*define)(const wchar_t *sourceName, const wchar_t *libraryName);
        const wchar_t *sourceName;
        const wchar_t *libraryName;
    };
    const Writer writers[] = {
        {"installer", SourceWriter::Installer, &tlmca::DefineEventSourceIfNeeded, tlmca::kEventSourceName,
         tlmca::kMessageLibrary},
        {"service", SourceWriter::Service, &::DefineEventSourceIfNeeded, kKdlEventSource, kMessageLibraryName},
    };
    for (const Writer &w : writers) {
        SCOPED_TRACE(w.name);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSourceKey);
        w.define(w.sourceName, w.libraryName);
        const StoredValues stored = SourceValues();
        size_t rows = 0;
        for (const SourceValueRow &row : SourceValueTable()) {
            if (row.writer != w.writer)
                continue;
            ++rows;
            SCOPED_TRACE(Narrow(row.name));
            const auto found = stored.find(row.name);
            ASSERT_NE(stored.end(), found) << "value not written";
            EXPECT_STREQ(TypeName(row.value.type), TypeName(found->second.type));
            EXPECT_EQ(row.value.data, found->second.data);
        }
        EXPECT_EQ(4u, rows);
        EXPECT_EQ(rows, stored.size()) << "no other values";
    }
}

TEST_F(InstallActionsTest, ExistingServiceSourceAndLibraryAreLeftAlone)
{
    MakeServiceFolder();
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE existing = CreateServiceW(manager, tlmca::kServiceName, L"Someone else's", SERVICE_ALL_ACCESS,
                                        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                        L"C:\\elsewhere.exe", nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, existing);
    CloseServiceHandle(existing);
    CloseServiceHandle(manager);
    CRegistry source(HKEY_LOCAL_MACHINE, kSourceKey);
    ASSERT_TRUE(source.SetDword(L"TypesSupported", 1));
    WriteFileBytes(SystemMessageLibrary(), "already");
    WriteFileBytes(m_ProgramFiles.Path() + L"\\Vostrel-Quinbar\\TLM\\eventmsg\\EventLogMessages.dll", "MZ");

    EXPECT_EQ(1, tlmca::InstallService(tlmca::kServiceName, tlmca::kServiceExecutable, tlmca::kServiceDisplayName,
                                       tlmca::kServiceDescription));
    tlmca::InstallMessageDllIfNeeded(tlmca::kMessageLibrary);
    tlmca::DefineEventSourceIfNeeded(tlmca::kEventSourceName, tlmca::kMessageLibrary);

    EXPECT_TRUE(Recorder().configLevels.empty());
    manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, tlmca::kServiceName, SERVICE_QUERY_CONFIG);
    BYTE buffer[8192];
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer), sizeof(buffer), &needed));
    EXPECT_EQ(std::wstring(L"Someone else's"), reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer)->lpDisplayName);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    DWORD types = 0;
    EXPECT_TRUE(source.GetDword(L"TypesSupported", &types));
    EXPECT_EQ(1u, types);
    EXPECT_FALSE(source.ValueExists(L"EventMessageFile"));
    EXPECT_EQ("already", ReadFileBytes(SystemMessageLibrary()));

    const std::vector<std::wstring> messages = LogMessages();
    const std::vector<std::wstring> expected = {
        L"ServiceName: qzrtlm", L"qzrtlm is already installed.", L"Message DLL already exits.",
        L"Event source already defined."};
    EXPECT_EQ(expected, messages);
}

TEST_F(InstallActionsTest, MissingLibraryIsReportedAndMissingManifestBecomesEmpty)
{
    MakeServiceFolder();
    tlmca::InstallMessageDllIfNeeded(tlmca::kMessageLibrary);
    tlmca::RewriteManifestFile(ServiceFolder() + L"qzrtlmevents.man");
    EXPECT_FALSE(FileExists(SystemMessageLibrary()));
    ASSERT_TRUE(FileExists(ServiceFolder() + L"qzrtlmevents.man"));
    EXPECT_EQ("", ReadFileBytes(ServiceFolder() + L"qzrtlmevents.man"));
    const std::vector<std::wstring> messages = LogMessages();
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ(L"Can't find \"" + m_ProgramFiles.Path() + L"\\Vostrel-Quinbar\\TLM\\eventmsg\\EventLogMessages.dll\"",
              messages[0]);
    EXPECT_EQ(L"Re-write manifest file.", messages[1]);
}

// The manifest is rewritten in the file that is there, emptied first, not replaced by another
// file: it keeps its identity, and with it the security and the creation date it was installed
// with.
TEST_F(InstallActionsTest, ManifestIsRewrittenInTheSameFile)
{
    MakeServiceFolder();
    const std::wstring manifest = ServiceFolder() + L"qzrtlmevents.man";
    // Longer than what it becomes: nothing of the old text may stay behind the new.
    WriteFileBytes(manifest, "<provider name=\"" + std::string(300, 'x') + "\"\n<b/>\n");
    auto identity = [&manifest] {
        HANDLE file = CreateFileW(manifest.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        BY_HANDLE_FILE_INFORMATION information{};
        const bool read = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &information);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        EXPECT_TRUE(read);
        return std::vector<DWORD>{information.dwVolumeSerialNumber, information.nFileIndexHigh,
                                  information.nFileIndexLow};
    };
    const std::vector<DWORD> before = identity();
    tlmca::RewriteManifestFile(manifest);
    EXPECT_EQ(before, identity());
    EXPECT_EQ("             <provider name=\"NDX Velmarine Management Service\"\r\n<b/>\r\n", ReadFileBytes(manifest));
}

// Departs from rewriting whatever could be read: a manifest that is there but cannot be read is
// not emptied.
TEST_F(InstallActionsTest, DepartureUnreadableManifestIsLeftWholeNotEmptied)
{
    MakeServiceFolder();
    const std::wstring manifest = ServiceFolder() + L"qzrtlmevents.man";
    WriteFileBytes(manifest, "<provider name=\"X\">\n");
    HANDLE locked = CreateFileW(manifest.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, locked);
    tlmca::RewriteManifestFile(manifest);
    CloseHandle(locked);
    EXPECT_EQ("<provider name=\"X\">\n", ReadFileBytes(manifest));
}

TEST_F(InstallActionsTest, ServerCoreMatrix)
{
    struct Case {
        DWORD core, guiManagement, guiShell;
        bool removes;
    };
    const Case cases[] = {{1, 0, 0, true}, {1, 0, 1, false}, {1, 1, 0, false}, {0, 0, 0, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.core << c.guiManagement << c.guiShell);
        Recorder().commands.clear();
        CRegistry levels(HKEY_LOCAL_MACHINE, kLevelsKey);
        levels.SetDword(L"ServerCore", c.core);
        levels.SetDword(L"Server-Gui-Mgmt", c.guiManagement);
        levels.SetDword(L"Server-Gui-Shell", c.guiShell);
        tlmca::RemoveGuiOnServerCore();
        if (!c.removes) {
            EXPECT_TRUE(Recorder().commands.empty());
            continue;
        }
        ASSERT_EQ(1u, Recorder().commands.size());
        const std::wstring cmd = tlmca::SystemRootPath().value() + L"\\System32\\cmd.exe";
        EXPECT_EQ(cmd + L" | \"" + cmd + L"\" /c rmdir /S /Q \"" + m_ProgramFiles.Path() +
                      L"\\Vostrel-Quinbar\\tlm\\cpl\"",
                  Recorder().commands[0]);
    }
}

TEST_F(InstallActionsTest, ServerCoreRemovesTheRealFolder)
{
    // The real command interpreter, once: the folder and what it holds are gone.
    tlmca::SetInstallerHooksForTest({});
    const std::wstring cpl = m_ProgramFiles.Path() + L"\\Vostrel-Quinbar\\tlm\\cpl";
    CreateDirectoryW((m_ProgramFiles.Path() + L"\\Vostrel-Quinbar").c_str(), nullptr);
    CreateDirectoryW((m_ProgramFiles.Path() + L"\\Vostrel-Quinbar\\tlm").c_str(), nullptr);
    CreateDirectoryW(cpl.c_str(), nullptr);
    WriteFileBytes(cpl + L"\\panel.txt", "x");
    CRegistry levels(HKEY_LOCAL_MACHINE, kLevelsKey);
    levels.SetDword(L"ServerCore", 1);
    tlmca::RemoveGuiOnServerCore();
    EXPECT_FALSE(FileExists(cpl));
    EXPECT_TRUE(FileExists(m_ProgramFiles.Path() + L"\\Vostrel-Quinbar\\tlm"));
}

}  // namespace
