#pragma once
// The NIC library's registry key: a handle with the Win32 result of the last call made through
// it. Every registry access of the library starts from g_LocalMachineKey (HKEY_LOCAL_MACHINE) and
// opens or creates subkeys relative to it; operations do not throw, callers read the error field.

#include <windows.h>

#include <cstdint>

class CRegistryKey {
public:
    static constexpr DWORD kNameChars = 261;

    explicit CRegistryKey(HKEY key = nullptr, LONG error = ERROR_SUCCESS, DWORD enumIndex = 0);
    virtual ~CRegistryKey();
    CRegistryKey(CRegistryKey &&other) noexcept;
    CRegistryKey &operator=(CRegistryKey &&other) noexcept;
    CRegistryKey(const CRegistryKey &) = delete;
    CRegistryKey &operator=(const CRegistryKey &) = delete;

    // The options word is not passed on (0 goes to the system), as every caller expects.
    CRegistryKey OpenKey(const wchar_t *subKey, REGSAM access, DWORD options = 0, int log = 1);
    CRegistryKey CreateKey(const wchar_t *subKey, const wchar_t *className, DWORD options, REGSAM access,
                           SECURITY_ATTRIBUTES *security = nullptr);
    void DeleteKey(const wchar_t *subKey);

    // Size in bytes, 0 when the value is missing.
    DWORD GetValueSize(const wchar_t *name, int log);
    // The value's data in a buffer from malloc (free it), with *type and *size; null when the
    // value cannot be read, whatever log says.
    BYTE *QueryValue(const wchar_t *name, DWORD *type, DWORD *size, int log);
    // A REG_DWORD of exactly 4 bytes, else 0 (also for a value of another type or size).
    void GetDWORDValue(const wchar_t *name, DWORD *out, int log);
    void GetIntValue(const wchar_t *name, int *out, int log);
    // A REG_SZ or REG_MULTI_SZ into the caller's buffer of capacity wide characters: at most
    // capacity - 1 characters, always NUL-terminated (an empty text when nothing is copied).
    void GetStringValue(const wchar_t *name, wchar_t *buffer, size_t capacity, int log);
    void EnumSubKey();
    LONG SetRegistryValue(const wchar_t *name, DWORD type, const void *data, DWORD size);

    HKEY GetHandle() const { return m_Key; }
    LONG GetError() const { return m_Error; }
    DWORD GetDisposition() const { return m_Disposition; }
    const wchar_t *GetEnumName() const { return m_EnumName; }
    bool IsOpen() const { return m_Key != nullptr; }

private:
    void Close();

    DWORD m_Disposition = 0;
    LONG m_Error = ERROR_SUCCESS;
    wchar_t m_EnumName[kNameChars] = {};
    HKEY m_Key = nullptr;
    DWORD m_EnumIndex = 0;
    DWORD m_NameLength = 0;
    FILETIME m_LastWriteTime = {};
    bool m_Owned = true;
};

extern CRegistryKey g_LocalMachineKey;
