#include "text_helpers.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

TEST(FormatBuffer256Test, BoundedAndAlwaysTerminated)
{
    const std::string longId(300, 'x');
    const std::string fittingId(251, 'x');  // with the 4-character prefix, 255 characters
    struct {
        const char *what;
        size_t count;
        const char *argument;
        int result;
        std::string text;
    } cases[] = {
        {"device path", 256, "PhysicalDrive0", 18, "\\\\.\\PhysicalDrive0"},
        {"truncate request", FORMAT_TRUNCATE, longId.c_str(), -1, "\\\\.\\" + std::string(251, 'x')},
        {"count of the whole buffer", 256, longId.c_str(), -1, "\\\\.\\" + std::string(251, 'x')},
        {"small count", 10, longId.c_str(), -1, "\\\\.\\xxxxxx"},
        {"exactly 255 characters", 256, fittingId.c_str(), 255, "\\\\.\\" + std::string(251, 'x')},
        {"zero count", 0, "a", -1, ""},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        std::vector<char> buffer(FORMAT_BUFFER_BYTES + 8, '#');
        EXPECT_EQ(test.result, FormatBuffer256(buffer.data(), test.count, "\\\\.\\%s", test.argument));
        EXPECT_EQ(test.text, std::string(buffer.data()));
        EXPECT_EQ(std::string(8, '#'), std::string(buffer.data() + FORMAT_BUFFER_BYTES, 8)) << "wrote past the buffer";
    }
}

TEST(StringMidTest, Table)
{
    const std::wstring id = L"PCI\\VEN_8086";
    const std::wstring quoted = L"\"C:\\Program Files\\agent.exe\" -k";
    struct {
        const char *what;
        std::wstring text;
        int start;
        int count;
        std::wstring expected;
    } cases[] = {
        {"inside", id, 4, 4, L"VEN_"},
        {"count past the end", id, 10, 10, L"86"},
        {"start at the end", id, 12, 1, L""},
        {"start past the end", id, 13, 2, L""},
        {"negative start", id, -3, 2, L"PC"},
        {"negative count", id, 2, -1, L""},
        {"whole text", id, 0, 12, id},
        {"largest start and count", id, INT_MAX, INT_MAX, L""},
        {"largest count", id, 1, INT_MAX, L"CI\\VEN_8086"},
        {"between quotes", quoted, 1, static_cast<int>(quoted.find(L'"', 1)) - 1, L"C:\\Program Files\\agent.exe"},
        {"empty text", L"", 0, 3, L""},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        EXPECT_EQ(test.expected, StringMid(test.text, test.start, test.count));
    }
}

} // namespace
