// The health-log re-log flags are reset only after every enabled collector that reads them has
// collected since the flag was set.
#include "scheduler_fixture.h"

using namespace schedtest;

namespace {

using Flags = std::vector<std::optional<DWORD>>;

class RelogFlagsTest : public SchedulerTest {
protected:
    // The flag's value at the end of each cycle.
    Flags RunAndWatch(const wchar_t *flag, int cycles, std::function<void(int cycle)> beforeCycle)
    {
        Flags seen;
        RunCycles(
            cycles,
            [&](int cycle) {
                clock.now += 10 * kSecond;
                beforeCycle(cycle);
            },
            [&](int, int pause) {
                if (pause == 6)
                    seen.push_back(ReadDword(kHostStateKey, flag));
            });
        return seen;
    }
};

TEST_F(RelogFlagsTest, FlagWaitsForEveryReader)
{
    TestCollector host(L"ZDTHOST", 11);
    TestCollector mib2(L"MIB-2", 0);
    host.SetReadsRelogFlags();
    mib2.SetReadsRelogFlags();
    UseCollectors({&host, &mib2});

    const Flags seen = RunAndWatch(L"KWBCleared", 3, [&](int cycle) {
        if (cycle == 2) {
            WriteDword(kHostStateKey, L"KWBCleared", 1);
            TriggerCollection(L"ZDTHOST", 0);
        }
        if (cycle == 3)
            TriggerCollection(L"MIB-2", 0);
    });

    EXPECT_EQ((Flags{std::nullopt, 1, 0}), seen);
    EXPECT_EQ(2, host.Collections());
    EXPECT_EQ(2, mib2.Collections());
}

TEST_F(RelogFlagsTest, FlagSetAfterTheReaderCollectedWaitsForItsNextCollection)
{
    TestCollector host(L"ZDTHOST", 11);
    host.SetReadsRelogFlags();
    TestCollector ide(L"ZDTIDE", 14);
    ide.onCollect = [](TestCollector &, int firstRun, DATASTORE *) {
        if (firstRun)
            WriteDword(kHostStateKey, L"KWBDisabledThenEnabled", 1);
    };
    UseCollectors({&host, &ide});

    const Flags seen = RunAndWatch(L"KWBDisabledThenEnabled", 3, [&](int cycle) {
        if (cycle == 3)
            TriggerCollection(L"ZDTHOST", 0);
    });

    EXPECT_EQ((Flags{1, 1, 0}), seen);
}

TEST_F(RelogFlagsTest, WithoutAnEnabledReaderTheFlagIsResetAtTheEndOfTheCycle)
{
    int off = 0;
    TestCollector host(L"ZDTHOST", 11, &off);
    host.SetReadsRelogFlags();
    TestCollector ide(L"ZDTIDE", 14);
    UseCollectors({&host, &ide});

    const Flags seen = RunAndWatch(L"KWBCleared", 2, [&](int cycle) {
        if (cycle == 2)
            WriteDword(kHostStateKey, L"KWBCleared", 1);
    });

    EXPECT_EQ((Flags{std::nullopt, 0}), seen);
}

} // namespace
