#pragma once
#include "datacollector.h"

// The IDE/ATA collector of group 14. Registration and collection come with the ATA device layer;
// until then it runs the base behaviour.
class ZDTIDEDataCollector : public DATACOLLECTOR {
public:
    ZDTIDEDataCollector();
    ~ZDTIDEDataCollector() override;
};

extern ZDTIDEDataCollector s_ZDTIDEDataCollector;
