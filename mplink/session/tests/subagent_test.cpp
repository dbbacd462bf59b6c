// The sub-agent, its thread and its traps against the simulated processor's scripted master.
#include "agentx_pdu.h"
#include "enterprise_arc.h"
#include "oxbsim_process.h"
#include "pipe_backend.h"
#include "service_parameters.h"
#include "store_writers.h"
#include "subagent.h"
#include "test_support.h"
#include "traps.h"
#include "zdt_ci.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>
#include "transport_test_timeouts.h"

namespace {

const std::string E = "1.3.6.1.4.1.32473";

MIBOID Oid(const std::string &text)
{
    MIBOID oid;
    size_t at = 0;
    while (at < text.size()) {
        size_t dot = text.find('.', at);
        oid.Append(static_cast<uint32_t>(std::stoul(text.substr(at, dot - at))));
        at = dot == std::string::npos ? text.size() : dot + 1;
    }
    return oid;
}

class TestScheduler : public AGENTX_SCHEDULER {
public:
    int RegisterCollectors(AXSESSION &session) override
    {
        for (uint32_t group : {1u, 5u}) {
            const uint32_t ids[] = {1, ENTERPRISE_NUMBER, group};
            uint8_t oid[32];
            WriteAgentXOid(oid, 4, 0, ids, 3);
            int result = session.Register(oid, 127);
            if (result != 0)
                return result;
        }
        return 0;
    }
    void TriggerCollection(const char *group, uint32_t seconds) override
    {
        std::lock_guard<std::mutex> hold(lock);
        triggers.push_back(std::string(group) + "/" + std::to_string(seconds));
    }
    std::vector<std::string> Triggers()
    {
        std::lock_guard<std::mutex> hold(lock);
        return triggers;
    }

private:
    std::mutex lock;
    std::vector<std::string> triggers;
};

std::atomic<int> s_Restarts{0};
std::wstring s_RestartLine;
void CountRestart(const wchar_t *line)
{
    s_RestartLine = line;
    ++s_Restarts;
}

class SubAgent : public ::testing::Test {
protected:
    void SetUp() override
    {
        ShortenTransportTimeouts();
        AgentXThreadTimeouts::OpenRetryMs = 100;
        CWorkerThread::StopWaitMs = 10000;
        s_KdlEventSink = nullptr;
        s_AgentXRestartLauncher = &CountRestart;
        s_Restarts = 0;
        s_AgentXScheduler = &scheduler;
        s_ServiceParameters = SERVICE_PARAMETERS{};
        WriteRecordedSessionId(0);
        ASSERT_TRUE(InitDataStores());
        s_DataStore = new DATASTORE(true);
        InitTraps();
    }
    void TearDown() override
    {
        if (started)
            StopAgentX();
        TermTraps();
        TermDataStores();
        s_AgentXScheduler = nullptr;
        ZdtCiTerminate();
    }

    void Set(const std::string &oid, int32_t value) { ASSERT_TRUE(s_DataStore->SetInteger(Oid(oid), value)); }
    void SetText(const std::string &oid, const std::string &text)
    {
        MIBVALUE value;
        value.InitOctetString(static_cast<uint32_t>(text.size()), text.data());
        ASSERT_TRUE(s_DataStore->SetValue(Oid(oid), value));
    }

    bool Start(std::vector<std::string> directives = {})
    {
        PipeBackendSetName(sim.Name().c_str());
        if (!sim.Start(directives))
            return false;
        ZdtCiInitialize(nullptr);
        started = StartAgentX();
        return started;
    }

    // The master's answers in the order its requests went out.
    std::vector<SimRecord> Answers(size_t count)
    {
        EXPECT_TRUE(sim.WaitForRecords("axanswer", count)) << count;
        return sim.Records("axanswer");
    }

    // True once the master has seen the given number of Opens and a Ping after the last one: the
    // thread then went past its recovery step with the session it opened last.
    bool WaitForPingAfterOpen(size_t opens, DWORD timeoutMs = 20000)
    {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        for (;;) {
            size_t seen = 0;
            bool pinged = false;
            for (const SimRecord &r : sim.Records()) {
                if (r.verb == "axopen") {
                    ++seen;
                    pinged = false;
                } else if (r.verb == "axping") {
                    pinged = true;
                }
            }
            if (seen == opens && pinged)
                return true;
            if (seen > opens || GetTickCount64() > deadline)
                return false;
            Sleep(20);
        }
    }

