// The PDUs the session builds, checked byte for byte and read back through the bounded reader.
#include <gtest/gtest.h>

#include "agentx_pdu.h"
#include "pdu_bytes.h"

using axtest::Bytes;

namespace {

constexpr uint32_t kArc = 32473;

std::vector<uint8_t> Head(uint8_t type, uint32_t session, uint32_t transaction, uint32_t packet, const Bytes &payload,
                          uint8_t flags = 0)
{
    return Bytes().u8(1).u8(type).u8(flags).u8(0).u32(session).u32(transaction).u32(packet).u32(uint32_t(payload.size()))
        .raw(payload.b)
        .b;
}

std::vector<uint8_t> Built(const uint8_t *buffer, size_t size)
{
    return std::vector<uint8_t>(buffer, buffer + size);
}

TEST(AgentXBuilders, InitClearsTheWholeBuffer)
{
    std::vector<uint8_t> buffer(AGENTX_PDU_BUFFER_SIZE, 0xAA);
    InitAgentXPdu(buffer.data(), AXPacketType_Ping);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[1], AXPacketType_Ping);
    EXPECT_EQ(std::count(buffer.begin() + 2, buffer.end(), 0), ptrdiff_t(AGENTX_PDU_BUFFER_SIZE - 2));
}

TEST(AgentXBuilders, Open)
{
    const std::vector<uint8_t> id = Bytes().oid(0, 0, {1, 3, 6, 1, 4, 1, kArc, 42}).b;
    std::vector<uint8_t> buffer(AGENTX_PDU_BUFFER_SIZE, 0xAA);
    const size_t size = BuildAgentXOpenPdu(buffer.data(), buffer.size(), 1, 60, id.data(), "TLM Windows AgentX sub-agent");
    const Bytes payload = Bytes().u8(60).u8(0).u8(0).u8(0).raw(id).octets("TLM Windows AgentX sub-agent");
    EXPECT_EQ(Built(buffer.data(), size), Head(AXPacketType_Open, 0, 0, 1, payload));
    EXPECT_EQ(OpenPayloadSize(PduPayload(buffer.data())), payload.size());

    AGENTX_RECEIVED_PDU read;
    EXPECT_EQ(ReadAgentXPdu(buffer.data(), size, &read), AXRead_Ok);
}

TEST(AgentXBuilders, CloseRegisterPing)
{
    std::vector<uint8_t> buffer(AGENTX_PDU_BUFFER_SIZE, 0xAA);
    size_t size = BuildAgentXClosePdu(buffer.data(), buffer.size(), 77, 5, AXCloseReason_Shutdown);
    EXPECT_EQ(Built(buffer.data(), size), Head(AXPacketType_Close, 77, 0, 5, Bytes().u8(5).u8(0).u8(0).u8(0)));

    const std::vector<uint8_t> subtree = Bytes().oid(4, 0, {1, kArc, 18}).b;
    size = BuildAgentXRegisterPdu(buffer.data(), buffer.size(), AXPacketType_Register, AXFlag_InstanceRegistration, 77,
                                  6, 127, subtree.data());
    EXPECT_EQ(Built(buffer.data(), size),
              Head(AXPacketType_Register, 77, 0, 6, Bytes().u8(0).u8(127).u8(0).u8(0).raw(subtree), 1));
    EXPECT_EQ(RegisterPayloadSize(PduPayload(buffer.data())), 4 + subtree.size());

    size = BuildAgentXPingPdu(buffer.data(), buffer.size(), 77, 7);
    EXPECT_EQ(Built(buffer.data(), size), Head(AXPacketType_Ping, 77, 0, 7, Bytes()));
}

