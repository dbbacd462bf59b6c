#pragma once
// The installer's own text log: %ProgramFiles%\Vostrel-Quinbar\TLM\Logs\installer.log, UTF-16LE
// without a byte-order mark, one CR LF line per step, rolled over to installer.lo_ at 1 MiB. It
// sits beside the service's log but takes none of its locks: Windows Installer calls one action
// at a time, and the file is opened and closed for every line.

#include <windows.h>

#include <string>

class InstallerLog {
public:
    InstallerLog();
    ~InstallerLog();
    InstallerLog(const InstallerLog &) = delete;
    InstallerLog &operator=(const InstallerLog &) = delete;

    // Makes sure the folder and the file exist, then takes the name, base path and size limit.
    // Returns 0, the error of the Logs folder's creation (the file could still be made), or the
    // error of the file's creation (the log then stays unset).
    DWORD Open(const wchar_t *logName, const wchar_t *category);
    void SetCategory(const wchar_t *category);
    void SetFunction(const wchar_t *functionName);
    // printf-style, wide ("%s" a wide string, "%hs" an 8-bit one); returns the write's Win32 code.
    DWORD Printf(const wchar_t *format, ...);
    DWORD WriteLine(const std::wstring &prefix, const std::wstring &message);
    // Moves a full log aside. On return *file is the handle to append to, or INVALID_HANDLE_VALUE
    // when the caller has to open the log again (after a failed rename: 3).
    DWORD RotateIfNeeded(HANDLE *file);

    const std::wstring &BasePath() const { return m_BasePath; }
    DWORD SizeLimit() const { return m_SizeLimit; }

private:
    DWORD m_SizeLimit;
    std::wstring m_LogName;
    std::wstring m_BasePath;
    std::wstring m_Category;
    std::wstring m_Function;
};

extern InstallerLog g_InstallerLog;

// One line of an action's step: the function name for the line, then the message.
template <typename... Args>
void LogStep(const wchar_t *function, const wchar_t *format, Args... args)
{
    g_InstallerLog.SetFunction(function);
    g_InstallerLog.Printf(format, args...);
}

// The folder %ProgramFiles%\Vostrel-Quinbar\TLM\Logs\ with its trailing separator.
std::wstring InstallerLogFolder();
