#include "nic_test_support.h"

#include <algorithm>

namespace nictest {

std::wstring ConfigureVerboseLog(const wchar_t *folderName)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + folderName + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    DeleteFileW((folder + L"TLM.log").c_str());
    const wchar_t key[] = L"System\\TLMLOGCFG";
    SetValue(key, L"LogFolder", REG_SZ, folder.c_str(), static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    SetDword(key, L"LogLevel", 1);
    SetDword(key, L"LogMaxSize", 0x1000000);
    return folder + L"TLM.log";
}

std::vector<std::wstring> LogLines(const std::wstring &path)
{
    std::vector<std::wstring> lines;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lines;
    std::wstring text(GetFileSize(file, nullptr) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
    CloseHandle(file);
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<std::wstring> LogMessages(const std::wstring &path, const std::wstring &function)
{
    std::vector<std::wstring> messages;
    const std::wstring marker = L"|" + function + L"|, ";
    for (const std::wstring &line : LogLines(path))
        if (const size_t at = line.find(marker); at != std::wstring::npos)
            messages.push_back(line.substr(at + marker.size()));
    return messages;
}

size_t CountOf(const std::vector<std::wstring> &messages, const std::wstring &message)
{
    size_t count = 0;
    for (const std::wstring &m : messages)
        count += m == message;
    return count;
}

void DeleteTree(const wchar_t *path)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, path);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, path);
}

void SetValue(const wchar_t *path, const wchar_t *name, DWORD type, const void *data, DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(key);
}

void SetDword(const wchar_t *path, const wchar_t *name, DWORD value)
{
    SetValue(path, name, REG_DWORD, &value, sizeof(value));
}

bool GetDword(const wchar_t *path, const wchar_t *name, DWORD *value)
{
    DWORD size = sizeof(*value);
    DWORD type = 0;
    return RegGetValueW(HKEY_LOCAL_MACHINE, path, name, RRF_RT_ANY, &type, value, &size) == ERROR_SUCCESS &&
           type == REG_DWORD;
}

void CreateVolatileKey(const wchar_t *path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS)
        RegCloseKey(key);
}

bool GetValue(const wchar_t *path, const wchar_t *name, DWORD *type, std::vector<uint8_t> *data)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    bool ok = RegQueryValueExW(key, name, nullptr, type, nullptr, &size) == ERROR_SUCCESS;
    if (ok) {
        data->assign(size, 0);
        ok = RegQueryValueExW(key, name, nullptr, type, data->data(), &size) == ERROR_SUCCESS;
        data->resize(size);
    }
    RegCloseKey(key);
    return ok;
}

static std::vector<std::wstring> Names(const wchar_t *path, bool values)
{
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[512];
        DWORD chars = 512;
        LONG result = values ? RegEnumValueW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr)
                             : RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS)
            break;
        names.emplace_back(name, chars);
    }
    RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> ValueNames(const wchar_t *path)
{
    return Names(path, true);
}

std::vector<std::wstring> SubKeyNames(const wchar_t *path)
{
    return Names(path, false);
}

bool KeyExists(const wchar_t *path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

} // namespace nictest
