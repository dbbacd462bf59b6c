#include "worker_thread.h"

#include <process.h>

void CloseHandleSafe(HANDLE *slot)
{
    if (slot == nullptr)
        return;
    HANDLE handle = InterlockedExchangePointer(slot, nullptr);
    if (handle != nullptr)
        CloseHandle(handle);
}

int CWorkerThread::Start()
{
    if (m_ThreadHandle != nullptr)
        return 1;

    m_StopFlag = 0;
    m_StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_StopEvent == nullptr)
        return 0;

    unsigned id = 0;
    uintptr_t thread = _beginthreadex(nullptr, 0, m_Procedure, this, 0, &id);
    if (thread == 0) {
        CloseHandleSafe(&m_StopEvent);
        return 0;
    }
    m_ThreadId = id;
    m_ThreadHandle = reinterpret_cast<HANDLE>(thread);
    return 1;
}

void CWorkerThread::Stop()
{
    if (m_ThreadHandle == nullptr)
        return;

    // The flag is written before the event is set, so a procedure that wakes sees it.
    m_StopFlag = 1;
    SetEvent(m_StopEvent);

    if (WaitForSingleObject(m_ThreadHandle, StopWaitMs.load()) == WAIT_TIMEOUT)
        TerminateThread(m_ThreadHandle, 1);

    CloseHandleSafe(&m_ThreadHandle);
    CloseHandleSafe(&m_StopEvent);
    m_ThreadId = 0;
}