TEST(AgentXBuilders, NotifyCarriesTheVarBinds)
{
    // snmpTrapOID.0 = ENTERPRISE_ARC.0.18013, then an Integer.
    const std::vector<uint8_t> trapOidName = Bytes().oid(6, 0, {3, 1, 1, 4, 1, 0}).b;
    const std::vector<uint8_t> trapOid = Bytes().oid(0, 0, {1, 3, 6, 1, 4, 1, kArc, 0, 18013}).b;
    std::vector<uint8_t> varbinds(256, 0xAA);
    uint8_t *at = InitVarBind(varbinds.data(), MIBTYPE_OID, trapOidName.data());
    CopyAgentXOid(GetVarBindData(at), trapOid.data());
    at = const_cast<uint8_t *>(NextVarBind(at));
    const std::vector<uint8_t> flagsName = Bytes().oid(0, 0, {1, 3, 6, 1, 4, 1, kArc, 11, 2, 11, 1, 0}).b;
    MakeIntegerVarBind(at, flagsName.data(), 3);
    const Bytes expected = Bytes().u16(6).u16(0).raw(trapOidName).raw(trapOid).u16(2).u16(0).raw(flagsName).u32(3);

    std::vector<uint8_t> copy(256, 0);
    EXPECT_EQ(CopyVarBinds(copy.data(), 2, varbinds.data()), expected.size());

    std::vector<uint8_t> buffer(AGENTX_PDU_BUFFER_SIZE, 0xAA);
    const size_t size = BuildAgentXNotifyPdu(buffer.data(), buffer.size(), 3, 4, 2, varbinds.data());
    EXPECT_EQ(Built(buffer.data(), size), Head(AXPacketType_Notify, 3, 0, 4, expected));

    // A Notify that does not fit its buffer is refused as a whole.
    EXPECT_EQ(BuildAgentXNotifyPdu(buffer.data(), size - 4, 3, 4, 2, varbinds.data()), 0u);
}

TEST(AgentXBuilders, ResponseWithValuesAndEmptyAnswers)
{
    AGENTX_HEADER request;
    request.type = AXPacketType_GetNext;
    request.sessionId = 11;
    request.transactionId = 12;
    request.packetId = 13;
    std::vector<uint8_t> buffer(AGENTX_PDU_BUFFER_SIZE, 0xAA);
    ASSERT_EQ(BeginAgentXResponse(buffer.data(), buffer.size(), request, 4321, AXError_GenErr), 28u);
    SetAgentXResponseError(buffer.data(), AXError_NoError, 0);

    MIBVALUE_REF value;
    const uint32_t number = 99;
    value.type = MIBTYPE_GAUGE32;
    value.length = 4;
    value.data = reinterpret_cast<const uint8_t *>(&number);
    ASSERT_TRUE(AppendAgentXVarBind(buffer.data(), buffer.size(), MIBOID{1, 3, 6, 1, 4, 1, kArc, 11, 1, 0}, value));
    const std::vector<uint8_t> start = Bytes().oid(4, 1, {1, kArc, 99}).b;
    ASSERT_TRUE(AppendAgentXEmptyVarBind(buffer.data(), buffer.size(), AXVarBind_EndOfMibView, start.data()));

    const Bytes payload = Bytes().u32(4321).u16(0).u16(0).u16(66).u16(0).oid(4, 0, {1, kArc, 11, 1, 0}).u32(99)
                              .u16(130).u16(0).raw(start);
    const size_t size = AGENTX_HEADER_SIZE + GetAgentXPayloadLength(buffer.data());
    EXPECT_EQ(Built(buffer.data(), size), Head(AXPacketType_Response, 11, 12, 13, payload));

    AGENTX_RECEIVED_PDU read;
    ASSERT_EQ(ReadAgentXPdu(buffer.data(), size, &read), AXRead_Ok);
    EXPECT_EQ(read.varbindCount, 2u);
    EXPECT_EQ(read.sysUpTime, 4321u);
}

