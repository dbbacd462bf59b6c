// Event writer of the simulation build: one line per event in "<program>.events.txt" beside the
// program, appended under a named mutex so that several processes may write.
#include "event_sink.h"

#include <string>

namespace eventsink {
namespace {

std::wstring EventFilePath()
{
    wchar_t module[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return L"events.txt";
    std::wstring path(module, length);
    size_t dot = path.find_last_of(L'.');
    size_t slash = path.find_last_of(L"\\/");
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
        path.resize(dot);
    return path + L".events.txt";
}

} // namespace

HANDLE Register(const wchar_t *source)
{
    return NewNamedSource(source);
}

bool Report(HANDLE source, WORD type, WORD category, DWORD id, WORD count, const wchar_t **strings)
{
    Event event;
    if (!MakeEvent(source, type, category, id, count, strings, &event))
        return false;
    std::string line = FormatLine(event);

    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\TlmSimEventFile");
    if (mutex != nullptr)
        WaitForSingleObject(mutex, 10000);
    bool written = false;
    HANDLE file = CreateFileW(EventFilePath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD done = 0;
        written = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &done, nullptr) && done == line.size();
        CloseHandle(file);
    }
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    return written;
}

void Deregister(HANDLE source)
{
    DeleteNamedSource(source);
}

} // namespace eventsink
