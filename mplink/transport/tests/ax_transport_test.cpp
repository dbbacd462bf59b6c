// The transport and its receive thread against the simulated management processor.
#include "agentx_pdu.h"
#include "ax_transport.h"
#include "oxbsim_process.h"
#include "pipe_backend.h"
#include "zdt_ci.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include "transport_test_timeouts.h"

namespace {

std::atomic<int> s_KdlCount{0};
std::atomic<size_t> s_KdlBytes{0};

void CountKdl(const uint8_t *, size_t received)
{
    s_KdlBytes = received;
    ++s_KdlCount;
}

class Transport : public ::testing::Test {
protected:
    void SetUp() override
    {
        ShortenTransportTimeouts();
        // A case that failed half-way must not leave its delay to the next one.
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\ndxtlm\\Parameters",
                           L"ReceiveThreadDelayMS");
        CWorkerThread::StopWaitMs = 5000;
        s_KdlEventSink = &CountKdl;
        s_KdlCount = 0;
    }
    void TearDown() override
    {
        transport.reset();
        ZdtCiTerminate();
    }

    bool Start(const std::vector<std::string> &directives = {})
    {
        PipeBackendSetName(sim.Name().c_str());
        if (!sim.Start(directives))
            return false;
        ZdtCiInitialize(nullptr);
        transport.reset(CreateAgentXTransport());
        return transport != nullptr;
    }

    // Register with session 0: what the scripted master takes as the cue for its requests.
    int Register()
    {
        uint8_t request[AGENTX_PDU_BUFFER_SIZE], reply[AGENTX_PDU_BUFFER_SIZE];
        const uint32_t subtree[] = {1, 32473, 1};
        uint8_t oid[32];
        WriteAgentXOid(oid, 4, 0, subtree, 3);
        BuildAgentXRegisterPdu(request, sizeof request, AXPacketType_Register, 0, 0, ++m_PacketId, 127, oid);
        return transport->Transaction(request, reply);
    }

    OxbSim sim{OxbSim::UniqueName("axtransport")};
    std::unique_ptr<AXTRANSPORT_TLM> transport;
    uint32_t m_PacketId = 0;
};

TEST_F(Transport, HandshakeThenPassthruSessionWithRunningSequence)
{
    ASSERT_TRUE(Start());
    ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
    EXPECT_TRUE(transport->IsConnected());
    ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);  // closes the passthru session first
    ASSERT_EQ(transport->CloseConnection(), AXResult_Ok);
    EXPECT_FALSE(transport->IsConnected());
    ASSERT_TRUE(sim.WaitForRecords("axpassthru", 4));

    auto handshakes = sim.Records("axhandshake");
    ASSERT_EQ(handshakes.size(), 1u);
    EXPECT_EQ(handshakes[0].Number("len"), 8u);
    EXPECT_EQ(handshakes[0].Number("seq"), 0x2BADu);
    auto passthru = sim.Records("axpassthru");
    const char *requests[] = {"open", "close", "open", "close"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(passthru[i].Get("request"), requests[i]) << i;
        EXPECT_EQ(passthru[i].Number("seq"), i + 1) << i;
        EXPECT_EQ(passthru[i].Number("value"), i % 2 == 0 ? 1u : 0u) << i;
    }
}

TEST_F(Transport, RefusedPassthruSessionIsNotAConnectionUntilReopened)
{
    ASSERT_TRUE(Start({"agentx refuse-passthru 1"}));
    EXPECT_EQ(transport->OpenConnection(), AXResult_GenErr);
    EXPECT_FALSE(transport->IsConnected());
    EXPECT_TRUE(transport->ResetPending());
    EXPECT_EQ(transport->RestartConnection(), AXResult_Ok);
    EXPECT_TRUE(transport->IsConnected());
    // The reset forced a full reopen: a second handshake on a new channel.
    ASSERT_TRUE(sim.WaitForRecords("axhandshake", 2));
}

TEST_F(Transport, ResponsePduIsNotSentAsARequest)
{
    ASSERT_TRUE(Start());
    ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
    uint8_t response[AGENTX_PDU_BUFFER_SIZE], reply[AGENTX_PDU_BUFFER_SIZE];
    BuildAgentXPingPdu(response, sizeof response, 0, 9);
    response[1] = AXPacketType_Response;
    size_t before = sim.Records("packet").size();
    EXPECT_EQ(transport->Transaction(response, reply), AXResult_WrongType);
    EXPECT_EQ(Register(), AXResult_Ok);
    ASSERT_TRUE(sim.WaitForRecords("axregister", 1));
    EXPECT_EQ(sim.Records("packet").size(), before + 1);
}

