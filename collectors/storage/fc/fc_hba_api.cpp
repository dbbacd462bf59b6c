#include "fc_hba_api.h"

#include "common_log.h"
#include "datacollector.h"
#include "fc_board_ids.h"

#include <cstring>
#include <utility>

CFCHBA_API s_FcHbaApi;

namespace {

// What a library reports is trusted only so far: a count beyond these is read as these many.
constexpr HBA_UINT32 kMaxAdapters = 256;
constexpr HBA_UINT32 kMaxPortsPerAdapter = 256;
constexpr size_t kAdapterNameSize = 256;

uint32_t PortStatusOf(uint32_t portState)
{
    switch (portState) {
    case HBA_PORTSTATE_ONLINE:
    case HBA_PORTSTATE_LINKDOWN:
        return 2;
    case HBA_PORTSTATE_OFFLINE:
    case HBA_PORTSTATE_BYPASSED:
        return 10;
    case HBA_PORTSTATE_DIAGNOSTICS:
    case HBA_PORTSTATE_LOOPBACK:
        return 11;
    case HBA_PORTSTATE_ERROR:
        return 6;
    default:
        return 0;
    }
}

// The adapter's status from all its ports at once, so that the order in which the library lists
// them does not matter: a failed port over a degraded one over an ok one.
uint32_t AdapterStatusOf(const std::vector<FC_PORT_RECORD> &ports)
{
    bool failed = false, degraded = false, ok = false;
    for (const FC_PORT_RECORD &port : ports) {
        switch (port.Status) {
        case 6: case 7: case 13:
            failed = true;
            break;
        case 3: case 4: case 5: case 10: case 11:
            degraded = true;
            break;
        case 2:
            ok = true;
            break;
        default:
            break;
        }
    }
    return failed ? 6 : degraded ? 3 : ok ? 2 : 0;
}

template <class Function> bool Resolve(HMODULE module, const char *name, Function *entry)
{
    *entry = reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    return *entry != nullptr;
}

HANDLE MakeMutex(const wchar_t *name)
{
    return CreateMutexW(nullptr, FALSE, name);
}

} // namespace

bool WaitFcMutex(HANDLE mutex)
{
    if (mutex == nullptr)
        return false;
    const DWORD wait = DATACOLLECTOR::WaitOrStop(mutex, FcHbaTimeouts::MutexWaitMs.load());
    // An abandoned mutex belongs to this thread now; the lists it guards are replaced whole, so
    // nothing half-written is read.
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED_0;
}

CFCHBA_API::CFCHBA_API()
{
    DWORD size = sizeof m_ComputerName / sizeof m_ComputerName[0];
    if (!GetComputerNameExW(ComputerNameNetBIOS, m_ComputerName, &size))
        m_ComputerName[0] = L'\0';
    m_ComputerName[sizeof m_ComputerName / sizeof m_ComputerName[0] - 1] = L'\0';
    m_CurrentListMutex = MakeMutex(L"_TlmFCHBACurrListMutex");
    m_ClientListMutex = MakeMutex(L"_TlmFCHBAClientListMutex");
    m_InitMutex = MakeMutex(L"_TlmFCHBAInitMutex");
}

CFCHBA_API::~CFCHBA_API()
{
    for (HANDLE *mutex : {&m_CurrentListMutex, &m_ClientListMutex, &m_InitMutex})
        if (*mutex != nullptr) {
            CloseHandle(*mutex);
            *mutex = nullptr;
        }
    Unload();
}

void CFCHBA_API::ResetForTests()
{
    Unload();
    m_Client = {};
    m_Previous = {};
    m_Current = {};
    m_AdaptersOpened = 0;
    m_FirstPoll = 1;
    m_PollCounter = 0;
    m_BoardId = 0;
}

