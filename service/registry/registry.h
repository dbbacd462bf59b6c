#pragma once
// A registry key named by a path, opened on first use and closed with the object.
//
// The path may start with a root prefix ("HKLM:", "HKCU:", "HKCC:", "HKCR:", "HKU:", or "CCS:"
// for HKLM\SYSTEM\CurrentControlSet\); without one the root stays as given. Readers open the key
// and writers create it when it is missing. Results are 1 for success and 0 for failure, except
// GetAllValueData, which returns a Win32 code.
//
// The service program and the installer library both link this class.

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CRegistry {
public:
    CRegistry();
    // A prefixed path below HKEY_LOCAL_MACHINE unless the prefix says otherwise.
    explicit CRegistry(const wchar_t *prefixedPath, REGSAM access = MAXIMUM_ALLOWED);
    // A root and a plain subkey path; the path is not parsed for a prefix.
    CRegistry(HKEY root, const wchar_t *path, REGSAM access = MAXIMUM_ALLOWED);
    ~CRegistry();
    CRegistry(const CRegistry &) = delete;
    CRegistry &operator=(const CRegistry &) = delete;
    CRegistry(CRegistry &&other) noexcept;
    CRegistry &operator=(CRegistry &&other) noexcept;

    // Splits a prefixed path into root and subkey path. Separators right after the prefix are
    // skipped; the rest is kept as written. Without a prefix *root is left alone.
    static void ParsePath(const wchar_t *prefixedPath, HKEY *root, std::wstring *path);

    int Open();
    int Open(HKEY root, const wchar_t *path, REGSAM access);
    // options: 0 or REG_OPTION_VOLATILE. An open key that was only opened is closed and created.
    int Create(DWORD options = 0);
    int Create(const wchar_t *prefixedPath, DWORD options, REGSAM access);
    void Close();
    int Exists();
    // The open key (opened now when needed), or null; the object keeps ownership.
    HKEY GetHandle();
    REGSAM GetAccess() const { return m_Access; }
    HKEY GetRoot() const { return m_Root; }
    const std::wstring &GetPath() const { return m_Path; }

    int QueryInfo(DWORD *subKeys, DWORD *maxSubKeyLength, DWORD *maxClassLength, DWORD *values,
                  DWORD *maxValueNameLength, DWORD *maxValueLength, DWORD *securityDescriptorSize,
                  FILETIME *lastWriteTime);
    int QueryValue(const wchar_t *name, DWORD *type, DWORD *size);
    int ValueExists(const wchar_t *name);
    // REG_DWORD of exactly 4 bytes only; *value is untouched otherwise.
    int GetDword(const wchar_t *name, DWORD *value);
    // REG_SZ, REG_EXPAND_SZ (not expanded) or REG_MULTI_SZ. Trailing NULs are dropped except for
    // REG_MULTI_SZ, whose terminators are part of its meaning.
    int GetString(const wchar_t *name, std::wstring *value);
    // As GetString into a caller's buffer of capacity characters: the data and a NUL must fit,
    // otherwise 0 and the buffer is untouched.
    int GetStringToBuffer(const wchar_t *name, wchar_t *buffer, DWORD capacity);
    // REG_BINARY only; *size is the buffer's size in, the data's size out.
    int GetBinary(const wchar_t *name, void *buffer, DWORD *size);
    // Every value's data, packed one after another (each at its own length), with *length set to
    // the bytes copied; the buffer must hold count x largest bytes. Returns 0; ERROR_MORE_DATA (234) with *length set to the size needed
    // when buffer is null or *length is too small; 1 when the key does not open; or the Win32
    // error of the system.
    DWORD GetAllValueData(void *buffer, DWORD *length, DWORD *largest, DWORD *count);
    // count x largest as a 32-bit byte count; false when it does not fit.
    static bool PackedSize(DWORD count, DWORD largest, DWORD *size);

    int SetDword(const wchar_t *name, DWORD value);
    // Stores the characters of value and one more NUL. For REG_MULTI_SZ pass the strings with
    // their NULs (the final terminator is added).
    int SetString(const wchar_t *name, std::wstring_view value, DWORD type = REG_SZ);
    int SetBinary(const wchar_t *name, const void *data, DWORD size);
    // Removes a value. A missing key is not created: the result is then 0.
    int DeleteValue(const wchar_t *name);
    // Deletes the key of a prefixed path with all it holds (a path without prefix lies below
    // defaultRoot). An empty subkey path is refused: it would empty the whole root.
    static int DeleteTree(HKEY defaultRoot, const wchar_t *prefixedPath);

private:
    int ReadValue(const wchar_t *name, DWORD *type, std::vector<BYTE> *data);

    std::wstring m_Path;
    REGSAM m_Access = MAXIMUM_ALLOWED;
    HKEY m_Root = HKEY_LOCAL_MACHINE;
    HKEY m_Key = nullptr;
    int m_Created = 0;
};
