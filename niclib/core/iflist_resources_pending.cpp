// Built only while the Windows network adapter list and the port map are not part of the tree:
// the generation is built without members' resources and positions.
#include "iflist.h"

#include "common_log.h"

DWORD CIFList::CreateWin32NetAdapterList(CWin32NetAdapterList **list)
{
    *list = nullptr;
    LOG_WARNING(L"CIFList::CreateWin32NetAdapterList", L"Can't create CWin32NetAdapterList.");
    return 0;
}

void CIFList::DeleteWin32NetAdapterList(CWin32NetAdapterList *) {}

DWORD CIFList::AssignResourcesToAdapters(CWin32NetAdapterList *)
{
    return 1;
}
