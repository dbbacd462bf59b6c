#include "zdtstdeq_collector.h"

#include "agentx_pdu.h"
#include "ax_session.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "service_parameters.h"
#include "traps.h"

#include <cstring>

ZDTSTDEQDataCollector s_ZDTSTDEQDataCollector;

namespace {

constexpr int kRegistrationPriority = 127;
constexpr size_t kComputerNameBytes = 260;

} // namespace

ZDTSTDEQDataCollector::ZDTSTDEQDataCollector() : DATACOLLECTOR(L"ZDTSTDEQ", 0, 0, 0, &s_ServiceParameters.EnableZDTSTDEQ)
{}

ZDTSTDEQDataCollector::~ZDTSTDEQDataCollector()
{
    m_CurrentPci.clear();
    m_PreviousPci.clear();
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

// The PCIe disks are collected by steps of their own, which come with their table.
void ZDTSTDEQDataCollector::Collect_zdtSePcieDisk(int, DATASTORE *) {}
void ZDTSTDEQDataCollector::UpdatePcieDiskData() {}

void ZDTSTDEQDataCollector::ForgetDevices()
{
    m_PreviousPci.clear();
    m_CurrentPci.clear();
}

void SendStdeqTrap(unsigned trapNumber, int32_t flags, const std::function<void(TRAP_BUFFER *trap)> &addOwn)
{
    uint8_t trapOid[AGENTX_PDU_BUFFER_SIZE / 8];
    EncodeAgentXOid(EnterpriseOid({0, 0}), trapOid);
    SetLastSubId(trapOid, trapNumber);

    char name[kComputerNameBytes] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, name, &size))
        strcpy(name, "Unknown");
    name[sizeof name - 1] = '\0';

    TRAP_BUFFER *trap = CreateTrap(trapOid);
    if (trap == nullptr)
        return;
    uint8_t oid[AGENTX_PDU_BUFFER_SIZE / 8];
    uint8_t varbind[AGENTX_PDU_BUFFER_SIZE / 2];
    EncodeAgentXOid(MIBOID{1, 3, 6, 1, 2, 1, 1, 5, 0}, oid);
    AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, oid, name));
    EncodeAgentXOid(EnterpriseOid({11, 2, 11, 1, 0}), oid);
    AddTrapVarBind(trap, MakeIntegerVarBind(varbind, oid, flags));
    if (addOwn)
        addOwn(trap);
    SendTrap(trap);
}
