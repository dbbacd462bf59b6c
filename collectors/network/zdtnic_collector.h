#pragma once
#include "datacollector.h"

// The NIC collector of group 18: it loads the NIC library, reads the records the library
// publishes and relays its traps. Initialize, Terminate, Register and Collect come with the NIC
// library; until then it runs the base behaviour.
class ZDTNICDataCollector : public DATACOLLECTOR {
public:
    ZDTNICDataCollector();
    ~ZDTNICDataCollector() override;
};

extern ZDTNICDataCollector s_ZDTNICDataCollector;
