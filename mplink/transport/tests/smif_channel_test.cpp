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

#include <cstdio>
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

    // The numbers of the replies the processor wrote for its ordinal-th packet, in order, once it
    // has recorded count of them: it records a reply after writing it, so perhaps after the
    // transport has taken it. Fewer when they are not all there within a generous deadline.
    std::vector<uint64_t> RepliesTo(uint64_t ordinal, size_t count)
    {
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            std::vector<uint64_t> sequences;
            for (const SimRecord &r : sim->Records("reply"))
                if (r.Number("n") == ordinal && r.Number("written") == 1)
                    sequences.push_back(r.Number("seq"));
            if (sequences.size() >= count || GetTickCount64() - start >= 30000)
                return sequences;
            Sleep(20);
        }
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

// Every kind of PDU the service sends, with a given packet ID. Requests go through Transaction and
// are answered; a Response leaves through Send and is not.
struct PduKind {
    const char *name;
    size_t (*build)(uint8_t *buffer, uint32_t packetId);
    bool response;
};

size_t SubagentOid(uint8_t *oid)
{
    const uint32_t subtree[] = {1, 32473, 1};
    return WriteAgentXOid(oid, 4, 0, subtree, 3);
}

const PduKind kPduKinds[] = {
    {"Open",
     [](uint8_t *b, uint32_t id) {
         uint8_t oid[32];
         SubagentOid(oid);
         return BuildAgentXOpenPdu(b, AGENTX_PDU_BUFFER_SIZE, id, 60, oid, "numbering");
     },
     false},
    {"Register",
     [](uint8_t *b, uint32_t id) {
         uint8_t oid[32];
         SubagentOid(oid);
         return BuildAgentXRegisterPdu(b, AGENTX_PDU_BUFFER_SIZE, AXPacketType_Register, 0, 1, id, 127, oid);
     },
     false},
    {"Ping", [](uint8_t *b, uint32_t id) { return BuildAgentXPingPdu(b, AGENTX_PDU_BUFFER_SIZE, 1, id); }, false},
    {"Notify", [](uint8_t *b, uint32_t id) { return BuildAgentXNotifyPdu(b, AGENTX_PDU_BUFFER_SIZE, 1, id, 0, nullptr); },
     false},
    {"Close",
     [](uint8_t *b, uint32_t id) {
         return BuildAgentXClosePdu(b, AGENTX_PDU_BUFFER_SIZE, 1, id, AXCloseReason_Shutdown);
     },
     false},
    {"Response",
     [](uint8_t *b, uint32_t id) {
         AGENTX_HEADER request;
         request.type = AXPacketType_Get;
         request.sessionId = 1;
         request.packetId = id;
         return BeginAgentXResponse(b, AGENTX_PDU_BUFFER_SIZE, request, 0, 0);
     },
     true},
};

// The requests whose replies are matched by number, and the numbers their replies may wrongly carry
// next to the wrap: the neighbours of the request's own number (0x7FFF and 0 being neighbours) and
// the same low 15 bits with bit 15 flipped, which is what a count to 0x10000 instead of 0x8000
// produces.
enum class Numbered { PassthruOpen, PassthruClose, AgentX };

const char *Name(Numbered request)
{
    return request == Numbered::PassthruOpen    ? "passthru open"
           : request == Numbered::PassthruClose ? "passthru close"
                                                : "AgentX request";
}

struct WrongNumber {
    Numbered request;
    uint16_t number; // the request's own number on the wire
    uint16_t wrong;  // the number its reply carries instead
};

const WrongNumber kWrongNumbers[] = {
    {Numbered::PassthruOpen, 0x7FFF, 0x7FFE},
    {Numbered::PassthruOpen, 0x7FFF, 0x0000},
    {Numbered::PassthruOpen, 0x7FFF, 0xFFFF},
    {Numbered::PassthruOpen, 0x7FFF, 0x8000},
    {Numbered::PassthruOpen, 0x0000, 0x7FFF},
    {Numbered::PassthruOpen, 0x0000, 0x0001},
    {Numbered::PassthruOpen, 0x0000, 0x8000},
    {Numbered::PassthruClose, 0x7FFF, 0x7FFE},
    {Numbered::PassthruClose, 0x7FFF, 0x0000},
    {Numbered::PassthruClose, 0x7FFF, 0xFFFF},
    {Numbered::PassthruClose, 0x0000, 0x7FFF},
    {Numbered::PassthruClose, 0x0000, 0x8000},
    {Numbered::AgentX, 0xFFFF, 0xFFFE},
    {Numbered::AgentX, 0xFFFF, 0x8000},
    {Numbered::AgentX, 0xFFFF, 0x7FFF},
    {Numbered::AgentX, 0x8000, 0xFFFF},
    {Numbered::AgentX, 0x8000, 0x8001},
    {Numbered::AgentX, 0x8000, 0x0000},
};

// The packet of the run that carries the request: 1 is the handshake, 2 the passthru open; the
// close or the Register comes next.
uint32_t Ordinal(Numbered request) { return request == Numbered::PassthruOpen ? 2 : 3; }

