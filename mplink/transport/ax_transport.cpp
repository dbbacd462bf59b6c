#include "ax_transport.h"

#include "channel_status.h"
#include "hop_trace.h"
#include "common_log.h"
#include "kdl_intake.h"
#include "registry.h"
#include "unique_handle.h"

#include <cstring>
#include <stdexcept>

std::atomic<KDL_EVENT_SINK> s_KdlEventSink{&ProcessKdlEvent};

namespace {

constexpr wchar_t kParametersKey[] = L"SYSTEM\\CurrentControlSet\\Services\\ndxtlm\\Parameters";
constexpr DWORD kDefaultReceiveDelayMs = 50;
constexpr int kBusyRetries = 10;
constexpr int kTransactionReads = 5;
constexpr int kDrainReads = 8;

uint16_t PacketU16(const uint8_t *packet, size_t offset) { return static_cast<uint16_t>(packet[offset] | packet[offset + 1] << 8); }

class SharedHold {
public:
    explicit SharedHold(RWLOCK &lock) : m_Lock(lock), m_Taken(lock.AcquireShared()) {}
    ~SharedHold()
    {
        if (m_Taken)
            m_Lock.slim.ReleaseShared();
    }
    SharedHold(const SharedHold &) = delete;
    SharedHold &operator=(const SharedHold &) = delete;

private:
    RWLOCK &m_Lock;
    bool m_Taken;
};

} // namespace

// ---- AXSMIFCHANNEL ------------------------------------------------------------------------------

AXSMIFCHANNEL::AXSMIFCHANNEL() { m_Lock.Init(); }

AXSMIFCHANNEL::~AXSMIFCHANNEL()
{
    Close();
    m_Lock.Term();
}

void AXSMIFCHANNEL::CloseLocked()
{
    ZDTCI_HANDLE handle = m_Handle.exchange(nullptr);
    if (handle != nullptr)
        ZdtCiClose(handle);
    m_Reset = 0;
}

void AXSMIFCHANNEL::Close()
{
    if (m_Handle.load() == nullptr)
        return;
    RWLOCK_EXCLUSIVE_HOLD hold(m_Lock);
    CloseLocked();
}

void AXSMIFCHANNEL::SetAbortEvent(HANDLE event)
{
    m_AbortEvent = event;
    ZDTCI_HANDLE handle = m_Handle.load();
    if (handle != nullptr)
        ZdtCiSetAbortEvent(handle, event);
}

DWORD AXSMIFCHANNEL::Handle(DWORD status)
{
    // The shared lock is released by now: closing needs it exclusively, and it is not re-entrant.
    if (status == kCiNoDriver)
        Close();
    else if (status == kCiBusy || status == 25 || status == 36 || status == kCiBroken)
        m_Reset = 1;
    return status;
}

DWORD AXSMIFCHANNEL::Open(bool force)
{
    if (IsUsable() && !force)
        return kCiSuccess;
    RWLOCK_EXCLUSIVE_HOLD hold(m_Lock);
    if (IsUsable() && !force)
        return kCiSuccess;
    ZDTCI_HANDLE handle = m_Handle.load();
    if (handle != nullptr) {
        if (ZdtCiStatus(handle) == kCiSuccess) {
            m_Reset = 0;
        } else {
            CloseLocked();
            Sleep(AxTransportTimeouts::SettleMs);
            handle = nullptr;
        }
    }
    if (handle == nullptr) {
        ZDTCI_HANDLE created = nullptr;
        DWORD status = ZdtCiCreate(&created, 2, SMIF_MAX_PACKET, 4, SMIF_MAX_PACKET, 0);
        if (status != kCiSuccess || created == nullptr)
            return status != kCiSuccess ? status : static_cast<DWORD>(kCiUnexpected);
        m_Handle = created;
        m_Reset = 0;
        if (HANDLE abort = m_AbortEvent.load())
            ZdtCiSetAbortEvent(created, abort);
    }
    // Whatever an earlier user of the channel left unread must not be taken for our replies.
    Sleep(AxTransportTimeouts::SettleMs);
    for (int i = 0; i < kDrainReads; ++i) {
        uint8_t scrap[8];
        DWORD status = 0;
        ZdtCiRecv(m_Handle.load(), scrap, sizeof(scrap), &status, nullptr);
        if (status != kCiSuccess)
            break;
    }
    uint8_t handshake[smiflayout::kHeaderSize];
    BuildSmifHandshake(handshake);
    uint8_t reply[100];
    DWORD status = TransactionLocked(handshake, reply, sizeof(reply), AxTransportTimeouts::HandshakeWaitMs);
    if (status != kCiSuccess)
        CloseLocked();
    return status;
}

