// The remove-time actions: PreUninstall stops and deletes the service and unregisters the event
// manifest; PostUninstall removes the registry state the product leaves behind.
#include <windows.h>

#include "installer_actions.h"
#include "installer_log.h"
#include "installer_paths.h"
#include "registry.h"

namespace tlmca {

namespace {

bool KeyOpens(HKEY root, const std::wstring &subkey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool KeyIsEmpty(HKEY root, const std::wstring &subkey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD subKeys = 0, values = 0;
    const LONG result =
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && subKeys == 0 && values == 0;
}

constexpr wchar_t kAgentKey[] = L"SYSTEM\\CurrentControlSet\\Services\\juv";

}  // namespace

int StopAndDeleteService(const wchar_t *serviceName)
{
    constexpr wchar_t kFunction[] = L"StopAndDeleteService";
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
        return 0;
    SC_HANDLE service = OpenServiceW(manager, serviceName, 0xF003F);
    if (service == nullptr) {
        CloseServiceHandle(manager);
        return 0;
    }

    SERVICE_STATUS_PROCESS process{};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&process), sizeof(process),
                             &needed) &&
        process.dwCurrentState == SERVICE_RUNNING) {
        // A failed control leaves the status as it was given: zeroed, so the line shows nothing stale.
        SERVICE_STATUS status{};
        const BOOL stopped = ControlService(service, SERVICE_CONTROL_STOP, &status);
        LogStep(kFunction, L"CurrentState: %d ServiceSpecificExitCode: %d", static_cast<int>(status.dwCurrentState),
            static_cast<int>(status.dwServiceSpecificExitCode));
        if (stopped) {
            // A larger wait hint extends the wait, but only so far: a service that asks for
            // hours must not hold the removal for hours.
            DWORD limit = InstallerTimeouts::StopLimitMs;
            if (status.dwWaitHint > limit)
                limit = status.dwWaitHint < InstallerTimeouts::StopHintCapMs ? status.dwWaitHint
                                                                              : InstallerTimeouts::StopHintCapMs.load();
            const ULONGLONG start = GetTickCount64();
            DWORD state = status.dwCurrentState;
            while (state != SERVICE_STOPPED) {
                if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&process),
                                          sizeof(process), &needed))
                    break;
                state = process.dwCurrentState;
                if (state == SERVICE_STOPPED)
                    break;
                if (GetTickCount64() - start > limit) {
                    LogStep(kFunction, L"Timeout occured. Can't determine service state.");
                    break;
                }
                Sleep(InstallerTimeouts::StopPollMs);
            }
        }
    }

    const BOOL deleted = DeleteService(service);
    if (deleted) {
        LogStep(kFunction, L"%s is deleted.", serviceName);
        LogStep(kFunction, L"Uninstall completed.");
    } else {
        LogStep(kFunction, L"%s uninstall failed with error %d!", serviceName, static_cast<int>(GetLastError()));
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return deleted ? 1 : 0;
}

UINT PreUninstall(MSIHANDLE)
{
    g_InstallerLog.Open(L"installer", L"tlmca");
    LogStep(L"PreUninstall", L"Uninstalling event manifest.");
    std::wstring manifest;
    if (const std::optional<std::wstring> programFiles = ProgramFilesPath())
        manifest = *programFiles + kManifestPath;
    // The tool runs from the system folder by its absolute path, not found through a search path
    // by the command interpreter; the log shows the command line exactly as it runs.
    const std::wstring tool = SystemRootPath().value_or(L"C:\\windows") + L"\\System32\\wevtutil.exe";
    const std::wstring command = L"\"" + tool + L"\" um \"" + manifest + L"\"";
    GetInstallerHooks().RunCommand(tool, command);
    LogStep(L"PreUninstall", L"Command (NDX_x64): %s", command.c_str());
    LogStep(L"PreUninstall", L"Uninstalling TLM service.");
    StopAndDeleteService(kServiceName);
    return 0;
}

int DeleteKeyTreeWithRetry(HKEY root, const wchar_t *subkey)
{
    for (DWORD attempt = 0; attempt < InstallerTimeouts::TreeAttempts && KeyOpens(root, subkey); ++attempt) {
        HKEY all = nullptr;
        if (RegOpenKeyExW(root, nullptr, 0, KEY_ALL_ACCESS, &all) == ERROR_SUCCESS) {
            RegDeleteTreeW(all, subkey);
            RegCloseKey(all);
        }
        Sleep(InstallerTimeouts::TreePauseMs);
    }
    return 1;
}

void DeleteTreeAndEmptyParents(HKEY root, const std::wstring &subkey, const std::wstring &top)
{
    DeleteKeyTreeWithRetry(root, subkey.c_str());
    std::wstring parent = subkey;
    while (parent.size() > top.size()) {
        const size_t slash = parent.find_last_of(L'\\');
        if (slash == std::wstring::npos)
            break;
        parent.resize(slash);
        if (parent.size() < top.size() || !KeyIsEmpty(root, parent))
            break;
        RegDeleteKeyW(root, parent.c_str());
    }
}

UINT PostUninstall(MSIHANDLE)
{
    g_InstallerLog.Open(L"installer", L"tlmca");
    LogStep(L"PostUninstall", L"Cleaning registry.");

    CRegistry serverManager(L"HKLM:SOFTWARE\\Microsoft\\ServerManager");
    std::wstring extension;
    if (serverManager.GetString(L"OemExtensionXmlFilePath", &extension) &&
        extension == L"%SystemRoot%\\system32\\Vostrel-Quinbar\\OOBE\\qz.xml")
        serverManager.DeleteValue(L"OemExtensionXmlFilePath");

    const wchar_t *trees[] = {
        L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\NDX Velmarine Management Service",
        L"SYSTEM\\QZTLMStorage",
        L"SYSTEM\\QZTLMNetwork",
        L"SYSTEM\\QZTLMKWB",
        L"SYSTEM\\ZORUROVID",
    };
    for (const wchar_t *tree : trees)
        DeleteKeyTreeWithRetry(HKEY_LOCAL_MACHINE, tree);
    // The SNMP agent's service key is not ours: only the keys the product made below it go, and
    // then those of their parents that are left empty.
    const std::wstring agent = kAgentKey;
    DeleteTreeAndEmptyParents(HKEY_LOCAL_MACHINE, agent + L"\\MibStore\\ZDTNIC", agent);
    DeleteTreeAndEmptyParents(HKEY_LOCAL_MACHINE,
                              agent + L"\\MibStore\\MirtolServer\\Std_Equip\\Component\\PCIeDiskStatus", agent);

    LogStep(L"PostUninstall", L"Completed.");
    return 0;
}

}  // namespace tlmca