    TestScheduler scheduler;
    OxbSim sim{OxbSim::UniqueName("subagent")};
    bool started = false;
};

TEST_F(SubAgent, OpensRegistersAndClosesRecordingTheSessionId)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(sim.WaitForRecords("axregister", 2));
    auto opens = sim.Records("axopen");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].Get("id"), E + ".42");
    EXPECT_EQ(opens[0].Get("descr"), "TLM_Windows_AgentX_sub-agent");
    auto registers = sim.Records("axregister");
    EXPECT_EQ(registers[0].Get("oid"), E + ".1");
    EXPECT_EQ(registers[1].Get("oid"), E + ".5");
    EXPECT_EQ(registers[0].Number("priority"), 127u);
    EXPECT_EQ(registers[0].Number("session"), opens[0].Number("session"));
    DWORD recorded = 0;
    ASSERT_TRUE(ReadRecordedSessionId(&recorded));
    EXPECT_EQ(recorded, opens[0].Number("session"));
    // The key is volatile: it must not outlive a reboot.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAgentXVolatileKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_NE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kAgentXVolatileKey) + L"\\probe").c_str(), 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << "a non-volatile subkey below a volatile key is refused";

    StopAgentX();
    started = false;
    ASSERT_TRUE(sim.WaitForRecords("axclose", 1));
    auto closes = sim.Records("axclose");
    EXPECT_EQ(closes[0].Number("session"), opens[0].Number("session"));
    EXPECT_EQ(closes[0].Number("reason"), 5u);
    ASSERT_TRUE(ReadRecordedSessionId(&recorded));
    EXPECT_EQ(recorded, 0u);
}

TEST_F(SubAgent, StaleSessionOfAnEarlierRunIsClosedFirst)
{
    ASSERT_TRUE(WriteRecordedSessionId(7));
    ASSERT_TRUE(Start());
    ASSERT_TRUE(sim.WaitForRecords("axregister", 2));
    auto records = sim.Records();
    std::vector<std::string> order;
    for (const SimRecord &r : records)
        if (r.verb == "axclose" || r.verb == "axopen" || r.verb == "axpassthru")
            order.push_back(r.verb + (r.verb == "axpassthru" ? ":" + r.Get("request") : ":" + r.Get("session")));
    std::vector<std::string> expected = {"axpassthru:open", "axclose:7", "axpassthru:close", "axpassthru:open",
                                         "axopen:100"};
    EXPECT_EQ(order, expected);
}

TEST_F(SubAgent, AnswersGetAndGetNextFromTheStore)
{
    Set(E + ".1.1.0", 42);
    SetText(E + ".1.2.0", "abc");
    Set(E + ".1.3.1.0", 7);
    Set(E + ".5.1.0", -3);
    struct Case {
        std::string request;
        std::string error;
        std::string vb1;
    } cases[] = {
        {"get " + E + ".1.1.0", "0", "2:" + E + ".1.1.0:42"},
        {"get " + E + ".1.3", "0", "128:" + E + ".1.3"},  // interior node
        {"get " + E + ".1.9.0", "0", "128:" + E + ".1.9.0"},
        {"getnext " + E + ".1.1.0", "0", "4:" + E + ".1.2.0:x616263"},
        {"getnext " + E + ".1.1.0 - inc", "0", "2:" + E + ".1.1.0:42"},
        {"getnext " + E + ".1.3.1.0 " + E + ".6", "0", "2:" + E + ".5.1.0:-3"},  // crossing groups
        {"getnext " + E + ".1.3.1.0 " + E + ".2", "0", "130:" + E + ".1.3.1.0"},  // range ends first
        {"getnext " + E + ".5.1.0", "0", "130:" + E + ".5.1.0"},                  // end of the store
        {"getnext " + E + ".1", "0", "2:" + E + ".1.1.0:42"},
        {"getbulk " + E + ".1", "5", ""},
        {"testset " + E + ".1.1.0", "5", ""},
        {"foreign get " + E + ".1.1.0", "257", ""},
    };
    std::vector<std::string> directives;
    for (const Case &c : cases)
        directives.push_back("agentx on register 2: " + c.request);
    ASSERT_TRUE(Start(directives));
    auto answers = Answers(std::size(cases));
    ASSERT_EQ(answers.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(answers[i].Number("packet"), i + 1) << cases[i].request;
        EXPECT_EQ(answers[i].Get("error"), cases[i].error) << cases[i].request;
        EXPECT_EQ(answers[i].Get("vbs"), cases[i].vb1.empty() ? "0" : "1") << cases[i].request;
        EXPECT_EQ(answers[i].Get("vb1"), cases[i].vb1) << cases[i].request;
    }
    // Requests on the store's groups trigger their collections first.
    std::vector<std::string> triggers = scheduler.Triggers();
    EXPECT_EQ(std::count(triggers.begin(), triggers.end(), "ZDTSCSI/120"), 1);
    EXPECT_EQ(std::count(triggers.begin(), triggers.end(), "ZDTSAS/120"), 1);
    EXPECT_EQ(std::count(triggers.begin(), triggers.end(), "ZDTSTDEQ/120"), 10);
}

