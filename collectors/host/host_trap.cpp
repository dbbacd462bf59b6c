#include "host_trap.h"

#include "agentx_pdu.h"
#include "enterprise_arc.h"
#include "traps.h"

void SendHostTrap(unsigned trapNumber, int32_t flags, const std::function<void(TRAP_BUFFER *trap)> &addOwn)
{
    uint8_t trapOid[AGENTX_PDU_BUFFER_SIZE / 8];
    EncodeAgentXOid(EnterpriseOid({0, 0}), trapOid);
    SetLastSubId(trapOid, trapNumber);
    TRAP_BUFFER *trap = CreateTrap(trapOid);
    if (trap == nullptr)
        return;
    AddTrapHeader(trap, flags);
    if (addOwn)
        addOwn(trap);
    SendTrap(trap);
}
