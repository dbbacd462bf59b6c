// The host collector's registrations, its heartbeat thread and the test trap.
#include "host_test_support.h"
#include "zdthost_collector.h"

#include "registry.h"
#include "scheduler.h"
#include "service_parameters.h"
#include "traps.h"

#include <gtest/gtest.h>

using namespace hosttest;

namespace {

TEST(ZdtHostRegisterTest, EveryRegionIsTriedAndTheLastFailureReturned)
{
    const std::vector<std::string> regions = {".11.1",      ".11.2.1",    ".11.2.2",    ".11.2.4",   ".11.2.6",
                                              ".11.2.7",    ".11.2.10.1", ".11.2.10.7", ".11.2.13"};
    struct {
        const char *what;
        std::vector<std::pair<std::string, int>> refusals;
        int result;
    } cases[] = {
        {"all accepted", {}, 0},
        {"file systems refused midway", {{".11.2.4", 263}}, 263},
        {"two refused: the later one counts", {{".11.2.2", 261}, {".11.2.13", 265}}, 265},
        {"an earlier failure after a later code", {{".11.1", 266}, {".11.2.10.1", 5}}, 5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RecordingSession session;
        const std::string arc = OidText(EnterpriseOid({}));
        session.answer = RefuseSubtrees(c.refusals);
        EXPECT_EQ(c.result, s_ZDTHOSTDataCollector.Register(&session));
        ASSERT_EQ(regions.size(), session.pdus.size());
        for (size_t i = 0; i < regions.size(); ++i) {
            const RECORDED_PDU &pdu = session.pdus[i];
            SCOPED_TRACE(regions[i]);
            EXPECT_EQ(AXPacketType_Register, pdu.type);
            EXPECT_EQ(arc + regions[i], OidText(pdu.subtree));
            EXPECT_EQ(127, pdu.priority);
            // Only the two status objects are single instances.
            EXPECT_EQ(regions[i].rfind(".11.2.10.", 0) == 0 ? AXFlag_InstanceRegistration : 0,
                      pdu.flags & AXFlag_InstanceRegistration);
        }
    }
}

// The heartbeat key empty, the trap queue fresh, and a short pass.
class HeartbeatTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kHeartbeatKey);
        HEARTBEAT_TIMING::PassMs = 10;
        HEARTBEAT_TIMING::StopWaitMs = 30000;
        InitTraps();
    }
    void TearDown() override
    {
        s_ZDTHOSTDataCollector.Terminate();
        TermTraps();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kHeartbeatKey);
        HEARTBEAT_TIMING::PassMs = 5000;
    }

    static void Set(const wchar_t *name, DWORD value)
    {
        ASSERT_TRUE(CRegistry(HKEY_LOCAL_MACHINE, kHeartbeatKey).SetDword(name, value));
    }
    static std::optional<DWORD> Get(const wchar_t *name)
    {
        DWORD value = 0;
        if (!CRegistry(HKEY_LOCAL_MACHINE, kHeartbeatKey, KEY_READ).GetDword(name, &value))
            return std::nullopt;
        return value;
    }
    // Waits for the condition for up to half a minute.
    static bool WaitFor(const std::function<bool()> &condition)
    {
        for (int i = 0; i < 3000; ++i) {
            if (condition())
                return true;
            Sleep(10);
        }
        return condition();
    }
};

TEST_F(HeartbeatTest, PeriodicTrapsCarryTheTestText)
{
    Set(L"StartTrap", 1);
    Set(L"PeriodicTrapEnabled", 1);
    Set(L"Timeout", 0);
    ASSERT_TRUE(CRegistry(HKEY_LOCAL_MACHINE, kHeartbeatKey).SetString(L"TimeFmt", L"Seconds"));
    s_ZDTHOSTDataCollector.Initialize();
    ASSERT_TRUE(s_ZDTHOSTDataCollector.HeartbeatRunning());
    // A period of 0: a trap every pass.
    ASSERT_TRUE(WaitFor([] { return QueuedTrapCount() >= 3; }));
    EXPECT_EQ(std::optional<DWORD>(1), Get(L"PeriodicallySendingTrap"));

    RecordingSession session;
    ASSERT_EQ(0, SendOneTrap(&session));
    ASSERT_EQ(1u, session.pdus.size());
    const std::vector<VARBIND> &varbinds = session.pdus[0].varbinds;
    ASSERT_EQ(4u, varbinds.size());
    EXPECT_EQ(".1.3.6.1.6.3.1.1.4.1.0", OidText(varbinds[0].name));
    EXPECT_EQ(OidText(EnterpriseOid({0, 11003})), OidText(varbinds[0].oid));
    EXPECT_EQ(".1.3.6.1.2.1.1.5.0", OidText(varbinds[1].name));
    char name[260] = {};
    DWORD size = sizeof name;
    ASSERT_TRUE(GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, name, &size));
    EXPECT_EQ(name, varbinds[1].text);
    EXPECT_EQ(OidText(EnterpriseOid({11, 2, 11, 1, 0})), OidText(varbinds[2].name));
    EXPECT_EQ(MIBTYPE_INTEGER, varbinds[2].type);
    EXPECT_EQ(0, varbinds[2].integer);
    EXPECT_EQ(OidText(EnterpriseOid({11, 2, 8, 1, 0})), OidText(varbinds[3].name));
    EXPECT_EQ("Remote Pelinor Test Trap", varbinds[3].text);
}

