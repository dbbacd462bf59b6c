// Merging a cycle's staging store into the served store.
#include <gtest/gtest.h>

#include "store_test_util.h"

using namespace storetest;

namespace {

const char kEntry[] = "1.3.6.1.4.1.9.6.1.1";

std::string Cell(int column, int row)
{
    return std::string(kEntry) + "." + std::to_string(column) + "." + std::to_string(row);
}

class MergeTest : public ::testing::Test {
protected:
    std::vector<std::string> Served() { return WalkAll(m_Global, s_NoStartOid, s_NoEndOid, false); }
    std::vector<std::string> Staged() { return WalkAll(m_Staging, s_NoStartOid, s_NoEndOid, false); }

    StoreHeapScope m_Heap;
    DATASTORE *m_Global = new DATASTORE(true);
    DATASTORE *m_Staging = new DATASTORE(false);
};

TEST_F(MergeTest, TableMarkedForReplacementLeavesExactlyTheStagedRows)
{
    for (int row = 1; row <= 4; ++row)
        for (int column = 1; column <= 2; ++column)
            ASSERT_TRUE(m_Global->SetValue(Oid(Cell(column, row)), Integer(row * 10 + column)));
    ASSERT_TRUE(m_Global->SetValue(Oid("1.3.6.1.4.1.9.6.2.0"), Integer(7)));  // beside the table

    DATASTORE_TABLE table(m_Staging);
    ASSERT_TRUE(table.BeginTable(Oid(kEntry), 1, true));
    table.SetIndex(2);
    ASSERT_TRUE(table.SetInteger(1, 201));
    ASSERT_TRUE(table.SetInteger(3, 203));  // a column the served table did not have
    table.SetIndex(9);
    ASSERT_TRUE(table.SetInteger(1, 901));

    ASSERT_TRUE(m_Global->Merge(m_Staging));
    EXPECT_EQ(Served(), (std::vector<std::string>{Cell(1, 2) + "=201", Cell(1, 9) + "=901", Cell(3, 2) + "=203",
                                                  "1.3.6.1.4.1.9.6.2.0=7"}));
    EXPECT_TRUE(Staged().empty());
    // Not a node of the old rows is left under the entry.
    std::vector<std::string> underEntry;
    for (const std::string &node : Shape(m_Global))
        if (node.rfind(kEntry, 0) == 0)
            underEntry.push_back(node);
    const std::string e = kEntry;
    EXPECT_EQ(underEntry, (std::vector<std::string>{e, e + ".1", Cell(1, 2), Cell(1, 9), e + ".3", Cell(3, 2)}));
}

TEST_F(MergeTest, RowsNotWrittenAgainStayWithoutClear)
{
    ASSERT_TRUE(m_Global->SetValue(Oid(Cell(1, 1)), Integer(1)));
    ASSERT_TRUE(m_Global->SetValue(Oid(Cell(1, 2)), Integer(2)));
    DATASTORE_TABLE table(m_Staging);
    ASSERT_TRUE(table.BeginTable(Oid(kEntry), 1, false));
    table.SetIndex(2);
    ASSERT_TRUE(table.SetString(1, "two"));

    ASSERT_TRUE(m_Global->Merge(m_Staging));
    EXPECT_EQ(Served(), (std::vector<std::string>{Cell(1, 1) + "=1", Cell(1, 2) + "=\"two\""}));
    // The interior nodes that led to the moved value stay behind in the staging store.
    EXPECT_EQ(Shape(m_Staging).back(), std::string(kEntry) + ".1");
}

TEST_F(MergeTest, LeafOntoANodeWithChildrenFailsAndLeavesTheTargetAlone)
{
    ASSERT_TRUE(m_Global->SetValue(Oid(Cell(1, 1)), Integer(1)));
    ASSERT_TRUE(m_Global->SetValue(Oid(Cell(1, 2)), Integer(2)));
    const std::vector<std::string> servedBefore = Served(), shapeBefore = Shape(m_Global);

    ASSERT_TRUE(m_Staging->SetValue(Oid(std::string(kEntry) + ".1"), Integer(5)));  // the column, as a leaf
    EXPECT_FALSE(m_Global->Merge(m_Staging));
    EXPECT_EQ(Served(), servedBefore);
    EXPECT_EQ(Shape(m_Global), shapeBefore);
    EXPECT_EQ(Staged(), std::vector<std::string>{std::string(kEntry) + ".1=5"});
}

TEST_F(MergeTest, StagedValueWithChildrenFails)
{
    ASSERT_TRUE(m_Staging->SetValue(Oid("1.3.6.1.4.1.9.1"), Integer(1)));
    ASSERT_TRUE(m_Staging->SetValue(Oid("1.3.6.1.4.1.9.1.1"), Integer(11)));
    EXPECT_FALSE(m_Global->Merge(m_Staging));
    EXPECT_TRUE(Served().empty());
    EXPECT_EQ(Staged().size(), 2u);
}

// What moved before a failure stays moved; the rest stays in the staging store.
TEST_F(MergeTest, FailureKeepsEarlierMovesAndLeavesTheRest)
{
    ASSERT_TRUE(m_Global->SetValue(Oid("1.3.6.1.4.1.9.2.1"), Integer(0)));  // makes .9.2 interior
    ASSERT_TRUE(m_Staging->SetValue(Oid("1.3.6.1.4.1.9.1"), Integer(1)));
    ASSERT_TRUE(m_Staging->SetValue(Oid("1.3.6.1.4.1.9.2"), Integer(2)));  // meets children: fails here
    ASSERT_TRUE(m_Staging->SetValue(Oid("1.3.6.1.4.1.9.3"), Integer(3)));

    EXPECT_FALSE(m_Global->Merge(m_Staging));
    EXPECT_EQ(Served(), (std::vector<std::string>{"1.3.6.1.4.1.9.1=1", "1.3.6.1.4.1.9.2.1=0"}));
    EXPECT_EQ(Staged(), (std::vector<std::string>{"1.3.6.1.4.1.9.2=2", "1.3.6.1.4.1.9.3=3"}));
}

TEST_F(MergeTest, StagingWithoutValuesOrMarksChangesNothing)
{
    ASSERT_TRUE(m_Global->SetValue(Oid(Cell(1, 1)), Integer(1)));
    const std::vector<std::string> shapeBefore = Shape(m_Global);
    ASSERT_NE(m_Staging->FindOrCreate(Oid(Cell(1, 1))), nullptr);
    ASSERT_NE(m_Staging->FindOrCreate(Oid("1.3.6.1.4.1.9.8.8")), nullptr);

    EXPECT_TRUE(m_Global->Merge(m_Staging));
    EXPECT_EQ(Shape(m_Global), shapeBefore);
    EXPECT_EQ(Served(), std::vector<std::string>{Cell(1, 1) + "=1"});
}

TEST_F(MergeTest, ValueReplacesTheServedValueAndTheDisplacedNodeIsFreed)
{
    ASSERT_TRUE(m_Global->SetValue(Oid(Cell(1, 1)), Text(std::string(200, 'x'))));
    ASSERT_TRUE(m_Staging->SetValue(Oid(Cell(1, 1)), Integer(4)));
    ASSERT_TRUE(m_Global->Merge(m_Staging));
    EXPECT_EQ(Served(), std::vector<std::string>{Cell(1, 1) + "=4"});
    delete m_Staging;
    m_Staging = nullptr;
    // A store of one path of 11 small nodes; the 200-byte node that was displaced is gone.
    delete m_Global;
    m_Global = nullptr;
    EXPECT_EQ(DataStoreHeapBytesInUse(), 0u);
}

TEST_F(MergeTest, EmptiedTableMarkedForReplacementEmptiesTheServedTable)
{
    ASSERT_TRUE(m_Global->SetValue(Oid(Cell(1, 1)), Integer(1)));
    ASSERT_TRUE(m_Global->SetValue(Oid("1.3.6.1.4.1.9.7.0"), Integer(7)));
    DATASTORE_TABLE table(m_Staging);
    ASSERT_TRUE(table.BeginTable(Oid(kEntry), 1, true));
    ASSERT_TRUE(m_Global->Merge(m_Staging));
    EXPECT_EQ(Served(), std::vector<std::string>{"1.3.6.1.4.1.9.7.0=7"});
}

TEST_F(MergeTest, WholeTreeMarkedForReplacement)
{
    ASSERT_TRUE(m_Global->SetValue(Oid("1.3.6.1.2.1.1.3.0"), Integer(1)));
    DATASTORE_CURSOR cursor(m_Staging);
    ASSERT_TRUE(cursor.Open(Oid("1"), true));
    ASSERT_TRUE(m_Staging->SetValue(Oid("1.3.6.1.4.1.9.1"), Integer(2)));
    ASSERT_TRUE(m_Global->Merge(m_Staging));
    EXPECT_EQ(Served(), std::vector<std::string>{"1.3.6.1.4.1.9.1=2"});
    EXPECT_EQ(Shape(m_Staging), std::vector<std::string>{"1"});
}

TEST_F(MergeTest, RefusesLockingOrSelfAsStaging)
{
    DATASTORE *other = new DATASTORE(true);
    ASSERT_TRUE(other->SetValue(Oid("1.3.6.1.4.1.9.1"), Integer(1)));
    EXPECT_FALSE(m_Global->Merge(other));
    EXPECT_FALSE(m_Staging->Merge(m_Staging));
    EXPECT_FALSE(m_Global->Merge(nullptr));
    EXPECT_TRUE(Served().empty());
}

// After a merge the staging store's writers must not reach nodes that now belong to the served
// store: a cell written afterwards lands in the staging store.
TEST_F(MergeTest, WriterAfterMergeWritesIntoTheStagingStore)
{
    DATASTORE_TABLE table(m_Staging);
    ASSERT_TRUE(table.BeginTable(Oid(kEntry), 1, true));
    table.SetIndex(1);
    ASSERT_TRUE(table.SetInteger(1, 1));
    ASSERT_TRUE(m_Global->Merge(m_Staging));
    table.SetIndex(2);
    ASSERT_TRUE(table.SetInteger(1, 2));
    EXPECT_EQ(Served(), std::vector<std::string>{Cell(1, 1) + "=1"});
    EXPECT_EQ(Staged(), std::vector<std::string>{Cell(1, 2) + "=2"});
}

} // namespace
