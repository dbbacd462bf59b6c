// The physical adapter's use of the miniport layer's link, firmware and resource queries.
#include "physical_adapter.h"

#include "miniport.h"

// Interim: until the dynamic-data, firmware and resource queries of the miniport layer are in,
// the link comes from the generic reader and no resources are found.
DWORD CPhysicalAdapter::ReadDynamicData(MINIPORTDYNAMICDATA *data)
{
    data->condition = 1;
    data->duplexState = 1;
    data->linkSpeed = 0;
    return m_Miniport->GetGenericCondition(data);
}

const char *CPhysicalAdapter::ReadFirmware()
{
    return m_Miniport->GetFirmwareText();
}

int CPhysicalAdapter::AssignPhysicalResources(CWin32NetAdapterList *, CMiniport *)
{
    LOG_VERBOSE(L"CPhysicalAdapter::AssignPhysicalResources", L"Assign physical resources.");
    LOG_WARNING(L"CPhysicalAdapter::AssignPhysicalResources", L"Can't obtain resources.");
    return 0;
}
