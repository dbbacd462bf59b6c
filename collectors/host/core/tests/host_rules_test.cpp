// The host collector's portable rules: type codes, the Version split, memory and file-system
// arithmetic, and the heartbeat trap's passes.
#include "host_rules.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

HOST_OS_FACTS Facts(uint32_t major, uint32_t minor, uint8_t productType, uint16_t architecture, uint32_t build = 0)
{
    HOST_OS_FACTS facts;
    facts.major = major;
    facts.minor = minor;
    facts.productType = productType;
    facts.architecture = architecture;
    facts.build = build;
    return facts;
}

TEST(HostOsTypeCodeTest, Table)
{
    constexpr uint8_t W = 1, S = 3, DC = 2;
    constexpr uint16_t X86 = kArchitectureX86, IA = kArchitectureIa64, AMD = kArchitectureAmd64;
    struct {
        uint32_t major, minor;
        uint8_t type;
        uint16_t architecture;
        uint32_t build;
        const char *name;
        int32_t code;
    } cases[] = {
        {5, 0, S, X86, 2195, "", 15},
        {5, 1, W, AMD, 0, "", 34},
        {5, 1, W, X86, 0, "", 33},
        {5, 2, S, AMD, 0, "", 18},
        {5, 2, S, IA, 0, "", 20},
        {5, 2, S, X86, 0, "", 17},
        {5, 3, S, AMD, 0, "", 1},
        {6, 0, W, AMD, 0, "", 36},
        {6, 0, W, X86, 0, "", 35},
        {6, 0, S, AMD, 0, "", 22},
        {6, 0, DC, IA, 0, "", 23},
        {6, 0, S, X86, 0, "", 21},
        {6, 1, W, AMD, 7601, "", 28},
        {6, 1, W, X86, 7601, "", 27},
        {6, 1, S, X86, 7601, "", 37},
        {6, 2, W, AMD, 0, "", 30},
        {6, 2, W, X86, 0, "", 29},
        {6, 2, DC, AMD, 0, "", 26},
        {6, 3, W, AMD, 9600, "", 32},
        {6, 3, W, X86, 9600, "", 1},
        {6, 3, S, AMD, 9600, "", 38},
        {6, 4, S, AMD, 0, "", 1},
        {10, 0, W, AMD, 19045, "", 58},
        {10, 0, W, X86, 19045, "", 1},
        // The server builds at their boundaries.
        {10, 0, S, AMD, 1056, "", 3},
        {10, 0, S, AMD, 1057, "", 55},
        {10, 0, S, AMD, 17603, "azure stack hci", 55},
        {10, 0, S, AMD, 17604, "", 57},
        {10, 0, S, AMD, 17604, "Azure Stack HCI", 60},
        {10, 0, S, AMD, 20284, "", 57},
        {10, 0, S, AMD, 20284, "Microsoft AZURE STACK hci", 60},
        {10, 0, S, AMD, 20285, "Windows Server 2022", 59},
        {10, 0, S, AMD, 20285, "AzUrE sTaCk HcI 22H2", 61},
        {10, 0, S, AMD, 20285, "azure stack hc", 59},
        {10, 0, S, AMD, 20285, nullptr, 59},
        {10, 0, DC, IA, 20285, "azure stack hci", 1},
        {10, 1, S, AMD, 20285, "", 1},
        {11, 0, W, AMD, 22000, "", 1},
        {0, 0, 0, 0, 0, "", 1},  // nothing read
        {4, 0, W, AMD, 0, "", 1},  // the Version split failed
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor) + " type " + std::to_string(c.type) +
                     " arch " + std::to_string(c.architecture) + " build " + std::to_string(c.build) + " " +
                     (c.name ? c.name : "(null)"));
        EXPECT_EQ(c.code, HostOsTypeCode(Facts(c.major, c.minor, c.type, c.architecture, c.build), c.name));
    }
}

