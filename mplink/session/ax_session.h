#pragma once
// The sub-agent's side of one AgentX session with the management processor's master agent: open
// and close, registrations, Ping and Notify, and a Response to every request. The session ID is
// also kept in the service's volatile registry key, so that a later run can close a session an
// earlier run left open.

#include "ax_transport.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

constexpr wchar_t kAgentXVolatileKey[] = L"SYSTEM\\CurrentControlSet\\services\\ndxtlm\\VolatileData";
constexpr wchar_t kAgentXSessionIdValue[] = L"SessionId";

// The recorded session ID: 1 and the value when present. Writing creates the key volatile, so the
// value never outlives a reboot.
int ReadRecordedSessionId(DWORD *sessionId);
int WriteRecordedSessionId(DWORD sessionId);

class AXSESSION {
public:
    // transport, oid (AgentX form) and description stay owned by the caller.
    AXSESSION(AXTRANSPORT *transport, const uint8_t *subAgentOid, const char *description);
    virtual ~AXSESSION();
    AXSESSION(const AXSESSION &) = delete;
    AXSESSION &operator=(const AXSESSION &) = delete;

    virtual int OnSessionStarted() { return 0; }
    virtual void OnSessionClosed() {}
    // request: a PDU the bounded reader accepted; response: the Response being built in a buffer
    // of AGENTX_PDU_BUFFER_SIZE bytes. The base leaves it as it is (genErr).
    virtual int OnGet(const struct AGENTX_RECEIVED_PDU &, uint8_t *) { return 5; }
    virtual int OnGetNext(const struct AGENTX_RECEIVED_PDU &, uint8_t *) { return 5; }
    virtual int OnGetBulk(const struct AGENTX_RECEIVED_PDU &, uint8_t *) { return 5; }
    virtual int Transaction(const uint8_t *request, uint8_t *reply);

    int OpenSession();
    int CloseSession();
    bool IsSessionOpen();
    int Ping();
    // varbinds: count consecutive varbinds the service built (trusted).
    int Notify(uint32_t count, const uint8_t *varbinds, size_t bytes);
    int SendRegisterPdu(uint8_t type, const uint8_t *subtree, uint8_t priority);
    int Register(const uint8_t *subtree, uint8_t priority) { return SendRegisterPdu(3, subtree, priority); }
    int RegisterInstance(uint8_t type, const uint8_t *oid, uint8_t priority);
    // One object instance (a Register PDU with the instance flag).
    int RegisterObjectInstance(const uint8_t *oid, int priority)
    {
        return RegisterInstance(3, oid, static_cast<uint8_t>(priority));
    }
    // pdu: received bytes (at most size), not yet checked.
    int HandleRequest(const uint8_t *pdu, size_t size);

    uint32_t SessionId() const { return m_SessionId.load(); }
    AXTRANSPORT *Transport() const { return m_Transport; }

protected:
    uint32_t NextPacketId() { return m_PacketId.fetch_add(1); }
    int RegisterWithFlags(uint8_t type, uint8_t flags, const uint8_t *subtree, uint8_t priority);

    AXTRANSPORT *m_Transport;
    const uint8_t *m_SubAgentOid;
    const char *m_Description;
    std::atomic<uint32_t> m_SessionId{0};
    std::atomic<int> m_Reopen{0};
    std::atomic<uint32_t> m_PacketId{1};
};