DWORD AXSMIFCHANNEL::SendLocked(const uint8_t *packet)
{
    ZDTCI_HANDLE handle = m_Handle.load();
    if (handle == nullptr || m_Reset.load() != 0)
        return kCiBroken;
    DWORD length = PacketU16(packet, smiflayout::kTotalSize);
    DWORD status = 0;
    int sends = 0;
    for (;;) {
        ZdtCiSend(handle, packet, length, &status);
        ++sends;
        if (status != kCiBusy || sends > kBusyRetries)
            break;
        Sleep(AxTransportTimeouts::BusyRetryMs);
    }
    if (sends > kBusyRetries)
        LOG_ERROR(L"AXSMIFCHANNEL::Send", L"AXSMIFCHANNEL::ZdtCiSend retry 10 times (%d) ", static_cast<int>(status));
    if (status != kCiSuccess)
        LOG_ERROR(L"AXSMIFCHANNEL::Send", L"AXSMIFCHANNEL::Send: [%p] ZdtCiSend failed (%d)\n", handle,
                  static_cast<int>(status));
    return status;
}

DWORD AXSMIFCHANNEL::ReceiveLocked(uint8_t *buffer, DWORD size, DWORD waitMs, DWORD *bytes)
{
    ZDTCI_HANDLE handle = m_Handle.load();
    if (handle == nullptr || m_Reset.load() != 0)
        return kCiBroken;
    if (size < smiflayout::kHeaderSize)
        return kCiInvalidArgument;
    DWORD status = 0;
    DWORD wait = waitMs;
    DWORD received = ZdtCiRecv(handle, buffer, size, &status, waitMs == 0 ? nullptr : &wait);
    if (bytes != nullptr)
        *bytes = received;
    if (status != kCiSuccess)
        return status;
    if (received < smiflayout::kHeaderSize || received > size)
        return kCiUnexpected;
    uint16_t total = PacketU16(buffer, smiflayout::kTotalSize);
    if (total > size)
        return kCiTooLarge;
    if (received < total || PacketU16(buffer, smiflayout::kCommand) == SmifCommand_Refused)
        return kCiUnexpected;
    return kCiSuccess;
}

DWORD AXSMIFCHANNEL::TransactionLocked(const uint8_t *request, uint8_t *reply, DWORD replySize, DWORD waitMs)
{
    if (m_Handle.load() == nullptr || m_Reset.load() != 0)
        return kCiBroken;
    if (waitMs == 0)
        return kCiInvalidArgument;
    DWORD status = SendLocked(request);
    if (status != kCiSuccess)
        return status;
    uint16_t sequence = PacketU16(request, smiflayout::kSequence);
    for (int i = 0; i < kTransactionReads; ++i) {
        status = ReceiveLocked(reply, replySize, waitMs, nullptr);
        if (status != kCiSuccess)
            return status;
        if (PacketU16(reply, smiflayout::kSequence) == sequence)
            return kCiSuccess;
    }
    return kCiBroken;
}

DWORD AXSMIFCHANNEL::Send(const uint8_t *packet)
{
    DWORD status;
    {
        SharedHold hold(m_Lock);
        status = SendLocked(packet);
    }
    return Handle(status);
}

DWORD AXSMIFCHANNEL::Receive(uint8_t *buffer, DWORD size, DWORD waitMs, DWORD *bytes)
{
    DWORD status;
    {
        SharedHold hold(m_Lock);
        status = ReceiveLocked(buffer, size, waitMs, bytes);
    }
    return Handle(status);
}

