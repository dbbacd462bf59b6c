#pragma once
// The AgentX transport over a management-processor channel.
//
//   AXSMIFCHANNEL     one driver channel behind a reader/writer lock: busy retries, size checks,
//                     reply matching by sequence, and a reset flag once a status shows it broken.
//   AXTRANSPORT       what the AgentX session drives.
//   AXTRANSPORT_SMIF  AXTRANSPORT over an AXSMIFCHANNEL with the passthru session; it reads its
//                     replies itself.
//   AXTRANSPORT_TLM   the service's transport: one receive thread ("AgentX-Transport") reads the
//                     channel and routes hardware event entries to the intake, replies to their
//                     waiters and requests to a queue.
//
// Results are AgentX errors (0, 5, 7, 257) and 300 when nothing arrived in time; channel calls
// return channel status codes.

#include "smif_packet.h"
#include "worker_thread.h"
#include "zdt_ci.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>

#include "datastore.h"  // RWLOCK

enum : int {
    AXResult_Ok = 0,
    AXResult_GenErr = 5,
    AXResult_WrongType = 7,
    AXResult_NotOpen = 257,
    AXResult_Timeout = 300,
};

// Every wait of the transport, named so that tests can shorten them.
struct AxTransportTimeouts {
    static inline std::atomic<DWORD> HandshakeWaitMs{10000};
    static inline std::atomic<DWORD> PassthruWaitMs{10000};       // a reply to a request
    static inline std::atomic<DWORD> DirectReceiveWaitMs{10000};  // AXTRANSPORT::Receive without the thread
    static inline std::atomic<DWORD> ThreadReadWaitMs{60000};     // one read of the receive thread
    static inline std::atomic<DWORD> IdleWaitMs{30000};           // receive thread while the channel is down
    static inline std::atomic<DWORD> QueueWaitMs{30000};          // AXTRANSPORT_TLM::Receive
    static inline std::atomic<DWORD> BusyRetryMs{1000};
    static inline std::atomic<DWORD> SettleMs{100};               // after a close, before the drain
};

// Where hardware event entries go (the intake); tests put their own sink here.
using KDL_EVENT_SINK = void (*)(const uint8_t *packet, size_t received);
extern std::atomic<KDL_EVENT_SINK> s_KdlEventSink;

class AXSMIFCHANNEL {
public:
    AXSMIFCHANNEL();
    ~AXSMIFCHANNEL();
    AXSMIFCHANNEL(const AXSMIFCHANNEL &) = delete;
    AXSMIFCHANNEL &operator=(const AXSMIFCHANNEL &) = delete;

    DWORD Open(bool force);
    void Close();
    DWORD Send(const uint8_t *packet);
    DWORD Receive(uint8_t *buffer, DWORD size, DWORD waitMs, DWORD *bytes);
    DWORD Transaction(const uint8_t *request, uint8_t *reply, DWORD replySize, DWORD waitMs);
    bool IsUsable() const { return m_Handle.load() != nullptr && m_Reset.load() == 0; }
    void SetAbortEvent(HANDLE event);
    void MarkReset() { m_Reset = 1; }

private:
    DWORD SendLocked(const uint8_t *packet);
    DWORD ReceiveLocked(uint8_t *buffer, DWORD size, DWORD waitMs, DWORD *bytes);
    DWORD TransactionLocked(const uint8_t *request, uint8_t *reply, DWORD replySize, DWORD waitMs);
    // The status handling after a call made under the shared lock (released by now).
    DWORD Handle(DWORD status);
    void CloseLocked();

    RWLOCK m_Lock;
    std::atomic<ZDTCI_HANDLE> m_Handle{nullptr};
    std::atomic<int> m_Reset{0};
    std::atomic<HANDLE> m_AbortEvent{nullptr};
};

class AXTRANSPORT {
public:
    virtual ~AXTRANSPORT() = default;
    virtual int OpenConnection() = 0;
    virtual int RestartConnection() = 0;
    virtual int CloseConnection() = 0;
    virtual bool IsConnected() = 0;
    // request: a PDU the caller built; reply: SMIF_MAX_PDU bytes.
    virtual int Transaction(const uint8_t *request, uint8_t *reply) = 0;
    virtual int Receive(uint8_t *pdu) = 0;
    virtual int Send(const uint8_t *pdu) = 0;
};

class AXTRANSPORT_SMIF : public AXTRANSPORT {
public:
    AXTRANSPORT_SMIF();
    ~AXTRANSPORT_SMIF() override;

    int OpenConnection() override;
    int RestartConnection() override;
    int CloseConnection() override;
    bool IsConnected() override;
    int Transaction(const uint8_t *request, uint8_t *reply) override;
    int Receive(uint8_t *pdu) override;
    int Send(const uint8_t *pdu) override;

    virtual void SetAbortEvent(HANDLE event);
    // request: a whole packet; reply: SMIF_MAX_PACKET bytes.
    virtual int AgentXPassthru(const uint8_t *request, uint8_t *reply);
    virtual void OnBeforeOpen() {}
    virtual void OnAfterOpen() {}
    virtual void OnBeforeClose() {}
    virtual void OnAfterClose() {}

