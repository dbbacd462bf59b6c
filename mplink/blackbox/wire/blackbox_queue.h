#pragma once
// The queued records and their bounded FIFO. Producers push; the one consumer peeks at the oldest
// record, uploads it without holding the lock, and removes it. The queue stops accepting when a
// push leaves 256 or more records and accepts again once a removal leaves fewer than 192, so a
// processor that cannot keep up costs a bounded amount of memory and the producers never wait.

#include "blackbox_wire.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

struct BLACKBOX_RECORD {
    uint32_t Code;
    uint32_t Static;
    uint32_t Length;
    uint8_t Payload[kBlackboxMaxPayload];
};
static_assert(sizeof(BLACKBOX_RECORD) == 988);
static_assert(offsetof(BLACKBOX_RECORD, Payload) == 12);

class BLACKBOX_QUEUE {
public:
    static constexpr size_t kStopAcceptingAt = 256;
    static constexpr size_t kAcceptAgainBelow = 192;

    bool Accepting() const { return m_Accepting.load() != 0; }
    void SetAccepting(bool accepting) { m_Accepting = accepting ? 1 : 0; }

    // False (and the record is freed) when the queue does not accept or cannot take it.
    bool Push(std::unique_ptr<BLACKBOX_RECORD> record);
    // The oldest record, still owned by the queue; null when empty. Only the consumer calls
    // Peek and RemoveOldest, so the record stays valid until it removes it.
    const BLACKBOX_RECORD *PeekOldest();
    void RemoveOldest();
    size_t Size();
    // Frees every record (after the consumer has ended).
    void Clear();

private:
    std::mutex m_Lock;
    std::deque<std::unique_ptr<BLACKBOX_RECORD>> m_Records;
    std::atomic<int> m_Accepting{0};
};
