#include "oxbsim_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

std::wstring Widen(const std::string &text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring ProgramFolder()
{
    wchar_t module[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module, length);
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

std::wstring Quoted(const std::wstring &text)
{
    return L"\"" + text + L"\"";
}

void CloseIfSet(HANDLE *handle)
{
    if (*handle != nullptr)
        CloseHandle(*handle);
    *handle = nullptr;
}

} // namespace

std::string SimRecord::Get(const std::string &key) const
{
    auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
}

uint64_t SimRecord::Number(const std::string &key, uint64_t fallback) const
{
    std::string text = Get(key);
    if (text.empty())
        return fallback;
    char *end = nullptr;
    uint64_t value = std::strtoull(text.c_str(), &end, 0);
    return end != nullptr && *end == '\0' ? value : fallback;
}

std::wstring OxbSim::UniqueName(const char *tag)
{
    static std::atomic<unsigned> counter{0};
    return L"oxbsim-" + Widen(tag) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter);
}

OxbSim::~OxbSim()
{
    if (Running())
        Stop();
    CloseIfSet(&m_Process);
    CloseIfSet(&m_Ready);
    CloseIfSet(&m_StopEvent);
    if (!m_RecordPath.empty())
        DeleteFileW(m_RecordPath.c_str());
}

bool OxbSim::Start(const std::vector<std::string> &directives)
{
    if (Running())
        return false;
    CloseIfSet(&m_Process);
    CloseIfSet(&m_Ready);
    CloseIfSet(&m_StopEvent);

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    m_RecordPath = std::wstring(temp) + m_Name + L".record.txt";
    std::wstring readyName = L"Local\\" + m_Name + L".ready";
    std::wstring stopName = L"Local\\" + m_Name + L".stop";
    m_Ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    m_StopEvent = CreateEventW(nullptr, TRUE, FALSE, stopName.c_str());
    if (m_Ready == nullptr || m_StopEvent == nullptr)
        return false;
    ResetEvent(m_Ready);
    ResetEvent(m_StopEvent);

    std::wstring program = ProgramFolder() + L"\\oxbsim.exe";
    std::wstring command = Quoted(program) + L" --name " + m_Name + L" --record " + Quoted(m_RecordPath) +
                           L" --ready-event " + readyName + L" --stop-event " + stopName;
    for (const std::string &directive : directives)
        command += L" --do " + Quoted(Widen(directive));

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        fprintf(stderr, "oxbsim %ls: CreateProcess failed with error %lu\n", m_Name.c_str(), GetLastError());
        return false;
    }
    CloseHandle(process.hThread);
    m_Process = process.hProcess;

    // Why a start failed is said on the spot: a test only sees false.
    HANDLE waits[2] = {m_Ready, m_Process};
    const DWORD waited = WaitForMultipleObjects(2, waits, FALSE, kStartWaitMs);
    if (waited == WAIT_OBJECT_0)
        return true;
    DWORD code = 0;
    if (waited == WAIT_OBJECT_0 + 1 && GetExitCodeProcess(m_Process, &code))
        fprintf(stderr, "oxbsim %ls: ended with code %lu before it was ready\n", m_Name.c_str(), code);
    else
        fprintf(stderr, "oxbsim %ls: not ready (wait result %lu, error %lu)\n", m_Name.c_str(), waited,
                GetLastError());
    return false;
}

bool OxbSim::Stop()
{
    if (!Running())
        return false;
    SetEvent(m_StopEvent);
    if (WaitForSingleObject(m_Process, 20000) == WAIT_OBJECT_0)
        return true;
    Kill();
    return false;
}

void OxbSim::Kill()
{
    if (!Running())
        return;
    TerminateProcess(m_Process, 9);
    WaitForSingleObject(m_Process, 20000);
}

bool OxbSim::Running() const
{
    return m_Process != nullptr && WaitForSingleObject(m_Process, 0) == WAIT_TIMEOUT;
}

DWORD OxbSim::WaitForExit(DWORD timeoutMs)
{
    if (m_Process == nullptr || WaitForSingleObject(m_Process, timeoutMs) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_Process, &code);
    return code;
}

std::vector<SimRecord> OxbSim::Records() const
{
    std::vector<SimRecord> records;
    HANDLE file = CreateFileW(m_RecordPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    // The simulator creates its record before it serves, so a record that cannot be read is a
    // fault of the run; returning no lines would let every "nothing was recorded" check pass.
    if (file == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "the simulator's record file cannot be opened (error " << GetLastError() << ")";
        return records;
    }
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read != 0)
        text.append(chunk, read);
    CloseHandle(file);

    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        SimRecord record;
        if (!(words >> record.verb))
            continue;
        std::string word;
        while (words >> word) {
            size_t equals = word.find('=');
            if (equals != std::string::npos)
                record.fields[word.substr(0, equals)] = word.substr(equals + 1);
        }
        records.push_back(record);
    }
    return records;
}

std::vector<SimRecord> OxbSim::Records(const std::string &verb) const
{
    std::vector<SimRecord> matching;
    for (const SimRecord &record : Records())
        if (record.verb == verb)
            matching.push_back(record);
    return matching;
}

bool OxbSim::WaitForRecords(const std::string &verb, size_t count, DWORD timeoutMs) const
{
    ULONGLONG start = GetTickCount64();
    for (;;) {
        if (Records(verb).size() >= count)
            return true;
        if (GetTickCount64() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
}
