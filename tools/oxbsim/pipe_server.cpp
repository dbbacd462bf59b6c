#include "pipe_server.h"

#include "busy_counter.h"
#include "chan_packet.h"
#include "hop_trace.h"
#include "record_format.h"

namespace {

constexpr DWORD kPipeBufferBytes = 65536;
constexpr DWORD kWriteWaitMs = 10000;

// One channel: a control connection, and the data pipe made when it attaches.
class SimChannel {
public:
    SimChannel(Simulator &sim, UniqueHandle control, uint32_t number)
        : m_Sim(sim), m_Number(number), m_Control(std::move(control)),
          m_ControlEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_DataEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_WriteEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_ControlBuffer(pipeproto::kMaxMessage),
          m_DataBuffer(kPipeBufferBytes)
    {
    }

    void Run();

private:
    bool StartRead(HANDLE pipe, HANDLE event, OVERLAPPED *overlapped, std::vector<uint8_t> &buffer);
    bool Write(HANDLE pipe, const void *data, size_t size);
    void Push(const Packet &packet);
    void OnControl(DWORD size);
    void OnPacket(DWORD size);
    DWORD Attach();
    void ApplyOpenFaults();
    void Close(const char *by);

    Simulator &m_Sim;
    uint32_t m_Number;
    UniqueHandle m_Control;
    UniqueHandle m_Data;
    BusyCounter m_Busy;
    UniqueHandle m_ControlEvent;
    UniqueHandle m_DataEvent;
    // Writes come from this channel's thread and from the bridge's: one at a time, one event.
    SRWLOCK m_WriteLock = SRWLOCK_INIT;
    UniqueHandle m_WriteEvent;
    OVERLAPPED m_ControlOverlapped{};
    OVERLAPPED m_DataOverlapped{};
    bool m_DataConnecting = false;
    std::vector<uint8_t> m_ControlBuffer;
    std::vector<uint8_t> m_DataBuffer;
    ChannelDriverState m_State;
    bool m_Closed = false;
};

bool SimChannel::StartRead(HANDLE pipe, HANDLE event, OVERLAPPED *overlapped, std::vector<uint8_t> &buffer)
{
    // ReadFile resets the event itself.
    *overlapped = OVERLAPPED{};
    overlapped->hEvent = event;
    if (ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, overlapped))
        return true;
    DWORD error = GetLastError();
    return error == ERROR_IO_PENDING || error == ERROR_MORE_DATA;
}

bool SimChannel::Write(HANDLE pipe, const void *data, size_t size)
{
    SrwExclusive hold(&m_WriteLock);
    // WriteFile resets the event itself.
    OVERLAPPED overlapped{};
    overlapped.hEvent = m_WriteEvent.Get();
    if (!WriteFile(pipe, data, static_cast<DWORD>(size), nullptr, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING)
            return false;
        HANDLE waits[2] = {m_WriteEvent.Get(), m_Sim.StopEvent()};
        if (WaitForMultipleObjects(2, waits, FALSE, kWriteWaitMs) != WAIT_OBJECT_0)
            CancelIoEx(pipe, &overlapped);
    }
    DWORD written = 0;
    bool ok = GetOverlappedResult(pipe, &overlapped, &written, TRUE) && written == size;
    TLM_HOP("sim.written");
    return ok;
}

void SimChannel::Push(const Packet &packet)
{
    ChanPacketFields sent;
    ReadChanPacketFields(packet.data(), packet.size(), &sent);
    bool written = Write(m_Data.Get(), packet.data(), packet.size());
    m_Sim.Record().Line("push ch=%u len=%u seq=%u cmd=0x%04X written=%d", m_Number, static_cast<unsigned>(packet.size()),
                        sent.sequence, sent.command, written ? 1 : 0);
}

void SimChannel::Close(const char *by)
{
    if (m_Closed)
        return;
    m_Closed = true;
    // Closing (not disconnecting) is what the client sees as a broken pipe.
    CancelIoEx(m_Control.Get(), nullptr);
    if (m_Data)
        CancelIoEx(m_Data.Get(), nullptr);
    // Waits for a write of another thread in the pipe and keeps further ones out of it.
    m_Sim.CloseOutbox(m_Number);
    m_Control.Reset();
    m_Data.Reset();
    if (m_State.opened)
        m_Sim.Pool().Give();
    m_State.opened = false;
    m_Sim.Record().Line("closed ch=%u by=%s", m_Number, by);
}