DWORD AXSMIFCHANNEL::Transaction(const uint8_t *request, uint8_t *reply, DWORD replySize, DWORD waitMs)
{
    DWORD status;
    {
        SharedHold hold(m_Lock);
        status = TransactionLocked(request, reply, replySize, waitMs);
    }
    return Handle(status);
}

// ---- AXTRANSPORT_SMIF ---------------------------------------------------------------------------

AXTRANSPORT_SMIF::AXTRANSPORT_SMIF() : m_Channel(std::make_unique<AXSMIFCHANNEL>()) {}

AXTRANSPORT_SMIF::~AXTRANSPORT_SMIF() { CloseWithoutHooks(); }

void AXTRANSPORT_SMIF::CloseWithoutHooks()
{
    if (!m_Channel || m_Opened.load() == 0)
        return;
    // Virtual calls from a destructor reach this class's versions, as intended here.
    ClosePassthruSession();
    m_Channel->Close();
    m_Opened = 0;
}

int AXTRANSPORT_SMIF::OpenPassthruSession()
{
    if (!m_Channel)
        return AXResult_NotOpen;
    uint8_t request[smiflayout::kSessionRequestSize];
    BuildSmifSessionRequest(request, static_cast<uint16_t>(m_Sequence.fetch_add(1) & 0x7FFF), SmifPassthru_Open, 1);
    auto reply = std::make_unique<uint8_t[]>(SMIF_MAX_PACKET);
    int result = AgentXPassthru(request, reply.get());
    if (result != AXResult_Ok) {
        m_Reset = 1;
        return result;
    }
    ByteReader reader(reply.get(), SMIF_MAX_PACKET);
    uint32_t status = 1;
    reader.U32(smiflayout::kSessionReplyStatus, &status);
    if (status != 0) {
        m_Reset = 1;
        return AXResult_GenErr;
    }
    m_Passthru = 1;
    return AXResult_Ok;
}

void AXTRANSPORT_SMIF::ClosePassthruSession()
{
    if (m_Passthru.load() != 0 && m_Channel && m_Channel->IsUsable()) {
        uint8_t request[smiflayout::kSessionRequestSize];
        BuildSmifSessionRequest(request, static_cast<uint16_t>(m_Sequence.fetch_add(1) & 0x7FFF), SmifPassthru_Close,
                                0);
        auto reply = std::make_unique<uint8_t[]>(SMIF_MAX_PACKET);
        int result = AgentXPassthru(request, reply.get());
        uint32_t status = 1;
        ByteReader(reply.get(), SMIF_MAX_PACKET).U32(smiflayout::kSessionReplyStatus, &status);
        if (result != AXResult_Ok || status != 0)
            m_Reset = 1;
    }
    m_Passthru = 0;
}

int AXTRANSPORT_SMIF::OpenConnection()
{
    if (!m_Channel)
        return AXResult_NotOpen;
    ClosePassthruSession();
    if (m_Reset.load() != 0 || !m_Channel->IsUsable()) {
        m_Opened = 1;
        OnBeforeOpen();
        if (m_Channel->Open(m_Reset.load() != 0) != kCiSuccess)
            return AXResult_NotOpen;
        m_Reset = 0;
        OnAfterOpen();
    }
    return OpenPassthruSession();
}

int AXTRANSPORT_SMIF::RestartConnection() { return IsConnected() ? AXResult_Ok : OpenConnection(); }

int AXTRANSPORT_SMIF::CloseConnection()
{
    if (!m_Channel || m_Opened.load() == 0)
        return AXResult_Ok;
    ClosePassthruSession();
    OnBeforeClose();
    m_Channel->Close();
    OnAfterClose();
    m_Opened = 0;
    return AXResult_Ok;
}

bool AXTRANSPORT_SMIF::IsConnected()
{
    return m_Passthru.load() != 0 && m_Reset.load() == 0 && m_Channel && m_Channel->IsUsable();
}

void AXTRANSPORT_SMIF::SetAbortEvent(HANDLE event)
{
    if (m_Channel)
        m_Channel->SetAbortEvent(event);
}

