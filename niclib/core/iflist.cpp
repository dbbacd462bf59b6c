#include "iflist.h"

#include "common_log.h"
#include "com_holders.h"
#include "miniport.h"
#include "nic_platform.h"
#include "nic_text.h"
#include "physical_adapter.h"
#include "registry_key.h"
#include "trap.h"

#include <netcon.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

namespace {

constexpr wchar_t kSystemKey[] = L"SYSTEM";
constexpr wchar_t kInterfaceSubKey[] = L"Interface";
constexpr wchar_t kBridgingInfoSubKey[] = L"BridgingInfo";
// Below SYSTEM, in the order they are created (each below the one before).
constexpr const wchar_t *kRecordKeysBelowSystem[] = {
    L"QZTLMNetwork\\Interface\\LogInterfaceMap",
    L"QZTLMNetwork\\Interface\\PhysInterface",
    L"QZTLMNetwork\\Interface\\VlanInterface",
};
constexpr wchar_t kMibStoreEthernetBelowSystem[] = L"CurrentControlSet\\Services\\JUV\\MibStore\\ZDTNIC\\Ethernet";
constexpr wchar_t kMibStoreStatisticsBelowSystem[] =
    L"CurrentControlSet\\Services\\JUV\\MibStore\\ZDTNIC\\Ethernet\\Statistics";
constexpr uint8_t kSoftwareRevisionMajor = 1;
constexpr uint8_t kSoftwareRevisionMinor = 46;
// Connection characteristics and media type of the sharing manager's connections.
constexpr DWORD kBridgedConnection = 0x200; // NCCF_BRIDGED
constexpr int kBridgeMedia = 7;             // NCM_BRIDGE
// Room for a bridge connection name read back (wide characters, terminator included).
constexpr size_t kBridgeNameChars = 128;

std::wstring Widen(const std::string &text)
{
    if (text.empty())
        return {};
    int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (chars <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), chars);
    return wide;
}

bool SameTextNoCase(const std::wstring &a, const std::wstring &b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// Opened (and closed) around the sharing manager's enumeration when this thread may still start
// COM; the collection thread already runs in the multithreaded apartment.
struct ApartmentScope {
    HRESULT result;
    ApartmentScope() : result(CoInitialize(nullptr)) {}
    ~ApartmentScope()
    {
        if (SUCCEEDED(result))
            CoUninitialize();
    }
    ApartmentScope(const ApartmentScope &) = delete;
    ApartmentScope &operator=(const ApartmentScope &) = delete;
};

std::wstring BstrText(const CBstr &text)
{
    return text.Get() != nullptr ? std::wstring(text.Get(), SysStringLen(text.Get())) : std::wstring();
}

// The loopback rows of the generation's table, by interface index: an interface row of type 24
// is the loopback whatever type its adapter took on at Init.
bool IsLoopbackIndex(const std::vector<MIB_IFROW> &rows, int32_t index)
{
    for (const MIB_IFROW &row : rows)
        if (row.dwType == kIfTypeSoftwareLoopback && static_cast<int32_t>(row.dwIndex) == index)
            return true;
    return false;
}

} // namespace

LONG SetRegistryText(CRegistryKey *key, const wchar_t *name, const std::wstring &text)
{
    // The stored size covers the terminator, so that no reader sees a text without one.
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return key->SetRegistryValue(name, REG_SZ, text.c_str(), bytes);
}

CIFList::CIFList()
{
    ResetLogicalAdapterIndex();
    ResetPhysicalAdapterIndex();
    ResetVlanIndex();
}

CIFList::~CIFList()
{
    ResetLogicalAdapterIndex();
    ResetPhysicalAdapterIndex();
    ResetVlanIndex();
    DeleteAdapters();
    delete m_IfTable;
    m_IfTable = nullptr;
    m_InitRows.clear();
    if (m_KeepRecords)
        return;
    // Readers must not take a record key that is going away.
    SetReady(0);
    DeleteRegistryKeys();
}

void CIFList::DeleteAdapters()
{
    while (m_Head != nullptr) {
        LOGADAPTERNODE *next = m_Head->next;
        DeleteListNode(m_Head);
        m_Head = next;
    }
    m_Tail = nullptr;
    m_Count = 0;
}

