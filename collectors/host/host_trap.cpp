#include "host_trap.h"

#include "agentx_pdu.h"
#include "enterprise_arc.h"
#include "traps.h"

#include <windows.h>

#include <cstring>

namespace {

constexpr size_t kComputerNameBytes = 260;

} // namespace

void SendHostTrap(unsigned trapNumber, int32_t flags, const std::function<void(TRAP_BUFFER *trap)> &addOwn)
{
    uint8_t trapOid[AGENTX_PDU_BUFFER_SIZE / 8];
    EncodeAgentXOid(EnterpriseOid({0, 0}), trapOid);
    SetLastSubId(trapOid, trapNumber);

    char name[kComputerNameBytes] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, name, &size))
        strcpy(name, "Unknown");
    name[sizeof name - 1] = '\0';

    TRAP_BUFFER *trap = CreateTrap(trapOid);
    if (trap == nullptr)
        return;
    uint8_t oid[AGENTX_PDU_BUFFER_SIZE / 8];
    uint8_t varbind[AGENTX_PDU_BUFFER_SIZE / 2];
    EncodeAgentXOid(MIBOID{1, 3, 6, 1, 2, 1, 1, 5, 0}, oid);
    AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, oid, name));
    EncodeAgentXOid(EnterpriseOid({11, 2, 11, 1, 0}), oid);
    AddTrapVarBind(trap, MakeIntegerVarBind(varbind, oid, flags));
    if (addOwn)
        addOwn(trap);
    SendTrap(trap);
}
