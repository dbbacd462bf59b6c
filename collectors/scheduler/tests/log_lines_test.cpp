// The scheduler's lines in the text log.
#include "scheduler_fixture.h"

#include "common_log.h"

#include <string>
#include <vector>

using namespace schedtest;

namespace {

constexpr wchar_t kLogConfigKey[] = L"System\\TLMLOGCFG";

// A log folder of the test's own, configured at the Verbose level.
std::wstring ConfigureLog()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"scheduler-log\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    DeleteFileW((folder + L"TLM.log").c_str());
    CRegistry config(HKEY_LOCAL_MACHINE, kLogConfigKey);
    EXPECT_TRUE(config.SetString(L"LogFolder", folder));
    EXPECT_TRUE(config.SetDword(L"LogLevel", CCommonLog::kVerbose));
    EXPECT_TRUE(config.SetDword(L"LogMaxSize", 0x100000));
    return folder + L"TLM.log";
}

// The messages of the lines written under the function name, in order.
std::vector<std::wstring> MessagesOf(const std::wstring &path, const std::wstring &function)
{
    std::vector<std::wstring> messages;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    if (file == INVALID_HANDLE_VALUE)
        return messages;
    std::wstring text(GetFileSize(file, nullptr) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
    CloseHandle(file);

    const std::wstring marker = L"|" + function + L"|, ";
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring line = text.substr(start, end - start);
        if (const size_t at = line.find(marker); at != std::wstring::npos)
            messages.push_back(line.substr(at + marker.size()));
        start = end + 2;
    }
    return messages;
}

TEST_F(SchedulerTest, LogLinesOfACycleAndOfAStop)
{
    const std::wstring path = ConfigureLog();
    ASSERT_EQ(0, s_CommonLog.LogInit(L"TLM", L"TLM service"));

    // An event name in a namespace that does not exist cannot be made.
    const wchar_t badEvent[] = L"NoSuchNamespace\\Evt_Test";
    ASSERT_EQ(nullptr, CreateEventW(nullptr, FALSE, FALSE, badEvent));
    const DWORD expectedError = GetLastError();

    TestCollector host(L"ZDTHOST", 11);
    TestCollector nic(L"ZDTNIC", 18);
    UseCollectors({&host, &nic});
    TriggerCollectionWithEvent(L"ZDTNIC", 0, badEvent);
    RunCycles(
        2, [&](int cycle) { clock.now += (cycle == 2 ? 1000 : 0) * kSecond; },
        [&](int cycle, int pause) {
            if (cycle == 2 && pause == 2)
                RequestStop();
        });

    const std::vector<std::wstring> expected = {
        L"Collection end 0",
        L"Collection end 1",
        L"DataCollectionThread: Error to send event to oxb, (error " + std::to_wstring(expectedError) + L")",
        L"DataCollectionThread: Poll cycle complete",
        L"Receive stop #2 (idx=0, dwReason=0, bStop=1)",
        L"Receive stop #3 (dwReason=0, bStop=1)",
    };
    EXPECT_EQ(expected, MessagesOf(path, L"DataCollectionThread"));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLogConfigKey);
}

} // namespace
