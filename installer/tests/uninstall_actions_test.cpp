// The remove-time actions: a real service stopped and deleted through Wine's service control
// manager, and the registry state removed, leaving what is not the product's.
#include <gtest/gtest.h>

#include <algorithm>

#include "installer_actions.h"
#include "installer_log.h"
#include "installer_paths.h"
#include "installer_test_support.h"
#include "registry.h"

#include <atomic>

using namespace catest;

namespace {

constexpr wchar_t kAgent[] = L"SYSTEM\\CurrentControlSet\\Services\\juv";
constexpr wchar_t kNicStore[] = L"SYSTEM\\CurrentControlSet\\Services\\juv\\MibStore\\ZDTNIC";
constexpr wchar_t kDiskStatus[] =
    L"SYSTEM\\CurrentControlSet\\Services\\juv\\MibStore\\MirtolServer\\Std_Equip\\Component\\PCIeDiskStatus";

std::wstring ProbePath()
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"ca_stop_probe.exe";
}

bool KeyExists(const wchar_t *path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

class UninstallActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tlmca::InstallerTimeouts::StopPollMs = 100;
        tlmca::InstallerTimeouts::TreePauseMs = 10;
    }
    // A probe that never stops was started by this test: end it by its id.
    void EndStartedProbes()
    {
        for (DWORD pid : m_Started) {
            if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
                TerminateProcess(process, 1);
                WaitForSingleObject(process, 5000);
                CloseHandle(process);
            }
        }
        m_Started.clear();
    }
    void TearDown() override
    {
        EndStartedProbes();
        tlmca::InstallerTimeouts::StopPollMs = 1000;
        tlmca::InstallerTimeouts::TreePauseMs = 1000;
        tlmca::InstallerTimeouts::TreeAttempts = 120;
        tlmca::InstallerTimeouts::StopLimitMs = 30000;
        tlmca::InstallerTimeouts::StopHintCapMs = 120000;
    }

    // Installs the probe as the product's service with the given behaviour and starts it, unless
    // start is false.
    void StartProbe(const std::wstring &arguments, bool start = true)
    {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        const std::wstring image = L"\"" + ProbePath() + L"\" " + arguments;
        SC_HANDLE service = CreateServiceW(manager, tlmca::kServiceName, L"probe", SERVICE_ALL_ACCESS,
                                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                           image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, service);
        if (!start) {
            CloseServiceHandle(service);
            CloseServiceHandle(manager);
            return;
        }
        ASSERT_TRUE(StartServiceW(service, 0, nullptr));
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        for (const ULONGLONG start = GetTickCount64(); GetTickCount64() - start < 60000;) {
            QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&status), sizeof(status),
                                 &needed);
            if (status.dwCurrentState == SERVICE_RUNNING)
                break;
            Sleep(50);
        }
        ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
        m_Started.push_back(status.dwProcessId);
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
    }

    bool ServiceExists()
    {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE service = OpenServiceW(manager, tlmca::kServiceName, SERVICE_QUERY_STATUS);
        if (service)
            CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return service != nullptr;
    }

    ScopedProgramFiles m_ProgramFiles{L"uninstall"};
    ScopedRecordingHooks m_Hooks;
    std::vector<DWORD> m_Started;
};

TEST_F(UninstallActionsTest, MissingServiceGivesZeroAndNoLine)
{
    g_InstallerLog.Open(L"installer", L"tlmca");
    EXPECT_EQ(0, tlmca::StopAndDeleteService(L"qzrtlm-not-there"));
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(UninstallActionsTest, ServiceThatStopsInTimeIsStoppedAndDeleted)
{
    StartProbe(L"stops 1500");
    g_InstallerLog.Open(L"installer", L"tlmca");
    EXPECT_EQ(1, tlmca::StopAndDeleteService(tlmca::kServiceName));
    EXPECT_FALSE(ServiceExists());
    const std::vector<std::wstring> messages = LogMessages();
    ASSERT_EQ(3u, messages.size());
    EXPECT_EQ(L"CurrentState: 3 ServiceSpecificExitCode: 0", messages[0]);
    EXPECT_EQ(L"qzrtlm is deleted.", messages[1]);
    EXPECT_EQ(L"Uninstall completed.", messages[2]);
}

// Departs from a limit raised to any wait hint, however long: a larger hint raises the limit only
// up to a cap, so that a service asking for hours cannot hold the removal for hours.
TEST_F(UninstallActionsTest, DepartureWaitHintRaisesTheStopLimitOnlyUpToACap)
{
    // Scaled down: a limit of 300 ms and a cap of 6000 ms. A wait taken to the cap shows in the
    // first two cases, an uncapped one (60 s) in the third; each bound leaves a busy machine
    // seconds for the service manager's calls.
    tlmca::InstallerTimeouts::StopLimitMs = 300;
    tlmca::InstallerTimeouts::StopHintCapMs = 6000;
    struct Case {
        DWORD hint;
        DWORD atLeast, below;
    };
    for (const Case c : {Case{100, 300, 5000}, Case{1000, 1000, 5000}, Case{60000, 6000, 30000}}) {
        SCOPED_TRACE(c.hint);
        StartProbe(L"hangs " + std::to_wstring(c.hint));
        g_InstallerLog.Open(L"installer", L"tlmca");
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(1, tlmca::StopAndDeleteService(tlmca::kServiceName));
        const ULONGLONG took = GetTickCount64() - start;
        EXPECT_GE(took, c.atLeast);
        EXPECT_LT(took, c.below);
        const std::vector<std::wstring> messages = LogMessages();
        EXPECT_NE(messages.end(),
                  std::find(messages.begin(), messages.end(), L"Timeout occured. Can't determine service state."));
        // Deleted while still running: it goes once its process ends.
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, m_Started.back())) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
        m_Started.pop_back();
        for (const ULONGLONG gone = GetTickCount64(); ServiceExists() && GetTickCount64() - gone < 60000;)
            Sleep(100);
        ASSERT_FALSE(ServiceExists()) << "the next case installs it again";
        DeleteFileW((InstallerLogFolder() + L"installer.log").c_str());
    }
}

