// The record queue's bound: it stops accepting at 256 records and accepts again below 192.
#include "blackbox_queue.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

std::unique_ptr<BLACKBOX_RECORD> Record(uint32_t code)
{
    auto record = std::make_unique<BLACKBOX_RECORD>();
    record->Code = code;
    record->Length = 0;
    return record;
}

TEST(BlackboxQueue, StopsAtTwoHundredFiftySixAndResumesBelowOneHundredNinetyTwo)
{
    BLACKBOX_QUEUE queue;
    EXPECT_FALSE(queue.Push(Record(0))) << "nothing is accepted before the consumer runs";
    queue.SetAccepting(true);
    for (uint32_t i = 1; i <= 255; ++i)
        ASSERT_TRUE(queue.Push(Record(i))) << i;
    EXPECT_TRUE(queue.Accepting());
    EXPECT_TRUE(queue.Push(Record(256)));
    EXPECT_FALSE(queue.Accepting()) << "the 256th record closes the queue";
    EXPECT_FALSE(queue.Push(Record(257)));
    EXPECT_EQ(queue.Size(), 256u);

    // Removals down to 192 left keep it closed; the one that leaves 191 opens it.
    for (uint32_t expected = 1; expected <= 64; ++expected) {
        ASSERT_EQ(queue.PeekOldest()->Code, expected) << "oldest first";
        queue.RemoveOldest();
        ASSERT_FALSE(queue.Accepting()) << queue.Size() << " left";
        ASSERT_FALSE(queue.Push(Record(999)));
    }
    EXPECT_EQ(queue.Size(), 192u);
    queue.RemoveOldest();
    EXPECT_TRUE(queue.Accepting());
    EXPECT_TRUE(queue.Push(Record(258)));
    EXPECT_EQ(queue.Size(), 192u);

    queue.Clear();
    EXPECT_EQ(queue.PeekOldest(), nullptr);
    queue.RemoveOldest(); // nothing to remove
    EXPECT_EQ(queue.Size(), 0u);
}

} // namespace
