#pragma once
// Named worker threads that stop on request.
//
// Every long-running thread of the service is a CWorkerThread: the owner starts it once and stops
// it once. The procedure loops until m_StopFlag is 1 and makes every pause a wait on m_StopEvent,
// so a stop ends a pause at once. A procedure that does not end within StopWaitMs is terminated,
// so a hung thread can never hold up the service's stop.

#include <windows.h>

#include <atomic>

// Takes the handle out of its slot (atomic exchange with null) and closes it when it was set.
void CloseHandleSafe(HANDLE *slot);

struct CWorkerThread {
    using Procedure = unsigned(__stdcall *)(void *record);

    const wchar_t *m_Name = nullptr;      // for readers of the code and the log only
    Procedure m_Procedure = nullptr;      // receives a pointer to this record
    void *m_Context = nullptr;            // the owner's object, or null
    HANDLE m_StopEvent = nullptr;         // manual-reset; the procedure's pauses wait on it
    std::atomic<int> m_StopFlag{0};       // 1 once a stop was requested
    HANDLE m_ThreadHandle = nullptr;      // null while not running
    unsigned m_ThreadId = 0;

    // How long Stop waits for the procedure before terminating it. Tests shorten it.
    static inline std::atomic<DWORD> StopWaitMs{30000};

    // 1 when the thread runs (also when it already ran), 0 when it could not be started; a
    // failed start leaves the record as it was.
    int Start();
    // Returns once the thread has ended or was terminated; nothing when it never started.
    void Stop();

    bool StopRequested() const { return m_StopFlag.load() != 0; }
    // A pause of the procedure: true when the stop event ended it.
    bool Pause(DWORD milliseconds) const { return WaitForSingleObject(m_StopEvent, milliseconds) == WAIT_OBJECT_0; }
};
