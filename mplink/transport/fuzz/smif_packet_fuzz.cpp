// What the receive thread does with bytes from the far end: sort them, and for requests take the
// PDU out. The PDU taken must lie inside the bytes and re-frame to a packet of the same PDU.
#include "smif_packet.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    SmifRoute route = RouteSmifPacket(data, size);
    SMIF_PASSTHRU_VIEW view;
    bool read = ReadSmifPassthru(data, size, &view);
    if (read) {
        if (view.pdu < data || view.pdu + view.pduLength > data + size || view.pduLength > SMIF_MAX_PDU)
            std::abort();
        uint8_t packet[SMIF_MAX_PACKET];
        size_t framed = BuildSmifPassthruPacket(view.pdu, view.pduLength, packet);
        if (framed != view.pduLength + smiflayout::kPdu || std::memcmp(packet + smiflayout::kPdu, view.pdu, view.pduLength))
            std::abort();
    }
    if (route == SmifRoute::Request && !read)
        std::abort();
    return 0;
}