TEST_F(HeartbeatTest, KeyStatesWithoutTraps)
{
    struct {
        const char *what;
        std::vector<std::pair<const wchar_t *, DWORD>> values;
        std::optional<DWORD> periodicallySending;
        std::optional<DWORD> startTrapEcho;
    } cases[] = {
        {"an empty key", {}, 0, std::nullopt},
        {"a request without periodic sending", {{L"StartTrap", 1}, {L"PeriodicTrapEnabled", 0}, {L"Timeout", 1}}, 0, 0},
        {"periodic without Timeout", {{L"StartTrap", 1}, {L"PeriodicTrapEnabled", 1}}, 1, std::nullopt},
        // PeriodicallySendingTrap keeps what it was.
        {"stopped", {{L"StopTrap", 1}, {L"StartTrap", 1}, {L"PeriodicTrapEnabled", 1}, {L"Timeout", 0},
                     {L"PeriodicallySendingTrap", 7}}, 7, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kHeartbeatKey);
        for (const auto &[name, value] : c.values)
            Set(name, value);
        s_ZDTHOSTDataCollector.Initialize();
        // The thread creates the key when it is missing.
        EXPECT_TRUE(WaitFor([&] { return Get(L"PeriodicallySendingTrap") == c.periodicallySending; }));
        Sleep(100);
        s_ZDTHOSTDataCollector.Terminate();
        EXPECT_EQ(c.periodicallySending, Get(L"PeriodicallySendingTrap"));
        EXPECT_EQ(c.startTrapEcho, Get(L"nStartTrap"));
        EXPECT_EQ(0u, QueuedTrapCount());
        for (const auto &[name, value] : c.values)
            EXPECT_EQ(std::optional<DWORD>(value), Get(name)) << "the thread writes only its own values";
    }
}

TEST_F(HeartbeatTest, TerminateStopsTheThreadAtOnce)
{
    HEARTBEAT_TIMING::PassMs = 60000;
    s_ZDTHOSTDataCollector.Initialize();
    ASSERT_TRUE(s_ZDTHOSTDataCollector.HeartbeatRunning());
    Sleep(50);
    // The thread waits on its stop event, so it ends long before the 30 s that would lead to
    // termination.
    const ULONGLONG start = GetTickCount64();
    s_ZDTHOSTDataCollector.Terminate();
    EXPECT_LT(GetTickCount64() - start, 15000u);
    EXPECT_FALSE(s_ZDTHOSTDataCollector.HeartbeatRunning());
    // A second Terminate has nothing left to do.
    s_ZDTHOSTDataCollector.Terminate();
}

TEST_F(HeartbeatTest, NoTrapWhileTrapsAreDisabled)
{
    const SERVICE_PARAMETERS saved = s_ServiceParameters;
    s_ServiceParameters.EnableTraps = 0;
    RecordingSession session;
    s_ZDTHOSTDataCollector.SendZdtHoTestTrap(11003, "text");
    EXPECT_EQ(0u, QueuedTrapCount());
    s_ServiceParameters = saved;
    // Another number carries no text.
    s_ZDTHOSTDataCollector.SendZdtHoTestTrap(11004, "text");
    ASSERT_EQ(0, SendOneTrap(&session));
    ASSERT_EQ(1u, session.pdus.size());
    ASSERT_EQ(3u, session.pdus[0].varbinds.size());
    EXPECT_EQ(OidText(EnterpriseOid({0, 11004})), OidText(session.pdus[0].varbinds[0].oid));
}

TEST(ZdtHostInitializeTest, MakesTheSoftwareInventoryDue)
{
    HEARTBEAT_TIMING::PassMs = 60000;
    ASSERT_TRUE(StampSoftwareCollection(true));
    ASSERT_FALSE(IsSoftwareCollectionDue());
    s_ZDTHOSTDataCollector.Initialize();
    EXPECT_TRUE(IsSoftwareCollectionDue());
    EXPECT_EQ(1, s_ZDTHOSTDataCollector.Condition());
    s_ZDTHOSTDataCollector.Terminate();
}

} // namespace