DWORD SimChannel::Attach()
{
    if (m_Data)
        return 1; // ERROR_INVALID_FUNCTION: attached already
    std::wstring path = pipeproto::DataPipePath(m_Sim.ControlPath(), m_Number);
    m_Data.Reset(CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                  PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, kPipeBufferBytes,
                                  kPipeBufferBytes, 0, nullptr));
    if (!m_Data)
        return GetLastError();
    m_Busy.Create(pipeproto::BusyCounterName(m_Sim.ControlPath(), m_Number));
    m_DataOverlapped = OVERLAPPED{};
    m_DataOverlapped.hEvent = m_DataEvent.Get();
    m_DataConnecting = true;
    if (!ConnectNamedPipe(m_Data.Get(), &m_DataOverlapped)) {
        DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED)
            SetEvent(m_DataEvent.Get());
        else if (error != ERROR_IO_PENDING)
            return error;
    }
    return ERROR_SUCCESS;
}

void SimChannel::ApplyOpenFaults()
{
    uint32_t ordinal = m_Sim.NextOpenOrdinal();
    m_Sim.Record().Line("open ch=%u n=%u priority=%u send=%ux%u receive=%ux%u", m_Number, ordinal, m_State.priority,
                        m_State.buffers[0], m_State.buffers[1], m_State.buffers[2], m_State.buffers[3]);
    FaultOutcome outcome = FaultInjector::ApplyToOpen(m_Sim.Faults().ForOpen(ordinal));
    if (outcome.exit)
        m_Sim.Vanish();
    // Packets the client has not asked for are in its pipe before it learns the channel is open.
    for (const Packet &packet : FaultInjector::StalePackets(outcome.stalePackets))
        Write(m_Data.Get(), packet.data(), packet.size());
    if (outcome.stalePackets != 0)
        m_Sim.Record().Line("stale ch=%u count=%u", m_Number, outcome.stalePackets);
    if (outcome.busy != 0)
        m_Busy.Add(static_cast<LONG>(outcome.busy));
    if (outcome.unhealthy)
        m_State.healthy = false;
}

void SimChannel::OnControl(DWORD size)
{
    pipeproto::ControlMessage request;
    if (!pipeproto::DecodeRequest(m_ControlBuffer.data(), size, &request)) {
        m_Sim.Record().Line("control ch=%u malformed len=%lu", m_Number, size);
        Close("sim");
        return;
    }
    pipeproto::ControlMessage reply;
    reply.id = request.id;
    if (request.value == pipeproto::kAttachCode) {
        reply.value = Attach();
        if (reply.value == ERROR_SUCCESS) {
            reply.payloadSize = 4;
            PutU32(reply.payload, m_Number);
        }
        m_Sim.Record().Line("attach ch=%u result=%u", m_Number, reply.value);
    } else {
        ControlAnswer answer = AnswerDeviceControl(&m_State, &m_Sim.Pool(), request);
        reply.value = answer.error;
        m_Sim.Record().Line("control ch=%u code=%u result=%u", m_Number, request.value, reply.value);
        if (answer.opened)
            ApplyOpenFaults();
    }
    uint8_t message[pipeproto::kMaxMessage];
    size_t length = pipeproto::EncodeReply(reply, message, sizeof(message));
    Write(m_Control.Get(), message, length);
}

void SimChannel::OnPacket(DWORD size)
{
    TLM_HOP("sim.read");
    Packet request(m_DataBuffer.begin(), m_DataBuffer.begin() + size);
    uint32_t ordinal = m_Sim.NextRequestOrdinal();
    ChanPacketFields fields;
    ReadChanPacketFields(request.data(), request.size(), &fields);
    m_Sim.Record().Line("packet ch=%u n=%u len=%lu size=%u seq=%u cmd=0x%04X svc=0x%04X digest=0x%08X", m_Number,
                        ordinal, size, fields.totalSize, fields.sequence, fields.command, fields.service,
                        PacketDigest(request.data(), request.size()));

    std::vector<Packet> replies;
    m_Sim.AnswerPacket(m_Number, ordinal, request, &replies);
    FaultOutcome outcome = FaultInjector::ApplyToReplies(m_Sim.Faults().ForRequest(ordinal), fields.sequence, &replies);
    if (outcome.exit)
        m_Sim.Vanish();
    if (outcome.close) {
        Close("sim");
        return;
    }
    // What the fault does to the channel holds before the client can act on the reply.
    if (outcome.busy != 0)
        m_Busy.Add(static_cast<LONG>(outcome.busy));
    if (outcome.unhealthy)
        m_State.healthy = false;
    for (const Packet &reply : replies) {
        ChanPacketFields sent;
        ReadChanPacketFields(reply.data(), reply.size(), &sent);
        bool written = Write(m_Data.Get(), reply.data(), reply.size());
        m_Sim.Record().Line("reply ch=%u n=%u len=%u size=%u seq=%u cmd=0x%04X written=%d", m_Number, ordinal,
                            static_cast<unsigned>(reply.size()), sent.totalSize, sent.sequence, sent.command, written ? 1 : 0);
    }
}

