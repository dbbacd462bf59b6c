#include "nic_service.h"

#include "common_log.h"
#include "nic_handshake.h"
#include "nic_platform.h"
#include "registry_key.h"

#include <process.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

// The library's log object: the text log of this binary, initialised by Win2KMain.
CCommonLog &g_CommonLog = s_CommonLog;

CNtService *g_NtService = nullptr;
std::FILE *CNtService::s_Output = nullptr;

namespace {

// Closes a handle of the service object that may hold either "none" value.
void CloseEventHandle(HANDLE *handle)
{
    if (*handle != nullptr && *handle != INVALID_HANDLE_VALUE)
        CloseHandle(*handle);
    *handle = nullptr;
}

struct ScHandle {
    SC_HANDLE handle;
    explicit ScHandle(SC_HANDLE h) : handle(h) {}
    ~ScHandle()
    {
        if (handle != nullptr)
            CloseServiceHandle(handle);
    }
    ScHandle(const ScHandle &) = delete;
    ScHandle &operator=(const ScHandle &) = delete;
};

} // namespace

CNtService::CNtService(const wchar_t *serviceName, const wchar_t *displayName)
    : m_ServiceName(serviceName), m_DisplayName(displayName)
{
    g_NtService = this;
}

CNtService::~CNtService()
{
    if (g_NtService == this)
        g_NtService = nullptr;
}

void CNtService::Print(const char *format, ...)
{
    std::FILE *out = s_Output != nullptr ? s_Output : stdout;
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    std::fflush(out);
}

BOOL CNtService::IsInstalled()
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager.handle == nullptr)
        return FALSE;
    ScHandle service(OpenServiceW(manager.handle, m_ServiceName, SERVICE_QUERY_CONFIG));
    return service.handle != nullptr;
}

BOOL CNtService::Install()
{
    if (IsInstalled())
        return TRUE;
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager.handle == nullptr) {
        Print("%ls: Couldn't open service manager\n", m_ServiceName);
        return FALSE;
    }
    wchar_t path[512];
    DWORD length = GetModuleFileNameW(nullptr, path, 512);
    if (length == 0 || length >= 512) {
        Print("%ls: Couldn't get module file name: %lu\n", m_ServiceName, GetLastError());
        return FALSE;
    }
    ScHandle service(CreateServiceW(manager.handle, m_ServiceName, m_DisplayName, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path,
                                    nullptr, nullptr, nullptr, nullptr, nullptr));
    if (service.handle == nullptr) {
        Print("%ls: Couldn't create service.\n", m_ServiceName);
        return FALSE;
    }
    return TRUE;
}

BOOL CNtService::Uninstall()
{
    if (!IsInstalled())
        return TRUE;
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager.handle == nullptr) {
        Print("%ls: Couldn't open service manager: %lu\n", m_ServiceName, GetLastError());
        return FALSE;
    }
    ScHandle service(OpenServiceW(manager.handle, m_ServiceName, DELETE | SERVICE_STOP));
    if (service.handle == nullptr) {
        Print("%ls: Couldn't open service: %lu\n", m_ServiceName, GetLastError());
        return FALSE;
    }
    SERVICE_STATUS status = {};
    // A service that is not running is as stopped as it gets.
    if (!ControlService(service.handle, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        Print("%ls: ControlService failed: %lu\n", m_ServiceName, GetLastError());
        return FALSE;
    }
    if (!DeleteService(service.handle)) {
        Print("%ls: Service could not be deleted: %lu\n", m_ServiceName, GetLastError());
        return FALSE;
    }
    return TRUE;
}

