// What the "AgentX" thread's reset announcement sets off, with the sub-agent and the black box on
// one simulated processor: the Black Box thread registers its feeders again, uploads its
// descriptors again and asks the collectors for everything again, and the collectors post their
// inventories into the processor's log once more. The collectors' part is played by the black
// box's trigger: the first collection posts the software inventory, and every collection of the
// host group that the black box asks for posts it again.
#include "agentx_pdu.h"
#include "blackbox_fixture.h"
#include "datastore.h"
#include "enterprise_arc.h"
#include "subagent.h"
#include "traps.h"
#include "zdt_ci.h"

#include "transport_test_timeouts.h"

#include <cwchar>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

class OneRegionScheduler : public AGENTX_SCHEDULER {
public:
    int RegisterCollectors(AXSESSION &session) override
    {
        const uint32_t ids[] = {1, ENTERPRISE_NUMBER, 11};
        uint8_t oid[32];
        WriteAgentXOid(oid, 4, 0, ids, 3);
        return session.Register(oid, 127);
    }
    void TriggerCollection(const char *, uint32_t) override {}
};

// The collectors as the black box sees them.
struct InventoryCollectors {
    static inline std::mutex Lock;
    static inline std::vector<std::wstring> Asked;

    static void PostInventory()
    {
        EXPECT_EQ(PostSoftwareRecord(kBlackboxCodeSoftware, 0, "Maker", "Inventory", "1.0", "2026"), 1);
    }
    static void Trigger(const wchar_t *group, int)
    {
        {
            std::lock_guard<std::mutex> hold(Lock);
            Asked.emplace_back(group);
        }
        if (wcscmp(group, L"ZDTHOST") == 0)
            PostInventory();
    }
    static std::vector<std::wstring> TakeAsked()
    {
        std::lock_guard<std::mutex> hold(Lock);
        return std::exchange(Asked, {});
    }
};

void NeverRestart(const wchar_t *) { ADD_FAILURE() << "the service was to be restarted"; }

struct Case {
    const char *name;
    const char *directive;  // what goes wrong with the AgentX session
    bool announced;         // whether the session's return announces a reset
};

const Case kCases[] = {
    // A Ping the master leaves unanswered: the session is closed and opened again at once.
    {"FailedPingThenReopened", "agentx ignore-ping 1", false},
    // An Open the master refuses: the session comes back with the next attempt.
    {"FailedOpenThenOpened", "agentx refuse-open 1", true},
};

class ResetAnnouncement : public BlackboxTest, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override
    {
        s_ServiceParameters = SERVICE_PARAMETERS{};
        BlackboxTest::SetUp();
        // An idle line is pinged soon; an answer may take its time on a busy machine, so that only
        // the Ping the master leaves unanswered fails.
        ShortenTransportTimeouts();
        AxTransportTimeouts::QueueWaitMs = 300;
        AgentXThreadTimeouts::OpenRetryMs = 100;
        s_KdlEventSink = nullptr;
        s_AgentXRestartLauncher = &NeverRestart;
        s_AgentXScheduler = &scheduler;
        s_BlackBoxTrigger = &InventoryCollectors::Trigger;
        InventoryCollectors::TakeAsked();
        WriteRecordedSessionId(0);
        ASSERT_TRUE(InitDataStores());
        s_DataStore = new DATASTORE(true);
        InitTraps();
    }
    void TearDown() override
    {
        if (agentx)
            StopAgentX();
        TermBlackBox();
        TermTraps();
        TermDataStores();
        s_AgentXScheduler = nullptr;
        ZdtCiTerminate();
    }

    size_t InventoryPosts() const
    {
        size_t posts = 0;
        for (const SimRecord &record : Records("bbdata"))
            if (record.Number("code") == kBlackboxCodeSoftware)
                ++posts;
        return posts;
    }

    // True once the master has seen the given number of Opens and has answered a Ping after the
    // last one: the "AgentX" thread went past its recovery step with the session it opened last.
    bool WaitForAnsweredPingAfterOpen(size_t opens)
    {
        return WaitUntil([&] {
            size_t seen = 0;
            bool answered = false;
            for (const SimRecord &r : sim.Records()) {
                if (r.verb == "axopen") {
                    ++seen;
                    answered = false;
                } else if (r.verb == "axping" && r.Get("answered") == "1") {
                    answered = true;
                }
            }
            return seen == opens && answered;
        });
    }

    OneRegionScheduler scheduler;
    bool agentx = false;
};

TEST_P(ResetAnnouncement, OnlyASessionBackAfterAFailedOpenMakesTheBlackBoxRegisterAndTheInventoryPostAgain)
{
    const Case &c = GetParam();
    ASSERT_TRUE(StartSim({c.directive}));
    ASSERT_TRUE(InitBlackBox());
    // The first collection's inventory, sent under the black box's first registration.
    InventoryCollectors::PostInventory();
    ASSERT_TRUE(sim.WaitForRecords("bbdata", 1));
    const size_t sources = Count("bbsource"), feeders = Count("bbfeeder"), descriptors = Count("bbdesc");
    ASSERT_EQ(feeders, 2u);

    ZdtCiInitialize(nullptr);
    agentx = StartAgentX();
    ASSERT_TRUE(agentx);
    ASSERT_TRUE(WaitForAnsweredPingAfterOpen(2));
    if (c.announced) {
        ASSERT_TRUE(WaitUntil([&] { return InventoryPosts() == 2; })) << "the inventory was not asked for again";
    }
    // Two more wakes of the Black Box thread: an announcement made by now was taken up at the
    // first of them at the latest, and what it set off was sent before the second.
    const size_t wakes = Count("bbcleared");
    ASSERT_TRUE(WaitUntil([&] { return Count("bbcleared") >= wakes + 2; }));

    // The session went the way the case says.
    const std::vector<SimRecord> opens = Records("axopen");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].Number("error") != 0, c.announced) << "the first open was refused";
    EXPECT_EQ(opens[1].Number("error"), 0u);
    size_t unanswered = 0;
    for (const SimRecord &ping : Records("axping"))
        unanswered += ping.Get("answered") == "0" ? 1 : 0;
    EXPECT_EQ(unanswered, c.announced ? 0u : 1u);

    const size_t again = c.announced ? 1 : 0;
    EXPECT_EQ(Count("bbunregister"), 2 * again);
    EXPECT_EQ(Count("bbsource"), sources + again);
    EXPECT_EQ(Count("bbfeeder"), feeders + 2 * again);
    EXPECT_EQ(Count("bbdesc"), descriptors + 96 * again);
    EXPECT_EQ(InventoryPosts(), 1 + again) << "inventory records in the processor's log";
    const std::vector<std::wstring> asked = InventoryCollectors::TakeAsked();
    EXPECT_EQ(asked, c.announced ? std::vector<std::wstring>({L"ZDTHOST", L"MIB-2"}) : std::vector<std::wstring>());
    for (const wchar_t *relog : {L"RelogBBForOsInfo", L"RelogBBForSwOs", L"RelogBBForServiceDriver"})
        EXPECT_EQ(VolatileValue(relog), c.announced) << std::string(relog, relog + wcslen(relog));
}

INSTANTIATE_TEST_SUITE_P(Session, ResetAnnouncement, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

} // namespace
