#include "service_parameters.h"

#include "common_log.h"
#include "registry.h"

#include <objbase.h>

SERVICE_PARAMETERS s_ServiceParameters;

namespace {

const SERVICE_SWITCH kSwitches[] = {
    {L"EnableDataCollection", &SERVICE_PARAMETERS::EnableDataCollection},
    {L"EnableBlackbox", &SERVICE_PARAMETERS::EnableBlackbox},
    {L"EnableAgentX", &SERVICE_PARAMETERS::EnableAgentX},
    {L"EnableTraps", &SERVICE_PARAMETERS::EnableTraps},
    {L"EnableUtilization", &SERVICE_PARAMETERS::EnableUtilization},
    {L"EnableDeviceWatcher", &SERVICE_PARAMETERS::EnableDeviceWatcher},
    {L"EnableNetworkWatcher", &SERVICE_PARAMETERS::EnableNetworkWatcher},
    {L"EnableEventLogWatcher", &SERVICE_PARAMETERS::EnableEventLogWatcher},
    {L"EnableMIB2", &SERVICE_PARAMETERS::EnableMIB2},
    {L"EnableZDTHOST", &SERVICE_PARAMETERS::EnableZDTHOST},
    {L"EnableZDTIDE", &SERVICE_PARAMETERS::EnableZDTIDE},
    {L"EnableZDTNIC", &SERVICE_PARAMETERS::EnableZDTNIC},
    {L"EnableZDTSAS", &SERVICE_PARAMETERS::EnableZDTSAS},
    {L"EnableZDTSTDEQ", &SERVICE_PARAMETERS::EnableZDTSTDEQ},
    {L"EnableZDTFCA", &SERVICE_PARAMETERS::EnableZDTFCA},
    {L"EnableZDTWINOSMGMT", &SERVICE_PARAMETERS::EnableZDTWINOSMGMT},
    {L"EnableZDTISCSI", &SERVICE_PARAMETERS::EnableZDTISCSI},
    {L"EnableScomMgmtPack", &SERVICE_PARAMETERS::EnableScomMgmtPack},
    {L"EnableLLDP", &SERVICE_PARAMETERS::EnableLLDP},
};

class TokenHolder {
public:
    TokenHolder() = default;
    TokenHolder(const TokenHolder &) = delete;
    TokenHolder &operator=(const TokenHolder &) = delete;
    ~TokenHolder()
    {
        if (m_Token != nullptr)
            CloseHandle(m_Token);
    }
    HANDLE *Slot() { return &m_Token; }
    HANDLE Get() const { return m_Token; }

private:
    HANDLE m_Token = nullptr;
};

} // namespace

const SERVICE_SWITCH *ServiceSwitches(size_t *count)
{
    *count = sizeof(kSwitches) / sizeof(kSwitches[0]);
    return kSwitches;
}

void ReadServiceParameters()
{
    SERVICE_PARAMETERS parameters;
    CRegistry key(HKEY_LOCAL_MACHINE, kServiceParametersKey, KEY_READ);
    for (const auto &entry : kSwitches) {
        DWORD value = 0;
        if (key.GetDword(entry.Name, &value))
            parameters.*entry.Field = value != 0 ? 1 : 0;
    }
    DWORD interval = 0;
    if (key.GetDword(L"PollInterval", &interval) && interval >= kMinimumPollInterval &&
        interval <= kMaximumPollInterval)
        parameters.PollInterval = static_cast<int>(interval);
    key.Close();

    s_ServiceParameters = parameters;
    s_CommonLog.LogInit(L"TLM", L"TLM service");
}

int InitCom()
{
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (result != S_OK && result != S_FALSE)
        return 0;
    result = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                                  nullptr, EOAC_NONE, nullptr);
    return result == S_OK || result == RPC_E_TOO_LATE;
}

void UninitCom()
{
    CoUninitialize();
}

int SetPrivilege(const wchar_t *privilege, int enable)
{
    TokenHolder token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Slot()))
        return 0;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    if (!LookupPrivilegeValueW(nullptr, privilege, &privileges.Privileges[0].Luid))
        return 0;
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    if (!AdjustTokenPrivileges(token.Get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr))
        return 0;
    // The call succeeds also for a privilege the token does not hold; only then is this set.
    return GetLastError() == ERROR_NOT_ALL_ASSIGNED ? 0 : 1;
}
