// Where walks start and end: the rules behind the sub-agent's Get and GetNext.
#include <gtest/gtest.h>

#include "store_test_util.h"

using namespace storetest;

namespace {

const char kP[] = "1.3.6.1.4.1.9";

std::string P(const std::string &rest)
{
    return std::string(kP) + (rest.empty() ? "" : "." + rest);
}

class WalkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Store = new DATASTORE(true);
        ASSERT_TRUE(m_Store->SetValue(Oid("1.3.6.1.2.1.1.1.0"), Text("sys")));
        ASSERT_TRUE(m_Store->SetValue(Oid("1.3.6.1.2.1.1.3.0"), Integer(300)));
        ASSERT_TRUE(m_Store->SetValue(Oid(P("1.1")), Integer(11)));
        ASSERT_TRUE(m_Store->SetValue(Oid(P("1.2")), Integer(12)));
        ASSERT_TRUE(m_Store->SetValue(Oid(P("2.1")), Integer(21)));
        ASSERT_TRUE(m_Store->SetValue(Oid(P("5")), Integer(5)));  // a value with a child
        ASSERT_TRUE(m_Store->SetValue(Oid(P("5.1")), Integer(51)));
        MIBVALUE hidden = Integer(7);
        hidden.flags = MIBFLAG_REPLACE;
        ASSERT_TRUE(m_Store->SetValue(Oid(P("7")), hidden));
        ASSERT_TRUE(m_Store->SetValue(Oid(P("4294967295")), Integer(99)));
        ASSERT_TRUE(m_Store->SetValue(Oid("1.3.6.1.4.1.10.1"), Integer(101)));
    }

    StoreHeapScope m_Heap;
    DATASTORE *m_Store = nullptr;
};

struct WalkCase {
    const char *name;
    const char *start;  // null: s_NoStartOid
    const char *end;    // null: s_NoEndOid
    bool exclude;
    size_t limit;
    std::vector<std::string> expected;
};

TEST_F(WalkTest, StartAndEndRules)
{
    const std::string all[] = {"1.3.6.1.2.1.1.1.0=\"sys\"", "1.3.6.1.2.1.1.3.0=300", P("1.1=11"), P("1.2=12"),
                               P("2.1=21"), P("5=5"), P("5.1=51"), P("4294967295=99"), "1.3.6.1.4.1.10.1=101"};
    const std::string p11 = P("1.1"), p11x = P("1.1.0"), p1 = P("1"), p10 = P("1.0"), p5 = P("5"), p50 = P("5.0"),
                      p12 = P("1.2"), p21 = P("2.1"), p51 = P("5.1"), pmax = P("4294967295"), p17 = P("1.7"),
                      p3 = P("3"), deep = P("1.1.5.5"), p2 = P("2"), p7 = P("7"), p70 = P("7.0");
    const WalkCase cases[] = {
        {"everything", nullptr, nullptr, false, 0, std::vector<std::string>(std::begin(all), std::end(all))},
        {"get of a leaf", p11.c_str(), p11x.c_str(), false, 0, {all[2]}},
        {"get of an interior node", p1.c_str(), p10.c_str(), false, 0, {}},
        {"get of a value with children", p5.c_str(), p50.c_str(), false, 0, {all[5]}},
        {"get of a node marked for replacement", p7.c_str(), p70.c_str(), false, 0, {}},
        {"next after the last of a subtree", p12.c_str(), nullptr, true, 1, {all[4]}},
        {"next into a child of a value", p5.c_str(), nullptr, true, 1, {all[6]}},
        {"next past a hidden node", p51.c_str(), nullptr, true, 1, {all[7]}},
        {"next after the largest sub-identifier", pmax.c_str(), nullptr, true, 1, {all[8]}},
        {"start past the last sibling", p17.c_str(), nullptr, false, 1, {all[4]}},
        {"start between siblings", p3.c_str(), nullptr, true, 1, {all[5]}},
        {"start below a leaf", deep.c_str(), nullptr, true, 1, {all[3]}},
        {"included start", p21.c_str(), nullptr, false, 1, {all[4]}},
        {"range ends first", p12.c_str(), p2.c_str(), true, 0, {}},
        {"start beyond the last node", "1.3.6.1.4.1.11", nullptr, false, 0, {}},
        {"start below the root", "0.5", nullptr, true, 1, {all[0]}},
        {"start above the root", "2", nullptr, false, 0, {}},
        {"empty start", "", nullptr, true, 1, {all[0]}},
        {"the root itself excluded", "1", nullptr, true, 1, {all[0]}},
        {"empty end", nullptr, "", false, 0, {}},
        {"start equals end", p11.c_str(), p11.c_str(), false, 0, {}},
        {"a bounded range", p12.c_str(), p51.c_str(), false, 0, {all[3], all[4], all[5]}},
    };
    for (const WalkCase &c : cases) {
        const MIBOID start = c.start ? Oid(c.start) : MIBOID(), end = c.end ? Oid(c.end) : MIBOID();
        EXPECT_EQ(WalkAll(m_Store, c.start ? start : s_NoStartOid, c.end ? end : s_NoEndOid, c.exclude, c.limit),
                  c.expected)
            << c.name;
    }
}

