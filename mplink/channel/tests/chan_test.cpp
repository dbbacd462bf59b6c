// Chan objects against the simulated management processor, as the black-box service uses them.
#include "chan.h"
#include "channel_test_util.h"
#include "oxbsim_process.h"
#include "pipe_backend.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr DWORD kReplySize = 592;
constexpr uint32_t kFeederService = 2;
constexpr uint32_t kOpenSource = 13;

class ChanLayer : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (m_Initialized)
            ChanTerminate();
    }

    // Starts the simulator, then the layer (whose first call looks for the driver).
    bool Start(const std::vector<std::string> &directives = {})
    {
        PipeBackendSetName(sim.Name().c_str());
        if (!sim.Start(directives))
            return false;
        ChanInitialize(nullptr);
        m_Initialized = true;
        return true;
    }

    CI_CHANNEL *Create()
    {
        CI_CHANNEL *channel = nullptr;
        EXPECT_EQ(ChanCreate(&channel), static_cast<DWORD>(ERROR_SUCCESS));
        return channel;
    }

    // One request of the health log service; the reply lands in m_Reply.
    DWORD Transaction(CI_CHANNEL *channel, uint16_t sequence)
    {
        std::vector<uint8_t> request = BlackboxRequest(sequence, kFeederService, kOpenSource);
        m_Reply.assign(kReplySize, 0xCC);
        return ChanTransaction(channel, request.data(), m_Reply.data(), kReplySize);
    }

    uint16_t ReplySequence() const { return static_cast<uint16_t>(m_Reply[2] | m_Reply[3] << 8); }

    OxbSim sim{OxbSim::UniqueName("chan")};
    std::vector<uint8_t> m_Reply;
    // Short enough for tests, long enough for Wine.
    ScopedValue<DWORD> m_ReplyWait{ChanTimeouts::DefaultReplyWaitMs, 3000};
    ScopedValue<DWORD> m_ReopenPause{ChanTimeouts::ReopenPauseMs, 50};
    ScopedValue<DWORD> m_BusyPause{ChanTimeouts::BusyPauseMs, 10};

private:
    bool m_Initialized = false;
};

TEST_F(ChanLayer, TheFirstTransactionOpensTheChannelAndDrainsStalePackets)
{
    struct Case {
        uint32_t stale;
        DWORD result;
    };
    // Eight are drained; what is left is read as replies of other sequences, five at most.
    const Case cases[] = {{0, ERROR_SUCCESS}, {8, ERROR_SUCCESS}, {9, ERROR_SUCCESS}, {13, ERROR_BROKEN_PIPE}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.stale << " stale packets");
        OxbSim local(OxbSim::UniqueName("drain"));
        PipeBackendSetName(local.Name().c_str());
        ASSERT_TRUE(local.Start({"on open 1: stale " + std::to_string(c.stale)}));
        ChanInitialize(nullptr);
        CI_CHANNEL *channel = nullptr;
        ASSERT_EQ(ChanCreate(&channel), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(ChanNeedsReset(channel), 1u) << "no driver channel before the first transaction";

        EXPECT_EQ(Transaction(channel, 1), c.result);
        ASSERT_TRUE(local.WaitForRecords("packet", 1));
        std::vector<SimRecord> records = local.Records();
        auto open = std::find_if(records.begin(), records.end(), [](const SimRecord &r) { return r.verb == "open"; });
        auto packet = std::find_if(records.begin(), records.end(), [](const SimRecord &r) { return r.verb == "packet"; });
        ASSERT_NE(open, records.end());
        ASSERT_NE(packet, records.end());
        EXPECT_LT(open, packet) << "the channel was opened before the request went out";
        EXPECT_EQ(open->Get("send"), "2x4096");
        EXPECT_EQ(open->Get("receive"), "2x4096");
        if (c.result == ERROR_SUCCESS) {
            EXPECT_EQ(ReplySequence(), 1u);
            EXPECT_EQ(m_Reply[8], 1u) << "the source handle";
        }
        ChanTerminate();
    }
}