int AXTRANSPORT_SMIF::AgentXPassthru(const uint8_t *request, uint8_t *reply)
{
    DWORD status = m_Channel->Transaction(request, reply, SMIF_MAX_PACKET, AxTransportTimeouts::PassthruWaitMs);
    if (status == kCiSuccess)
        return AXResult_Ok;
    return m_Channel->IsUsable() ? AXResult_NotOpen : AXResult_GenErr;
}

int AXTRANSPORT_SMIF::Transaction(const uint8_t *request, uint8_t *reply)
{
    if (!IsConnected()) {
        LOG_ERROR(L"AXTRANSPORT_SMIF::Transaction", L"AXTRANSPORT_SMIF::Transaction: No session");
        return AXResult_NotOpen;
    }
    if (request[smiflayout::kPduType] == 18) {
        LOG_ERROR(L"AXTRANSPORT_SMIF::Transaction", L"AXTRANSPORT_SMIF::Transaction: Wrong type");
        return AXResult_WrongType;
    }
    auto packet = std::make_unique<uint8_t[]>(SMIF_MAX_PACKET);
    auto replyPacket = std::make_unique<uint8_t[]>(SMIF_MAX_PACKET);
    if (BuildSmifPassthruPacket(request, SMIF_MAX_PDU, packet.get()) == 0)
        return AXResult_GenErr;
    int result = AgentXPassthru(packet.get(), replyPacket.get());
    uint32_t status = 0;
    ByteReader(replyPacket.get(), SMIF_MAX_PACKET).U32(smiflayout::kStatus, &status);
    if (result != AXResult_Ok) {
        LOG_WARNING(L"AXTRANSPORT_SMIF::Transaction", L"AXTRANSPORT_SMIF::Transaction:: AgentXPassthru  %d  %d ", result,
                    static_cast<int>(status));
        return result;
    }
    if (status != 0) {
        LOG_ERROR(L"AXTRANSPORT_SMIF::Transaction", L"AXTRANSPORT_SMIF::Transaction:: oXB error %d",
                  static_cast<int>(status));
        m_Reset = 1;
        return AXResult_GenErr;
    }
    SMIF_PASSTHRU_VIEW view;
    if (!ReadSmifPassthru(replyPacket.get(), SMIF_MAX_PACKET, &view))
        return AXResult_GenErr;
    std::memcpy(reply, view.pdu, view.pduLength);
    return AXResult_Ok;
}

int AXTRANSPORT_SMIF::Receive(uint8_t *pdu)
{
    if (!IsConnected())
        return AXResult_NotOpen;
    auto packet = std::make_unique<uint8_t[]>(SMIF_MAX_PACKET);
    DWORD received = 0;
    DWORD status = m_Channel->Receive(packet.get(), SMIF_MAX_PACKET, AxTransportTimeouts::DirectReceiveWaitMs, &received);
    if (status == kCiNoData || status == kCiTimedOut)
        return AXResult_Timeout;
    if (status != kCiSuccess)
        return m_Channel->IsUsable() ? AXResult_NotOpen : AXResult_GenErr;
    SMIF_PASSTHRU_VIEW view;
    if (!ReadSmifPassthru(packet.get(), received, &view))
        return AXResult_GenErr;
    if (view.header.command == SmifCommand_AgentXReply && view.status != 0) {
        m_Reset = 1;
        return AXResult_NotOpen;
    }
    std::memcpy(pdu, view.pdu, view.pduLength);
    return AXResult_Ok;
}

int AXTRANSPORT_SMIF::Send(const uint8_t *pdu)
{
    if (!IsConnected())
        return AXResult_NotOpen;
    auto packet = std::make_unique<uint8_t[]>(SMIF_MAX_PACKET);
    if (BuildSmifPassthruPacket(pdu, SMIF_MAX_PDU, packet.get()) == 0)
        return AXResult_GenErr;
    TLM_HOP("ax.send");
    if (m_Channel->Send(packet.get()) != kCiSuccess)
        return m_Channel->IsUsable() ? AXResult_NotOpen : AXResult_GenErr;
    TLM_HOP("ax.sent");
    return AXResult_Ok;
}

// ---- PENDING_RESPONSE, PENDING_LIST, PDU_QUEUE --------------------------------------------------