TEST(SplitOsVersionTest, Table)
{
    struct {
        const char *version;
        uint32_t major, minor;
    } cases[] = {
        {"10.0.19045", 10, 0},
        {"6.1.7601", 6, 1},
        {"6.3.9600.1", 6, 3},
        {"6.1", 4, 0},          // one dot only
        {"10", 4, 0},
        {"", 4, 0},
        {nullptr, 4, 0},
        {".1.2", 4, 0},         // a dot at the start does not split
        {"6..1", 4, 0},         // nor right after the first
        {"6.1.", 6, 1},
        {"x.y.z", 0, 0},        // split, but no numbers
        {" 7.-2.1", 7, 4294967294u},
        {"99999999999.1.1", 2147483647u, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.version ? c.version : "(null)");
        uint32_t major = 77, minor = 77;
        SplitOsVersion(c.version, &major, &minor);
        EXPECT_EQ(c.major, major);
        EXPECT_EQ(c.minor, minor);
    }
}

TEST(ParseLeadingIntTest, SaturatesInsteadOfOverflowing)
{
    EXPECT_EQ(19045, ParseLeadingInt("19045"));
    EXPECT_EQ(12, ParseLeadingInt("  12abc"));
    EXPECT_EQ(-5, ParseLeadingInt("-5"));
    EXPECT_EQ(INT32_MAX, ParseLeadingInt("2147483648"));
    EXPECT_EQ(INT32_MIN, ParseLeadingInt("-2147483648"));
    EXPECT_EQ(INT32_MIN, ParseLeadingInt("-99999999999999999999"));
    EXPECT_EQ(0, ParseLeadingInt("abc"));
    EXPECT_EQ(0, ParseLeadingInt(nullptr));
}

TEST(MemoryMegabytesTest, Table)
{
    struct {
        const char *what;
        std::optional<MEMORY_PAGES> pages;
        MEMORY_MEGABYTES expected;
    } cases[] = {
        {"16 GB of 4 KiB pages", MEMORY_PAGES{4194304, 262144, 8388608, 1048576, 4096}, {16385, 1025, 32769, 28673}},
        {"commit charge equal to the limit", MEMORY_PAGES{256, 255, 1000, 1000, 4096}, {2, 1, 4, 1}},
        {"commit charge above the limit", MEMORY_PAGES{256, 255, 1000, 1001, 4096}, {2, 1, 4, 1}},
        {"2 MiB pages", MEMORY_PAGES{1000, 10, 2000, 1000, 2097152}, {-1, -1, -1, -1}},
        {"1 MiB pages", MEMORY_PAGES{1000, 10, 2000, 1000, 1048576}, {1001, 11, 2001, 1001}},
        {"page size 0", MEMORY_PAGES{4194304, 1, 1, 0, 0}, {-1, -1, -1, -1}},
        {"no information", std::nullopt, {-1, -1, -1, -1}},
        {"3000-byte pages", MEMORY_PAGES{3495, 0, 0, 0, 3000}, {11, 1, 1, 1}},  // 349 pages per MB
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const MEMORY_MEGABYTES got = ComputeMemoryMegabytes(c.pages);
        EXPECT_EQ(c.expected.physicalTotal, got.physicalTotal);
        EXPECT_EQ(c.expected.physicalAvailable, got.physicalAvailable);
        EXPECT_EQ(c.expected.commitLimit, got.commitLimit);
        EXPECT_EQ(c.expected.commitAvailable, got.commitAvailable);
    }
}

