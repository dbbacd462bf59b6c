// The class formatters against the catalogues and vectors of tests/data: the texts in the
// formatters' tables are exactly the catalogued ones, every vector decodes to its line, every
// catalogued text is reached by some vector, and an unknown code always gives the fallback.
#include "kdl_decoder.h"
#include "kdl_text_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "kdl_test_data.h"

namespace {

// A text with its blanks made visible, for failure messages.
std::string Shown(const std::string &text)
{
    std::string shown = "[";
    for (char c : text)
        shown += c == ' ' ? std::string("\xC2\xB7") : std::string(1, c);
    return shown + "]";
}

// The parsed files; a malformed line fails the test that reads it.
template <typename T>
std::vector<T> Load(std::vector<T> (*parse)(std::vector<std::string> *))
{
    std::vector<std::string> errors;
    std::vector<T> parsed = parse(&errors);
    for (const std::string &e : errors)
        ADD_FAILURE() << e;
    return parsed;
}

std::vector<kdltest::Catalogue> LoadCatalogues() { return Load(kdltest::Catalogues); }
std::vector<kdltest::Vector> LoadVectors() { return Load(kdltest::Vectors); }

struct Decoded {
    bool Result;
    std::string Line;
};

Decoded Decode(unsigned eventClass, unsigned code, const std::vector<uint8_t> &data)
{
    char buffer[kKdlTextSize];
    std::memset(buffer, 'Z', sizeof buffer);
    KdlText text(buffer, sizeof buffer);
    KdlClassData classData(data.data(), data.size());
    bool result = DecodeKdlEvent(static_cast<uint16_t>(eventClass), static_cast<uint16_t>(code), classData, text);
    EXPECT_NE(std::memchr(buffer, '\0', sizeof buffer), nullptr);
    return {result, buffer};
}

std::string Fallback(unsigned eventClass, unsigned code)
{
    char expected[64];
    std::snprintf(expected, sizeof expected, "Unknown Event (Class 0x%02X, Code 0x%02X)", eventClass, code);
    return expected;
}

TEST(KdlTextCatalogue, FormatterTablesHoldExactlyTheCataloguedTexts)
{
    std::vector<kdltest::Catalogue> catalogues = LoadCatalogues();
    ASSERT_FALSE(catalogues.empty());
    using Key = std::pair<unsigned, std::string>; // code, text
    std::map<unsigned, std::multiset<Key>> tables, files;
    for (const KdlTextRow &row : KdlTextCatalogue())
        tables[row.Class].insert({row.Code, row.Text});
    for (const auto &catalogue : catalogues)
        for (const auto &row : catalogue.Rows)
            files[row.Class].insert({row.Code, row.Text});
    for (const auto &[eventClass, rows] : tables)
        EXPECT_TRUE(files.count(eventClass)) << "class " << eventClass << " has texts but no catalogue";
    for (const auto &[eventClass, rows] : files) {
        SCOPED_TRACE(testing::Message() << "class " << eventClass);
        const std::multiset<Key> &table = tables[eventClass];
        std::vector<Key> missing, extra;
        std::set_difference(rows.begin(), rows.end(), table.begin(), table.end(), std::back_inserter(missing));
        std::set_difference(table.begin(), table.end(), rows.begin(), rows.end(), std::back_inserter(extra));
        for (const Key &k : missing)
            ADD_FAILURE() << "catalogued, not in the formatter's table: code " << k.first << " " << Shown(k.second);
        for (const Key &k : extra)
            ADD_FAILURE() << "in the formatter's table, not catalogued: code " << k.first << " " << Shown(k.second);
    }
}

TEST(KdlTextVectors, EveryVectorDecodesToItsLine)
{
    std::vector<kdltest::Vector> vectors = LoadVectors();
    ASSERT_FALSE(vectors.empty());
    for (const kdltest::Vector &v : vectors) {
        SCOPED_TRACE(v.Where);
        Decoded got = Decode(v.Class, v.Code, v.Data);
        if (v.Fallback) {
            EXPECT_FALSE(got.Result);
            EXPECT_EQ(got.Line, Fallback(v.Class, v.Code));
        } else {
            EXPECT_TRUE(got.Result);
            EXPECT_EQ(Shown(got.Line), Shown(v.Line));
        }
    }
}

// Whether text contains a line the row's format could have written: each conversion stands for
// any run of characters.
bool Writes(const std::string &format, const std::string &text)
{
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            pieces.back() += format[i];
            continue;
        }
        while (i + 1 < format.size() && std::strchr("0123456789.", format[i + 1]))
            ++i;
        ++i;
        pieces.emplace_back();
    }
    // Greedy-free glob search: every piece in order, the first anywhere.
    size_t at = 0;
    for (size_t p = 0; p < pieces.size(); ++p) {
        size_t found = text.find(pieces[p], at);
        if (found == std::string::npos)
            return false;
        at = found + pieces[p].size();
    }
    return true;
}