PENDING_RESPONSE::PENDING_RESPONSE(uint16_t sequence, uint16_t command)
    : m_Sequence(sequence), m_ReplyCommand(static_cast<uint16_t>(command | SmifCommand_Reply)),
      m_Event(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    if (m_Event == nullptr)
        throw std::runtime_error("Can't create notification event");
}

PENDING_RESPONSE::~PENDING_RESPONSE() { CloseHandle(m_Event); }

DWORD PENDING_RESPONSE::Wait(HANDLE abortEvent, DWORD timeoutMs)
{
    HANDLE waits[2] = {m_Event, abortEvent};
    DWORD wait = WaitForMultipleObjects(abortEvent != nullptr ? 2 : 1, waits, FALSE, timeoutMs);
    if (wait == WAIT_OBJECT_0)
        return m_Status.load();
    if (wait == WAIT_OBJECT_0 + 1)
        return kCiUnexpected;
    LOG_ERROR(L"PENDING_RESPONSE::Wait", L"AXTRANSPORT_TLM::PENDING_RESPONSE wait timeout %d", static_cast<int>(wait));
    return kCiTimedOut;
}

void PENDING_RESPONSE::Deliver(const uint8_t *packet, size_t received)
{
    size_t total = PacketU16(packet, smiflayout::kTotalSize);
    size_t count = total < received ? total : received;
    if (count > sizeof(m_Reply))
        count = sizeof(m_Reply);
    std::memcpy(m_Reply, packet, count);
    m_Status = kCiSuccess;
    SetEvent(m_Event);
}

void PENDING_RESPONSE::Fail()
{
    m_Status = kCiUnexpected;
    SetEvent(m_Event);
}

void PENDING_LIST::Add(const std::shared_ptr<PENDING_RESPONSE> &record)
{
    SrwExclusive hold(&m_Lock);
    m_Records.push_back(record);
}

void PENDING_LIST::Remove(const PENDING_RESPONSE *record)
{
    SrwExclusive hold(&m_Lock);
    m_Records.remove_if([record](const auto &r) { return r.get() == record; });
}

std::shared_ptr<PENDING_RESPONSE> PENDING_LIST::Match(const uint8_t *packet, size_t received)
{
    uint32_t key = 0;
    if (!ByteReader(packet, received).U32(smiflayout::kSequence, &key))
        return nullptr;
    SrwExclusive hold(&m_Lock);
    for (auto it = m_Records.begin(); it != m_Records.end(); ++it) {
        if ((*it)->Key() == key) {
            std::shared_ptr<PENDING_RESPONSE> found = *it;
            m_Records.erase(it);
            return found;
        }
    }
    return nullptr;
}

void PENDING_LIST::FailAll()
{
    SrwExclusive hold(&m_Lock);
    for (const auto &record : m_Records)
        record->Fail();
    m_Records.clear();
}

size_t PENDING_LIST::Size()
{
    SrwExclusive hold(&m_Lock);
    return m_Records.size();
}

PDU_QUEUE::PDU_QUEUE() : m_Event(CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
    if (m_Event == nullptr)
        throw std::runtime_error("Can't create notification event");
}

PDU_QUEUE::~PDU_QUEUE()
{
    Flush();
    CloseHandle(m_Event);
}

void PDU_QUEUE::Push(const uint8_t *pdu, size_t length)
{
    if (length > SMIF_MAX_PDU)
        return;
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[SMIF_MAX_PDU]);
    if (!block)
        return;
    std::memset(block.get(), 0, SMIF_MAX_PDU);
    std::memcpy(block.get(), pdu, length);
    {
        SrwExclusive hold(&m_Lock);
        m_Blocks.push_back(std::move(block));
    }
    // Set after the lock is released, so the woken thread does not find it still held.
    TLM_HOP("ax.push");
    SetEvent(m_Event);
}

bool PDU_QUEUE::TryTake(uint8_t *pdu)
{
    std::unique_ptr<uint8_t[]> block;
    {
        SrwExclusive hold(&m_Lock);
        if (m_Blocks.empty())
            return false;
        block = std::move(m_Blocks.front());
        m_Blocks.pop_front();
    }
    // Only whole PDUs were queued: their own length fits the block.
    size_t length = SmifPduLength(block.get(), SMIF_MAX_PDU);
    std::memcpy(pdu, block.get(), length);
    return true;
}