void CIFList::Append(LOGADAPTERNODE *node)
{
    SetListNodeNext(node, static_cast<LOGADAPTERNODE *>(nullptr));
    if (m_Tail != nullptr)
        SetListNodeNext(m_Tail, node);
    else
        m_Head = node;
    m_Tail = node;
}

void CIFList::SetReady(DWORD ready)
{
    CRegistryKey key = g_LocalMachineKey.OpenKey(kNicInterfaceKey, KEY_SET_VALUE, 0, 0);
    if (key.IsOpen())
        key.SetRegistryValue(kNicInterfaceDataReadyValue, REG_DWORD, &ready, sizeof(ready));
}

DWORD CIFList::Init(CTrap *trap)
{
    constexpr wchar_t kFunction[] = L"CIFList::Init";
    m_Trap = trap;
    // Whatever an earlier generation or an earlier run of the library left is about to be
    // replaced: readers wait until the first pass has written this generation's records.
    SetReady(0);

    CMiniportList *miniports = new (std::nothrow) CMiniportList();
    if (miniports == nullptr) {
        LOG_WARNING(kFunction, L"Failed to instantiate CMiniportList.");
        return kNicAllocationFailed;
    }
    DWORD result = miniports->Init();
    if (result != NO_ERROR) {
        LOG_WARNING(kFunction, L"NIC init failed: Return code: %d.", static_cast<int>(result));
        // No network-class interface at all (8) still gives a model: the interfaces without a
        // miniport are left out and the loopback and the small values are published.
        if (result == ERROR_NOT_ENOUGH_MEMORY)
            result = NO_ERROR;
    }
    if (result == NO_ERROR) {
        result = AllocateLogicalAdapters(miniports);
        if (result != NO_ERROR)
            LOG_WARNING(kFunction, L"Can't allocate logical adapter list. Return code: %d", static_cast<int>(result));
    }
    CWin32NetAdapterList *adapters = nullptr;
    if (result == NO_ERROR) {
        AllocatePhysicalAdapters(miniports);
        if (CreateWin32NetAdapterList(&adapters) != 1) {
            // Without the Windows adapter list the members go without resources and port
            // numbers; the model itself still stands.
            LOG_WARNING(kFunction, L"Can't create Win32NetAdapterList.");
        } else if (AssignResourcesToAdapters(adapters) == 0) {
            LOG_VERBOSE(kFunction, L"Can't add resources to adapters.");
        }
    }
    delete miniports;

    if (result == NO_ERROR) {
        m_MibStats.MibGroup = kNicMibGroup;
        m_MibStats.Condition = kNicConditionOk;
        m_MibStats.PollSeconds = g_PollTime / 1000;
        m_Status = 1;
        m_SoftwareRevisions.Major = kSoftwareRevisionMajor;
        m_SoftwareRevisions.Minor = kSoftwareRevisionMinor;
        result = CreateRegistryKeys();
        if (result != NO_ERROR)
            LOG_WARNING(kFunction, L"Failed to create NIC registry keys. Return code: %d", static_cast<int>(result));
        else
            UpdateStaticRegistryKeys();
        // A new Interface key says "not ready" until the first pass has written the records.
        SetReady(0);
    }
    DeleteWin32NetAdapterList(adapters);
    return result;
}

DWORD CIFList::AllocateLogAdapterNode(LOGADAPTERNODE **node)
{
    constexpr wchar_t kFunction[] = L"CIFList::AllocateLogAdapterNode";
    *node = nullptr;
    CLogicalAdapter *adapter = new (std::nothrow) CLogicalAdapter();
    if (adapter == nullptr) {
        DWORD error = kNicAllocationFailed;
        LOG_WARNING(kFunction, L"Can't allocate CLogicalAdapter. Return code: %d", static_cast<int>(error));
        return error;
    }
    LOGADAPTERNODE *made = new (std::nothrow) LOGADAPTERNODE;
    if (made == nullptr) {
        DWORD error = kNicAllocationFailed;
        LOG_WARNING(kFunction, L"Can't allocate LOGADAPTERNODE. Return code: %d", static_cast<int>(error));
        delete adapter;
        return error;
    }
    InitListNode(made, adapter, static_cast<LOGADAPTERNODE *>(nullptr));
    *node = made;
    return NO_ERROR;
}

