// The black box's bytes: code tables, descriptors, requests, replies and record payloads.
#include "blackbox_wire.h"
#include "byte_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

uint32_t Word(const BLACKBOX_REQUEST &request, size_t offset)
{
    uint32_t value = 0;
    EXPECT_TRUE(ByteReader(request.Bytes, sizeof(request.Bytes)).U32(offset, &value));
    return value;
}

std::string Text(const uint8_t *at) { return reinterpret_cast<const char *>(at); }

TEST(BlackboxCodeTable, HoldsSeventeenCodesAndSeventyNineFieldsInUploadOrder)
{
    size_t count = 0;
    const BLACKBOX_CODE_INFO *codes = BlackboxCodeTable(&count);
    std::vector<int> order;
    size_t fields = 0;
    for (size_t i = 0; i < count; ++i) {
        order.push_back(codes[i].Code);
        fields += codes[i].FieldCount;
        for (size_t f = 0; f < codes[i].FieldCount; ++f) {
            const BLACKBOX_FIELD_INFO &field = codes[i].Fields[f];
            // Texts have no size; integers and flags have one a u64 holds.
            EXPECT_EQ(field.Type == kBlackboxTypeText, field.Size == 0) << codes[i].Name << " " << field.Name;
            EXPECT_LE(field.Size, 8) << field.Name;
            EXPECT_LE(std::strlen(field.Name), kBlackboxDescriptorNameChars);
        }
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 5, 16, 6, 7, 18, 19, 20, 8, 9, 10, 11, 12, 13, 15}));
    EXPECT_EQ(fields, 79u);
    EXPECT_EQ(FindBlackboxCode(14), nullptr);
    ASSERT_NE(FindBlackboxCode(16), nullptr);
    EXPECT_STREQ(FindBlackboxCode(16)->Name, "Driver Change");
    EXPECT_EQ(FindBlackboxCode(16)->Fields, FindBlackboxCode(5)->Fields);
}

TEST(BlackboxDescriptor, CodeAndFieldDescriptorsCarryKindClassTypeSizeModeAndName)
{
    struct Case {
        uint32_t code;
        int field; // -1: the code's own descriptor
        std::vector<uint8_t> head;
        const char *name;
    };
    const Case cases[] = {
        {11, -1, {0x84, 7, 11, 0, 0x24, 4, 1, 0}, "OS Usage"},
        {1, -1, {0x84, 7, 1, 0, 0x03, 0, 1, 0}, "OS Boot"},
        {15, 2, {0x8C, 7, 15, 2, 0x12, 0, 1, 0}, "Interface Description"},
        {5, 0, {0x8C, 7, 5, 0, 0x65, 2, 1, 0}, "Flags"},
        {12, 3, {0x8C, 7, 12, 3, 0x24, 8, 1, 0}, "Virtual Memory Free"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const BLACKBOX_CODE_INFO *code = FindBlackboxCode(c.code);
        ASSERT_NE(code, nullptr);
        BLACKBOX_DESCRIPTOR d = c.field < 0 ? MakeCodeDescriptor(7, *code) : MakeFieldDescriptor(7, *code, c.field);
        std::vector<uint8_t> bytes(reinterpret_cast<uint8_t *>(&d), reinterpret_cast<uint8_t *>(&d) + sizeof(d));
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8), c.head);
        EXPECT_EQ(Text(bytes.data() + 8), c.name);
        EXPECT_EQ(bytes[95], 0);
    }
}

