// Class data that is longer, shorter or stranger than the texts were made for: every line stays
// within the event writer's buffer, every read within the entry, and the serial lists of the
// memory events are cut where their buffers end.
#include "kdl_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Text(const std::string &s, bool nul = true)
{
    Bytes b(s.begin(), s.end());
    if (nul)
        b.push_back(0);
    return b;
}

std::string Decode(uint16_t eventClass, uint16_t code, const Bytes &data)
{
    // The data is copied into a buffer of exactly its size, so that the sanitizers see any read
    // past its end.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[data.size() + 1]);
    if (!data.empty())
        std::memcpy(exact.get(), data.data(), data.size());
    char buffer[kKdlTextSize];
    KdlText text(buffer, sizeof buffer);
    EXPECT_TRUE(DecodeKdlEvent(eventClass, code, KdlClassData(exact.get(), data.size()), text));
    EXPECT_NE(std::memchr(buffer, '\0', sizeof buffer), nullptr);
    return buffer;
}

std::string Cut(const std::string &s, size_t n) { return s.substr(0, std::min(n, s.size())); }

struct BoundCase {
    const char *name;
    uint16_t eventClass, code;
    Bytes data;
    std::string line;
};

TEST(KdlBounds, LongStringsAndLinesAreCut)
{
    const std::string q4000(4000, 'q');
    const std::string info = "Critical Temperature Threshold Exceeded (Service Information: ";
    const std::string denied = "Power On Denied (Service Information: ";
    const std::string backup = "Battery Backup Unit failure (Bay 7, ";
    const BoundCase cases[] = {
        {"class 2 code 16, 4000 bytes", 2, 16, Text(q4000), Cut(info + q4000, 1023)},
        {"class 2 code 16, no NUL", 2, 16, Text("abc", false), info + "abc)"},
        {"class 11 code 36, 4000 bytes without NUL", 11, 36, Text(q4000, false), Cut(denied + q4000, 1023)},
        {"class 11 code 37, 4000 bytes", 11, 37, Bytes{7} + Text(q4000), Cut(backup + q4000, 1023)},
        {"class 11 code 37, string cut by the entry", 11, 37, Bytes{7} + Text("ce", false), backup + "ce)"},
        {"class 34 code 2, serial without NUL", 34, 2, Bytes{4, 0, 0, 9} + Text("ABC", false),
         "Server Blade Enclosure Blade Manual Power On (Enclosure Serial Number ABC, Slot 9)"},
        {"class 2 code 10, additional text of 4000 bytes", 2, 10, Bytes{1, 0, 0, 1, 2, 3} + Text("") + Text(q4000),
         Cut("System Overheating (Temperature Sensor 1, Location I/O Board, Temperature 3C), " + q4000, 1023)},
        {"class 2 code 8, additional text without NUL", 2, 8, Bytes{1, 0, 0, 1, 2} + Text("") + Text("add", false),
         "Fan Failure (Fan 1, Location I/O Board), add"},
        {"class 2 code 1, entry ends before the temperature", 2, 1, Bytes{1, 0, 0, 9},
         "System Overheating (Temperature Sensor 9, Location System, Temperature 0C)"},
        {"bytes from 0x80 pass through", 2, 16, Text("\xE9t\xE9 \xFF"), info + "\xE9t\xE9 \xFF)"},
        {"class 11 code 19, second string of 4000 bytes", 11, 19, Bytes{1, 0, 0, 2, 1} + Text("") + Text(q4000),
         Cut("System Power Supply: BIST Failure (Power Supply 2), " + q4000, 1023)},
    };
    for (const BoundCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::string got = Decode(c.eventClass, c.code, c.data);
        EXPECT_EQ(got, c.line);
        EXPECT_LE(got.size(), kKdlTextSize - 1);
    }
}

// The module-list codes: the serial list is cut to 511 characters before it is split, each
// serial number to 79, and the joined lists of codes 20 and 23 to 25 to 511.
TEST(KdlBounds, MemorySerialListsAreCutWhereTheirBuffersEnd)
{
    const std::string a300(300, 'A'), b300(300, 'B'), a79(79, 'A'), b79(79, 'B');
    const std::string u = "Uncorrectable Memory Error (";
    const Bytes twoModules = {2, 2, 1, 4, 3, 0, 0, 0, 0};
    const BoundCase cases[] = {
        {"600-byte list, comma inside the first 511", 3, 3, twoModules + Text(a300 + "," + b300),
         u + "Board 1, Memory Module 2, Serial Number " + a79 + ") or (Board 3, Memory Module 4, Serial Number " + b79 +
             ")"},
        {"600-byte list, comma past 511", 3, 3, twoModules + Text(std::string(520, 'A') + ",X" + b300),
         u + "Board 1, Memory Module 2, Serial Number " + a79 + ") or (Board 3, Memory Module 4)"},
        {"100-character serial", 3, 3, Bytes{1, 2, 1, 0, 0, 0, 0, 0, 0} + Text(std::string(100, 'Z')),
         u + "Board 1, Memory Module 2, Serial Number " + std::string(79, 'Z') + ")"},
        {"serial squeezed before it is cut", 3, 19, Bytes{1, 2, 1, 0, 0, 0, 0, 0, 0} + Text("   " + std::string(90, 'W')),
         "Corrected Memory Error threshold exceeded (Board 1, Memory Module 2, Serial Number " + std::string(79, 'W') +
             ")"},
    };
    for (const BoundCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Decode(c.eventClass, c.code, c.data), c.line);
    }

    // Four modules of unknown processor and module, each with a 79-character serial number:
    // the joined list is longer than 511 characters and is cut there.
    std::string serials, entries;
    for (char c : {'a', 'b', 'c', 'd'}) {
        serials += std::string(79, c) + ",";
        entries += std::string(entries.empty() ? "" : ", or ") + "(Processor Unknown, Memory Module Unknown, Serial Number " +
                   std::string(79, c) + ")";
    }
    ASSERT_GT(entries.size(), 511u);
    Bytes unknown = Bytes{4, 255, 255, 255, 255, 255, 255, 255, 255} + Text(serials);
    EXPECT_EQ(Decode(3, 20, unknown), "Corrected Memory Error threshold exceeded (" + entries.substr(0, 511) + ")");
}

// Code 26 of class 11 lists the bytes after the two fault registers only for a class data
// length, cut to 8 bits, of 3 to 129.
TEST(KdlBounds, SystemPowerFaultListsBytesByTheEightBitLength)
{
    struct LengthCase {
        size_t length;
        size_t listed;
    };
    const LengthCase cases[] = {{0, 0}, {1, 0}, {2, 0}, {3, 1}, {129, 127}, {130, 0}, {258, 0}, {259, 1}, {260, 2}};
    for (const LengthCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "length " << c.length);
        Bytes data(c.length);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(0x80 + i % 0x80);
        std::string registers = "XR: ";
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02X %02X", c.length > 0 ? data[0] : 0, c.length > 1 ? data[1] : 0);
        registers += hex;
        if (c.listed > 0) {
            registers += " MID:";
            for (size_t i = 0; i < c.listed; ++i) {
                std::snprintf(hex, sizeof hex, " %02X", data[2 + i]);
                registers += hex;
            }
        }
        EXPECT_EQ(Decode(11, 26, data), "System Power Fault Detected (" + registers + ")");
    }
}

} // namespace