TEST_F(SubAgent, ResponseThatWouldNotFitIsTooBig)
{
    std::string big(1000, 'x');
    for (int i = 1; i <= 5; ++i)
        SetText(E + ".1." + std::to_string(i) + ".0", big);
    std::string get = "get";
    for (int i = 1; i <= 5; ++i)
        get += " " + E + ".1." + std::to_string(i) + ".0";
    ASSERT_TRUE(Start({"agentx on register 2: " + get, "agentx on register 2: get " + E + ".1.1.0"}));
    auto answers = Answers(2);
    EXPECT_EQ(answers[0].Get("error"), "1");
    EXPECT_EQ(answers[0].Get("vbs"), "0");
    EXPECT_EQ(answers[1].Get("error"), "0");
    EXPECT_EQ(answers[1].Get("vbs"), "1");
}

TEST_F(SubAgent, MalformedPdusFromTheMasterAreDroppedOrRefused)
{
    Set(E + ".1.1.0", 42);
    ASSERT_TRUE(Start({
        "agentx on register 2: pdu 01050000",                                   // a cut header: dropped
        "agentx on register 2: pdu 0105000064000000000000000200000004000000",   // session 100, payload past the end
        "agentx on register 2: packet 1000000094000000",                       // size beyond the bytes
        "agentx on register 2: response " + E + ".1.1.0",                       // a Response as a request
        "agentx on register 2: get " + E + ".1.1.0",
    }));
    ASSERT_TRUE(sim.WaitForRecords("axanswer", 1));
    auto answers = sim.Records("axanswer");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].Get("vb1"), "2:" + E + ".1.1.0:42");
}

// A request PDU of the given type in the master's first session (100), its payload as given: the
// transport's framing holds (the payload length covers exactly the bytes sent), so the session
// itself meets whatever the reader refuses inside.
std::string RequestPduHex(uint8_t type, uint32_t packetId, const std::vector<uint8_t> &payload)
{
    std::vector<uint8_t> pdu(AGENTX_HEADER_SIZE + payload.size());
    AGENTX_HEADER header;
    header.type = type;
    header.sessionId = 100;
    header.transactionId = packetId;
    header.packetId = packetId;
    WriteAgentXHeader(pdu.data(), header);
    std::copy(payload.begin(), payload.end(), pdu.begin() + AGENTX_HEADER_SIZE);
    SetAgentXPayloadLength(pdu.data(), static_cast<uint32_t>(payload.size()));
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : pdu) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

// A search range: the start OID (prefix form 0) and an empty end; cut keeps only that many bytes.
std::vector<uint8_t> SearchRange(const std::vector<uint32_t> &ids, size_t cut = SIZE_MAX)
{
    std::vector<uint8_t> range(4 + 4 * ids.size() + 4);
    WriteAgentXOid(range.data(), 0, 0, ids.data(), static_cast<uint8_t>(ids.size()));
    if (cut < range.size())
        range.resize(cut);
    return range;
}

