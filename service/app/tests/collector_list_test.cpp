// The nine collectors of the service, in their order, and the collector base.
#include "collector_list.h"
#include "scheduler_fixture.h"

#include "mib2_collector.h"
#include "zdtfca_collector.h"
#include "zdthost_collector.h"
#include "zdtide_collector.h"
#include "zdtiscsi_collector.h"
#include "zdtnic_collector.h"
#include "zdtsas_collector.h"
#include "zdtscsi_collector.h"
#include "zdtstdeq_collector.h"

#include <string>

using namespace schedtest;

namespace {

std::string Narrow(const wchar_t *text)
{
    return std::string(text, text + wcslen(text));
}

TEST(CollectorListTest, NineCollectorsInTheirOrder)
{
    struct Row {
        DATACOLLECTOR *instance;
        const wchar_t *name;
        uint32_t group;
        uint8_t major;
        uint8_t minor;
        const int *enableFlag;
        bool readsRelogFlags;
    };
    const Row rows[] = {
        {&s_ZDTSTDEQDataCollector, L"ZDTSTDEQ", 0, 0, 0, &s_ServiceParameters.EnableZDTSTDEQ, false},
        {&s_ZDTHOSTDataCollector, L"ZDTHOST", 11, 1, 47, &s_ServiceParameters.EnableZDTHOST, true},
        {&s_ZDTSCSIDataCollector, L"ZDTSCSI", 5, 1, 43, &s_ServiceParameters.EnableZDTSAS, false},
        {&s_ZDTSASDataCollector, L"ZDTSAS", 0, 0, 0, &s_ServiceParameters.EnableZDTSAS, false},
        {&s_ZDTIDEDataCollector, L"ZDTIDE", 14, 1, 12, &s_ServiceParameters.EnableZDTIDE, false},
        {&s_ZDTFCADataCollector, L"ZDTFCA", 16, 1, 34, &s_ServiceParameters.EnableZDTFCA, false},
        {&s_ZDTiSCSIDataCollector, L"ZDTISCSI", 169, 1, 5, &s_ServiceParameters.EnableZDTISCSI, false},
        {&s_ZDTNICDataCollector, L"ZDTNIC", 18, 1, 48, &s_ServiceParameters.EnableZDTNIC, false},
        {&s_MIB2DataCollector, L"MIB-2", 0, 0, 0, &s_ServiceParameters.EnableMIB2, true},
    };
    size_t index = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(Narrow(row.name));
        DATACOLLECTOR *collector = s_CollectorList[index++];
        ASSERT_EQ(row.instance, collector);
        EXPECT_STREQ(row.name, collector->Name());
        EXPECT_EQ(row.group, collector->MibGroup());
        EXPECT_EQ(row.major, collector->RevisionMajor());
        EXPECT_EQ(row.minor, collector->RevisionMinor());
        EXPECT_EQ(row.enableFlag, collector->EnableFlag());
        EXPECT_EQ(row.readsRelogFlags, collector->ReadsRelogFlags());
    }
    EXPECT_EQ(nullptr, s_CollectorList[index]);
}

TEST_F(SchedulerTest, SasSwitchOffLeavesOutTheScsiAndSasCollectors)
{
    s_ServiceParameters.EnableZDTSAS = 0;
    SetCollectorList(s_CollectorList);
    RunCycles(1);

    for (DATACOLLECTOR *const *entry = s_CollectorList; *entry != nullptr; ++entry) {
        const DATACOLLECTOR &collector = **entry;
        SCOPED_TRACE(Narrow(collector.Name()));
        const bool left = &collector == &s_ZDTSCSIDataCollector || &collector == &s_ZDTSASDataCollector;
        if (left)
            EXPECT_EQ(0u, collector.LastCollection());
        else
            EXPECT_GT(collector.LastCollection(), kStart);
        EXPECT_EQ(left ? 0 : 1, collector.Status());
    }
    const std::optional<Bytes> array = ValueAt(s_DataStore, EnterpriseOid({11, 2, 10, 1, 0}));
    ASSERT_TRUE(array.has_value());
    ASSERT_EQ(680u, array->size());
    EXPECT_EQ((Bytes{0, 0, 0, 0}), Bytes(array->begin() + 20, array->begin() + 24));
    EXPECT_EQ((Bytes{1, 0, 1, 47}), Bytes(array->begin() + 44, array->begin() + 48));
    EXPECT_EQ((Bytes{1, 0, 1, 5}), Bytes(array->begin() + 676, array->end()));
    EXPECT_EQ(std::nullopt, Served({5, 1, 3, 0}));
    EXPECT_EQ(0, Served({11, 1, 3, 0}));
}

TEST(DataCollectorTest, ConditionOnlyRises)
{
    struct {
        const char *what;
        std::vector<int> values;
        uint8_t condition;
    } cases[] = {
        {"nothing raised", {}, 0},
        {"raised", {3}, 3},
        {"lower later value", {3, 2}, 3},
        {"zero", {0}, 0},
        {"low byte of an int", {0x104}, 4},
        {"minus one", {-1}, 255},
        {"a low byte below the current", {2, 0x101}, 2},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        TestCollector collector(L"T", 3);
        collector.StartCollection(0, nullptr);
        for (int value : test.values)
            collector.SetCondition(value);
        EXPECT_EQ(test.condition, collector.Condition());
    }
}

TEST(DataCollectorTest, StateThroughACollection)
{
    int on = 1;
    TestCollector collector(L"T", 3, &on);
    EXPECT_EQ(1, collector.Condition()) << "as constructed";
    collector.SetCondition(4);
    collector.StartCollection(1, nullptr);
    EXPECT_EQ(std::make_tuple(0, 0, 1), std::make_tuple(int(collector.Status()), int(collector.Condition()),
                                                         collector.IsCollecting()));
    collector.SetCondition(2);
    collector.PreCollect(1, nullptr);
    EXPECT_EQ(std::make_tuple(1, 0, 1), std::make_tuple(int(collector.Status()), int(collector.Condition()),
                                                        collector.IsCollecting()));
    collector.EndCollection(1, nullptr);
    EXPECT_EQ(0, collector.IsCollecting());
    collector.SetLastCollection(kStart);
    collector.Initialize();
    EXPECT_EQ(std::make_tuple(0, 1, uint64_t(0)),
              std::make_tuple(int(collector.Status()), int(collector.Condition()), collector.LastCollection()));
    EXPECT_EQ(1, collector.IsEnabled());
    on = 0;
    EXPECT_EQ(0, collector.IsEnabled());
    EXPECT_EQ(1, TestCollector(L"U", 0).IsEnabled()) << "without a switch";
    EXPECT_EQ(0, collector.Register(nullptr));
}

} // namespace
