#pragma once
#include "datacollector.h"
#include "ide_records.h"

#include <cstdint>
#include <vector>

class CSMBIOSTable;

// The IDE/ATA collector of group 14: the controller and disk tables, and a trap when a disk's
// status or SSD wear status changed since the previous collection. The data come from the device
// layer, which the constructor starts; the disks for the trap check are the records the layer
// published, read back from the registry.
class ZDTIDEDataCollector : public DATACOLLECTOR {
public:
    ZDTIDEDataCollector();
    ~ZDTIDEDataCollector() override;

    int Register(AXSESSION *session) override;
    void Collect(int firstRun, DATASTORE *staging) override;

    // A Win32 code; on success the published disk records, texts trimmed, busy disks' status and
    // condition replaced by the default or the previous collection's.
    LONG GetIdeDiskData(std::vector<IDE_DISK_RECORD> *list);
    void CheckIdeDiskTraps(const std::vector<IDE_DISK_RECORD> &previous, const std::vector<IDE_DISK_RECORD> &current);
    void SendIdeTrap(uint32_t trapNumber, const IDE_DISK_RECORD &disk);
    void Report_zdtIdeAtaDisk(DATASTORE *staging);

    // The previous collection's values for the disk with this serial number (compared without
    // case); the values are left when no previous disk has it. An empty serial matches nothing.
    void GetPreviousDiskStatus(const char *serial, uint8_t *status, uint8_t *condition);
    void GetPreviousDiskCurrTemperature(const char *serial, uint32_t *temperature);
    void GetPreviousDiskMaximumOperatingTemp(const char *serial, uint32_t *temperature);

    // The controller table from these records, their names taken from the SMBIOS table when it
    // is given and valid.
    void WriteControllerTable(DATASTORE *staging, std::vector<IDE_CONTROLLER_RECORD> controllers,
                              const CSMBIOSTable *smbios);
    // The disk table from these records (as the device layer handed them).
    void WriteDiskTable(DATASTORE *staging, std::vector<IDE_DISK_RECORD> disks, const CSMBIOSTable *smbios);

    // As a new process starts: no previous disks, the first poll still to come (tests only).
    void ResetForTests();
    // A later poll with these disks as the previous collection's (tests only).
    void SetPreviousDisksForTests(std::vector<IDE_DISK_RECORD> disks)
    {
        m_PreviousDisks = std::move(disks);
        m_FirstPoll = 0;
    }
    const std::vector<IDE_DISK_RECORD> &PreviousDisks() const { return m_PreviousDisks; }

private:
    const IDE_DISK_RECORD *FindPrevious(const char *serial) const;

    std::vector<IDE_DISK_RECORD> m_PreviousDisks;
    int m_FirstPoll = 1;
};

extern ZDTIDEDataCollector s_ZDTIDEDataCollector;
