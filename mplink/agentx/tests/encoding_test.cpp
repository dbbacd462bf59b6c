// OIDs, octet strings, varbinds and values in their AgentX byte form.
#include <gtest/gtest.h>

#include <cstring>

#include "agentx_pdu.h"
#include "pdu_bytes.h"

using axtest::Bytes;

namespace {

constexpr uint32_t kArc = 32473;  // the enterprise number

MIBOID Oid(std::initializer_list<uint32_t> ids)
{
    return MIBOID(ids);
}

std::vector<uint8_t> Encoded(const MIBOID &oid)
{
    std::vector<uint8_t> bytes(axlayout::kMaxOidSize, 0xEE);
    const size_t size = EncodeAgentXOid(oid, bytes.data());
    EXPECT_EQ(size, AgentXEncodedOidSize(oid));
    bytes.resize(size);
    return bytes;
}

TEST(AgentXOid, EncodesInPrefixFormWhereItCan)
{
    MIBOID longest;
    longest.count = MIBOID_MAX_SUBIDS;
    std::fill(longest.subIds, longest.subIds + longest.count, 7u);
    struct Case {
        const char *name;
        MIBOID oid;
        std::vector<uint8_t> bytes;
    } const cases[] = {
        {"enterprise object", Oid({1, 3, 6, 1, 4, 1, kArc, 11, 2}), Bytes().oid(4, 0, {1, kArc, 11, 2}).b},
        {"internet itself", Oid({1, 3, 6, 1}), Bytes().oid(0, 0, {1, 3, 6, 1}).b},
        {"fifth above 255", Oid({1, 3, 6, 1, 300, 1}), Bytes().oid(0, 0, {1, 3, 6, 1, 300, 1}).b},
        {"fifth 255", Oid({1, 3, 6, 1, 255, 1}), Bytes().oid(255, 0, {1}).b},
        {"fifth 0", Oid({1, 3, 6, 1, 0, 1}), Bytes().oid(0, 0, {1, 3, 6, 1, 0, 1}).b},
        {"just the prefix", Oid({1, 3, 6, 1, 2}), Bytes().oid(2, 0, {}).b},
        {"not below internet", Oid({1, 3, 6, 2, 4, 1}), Bytes().oid(0, 0, {1, 3, 6, 2, 4, 1}).b},
        {"empty", MIBOID(), Bytes().nullOid().b},
        {"longest", longest, Bytes().oid(0, 0, axtest::Repeat(7, 128)).b},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Encoded(c.oid), c.bytes) << c.name;

    MIBOID invalid;
    invalid.count = -3;
    EXPECT_EQ(Encoded(invalid), Bytes().nullOid().b);
}

TEST(AgentXOid, DecodesPrefixAndFullForm)
{
    MIBOID decoded;
    const std::vector<uint8_t> mib2 = Bytes().oid(2, 1, {1, 1}).b;
    ASSERT_TRUE(DecodeAgentXOid(mib2.data(), &decoded));
    EXPECT_EQ(decoded, Oid({1, 3, 6, 1, 2, 1, 1}));  // include is not part of it

    const std::vector<uint8_t> full = Bytes().oid(0, 0, {1, 3, 6, 1, 4, 1, kArc, 0, 18013}).b;
    ASSERT_TRUE(DecodeAgentXOid(full.data(), &decoded));
    EXPECT_EQ(decoded, Oid({1, 3, 6, 1, 4, 1, kArc, 0, 18013}));

    const std::vector<uint8_t> null = Bytes().nullOid().b;
    ASSERT_TRUE(DecodeAgentXOid(null.data(), &decoded));
    EXPECT_EQ(decoded.count, 0);
}

TEST(AgentXOid, RefusesWhatAMiboidCannotHold)
{
    MIBOID decoded = Oid({1, 2, 3});
    const std::vector<uint8_t> fits = Bytes().oid(4, 0, axtest::Repeat(1, 123)).b;
    ASSERT_TRUE(DecodeAgentXOid(fits.data(), &decoded));
    EXPECT_EQ(decoded.count, 128);
    const std::vector<uint8_t> prefixed = Bytes().oid(4, 0, axtest::Repeat(1, 124)).b;
    EXPECT_FALSE(DecodeAgentXOid(prefixed.data(), &decoded));
    EXPECT_EQ(decoded.count, 0);
    const std::vector<uint8_t> full = Bytes().oid(0, 0, axtest::Repeat(1, 255)).b;
    EXPECT_FALSE(DecodeAgentXOid(full.data(), &decoded));
}

TEST(AgentXOid, RoundTrips)
{
    MIBOID longest;
    longest.count = MIBOID_MAX_SUBIDS;
    for (int32_t i = 0; i < longest.count; ++i)
        longest.subIds[i] = 0xFFFFFFFFu - static_cast<uint32_t>(i);
    longest.subIds[0] = 1;
    for (const MIBOID &oid : {Oid({1, 3, 6, 1, 4, 1, kArc, 42}), Oid({1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}), Oid({0, 0}),
                              Oid({1, 3, 6, 1, 255}), Oid({1, 3}), MIBOID(), longest}) {
        const std::vector<uint8_t> bytes = Encoded(oid);
        MIBOID back;
        ASSERT_TRUE(DecodeAgentXOid(bytes.data(), &back));
        EXPECT_EQ(back, oid);
        EXPECT_EQ(AgentXOidSize(bytes.data()), bytes.size());
    }
}

TEST(AgentXOctetString, SizesAndZeroedPadding)
{
    std::vector<uint8_t> buffer(16, 0xAA);
    EXPECT_EQ(MakeAgentXOctetString(buffer.data(), "hello"), 12u);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 12), Bytes().octets("hello").b);
    EXPECT_EQ(buffer[12], 0xAA);  // nothing past it
    EXPECT_EQ(AgentXOctetStringSize(buffer.data()), 12u);
    EXPECT_EQ(SkipAgentXOctetString(buffer.data()), buffer.data() + 12);

    std::fill(buffer.begin(), buffer.end(), 0xAA);
    EXPECT_EQ(MakeAgentXOctetString(buffer.data(), ""), 4u);
    EXPECT_EQ(MakeAgentXOctetString(buffer.data(), nullptr), 4u);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 4), Bytes().u32(0).b);
    EXPECT_EQ(MakeAgentXOctetString(buffer.data(), "four"), 8u);
    EXPECT_EQ(AgentXOctetStringSizeFor(0xFFFFFFFFu), size_t(0x100000004u));  // no 32-bit wrap
}

