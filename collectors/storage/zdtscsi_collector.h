#pragma once
#include "datacollector.h"

// The SCSI collector of group 5. It collects nothing itself: it registers the group's revision
// region, the SAS collector, which shares its switch, raises its condition, and the base
// EndCollection publishes its revision and condition.
//
// The scheduler collects it on the first cycle and afterwards only when a request for group 5
// triggers it (its interval never elapses unless the Parameters key gives it one, the
// service-wide PollInterval or PollInterval_ZDTSCSI), while the SAS collector collects on its
// own interval: most of its collections have no SAS collection beside them. Such a collection
// takes the condition of the SAS collector's last collection, which is what the drives were
// last seen as, instead of publishing the empty condition its start left.
class ZDTSCSIDataCollector : public DATACOLLECTOR {
public:
    ZDTSCSIDataCollector();
    ~ZDTSCSIDataCollector() override;

    int Register(AXSESSION *session) override;
    void EndCollection(int firstRun, DATASTORE *staging) override;
};

extern ZDTSCSIDataCollector s_ZDTSCSIDataCollector;
