// The install-time actions: DepCheck, PreInstall and PostInstall, and the steps they share.
#include <windows.h>
#include <msiquery.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "installer_actions.h"
#include "installer_log.h"
#include "installer_paths.h"
#include "manifest_rewrite.h"
#include "registry.h"

namespace tlmca {

namespace {

void OpenLog()
{
    g_InstallerLog.Open(L"installer", L"tlmca");
}

// Manifests are UTF-8 XML.
std::string ToUtf8(const std::wstring &text)
{
    if (text.empty())
        return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), bytes, nullptr,
                            nullptr);
    return out;
}

bool FileExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Reads a whole file; nothing when it does not open or a read fails.
std::optional<std::string> ReadWholeFile(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::string data;
    char chunk[16384];
    DWORD got = 0;
    bool ok = true;
    for (;;) {
        if (!ReadFile(file, chunk, sizeof(chunk), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        data.append(chunk, got);
    }
    CloseHandle(file);
    if (!ok)
        return std::nullopt;
    return data;
}

// Opens the file for writing (creating it when missing), empties it and writes the data. The file
// stays the one that was there: its security and its creation date are those of the installed
// file, and Windows Installer compares that date with the date of the last change to tell a
// file it installed from one changed since. Nothing is written when it does not open.
bool RewriteFileInPlace(const std::wstring &path, const std::string &data)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = SetEndOfFile(file) &&
                    WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
                    written == data.size();
    CloseHandle(file);
    return ok;
}

}  // namespace

// ---- DepCheck ------------------------------------------------------------------------------------

bool IsDevicePresent(const wchar_t *deviceName)
{
    return GetInstallerHooks().IsDevicePresent(deviceName);
}

UINT DepCheck(MSIHANDLE installation)
{
    OpenLog();
    LogStep(L"DepCheck", L"Checking dependencies..");
    if (IsDevicePresent(L"OXBQOLB")) {
        MsiSetPropertyW(installation, L"QOLBDRIVER", L"YES");
        return 0;
    }
    LogStep(L"DepCheck", L"QOLB driver is absent. Skipping installation.");
    CRegistry service(HKEY_LOCAL_MACHINE, kServiceKey);
    service.SetDword(L"InteractiveMode", 0);
    MsiSetPropertyW(installation, L"QOLBDRIVER", L"NO");
    return 10;
}

// ---- PreInstall ----------------------------------------------------------------------------------

std::wstring FileVersionText(const std::wstring &path)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return L"NA";
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()))
        return L"NA";
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void **>(&fixed), &length) || fixed == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO))
        return L"NA";
    wchar_t text[64];
    _snwprintf(text, _countof(text) - 1, L"%d.%d.%d.%d", HIWORD(fixed->dwFileVersionMS),
               LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    text[_countof(text) - 1] = L'\0';
    return text;
}

std::wstring GetInstalledServiceVersion()
{
    // Without %ProgramFiles% there is no installed program to ask: a relative path would name a
    // file in whatever folder the installer happens to run in.
    const std::optional<std::wstring> programFiles = ProgramFilesPath();
    if (!programFiles)
        return L"NA";
    return FileVersionText(*programFiles + kServiceExecutable);
}

std::wstring GetMsiProductVersion(MSIHANDLE installation)
{
    wchar_t empty[1] = L"";
    DWORD length = 0;
    if (MsiGetPropertyW(installation, L"ProductVersion", empty, &length) != ERROR_MORE_DATA)
        return L"NA";
    std::vector<wchar_t> value(length + 1);
    DWORD capacity = length + 1;
    if (MsiGetPropertyW(installation, L"ProductVersion", value.data(), &capacity) != ERROR_SUCCESS)
        return L"NA";
    return std::wstring(value.data(), capacity);
}

