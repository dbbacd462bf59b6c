// services_probe.exe: the running drivers and services as Windows itself lists them, for the
// end-to-end software test to hold the black-box records against.
//   services_probe.exe OUTFILE
// OUTFILE receives, in UTF-8, one line per entry:
//   driver<TAB>NAME                a driver the service control manager reports running
//   service<TAB>NAME<TAB>FILE[<TAB>svchost]
//                                  a Win32 service that both the service control manager and
//                                  WMI's Win32_Service report running, whose file is on disk;
//                                  "svchost" when svchost.exe hosts it and FILE is its ServiceDll
//   scm-only<TAB>NAME / wmi-only<TAB>NAME
//                                  a service running by one list and not by the other
//   no-file<TAB>NAME<TAB>PATH      a service running by both whose file is not on disk
//   no-key<TAB>NAME<TAB>FILE       a service as the service line, but without a key of its own
//                                  under the Services key (Wine runs its device hosts so; Windows
//                                  keeps every service there)
//   processors<TAB>N               the processors Windows reports (all of the machine's, whatever
//                                  the affinity mask of the process that started Wine)
// The file of a service is the program its path names, found as CreateProcess finds it (the
// quoted part, or else the shortest blank-separated prefix that names a file), or, for a service
// that svchost.exe hosts, the library its ServiceDll value names.
#include <windows.h>
#include <wbemcli.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring &text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t &c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

bool IsFile(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring Expand(const std::wstring &text)
{
    wchar_t buffer[4096];
    const DWORD length = ExpandEnvironmentStringsW(text.c_str(), buffer, 4096);
    return length != 0 && length <= 4096 ? std::wstring(buffer) : text;
}

// Running entries of the given kinds, by name, with the path the service manager has for each.
std::map<std::wstring, std::wstring> ScmRunning(SC_HANDLE manager, DWORD kinds)
{
    std::map<std::wstring, std::wstring> running;
    DWORD needed = 0, count = 0, resume = 0;
    EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, kinds, SERVICE_ACTIVE, nullptr, 0, &needed, &count, &resume,
                          nullptr);
    std::vector<BYTE> buffer(needed + 4096);
    resume = 0;
    if (!EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, kinds, SERVICE_ACTIVE, buffer.data(),
                               static_cast<DWORD>(buffer.size()), &needed, &count, &resume, nullptr)) {
        fprintf(stderr, "services_probe: EnumServicesStatusExW failed (%lu)\n", GetLastError());
        return running;
    }
    const auto *entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW *>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (entries[i].ServiceStatusProcess.dwCurrentState != SERVICE_RUNNING)
            continue;
        std::wstring path;
        if (SC_HANDLE service = OpenServiceW(manager, entries[i].lpServiceName, SERVICE_QUERY_CONFIG)) {
            DWORD size = 0;
            QueryServiceConfigW(service, nullptr, 0, &size);
            std::vector<BYTE> config(size + sizeof(QUERY_SERVICE_CONFIGW));
            auto *c = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(config.data());
            if (QueryServiceConfigW(service, c, static_cast<DWORD>(config.size()), &size) && c->lpBinaryPathName)
                path = c->lpBinaryPathName;
            CloseServiceHandle(service);
        }
        running[entries[i].lpServiceName] = path;
    }
    return running;
}

struct WmiService {
    std::wstring state;
    std::wstring pathName;
};

std::wstring Text(IWbemClassObject *object, const wchar_t *property)
{
    VARIANT value;
    VariantInit(&value);
    std::wstring text;
    if (SUCCEEDED(object->Get(property, 0, &value, nullptr, nullptr)) && value.vt == VT_BSTR && value.bstrVal)
        text = value.bstrVal;
    VariantClear(&value);
    return text;
}

std::optional<std::map<std::wstring, WmiService>> WmiServices()
{
    IWbemLocator *locator = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void **>(&locator))))
        return std::nullopt;
    std::optional<std::map<std::wstring, WmiService>> services;
    IWbemServices *namespaceRoot = nullptr;
    BSTR path = SysAllocString(L"ROOT\\CIMV2");
    if (SUCCEEDED(locator->ConnectServer(path, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &namespaceRoot))) {
        BSTR language = SysAllocString(L"WQL");
        BSTR query = SysAllocString(L"SELECT * FROM Win32_Service");
        IEnumWbemClassObject *rows = nullptr;
        if (SUCCEEDED(namespaceRoot->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY, nullptr, &rows))) {
            services.emplace();
            IWbemClassObject *row = nullptr;
            ULONG returned = 0;
            while (rows->Next(static_cast<LONG>(WBEM_INFINITE), 1, &row, &returned) == S_OK && returned == 1) {
                (*services)[Text(row, L"Name")] = {Text(row, L"State"), Text(row, L"PathName")};
                row->Release();
            }
            rows->Release();
        }
        SysFreeString(query);
        SysFreeString(language);
        namespaceRoot->Release();
    }
    SysFreeString(path);
    locator->Release();
    return services;
}

