#include "legacy_ring.h"

#include <atomic>

namespace legacyring {
namespace {

// A ring that keeps changing under our feet (a driver gone wrong) must not hold a caller forever:
// after this many restarts the operation gives up as if the ring were empty or full.
constexpr int kMaxRestarts = 1 << 20;

uint64_t Load(uint64_t *word) { return std::atomic_ref<uint64_t>(*word).load(); }

bool Cas(uint64_t *word, uint64_t expected, uint64_t desired)
{
    return std::atomic_ref<uint64_t>(*word).compare_exchange_strong(expected, desired);
}

} // namespace

uint64_t *SlotAt(const Ring &ring, uint64_t index)
{
    return reinterpret_cast<uint64_t *>(ring.slots + 8 * (index & ring.mask));
}

uint64_t *GetIndex(const Ring &ring) { return reinterpret_cast<uint64_t *>(ring.slots - kGetIndexOffset); }
uint64_t *PutIndex(const Ring &ring) { return reinterpret_cast<uint64_t *>(ring.slots - kPutIndexOffset); }

uint32_t *HeaderWord(const Ring &ring, size_t offsetBeforeSlots)
{
    return reinterpret_cast<uint32_t *>(ring.slots - offsetBeforeSlots);
}

bool Attach(uint8_t *slots, Ring *ring)
{
    if (slots == nullptr || reinterpret_cast<uintptr_t>(slots) % 8 != 0)
        return false;
    Ring candidate{slots, 0};
    uint32_t mask = std::atomic_ref<uint32_t>(*HeaderWord(candidate, kMaskOffset)).load();
    if (mask >= kMaxSlots || (mask & (mask + 1)) != 0)
        return false;
    candidate.mask = mask;
    *ring = candidate;
    return true;
}

bool Resetting(const Ring &ring)
{
    return std::atomic_ref<uint32_t>(*HeaderWord(ring, kResetOffset)).load() != 0;
}

bool Get(const Ring &ring, uint32_t *entry)
{
    uint64_t *getIndex = GetIndex(ring);
    uint64_t *putIndex = PutIndex(ring);
    for (int restart = 0; restart < kMaxRestarts; ++restart) {
        uint64_t h = Load(getIndex);
        uint64_t t = Load(putIndex);
        uint64_t *beforeSlot = SlotAt(ring, h - 1);
        uint64_t *slot = SlotAt(ring, h);
        uint64_t before = Load(beforeSlot);
        uint64_t current = Load(slot);
        if (Load(getIndex) != h || Load(putIndex) != t || Load(beforeSlot) != before || Load(slot) != current)
            continue;

        // A reader that advanced past the slot before has not released it yet: help it.
        if (before & kOccupied)
            Cas(beforeSlot, before, Released(before));
        if (!(current & kReady))
            return false;
        if (h == t) {
            // A writer filled the slot but has not advanced the put index yet: help it.
            Cas(putIndex, t, t + 1);
            continue;
        }
        if (!Cas(getIndex, h, h + 1))
            continue;
        Cas(slot, current, Released(current));
        *entry = static_cast<uint32_t>(current & kEntryMask);
        return true;
    }
    return false;
}

bool PutWithFlags(const Ring &ring, uint32_t entry, uint64_t flags)
{
    uint64_t *putIndex = PutIndex(ring);
    uint64_t skipped = 0;
    for (int restart = 0; restart < kMaxRestarts; ++restart) {
        uint64_t c = Load(putIndex);
        uint64_t *slot = SlotAt(ring, c);
        uint64_t *nextSlot = SlotAt(ring, c + 1);
        uint64_t current = Load(slot);
        uint64_t next = Load(nextSlot);
        if (Load(putIndex) != c || Load(slot) != current || Load(nextSlot) != next)
            continue;

        if (current & kOccupied) {
            // Having passed every slot and found each one taken, the ring is full: going round
            // again would only hold the caller.
            if (++skipped > ring.mask)
                return false;
            Cas(putIndex, c, c + 1);
            continue;
        }
        // One slot always stays free, so that a full ring cannot look empty.
        if (next & kOccupied)
            return false;
        // The word is the entry with the flags the driver asked for and nothing else: which bits mark
        // the slot taken for the driver's side is the driver's choice, stated in the ring header.
        if (!Cas(slot, current, current | (entry & kEntryMask) | flags))
            continue;
        Cas(putIndex, c, c + 1);
        return true;
    }
    return false;
}

bool Put(const Ring &ring, uint32_t entry)
{
    uint32_t flags = std::atomic_ref<uint32_t>(*HeaderWord(ring, kPutFlagsOffset)).load();
    return PutWithFlags(ring, entry, flags);
}

} // namespace legacyring
