// The members' resources and positions: the Windows network adapter list gives each member its
// PCI resources and driver, the port map its slot, port, bay and virtual port.
#include "iflist.h"

#include "common_log.h"
#include "physical_adapter.h"
#include "win32_net_adapter.h"
#if __has_include("port_map.h")
#include "port_map.h"
#define NIC_HAVE_PORT_MAP 1
#else
// The port map is not part of this tree yet: every lookup misses.
#define NIC_HAVE_PORT_MAP 0
#endif

#include <objbase.h>

#include <new>

namespace {

// Each port-map call runs in a multithreaded apartment of its own.
struct PortMapApartment {
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ~PortMapApartment()
    {
        if (SUCCEEDED(result))
            CoUninitialize();
    }
};

template <class Step> void ForEachOwnedMember(LOGADAPTERNODE *head, Step step)
{
    for (LOGADAPTERNODE *node = head; node != nullptr; node = node->next) {
        if (node->object->GetSharesMemberList())
            continue;
        for (PHYSADAPTERNODE *member = node->object->GetMemberList(); member != nullptr; member = member->next)
            step(member->object);
    }
}

} // namespace

DWORD CIFList::CreateWin32NetAdapterList(CWin32NetAdapterList **list)
{
    constexpr wchar_t kFunction[] = L"CIFList::CreateWin32NetAdapterList";
    *list = new (std::nothrow) CWin32NetAdapterList();
    if (*list == nullptr) {
        LOG_WARNING(kFunction, L"Can't create CWin32NetAdapterList.");
        return 0;
    }
    DWORD result = static_cast<DWORD>((*list)->Init());
    if (result == 0)
        LOG_WARNING(kFunction, L"Can't initialize Win32NetAdapterlist. Return code: %d", static_cast<int>(result));
    return result;
}

void CIFList::DeleteWin32NetAdapterList(CWin32NetAdapterList *list)
{
    delete list;
}

DWORD CIFList::AssignResourcesToAdapters(CWin32NetAdapterList *list)
{
    constexpr wchar_t kFunction[] = L"CIFList::AssignResourcesToAdapters";
    LOG_INFO(kFunction, L"Assigning resources to physical adapter.");
    DWORD result = 1;
    ForEachOwnedMember(m_Head, [&](CPhysicalAdapter *member) {
        result = static_cast<DWORD>(member->AssignPhysicalResources(list, member->GetMiniport()));
        if (result == 0)
            LOG_WARNING(kFunction, L"Can't assign physical resources. Return code: %d", static_cast<int>(result));
    });
    {
        PortMapApartment apartment;
        LOG_INFO(kFunction, L"Refresh port info..");
#if NIC_HAVE_PORT_MAP
        PortMapInit();
#endif
    }
    ForEachOwnedMember(m_Head, [&](CPhysicalAdapter *member) {
        PortMapApartment apartment;
        const int segment = member->GetSegment() == 0 ? -1 : member->GetSegment();
        LOG_VERBOSE(kFunction, L"seg: %d bus: %d dev: %d func: %d loc: %d", static_cast<int>(member->GetSegment()),
                    static_cast<int>(member->GetBus()), static_cast<int>(member->GetDevice()),
                    static_cast<int>(member->GetFunction()), static_cast<int>(member->GetLocation()));
        LOG_INFO(kFunction, L"Getting port info..");
        int slot = 0;
        int bay = -1;
        int port = -1;
        int virtualPort = -1;
        const uint8_t portByte = static_cast<uint8_t>(member->GetFunction() + 1);
#if NIC_HAVE_PORT_MAP
        const bool found = PortMapGetPortInfo(segment, member->GetBus(), member->GetDevice(), member->GetFunction(),
                                              member->GetLocation(), &slot, &bay, &port, &virtualPort) != 0;
        const bool bayInfo = found && PortMapGetBayInfoFlag() != 0;
#else
        (void)segment;
        const bool found = false;
        const bool bayInfo = false;
#endif
        if (found) {
            if (port != -1)
                member->SetPort(portByte);
            member->SetSlot(slot);
            if (bayInfo) {
                member->SetServerBay(bay);
                member->SetVirtualPort(virtualPort);
            }
        } else {
            member->SetPort(portByte);
        }
    });
    return result;
}
