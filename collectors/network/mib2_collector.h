#pragma once
#include "datacollector.h"

// The MIB-2 collector: the interfaces, IP and host-resources software groups. It has no private
// group, so the scheduler publishes nothing for it, and it reads the health-log re-log flags.
// Register and Collect come with those groups; until then it runs the base behaviour.
class MIB2DataCollector : public DATACOLLECTOR {
public:
    MIB2DataCollector();
    ~MIB2DataCollector() override;
};

extern MIB2DataCollector s_MIB2DataCollector;
