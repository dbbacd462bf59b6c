#pragma once
#include "datacollector.h"
#include "nic_handshake.h"
#include "nic_records.h"
#include "zdtnic_model.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

// The waits of the NIC collector; tests shorten them.
struct NIC_COLLECTOR_TIMING {
    static inline std::atomic<uint32_t> InitDoneMs{kNicInitDoneWaitMs};
    static inline std::atomic<uint32_t> StopAckMs{kNicStopAckWaitMs};
    static inline std::atomic<uint32_t> LoaderExitMs{kNicLoaderExitWaitMs};
    // Register: polls of the readiness mark, the time between them, the pause before the trigger.
    static inline std::atomic<uint32_t> ReadyPolls{15};
    static inline std::atomic<uint32_t> ReadyPollMs{1000};
    static inline std::atomic<uint32_t> ReadyPauseMs{10000};
    // The readiness wait that guards every read of the library's records: tries and the pause
    // after a failed try.
    static inline std::atomic<uint32_t> ReadyTries{20};
    static inline std::atomic<uint32_t> ReadyRetryMs{1000};
    // A trap record of a bridge member: reads of the bridge values and the pause after a failure.
    static inline std::atomic<uint32_t> BridgeReadTries{2};
    static inline std::atomic<uint32_t> BridgeRetryMs{10000};
};

// The library's records of one collection, read once and shared by the adapter list, the tables
// and the traps. A result other than 0 means no records of that kind.
struct NIC_COLLECTION_RECORDS {
    int physResult = 3, logResult = 3, vlanResult = 3;
    std::vector<PHYSADAPTERRECORD> phys;
    std::vector<INTERFACEMAPRECORD> logical;
    std::vector<VLANMAPRECORD> vlans;
    std::vector<BRIDGE_ENTRY> bridges;
};

// Where a row of the physical and the logical table went, for the tables written after it.
struct PHYS_ADAPTER_INDEX {
    std::string AdapterName;
    uint8_t RowIndex;
};
struct LOG_INTERFACE_INDEX {
    std::string ConnectionName;
    uint32_t RowIndex;
    uint8_t Condition;
};
extern std::vector<PHYS_ADAPTER_INDEX> s_PhysAdapterIndexMap;
extern std::vector<LOG_INTERFACE_INDEX> s_LogInterfaceIndexMap;

// The NIC trap numbers, below ENTERPRISE_ARC.0.
constexpr uint32_t kNicTrapLost = 18012, kNicTrapRestored = 18011, kNicTrapReduced = 18014, kNicTrapIncreased = 18013;

// The NIC collector of group 18: it loads the NIC library on a thread of its own, asks it for a
// fresh pass at every collection and stops it at service stop.
class ZDTNICDataCollector : public DATACOLLECTOR {
public:
    ZDTNICDataCollector();
    ~ZDTNICDataCollector() override;

    void Initialize() override;
    void Terminate() override;
    int Register(AXSESSION *session) override;
    void Collect(int firstRun, DATASTORE *staging) override;

    // True while the loader thread runs, that is while the library may be running: without it
    // nobody answers the stop.
    bool IsLibraryThreadRunning() const;

    // The library's full path: netvarix.dll in the folder of the running executable.
    static bool LibraryPath(wchar_t *path, DWORD capacity);

    // Record readers: 0 with the records (in the order of their own indexes), 3 when the
    // library's data is not ready before or after the read, else the key's error; no records
    // unless 0.
    int Get_zdtNicIfPhysAdapterTable_Data(std::vector<PHYSADAPTERRECORD> *records);
    int Get_zdtNicIfLogMapTable_Data(std::vector<INTERFACEMAPRECORD> *records);
    int Get_zdtNicIfVlanMapTable_Data(std::vector<VLANMAPRECORD> *records);
    // Reads every record kind and the bridge description once for this collection.
    void ReadCollectionRecords();

    void UpdateAllData();
    void CheckTraps();
    // The first record of the trap's key (the one written first) and its value name, leaving out
    // the values named in passedOver; a bridge member's record completed with the bridge's state.
    // Returns 0; 1168 for an unknown trap, a key that does not open or one without such a record;
    // or the Win32 error of the read.
    int ReadTrapRecord(uint32_t trapNumber, TRAPRECORD *record, std::string *valueName,
                       const std::set<std::string> *passedOver = nullptr);
    void SendConnectivityTrapEx(uint32_t trapNumber, const TRAPRECORD &record);
    // The adapter a trap record belongs to: the first whose physical address is the record's,
    // else the first team whose own address is; none for a record without an address.
    NET_ADAPTER *FindTrapOwner(const uint8_t *mac);

    void Report_zdtNicIfPhysAdapter(DATASTORE *staging);
    void Report_zdtNicIfLogMap(DATASTORE *staging);
    void Report_zdtNicIfVLanMap(DATASTORE *staging);
    int AdjustToHyperVSwitchIndex(INTERFACEMAPRECORD *record, int32_t indexes[64]);

    std::vector<NET_ADAPTER> &Adapters() { return m_Adapters; }
    NIC_COLLECTION_RECORDS &Records() { return m_Records; }

    // Where the interface data comes from (tests put their own).
    static inline const NIC_INTERFACE_SOURCE *InterfaceSource = &kSystemNicInterfaceSource;
    // How the values of a trap key are listed: RegEnumValueW (tests put one that fails).
    using TRAP_VALUE_ENUMERATOR = LSTATUS(WINAPI *)(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                                                    LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
    static inline TRAP_VALUE_ENUMERATOR EnumTrapValue = &RegEnumValueW;

private:
    static DWORD WINAPI NicLibraryThreadProc(void *collector);
    void RunNicLibrary();

    HANDLE m_LoaderThread = nullptr;
    std::vector<NET_ADAPTER> m_Adapters;
    NIC_COLLECTION_RECORDS m_Records;
};

// The first IPv6 unicast address of the adapter with this AdapterName, as text.
int GetAdapterIPv6Address(const char *adapterName, char *buffer, size_t bufferSize);

extern ZDTNICDataCollector s_ZDTNICDataCollector;
