#pragma once
#include "datacollector.h"

// The iSCSI collector of group 169, the highest group of the service (it sets the length of the
// status array). Registration and collection come with the iSCSI layer; until then it runs the
// base behaviour.
class ZDTiSCSIDataCollector : public DATACOLLECTOR {
public:
    ZDTiSCSIDataCollector();
    ~ZDTiSCSIDataCollector() override;
};

extern ZDTiSCSIDataCollector s_ZDTiSCSIDataCollector;
