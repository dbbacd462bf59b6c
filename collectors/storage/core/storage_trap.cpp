#include "storage_trap.h"

bool AddStorageTrapHeader(TRAP_BUFFER *trap, uint32_t condition)
{
    return AddTrapHeader(trap, static_cast<int32_t>(condition << 2));
}
