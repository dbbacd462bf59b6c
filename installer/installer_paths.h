#pragma once
// Paths, names and waits the installer actions share.

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>

namespace tlmca {

constexpr wchar_t kServiceName[] = L"qzrtlm";
constexpr wchar_t kServiceDisplayName[] = L"NDX Tessaron Velmarine Management Service";
constexpr wchar_t kServiceDescription[] =
    L"Provides oXB with OS-level Velmarine Management information and Kelbwyn System events.";
constexpr wchar_t kServiceExecutable[] = L"\\Vostrel-Quinbar\\TLM\\Service\\qzrtlm.exe";
constexpr wchar_t kEventSourceName[] = L"NDX Velmarine Management Service";
constexpr wchar_t kMessageLibrary[] = L"EventLogMessages.dll";
constexpr wchar_t kManifestPath[] = L"\\Vostrel-Quinbar\\TLM\\Service\\qzrtlmevents.man";
// Where the package puts the message library; the event source and the System32 copy use it.
constexpr wchar_t kMessageLibraryFolder[] = L"\\Vostrel-Quinbar\\TLM\\eventmsg\\";
constexpr wchar_t kServiceKey[] = L"System\\CurrentControlSet\\Services\\ndxtlm";
constexpr int kInstallerBuild = 25;

// Waits of the actions. Tests shorten them.
struct InstallerTimeouts {
    // Between creating the service and starting it.
    static inline std::atomic<DWORD> StartPauseMs{5000};
    // How long a stop may take before the service is deleted anyway; a larger wait hint raises it,
    // up to StopHintCapMs.
    static inline std::atomic<DWORD> StopLimitMs{30000};
    static inline std::atomic<DWORD> StopHintCapMs{120000};
    static inline std::atomic<DWORD> StopPollMs{1000};
    // Attempts and pause of the deletion of a registry tree that is still there.
    static inline std::atomic<DWORD> TreeAttempts{120};
    static inline std::atomic<DWORD> TreePauseMs{1000};
};

// %ProgramFiles% expanded, or nothing when it does not expand.
std::optional<std::wstring> ProgramFilesPath();
// %SystemRoot% expanded, or nothing.
std::optional<std::wstring> SystemRootPath();

// What the actions ask of the machine that the tests replace: whether the management processor's
// channel device opens, the commands run through the command interpreter, and the service
// configuration that Wine's service control manager does not keep. The shipped library uses the
// real calls; only a test installs other hooks.
struct InstallerHooks {
    bool (*IsDevicePresent)(const wchar_t *deviceName) = nullptr;
    // Runs a program given by its absolute path with a command line; returns its exit code, or -1
    // when it does not start or does not end in time.
    int (*RunCommand)(const std::wstring &application, const std::wstring &commandLine) = nullptr;
    // Stands for ChangeServiceConfig2W; returns its result.
    BOOL (*ChangeServiceConfig2)(SC_HANDLE service, DWORD infoLevel, void *info) = nullptr;
};
InstallerHooks &GetInstallerHooks();
void SetInstallerHooksForTest(const InstallerHooks &hooks);  // null members: the real call

}  // namespace tlmca