int CNtService::ParseStandardArgs(int argc, char **argv)
{
    if (argc != 2 || argv == nullptr || argv[1] == nullptr || (argv[1][0] != '/' && argv[1][0] != '-'))
        return 0;
    const char *option = argv[1] + 1;
    if (_stricmp(option, "install") == 0) {
        if (IsInstalled())
            Print("%ls is already installed.\n", m_ServiceName);
        else if (Install())
            Print("%ls installed.\n", m_ServiceName);
        else
            Print("%ls failed to install, error: %lu\n", m_ServiceName, GetLastError());
        return 1;
    }
    if (_stricmp(option, "uninstall") == 0) {
        if (!IsInstalled())
            Print("%ls is not installed.\n", m_ServiceName);
        else if (Uninstall())
            Print("%ls uninstalled.\n", m_ServiceName);
        else
            Print("%ls failed to uninstall, error: %lu\n", m_ServiceName, GetLastError());
        return 1;
    }
    if (_stricmp(option, "reinstall") == 0) {
        // A reinstall that only removed the registration would leave no service at all.
        if (IsInstalled() && !Uninstall()) {
            Print("%ls failed to uninstall, error: %lu\n", m_ServiceName, GetLastError());
            return 1;
        }
        if (Install())
            Print("%ls reinstalled.\n", m_ServiceName);
        else
            Print("%ls failed to reinstall, error: %lu\n", m_ServiceName, GetLastError());
        return 1;
    }
    if (_stricmp(option, "runasexe") == 0) {
        m_RunAsService = 0;
        return 0;
    }
    return 1;
}

void CNtService::CheckPoint(DWORD waitHint)
{
    LOG_VERBOSE(L"CNtService::CheckPoint", L"WaitHint: %d", static_cast<int>(waitHint));
}

BOOL CNtService::Start()
{
    m_RunAsService = 0;
    LOG_INFO(L"CNtService::Start", L"Starting service..");
    if (Initialize()) {
        m_Running = 1;
        RunAsExe();
    }
    return FALSE;
}

CMNicService::CMNicService() : CNtService(kServiceName, kDisplayName) {}

CMNicService::~CMNicService()
{
    CloseEventHandle(&m_ScmEvent);
    CloseEventHandle(&m_InitEvent);
    CloseEventHandle(&m_CmdDoneEvent);
    CloseEventHandle(&m_TlmStopEvent);
    CloseEventHandle(&m_TerminateEvent);
    CloseEventHandle(&m_Thread);
    delete m_Queue;
    std::free(m_DCStruct);
}

DWORD CMNicService::PeriodOf(bool read, DWORD value)
{
    if (!read)
        return g_NicThreadTimings.defaultPeriodMs;
    return value < g_NicThreadTimings.minimumPeriodMs ? g_NicThreadTimings.minimumPeriodMs : value;
}