TEST(AgentXVarBind, IntegerWithFullFormName)
{
    // ifIndex.7 as a full-form template: 11 sub-identifiers.
    const std::vector<uint8_t> name = Bytes().oid(0, 0, {1, 3, 6, 1, 2, 1, 2, 2, 1, 1, 0}).b;
    std::vector<uint8_t> varbind(64, 0xAA);
    std::vector<uint8_t> templ = name;
    SetLastSubId(templ.data(), 7);
    MakeIntegerVarBind(varbind.data(), templ.data(), -2);
    EXPECT_EQ(VarBindSize(varbind.data()), 56u);
    EXPECT_EQ(std::vector<uint8_t>(varbind.begin(), varbind.begin() + 56),
              Bytes().u16(2).u16(0).oid(0, 0, {1, 3, 6, 1, 2, 1, 2, 2, 1, 1, 7}).u32(0xFFFFFFFE).b);
    EXPECT_EQ(NextVarBind(varbind.data()), varbind.data() + 56);
    EXPECT_EQ(GetVarBindData(varbind.data()), varbind.data() + 52);
}

TEST(AgentXVarBind, OctetStringAndRowIndexTemplates)
{
    std::vector<uint8_t> name = Bytes().oid(0, 0, {1, 3, 6, 1, 4, 1, kArc, 1, 2, 5, 1, 3, 0, 0}).b;
    SetLastTwoSubIds(name.data(), 4, 9);
    std::vector<uint8_t> varbind(128, 0xAA);
    MakeOctetStringVarBind(varbind.data(), name.data(), "disk");
    EXPECT_EQ(std::vector<uint8_t>(varbind.begin(), varbind.begin() + VarBindSize(varbind.data())),
              Bytes().u16(4).u16(0).oid(0, 0, {1, 3, 6, 1, 4, 1, kArc, 1, 2, 5, 1, 3, 4, 9}).octets("disk").b);

    // Templates too short for the index stay as they are.
    std::vector<uint8_t> one = Bytes().oid(0, 0, {5}).b, none = Bytes().nullOid().b;
    const std::vector<uint8_t> oneBefore = one, noneBefore = none;
    SetLastTwoSubIds(one.data(), 1, 2);
    SetLastSubId(none.data(), 1);
    EXPECT_EQ(one, oneBefore);
    EXPECT_EQ(none, noneBefore);
    SetLastSubId(one.data(), 6);
    EXPECT_EQ(one, Bytes().oid(0, 0, {6}).b);
}

