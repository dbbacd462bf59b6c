#pragma once
#include "datacollector.h"

// The Fibre Channel collector of group 16. Registration and collection come with the HBA API
// layer; until then it runs the base behaviour.
class ZDTFCADataCollector : public DATACOLLECTOR {
public:
    ZDTFCADataCollector();
    ~ZDTFCADataCollector() override;
};

extern ZDTFCADataCollector s_ZDTFCADataCollector;
