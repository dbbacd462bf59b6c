#include "traps.h"

#include "agentx_pdu.h"
#include "ax_session.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "service_parameters.h"
#include "worker_thread.h"

#include <cstring>
#include <deque>
#include <mutex>

namespace {

const uint32_t kTrapOidName[] = {3, 1, 1, 4, 1, 0};        // snmpTrapOID.0 after 1.3.6.1.6
const uint32_t kTrapEnterpriseName[] = {3, 1, 1, 4, 3, 0};  // snmpTrapEnterprise.0

struct TrapQueue {
    std::mutex lock;
    std::deque<TRAP_BUFFER *> traps;
    HANDLE notEmpty = nullptr;
    HANDLE sessionReady = nullptr;
    AXSESSION *session = nullptr;
    CWorkerThread worker;
};
TrapQueue s_Traps;

bool TrapsEnabled() { return s_ServiceParameters.EnableTraps != 0; }

bool Append(TRAP_BUFFER *trap, const uint8_t *varbind, size_t size)
{
    if (trap == nullptr || size > TRAP_VARBIND_BYTES - trap->BytesUsed) {
        LOG_ERROR(L"AddTrapVarBind", L"Trap varbind of %u bytes does not fit (%u used)", static_cast<unsigned>(size),
                  trap ? trap->BytesUsed : 0u);
        return false;
    }
    std::memcpy(trap->VarBinds + trap->BytesUsed, varbind, size);
    trap->BytesUsed += static_cast<uint32_t>(size);
    ++trap->VarBindCount;
    return true;
}

bool AppendOidVarBind(TRAP_BUFFER *trap, const uint32_t *name, const uint8_t *value)
{
    uint8_t varbind[8 + 2 * axlayout::kMaxOidSize];
    AGENTX_WRITER writer(varbind, sizeof varbind);
    writer.U16(MIBTYPE_OID);
    writer.U16(0);
    uint8_t nameOid[32];
    size_t nameSize = WriteAgentXOid(nameOid, 6, 0, name, 6);
    writer.Bytes(nameOid, nameSize);
    writer.RawOid(value);
    return !writer.Failed() && Append(trap, varbind, writer.Offset());
}

unsigned __stdcall TrapThread(void *record)
{
    auto &worker = *static_cast<CWorkerThread *>(record);
    while (!worker.StopRequested()) {
        HANDLE queueWait[2] = {worker.m_StopEvent, s_Traps.notEmpty};
        DWORD wait = WaitForMultipleObjects(2, queueWait, FALSE, INFINITE);
        if (wait == WAIT_OBJECT_0 || worker.StopRequested())
            break;
        if (wait != WAIT_OBJECT_0 + 1)
            continue;
        HANDLE readyWait[2] = {worker.m_StopEvent, s_Traps.sessionReady};
        wait = WaitForMultipleObjects(2, readyWait, FALSE, INFINITE);
        if (wait == WAIT_OBJECT_0 || worker.StopRequested())
            break;
        if (wait != WAIT_OBJECT_0 + 1)
            continue;
        if (s_Traps.session != nullptr && s_Traps.session->IsSessionOpen()) {
            while (!worker.StopRequested() && SendOneTrap(s_Traps.session) == 0) {
            }
        } else {
            worker.Pause(TrapTimeouts::SessionWaitMs);
        }
    }
    return 0;
}

} // namespace

TRAP_BUFFER *CreateTrap(const uint8_t *trapOid)
{
    if (!TrapsEnabled())
        return nullptr;
    auto *trap = static_cast<TRAP_BUFFER *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TRAP_BUFFER)));
    if (trap != nullptr && trapOid != nullptr)
        SetTrapOid(trap, trapOid);
    return trap;
}

void FreeTrap(TRAP_BUFFER *trap)
{
    if (trap != nullptr)
        HeapFree(GetProcessHeap(), 0, trap);
}

bool SetTrapOid(TRAP_BUFFER *trap, const uint8_t *trapOid) { return AppendOidVarBind(trap, kTrapOidName, trapOid); }

bool SetTrapEnterprise(TRAP_BUFFER *trap, const uint8_t *enterpriseOid)
{
    uint8_t defaultOid[4 + 4 * 10];
    if (enterpriseOid == nullptr) {
        const uint32_t ids[] = {1, 3, 6, 1, 4, 1, ENTERPRISE_NUMBER, 9, 4, 10};
        WriteAgentXOid(defaultOid, 0, 0, ids, 10);
        enterpriseOid = defaultOid;
    }
    return AppendOidVarBind(trap, kTrapEnterpriseName, enterpriseOid);
}

