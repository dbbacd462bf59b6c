#include "registry.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <utility>

namespace {

struct RootPrefix {
    const wchar_t *text;
    HKEY root;
    const wchar_t *base; // put in front of the rest of the path
};

// A value that grows between the size query and the read is read again, a few times.
constexpr int kReadTries = 4;

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

} // namespace

CRegistry::CRegistry() = default;

CRegistry::CRegistry(const wchar_t *prefixedPath, REGSAM access) : m_Access(access)
{
    ParsePath(prefixedPath, &m_Root, &m_Path);
}

CRegistry::CRegistry(HKEY root, const wchar_t *path, REGSAM access)
    : m_Path(path != nullptr ? path : L""), m_Access(access), m_Root(root)
{
}

CRegistry::~CRegistry()
{
    Close();
}

CRegistry::CRegistry(CRegistry &&other) noexcept
    : m_Path(std::move(other.m_Path)), m_Access(other.m_Access), m_Root(other.m_Root),
      m_Key(std::exchange(other.m_Key, nullptr)), m_Created(std::exchange(other.m_Created, 0))
{
}

CRegistry &CRegistry::operator=(CRegistry &&other) noexcept
{
    if (this != &other) {
        Close();
        m_Path = std::move(other.m_Path);
        m_Access = other.m_Access;
        m_Root = other.m_Root;
        m_Key = std::exchange(other.m_Key, nullptr);
        m_Created = std::exchange(other.m_Created, 0);
    }
    return *this;
}

void CRegistry::ParsePath(const wchar_t *prefixedPath, HKEY *root, std::wstring *path)
{
    const RootPrefix prefixes[] = {
        {L"HKLM:", HKEY_LOCAL_MACHINE, L""},  {L"HKCU:", HKEY_CURRENT_USER, L""},
        {L"HKCC:", HKEY_CURRENT_CONFIG, L""}, {L"HKCR:", HKEY_CLASSES_ROOT, L""},
        {L"HKU:", HKEY_USERS, L""},           {L"CCS:", HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\"},
    };
    if (prefixedPath == nullptr) {
        path->clear();
        return;
    }
    for (const auto &prefix : prefixes) {
        const size_t length = wcslen(prefix.text);
        if (_wcsnicmp(prefixedPath, prefix.text, length) != 0)
            continue;
        const wchar_t *rest = prefixedPath + length;
        while (*rest == L'\\' || *rest == L'/')
            ++rest;
        *root = prefix.root;
        *path = std::wstring(prefix.base) + rest;
        return;
    }
    *path = prefixedPath;
}

int CRegistry::Open()
{
    if (m_Key != nullptr)
        return 1;
    if (m_Path.empty())
        return 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(m_Root, m_Path.c_str(), 0, m_Access, &key) != ERROR_SUCCESS)
        return 0;
    m_Key = key;
    return 1;
}

int CRegistry::Open(HKEY root, const wchar_t *path, REGSAM access)
{
    Close();
    m_Root = root;
    m_Path = path != nullptr ? path : L"";
    m_Access = access;
    return Open();
}

