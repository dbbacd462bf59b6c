#pragma once
// What the NIC library's Windows tests share: a log of their own at the Verbose level, the
// messages of its lines, and registry clean-up.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace nictest {

// Points HKLM\System\TLMLOGCFG at a fresh folder of the test's own (Verbose); the path of the
// log file that log name "TLM" gets.
std::wstring ConfigureVerboseLog(const wchar_t *folderName);
// The messages of the lines written under the function name, in order.
std::vector<std::wstring> LogMessages(const std::wstring &path, const std::wstring &function);
// Every line of the file.
std::vector<std::wstring> LogLines(const std::wstring &path);
size_t CountOf(const std::vector<std::wstring> &messages, const std::wstring &message);

void DeleteTree(const wchar_t *path);
void SetDword(const wchar_t *path, const wchar_t *name, DWORD value);
void SetValue(const wchar_t *path, const wchar_t *name, DWORD type, const void *data, DWORD size);
bool GetDword(const wchar_t *path, const wchar_t *name, DWORD *value);
void CreateVolatileKey(const wchar_t *path);
// A value's type and bytes; false when it cannot be read.
bool GetValue(const wchar_t *path, const wchar_t *name, DWORD *type, std::vector<uint8_t> *data);
// The names of the key's values (sorted) or subkeys; empty when the key is missing.
std::vector<std::wstring> ValueNames(const wchar_t *path);
std::vector<std::wstring> SubKeyNames(const wchar_t *path);
bool KeyExists(const wchar_t *path);

} // namespace nictest
