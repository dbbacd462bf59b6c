#include "agentx_bridge.h"

#include "byte_reader.h"
#include "chan_packet.h"
#include "hop_trace.h"
#include "recorder.h"

#include <ws2tcpip.h>

#include <cstring>
#include <vector>

namespace {

constexpr size_t kHeader = 20;
constexpr size_t kMaxPdu = 4080;

uint32_t PduU32(const uint8_t *pdu, size_t offset)
{
    // The master writes in the Open's byte order, which is ours; a PDU in network order says so.
    const uint8_t *p = pdu + offset;
    if (pdu[2] & 0x10)
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

AgentxBridge::~AgentxBridge() { Close(); }

bool AgentxBridge::Open(uint32_t channel)
{
    Close();
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_Port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        m_Recorder.Line("bridge ch=%u connect=failed error=%d", channel, WSAGetLastError());
        closesocket(s);
        return false;
    }
    int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
    std::lock_guard<std::mutex> hold(m_Lock);
    m_Socket = s;
    m_Channel = channel;
    m_Reader = std::thread([this, s, channel] { Read(s, channel); });
    m_Recorder.Line("bridge ch=%u connect=ok port=%u", channel, m_Port);
    return true;
}

void AgentxBridge::Close()
{
    std::thread reader;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (m_Socket != INVALID_SOCKET) {
            shutdown(m_Socket, SD_BOTH);
            closesocket(m_Socket);
            m_Socket = INVALID_SOCKET;
            m_Recorder.Line("bridge ch=%u closed", m_Channel);
        }
        reader = std::move(m_Reader);
    }
    if (reader.joinable())
        reader.join();
}

void AgentxBridge::Forward(uint32_t channel, const uint8_t *pdu, size_t length)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    if (m_Socket == INVALID_SOCKET || channel != m_Channel)
        return;
    send(m_Socket, reinterpret_cast<const char *>(pdu), static_cast<int>(length), 0);
    TLM_HOP("sim.bridge.out");
}

void AgentxBridge::Read(SOCKET socket, uint32_t channel)
{
    // As many bytes as the socket holds are taken with one recv, and every whole PDU among them is
    // passed on; a walk's PDU arrives whole, so that is one recv per PDU.
    std::vector<uint8_t> buffer(2 * kMaxPdu);
    size_t held = 0;
    for (;;) {
        int got = recv(socket, reinterpret_cast<char *>(buffer.data() + held), static_cast<int>(buffer.size() - held), 0);
        if (got <= 0)
            break;
        held += static_cast<size_t>(got);
        size_t used = 0;
        bool oversized = false;
        while (held - used >= kHeader) {
            const uint8_t *pdu = buffer.data() + used;
            uint32_t payload = PduU32(pdu, 16);
            if (payload > kMaxPdu - kHeader) {
                m_Recorder.Line("bridge ch=%u oversized payload=%u", channel, payload);
                oversized = true;
                break;
            }
            size_t length = kHeader + payload;
            if (held - used < length)
                break;
            TLM_HOP("sim.bridge.in");
            Pass(channel, pdu, length);
            used += length;
        }
        if (oversized)
            break;
        std::memmove(buffer.data(), buffer.data() + used, held - used);
        held -= used;
    }
    m_Recorder.Line("bridge ch=%u master-closed", channel);
}

void AgentxBridge::Pass(uint32_t channel, const uint8_t *pdu, size_t length)
{
    uint8_t type = pdu[1];
    uint32_t packetId = PduU32(pdu, 12);
    // Answers to the sub-agent's requests come back as the requests' replies; the master's own
    // requests go as AgentX passthru packets.
    uint16_t command = type == 18 ? 0x8094 : 148;
    Packet packet(16 + length);
    WriteChanPacketFields(packet.data(), ChanPacketFields{static_cast<uint16_t>(packet.size()),
                                                          static_cast<uint16_t>((packetId & 0xFFFF) | 0x8000),
                                                          command, 0});
    PutU32(packet.data() + 8, 0);
    PutU32(packet.data() + 12, static_cast<uint32_t>(length));
    std::memcpy(packet.data() + 16, pdu, length);
    if (m_Post)
        m_Post(channel, std::move(packet));
}
