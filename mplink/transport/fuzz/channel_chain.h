#pragma once
// The stages of the channel chain fuzz target that live in translation units of their own.

#include <cstddef>
#include <cstdint>

void ChainCheck(bool condition);
// A packet the receive thread routed to the hardware event intake: the entry it holds, checked
// and decoded into event text as the intake does. False when the entry is dropped.
bool ChainKdlEventText(const uint8_t *packet, size_t received);
