#include "legacy_ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace legacyring;

// Ring memory as the driver lays it out: the header, then the slots.
class RingMemory {
public:
    explicit RingMemory(uint32_t slots, uint32_t putFlags = kReady)
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

TEST(LegacyRing, AnEntryThisSidePutsIsNotReadyUnlessTheDriverSaysSo)
{
    RingMemory memory(8, /*putFlags=*/0);
    Ring ring = memory.Attached();
    ASSERT_TRUE(Put(ring, MakeEntry(1, 8)));
    EXPECT_NE(*SlotAt(ring, 0) & kOccupied, 0u);
    uint32_t entry = 0;
    EXPECT_FALSE(Get(ring, &entry)) << "a packet this side sent is not one it receives";
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
