// With the service control manager gone, no legacy agent counts as running and every entry is
// written. The manager of this test program's own Wine prefix is ended for it, so this test runs
// in a program of its own.
#include "event_sink_recorder.h"
#include "kdl_intake.h"
#include "test_support.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

using namespace kdltest;

namespace {

// Ends every process of the prefix with that image name; true when one was ended.
bool EndProcesses(const wchar_t *imageName)
{
    bool ended = false;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W process = {};
    process.dwSize = sizeof process;
    for (BOOL more = Process32FirstW(snapshot, &process); more; more = Process32NextW(snapshot, &process)) {
        if (_wcsicmp(process.szExeFile, imageName) != 0)
            continue;
        HANDLE handle = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process.th32ProcessID);
        if (handle == nullptr)
            continue;
        if (TerminateProcess(handle, 1) && WaitForSingleObject(handle, 10000) == WAIT_OBJECT_0)
            ended = true;
        CloseHandle(handle);
    }
    CloseHandle(snapshot);
    return ended;
}

TEST(ServiceControlManagerDown, EveryEntryIsWritten)
{
    StartTextLog();
    // The agents run, and their events are left to them, until the manager goes away.
    FakeServices services;
    for (const wchar_t *name : kLegacyAgentServices) {
        ASSERT_TRUE(services.Create(name));
        ASSERT_TRUE(services.Start(name));
    }
    std::vector<uint8_t> first = Packet({.eventClass = 0});
    eventsink::ClearRecordedEvents();
    ProcessKdlEvent(first.data(), first.size());
    ASSERT_TRUE(eventsink::RecordedEvents().empty());

    ASSERT_TRUE(EndProcesses(L"services.exe"));
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    DWORD error = GetLastError();
    ASSERT_EQ(manager, nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));

    for (const wchar_t *name : kLegacyAgentServices)
        EXPECT_FALSE(IsServiceRunning(name));
    std::vector<uint8_t> packet = Packet({.number = 5, .eventClass = 1});
    ProcessKdlEvent(packet.data(), packet.size());
    std::vector<eventsink::Event> events = eventsink::RecordedEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].strings, (std::vector<std::wstring>{L"5", L"1", L"0", L"Reserved"}));

    // Agents that outlived their manager would keep the prefix busy; nobody else stops them now.
    EndProcesses(L"kdl_fake_service.exe");
}

} // namespace
