#include "smif_packet.h"

#include <cstring>

size_t SmifPduLength(const uint8_t *pdu, size_t available)
{
    ByteReader reader(pdu, available);
    uint32_t payload = 0;
    if (!reader.U32(smiflayout::kPduPayloadLength, &payload))
        return 0;
    if (payload > available - smiflayout::kPduHeaderSize)
        return 0;
    return payload + smiflayout::kPduHeaderSize;
}

size_t BuildSmifPassthruPacket(const uint8_t *pdu, size_t pduBytes, uint8_t *packet)
{
    size_t length = SmifPduLength(pdu, pduBytes < SMIF_MAX_PDU ? pduBytes : SMIF_MAX_PDU);
    if (length == 0)
        return 0;
    ByteReader reader(pdu, length);
    uint32_t packetId = 0;
    reader.U32(smiflayout::kPduPacketId, &packetId);
    bool response = pdu[smiflayout::kPduType] == 18;
    size_t total = length + smiflayout::kPdu;
    PutU16(packet + smiflayout::kTotalSize, static_cast<uint16_t>(total));
    PutU16(packet + smiflayout::kSequence, static_cast<uint16_t>((packetId & 0xFFFF) | 0x8000));
    PutU16(packet + smiflayout::kCommand, response ? SmifCommand_AgentXReply : SmifCommand_AgentX);
    PutU16(packet + smiflayout::kService, 0);
    PutU32(packet + smiflayout::kStatus, 0);
    PutU32(packet + smiflayout::kPduLength, static_cast<uint32_t>(length));
    std::memcpy(packet + smiflayout::kPdu, pdu, length);
    return total;
}

size_t BuildSmifSessionRequest(uint8_t *packet, uint16_t sequence, uint16_t request, uint16_t value)
{
    PutU16(packet + smiflayout::kTotalSize, smiflayout::kSessionRequestSize);
    PutU16(packet + smiflayout::kSequence, sequence);
    PutU16(packet + smiflayout::kCommand, SmifCommand_PassthruSession);
    PutU16(packet + smiflayout::kService, 0);
    PutU16(packet + smiflayout::kSessionRequest, request);
    PutU16(packet + smiflayout::kSessionValue, value);
    return smiflayout::kSessionRequestSize;
}

size_t BuildSmifHandshake(uint8_t *packet)
{
    PutU16(packet + smiflayout::kTotalSize, smiflayout::kHeaderSize);
    PutU16(packet + smiflayout::kSequence, SMIF_HANDSHAKE_SEQUENCE);
    PutU16(packet + smiflayout::kCommand, SmifCommand_Handshake);
    PutU16(packet + smiflayout::kService, 0);
    return smiflayout::kHeaderSize;
}

bool ReadSmifPassthru(const uint8_t *packet, size_t received, SMIF_PASSTHRU_VIEW *view)
{
    ByteReader reader(packet, received);
    SMIF_PASSTHRU_VIEW read;
    if (!reader.U16(smiflayout::kTotalSize, &read.header.totalSize) ||
        !reader.U16(smiflayout::kSequence, &read.header.sequence) ||
        !reader.U16(smiflayout::kCommand, &read.header.command) ||
        !reader.U16(smiflayout::kService, &read.header.service) || !reader.U32(smiflayout::kStatus, &read.status))
        return false;
    if (read.header.totalSize < smiflayout::kPdu || read.header.totalSize > received)
        return false;
    uint32_t claimed = 0;
    if (!reader.U32(smiflayout::kPduLength, &claimed))
        return false;
    size_t room = read.header.totalSize - smiflayout::kPdu;
    // The PDU's own header decides its length; neither it nor the passthru field may run past
    // the packet.
    size_t length = SmifPduLength(packet + smiflayout::kPdu, room);
    if (length == 0 || claimed > room)
        return false;
    read.pdu = packet + smiflayout::kPdu;
    read.pduLength = length;
    *view = read;
    return true;
}

SmifRoute RouteSmifPacket(const uint8_t *packet, size_t received)
{
    ByteReader reader(packet, received);
    uint16_t total = 0, command = 0;
    if (!reader.U16(smiflayout::kTotalSize, &total) || !reader.U16(smiflayout::kCommand, &command) ||
        total < smiflayout::kHeaderSize || total > received)
        return SmifRoute::Drop;
    if (command == SmifCommand_KdlEvent)
        return SmifRoute::KdlEvent;
    if (command != SmifCommand_AgentX)
        return SmifRoute::Drop;
    SMIF_PASSTHRU_VIEW view;
    if (!ReadSmifPassthru(packet, received, &view))
        return SmifRoute::Drop;
    // A Response must come as a reply; arriving as a request it answers nothing here.
    if (view.pdu[smiflayout::kPduType] == 18)
        return SmifRoute::Drop;
    return SmifRoute::Request;
}
