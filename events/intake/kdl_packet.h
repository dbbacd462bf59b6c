#pragma once
// Where the hardware event entry lies in a received packet of command 149. Portable, so that the
// whole way from a channel packet to the event text can be fuzzed natively.

#include <cstddef>
#include <cstdint>

// The number of bytes of the packet that belong to the entry: from offset 16 up to the end of
// what arrived, and no further than the packet's own size says; 0 when there are none.
size_t KdlEntryBytesAvailable(const uint8_t *packet, size_t received);
