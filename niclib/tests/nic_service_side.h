#pragma once
// The service's side of the handshake with the NIC library, played by the tests the way the
// contract in nic_handshake.h asks: a loader thread that calls Win2KMain (from a loaded DLL, or
// linked in) and frees the library when it returns, a collection that opens its Done handle
// before it sets Init, a stop that opens its acknowledgement before it sets the stop event and
// then waits, bounded, for the loader thread.

#include "nic_handshake.h"

#include <windows.h>

#include <atomic>
#include <string>

class NicServiceSide {
public:
    explicit NicServiceSide(NicHandshakeTimeouts timeouts = NicHandshakeTimeouts()) : m_Timeouts(timeouts) {}
    ~NicServiceSide();
    NicServiceSide(const NicServiceSide &) = delete;
    NicServiceSide &operator=(const NicServiceSide &) = delete;

    // Loads the library by path, finds ordinal 3 and calls it on the loader thread.
    bool StartLibrary(const std::wstring &path);
    // Calls a linked entry on the loader thread.
    bool StartEntry(NicLibraryEntry entry, int argc = 0, char **argv = nullptr);

    // One collection's handshake: WAIT_OBJECT_0 when a Done came, WAIT_TIMEOUT otherwise.
    DWORD Collect();
    // The registration's mark: 0 into the Interface key when it exists; false when it does not.
    bool MarkNotReady();

    struct StopResult {
        bool acknowledged = false;
        bool returned = false;   // Win2KMain returned (and the library was freed) in time
        bool terminated = false; // the loader thread had to be terminated
    };
    StopResult Stop();

    // Waits for the loader thread; true when it ended.
    bool WaitLoader(DWORD milliseconds);
    bool LoaderEnded() const { return m_Ended.load(); }
    int EntryResult() const { return m_Result.load(); }

private:
    static DWORD WINAPI LoaderThread(void *self);

    NicHandshakeTimeouts m_Timeouts;
    std::wstring m_Path;
    NicLibraryEntry m_Entry = nullptr;
    int m_Argc = 0;
    char **m_Argv = nullptr;
    char *m_NoArguments[1] = {nullptr};
    HANDLE m_Loader = nullptr;
    HANDLE m_Started = nullptr;
    std::atomic<bool> m_Ended{false};
    std::atomic<bool> m_Loaded{false};
    std::atomic<int> m_Result{-1};
};
