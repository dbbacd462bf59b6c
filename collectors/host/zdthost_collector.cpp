#include "zdthost_collector.h"

#include "agentx_pdu.h"
#include "ax_session.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "scheduler.h"
#include "service_parameters.h"

#include <process.h>


ZDTHOSTDataCollector s_ZDTHOSTDataCollector;

namespace {

constexpr int kRegistrationPriority = 127;

struct HOST_REGION {
    uint32_t below[3];  // under ENTERPRISE_ARC.11; unused places are 0
    bool instance;
};

} // namespace

ZDTHOSTDataCollector::ZDTHOSTDataCollector() : DATACOLLECTOR(L"ZDTHOST", 11, 1, 47, &s_ServiceParameters.EnableZDTHOST)
{
    SetReadsRelogFlags();
    InitializeCriticalSection(&m_UsageLock);
}

ZDTHOSTDataCollector::~ZDTHOSTDataCollector()
{
    DeleteCriticalSection(&m_UsageLock);
}

void ZDTHOSTDataCollector::Initialize()
{
    LOG_VERBOSE(L"ZDTHOSTDataCollector::Initialize", L"Thread created.");
    if (m_HeartbeatThread == nullptr) {
        m_HeartbeatStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (m_HeartbeatStop != nullptr) {
            m_HeartbeatThread =
                reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &HeartbeatThreadProc, this, 0, nullptr));
            if (m_HeartbeatThread == nullptr) {
                CloseHandle(m_HeartbeatStop);
                m_HeartbeatStop = nullptr;
            }
        }
    }
    StampSoftwareCollection(false);
    DATACOLLECTOR::Initialize();
    Initialize_zdtHoUtil();
}

void ZDTHOSTDataCollector::Terminate()
{
    Terminate_zdtHoUtil();
    if (m_HeartbeatThread != nullptr) {
        SetEvent(m_HeartbeatStop);
        // The thread ends at its next wait; terminating it could leave the log, trap or heap
        // lock held, so that is only the last resort.
        if (WaitForSingleObject(m_HeartbeatThread, HEARTBEAT_TIMING::StopWaitMs.load()) != WAIT_OBJECT_0)
            TerminateThread(m_HeartbeatThread, 0);
        CloseHandle(m_HeartbeatThread);
        m_HeartbeatThread = nullptr;
    }
    if (m_HeartbeatStop != nullptr) {
        CloseHandle(m_HeartbeatStop);
        m_HeartbeatStop = nullptr;
    }
    DATACOLLECTOR::Terminate();
}

int ZDTHOSTDataCollector::Register(AXSESSION *session)
{
    static const HOST_REGION kRegions[] = {
        {{1}, false},        // revision and condition
        {{2, 1}, false},     // poll interval
        {{2, 2}, false},     // operating system
        {{2, 4}, false},     // file systems
        {{2, 6}, false},     // running software
        {{2, 7}, false},     // software versions
        {{2, 10, 1}, true},  // status array
        {{2, 10, 7}, true},  // condition summary
        {{2, 13}, false},    // memory
    };
    int result = 0;
    for (const HOST_REGION &region : kRegions) {
        MIBOID oid = EnterpriseOid({11});
        for (uint32_t id : region.below)
            if (id != 0)
                oid.Append(id);
        uint8_t encoded[AGENTX_PDU_BUFFER_SIZE / 4];
        EncodeAgentXOid(oid, encoded);
        const int registered = region.instance ? session->RegisterObjectInstance(encoded, kRegistrationPriority)
                                               : session->Register(encoded, kRegistrationPriority);
        if (registered != 0)
            result = registered;
    }
    return result;
}

void ZDTHOSTDataCollector::Collect(int firstRun, DATASTORE *staging)
{
    LOG_INFO(L"ZDTHOSTDataCollector::Collect", L"Starting HOST collector.");
    Collect_zdtHoInfo(firstRun, staging);
    Collect_zdtHoUtil(firstRun, staging);
    Collect_zdtHoFileSys(firstRun, staging);
    if (IsSoftwareCollectionDue()) {
        Collect_zdtHoSwVer(firstRun, staging);
        Collect_zdtHoSwRunning(firstRun, staging);
    }
    Collect_zdtHoMemory(firstRun, staging);
}