TEST_F(SubAgent, RequestsTheReaderRefusesAreAnsweredWithItsError)
{
    Set(E + ".1.1.0", 42);
    std::vector<uint32_t> scalar = {1, 3, 6, 1, 4, 1, ENTERPRISE_NUMBER, 1, 1, 0};
    std::vector<uint32_t> tooLong(MIBOID_MAX_SUBIDS + 1, 1);
    std::vector<uint32_t> longest(MIBOID_MAX_SUBIDS, 1);
    std::vector<uint8_t> goodThenCut = SearchRange(scalar);
    std::vector<uint8_t> cut = SearchRange(scalar, 12);  // the OID says ten sub-identifiers, two follow
    goodThenCut.insert(goodThenCut.end(), cut.begin(), cut.end());
    std::vector<uint8_t> noEnd = SearchRange(scalar, 4 + 4 * scalar.size());  // the end OID is missing
    struct Case {
        const char *name;
        uint8_t type;
        std::vector<uint8_t> payload;
        std::string error;
        std::string vb1;
    } cases[] = {
        {"Get with a cut search range", AXPacketType_Get, cut, "266", ""},
        {"GetNext whose second range is cut", AXPacketType_GetNext, goodThenCut, "266", ""},
        {"Get without the end of its range", AXPacketType_Get, noEnd, "266", ""},
        {"Get of an OID longer than the store holds", AXPacketType_Get, SearchRange(tooLong), "5", ""},
        {"GetNext of an OID longer than the store holds", AXPacketType_GetNext, SearchRange(tooLong), "5", ""},
        // The longest OID the store holds is still served: the refusal starts one past it.
        {"GetNext of the longest OID", AXPacketType_GetNext, SearchRange(longest), "0",
         "2:" + E + ".1.1.0:42"},
    };
    std::vector<std::string> directives;
    uint32_t packetId = 1;
    for (const Case &c : cases)
        directives.push_back("agentx on register 2: pdu " + RequestPduHex(c.type, packetId++, c.payload));
    ASSERT_TRUE(Start(directives));
    auto answers = Answers(std::size(cases));
    ASSERT_EQ(answers.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(answers[i].Number("packet"), i + 1) << cases[i].name;
        EXPECT_EQ(answers[i].Number("session"), 100u) << cases[i].name;
        EXPECT_EQ(answers[i].Get("error"), cases[i].error) << cases[i].name;
        EXPECT_EQ(answers[i].Get("vbs"), cases[i].vb1.empty() ? "0" : "1") << cases[i].name;
        EXPECT_EQ(answers[i].Get("vb1"), cases[i].vb1) << cases[i].name;
    }
}

