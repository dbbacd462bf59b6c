#include "zdtstdeq_collector.h"

#include "agentx_pdu.h"
#include "ax_session.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "service_parameters.h"


ZDTSTDEQDataCollector s_ZDTSTDEQDataCollector;

namespace {

constexpr int kRegistrationPriority = 127;

} // namespace

ZDTSTDEQDataCollector::ZDTSTDEQDataCollector() : DATACOLLECTOR(L"ZDTSTDEQ", 0, 0, 0, &s_ServiceParameters.EnableZDTSTDEQ)
{}

ZDTSTDEQDataCollector::~ZDTSTDEQDataCollector()
{
    m_CurrentPci.clear();
    m_PreviousPci.clear();
    m_PreviousPcieDisks.clear();
}

int ZDTSTDEQDataCollector::Register(AXSESSION *session)
{
    LOG_VERBOSE(L"ZDTSTDEQDataCollector::Register", L"ZDTSTDEQDataCollector::Register.");
    // The kit's table is registered too, so that the master agent routes requests for it here.
    static const uint32_t kSubtrees[] = {13, 23, 15};
    int result = 0;
    for (uint32_t subtree : kSubtrees) {
        uint8_t encoded[AGENTX_PDU_BUFFER_SIZE / 4];
        EncodeAgentXOid(EnterpriseOid({1, 2, subtree}), encoded);
        const int registered = session->Register(encoded, kRegistrationPriority);
        if (registered != 0)
            result = registered;
    }
    return result;
}

void ZDTSTDEQDataCollector::Collect(int firstRun, DATASTORE *staging)
{
    LOG_INFO(L"ZDTSTDEQDataCollector::Collect", L"Starting STDEQ collector.");
    Collect_zdtSePci(firstRun, staging);
    CheckPciChanges();
    Collect_zdtSePcieDisk(firstRun, staging);
    UpdatePcieDiskData();
    Collect_zdtSeUSBPort(firstRun, staging);
}

void ZDTSTDEQDataCollector::ForgetDevices()
{
    m_PreviousPci.clear();
    m_CurrentPci.clear();
    m_PreviousPcieDisks.clear();
}
