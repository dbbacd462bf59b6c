#pragma once
#include "datacollector.h"

// The SCSI collector of group 5. It collects nothing itself: it registers the group's revision
// region, the SAS collector, which shares its switch, raises its condition, and the base
// EndCollection publishes its revision and condition (with every SAS collection too).
class ZDTSCSIDataCollector : public DATACOLLECTOR {
public:
    ZDTSCSIDataCollector();
    ~ZDTSCSIDataCollector() override;

    int Register(AXSESSION *session) override;
};

extern ZDTSCSIDataCollector s_ZDTSCSIDataCollector;