TEST(KdlTextVectors, EveryCataloguedTextIsReachedByAVector)
{
    std::vector<kdltest::Catalogue> catalogues = LoadCatalogues();
    std::vector<kdltest::Vector> vectors = LoadVectors();
    for (const auto &catalogue : catalogues)
        for (const auto &row : catalogue.Rows) {
            bool reached = false;
            for (const auto &v : vectors)
                reached = reached || (v.Class == row.Class && !v.Fallback && Writes(row.Text, v.Line));
            EXPECT_TRUE(reached) << catalogue.File << ": no vector writes code " << row.Code << " "
                                 << Shown(row.Text);
        }
}

// Class data that fills every field a formatter may read with something it could print.
const std::vector<std::vector<uint8_t>> kPatterns = {
    {},
    std::vector<uint8_t>(40, 0x00),
    std::vector<uint8_t>(40, 0xFF),
    {1, 0, 0, 1, 2, 3, 'A', 0, 'B', 0},
    {4, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 'S', 'N', 0, 'x', 0},
    {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17},
};

// The codes a class does not know give the decoder's fallback, or the class's own text for them.
TEST(KdlTextCatalogue, UnknownCodesAlwaysGiveTheFallback)
{
    std::vector<kdltest::Catalogue> catalogues = LoadCatalogues();
    for (const auto &catalogue : catalogues) {
        ASSERT_FALSE(catalogue.Known.empty()) << catalogue.File;
        std::vector<unsigned> codes;
        for (unsigned code = 0; code <= 300; ++code)
            codes.push_back(code);
        codes.push_back(0xFFFF);
        for (unsigned code : codes) {
            if (catalogue.IsKnown(code))
                continue;
            for (const auto &data : kPatterns) {
                Decoded got = Decode(catalogue.Class, code, data);
                if (catalogue.Otherwise.empty()) {
                    ASSERT_FALSE(got.Result) << catalogue.File << " code " << code << ": " << got.Line;
                    ASSERT_EQ(got.Line, Fallback(catalogue.Class, code));
                } else {
                    char expected[kKdlTextSize];
                    std::snprintf(expected, sizeof expected, catalogue.Otherwise.c_str(), code);
                    ASSERT_TRUE(got.Result) << catalogue.File << " code " << code;
                    ASSERT_EQ(got.Line, expected);
                }
            }
        }
    }
}

// Every class the decoder has a formatter for has its catalogue, so that the sweep above and the
// table comparison cover it.
TEST(KdlTextCatalogue, EveryFormatterClassHasACatalogue)
{
    std::set<unsigned> catalogued;
    for (const auto &catalogue : LoadCatalogues())
        catalogued.insert(catalogue.Class);
    size_t classes = 0;
    for (const KdlClassFormatterRow &row : KdlClassFormatters()) {
        if (row.Class <= 1) // "Empty" and "Reserved" take no code
            continue;
        ++classes;
        EXPECT_TRUE(catalogued.count(row.Class)) << "class " << row.Class << " has no catalogue";
    }
    EXPECT_EQ(catalogued.size(), classes) << "a catalogue of a class without formatter";
}

TEST(KdlTextCatalogue, EveryRowIsUnderAKnownCode)
{
    for (const auto &catalogue : LoadCatalogues())
        for (const auto &row : catalogue.Rows)
            EXPECT_TRUE(catalogue.IsKnown(row.Code) || row.Text == catalogue.Otherwise)
                << catalogue.File << " code " << row.Code;
}

} // namespace
