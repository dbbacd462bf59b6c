#pragma once
// The in-process NIC service: Win2KMain runs a CMNicService on the service's loader thread, which
// starts the collection thread and returns once that thread has ended.
//
// The generic shell CNtService keeps the install and uninstall options of a service program; the
// library never enters the service control manager's dispatcher (Start clears run-as-service).

#include "collection_thread.h"
#include "nic_state.h"

#include <cstdio>

// The library's text log: the log object of this binary (LOG_* write through it), initialised
// by Win2KMain with log name "TLM" and module "NETVARDL".
extern CCommonLog &g_CommonLog;

// Export ordinal 3: the library's entry; returns 0 once the collection thread has ended.
extern "C" int Win2KMain(int argc, char **argv);

class CNtService {
public:
    CNtService(const wchar_t *serviceName, const wchar_t *displayName);
    virtual ~CNtService();
    CNtService(const CNtService &) = delete;
    CNtService &operator=(const CNtService &) = delete;

    virtual BOOL Install();
    virtual BOOL Uninstall();
    virtual BOOL Start();
    virtual BOOL Initialize() { return TRUE; }
    virtual void Run() = 0;
    virtual void RunAsExe() = 0;
    virtual BOOL OnUserControl() { return TRUE; }
    virtual void OnStop() {}
    virtual void OnInterrogate() {}
    virtual void OnPause() {}
    virtual void OnContinue() {}
    virtual void OnShutdown() {}
    virtual void ErrorExit() {}

    BOOL IsInstalled();
    // 1 when argv held one service option that was handled (nothing is to be started), else 0.
    int ParseStandardArgs(int argc, char **argv);
    void CheckPoint(DWORD waitHint);

    const wchar_t *GetServiceName() const { return m_ServiceName; }
    DWORD GetRunAsService() const { return m_RunAsService; }
    DWORD IsRunning() const { return m_Running; }

    // Where the option texts go; null means standard output (tests point it at a file).
    static std::FILE *s_Output;

protected:
    HANDLE m_StopEvent = nullptr;
    const wchar_t *m_ServiceName;
    const wchar_t *m_DisplayName;
    DWORD m_RunAsService = 1;
    DWORD m_Running = 0;
    DWORD m_CheckPoint = 0;
    DWORD m_CurrentState = 0;
    SERVICE_STATUS_HANDLE m_StatusHandle = nullptr;

private:
    void Print(const char *format, ...);
};

extern CNtService *g_NtService;

// The command queue of the dispatcher branch; in process nothing passes through it.
class CMsgQueue {
public:
    CMsgQueue() : m_ThreadId(GetCurrentThreadId()) {}
    virtual ~CMsgQueue() = default;
    int ReadWrite(void *, DWORD) { return 0; }

private:
    DWORD m_ThreadId;
};

class CMNicService : public CNtService {
public:
    static constexpr wchar_t kServiceName[] = L"ZDTNicMgmt";
    static constexpr wchar_t kDisplayName[] = L"Mirtol NIC Management Agents";
    static constexpr wchar_t kTimeoutKey[] = L"SYSTEM\\CurrentControlSet\\Services\\ZDTNicMgmt\\ZDTNICS";

    CMNicService();
    ~CMNicService() override;

    BOOL Initialize() override;
    void Run() override {}
    void RunAsExe() override;

    void OnStop() override {}
    void OnPause() override {}
    void OnContinue() override {}
    void OnShutdown() override {}
    virtual void HandleStopCommand() {}
    virtual void HandleShutdownCommand() {}
    virtual void HandlePauseCommand() {}
    virtual void HandleContinueCommand() {}
    virtual void HandleInitCommand() {}
    virtual void HandleInitCompleteCommand() {}
    virtual int CreateDCStruct(DCSTRUCT **out);
    virtual int GetSubService() { return 1; }

    // The collection period of a Timeout value: missing (read failed) gives the default, below
    // the minimum the minimum, else the value (0xFFFFFFFF: paused).
    static DWORD PeriodOf(bool read, DWORD value);
    const DCSTRUCT *GetDCStruct() const { return m_DCStruct; }
    DWORD GetState() const { return m_State; }

private:
    CMsgQueue *m_Queue = nullptr;
    DWORD m_State = 0;
    HANDLE m_ScmEvent = INVALID_HANDLE_VALUE;
    HANDLE m_InitEvent = INVALID_HANDLE_VALUE;
    HANDLE m_CmdDoneEvent = INVALID_HANDLE_VALUE;
    DWORD m_Command = 0;
    DCSTRUCT *m_DCStruct = nullptr;
    HANDLE m_TlmStopEvent = nullptr;
    // Made before the thread starts, so that its end is never signalled to nobody.
    HANDLE m_TerminateEvent = nullptr;
    HANDLE m_Thread = nullptr;
};
