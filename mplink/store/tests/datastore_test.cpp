// Storing values, the heap's size limit, the module's life cycle and the reader/writer lock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "store_test_util.h"

using namespace storetest;

namespace {

class DataStoreTest : public ::testing::Test {
protected:
    StoreHeapScope m_Heap;
    DATASTORE *m_Store = new DATASTORE(true);
};

TEST_F(DataStoreTest, LongValueMovesTheNodeAndKeepsItsNeighbours)
{
    const std::string x = "1.3.6.1.4.1.9.3";
    ASSERT_TRUE(m_Store->SetValue(Oid(x + ".1"), Integer(1)));
    ASSERT_TRUE(m_Store->SetValue(Oid(x + ".2"), Integer(2)));
    ASSERT_TRUE(m_Store->SetValue(Oid(x + ".2.1"), Integer(21)));
    ASSERT_TRUE(m_Store->SetValue(Oid(x + ".2.2"), Integer(22)));
    ASSERT_TRUE(m_Store->SetValue(Oid(x + ".3"), Integer(3)));
    const std::vector<std::string> shape = Shape(m_Store);

    const std::string thirty(30, 'a');
    ASSERT_TRUE(m_Store->SetValue(Oid(x + ".2"), Text(thirty)));
    EXPECT_EQ(Shape(m_Store), shape);  // also checks every link of the moved node
    EXPECT_EQ(WalkAll(m_Store, s_NoStartOid, s_NoEndOid, false),
              (std::vector<std::string>{x + ".1=1", x + ".2=\"" + thirty + "\"", x + ".2.1=21", x + ".2.2=22",
                                        x + ".3=3"}));
    // And back to a short value in the now larger node.
    ASSERT_TRUE(m_Store->SetValue(Oid(x + ".2"), Integer(-2)));
    EXPECT_EQ(WalkAll(m_Store, Oid(x + ".2"), Oid(x + ".2.0"), false), std::vector<std::string>{x + ".2=-2"});
}

TEST_F(DataStoreTest, KeepsWhatEachTypeHolds)
{
    struct Case {
        uint16_t type;
        uint32_t claimed;
        uint32_t kept;  // bytes the walk shows
        bool visible;
    } const cases[] = {
        {MIBTYPE_INTEGER, 0, 4, true},         {MIBTYPE_COUNTER32, 100, 4, true},
        {MIBTYPE_COUNTER64, 3, 8, true},        {MIBTYPE_OCTETSTRING, 1024, MIBVALUE_DATA_BYTES, true},
        {MIBTYPE_OCTETSTRING, 25, 25, true},    {MIBTYPE_OID, 12, 12, true},
        {MIBTYPE_IPADDRESS, 4, 4, true},        {MIBTYPE_OPAQUE, 0, 0, true},
        {MIBTYPE_NULL, 10, 0, true},            {99, 16, 0, true},
        {MIBTYPE_NONE, 8, 0, false},
    };
    uint32_t row = 0;
    for (const Case &c : cases) {
        MIBVALUE value;
        value.Init(c.type, c.claimed);
        for (uint32_t i = 0; i < MIBVALUE_DATA_BYTES; ++i)
            value.data[i] = static_cast<uint8_t>(i + c.type);
        MIBOID oid = Oid("1.3.6.1.4.1.9.4");
        oid.Append(++row);
        ASSERT_TRUE(m_Store->SetValue(oid, value));
        MIBOID end = oid;
        end.Append(0);
        int seen = 0;
        m_Store->Walk(oid, end, false, [&](const MIBOID &, const MIBVALUE_REF &v) {
            ++seen;
            EXPECT_EQ(v.type, c.type);
            EXPECT_EQ(v.length, c.kept) << "type " << c.type;
            EXPECT_EQ(0, std::memcmp(v.data, value.data, v.length)) << "type " << c.type;
            return true;
        });
        EXPECT_EQ(seen, c.visible ? 1 : 0) << "type " << c.type;
    }
}

TEST_F(DataStoreTest, RefusesOidsItCannotHold)
{
    MIBOID tooLong = Oid("1");
    tooLong.count = MIBOID_MAX_SUBIDS + 1;
    MIBOID negative;
    negative.count = -1;
    MIBOID longest;
    longest.count = MIBOID_MAX_SUBIDS;
    std::fill(longest.subIds, longest.subIds + MIBOID_MAX_SUBIDS, 1u);

    for (const MIBOID &bad : {Oid(""), Oid("1"), Oid("2.1"), Oid("0.1"), tooLong, negative})
        EXPECT_FALSE(m_Store->SetValue(bad, Integer(1))) << Dotted(bad);
    EXPECT_EQ(Shape(m_Store), std::vector<std::string>{"1"});
    EXPECT_TRUE(m_Store->SetValue(longest, Integer(1)));
    EXPECT_EQ(WalkAll(m_Store, s_NoStartOid, s_NoEndOid, false).size(), 1u);
}

// A staging store, so that the test can free nodes again.
class FullHeapTest : public ::testing::Test {
protected:
    // Fills the heap with rows of 1.5.1 until a row cannot be stored; returns the rows stored.
    uint32_t Fill(DATASTORE *store)
    {
        uint32_t rows = 0;
        for (; rows < 200000; ++rows) {
            MIBOID oid = Oid("1.5.1");
            oid.Append(rows);
            if (!store->SetValue(oid, Integer(static_cast<int32_t>(rows))))
                break;
        }
        return rows;
    }