TEST_F(SubAgent, CloseFromTheMasterIsAnsweredAndTheSessionReturnsWithoutAReset)
{
    AxTransportTimeouts::QueueWaitMs = 300;
    HANDLE reset = CreateEventW(nullptr, FALSE, FALSE, kOxbResetEventName);
    ASSERT_TRUE(Start({"agentx on register 2: close"}));
    auto answers = Answers(1);
    EXPECT_EQ(answers[0].Get("error"), "0");
    ASSERT_TRUE(sim.WaitForRecords("axregister", 4));
    auto opens = sim.Records("axopen");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_NE(opens[0].Get("session"), opens[1].Get("session"));
    ASSERT_TRUE(WaitForPingAfterOpen(2));
    EXPECT_EQ(WaitForSingleObject(reset, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "no open failed";
    CloseHandle(reset);
}

TEST_F(SubAgent, RefusedOpensAreRetriedAndRecoverySignalsTheResetOnce)
{
    AxTransportTimeouts::QueueWaitMs = 300;
    HANDLE reset = CreateEventW(nullptr, FALSE, FALSE, kOxbResetEventName);
    ASSERT_TRUE(Start({"agentx refuse-open 2"}));
    ASSERT_TRUE(sim.WaitForRecords("axregister", 2));
    EXPECT_EQ(sim.Records("axopen").size(), 3u);
    EXPECT_EQ(WaitForSingleObject(reset, 30000), WAIT_OBJECT_0);
    EXPECT_EQ(s_Restarts.load(), 0);
    // The session stays up and is pinged: nothing announces the reset a second time.
    ASSERT_TRUE(WaitForPingAfterOpen(3));
    ASSERT_TRUE(sim.WaitForRecords("axping", sim.Records("axping").size() + 1));
    EXPECT_EQ(WaitForSingleObject(reset, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(reset);
}

TEST_F(SubAgent, TwentyFailedOpensStartTheRestartOnce)
{
    AgentXThreadTimeouts::OpenRetryMs = 10;
    ASSERT_TRUE(Start({"agentx refuse-open 25"}));
    ASSERT_TRUE(sim.WaitForRecords("axregister", 2, 30000));
    EXPECT_EQ(s_Restarts.load(), 1);
    ASSERT_GE(s_RestartLine.size(), 4u);
    EXPECT_EQ(s_RestartLine.front(), L'"');
    EXPECT_EQ(s_RestartLine.substr(2, 2), L":\\");
    EXPECT_NE(s_RestartLine.find(L"\\OEM\\TLM\\Service\\restarttlm.bat\""), std::wstring::npos);
}

TEST_F(SubAgent, ClosedPipeBringsTheSessionBackWithoutAResetWhenTheReopenSucceeds)
{
    HANDLE reset = CreateEventW(nullptr, FALSE, FALSE, kOxbResetEventName);
    // Packets: handshake, passthru, Open, two Registers; the 6th (a Ping or a trap) closes the pipe.
    AxTransportTimeouts::QueueWaitMs = 300;
    ASSERT_TRUE(Start({"on request 6: close"}));
    ASSERT_TRUE(sim.WaitForRecords("axregister", 4, 60000));
    EXPECT_EQ(sim.Records("axopen").size(), 2u);
    ASSERT_TRUE(WaitForPingAfterOpen(2));
    EXPECT_EQ(WaitForSingleObject(reset, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "a lost connection reopened at once is no reset of the processor";
    CloseHandle(reset);
}

TEST_F(SubAgent, SilentMasterIsPingedAndTheSessionReopenedWithoutAReset)
{
    // A failed Ping closes the session and the next open succeeds: the black box and the collectors
    // must not be told to post everything again.
    HANDLE reset = CreateEventW(nullptr, FALSE, FALSE, kOxbResetEventName);
    AxTransportTimeouts::QueueWaitMs = 300;
    ASSERT_TRUE(Start({"on request 6: noreply"}));
    ASSERT_TRUE(sim.WaitForRecords("axregister", 4, 60000));
    EXPECT_GE(sim.Records("axping").size(), 1u);
    EXPECT_EQ(sim.Records("axopen").size(), 2u);
    ASSERT_TRUE(WaitForPingAfterOpen(2));
    EXPECT_EQ(WaitForSingleObject(reset, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(reset);
}

TEST_F(SubAgent, TrapQueuedBeforeTheSessionIsDeliveredAfterRegistration)
{
    const uint32_t trapIds[] = {1, 3, 6, 1, 4, 1, ENTERPRISE_NUMBER, 0, 18013};
    uint8_t trapOid[64];
    WriteAgentXOid(trapOid, 0, 0, trapIds, 9);
    TRAP_BUFFER *trap = CreateTrap(trapOid);
    ASSERT_NE(trap, nullptr);
    ASSERT_TRUE(SetTrapEnterprise(trap, nullptr));
    uint8_t varbind[256];
    const uint32_t name[] = {1, ENTERPRISE_NUMBER, 11, 1, 0};
    uint8_t nameOid[64];
    WriteAgentXOid(nameOid, 4, 0, name, 5);
    ASSERT_TRUE(AddTrapVarBind(trap, MakeIntegerVarBind(varbind, nameOid, 5)));
    SendTrap(trap);
    EXPECT_EQ(QueuedTrapCount(), 1u);

    ASSERT_TRUE(Start());
    ASSERT_TRUE(sim.WaitForRecords("axnotify", 1));
    auto notifies = sim.Records("axnotify");
    EXPECT_EQ(notifies[0].Get("vbs"), "3");
    EXPECT_EQ(notifies[0].Get("vb1"), "6:1.3.6.1.6.3.1.1.4.1.0:" + E + ".0.18013");
    EXPECT_EQ(notifies[0].Get("vb2"), "6:1.3.6.1.6.3.1.1.4.3.0:" + E + ".9.4.10");
    EXPECT_EQ(notifies[0].Get("vb3"), "2:" + E + ".11.1.0:5");
    // Sent after every registration.
    size_t notifyAt = 0, lastRegisterAt = 0, i = 0;
    for (const SimRecord &r : sim.Records()) {
        if (r.verb == "axnotify")
            notifyAt = i;
        if (r.verb == "axregister")
            lastRegisterAt = i;
        ++i;
    }
    EXPECT_GT(notifyAt, lastRegisterAt);
    EXPECT_EQ(QueuedTrapCount(), 0u);
}

TEST_F(SubAgent, OversizedTrapVarBindIsRefusedAndTheTrapKept)
{
    TRAP_BUFFER *trap = CreateTrap(nullptr);
    ASSERT_NE(trap, nullptr);
    std::string text(2000, 'y');
    uint8_t varbind[2100];
    uint8_t nameOid[64];
    const uint32_t name[] = {1, ENTERPRISE_NUMBER, 11, 2, 0};
    WriteAgentXOid(nameOid, 4, 0, name, 5);
    MakeOctetStringVarBind(varbind, nameOid, text.c_str());
    EXPECT_TRUE(AddTrapVarBind(trap, varbind));
    EXPECT_TRUE(AddTrapVarBind(trap, varbind));
    uint32_t used = trap->BytesUsed;
    EXPECT_FALSE(AddTrapVarBind(trap, varbind));
    EXPECT_EQ(trap->BytesUsed, used);
    EXPECT_EQ(trap->VarBindCount, 2u);
    FreeTrap(trap);
}

TEST_F(SubAgent, TrapsAreFreedWhenAgentXIsDisabled)
{
    s_ServiceParameters.EnableAgentX = 0;
    TRAP_BUFFER *trap = CreateTrap(nullptr);
    ASSERT_NE(trap, nullptr);
    SendTrap(trap);
    EXPECT_EQ(QueuedTrapCount(), 0u);
    s_ServiceParameters.EnableTraps = 0;
    EXPECT_EQ(CreateTrap(nullptr), nullptr);
}

// A transport that keeps what the session sends, for requests handed to the session directly.
class CapturingTransport : public AXTRANSPORT {
public:
    int OpenConnection() override { return 0; }
    int RestartConnection() override { return 0; }
    int CloseConnection() override { return 0; }
    bool IsConnected() override { return true; }
    int Transaction(const uint8_t *, uint8_t *) override { return 257; }
    int Receive(uint8_t *) override { return 300; }
    int Send(const uint8_t *pdu) override
    {
        sent.assign(pdu, pdu + AGENTX_HEADER_SIZE + GetAgentXPayloadLength(pdu));
        return 0;
    }
    std::vector<uint8_t> sent;
};

std::vector<uint8_t> GetPdu(uint32_t sessionId, const std::vector<uint32_t> &ids)
{
    std::vector<uint8_t> pdu(AGENTX_PDU_BUFFER_SIZE);
    AGENTX_HEADER header;
    header.type = AXPacketType_Get;
    header.sessionId = sessionId;
    header.packetId = 5;
    WriteAgentXHeader(pdu.data(), header);
    size_t at = AGENTX_HEADER_SIZE;
    at += WriteAgentXOid(pdu.data() + at, 0, 0, ids.data(), static_cast<uint8_t>(ids.size()));
    at += 4;  // empty end
    SetAgentXPayloadLength(pdu.data(), static_cast<uint32_t>(at - AGENTX_HEADER_SIZE));
    pdu.resize(at);
    return pdu;
}

TEST(SessionRequests, NothingIsServedWithoutAnOpenSessionAndLongOidsAreRefused)
{
    ASSERT_TRUE(InitDataStores());
    s_DataStore = new DATASTORE(true);
    ASSERT_TRUE(s_DataStore->SetInteger(Oid(E + ".1.1.0"), 42));
    CapturingTransport transport;
    AXSESSION_TLM session(&transport, AgentXSubAgentOid(), kAgentXDescription);
    std::vector<uint32_t> scalar = {1, 3, 6, 1, 4, 1, ENTERPRISE_NUMBER, 1, 1, 0};
    std::vector<uint32_t> tooLong(MIBOID_MAX_SUBIDS + 1, 1);
    struct Case {
        const char *name;
        std::vector<uint8_t> pdu;
        uint16_t error;
        uint32_t varbinds;
    } cases[] = {
        {"session 0 while none is open", GetPdu(0, scalar), 257, 0},
        {"another session", GetPdu(9, scalar), 257, 0},
    };
    for (const Case &c : cases) {
        transport.sent.clear();
        EXPECT_EQ(session.HandleRequest(c.pdu.data(), c.pdu.size()), 0) << c.name;
        AGENTX_RECEIVED_PDU answer;
        ASSERT_EQ(ReadAgentXPdu(transport.sent.data(), transport.sent.size(), &answer), AXRead_Ok) << c.name;
        EXPECT_EQ(answer.header.type, AXPacketType_Response) << c.name;
        EXPECT_EQ(answer.error, c.error) << c.name;
        EXPECT_EQ(answer.varbindCount, c.varbinds) << c.name;
    }
    // The reader refuses an OID longer than the store holds; the answer says genErr.
    std::vector<uint8_t> longGet = GetPdu(0, tooLong);
    AGENTX_RECEIVED_PDU read;
    uint16_t error = 0;
    int check = ReadAgentXPdu(longGet.data(), longGet.size(), &read);
    EXPECT_TRUE(AgentXReadAnswer(check, &error));
    EXPECT_EQ(error, 5);
    TermDataStores();
}

struct TriggerCase {
    std::vector<uint32_t> ids;
    uint8_t prefix;
    std::vector<std::string> groups;
    uint32_t seconds;
};

TEST(CollectionTriggers, FirstMatchingRowWins)
{
    const uint32_t n = ENTERPRISE_NUMBER;
    const TriggerCase cases[] = {
        {{1, 4, 20, 1}, 2, {"ZDTNIC"}, 120},
        {{1, 4, 20, 1, 1}, 2, {}, 0},  // exactly four sub-identifiers only
        {{1, 25, 1, 1}, 2, {"MIB-2"}, 120},
        {{1, n, 1, 3}, 4, {"ZDTSTDEQ"}, 120},
        {{1, n, 5}, 4, {"ZDTSCSI", "ZDTSAS"}, 120},
        {{1, n, 11, 2, 10, 1}, 4, {}, 0},
        {{1, n, 11, 2, 9}, 4, {"ZDTHOST"}, 120},
        {{1, n, 14, 1}, 4, {"ZDTIDE"}, 60},
        {{1, n, 16}, 4, {"ZDTFCA"}, 120},
        {{1, n, 18}, 4, {"ZDTNIC"}, 120},
        {{1, n, 19}, 4, {"ZDTWINOSMGMT"}, 120},
        {{1, n, 169}, 4, {"ZDTISCSI"}, 120},
        {{1, n, 170}, 4, {}, 0},
        {{1, n}, 4, {}, 0},
        {{1, n, 1}, 2, {}, 0},
    };
    for (const TriggerCase &c : cases) {
        uint8_t oid[64];
        WriteAgentXOid(oid, c.prefix, 0, c.ids.data(), static_cast<uint8_t>(c.ids.size()));
        const char *groups[2] = {};
        uint32_t seconds = 0;
        int count = AgentXCollectionTriggers(oid, groups, &seconds);
        std::vector<std::string> got(groups, groups + count);
        EXPECT_EQ(got, c.groups) << c.ids.size() << "/" << (c.ids.size() > 2 ? c.ids[2] : 0);
        if (count != 0) {
            EXPECT_EQ(seconds, c.seconds);
        }
    }
}

// The log line of a trap about to be queued names the trap's number when its trap OID is one of
// ours: ENTERPRISE_ARC.0.n, nine sub-identifiers, in the first varbind.
TEST(TrapLog, NamesTheNumberOfOurOwnTraps)
{
    kdltest::StartTextLog();
    s_ServiceParameters = SERVICE_PARAMETERS{};
    const uint32_t N = ENTERPRISE_NUMBER;
    struct Case {
        const char *what;
        std::vector<uint32_t> trapOid; // empty: no snmpTrapOID.0 varbind first
        uint8_t prefix;
        uint8_t firstType;             // 6: the trap OID varbind, with an empty name when nameless
        bool nameless;
        const wchar_t *line;           // null: no line
    };
    const Case cases[] = {
        {"one of ours", {1, 3, 6, 1, 4, 1, N, 0, 18013}, 0, 6, false, L"Sending snmp trap 18013"},
        {"number 0", {1, 3, 6, 1, 4, 1, N, 0, 0}, 0, 6, false, L"Sending snmp trap 0"},
        {"number past 2^31", {1, 3, 6, 1, 4, 1, N, 0, 0xFFFFFFFF}, 0, 6, false, L"Sending snmp trap -1"},
        {"eighth sub-identifier not 0", {1, 3, 6, 1, 4, 1, N, 1, 18013}, 0, 6, false, nullptr},
        {"another enterprise", {1, 3, 6, 1, 4, 1, N + 1, 0, 18013}, 0, 6, false, nullptr},
        {"eight sub-identifiers", {1, 3, 6, 1, 4, 1, N, 0}, 0, 6, false, nullptr},
        {"ten sub-identifiers", {1, 3, 6, 1, 4, 1, N, 0, 18013, 1}, 0, 6, false, nullptr},
        {"a standard trap", {1, 3, 6, 1, 6, 3, 1, 1, 5}, 0, 6, false, nullptr},
        {"written with a prefix", {N, 0, 18013}, 4, 6, false, nullptr},
        {"first varbind without a name", {1, 3, 6, 1, 4, 1, N, 0, 18013}, 0, 6, true, nullptr},
        {"first varbind an integer", {}, 0, 2, false, nullptr},
        {"no varbind", {}, 0, 0, false, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TRAP_BUFFER *trap = CreateTrap(nullptr);
        ASSERT_NE(trap, nullptr);
        uint8_t oid[4 + 4 * 16];
        WriteAgentXOid(oid, c.prefix, 0, c.trapOid.data(), static_cast<uint8_t>(c.trapOid.size()));
        uint8_t varbind[256];
        const uint32_t sysUpTime[] = {1, 3, 6, 1, 2, 1, 1, 3, 0};
        uint8_t name[4 + 4 * 9];
        WriteAgentXOid(name, 0, 0, sysUpTime, 9);
        if (c.firstType == 6 && c.nameless) {
            const uint8_t noName[4] = {};
            InitVarBind(varbind, 6, noName);
            WriteAgentXOid(GetVarBindData(varbind), c.prefix, 0, c.trapOid.data(),
                           static_cast<uint8_t>(c.trapOid.size()));
            ASSERT_TRUE(AddTrapVarBind(trap, varbind));
        } else if (c.firstType == 6) {
            ASSERT_TRUE(SetTrapOid(trap, oid));
        } else if (c.firstType == 2) {
            ASSERT_TRUE(AddTrapVarBind(trap, MakeIntegerVarBind(varbind, name, 5)));
        }
        if (c.firstType != 0) {
            // What follows the first varbind plays no part.
            const uint32_t ours[] = {1, 3, 6, 1, 4, 1, N, 0, 777};
            WriteAgentXOid(oid, 0, 0, ours, 9);
            ASSERT_TRUE(SetTrapOid(trap, oid));
        }
        std::wstring before = kdltest::ReadTextLog();
        LogTrapInfo(trap);
        std::wstring added = kdltest::ReadTextLog().substr(before.size());
        if (c.line == nullptr)
            EXPECT_EQ(added, L"");
        else
            EXPECT_NE(added.find(L", [Information], |LogTrapInfo|, " + std::wstring(c.line) + L"\r\n"),
                      std::wstring::npos)
                << added.size();
        FreeTrap(trap);
    }
    LogTrapInfo(nullptr);
}

} // namespace
