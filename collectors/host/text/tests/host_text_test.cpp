// The host collector's narrow-text routines.
#include "host_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FormatStringTest, FormatsAndCutsAtTheBound)
{
    std::string text = "old";
    EXPECT_EQ("6.1.7601", FormatString(text, "%d.%d.%d", 6, 1, 7601));
    EXPECT_EQ("6.1.7601", text);

    // At most L + 1023 characters, L being the format's own length.
    const std::string format = "%s-tail";
    const std::string longArgument(5000, 'x');
    FormatString(text, format.c_str(), longArgument.c_str());
    EXPECT_EQ(format.size() + 1023, text.size());
    EXPECT_EQ(std::string(format.size() + 1023, 'x'), text);

    // One character less than the bound is kept whole.
    const std::string fits(1023 + format.size() - 5, 'y');
    FormatString(text, format.c_str(), fits.c_str());
    EXPECT_EQ(fits + "-tail", text);

    // A NUL in the output ends it.
    FormatString(text, "ab%cde", 0);
    EXPECT_EQ("ab", text);
}

TEST(FormatStringTest, NumbersAndAppending)
{
    std::string text;
    const uint32_t value = 4294967295u;
    FormatNumber(text, "%u", &value);
    EXPECT_EQ("4294967295", text);
    FormatNumber(text, "0x%08X", &value);
    EXPECT_EQ("0xFFFFFFFF", text);
    EXPECT_EQ("0xFFFFFFFF tail", AppendText(text, " tail"));
    EXPECT_EQ("0xFFFFFFFF tail", AppendText(text, nullptr));
    std::string copy;
    EXPECT_EQ(text, AssignString(copy, text));
}

TEST(StringToLowerTest, AsciiLettersOnly)
{
    std::string text = "Azure STACK Hci 10.0 \xC4\xD6\xDC";
    StringToLower(text);
    EXPECT_EQ("azure stack hci 10.0 \xC4\xD6\xDC", text);
}

TEST(WideToNarrowTest, OneBytePerCharacterAndBoundedBuffers)
{
    EXPECT_EQ("Windows 7", NarrowFromWide(L"Windows 7"));
    EXPECT_EQ("", NarrowFromWide(static_cast<const wchar_t *>(nullptr)));
    EXPECT_EQ("", NarrowFromWide(std::wstring()));
    // A character without a one-byte ANSI form becomes '?', so the text keeps its length.
    EXPECT_EQ("a?b", NarrowFromWide(L"a\x4E2D" L"b"));
    std::string target = "old";
    EXPECT_EQ("", AssignFromWide(target, L""));
    AssignFromWide(target, std::wstring(L"x\0y", 3));
    EXPECT_EQ("x", target);

    char buffer[8];
    memset(buffer, 'z', sizeof buffer);
    EXPECT_STREQ("Hardwar", WideToNarrowBuffer(buffer, sizeof buffer, L"Hardware: ", -1, CP_ACP));
    EXPECT_STREQ("Hard", WideToNarrowBuffer(buffer, sizeof buffer, L"Hardware: ", 4, CP_ACP));
    EXPECT_STREQ("", WideToNarrowBuffer(buffer, sizeof buffer, nullptr, -1, CP_ACP));
    EXPECT_STREQ("\xC3\xA9t\xC3\xA9", WideToNarrowBuffer(buffer, sizeof buffer, L"\x00E9t\x00E9", -1, CP_UTF8));
    // A cut never leaves the buffer without its NUL.
    EXPECT_STREQ("\xC3\xA9t\xC3\xA9\xC3", WideToNarrowBuffer(buffer, 7, L"\x00E9t\x00E9\x00E9", -1, CP_UTF8));
}

} // namespace