TEST(AgentXVarBind, ThreePartIndexAndCountedBytes)
{
    // bus . device . function on a column template; the count of sub-identifiers stays.
    std::vector<uint8_t> name = Bytes().oid(0, 0, {1, 3, 6, 1, 4, 1, kArc, 1, 2, 13, 2, 1, 1, 0, 0, 0}).b;
    SetLastThreeSubIds(name.data(), 3, 0, 1);
    EXPECT_EQ(name, Bytes().oid(0, 0, {1, 3, 6, 1, 4, 1, kArc, 1, 2, 13, 2, 1, 1, 3, 0, 1}).b);
    std::vector<uint8_t> two = Bytes().oid(0, 0, {7, 8}).b;
    const std::vector<uint8_t> twoBefore = two;
    SetLastThreeSubIds(two.data(), 1, 2, 3);
    EXPECT_EQ(two, twoBefore);

    // Bytes with a NUL inside keep their count; padding is zeroed over a dirty buffer.
    const uint8_t bytes[] = {'a', 0, 'b', 0xFF, 'c'};
    std::vector<uint8_t> varbind(160, 0xAA);
    MakeCountedOctetStringVarBind(varbind.data(), name.data(), sizeof bytes, bytes);
    Bytes expected = Bytes().u16(4).u16(0).oid(0, 0, {1, 3, 6, 1, 4, 1, kArc, 1, 2, 13, 2, 1, 1, 3, 0, 1});
    const size_t head = expected.b.size();
    expected.u32(5);
    expected.b.insert(expected.b.end(), {'a', 0, 'b', 0xFF, 'c', 0, 0, 0});
    EXPECT_EQ(std::vector<uint8_t>(varbind.begin(), varbind.begin() + VarBindSize(varbind.data())), expected.b);
    for (const auto &[count, pointer] : {std::pair<uint32_t, const void *>{0, bytes}, {5, nullptr}}) {
        std::fill(varbind.begin(), varbind.end(), 0xAA);
        MakeCountedOctetStringVarBind(varbind.data(), name.data(), count, pointer);
        EXPECT_EQ(VarBindSize(varbind.data()), head + 4);
        EXPECT_EQ(std::vector<uint8_t>(varbind.begin() + head, varbind.begin() + head + 4), Bytes().u32(0).b);
    }
}