DWORD CIFList::AllocateLogicalAdapters(CMiniportList *miniports)
{
    constexpr wchar_t kFunction[] = L"CIFList::AllocateLogicalAdapters";
    m_IfTable = new (std::nothrow) CIFTable();
    if (m_IfTable == nullptr)
        return kNicAllocationFailed;
    DWORD result = m_IfTable->Init();
    if (result != NO_ERROR) {
        LOG_WARNING(kFunction, L"Can't initialize CIFTable. Return code: %d", static_cast<int>(result));
        return result;
    }
    // Kept from before the adapters touch the rows (one without hardware address rewrites its row).
    m_InitRows.assign(m_IfTable->GetRow(0), m_IfTable->GetRow(0) + m_IfTable->GetEntryCount());
    for (DWORD i = 0; i < m_IfTable->GetEntryCount(); ++i) {
        if (!m_IfTable->IsRealInterface(i))
            continue;
        LOGADAPTERNODE *node = nullptr;
        if (AllocateLogAdapterNode(&node) != NO_ERROR) {
            LOG_WARNING(kFunction, L"Can't allocate LOGADAPTERNODE.");
            return kNicAllocationFailed;
        }
        CLogicalAdapter *adapter = node->object;
        result = adapter->Init(m_IfTable->GetRow(i), m_Trap, miniports, m_IfTable->GetIpAddrTable());
        if (result == NO_ERROR) {
            if (adapter->GetType() == static_cast<int>(kIfTypeEthernetCsmacd))
                m_Ethernet = 1;
            Append(node);
            ++m_Count;
        } else if (result == 2) {
            DeleteListNode(node); // no miniport behind the row: not modelled
        } else {
            DeleteListNode(node);
            LOG_WARNING(kFunction, L"Can't initialize CLogicalAdapter. Return code: %d", static_cast<int>(result));
            return result;
        }
    }
    return NO_ERROR;
}

void CIFList::JoinVlanInterface(LOGADAPTERNODE *node)
{
    CLogicalAdapter *adapter = node->object;
    // Only VLANs of one real team share members: plain NICs all carry team id -1.
    if (adapter->GetTeamId() == -1)
        return;
    for (LOGADAPTERNODE *earlier = m_Head; earlier != nullptr && earlier != node; earlier = earlier->next) {
        CLogicalAdapter *owner = earlier->object;
        if (owner->GetVlanId() == 0 || owner->GetTeamId() != adapter->GetTeamId() || owner->GetSharesMemberList())
            continue;
        INTERFACEMAPRECORD &map = owner->GetInterfaceMap();
        owner->AddIfIndex(adapter->GetIfIndex());
        if (map.VlanCount < kNicMaxVlanIndexes) {
            owner->AddVlanIndex(adapter->GetVlanMap().VlanIndex);
            ++map.VlanCount;
        }
        adapter->ShareMemberList(*owner);
        adapter->GetVlanMap().ParentLogicalIndex = static_cast<int32_t>(owner->GetLogicalIndex());
        return;
    }
}

