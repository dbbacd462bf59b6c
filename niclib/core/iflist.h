#pragma once
// One generation of the adapter model: the logical adapters of the interface table (plain NICs,
// teams, VLAN interfaces, the bridge, the loopback interface) with their member NICs, built once
// by Init and refreshed pass by pass by Update. The list publishes the key tree below
// HKLM\SYSTEM\QZTLMNetwork with its small values and the bridge values; the adapters write their
// own records. Data-collection thread only.

#include "if_table.h"
#include "logical_adapter.h"
#include "nic_state.h"
#include "nic_records.h"
#include "registry_key.h"

#include <string>
#include <vector>

class CMiniportList;
class CTrap;
class CWin32NetAdapterList;

using LOGADAPTERNODE = LISTNODE<CLogicalAdapter>;

// The most interface and VLAN indexes one interface record lists.
constexpr uint8_t kNicMaxVlanIndexes = 64;

// Bridge values under BridgingInfo.
constexpr wchar_t kNicMemberCountValue[] = L"MemberCount";
constexpr wchar_t kNicBridgeDeviceNameValue[] = L"BridgeDeviceName";
constexpr wchar_t kNicBridgeConnectionNameValue[] = L"BridgeConnectionName";
constexpr wchar_t kNicBridgeIfTableIndexValue[] = L"BridgeIfTableIndex";
// The non-volatile statistics keys that are created empty for the service's store.
constexpr wchar_t kNicMibStoreEthernetKey[] = L"SYSTEM\\CurrentControlSet\\Services\\JUV\\MibStore\\ZDTNIC\\Ethernet";
constexpr wchar_t kNicMibStoreStatisticsKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\JUV\\MibStore\\ZDTNIC\\Ethernet\\Statistics";

class CIFList {
public:
    CIFList();
    virtual ~CIFList();
    CIFList(const CIFList &) = delete;
    CIFList &operator=(const CIFList &) = delete;

    // 0, or the code of the first step that failed (the caller deletes the list).
    DWORD Init(CTrap *trap);
    // One collection pass; 0.
    DWORD Update();
    // 1 when the interface table changed shape since Init.
    int NeedReInit();
    // The destructor then leaves every key and value in place (the collection thread's end).
    void KeepRecords() { m_KeepRecords = true; }

    // The steps, for the generation and its tests.
    DWORD AllocateLogicalAdapters(CMiniportList *miniports);
    DWORD AllocateLogAdapterNode(LOGADAPTERNODE **node);
    DWORD AllocatePhysicalAdapters(CMiniportList *miniports);
    DWORD CreateWin32NetAdapterList(CWin32NetAdapterList **list);
    DWORD AssignResourcesToAdapters(CWin32NetAdapterList *list);
    DWORD CreateRegistryKeys();
    DWORD CreateEthernetRegistryKeys();
    DWORD UpdateStaticRegistryKeys();
    DWORD UpdateDynamicRegistryKeys();
    void UpdateBridgingInfo();
    int IsSameTable(CIFTable *table);
    void DeleteRegistryKeys();
    void DeleteEthernetRegistryKeys();

    LOGADAPTERNODE *GetFirst() const { return m_Head; }
    uint32_t GetCount() const { return m_Count; }
    uint32_t GetStatus() const { return m_Status; }
    const MIBSTATSRECORD &GetMibStats() const { return m_MibStats; }
    uint8_t GetIfTableInformation() const { return m_IfTableInformation; }
    int GetEthernet() const { return m_Ethernet; }
    CIFTable *GetIfTable() const { return m_IfTable; }

private:
    void Append(LOGADAPTERNODE *node);
    void DeleteAdapters();
    // "InterfaceData_Ready" into the Interface key when it exists; never creates it.
    static void SetReady(DWORD ready);
    static void DeleteWin32NetAdapterList(CWin32NetAdapterList *list);
    void JoinVlanInterface(LOGADAPTERNODE *node);
    void WriteBridgeConnection(CRegistryKey *bridging, const std::wstring &name, const std::wstring &device,
                               DWORD characteristics, int mediaType, DWORD *memberCount);

    LOGADAPTERNODE *m_Head = nullptr;
    LOGADAPTERNODE *m_Tail = nullptr;
    uint32_t m_Status = 0;
    uint32_t m_Count = 0;
    MIBSTATSRECORD m_MibStats = {};
    SOFTWAREREVISIONSRECORD m_SoftwareRevisions = {};
    uint8_t m_IfTableInformation = 0;
    int32_t m_Ethernet = 0;
    CTrap *m_Trap = nullptr;
    CIFTable *m_IfTable = nullptr;
    bool m_KeepRecords = false;
    // The generation's table rows as Init read them, for the comparison with later snapshots.
    std::vector<MIB_IFROW> m_InitRows;
};

// The text of a REG_SZ value with its terminating NUL as the stored size, the way the bridge
// values are written (the service's reader drops trailing NULs).
LONG SetRegistryText(CRegistryKey *key, const wchar_t *name, const std::wstring &text);
