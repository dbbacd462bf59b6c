#pragma once
// The sub-agent's view of the data-collection scheduler: the enabled collectors of the collector
// list register their regions, and request triggers go to TriggerCollection. The service's start
// calls InstallAgentXSchedulerLink before StartAgentX.

#include "subagent.h"

class AGENTX_SCHEDULER_LINK : public AGENTX_SCHEDULER {
public:
    int RegisterCollectors(AXSESSION &session) override;
    void TriggerCollection(const char *group, uint32_t seconds) override;
};

void InstallAgentXSchedulerLink();