DWORD CIFList::AllocatePhysicalAdapters(CMiniportList *miniports)
{
    constexpr wchar_t kFunction[] = L"CIFList::AllocatePhysicalAdapters";
    for (LOGADAPTERNODE *node = m_Head; node != nullptr; node = node->next) {
        CLogicalAdapter *adapter = node->object;
        INTERFACEMAPRECORD &map = adapter->GetInterfaceMap();
        CMiniport *miniport =
            miniports->FindMiniportByPhysAddr(static_cast<DWORD>(adapter->GetIfIndex()), adapter->GetMacAddress(),
                                              adapter->GetAddressLength());
        if (miniport != nullptr)
            adapter->SetMiniport(miniport);

        const bool loopback = IsLoopbackIndex(m_InitRows, adapter->GetIfIndex());
        if (loopback) {
            adapter->SetLogicalIndex(GetNextLogicalAdapterIndex());
            continue;
        }
        if (adapter->GetVlanId() != 0) {
            VLANMAPRECORD &vlan = adapter->GetVlanMap();
            vlan.VlanIndex = static_cast<int32_t>(GetNextVlanIndex());
            vlan.IfIndex = adapter->GetIfIndex();
            CRegistryKey root = g_LocalMachineKey.OpenKey(kNicRootKey, KEY_READ);
            if (root.IsOpen()) {
                CRegistryKey bridging = root.OpenKey(L"Interface\\BridgingInfo", KEY_READ);
                if (bridging.IsOpen()) {
                    wchar_t name[kBridgeNameChars] = {};
                    bridging.GetStringValue(kNicBridgeConnectionNameValue, name, kBridgeNameChars, 0);
                    const std::wstring own = Widen(RecordText(vlan.VlanConnectionName));
                    if (name[0] != L'\0' && SameTextNoCase(name, own)) {
                        DWORD index = 0;
                        bridging.GetDWORDValue(kNicBridgeIfTableIndexValue, &index, 1);
                        if (bridging.GetError() == ERROR_SUCCESS)
                            vlan.IfIndex = static_cast<int32_t>(index);
                    }
                }
            }
            map.VlanIndexList[0] = static_cast<uint8_t>(vlan.VlanIndex & 0xFF);
            map.VlanCount = 1;
            JoinVlanInterface(node);
        }
        if (!adapter->GetSharesMemberList()) {
            adapter->SetLogicalIndex(GetNextLogicalAdapterIndex());
            DWORD built = adapter->CreatePhysicalAdapterList(miniports);
            if (built != NO_ERROR)
                LOG_VERBOSE(kFunction, L"Member list of logical adapter %d is incomplete: %d",
                            static_cast<int>(adapter->GetLogicalIndex()), static_cast<int>(built));
            if (adapter->GetVlanId() != 0)
                adapter->GetVlanMap().ParentLogicalIndex = static_cast<int32_t>(adapter->GetLogicalIndex());
        }
        const uint8_t *mac = map.MacAddress;
        LOG_VERBOSE(kFunction,
                    L"Logical adapter: index: %d condition: %d IFnumber: %d IFtype: %d vlanId: %d address: "
                    L"%X:%X:%X:%X:%X:%X",
                    static_cast<int>(map.LogicalIndex), static_cast<int>(map.Condition),
                    static_cast<int>(adapter->GetIfIndex()), adapter->GetType(), static_cast<int>(adapter->GetVlanId()),
                    mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    }
    return NO_ERROR;
}

DWORD CIFList::Update()
{
    constexpr wchar_t kFunction[] = L"CIFList::Update";
    CRegistryKey interfaceKey = g_LocalMachineKey.OpenKey(kNicInterfaceKey, KEY_SET_VALUE);
    if (interfaceKey.IsOpen()) {
        DWORD ready = 0;
        interfaceKey.SetRegistryValue(kNicInterfaceDataReadyValue, REG_DWORD, &ready, sizeof(ready));
    } else {
        LOG_VERBOSE(kFunction, L"Can't open %s. Return code: %d", kNicInterfaceKey,
                    static_cast<int>(interfaceKey.GetError()));
    }
    UpdateBridgingInfo();
    if (++g_UpdatePass == 0)
        g_UpdatePass = 2;
    uint8_t overall = kNicConditionOther;
    for (LOGADAPTERNODE *node = m_Head; node != nullptr; node = node->next) {
        CLogicalAdapter *adapter = node->object;
        adapter->Update(adapter->GetSharesMemberList());
        overall = std::max(overall, adapter->GetCondition());
    }
    m_IfTableInformation = overall;
    m_MibStats.Condition = overall;
    UpdateDynamicRegistryKeys();
    // Ready only once every record of the pass, the condition values included, is written.
    if (interfaceKey.IsOpen()) {
        DWORD ready = 1;
        interfaceKey.SetRegistryValue(kNicInterfaceDataReadyValue, REG_DWORD, &ready, sizeof(ready));
    }
    return NO_ERROR;
}

void CIFList::WriteBridgeConnection(CRegistryKey *bridging, const std::wstring &name, const std::wstring &device,
                                    DWORD characteristics, int mediaType, DWORD *memberCount)
{
    if ((characteristics & kBridgedConnection) != 0) {
        ++*memberCount;
        wchar_t valueName[64];
        swprintf(valueName, 64, L"MemberDeviceName_%d", static_cast<int>(*memberCount));
        SetRegistryText(bridging, valueName, device);
        swprintf(valueName, 64, L"MemberConnectionName_%d", static_cast<int>(*memberCount));
        SetRegistryText(bridging, valueName, name);
        bridging->SetRegistryValue(kNicMemberCountValue, REG_DWORD, memberCount, sizeof(*memberCount));
    }
    if (mediaType == kBridgeMedia) {
        SetRegistryText(bridging, kNicBridgeDeviceNameValue, device);
        SetRegistryText(bridging, kNicBridgeConnectionNameValue, name);
        if (m_IfTable == nullptr)
            return;
        for (DWORD i = 0; i < m_IfTable->GetEntryCount(); ++i) {
            const MIB_IFROW *row = m_IfTable->GetRow(i);
            if (SameTextNoCase(InterfaceDescription(*row), device)) {
                DWORD index = row->dwIndex;
                bridging->SetRegistryValue(kNicBridgeIfTableIndexValue, REG_DWORD, &index, sizeof(index));
                break;
            }
        }
    }
}

void CIFList::UpdateBridgingInfo()
{
    constexpr wchar_t kFunction[] = L"CIFList::UpdateBridgingInfo";
    ApartmentScope apartment;
    Nic().CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE,
                               nullptr, EOAC_NONE, nullptr);

    // Every pass starts from an empty BridgingInfo, with or without a sharing manager: the
    // adapters' bridge values and member counts of the pass before must not survive it.
    CRegistryKey root = g_LocalMachineKey.OpenKey(kNicRootKey, KEY_READ);
    if (!root.IsOpen())
        return;
    CRegistryKey interfaceKey = root.CreateKey(kInterfaceSubKey, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS);
    if (!interfaceKey.IsOpen())
        return;
    interfaceKey.DeleteKey(kBridgingInfoSubKey);
    CRegistryKey bridging =
        interfaceKey.CreateKey(kBridgingInfoSubKey, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS);
    if (!bridging.IsOpen()) {
        LOG_VERBOSE(kFunction, L"Can't create BridgingInfo. Return code: %d", static_cast<int>(interfaceKey.GetError()));
        return;
    }

    ComPtr<INetSharingManager> manager;
    HRESULT hr = Nic().CoCreateInstance(CLSID_NetSharingManager, nullptr, CLSCTX_ALL, IID_INetSharingManager,
                                        reinterpret_cast<void **>(manager.Put()));
    if (FAILED(hr) || !manager)
        return;
    ComPtr<INetSharingEveryConnectionCollection> connections;
    if (FAILED(manager->get_EnumEveryConnection(connections.Put())) || !connections)
        return;
    ComPtr<IUnknown> enumUnknown;
    if (FAILED(connections->get__NewEnum(enumUnknown.Put())) || !enumUnknown)
        return;
    ComPtr<IEnumVARIANT> enumerator;
    if (FAILED(enumUnknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void **>(enumerator.Put()))) ||
        !enumerator)
        return;

    DWORD memberCount = 0;
    for (;;) {
        CVariant item;
        ULONG fetched = 0;
        if (enumerator->Next(1, item.Get(), &fetched) != S_OK || fetched != 1)
            break;
        if (V_VT(item.Get()) != VT_UNKNOWN || V_UNKNOWN(item.Get()) == nullptr)
            continue;
        ComPtr<INetConnection> connection;
        if (FAILED(V_UNKNOWN(item.Get())->QueryInterface(IID_INetConnection,
                                                         reinterpret_cast<void **>(connection.Put()))) ||
            !connection)
            continue;
        ComPtr<INetConnectionProps> props;
        if (FAILED(manager->get_NetConnectionProps(connection.Get(), props.Put())) || !props)
            continue;
        CBstr name;
        CBstr device;
        DWORD characteristics = 0;
        NETCON_MEDIATYPE media = NCM_NONE;
        props->get_Name(name.Put());
        props->get_DeviceName(device.Put());
        props->get_Characteristics(&characteristics);
        props->get_MediaType(&media);
        WriteBridgeConnection(&bridging, BstrText(name), BstrText(device), characteristics, static_cast<int>(media),
                              &memberCount);
    }
}

