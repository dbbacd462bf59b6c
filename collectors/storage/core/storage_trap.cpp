#include "storage_trap.h"

#include "agentx_pdu.h"
#include "enterprise_arc.h"

#include <windows.h>

#include <cstring>

namespace {

const uint32_t kSysName[] = {1, 3, 6, 1, 2, 1, 1, 5, 0};

bool AddOid(uint8_t *buffer, const uint32_t *ids, size_t count)
{
    return WriteAgentXOid(buffer, 0, 0, ids, static_cast<uint8_t>(count)) != 0;
}

} // namespace

TRAP_BUFFER *CreateStorageTrap(uint32_t trapNumber)
{
    uint8_t trapOid[AGENTX_PDU_BUFFER_SIZE / 8];
    EncodeAgentXOid(EnterpriseOid({0, trapNumber}), trapOid);
    return CreateTrap(trapOid);
}

bool AddStorageTrapHeader(TRAP_BUFFER *trap, uint32_t condition, StorageTrapName which)
{
    if (trap == nullptr)
        return false;
    char name[260] = {};
    DWORD size = which == StorageTrapName::Computer ? MAX_COMPUTERNAME_LENGTH + 1 : sizeof name;
    if (which == StorageTrapName::Computer) {
        if (!GetComputerNameA(name, &size))
            name[0] = '\0';
    } else if (!GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, name, &size)) {
        std::strcpy(name, "Unknown");
    }
    name[sizeof name - 1] = '\0';

    uint8_t oid[4 * 16];
    uint8_t varbind[512];
    AddOid(oid, kSysName, sizeof kSysName / sizeof kSysName[0]);
    MakeOctetStringVarBind(varbind, oid, name);
    if (!AddTrapVarBind(trap, varbind))
        return false;

    uint32_t flags[ENTERPRISE_ARC_LENGTH + 5];
    for (int i = 0; i < ENTERPRISE_ARC_LENGTH; ++i)
        flags[i] = ENTERPRISE_ARC[i];
    const uint32_t below[] = {11, 2, 11, 1, 0};
    for (int i = 0; i < 5; ++i)
        flags[ENTERPRISE_ARC_LENGTH + i] = below[i];
    AddOid(oid, flags, sizeof flags / sizeof flags[0]);
    MakeIntegerVarBind(varbind, oid, static_cast<int32_t>(condition << 2));
    return AddTrapVarBind(trap, varbind);
}
