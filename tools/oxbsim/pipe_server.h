#pragma once
// The pipe server: the simulated channel driver. It serves the control pipe, makes one channel per
// control connection (its data pipe, its busy counter, its driver state), answers the control
// exchange, reads the channel's packets, hands them to the responders and writes the replies as
// the fault injector shaped them.

#include "control_exchange.h"
#include "fault_injector.h"
#include "options.h"
#include "recorder.h"
#include "responder.h"
#include "script.h"
#include "unique_handle.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class Simulator {
public:
    Simulator(const SimOptions &options, const Script &script, Recorder &recorder);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Serves the control pipe; false with a reason when the pipe cannot be made (a simulator of
    // the same name is running, for one).
    bool Start(std::string *error);
    // Ends every channel and the listener.
    void Stop();
    HANDLE StopEvent() const { return m_Stop.Get(); }

    // Modules that answer packets, asked in the order added.
    void AddResponder(std::unique_ptr<Responder> responder);

    // For the channels.
    const std::wstring &ControlPath() const { return m_ControlPath; }
    Recorder &Record() { return m_Recorder; }
    ChannelPool &Pool() { return m_Pool; }
    const FaultInjector &Faults() const { return m_Faults; }
    uint32_t NextRequestOrdinal() { return ++m_Requests; }
    uint32_t NextOpenOrdinal() { return ++m_Opens; }
    void AnswerPacket(uint32_t channel, uint32_t ordinal, const Packet &request, std::vector<Packet> *replies);
    // Packets the processor sends on its own (requests of a master, hardware events). Posted from
    // another thread to a connected channel, they are written into its pipe at once (a hand-off
    // to the channel's thread would cost a wake-up per packet); otherwise they are queued for the
    // channel's thread. Dropped when the channel is gone.
    void Post(uint32_t channel, Packet packet);
    using Writer = std::function<void(const Packet &)>;
    // For the channels: the event that says their outbox holds packets, and taking them.
    HANDLE OpenOutbox(uint32_t channel);
    void CloseOutbox(uint32_t channel);
    std::vector<Packet> TakeOutbox(uint32_t channel);
    // Writes what was queued, then lets other threads write through writer (the channel's thread,
    // owner, still queues: its posts follow the replies it is writing).
    void ConnectOutbox(uint32_t channel, DWORD owner, Writer writer);
    // The far end vanishes: nothing is closed in order, as when the processor resets.
    [[noreturn]] void Vanish();

private:
    void Listen();
    UniqueHandle NewInstance(bool first);

    std::wstring m_ControlPath;
    Recorder &m_Recorder;
    ChannelPool m_Pool;
    FaultInjector m_Faults;
    std::vector<std::unique_ptr<Responder>> m_Responders;
    std::atomic<uint32_t> m_Requests{0};
    std::atomic<uint32_t> m_Opens{0};
    std::atomic<uint32_t> m_Channels{0};
    UniqueHandle m_Stop;
    UniqueHandle m_Listening; // the instance that waits for the next client
    std::thread m_Listener;
    std::mutex m_ThreadsLock;
    std::vector<std::thread> m_ChannelThreads;
    struct Outbox {
        UniqueHandle event;
        std::vector<Packet> packets;
        Writer writer;
        DWORD owner = 0;
    };
    std::mutex m_OutboxLock;
    std::map<uint32_t, Outbox> m_Outboxes;
};
