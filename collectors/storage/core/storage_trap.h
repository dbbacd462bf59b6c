#pragma once
// The first two varbinds of every storage trap: sysName.0 (the computer's physical DNS name) and the trap-flags
// object ENTERPRISE_ARC.11.2.11.1.0 holding the condition shifted left by 2. The columns of the
// row the trap is about follow.

#include "traps.h"

#include <cstdint>

// False (the trap left as it was after the first varbind that did not fit) when a varbind does not
// fit the trap.
bool AddStorageTrapHeader(TRAP_BUFFER *trap, uint32_t condition);