TEST_F(Transport, ReceiveThreadRoutesEventsRequestsAndDropsTheRest)
{
    ASSERT_TRUE(Start({
        "agentx on register 1: kdl 0102030405060708",
        "agentx on register 1: response 1.3.6.1.2.1.1.1.0",
        "agentx on register 1: packet 0800010094000000",
        "agentx on register 1: packet ffff0100940000000000000000000000",
        "agentx on register 1: pdu 0105000000000000000000000000000000100000",
        "agentx on register 1: get 1.3.6.1.4.1.32473.1.1.0",
    }));
    ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
    ASSERT_EQ(Register(), AXResult_Ok);
    uint8_t pdu[AGENTX_PDU_BUFFER_SIZE];
    ASSERT_EQ(transport->Receive(pdu), AXResult_Ok);
    AGENTX_RECEIVED_PDU read;
    ASSERT_EQ(ReadAgentXPdu(pdu, sizeof pdu, &read), AXRead_Ok);
    EXPECT_EQ(read.header.type, AXPacketType_Get);
    EXPECT_EQ(read.rangeCount, 1u);
    EXPECT_EQ(s_KdlCount.load(), 1);
    EXPECT_EQ(s_KdlBytes.load(), 24u);
    // Nothing else was queued.
    AxTransportTimeouts::QueueWaitMs = 300;
    EXPECT_EQ(transport->Receive(pdu), AXResult_Timeout);
}

TEST_F(Transport, SilentMasterTimesOutAndALateReplyIsDropped)
{
    // The 4th packet of the run is the Register (handshake, passthru open, then ours).
    ASSERT_TRUE(Start({"on request 3: noreply"}));
    ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
    AxTransportTimeouts::PassthruWaitMs = 300;
    EXPECT_EQ(Register(), AXResult_Timeout);
    EXPECT_EQ(transport->Pending().Size(), 0u);
    AxTransportTimeouts::PassthruWaitMs = 2000;
    EXPECT_EQ(Register(), AXResult_Ok);
}

TEST_F(Transport, StopEventEndsWaitsAtOnce)
{
    ASSERT_TRUE(Start({"on request 3: noreply"}));
    ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
    HANDLE stop = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    transport->SetAbortEvent(stop);
    AxTransportTimeouts::QueueWaitMs = 20000;
    AxTransportTimeouts::PassthruWaitMs = 20000;
    DWORD start = GetTickCount();
    uint8_t pdu[AGENTX_PDU_BUFFER_SIZE];
    EXPECT_EQ(transport->Receive(pdu), AXResult_Timeout);
    EXPECT_EQ(Register(), AXResult_NotOpen);
    EXPECT_LT(GetTickCount() - start, 10000u) << "either wait alone would take 20 s";
    transport->SetAbortEvent(nullptr);
    CloseHandle(stop);
}

TEST_F(Transport, ReceiveDelayIsTakenAsConfiguredAndAHugeOneStillLetsTheThreadStop)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\ndxtlm\\Parameters", 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    auto setDelay = [&](DWORD value) {
        RegSetValueExW(key, L"ReceiveThreadDelayMS", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
    };
    for (DWORD value : {0u, 1u, 999u, 1001u, 60000u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        setDelay(value);
        EXPECT_EQ(ReadReceiveThreadDelayMs(), value) << "no limit of its own";
    }
    setDelay(0xFFFFFFF0);
    ASSERT_TRUE(Start());
    DWORD start = GetTickCount();
    transport.reset();
    EXPECT_LT(GetTickCount() - start, 30000u) << "the pause ends on the stop event, not after the delay";
    RegDeleteValueW(key, L"ReceiveThreadDelayMS");
    RegCloseKey(key);
    EXPECT_EQ(ReadReceiveThreadDelayMs(), 50u);
}

TEST_F(Transport, ProcessorVanishingMidRequestNeitherHangsNorLeavesAConnection)
{
    ASSERT_TRUE(Start({"on request 3: exit"}));
    ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
    DWORD start = GetTickCount();
    EXPECT_NE(Register(), AXResult_Ok);
    EXPECT_EQ(sim.WaitForExit(30000), 3u);
    // Whatever the channel reported (a broken pipe, or no device at all, which closes the channel
    // from inside a call that holds the channel's lock), the connection is down and the next
    // open fails instead of waiting on that lock.
    EXPECT_NE(transport->RestartConnection(), AXResult_Ok);
    EXPECT_FALSE(transport->IsConnected());
    EXPECT_LT(GetTickCount() - start, 60000u);
}

TEST_F(Transport, AfterCloseConnectionTransactionsReadDirectly)
{
    ASSERT_TRUE(Start());
    ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
    transport->CloseConnection();
    EXPECT_FALSE(transport->Routing());
    ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
    EXPECT_EQ(Register(), AXResult_Ok);
}

TEST_F(Transport, ClosedPipeBreaksTheConnectionAndItComesBack)
{
    ASSERT_TRUE(Start({"on request 3: close"}));
    ASSERT_EQ(transport->OpenConnection(), AXResult_Ok);
    EXPECT_NE(Register(), AXResult_Ok);
    EXPECT_FALSE(transport->IsConnected());
    ASSERT_EQ(transport->RestartConnection(), AXResult_Ok);
    EXPECT_EQ(Register(), AXResult_Ok);
}

} // namespace
