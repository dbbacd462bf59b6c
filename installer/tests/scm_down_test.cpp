// With the service control manager gone, the steps that need it give up as they should: the
// service's installation says so and reports 0, the check for an installed service and the
// removal report 0 without a line, and the removal action still completes. The manager of this
// program's own Wine prefix is ended for it, so these cases run in a program of their own.
#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <functional>
#include <string>
#include <vector>

#include "installer_actions.h"
#include "installer_log.h"
#include "installer_paths.h"
#include "installer_test_support.h"

using namespace catest;

namespace {

// The service manager of this program's prefix, ended by its process id.
bool EndServiceManager()
{
    DWORD id = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W process{};
    process.dwSize = sizeof process;
    for (BOOL more = Process32FirstW(snapshot, &process); more && id == 0; more = Process32NextW(snapshot, &process))
        if (_wcsicmp(process.szExeFile, L"services.exe") == 0)
            id = process.th32ProcessID;
    CloseHandle(snapshot);
    if (id == 0)
        return false;
    HANDLE handle = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (handle == nullptr)
        return false;
    const bool ended = TerminateProcess(handle, 1) && WaitForSingleObject(handle, 30000) == WAIT_OBJECT_0;
    CloseHandle(handle);
    return ended;
}

TEST(ServiceManagerDown, StepsThatNeedItGiveUpAndTheActionsComplete)
{
    ScopedProgramFiles programFiles(L"scm-down");
    ScopedRecordingHooks hooks;
    tlmca::InstallerTimeouts::StartPauseMs = 0;

    // The product's service exists: every 0 below comes from the missing manager, not from a
    // missing service. (The prefix outlives the program, and a service made by an earlier run
    // stays: nothing can delete it once the manager is gone.)
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, manager);
    SC_HANDLE service = CreateServiceW(manager, tlmca::kServiceName, L"there before", SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       L"C:\\elsewhere.exe", nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(service != nullptr || GetLastError() == ERROR_SERVICE_EXISTS);
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    g_InstallerLog.Open(L"installer", L"tlmca");
    ASSERT_EQ(1, tlmca::IsServiceInstalled(tlmca::kServiceName));

    ASSERT_TRUE(EndServiceManager());
    manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    const DWORD error = GetLastError();
    ASSERT_EQ(nullptr, manager);
    ASSERT_EQ(static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE), error);

    const std::wstring wevtutil = L"\"" + tlmca::SystemRootPath().value() + L"\\System32\\wevtutil.exe\" um \"" +
                                  programFiles.Path() + L"\\Vostrel-Quinbar\\TLM\\Service\\qzrtlmevents.man\"";
    struct Case {
        const char *name;
        std::function<int()> step;
        int result;
        std::vector<std::wstring> messages;
    };
    const Case cases[] = {
        {"IsServiceInstalled", [] { return tlmca::IsServiceInstalled(tlmca::kServiceName); }, 0, {}},
        {"InstallService",
         [] {
             return tlmca::InstallService(tlmca::kServiceName, tlmca::kServiceExecutable, tlmca::kServiceDisplayName,
                                          tlmca::kServiceDescription);
         },
         0,
         {L"ServiceName: qzrtlm", L"Failed to open SCM. Stopping service installation!"}},
        {"StopAndDeleteService", [] { return tlmca::StopAndDeleteService(tlmca::kServiceName); }, 0, {}},
        {"PreUninstall", [] { return static_cast<int>(tlmca::PreUninstall(0)); }, 0,
         {L"Uninstalling event manifest.", L"Command (NDX_x64): " + wevtutil, L"Uninstalling TLM service."}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW((InstallerLogFolder() + L"installer.log").c_str());
        g_InstallerLog.Open(L"installer", L"tlmca");
        Recorder().configLevels.clear();
        EXPECT_EQ(c.result, c.step());
        EXPECT_EQ(c.messages, LogMessages());
        EXPECT_TRUE(Recorder().configLevels.empty()) << "no service configuration without a manager";
    }
    tlmca::InstallerTimeouts::StartPauseMs = 5000;
}

}  // namespace
