#pragma once
// The lock-free rings of the legacy channel driver, as this side sees them.
//
// A ring lives in memory shared with the driver. R, the address the driver reports, is its slot
// array; the 384-byte header lies just before it. Every shared word changes only by a 64-bit
// compare-and-swap after a consistent re-read, so several senders may use one ring at once.
//
// Slot (u64): bits 0-9 length in 8-byte units, 10-21 buffer number, 22 ready, 23 occupied,
// 24-63 generation. An entry is the low 22 bits.

#include <cstddef>
#include <cstdint>

namespace legacyring {

constexpr size_t kHeaderSize = 0x180;
constexpr size_t kMaskOffset = 0x178;     // u32 number of slots - 1, at R - 0x178
constexpr size_t kPutFlagsOffset = 0x170; // u32, ORed into every entry this side puts
constexpr size_t kResetOffset = 0x168;    // u32, non-zero while the driver resets the ring
constexpr size_t kGetIndexOffset = 0x100; // u64
constexpr size_t kPutIndexOffset = 0x080; // u64

constexpr uint64_t kEntryMask = 0x3FFFFF;
constexpr uint64_t kReady = 0x400000;
constexpr uint64_t kOccupied = 0x800000;
constexpr uint64_t kLowBits = 0xFFFFFF;

// The buffer number is 12 bits wide: a ring of more slots than that could not name its buffers.
constexpr uint32_t kMaxSlots = 4096;

// Releasing a slot clears its low 24 bits and counts its generation up by one.
constexpr uint64_t Released(uint64_t slot) { return (slot | kLowBits) + 1; }

// The length field counts at most 1023 units of 8 bytes; a longer length is stated as that.
constexpr uint32_t MakeEntry(uint32_t buffer, uint32_t lengthBytes)
{
    uint32_t units = lengthBytes / 8 + (lengthBytes % 8 != 0);
    return ((buffer & 0xFFF) << 10) | (units < 0x3FF ? units : 0x3FF);
}
constexpr uint32_t EntryBuffer(uint32_t entry) { return (entry >> 10) & 0xFFF; }
constexpr uint32_t EntryLength(uint32_t entry) { return (entry & 0x3FF) * 8; }

// One ring as this side uses it. The index mask is read once, when the ring is attached, so a
// header word the driver changes later can never move the slot addressing outside the array.
struct Ring {
    uint8_t *slots = nullptr; // R
    uint32_t mask = 0;
};

// False when the ring address is null or misaligned, or its mask is not a power of two minus one
// of at most kMaxSlots slots.
bool Attach(uint8_t *slots, Ring *ring);

bool Resetting(const Ring &ring);

// Takes the entry at the get index when its slot is ready; false when the ring is empty.
bool Get(const Ring &ring, uint32_t *entry);

// Stores an entry at the put index, ORed with the header's put flags and no other bit; false when the ring is full (the
// slot after the put position is still occupied, though the one at it may be free, or every slot
// is occupied).
bool Put(const Ring &ring, uint32_t entry);
bool PutWithFlags(const Ring &ring, uint32_t entry, uint64_t flags);

// Addresses of the shared words, for the code that plays the other side in tests.
uint64_t *SlotAt(const Ring &ring, uint64_t index);
uint64_t *GetIndex(const Ring &ring);
uint64_t *PutIndex(const Ring &ring);
uint32_t *HeaderWord(const Ring &ring, size_t offsetBeforeSlots);

} // namespace legacyring
