#include "zdtscsi_collector.h"

#include "agentx_pdu.h"
#include "ax_session.h"
#include "enterprise_arc.h"
#include "service_parameters.h"
#include "zdtsas_collector.h"

ZDTSCSIDataCollector s_ZDTSCSIDataCollector;

ZDTSCSIDataCollector::ZDTSCSIDataCollector() : DATACOLLECTOR(L"ZDTSCSI", 5, 1, 43, &s_ServiceParameters.EnableZDTSAS)
{}

ZDTSCSIDataCollector::~ZDTSCSIDataCollector() = default;

int ZDTSCSIDataCollector::Register(AXSESSION *session)
{
    uint8_t encoded[AGENTX_PDU_BUFFER_SIZE / 4];
    EncodeAgentXOid(EnterpriseOid({5, 1}), encoded);
    return session->Register(encoded, 127);
}

void ZDTSCSIDataCollector::EndCollection(int firstRun, DATASTORE *staging)
{
    // With a SAS collection in the same cycle this is what that collection raised already: it ran
    // before this end, the SAS collector's own end comes after it.
    SetCondition(s_ZDTSASDataCollector.Condition());
    DATACOLLECTOR::EndCollection(firstRun, staging);
}
