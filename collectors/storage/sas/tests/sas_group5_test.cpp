// Group 5's condition over the scheduler's own cycles: the SCSI collector collects on the first
// cycle and afterwards only when a request for group 5 triggers it, the SAS collector every time
// its interval has passed.
#include "sas_fabric.h"
#include "scheduler_fixture.h"

#include "host_test_support.h"
#include "traps.h"
#include "zdtsas_collector.h"
#include "zdtscsi_collector.h"

namespace {

struct SasAdapters : sastest::SasFabricTest {
    using SasFabricTest::AdapterOn;
};

class SasGroup5Test : public schedtest::SchedulerTest {
protected:
    void SetUp() override
    {
        SchedulerTest::SetUp();
        SasResetForTest();
        ResetStorageBoxListForTest();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SYSTEM\\QZTLMStorage");
        s_ZDTSASDataCollector.ResetForTests();
        InitTraps();
        // The service's own order; the interval table gives ZDTSAS 120 s and ZDTSCSI none.
        UseCollectors({&s_ZDTSCSIDataCollector, &s_ZDTSASDataCollector});
    }
    void TearDown() override
    {
        TermTraps();
        SasResetForTest();
        SchedulerTest::TearDown();
    }

    // What the sub-agent does for a request under group 5: both collectors, data older than 120 s.
    static void RequestForGroup5()
    {
        TriggerCollection(L"ZDTSCSI", 120);
        TriggerCollection(L"ZDTSAS", 120);
    }

    struct AfterCycle {
        bool scsi, sas;                  // who collected
        std::optional<int32_t> served;   // group 5's condition object as served
        int condition;                   // the SCSI collector's condition (the status objects')
        size_t traps;
    };

    StorageSim sim;
    StorageSimScope scope{sim};
};

// Departure: a request that runs the SCSI collector without the SAS collector still publishes the
// condition the SAS collector last raised, not 0.
TEST_F(SasGroup5Test, DepartureConditionOverTheSchedulersCyclesKeptWhereARequestRunsTheScsiCollectorAlone)
{
    sastest::Adapter adapter = SasAdapters::AdapterOn(sim, 3, 3);
    auto disk = sastest::Disk("G1");
    adapter.AttachDrive(0, 0x70, disk);

    std::vector<AfterCycle> seen;
    uint64_t scsiStamp = 0, sasStamp = 0;
    auto record = [&] {
        const bool scsi = s_ZDTSCSIDataCollector.LastCollection() != scsiStamp;
        const bool sas = s_ZDTSASDataCollector.LastCollection() != sasStamp;
        scsiStamp = s_ZDTSCSIDataCollector.LastCollection();
        sasStamp = s_ZDTSASDataCollector.LastCollection();
        seen.push_back({scsi, sas, Served({5, 1, 3, 0}), s_ZDTSCSIDataCollector.Condition(),
                        hosttest::SentTraps().size()});
    };
    RunCycles(6, [&](int cycle) {
        if (cycle > 1)
            record();
        switch (cycle) {
        case 2:   // the drive fails; the SAS interval has passed
            disk->IeCode = 0x5D;
            clock.now += 121 * schedtest::kSecond;
            break;
        case 3:   // a request for group 5, 30 s after the SAS collection
            clock.now += 30 * schedtest::kSecond;
            RequestForGroup5();
            break;
        case 4:   // the drive recovers; the SAS interval passes again
            disk->IeCode = 0;
            clock.now += 100 * schedtest::kSecond;
            break;
        case 5:   // a request when both are due
            clock.now += 130 * schedtest::kSecond;
            RequestForGroup5();
            break;
        case 6:   // nothing due
            clock.now += 10 * schedtest::kSecond;
            break;
        }
    });
    record();

    ASSERT_EQ(6u, seen.size());
    // The first cycle: both, the group's revision and its condition.
    EXPECT_TRUE(seen[0].scsi && seen[0].sas);
    EXPECT_EQ(std::optional<int32_t>(2), seen[0].served);
    EXPECT_EQ(std::optional<int32_t>(1), Served({5, 1, 1, 0}));
    EXPECT_EQ(std::optional<int32_t>(43), Served({5, 1, 2, 0}));
    EXPECT_EQ(0u, seen[0].traps);
    // The SAS collection alone: its trap, the raised condition in the status objects, the
    // condition object as the SCSI collector last published it.
    EXPECT_TRUE(!seen[1].scsi && seen[1].sas);
    EXPECT_EQ(1u, seen[1].traps);
    EXPECT_EQ(3, seen[1].condition);
    EXPECT_EQ(std::optional<int32_t>(2), seen[1].served);
    // The request: the SCSI collector alone. It publishes what the drives were last seen as, not
    // the empty condition its own start left.
    EXPECT_TRUE(seen[2].scsi && !seen[2].sas);
    EXPECT_EQ(0u, seen[2].traps);
    EXPECT_EQ(std::optional<int32_t>(3), seen[2].served);
    EXPECT_EQ(3, seen[2].condition);
    // The SAS collection after the recovery sends its trap; it only ever raises group 5's
    // condition, so the status objects and the condition object stay at 3 until the SCSI
    // collector collects again.
    EXPECT_TRUE(!seen[3].scsi && seen[3].sas);
    EXPECT_EQ(1u, seen[3].traps);
    EXPECT_EQ(3, seen[3].condition);
    EXPECT_EQ(std::optional<int32_t>(3), seen[3].served);
    // A request when both are due: one cycle, the condition of this SAS collection.
    EXPECT_TRUE(seen[4].scsi && seen[4].sas);
    EXPECT_EQ(std::optional<int32_t>(2), seen[4].served);
    EXPECT_EQ(2, seen[4].condition);
    // Without a request and before the SAS interval: nobody.
    EXPECT_TRUE(!seen[5].scsi && !seen[5].sas);
    EXPECT_EQ(std::optional<int32_t>(2), seen[5].served);
}

} // namespace