TEST(AgentXOctetStringValue, LengthThenBytesWithoutPadding)
{
    const char text[] = "abcde";
    struct {
        const char *what;
        uint32_t count;
        const void *bytes;
        std::vector<uint8_t> written;  // the rest of the 16-byte area keeps its fill
    } cases[] = {
        {"empty count", 0, text, {0, 0, 0, 0}},
        {"null bytes", 3, nullptr, {0, 0, 0, 0}},
        {"five bytes", 5, text, {5, 0, 0, 0, 'a', 'b', 'c', 'd', 'e'}},
        {"four bytes", 4, text, {4, 0, 0, 0, 'a', 'b', 'c', 'd'}},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        std::vector<uint8_t> area(16, 0xCC);
        SetOctetStringValue(area.data(), test.count, test.bytes);
        std::vector<uint8_t> expected = test.written;
        expected.resize(16, 0xCC);
        EXPECT_EQ(expected, area);
    }
}

TEST(AgentXOctetStringValue, LengthIsLittleEndian)
{
    std::vector<uint8_t> source(0x0102, 0x5A);
    std::vector<uint8_t> area(4 + source.size() + 1, 0xCC);
    SetOctetStringValue(area.data(), static_cast<uint32_t>(source.size()), source.data());
    EXPECT_EQ((std::vector<uint8_t>{0x02, 0x01, 0, 0}), std::vector<uint8_t>(area.begin(), area.begin() + 4));
    EXPECT_EQ(0x5A, area[4 + source.size() - 1]);
    EXPECT_EQ(0xCC, area.back());
}

// Each store value as the varbind the sub-agent sends for it.
TEST(AgentXValue, EncodesEveryStoreType)
{
    // Numbers are kept in host order in the store; on the wire they are little-endian.
    const uint32_t number = 0x05060708;
    const uint64_t wide = 0x0102030405060708ull;
    const uint8_t address[4] = {192, 168, 1, 20};
    const uint32_t oidIds[] = {1, 3, 6, 1, 4, 1, kArc};
    const std::vector<uint32_t> seventy = axtest::Repeat(9, 70);
    const char text[] = "abcde";
    auto bytesOf = [](const void *p) { return static_cast<const uint8_t *>(p); };
    struct Case {
        const char *name;
        MIBVALUE_REF value;
        uint16_t type;  // as sent
        Bytes data;
    } const cases[] = {
        {"Integer", {MIBTYPE_INTEGER, 0, 4, bytesOf(&number)}, 2, Bytes().u32(number)},
        {"Counter32", {MIBTYPE_COUNTER32, 0, 4, bytesOf(&number)}, 65, Bytes().u32(number)},
        {"Gauge32", {MIBTYPE_GAUGE32, 0, 4, bytesOf(&number)}, 66, Bytes().u32(number)},
        {"TimeTicks", {MIBTYPE_TIMETICKS, 0, 4, bytesOf(&number)}, 67, Bytes().u32(number)},
        {"Counter64", {MIBTYPE_COUNTER64, 0, 8, bytesOf(&wide)}, 70, Bytes().u64(wide)},
        {"OctetString", {MIBTYPE_OCTETSTRING, 0, 5, bytesOf(text)}, 4, Bytes().octets("abcde")},
        {"IpAddress", {MIBTYPE_IPADDRESS, 0, 4, address}, 64, Bytes().octets("\xC0\xA8\x01\x14")},
        {"Opaque", {MIBTYPE_OPAQUE, 0, 0, address}, 68, Bytes().octets("")},
        {"OBJECT IDENTIFIER", {MIBTYPE_OID, 0, 28, bytesOf(oidIds)}, 6, Bytes().oid(0, 0, {1, 3, 6, 1, 4, 1, kArc})},
        {"70 sub-identifiers", {MIBTYPE_OID, 0, 280, bytesOf(seventy.data())}, 6, Bytes().oid(0, 0, seventy)},
        {"Null", {MIBTYPE_NULL, 0, 0, address}, 5, Bytes()},
        {"no value", {MIBTYPE_NONE, 0, 0, address}, 0, Bytes()},
        {"unknown type", {99, 0, 4, address}, 5, Bytes()},
    };
    const MIBOID name = Oid({1, 3, 6, 1, 4, 1, kArc, 11, 2, 1, 0});
    const std::vector<uint8_t> nameBytes = Bytes().oid(4, 0, {1, kArc, 11, 2, 1, 0}).b;
    for (const Case &c : cases) {
        const std::vector<uint8_t> expected = Bytes().u16(c.type).u16(0).raw(nameBytes).raw(c.data.b).b;
        std::vector<uint8_t> varbind(512, 0xAA);
        EncodeAgentXOid(name, varbind.data() + 4);
        const size_t size = EncodeAgentXValue(c.value, varbind.data());
        EXPECT_EQ(size, expected.size()) << c.name;
        EXPECT_EQ(c.data.size(), AgentXEncodedValueSize(c.value)) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(varbind.begin(), varbind.begin() + size), expected) << c.name;
        EXPECT_EQ(varbind[size], 0xAA) << c.name;
    }
}