int PDU_QUEUE::Pop(uint8_t *pdu, HANDLE abortEvent, DWORD timeoutMs)
{
    // The queue is looked at before the event: one signal may stand for several pushes, and a
    // signal may be left over from a PDU taken without waiting; neither loses or delays a PDU.
    HANDLE waits[2] = {m_Event, abortEvent};
    ULONGLONG start = GetTickCount64();
    for (;;) {
        if (TryTake(pdu)) {
            TLM_HOP("ax.pop");
            return AXResult_Ok;
        }
        ULONGLONG elapsed = GetTickCount64() - start;
        DWORD remaining = timeoutMs == INFINITE ? INFINITE
                          : elapsed >= timeoutMs ? 0
                                                 : static_cast<DWORD>(timeoutMs - elapsed);
        if (WaitForMultipleObjects(abortEvent != nullptr ? 2 : 1, waits, FALSE, remaining) != WAIT_OBJECT_0)
            return AXResult_Timeout;
    }
}

void PDU_QUEUE::Flush()
{
    SrwExclusive hold(&m_Lock);
    m_Blocks.clear();
}

size_t PDU_QUEUE::Size()
{
    SrwExclusive hold(&m_Lock);
    return m_Blocks.size();
}

// ---- AXTRANSPORT_TLM ----------------------------------------------------------------------------

DWORD ReadReceiveThreadDelayMs()
{
    CRegistry key(HKEY_LOCAL_MACHINE, kParametersKey, KEY_READ);
    DWORD value = kDefaultReceiveDelayMs;
    if (!key.GetDword(L"ReceiveThreadDelayMS", &value))
        value = kDefaultReceiveDelayMs;
    return value;
}

unsigned __stdcall AgentXReceiveThread(void *record)
{
    auto &worker = *static_cast<CWorkerThread *>(record);
    static_cast<AXTRANSPORT_TLM *>(worker.m_Context)->ReceiveLoop(worker);
    return 0;
}

AXTRANSPORT_TLM::AXTRANSPORT_TLM()
{
    m_WakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (m_WakeEvent == nullptr)
        throw std::runtime_error("Can't create notification event");
    m_Worker.m_Name = L"AgentX-Transport";
    m_Worker.m_Procedure = &AgentXReceiveThread;
    m_Worker.m_Context = this;
    m_Routing = 1;
    if (!m_Worker.Start()) {
        m_Routing = 0;
        CloseHandle(m_WakeEvent);
        throw std::runtime_error("Can't start receive thread");
    }
}

AXTRANSPORT_TLM::~AXTRANSPORT_TLM()
{
    StopWorker();
    CloseHandle(m_WakeEvent);
    m_Pending.FailAll();
    m_Queue.Flush();
}

void AXTRANSPORT_TLM::StopWorker()
{
    m_Routing = 0;
    m_Worker.Stop();
}

void AXTRANSPORT_TLM::OnBeforeOpen()
{
    m_Queue.Flush();
    m_Pending.FailAll();
}

void AXTRANSPORT_TLM::OnAfterOpen() { SetEvent(m_WakeEvent); }

void AXTRANSPORT_TLM::OnBeforeClose()
{
    StopWorker();
    m_Queue.Flush();
    m_Pending.FailAll();
}

int AXTRANSPORT_TLM::Receive(uint8_t *pdu) { return m_Queue.Pop(pdu, m_AbortEvent.load(), AxTransportTimeouts::QueueWaitMs); }

