#include "legacy_ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using namespace legacyring;

// Ring memory as the driver lays it out: the header, then the slots.
class RingMemory {
public:
    // A ring whose puts are both taken and ready: this side's entries come back out of it.
    explicit RingMemory(uint32_t slots, uint32_t putFlags = kReady | kOccupied)
        : m_Words((kHeaderSize + 8 * slots) / 8, 0)
    {
        m_Slots = reinterpret_cast<uint8_t *>(m_Words.data()) + kHeaderSize;
        *Word(kMaskOffset) = slots - 1;
        *Word(kPutFlagsOffset) = putFlags;
    }
    uint8_t *Slots() { return m_Slots; }
    uint32_t *Word(size_t offset) { return reinterpret_cast<uint32_t *>(m_Slots - offset); }
    Ring Attached()
    {
        Ring ring;
        EXPECT_TRUE(Attach(m_Slots, &ring));
        return ring;
    }

private:
    std::vector<uint64_t> m_Words;
    uint8_t *m_Slots;
};

// The layout the legacy driver shares, in its own numbers and not in this side's constants, so
// that a constant gone wrong cannot agree with itself: the 384-byte header before the slot array
// R holds the index mask at R - 0x178, the put flags at R - 0x170, the reset flag at R - 0x168, the
// get index at R - 0x100 and the put index at R - 0x80; slot i lies at R + 8 * i. A slot word holds
// the length in 8-byte units in bits 0-9, the buffer number in bits 10-21, ready (0x400000),
// occupied (0x800000) and the generation from bit 24.
class DriverRingBytes {
public:
    explicit DriverRingBytes(uint32_t slots, uint32_t putFlags) : m_Words((0x180 + 8 * slots) / 8, 0)
    {
        R = reinterpret_cast<uint8_t *>(m_Words.data()) + 0x180;
        Set32(-0x178, slots - 1);
        Set32(-0x170, putFlags);
    }
    void Set32(ptrdiff_t at, uint32_t value) { std::memcpy(R + at, &value, 4); }
    void Set64(ptrdiff_t at, uint64_t value) { std::memcpy(R + at, &value, 8); }
    uint64_t Get64(ptrdiff_t at) const
    {
        uint64_t value;
        std::memcpy(&value, R + at, 8);
        return value;
    }
    uint8_t *R;

private:
    std::vector<uint64_t> m_Words;
};

TEST(LegacyRing, EntryWordsAreTheDriversLayout)
{
    struct Case {
        uint32_t buffer, length, word;
    };
    const Case cases[] = {
        {0, 8, 0x000001},
        {1, 8, 0x000401},
        {9, 4096, 0x002600},
        {1, 9, 0x000402},          // a part unit counts as a whole one
        {4095, 8184, 0x3FFFFF},    // the widest buffer number and length
        {3, 100000, 0x000FFF},     // a length past 1023 units is stated as 1023
        {4096 + 2, 16, 0x000802},  // only twelve bits of buffer number
    };
    for (const Case &c : cases) {
        EXPECT_EQ(MakeEntry(c.buffer, c.length), c.word) << c.buffer << "/" << c.length;
        EXPECT_EQ(EntryBuffer(c.word), c.buffer & 0xFFF) << std::hex << c.word;
    }
    EXPECT_EQ(EntryLength(0x002600), 4096u);
    EXPECT_EQ(EntryLength(0x3FFFFF), 8184u);
}

TEST(LegacyRing, SlotWordsAndAddressesAreTheDriversLayout)
{
    // The driver's own entry: ready and occupied, buffer 9, 4096 bytes, generation 0x29, in slot 5
    // of eight, with the get index at 13 and the put index at 14 (counters, masked to address).
    DriverRingBytes driver(8, 0x400000);
    driver.Set64(-0x100, 13);
    driver.Set64(-0x80, 14);
    driver.Set64(8 * 5, 0x29C02600);
    Ring ring;
    ASSERT_TRUE(Attach(driver.R, &ring));
    EXPECT_EQ(ring.mask, 7u);
    uint32_t entry = 0;
    ASSERT_TRUE(Get(ring, &entry));
    EXPECT_EQ(entry, 0x2600u);
    EXPECT_EQ(driver.Get64(8 * 5), 0x2A000000u) << "released: low 24 bits clear, generation up";
    EXPECT_EQ(driver.Get64(-0x100), 14u);
    EXPECT_FALSE(Get(ring, &entry)) << "slot 6 holds nothing ready";

    // A slot that is occupied but not ready is not the driver's entry for this side.
    driver.Set64(8 * 6, 0x00800401);
    driver.Set64(-0x80, 15);
    EXPECT_FALSE(Get(ring, &entry));
    driver.Set64(8 * 6, 0);
    driver.Set64(-0x80, 14);

    // This side's put: the slot's word ORed with the entry and the header's put flags, and not one
    // bit more, at the put index.
    driver.Set32(-0x170, 0);
    driver.Set64(8 * 6, 0x07000000);
    ASSERT_TRUE(Put(ring, 0x0C08));
    EXPECT_EQ(driver.Get64(8 * 6), 0x07000C08u);
    EXPECT_EQ(driver.Get64(-0x80), 15u);
    driver.Set32(-0x170, 0x800000);
    ASSERT_TRUE(Put(ring, 0x0001));
    EXPECT_EQ(driver.Get64(8 * 7), 0x00800001u);

    // The put index is 16 (slot 0): a slot after it that is occupied (not ready) makes the ring
    // full; a ready bit alone does not hold a slot.
    driver.Set32(-0x170, 0xC00000);
    driver.Set64(8 * 1, 0x00800401);
    EXPECT_FALSE(Put(ring, 0x0001));
    driver.Set64(8 * 1, 0x00400401);
    EXPECT_TRUE(Put(ring, 0x0001));
    EXPECT_EQ(driver.Get64(8 * 0), 0x00C00001u);

    EXPECT_FALSE(Resetting(ring));
    driver.Set32(-0x168, 1);
    EXPECT_TRUE(Resetting(ring));
}

