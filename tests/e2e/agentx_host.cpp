// agentx_e2e_host.exe: the service's AgentX side (store, sub-agent, traps) over the pipe channel,
// for the end-to-end test until the service's own start drives it. It fills the store with a
// small group and a table of N rows, registers the group, queues one trap, and runs until the
// stop file appears.
//
//   agentx_e2e_host.exe --sim NAME --rows N --dir DIR [--receive-delay MS]
// --receive-delay sets "ReceiveThreadDelayMS" in the service's Parameters key of this prefix.
// DIR receives: expected.txt (the store as snmpwalk -On prints it), registered (one line per
// completed registration), and is watched for the file "stop".
#include "agentx_pdu.h"
#include "enterprise_arc.h"
#include "pipe_backend.h"
#include "service_parameters.h"
#include "store_writers.h"
#include "subagent.h"
#include "traps.h"
#include "zdt_ci.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring s_Dir;

std::wstring PathOf(const wchar_t *name) { return s_Dir + L"\\" + name; }

class HostScheduler : public AGENTX_SCHEDULER {
public:
    int RegisterCollectors(AXSESSION &session) override
    {
        const uint32_t ids[] = {1, ENTERPRISE_NUMBER, 1};
        uint8_t oid[32];
        WriteAgentXOid(oid, 4, 0, ids, 3);
        int result = session.Register(oid, 127);
        if (result == 0) {
            FILE *f = _wfopen(PathOf(L"registered").c_str(), L"ab");
            if (f) {
                fprintf(f, "session %u\n", session.SessionId());
                fclose(f);
            }
        }
        return result;
    }
    void TriggerCollection(const char *, uint32_t) override {}
};

std::string OidText(const MIBOID &oid)
{
    std::string text;
    for (int32_t i = 0; i < oid.count; ++i)
        text += "." + std::to_string(oid.subIds[i]);
    return text;
}

void WriteExpected()
{
    FILE *f = _wfopen(PathOf(L"expected.txt").c_str(), L"wb");
    if (!f)
        return;
    s_DataStore->Walk(s_NoStartOid, s_NoEndOid, false, [&](const MIBOID &oid, const MIBVALUE_REF &value) {
        if (value.type == MIBTYPE_INTEGER)
            fprintf(f, "%s = INTEGER: %d\n", OidText(oid).c_str(), static_cast<int32_t>(value.U32()));
        else if (value.type == MIBTYPE_OCTETSTRING)
            fprintf(f, "%s = STRING: \"%.*s\"\n", OidText(oid).c_str(), static_cast<int>(value.length),
                    reinterpret_cast<const char *>(value.data));
        return true;
    });
    fclose(f);
}

void QueueTrap()
{
    const uint32_t trapIds[] = {1, 3, 6, 1, 4, 1, ENTERPRISE_NUMBER, 0, 18013};
    uint8_t trapOid[64];
    WriteAgentXOid(trapOid, 0, 0, trapIds, 9);
    TRAP_BUFFER *trap = CreateTrap(trapOid);
    if (trap == nullptr)
        return;
    const uint32_t name[] = {1, ENTERPRISE_NUMBER, 11, 1, 0};
    uint8_t nameOid[64];
    WriteAgentXOid(nameOid, 4, 0, name, 5);
    uint8_t varbind[128];
    AddTrapVarBind(trap, MakeIntegerVarBind(varbind, nameOid, 5));
    SendTrap(trap);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    std::wstring sim;
    long rows = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::wstring key = argv[i];
        if (key == L"--sim")
            sim = argv[i + 1];
        else if (key == L"--rows")
            rows = wcstol(argv[i + 1], nullptr, 10);
        else if (key == L"--dir")
            s_Dir = argv[i + 1];
        else if (key == L"--receive-delay") {
            DWORD delay = static_cast<DWORD>(wcstoul(argv[i + 1], nullptr, 10));
            HKEY parameters = nullptr;
            if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\ndxtlm\\Parameters", 0,
                                nullptr, 0, KEY_SET_VALUE, nullptr, &parameters, nullptr) == ERROR_SUCCESS) {
                RegSetValueExW(parameters, L"ReceiveThreadDelayMS", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&delay),
                               sizeof delay);
                RegCloseKey(parameters);
            }
        }
    }
    if (sim.empty() || s_Dir.empty() || rows < 0) {
        fprintf(stderr, "usage: agentx_e2e_host --sim NAME --rows N --dir DIR\n");
        return 2;
    }
    // A simulator that goes away must be found again quickly.
    AgentXThreadTimeouts::OpenRetryMs = 1000;
    AxTransportTimeouts::QueueWaitMs = 5000;
    AxTransportTimeouts::ThreadReadWaitMs = 2000;
    AxTransportTimeouts::IdleWaitMs = 1000;

    if (!InitDataStores())
        return 1;
    s_DataStore = new DATASTORE(true);
    const std::string e = "1.3.6.1.4.1.32473.1";
    MIBOID base{1, 3, 6, 1, 4, 1, ENTERPRISE_NUMBER, 1};
    MIBOID scalar = base;
    scalar.Append(1);
    scalar.Append(0);
    s_DataStore->SetInteger(scalar, 42);
    MIBOID text = base;
    text.Append(2);
    text.Append(0);
    MIBVALUE value;
    value.InitOctetString(7, "TLM e2e");
    s_DataStore->SetValue(text, value);
    for (long row = 1; row <= rows; ++row) {
        MIBOID cell = base;
        for (uint32_t id : {10u, 1u, 1u, static_cast<uint32_t>(row)})
            cell.Append(id);
        s_DataStore->SetInteger(cell, static_cast<int32_t>(row * 3));
    }
    WriteExpected();

    static HostScheduler scheduler;
    s_AgentXScheduler = &scheduler;
    InitTraps();
    QueueTrap();
    PipeBackendSetName(sim.c_str());
    ZdtCiInitialize(nullptr);
    if (!StartAgentX()) {
        fprintf(stderr, "agentx_e2e_host: StartAgentX failed\n");
        return 1;
    }
    std::wstring stop = PathOf(L"stop");
    while (GetFileAttributesW(stop.c_str()) == INVALID_FILE_ATTRIBUTES)
        Sleep(100);
    StopAgentX();
    TermTraps();
    ZdtCiTerminate();
    TermDataStores();
    return 0;
}
