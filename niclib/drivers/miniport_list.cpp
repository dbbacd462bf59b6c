// The miniport list: built from the network-class interfaces, and the matching of interface rows
// to the miniports behind them (team VLANs, team interfaces, plain NICs, in that order).
#include "miniport.h"

#include "netclass.h"
#include "vendor_libs.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr DWORD kNoInterface = ERROR_NOT_ENOUGH_MEMORY; // 8

// 8-bit lower-case text of at most maxBytes - 1 characters.
std::string LowerAnsi(const wchar_t *text, size_t maxBytes)
{
    std::string out;
    for (; text != nullptr && *text != 0 && out.size() + 1 < maxBytes; ++text)
        out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*text < 0x100 ? *text : '?'))));
    return out;
}

// The row's interface name contains the miniport's device name from its first "{" on. A device
// name without "{" names no interface.
bool GuidTestPasses(const CMiniport &miniport, const MIB_IFROW &row)
{
    const std::string device = LowerAnsi(miniport.GetDeviceName(), 1024);
    const size_t brace = device.find('{');
    if (brace == std::string::npos)
        return false;
    const std::string name = LowerAnsi(row.wszName, 256);
    return name.find(device.substr(brace)) != std::string::npos;
}

} // namespace

const char *MyStrStr(const char *text, const char *pattern)
{
    if (text == nullptr || pattern == nullptr)
        return nullptr;
    return std::strstr(text, pattern);
}

DWORD GetIPbyIfIndex(DWORD index, DWORD *addresses, const MIB_IPADDRTABLE *table)
{
    if (table == nullptr)
        return 2;
    DWORD count = 0;
    bool any = false;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        if (table->table[i].dwIndex != index)
            continue;
        if (addresses != nullptr)
            addresses[count++] = table->table[i].dwAddr;
        any = any || table->table[i].dwAddr != 0;
    }
    // Any non-zero row counts: an interface whose first row is 0.0.0.0 may hold a real address.
    if (any)
        return 0;
    LOG_VERBOSE(L"GetIPbyIfIndex", L"Interface not found in IpAddrTable. if_index: %d", static_cast<int>(index));
    return 2;
}

DWORD CMiniportList::Init()
{
    g_NextTeamId = -1;
    DWORD result = kNoInterface;
    // From its first miniport on, the build holds the vendor libraries itself, so that an
    // interface dropped on the way (its miniport destroyed) does not release them before the next
    // one brings them up again.
    bool held = false;
    CNetClassIfList *interfaces = new (std::nothrow) CNetClassIfList;
    if (interfaces != nullptr) {
        interfaces->Init();
        for (NETCLASSIFNODE *node = interfaces->GetFirst(); node != nullptr; node = node->next) {
            CNetClassIf *netIf = node->object;
            if (FindMiniportByName(netIf->GetName()) != nullptr)
                continue;
            MINIPORTNODE *miniportNode = AllocateMiniportNode();
            if (miniportNode == nullptr) {
                LOG_WARNING(L"CMiniportList::Init", L"Can't allocate MINIPORTNODE");
                continue;
            }
            if (!held) {
                HoldVendorLibraries();
                held = true;
            }
            std::vector<wchar_t> path(static_cast<size_t>(netIf->GetPathSize() / sizeof(wchar_t)) + 1, L'\0');
            std::vector<wchar_t> device(static_cast<size_t>(netIf->GetDeviceNameSize() / sizeof(wchar_t)) + 1, L'\0');
            netIf->GetDeviceName(device.data());
            netIf->GetDevicePath(path.data());
            const uint64_t size = (wcslen(device.data()) + 1) * sizeof(wchar_t);
            DWORD init = miniportNode->object->Init(path.data(), device.data(), size, this);
            if (init != 0) {
                LOG_WARNING(L"CMiniportList::Init", L"non-physical adapter Init returned: %d", static_cast<int>(init));
                DeleteListNode(miniportNode);
                result = 0;
            } else {
                Append(miniportNode);
                result = 0;
            }
        }
        delete interfaces;
    }
    if (held)
        ReleaseVendorLibraries();
    if (result != 0)
        return result;
    LOG_VERBOSE(L"CMiniportList::Init", L"this object: 0x%X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(this)));
    return 0;
}

CMiniport *CMiniportList::AssignMiniport(const MIB_IFROW *row, const MIB_IPADDRTABLE *table)
{
    static constexpr wchar_t kFunction[] = L"CMiniportList::AssignMiniport";
    if (row == nullptr)
        return nullptr;
    const size_t rows = table != nullptr ? std::max<DWORD>(table->dwNumEntries, 1) : 1;
    std::vector<DWORD> addresses;
    try {
        addresses.assign(rows, 0);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    const bool hasAddress = GetIPbyIfIndex(row->dwIndex, addresses.data(), table) == 0;
    auto match = [row](CMiniport *miniport) {
        miniport->SetAssigned(1);
        miniport->SetLogicalIndex(static_cast<int32_t>(row->dwIndex));
        return miniport;
    };

    // Pass 1: VLAN interfaces of a team, whatever their link.
    for (MINIPORTNODE *node = m_First; node != nullptr; node = node->next) {
        CMiniport *m = node->object;
        if (!m->IsCurrentPhysAddr(row->bPhysAddr, row->dwPhysAddrLen) || m->GetVlanId() == 0 || !(m->GetFlags() & 2) ||
            m->GetAssigned() != 0)
            continue;
        MINIPORTDYNAMICDATA data = {1, 1, 0};
        m->GetGenericCondition(&data);
        if (data.condition != 4 && !hasAddress)
            LOG_WARNING(kFunction, L"Found a fake nic. status: %d", static_cast<int>(data.condition));
        if (GuidTestPasses(*m, *row)) {
            match(m);
            if (data.condition == 2)
                m->SetConditionStable(0);
            return m;
        }
    }
    // Pass 2: team interfaces without VLAN; one that is up but has no address stands in for its
    // team without being in use.
    for (MINIPORTNODE *node = m_First; node != nullptr; node = node->next) {
        CMiniport *m = node->object;
        if (!m->IsCurrentPhysAddr(row->bPhysAddr, row->dwPhysAddrLen) || m->GetVlanId() != 0 || !(m->GetFlags() & 2) ||
            m->GetAssigned() != 0)
            continue;
        MINIPORTDYNAMICDATA data = {1, 1, 0};
        m->GetGenericCondition(&data);
        if (data.condition != 4 && !hasAddress) {
            LOG_WARNING(kFunction, L"Found a fake nic. status: %d look_ip: %d", static_cast<int>(data.condition),
                        hasAddress ? 1 : 0);
            continue;
        }
        if (GuidTestPasses(*m, *row))
            return match(m);
    }
    // Pass 3: plain NICs, by address alone.
    for (MINIPORTNODE *node = m_First; node != nullptr; node = node->next) {
        CMiniport *m = node->object;
        if (m->IsCurrentPhysAddr(row->bPhysAddr, row->dwPhysAddrLen) && m->GetAssigned() == 0 && m->GetFlags() == 0)
            return match(m);
    }
    return nullptr;
}

CMiniport *CMiniportList::FindMiniportByPhysAddr(DWORD index, const uint8_t *address, DWORD length) const
{
    for (MINIPORTNODE *node = m_First; node != nullptr; node = node->next)
        if (node->object->IsCurrentPhysAddr(address, length) &&
            node->object->GetLogicalIndex() == static_cast<int32_t>(index))
            return node->object;
    return nullptr;
}