// The program a command line starts, as CreateProcess finds it.
std::wstring Program(const std::wstring &commandLine)
{
    const std::wstring line = Expand(commandLine);
    if (!line.empty() && line[0] == L'"') {
        const size_t close = line.find(L'"', 1);
        return line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    for (size_t blank = line.find(L' '); blank != std::wstring::npos; blank = line.find(L' ', blank + 1)) {
        if (IsFile(line.substr(0, blank)))
            return line.substr(0, blank);
        if (IsFile(line.substr(0, blank) + L".exe"))
            return line.substr(0, blank) + L".exe";
    }
    return line;
}

const std::wstring kServicesKey = L"SYSTEM\\CurrentControlSet\\Services\\";

std::wstring ServiceDll(const std::wstring &name)
{
    const std::wstring key = kServicesKey + name;
    for (const std::wstring &subkey : {key + L"\\Parameters", key}) {
        wchar_t dll[MAX_PATH * 2];
        DWORD bytes = sizeof dll;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, subkey.c_str(), L"ServiceDll", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                         nullptr,
                         dll, &bytes) == ERROR_SUCCESS)
            return Expand(dll);
    }
    return L"";
}

std::wstring ServiceFile(const std::wstring &name, const std::wstring &commandLine, bool *hosted)
{
    const std::wstring program = Program(commandLine);
    const size_t slash = program.find_last_of(L'\\');
    *hosted = Lower(program.substr(slash == std::wstring::npos ? 0 : slash + 1)) == L"svchost.exe";
    return *hosted ? ServiceDll(name) : program;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: services_probe OUTFILE\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                         EOAC_NONE, nullptr);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    if (manager == nullptr) {
        fprintf(stderr, "services_probe: no service control manager (%lu)\n", GetLastError());
        return 1;
    }
    const auto drivers = ScmRunning(manager, SERVICE_DRIVER);
    const auto scm = ScmRunning(manager, SERVICE_WIN32);
    CloseServiceHandle(manager);
    const auto wmi = WmiServices();
    if (!wmi) {
        fprintf(stderr, "services_probe: no Win32_Service from WMI\n");
        return 1;
    }

    std::wstring out;
    for (const auto &[name, path] : drivers)
        out += L"driver\t" + name + L"\n";
    std::set<std::wstring> wmiRunning;
    for (const auto &[name, service] : *wmi)
        if (service.state == L"Running" && drivers.count(name) == 0) // Wine's class lists drivers too
            wmiRunning.insert(name);
    for (const auto &[name, scmPath] : scm) {
        const auto listed = wmi->find(name);
        if (wmiRunning.count(name) == 0) {
            out += L"scm-only\t" + name + L"\n";
            continue;
        }
        // Win32_Service's PathName where WMI has it, the service manager's own path otherwise.
        const std::wstring commandLine = !listed->second.pathName.empty() ? listed->second.pathName : scmPath;
        bool hosted = false;
        const std::wstring file = ServiceFile(name, commandLine, &hosted);
        HKEY key = nullptr;
        const bool registered = RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kServicesKey + name).c_str(), 0, KEY_READ, &key) ==
                                ERROR_SUCCESS;
        if (registered)
            RegCloseKey(key);
        if (IsFile(file))
            out += (registered ? L"service\t" : L"no-key\t") + name + L"\t" + file + (hosted ? L"\tsvchost\n" : L"\n");
        else
            out += L"no-file\t" + name + L"\t" + commandLine + L"\n";
    }
    for (const std::wstring &name : wmiRunning)
        if (scm.count(name) == 0)
            out += L"wmi-only\t" + name + L"\n";

    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    out += L"processors\t" + std::to_wstring(system.dwNumberOfProcessors) + L"\n";

    const std::string utf8 = Utf8(out);
    FILE *f = _wfopen(argv[1], L"wb");
    if (f == nullptr)
        return 1;
    const bool written = fwrite(utf8.data(), 1, utf8.size(), f) == utf8.size();
    CoUninitialize();
    return fclose(f) == 0 && written ? 0 : 1;
}
