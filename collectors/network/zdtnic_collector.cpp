#include "zdtnic_collector.h"

#include "agentx_pdu.h"
#include "ax_session.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "nic_records.h"
#include "registry.h"
#include "scheduler.h"
#include "service_parameters.h"

#include <cwchar>

ZDTNICDataCollector s_ZDTNICDataCollector;

namespace {

constexpr int kRegistrationPriority = 127;
// Set once the traps are sent; the service's network watcher waits for it.
constexpr wchar_t kNicSendTrapDoneEvent[] = L"ZdtNICSendTrapDone";

// A named event of the contract, opened (or made) for one step and closed with it.
struct NamedEvent {
    HANDLE handle;
    explicit NamedEvent(const wchar_t *name) : handle(CreateEventW(nullptr, FALSE, FALSE, name)) {}
    ~NamedEvent()
    {
        if (handle != nullptr)
            CloseHandle(handle);
    }
    NamedEvent(const NamedEvent &) = delete;
    NamedEvent &operator=(const NamedEvent &) = delete;
};

} // namespace

ZDTNICDataCollector::ZDTNICDataCollector() : DATACOLLECTOR(L"ZDTNIC", 18, 1, 48, &s_ServiceParameters.EnableZDTNIC)
{}

ZDTNICDataCollector::~ZDTNICDataCollector() = default;

void ZDTNICDataCollector::Initialize()
{
    DATACOLLECTOR::Initialize();
    if (m_LoaderThread == nullptr)
        m_LoaderThread = CreateThread(nullptr, 0, NicLibraryThreadProc, this, 0, nullptr);
}

DWORD WINAPI ZDTNICDataCollector::NicLibraryThreadProc(void *collector)
{
    static_cast<ZDTNICDataCollector *>(collector)->RunNicLibrary();
    return 0;
}

bool ZDTNICDataCollector::LibraryPath(wchar_t *path, DWORD capacity)
{
    const DWORD length = GetModuleFileNameW(nullptr, path, capacity);
    if (length == 0 || length >= capacity)
        return false;
    wchar_t *slash = wcsrchr(path, L'\\');
    wchar_t *other = wcsrchr(path, L'/');
    if (other != nullptr && (slash == nullptr || other > slash))
        slash = other;
    const size_t folder = slash == nullptr ? 0 : static_cast<size_t>(slash - path) + 1;
    const size_t name = wcslen(kNicLibraryFileName);
    if (folder + name + 1 > capacity)
        return false;
    wmemcpy(path + folder, kNicLibraryFileName, name + 1);
    return true;
}

void ZDTNICDataCollector::RunNicLibrary()
{
    CRegistry::DeleteTree(HKEY_LOCAL_MACHINE, L"System\\qzrtlm");
    CRegistry::DeleteTree(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\juv\\MibStore\\ZDTNIC");
    // The service runs as LocalSystem with the system folder as its current directory: the
    // library is taken from the service's own folder, never found along the search path.
    wchar_t path[MAX_PATH];
    if (!LibraryPath(path, MAX_PATH))
        return;
    HMODULE library = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr)
        return;
    NicLibraryEntry entry =
        reinterpret_cast<NicLibraryEntry>(reinterpret_cast<void *>(GetProcAddress(library, kNicLibraryEntryName)));
    if (entry != nullptr) {
        char *noArguments[1] = {nullptr};
        entry(0, noArguments);
    }
    FreeLibrary(library);
}

bool ZDTNICDataCollector::IsLibraryThreadRunning() const
{
    return m_LoaderThread != nullptr && WaitForSingleObject(m_LoaderThread, 0) == WAIT_TIMEOUT;
}

void ZDTNICDataCollector::Terminate()
{
    // The stop handshake only when a library thread may answer it: without the library, or once
    // its thread has ended, the stop event would only make the service wait out the whole
    // acknowledgement time (the events are made, not just opened, here).
    if (IsLibraryThreadRunning()) {
        // The acknowledgement is opened before the stop is set: an answer that comes at once
        // would otherwise be lost with the library's handle.
        NamedEvent ack(kNicStopAckEvent);
        NamedEvent stop(kNicStopEvent);
        if (stop.handle != nullptr) {
            LOG_VERBOSE(L"ZDTNICDataCollector::Terminate", L"Set event notification: TLM_STOP_EVENT");
            SetEvent(stop.handle);
            if (ack.handle != nullptr) {
                if (WaitForSingleObject(ack.handle, NIC_COLLECTOR_TIMING::StopAckMs.load()) == WAIT_OBJECT_0)
                    LOG_VERBOSE(L"ZDTNICDataCollector::Terminate", L"Received event notification: ACK_TLM_STOP_EVENT");
                else
                    LOG_VERBOSE(L"ZDTNICDataCollector::Terminate", L"No receive ACK_TLM_STOPPING. Timeout or other fail.");
            }
        }
    }
    if (m_LoaderThread != nullptr) {
        // The loader thread frees the library once Win2KMain returns; terminating it inside
        // the library would leave the library loaded and its collection thread running, so that
        // is only the last resort.
        if (WaitForSingleObject(m_LoaderThread, NIC_COLLECTOR_TIMING::LoaderExitMs.load()) != WAIT_OBJECT_0)
            TerminateThread(m_LoaderThread, 0);
        CloseHandle(m_LoaderThread);
        m_LoaderThread = nullptr;
    }
    DATACOLLECTOR::Terminate();
}