TEST(LegacyRing, AttachRefusesRingsThatCannotBeAddressed)
{
    struct Case {
        const char *what;
        uint32_t mask;
        size_t misalign;
        bool accepted;
    };
    const Case cases[] = {
        {"eight slots", 7, 0, true},
        {"one slot", 0, 0, true},
        {"4096 slots", 4095, 0, true},
        {"a mask that is no power of two minus one", 6, 0, false},
        {"more slots than buffer numbers", 8191, 0, false},
        {"a misaligned slot array", 7, 4, false},
    };
    for (const Case &c : cases) {
        RingMemory memory(8);
        *memory.Word(kMaskOffset) = c.mask;
        Ring ring{nullptr, 12345};
        EXPECT_EQ(Attach(memory.Slots() + c.misalign, &ring), c.accepted) << c.what;
        if (!c.accepted) {
            EXPECT_EQ(ring.mask, 12345u) << c.what << ": the ring changed";
        }
    }
    Ring ring;
    EXPECT_FALSE(Attach(nullptr, &ring));
}

TEST(LegacyRing, EntriesComeOutInTheOrderTheyWentIn)
{
    RingMemory memory(8);
    Ring ring = memory.Attached();
    for (uint32_t round = 0; round < 3; ++round) {
        for (uint32_t i = 0; i < 5; ++i)
            ASSERT_TRUE(Put(ring, MakeEntry(i + round, 8 * (i + 1))));
        for (uint32_t i = 0; i < 5; ++i) {
            uint32_t entry = 0;
            ASSERT_TRUE(Get(ring, &entry));
            EXPECT_EQ(EntryBuffer(entry), i + round);
            EXPECT_EQ(EntryLength(entry), 8 * (i + 1));
        }
        uint32_t entry = 0;
        EXPECT_FALSE(Get(ring, &entry)) << "the ring is empty again";
    }
}

TEST(LegacyRing, AFullRingRefusesAPutThoughOneSlotIsFree)
{
    RingMemory memory(4);
    Ring ring = memory.Attached();
    for (uint32_t i = 0; i < 3; ++i)
        ASSERT_TRUE(Put(ring, MakeEntry(i, 64)));
    EXPECT_EQ(*SlotAt(ring, 3) & kOccupied, 0u) << "the slot at the put index is free";
    EXPECT_FALSE(Put(ring, MakeEntry(3, 64)));

    uint32_t entry = 0;
    ASSERT_TRUE(Get(ring, &entry));
    EXPECT_TRUE(Put(ring, MakeEntry(3, 64)));
}

TEST(LegacyRing, ARingWithEverySlotOccupiedIsFullAtOnce)
{
    // A driver that left every slot taken: the put passes each slot once, not round and round.
    for (uint32_t slots : {1u, 4u, 4096u}) {
        RingMemory memory(slots);
        Ring ring = memory.Attached();
        for (uint32_t i = 0; i < slots; ++i)
            *SlotAt(ring, i) = kOccupied | MakeEntry(i, 8);
        *PutIndex(ring) = 7;
        EXPECT_FALSE(Put(ring, MakeEntry(1, 8))) << slots;
        EXPECT_LE(*PutIndex(ring), 7u + slots) << slots << " slots: the put index went round the ring";
    }
}

TEST(LegacyRing, ReleasingASlotClearsItAndCountsItsGenerationUp)
{
    RingMemory memory(4);
    Ring ring = memory.Attached();
    *SlotAt(ring, 0) = uint64_t{41} << 24;
    ASSERT_TRUE(Put(ring, MakeEntry(9, 4096)));
    EXPECT_EQ(*SlotAt(ring, 0), (uint64_t{41} << 24) | kOccupied | kReady | MakeEntry(9, 4096));

    uint32_t entry = 0;
    ASSERT_TRUE(Get(ring, &entry));
    EXPECT_EQ(entry, MakeEntry(9, 4096));
    EXPECT_EQ(*SlotAt(ring, 0), uint64_t{42} << 24);
    EXPECT_EQ(Released((uint64_t{0xFFFFFFFFFF} << 24) | kOccupied), 0u) << "the generation wraps";
}

