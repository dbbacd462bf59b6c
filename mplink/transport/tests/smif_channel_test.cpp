// The AgentX channel against the simulated management processor: the numbers its requests carry,
// what a reply with another number does, and sends the driver answers busy. Each case runs on both
// transports: the direct one, whose requests read their own replies, and the one with the receive
// thread, which hands replies to their waiters.
#include "agentx_pdu.h"
#include "ax_transport.h"
#include "oxbsim_process.h"
#include "pipe_backend.h"
#include "test_support.h"
#include "zdt_ci.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>
#include "transport_test_timeouts.h"

namespace {

// Either transport with the counter of its passthru session requests set where a test needs it.
template <class Base>
class CountedTransport : public Base {
public:
    explicit CountedTransport(uint16_t next) { this->m_Sequence = next; }
};

enum class Kind { Direct, Routed };

const char *Name(Kind kind) { return kind == Kind::Direct ? "direct" : "routed"; }

class SmifChannel : public ::testing::Test {
protected:
    static void SetUpTestSuite() { kdltest::StartTextLog(); }

    void SetUp() override
    {
        ShortenTransportTimeouts();
        AxTransportTimeouts::BusyRetryMs = 10;
        CWorkerThread::StopWaitMs = 5000;
        s_KdlEventSink = nullptr;
    }
    void TearDown() override
    {
        Stop();
        AxTransportTimeouts::BusyRetryMs = 1000;
    }

    // A simulator of its own for each case, and a transport on it.
    bool Start(Kind kind, const std::vector<std::string> &directives = {}, uint16_t counter = 1)
    {
        Stop();
        sim = std::make_unique<OxbSim>(OxbSim::UniqueName("smifchannel"));
        PipeBackendSetName(sim->Name().c_str());
        if (!sim->Start(directives))
            return false;
        ZdtCiInitialize(nullptr);
        if (kind == Kind::Direct)
            transport = std::make_unique<CountedTransport<AXTRANSPORT_SMIF>>(counter);
        else
            transport = std::make_unique<CountedTransport<AXTRANSPORT_TLM>>(counter);
        return true;
    }
    void Stop()
    {
        if (transport) {
            transport.reset();
            ZdtCiTerminate();
        }
        sim.reset();
    }

    // A Register with session 0 and the given packet ID: the scripted master answers it.
    int Register(uint32_t packetId)
    {
        uint8_t request[AGENTX_PDU_BUFFER_SIZE], reply[AGENTX_PDU_BUFFER_SIZE];
        const uint32_t subtree[] = {1, 32473, 1};
        uint8_t oid[32];
        WriteAgentXOid(oid, 4, 0, subtree, 3);
        BuildAgentXRegisterPdu(request, sizeof request, AXPacketType_Register, 0, 0, packetId, 127, oid);
        return transport->Transaction(request, reply);
    }

    // The sequence numbers of the packets of one command the processor received, in order.
    std::vector<uint64_t> Sequences(uint64_t command)
    {
        std::vector<uint64_t> sequences;
        for (const SimRecord &r : sim->Records("packet"))
            if (r.Number("cmd") == command)
                sequences.push_back(r.Number("seq"));
        return sequences;
    }

