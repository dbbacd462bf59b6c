#include "blackbox_calls.h"

#include "blackbox_link.h"

BLACKBOX_ENTRY_POINTS s_BlackBoxEntryPoints;

bool StartBlackBoxFeeder()
{
    return s_BlackBoxEntryPoints.Init == nullptr || s_BlackBoxEntryPoints.Init();
}

void StopBlackBoxFeeder()
{
    if (s_BlackBoxEntryPoints.Term != nullptr)
        s_BlackBoxEntryPoints.Term();
}

void PostBootRecord()
{
    if (s_BlackBoxEntryPoints.PostOsBoot != nullptr)
        s_BlackBoxEntryPoints.PostOsBoot();
}

int PostShutdownRecord()
{
    return s_BlackBoxEntryPoints.PostOsShutdown != nullptr ? s_BlackBoxEntryPoints.PostOsShutdown() : 0;
}

void PostLinkRecord(uint32_t interfaceIndex, uint16_t flags, const char *description)
{
    if (s_BlackBoxEntryPoints.PostNicLink != nullptr)
        s_BlackBoxEntryPoints.PostNicLink(interfaceIndex, flags, description);
}
