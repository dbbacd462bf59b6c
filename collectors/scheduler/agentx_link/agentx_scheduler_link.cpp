#include "agentx_scheduler_link.h"

#include "datacollector.h"
#include "scheduler.h"

#include <string>

int AGENTX_SCHEDULER_LINK::RegisterCollectors(AXSESSION &session)
{
    int result = 0;
    for (DATACOLLECTOR *const *collector = GetCollectorList(); *collector != nullptr; ++collector) {
        if (!(*collector)->IsEnabled())
            continue;
        int registered = (*collector)->Register(&session);
        if (registered != 0)
            result = registered;
    }
    return result;
}

void AGENTX_SCHEDULER_LINK::TriggerCollection(const char *group, uint32_t seconds)
{
    // Group names are ASCII.
    std::wstring name(group, group + std::char_traits<char>::length(group));
    ::TriggerCollection(name.c_str(), static_cast<int>(seconds));
}

void InstallAgentXSchedulerLink()
{
    static AGENTX_SCHEDULER_LINK link;
    s_AgentXScheduler = &link;
}