// The passthru counter that gives the request its number; a request numbered 0 is made where the
// counter has just passed 0x7FFF (0x8000).
uint16_t CounterFor(const WrongNumber &c)
{
    const uint16_t counter = c.number == 0 ? 0x8000 : c.number;
    if (c.request == Numbered::PassthruOpen)
        return counter;
    if (c.request == Numbered::PassthruClose)
        return static_cast<uint16_t>(counter - 1); // the open before it takes one
    return 1;
}

// The packet ID that gives an AgentX request its number: 0x8000 is where its low 15 bits wrap to 0.
uint32_t PacketIdFor(const WrongNumber &c) { return (c.number & 0x7FFF) != 0 ? c.number & 0x7FFF : 0x8000; }

// How long a request that nothing answers waits in these tests.
constexpr DWORD kUnansweredWaitMs = 300;

std::string Hex(uint64_t value)
{
    char text[16];
    snprintf(text, sizeof text, "0x%04llX", static_cast<unsigned long long>(value));
    return text;
}

TEST_F(SmifChannel, PassthruSessionRequestsAreNumberedFrom7FFFTo0)
{
    // The counter runs on 16 bits; the number sent is its low 15 bits, so 0x7FFF is followed by 0
    // both where the counter passes 0x7FFF and where it passes 0xFFFF, whichever of the two
    // requests (open, close) carries 0x7FFF. The handshake keeps its own number and leaves the
    // counter alone.
    struct Case {
        uint16_t counter;
        std::vector<std::pair<std::string, uint64_t>> expected;
    };
    const std::vector<std::pair<std::string, uint64_t>> openAt7FFF = {
        {"open", 0x7FFF}, {"close", 0}, {"open", 1}, {"close", 2}};
    const std::vector<std::pair<std::string, uint64_t>> closeAt7FFF = {
        {"open", 0x7FFE}, {"close", 0x7FFF}, {"open", 0}, {"close", 1}};
    const Case cases[] = {
        {0x7FFF, openAt7FFF},
        {0x7FFE, closeAt7FFF},
        {0xFFFF, openAt7FFF},
        {0xFFFE, closeAt7FFF},
    };
    for (Kind kind : kKinds) {
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << Name(kind) << ", counter 0x" << std::hex << c.counter);
            ASSERT_TRUE(Start(kind, {}, c.counter));
            ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
            ASSERT_EQ(transport->OpenConnection(), AXResult_Ok) << "the reply after the wrap was taken as its own";
            EXPECT_TRUE(transport->IsConnected());
            ASSERT_EQ(transport->CloseConnection(), AXResult_Ok);
            EXPECT_FALSE(transport->ResetPending());
            ASSERT_TRUE(sim->WaitForRecords("axpassthru", 4));
            auto passthru = sim->Records("axpassthru");
            ASSERT_EQ(passthru.size(), c.expected.size());
            std::vector<uint64_t> numbers;
            for (size_t i = 0; i < c.expected.size(); ++i) {
                EXPECT_EQ(passthru[i].Get("request"), c.expected[i].first) << i;
                EXPECT_EQ(passthru[i].Number("seq"), c.expected[i].second) << i;
                EXPECT_EQ(passthru[i].Number("status"), 0u) << i;
                numbers.push_back(c.expected[i].second);
            }
            EXPECT_EQ(Sequences(147), numbers);
            EXPECT_EQ(Sequences(2), (std::vector<uint64_t>{0x2BAD}));
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

TEST_F(SmifChannel, EveryKindOfAgentXPduIsNumberedAcrossTheWrap)
{
    // The number is the packet ID's low 15 bits with bit 15 set: 0x7FFF goes out as 0xFFFF and is
    // followed by 0 (0x8000 on the wire), where the packet ID passes 0x7FFF and where it passes
    // 0xFFFF; answered requests and unanswered Responses alike.
    const uint32_t packetIds[] = {0x7FFF, 0x8000, 0xFFFF, 0x10000};
    const std::vector<uint64_t> wire = {0xFFFF, 0x8000, 0xFFFF, 0x8000};
    for (Kind kind : kKinds) {
        SCOPED_TRACE(Name(kind));
        ASSERT_TRUE(Start(kind));
        ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
        std::vector<uint64_t> requests, responses;
        for (const PduKind &pdu : kPduKinds) {
            for (uint32_t id : packetIds) {
                SCOPED_TRACE(testing::Message() << pdu.name << ", packet ID " << Hex(id));
                uint8_t buffer[AGENTX_PDU_BUFFER_SIZE] = {}, reply[AGENTX_PDU_BUFFER_SIZE] = {};
                ASSERT_NE(pdu.build(buffer, id), 0u);
                if (pdu.response) {
                    EXPECT_EQ(transport->Send(buffer), AXResult_Ok);
                    continue;
                }
                ASSERT_EQ(transport->Transaction(buffer, reply), AXResult_Ok);
                // The answer to this very request: the master echoes the packet ID.
                EXPECT_EQ(reply[1], AXPacketType_Response);
                EXPECT_EQ(GetAgentXU32(reply + 12), id);
            }
            auto &sent = pdu.response ? responses : requests;
            sent.insert(sent.end(), wire.begin(), wire.end());
        }
        ASSERT_TRUE(sim->WaitForRecords("axanswer", responses.size()));
        EXPECT_EQ(Sequences(148), requests);
        EXPECT_EQ(Sequences(0x8094), responses);
        EXPECT_TRUE(transport->IsConnected());
    }
}

TEST_F(SmifChannel, AReplyWithAnotherNumberAheadOfItsOwnIsPassedOver)
{
    // The processor first answers with a copy numbered wrongly and refusing (status 1), then with
    // the right reply. The direct transport reads past the copy, the receive thread finds nobody
    // waiting for it and drops it: either way the request gets its own reply and succeeds, where
    // taking the copy would have refused it.
    for (Kind kind : kKinds) {
        for (const WrongNumber &c : kWrongNumbers) {
            SCOPED_TRACE(testing::Message() << Name(kind) << ", " << Name(c.request) << " numbered " << Hex(c.number)
                                            << ", reply numbered " << Hex(c.wrong) << " ahead");
            const uint32_t ordinal = Ordinal(c.request);
            ASSERT_TRUE(Start(kind, {"on request " + std::to_string(ordinal) + ": misnumber " + Hex(c.wrong)},
                              CounterFor(c)));
            switch (c.request) {
            case Numbered::PassthruOpen:
                EXPECT_EQ(transport->OpenConnection(), AXResult_Ok);
                EXPECT_TRUE(transport->IsConnected());
                break;
            case Numbered::PassthruClose:
                ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
                EXPECT_EQ(transport->CloseConnection(), AXResult_Ok);
                break;
            case Numbered::AgentX:
                ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
                EXPECT_EQ(Register(PacketIdFor(c)), AXResult_Ok);
                EXPECT_TRUE(transport->IsConnected());
                break;
            }
            EXPECT_FALSE(transport->ResetPending()) << "a refusal was taken for the answer";
            EXPECT_EQ(RepliesTo(ordinal, 2), (std::vector<uint64_t>{c.wrong, c.number})) << "what the processor sent";
        }
    }
}

TEST_F(SmifChannel, AReplyWithAnotherNumberAloneAnswersNothing)
{
    // The only reply carries another number. The direct transport reads on until its wait ends
    // (257, the channel still usable); the receive thread drops the reply and the waiter's time
    // runs out (300). A passthru request left unanswered marks the transport for a reopen; an
    // AgentX request does not, and the next one is answered.
    for (Kind kind : kKinds) {
        const int unanswered = kind == Kind::Direct ? AXResult_NotOpen : AXResult_Timeout;
        for (const WrongNumber &c : kWrongNumbers) {
            SCOPED_TRACE(testing::Message() << Name(kind) << ", " << Name(c.request) << " numbered " << Hex(c.number)
                                            << ", answered as " << Hex(c.wrong));
            const uint32_t ordinal = Ordinal(c.request);
            ASSERT_TRUE(Start(kind, {"on request " + std::to_string(ordinal) + ": renumber " + Hex(c.wrong)},
                              CounterFor(c)));
            // Nothing is going to answer the request: no need to wait the usual time for it.
            const DWORD usualWait = AxTransportTimeouts::PassthruWaitMs;
            switch (c.request) {
            case Numbered::PassthruOpen:
                AxTransportTimeouts::PassthruWaitMs = kUnansweredWaitMs;
                EXPECT_EQ(transport->OpenConnection(), unanswered);
                AxTransportTimeouts::PassthruWaitMs = usualWait;
                EXPECT_FALSE(transport->IsConnected());
                EXPECT_TRUE(transport->ResetPending());
                EXPECT_EQ(transport->RestartConnection(), AXResult_Ok);
                EXPECT_TRUE(transport->IsConnected());
                break;
            case Numbered::PassthruClose:
                ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
                AxTransportTimeouts::PassthruWaitMs = kUnansweredWaitMs;
                EXPECT_EQ(transport->CloseConnection(), AXResult_Ok);
                AxTransportTimeouts::PassthruWaitMs = usualWait;
                EXPECT_TRUE(transport->ResetPending());
                break;
            case Numbered::AgentX:
                ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
                AxTransportTimeouts::PassthruWaitMs = kUnansweredWaitMs;
                EXPECT_EQ(Register(PacketIdFor(c)), unanswered);
                AxTransportTimeouts::PassthruWaitMs = usualWait;
                EXPECT_TRUE(transport->IsConnected());
                EXPECT_FALSE(transport->ResetPending());
                EXPECT_EQ(Register(7), AXResult_Ok);
                break;
            }
            EXPECT_EQ(RepliesTo(ordinal, 1), (std::vector<uint64_t>{c.wrong})) << "what the processor sent";
        }
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
