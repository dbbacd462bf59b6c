#include "ax_session.h"

#include "agentx_pdu.h"
#include "common_log.h"
#include "registry.h"

#include <memory>

int ReadRecordedSessionId(DWORD *sessionId)
{
    CRegistry key(HKEY_LOCAL_MACHINE, kAgentXVolatileKey, KEY_READ);
    return key.GetDword(kAgentXSessionIdValue, sessionId);
}

int WriteRecordedSessionId(DWORD sessionId)
{
    CRegistry key(HKEY_LOCAL_MACHINE, kAgentXVolatileKey, KEY_READ | KEY_WRITE);
    if (!key.Create(REG_OPTION_VOLATILE))
        return 0;
    return key.SetDword(kAgentXSessionIdValue, sessionId);
}

AXSESSION::AXSESSION(AXTRANSPORT *transport, const uint8_t *subAgentOid, const char *description)
    : m_Transport(transport), m_SubAgentOid(subAgentOid), m_Description(description)
{
}

AXSESSION::~AXSESSION()
{
    // Only the base's reactions run from here; a derived class closes in its own destructor.
    CloseSession();
}

int AXSESSION::Transaction(const uint8_t *request, uint8_t *reply)
{
    int result = m_Transport->Transaction(request, reply);
    if (result != 0)
        return result;
    AGENTX_RECEIVED_PDU read;
    if (ReadAgentXPdu(reply, AGENTX_PDU_BUFFER_SIZE, &read) != AXRead_Ok ||
        read.header.type != AXPacketType_Response) {
        LOG_ERROR(L"AXSESSION::Transaction", L"AXSESSION::Transaction: Wrong response type");
        return 5;
    }
    if (read.error != 0)
        LOG_ERROR(L"AXSESSION::Transaction", L"AXSESSION::Transaction: AgentX error %d", read.error);
    return read.error;
}

bool AXSESSION::IsSessionOpen()
{
    if (m_SessionId.load() == 0)
        return false;
    if (m_Transport->IsConnected())
        return true;
    OnSessionClosed();
    m_SessionId = 0;
    return false;
}

int AXSESSION::OpenSession()
{
    if (IsSessionOpen())
        return 0;
    int result = m_Transport->RestartConnection();
    if (result != 0) {
        LOG_ERROR(L"AXSESSION::OpenSession", L"AXSESSION::OpenSession: RestartConnection failed (%d)", result);
        return result;
    }
    CloseSession();
    if (m_Reopen.exchange(0) != 0) {
        result = m_Transport->OpenConnection();
        if (result != 0) {
            LOG_ERROR(L"AXSESSION::OpenSession", L"AXSESSION::OpenSession: OpenConnection failed (%d)", result);
            return result;
        }
    }
    auto request = std::make_unique<uint8_t[]>(AGENTX_PDU_BUFFER_SIZE);
    auto reply = std::make_unique<uint8_t[]>(AGENTX_PDU_BUFFER_SIZE);
    if (BuildAgentXOpenPdu(request.get(), AGENTX_PDU_BUFFER_SIZE, NextPacketId(), 60, m_SubAgentOid, m_Description) == 0)
        return 5;
    result = Transaction(request.get(), reply.get());
    if (result != 0) {
        LOG_ERROR(L"AXSESSION::OpenSession", L"AXSESSION::OpenSession: Transaction(AXPacketType_Open) failed (%d)",
                  result);
        return result;
    }
    uint32_t sessionId = ReadAgentXHeader(reply.get()).sessionId;
    m_SessionId = sessionId;
    LOG_VERBOSE(L"AXSESSION::OpenSession", L"AXSESSION::OpenSession: SessionId = %lu", static_cast<unsigned long>(sessionId));
    WriteRecordedSessionId(sessionId);
    result = OnSessionStarted();
    if (result != 0) {
        LOG_ERROR(L"AXSESSION::OpenSession", L"AXSESSION::OpenSession: OnSessionStarted failed (%d)", result);
        CloseSession();
        return result;
    }
    return 0;
}

int AXSESSION::CloseSession()
{
    if (m_SessionId.load() == 0) {
        DWORD recorded = 0;
        if (ReadRecordedSessionId(&recorded) && recorded != 0) {
            m_SessionId = recorded;
            LOG_VERBOSE(L"AXSESSION::CloseSession", L"AXSESSION::CloseSession: SessionId in registry = %lu",
                        static_cast<unsigned long>(recorded));
        }
    }
    uint32_t sessionId = m_SessionId.load();
    if (sessionId != 0) {
        m_Reopen = 1;
        LOG_VERBOSE(L"AXSESSION::CloseSession", L"AXSESSION::CloseSession: SessionId = %lu",
                    static_cast<unsigned long>(sessionId));
        auto request = std::make_unique<uint8_t[]>(AGENTX_PDU_BUFFER_SIZE);
        auto reply = std::make_unique<uint8_t[]>(AGENTX_PDU_BUFFER_SIZE);
        if (BuildAgentXClosePdu(request.get(), AGENTX_PDU_BUFFER_SIZE, sessionId, NextPacketId(), AXCloseReason_Shutdown))
            Transaction(request.get(), reply.get());
        m_SessionId = 0;
        WriteRecordedSessionId(0);
        OnSessionClosed();
    }
    return 0;
}

