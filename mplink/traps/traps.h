#pragma once
// Traps: any part of the service builds a TRAP_BUFFER (the trap's varbinds in AgentX form) and
// hands it to SendTrap. The "Trap" thread sends them in order as Notify PDUs once the session is
// open and every collector has registered, and frees each after its send.

#include <windows.h>

#include <atomic>
#include <cstdint>

class AXSESSION;

constexpr size_t TRAP_BUFFER_SIZE = 4096;
constexpr size_t TRAP_VARBIND_BYTES = TRAP_BUFFER_SIZE - 8;

struct TRAP_BUFFER {
    uint32_t BytesUsed;
    uint32_t VarBindCount;
    uint8_t VarBinds[TRAP_VARBIND_BYTES];
};
static_assert(sizeof(TRAP_BUFFER) == TRAP_BUFFER_SIZE);
static_assert(offsetof(TRAP_BUFFER, VarBindCount) == 4 && offsetof(TRAP_BUFFER, VarBinds) == 8);

struct TrapTimeouts {
    // How long the thread waits on its stop event when the session is not open.
    static inline std::atomic<DWORD> SessionWaitMs{30000};
};

// Null when traps are disabled or memory runs out; with a trap OID, snmpTrapOID.0 is added.
TRAP_BUFFER *CreateTrap(const uint8_t *trapOid);
void FreeTrap(TRAP_BUFFER *trap);
// Each returns false, leaving the buffer as it was (and logging), when the varbind does not fit.
bool SetTrapOid(TRAP_BUFFER *trap, const uint8_t *trapOid);
bool SetTrapEnterprise(TRAP_BUFFER *trap, const uint8_t *enterpriseOid);
bool AddTrapVarBind(TRAP_BUFFER *trap, const uint8_t *varbind);
// The two varbinds that open every collector's trap: sysName.0 (the computer's physical DNS name,
// "Unknown" when it cannot be read) and the trap-flags object ENTERPRISE_ARC.11.2.11.1.0. False
// when one does not fit.
bool AddTrapHeader(TRAP_BUFFER *trap, int32_t flags);
// Takes ownership of the buffer in every case.
void SendTrap(TRAP_BUFFER *trap);
void LogTrapInfo(const TRAP_BUFFER *trap);

void InitTraps();
void TermTraps();
bool StartTrapThread(AXSESSION *session);
void StopTrapThread();
void SetTrapSessionReady();
void ResetTrapSessionReady();
// 0 after a Notify that succeeded, 301 when the queue is empty, else the Notify's failure.
int SendOneTrap(AXSESSION *session);
size_t QueuedTrapCount();
