#include "iflist_generation.h"

#include "iflist.h"
#include "lbfo.h"

#include <new>

namespace {

class IfListGeneration final : public INicGeneration {
public:
    DWORD Init(CTrap *trap) override { return m_List.Init(trap); }
    DWORD Update() override { return m_List.Update(); }
    int NeedReInit() override { return m_List.NeedReInit(); }
    void ReleaseKeepingRecords() override
    {
        m_List.KeepRecords();
        delete this;
    }

private:
    CIFList m_List;
};

} // namespace

INicGeneration *NewIfListGeneration()
{
    return new (std::nothrow) IfListGeneration();
}

HRESULT IfListThreadComStart(HANDLE stopEvent)
{
    g_NetWMIClass.SetStopEvent(stopEvent);
    return g_NetWMIClass.WBEMInit();
}

void IfListThreadComEnd(HRESULT)
{
    g_NetWMIClass.WBEMUninit();
    g_NetWMIClass.SetStopEvent(nullptr);
}
