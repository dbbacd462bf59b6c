#pragma once
#include "datacollector.h"

// The host collector of group 11: operating system, memory, file systems, software and driver
// versions, running software and processor utilisation, and the heartbeat test trap. It reads the
// health-log re-log flags. Its Initialize, Terminate, Register and Collect come with those groups;
// until then it runs the base behaviour.
class ZDTHOSTDataCollector : public DATACOLLECTOR {
public:
    ZDTHOSTDataCollector();
    ~ZDTHOSTDataCollector() override;
};

extern ZDTHOSTDataCollector s_ZDTHOSTDataCollector;
