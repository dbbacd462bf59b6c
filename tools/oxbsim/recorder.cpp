#include "recorder.h"

#include <cstdarg>
#include <cstdio>

Recorder::~Recorder()
{
    if (m_File != INVALID_HANDLE_VALUE)
        CloseHandle(m_File);
}

bool Recorder::Open(const std::wstring &path)
{
    m_File = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return m_File != INVALID_HANDLE_VALUE;
}

void Recorder::Line(const char *format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(line, sizeof(line) - 1, format, args);
    va_end(args);
    if (length < 0)
        return;
    if (static_cast<size_t>(length) > sizeof(line) - 2)
        length = sizeof(line) - 2;
    line[length++] = '\n';

    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_File == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(m_File, line, static_cast<DWORD>(length), &written, nullptr);
}
