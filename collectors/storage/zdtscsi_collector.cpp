#include "zdtscsi_collector.h"

#include "agentx_pdu.h"
#include "ax_session.h"
#include "enterprise_arc.h"
#include "service_parameters.h"

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
