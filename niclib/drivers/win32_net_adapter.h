#pragma once
// The present devices of the network setup class as the configuration manager describes them:
// bus position, PCI identity, slot, driver service, friendly name and the NetCfgInstanceId by
// which a miniport finds its adapter. Built once per rebuild of the adapter model and read by the
// physical adapters. Data-collection thread only.

#include "adapter_ids.h"
#include "nic_platform.h"

#include <cstdint>

class CMiniport;

// The network setup class.
inline constexpr wchar_t kNetClassGuidText[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
// Configuration-manager properties are read into buffers of this many bytes.
constexpr ULONG kDevicePropertyBytes = 2048;
// The name of the management processor's USB NIC when its device has none.
inline constexpr wchar_t kMgmtUsbAdapterName[] = L"Generic USB-EEM Network Adapter";

// What a physical adapter gets from its device (in memory only). The friendly name points into
// the adapter's own text and is valid while the list lives.
struct ADAPTERRESOURCES {
    uint32_t ioBase;
    uint32_t memoryBase;
    int32_t resourceWord;
    int32_t uiNumber;
    uint32_t segment;
    uint32_t bus;
    uint32_t device;
    uint32_t function;
    int32_t port;
    uint32_t pciId;
    uint32_t subsystemId;
    const wchar_t *friendlyName;
};

class CWin32NetAdapter {
public:
    static constexpr unsigned kBaseAddressWords = 6;

    CWin32NetAdapter();
    virtual ~CWin32NetAdapter();
    CWin32NetAdapter(const CWin32NetAdapter &) = delete;
    CWin32NetAdapter &operator=(const CWin32NetAdapter &) = delete;

    // 1 when the device is one of the accepted NIC families, else 0.
    int Init(const wchar_t *instanceId);
    int Get_SolarFlareSkiffInfo(DEVINST device);
    // The slot of the bus device that enumerated this device, 0 when none is found.
    int32_t GetUINumberFromEnum();
    int GetResources(ADAPTERRESOURCES *resources) const;
    // 1 with a new copy (delete[]) of the service name, 0 when it cannot be allocated.
    int GetServiceName(wchar_t **serviceName) const;
    const wchar_t *GetNetCfgInstanceId() const { return m_NetCfgInstanceId; }

    const wchar_t *GetInstanceId() const { return m_InstanceId; }
    const wchar_t *GetFriendlyName() const { return m_FriendlyName; }

private:
    void ReadNetCfgInstanceId(DEVINST device);

    wchar_t *m_ServiceName = nullptr;
    wchar_t *m_InstanceId = nullptr;
    int32_t m_ResourceWord = -1;
    uint32_t m_BaseAddress[kBaseAddressWords] = {};
    uint32_t m_BaseAddressCount = 0;
    uint32_t m_Segment = 0;
    uint32_t m_Bus = 0;
    uint32_t m_Device = 0;
    uint32_t m_Function = 0;
    int32_t m_UINumber = -1;
    int32_t m_Port = -1;
    uint32_t m_PciId = 0;
    uint32_t m_SubsystemId = 0;
    wchar_t *m_FriendlyName = nullptr;
    wchar_t *m_NetCfgInstanceId = nullptr;
};

struct WIN32NETADAPTERNODE {
    WIN32NETADAPTERNODE *next = nullptr;
    CWin32NetAdapter *adapter = nullptr;
};

class CWin32NetAdapterList {
public:
    CWin32NetAdapterList() = default;
    virtual ~CWin32NetAdapterList();
    CWin32NetAdapterList(const CWin32NetAdapterList &) = delete;
    CWin32NetAdapterList &operator=(const CWin32NetAdapterList &) = delete;

    // 1, or 0 when the device list cannot be read.
    int Init();
    int AllocateWin32NetAdapterNodes();
    // 1 when an adapter's NetCfgInstanceId equals the miniport's GUID text without regard to case.
    int GetResources(const CMiniport &miniport, ADAPTERRESOURCES *resources) const;
    // 1 with a new copy (delete[]) of that adapter's service name; 0 when none or out of memory.
    int GetServiceName(const CMiniport &miniport, wchar_t **serviceName) const;

    uint32_t GetCount() const { return m_Count; }
    WIN32NETADAPTERNODE *GetFirst() const { return m_First; }

private:
    const CWin32NetAdapter *Find(const CMiniport &miniport) const;

    wchar_t *m_DeviceIds = nullptr;
    uint32_t m_Count = 0;
    WIN32NETADAPTERNODE *m_First = nullptr;
    WIN32NETADAPTERNODE *m_Last = nullptr;
};
