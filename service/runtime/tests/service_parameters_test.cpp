#include "service_parameters.h"

#include "common_log.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <thread>
#include <vector>

namespace {

struct RegValue {
    DWORD type;
    std::vector<BYTE> data;
};

RegValue Dword(DWORD value)
{
    std::vector<BYTE> data(4);
    memcpy(data.data(), &value, 4);
    return {REG_DWORD, data};
}

class ParametersKey {
public:
    ParametersKey()
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kServiceParametersKey);
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kServiceParametersKey, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &m_Key, nullptr));
    }
    ~ParametersKey()
    {
        RegCloseKey(m_Key);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kServiceParametersKey);
    }
    void Set(const wchar_t *name, const RegValue &value)
    {
        EXPECT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(m_Key, name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size())));
    }
    void Clear(const wchar_t *name) { RegDeleteValueW(m_Key, name); }

private:
    HKEY m_Key = nullptr;
};

std::vector<SERVICE_SWITCH> Switches()
{
    size_t count = 0;
    const SERVICE_SWITCH *switches = ServiceSwitches(&count);
    return std::vector<SERVICE_SWITCH>(switches, switches + count);
}

std::string Narrow(const wchar_t *text)
{
    return std::string(text, text + wcslen(text));
}

TEST(ServiceParametersTest, EverySwitchHasItsOwnValue)
{
    const auto switches = Switches();
    ASSERT_EQ(19u, switches.size());
    ParametersKey key;
    for (const auto &turnedOff : switches) {
        SCOPED_TRACE(Narrow(turnedOff.Name));
        key.Set(turnedOff.Name, Dword(0));
        ReadServiceParameters();
        for (const auto &entry : switches)
            EXPECT_EQ(&entry == &turnedOff ? 0 : 1, s_ServiceParameters.*entry.Field) << Narrow(entry.Name);
        key.Clear(turnedOff.Name);
    }
}

TEST(ServiceParametersTest, SwitchValuesAndMalformedOnes)
{
    struct {
        const char *what;
        bool present;
        RegValue value;
        int expected;
    } cases[] = {
        {"missing", false, {}, 1},
        {"zero", true, Dword(0), 0},
        {"one", true, Dword(1), 1},
        {"any nonzero", true, Dword(0x80000000), 1},
        {"string zero", true, {REG_SZ, {'0', 0, 0, 0}}, 1},
        {"four binary zeros", true, {REG_BINARY, {0, 0, 0, 0}}, 1},
        {"two-byte dword", true, {REG_DWORD, {0, 0}}, 1},
        {"eight-byte dword", true, {REG_DWORD, {0, 0, 0, 0, 0, 0, 0, 0}}, 1},
        {"qword zero", true, {REG_QWORD, {0, 0, 0, 0, 0, 0, 0, 0}}, 1},
    };
    ParametersKey key;
    const auto switches = Switches();
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        for (const auto &entry : switches) {
            if (test.present)
                key.Set(entry.Name, test.value);
            else
                key.Clear(entry.Name);
        }
        ReadServiceParameters();
        for (const auto &entry : switches)
            EXPECT_EQ(test.expected, s_ServiceParameters.*entry.Field) << Narrow(entry.Name);
    }
}

TEST(ServiceParametersTest, PollIntervalBounds)
{
    struct {
        bool present;
        RegValue value;
        int expected;
    } cases[] = {
        {false, {}, 3600},
        {true, Dword(5), 3600},
        {true, Dword(9), 3600},
        {true, Dword(10), 10},
        {true, Dword(600), 600},
        {true, Dword(3600), 3600},
        {true, Dword(3601), 3600},
        {true, Dword(4000), 3600},
        {true, Dword(0xFFFFFFF6), 3600}, // -10 as a signed number
        {true, {REG_SZ, {'6', 0, '0', 0, 0, 0}}, 3600},
    };
    ParametersKey key;
    for (const auto &test : cases) {
        if (test.present)
            key.Set(L"PollInterval", test.value);
        else
            key.Clear(L"PollInterval");
        ReadServiceParameters();
        EXPECT_EQ(test.expected, s_ServiceParameters.PollInterval);
    }
}

