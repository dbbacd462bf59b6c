#pragma once
// The adapter model of one generation: CAdapter (what both adapter kinds share), and
// CLogicalAdapter, one modelled interface of the interface table (a plain NIC, a team interface,
// a VLAN interface, the network bridge or the loopback interface) with the records it publishes
// and the member NICs (CPhysicalAdapter) it is made of. Data-collection thread only.

#include "nic_state.h"
#include "nic_platform.h"
#include "adapter_rules.h"
#include "nic_records.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

class CMiniport;
class CMiniportList;
class CTrap;
class CPhysicalAdapter;
struct TEAMDATA;

using PHYSADAPTERNODE = LISTNODE<CPhysicalAdapter>;


class CAdapter {
public:
    CAdapter() = default;
    virtual ~CAdapter();
    CAdapter(const CAdapter &) = delete;
    CAdapter &operator=(const CAdapter &) = delete;

    virtual uint32_t GetAddressLength() const { return m_AddressLength; }
    // A fresh copy of source becomes the adapter's own miniport: 1, or 0 when none could be made
    // (or no source was given; the adapter then holds an empty miniport).
    virtual int SetMiniport(const CMiniport *source);
    virtual unsigned UpdateRegistryKeys() { return 0; }
    virtual void SetType(int type) { m_Type = type; }
    virtual CMiniport *GetMiniport() const { return m_Miniport; }

    int GetType() const { return m_Type; }

protected:
    int32_t m_Type = 0;            // MIB_IFROW.dwType; 1 without hardware address or miniport
    uint32_t m_AddressLength = 0;  // hardware-address length
    CMiniport *m_Miniport = nullptr;
    wchar_t *m_ServiceName = nullptr; // the driver's service name (member NICs), new[]
};

class CLogicalAdapter : public CAdapter {
public:
    CLogicalAdapter();
    ~CLogicalAdapter() override;

    using CAdapter::UpdateRegistryKeys;
    virtual uint8_t *GetMacAddress() { return m_Map.MacAddress; }
    // Writes InterfaceMap (when the adapter owns its member list), VlanMap (VLAN interfaces) and
    // Statistics (Ethernet); the last registry result.
    virtual unsigned UpdateRegistryKeys(int sharesMemberList);

    // 0; 2 when no miniport matches the row (the adapter is dropped); or the allocation error of
    // the statistics table. Changes the row's address fields for an interface without address.
    DWORD Init(MIB_IFROW *row, CTrap *trap, CMiniportList *miniports, const MIB_IPADDRTABLE *addresses);
    // 0, kNicAllocationFailed, or the failure of a member's Init; members made stay.
    DWORD CreatePhysicalAdapterList(CMiniportList *miniports);
    PHYSADAPTERNODE *AllocatePhysAdapterNode();
    // Adds an interface index at IfIndexCount (at most kMaxIfIndexes entries).
    void AddIfIndex(int index);
    // Writes a VLAN index (low 8 bits) at VlanCount; nothing once VlanCount is kMaxVlanIndexes.
    // The caller adds 1 to VlanCount, never past kMaxVlanIndexes.
    void AddVlanIndex(int index);
    static constexpr int kMaxIfIndexes = 64;
    static constexpr int kMaxVlanIndexes = 64;
    // One pass; the result of the last query or step.
    unsigned Update(int sharesMemberList);

    int GetConnectionNames(const wchar_t *guid, char *ipv6, size_t ipv6Size, char *name, size_t nameSize);
    // 1 when the description names the network bridge (BridgingInfo's "BridgeDeviceName").
    static int IsBridgeAdapter(const char *description);
    // The bridge's "BridgeConnectionName" in UTF-8, empty when there is none.
    static std::string GetBridgeConnectionName();

    uint8_t GetKind() const { return m_Map.Kind; }
    void BuildTrapRecord(CPhysicalAdapter *member);
    void WriteTrapRecord(TRAPRECORD record);

    // The record images and the rest of the adapter's state, for the interface list and tests.
    INTERFACEMAPRECORD &GetInterfaceMap() { return m_Map; }
    const INTERFACEMAPRECORD &GetInterfaceMap() const { return m_Map; }
    VLANMAPRECORD &GetVlanMap() { return m_Vlan; }
    const VLANMAPRECORD &GetVlanMap() const { return m_Vlan; }
    const TRAPRECORD &GetTrapRecord() const { return m_Trap; }
    ETHERNETSTATSRECORD *GetStatistics() const { return m_Statistics; }
    int32_t GetIfIndex() const { return m_Map.IfIndexList[0]; }
    uint32_t GetLogicalIndex() const { return m_Map.LogicalIndex; }
    void SetLogicalIndex(uint32_t index) { m_Map.LogicalIndex = index; }
    int32_t GetTeamId() const { return m_TeamId; }
    int32_t GetVlanId() const { return m_Vlan.VlanId; }
    uint8_t GetCondition() const { return m_Map.Condition; }
    uint8_t GetMemberCount() const { return m_Map.MemberCount; }
    PHYSADAPTERNODE *GetMemberList() const { return m_MemberHead; }
    // Lets this adapter use another adapter's member list (it does not own it).
    void ShareMemberList(const CLogicalAdapter &owner);
    int GetSharesMemberList() const { return m_SharesMemberList; }
    void SetSharesMemberList(int shares) { m_SharesMemberList = shares; }
    CTrap *GetTrap() const { return m_TrapTable; }
    // 1 when the adapter is a team interface of Windows' own teaming (its vendor description
    // is "Microsoft"); asked once and refreshed by every Update.
    int IsLbfoTeam();

private:
    void AppendMember(PHYSADAPTERNODE *node);
    // A driver query on the own miniport; the answer is zero-filled unless it succeeded.
    DWORD Query(uint32_t oid, void *answer, DWORD size, DWORD *returned);
    bool QueryIsLbfo();
    void FetchLbfoTeam(TEAMDATA *team);
    unsigned UpdateTeam();
    void PublishBridgeValues(bool bridge, const wchar_t *guid);
    void ReadLastChange();

    PHYSADAPTERNODE *m_MemberHead = nullptr;
    PHYSADAPTERNODE *m_MemberTail = nullptr;
    int32_t m_SharesMemberList = 0;
    int32_t m_TeamId = -1;
    INTERFACEMAPRECORD m_Map;
    VLANMAPRECORD m_Vlan;
    ETHERNETSTATSRECORD *m_Statistics = nullptr;
    TRAPRECORD m_Trap;
    CTrap *m_TrapTable = nullptr;
    uint32_t m_InitSpeed = 0; // dwSpeed of the row at Init (bit/s)
    char m_TeamGuid[256] = {};
    int m_IsLbfo = -1; // -1 not asked yet
};