void SimChannel::Run()
{
    m_Sim.Record().Line("connect ch=%u", m_Number);
    if (!StartRead(m_Control.Get(), m_ControlEvent.Get(), &m_ControlOverlapped, m_ControlBuffer)) {
        Close("client");
        return;
    }
    HANDLE outbox = m_Sim.OpenOutbox(m_Number);
    while (!m_Closed) {
        HANDLE waits[4] = {m_Sim.StopEvent(), m_ControlEvent.Get(), outbox, m_DataEvent.Get()};
        DWORD wait = WaitForMultipleObjects(m_Data ? 4 : 3, waits, FALSE, INFINITE);
        if (wait == WAIT_OBJECT_0 + 2) {
            // Written only once the client is connected to the data pipe; until then they wait.
            if (m_Data && !m_DataConnecting) {
                for (const Packet &packet : m_Sim.TakeOutbox(m_Number))
                    Push(packet);
            }
        } else if (wait == WAIT_OBJECT_0 + 1) {
            DWORD size = 0;
            if (!GetOverlappedResult(m_Control.Get(), &m_ControlOverlapped, &size, FALSE)) {
                Close(GetLastError() == ERROR_MORE_DATA ? "sim" : "client");
                break;
            }
            OnControl(size);
            if (!m_Closed && !StartRead(m_Control.Get(), m_ControlEvent.Get(), &m_ControlOverlapped, m_ControlBuffer))
                Close("client");
        } else if (wait == WAIT_OBJECT_0 + 3) {
            DWORD size = 0;
            BOOL done = GetOverlappedResult(m_Data.Get(), &m_DataOverlapped, &size, FALSE);
            DWORD error = done ? ERROR_SUCCESS : GetLastError();
            if (m_DataConnecting) {
                m_DataConnecting = false;
                if (error != ERROR_SUCCESS && error != ERROR_PIPE_CONNECTED) {
                    Close("client");
                    break;
                }
                // What was posted before the client connected goes first.
                m_Sim.ConnectOutbox(m_Number, GetCurrentThreadId(), [this](const Packet &packet) { Push(packet); });
            } else if (error == ERROR_SUCCESS) {
                OnPacket(size);
            } else if (error == ERROR_MORE_DATA) {
                m_Sim.Record().Line("packet ch=%u oversized", m_Number);
            } else {
                Close("client");
                break;
            }
            if (!m_Closed && !StartRead(m_Data.Get(), m_DataEvent.Get(), &m_DataOverlapped, m_DataBuffer))
                Close("client");
        } else {
            break;
        }
    }
    Close("stop");
}

} // namespace

