#pragma once
#include "datacollector.h"
#include "sas_records.h"

#include <vector>

// The SAS collector. Its objects lie in the SCSI group (it has no group of its own) and it shares
// the SCSI collector's switch. Each collection copies the adapters and drives out of the SAS
// discovery engine into its two tables, and traps a drive whose status or wear status changed,
// that came or that vanished since the previous collection.
class ZDTSASDataCollector : public DATACOLLECTOR {
public:
    ZDTSASDataCollector();
    ~ZDTSASDataCollector() override;

    int Register(AXSESSION *session) override;
    void Collect(int firstRun, DATASTORE *staging) override;

    void Collect_zdtSasHba(DATASTORE *staging);
    void UpdateDriveList();
    void Collect_zdtSasPhyDrv(DATASTORE *staging);
    void CheckSasTraps(const std::vector<SAS_PHYDRV_RECORD> &current);
    void SavePreviousDrives(const std::vector<SAS_PHYDRV_RECORD> &current);
    void SendSasTrap(uint32_t trapNumber, const SAS_PHYDRV_RECORD &record);

    // The engine's records, none when it found none or its discovery failed; 0 in every case.
    static int GetSasHbaRecords(std::vector<SAS_HBA_RECORD> *records);
    static int GetSasDriveRecords(std::vector<SAS_PHYDRV_RECORD> *records);

    const std::vector<SAS_PHYDRV_RECORD> &PreviousDrives() const { return m_PreviousDrives; }
    // As a new process starts: no previous drives (tests only).
    void ResetForTests() { m_PreviousDrives.clear(); }

private:
    std::vector<SAS_PHYDRV_RECORD> m_PreviousDrives;
};

extern ZDTSASDataCollector s_ZDTSASDataCollector;
