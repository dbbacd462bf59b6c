// The sub-agent's link to the scheduler: who registers, which result counts, what a trigger hits.
#include "agentx_scheduler_link.h"
#include "datacollector.h"
#include "scheduler.h"

#include <gtest/gtest.h>

namespace {

class CountingCollector : public DATACOLLECTOR {
public:
    CountingCollector(const wchar_t *name, const int *enable, int result)
        : DATACOLLECTOR(name, 0, 1, 0, enable), m_Result(result)
    {
    }
    int Register(AXSESSION *session) override
    {
        ++calls;
        seen = session;
        return m_Result;
    }
    int calls = 0;
    AXSESSION *seen = nullptr;

private:
    int m_Result;
};

class NoTransport : public AXTRANSPORT {
public:
    int OpenConnection() override { return 257; }
    int RestartConnection() override { return 257; }
    int CloseConnection() override { return 0; }
    bool IsConnected() override { return false; }
    int Transaction(const uint8_t *, uint8_t *) override { return 257; }
    int Receive(uint8_t *) override { return 300; }
    int Send(const uint8_t *) override { return 257; }
};

TEST(AgentXSchedulerLink, EnabledCollectorsRegisterInOrderAndTheLastFailureCounts)
{
    int on = 1, off = 0;
    CountingCollector first(L"ZDTSTDEQ", &on, 0), disabled(L"ZDTIDE", &off, 9), failing(L"ZDTSCSI", &on, 7),
        last(L"ZDTSAS", nullptr, 0);
    DATACOLLECTOR *list[] = {&first, &disabled, &failing, &last, nullptr};
    SetCollectorList(list);
    NoTransport transport;
    AXSESSION session(&transport, nullptr, "test");
    AGENTX_SCHEDULER_LINK link;
    EXPECT_EQ(link.RegisterCollectors(session), 7);
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(disabled.calls, 0);
    EXPECT_EQ(failing.calls, 1);
    EXPECT_EQ(last.calls, 1);
    EXPECT_EQ(last.seen, &session);

    // Trigger names match without case; an unknown name triggers nothing.
    link.TriggerCollection("zdtscsi", 120);
    link.TriggerCollection("MIB-2", 120);
    EXPECT_TRUE(failing.IsTriggered());
    EXPECT_FALSE(first.IsTriggered());
    EXPECT_FALSE(last.IsTriggered());
    SetCollectorList(nullptr);
}

} // namespace
