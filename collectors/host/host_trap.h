#pragma once
// The frame the host collectors' traps share: ENTERPRISE_ARC.0.trapNumber, sysName.0 (the
// computer's physical DNS name, "Unknown" when it cannot be read), the trap flags, then what
// addOwn adds. Nothing happens when traps are disabled.

#include <cstdint>
#include <functional>

struct TRAP_BUFFER;

void SendHostTrap(unsigned trapNumber, int32_t flags, const std::function<void(TRAP_BUFFER *trap)> &addOwn);
