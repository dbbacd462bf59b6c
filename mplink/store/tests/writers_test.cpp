// The collectors' writers: tables, scalar groups, texts.
#include <gtest/gtest.h>

#include <cstring>

#include "store_test_util.h"

using namespace storetest;

namespace {

const char kEntry[] = "1.3.6.1.4.1.9.11.1.1";
const char kGroup[] = "1.3.6.1.4.1.9.11.2";

class WritersTest : public ::testing::Test {
protected:
    std::vector<std::string> Staged() { return WalkAll(m_Staging, s_NoStartOid, s_NoEndOid, false); }
    std::string E(const std::string &rest) { return std::string(kEntry) + "." + rest; }

    StoreHeapScope m_Heap;
    DATASTORE *m_Staging = new DATASTORE(false);
};

TEST_F(WritersTest, TwoPartIndex)
{
    DATASTORE_TABLE table(m_Staging);
    ASSERT_TRUE(table.BeginTable(Oid(kEntry), 2, false));
    EXPECT_EQ(table.SetIndex(5, 7), 2u);
    ASSERT_TRUE(table.SetInteger(3, 42));
    EXPECT_EQ(Staged(), std::vector<std::string>{E("3.5.7=42")});
}

TEST_F(WritersTest, IndexPositionsWithoutArgumentsAreZero)
{
    DATASTORE_TABLE table(m_Staging);
    ASSERT_TRUE(table.BeginTable(Oid(kEntry), 3, false));
    table.SetIndex(9, 8, 7);
    ASSERT_TRUE(table.SetInteger(1, 1));
    table.SetIndex(4);
    ASSERT_TRUE(table.SetInteger(1, 2));
    ASSERT_TRUE(table.BeginTable(Oid(kEntry), 1, false));
    table.SetIndex(6, 99);  // one more than the index holds
    ASSERT_TRUE(table.SetInteger(2, 3));
    EXPECT_EQ(Staged(), (std::vector<std::string>{E("1.4.0.0=2"), E("1.9.8.7=1"), E("2.6=3")}));
}

TEST_F(WritersTest, ScalarOfAGroup)
{
    DATASTORE_CURSOR cursor(m_Staging);
    ASSERT_TRUE(cursor.Open(Oid(kGroup), false));
    ASSERT_TRUE(cursor.SetInteger(4, 1));
    ASSERT_TRUE(cursor.SetString(5, "five"));
    const uint8_t bytes[] = {0, 1, 2};
    ASSERT_TRUE(cursor.SetOctetString(6, 3, bytes));
    EXPECT_EQ(Staged(), (std::vector<std::string>{std::string(kGroup) + ".4.0=1", std::string(kGroup) + ".5.0=\"five\"",
                                                  std::string(kGroup) + ".6.0=\"" + std::string("\0\1\2", 3) + "\""}));
    ASSERT_TRUE(cursor.SetCounter32(7, 0xFFFFFFFF));
    ASSERT_TRUE(cursor.SetTimeTicks(8, 12345));
    std::vector<uint16_t> types;
    m_Staging->Walk(Oid(std::string(kGroup) + ".7"), s_NoEndOid, false, [&](const MIBOID &, const MIBVALUE_REF &v) {
        types.push_back(v.type);
        EXPECT_EQ(v.U32(), types.size() == 1 ? 0xFFFFFFFFu : 12345u);
        return true;
    });
    EXPECT_EQ(types, (std::vector<uint16_t>{MIBTYPE_COUNTER32, MIBTYPE_TIMETICKS}));
}

TEST_F(WritersTest, TypedColumns)
{
    DATASTORE_TABLE table(m_Staging);
    ASSERT_TRUE(table.BeginTable(Oid(kEntry), 1, false));
    table.SetIndex(1);
    ASSERT_TRUE(table.SetInteger(1, -5));
    ASSERT_TRUE(table.SetCounter32(2, 0xFFFFFFFF));
    ASSERT_TRUE(table.SetGauge32(3, 7));
    ASSERT_TRUE(table.SetUnsigned32(4, 8));
    ASSERT_TRUE(table.SetTimeTicks(5, 9));
    ASSERT_TRUE(table.SetOid(6, s_ZeroDotZeroOid));
    ASSERT_TRUE(table.SetOid(7, Oid("1.3.6.1.4.1.9")));
    ASSERT_TRUE(table.SetIpAddress(8, 0x0500000A));  // 10.0.0.5 as the IP Helper tables hold it
    std::vector<std::pair<uint16_t, std::vector<uint32_t>>> seen;
    m_Staging->Walk(s_NoStartOid, s_NoEndOid, false, [&](const MIBOID &, const MIBVALUE_REF &v) {
        std::vector<uint32_t> words(v.length / 4);
        std::memcpy(words.data(), v.data, words.size() * 4);
        seen.emplace_back(v.type, words);
        return true;
    });
    const std::vector<std::pair<uint16_t, std::vector<uint32_t>>> expected = {
        {MIBTYPE_INTEGER, {0xFFFFFFFB}}, {MIBTYPE_COUNTER32, {0xFFFFFFFF}}, {MIBTYPE_GAUGE32, {7}},
        {MIBTYPE_GAUGE32, {8}},          {MIBTYPE_TIMETICKS, {9}},          {MIBTYPE_OID, {0, 0}},
        {MIBTYPE_OID, {1, 3, 6, 1, 4, 1, 9}}, {MIBTYPE_IPADDRESS, {0x0500000A}},
    };
    EXPECT_EQ(seen, expected);
    // On the wire an IpAddress is its four bytes, first octet first.
    std::vector<uint8_t> address;
    m_Staging->Walk(Oid(E("8")), s_NoEndOid, false, [&](const MIBOID &, const MIBVALUE_REF &v) {
        address.assign(v.data, v.data + v.length);
        return false;
    });
    EXPECT_EQ(address, (std::vector<uint8_t>{10, 0, 0, 5}));
}

TEST_F(WritersTest, ClearDropsEarlierRowsAndTheMergeKeepsOnlyNewOnes)
{
    DATASTORE *global = new DATASTORE(true);
    ASSERT_TRUE(global->SetValue(Oid(E("1.1")), Integer(1)));
    ASSERT_TRUE(global->SetValue(Oid(E("1.2")), Integer(2)));

    DATASTORE_TABLE table(m_Staging);
    ASSERT_TRUE(table.BeginTable(Oid(kEntry), 1, false));
    table.SetIndex(3);
    ASSERT_TRUE(table.SetInteger(1, 3));
    ASSERT_TRUE(table.BeginTable(Oid(kEntry), 1, true));
    EXPECT_TRUE(Staged().empty());
    EXPECT_EQ(Shape(m_Staging).back(), std::string(kEntry) + "*");
    table.SetIndex(4);
    ASSERT_TRUE(table.SetInteger(1, 4));

    ASSERT_TRUE(global->Merge(m_Staging));
    EXPECT_EQ(WalkAll(global, s_NoStartOid, s_NoEndOid, false), std::vector<std::string>{E("1.4=4")});
}

TEST_F(WritersTest, RefuseTheLockingStore)
{
    DATASTORE *global = new DATASTORE(true);
    DATASTORE_TABLE table(global);
    DATASTORE_CURSOR cursor(global);
    EXPECT_FALSE(table.BeginTable(Oid(kEntry), 1, true));
    table.SetIndex(1);
    EXPECT_FALSE(table.SetInteger(1, 1));
    EXPECT_FALSE(cursor.Open(Oid(kGroup), true));
    EXPECT_FALSE(cursor.SetInteger(1, 1));
    EXPECT_EQ(global->FindOrCreate(Oid(kEntry)), nullptr);
    EXPECT_EQ(Shape(global), std::vector<std::string>{"1"});
}

TEST_F(WritersTest, NothingOpenWritesNothing)
{
    DATASTORE_TABLE table(m_Staging);
    DATASTORE_CURSOR cursor(m_Staging);
    table.SetIndex(1);
    EXPECT_FALSE(table.SetInteger(1, 1));
    EXPECT_FALSE(cursor.SetInteger(1, 1));
    EXPECT_FALSE(table.BeginTable(Oid("2.1"), 1, false));  // an entry the store cannot hold
    EXPECT_FALSE(table.SetInteger(1, 1));
    EXPECT_EQ(Shape(m_Staging), std::vector<std::string>{"1"});
}

TEST_F(WritersTest, CellsDeeperThanAnOidCanBeAreRefused)
{
    DATASTORE_TABLE table(m_Staging);
    EXPECT_FALSE(table.BeginTable(Oid(kEntry), MIBOID_MAX_SUBIDS + 1, false));

    MIBOID entry = Oid(kEntry);  // 10 sub-identifiers
    ASSERT_TRUE(table.BeginTable(entry, MIBOID_MAX_SUBIDS - 11, false));
    table.SetIndex(1);
    EXPECT_TRUE(table.SetInteger(1, 1));  // 10 + column + 117 = 128
    ASSERT_TRUE(table.BeginTable(entry, MIBOID_MAX_SUBIDS - 10, false));
    table.SetIndex(2);
    EXPECT_FALSE(table.SetInteger(1, 2));  // 129
    EXPECT_EQ(Staged().size(), 1u);
}

// Clearing an enclosing group frees the table's entry node; the table writer must notice and
// never write through the freed node.
TEST_F(WritersTest, TableSurvivesAClearOfItsGroup)
{
    DATASTORE_TABLE table(m_Staging);
    ASSERT_TRUE(table.BeginTable(Oid(kEntry), 1, false));
    table.SetIndex(1);
    ASSERT_TRUE(table.SetInteger(1, 1));
    DATASTORE_CURSOR cursor(m_Staging);
    ASSERT_TRUE(cursor.Open(Oid("1.3.6.1.4.1.9.11"), true));
    table.SetIndex(2);
    ASSERT_TRUE(table.SetInteger(1, 2));
    EXPECT_EQ(Staged(), std::vector<std::string>{E("1.2=2")});
}

TEST_F(WritersTest, LongOctetStringIsCut)
{
    std::string bytes(2000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>('a' + i % 26);
    DATASTORE_TABLE table(m_Staging);
    ASSERT_TRUE(table.BeginTable(Oid(kEntry), 1, false));
    table.SetIndex(1);
    ASSERT_TRUE(table.SetOctetString(2, static_cast<uint32_t>(bytes.size()), bytes.data()));
    EXPECT_EQ(Staged(), std::vector<std::string>{E("2.1=\"" + bytes.substr(0, MIBVALUE_DATA_BYTES) + "\"")});
}

TEST_F(WritersTest, StringsAtTheLimits)
{
    const std::string valid1016(MIBVALUE_DATA_BYTES, 'a');
    struct Case {
        const char *name;
        std::string text;
        bool isNull;
        std::string stored;
    } const cases[] = {
        {"null", "", true, ""},
        {"empty", "", false, ""},
        {"1016 bytes", valid1016, false, valid1016},
        {"1017 bytes", valid1016 + "b", false, valid1016},
        {"4095 bytes", std::string(4095, 'c'), false, std::string(MIBVALUE_DATA_BYTES, 'c')},
        {"4096 bytes", std::string(4096, 'c'), false, kInvalidCharacterText},
        {"invalid byte pair", "\xC3\x28", false, kInvalidCharacterText},
        {"valid two-byte character", "\xC3\xA9", false, "\xC3\xA9"},
        {"two-byte character cut at the limit", std::string(1015, 'a') + "\xC3\xA9", false,
         std::string(1015, 'a') + "\xC3"},
    };
    DATASTORE_TABLE table(m_Staging);
    DATASTORE_CURSOR cursor(m_Staging);
    ASSERT_TRUE(table.BeginTable(Oid(kEntry), 1, false));
    ASSERT_TRUE(cursor.Open(Oid(kGroup), false));
    uint32_t row = 0;
    for (const Case &c : cases) {
        table.SetIndex(++row);
        ASSERT_TRUE(table.SetString(1, c.isNull ? nullptr : c.text.c_str())) << c.name;
        ASSERT_TRUE(cursor.SetString(row, c.isNull ? nullptr : c.text.c_str())) << c.name;
        const std::string cell = E("1." + std::to_string(row)), scalar = std::string(kGroup) + "." + std::to_string(row) + ".0";
        EXPECT_EQ(WalkAll(m_Staging, Oid(cell), s_NoEndOid, false, 1),
                  std::vector<std::string>{cell + "=\"" + c.stored + "\""})
            << c.name;
        EXPECT_EQ(WalkAll(m_Staging, Oid(scalar), s_NoEndOid, false, 1),
                  std::vector<std::string>{scalar + "=\"" + c.stored + "\""})
            << c.name;
    }
}

TEST(IsValidUtf8, Table)
{
    struct Case {
        const char *name;
        const char *text;
        bool valid;
    } const cases[] = {
        {"null", nullptr, true},
        {"empty", "", true},
        {"ASCII", "plain text 123", true},
        {"two bytes", "\xC2\x80", true},
        {"three bytes", "\xE2\x82\xAC", true},
        {"four bytes", "\xF0\x9F\x98\x80", true},
        {"highest code point", "\xF4\x8F\xBF\xBF", true},
        {"last before surrogates", "\xED\x9F\xBF", true},
        {"first after surrogates", "\xEE\x80\x80", true},
        {"overlong NUL", "\xC0\x80", false},
        {"overlong slash", "\xC1\xAF", false},
        {"overlong three bytes", "\xE0\x80\xAF", false},
        {"overlong three bytes, highest", "\xE0\x9F\xBF", false},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", false},
        {"high surrogate", "\xED\xA0\x80", false},
        {"low surrogate", "\xED\xBF\xBF", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"lead F5", "\xF5\x80\x80\x80", false},
        {"lead F8", "\xF8\x88\x80\x80\x80", false},
        {"lead FF", "\xFF", false},
        {"stray continuation", "a\x80", false},
        {"truncated two bytes at the end", "a\xC3", false},
        {"truncated three bytes", "\xE2\x82", false},
        {"truncated four bytes before ASCII", "\xF0\x9F\x98" "a", false},
        {"ANSI text", "Caf\xE9", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.name;
}

TEST(IsValidUtf8, LengthLimit)
{
    EXPECT_TRUE(IsValidUtf8(std::string(4095, 'x').c_str()));
    EXPECT_FALSE(IsValidUtf8(std::string(4096, 'x').c_str()));
    // A multi-byte character that would end on byte 4096.
    EXPECT_FALSE(IsValidUtf8((std::string(4093, 'x') + "\xE2\x82\xAC").c_str()));
    EXPECT_TRUE(IsValidUtf8((std::string(4092, 'x') + "\xE2\x82\xAC").c_str()));
}

} // namespace
