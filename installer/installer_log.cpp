#include "installer_log.h"

#include <cstdarg>
#include <cstdio>

#include "installer_paths.h"

InstallerLog g_InstallerLog;

namespace {

constexpr DWORD kInstallerLogLimit = 0x100000;
// A message is cut here rather than growing without bound.
constexpr size_t kMaxMessageChars = 16384;

HANDLE OpenLogFile(const std::wstring &path, DWORD flags = FILE_ATTRIBUTE_NORMAL)
{
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_ALWAYS, flags, nullptr);
}

}  // namespace

std::wstring InstallerLogFolder()
{
    return tlmca::ProgramFilesPath().value_or(std::wstring()) + L"\\Vostrel-Quinbar\\TLM\\Logs\\";
}

InstallerLog::InstallerLog() : m_SizeLimit(kInstallerLogLimit) {}

InstallerLog::~InstallerLog() = default;

void InstallerLog::SetCategory(const wchar_t *category)
{
    m_Category = category != nullptr ? category : L"";
}

void InstallerLog::SetFunction(const wchar_t *functionName)
{
    m_Function = functionName != nullptr ? functionName : L"";
}

DWORD InstallerLog::Open(const wchar_t *logName, const wchar_t *category)
{
    SetCategory(category);
    const std::wstring folder = InstallerLogFolder();
    const std::wstring file = folder + logName + L".log";

    DWORD remembered = 0;
    HANDLE handle = OpenLogFile(file);
    if (handle == INVALID_HANDLE_VALUE) {
        const std::wstring programFiles = tlmca::ProgramFilesPath().value_or(std::wstring());
        CreateDirectoryW((programFiles + L"\\Vostrel-Quinbar\\").c_str(), nullptr);
        CreateDirectoryW((programFiles + L"\\Vostrel-Quinbar\\TLM\\").c_str(), nullptr);
        if (!CreateDirectoryW(folder.c_str(), nullptr))
            remembered = GetLastError();
        handle = OpenLogFile(file);
        if (handle == INVALID_HANDLE_VALUE)
            return GetLastError();
    }
    CloseHandle(handle);

    m_LogName = logName;
    m_BasePath = folder + logName;
    m_SizeLimit = kInstallerLogLimit;
    return remembered;
}

DWORD InstallerLog::Printf(const wchar_t *format, ...)
{
    if (format == nullptr)
        format = L"";
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int needed = _vscwprintf(format, measure);
    va_end(measure);
    std::wstring message;
    if (needed > 0) {
        const size_t chars = static_cast<size_t>(needed) < kMaxMessageChars ? static_cast<size_t>(needed)
                                                                             : kMaxMessageChars;
        message.assign(chars, L'\0');
        _vsnwprintf(message.data(), chars, format, args);
    }
    va_end(args);
    return WriteLine(m_Category + L", \t|" + m_Function, message);
}

DWORD InstallerLog::RotateIfNeeded(HANDLE *file)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(*file, &size))
        return GetLastError();
    if (size.QuadPart < static_cast<LONGLONG>(m_SizeLimit))
        return 0;

    CloseHandle(*file);
    *file = INVALID_HANDLE_VALUE;
    const std::wstring current = m_BasePath + L".log";
    const std::wstring older = m_BasePath + L".lo_";
    DeleteFileW(older.c_str());
    if (!MoveFileW(current.c_str(), older.c_str()))
        return ERROR_PATH_NOT_FOUND;  // 3: the writer reopens the old file and appends to it
    *file = OpenLogFile(current, FILE_FLAG_RANDOM_ACCESS);
    return *file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
}

DWORD InstallerLog::WriteLine(const std::wstring &prefix, const std::wstring &message)
{
    if (m_BasePath.empty())
        return ERROR_INVALID_HANDLE;  // never opened: the line has nowhere to go
    const std::wstring path = m_BasePath + L".log";
    HANDLE file = OpenLogFile(path);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    RotateIfNeeded(&file);
    if (file == INVALID_HANDLE_VALUE) {
        file = OpenLogFile(path);
        if (file == INVALID_HANDLE_VALUE)
            return GetLastError();
    }
    if (SetFilePointer(file, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        return error;
    }

    const std::wstring text = prefix.empty() ? message : prefix + L"|, " + message;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t head[64];
    _snwprintf(head, _countof(head) - 1, L"%02d/%02d/%d %02d:%02d:%02d.%03d, ", now.wMonth, now.wDay,
               now.wYear, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    head[_countof(head) - 1] = L'\0';
    const std::wstring line = head + text + L"\r\n";

    DWORD result = 0;
    DWORD written = 0;
    const DWORD bytes = static_cast<DWORD>(line.size() * sizeof(wchar_t));
    if (!WriteFile(file, line.data(), bytes, &written, nullptr))
        result = GetLastError();
    CloseHandle(file);
    return result;
}
