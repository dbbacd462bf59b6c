#include "smif_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> Pdu(uint8_t type, uint32_t packetId, uint32_t payload)
{
    std::vector<uint8_t> pdu(20 + payload, 0);
    pdu[0] = 1;
    pdu[1] = type;
    PutU32(pdu.data() + 12, packetId);
    PutU32(pdu.data() + 16, payload);
    return pdu;
}

std::vector<uint8_t> Packet(uint16_t command, const std::vector<uint8_t> &pdu, int sizeDelta = 0, int lengthDelta = 0)
{
    std::vector<uint8_t> packet(16 + pdu.size());
    PutU16(packet.data(), static_cast<uint16_t>(packet.size() + sizeDelta));
    PutU16(packet.data() + 2, 0x8001);
    PutU16(packet.data() + 4, command);
    PutU32(packet.data() + 12, static_cast<uint32_t>(pdu.size() + lengthDelta));
    std::memcpy(packet.data() + 16, pdu.data(), pdu.size());
    return packet;
}

TEST(SmifPacket, PassthruFramingOfRequestsAndResponses)
{
    uint8_t packet[SMIF_MAX_PACKET];
    std::vector<uint8_t> get = Pdu(5, 0x12345, 8);
    ASSERT_EQ(BuildSmifPassthruPacket(get.data(), get.size(), packet), 44u);
    const uint8_t expected[16] = {44, 0, 0x45, 0xA3, 148, 0, 0, 0, 0, 0, 0, 0, 28, 0, 0, 0};
    EXPECT_EQ(std::memcmp(packet, expected, 16), 0);
    std::vector<uint8_t> response = Pdu(18, 7, 8);
    ASSERT_EQ(BuildSmifPassthruPacket(response.data(), response.size(), packet), 44u);
    EXPECT_EQ(packet[4] | packet[5] << 8, 0x8094);
    EXPECT_EQ(packet[2] | packet[3] << 8, 0x8007);

    // A PDU whose payload length claims more than its bytes, or more than a packet holds, is
    // never framed.
    std::vector<uint8_t> lying = Pdu(5, 1, 8);
    PutU32(lying.data() + 16, 4000);
    EXPECT_EQ(BuildSmifPassthruPacket(lying.data(), lying.size(), packet), 0u);
    std::vector<uint8_t> huge = Pdu(5, 1, 4061);
    EXPECT_EQ(BuildSmifPassthruPacket(huge.data(), huge.size(), packet), 0u);
    std::vector<uint8_t> largest = Pdu(5, 1, 4060);
    EXPECT_EQ(BuildSmifPassthruPacket(largest.data(), largest.size(), packet), SMIF_MAX_PACKET);
}

TEST(SmifPacket, SessionRequestAndHandshakeBytes)
{
    uint8_t packet[16] = {};
    ASSERT_EQ(BuildSmifSessionRequest(packet, 0x7FFF, SmifPassthru_Open, 1), 12u);
    const uint8_t open[12] = {12, 0, 0xFF, 0x7F, 147, 0, 0, 0, 1, 0, 1, 0};
    EXPECT_EQ(std::memcmp(packet, open, 12), 0);
    ASSERT_EQ(BuildSmifHandshake(packet), 8u);
    const uint8_t handshake[8] = {8, 0, 0xAD, 0x2B, 2, 0, 0, 0};
    EXPECT_EQ(std::memcmp(packet, handshake, 8), 0);
}

struct RouteCase {
    const char *name;
    std::vector<uint8_t> bytes;
    SmifRoute route;
};

TEST(SmifPacket, RoutesWhatArrives)
{
    std::vector<uint8_t> kdl(24, 0);
    PutU16(kdl.data(), 24);
    PutU16(kdl.data() + 4, 149);
    std::vector<uint8_t> kdlShort = kdl;
    PutU16(kdlShort.data(), 200);
    const RouteCase cases[] = {
        {"get request", Packet(148, Pdu(5, 3, 0)), SmifRoute::Request},
        {"response as a request", Packet(148, Pdu(18, 3, 8)), SmifRoute::Drop},
        {"reply nobody awaits", Packet(0x8094, Pdu(18, 3, 8)), SmifRoute::Drop},
        {"other command", Packet(147, Pdu(5, 3, 0)), SmifRoute::Drop},
        {"hardware event", kdl, SmifRoute::KdlEvent},
        {"hardware event past its bytes", kdlShort, SmifRoute::Drop},
        {"size beyond the bytes", Packet(148, Pdu(5, 3, 0), 4), SmifRoute::Drop},
        {"pdu length beyond the packet", Packet(148, Pdu(5, 3, 0), 0, 8), SmifRoute::Drop},
        {"payload beyond the packet", [] {
             auto p = Packet(148, Pdu(5, 3, 0));
             PutU32(p.data() + 16 + 16, 12);
             return p;
         }(), SmifRoute::Drop},
        {"header only", std::vector<uint8_t>{8, 0, 1, 0, 148, 0, 0, 0}, SmifRoute::Drop},
        {"nothing", std::vector<uint8_t>{}, SmifRoute::Drop},
    };
    for (const RouteCase &c : cases)
        EXPECT_EQ(RouteSmifPacket(c.bytes.data(), c.bytes.size()), c.route) << c.name;
}

} // namespace
