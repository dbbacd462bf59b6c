#pragma once
#include "datacollector.h"

#include <cstdint>
#include <string>
#include <vector>

// One Fibre Channel adapter as the collector reports it (in memory only).
struct FCA_HBA_RECORD {
    uint32_t Index = 0;
    uint32_t Slot = 0;
    uint32_t Model = 0;
    uint32_t BoardId = 0;
    uint32_t Status = 0;              // 1 other, 2 ok, 3 failed, 5 degraded, 7 a port's link is down
    uint32_t Condition = 0;           // 1 other, 2 ok, 3 degraded, 4 failed
    uint32_t OverallCondition = 0;
    uint32_t ActualStatus = 0;        // the status before the link-down rule
    uint8_t StatusChanged = 0;        // once set, stays set
    std::string ModelDescription;
    std::string SerialNumber;
    std::string HardwareLocation;
    std::string WorldWideName;
    std::string PortName;
    std::string FirmwareVersion;
    std::string OptionRomVersion;
    std::string PciLocation;
};

// The Fibre Channel host adapter collector of group 16: each collection polls the HBA API
// wrapper for the adapters, writes the host-controller table and sends a trap when an adapter's
// status changed. Nothing goes to the registry.
class ZDTFCADataCollector : public DATACOLLECTOR {
public:
    ZDTFCADataCollector();
    ~ZDTFCADataCollector() override;

    int Register(AXSESSION *session) override;
    void Collect(int firstRun, DATASTORE *staging) override;

    LONG GetFcaData(std::vector<FCA_HBA_RECORD> *records);
    void UpdateFcaData();
    void Report_zdtFcaHostCntlr(DATASTORE *staging);
    void SendFcaTrap(uint32_t trapNumber, const FCA_HBA_RECORD &record);
    uint32_t MapFcaModelToSnmpEnum(uint32_t boardId);
    void GetRealPciSlotNumber(uint32_t *slot, unsigned bus, unsigned device, unsigned function);
    void GetSmbData(uint32_t slot, const std::string &pciLocation, std::string *firmware);

    // As a new process starts: no previous records, the first collection ahead (tests only).
    void ResetForTests();

private:
    std::vector<FCA_HBA_RECORD> m_Previous;
};

extern ZDTFCADataCollector s_ZDTFCADataCollector;
