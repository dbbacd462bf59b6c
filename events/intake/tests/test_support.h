#pragma once
// What the intake and event-source tests share: packets, the text log, services and files.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kdl_entry_bytes.h"

namespace kdltest {

struct ServiceHandleClose {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using UniqueServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleClose>;


// A channel packet of command 149 carrying the entry at offset 16; the packet's size field says
// how many bytes it holds.
std::vector<uint8_t> Packet(const EntryFields &entry);

// The folder the test program lies in, with a trailing backslash.
std::wstring ProgramFolder();
// A fresh empty folder under the temporary folder, with a trailing backslash.
std::wstring MakeTempFolder(const wchar_t *name);
std::string ReadFileBytes(const std::wstring &path);
bool WriteFileBytes(const std::wstring &path, const std::string &bytes);

// Points the text log at a fresh folder at the most verbose level and starts it.
void StartTextLog();
// Everything the text log holds now.
std::wstring ReadTextLog();

// Services made by a test and deleted when the object dies. Each runs the fake service program.
class FakeServices {
public:
    FakeServices();
    ~FakeServices();
    FakeServices(const FakeServices &) = delete;
    FakeServices &operator=(const FakeServices &) = delete;

    bool Create(const wchar_t *name);
    bool Start(const wchar_t *name);
    bool Stop(const wchar_t *name);
    bool Delete(const wchar_t *name);
    // The state the manager reports, or 0 when the service cannot be queried.
    DWORD State(const wchar_t *name);

private:
    bool WaitForState(SC_HANDLE service, DWORD state);
    UniqueServiceHandle m_Manager;
    std::vector<std::wstring> m_Created;
};

} // namespace kdltest
