// Bytes from the channel's far end, followed through every stage that reads them, so that a size
// one stage lets through and the next one trips over shows:
//   - as a message of the simulated channel's control pipe (request or reply): what decodes
//     encodes back to the same bytes;
//   - as a channel packet: the header fields the request/reply layer reads, then the receive
//     thread's routing;
//   - a hardware event packet: the entry check and the decode into event text;
//   - an AgentX request: the passthru view (inside the bytes, re-framing to the same PDU), then
//     the session's bounded reader over exactly the PDU the queue hands on.
#include "agentx_pdu.h"
#include "chan_packet.h"
#include "channel_chain.h"
#include "pipe_protocol.h"
#include "smif_packet.h"

#include <cstring>
#include <memory>

namespace {

void PipeControlMessages(const uint8_t *data, size_t size)
{
    pipeproto::ControlMessage message;
    uint8_t encoded[pipeproto::kMaxMessage];
    if (pipeproto::DecodeReply(data, size, &message)) {
        size_t length = pipeproto::EncodeReply(message, encoded, sizeof(encoded));
        ChainCheck(length == size && std::memcmp(encoded, data, size) == 0);
    }
    if (pipeproto::DecodeRequest(data, size, &message)) {
        size_t length = pipeproto::EncodeRequest(message, encoded, sizeof(encoded));
        ChainCheck(length == size && std::memcmp(encoded, data, size) == 0);
    }
}

void AgentXRequest(const SMIF_PASSTHRU_VIEW &view)
{
    // The queue keeps a copy of exactly the PDU's bytes.
    auto pdu = std::make_unique<uint8_t[]>(view.pduLength);
    std::memcpy(pdu.get(), view.pdu, view.pduLength);
    AGENTX_RECEIVED_PDU read;
    int check = ReadAgentXPdu(pdu.get(), view.pduLength, &read);
    // The transport let it through with a whole header: the session always has someone to answer
    // or a version to refuse.
    ChainCheck(check != AXRead_ShortHeader);
    uint16_t error = 0;
    if (check == AXRead_Ok) {
        ChainCheck(read.size <= view.pduLength);
        ChainCheck(read.header.type != AXPacketType_Response);
        ChainCheck(AgentXReadAnswer(check, &error) && error == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    PipeControlMessages(data, size);

    ChanPacketFields fields;
    ChainCheck(ReadChanPacketFields(data, size, &fields) == (size >= kChanPacketHeaderSize));

    SmifRoute route = RouteSmifPacket(data, size);
    SMIF_PASSTHRU_VIEW view;
    bool passthru = ReadSmifPassthru(data, size, &view);
    if (passthru) {
        ChainCheck(view.pdu >= data && view.pdu + view.pduLength <= data + size && view.pduLength <= SMIF_MAX_PDU);
        uint8_t packet[SMIF_MAX_PACKET];
        size_t framed = BuildSmifPassthruPacket(view.pdu, view.pduLength, packet);
        ChainCheck(framed == view.pduLength + smiflayout::kPdu &&
                   std::memcmp(packet + smiflayout::kPdu, view.pdu, view.pduLength) == 0);
    }
    switch (route) {
    case SmifRoute::KdlEvent:
        ChainCheck(fields.command == SmifCommand_KdlEvent);
        ChainKdlEventText(data, size);
        break;
    case SmifRoute::Request:
        ChainCheck(passthru && fields.command == SmifCommand_AgentX);
        AgentXRequest(view);
        break;
    case SmifRoute::Drop:
        break;
    }
    return 0;
}