bool AddTrapVarBind(TRAP_BUFFER *trap, const uint8_t *varbind) { return Append(trap, varbind, VarBindSize(varbind)); }

void LogTrapInfo(const TRAP_BUFFER *trap)
{
    if (trap == nullptr || trap->VarBindCount == 0)
        return;
    AGENTX_READER reader(trap->VarBinds, trap->BytesUsed);
    AGENTX_VARBIND first;
    if (reader.VarBind(&first) != AXRead_Ok || first.type != MIBTYPE_OID || first.name[0] == 0)
        return;
    const uint8_t *oid = first.data;
    if (first.dataSize < 4 || oid[0] != 9 || oid[1] != 0 || first.dataSize < 4 + 9 * 4)
        return;
    for (int i = 0; i < ENTERPRISE_ARC_LENGTH; ++i)
        if (GetAgentXU32(oid + 4 + 4 * i) != ENTERPRISE_ARC[i])
            return;
    if (GetAgentXU32(oid + 4 + 4 * 7) != 0)
        return;
    LOG_INFO(L"LogTrapInfo", L"Sending snmp trap %d", static_cast<int>(GetAgentXU32(oid + 4 + 4 * 8)));
}

void SendTrap(TRAP_BUFFER *trap)
{
    if (trap == nullptr)
        return;
    if (!TrapsEnabled() || s_ServiceParameters.EnableAgentX == 0 || s_Traps.notEmpty == nullptr) {
        FreeTrap(trap);
        return;
    }
    LogTrapInfo(trap);
    std::lock_guard<std::mutex> hold(s_Traps.lock);
    try {
        s_Traps.traps.push_back(trap);
    } catch (...) {
        FreeTrap(trap);
        return;
    }
    SetEvent(s_Traps.notEmpty);
}

void InitTraps()
{
    if (!TrapsEnabled() || s_Traps.notEmpty != nullptr)
        return;
    s_Traps.notEmpty = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s_Traps.sessionReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

void TermTraps()
{
    if (s_Traps.notEmpty == nullptr)
        return;
    {
        std::lock_guard<std::mutex> hold(s_Traps.lock);
        for (TRAP_BUFFER *trap : s_Traps.traps)
            FreeTrap(trap);
        s_Traps.traps.clear();
    }
    CloseHandleSafe(&s_Traps.notEmpty);
    CloseHandleSafe(&s_Traps.sessionReady);
}

bool StartTrapThread(AXSESSION *session)
{
    if (!TrapsEnabled())
        return true;
    s_Traps.session = session;
    s_Traps.worker.m_Name = L"Trap";
    s_Traps.worker.m_Procedure = &TrapThread;
    return s_Traps.worker.Start() != 0;
}

void StopTrapThread()
{
    if (!TrapsEnabled())
        return;
    s_Traps.worker.Stop();
    s_Traps.session = nullptr;
}

void SetTrapSessionReady()
{
    if (TrapsEnabled() && s_Traps.sessionReady != nullptr)
        SetEvent(s_Traps.sessionReady);
}

void ResetTrapSessionReady()
{
    if (TrapsEnabled() && s_Traps.sessionReady != nullptr)
        ResetEvent(s_Traps.sessionReady);
}

int SendOneTrap(AXSESSION *session)
{
    TRAP_BUFFER *trap = nullptr;
    {
        std::lock_guard<std::mutex> hold(s_Traps.lock);
        if (s_Traps.traps.empty())
            return 301;
        trap = s_Traps.traps.front();
        s_Traps.traps.pop_front();
        if (s_Traps.traps.empty())
            ResetEvent(s_Traps.notEmpty);
    }
    int result = session->Notify(trap->VarBindCount, trap->VarBinds, trap->BytesUsed);
    FreeTrap(trap);
    return result;
}

size_t QueuedTrapCount()
{
    std::lock_guard<std::mutex> hold(s_Traps.lock);
    return s_Traps.traps.size();
}

bool AddTrapHeader(TRAP_BUFFER *trap, int32_t flags)
{
    if (trap == nullptr)
        return false;
    char name[260] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, name, &size))
        std::strcpy(name, "Unknown");
    name[sizeof name - 1] = '\0';

    uint8_t oid[AGENTX_PDU_BUFFER_SIZE / 8];
    uint8_t varbind[AGENTX_PDU_BUFFER_SIZE / 2];
    EncodeAgentXOid(MIBOID{1, 3, 6, 1, 2, 1, 1, 5, 0}, oid);
    if (!AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, oid, name)))
        return false;
    EncodeAgentXOid(EnterpriseOid({11, 2, 11, 1, 0}), oid);
    return AddTrapVarBind(trap, MakeIntegerVarBind(varbind, oid, flags));
}