int CRegistry::Create(DWORD options)
{
    if (m_Key != nullptr && m_Created)
        return 1;
    Close();
    m_Created = 1;
    if (m_Path.empty())
        return 0;
    HKEY key = nullptr;
    if (RegCreateKeyExW(m_Root, m_Path.c_str(), 0, nullptr, options, m_Access, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return 0;
    m_Key = key;
    return 1;
}

int CRegistry::Create(const wchar_t *prefixedPath, DWORD options, REGSAM access)
{
    Close();
    m_Root = HKEY_LOCAL_MACHINE;
    ParsePath(prefixedPath, &m_Root, &m_Path);
    m_Access = access;
    return Create(options);
}

void CRegistry::Close()
{
    if (m_Key != nullptr)
        RegCloseKey(m_Key);
    m_Key = nullptr;
    m_Created = 0;
}

int CRegistry::Exists()
{
    if (m_Key != nullptr)
        return 1;
    if (!Open())
        return 0;
    Close();
    return 1;
}

HKEY CRegistry::GetHandle()
{
    return Open() ? m_Key : nullptr;
}

int CRegistry::QueryInfo(DWORD *subKeys, DWORD *maxSubKeyLength, DWORD *maxClassLength, DWORD *values,
                         DWORD *maxValueNameLength, DWORD *maxValueLength, DWORD *securityDescriptorSize,
                         FILETIME *lastWriteTime)
{
    if (!Open())
        return 0;
    return RegQueryInfoKeyW(m_Key, nullptr, nullptr, nullptr, subKeys, maxSubKeyLength, maxClassLength, values,
                            maxValueNameLength, maxValueLength, securityDescriptorSize, lastWriteTime) == ERROR_SUCCESS;
}

int CRegistry::QueryValue(const wchar_t *name, DWORD *type, DWORD *size)
{
    *size = 0;
    if (!Open())
        return 0;
    return RegQueryValueExW(m_Key, name, nullptr, type, nullptr, size) == ERROR_SUCCESS;
}

int CRegistry::ValueExists(const wchar_t *name)
{
    DWORD type = 0;
    DWORD size = 0;
    return QueryValue(name, &type, &size);
}

int CRegistry::ReadValue(const wchar_t *name, DWORD *type, std::vector<BYTE> *data)
{
    if (!Open())
        return 0;
    try {
        for (int attempt = 0; attempt < kReadTries; ++attempt) {
            DWORD size = 0;
            if (RegQueryValueExW(m_Key, name, nullptr, type, nullptr, &size) != ERROR_SUCCESS)
                return 0;
            // One spare byte, so that data of zero bytes still has an address.
            data->assign(static_cast<size_t>(size) + 1, 0);
            DWORD read = size;
            LONG status = RegQueryValueExW(m_Key, name, nullptr, type, data->data(), &read);
            if (status == ERROR_SUCCESS) {
                data->resize(read);
                return 1;
            }
            if (status != ERROR_MORE_DATA)
                return 0;
        }
    } catch (const std::bad_alloc &) {
    }
    return 0;
}

int CRegistry::GetDword(const wchar_t *name, DWORD *value)
{
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(name, &type, &data) || type != REG_DWORD || data.size() != sizeof(DWORD))
        return 0;
    memcpy(value, data.data(), sizeof(DWORD));
    return 1;
}

int CRegistry::GetString(const wchar_t *name, std::wstring *value)
{
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(name, &type, &data) || !IsStringType(type))
        return 0;
    try {
        // An odd last byte is half a character and is dropped.
        std::wstring text(data.size() / sizeof(wchar_t), L'\0');
        memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
        if (type != REG_MULTI_SZ) {
            size_t end = text.find_last_not_of(L'\0');
            text.resize(end == std::wstring::npos ? 0 : end + 1);
        }
        *value = std::move(text);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    return 1;
}

int CRegistry::GetStringToBuffer(const wchar_t *name, wchar_t *buffer, DWORD capacity)
{
    DWORD type = 0;
    std::vector<BYTE> data;
    if (buffer == nullptr || capacity == 0 || !ReadValue(name, &type, &data) || !IsStringType(type))
        return 0;
    const size_t chars = data.size() / sizeof(wchar_t);
    if (chars + 1 > capacity)
        return 0;
    memcpy(buffer, data.data(), chars * sizeof(wchar_t));
    buffer[chars] = L'\0';
    return 1;
}

int CRegistry::GetBinary(const wchar_t *name, void *buffer, DWORD *size)
{
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(name, &type, &data) || type != REG_BINARY)
        return 0;
    const DWORD available = *size;
    *size = static_cast<DWORD>(data.size());
    if (data.size() > available || (buffer == nullptr && !data.empty()))
        return 0;
    if (!data.empty())
        memcpy(buffer, data.data(), data.size());
    return 1;
}