LONG CFCHBA_API::prv_LoadAllHbaFunctions()
{
    LOG_VERBOSE(L"CFCHBA_API::prv_LoadAllHbaFunctions", L"Loading HBAAPI.DLL");
    m_GetVersion = nullptr;
    m_LoadLibrary = nullptr;
    m_FreeLibrary = nullptr;
    m_GetNumberOfAdapters = nullptr;
    m_GetAdapterName = nullptr;
    m_OpenAdapter = nullptr;
    m_CloseAdapter = nullptr;
    m_GetAdapterAttributes = nullptr;
    m_GetAdapterPortAttributes = nullptr;
    m_GetPortStatistics = nullptr;
    m_RefreshInformation = nullptr;
    m_Module = LoadLibraryW(L"HBAAPI.DLL");
    if (m_Module == nullptr) {
        LOG_VERBOSE(L"CFCHBA_API::prv_LoadAllHbaFunctions", L"Can't load HBAAPI.DLL");
        return FC_HBA_LIBRARY_NOT_FOUND;
    }
    bool all = true;
    all &= Resolve(m_Module, "HBA_GetVersion", &m_GetVersion);
    all &= Resolve(m_Module, "HBA_LoadLibrary", &m_LoadLibrary);
    all &= Resolve(m_Module, "HBA_FreeLibrary", &m_FreeLibrary);
    all &= Resolve(m_Module, "HBA_GetNumberOfAdapters", &m_GetNumberOfAdapters);
    all &= Resolve(m_Module, "HBA_GetAdapterName", &m_GetAdapterName);
    all &= Resolve(m_Module, "HBA_OpenAdapter", &m_OpenAdapter);
    all &= Resolve(m_Module, "HBA_CloseAdapter", &m_CloseAdapter);
    all &= Resolve(m_Module, "HBA_GetAdapterAttributes", &m_GetAdapterAttributes);
    all &= Resolve(m_Module, "HBA_GetAdapterPortAttributes", &m_GetAdapterPortAttributes);
    all &= Resolve(m_Module, "HBA_GetPortStatistics", &m_GetPortStatistics);
    all &= Resolve(m_Module, "HBA_RefreshInformation", &m_RefreshInformation);
    return all ? 0 : FC_HBA_EXPORT_MISSING;
}

LONG CFCHBA_API::EnsureLoaded()
{
    if (m_LoadStatus != -1)
        return m_LoadStatus;
    Unload();
    // The load's own result tells a missing library from one that lacks an entry point.
    const LONG loaded = prv_LoadAllHbaFunctions();
    if (loaded != 0)
        return loaded;
    m_Released = m_LoadLibrary();
    if (m_Released == HBA_STATUS_OK) {
        m_LoadStatus = 0;
        m_Version = m_GetVersion();
    }
    return m_LoadStatus;
}

void CFCHBA_API::Unload()
{
    if (m_Released == HBA_STATUS_OK && m_FreeLibrary != nullptr)
        m_FreeLibrary();
    m_Released = 1;
    if (m_Module != nullptr) {
        FreeLibrary(m_Module);
        m_Module = nullptr;
    }
    m_LoadStatus = -1;
}

