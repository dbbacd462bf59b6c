#pragma once
// The service's collectors, composed here: the scheduler and the sub-agent work on whatever list
// the program installs (SetCollectorList), so that nothing below the program names a collector.

#include "datacollector.h"

// The nine collectors in their fixed order (the order of every pass and of registration), then null.
extern DATACOLLECTOR *s_CollectorList[];
