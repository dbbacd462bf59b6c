#include "registry_key.h"

#include "common_log.h"

#include <cstdlib>
#include <cstring>
#include <utility>

CRegistryKey g_LocalMachineKey(HKEY_LOCAL_MACHINE);

CRegistryKey::CRegistryKey(HKEY key, LONG error, DWORD enumIndex)
    : m_Error(error), m_Key(key), m_EnumIndex(enumIndex),
      // A predefined root is never closed.
      m_Owned(key != nullptr && (reinterpret_cast<ULONG_PTR>(key) & 0x80000000u) == 0)
{
}

CRegistryKey::~CRegistryKey()
{
    Close();
}

CRegistryKey::CRegistryKey(CRegistryKey &&other) noexcept
    : m_Disposition(other.m_Disposition), m_Error(other.m_Error), m_Key(std::exchange(other.m_Key, nullptr)),
      m_EnumIndex(other.m_EnumIndex), m_NameLength(other.m_NameLength), m_LastWriteTime(other.m_LastWriteTime),
      m_Owned(other.m_Owned)
{
    std::memcpy(m_EnumName, other.m_EnumName, sizeof(m_EnumName));
}

CRegistryKey &CRegistryKey::operator=(CRegistryKey &&other) noexcept
{
    if (this != &other) {
        Close();
        m_Disposition = other.m_Disposition;
        m_Error = other.m_Error;
        m_Key = std::exchange(other.m_Key, nullptr);
        m_EnumIndex = other.m_EnumIndex;
        m_NameLength = other.m_NameLength;
        m_LastWriteTime = other.m_LastWriteTime;
        m_Owned = other.m_Owned;
        std::memcpy(m_EnumName, other.m_EnumName, sizeof(m_EnumName));
    }
    return *this;
}

void CRegistryKey::Close()
{
    if (m_Key != nullptr && m_Owned)
        RegCloseKey(m_Key);
    m_Key = nullptr;
}

CRegistryKey CRegistryKey::OpenKey(const wchar_t *subKey, REGSAM access, DWORD /*options*/, int log)
{
    HKEY key = nullptr;
    m_Error = RegOpenKeyExW(m_Key, subKey, 0, access, &key);
    if (m_Error != ERROR_SUCCESS) {
        key = nullptr;
        if (log)
            LOG_VERBOSE(L"CRegistryKey::OpenKey", L"Can't open registry key: %s Return code: %d", subKey, m_Error);
    }
    CRegistryKey result(key, m_Error);
    result.m_Owned = key != nullptr;
    return result;
}

CRegistryKey CRegistryKey::CreateKey(const wchar_t *subKey, const wchar_t *className, DWORD options, REGSAM access,
                                     SECURITY_ATTRIBUTES *security)
{
    HKEY key = nullptr;
    m_Error = RegCreateKeyExW(m_Key, subKey, 0, const_cast<wchar_t *>(className), options, access, security, &key,
                              &m_Disposition);
    if (m_Error != ERROR_SUCCESS) {
        key = nullptr;
        LOG_VERBOSE(L"CRegistryKey::CreateKey", L"Can't create registry key: %s Return code: %d", subKey, m_Error);
    }
    CRegistryKey result(key, m_Error);
    result.m_Owned = key != nullptr;
    return result;
}

void CRegistryKey::DeleteKey(const wchar_t *subKey)
{
    m_Error = RegDeleteKeyW(m_Key, subKey);
}

DWORD CRegistryKey::GetValueSize(const wchar_t *name, int log)
{
    DWORD size = 0;
    m_Error = RegQueryValueExW(m_Key, name, nullptr, nullptr, nullptr, &size);
    if (m_Error != ERROR_SUCCESS) {
        size = 0;
        if (log)
            LOG_VERBOSE(L"CRegistryKey::GetValueSize", L"Can't get data size. value_name: %s Return code: %d", name,
                        m_Error);
    }
    return size;
}

BYTE *CRegistryKey::QueryValue(const wchar_t *name, DWORD *type, DWORD *size, int log)
{
    // The size query logs whatever the caller asked: a missing value is worth one line.
    DWORD length = GetValueSize(name, 1);
    if (m_Error != ERROR_SUCCESS)
        return nullptr;
    // One byte more than asked, so that an empty value still has a buffer.
    BYTE *buffer = static_cast<BYTE *>(std::malloc(static_cast<size_t>(length) + 1));
    if (buffer == nullptr) {
        m_Error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    DWORD valueType = REG_NONE;
    m_Error = RegQueryValueExW(m_Key, name, nullptr, &valueType, buffer, &length);
    if (m_Error != ERROR_SUCCESS) {
        if (log)
            LOG_VERBOSE(L"CRegistryKey::QueryValue", L"Can't open registry. value_name: %s Return code: %d", name,
                        m_Error);
        // A buffer of a failed read holds nothing the caller could use.
        std::free(buffer);
        return nullptr;
    }
    if (type != nullptr)
        *type = valueType;
    if (size != nullptr)
        *size = length;
    return buffer;
}

void CRegistryKey::GetDWORDValue(const wchar_t *name, DWORD *out, int log)
{
    *out = 0;
    DWORD type = REG_NONE;
    DWORD size = 0;
    BYTE *buffer = QueryValue(name, &type, &size, log);
    if (buffer != nullptr && type == REG_DWORD && size == sizeof(DWORD))
        std::memcpy(out, buffer, sizeof(DWORD));
    std::free(buffer);
}

void CRegistryKey::GetIntValue(const wchar_t *name, int *out, int log)
{
    DWORD value = 0;
    GetDWORDValue(name, &value, log);
    *out = static_cast<int>(value);
}

void CRegistryKey::GetStringValue(const wchar_t *name, wchar_t *buffer, size_t capacity, int log)
{
    if (buffer == nullptr || capacity == 0)
        return;
    buffer[0] = L'\0';
    DWORD type = REG_NONE;
    DWORD size = 0;
    BYTE *data = QueryValue(name, &type, &size, log);
    if (data != nullptr && (type == REG_SZ || type == REG_MULTI_SZ)) {
        size_t chars = size / sizeof(wchar_t);
        if (chars > capacity - 1)
            chars = capacity - 1;
        std::memcpy(buffer, data, chars * sizeof(wchar_t));
        buffer[chars] = L'\0';
    }
    std::free(data);
}

void CRegistryKey::EnumSubKey()
{
    m_NameLength = kNameChars;
    m_Error = RegEnumKeyExW(m_Key, m_EnumIndex++, m_EnumName, &m_NameLength, nullptr, nullptr, nullptr,
                            &m_LastWriteTime);
}

LONG CRegistryKey::SetRegistryValue(const wchar_t *name, DWORD type, const void *data, DWORD size)
{
    m_Error = RegSetValueExW(m_Key, name, 0, type, static_cast<const BYTE *>(data), size);
    if (m_Error != ERROR_SUCCESS)
        LOG_VERBOSE(L"CRegistryKey::SetRegistryValue", L"Can't set registry value: %s Return code: %d", name,
                    m_Error);
    return m_Error;
}
