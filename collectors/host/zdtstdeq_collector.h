#pragma once
#include "datacollector.h"

// The standard-equipment collector: PCI slots and functions, PCIe disks and the SD/USB storage
// kit, with their traps. Its objects lie outside a group of its own (group 0), so the scheduler
// publishes no revision, interval or status entry for it. Registration and collection of its
// tables come with those tables; until then it runs the base behaviour.
class ZDTSTDEQDataCollector : public DATACOLLECTOR {
public:
    ZDTSTDEQDataCollector();
    ~ZDTSTDEQDataCollector() override;
};

extern ZDTSTDEQDataCollector s_ZDTSTDEQDataCollector;