TEST_F(ChanLayer, StaleRepliesAreSkippedUntilTheMatchingOne)
{
    ASSERT_TRUE(Start({"on request 1: stale 2", "on request 2: stale 4"}));
    CI_CHANNEL *channel = Create();
    for (uint16_t sequence : {1, 2}) {
        EXPECT_EQ(Transaction(channel, sequence), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(ReplySequence(), sequence);
    }
    EXPECT_EQ(ChanNeedsReset(channel), 0u);
}

TEST_F(ChanLayer, FiveStaleRepliesMarkTheChannelUntilItIsReset)
{
    ASSERT_TRUE(Start({"on request 2: stale 5"}));
    CI_CHANNEL *channel = Create();
    ASSERT_EQ(Transaction(channel, 1), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(Transaction(channel, 2), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    EXPECT_EQ(ChanNeedsReset(channel), 1u);

    // Refused at once, without a request.
    Stopwatch watch;
    EXPECT_EQ(Transaction(channel, 3), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    EXPECT_LT(watch.ElapsedMs(), 1000u);
    ASSERT_TRUE(sim.WaitForRecords("packet", 2));
    Sleep(200);
    EXPECT_EQ(sim.Records("packet").size(), 2u) << "the refused request never went out";

    // The driver still calls the channel healthy: the reset keeps it, drains it and clears the mark.
    EXPECT_EQ(ChanReset(channel), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ChanNeedsReset(channel), 0u);
    EXPECT_EQ(sim.Records("attach").size(), 1u);
    EXPECT_EQ(Transaction(channel, 4), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReplySequence(), 4u);
}

TEST_F(ChanLayer, ABusyDriverIsAskedAgainTenTimes)
{
    struct Case {
        uint32_t busy;
        DWORD result;
    };
    const Case cases[] = {{3, ERROR_SUCCESS}, {10, ERROR_SUCCESS}, {11, ERROR_BUSY}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.busy << " busy answers");
        OxbSim local(OxbSim::UniqueName("busy"));
        PipeBackendSetName(local.Name().c_str());
        ASSERT_TRUE(local.Start({"on request 1: busy " + std::to_string(c.busy)}));
        ChanInitialize(nullptr);
        CI_CHANNEL *channel = nullptr;
        ASSERT_EQ(ChanCreate(&channel), static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_EQ(Transaction(channel, 1), static_cast<DWORD>(ERROR_SUCCESS));

        EXPECT_EQ(Transaction(channel, 2), c.result);
        bool sent = c.result == ERROR_SUCCESS;
        EXPECT_EQ(local.Records("packet").size(), sent ? 2u : 1u) << "each request goes out once at most";
        EXPECT_EQ(ChanNeedsReset(channel), sent ? 0u : 1u);
        ChanTerminate();
    }
}

TEST_F(ChanLayer, AReplyLargerThanTheBufferIsRefusedAndLeavesNothingBehind)
{
    ASSERT_TRUE(Start({"on request 1: oversize 700"}));
    CI_CHANNEL *channel = Create();
    EXPECT_EQ(Transaction(channel, 1), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(ChanNeedsReset(channel), 0u);
    EXPECT_EQ(Transaction(channel, 2), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReplySequence(), 2u);
}

TEST_F(ChanLayer, AReplyShorterThanItsSizeIsRefusedUnlessItIsAShortReply)
{
    struct Case {
        const char *fault;
        DWORD result;
    };
    const Case cases[] = {
        {"truncate 100", ERROR_INVALID_DATA},
        {"truncate 5", ERROR_INVALID_DATA},
        {"short 100", ERROR_SUCCESS},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fault);
        OxbSim local(OxbSim::UniqueName("short"));
        PipeBackendSetName(local.Name().c_str());
        ASSERT_TRUE(local.Start({std::string("on request 1: ") + c.fault}));
        ChanInitialize(nullptr);
        CI_CHANNEL *channel = nullptr;
        ASSERT_EQ(ChanCreate(&channel), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(Transaction(channel, 1), c.result);
        if (c.result == ERROR_SUCCESS) {
            EXPECT_TRUE(std::all_of(m_Reply.begin() + 100, m_Reply.end(), [](uint8_t b) { return b == 0; }))
                << "what the reply did not fill is zero, not what the buffer held before";
        }
        ChanTerminate();
    }
}

TEST_F(ChanLayer, AMissingReplyEndsTheTransactionAfterTheTimeOut)
{
    ASSERT_TRUE(Start({"on request 1: noreply"}));
    CI_CHANNEL *channel = Create();
    channel->TimeoutMs = 400;
    Stopwatch watch;
    EXPECT_EQ(Transaction(channel, 1), static_cast<DWORD>(ERROR_NO_DATA));
    EXPECT_GE(watch.ElapsedMs() + 20, 400u);
    EXPECT_EQ(ChanNeedsReset(channel), 0u);
}

TEST_F(ChanLayer, AClosedPipeMarksTheChannelAndTheResetOpensANewOne)
{
    ASSERT_TRUE(Start({"on request 2: close"}));
    CI_CHANNEL *channel = Create();
    ASSERT_EQ(Transaction(channel, 1), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(Transaction(channel, 2), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    EXPECT_EQ(ChanNeedsReset(channel), 1u);

    EXPECT_EQ(ChanReset(channel), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ChanNeedsReset(channel), 0u);
    EXPECT_EQ(sim.Records("attach").size(), 2u) << "a new driver channel";
    EXPECT_EQ(Transaction(channel, 3), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReplySequence(), 3u);
}

TEST_F(ChanLayer, AResetOfAHealthyChannelTouchesNothing)
{
    ASSERT_TRUE(Start());
    CI_CHANNEL *channel = Create();
    ASSERT_EQ(Transaction(channel, 1), static_cast<DWORD>(ERROR_SUCCESS));
    size_t controls = sim.Records("control").size();
    EXPECT_EQ(ChanReset(channel), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(sim.Records("control").size(), controls);
    EXPECT_EQ(sim.Records("attach").size(), 1u);
}

TEST_F(ChanLayer, AChannelTheDriverCannotGiveIsRefusedAtOnce)
{
    ASSERT_TRUE(Start({"channels 1"}));
    CI_CHANNEL *first = Create();
    CI_CHANNEL *second = Create();
    ASSERT_EQ(Transaction(first, 1), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(Transaction(second, 1), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_EQ(ChanNeedsReset(second), 1u);
    EXPECT_EQ(sim.Records("packet").size(), 1u);
}

TEST_F(ChanLayer, ArgumentsAndObjectsAreCheckedBeforeAnythingIsSent)
{
    std::vector<uint8_t> request = BlackboxRequest(1, kFeederService, kOpenSource);
    uint8_t reply[kReplySize];
    CI_CHANNEL *channel = nullptr;
    EXPECT_EQ(ChanCreate(&channel), static_cast<DWORD>(ERROR_NOT_READY));

    ASSERT_TRUE(Start());
    EXPECT_EQ(ChanCreate(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    channel = Create();
    CI_CHANNEL foreign;
    foreign.Magic = 0x12345678;
    std::vector<uint8_t> headerless = request;
    PutU16(headerless.data(), 7);

    struct Case {
        const char *what;
        CI_CHANNEL *channel;
        const void *request;
        void *reply;
        DWORD size;
    };
    const Case cases[] = {
        {"no channel", nullptr, request.data(), reply, kReplySize},
        {"a channel of no layer", &foreign, request.data(), reply, kReplySize},
        {"no request", channel, nullptr, reply, kReplySize},
        {"no reply buffer", channel, request.data(), nullptr, kReplySize},
        {"a reply buffer of 7 bytes", channel, request.data(), reply, 7},
        {"a request shorter than its header", channel, headerless.data(), reply, kReplySize},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ChanTransaction(c.channel, c.request, c.reply, c.size), static_cast<DWORD>(ERROR_INVALID_PARAMETER))
            << c.what;
    for (CI_CHANNEL *bad : {static_cast<CI_CHANNEL *>(nullptr), &foreign}) {
        EXPECT_EQ(ChanNeedsReset(bad), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(ChanReset(bad), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(ChanDestroy(bad), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(foreign.Magic, 0x12345678u);
    EXPECT_TRUE(sim.Records("connect").empty()) << "nothing was opened";

    EXPECT_EQ(ChanDestroy(channel), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ChanDestroy(channel), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "destroyed twice";
}

TEST_F(ChanLayer, TheLastTerminateDestroysTheChannelsAndClosesTheirDriverChannels)
{
    ASSERT_TRUE(Start());
    ChanInitialize(nullptr); // the second user, as the black-box service is
    CI_CHANNEL *channel = Create();
    ASSERT_EQ(Transaction(channel, 1), static_cast<DWORD>(ERROR_SUCCESS));
    ChanTerminate();
    EXPECT_EQ(ChanNeedsReset(channel), 0u) << "still alive after the first of two terminates";
    ChanTerminate();
    EXPECT_TRUE(sim.WaitForRecords("closed", 1));
    CI_CHANNEL *after = nullptr;
    EXPECT_EQ(ChanCreate(&after), static_cast<DWORD>(ERROR_NOT_READY));
    ChanTerminate(); // below zero: put back
    ChanInitialize(nullptr);
    EXPECT_EQ(ChanCreate(&after), static_cast<DWORD>(ERROR_SUCCESS));
}

} // namespace
