#pragma once
// Drains the trap queue through an AgentX session whose transport answers every request and keeps
// the Notify PDUs: each queued trap comes back as its snmpTrapOID value and its other varbinds.

#include "agentx_pdu.h"
#include "ax_session.h"
#include "traps.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace apptest {

inline std::string OidText(const MIBOID &oid)
{
    std::string text;
    for (int32_t i = 0; i < oid.count; ++i)
        text += "." + std::to_string(oid.subIds[i]);
    return text;
}

struct CapturedTrap {
    std::string trapOid;                         // snmpTrapOID.0's value
    std::map<std::string, std::string> varbinds;  // name -> value (integers in decimal, OIDs as text)
};

class AnsweringTransport : public AXTRANSPORT {
public:
    int OpenConnection() override { return 0; }
    int RestartConnection() override { return 0; }
    int CloseConnection() override { return 0; }
    bool IsConnected() override { return true; }
    int Receive(uint8_t *) override { return 300; }
    int Send(const uint8_t *) override { return 0; }
    int Transaction(const uint8_t *request, uint8_t *reply) override
    {
        AGENTX_HEADER header = ReadAgentXHeader(request);
        if (header.type == AXPacketType_Open)
            header.sessionId = 7;
        if (header.type == AXPacketType_Notify)
            notifies.emplace_back(request, request + AGENTX_HEADER_SIZE + GetAgentXPayloadLength(request));
        BeginAgentXResponse(reply, AGENTX_PDU_BUFFER_SIZE, header, 0, 0);
        return 0;
    }
    std::vector<std::vector<uint8_t>> notifies;
};

class TrapCapture {
public:
    TrapCapture() : m_Session(&m_Transport, m_Oid, "test") { m_Session.OpenSession(); }

    std::vector<CapturedTrap> Drain()
    {
        m_Transport.notifies.clear();
        while (SendOneTrap(&m_Session) == 0) {
        }
        std::vector<CapturedTrap> traps;
        for (const std::vector<uint8_t> &pdu : m_Transport.notifies) {
            AGENTX_RECEIVED_PDU read;
            if (ReadAgentXPdu(pdu.data(), pdu.size(), &read) != AXRead_Ok)
                continue;
            CapturedTrap trap;
            AGENTX_READER reader(read.payload, read.payloadLength);
            AGENTX_VARBIND varbind;
            while (reader.Remaining() != 0 && reader.VarBind(&varbind) == AXRead_Ok) {
                MIBOID name;
                AGENTX_READER(varbind.name, varbind.size).Oid(nullptr, &name);
                std::string value;
                if (varbind.type == MIBTYPE_INTEGER && varbind.dataSize == 4) {
                    value = std::to_string(static_cast<int32_t>(GetAgentXU32(varbind.data)));
                } else if (varbind.type == MIBTYPE_OID) {
                    MIBOID oid;
                    AGENTX_READER(varbind.data, varbind.dataSize).Oid(nullptr, &oid);
                    value = OidText(oid);
                }
                if (OidText(name) == ".1.3.6.1.6.3.1.1.4.1.0")
                    trap.trapOid = value;
                else
                    trap.varbinds[OidText(name)] = value;
            }
            traps.push_back(trap);
        }
        return traps;
    }

private:
    AnsweringTransport m_Transport;
    uint8_t m_Oid[8] = {0, 0, 0, 0};  // the null OID as identity
    AXSESSION m_Session;
};

} // namespace apptest