TEST(AgentXBuilders, ResponseThatOutgrowsItsBufferBecomesTooBig)
{
    AGENTX_HEADER request;
    request.sessionId = 1;
    std::vector<uint8_t> buffer(200, 0xAA);
    ASSERT_EQ(BeginAgentXResponse(buffer.data(), 120, request, 0, AXError_NoError), 28u);
    const std::string text(40, 't');
    const MIBVALUE_REF value{MIBTYPE_OCTETSTRING, 0, 40, reinterpret_cast<const uint8_t *>(text.data())};
    const MIBOID name{1, 3, 6, 1, 4, 1, kArc, 1};
    ASSERT_TRUE(AppendAgentXVarBind(buffer.data(), 120, name, value));  // 28 + 64
    const uint32_t lengthBefore = GetAgentXPayloadLength(buffer.data());
    EXPECT_FALSE(AppendAgentXVarBind(buffer.data(), 120, name, value));
    EXPECT_EQ(GetAgentXPayloadLength(buffer.data()), lengthBefore);
    EXPECT_EQ(std::count(buffer.begin() + 120, buffer.end(), 0xAA), 80) << "wrote past the buffer";

    AnswerAgentXTooBig(buffer.data());
    AGENTX_RECEIVED_PDU read;
    ASSERT_EQ(ReadAgentXPdu(buffer.data(), 28, &read), AXRead_Ok);
    EXPECT_EQ(read.error, AXError_TooBig);
    EXPECT_EQ(read.index, 0);
    EXPECT_EQ(read.varbindCount, 0u);
}

TEST(AgentXBuilders, RequestsThatDoNotFitAreRefused)
{
    const std::vector<uint8_t> id = Bytes().oid(0, 0, axtest::Repeat(1, 200)).b;
    std::vector<uint8_t> buffer(AGENTX_PDU_BUFFER_SIZE + 16, 0xAA);
    const std::string description(3900, 'd');
    EXPECT_EQ(BuildAgentXOpenPdu(buffer.data(), AGENTX_PDU_BUFFER_SIZE, 1, 60, id.data(), description.c_str()), 0u);
    EXPECT_EQ(std::count(buffer.begin() + AGENTX_PDU_BUFFER_SIZE, buffer.end(), 0xAA), 16);
    EXPECT_EQ(BuildAgentXClosePdu(buffer.data(), 23, 1, 1, 5), 0u);
    EXPECT_EQ(BuildAgentXPingPdu(buffer.data(), 19, 1, 1), 0u);
}

TEST(AgentXWriter, StopsAtTheEndAndStaysStopped)
{
    std::vector<uint8_t> buffer(10, 0xAA);
    AGENTX_WRITER writer(buffer.data(), 8);
    EXPECT_TRUE(writer.U32(1));
    EXPECT_FALSE(writer.U64(2));
    EXPECT_FALSE(writer.U8(3));  // would fit, but the writer has failed
    EXPECT_TRUE(writer.Failed());
    EXPECT_EQ(writer.Offset(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 4, buffer.end()), std::vector<uint8_t>(6, 0xAA));
}

TEST(AgentXWalkers, ContextAndPayload)
{
    const Bytes payload = Bytes().octets("ctx!x").oid(2, 1, {1, 1}).nullOid();
    const std::vector<uint8_t> pdu = axtest::Pdu(AXPacketType_GetNext, AXFlag_NonDefaultContext, payload);
    ASSERT_EQ(PduContext(pdu.data()), pdu.data() + 20);
    EXPECT_EQ(PduPayload(pdu.data()), pdu.data() + 32);
    EXPECT_EQ(PduPayloadLength(pdu.data()), payload.size() - 12);
    const uint8_t *range = PduPayload(pdu.data());
    EXPECT_EQ(SearchRangeEnd(range), range + 12);
    EXPECT_EQ(SearchRangeSize(range), 16u);
    EXPECT_EQ(NextSearchRange(range), pdu.data() + pdu.size());

    const std::vector<uint8_t> plain = axtest::Pdu(AXPacketType_GetNext, 0, Bytes().oid(2, 1, {1, 1}).nullOid());
    EXPECT_EQ(PduContext(plain.data()), nullptr);
    EXPECT_EQ(PduPayload(plain.data()), plain.data() + 20);
}

} // namespace