DWORD CIFList::UpdateDynamicRegistryKeys()
{
    constexpr wchar_t kFunction[] = L"CIFList::UpdateDynamicRegistryKeys";
    DWORD result = NO_ERROR;
    CRegistryKey interfaceKey = g_LocalMachineKey.OpenKey(kNicInterfaceKey, KEY_SET_VALUE);
    if (!interfaceKey.IsOpen()) {
        result = static_cast<DWORD>(interfaceKey.GetError());
        LOG_WARNING(kFunction, L"Open NIC Interface registry key returned %d", static_cast<int>(result));
    } else {
        result = static_cast<DWORD>(interfaceKey.SetRegistryValue(kNicIfTableInformationValue, REG_BINARY,
                                                                  &m_IfTableInformation, 1));
        if (result != NO_ERROR)
            LOG_WARNING(kFunction, L"Can't set %s registry value. Return code: %d", kNicIfTableInformationValue,
                        static_cast<int>(result));
        result = static_cast<DWORD>(
            interfaceKey.SetRegistryValue(kNicMibStatsValue, REG_BINARY, &m_MibStats, sizeof(m_MibStats)));
        if (result != NO_ERROR)
            LOG_WARNING(kFunction, L"Can't set Interface %s registry value. Return code: %d", kNicMibStatsValue,
                        static_cast<int>(result));
    }
    if (m_Ethernet) {
        CRegistryKey ethernet = g_LocalMachineKey.OpenKey(kNicEthernetKey, KEY_SET_VALUE);
        if (!ethernet.IsOpen()) {
            result = static_cast<DWORD>(ethernet.GetError());
            LOG_WARNING(kFunction, L"Can't open Interface registry. Returned code: %d", static_cast<int>(result));
        } else {
            result = static_cast<DWORD>(
                ethernet.SetRegistryValue(kNicMibStatsValue, REG_BINARY, &m_MibStats, sizeof(m_MibStats)));
            if (result != NO_ERROR)
                LOG_WARNING(kFunction, L"Can't set Ethernet %s registry value. Return code: %d", kNicMibStatsValue,
                            static_cast<int>(result));
        }
    }
    return result;
}

