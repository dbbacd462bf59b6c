#pragma once
// Drains the trap queue through a recording session: each queued trap comes back as its
// snmpTrapOID value and its other varbinds.

#include "host_test_support.h"
#include "traps.h"

#include <map>
#include <string>
#include <vector>

namespace apptest {

using hosttest::OidText;

struct CapturedTrap {
    std::string trapOid;                          // snmpTrapOID.0's value
    std::map<std::string, std::string> varbinds;  // name -> value (integers in decimal, OIDs as text)
};

class TrapCapture {
public:
    std::vector<CapturedTrap> Drain()
    {
        m_Session.pdus.clear();
        while (SendOneTrap(&m_Session) == 0) {
        }
        std::vector<CapturedTrap> traps;
        for (const hosttest::RECORDED_PDU &pdu : m_Session.pdus) {
            if (pdu.type != AXPacketType_Notify)
                continue;
            CapturedTrap trap;
            for (const hosttest::VARBIND &varbind : pdu.varbinds) {
                std::string value = varbind.type == MIBTYPE_OID ? OidText(varbind.oid) : std::to_string(varbind.integer);
                if (OidText(varbind.name) == ".1.3.6.1.6.3.1.1.4.1.0")
                    trap.trapOid = value;
                else
                    trap.varbinds[OidText(varbind.name)] = value;
            }
            traps.push_back(trap);
        }
        return traps;
    }

private:
    hosttest::RecordingSession m_Session;
};

} // namespace apptest