UINT PreInstall(MSIHANDLE installation)
{
    OpenLog();
    const std::wstring installed = GetInstalledServiceVersion();
    LogStep(L"PreInstall", L"TLM installed version: %s", installed.c_str());
    const std::wstring product = GetMsiProductVersion(installation);
    LogStep(L"PreInstall", L"TLM installer version: %s build: %d", product.c_str(), kInstallerBuild);
    return 0;
}

// ---- PostInstall ---------------------------------------------------------------------------------

void WriteLogConfiguration()
{
    CRegistry config(HKEY_LOCAL_MACHINE, L"System\\TLMLOGCFG");
    if (!config.Create())
        return;
    if (const std::optional<std::wstring> programFiles = ProgramFilesPath())
        config.SetString(L"LogFolder", *programFiles + L"\\Vostrel-Quinbar\\TLM\\Logs\\");
    config.SetDword(L"LogLevel", 2);
    config.SetDword(L"LogMaxSize", 0x4000000);
}

int IsServiceInstalled(const wchar_t *serviceName)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
        return 0;
    int installed = 0;
    if (SC_HANDLE service = OpenServiceW(manager, serviceName, SERVICE_QUERY_CONFIG)) {
        LogStep(L"IsServiceInstalled", L"%s is already installed.", serviceName);
        installed = 1;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return installed;
}

int InstallService(const wchar_t *serviceName, const wchar_t *relativeExecutable, const wchar_t *displayName,
                   const wchar_t *description)
{
    LogStep(L"InstallService", L"ServiceName: %s", serviceName);
    if (IsServiceInstalled(serviceName))
        return 1;

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        LogStep(L"InstallService", L"Failed to open SCM. Stopping service installation!");
        return 0;
    }
    const std::optional<std::wstring> programFiles = ProgramFilesPath();
    if (!programFiles) {
        LogStep(L"InstallService", L"Can't determine install location. Stopping service installation!");
        CloseServiceHandle(manager);
        return 0;
    }
    const std::wstring executable = *programFiles + relativeExecutable;
    // Quoted: the path holds blanks, and the service runs as LocalSystem.
    const std::wstring imagePath = L"\"" + executable + L"\"";
    LogStep(L"InstallService", L"Service file location: %s", executable.c_str());

    SC_HANDLE service = CreateServiceW(manager, serviceName, displayName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       imagePath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr) {
        LogStep(L"InstallService", L"Installation Failed! Can't create the service object.");
        CloseServiceHandle(manager);
        return 0;
    }

    SERVICE_DESCRIPTIONW describe{const_cast<wchar_t *>(description)};
    GetInstallerHooks().ChangeServiceConfig2(service, SERVICE_CONFIG_DESCRIPTION, &describe);
    SC_ACTION restarts[2] = {{SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = 0;
    failure.cActions = 2;
    failure.lpsaActions = restarts;
    GetInstallerHooks().ChangeServiceConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);

    Sleep(InstallerTimeouts::StartPauseMs);
    if (StartServiceW(service, 0, nullptr))
        LogStep(L"InstallService", L"%s is started!", displayName);
    else
        LogStep(L"InstallService", L"%s did not start. Error code: %d", displayName, static_cast<int>(GetLastError()));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 1;
}

void RewriteManifestFile(const std::wstring &manifestPath)
{
    // A missing manifest has no lines, and is written as an empty file. One that is there but
    // cannot be read whole stays as it is: writing what was read would cut it.
    const std::optional<std::string> manifest =
        FileExists(manifestPath) ? ReadWholeFile(manifestPath) : std::optional<std::string>(std::string());
    LogStep(L"PostInstall", L"Re-write manifest file.");
    if (!manifest)
        return;
    RewriteFileInPlace(manifestPath, RewriteManifest(*manifest, ToUtf8(manifestPath), ToUtf8(kEventSourceName),
                                                      "qzrtlm.exe"));
}

