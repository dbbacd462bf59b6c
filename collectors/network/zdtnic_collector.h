#pragma once
#include "datacollector.h"
#include "nic_handshake.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

// The waits of the NIC collector; tests shorten them.
struct NIC_COLLECTOR_TIMING {
    static inline std::atomic<uint32_t> InitDoneMs{kNicInitDoneWaitMs};
    static inline std::atomic<uint32_t> StopAckMs{kNicStopAckWaitMs};
    static inline std::atomic<uint32_t> LoaderExitMs{kNicLoaderExitWaitMs};
    // Register: polls of the readiness mark, the time between them, the pause before the trigger.
    static inline std::atomic<uint32_t> ReadyPolls{15};
    static inline std::atomic<uint32_t> ReadyPollMs{1000};
    static inline std::atomic<uint32_t> ReadyPauseMs{10000};
};

// The NIC collector of group 18: it loads the NIC library on a thread of its own, asks it for a
// fresh pass at every collection and stops it at service stop.
class ZDTNICDataCollector : public DATACOLLECTOR {
public:
    ZDTNICDataCollector();
    ~ZDTNICDataCollector() override;

    void Initialize() override;
    void Terminate() override;
    int Register(AXSESSION *session) override;
    void Collect(int firstRun, DATASTORE *staging) override;

    // The library's full path: netvarix.dll in the folder of the running executable.
    static bool LibraryPath(wchar_t *path, DWORD capacity);

private:
    static DWORD WINAPI NicLibraryThreadProc(void *collector);
    void RunNicLibrary();

    HANDLE m_LoaderThread = nullptr;
};

extern ZDTNICDataCollector s_ZDTNICDataCollector;