int ZDTNICDataCollector::Register(AXSESSION *session)
{
    {
        // The library makes the Interface key volatile; a key made here would outlive a reboot
        // with stale records, so the mark goes only into a key that exists.
        CRegistry interfaceKey(HKEY_LOCAL_MACHINE, kNicInterfaceKey, MAXIMUM_ALLOWED);
        if (interfaceKey.Open())
            interfaceKey.SetDword(kNicInterfaceDataReadyName, 0);
    }
    bool ready = false;
    const uint32_t polls = NIC_COLLECTOR_TIMING::ReadyPolls.load();
    for (uint32_t poll = 0; poll < polls && !ready; ++poll) {
        CRegistry interfaceKey(HKEY_LOCAL_MACHINE, kNicInterfaceKey, KEY_READ);
        DWORD value = 0;
        if (interfaceKey.Open() && interfaceKey.GetDword(kNicInterfaceDataReadyName, &value) && value != 0)
            ready = true;
        else
            Sleep(NIC_COLLECTOR_TIMING::ReadyPollMs.load());
    }
    if (!ready) {
        Sleep(NIC_COLLECTOR_TIMING::ReadyPauseMs.load());
        TriggerCollection(L"ZDTNIC", 0);
    }
    static const uint32_t kRegions[][3] = {{1}, {2, 2}, {2, 3, 1}, {2, 4, 1}};
    int result = 0;
    for (const auto &below : kRegions) {
        MIBOID oid = EnterpriseOid({18});
        for (uint32_t id : below)
            if (id != 0)
                oid.Append(id);
        uint8_t encoded[AGENTX_PDU_BUFFER_SIZE / 4];
        EncodeAgentXOid(oid, encoded);
        const int registered = session->Register(encoded, kRegistrationPriority);
        if (registered != 0)
            result = registered;
    }
    return result;
}

void ZDTNICDataCollector::Collect(int firstRun, DATASTORE *staging)
{
    (void)firstRun;
    LOG_INFO(L"ZDTNICDataCollector::Collect", L"Starting NIC collector.");
    {
        LOG_VERBOSE(L"ZDTNICDataCollector::Collect", L"CreateEvent: ZdtMNicInitEvent_Done");
        // Done is opened before Init is set, and both stay open through the wait: a pass that
        // ends at once, or a library that opens its handle only now, loses no signal.
        NamedEvent done(kNicInitDoneEvent);
        NamedEvent init(kNicInitEvent);
        if (init.handle != nullptr)
            SetEvent(init.handle);
        if (done.handle != nullptr) {
            LOG_VERBOSE(L"ZDTNICDataCollector::Collect", L"Wait for signal..(max wait time is upto 5 minutes)");
            const DWORD waited = WaitOrStop(done.handle, NIC_COLLECTOR_TIMING::InitDoneMs.load());
            if (waited == COLLECTOR_WAIT_OBJECT)
                LOG_VERBOSE(L"ZDTNICDataCollector::Collect", L"Received event notification: ZdtMNicInitEvent_Done");
            else if (waited == COLLECTOR_WAIT_STOP)
                ; // the service stops: Terminate follows
            else if (waited == WAIT_TIMEOUT)
                LOG_VERBOSE(L"ZDTNICDataCollector::Collect", L"Timeout elapsed while waiting for signal.");
            else if (waited == WAIT_ABANDONED)
                LOG_WARNING(L"ZDTNICDataCollector::Collect", L"Wait abondoned.");
            else if (waited == WAIT_FAILED)
                LOG_WARNING(L"ZDTNICDataCollector::Collect", L"Function failed! Error code: %d",
                            static_cast<int>(GetLastError()));
            else
                LOG_WARNING(L"ZDTNICDataCollector::Collect", L"Unknown signal state.");
        }
    }
    LOG_INFO(L"ZDTNICDataCollector::Collect", L"Update all the NIC data.");
    // The library's records are read once for the whole collection: the adapter list, the traps
    // and the tables all see the same generation, and the readiness waits are paid once.
    ReadCollectionRecords();
    UpdateAllData();
    CheckTraps();
    {
        NamedEvent trapsDone(kNicSendTrapDoneEvent);
        if (trapsDone.handle != nullptr)
            SetEvent(trapsDone.handle);
    }
    if (staging == nullptr)
        return;
    Report_zdtNicIfPhysAdapter(staging);
    Report_zdtNicIfLogMap(staging);
    Report_zdtNicIfVLanMap(staging);
}
