#include "test_support.h"

#include "common_log.h"
#include "registry.h"


namespace kdltest {

std::vector<uint8_t> Packet(const EntryFields &e)
{
    std::vector<uint8_t> p(16, 0);
    auto put16 = [&](size_t at, uint16_t v) {
        p[at] = static_cast<uint8_t>(v & 0xFF);
        p[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    std::vector<uint8_t> entry = EncodeEntry(e);
    p.insert(p.end(), entry.begin(), entry.end());
    put16(4, 149);
    put16(0, static_cast<uint16_t>(p.size()));
    return p;
}

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring MakeTempFolder(const wchar_t *name)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + name + L"-" + std::to_wstring(GetCurrentProcessId());
    std::wstring wildcard = folder + L"\\*";
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(wildcard.c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\";
}

std::string ReadFileBytes(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

bool WriteFileBytes(const std::wstring &path, const std::string &bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) && done == bytes.size();
    CloseHandle(file);
    return ok;
}

void StartTextLog()
{
    std::wstring folder = MakeTempFolder(L"kdl-log");
    CRegistry config(L"HKLM:\\System\\TLMLOGCFG");
    config.SetString(L"LogFolder", folder);
    config.SetDword(L"LogLevel", 1);
    config.SetDword(L"LogMaxSize", 0x800000);
    s_CommonLog.LogInit(L"TLM", L"TLM service");
}

std::wstring ReadTextLog()
{
    std::string bytes = ReadFileBytes(s_CommonLog.GetBasePath() + L".log");
    return std::wstring(reinterpret_cast<const wchar_t *>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

FakeServices::FakeServices() : m_Manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {}

FakeServices::~FakeServices()
{
    for (const std::wstring &name : std::vector<std::wstring>(m_Created))
        Delete(name.c_str());
}

bool FakeServices::Create(const wchar_t *name)
{
    std::wstring command = L"\"" + ProgramFolder() + L"kdl_fake_service.exe\" " + name;
    auto create = [&] {
        return UniqueServiceHandle(CreateServiceW(m_Manager.get(), name, name, SERVICE_ALL_ACCESS,
                                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                  SERVICE_ERROR_IGNORE, command.c_str(), nullptr, nullptr, nullptr,
                                                  nullptr, nullptr));
    };
    UniqueServiceHandle service = create();
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS && Delete(name))
        service = create(); // left over by an earlier run that could not clean up
    if (!service)
        return false;
    m_Created.push_back(name);
    return true;
}

bool FakeServices::WaitForState(SC_HANDLE service, DWORD state)
{
    for (int i = 0; i < 1200; ++i) { // a minute: services start slowly on a busy machine
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(service, &status))
            return false;
        if (status.dwCurrentState == state)
            return true;
        Sleep(50);
    }
    return false;
}

bool FakeServices::Start(const wchar_t *name)
{
    UniqueServiceHandle service(OpenServiceW(m_Manager.get(), name, SERVICE_ALL_ACCESS));
    return service && StartServiceW(service.get(), 0, nullptr) && WaitForState(service.get(), SERVICE_RUNNING);
}

bool FakeServices::Stop(const wchar_t *name)
{
    UniqueServiceHandle service(OpenServiceW(m_Manager.get(), name, SERVICE_ALL_ACCESS));
    SERVICE_STATUS status = {};
    return service && ControlService(service.get(), SERVICE_CONTROL_STOP, &status) &&
           WaitForState(service.get(), SERVICE_STOPPED);
}

bool FakeServices::Delete(const wchar_t *name)
{
    UniqueServiceHandle service(OpenServiceW(m_Manager.get(), name, SERVICE_ALL_ACCESS));
    if (!service)
        return false;
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        WaitForState(service.get(), SERVICE_STOPPED);
    }
    bool deleted = DeleteService(service.get()) != FALSE;
    std::erase(m_Created, std::wstring(name));
    return deleted;
}

DWORD FakeServices::State(const wchar_t *name)
{
    UniqueServiceHandle service(OpenServiceW(m_Manager.get(), name, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    return service && QueryServiceStatus(service.get(), &status) ? status.dwCurrentState : 0;
}

} // namespace kdltest
