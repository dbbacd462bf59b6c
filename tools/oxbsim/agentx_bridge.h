#pragma once
// The bridge to a real AgentX master: while the sub-agent's passthru session is open, one TCP
// connection to the master on 127.0.0.1 carries the sub-agent's PDUs to it and its PDUs back.
// The sub-agent speaks little-endian and the master answers in the byte order of the Open, so the
// PDUs pass unchanged; only the channel framing is added and taken off.

#include "sim_types.h"

#include <winsock2.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

class Recorder;

class AgentxBridge {
public:
    using Poster = std::function<void(uint32_t channel, Packet packet)>;

    AgentxBridge(Recorder &recorder, uint16_t port) : m_Recorder(recorder), m_Port(port) {}
    ~AgentxBridge();
    void SetPoster(Poster poster) { m_Post = std::move(poster); }

    // The passthru session of a channel opens or closes. False when the master cannot be reached.
    bool Open(uint32_t channel);
    void Close();
    // A PDU of the sub-agent (request, or Response to the master's request).
    void Forward(uint32_t channel, const uint8_t *pdu, size_t length);

private:
    void Read(SOCKET socket, uint32_t channel);
    // One PDU of the master, framed as a channel packet and posted to the channel.
    void Pass(uint32_t channel, const uint8_t *pdu, size_t length);

    Recorder &m_Recorder;
    uint16_t m_Port;
    Poster m_Post;
    std::mutex m_Lock;
    SOCKET m_Socket = INVALID_SOCKET;
    uint32_t m_Channel = 0;
    std::thread m_Reader;
};