DWORD CIFList::UpdateStaticRegistryKeys()
{
    constexpr wchar_t kFunction[] = L"CIFList::UpdateStaticRegistryKeys";
    DWORD result = NO_ERROR;
    CRegistryKey root = g_LocalMachineKey.OpenKey(kNicRootKey, KEY_SET_VALUE);
    if (!root.IsOpen()) {
        result = static_cast<DWORD>(root.GetError());
        LOG_WARNING(kFunction, L"Can't open %s registry value. Return code: %d", kNicRootKey, static_cast<int>(result));
    } else if ((result = static_cast<DWORD>(
                    root.SetRegistryValue(kNicStatusValue, REG_DWORD, &m_Status, sizeof(m_Status)))) != NO_ERROR) {
        LOG_WARNING(kFunction, L"Can't set %s registry value. Return code: %d", kNicStatusValue, static_cast<int>(result));
    }
    CRegistryKey interfaceKey = g_LocalMachineKey.OpenKey(kNicInterfaceKey, KEY_SET_VALUE);
    if (!interfaceKey.IsOpen()) {
        result = static_cast<DWORD>(interfaceKey.GetError());
        LOG_WARNING(kFunction, L"Can't open %s registry value. Return code: %d", kNicInterfaceKey,
                    static_cast<int>(result));
    } else if ((result = static_cast<DWORD>(interfaceKey.SetRegistryValue(
                    kNicSoftwareRevisionsValue, REG_BINARY, &m_SoftwareRevisions, sizeof(m_SoftwareRevisions)))) !=
               NO_ERROR) {
        LOG_WARNING(kFunction, L"Can't set %s registry value. Return code: %d", kNicSoftwareRevisionsValue,
                    static_cast<int>(result));
    }
    return result;
}

DWORD CIFList::CreateRegistryKeys()
{
    CRegistryKey system = g_LocalMachineKey.OpenKey(kSystemKey, KEY_CREATE_SUB_KEY);
    if (!system.IsOpen())
        return static_cast<DWORD>(system.GetError());
    const wchar_t *const keys[] = {L"QZTLMNetwork\\Interface", kRecordKeysBelowSystem[0], kRecordKeysBelowSystem[1],
                                   kRecordKeysBelowSystem[2]};
    for (const wchar_t *key : keys) {
        CRegistryKey made = system.CreateKey(key, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS);
        if (!made.IsOpen())
            return static_cast<DWORD>(system.GetError());
    }
    if (m_Ethernet)
        return CreateEthernetRegistryKeys();
    return NO_ERROR;
}