void InstallMessageDllIfNeeded(const wchar_t *libraryName)
{
    constexpr wchar_t kFunction[] = L"InstallMessageDllIfNeeded";
    const std::optional<std::wstring> systemRoot = SystemRootPath();
    const std::optional<std::wstring> programFiles = ProgramFilesPath();
    if (!systemRoot || !programFiles)
        return;
    const std::wstring destination = *systemRoot + L"\\System32\\" + libraryName;
    if (FileExists(destination)) {
        LogStep(kFunction, L"Message DLL already exits.");
        return;
    }
    // The package places the library in the product's eventmsg folder.
    const std::wstring source = *programFiles + kMessageLibraryFolder + libraryName;
    if (!FileExists(source)) {
        LogStep(kFunction, L"Can't find \"%s\"", source.c_str());
        return;
    }
    if (!CopyFileW(source.c_str(), destination.c_str(), TRUE)) {
        LogStep(kFunction, L"CopyFile failed. Error code: %d", static_cast<int>(GetLastError()));
        LogStep(kFunction, L"Src = \"%s\"", source.c_str());
        LogStep(kFunction, L"Dst = \"%s\"", destination.c_str());
    }
}

void DefineEventSourceIfNeeded(const wchar_t *sourceName, const wchar_t *libraryName)
{
    constexpr wchar_t kFunction[] = L"DefineEventSourceIfNeeded";
    const std::wstring key = std::wstring(L"CCS:\\services\\eventlog\\System\\") + sourceName;
    CRegistry source(key.c_str());
    if (source.Exists()) {
        LogStep(kFunction, L"Event source already defined.");
        return;
    }
    if (!source.Create()) {
        LogStep(kFunction, L"Can't create key for %s", sourceName);
        return;
    }
    const std::wstring messageFile = std::wstring(L"%ProgramFiles%") + kMessageLibraryFolder + libraryName;
    source.SetString(L"EventMessageFile", messageFile, REG_EXPAND_SZ);
    source.SetString(L"CategoryMessageFile", messageFile, REG_EXPAND_SZ);
    source.SetDword(L"CategoryCount", 16);
    source.SetDword(L"TypesSupported", 7);
}

void RemoveGuiOnServerCore()
{
    CRegistry levels(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Server\\ServerLevels");
    DWORD core = 0, guiManagement = 0, guiShell = 0;
    levels.GetDword(L"ServerCore", &core);
    levels.GetDword(L"Server-Gui-Mgmt", &guiManagement);
    levels.GetDword(L"Server-Gui-Shell", &guiShell);
    if (core != 1 || guiManagement != 0 || guiShell != 0)
        return;
    const std::optional<std::wstring> programFiles = ProgramFilesPath();
    const std::optional<std::wstring> systemRoot = SystemRootPath();
    if (!programFiles || !systemRoot)
        return;
    LogStep(L"PostInstall", L"Removing GUI CPL app. ");
    const std::wstring interpreter = *systemRoot + L"\\System32\\cmd.exe";
    const std::wstring command =
        L"\"" + interpreter + L"\" /c rmdir /S /Q \"" + *programFiles + L"\\Vostrel-Quinbar\\tlm\\cpl\"";
    GetInstallerHooks().RunCommand(interpreter, command);
}

UINT PostInstall(MSIHANDLE)
{
    OpenLog();
    WriteLogConfiguration();
    LogStep(L"PostInstall", L"Installing TLM service.");
    InstallService(kServiceName, kServiceExecutable, kServiceDisplayName, kServiceDescription);
    if (const std::optional<std::wstring> programFiles = ProgramFilesPath())
        RewriteManifestFile(*programFiles + kManifestPath);
    LogStep(L"PostInstall", L"Registering event DLL.");
    InstallMessageDllIfNeeded(kMessageLibrary);
    DefineEventSourceIfNeeded(kEventSourceName, kMessageLibrary);
    RemoveGuiOnServerCore();
    LogStep(L"PostInstall", L"Completed.");
    return 0;
}

}  // namespace tlmca
