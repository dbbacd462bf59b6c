#include "kdl_packet.h"

#include "kdl_entry.h"

#include <algorithm>

size_t KdlEntryBytesAvailable(const uint8_t *packet, size_t received)
{
    ByteReader reader(packet, received);
    uint16_t packetSize = 0;
    size_t end = reader.U16(0, &packetSize) ? std::min<size_t>(received, packetSize) : 0;
    return end > kKdlEntryPacketOffset ? end - kKdlEntryPacketOffset : 0;
}