int CMNicService::CreateDCStruct(DCSTRUCT **out)
{
    constexpr wchar_t kFunction[] = L"CMNicService::CreateDCStruct";
    DWORD period = 0;
    {
        CRegistryKey key = g_LocalMachineKey.OpenKey(kTimeoutKey, KEY_READ, 0, 1);
        if (!key.IsOpen()) {
            period = PeriodOf(false, 0);
        } else {
            DWORD value = 0;
            key.GetDWORDValue(L"Timeout", &value, 1);
            period = PeriodOf(key.GetError() == ERROR_SUCCESS, value);
        }
    }

    *out = static_cast<DCSTRUCT *>(std::calloc(1, sizeof(DCSTRUCT)));
    if (*out == nullptr) {
        LOG_ERROR(kFunction, L"Can't allocate dcstruct. Return code: %d", static_cast<int>(GetLastError()));
        return 0;
    }
    DCSTRUCT *dc = *out;
    dc->runAsService = m_RunAsService;
    dc->period = period;

    m_ScmEvent = CreateEventW(nullptr, FALSE, FALSE, kNicScmEvent);
    if (m_ScmEvent == nullptr) {
        LOG_ERROR(kFunction, L"Can't create SCM event. Return code: %d", static_cast<int>(GetLastError()));
        return 0;
    }
    dc->scmEvent = m_ScmEvent;
    m_InitEvent = CreateEventW(nullptr, FALSE, FALSE, kNicInitEvent);
    if (m_InitEvent == nullptr) {
        LOG_VERBOSE(kFunction, L"Can't create Command event. Return code: %d", static_cast<int>(GetLastError()));
        return 0;
    }
    dc->initEvent = m_InitEvent;
    m_CmdDoneEvent = CreateEventW(nullptr, FALSE, FALSE, kNicCmdDoneEvent);
    if (m_CmdDoneEvent == nullptr) {
        LOG_VERBOSE(kFunction, L"Can't create CommandDone event. Return code: %d", static_cast<int>(GetLastError()));
        return 0;
    }
    dc->cmdDoneEvent = m_CmdDoneEvent;
    dc->command = &m_Command;

    LOG_VERBOSE(kFunction, L"m_pCMsgQueue: 0x%X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(m_Queue)));
    dc->queue = m_Queue;

    m_TlmStopEvent = CreateEventW(nullptr, FALSE, FALSE, kNicStopEvent);
    if (m_TlmStopEvent == nullptr) {
        LOG_VERBOSE(kFunction, L"Can't create TLM stop event. Return code: %d", static_cast<int>(GetLastError()));
        return 0;
    }
    dc->stopEvent = m_TlmStopEvent;
    return 1;
}

BOOL CMNicService::Initialize()
{
    constexpr wchar_t kFunction[] = L"CMNicService::Initialize";
    CheckPoint(20000);
    m_Queue = new (std::nothrow) CMsgQueue();
    if (m_Queue == nullptr) {
        LOG_ERROR(kFunction, L"Failed to create CMsgQueue object. Return code: %d", static_cast<int>(GetLastError()));
        return FALSE;
    }
    if (!CreateDCStruct(&m_DCStruct)) {
        LOG_ERROR(kFunction, L"Failed to create data collection sturcture.");
        return FALSE;
    }
    GetSubService();
    m_TerminateEvent = CreateEventW(nullptr, FALSE, FALSE, kNicTerminateThreadEvent);
    if (m_TerminateEvent == nullptr) {
        LOG_VERBOSE(L"CMNicService::RunAsExe", L"Create Terminate_Thread_Event fail");
        return FALSE;
    }
    uintptr_t thread = _beginthreadex(nullptr, 0, DataCollectionThread, m_DCStruct, 0, nullptr);
    if (thread == 0) {
        LOG_ERROR(kFunction, L"Can't start data collection thread. Return code: %d", static_cast<int>(GetLastError()));
        return FALSE;
    }
    m_Thread = reinterpret_cast<HANDLE>(thread);
    m_State = 1;
    return TRUE;
}

void CMNicService::RunAsExe()
{
    // No read of standard input: in a process whose input is an open pipe or a console it would
    // hold the loader thread while nothing is collected or stopped.
    const HANDLE waits[2] = {m_TerminateEvent, m_Thread};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0)
        LOG_VERBOSE(L"CMNicService::RunAsExe", L"Receive Terminate_Thread_Event");
    // The thread still runs a few instructions of the library after its signal; the caller may
    // unload the library once Win2KMain returns, so wait for the thread itself.
    WaitForSingleObject(m_Thread, INFINITE);
    CloseEventHandle(&m_TerminateEvent);
    CloseEventHandle(&m_Thread);
}

extern "C" int Win2KMain(int argc, char **argv)
{
    constexpr wchar_t kFunction[] = L"Win2KMain";
    g_CommonLog.LogInit(L"TLM", L"NETVARDL");
    LOG_INFO(kFunction, L"Starting network agents service.");
    g_UpdatePass = 0;
    g_LogicalAdapterConditionMap.clear();
    g_PhysicalAdapterConditionMap.clear();
    // In the interface table's unit (10 ms ticks since the system started), so that an
    // interface's dwLastChange minus this stamp is its change since the library started.
    g_StartStamp = static_cast<uint32_t>(Nic().GetTickCount64() / 10);
    LOG_INFO(kFunction, L"Creating service object.");
    {
        CMNicService service;
        if (!service.ParseStandardArgs(argc, argv))
            service.Start();
        LOG_INFO(kFunction, L"NIC service started!");
    }
    return 0;
}