bool CRegistry::PackedSize(DWORD count, DWORD largest, DWORD *size)
{
    const uint64_t bytes = static_cast<uint64_t>(count) * largest;
    if (bytes > MAXDWORD)
        return false;
    *size = static_cast<DWORD>(bytes);
    return true;
}

DWORD CRegistry::GetAllValueData(void *buffer, DWORD *length, DWORD *largest, DWORD *count)
{
    if (!Open())
        return ERROR_INVALID_FUNCTION;

    DWORD values = 0;
    DWORD longestName = 0;
    DWORD longestData = 0;
    LONG status = RegQueryInfoKeyW(m_Key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longestName,
                                   &longestData, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
        Close();
        return static_cast<DWORD>(status);
    }
    *count = values;
    *largest = longestData;
    DWORD needed = 0;
    if (!PackedSize(values, longestData, &needed)) {
        Close();
        return ERROR_ARITHMETIC_OVERFLOW;
    }
    if (buffer == nullptr || *length < needed) {
        *length = needed;
        Close();
        return ERROR_MORE_DATA;
    }

    DWORD result = ERROR_SUCCESS;
    try {
        std::vector<BYTE> work(needed, 0);
        std::vector<wchar_t> name(static_cast<size_t>(longestName) + 1);
        std::vector<BYTE> data(static_cast<size_t>(longestData) + 1);
        size_t offset = 0;
        for (DWORD index = 0; index < values && result == ERROR_SUCCESS; ++index) {
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD dataLength = longestData;
            status = RegEnumValueW(m_Key, index, name.data(), &nameLength, nullptr, nullptr, data.data(), &dataLength);
            if (status != ERROR_SUCCESS)
                result = static_cast<DWORD>(status); // a value came or grew meanwhile, among others
            else if (offset + dataLength > work.size())
                result = ERROR_MORE_DATA;
            else {
                memcpy(work.data() + offset, data.data(), dataLength);
                offset += dataLength;
            }
        }
        // The caller learns how many bytes the values filled; the rest of its buffer stays as it was.
        if (result == ERROR_SUCCESS) {
            if (offset != 0)
                memcpy(buffer, work.data(), offset);
            *length = static_cast<DWORD>(offset);
        }
    } catch (const std::bad_alloc &) {
        result = ERROR_NOT_ENOUGH_MEMORY;
    }
    Close();
    return result;
}

int CRegistry::SetDword(const wchar_t *name, DWORD value)
{
    if (!Create(0))
        return 0;
    return RegSetValueExW(m_Key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
}

int CRegistry::SetString(const wchar_t *name, std::wstring_view value, DWORD type)
{
    if (!IsStringType(type) || value.size() >= MAXDWORD / sizeof(wchar_t))
        return 0;
    if (!Create(0))
        return 0;
    try {
        const std::wstring stored(value); // adds the terminating NUL
        const DWORD bytes = static_cast<DWORD>((stored.size() + 1) * sizeof(wchar_t));
        return RegSetValueExW(m_Key, name, 0, type, reinterpret_cast<const BYTE *>(stored.c_str()), bytes) ==
               ERROR_SUCCESS;
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

int CRegistry::SetBinary(const wchar_t *name, const void *data, DWORD size)
{
    if (data == nullptr && size != 0)
        return 0;
    if (!Create(0))
        return 0;
    return RegSetValueExW(m_Key, name, 0, REG_BINARY, static_cast<const BYTE *>(data), size) == ERROR_SUCCESS;
}

int CRegistry::DeleteValue(const wchar_t *name)
{
    // Only opened: creating the key here would bring back a volatile key as a persistent one.
    if (!Open())
        return 0;
    return RegDeleteValueW(m_Key, name) == ERROR_SUCCESS;
}

int CRegistry::DeleteTree(HKEY defaultRoot, const wchar_t *prefixedPath)
{
    HKEY root = defaultRoot;
    std::wstring path;
    ParsePath(prefixedPath, &root, &path);
    if (path.empty())
        return 0;
    return RegDeleteTreeW(root, path.c_str()) == ERROR_SUCCESS;
}