    StoreHeapScope m_Heap{0x10000};
    DATASTORE *m_Store = new DATASTORE(false);
};

TEST_F(FullHeapTest, FailedWritesLeaveTheTreeAsItWas)
{
    ASSERT_TRUE(m_Store->SetValue(Oid("1.5.0"), Integer(-1)));
    const uint32_t rows = Fill(m_Store);
    ASSERT_GT(rows, 100u);
    ASSERT_LT(rows, 200000u) << "the heap never filled up";

    std::vector<std::string> visible = WalkAll(m_Store, s_NoStartOid, s_NoEndOid, false);
    ASSERT_EQ(visible.size(), rows + 1);
    EXPECT_EQ(visible.back(), "1.5.1." + std::to_string(rows - 1) + "=" + std::to_string(rows - 1));

    // A value that needs a larger node keeps the old one when none can be had.
    EXPECT_FALSE(m_Store->SetValue(Oid("1.5.0"), Text(std::string(500, 'z'))));
    EXPECT_EQ(WalkAll(m_Store, Oid("1.5.0"), Oid("1.5.0.0"), false), std::vector<std::string>{"1.5.0=-1"});
    // Writers fail the same way.
    DATASTORE_TABLE table(m_Store);
    EXPECT_FALSE(table.BeginTable(Oid("1.5.2"), 1, false));
    table.SetIndex(1);
    EXPECT_FALSE(table.SetInteger(1, 1));
    EXPECT_EQ(Shape(m_Store).size(), rows + 4);  // 1, 1.5, 1.5.0, 1.5.1 and the rows

    // Freed room can be used again.
    m_Store->DeleteChildren(m_Store->FindOrCreate(Oid("1.5.1")));
    EXPECT_TRUE(m_Store->SetValue(Oid("1.5.0"), Text(std::string(500, 'z'))));
    EXPECT_GT(Fill(m_Store), rows - 20);  // all but the room of the larger value
}

TEST_F(FullHeapTest, MergeIntoAFullHeapLosesNothing)
{
    DATASTORE *global = new DATASTORE(true);
    ASSERT_TRUE(global->SetValue(Oid("1.3.1"), Integer(0)));
    DATASTORE *staging = new DATASTORE(false);
    ASSERT_TRUE(staging->SetValue(Oid("1.3.7.1"), Integer(71)));
    ASSERT_TRUE(staging->SetValue(Oid("1.3.8.1"), Integer(81)));
    Fill(m_Store);

    EXPECT_FALSE(global->Merge(staging));  // 1.3.7 cannot be made in the served store
    std::vector<std::string> both = WalkAll(global, s_NoStartOid, s_NoEndOid, false);
    for (const std::string &staged : WalkAll(staging, s_NoStartOid, s_NoEndOid, false))
        both.push_back(staged);
    std::sort(both.begin(), both.end());
    EXPECT_EQ(both, (std::vector<std::string>{"1.3.1=0", "1.3.7.1=71", "1.3.8.1=81"}));
    Shape(global);
    Shape(staging);

    delete m_Store;
    m_Store = nullptr;
    EXPECT_TRUE(global->Merge(staging));
    EXPECT_EQ(WalkAll(global, s_NoStartOid, s_NoEndOid, false),
              (std::vector<std::string>{"1.3.1=0", "1.3.7.1=71", "1.3.8.1=81"}));
}

TEST(DataStoreModule, TermDeletesEveryStoreLeft)
{
    StoreHeapScope heap;
    s_DataStore = new DATASTORE(true);
    ASSERT_TRUE(s_DataStore->SetValue(Oid("1.3.1"), Integer(1)));
    DATASTORE *staging = new DATASTORE(false);
    ASSERT_TRUE(staging->SetValue(Oid("1.3.2"), Integer(2)));

    TermDataStores();
    EXPECT_EQ(s_DataStore, nullptr);
    // Without a heap nothing can be stored (a leak of the deleted stores would show natively).
    DATASTORE *late = new DATASTORE(false);
    EXPECT_FALSE(late->SetValue(Oid("1.3.1"), Integer(1)));
    delete late;
}

TEST(DataStoreModule, DeletedStoresGiveBackEveryByte)
{
    StoreHeapScope heap;
    DATASTORE *global = new DATASTORE(true);
    DATASTORE *staging = new DATASTORE(false);
    for (uint32_t row = 0; row < 50; ++row) {
        MIBOID oid = Oid("1.3.6.1.4.1.9.1");
        oid.Append(row);
        ASSERT_TRUE(global->SetValue(oid, Text(std::string(row * 3, 'v'))));
    }
    DATASTORE_TABLE table(staging);
    ASSERT_TRUE(table.BeginTable(Oid("1.3.6.1.4.1.9"), 1, true));
    table.SetIndex(4);
    ASSERT_TRUE(table.SetString(1, "row four"));
    ASSERT_TRUE(global->Merge(staging));
    EXPECT_GT(DataStoreHeapBytesInUse(), 0u);
    delete staging;
    delete global;
    EXPECT_EQ(DataStoreHeapBytesInUse(), 0u);
}

// ---- RWLOCK

class LockTest : public ::testing::Test {
protected:
    LockTest() : m_Ms(RWLOCK::WriterYieldMs.load()), m_Count(RWLOCK::WriterYieldCount.load()) {}
    ~LockTest() override
    {
        RWLOCK::WriterYieldMs = m_Ms;
        RWLOCK::WriterYieldCount = m_Count;
    }