int AXSESSION::Ping()
{
    if (!IsSessionOpen())
        return 257;
    auto request = std::make_unique<uint8_t[]>(AGENTX_PDU_BUFFER_SIZE);
    auto reply = std::make_unique<uint8_t[]>(AGENTX_PDU_BUFFER_SIZE);
    BuildAgentXPingPdu(request.get(), AGENTX_PDU_BUFFER_SIZE, m_SessionId.load(), NextPacketId());
    return Transaction(request.get(), reply.get());
}

int AXSESSION::Notify(uint32_t count, const uint8_t *varbinds, size_t bytes)
{
    if (!IsSessionOpen())
        return 257;
    auto request = std::make_unique<uint8_t[]>(AGENTX_PDU_BUFFER_SIZE);
    auto reply = std::make_unique<uint8_t[]>(AGENTX_PDU_BUFFER_SIZE);
    // The varbinds must fit the PDU; a trap too large is refused, not cut.
    if (bytes > AGENTX_PDU_BUFFER_SIZE - AGENTX_HEADER_SIZE ||
        BuildAgentXNotifyPdu(request.get(), AGENTX_PDU_BUFFER_SIZE, m_SessionId.load(), NextPacketId(), count,
                             varbinds) == 0) {
        LOG_ERROR(L"AXSESSION::Notify", L"AXSESSION::Notify: %u varbinds do not fit a PDU", count);
        return 5;
    }
    return Transaction(request.get(), reply.get());
}

int AXSESSION::RegisterWithFlags(uint8_t type, uint8_t flags, const uint8_t *subtree, uint8_t priority)
{
    if (!IsSessionOpen())
        return 257;
    auto request = std::make_unique<uint8_t[]>(AGENTX_PDU_BUFFER_SIZE);
    auto reply = std::make_unique<uint8_t[]>(AGENTX_PDU_BUFFER_SIZE);
    if (BuildAgentXRegisterPdu(request.get(), AGENTX_PDU_BUFFER_SIZE, type, flags, m_SessionId.load(), NextPacketId(),
                               priority, subtree) == 0)
        return 5;
    return Transaction(request.get(), reply.get());
}

int AXSESSION::SendRegisterPdu(uint8_t type, const uint8_t *subtree, uint8_t priority)
{
    return RegisterWithFlags(type, 0, subtree, priority);
}

int AXSESSION::RegisterInstance(uint8_t type, const uint8_t *oid, uint8_t priority)
{
    return RegisterWithFlags(type, AXFlag_InstanceRegistration, oid, priority);
}

int AXSESSION::HandleRequest(const uint8_t *pdu, size_t size)
{
    AGENTX_RECEIVED_PDU read;
    int check = ReadAgentXPdu(pdu, size, &read);
    uint16_t readError = 0;
    if (check != AXRead_Ok && !AgentXReadAnswer(check, &readError))
        return 0;  // not even a header to answer
    AGENTX_HEADER header = ReadAgentXHeader(pdu);
    if (header.type == AXPacketType_Response)
        return 0;
    auto response = std::make_unique<uint8_t[]>(AGENTX_PDU_BUFFER_SIZE);
    uint32_t upTime = static_cast<uint32_t>(GetTickCount64() / 10);
    BeginAgentXResponse(response.get(), AGENTX_PDU_BUFFER_SIZE, header, upTime, 5);
    uint32_t sessionId = m_SessionId.load();
    bool close = false;
    // Session 0 is nobody's: without an open session nothing is served.
    if (sessionId == 0 || header.sessionId != sessionId) {
        SetAgentXResponseError(response.get(), 257, 0);
    } else if (check != AXRead_Ok) {
        SetAgentXResponseError(response.get(), readError, 0);
    } else {
        switch (header.type) {
        case AXPacketType_Close:
            SetAgentXResponseError(response.get(), 0, 0);
            close = true;
            break;
        case AXPacketType_Get:
            OnGet(read, response.get());
            break;
        case AXPacketType_GetNext:
            OnGetNext(read, response.get());
            break;
        case AXPacketType_GetBulk:
            OnGetBulk(read, response.get());
            break;
        default:
            break;
        }
    }
    int result = m_Transport->Send(response.get());
    if (close)
        CloseSession();
    return result;
}
