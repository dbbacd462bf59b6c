#include "storage_trap.h"

#include "agentx_pdu.h"
#include "enterprise_arc.h"

TRAP_BUFFER *CreateStorageTrap(uint32_t trapNumber)
{
    uint8_t trapOid[AGENTX_PDU_BUFFER_SIZE / 8];
    EncodeAgentXOid(EnterpriseOid({0, trapNumber}), trapOid);
    return CreateTrap(trapOid);
}

bool AddStorageTrapHeader(TRAP_BUFFER *trap, uint32_t condition)
{
    return AddTrapHeader(trap, static_cast<int32_t>(condition << 2));
}
