// Address and counter texts of the iSCSI records.
#include "iscsi_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Ipv6(std::initializer_list<uint16_t> groups)
{
    uint8_t bytes[16] = {};
    size_t i = 0;
    for (uint16_t group : groups) {
        bytes[2 * i] = static_cast<uint8_t>(group >> 8);
        bytes[2 * i + 1] = static_cast<uint8_t>(group);
        ++i;
    }
    char text[ISCSI_ADDRESS_TEXT_BYTES + 1];
    FormatIscsiIpv6(bytes, text);
    return text;
}

TEST(IscsiIpv6Text, FirstZeroRunAfterTheFirstGroupIsShortened)
{
    struct {
        std::initializer_list<uint16_t> groups;
        const char *text;
    } cases[] = {
        {{0xfe80, 0, 0, 0, 0, 0, 0, 1}, "FE80::0001"},
        {{0x2001, 0x0db8, 0, 1, 0, 0, 0, 1}, "2001:0DB8:0:0001:0000:0000:0000:0001"},
        {{0xfe80, 1, 0, 0, 0, 0, 0, 0}, "FE80:0001::"},
        {{0, 0, 0, 0, 0, 0, 0, 0}, "0000::"},
        {{0x2001, 0xdb8, 0x85a3, 0x1111, 0x2222, 0x8a2e, 0x370, 0x7334}, "2001:0DB8:85A3:1111:2222:8A2E:0370:7334"},
        {{0x2001, 1, 2, 3, 4, 5, 6, 0}, "2001:0001:0002:0003:0004:0005:0006:0"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.text, Ipv6(c.groups));
}

TEST(IscsiDecimalText, LeadingDigitsOnlyAndSaturating)
{
    struct {
        const char *text;
        uint64_t value;
    } cases[] = {
        {"0", 0},
        {"4294967303", 4294967303ull},                 // 2^32 + 7: upper half 1, lower 7
        {"12345678901", 12345678901ull},
        {"18446744073709551615", UINT64_MAX},
        {"18446744073709551616", UINT64_MAX},          // one beyond: stays at the top
        {"99999999999999999999999", UINT64_MAX},
        {"123abc456", 123},                            // stops at the first non-digit
        {" 42", 0},
        {"", 0},
        {"-5", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.value, DecimalTextToUInt64(c.text)) << c.text;
    EXPECT_EQ(0u, DecimalTextToUInt64(nullptr));
}

TEST(IscsiAddressCut, NeverSplitsACharacter)
{
    std::string sixty(60, 'a');
    EXPECT_EQ(39u, Utf8CutLength(sixty.data(), sixty.size(), 39));
    EXPECT_EQ(5u, Utf8CutLength("short", 5, 39));
    // 38 ASCII bytes and a two-byte character: the character would need bytes 39 and 40.
    std::string twoByte = std::string(38, 'a') + "\xC3\xA9" + "b";
    EXPECT_EQ(38u, Utf8CutLength(twoByte.data(), twoByte.size(), 39));
    // A three-byte character starting at byte 37 does not fit either.
    std::string threeByte = std::string(37, 'a') + "\xE2\x82\xAC" + "b";
    EXPECT_EQ(37u, Utf8CutLength(threeByte.data(), threeByte.size(), 39));
    std::string fits = std::string(36, 'a') + "\xE2\x82\xAC" + "b";
    EXPECT_EQ(39u, Utf8CutLength(fits.data(), fits.size(), 39));
}

} // namespace
