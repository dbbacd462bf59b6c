#pragma once
// Channel packets of the AgentX link: the 8-byte packet header, the 16-byte passthru header in
// front of an AgentX PDU, the passthru session request, and how the receiving side sorts what
// arrives. Everything here reads untrusted bytes through ByteReader and is built in both flavours.

#include "byte_reader.h"

#include <cstddef>
#include <cstdint>

constexpr size_t SMIF_MAX_PACKET = 4096;
constexpr size_t SMIF_MAX_PDU = 4080;

enum : uint16_t {
    SmifCommand_Handshake = 2,
    SmifCommand_PassthruSession = 147,
    SmifCommand_AgentX = 148,
    SmifCommand_KdlEvent = 149,
    SmifCommand_Reply = 0x8000,
    SmifCommand_AgentXReply = 0x8094,
    SmifCommand_PassthruSessionReply = 0x8093,
    SmifCommand_Refused = 0xFFFF,
};

constexpr uint16_t SMIF_HANDSHAKE_SEQUENCE = 0x2BAD;

enum : uint16_t {
    SmifPassthru_Open = 1,
    SmifPassthru_Close = 2,
};

namespace smiflayout {
// Packet header
constexpr size_t kTotalSize = 0, kSequence = 2, kCommand = 4, kService = 6, kHeaderSize = 8;
// Passthru header
constexpr size_t kStatus = 8, kPduLength = 12, kPdu = 16;
// Passthru session request and its reply
constexpr size_t kSessionRequest = 8, kSessionValue = 10, kSessionRequestSize = 12;
constexpr size_t kSessionReplyStatus = 8, kSessionReplySize = 12;
// The AgentX header fields the transport reads
constexpr size_t kPduType = 1, kPduPacketId = 12, kPduPayloadLength = 16, kPduHeaderSize = 20;
} // namespace smiflayout

struct SMIF_PACKET_HEADER {
    uint16_t totalSize;
    uint16_t sequence;
    uint16_t command;
    uint16_t service;
};
static_assert(sizeof(SMIF_PACKET_HEADER) == smiflayout::kHeaderSize);
static_assert(offsetof(SMIF_PACKET_HEADER, sequence) == smiflayout::kSequence);
static_assert(offsetof(SMIF_PACKET_HEADER, command) == smiflayout::kCommand);
static_assert(offsetof(SMIF_PACKET_HEADER, service) == smiflayout::kService);

struct SMIF_PASSTHRU_HEADER {
    SMIF_PACKET_HEADER header;
    uint32_t status;
    uint32_t pduLength;
};
static_assert(sizeof(SMIF_PASSTHRU_HEADER) == smiflayout::kPdu);
static_assert(offsetof(SMIF_PASSTHRU_HEADER, status) == smiflayout::kStatus);
static_assert(offsetof(SMIF_PASSTHRU_HEADER, pduLength) == smiflayout::kPduLength);
static_assert(SMIF_MAX_PACKET - smiflayout::kPdu == SMIF_MAX_PDU);

// The u32 at offset 2: sequence in the low half, command in the high half. A pending reply is
// found by this key.
inline uint32_t SmifReplyKey(uint16_t sequence, uint16_t command) { return uint32_t(sequence) | uint32_t(command) << 16; }

// The length of the PDU in bytes from its own header (payload + 20), or 0 when the bytes do not
// hold a whole header or the PDU claims more than the bytes hold.
size_t SmifPduLength(const uint8_t *pdu, size_t available);

// Builds the passthru packet for a PDU: command 0x8094 for a Response, else 148; sequence from the
// packet ID with bit 15 set. Returns the packet's size, or 0 when the PDU is malformed or does not
// fit (the packet buffer must hold SMIF_MAX_PACKET bytes).
size_t BuildSmifPassthruPacket(const uint8_t *pdu, size_t pduBytes, uint8_t *packet);

// The 12-byte passthru session request.
size_t BuildSmifSessionRequest(uint8_t *packet, uint16_t sequence, uint16_t request, uint16_t value);
size_t BuildSmifHandshake(uint8_t *packet);

// A received passthru packet: its header fields and the PDU it carries, checked against the bytes
// actually present. False when the packet is shorter than its headers, its size field disagrees
// with the bytes, or the PDU's own length runs past the packet.
struct SMIF_PASSTHRU_VIEW {
    SMIF_PACKET_HEADER header{};
    uint32_t status = 0;
    const uint8_t *pdu = nullptr;
    size_t pduLength = 0;
};
bool ReadSmifPassthru(const uint8_t *packet, size_t received, SMIF_PASSTHRU_VIEW *view);

// What the receive thread does with a packet that no waiter claimed.
enum class SmifRoute {
    Drop,      // too short, a reply nobody awaits, another command, a malformed or Response PDU
    KdlEvent,  // a hardware event entry: to the intake
    Request,   // an AgentX request from the master: to the queue
};
// Sort a received packet (after the pending replies had their chance).
SmifRoute RouteSmifPacket(const uint8_t *packet, size_t received);