TEST(ServiceParametersTest, ReadingAgainStartsFromTheDefaults)
{
    ParametersKey key;
    key.Set(L"EnableTraps", Dword(0));
    key.Set(L"PollInterval", Dword(60));
    ReadServiceParameters();
    EXPECT_EQ(0, s_ServiceParameters.EnableTraps);
    EXPECT_EQ(60, s_ServiceParameters.PollInterval);
    key.Clear(L"EnableTraps");
    key.Clear(L"PollInterval");
    ReadServiceParameters();
    EXPECT_EQ(1, s_ServiceParameters.EnableTraps);
    EXPECT_EQ(3600, s_ServiceParameters.PollInterval);
}

TEST(ServiceParametersTest, ReadingStartsTheServiceLog)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"tlm-parameters-log\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    HKEY config = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"System\\TLMLOGCFG", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &config, nullptr));
    RegSetValueExW(config, L"LogFolder", 0, REG_SZ, reinterpret_cast<const BYTE *>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(config);

    ParametersKey key; // empty: every default
    ReadServiceParameters();
    EXPECT_TRUE(s_CommonLog.IsInitialized());
    EXPECT_EQ(L"TLM", s_CommonLog.GetLogName());
    EXPECT_EQ(L"TLM service", s_CommonLog.GetModuleName());
    EXPECT_EQ(folder + L"TLM", s_CommonLog.GetBasePath());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + L"TLM.log").c_str()));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"System\\TLMLOGCFG");
}

// --- COM and privileges --------------------------------------------------------------------------------

TEST(StartupHelpersTest, InitComSucceedsOnEveryMultithreadedThread)
{
    int first = 0, second = 0;
    std::thread([&] {
        first = InitCom();
        UninitCom();
    }).join();
    // The process's security is set by now; a later thread still succeeds.
    std::thread([&] {
        second = InitCom();
        UninitCom();
    }).join();
    EXPECT_EQ(1, first);
    EXPECT_EQ(1, second);
}

TEST(StartupHelpersTest, InitComFailsOnASingleThreadedApartment)
{
    int result = -1;
    std::thread([&] {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        result = InitCom();
        CoUninitialize();
    }).join();
    EXPECT_EQ(0, result);
}

bool PrivilegeEnabled(const wchar_t *name)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    LUID luid;
    LookupPrivilegeValueW(nullptr, name, &luid);
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    bool enabled = false;
    if (GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
        auto *privileges = reinterpret_cast<TOKEN_PRIVILEGES *>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
            if (privileges->Privileges[i].Luid.LowPart == luid.LowPart &&
                privileges->Privileges[i].Luid.HighPart == luid.HighPart)
                enabled = (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    CloseHandle(token);
    return enabled;
}

TEST(StartupHelpersTest, SetPrivilegeEnablesAndDisablesAHeldPrivilege)
{
    ASSERT_EQ(1, SetPrivilege(SE_DEBUG_NAME, 1));
    EXPECT_TRUE(PrivilegeEnabled(SE_DEBUG_NAME));
    ASSERT_EQ(1, SetPrivilege(SE_DEBUG_NAME, 0));
    EXPECT_FALSE(PrivilegeEnabled(SE_DEBUG_NAME));
    EXPECT_EQ(1, SetPrivilege(SE_DEBUG_NAME, 1));
}

TEST(StartupHelpersTest, SetPrivilegeReportsWhatTheTokenDoesNotHold)
{
    // Not given to an administrator's token; the adjustment "succeeds" without assigning it.
    EXPECT_EQ(0, SetPrivilege(SE_CREATE_TOKEN_NAME, 1));
    EXPECT_FALSE(PrivilegeEnabled(SE_CREATE_TOKEN_NAME));
    EXPECT_EQ(0, SetPrivilege(L"SeNoSuchPrivilege", 1));
}

} // namespace