void AXTRANSPORT_TLM::ReceiveLoop(CWorkerThread &worker)
{
    m_Routing = 1;
    m_Channel->SetAbortEvent(worker.m_StopEvent);
    auto packet = std::make_unique<uint8_t[]>(SMIF_MAX_PACKET);
    while (!worker.StopRequested()) {
        if (worker.Pause(ReadReceiveThreadDelayMs()))
            break;
        if (!m_Channel->IsUsable()) {
            HANDLE waits[2] = {m_WakeEvent, worker.m_StopEvent};
            WaitForMultipleObjects(2, waits, FALSE, AxTransportTimeouts::IdleWaitMs);
            continue;
        }
        DWORD received = 0;
        DWORD status = m_Channel->Receive(packet.get(), SMIF_MAX_PACKET, AxTransportTimeouts::ThreadReadWaitMs, &received);
        TLM_HOP("ax.received");
        if (worker.StopRequested())
            break;
        if (status != kCiSuccess)
            continue;
        switch (RouteSmifPacket(packet.get(), received)) {
        case SmifRoute::KdlEvent:
            if (KDL_EVENT_SINK sink = s_KdlEventSink.load())
                sink(packet.get(), received);
            continue;
        default:
            break;
        }
        if (std::shared_ptr<PENDING_RESPONSE> record = m_Pending.Match(packet.get(), received)) {
            record->Deliver(packet.get(), received);
            continue;
        }
        if (RouteSmifPacket(packet.get(), received) == SmifRoute::Request) {
            SMIF_PASSTHRU_VIEW view;
            if (ReadSmifPassthru(packet.get(), received, &view))
                m_Queue.Push(view.pdu, view.pduLength);
        }
    }
    m_Channel->SetAbortEvent(nullptr);
    m_Routing = 0;
}

int AXTRANSPORT_TLM::AgentXPassthru(const uint8_t *request, uint8_t *reply)
{
    if (m_Routing.load() == 0)
        return AXTRANSPORT_SMIF::AgentXPassthru(request, reply);
    if (!m_Channel->IsUsable()) {
        LOG_ERROR(L"AXTRANSPORT_TLM::AgentXPassthru", L"AXTRANSPORT_TLM::AgentXPassthru: Channel is not ready");
        return AXResult_GenErr;
    }
    std::shared_ptr<PENDING_RESPONSE> record;
    try {
        record = std::make_shared<PENDING_RESPONSE>(PacketU16(request, smiflayout::kSequence),
                                                    PacketU16(request, smiflayout::kCommand));
        m_Pending.Add(record);
    } catch (...) {
        LOG_ERROR(L"AXTRANSPORT_TLM::AgentXPassthru", L"AXTRANSPORT_TLM::AgentXPassthru: Can't register pending response");
        return AXResult_GenErr;
    }
    DWORD status = m_Channel->Send(request);
    if (status != kCiSuccess) {
        LOG_WARNING(L"AXTRANSPORT_TLM::AgentXPassthru", L"AXTRANSPORT_TLM::AgentXPassthru: m_pChannel send CiStatus: %d",
                    static_cast<int>(status));
    } else {
        status = record->Wait(m_AbortEvent.load(), AxTransportTimeouts::PassthruWaitMs);
        if (status != kCiSuccess)
            LOG_WARNING(L"AXTRANSPORT_TLM::AgentXPassthru",
                        L"AXTRANSPORT_TLM::AgentXPassthru: pPendingResponse Wait CiStatus: %d", static_cast<int>(status));
    }
    if (status != kCiSuccess)
        m_Pending.Remove(record.get());
    if (status == kCiSuccess) {
        std::memcpy(reply, record->m_Reply, SMIF_MAX_PACKET);
        return AXResult_Ok;
    }
    if (status == kCiTimedOut || status == kCiNoData) {
        LOG_WARNING(L"AXTRANSPORT_TLM::AgentXPassthru", L"AXTRANSPORT_TLM::AgentXPassthru: first CiStatus: %d",
                    static_cast<int>(status));
        return m_Channel->IsUsable() ? AXResult_Timeout : AXResult_GenErr;
    }
    LOG_WARNING(L"AXTRANSPORT_TLM::AgentXPassthru", L"AXTRANSPORT_TLM::AgentXPassthru: Second CiStatus: %d",
                static_cast<int>(status));
    return m_Channel->IsUsable() ? AXResult_NotOpen : AXResult_GenErr;
}

AXTRANSPORT_TLM *CreateAgentXTransport()
{
    try {
        return new AXTRANSPORT_TLM();
    } catch (const std::exception &e) {
        LOG_ERROR(L"CreateAgentXTransport", L"%hs", e.what());
        return nullptr;
    }
}
