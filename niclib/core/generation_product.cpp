// The generation of netvarix.dll: the interface list over the system's own interfaces, drivers
// and devices. Nothing in it picks another backend.
#include "iflist_generation.h"

INicGeneration *NewNicGeneration()
{
    return NewIfListGeneration();
}

HRESULT NicThreadComStart(HANDLE stopEvent)
{
    return IfListThreadComStart(stopEvent);
}

void NicThreadComEnd(HRESULT started)
{
    IfListThreadComEnd(started);
}
