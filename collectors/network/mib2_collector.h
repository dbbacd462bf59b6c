#pragma once
// The MIB-2 collector: the standard interfaces (1.3.6.1.2.1.2), ip (1.3.6.1.2.1.4) and
// host-resources software (1.3.6.1.2.1.25) groups, and the registration of the ipv6MIB subtree
// (1.3.6.1.2.1.55). It has no private group, so the scheduler publishes nothing for it, and it
// reads the health-log re-log flags.
//
// The interfaces table joins the IP Helper interface table with what the NIC library and the NIC
// collector say of the same adapters (their physical records, the bridge values and the list of
// descriptions under SYSTEM\ndxtlm\NICs), and with a memory of each interface's first status.

#include "datacollector.h"
#include "iphelper.h"
#include "mib2_software.h"
#include "nic_records.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class DATASTORE;

// Where the collector takes the IP Helper tables from. The product uses the system's (the
// defaults); tests put their own tables in place. Each function returns a block from malloc
// (released with free) or null, as the service's IP Helper readers do.
struct MIB2_SOURCES {
    MIB_IFTABLE *(*ifTable)();
    MIB_IPADDRTABLE *(*ipAddrTable)();
    MIB_IPFORWARDTABLE *(*ipForwardTable)();
    IP_ADAPTER_ADDRESSES *(*ipv6Addresses)();
    ULONG(WINAPI *ipStatistics)(MIB_IPSTATS *stats);
};
constexpr MIB2_SOURCES kSystemMib2Sources = {&AllocIfTable, &AllocIpAddrTable, &AllocIpForwardTable,
                                             &AllocIpv6AdapterAddresses, &GetIpStatistics};

// The readiness wait of the NIC library's records: tries, and the pause after a failed try.
struct MIB2_TIMING {
    static inline std::atomic<uint32_t> ReadyTries{2};
    static inline std::atomic<uint32_t> ReadyRetryMs{1000};
};

// The descriptions under which the interfaces table looks for an interface elsewhere, as 8-bit
// texts of at most 256 bytes.
constexpr wchar_t kNicsListKey[] = L"SYSTEM\\ndxtlm\\NICs";
constexpr size_t kMib2DescriptionBytes = 256;
// The bridge status the NIC collector leaves when every member of the bridge is disconnected.
constexpr uint32_t kBridgeStatusFailed = 5;

// One interface of the status memory: its status at the first sighting, and whether it has ever
// been seen with another.
struct MIB2_INTERFACE_MEMORY {
    std::string description;
    uint32_t firstStatus;
    uint8_t changed;
};

class MIB2DataCollector : public DATACOLLECTOR {
public:
    MIB2DataCollector();
    ~MIB2DataCollector() override;

    int Register(AXSESSION *session) override;
    void Collect(int firstRun, DATASTORE *staging) override;

    void Collect_ifTable(int firstRun, DATASTORE *staging);
    void Collect_ip(int firstRun, DATASTORE *staging);
    void Collect_ipAddrTable(int firstRun, DATASTORE *staging);
    void Collect_ipRouteTable(int firstRun, DATASTORE *staging);
    void Collect_ipAddressTable(int firstRun, DATASTORE *staging);
    void Collect_hrSWRun(int firstRun, DATASTORE *staging);
    void Collect_hrSwInstalled(int firstRun, DATASTORE *staging);
    // The running drivers of WMI that are not programs of the Uninstall keys already.
    void CollectRunningDrivers();

    // 0 with the physical records of the NIC library; 3 (vector emptied) when its data is not
    // ready; the registry's error (vector as it was) when the key cannot be read.
    int ReadInterfacePhysRecords(std::vector<PHYSADAPTERRECORD> *records);
    // 1 when "InterfaceData_Ready" reads non-zero within MIB2_TIMING's tries.
    int IsInterfaceDataReady();

    static inline MIB2_SOURCES Sources = kSystemMib2Sources;
    static inline MIB2_PROCESS_SOURCE ProcessSource = kSystemProcessSource;

private:
    // The process-wide interface status memory; it only grows.
    std::vector<MIB2_INTERFACE_MEMORY> m_StatusMemory;
    // Installed software: the programs of one collection, the drivers until the next, the
    // operating-system updates until the next hot-fix collection.
    std::vector<SOFTWARE_ENTRY> m_Programs;
    std::vector<SOFTWARE_ENTRY> m_Drivers;
    std::vector<SOFTWARE_ENTRY> m_OsUpdates;
};

extern MIB2DataCollector s_MIB2DataCollector;