TEST_F(WalkTest, ResultSaysWhetherTheCallbackStoppedIt)
{
    int calls = 0;
    EXPECT_FALSE(m_Store->Walk(s_NoStartOid, s_NoEndOid, false, [&](const MIBOID &, const MIBVALUE_REF &) {
        return ++calls < 3;
    }));
    EXPECT_EQ(calls, 3);
    calls = 0;
    EXPECT_TRUE(m_Store->Walk(s_NoStartOid, s_NoEndOid, false, [&](const MIBOID &, const MIBVALUE_REF &) {
        ++calls;
        return true;
    }));
    EXPECT_EQ(calls, 9);
}

TEST_F(WalkTest, RefusesOidsItCannotHold)
{
    MIBOID tooLong;
    tooLong.count = MIBOID_MAX_SUBIDS + 1;
    MIBOID negative;
    negative.count = -1;
    for (const MIBOID *bad : {&tooLong, &negative}) {
        EXPECT_TRUE(WalkAll(m_Store, *bad, s_NoEndOid, false).empty());
        EXPECT_TRUE(WalkAll(m_Store, s_NoStartOid, *bad, false).empty());
    }
}

// Among many siblings the walk still finds its start (the search trees, not a scan) and visits
// rows in order.
TEST_F(WalkTest, ManySiblingsInAnyInsertionOrder)
{
    DATASTORE *store = new DATASTORE(false);
    const uint32_t count = 5000;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t row = (i * 7919u) % count;  // every row once, scattered
        MIBOID oid = Oid("1.3.6.1.9");
        oid.Append(row * 2);
        ASSERT_TRUE(store->SetValue(oid, Integer(static_cast<int32_t>(row))));
    }
    std::vector<std::string> expected;
    for (uint32_t row = 1001; row < 1004; ++row)
        expected.push_back("1.3.6.1.9." + std::to_string(row * 2) + "=" + std::to_string(row));
    EXPECT_EQ(WalkAll(store, Oid("1.3.6.1.9.2001"), s_NoEndOid, false, 3), expected);
    EXPECT_EQ(WalkAll(store, Oid("1.3.6.1.9.2000"), s_NoEndOid, true, 3), expected);
    EXPECT_EQ(WalkAll(store, s_NoStartOid, s_NoEndOid, false).size(), count);
    EXPECT_EQ(Shape(store).size(), count + 5);
}

// A manager walks with GetNext after GetNext, each from the last answer, while collections change
// the store in between.
TEST(WalkSteps, FollowTheStoreAsItChanges)
{
    StoreHeapScope heap;
    DATASTORE *store = new DATASTORE(true);
    const std::string column = "1.3.6.1.4.1.9.6.1.1.1";
    for (int row : {2, 4, 6, 8})
        ASSERT_TRUE(store->SetValue(Oid(column + "." + std::to_string(row)), Integer(row)));
    auto next = [&](const std::string &from) {
        const std::vector<std::string> seen = WalkAll(store, Oid(from), s_NoEndOid, true, 1);
        return seen.empty() ? std::string("end") : seen.front();
    };
    const std::string r = column + ".";
    EXPECT_EQ(next(column), r + "2=2");
    EXPECT_EQ(next(r + "2"), r + "4=4");
    ASSERT_TRUE(store->SetValue(Oid(r + "5"), Integer(5)));  // a row appears right after
    EXPECT_EQ(next(r + "4"), r + "5=5");
    ASSERT_TRUE(store->SetValue(Oid(r + "6"), Text(std::string(40, 's'))));  // the next row grows
    EXPECT_EQ(next(r + "5"), r + "6=\"" + std::string(40, 's') + "\"");

    // A cycle replaces the table: the node the last answer came from is gone.
    DATASTORE *staging = new DATASTORE(false);
    DATASTORE_TABLE table(staging);
    ASSERT_TRUE(table.BeginTable(Oid("1.3.6.1.4.1.9.6.1.1"), 1, true));
    for (int row : {3, 7, 9}) {
        table.SetIndex(static_cast<uint32_t>(row));
        ASSERT_TRUE(table.SetInteger(1, row * 10));
    }
    ASSERT_TRUE(store->Merge(staging));
    delete staging;
    EXPECT_EQ(next(r + "6"), r + "7=70");
    EXPECT_EQ(next(r + "7"), r + "9=90");
    EXPECT_EQ(next(r + "9"), "end");
    // Asking again from an earlier answer still works.
    EXPECT_EQ(next(r + "3"), r + "7=70");
}

} // namespace
