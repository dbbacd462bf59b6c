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

namespace {

// Free text of firmware and the operating system at every string offset of the recovery, OS,
// adapter, flash and maintenance classes: 4000 bytes with and without NUL, each cut with the line
// at 1023 characters.
TEST(KdlBounds, FreeTextStringsEndWithTheDataAndTheLine)
{
    const std::string q(4000, 'q');
    struct StringCase {
        const char *name;
        uint16_t eventClass, code;
        Bytes before;
        std::string lead, tail;
    };
    const StringCase cases[] = {
        {"class 13 code 2", 13, 2, {}, "ASR Lockup Detected: ", ""},
        {"class 20 code 7", 20, 7, {}, "Server Critical Fault (Service Information: ", ")"},
        {"class 14 code 1", 14, 1, {}, "Operating System failure (", ")"},
        {"class 14 code 3", 14, 3, {7}, "Fatal Exception (Number 7, Cause ", ")"},
        {"class 17 chassis name", 17, 1, {0, 1, 2, 3}, "Network Adapter Fault (Chassis ", ", Slot 3, Port 2)"},
        {"class 32 code 1", 32, 1, {}, "ROM flashed (", ")"},
        {"class 32 code 2", 32, 2, {}, "Firmware flashed (", ")"},
        {"class 33 code 1", 33, 1, {}, "KDL Cleared (", ")"},
        {"class 33 code 2", 33, 2, {}, "Maintenance note: ", ""},
        {"class 40 code 1", 40, 1, {}, "Boot From Flash Error (", ")"},
        {"class 41 code 1", 41, 1, {2}, "Improperly seated or missing device (Runtime fault, ", ")"},
        {"class 18 code 1 chassis", 18, 1, {0, 1, 0, 3}, "SCSI Controller Failure (Chassis ", ", Slot 3)"},
        {"class 18 code 2 chassis", 18, 2, {0, 1, 2, 3}, "SCSI Device Failure (Chassis ", ", Slot 1, Bus 2, Bay 3)"},
        {"class 18 code 3 chassis", 18, 3, {0, 1, 0}, "SCSI Controllers No Longer Redundant (Chassis ", ")"},
        {"class 19 code 3 chassis", 19, 3, {0, 1, 2, 3}, "Drive Array Cache Module Battery Failure (Chassis ", ", Bus 2, Slot 3)"},
        {"class 19 code 9 location", 19, 9, {0, 1, 0}, "Drive Array Controllers No Longer Redundant (Chassis ", ", Slot 1)"},
        {"class 19 code 14 location", 19, 14, {0, 1, 2, 3}, "Drive Array Controller Cache Module Not Installed (Chassis ",
         ", Slot 3)"},
        {"class 19 code 11 location at 6", 19, 11, {2, 2, 0, '1', 'I', 8},
         "External SAS Array Storage Enclosure Processor Failure (Box 8, Port 1I, Chassis ", ", Slot 2)"},
        {"class 19 code 8 location at 8", 19, 8, {2, 3, 0, '1', 'I', 4, 5, 6},
         "External Storage Enclosure PHY Link Error (PHY 6, Expander 5, Box 4, Port 1I, Chassis ", ", Slot 3)"},
        {"class 19 code 17 location at 11", 19, 17, {2, 6, 0, '1', 'I', 1, 2, 1, 3, 4, 2},
         "External Storage Enclosure PHY Link Error (Detected By SATA Device, Box 1, Bay 2, Attached To SAS Device, "
         "Box 3, Bay 4, Port 1I, Chassis ",
         ", Slot 6)"},
        {"class 38 code 1 location at 7", 38, 1, {2, 3, 0, 4, '1', 'I', 5},
         "External Storage Enclosure Device Not Authenticated As Genuine (Bay 4, Box 5, Port 1I, Chassis ", ", Slot 3)"},
    };
    for (const StringCase &c : cases)
        for (bool nul : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.name << (nul ? "" : ", no NUL"));
            EXPECT_EQ(Decode(c.eventClass, c.code, c.before + Text(q, nul)), Cut(c.lead + q, 1023));
            EXPECT_EQ(Decode(c.eventClass, c.code, c.before + Text("abc", false)), c.lead + "abc" + c.tail);
        }

    // A location name of 4000 bytes after a short chassis name.
    EXPECT_EQ(Decode(19, 9, Bytes{0, 1, 0} + Text("C") + Text(q)),
              Cut("Drive Array Controllers No Longer Redundant (Chassis C, " + q, 1023));