TEST(AgentXHeader, ReadsAndWritesEveryField)
{
    AGENTX_HEADER header;
    header.type = AXPacketType_Response;
    header.flags = AXFlag_NonDefaultContext;
    header.sessionId = 0x01020304;
    header.transactionId = 0x05060708;
    header.packetId = 0x090A0B0C;
    header.payloadLength = 0x0D0E0F10;
    std::vector<uint8_t> bytes(20);
    WriteAgentXHeader(bytes.data(), header);
    EXPECT_EQ(bytes, Bytes().u8(1).u8(18).u8(8).u8(0).u32(0x01020304).u32(0x05060708).u32(0x090A0B0C).u32(0x0D0E0F10).b);
    const AGENTX_HEADER back = ReadAgentXHeader(bytes.data());
    EXPECT_EQ(back.type, header.type);
    EXPECT_EQ(back.flags, header.flags);
    EXPECT_EQ(back.sessionId, header.sessionId);
    EXPECT_EQ(back.transactionId, header.transactionId);
    EXPECT_EQ(back.packetId, header.packetId);
    EXPECT_EQ(back.payloadLength, header.payloadLength);
}

} // namespace

TEST(AgentXVarBind, IpAddressIndexAndValue)
{
    // ipAdEntAddr.a.b.c.d: the address as the last four sub-identifiers and as the value.
    std::vector<uint8_t> name = Bytes().oid(0, 0, {1, 3, 6, 1, 2, 1, 4, 20, 1, 1, 0, 0, 0, 0}).b;
    SetOidIpAddressIndex(name.data(), 192, 168, 7, 21);
    const uint8_t address[4] = {192, 168, 7, 21};
    std::vector<uint8_t> varbind(128, 0xAA);
    MakeIpAddressVarBind(varbind.data(), name.data(), address);
    EXPECT_EQ(std::vector<uint8_t>(varbind.begin(), varbind.begin() + VarBindSize(varbind.data())),
              Bytes().u16(64).u16(0).oid(0, 0, {1, 3, 6, 1, 2, 1, 4, 20, 1, 1, 192, 168, 7, 21}).u32(4).u8(192).u8(168).u8(7).u8(21).b);
    std::vector<uint8_t> three = Bytes().oid(0, 0, {1, 2, 3}).b;
    const std::vector<uint8_t> before = three;
    SetOidIpAddressIndex(three.data(), 9, 9, 9, 9);
    EXPECT_EQ(before, three);

    // Without an address the value is empty.
    std::fill(varbind.begin(), varbind.end(), 0xAA);
    MakeIpAddressVarBind(varbind.data(), name.data(), nullptr);
    const size_t head = VarBindSize(varbind.data()) - 4;
    EXPECT_EQ(std::vector<uint8_t>(varbind.begin() + head, varbind.begin() + head + 4), Bytes().u32(0).b);
    EXPECT_EQ(Bytes().u16(64).u16(0).oid(0, 0, {1, 3, 6, 1, 2, 1, 4, 20, 1, 1, 192, 168, 7, 21}).b.size(), head);
}
