#pragma once
// One member NIC (one PCI network function) of a logical adapter: its PHYSADAPTERRECORD, its
// link condition and status, speed, duplex, configured speed and duplex, team role, counters and
// 802.3 statistics, and the decision whether its logical adapter must record a trap event.
// Data-collection thread only.

#include "adapter_rules.h"
#include "logical_adapter.h"

#include <map>
#include <string>

class CWin32NetAdapterList;
struct MINIPORTDYNAMICDATA;


class CPhysicalAdapter : public CAdapter {
public:
    CPhysicalAdapter();
    ~CPhysicalAdapter() override;

    unsigned UpdateRegistryKeys() override;

    // 0, or the last error when the miniport copy cannot be made.
    DWORD Init(const CMiniport *source, CLogicalAdapter *owner, int interfaceType, CTrap *trap);
    // 1 when resources and service name were found, else 0.
    int AssignPhysicalResources(CWin32NetAdapterList *adapters, CMiniport *miniport);
    // One pass: the registry result, or 0 (speed: the stored SpeedMbps) when it ran this pass.
    unsigned Update(uint32_t *speed);
    DWORD GetEthernetStatistics();
    // Adds this member's 802.3 counters to its logical adapter's table (wrapping sums).
    DWORD AddStatistics(ETHERNETSTATSRECORD *table);
    int GetConfSpeedDuplex(const wchar_t *guid);
    // 1 when BridgingInfo names the device as a member of the network bridge.
    static int IsBridgeMember(const char *name);

    uint32_t GetPhysicalIndex() const { return m_Record.PhysicalIndex; }
    uint8_t GetPort() const { return m_Record.Port; }
    uint8_t GetStatus() const { return m_Record.Status2; }
    uint8_t GetCondition() const { return m_Record.Condition; }
    int GetTrapNeeded() const { return m_TrapNeeded; }
    const wchar_t *GetDeviceName() const { return m_DeviceName; }
    const char *GetPartNumber() const { return m_Record.PartNumber; }
    int32_t GetSlot() const { return m_Record.Slot; }
    int32_t GetSegment() const { return m_Segment; }
    uint8_t GetBus() const { return m_Bus; }
    int32_t GetDevice() const { return m_Device; }
    int32_t GetFunction() const { return m_Function; }
    int32_t GetLocation() const { return m_Location; }

    // Set by the interface list from the port map.
    void SetPort(uint8_t port) { m_Record.Port = port; }
    void SetSlot(int32_t slot) { m_Record.Slot = slot; }
    void SetServerBay(int32_t bay) { m_Record.ServerBay = bay; }
    void SetVirtualPort(int32_t port) { m_Record.VirtualPort = port; }

    PHYSADAPTERRECORD &GetRecord() { return m_Record; }
    const PHYSADAPTERRECORD &GetRecord() const { return m_Record; }
    CLogicalAdapter *GetOwner() const { return m_Owner; }

private:
    uint8_t RoleByRule();
    void RememberCondition();
    std::string DeviceNameAnsi() const;
    // The driver's link condition, duplex and speed: 0 when read.
    DWORD ReadDynamicData(MINIPORTDYNAMICDATA *data);
    const char *ReadFirmware();

    // The position the adapter registered with in the condition table.
    struct Position {
        int slot = 0;
        int segment = 0;
        int bus = 0;
        int device = 0;
        int function = 0;
    };
    Position m_Registered;

    CLogicalAdapter *m_Owner = nullptr;
    PHYSADAPTERRECORD m_Record;
    int32_t m_Segment = 0;
    uint8_t m_Bus = 0;
    int32_t m_Device = 0;
    int32_t m_Function = 0;
    int32_t m_Location = 0;
    wchar_t m_DeviceName[258] = {};
    int32_t m_TrapNeeded = 0;
    CTrap *m_TrapTable = nullptr;
    uint32_t m_LastPass = 0;
};