// The branches of a removal that does not go the usual way: each leaves the service deleted or
// reports why not, and none waits for a stop that was never under way.
TEST_F(UninstallActionsTest, StopAndDeleteErrorBranches)
{
    tlmca::InstallerTimeouts::StopLimitMs = 20000;
    struct Case {
        const char *name;
        const wchar_t *probe;  // the probe's arguments
        bool start;
        bool markedForDeletion;  // deleted by someone else first, still running
        int result;
        std::vector<std::wstring> messages;  // "CurrentState: *" stands for any such line
    };
    const Case cases[] = {
        {"not running: deleted without a stop control", L"stops 0", false, false, 1,
         {L"qzrtlm is deleted.", L"Uninstall completed."}},
        {"stop refused: deleted without waiting", L"refuses 0", true, false, 1,
         {L"CurrentState: *", L"qzrtlm is deleted.", L"Uninstall completed."}},
        {"delete refused: reported with its error", L"refuses 0", true, true, 0,
         {L"CurrentState: *", L"qzrtlm uninstall failed with error 1072!"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        StartProbe(c.probe, c.start);
        if (c.markedForDeletion) {
            SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
            SC_HANDLE service = OpenServiceW(manager, tlmca::kServiceName, DELETE);
            ASSERT_NE(nullptr, service);
            ASSERT_TRUE(DeleteService(service));
            CloseServiceHandle(service);
            CloseServiceHandle(manager);
        }
        g_InstallerLog.Open(L"installer", L"tlmca");
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(c.result, tlmca::StopAndDeleteService(tlmca::kServiceName));
        EXPECT_LT(GetTickCount64() - start, 10000u) << "no wait for a stop";
        std::vector<std::wstring> messages = LogMessages();
        for (std::wstring &message : messages)
            if (message.rfind(L"CurrentState: ", 0) == 0)
                message = L"CurrentState: *";
        EXPECT_EQ(c.messages, messages);

        // A probe left running ends here; the service goes with it.
        EndStartedProbes();
        for (int waited = 0; waited < 60000 && ServiceExists(); waited += 50)
            Sleep(50);
        ASSERT_FALSE(ServiceExists());
        DeleteFileW((InstallerLogFolder() + L"installer.log").c_str());
    }
}

// A tree that will not go is tried the set number of times, a pause after each, and then given
// up; the action goes on. Here the tree comes back after every deletion: a thread of the test
// makes it again as soon as it is gone (Wine's registry keeps no security that could refuse the
// deletion), and counts how often it had to.
TEST_F(UninstallActionsTest, TreeThatWillNotGoIsGivenUpAfterTheAttempts)
{
    static constexpr wchar_t kStuck[] = L"SYSTEM\\QZTLMStuckTest";
    constexpr DWORD kAttempts = 3, kPauseMs = 500;
    tlmca::InstallerTimeouts::TreeAttempts = kAttempts;
    tlmca::InstallerTimeouts::TreePauseMs = kPauseMs;
    ASSERT_TRUE(CRegistry(HKEY_LOCAL_MACHINE, kStuck).SetDword(L"v", 1));

    struct Revive {
        std::atomic<bool> stop{false};
        std::atomic<DWORD> revived{0};
    } revive;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void *parameter) -> DWORD {
            auto *r = static_cast<Revive *>(parameter);
            // A few more than the attempts: a loop without its limit ends too, and the count shows it.
            while (!r->stop && r->revived < kAttempts + 3) {
                if (!KeyExists(kStuck)) {
                    CRegistry(HKEY_LOCAL_MACHINE, kStuck).SetDword(L"v", 1);
                    ++r->revived;
                }
                Sleep(2);
            }
            return 0;
        },
        &revive, 0, nullptr);
    ASSERT_NE(nullptr, thread);

    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(1, tlmca::DeleteKeyTreeWithRetry(HKEY_LOCAL_MACHINE, kStuck));
    const ULONGLONG took = GetTickCount64() - start;
    // The last deletion may still be revived: wait for it before counting.
    for (int waited = 0; waited < 30000 && revive.revived < kAttempts; waited += 10)
        Sleep(10);
    revive.stop = true;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);

    EXPECT_EQ(kAttempts, revive.revived.load()) << "each attempt deleted the tree once, and no more were made";
    EXPECT_GE(took, kAttempts * kPauseMs) << "a pause after each attempt";
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStuck);
}

