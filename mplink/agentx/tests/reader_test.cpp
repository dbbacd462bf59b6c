// The bounded reader against well-formed and malformed PDUs.
#include <gtest/gtest.h>

#include <memory>

#include "agentx_pdu.h"
#include "pdu_bytes.h"

using axtest::Bytes;
using axtest::Pdu;
using axtest::Repeat;

namespace {

constexpr uint32_t kArc = 32473;

// Received bytes in a heap block of exactly their size, so that any read past them is caught.
class Exact {
public:
    explicit Exact(const std::vector<uint8_t> &bytes)
        : m_Data(new uint8_t[bytes.size() ? bytes.size() : 1]), m_Size(bytes.size())
    {
        std::copy(bytes.begin(), bytes.end(), m_Data.get());
    }
    const uint8_t *begin() const { return m_Data.get(); }
    size_t size() const { return m_Size; }

private:
    std::unique_ptr<uint8_t[]> m_Data;
    size_t m_Size;
};

int Read(const Exact &bytes, AGENTX_RECEIVED_PDU *pdu)
{
    return ReadAgentXPdu(bytes.begin(), bytes.size(), pdu);
}

int Read(const std::vector<uint8_t> &bytes)
{
    AGENTX_RECEIVED_PDU pdu;
    return Read(Exact(bytes), &pdu);
}

TEST(AgentXReader, GetNextWithContextAndPrefixedOids)
{
    const Bytes payload = Bytes()
                              .octets("public")
                              .oid(4, 1, {1, kArc, 5})
                              .oid(4, 0, {1, kArc, 6})
                              .oid(0, 0, {1, 3, 6, 1, 2, 1, 25})
                              .nullOid();
    const Exact bytes(Pdu(AXPacketType_GetNext, AXFlag_NonDefaultContext, payload));
    AGENTX_RECEIVED_PDU pdu;
    ASSERT_EQ(Read(bytes, &pdu), AXRead_Ok);
    EXPECT_EQ(pdu.header.sessionId, 7u);
    EXPECT_EQ(pdu.header.transactionId, 8u);
    EXPECT_EQ(pdu.header.packetId, 9u);
    EXPECT_EQ(pdu.context, bytes.begin() + 20);
    EXPECT_EQ(pdu.payload, bytes.begin() + 32);
    EXPECT_EQ(pdu.rangeCount, 2u);

    AGENTX_READER reader(pdu.ranges, pdu.rangesLength);
    AGENTX_SEARCH_RANGE range;
    ASSERT_EQ(reader.SearchRange(&range), AXRead_Ok);
    EXPECT_EQ(range.start, (MIBOID{1, 3, 6, 1, 4, 1, kArc, 5}));
    EXPECT_EQ(range.end, (MIBOID{1, 3, 6, 1, 4, 1, kArc, 6}));
    EXPECT_EQ(range.include, 1);
    EXPECT_EQ(range.rawStart, pdu.ranges);
    ASSERT_EQ(reader.SearchRange(&range), AXRead_Ok);
    EXPECT_EQ(range.start, (MIBOID{1, 3, 6, 1, 2, 1, 25}));
    EXPECT_EQ(range.end.count, 0);
    EXPECT_EQ(range.include, 0);
    EXPECT_EQ(reader.Remaining(), 0u);
}

// The ranges of a GetBulk begin after its two counts, not at the payload.
TEST(AgentXReader, GetBulkRangesFollowTheCounts)
{
    const Exact bytes(Pdu(AXPacketType_GetBulk, 0, Bytes().u16(1).u16(10).oid(4, 0, {1, kArc, 14}).nullOid()));
    AGENTX_RECEIVED_PDU pdu;
    ASSERT_EQ(Read(bytes, &pdu), AXRead_Ok);
    EXPECT_EQ(pdu.nonRepeaters, 1);
    EXPECT_EQ(pdu.maxRepetitions, 10);
    EXPECT_EQ(pdu.ranges, pdu.payload + 4);
    EXPECT_EQ(pdu.rangeCount, 1u);
    MIBOID start;
    ASSERT_TRUE(DecodeAgentXOid(pdu.ranges, &start));
    EXPECT_EQ(start, (MIBOID{1, 3, 6, 1, 4, 1, kArc, 14}));
}

TEST(AgentXReader, ResponseVarBindsOfEveryType)
{
    const Bytes payload = Bytes()
                              .u32(100)
                              .u16(0)
                              .u16(0)
                              .u16(2).u16(0).oid(2, 0, {1, 1, 0}).u32(5)
                              .u16(70).u16(0).oid(2, 0, {1, 2, 0}).u64(6)
                              .u16(4).u16(0).oid(2, 0, {1, 3, 0}).octets("text")
                              .u16(6).u16(0).oid(2, 0, {1, 4, 0}).oid(4, 0, {1, kArc})
                              .u16(64).u16(0).oid(2, 0, {1, 5, 0}).octets(std::string("\x7F\0\0\x01", 4))
                              .u16(5).u16(0).oid(2, 0, {1, 6, 0})
                              .u16(130).u16(0).nullOid();
    const Exact bytes(Pdu(AXPacketType_Response, 0, payload));
    AGENTX_RECEIVED_PDU pdu;
    ASSERT_EQ(Read(bytes, &pdu), AXRead_Ok);
    EXPECT_EQ(pdu.sysUpTime, 100u);
    EXPECT_EQ(pdu.varbindCount, 7u);

    // The trusted walkers agree with the reader on a checked PDU.
    AGENTX_READER reader(pdu.varbinds, pdu.varbindsLength);
    const uint8_t *walked = pdu.varbinds;
    for (uint32_t i = 0; i < pdu.varbindCount; ++i) {
        AGENTX_VARBIND varbind;
        ASSERT_EQ(reader.VarBind(&varbind), AXRead_Ok);
        EXPECT_EQ(varbind.start, walked);
        EXPECT_EQ(varbind.size, VarBindSize(walked));
        EXPECT_EQ(varbind.data, GetVarBindData(walked));
        EXPECT_EQ(varbind.dataSize, VarBindDataSize(walked));
        walked = NextVarBind(walked);
    }
    EXPECT_EQ(walked, bytes.begin() + bytes.size());
}

struct Malformed {
    const char *name;
    std::vector<uint8_t> bytes;
    int result;
};

TEST(AgentXReader, MalformedPdus)
{
    const std::vector<uint8_t> good = Pdu(AXPacketType_Get, 0, Bytes().oid(4, 0, {1, kArc, 1}).nullOid());
    std::vector<uint8_t> badVersion = good;
    badVersion[0] = 2;
    std::vector<uint8_t> trailing = good;
    trailing.insert(trailing.end(), {1, 2, 3});

    const Malformed cases[] = {
        {"nothing", {}, AXRead_ShortHeader},
        {"19 bytes", std::vector<uint8_t>(good.begin(), good.begin() + 19), AXRead_ShortHeader},
        {"version 2", badVersion, AXRead_BadVersion},
        {"payload length past the bytes", std::vector<uint8_t>(good.begin(), good.end() - 4), AXRead_PastEnd},
        {"payload length 0xFFFFFFFF", Pdu(AXPacketType_Get, 0, Bytes().nullOid(), 0xFFFFFFFF), AXRead_PastEnd},
        {"context cut in its length", Pdu(AXPacketType_Get, AXFlag_NonDefaultContext, Bytes().u16(5)),
         AXRead_Truncated},
        {"context longer than the payload",
         Pdu(AXPacketType_Get, AXFlag_NonDefaultContext, Bytes().u32(9).u32(0).u32(0)), AXRead_PastEnd},
        {"context length 0xFFFFFFFF", Pdu(AXPacketType_Get, AXFlag_NonDefaultContext, Bytes().u32(0xFFFFFFFF)),
         AXRead_PastEnd},
        {"start OID cut", Pdu(AXPacketType_Get, 0, Bytes().u8(5).u8(0).u8(0).u8(0).u32(1).u32(2)), AXRead_Truncated},
        {"OID header cut", Pdu(AXPacketType_Get, 0, Bytes().u16(0)), AXRead_Truncated},
        {"range without end", Pdu(AXPacketType_Get, 0, Bytes().oid(4, 0, {1, kArc})), AXRead_Truncated},
        {"prefixed OID of 129", Pdu(AXPacketType_Get, 0, Bytes().oid(4, 0, Repeat(1, 124)).nullOid()),
         AXRead_OidTooLong},
        {"full OID of 255", Pdu(AXPacketType_GetNext, 0, Bytes().nullOid().oid(0, 0, Repeat(1, 255))),
         AXRead_OidTooLong},
        {"prefixed OID of 128", Pdu(AXPacketType_Get, 0, Bytes().oid(4, 0, Repeat(1, 123)).nullOid()), AXRead_Ok},
        {"full OID of 128", Pdu(AXPacketType_Get, 0, Bytes().oid(0, 0, Repeat(1, 128)).nullOid()), AXRead_Ok},
        {"GetBulk counts cut", Pdu(AXPacketType_GetBulk, 0, Bytes().u16(1)), AXRead_Truncated},
        {"Response fields cut", Pdu(AXPacketType_Response, 0, Bytes().u32(1).u16(0)), AXRead_Truncated},
        {"varbind header cut", Pdu(AXPacketType_Response, 0, Bytes().u32(1).u32(0).u16(2)), AXRead_Truncated},
        {"varbind name cut",
         Pdu(AXPacketType_Response, 0, Bytes().u32(1).u32(0).u16(2).u16(0).u8(3).u8(0).u8(0).u8(0).u32(1)),
         AXRead_Truncated},
        {"Integer data cut", Pdu(AXPacketType_Response, 0, Bytes().u32(1).u32(0).u16(2).u16(0).nullOid().u16(0)),
         AXRead_Truncated},
        {"Counter64 data cut", Pdu(AXPacketType_Response, 0, Bytes().u32(1).u32(0).u16(70).u16(0).nullOid().u32(0)),
         AXRead_Truncated},
        {"octet string past the payload",
         Pdu(AXPacketType_Notify, 0, Bytes().u16(4).u16(0).nullOid().u32(100).u32(0)), AXRead_PastEnd},
        {"octet string length 0xFFFFFFFF",
         Pdu(AXPacketType_TestSet, 0, Bytes().u16(4).u16(0).nullOid().u32(0xFFFFFFFF)), AXRead_PastEnd},
        {"OID value cut", Pdu(AXPacketType_Response, 0, Bytes().u32(1).u32(0).u16(6).u16(0).nullOid().u8(2).u8(0)),
         AXRead_Truncated},
        {"Close cut", Pdu(AXPacketType_Close, 0, Bytes().u16(5)), AXRead_Truncated},
        {"Register without its upper bound",
         Pdu(AXPacketType_Register, 0, Bytes().u8(0).u8(127).u8(2).u8(0).oid(4, 0, {1, kArc, 5})), AXRead_Truncated},
        {"Register with its upper bound",
         Pdu(AXPacketType_Register, 0, Bytes().u8(0).u8(127).u8(2).u8(0).oid(4, 0, {1, kArc, 5}).u32(9)), AXRead_Ok},
        {"Open description past the end", Pdu(AXPacketType_Open, 0, Bytes().u32(60).nullOid().u32(5)), AXRead_PastEnd},
        {"unknown type", Pdu(99, 0, Bytes().u32(0xFFFFFFFF).u16(1)), AXRead_Ok},
        {"bytes after the payload", trailing, AXRead_Ok},
        {"Ping with no payload", Pdu(AXPacketType_Ping, 0, Bytes()), AXRead_Ok},
    };
    for (const Malformed &c : cases)
        EXPECT_EQ(Read(c.bytes), c.result) << c.name;
}

TEST(AgentXReader, WhatToAnswer)
{
    struct Case {
        int result;
        bool answerable;
        uint16_t error;
    } const cases[] = {
        {AXRead_Ok, true, AXError_NoError},           {AXRead_ShortHeader, false, 0},
        {AXRead_BadVersion, false, 0},               {AXRead_PastEnd, true, AXError_ParseError},
        {AXRead_Truncated, true, AXError_ParseError}, {AXRead_OidTooLong, true, AXError_GenErr},
    };
    for (const Case &c : cases) {
        uint16_t error = 0xFFFF;
        EXPECT_EQ(AgentXReadAnswer(c.result, &error), c.answerable) << c.result;
        if (c.answerable) {
            EXPECT_EQ(error, c.error) << c.result;
        }
    }
}

TEST(AgentXReader, TrailingBytesAreNotPartOfThePdu)
{
    std::vector<uint8_t> received = Pdu(AXPacketType_Ping, 0, Bytes());
    received.resize(40, 0x55);
    AGENTX_RECEIVED_PDU pdu;
    ASSERT_EQ(Read(Exact(received), &pdu), AXRead_Ok);
    EXPECT_EQ(pdu.size, 20u);
    EXPECT_EQ(pdu.payloadLength, 0u);
}

TEST(AgentXReader, AccessorsStopAtTheEnd)
{
    const uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    AGENTX_READER reader(bytes, sizeof bytes);
    uint32_t u32 = 0;
    uint64_t u64 = 0;
    uint16_t u16 = 0;
    ASSERT_EQ(reader.U32(&u32), AXRead_Ok);
    EXPECT_EQ(u32, 0x04030201u);
    EXPECT_EQ(reader.U64(&u64), AXRead_Truncated);
    EXPECT_EQ(reader.Offset(), 4u);  // a failed read takes nothing
    ASSERT_EQ(reader.U16(&u16), AXRead_Ok);
    EXPECT_EQ(u16, 0x0605);
    uint8_t u8;
    EXPECT_EQ(reader.U8(&u8), AXRead_Truncated);
    EXPECT_EQ(reader.Remaining(), 0u);
}

} // namespace
