// The library as the service loads it: a loader thread loads the DLL, calls ordinal 3 and frees
// the library when it returns, while the test plays the service's handshake. netvarix_lifecycle.dll
// is the library with the fixture generation, its host read from the description file that
// NIC_FIXTURE_HOST names; netvarix.dll is the product.
#include "nic_service_side.h"
#include "nic_test_support.h"

#include "nic_records.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace nictest;

namespace {

constexpr wchar_t kTimeoutKey[] = L"SYSTEM\\CurrentControlSet\\Services\\ZDTNicMgmt\\ZDTNICS";
constexpr wchar_t kParametersKey[] = L"SYSTEM\\CurrentControlSet\\services\\ndxtlm\\Parameters";
// The service's waits, shortened; a Done or an acknowledgement that needs them is a failure.
constexpr NicHandshakeTimeouts kShort = {30000, 30000, 30000};

const wchar_t *const kProtocolEvents[] = {kNicInitEvent,    kNicInitDoneEvent, kNicStopEvent,
                                          kNicStopAckEvent, kNicScmEvent,      kNicCmdDoneEvent,
                                          kNicTerminateThreadEvent};

std::wstring BesideTheTest(const wchar_t *file)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + file;
}

class NicLifecycleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_LogPath = ConfigureVerboseLog(L"nic-lifecycle-log"); }

    void SetUp() override
    {
        DeleteTree(kTimeoutKey);
        DeleteTree(kParametersKey);
        DeleteTree(kNicRootKey);
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        m_HostPath = std::wstring(temp) + L"nic-lifecycle-host.txt";
        SetEnvironmentVariableW(L"NIC_FIXTURE_HOST", m_HostPath.c_str());
        m_Stamp = 0;
    }
    void TearDown() override
    {
        DeleteTree(kTimeoutKey);
        DeleteTree(kNicRootKey);
        DeleteFileW(m_HostPath.c_str());
    }

    // Writes the host description, each version with a later time stamp.
    void WriteHost(const std::string &text)
    {
        {
            std::ofstream out(std::string(m_HostPath.begin(), m_HostPath.end()), std::ios::binary | std::ios::trunc);
            out << text;
        }
        HANDLE file = CreateFileW(m_HostPath.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER stamp = {{now.dwLowDateTime, now.dwHighDateTime}};
        stamp.QuadPart += 10000000ull * ++m_Stamp;
        FILETIME written = {stamp.LowPart, stamp.HighPart};
        SetFileTime(file, nullptr, nullptr, &written);
        CloseHandle(file);
    }

    static void ExpectNoProtocolEvent()
    {
        for (const wchar_t *name : kProtocolEvents) {
            HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, name);
            EXPECT_EQ(nullptr, event) << "still exists: " << std::string(name, name + wcslen(name));
            if (event != nullptr)
                CloseHandle(event);
        }
    }

    static std::wstring s_LogPath;
    std::wstring m_HostPath;
    int m_Stamp = 0;
};
std::wstring NicLifecycleTest::s_LogPath;

TEST_F(NicLifecycleTest, OneLoadCollectsStopsReturnsAndLeavesNothingBehind)
{
    WriteHost("generation init=0\n");
    {
        NicServiceSide service(kShort);
        ASSERT_TRUE(service.StartLibrary(BesideTheTest(L"netvarix_lifecycle.dll")));
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect());
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect());
        NicServiceSide::StopResult stop = service.Stop();
        EXPECT_TRUE(stop.acknowledged);
        EXPECT_TRUE(stop.returned);
        EXPECT_FALSE(stop.terminated);
        EXPECT_EQ(0, service.EntryResult());
    }
    EXPECT_EQ(nullptr, GetModuleHandleW(L"netvarix_lifecycle.dll"));
    ExpectNoProtocolEvent();
    // The records of the last generation stay for the service.
    DWORD ready = 0;
    EXPECT_TRUE(GetDword(kNicInterfaceKey, kNicInterfaceDataReadyName, &ready));
    EXPECT_EQ(1u, ready);

    EXPECT_LE(1u, CountOf(LogMessages(s_LogPath, L"CCommonLog::LogInit"),
                          L"A logging interface is initialized (Module=\"NETVARDL\" Level=Verbose size=16777216)"));
    std::vector<std::wstring> main = LogMessages(s_LogPath, L"Win2KMain");
    ASSERT_GE(main.size(), 3u);
    EXPECT_EQ(L"Starting network agents service.", main[0]);
    EXPECT_EQ(L"NIC service started!", main.back());
}

// Run by the test below in a child process whose standard input is an open, empty pipe: a
// library that read its input would hold the loader thread for good.
TEST_F(NicLifecycleTest, DISABLED_TwentyCyclesChild)
{
    ASSERT_EQ(static_cast<DWORD>(FILE_TYPE_PIPE), GetFileType(GetStdHandle(STD_INPUT_HANDLE)));
    WriteHost("generation init=0 pass_ms=5\n");
    for (int cycle = 0; cycle < 20; ++cycle) {
        NicServiceSide service(kShort);
        ASSERT_TRUE(service.StartLibrary(BesideTheTest(L"netvarix_lifecycle.dll"))) << cycle;
        ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect()) << cycle;
        NicServiceSide::StopResult stop = service.Stop();
        ASSERT_TRUE(stop.acknowledged) << cycle;
        ASSERT_TRUE(stop.returned) << cycle;
    }
    EXPECT_EQ(nullptr, GetModuleHandleW(L"netvarix_lifecycle.dll"));
    ExpectNoProtocolEvent();
}