    static bool WaitFor(const std::function<bool()> &condition)
    {
        for (int i = 0; i < 6000 && !condition(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return condition();
    }

    uint32_t m_Ms;
    uint32_t m_Count;
};

TEST_F(LockTest, ReaderYieldsToAWaitingWriter)
{
    // The reader yields for up to 20 s: longer than a busy machine takes to get to the release.
    RWLOCK::WriterYieldMs = 5;
    RWLOCK::WriterYieldCount = 4000;
    RWLOCK lock;
    lock.Init();
    std::mutex orderMutex;
    std::vector<char> order;
    auto note = [&](char who) {
        std::lock_guard<std::mutex> hold(orderMutex);
        order.push_back(who);
    };

    ASSERT_TRUE(lock.AcquireShared());
    std::thread writer([&] {
        lock.AcquireExclusive();
        note('W');
        lock.ReleaseExclusive();
    });
    ASSERT_TRUE(WaitFor([&] { return lock.pendingWriters.load() == 1; }));
    std::thread reader([&] {
        lock.AcquireShared();
        note('R');
        lock.ReleaseShared();
    });
    // A reader that did not yield would get in beside the first one now.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        std::lock_guard<std::mutex> hold(orderMutex);
        EXPECT_TRUE(order.empty());
    }
    lock.ReleaseShared();
    writer.join();
    reader.join();
    EXPECT_EQ(order, (std::vector<char>{'W', 'R'}));
}

TEST_F(LockTest, ReaderYieldsOnlySoLong)
{
    RWLOCK::WriterYieldMs = 10;
    RWLOCK::WriterYieldCount = 5;
    RWLOCK lock;
    lock.Init();
    lock.pendingWriters = 1;  // a writer that never comes
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(lock.AcquireShared());
    const auto waited = std::chrono::steady_clock::now() - before;
    lock.ReleaseShared();
    EXPECT_GE(waited, std::chrono::milliseconds(50));
    EXPECT_LT(waited, std::chrono::seconds(5));
}

TEST_F(LockTest, DisabledLockIsANoOpAndHoldersReleaseWhatTheyTook)
{
    RWLOCK lock;
    EXPECT_FALSE(lock.AcquireExclusive());
    EXPECT_FALSE(lock.AcquireExclusive());  // would deadlock if it were taken
    EXPECT_FALSE(lock.AcquireShared());
    lock.ReleaseExclusive();

    lock.Init();
    {
        RWLOCK_EXCLUSIVE_HOLD hold(lock);
        lock.Term();  // disabled while held: the holder still releases the slim lock
    }
    lock.Init();
    std::atomic<bool> taken{false};
    std::thread other([&] {
        RWLOCK_EXCLUSIVE_HOLD hold(lock);
        taken = true;
    });
    other.join();
    EXPECT_TRUE(taken);
}

// A reader under the shared lock sees one whole cycle's table, never a mix of two.
TEST(DataStoreConcurrency, WalksSeeWholeMerges)
{
    StoreHeapScope heap;
    const uint32_t ms = RWLOCK::WriterYieldMs.load();
    RWLOCK::WriterYieldMs = 1;
    DATASTORE *global = new DATASTORE(true);
    const MIBOID entry = Oid("1.3.6.1.4.1.9.6.1.1");
    std::atomic<bool> done{false};
    std::atomic<int> mixed{0}, partial{0}, walks{0};

    std::thread reader([&] {
        while (!done) {
            std::vector<int32_t> values;
            global->Walk(entry, Oid("1.3.6.1.4.1.9.6.1.2"), false, [&](const MIBOID &, const MIBVALUE_REF &v) {
                values.push_back(static_cast<int32_t>(v.U32()));
                return true;
            });
            ++walks;
            if (!values.empty() && values.size() != 10)
                ++partial;
            for (int32_t value : values)
                if (value != values.front())
                    ++mixed;
        }
    });
    // At least 200 cycles, and on until the reader has walked often enough to meet merges.
    for (int32_t cycle = 1; cycle <= 200 || (walks.load() < 200 && cycle < 200000); ++cycle) {
        DATASTORE *staging = new DATASTORE(false);
        DATASTORE_TABLE table(staging);
        ASSERT_TRUE(table.BeginTable(entry, 1, true));
        for (uint32_t row = 1; row <= 10; ++row) {
            table.SetIndex(row);
            ASSERT_TRUE(table.SetInteger(1, cycle));
        }
        ASSERT_TRUE(global->Merge(staging));
        delete staging;
    }
    done = true;
    reader.join();
    RWLOCK::WriterYieldMs = ms;
    EXPECT_GT(walks.load(), 0);
    EXPECT_EQ(mixed.load(), 0);
    EXPECT_EQ(partial.load(), 0);
}

} // namespace
