#include "event_source.h"

#include "registry.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <string_view>

namespace {

constexpr wchar_t kSystemFolder[] = L"%SystemRoot%\\System32\\";
constexpr wchar_t kSourceFolder[] = L"eventmsg\\";
constexpr wchar_t kEventSourceKey[] = L"CCS:\\services\\eventlog\\System\\";
constexpr DWORD kCategoryCount = 16;
constexpr DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

bool CopyBounded(std::wstring_view text, wchar_t *out, size_t outChars)
{
    if (out == nullptr || outChars == 0)
        return false;
    out[0] = L'\0';
    if (text.size() >= outChars)
        return false;
    text.copy(out, text.size());
    out[text.size()] = L'\0';
    return true;
}

bool FileExists(const wchar_t *path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

bool MessageDllSourcePath(const wchar_t *exePath, const wchar_t *fileName, wchar_t *out, size_t outChars)
{
    if (out != nullptr && outChars != 0)
        out[0] = L'\0';
    if (exePath == nullptr || fileName == nullptr)
        return false;
    std::wstring_view path(exePath, wcsnlen(exePath, kEventSourcePathChars));
    if (path.size() >= kEventSourcePathChars)
        return false;
    size_t fileCut = path.find_last_of(L'\\');
    if (fileCut == std::wstring_view::npos)
        return false;
    std::wstring_view folder = path.substr(0, fileCut);
    size_t folderCut = folder.find_last_of(L'\\');
    if (folderCut == std::wstring_view::npos)
        return false; // the executable lies in a root folder: nothing lies beside its folder
    std::wstring source(folder.substr(0, folderCut + 1));
    source += kSourceFolder;
    source += fileName;
    return CopyBounded(source, out, outChars);
}

bool MessageDllTargetPath(const wchar_t *fileName, wchar_t *out, size_t outChars)
{
    if (out != nullptr && outChars != 0)
        out[0] = L'\0';
    if (fileName == nullptr || out == nullptr || outChars == 0 || outChars > MAXDWORD)
        return false;
    std::wstring unexpanded = std::wstring(kSystemFolder) + fileName;
    DWORD needed = ExpandEnvironmentStringsW(unexpanded.c_str(), out, static_cast<DWORD>(outChars));
    if (needed == 0 || needed > outChars) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

void InstallMessageDllFrom(const wchar_t *exePath, const wchar_t *fileName)
{
    wchar_t target[kEventSourcePathChars];
    if (!MessageDllTargetPath(fileName, target, kEventSourcePathChars) || FileExists(target))
        return;
    wchar_t source[kEventSourcePathChars];
    if (!MessageDllSourcePath(exePath, fileName, source, kEventSourcePathChars) || !FileExists(source))
        return;
    CopyFileW(source, target, TRUE); // never replaces one that appeared meanwhile
}

void InstallMessageDllIfNeeded(const wchar_t *fileName)
{
    // One character more than any path handled, so that a cut path is recognised as too long.
    wchar_t exePath[kEventSourcePathChars + 1];
    DWORD length = GetModuleFileNameW(nullptr, exePath, kEventSourcePathChars + 1);
    if (length == 0 || length >= kEventSourcePathChars)
        return;
    InstallMessageDllFrom(exePath, fileName);
}

void DefineEventSourceIfNeeded(const wchar_t *sourceName, const wchar_t *fileName)
{
    if (sourceName == nullptr || fileName == nullptr || sourceName[0] == L'\0')
        return;
    std::wstring path = std::wstring(kEventSourceKey) + sourceName;
    CRegistry key(path.c_str(), MAXIMUM_ALLOWED);
    if (key.Exists())
        return;
    if (!key.Create(0))
        return;
    std::wstring messageFile = std::wstring(kSystemFolder) + fileName;
    key.SetString(L"EventMessageFile", messageFile, REG_EXPAND_SZ);
    key.SetString(L"CategoryMessageFile", messageFile, REG_EXPAND_SZ);
    key.SetDword(L"CategoryCount", kCategoryCount);
    key.SetDword(L"TypesSupported", kTypesSupported);
    key.Close();
}
