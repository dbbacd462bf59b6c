// Decoding of whole entries, the bounded views and texts, and the event identifiers.
#include "kdl_decoder.h"
#include "kdl_entry.h"
#include "kdl_event_id.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kdl_entry_bytes.h"

namespace {

struct EntryBytes {
    uint16_t size = 28;
    uint32_t number = 1;
    uint8_t severity = 2;
    uint16_t eventClass = 0;
    uint16_t code = 0;
    std::vector<uint8_t> classData = {};
    // Bytes received after the entry (the rest of a packet), or a cut when negative.
    int extra = 0;
};

std::vector<uint8_t> Build(const EntryBytes &e)
{
    std::vector<uint8_t> b =
        kdltest::EncodeEntry({e.size, e.number, e.severity, e.eventClass, e.code, e.classData}, 0xEE);
    if (e.extra >= 0)
        b.resize(b.size() + static_cast<size_t>(e.extra), 'X');
    else
        b.resize(b.size() - static_cast<size_t>(-e.extra));
    return b;
}

struct DecodeCase {
    const char *name;
    EntryBytes entry;
    KdlEntryStatus status;
    const char *text; // when the entry opens
    bool decoded;
};

const DecodeCase kDecodeCases[] = {
    {"empty slot", {.eventClass = 0, .code = 9}, KdlEntryStatus::Ok, "Empty", true},
    {"reserved", {.eventClass = 1, .code = 3}, KdlEntryStatus::Ok, "Reserved", true},
    {"class 12", {.eventClass = 12, .code = 5}, KdlEntryStatus::Ok, "Unknown Event (Class 0x0C, Code 0x05)", false},
    {"class 36", {.eventClass = 36, .code = 5}, KdlEntryStatus::Ok, "Unknown Event (Class 0x24, Code 0x05)", false},
    {"class 300", {.eventClass = 300, .code = 5}, KdlEntryStatus::Ok, "Unknown Event (Class 0x12C, Code 0x05)", false},
    {"wide code", {.eventClass = 0xFFFF, .code = 0xABCD}, KdlEntryStatus::Ok,
     "Unknown Event (Class 0xFFFF, Code 0xABCD)", false},
    {"located event without its kind byte", {.eventClass = 2, .code = 1}, KdlEntryStatus::Ok,
     "Unknown Event (Class 0x02, Code 0x01)", false},
    {"size 28", {.size = 28, .eventClass = 0}, KdlEntryStatus::Ok, "Empty", true},
    {"with class data", {.size = 32, .eventClass = 1, .classData = {1, 2, 3, 4}}, KdlEntryStatus::Ok, "Reserved",
     true},
    {"size 0", {.size = 0}, KdlEntryStatus::SizeBelowHeader, nullptr, false},
    {"size 12", {.size = 12}, KdlEntryStatus::SizeBelowHeader, nullptr, false},
    {"size 27", {.size = 27}, KdlEntryStatus::SizeBelowHeader, nullptr, false},
    {"header cut", {.size = 28, .extra = -1}, KdlEntryStatus::HeaderIncomplete, nullptr, false},
    {"only size arrived", {.size = 28, .extra = -26}, KdlEntryStatus::HeaderIncomplete, nullptr, false},
    {"size beyond received", {.size = 40, .classData = {1, 2, 3}}, KdlEntryStatus::SizeBeyondReceived, nullptr,
     false},
    {"size 65535", {.size = 0xFFFF, .extra = 100}, KdlEntryStatus::SizeBeyondReceived, nullptr, false},
};

TEST(KdlEntryToText, TableOfWholeEntries)
{
    for (const DecodeCase &c : kDecodeCases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = Build(c.entry);
        KdlEntryView view;
        ASSERT_EQ(KdlEntryView::Open(bytes.data(), bytes.size(), &view), c.status);
        if (c.status != KdlEntryStatus::Ok)
            continue;
        char buffer[kKdlTextSize];
        std::memset(buffer, 'Z', sizeof buffer);
        KdlText text(buffer, sizeof buffer);
        EXPECT_EQ(KdlEntryToText(view, text), c.decoded);
        EXPECT_STREQ(buffer, c.text);
        // The rest of the buffer was zero-filled before the dispatch.
        for (size_t i = std::strlen(buffer); i < sizeof buffer; ++i)
            ASSERT_EQ(buffer[i], 0) << "at " << i;
    }
}

TEST(KdlEntryView, ReadsHeaderFieldsLittleEndian)
{
    std::vector<uint8_t> bytes = Build({.size = 30, .number = 0xFFFFFFFE, .severity = 15, .eventClass = 0x0102,
                                        .code = 0x0304, .classData = {0xAA, 0xBB}});
    KdlEntryView view;
    ASSERT_EQ(KdlEntryView::Open(bytes.data(), bytes.size(), &view), KdlEntryStatus::Ok);
    EXPECT_EQ(view.Size(), 30);
    EXPECT_EQ(view.EventNumber(), 0xFFFFFFFEu);
    EXPECT_EQ(view.Severity(), 15);
    EXPECT_EQ(view.Class(), 0x0102);
    EXPECT_EQ(view.Code(), 0x0304);
    EXPECT_EQ(view.ClassData().Size(), 2u);
    EXPECT_EQ(view.ClassData().U16(0), 0xBBAA);
}

TEST(KdlEntryView, NullOrEmptyInputIsIncomplete)
{
    KdlEntryView view;
    EXPECT_EQ(KdlEntryView::Open(nullptr, 100, &view), KdlEntryStatus::HeaderIncomplete);
    uint8_t one = 0;
    EXPECT_EQ(KdlEntryView::Open(&one, 0, &view), KdlEntryStatus::HeaderIncomplete);
}

// The class data ends where the entry says, even when more bytes of the packet follow it.
TEST(KdlClassData, EndsAtEntrySizeNotAtPacketEnd)
{
    std::vector<uint8_t> bytes = Build({.size = 31, .classData = {'A', 'B', 'C'}});
    const char tail[] = "DEF\0\x7F\x7F\x7F\x7F";
    bytes.insert(bytes.end(), tail, tail + sizeof tail);
    KdlEntryView view;
    ASSERT_EQ(KdlEntryView::Open(bytes.data(), bytes.size(), &view), KdlEntryStatus::Ok);
    const KdlClassData &d = view.ClassData();
    EXPECT_STREQ(d.String(0).c_str(), "ABC");
    EXPECT_STREQ(d.String(1).c_str(), "BC");
    EXPECT_EQ(d.After(0), 3u);
    EXPECT_STREQ(d.String(3).c_str(), "");
    EXPECT_EQ(d.Byte(3), 0);
    EXPECT_EQ(d.U32(1), 0x00004342u); // 'B', 'C', then two bytes past the end as zero
    EXPECT_EQ(d.U32(1000), 0u);
}

struct StringCase {
    const char *name;
    std::vector<uint8_t> data;
    size_t offset;
    const char *first;
    size_t after;
    const char *second;
};

TEST(KdlClassData, ConsecutiveStrings)
{
    const StringCase cases[] = {
        {"two terminated", {'A', 'B', 0, 'C', 0}, 0, "AB", 3, "C"},
        {"second without NUL", {'A', 'B', 0, 'C', 'D'}, 0, "AB", 3, "CD"},
        {"first without NUL", {'A', 'B'}, 0, "AB", 2, ""},
        {"both empty", {0, 0}, 0, "", 1, ""},
        {"offset at end", {1, 2, 3}, 3, "", 3, ""},
        {"offset past end", {1, 2, 3}, 70000, "", 3, ""},
        {"no data", {}, 0, "", 0, ""},
        {"after fixed bytes", {4, 7, 'x', 0, 'y', 0}, 2, "x", 4, "y"},
    };
    for (const StringCase &c : cases) {
        SCOPED_TRACE(c.name);
        KdlClassData d(c.data.data(), c.data.size());
        EXPECT_STREQ(d.String(c.offset).c_str(), c.first);
        EXPECT_EQ(d.After(c.offset), c.after);
        EXPECT_STREQ(d.String(d.After(c.offset)).c_str(), c.second);
    }
}

TEST(KdlClassData, LongStringIsCutToALine)
{
    std::vector<uint8_t> data(5000, 'q');
    KdlClassData d(data.data(), data.size());
    KdlField s = d.String(0);
    EXPECT_EQ(std::strlen(s.c_str()), kKdlTextSize - 1);
    EXPECT_EQ(d.After(0), data.size());
}

struct BoundCase {
    const char *name;
    size_t capacity;
    const char *first;
    const char *appended;
    const char *expected;
};

TEST(KdlText, CutsAndTerminatesWithinCapacity)
{
    const BoundCase cases[] = {
        {"fits", 16, "abc", "def", "abcdef"},
        {"format cut", 4, "abcdef", "", "abc"},
        {"append cut", 6, "abc", "defgh", "abcde"},
        {"append to full", 4, "abc", "d", "abc"},
        {"only NUL", 1, "abc", "d", ""},
        {"no room", 0, "abc", "d", ""},
    };
    for (const BoundCase &c : cases) {
        SCOPED_TRACE(c.name);
        char storage[64];
        std::memset(storage, '#', sizeof storage);
        KdlText text(storage + 8, c.capacity);
        text.Clear();
        text.Format("%s", c.first);
        text.Append("%s", c.appended);
        EXPECT_STREQ(text.CStr(), c.expected);
        EXPECT_EQ(text.Length(), std::strlen(c.expected));
        // Nothing before or after the buffer was touched.
        for (size_t i = 0; i < 8; ++i)
            ASSERT_EQ(storage[i], '#');
        for (size_t i = 8 + c.capacity; i < sizeof storage; ++i)
            ASSERT_EQ(storage[i], '#') << "at " << i;
    }
}

TEST(DecodeKdlEvent, FallbackIsCutToASmallBuffer)
{
    char storage[16];
    std::memset(storage, '#', sizeof storage);
    KdlText text(storage, 10);
    EXPECT_FALSE(DecodeKdlEvent(300, 5, KdlClassData(), text));
    EXPECT_STREQ(storage, "Unknown E");
    for (size_t i = 10; i < sizeof storage; ++i)
        EXPECT_EQ(storage[i], '#');
}

TEST(DecodeKdlEvent, ZeroLengthBufferIsLeftAlone)
{
    char storage[4] = {'#', '#', '#', '#'};
    KdlText text(storage, 0);
    EXPECT_FALSE(DecodeKdlEvent(0, 0, KdlClassData(), text));
    EXPECT_EQ(std::string(storage, 4), "####");
}

struct IdCase {
    uint16_t eventClass;
    uint8_t severity;
    uint32_t id;
    uint16_t type;
};

TEST(KdlEventId, IdAndTypeFromClassAndSeverity)
{
    const IdCase cases[] = {
        // the severities of a class with identifiers
        {2, 2, 0x41010202, 4},
        {2, 3, 0x41010203, 4},
        {2, 6, 0x41010206, 4},
        {2, 9, 0x81010209, 2},
        {2, 15, 0xC101020F, 1},
        {3, 4, 0, 0},
        {2, 0, 0, 0},
        {2, 255, 0, 0},
        // the class ranges and their edges
        {14, 2, 0x41010E02, 4},
        {17, 9, 0x81011109, 2},
        {20, 15, 0xC101140F, 1},
        {32, 3, 0x41012003, 4},
        {34, 6, 0x41012206, 4},
        {12, 9, 0x81010C09, 2},
        {36, 15, 0xC101240F, 1},
        {42, 6, 0x41012A06, 4},
        {42, 15, 0xC1012A0F, 1},
        {0, 2, 0, 0},
        {1, 2, 0, 0},
        {15, 2, 0, 0},
        {16, 9, 0, 0},
        {21, 15, 0, 0},
        {31, 2, 0, 0},
        {35, 6, 0, 0},
        {43, 2, 0, 0},
        {0x0102, 2, 0, 0},
        {0xFFFF, 15, 0, 0},
    };
    for (const IdCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "class " << c.eventClass << " severity " << unsigned(c.severity));
        EXPECT_EQ(KdlEventId(c.eventClass, c.severity), c.id);
        EXPECT_EQ(EventTypeFromEventId(KdlEventId(c.eventClass, c.severity)), c.type);
    }
}

TEST(EventTypeFromEventId, TopTwoBits)
{
    EXPECT_EQ(EventTypeFromEventId(0x00000000), 0);
    EXPECT_EQ(EventTypeFromEventId(0x3FFFFFFF), 0);
    EXPECT_EQ(EventTypeFromEventId(0x41010064), 4);
    EXPECT_EQ(EventTypeFromEventId(0x80000000), 2);
    EXPECT_EQ(EventTypeFromEventId(0xC1010069), 1);
    EXPECT_EQ(EventTypeFromEventId(0xFFFFFFFF), 1);
}

} // namespace