    // The suffix of codes 6 and 7, after the chassis name.
    const std::string down = "Network Adapter Link Down (Chassis C, Slot 3, Port 2), ";
    EXPECT_EQ(Decode(17, 6, Bytes{0, 1, 2, 3} + Text("C") + Text(q)), Cut(down + q, 1023));
    EXPECT_EQ(Decode(17, 6, Bytes{0, 1, 2, 3} + Text("C") + Text("team", false)), down + "team");
    EXPECT_EQ(Decode(17, 6, Bytes{0, 1, 2, 3} + Text("C", false)),
              "Network Adapter Link Down (Chassis C, Slot 3, Port 2)");
}

// The cleaned POST message is built in an area of 304 bytes: at most 303 characters, never
// ending in the blank of a run cut there.
TEST(KdlBounds, PostMessageKeepsItsArea)
{
    std::string runs = "  ", words;
    const char *blanks[] = {" \t", "\n", "  \r ", "\t\v\f"};
    for (int i = 0; i < 100; ++i) {
        runs += std::string("abc") + blanks[i % 4];
        words += "abc ";
    }
    ASSERT_GE(runs.size(), 400u);
    EXPECT_EQ(Decode(10, 2, Text(runs)), "POST Information: " + words.substr(0, 303));
    EXPECT_EQ(Decode(10, 1, Bytes{'!'} + Text(runs, false)), "POST Error: " + words.substr(0, 303));
    EXPECT_EQ(Decode(10, 4, Text(std::string(4000, 'q'))), "Option ROM POST Information: " + std::string(303, 'q'));

    // Words of two letters: the 303rd character would be a blank, so the text ends one earlier.
    std::string pairs, pairWords;
    for (int i = 0; i < 150; ++i) {
        pairs += "ab\t\t";
        pairWords += "ab ";
    }
    EXPECT_EQ(Decode(10, 3, Text(pairs)), "Option ROM POST Error: " + pairWords.substr(0, 302));
}

TEST(KdlBounds, NvdimmSerialNumbersWithoutNul)
{
    const std::string restore = "NVDIMM Error - Restore Error (Processor 3, Memory Module 5, Retry count 2, Serial Number ";
    EXPECT_EQ(Decode(42, 2, Bytes{1, 3, 5, 2} + Text("ABCDEFGHIJ", false)).substr(0, restore.size() + 9),
              restore + "ABCDEFGH)");
    const std::string backup = "NVDIMM Error - Backup Error (Board 1, Memory Module 2, Serial Number ";
    EXPECT_EQ(Decode(42, 1, Bytes{0, 1, 2} + Text("XY", false)).substr(0, backup.size() + 3), backup + "XY)");
    EXPECT_EQ(Decode(42, 1, Bytes{0, 1, 2} + Text(std::string(4000, 'S'))).substr(0, backup.size() + 9),
              backup + "SSSSSSSS)");
}

} // namespace

namespace {

// A machine-check record cut anywhere reads as the whole record with zeros for what is missing.
TEST(KdlBounds, MachineCheckRecordsCutShort)
{
    Bytes record(35);
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<uint8_t>(0x11 * (i % 15 + 1));
    for (uint16_t code : {3, 6})
        for (size_t length = 0; length <= record.size(); ++length) {
            SCOPED_TRACE(testing::Message() << "code " << code << ", " << length << " bytes");
            Bytes cut(record.begin(), record.begin() + length), padded = cut;
            padded.resize(record.size());
            EXPECT_EQ(Decode(5, code, cut), Decode(5, code, padded));
        }
}

} // namespace

namespace {

// The chip error codes list the bytes up to byte 0 minus 1, but only those that arrived; a list
// longer than the line is cut with it.
TEST(KdlBounds, VyrByteListsEndWithTheData)
{
    for (size_t size : {10, 400}) {
        SCOPED_TRACE(testing::Message() << size << " bytes");
        Bytes data(size);
        data[0] = 255;
        data[1] = 3;
        for (size_t i = 2; i < size; ++i)
            data[i] = static_cast<uint8_t>(i);
        std::string list;
        for (size_t i = 2; i < std::min<size_t>(size, 255); ++i) {
            char hex[8];
            std::snprintf(hex, sizeof hex, " 0x%02x", data[i]);
            list += hex;
        }
        EXPECT_EQ(Decode(37, 192, data), Cut("Uncorrectable error detected on Lower VYR Board, VYR 2. Details:" + list, 1023));
        EXPECT_EQ(Decode(37, 197, data),
                  Cut("Correctable fabric error detected on Lower VYR Board, VYR 2, link 2. Details:" + list.substr(5), 1023));
    }
}

} // namespace
