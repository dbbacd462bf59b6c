#pragma once
// What the tests that run programs under Wine's service control manager share: the folder of the
// test program (the programs under test sit beside it), an owned service handle, and the events a
// simulation-build program wrote to its event file.
#include "event_sink.h"
#include "service_host.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace scmtest {

inline std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

inline std::vector<std::string> ReadLines(const std::wstring &path)
{
    std::vector<std::string> lines;
    std::ifstream in{std::filesystem::path(path)};
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

struct ServiceHandle {
    SC_HANDLE handle = nullptr;
    ~ServiceHandle()
    {
        if (handle)
            CloseServiceHandle(handle);
    }
};

// The events of one run of a program; event 101 is written just before the process ends, so this
// waits (up to a minute) for it.
inline std::vector<eventsink::Event> ReadEventFile(const std::wstring &path)
{
    std::vector<eventsink::Event> events;
    for (int tries = 0; tries < 1200; ++tries) {
        events.clear();
        for (const auto &line : ReadLines(path)) {
            eventsink::Event event;
            if (eventsink::ParseLine(line, &event))
                events.push_back(event);
        }
        if (!events.empty() && events.back().id == kEventProcessStopped)
            break;
        Sleep(50);
    }
    return events;
}

} // namespace scmtest
