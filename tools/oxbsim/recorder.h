#pragma once
// The record file: every event of the simulation, one line each, written through at once so that
// a test may read it while the simulator runs.

#include <windows.h>

#include <mutex>
#include <string>

class Recorder {
public:
    Recorder() = default;
    ~Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    // Starts the file afresh. Without a file, lines go nowhere.
    bool Open(const std::wstring &path);
    void Line(const char *format, ...) __attribute__((format(printf, 2, 3)));

private:
    std::mutex m_Lock;
    HANDLE m_File = INVALID_HANDLE_VALUE;
};
