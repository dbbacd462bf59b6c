// The status array and condition summary, byte by byte.
#include "mib_status.h"

#include "enterprise_arc.h"
#include "store_writers.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A zero buffer of the given size with the listed bytes set.
Bytes Filled(size_t size, const std::map<size_t, uint8_t> &set)
{
    Bytes bytes(size, 0);
    for (const auto &[offset, value] : set)
        bytes.at(offset) = value;
    return bytes;
}

TEST(MibStatusTest, ArrayAndSummaryLayouts)
{
    struct Case {
        const char *what;
        std::vector<MIB_GROUP_STATUS> groups;
        size_t arrayLength;
        std::map<size_t, uint8_t> array;    // beyond the zero fill; the header is listed too
        std::map<size_t, uint8_t> summary;  // beyond the zero fill
    };
    const Case cases[] = {
        {"no group at all", {}, 4, {{0, 1}, {1, 1}, {2, 10}}, {}},
        {"collectors without a group", {{0, 1, 4, 1, 2}, {0, 1, 3, 0, 0}}, 4, {{0, 1}, {1, 1}, {2, 10}}, {}},
        {"host group alone",
         {{11, 1, 0, 1, 47}},
         48,
         {{0, 1}, {1, 1}, {2, 10}, {44, 1}, {45, 0}, {46, 1}, {47, 47}},
         {}},
        {"a worse condition raises the header",
         {{11, 1, 2, 1, 47}, {14, 1, 4, 1, 12}},
         60,
         {{0, 1}, {1, 4}, {2, 10}, {44, 1}, {45, 2}, {46, 1}, {47, 47}, {56, 1}, {57, 4}, {58, 1}, {59, 12}},
         {{12, 4}}},
        {"every summary group",
         {{5, 1, 2, 1, 43}, {14, 1, 3, 1, 12}, {16, 1, 5, 1, 34}, {18, 1, 6, 1, 48}, {169, 1, 7, 1, 5}},
         680,
         {{0, 1},   {1, 7},   {2, 10},  {20, 1},  {21, 2},  {22, 1},  {23, 43},  {56, 1},  {57, 3},  {58, 1},
          {59, 12}, {64, 1},  {65, 5},  {66, 1},  {67, 34}, {72, 1},  {73, 6},   {74, 1},  {75, 48}, {676, 1},
          {677, 7}, {678, 1}, {679, 5}},
         {{10, 2}, {12, 3}, {13, 5}, {14, 6}, {18, 7}}},
        {"the highest group that fits one value",
         {{mibstatus::kHighestGroup, 2, 3, 4, 5}},
         1016,
         {{0, 1}, {1, 3}, {2, 10}, {1012, 2}, {1013, 3}, {1014, 4}, {1015, 5}},
         {}},
        {"a group past the array is left out",
         {{11, 1, 1, 1, 47}, {mibstatus::kHighestGroup + 1, 1, 9, 1, 1}, {1000, 1, 9, 1, 1}},
         48,
         {{0, 1}, {1, 1}, {2, 10}, {44, 1}, {45, 1}, {46, 1}, {47, 47}},
         {}},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.what);
        MIB_STATUS_OBJECTS objects;
        for (const MIB_GROUP_STATUS &group : test.groups)
            objects.Add(group);
        ASSERT_EQ(test.arrayLength, objects.arrayLength);
        EXPECT_EQ(Filled(test.arrayLength, test.array), Bytes(objects.array, objects.array + objects.arrayLength));
        EXPECT_EQ(Filled(mibstatus::kSummaryBytes, test.summary),
                  Bytes(objects.summary, objects.summary + mibstatus::kSummaryBytes));
    }
}

class MibStatusStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(InitDataStores()); }
    void TearDown() override { TermDataStores(); }
};

TEST_F(MibStatusStoreTest, BothObjectsGoUnderTheHostStatusGroupAndKeepItsOtherValues)
{
    auto *staging = new DATASTORE(false);
    const MIBOID neighbour = EnterpriseOid({11, 2, 10, 3, 0});
    ASSERT_TRUE(staging->SetInteger(neighbour, 77));

    const MIB_GROUP_STATUS groups[] = {{11, 1, 2, 1, 47}, {18, 1, 3, 1, 48}};
    MIB_STATUS_OBJECTS objects;
    for (const MIB_GROUP_STATUS &group : groups)
        objects.Add(group);
    ASSERT_TRUE(WriteMibStatusObjects(staging, objects));

    std::vector<std::pair<std::vector<uint32_t>, Bytes>> seen;
    staging->Walk(s_NoStartOid, s_NoEndOid, false, [&](const MIBOID &oid, const MIBVALUE_REF &value) {
        seen.emplace_back(std::vector<uint32_t>(oid.subIds + ENTERPRISE_ARC_LENGTH, oid.subIds + oid.count),
                          value.type == MIBTYPE_OCTETSTRING ? Bytes(value.data, value.data + value.length)
                                                            : Bytes{static_cast<uint8_t>(value.U32())});
        return true;
    });
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ((std::vector<uint32_t>{11, 2, 10, 1, 0}), seen[0].first);
    EXPECT_EQ(Bytes(objects.array, objects.array + 76), seen[0].second);
    EXPECT_EQ((std::vector<uint32_t>{11, 2, 10, 3, 0}), seen[1].first);
    EXPECT_EQ(Bytes{77}, seen[1].second);
    EXPECT_EQ((std::vector<uint32_t>{11, 2, 10, 7, 0}), seen[2].first);
    EXPECT_EQ(Filled(19, {{14, 3}}), seen[2].second);
}

TEST_F(MibStatusStoreTest, NothingIsWrittenIntoTheServedStore)
{
    auto *served = new DATASTORE(true);
    const MIB_STATUS_OBJECTS objects;
    EXPECT_FALSE(WriteMibStatusObjects(served, objects));
    EXPECT_FALSE(WriteMibStatusObjects(nullptr, objects));
    int visible = 0;
    served->Walk(s_NoStartOid, s_NoEndOid, false, [&](const MIBOID &, const MIBVALUE_REF &) { return ++visible; });
    EXPECT_EQ(0, visible);
}

} // namespace
