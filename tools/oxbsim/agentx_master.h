#pragma once
// The processor's side of the AgentX link: the channel handshake, the passthru session, and a
// scripted AgentX master. The master answers the sub-agent's Open, Close, Register, Ping and
// Notify, records each, and sends the requests a test gave it once the sub-agent has registered.
//
// Directives (each after "agentx "):
//   refuse-passthru N           refuse the first N passthru session opens
//   refuse-open N               answer the first N AgentX Opens with openFailed
//   ignore-ping N               leave the first N Pings unanswered (the sub-agent's Ping fails)
//   on register K: REQUEST      send REQUEST when the K-th Register of the run has been answered
//   on passthru K: REQUEST      send REQUEST when the K-th passthru session open of the run has been
//                               answered (also in bridge mode, e.g. a hardware event for the demo)
//   bridge PORT                 relay the passthru session to the AgentX master on 127.0.0.1:PORT
//                               instead of playing one (agentx_bridge.h)
// REQUEST:
//   get OID...                  Get with one search range per OID
//   getnext START [END] [inc]   GetNext; END "-" for none; "inc" sets the include byte
//   getbulk OID                 GetBulk (non_repeaters 0, max_repetitions 5)
//   testset OID                 TestSet with one Null varbind
//   close                       Close the session (reason 5)
//   foreign get OID             Get on a session ID the sub-agent does not have
//   response OID                a Response PDU sent as a request (command 148)
//   pdu HEX                     raw PDU bytes in a 148 packet
//   packet HEX                  raw packet bytes
//   kdl HEX                     a hardware event entry (command 149) carrying HEX at offset 16
//
// Record: axhandshake, axpassthru, axopen, axclose, axregister, axping (answered=0 when ignored),
// axnotify, axsent, axanswer.
// Varbinds read as vbs=N vb1=TYPE:OID[:VALUE] ... (numbers in decimal, octets as hex x...).

#include "agentx_bridge.h"
#include "recorder.h"
#include "responder.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class AgentxMaster : public Responder {
public:
    explicit AgentxMaster(Recorder &recorder) : m_Recorder(recorder) {}
    // False with a reason when a line is not a directive of this module.
    bool Configure(const std::vector<std::string> &lines, std::string *error);

    bool Answer(uint32_t channel, uint32_t ordinal, const Packet &request, std::vector<Packet> *replies) override;
    // Null unless the script asked for a bridge; the caller gives it its way into the channels.
    AgentxBridge *Bridge() { return m_Bridge.get(); }

private:
    struct Scheduled {
        std::vector<std::string> words;
    };

    void OnPdu(uint32_t channel, const Packet &request, std::vector<Packet> *replies);
    bool BuildRequest(const Scheduled &item, std::vector<Packet> *out);
    // Builds, records and appends the requests scheduled for the ordinal-th event of a kind.
    void SendScheduled(uint32_t channel, const std::multimap<uint32_t, Scheduled> &schedule, uint32_t ordinal,
                       std::vector<Packet> *replies);
    Packet Frame(uint16_t command, uint16_t sequence, const uint8_t *pdu, size_t length, uint32_t status = 0);

    Recorder &m_Recorder;
    std::mutex m_Lock;
    uint32_t m_RefusePassthru = 0;
    uint32_t m_RefuseOpen = 0;
    uint32_t m_IgnorePing = 0;
    uint32_t m_NextSession = 100;
    uint32_t m_Registers = 0;
    uint32_t m_PacketId = 1;
    uint32_t m_Session = 0;  // the session the scripted requests go to
    std::multimap<uint32_t, Scheduled> m_OnRegister;
    uint32_t m_PassthruOpens = 0;
    std::multimap<uint32_t, Scheduled> m_OnPassthru;
    std::unique_ptr<AgentxBridge> m_Bridge;
};
