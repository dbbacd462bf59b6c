// The event manifest resource as the generator writes it, read back by the independent reader;
// the reader's bounds on damaged input; the manifest file against the resource.
#include "evtgen.h"
#include "manifest_expectations.h"
#include "pe_image.h"
#include "wevt_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using wevtread::Bytes;

std::vector<uint8_t> Generated()
{
    return evtgen::ManifestResource(evtable::TheEventTable());
}

bool Read(const std::vector<uint8_t> &blob, wevtread::Manifest *m, std::string *error)
{
    return wevtread::ReadManifest(Bytes{blob.data(), blob.size()}, m, error);
}

size_t FindTag(const std::vector<uint8_t> &blob, const char *tag)
{
    for (size_t i = 0; i + 4 <= blob.size(); ++i)
        if (std::memcmp(blob.data() + i, tag, 4) == 0)
            return i;
    ADD_FAILURE() << "no " << tag;
    return 0;
}

void Put32(std::vector<uint8_t> &blob, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        blob[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get32(const std::vector<uint8_t> &blob, size_t at)
{
    return blob[at] | blob[at + 1] << 8 | blob[at + 2] << 16 | static_cast<uint32_t>(blob[at + 3]) << 24;
}

std::string ManifestFilePath()
{
#ifdef _WIN32
    // The tests and the manifest file both lie in bin/.
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path, length);
    return p.substr(0, p.find_last_of('\\') + 1) + "qzrtlmevents.man";
#else
    return TLM_MANIFEST_FILE;
#endif
}

TEST(EventManifest, GeneratedResourceHoldsEveryEvent)
{
    std::vector<uint8_t> blob = Generated();
    wevtread::Manifest m;
    std::string error;
    ASSERT_TRUE(Read(blob, &m, &error)) << error;
    manifest_expect::ExpectManifest(m);
}

TEST(EventManifest, ManifestFileNamesWhatTheResourceHolds)
{
    std::vector<uint8_t> blob = Generated();
    wevtread::Manifest m;
    std::string error;
    ASSERT_TRUE(Read(blob, &m, &error)) << error;
    std::string xml = manifest_expect::ReadFileText(ManifestFilePath());
    ASSERT_FALSE(xml.empty()) << ManifestFilePath();
    manifest_expect::ExpectFileMatches(xml, m);
}

TEST(EventManifest, ManifestFileKeepsEachRewrittenAttributeOnALineOfItsOwn)
{
    // The installer replaces a whole line that holds "provider name=", "resourceFileName=" or
    // "messageFileName="; anything else on such a line would be lost.
    std::string xml = manifest_expect::ReadFileText(ManifestFilePath());
    size_t provider = 0, resource = 0, message = 0, start = 0;
    while (start < xml.size()) {
        size_t end = xml.find('\n', start);
        std::string line = xml.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        start = end == std::string::npos ? xml.size() : end + 1;
        auto only = [&line](const char *prefix) {
            size_t first = line.find_first_not_of(' ');
            EXPECT_EQ(line.compare(first, std::strlen(prefix), prefix), 0) << line;
            EXPECT_EQ(line.back(), '"') << line;
            EXPECT_EQ(std::count(line.begin(), line.end(), '"'), 2) << line;
        };
        if (line.find("provider name=") != std::string::npos) {
            ++provider;
            EXPECT_EQ(line, "             <provider name=\"NDX Velmarine Management Service\"");
        }
        if (line.find("resourceFileName=") != std::string::npos) {
            ++resource;
            only("resourceFileName=");
        }
        if (line.find("messageFileName=") != std::string::npos) {
            ++message;
            only("messageFileName=");
        }
    }
    EXPECT_EQ(provider, 1u);
    EXPECT_EQ(resource, 1u);
    EXPECT_EQ(message, 1u);
}

TEST(EventManifestReader, FindsTheResourceThroughThePeResourceDirectory)
{
    std::vector<uint8_t> blob = Generated();
    std::vector<uint8_t> file = PeWithResource(u"WEVT_TEMPLATE", blob);
    Bytes found;
    std::string error;
    ASSERT_TRUE(wevtread::FindResourceBytes(Bytes{file.data(), file.size()}, u"WEVT_TEMPLATE", &found, &error)) << error;
    ASSERT_EQ(found.size, blob.size());
    EXPECT_EQ(std::memcmp(found.data, blob.data(), blob.size()), 0);

    std::vector<uint8_t> other = PeWithResource(u"WEVT_TEMPLATF", blob);
    EXPECT_FALSE(wevtread::FindResourceBytes(Bytes{other.data(), other.size()}, u"WEVT_TEMPLATE", &found, &error));
}

TEST(EventManifestReader, RejectsEveryTruncatedProgramFile)
{
    std::vector<uint8_t> file = PeWithResource(u"WEVT_TEMPLATE", Generated());
    Bytes whole;
    std::string error;
    ASSERT_TRUE(wevtread::FindResourceBytes(Bytes{file.data(), file.size()}, u"WEVT_TEMPLATE", &whole, &error)) << error;
    // Cut anywhere before the resource's last byte (the section's padding after it may go).
    const size_t end = static_cast<size_t>(whole.data - file.data()) + whole.size;
    for (size_t length = 0; length < end; ++length) {
        // An exact copy, so that a read past its end is one the sanitizers see.
        std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
        Bytes found;
        std::string error;
        ASSERT_FALSE(wevtread::FindResourceBytes(Bytes{cut.data(), cut.size()}, u"WEVT_TEMPLATE", &found, &error))
            << "length " << length;
    }
}

TEST(EventManifestReader, RejectsEveryTruncatedManifest)
{
    std::vector<uint8_t> blob = Generated();
    for (size_t length = 0; length < blob.size(); ++length) {
        std::vector<uint8_t> cut(blob.begin(), blob.begin() + static_cast<std::ptrdiff_t>(length));
        if (length >= 8)
            Put32(cut, 4, static_cast<uint32_t>(length)); // the header agrees with the cut
        wevtread::Manifest m;
        std::string error;
        ASSERT_FALSE(Read(cut, &m, &error)) << "length " << length;
    }
}

TEST(EventManifestReader, RejectsOffsetsAndCountsBeyondTheirBounds)
{
    const std::vector<uint8_t> good = Generated();
    const size_t wevt = FindTag(good, "WEVT"), levl = FindTag(good, "LEVL"), ttbl = FindTag(good, "TTBL"),
                 evnt = FindTag(good, "EVNT"), chan = FindTag(good, "CHAN");
    const size_t temp = ttbl + 12, firstEvent = evnt + 16;
    struct Case {
        const char *name;
        size_t at;
        uint32_t value;
        const char *error;
    };
    const Case cases[] = {
        {"CRIM size beyond the bytes", 4, static_cast<uint32_t>(good.size() + 1), "CRIM size"},
        {"two providers", 12, 2, "exactly one provider"},
        {"provider beyond the end", 32, 0xFFFFFFF0u, "WEVT"},
        {"element count", wevt + 12, 0x40000000u, "element count"},
        {"element offset", wevt + 20, 0xFFFFFFF0u, "unknown signature"},
        {"channel count", chan + 8, 0x10000000u, "count beyond"},
        {"channel name offset", chan + 16, static_cast<uint32_t>(good.size() - 2), "beyond the end"},
        {"level name size", Get32(good, levl + 12 + 8), 0x7FFFFFF0u, "beyond the end"},
        {"level name without NUL", Get32(good, levl + 12 + 8), 4 + 2 * 9, "without its NUL"},
        {"template count", ttbl + 8, 0x08000000u, "count beyond"},
        {"template size", temp + 4, 0xFFFFFF00u, "template size"},
        {"template fields offset", temp + 16, 0xFFFFFF00u, "fields beyond"},
        {"template field count", temp + 8, 0x10000000u, "unnamed fields"},
        {"template field name", Get32(good, temp + 16) + 16, 0xFFFFFF00u, "beyond the end"},
        {"event count", evnt + 8, 0x04000000u, "count beyond"},
        {"event size", evnt + 4, 0x7FFFFFFFu, "beyond the end"},
        {"event template", firstEvent + 20, static_cast<uint32_t>(temp + 8), "no template"},
        {"event level", firstEvent + 28, static_cast<uint32_t>(levl + 13), "no level"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bad = good;
        Put32(bad, c.at, c.value);
        wevtread::Manifest m;
        std::string error;
        EXPECT_FALSE(Read(bad, &m, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

TEST(EventManifestReader, ChecksTheTemplateShape)
{
    const std::vector<uint8_t> good = Generated();
    const size_t shape = FindTag(good, "TTBL") + 12 + 40; // the first template's BinXml
    struct Case {
        const char *name;
        size_t at;
        uint8_t flip; // the bits changed
        const char *error;
    };
    // The shape begins: fragment header (4 bytes), start element token, dependency (2), length
    // (4), then the name: hash (2), length (2), text.
    const Case cases[] = {
        {"fragment header", shape, 0x0E, "fragment header"},
        {"root element token", shape + 4, 0x04, "without its element"},
        {"root name hash", shape + 11, 0xFF, "wrong hash"},
        {"root name length", shape + 14, 0x7F, "ends early"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bad = good;
        bad[c.at] ^= c.flip;
        wevtread::Manifest m;
        std::string error;
        EXPECT_FALSE(Read(bad, &m, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

} // namespace

namespace {

// A compiled message table of one block holding identifier first..first+texts-1.
std::vector<uint8_t> MessageTable(uint32_t first, const std::vector<std::string> &texts)
{
    std::vector<uint8_t> table(16);
    Put32(table, 0, 1);
    Put32(table, 4, first);
    Put32(table, 8, first + static_cast<uint32_t>(texts.size()) - 1);
    Put32(table, 12, 16);
    for (const std::string &text : texts) {
        size_t at = table.size(), length = (4 + 2 * (text.size() + 1) + 3) / 4 * 4;
        table.resize(at + length);
        table[at] = static_cast<uint8_t>(length);
        table[at + 2] = 1;
        for (size_t i = 0; i < text.size(); ++i)
            table[at + 4 + 2 * i] = static_cast<uint8_t>(text[i]);
    }
    return table;
}

TEST(MessageTableNames, AddsEachNameInABlockOfItsRun)
{
    std::vector<uint8_t> table = MessageTable(100, {"a", "bc"});
    const std::vector<uint8_t> entries(table.begin() + 16, table.end());
    std::string error;
    ASSERT_TRUE(evtgen::AddMessages(table, {{0x50000002, "L2", "Error"}, {0x50000003, "L3", "Warning"}, {7, "S", "x"}},
                                    &error))
        << error;
    // Blocks by identifier: 7; 100-101; 0x50000002-0x50000003.
    ASSERT_EQ(Get32(table, 0), 3u);
    const uint32_t blocks[][2] = {{7, 7}, {100, 101}, {0x50000002, 0x50000003}};
    for (int b = 0; b < 3; ++b) {
        EXPECT_EQ(Get32(table, 4 + 12 * b), blocks[b][0]);
        EXPECT_EQ(Get32(table, 8 + 12 * b), blocks[b][1]);
    }
    // The existing entries are carried over unchanged, after the new first block's.
    size_t existing = Get32(table, 4 + 12 + 8);
    ASSERT_LE(existing + entries.size(), table.size());
    EXPECT_TRUE(std::equal(entries.begin(), entries.end(), table.begin() + static_cast<std::ptrdiff_t>(existing)));
    size_t error2 = Get32(table, 4 + 24 + 8);
    EXPECT_EQ(table[error2], 16); // 4 + "Error" and its NUL in UTF-16, to a multiple of 4
    EXPECT_EQ(table[error2 + 2], 1);
    EXPECT_EQ(table[error2 + 4], 'E');
}

TEST(MessageTableNames, RefusesADamagedTableOrAnIdentifierItHolds)
{
    struct Case {
        const char *name;
        std::vector<uint8_t> table;
        uint32_t id;
    };
    std::vector<uint8_t> tooManyBlocks = MessageTable(100, {"a"});
    Put32(tooManyBlocks, 0, 1000);
    std::vector<uint8_t> entryBeyond = MessageTable(100, {"a"});
    Put32(entryBeyond, 12, 0xFFFFFF00u);
    std::vector<uint8_t> reversed = MessageTable(100, {"a"});
    Put32(reversed, 8, 99);
    const Case cases[] = {
        {"shorter than its count", {1, 0}, 1},
        {"block count beyond its size", tooManyBlocks, 1},
        {"entry beyond its end", entryBeyond, 1},
        {"block highest below lowest", reversed, 1},
        {"identifier already there", MessageTable(100, {"a", "b"}), 101},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> table = c.table;
        std::string error;
        EXPECT_FALSE(evtgen::AddMessages(table, {{c.id, "X", "x"}}, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(table, c.table);
    }
}

} // namespace
