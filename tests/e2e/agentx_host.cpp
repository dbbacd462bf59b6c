// agentx_e2e_host.exe: the service's AgentX side (store, sub-agent, traps) over the pipe channel,
// for the end-to-end test until the service's own start drives it. It fills the store with a
// small group and a table of N rows, registers the group, queues one trap, and runs until the
// stop file appears.
//
//   agentx_e2e_host.exe --sim NAME --rows N --dir DIR [--receive-delay MS] [--store-heap-mb MB]
// --receive-delay sets "ReceiveThreadDelayMS" in the service's Parameters key of this prefix;
// --store-heap-mb raises the store heap's maximum (the benchmark's large tables).
// DIR receives: expected.txt (the objects it put in, as snmpwalk -On prints them), registered (one line per
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
#include <vector>

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

// One object the host puts into the store, with its OID and value as snmpwalk -On prints them.
struct HostObject {
    std::string oid;  // ".1.3.6...."
    bool text;
    int32_t number;
    std::string string;
};

// The objects in the order a walk must return them: the two scalars, then the table's rows.
std::vector<HostObject> HostObjects(long rows)
{
    const std::string e = ".1.3.6.1.4.1." + std::to_string(ENTERPRISE_NUMBER) + ".1";
    std::vector<HostObject> objects = {
        {e + ".1.0", false, 42, ""},
        {e + ".2.0", true, 0, "TLM e2e"},
    };
    for (long row = 1; row <= rows; ++row)
        objects.push_back({e + ".10.1.1." + std::to_string(row), false, static_cast<int32_t>(row * 3), ""});
    return objects;
}

MIBOID ParseOid(const std::string &text)
{
    MIBOID oid;
    for (size_t at = 1; at < text.size();) {
        size_t dot = text.find('.', at);
        oid.Append(static_cast<uint32_t>(std::stoul(text.substr(at, dot - at))));
        at = dot == std::string::npos ? text.size() : dot + 1;
    }
    return oid;
}

bool FillStore(const std::vector<HostObject> &objects)
{
    for (const HostObject &object : objects) {
        MIBOID oid = ParseOid(object.oid);
        if (object.text) {
            MIBVALUE value;
            value.InitOctetString(static_cast<uint32_t>(object.string.size()), object.string.data());
            if (!s_DataStore->SetValue(oid, value))
                return false;
        } else if (!s_DataStore->SetInteger(oid, object.number)) {
            return false;
        }
    }
    return true;
}

// What the clients must see, written from the host's own list rather than from the store, so that
// a store that lost or reordered objects cannot agree with itself.
void WriteExpected(const std::vector<HostObject> &objects)
{
    FILE *f = _wfopen(PathOf(L"expected.txt").c_str(), L"wb");
    if (!f)
        return;
    for (const HostObject &object : objects) {
        if (object.text)
            fprintf(f, "%s = STRING: \"%s\"\n", object.oid.c_str(), object.string.c_str());
        else
            fprintf(f, "%s = INTEGER: %d\n", object.oid.c_str(), object.number);
    }
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
        else if (key == L"--store-heap-mb")
            DATASTORE::HeapMaximumBytes = size_t(wcstoul(argv[i + 1], nullptr, 10)) << 20;
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
    std::vector<HostObject> objects = HostObjects(rows);
    if (!FillStore(objects)) {
        fprintf(stderr, "agentx_e2e_host: the store took not all %ld rows (its heap is full)\n", rows);
        return 1;
    }
    WriteExpected(objects);

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