    std::unique_ptr<OxbSim> sim;
    std::unique_ptr<AXTRANSPORT_SMIF> transport;
};

const Kind kKinds[] = {Kind::Direct, Kind::Routed};

TEST_F(SmifChannel, PassthruSessionRequestsAreNumberedFrom7FFFTo0)
{
    // The counter runs on 16 bits; the number sent is its low 15 bits, so 0x7FFF is followed by 0
    // both where the counter passes 0x7FFF and where it passes 0xFFFF.
    for (Kind kind : kKinds) {
        for (uint16_t counter : {uint16_t{0x7FFE}, uint16_t{0xFFFE}}) {
            SCOPED_TRACE(testing::Message() << Name(kind) << ", counter 0x" << std::hex << counter);
            ASSERT_TRUE(Start(kind, {}, counter));
            ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
            ASSERT_EQ(transport->OpenConnection(), AXResult_Ok) << "the reply numbered 0 was taken as its own";
            EXPECT_TRUE(transport->IsConnected());
            ASSERT_EQ(transport->CloseConnection(), AXResult_Ok);
            EXPECT_FALSE(transport->ResetPending());
            ASSERT_TRUE(sim->WaitForRecords("axpassthru", 4));
            auto passthru = sim->Records("axpassthru");
            const std::vector<std::pair<std::string, uint64_t>> expected = {
                {"open", 0x7FFE}, {"close", 0x7FFF}, {"open", 0}, {"close", 1}};
            ASSERT_EQ(passthru.size(), expected.size());
            for (size_t i = 0; i < expected.size(); ++i) {
                EXPECT_EQ(passthru[i].Get("request"), expected[i].first) << i;
                EXPECT_EQ(passthru[i].Number("seq"), expected[i].second) << i;
            }
            EXPECT_EQ(Sequences(147), (std::vector<uint64_t>{0x7FFE, 0x7FFF, 0, 1}));
        }
    }
}

TEST_F(SmifChannel, AgentXRequestsCarryTheirPacketIdWithBit15Set)
{
    // The low 15 bits follow the packet ID, so 0x7FFF is followed by 0 (0x8000 on the wire); the
    // handshake keeps its own number.
    const uint32_t packetIds[] = {1, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x12345678};
    const std::vector<uint64_t> expected = {0x8001, 0xFFFF, 0x8000, 0xFFFF, 0x8000, 0xD678};
    for (Kind kind : kKinds) {
        SCOPED_TRACE(Name(kind));
        ASSERT_TRUE(Start(kind));
        ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
        for (uint32_t id : packetIds)
            EXPECT_EQ(Register(id), AXResult_Ok) << "packet ID 0x" << std::hex << id;
        ASSERT_TRUE(sim->WaitForRecords("axregister", std::size(packetIds)));
        EXPECT_EQ(Sequences(148), expected);
        EXPECT_EQ(Sequences(2), (std::vector<uint64_t>{0x2BAD}));
        EXPECT_TRUE(transport->IsConnected());
    }
}

TEST_F(SmifChannel, RepliesWithOtherNumbers)
{
    // Packets of the run: 1 the handshake, 2 the passthru session open, 3 and 4 the Registers.
    // The direct transport reads five replies at most: four others and then its own succeed, five
    // others break the channel. The receive thread drops replies nobody waits for.
    struct Case {
        Kind kind;
        uint32_t others;
        bool answered;
    };
    const Case cases[] = {
        {Kind::Direct, 4, true},
        {Kind::Direct, 5, false},
        {Kind::Routed, 4, true},
        {Kind::Routed, 5, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << Name(c.kind) << ", " << c.others << " replies with other numbers");
        ASSERT_TRUE(Start(c.kind, {"on request 4: stale " + std::to_string(c.others)}));
        ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
        ASSERT_EQ(Register(1), AXResult_Ok);
        if (c.answered) {
            EXPECT_EQ(Register(2), AXResult_Ok);
            EXPECT_TRUE(transport->IsConnected());
            EXPECT_TRUE(transport->Channel()->IsUsable());
            continue;
        }
        EXPECT_EQ(Register(2), AXResult_GenErr);
        EXPECT_FALSE(transport->Channel()->IsUsable()) << "marked for a reopen";
        EXPECT_FALSE(transport->IsConnected());
        // Refused at once until the channel is reopened; the reopen drains what is left.
        size_t sent = Sequences(148).size();
        EXPECT_EQ(Register(3), AXResult_NotOpen);
        EXPECT_EQ(Sequences(148).size(), sent);
        ASSERT_EQ(transport->RestartConnection(), AXResult_Ok);
        EXPECT_EQ(Register(4), AXResult_Ok);
    }
}

TEST_F(SmifChannel, BusySendsAreRetriedTenTimes)
{
    // Packet 2 (the passthru session open) leaves that many busy answers for the sends that follow:
    // the Register is sent up to eleven times, ten pauses apart.
    struct Case {
        uint32_t busy;
        bool sent;
        bool retryLine;
    };
    const Case cases[] = {{3, true, false}, {10, true, true}, {11, false, true}};
    for (Kind kind : kKinds) {
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << Name(kind) << ", " << c.busy << " busy answers");
            ASSERT_TRUE(Start(kind, {"on request 2: busy " + std::to_string(c.busy)}));
            ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
            std::wstring before = kdltest::ReadTextLog();
            EXPECT_EQ(Register(7), c.sent ? AXResult_Ok : AXResult_GenErr);
            std::wstring added = kdltest::ReadTextLog().substr(before.size());
            const std::wstring status = c.sent ? L"0" : L"20";
            EXPECT_EQ(added.find(L"|AXSMIFCHANNEL::Send|, AXSMIFCHANNEL::ZdtCiSend retry 10 times (" + status + L") \r\n") !=
                          std::wstring::npos,
                      c.retryLine);
            EXPECT_EQ(added.find(L"|AXSMIFCHANNEL::Send|, AXSMIFCHANNEL::Send: [") != std::wstring::npos, !c.sent);
            EXPECT_EQ(Sequences(148).size(), c.sent ? 1u : 0u);
            EXPECT_EQ(transport->Channel()->IsUsable(), c.sent) << "a send that stayed busy marks the channel";
            if (!c.sent) {
                ASSERT_EQ(transport->RestartConnection(), AXResult_Ok);
                EXPECT_EQ(Register(8), AXResult_Ok);
            }
        }
    }
}

} // namespace