TEST(BlackboxRequest, EncodersPlaceEveryParameter)
{
    BLACKBOX_REQUEST request;
    ASSERT_TRUE(EncodeOpenSource(&request, 1, "TLM"));
    EXPECT_EQ(Word(request, 0) & 0xFFFF, 1008u);
    EXPECT_EQ(Word(request, 0) >> 16, 1u);
    EXPECT_EQ(Word(request, 4), 0x110000u);
    EXPECT_EQ(Word(request, 8), 2u);
    EXPECT_EQ(Word(request, 12), 13u);
    EXPECT_EQ(Text(request.Bytes + 20), "TLM");
    EXPECT_FALSE(EncodeOpenSource(&request, 1, nullptr));

    // Names are cut to 31 characters; the byte after them stays 0.
    std::string longName(40, 'n');
    ASSERT_TRUE(EncodeRegisterFeeder(&request, 2, longName.c_str(), 3, 0x2000000, 976, 0));
    EXPECT_EQ(Text(request.Bytes + 16), std::string(31, 'n'));
    EXPECT_EQ(Word(request, 48), 3u);
    EXPECT_EQ(Word(request, 52), 0x2000000u);
    EXPECT_EQ(Word(request, 56), 976u);
    EXPECT_EQ(Word(request, 60), 0u);

    EncodeSelectCode(&request, 3, 9, 13);
    EXPECT_EQ(Word(request, 12), 3u);
    EXPECT_EQ(Word(request, 16), 9u);
    EXPECT_EQ(Word(request, 20), 2u);
    EXPECT_EQ(Word(request, 24), 0u);
    EXPECT_EQ(Word(request, 28), 13u);

    EncodeStatusQuery(&request, kBlackboxCmdIsDisabled, 9);
    EXPECT_EQ(Word(request, 0) >> 16, 0u) << "status queries carry sequence 0";
    EXPECT_EQ(Word(request, 8), 3u);
    EXPECT_EQ(Word(request, 12), 7u);
    EXPECT_EQ(Word(request, 16), 9u);
    // Nothing of an earlier request is left behind.
    for (size_t i = 20; i < sizeof(request.Bytes); ++i)
        ASSERT_EQ(request.Bytes[i], 0) << i;
}

TEST(BlackboxRequest, DescribeAndDataRefuseWhatTheRequestCannotHold)
{
    std::vector<uint8_t> data(1008, 0x5A);
    struct Case {
        size_t length;
        bool describe;
        bool encoded;
    };
    const Case cases[] = {
        {96, true, true},     {960, true, true},   {980, true, true},   {981, true, false}, {1056, true, false},
        {0, false, true},     {976, false, true},  {977, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << (c.describe ? " describe" : " data"));
        BLACKBOX_REQUEST request;
        bool encoded = c.describe ? EncodeDescribe(&request, 4, 9, kBlackboxDescribeFieldWord, data.data(), c.length)
                                  : EncodeLogData(&request, 4, kBlackboxCmdLogData, 9, data.data(), c.length);
        EXPECT_EQ(encoded, c.encoded);
        if (!encoded)
            continue;
        size_t start = c.describe ? 28 : 32;
        EXPECT_EQ(Word(request, c.describe ? 24 : 20), c.length);
        EXPECT_EQ(Word(request, 20), c.describe ? 3u : c.length);
        if (c.length != 0) {
            EXPECT_EQ(request.Bytes[start], 0x5A);
            EXPECT_EQ(request.Bytes[start + c.length - 1], 0x5A);
        }
        if (start + c.length < 1008) {
            EXPECT_EQ(request.Bytes[start + c.length], 0);
        }
    }
    BLACKBOX_REQUEST request;
    EXPECT_FALSE(EncodeLogData(&request, 1, kBlackboxCmdLogData, 9, nullptr, 4));
    EXPECT_TRUE(EncodeLogData(&request, 1, kBlackboxCmdLogData, 9, nullptr, 0));
}

TEST(BlackboxReply, WordsAreReadOnlyWhenTheReplyHoldsThem)
{
    struct Case {
        uint16_t declared;
        size_t buffer;
        BlackboxReplyNeeds needs;
        bool read;
    };
    const Case cases[] = {
        {592, 592, BlackboxReplyNeeds::Disabled, true}, {36, 592, BlackboxReplyNeeds::Disabled, true},
        {35, 592, BlackboxReplyNeeds::Disabled, false}, {16, 592, BlackboxReplyNeeds::Word12, true},
        {15, 592, BlackboxReplyNeeds::Word12, false},   {12, 592, BlackboxReplyNeeds::Result, true},
        {11, 592, BlackboxReplyNeeds::Result, false},   {592, 12, BlackboxReplyNeeds::Result, true},
        {592, 12, BlackboxReplyNeeds::Word12, false},   {592, 1, BlackboxReplyNeeds::Result, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.declared << "/" << c.buffer);
        std::vector<uint8_t> bytes(592, 0);
        PutU16(bytes.data(), c.declared);
        PutU32(bytes.data() + 8, 5);
        PutU32(bytes.data() + 12, 0x8000);
        PutU32(bytes.data() + 32, 1);
        BLACKBOX_REPLY reply;
        reply.Result = 77;
        EXPECT_EQ(ReadBlackboxReply(bytes.data(), c.buffer, c.needs, &reply), c.read);
        if (c.read) {
            EXPECT_EQ(reply.Result, 5u);
            EXPECT_EQ(reply.Word32, c.needs == BlackboxReplyNeeds::Disabled ? 1u : 0u);
        } else {
            EXPECT_EQ(reply.Result, 77u) << "a refused reply leaves the output alone";
        }
    }
}