TEST(VolumeUsageTest, Table)
{
    constexpr uint64_t TB = uint64_t(1) << 40;
    struct {
        const char *what;
        std::optional<VOLUME_SPACE> space;
        VOLUME_USAGE expected;
    } cases[] = {
        {"4 TB, 4 KB clusters, half full", VOLUME_SPACE{4 * TB, 2 * TB, 4 * TB / 4096, 2 * TB / 4096},
         {4194304, 2097152, 50, 1073741824, 536870912}},
        {"unknown", std::nullopt, {-1, -1, -1, -1, -1}},
        {"zero clusters", VOLUME_SPACE{1 << 20, 0, 0, 0}, {1, 1, 0, 0, 0}},
        {"more free than total", VOLUME_SPACE{1 << 20, 2 << 20, 10, 20}, {1, 0, 0, 10, 0}},
        {"clusters beyond int32", VOLUME_SPACE{64 * TB, 0, uint64_t(1) << 34, 0},
         {67108864, 67108864, 100, INT32_MAX, INT32_MAX}},
        {"a third used", VOLUME_SPACE{3 << 20, 2 << 20, 3, 2}, {3, 1, 33, 3, 1}},
        {"huge cluster counts", VOLUME_SPACE{UINT64_MAX, 0, UINT64_MAX, UINT64_MAX / 2},
         {INT32_MAX, INT32_MAX, 50, INT32_MAX, INT32_MAX}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const VOLUME_USAGE got = ComputeVolumeUsage(c.space);
        EXPECT_EQ(c.expected.totalMb, got.totalMb);
        EXPECT_EQ(c.expected.usedMb, got.usedMb);
        EXPECT_EQ(c.expected.usedPercent, got.usedPercent);
        EXPECT_EQ(c.expected.totalClusters, got.totalClusters);
        EXPECT_EQ(c.expected.usedClusters, got.usedClusters);
    }
}

TEST(HeartbeatPeriodTest, UnitsAndLargeTimeouts)
{
    EXPECT_EQ(HeartbeatSeconds, ParseHeartbeatTimeFormat("Seconds"));
    EXPECT_EQ(HeartbeatMinutes, ParseHeartbeatTimeFormat("Minute(s)"));
    EXPECT_EQ(HeartbeatHours, ParseHeartbeatTimeFormat("Hour(s)"));
    EXPECT_EQ(HeartbeatDays, ParseHeartbeatTimeFormat("Day(s)"));
    for (const char *other : {"seconds", "Minutes", "Second", "", "Day(s) ", static_cast<const char *>(nullptr)})
        EXPECT_EQ(HeartbeatMinutes, ParseHeartbeatTimeFormat(other)) << (other ? other : "(null)");

    EXPECT_EQ(12u, HeartbeatPeriodSeconds(12, HeartbeatSeconds));
    EXPECT_EQ(60u, HeartbeatPeriodSeconds(1, HeartbeatMinutes));
    EXPECT_EQ(7200u, HeartbeatPeriodSeconds(2, HeartbeatHours));
    // 49711 days are 4295030400 s: in 32 bits that would be 63104 s.
    EXPECT_EQ(4295030400u, HeartbeatPeriodSeconds(49711, HeartbeatDays));
    EXPECT_EQ(uint64_t(UINT32_MAX) * 86400, HeartbeatPeriodSeconds(UINT32_MAX, HeartbeatDays));
}

// The key's values for one pass.
HEARTBEAT_VALUES Key(std::optional<uint32_t> start, std::optional<uint32_t> periodic, std::optional<uint32_t> timeout,
                     std::optional<std::string> fmt = std::nullopt, std::optional<uint32_t> stop = std::nullopt)
{
    HEARTBEAT_VALUES values;
    values.keyOpened = true;
    values.startTrap = start;
    values.periodicTrapEnabled = periodic;
    values.timeout = timeout;
    values.timeFmt = fmt;
    values.stopTrap = stop;
    return values;
}

// Runs passes with the same values; returns the pass numbers (from 0) that send.
std::vector<int> SendingPasses(HEARTBEAT_STATE &state, const HEARTBEAT_VALUES &values, int passes)
{
    std::vector<int> sent;
    for (int pass = 0; pass < passes; ++pass)
        if (state.Pass(values).sendTrap)
            sent.push_back(pass);
    return sent;
}

TEST(HeartbeatStateTest, SendingPeriods)
{
    struct {
        const char *what;
        HEARTBEAT_VALUES values;
        int passes;
        std::vector<int> sending;
    } cases[] = {
        // 65 s apart: 13 passes of 5 s.
        {"one minute, no TimeFmt", Key(1, 1, 1), 30, {0, 13, 26}},
        {"12 Seconds: 15 s apart", Key(1, 1, 12, "Seconds"), 10, {0, 3, 6, 9}},
        {"12 seconds in lower case is minutes: 725 s", Key(1, 1, 12, "seconds"), 300, {0, 145, 290}},
        {"period 0: every 5 s after the first", Key(1, 1, 0, "Seconds"), 4, {0, 1, 2, 3}},
        {"no Timeout", Key(1, 1, std::nullopt), 30, {}},
        {"PeriodicTrapEnabled 0", Key(1, 0, 1), 30, {}},
        {"no PeriodicTrapEnabled", Key(1, std::nullopt, 1), 30, {}},
        {"no StartTrap", Key(std::nullopt, 1, 1), 30, {}},
        {"StartTrap 0", Key(0, 1, 1), 30, {}},
        {"StopTrap", Key(1, 1, 1, std::nullopt, 1), 30, {}},
        {"StopTrap 0 does not stop", Key(1, 1, 0, "Seconds", 0), 2, {0, 1}},
        {"49711 days do not wrap to 63104 s", Key(1, 1, 49711, "Day(s)"), 12700, {0}},
        {"an empty key", HEARTBEAT_VALUES{true, {}, {}, {}, {}, {}}, 5, {}},
        {"a key that does not open", HEARTBEAT_VALUES{false, 0, 1, 1, 1, std::string("Seconds")}, 5, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        HEARTBEAT_STATE state;
        EXPECT_EQ(c.sending, SendingPasses(state, c.values, c.passes));
    }
}

TEST(HeartbeatStateTest, WritesOfEachPass)
{
    struct {
        const char *what;
        HEARTBEAT_VALUES values;
        std::optional<uint32_t> periodicallySending;
        bool clearEcho;
    } cases[] = {
        {"periodic", Key(1, 1, 1), 1, false},
        {"periodic without Timeout", Key(1, 1, std::nullopt), 1, false},
        {"request without periodic sending", Key(1, 0, 1), 0, true},
        {"an empty key", HEARTBEAT_VALUES{true, {}, {}, {}, {}, {}}, 0, false},
        {"a key that does not open", HEARTBEAT_VALUES{}, 0, false},
        {"stopped", Key(1, 1, 1, std::nullopt, 7), std::nullopt, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        HEARTBEAT_STATE state;
        for (int pass = 0; pass < 3; ++pass) {
            const HEARTBEAT_ACTIONS actions = state.Pass(c.values);
            EXPECT_EQ(c.periodicallySending, actions.periodicallySending);
            EXPECT_EQ(c.clearEcho, actions.clearStartTrapEcho);
        }
    }
}

TEST(HeartbeatStateTest, StateAcrossChangingValues)
{
    HEARTBEAT_STATE state;
    EXPECT_TRUE(state.Pass(Key(1, 1, 1)).sendTrap);
    for (int pass = 0; pass < 4; ++pass)
        EXPECT_FALSE(state.Pass(Key(1, 1, 1)).sendTrap);
    EXPECT_EQ(25u, state.Elapsed());

    // StopTrap: the flag drops, the elapsed time and PeriodicallySendingTrap stay.
    const HEARTBEAT_ACTIONS stopped = state.Pass(Key(1, 1, 1, std::nullopt, 1));
    EXPECT_FALSE(stopped.periodicallySending.has_value());
    EXPECT_FALSE(state.Periodic());
    EXPECT_EQ(25u, state.Elapsed());

    // Back on: the elapsed time is not 0 and not past the period: no trap yet.
    EXPECT_FALSE(state.Pass(Key(1, 1, 1)).sendTrap);
    EXPECT_EQ(30u, state.Elapsed());

    // StartTrap removed: the flag stays, the time grows, nothing is sent...
    for (int pass = 0; pass < 10; ++pass) {
        const HEARTBEAT_ACTIONS actions = state.Pass(Key(std::nullopt, 1, 1));
        EXPECT_FALSE(actions.sendTrap);
        EXPECT_FALSE(actions.periodicallySending.has_value());
    }
    EXPECT_EQ(80u, state.Elapsed());
    // ...until it returns: the period has passed meanwhile, so a trap goes out at once.
    EXPECT_TRUE(state.Pass(Key(1, 1, 1)).sendTrap);
    EXPECT_EQ(5u, state.Elapsed());

    // PeriodicTrapEnabled 0 cancels: the time goes back to 0, the next request sends at once.
    EXPECT_FALSE(state.Pass(Key(1, 0, 1)).sendTrap);
    EXPECT_EQ(0u, state.Elapsed());
    EXPECT_TRUE(state.Pass(Key(1, 1, 1)).sendTrap);
}

} // namespace