// The tool by its absolute path and the manifest's full path between quotes; the log shows the
// command line that runs.
TEST_F(UninstallActionsTest, PreUninstallUnregistersTheManifestByAbsolutePath)
{
    EXPECT_EQ(0u, tlmca::PreUninstall(0));
    ASSERT_EQ(1u, Recorder().commands.size());
    const std::wstring tool = tlmca::SystemRootPath().value() + L"\\System32\\wevtutil.exe";
    const std::wstring command = L"\"" + tool + L"\" um \"" + m_ProgramFiles.Path() +
                                 L"\\Vostrel-Quinbar\\TLM\\Service\\qzrtlmevents.man\"";
    EXPECT_EQ(tool + L" | " + command, Recorder().commands[0]);
    const std::vector<std::wstring> expected = {L"Uninstalling event manifest.", L"Command (NDX_x64): " + command,
                                                L"Uninstalling TLM service."};
    EXPECT_EQ(expected, LogMessages());
}

TEST_F(UninstallActionsTest, PostUninstallRemovesOnlyWhatIsOurs)
{
    struct Case {
        const wchar_t *extension;
        bool removed;
        bool agentHasOwnValue;
    };
    const Case cases[] = {
        {L"%SystemRoot%\\system32\\Vostrel-Quinbar\\OOBE\\qz.xml", true, true},
        {L"%SYSTEMROOT%\\system32\\Vostrel-Quinbar\\OOBE\\qz.xml", false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(Narrow(c.extension));
        CRegistry serverManager(L"HKLM:SOFTWARE\\Microsoft\\ServerManager");
        ASSERT_TRUE(serverManager.SetString(L"OemExtensionXmlFilePath", c.extension));
        for (const wchar_t *tree : {L"SYSTEM\\QZTLMStorage\\Box", L"SYSTEM\\QZTLMNetwork\\Interface",
                                    L"SYSTEM\\QZTLMKWB", L"SYSTEM\\ZORUROVID",
                                    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\NDX Velmarine "
                                    L"Management Service"}) {
            CRegistry key(HKEY_LOCAL_MACHINE, tree);
            ASSERT_TRUE(key.SetDword(L"v", 1));
        }
        CRegistry(HKEY_LOCAL_MACHINE, kNicStore).SetDword(L"v", 1);
        CRegistry(HKEY_LOCAL_MACHINE, kDiskStatus).SetDword(L"pcieDiskStatus", 2);
        if (c.agentHasOwnValue) {
            CRegistry(HKEY_LOCAL_MACHINE, kAgent).SetString(L"ImagePath", L"agent.exe");
            CRegistry(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\juv\\MibStore\\Other")
                .SetDword(L"keep", 1);
        }

        EXPECT_EQ(0u, tlmca::PostUninstall(0));

        EXPECT_EQ(c.removed ? 0 : 1, serverManager.ValueExists(L"OemExtensionXmlFilePath"));
        for (const wchar_t *tree : {L"SYSTEM\\QZTLMStorage", L"SYSTEM\\QZTLMNetwork", L"SYSTEM\\QZTLMKWB",
                                    L"SYSTEM\\ZORUROVID", kNicStore, kDiskStatus,
                                    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\NDX Velmarine "
                                    L"Management Service"})
            EXPECT_FALSE(KeyExists(tree)) << Narrow(tree);
        if (c.agentHasOwnValue) {
            // The agent's own key and what else lies below it stay; the emptied branch goes.
            EXPECT_TRUE(KeyExists(L"SYSTEM\\CurrentControlSet\\Services\\juv\\MibStore\\Other"));
            EXPECT_FALSE(KeyExists(L"SYSTEM\\CurrentControlSet\\Services\\juv\\MibStore\\MirtolServer"));
            std::wstring image;
            EXPECT_TRUE(CRegistry(HKEY_LOCAL_MACHINE, kAgent).GetString(L"ImagePath", &image));
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAgent);
        } else {
            EXPECT_FALSE(KeyExists(kAgent)) << "nothing else was in it";
        }
        serverManager.DeleteValue(L"OemExtensionXmlFilePath");
    }
}

TEST_F(UninstallActionsTest, AbsentTreeCostsNoWait)
{
    tlmca::InstallerTimeouts::TreePauseMs = 20000;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(1, tlmca::DeleteKeyTreeWithRetry(HKEY_LOCAL_MACHINE, L"SYSTEM\\QZTLMNotThere"));
    EXPECT_LT(GetTickCount64() - start, 10000u) << "a pause would take 20 s";
}

}  // namespace