TEST(BlackboxPayload, FixedPartTextsAndTheLimit)
{
    std::vector<uint8_t> fixed900(977, 0x11);
    std::string t74(74, 'a'), t75(75, 'a'), t10(10, 'b');
    const char *list74[] = {t74.c_str()};
    const char *list75[] = {t75.c_str()};
    const char *withNull[] = {"x", nullptr, "yz"};
    const char *twoFit[] = {t10.c_str(), t10.c_str()};
    struct Case {
        const char *name;
        const uint8_t *fixed;
        size_t fixedLength;
        const char *const *texts;
        size_t count;
        bool refused;
        size_t length;
    };
    const Case cases[] = {
        {"900 + 74 fills the record", fixed900.data(), 900, list74, 1, false, 976},
        {"900 + 75 is one byte too many", fixed900.data(), 900, list75, 1, true, 0},
        {"null text sent empty", fixed900.data(), 2, withNull, 3, false, 2 + 2 + 1 + 3 + 1},
        {"no texts: no terminator", fixed900.data(), 14, nullptr, 0, false, 14},
        {"count 0: no terminator", fixed900.data(), 14, withNull, 0, false, 14},
        {"976 fixed alone", fixed900.data(), 976, nullptr, 0, false, 976},
        {"977 fixed", fixed900.data(), 977, nullptr, 0, true, 0},
        {"second text does not fit", fixed900.data(), 954, twoFit, 2, true, 0},
        {"both texts fit", fixed900.data(), 953, twoFit, 2, false, 976},
        {"null fixed with length", nullptr, 3, nullptr, 0, true, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> buffer(kBlackboxMaxPayload, 0xEE);
        bool refused = false;
        size_t length = ComposeBlackboxPayload(buffer.data(), c.fixed, c.fixedLength, c.texts, c.count, &refused);
        EXPECT_EQ(refused, c.refused);
        EXPECT_EQ(length, c.length);
        if (!c.refused && c.count != 0) {
            EXPECT_EQ(buffer[length - 1], 0);
            EXPECT_EQ(buffer[length - 2], 0);
        }
    }
    uint8_t buffer[kBlackboxMaxPayload];
    bool refused = true;
    const uint8_t flags[] = {1, 0};
    size_t length = ComposeBlackboxPayload(buffer, flags, 2, withNull, 3, &refused);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + length), (std::vector<uint8_t>{1, 0, 'x', 0, 0, 'y', 'z', 0, 0}));
}

TEST(BlackboxPayload, DecodesByTheFieldTable)
{
    struct Case {
        uint32_t code;
        std::vector<uint8_t> payload;
        bool decoded;
        const char *text;
    };
    auto bytes = [](std::initializer_list<int> head, const std::string &tail = {}) {
        std::vector<uint8_t> out(head.begin(), head.end());
        out.insert(out.end(), tail.begin(), tail.end());
        return out;
    };
    static const char service[] = "My Svc\0a_b.exe\0" "1.0\0\0vendor;x\0";
    const Case cases[] = {
        {6, bytes({0x10, 0}, std::string(service, sizeof(service))), true,
         "Flags=0x10;Name=My_Svc;File=a%5Fb.exe;Version=1.0;Timestamp=;Vendor=vendor%3Bx"},
        {13, bytes({10, 5, 20, 3}), true, "User_%25=10;Kernel_%25=5;User_%25=20;Kernel_%25=3"},
        {13, bytes({10, 5, 20}), false, ""},
        {11, bytes({1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 40, 70, 100}), true,
         "Process_Count=1;Thread_Count=2;Handle_Count=3;Overall_CPU_Usage_(User)=40;"
         "Overall_CPU_Usage_(Kernel)=70;Overall_CPU_Usage_(Total)=100"},
        {5, bytes({1, 0}, std::string("no terminator")), false, ""},
        {1, {}, true, ""},
        {14, {}, false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        std::string text = "unchanged";
        EXPECT_EQ(DecodeBlackboxPayload(c.code, c.payload.data(), c.payload.size(), &text), c.decoded);
        if (c.decoded) {
            EXPECT_EQ(text, c.text);
        }
    }
}

} // namespace
