#include "echo_responder.h"

#include "chan_packet.h"

bool EchoResponder::Answer(uint32_t, uint32_t, const Packet &request, std::vector<Packet> *replies)
{
    Packet reply = request;
    ChanPacketFields fields;
    if (ReadChanPacketFields(reply.data(), reply.size(), &fields))
        PutU16(reply.data() + 4, static_cast<uint16_t>(fields.command | kChanReplyBit));
    replies->push_back(reply);
    return true;
}