TEST_F(NicLifecycleTest, TwentyCyclesWithAnOpenEmptyStandardInput)
{
    // The child's suite starts the log afresh; so does this side, so that what earlier tests of
    // this process logged is gone either way.
    ConfigureVerboseLog(L"nic-lifecycle-log");
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, &inherit, 0));
    SetHandleInformation(write, HANDLE_FLAG_INHERIT, 0);
    const std::wstring program = BesideTheTest(L"nic_lifecycle_test.exe");
    std::wstring command = L"\"" + program +
                           L"\" --gtest_also_run_disabled_tests --gtest_filter=NicLifecycleTest.DISABLED_TwentyCyclesChild";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = read;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                               &child));
    CloseHandle(read);
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(child.hProcess, 120000));
    DWORD exitCode = 1;
    GetExitCodeProcess(child.hProcess, &exitCode);
    EXPECT_EQ(0u, exitCode);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    CloseHandle(write); // held open until the child is done: its input never ends
    // The child ran its twenty cycles (a filter that matched nothing would pass without any).
    EXPECT_EQ(20u, CountOf(LogMessages(s_LogPath, L"Win2KMain"), L"NIC service started!"));
}

TEST_F(NicLifecycleTest, PausedFiftyRoundTripsEachAnsweredAndReady)
{
    SetDword(kTimeoutKey, L"Timeout", 0xFFFFFFFF);
    WriteHost("generation init=0\n");
    NicServiceSide service(kShort);
    ASSERT_TRUE(service.StartLibrary(BesideTheTest(L"netvarix_lifecycle.dll")));
    for (int trip = 0; trip < 50; ++trip) {
        // The service's registration marks the records as being rewritten; a paused library
        // marks them ready again at its next turn.
        service.MarkNotReady();
        ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect()) << trip;
        DWORD ready = 0;
        ASSERT_TRUE(GetDword(kNicInterfaceKey, kNicInterfaceDataReadyName, &ready)) << trip;
        ASSERT_EQ(1u, ready) << trip;
    }
    NicServiceSide::StopResult stop = service.Stop();
    EXPECT_TRUE(stop.acknowledged);
    EXPECT_TRUE(stop.returned);
}

TEST_F(NicLifecycleTest, InitFailingForEverStillAnswersEveryTurnAndTheStop)
{
    WriteHost("generation repeat=87\ntimings retries=1\n");
    NicServiceSide service(kShort);
    ASSERT_TRUE(service.StartLibrary(BesideTheTest(L"netvarix_lifecycle.dll")));
    for (int turn = 0; turn < 6; ++turn)
        ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect()) << turn;
    EXPECT_FALSE(service.MarkNotReady()); // no generation ever made the records key
    NicServiceSide::StopResult stop = service.Stop();
    EXPECT_TRUE(stop.acknowledged);
    EXPECT_TRUE(stop.returned);
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"DataCollectionThread"), L"Init failed after 2 retries"));
}

TEST_F(NicLifecycleTest, AChangedDescriptionIsReadAgain)
{
    WriteHost("generation repeat=87\n");
    NicServiceSide service(kShort);
    ASSERT_TRUE(service.StartLibrary(BesideTheTest(L"netvarix_lifecycle.dll")));
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect());
    DWORD status = 0;
    EXPECT_FALSE(GetDword(kNicInterfaceKey, kNicStatusValue, &status));
    WriteHost("generation repeat=0\n");
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), service.Collect());
    EXPECT_TRUE(GetDword(kNicInterfaceKey, kNicStatusValue, &status));
    EXPECT_EQ(1u, status);
    EXPECT_TRUE(service.Stop().returned);
}

TEST_F(NicLifecycleTest, ReportStubsShareOneAddressAndDoNothing)
{
    HMODULE library = LoadLibraryW(BesideTheTest(L"netvarix.dll").c_str());
    ASSERT_NE(nullptr, library);
    using Report = int (*)(int, const void *, int);
    FARPROC first = GetProcAddress(library, MAKEINTRESOURCEA(1));
    FARPROC second = GetProcAddress(library, MAKEINTRESOURCEA(2));
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, GetProcAddress(library, "ZdtNicMgmtReportError"));
    EXPECT_EQ(second, GetProcAddress(library, "ZdtNicMgmtReportErrorDebug"));
    EXPECT_EQ(GetProcAddress(library, MAKEINTRESOURCEA(3)), GetProcAddress(library, "Win2KMain"));
    EXPECT_EQ(1, reinterpret_cast<Report>(reinterpret_cast<void *>(first))(0x44350127, "text", 5));
    // Loading made no event and no thread of the library's.
    ExpectNoProtocolEvent();
    FreeLibrary(library);
}

} // namespace
