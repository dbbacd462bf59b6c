#include "subagent.h"

#include "agentx_answer.h"
#include "agentx_pdu.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "service_parameters.h"
#include "traps.h"

#include <cstring>
#include <cwchar>
#include <memory>

std::atomic<AGENTX_SCHEDULER *> s_AgentXScheduler{nullptr};
AXSESSION_TLM *s_AgentXSession = nullptr;
AXTRANSPORT_TLM *s_AgentXTransport = nullptr;

namespace {

CWorkerThread s_AgentXWorker;

void LaunchRestart(const wchar_t *commandLine)
{
    std::wstring line(commandLine);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

struct TriggerRow {
    uint8_t prefix;
    int exactCount;  // -1: any
    uint32_t begin[5];
    int beginCount;
    const char *groups[2];
    uint32_t seconds;
};

constexpr uint32_t N = ENTERPRISE_NUMBER;
const TriggerRow kTriggers[] = {
    {2, 4, {1, 4, 20}, 3, {"ZDTNIC", nullptr}, 120},
    {2, 4, {1, 25}, 2, {"MIB-2", nullptr}, 120},
    {4, -1, {1, N, 1}, 3, {"ZDTSTDEQ", nullptr}, 120},
    {4, -1, {1, N, 5}, 3, {"ZDTSCSI", "ZDTSAS"}, 120},
    {4, -1, {1, N, 11, 2, 10}, 5, {nullptr, nullptr}, 0},
    {4, -1, {1, N, 11}, 3, {"ZDTHOST", nullptr}, 120},
    {4, -1, {1, N, 14}, 3, {"ZDTIDE", nullptr}, 60},
    {4, -1, {1, N, 16}, 3, {"ZDTFCA", nullptr}, 120},
    {4, -1, {1, N, 18}, 3, {"ZDTNIC", nullptr}, 120},
    {4, -1, {1, N, 19}, 3, {"ZDTWINOSMGMT", nullptr}, 120},
    {4, -1, {1, N, 169}, 3, {"ZDTISCSI", nullptr}, 120},
};

uint8_t s_SubAgentOid[4 + 4 * 8];

} // namespace

std::atomic<AGENTX_RESTART_LAUNCHER> s_AgentXRestartLauncher{&LaunchRestart};

bool BuildRestartCommandLine(wchar_t *buffer, size_t capacity)
{
    wchar_t expanded[1024];
    DWORD length = ExpandEnvironmentStringsW(L"%ProgramFiles%", expanded, 1024);
    if (length == 0 || length > 1024)
        return false;
    // Only an absolute drive path: a relative or unexpanded one would run whatever lies there.
    if (!(expanded[0] != 0 && expanded[1] == L':' && expanded[2] == L'\\'))
        return false;
    int written = swprintf(buffer, capacity, L"\"%ls\\OEM\\TLM\\Service\\restarttlm.bat\"", expanded);
    return written > 0 && static_cast<size_t>(written) < capacity;
}

int AgentXCollectionTriggers(const uint8_t *oid, const char *groups[2], uint32_t *seconds)
{
    uint8_t count = oid[0];
    uint8_t prefix = oid[1];
    for (const TriggerRow &row : kTriggers) {
        if (row.prefix != prefix || (row.exactCount >= 0 && row.exactCount != count) || count < row.beginCount)
            continue;
        bool match = true;
        for (int i = 0; i < row.beginCount && match; ++i)
            match = GetAgentXU32(oid + 4 + 4 * i) == row.begin[i];
        if (!match)
            continue;
        int n = 0;
        for (const char *group : row.groups)
            if (group != nullptr)
                groups[n++] = group;
        *seconds = row.seconds;
        return n;
    }
    return 0;
}

const uint8_t *AgentXSubAgentOid()
{
    const uint32_t ids[] = {1, 3, 6, 1, 4, 1, ENTERPRISE_NUMBER, 42};
    WriteAgentXOid(s_SubAgentOid, 0, 0, ids, 8);
    return s_SubAgentOid;
}

AXSESSION_TLM::~AXSESSION_TLM() { CloseSession(); }

int AXSESSION_TLM::OnSessionStarted()
{
    int result = 0;
    if (AGENTX_SCHEDULER *scheduler = s_AgentXScheduler.load())
        result = scheduler->RegisterCollectors(*this);
    if (result == 0)
        SetTrapSessionReady();
    return result;
}

void AXSESSION_TLM::OnSessionClosed() { ResetTrapSessionReady(); }

int AXSESSION_TLM::OnGet(const AGENTX_RECEIVED_PDU &request, uint8_t *response)
{
    AnswerAgentXRanges(s_DataStore, request, response, false);
    return 0;
}

int AXSESSION_TLM::OnGetNext(const AGENTX_RECEIVED_PDU &request, uint8_t *response)
{
    AnswerAgentXRanges(s_DataStore, request, response, true);
    return 0;
}

unsigned __stdcall AgentXThread(void *record)
{
    auto &worker = *static_cast<CWorkerThread *>(record);
    HANDLE resetEvent = CreateEventW(nullptr, FALSE, FALSE, kOxbResetEventName);
    AXSESSION_TLM *session = s_AgentXSession;
    AXTRANSPORT_TLM *transport = s_AgentXTransport;
    transport->SetAbortEvent(worker.m_StopEvent);
    int failures = 0;
    bool recovering = false;
    auto pdu = std::make_unique<uint8_t[]>(AGENTX_PDU_BUFFER_SIZE);
    while (!worker.StopRequested()) {
        // Only a session that comes back after a failed open announces a reset: every announcement
        // makes the black box register again and the collectors post their inventories again, so a
        // session reopened at once (after a failed ping, a close or a lost connection) stays quiet.
        if (session->OpenSession() != 0) {
            LOG_ERROR(L"AgentXThread", L"AgentXThread: Can't open/restart AgentX session");
            if (worker.Pause(AgentXThreadTimeouts::OpenRetryMs))
                break;
            recovering = true;
            WriteRecordedSessionId(0);
            ++failures;
            LOG_ERROR(L"AgentXThread", L"oXB OpenSession() error encountered. %d", failures);
            if (failures >= AgentXThreadTimeouts::RestartAfterFailures) {
                LOG_ERROR(L"AgentXThread", L"oXB OpenSession() error over 20 times.");
                failures = 0;
                wchar_t commandLine[1100];
                LOG_ERROR(L"AgentXThread", L"Too many oXB OpenSession() errors encountered. Restarting TLM.");
                if (BuildRestartCommandLine(commandLine, 1100)) {
                    if (AGENTX_RESTART_LAUNCHER launch = s_AgentXRestartLauncher.load())
                        launch(commandLine);
                }
            }
            continue;
        }
        failures = 0;
        if (worker.StopRequested())
            break;
        if (recovering) {
            LOG_VERBOSE(L"AgentXThread", L"Connection recovery, register KWB log again.");
            if (resetEvent != nullptr)
                SetEvent(resetEvent);
            recovering = false;
        }
        int result = transport->Receive(pdu.get());
        if (worker.StopRequested())
            break;
        if (result == AXResult_Timeout) {
            if (session->Ping() != 0)
                session->CloseSession();
            continue;
        }
        if (result != 0)
            continue;
        uint8_t type = pdu[1];
        AGENTX_RECEIVED_PDU read;
        if ((type == AXPacketType_Get || type == AXPacketType_GetNext || type == AXPacketType_GetBulk) &&
            ReadAgentXPdu(pdu.get(), AGENTX_PDU_BUFFER_SIZE, &read) == AXRead_Ok && read.rangeCount != 0) {
            const char *groups[2] = {};
            uint32_t seconds = 0;
            int count = AgentXCollectionTriggers(read.ranges, groups, &seconds);
            if (AGENTX_SCHEDULER *scheduler = s_AgentXScheduler.load())
                for (int i = 0; i < count; ++i)
                    scheduler->TriggerCollection(groups[i], seconds);
        }
        session->HandleRequest(pdu.get(), AGENTX_PDU_BUFFER_SIZE);
    }
    StopTrapThread();
    transport->SetAbortEvent(nullptr);
    session->CloseSession();
    transport->CloseConnection();
    if (resetEvent != nullptr)
        CloseHandle(resetEvent);
    return 0;
}

bool StartAgentX()
{
    if (s_ServiceParameters.EnableAgentX == 0)
        return true;
    s_AgentXTransport = CreateAgentXTransport();
    if (s_AgentXTransport == nullptr)
        return false;
    s_AgentXSession = new (std::nothrow) AXSESSION_TLM(s_AgentXTransport, AgentXSubAgentOid(), kAgentXDescription);
    if (s_AgentXSession == nullptr) {
        delete s_AgentXTransport;
        s_AgentXTransport = nullptr;
        return false;
    }
    s_AgentXWorker.m_Name = L"AgentX";
    s_AgentXWorker.m_Procedure = &AgentXThread;
    if (!s_AgentXWorker.Start())
        return false;
    return StartTrapThread(s_AgentXSession);
}

void StopAgentX()
{
    if (s_ServiceParameters.EnableAgentX == 0)
        return;
    StopTrapThread();
    s_AgentXWorker.Stop();
    delete s_AgentXSession;
    s_AgentXSession = nullptr;
    delete s_AgentXTransport;
    s_AgentXTransport = nullptr;
}
