#include "installer_paths.h"

#include <vector>

namespace tlmca {

namespace {

std::optional<std::wstring> Expand(const wchar_t *text)
{
    // Measured first, so that no length of the variable is cut or refused.
    const DWORD needed = ExpandEnvironmentStringsW(text, nullptr, 0);
    if (needed == 0)
        return std::nullopt;
    std::vector<wchar_t> buffer(needed + 1);
    const DWORD written = ExpandEnvironmentStringsW(text, buffer.data(), needed + 1);
    if (written == 0 || written > needed + 1)
        return std::nullopt;
    std::wstring value(buffer.data());
    // An unknown variable stays as written: that is no expansion.
    if (value == text)
        return std::nullopt;
    return value;
}

bool RealIsDevicePresent(const wchar_t *deviceName)
{
    const std::wstring path = std::wstring(L"\\\\.\\Global\\") + deviceName;
    HANDLE device = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(device);
    return true;
}

int RealRunCommand(const std::wstring &application, const std::wstring &commandLine)
{
    // The program is named by its absolute path, never found through a search path.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    int result = -1;
    // A command that hangs must not hold the installation for ever.
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code))
            result = static_cast<int>(code);
    }
    CloseHandle(process.hProcess);
    return result;
}

BOOL RealChangeServiceConfig2(SC_HANDLE service, DWORD infoLevel, void *info)
{
    return ChangeServiceConfig2W(service, infoLevel, info);
}

InstallerHooks s_Hooks{&RealIsDevicePresent, &RealRunCommand, &RealChangeServiceConfig2};

}  // namespace

std::optional<std::wstring> ProgramFilesPath()
{
    return Expand(L"%ProgramFiles%");
}

std::optional<std::wstring> SystemRootPath()
{
    return Expand(L"%SystemRoot%");
}

InstallerHooks &GetInstallerHooks()
{
    return s_Hooks;
}

void SetInstallerHooksForTest(const InstallerHooks &hooks)
{
    s_Hooks.IsDevicePresent = hooks.IsDevicePresent != nullptr ? hooks.IsDevicePresent : &RealIsDevicePresent;
    s_Hooks.RunCommand = hooks.RunCommand != nullptr ? hooks.RunCommand : &RealRunCommand;
    s_Hooks.ChangeServiceConfig2 =
        hooks.ChangeServiceConfig2 != nullptr ? hooks.ChangeServiceConfig2 : &RealChangeServiceConfig2;
}

}  // namespace tlmca