DWORD CIFList::CreateEthernetRegistryKeys()
{
    CRegistryKey system = g_LocalMachineKey.OpenKey(kSystemKey, KEY_CREATE_SUB_KEY);
    if (!system.IsOpen())
        return static_cast<DWORD>(system.GetError());
    system.CreateKey(L"QZTLMNetwork\\Ethernet", nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS);
    // The service's store keys are ordinary keys: they outlive a restart, empty.
    CRegistryKey store = system.CreateKey(kMibStoreEthernetBelowSystem, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS);
    if (!store.IsOpen())
        return static_cast<DWORD>(system.GetError());
    system.CreateKey(L"QZTLMNetwork\\Ethernet\\Statistics", nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS);
    system.CreateKey(kMibStoreStatisticsBelowSystem, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS);
    return static_cast<DWORD>(system.GetError());
}

void CIFList::DeleteEthernetRegistryKeys()
{
    CRegistryKey system = g_LocalMachineKey.OpenKey(kSystemKey, KEY_ALL_ACCESS);
    if (!system.IsOpen())
        return;
    system.DeleteKey(L"QZTLMNetwork\\Ethernet\\Statistics");
    system.DeleteKey(L"QZTLMNetwork\\Ethernet");
}

void CIFList::DeleteRegistryKeys()
{
    if (m_Ethernet)
        DeleteEthernetRegistryKeys();
    CRegistryKey system = g_LocalMachineKey.OpenKey(kSystemKey, KEY_ALL_ACCESS);
    if (!system.IsOpen())
        return;
    // A key goes only without subkeys: once BridgingInfo exists Interface, the Trap_ keys and
    // the root stay.
    const wchar_t *const keys[] = {kRecordKeysBelowSystem[0], kRecordKeysBelowSystem[1], kRecordKeysBelowSystem[2],
                                   L"QZTLMNetwork\\Interface", L"QZTLMNetwork"};
    for (const wchar_t *key : keys) {
        system.DeleteKey(key);
        if (system.GetError() != ERROR_SUCCESS)
            break;
    }
}

int CIFList::NeedReInit()
{
    constexpr wchar_t kFunction[] = L"CIFList::NeedReInit";
    CIFTable *fresh = new (std::nothrow) CIFTable();
    if (fresh == nullptr) {
        LOG_WARNING(kFunction, L"Failed to allocate new IFTable");
        return 0;
    }
    int result = 0;
    const DWORD oldCount = m_IfTable != nullptr ? m_IfTable->GetEntryCount() : 0;
    if (fresh->Init() != NO_ERROR) {
        LOG_WARNING(kFunction, L"Failed to init new IFTable");
    } else if (fresh->GetEntryCount() != oldCount) {
        LOG_INFO(kFunction, L"Different table size - OLD: %d NEW: %d", static_cast<int>(oldCount),
                 static_cast<int>(fresh->GetEntryCount()));
        result = 1;
    } else if (!IsSameTable(fresh)) {
        LOG_INFO(kFunction, L"Same table size but contents are different - OLD: %d NEW: %d", static_cast<int>(oldCount),
                 static_cast<int>(fresh->GetEntryCount()));
        result = 1;
    }
    delete fresh;
    return result;
}

int CIFList::IsSameTable(CIFTable *table)
{
    // Only the rows that are real in the new table are checked: a NIC whose link went (its row's
    // speed 0) keeps its adapters, which report the loss and later the return. Each real row must
    // find the generation's row of its position, one new row per match.
    const DWORD count = std::min(table->GetEntryCount(), m_IfTable != nullptr ? m_IfTable->GetEntryCount() : 0);
    for (DWORD i = 0; i < count; ++i) {
        if (!table->IsRealInterface(i))
            continue;
        // A row that was not real when the generation was built has no adapter in it: a NIC
        // that had no link then is modelled once it has one.
        if (!m_IfTable->IsRealInterface(i))
            return 0;
        if (!table->ContainsRow(&m_InitRows[i]))
            return 0;
    }
    return 1;
}
