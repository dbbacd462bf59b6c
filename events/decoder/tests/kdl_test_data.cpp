#include "kdl_test_data.h"

#include <cstdlib>
#include <sstream>

namespace kdltest {
namespace {

bool EndsWith(const std::string &s, const char *suffix)
{
    std::string t(suffix);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

struct Line {
    std::string Where; // file:line
    std::string Text;
};

// The lines of a file that are neither empty nor comments, without their line ends (a CR before
// the LF is dropped too).
std::vector<Line> ContentLines(const KdlTestDataFile &file)
{
    std::vector<Line> lines;
    std::string all(file.Bytes, file.Size), text;
    std::istringstream in(all);
    for (size_t n = 1; std::getline(in, text); ++n) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (!text.empty() && text[0] != '#')
            lines.push_back({std::string(file.Name) + ":" + std::to_string(n), text});
    }
    return lines;
}

std::vector<const KdlTestDataFile *> FilesEndingIn(const char *suffix)
{
    std::vector<const KdlTestDataFile *> files;
    for (size_t f = 0; f < kKdlTestDataCount; ++f)
        if (EndsWith(kKdlTestData[f].Name, suffix))
            files.push_back(&kKdlTestData[f]);
    return files;
}

bool ParseNumber(const std::string &s, unsigned *value)
{
    if (s.empty())
        return false;
    char *end = nullptr;
    unsigned long v = std::strtoul(s.c_str(), &end, 0);
    if (*end != '\0' || v > 0xFFFF)
        return false;
    *value = static_cast<unsigned>(v);
    return true;
}

bool ParseHex(const std::string &s, std::vector<uint8_t> *bytes)
{
    if (s == "-")
        return true;
    if (s.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < s.size(); i += 2) {
        char pair[3] = {s[i], s[i + 1], 0};
        char *end = nullptr;
        unsigned long v = std::strtoul(pair, &end, 16);
        if (*end != '\0')
            return false;
        bytes->push_back(static_cast<uint8_t>(v));
    }
    return true;
}

} // namespace

bool Catalogue::IsKnown(unsigned code) const
{
    for (auto [first, last] : Known)
        if (code >= first && code <= last)
            return true;
    return false;
}

std::vector<Catalogue> Catalogues(std::vector<std::string> *errors)
{
    std::vector<Catalogue> catalogues;
    for (const KdlTestDataFile *file : FilesEndingIn(".texts")) {
        Catalogue catalogue;
        catalogue.File = file->Name;
        for (const auto &[where, line] : ContentLines(*file)) {
            size_t tab = line.find('\t');
            if (line.compare(0, tab, "known") == 0 && tab != std::string::npos) {
                std::istringstream ranges(line.substr(tab + 1));
                std::string range;
                while (ranges >> range) {
                    size_t dash = range.find('-');
                    unsigned first = 0, last = 0;
                    if (!ParseNumber(range.substr(0, dash), &first) ||
                        !ParseNumber(dash == std::string::npos ? range : range.substr(dash + 1), &last))
                        errors->push_back(where + ": bad range " + range);
                    catalogue.Known.emplace_back(first, last);
                }
                continue;
            }
            if (line.compare(0, tab, "otherwise") == 0 && tab != std::string::npos) {
                catalogue.Otherwise = line.substr(tab + 1);
                continue;
            }
            size_t second = tab == std::string::npos ? tab : line.find('\t', tab + 1);
            CatalogueRow row;
            if (second == std::string::npos || !ParseNumber(line.substr(0, tab), &row.Class) ||
                !ParseNumber(line.substr(tab + 1, second - tab - 1), &row.Code)) {
                errors->push_back(where + ": not a row");
                continue;
            }
            row.Text = line.substr(second + 1);
            if (catalogue.Rows.empty())
                catalogue.Class = row.Class;
            else if (row.Class != catalogue.Class)
                errors->push_back(where + ": a row of another class");
            catalogue.Rows.push_back(row);
        }
        catalogues.push_back(catalogue);
    }
    return catalogues;
}

std::vector<Vector> Vectors(std::vector<std::string> *errors)
{
    std::vector<Vector> vectors;
    for (const KdlTestDataFile *file : FilesEndingIn(".vectors")) {
        for (const auto &[where, line] : ContentLines(*file)) {
            Vector v;
            v.Where = where;
            size_t arrow = line.find(" => ");
            std::istringstream fields(line.substr(0, arrow));
            std::string cls, code, hex, piece;
            fields >> cls >> code;
            while (fields >> piece) // the data may be written in several groups
                hex += piece;
            if (arrow == std::string::npos || !ParseNumber(cls, &v.Class) || !ParseNumber(code, &v.Code) ||
                !ParseHex(hex, &v.Data)) {
                errors->push_back(where + ": not a vector");
                continue;
            }
            v.Line = line.substr(arrow + 4);
            v.Fallback = v.Line == "FALLBACK";
            vectors.push_back(v);
        }
    }
    return vectors;
}

} // namespace kdltest