void CFCHBA_API::PollAdapter(HBA_UINT32 index, uint32_t *slotOfLastPort, uint32_t *portCounter, LONG *result)
{
    char name[kAdapterNameSize + 1] = {};
    HBA_STATUS status = m_GetAdapterName(index, name);
    name[kAdapterNameSize] = '\0';
    if (status != HBA_STATUS_OK) {
        *result = static_cast<LONG>(status);
        return;
    }
    const HBA_HANDLE handle = m_OpenAdapter(name);
    if (handle == 0)
        return;
    FC_ADAPTER_RECORD adapter;
    status = m_GetAdapterAttributes(handle, &adapter.Attributes);
    if (status != HBA_STATUS_OK) {
        *result = static_cast<LONG>(status);
        m_CloseAdapter(handle);
        return;
    }
    ++m_AdaptersOpened;
    adapter.Handle = handle;
    adapter.Name = FcFieldText(name, kAdapterNameSize);
    adapter.NodeWwn = FcWwnText(adapter.Attributes.NodeWWN.wwn);
    adapter.Location = "N/A";
    adapter.Slot = 255;

    const HBA_UINT32 ports = adapter.Attributes.NumberOfPorts < kMaxPortsPerAdapter ? adapter.Attributes.NumberOfPorts
                                                                                     : kMaxPortsPerAdapter;
    adapter.Ports.resize(ports);
    for (HBA_UINT32 p = 0; p < ports; ++p) {
        FC_PORT_RECORD &port = adapter.Ports[p];
        port.Position = p;
        m_RefreshInformation(handle);
        status = m_GetAdapterPortAttributes(handle, p, &port.Attributes);
        if (status == HBA_STATUS_OK) {
            port.NodeWwn = FcWwnText(port.Attributes.NodeWWN.wwn);
            port.PortWwn = FcWwnText(port.Attributes.PortWWN.wwn);
            port.FabricWwn = FcWwnText(port.Attributes.FabricName.wwn);
            if (getHBAPCISlot(&adapter, &port) == 0) {
                const uint32_t slot = static_cast<uint32_t>(adapter.Slot);
                if (*portCounter != 0 && slot == *slotOfLastPort) {
                    ++*portCounter;
                } else {
                    *portCounter = 1;
                    *slotOfLastPort = slot;
                }
                port.Position = *portCounter;
                adapter.Location = FcLocationText(adapter.Slot, *portCounter);
            }
        } else {
            *result = static_cast<LONG>(status);
            port.Attributes = {};
        }
        adapter.ModelCode = FcBoardModelCode(m_BoardId);
        status = m_GetPortStatistics(handle, p, &port.Statistics);
        if (status != HBA_STATUS_OK)
            *result = static_cast<LONG>(status);
        port.Status = PortStatusOf(port.Attributes.PortState);
    }
    adapter.Status = AdapterStatusOf(adapter.Ports);
    m_CloseAdapter(handle);
    m_Current.Adapters.push_back(std::move(adapter));
}

LONG CFCHBA_API::pollHBAInfo(int keepPrevious)
{
    LOG_INFO(L"CFCHBA_API::pollHBAInfo", L"Polling FCHBA data.");
    m_BoardId = 0;
    uint32_t slotOfLastPort = 0;
    uint32_t portCounter = 0;
    if (!WaitFcMutex(m_CurrentListMutex))
        return ERROR_TIMEOUT;
    if (m_LoadStatus != 0) {
        const LONG loaded = EnsureLoaded();
        if (loaded != 0) {
            ReleaseMutex(m_CurrentListMutex);
            return loaded;
        }
    }
    // The list of the poll before stays one poll longer when asked to.
    m_Previous = keepPrevious ? std::move(m_Current) : FC_ADAPTER_LIST{};
    m_Current = {};
    m_AdaptersOpened = 0;
    LONG result = 0;
    HBA_UINT32 count = m_GetNumberOfAdapters();
    if (count > kMaxAdapters)
        count = kMaxAdapters;
    for (HBA_UINT32 i = 0; i < count; ++i)
        PollAdapter(i, &slotOfLastPort, &portCounter, &result);
    m_Current.Count = m_AdaptersOpened;
    m_FirstPoll = 0;
    ++m_PollCounter;
    ReleaseMutex(m_CurrentListMutex);
    return result;
}

void CFCHBA_API::CopyToClientList()
{
    if (!WaitFcMutex(m_CurrentListMutex))
        return;
    FC_ADAPTER_LIST copy = m_Current;
    m_PollCounter = 0;
    ReleaseMutex(m_CurrentListMutex);
    for (FC_ADAPTER_RECORD &adapter : copy.Adapters)
        for (FC_PORT_RECORD &port : adapter.Ports)
            port.Device = INVALID_HANDLE_VALUE;
    if (!WaitFcMutex(m_ClientListMutex))
        return;
    m_Client = std::move(copy);
    ReleaseMutex(m_ClientListMutex);
}

bool CFCHBA_API::LockClientList()
{
    ++m_Clients;
    if (WaitFcMutex(m_ClientListMutex))
        return true;
    --m_Clients;
    return false;
}

void CFCHBA_API::UnlockClientList()
{
    --m_Clients;
    ReleaseMutex(m_ClientListMutex);
}
