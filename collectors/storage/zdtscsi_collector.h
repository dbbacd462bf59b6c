#pragma once
#include "datacollector.h"

// The SCSI collector of group 5. It collects nothing itself: the SAS collector, which shares its
// switch, raises its condition, and the base EndCollection publishes its revision and condition.
// Registration of its regions comes with the storage collectors.
class ZDTSCSIDataCollector : public DATACOLLECTOR {
public:
    ZDTSCSIDataCollector();
    ~ZDTSCSIDataCollector() override;
};

extern ZDTSCSIDataCollector s_ZDTSCSIDataCollector;
