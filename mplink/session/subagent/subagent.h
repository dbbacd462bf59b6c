#pragma once
// The service's AgentX sub-agent: AXSESSION_TLM answers Get and GetNext from s_DataStore and
// registers the enabled collectors' regions; the "AgentX" thread keeps the session open, pings
// the master when the line is idle, triggers fresh collections for what a request touches and
// hands every request to the session.

#include "ax_session.h"
#include "worker_thread.h"

#include <atomic>
#include <cstdint>

// What the sub-agent needs of the scheduler: the enabled collectors' registrations and the
// collection triggers. The service's start puts the scheduler's implementation here.
class AGENTX_SCHEDULER {
public:
    virtual ~AGENTX_SCHEDULER() = default;
    // Every enabled collector's DATACOLLECTOR::Register with the session, in list order; the
    // last non-zero result, or 0.
    virtual int RegisterCollectors(AXSESSION &session) = 0;
    virtual void TriggerCollection(const char *group, uint32_t seconds) = 0;
};
extern std::atomic<AGENTX_SCHEDULER *> s_AgentXScheduler;

struct AgentXThreadTimeouts {
    static inline std::atomic<DWORD> OpenRetryMs{15000};
    static inline std::atomic<int> RestartAfterFailures{20};
};

// Starts the service's restart batch by its absolute, quoted path. Tests put their own here so
// that nothing is ever restarted.
using AGENTX_RESTART_LAUNCHER = void (*)(const wchar_t *commandLine);
extern std::atomic<AGENTX_RESTART_LAUNCHER> s_AgentXRestartLauncher;
// The command line: "%ProgramFiles%\OEM\TLM\Service\restarttlm.bat" expanded and quoted; false
// when the expansion is not an absolute path or does not fit.
bool BuildRestartCommandLine(wchar_t *buffer, size_t capacity);

// The groups a request starting at this OID (AgentX form, trusted) triggers: up to two names and
// the seconds. Returns the number of groups.
int AgentXCollectionTriggers(const uint8_t *oid, const char *groups[2], uint32_t *seconds);

class AXSESSION_TLM : public AXSESSION {
public:
    using AXSESSION::AXSESSION;
    ~AXSESSION_TLM() override;

    int OnSessionStarted() override;
    void OnSessionClosed() override;
    int OnGet(const AGENTX_RECEIVED_PDU &request, uint8_t *response) override;
    int OnGetNext(const AGENTX_RECEIVED_PDU &request, uint8_t *response) override;
};

extern AXSESSION_TLM *s_AgentXSession;
extern AXTRANSPORT_TLM *s_AgentXTransport;

// The sub-agent identity: ENTERPRISE_ARC.42 in full form.
const uint8_t *AgentXSubAgentOid();
constexpr char kAgentXDescription[] = "TLM Windows AgentX sub-agent";
constexpr wchar_t kOxbResetEventName[] = L"Message: oXB was reset.";

bool StartAgentX();
void StopAgentX();
unsigned __stdcall AgentXThread(void *record);