TEST(LegacyRing, APutWritesOnlyTheEntryAndTheFlagsTheDriverStates)
{
    // Slot 0 holds generation 5 and slot 1 generation 0x1234; the put flags are the header's u32,
    // whatever bits the driver puts in it.
    struct Case {
        uint32_t putFlags;
        uint64_t slot0, slot1;
    };
    const Case cases[] = {
        {0x000000, 0x05000401, 0x1234000002},
        {0x800000, 0x05800401, 0x1234800002},
        {0x400000, 0x05400401, 0x1234400002},
        {0xC00000, 0x05C00401, 0x1234C00002},
        {0x81000000, 0x85000401, 0x12B5000002}, // bits above the entry's go in as given
    };
    for (const Case &c : cases) {
        RingMemory memory(8, c.putFlags);
        Ring ring = memory.Attached();
        *SlotAt(ring, 0) = 0x05000000;
        *SlotAt(ring, 1) = 0x1234000000;
        ASSERT_TRUE(Put(ring, MakeEntry(1, 8))) << std::hex << c.putFlags;
        ASSERT_TRUE(Put(ring, MakeEntry(0, 16))) << std::hex << c.putFlags;
        EXPECT_EQ(*SlotAt(ring, 0), c.slot0) << std::hex << c.putFlags;
        EXPECT_EQ(*SlotAt(ring, 1), c.slot1) << std::hex << c.putFlags;
        EXPECT_EQ(*PutIndex(ring), 2u);
    }
    // Without the ready flag a packet this side sent is not one it receives.
    RingMemory memory(8, kOccupied);
    Ring ring = memory.Attached();
    ASSERT_TRUE(Put(ring, MakeEntry(1, 8)));
    uint32_t entry = 0;
    EXPECT_FALSE(Get(ring, &entry));
}

TEST(LegacyRing, SlowReadersAndWritersAreHelpedAlong)
{
    RingMemory memory(8);
    Ring ring = memory.Attached();
    ASSERT_TRUE(Put(ring, MakeEntry(1, 8)));
    ASSERT_TRUE(Put(ring, MakeEntry(2, 8)));

    // A reader advanced past slot 0 but has not released it yet.
    *GetIndex(ring) = 1;
    // A writer filled slot 2 but has not advanced the put index yet.
    *SlotAt(ring, 2) = kOccupied | kReady | MakeEntry(3, 8);

    uint32_t entry = 0;
    ASSERT_TRUE(Get(ring, &entry));
    EXPECT_EQ(EntryBuffer(entry), 2u);
    EXPECT_EQ(*SlotAt(ring, 0) & kLowBits, 0u) << "the slot behind the reader was released";
    ASSERT_TRUE(Get(ring, &entry));
    EXPECT_EQ(EntryBuffer(entry), 3u) << "the put index was advanced for the slow writer";
    EXPECT_EQ(*PutIndex(ring), 3u);

    // A put that finds its slot taken moves on to the next one.
    *SlotAt(ring, 3) = kOccupied | kReady | MakeEntry(4, 8);
    ASSERT_TRUE(Put(ring, MakeEntry(5, 8)));
    EXPECT_EQ(*PutIndex(ring), 5u);
    ASSERT_TRUE(Get(ring, &entry));
    EXPECT_EQ(EntryBuffer(entry), 4u);
    ASSERT_TRUE(Get(ring, &entry));
    EXPECT_EQ(EntryBuffer(entry), 5u);
}

TEST(LegacyRing, TheResetFlagIsSeen)
{
    RingMemory memory(8);
    Ring ring = memory.Attached();
    EXPECT_FALSE(Resetting(ring));
    *memory.Word(kResetOffset) = 1;
    EXPECT_TRUE(Resetting(ring));
}

TEST(LegacyRing, AProducerAndAConsumerOnTwoThreadsLoseNothing)
{
    RingMemory memory(8);
    Ring ring = memory.Attached();
    constexpr uint32_t kEntries = 200000;

    std::thread producer([&] {
        for (uint32_t i = 0; i < kEntries;)
            if (Put(ring, i & kEntryMask))
                ++i;
            else
                std::this_thread::yield();
    });
    std::vector<uint32_t> received;
    received.reserve(kEntries);
    while (received.size() < kEntries) {
        uint32_t entry = 0;
        if (Get(ring, &entry))
            received.push_back(entry);
        else
            std::this_thread::yield();
    }
    producer.join();

    for (uint32_t i = 0; i < kEntries; ++i)
        ASSERT_EQ(received[i], i & kEntryMask) << "entry " << i;
    uint32_t entry = 0;
    EXPECT_FALSE(Get(ring, &entry));
    for (uint32_t slot = 0; slot < 8; ++slot)
        EXPECT_EQ(*SlotAt(ring, slot) & kLowBits, 0u) << "slot " << slot << " was left occupied";
}

} // namespace