    AXSMIFCHANNEL *Channel() { return m_Channel.get(); }
    bool ResetPending() const { return m_Reset.load() != 0; }

protected:
    int OpenPassthruSession();
    void ClosePassthruSession();
    // The destructor's close, with this class's own hooks only.
    void CloseWithoutHooks();

    std::atomic<int> m_Opened{0};
    std::atomic<int> m_Passthru{0};
    std::atomic<int> m_Reset{0};
    std::atomic<uint16_t> m_Sequence{1};
    std::unique_ptr<AXSMIFCHANNEL> m_Channel;
};

// One awaited reply. Shared between the waiter and the receive thread, so a reply that arrives
// after its waiter gave up lands in a record that is still alive.
struct PENDING_RESPONSE {
    PENDING_RESPONSE(uint16_t sequence, uint16_t command);
    ~PENDING_RESPONSE();
    PENDING_RESPONSE(const PENDING_RESPONSE &) = delete;
    PENDING_RESPONSE &operator=(const PENDING_RESPONSE &) = delete;

    // 0 with the reply, 41 when the abort event ended it or the record was failed, 34 otherwise.
    DWORD Wait(HANDLE abortEvent, DWORD timeoutMs);
    void Deliver(const uint8_t *packet, size_t received);
    void Fail();
    uint32_t Key() const { return SmifReplyKey(m_Sequence, m_ReplyCommand); }

    uint16_t m_Sequence;
    uint16_t m_ReplyCommand;
    uint8_t m_Reply[SMIF_MAX_PACKET] = {};
    std::atomic<DWORD> m_Status{41};
    HANDLE m_Event;
};

class PENDING_LIST {
public:
    void Add(const std::shared_ptr<PENDING_RESPONSE> &record);
    void Remove(const PENDING_RESPONSE *record);
    // The first record the packet answers, taken out of the list; null when none.
    std::shared_ptr<PENDING_RESPONSE> Match(const uint8_t *packet, size_t received);
    void FailAll();
    size_t Size();

private:
    // A slim lock: contended, it spins and parks without an event of its own, where std::mutex
    // of this toolchain would go through a kernel event and the wine server every time.
    SRWLOCK m_Lock = SRWLOCK_INIT;
    std::list<std::shared_ptr<PENDING_RESPONSE>> m_Records;
};

// Requests of the master waiting for the "AgentX" thread: PDU copies in arrival order.
class PDU_QUEUE {
public:
    PDU_QUEUE();
    ~PDU_QUEUE();
    PDU_QUEUE(const PDU_QUEUE &) = delete;
    PDU_QUEUE &operator=(const PDU_QUEUE &) = delete;

    // pdu holds at least its own length (checked by the router).
    void Push(const uint8_t *pdu, size_t length);
    // 0 with the oldest PDU copied into pdu (SMIF_MAX_PDU bytes), or 300.
    int Pop(uint8_t *pdu, HANDLE abortEvent, DWORD timeoutMs);
    void Flush();
    size_t Size();

private:
    bool TryTake(uint8_t *pdu);

    SRWLOCK m_Lock = SRWLOCK_INIT;
    std::deque<std::unique_ptr<uint8_t[]>> m_Blocks;
    HANDLE m_Event; // auto-reset; set after each push, outside the lock
};

class AXTRANSPORT_TLM : public AXTRANSPORT_SMIF {
public:
    // Throws std::runtime_error ("Can't create notification event", "Can't start receive thread").
    AXTRANSPORT_TLM();
    ~AXTRANSPORT_TLM() override;

    int Receive(uint8_t *pdu) override;
    void SetAbortEvent(HANDLE event) override { m_AbortEvent = event; }
    int AgentXPassthru(const uint8_t *request, uint8_t *reply) override;
    void OnBeforeOpen() override;
    void OnAfterOpen() override;
    void OnBeforeClose() override;

    // For the receive thread.
    void ReceiveLoop(CWorkerThread &worker);
    bool Routing() const { return m_Routing.load() != 0; }
    PENDING_LIST &Pending() { return m_Pending; }
    PDU_QUEUE &Queue() { return m_Queue; }

private:
    void StopWorker();

    std::atomic<HANDLE> m_AbortEvent{nullptr};
    std::atomic<int> m_Routing{0};
    CWorkerThread m_Worker;
    HANDLE m_WakeEvent = nullptr;
    PDU_QUEUE m_Queue;
    PENDING_LIST m_Pending;
};

// The receive thread's procedure.
unsigned __stdcall AgentXReceiveThread(void *record);

// A new AXTRANSPORT_TLM, or null when it cannot be built (logged).
AXTRANSPORT_TLM *CreateAgentXTransport();

// "ReceiveThreadDelayMS" under the service's Parameters key, as configured: 50 when absent. The
// thread's pause also ends on its stop event, so even a huge value never holds a stop.
DWORD ReadReceiveThreadDelayMs();