Simulator::Simulator(const SimOptions &options, const Script &script, Recorder &recorder)
    : m_ControlPath(pipeproto::ControlPipePath(options.name)), m_Recorder(recorder), m_Pool(script.channels),
      m_Faults(script), m_Stop(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

Simulator::~Simulator()
{
    Stop();
}

void Simulator::AddResponder(std::unique_ptr<Responder> responder)
{
    m_Responders.push_back(std::move(responder));
}

UniqueHandle Simulator::NewInstance(bool first)
{
    DWORD mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    return UniqueHandle(CreateNamedPipeW(m_ControlPath.c_str(), mode,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                         PIPE_UNLIMITED_INSTANCES, kPipeBufferBytes, kPipeBufferBytes, 0, nullptr));
}

bool Simulator::Start(std::string *error)
{
    if (!m_Stop) {
        *error = "cannot create the stop event";
        return false;
    }
    m_Listening = NewInstance(true);
    if (!m_Listening) {
        *error = "cannot serve the control pipe (error " + std::to_string(GetLastError()) +
                 "); is another simulator of this name running?";
        return false;
    }
    m_Listener = std::thread([this] { Listen(); });
    return true;
}

void Simulator::Listen()
{
    UniqueHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    while (m_Listening) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = connected.Get();
        ResetEvent(connected.Get());
        BOOL done = ConnectNamedPipe(m_Listening.Get(), &overlapped);
        DWORD error = done ? ERROR_SUCCESS : GetLastError();
        if (error == ERROR_IO_PENDING) {
            HANDLE waits[2] = {m_Stop.Get(), connected.Get()};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
                CancelIoEx(m_Listening.Get(), &overlapped);
                DWORD ignored = 0;
                GetOverlappedResult(m_Listening.Get(), &overlapped, &ignored, TRUE);
                return;
            }
            DWORD ignored = 0;
            error = GetOverlappedResult(m_Listening.Get(), &overlapped, &ignored, FALSE) ? ERROR_SUCCESS
                                                                                         : GetLastError();
        }
        if (error != ERROR_SUCCESS && error != ERROR_PIPE_CONNECTED)
            continue;
        // The next instance exists before this one is handed over, so the pipe never disappears.
        UniqueHandle next = NewInstance(false);
        UniqueHandle client = std::move(m_Listening);
        m_Listening = std::move(next);
        uint32_t number = ++m_Channels;
        std::lock_guard<std::mutex> lock(m_ThreadsLock);
        m_ChannelThreads.emplace_back([this, number, pipe = client.Release()]() mutable {
            SimChannel channel(*this, UniqueHandle(pipe), number);
            channel.Run();
        });
    }
}

void Simulator::AnswerPacket(uint32_t channel, uint32_t ordinal, const Packet &request, std::vector<Packet> *replies)
{
    for (const auto &responder : m_Responders)
        if (responder->Answer(channel, ordinal, request, replies))
            return;
}

void Simulator::Post(uint32_t channel, Packet packet)
{
    HANDLE event = nullptr;
    {
        std::lock_guard<std::mutex> hold(m_OutboxLock);
        auto it = m_Outboxes.find(channel);
        if (it == m_Outboxes.end())
            return;
        Outbox &outbox = it->second;
        if (outbox.writer && outbox.packets.empty() && outbox.owner != GetCurrentThreadId()) {
            // Under the lock: the channel's close waits for the write to leave its pipe.
            outbox.writer(packet);
            return;
        }
        outbox.packets.push_back(std::move(packet));
        event = outbox.event.Get();
    }
    // Outside the lock: the woken channel thread takes it at once. Outbox events live as long
    // as the simulator.
    SetEvent(event);
}

HANDLE Simulator::OpenOutbox(uint32_t channel)
{
    std::lock_guard<std::mutex> hold(m_OutboxLock);
    Outbox &outbox = m_Outboxes[channel];
    if (!outbox.event)
        outbox.event.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    return outbox.event.Get();
}

void Simulator::CloseOutbox(uint32_t channel)
{
    std::lock_guard<std::mutex> hold(m_OutboxLock);
    auto it = m_Outboxes.find(channel);
    if (it != m_Outboxes.end()) {
        it->second.packets.clear();
        it->second.writer = nullptr;
        it->second.owner = 0;
    }
}

void Simulator::ConnectOutbox(uint32_t channel, DWORD owner, Writer writer)
{
    std::lock_guard<std::mutex> hold(m_OutboxLock);
    Outbox &outbox = m_Outboxes[channel];
    for (const Packet &packet : outbox.packets)
        writer(packet);
    outbox.packets.clear();
    outbox.writer = std::move(writer);
    outbox.owner = owner;
}

std::vector<Packet> Simulator::TakeOutbox(uint32_t channel)
{
    std::lock_guard<std::mutex> hold(m_OutboxLock);
    std::vector<Packet> packets;
    auto it = m_Outboxes.find(channel);
    if (it != m_Outboxes.end())
        packets.swap(it->second.packets);
    return packets;
}

void Simulator::Vanish()
{
    m_Recorder.Line("exit");
    TerminateProcess(GetCurrentProcess(), 3);
    ExitProcess(3);
}

void Simulator::Stop()
{
    if (!m_Stop)
        return;
    SetEvent(m_Stop.Get());
    if (m_Listener.joinable())
        m_Listener.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_ThreadsLock);
        threads.swap(m_ChannelThreads);
    }
    for (std::thread &thread : threads)
        thread.join();
    m_Listening.Reset();
}
