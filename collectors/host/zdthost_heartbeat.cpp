// The heartbeat test trap: a thread that looks at a registry key every pass and sends the test
// trap once or periodically as the key asks.
#include "zdthost_collector.h"

#include "agentx_pdu.h"
#include "common_log.h"
#include "enterprise_arc.h"
#include "host_text.h"
#include "host_trap.h"
#include "registry.h"
#include "traps.h"

namespace {

constexpr DWORD kTimeFormatChars = 64;   // with its NUL
constexpr size_t kTimeFormatBytes = 32;  // the ANSI form

HEARTBEAT_VALUES ReadHeartbeatValues(CRegistry &key)
{
    HEARTBEAT_VALUES values;
    values.keyOpened = key.Create() != 0;
    if (!values.keyOpened)
        return values;
    values.stopTrap = ReadRegistryDword(key, L"StopTrap");
    values.startTrap = ReadRegistryDword(key, L"StartTrap");
    values.periodicTrapEnabled = ReadRegistryDword(key, L"PeriodicTrapEnabled");
    values.timeout = ReadRegistryDword(key, L"Timeout");
    wchar_t format[kTimeFormatChars];
    if (key.GetStringToBuffer(L"TimeFmt", format, kTimeFormatChars)) {
        char ansi[kTimeFormatBytes];
        values.timeFmt = WideToNarrowBuffer(ansi, sizeof ansi, format, -1, CP_ACP);
    }
    return values;
}

// The text varbind's room in the trap; the name and the flags take the rest.
constexpr size_t kTrapTextBytes = 1024;

} // namespace

unsigned __stdcall HeartbeatThreadProc(void *collector)
{
    static_cast<ZDTHOSTDataCollector *>(collector)->Thread_HeartbeatTrap();
    return 0;
}

void ZDTHOSTDataCollector::Thread_HeartbeatTrap()
{
    LOG_VERBOSE(L"ZDTHOSTDataCollector::Thread_HeartbeatTrap",
                L"ZDTHOSTDataCollector::Thread_HeartbeatTrap initialized.");
    HEARTBEAT_STATE state;
    while (WaitForSingleObject(m_HeartbeatStop, HEARTBEAT_TIMING::PassMs.load()) == WAIT_TIMEOUT) {
        CRegistry key(HKEY_LOCAL_MACHINE, kHeartbeatKey);
        const HEARTBEAT_ACTIONS actions = state.Pass(ReadHeartbeatValues(key));
        // PeriodicallySendingTrap = 1 is written before a trap goes out, 0 after the pass.
        if (actions.periodicallySending && *actions.periodicallySending == 1)
            key.SetDword(L"PeriodicallySendingTrap", 1);
        if (actions.sendTrap)
            SendZdtHoTestTrap(kHeartbeatTrapNumber, kHeartbeatTrapText);
        if (actions.clearStartTrapEcho)
            key.SetDword(L"nStartTrap", 0);
        if (actions.periodicallySending && *actions.periodicallySending == 0)
            key.SetDword(L"PeriodicallySendingTrap", 0);
    }
}

void ZDTHOSTDataCollector::SendZdtHoTestTrap(unsigned trapNumber, std::string text)
{
    LOG_VERBOSE(L"ZDTHOSTDataCollector::SendZdtHoTestTrap", L"ZDTHOSTDataCollector::SendZdtHoTestTrap(%d)\n",
                static_cast<int>(trapNumber));
    SendHostTrap(trapNumber, 0, [&](TRAP_BUFFER *trap) {
        if (trapNumber != kHeartbeatTrapNumber)
            return;
        if (text.size() > kTrapTextBytes)
            text.resize(kTrapTextBytes);
        uint8_t oid[AGENTX_PDU_BUFFER_SIZE / 8];
        uint8_t varbind[AGENTX_PDU_BUFFER_SIZE / 2];
        EncodeAgentXOid(EnterpriseOid({11, 2, 8, 1, 0}), oid);
        AddTrapVarBind(trap, MakeOctetStringVarBind(varbind, oid, text.c_str()));
    });
}

std::optional<uint32_t> ReadRegistryDword(CRegistry &key, const wchar_t *name)
{
    DWORD value = 0;
    if (!key.GetDword(name, &value))
        return std::nullopt;
    return value;
}
