#pragma once
// TEMPORARY: stands in for service/log/common_log.h until the shared text log is merged; it is
// deleted then. Same macros, same arguments; the lines go to the debugger output meanwhile.

#include <windows.h>

#include <cstdarg>
#include <cwchar>

namespace pending_log {
inline void Write(const wchar_t *level, const wchar_t *function, const wchar_t *format, ...)
{
    wchar_t message[1024];
    va_list args;
    va_start(args, format);
    _vsnwprintf(message, sizeof(message) / sizeof(message[0]) - 1, format, args);
    va_end(args);
    message[sizeof(message) / sizeof(message[0]) - 1] = L'\0';
    wchar_t line[1200];
    _snwprintf(line, sizeof(line) / sizeof(line[0]) - 1, L"[%ls] |%ls|, %ls\r\n", level, function, message);
    line[sizeof(line) / sizeof(line[0]) - 1] = L'\0';
    OutputDebugStringW(line);
}
} // namespace pending_log

#define LOG_VERBOSE(function, ...) pending_log::Write(L"Verbose", function, __VA_ARGS__)
#define LOG_INFO(function, ...) pending_log::Write(L"Information", function, __VA_ARGS__)
#define LOG_WARNING(function, ...) pending_log::Write(L"Warning", function, __VA_ARGS__)
#define LOG_ERROR(function, ...) pending_log::Write(L"Error", function, __VA_ARGS__)
