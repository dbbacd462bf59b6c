#include "manifest_rewrite.h"

#include <iterator>
#include <vector>

namespace tlmca {

namespace {

constexpr std::string_view kProviderMarker = "provider name=";
constexpr std::string_view kResourceMarker = "resourceFileName=";
constexpr std::string_view kMessageMarker = "messageFileName=";

std::vector<std::string> SplitLines(std::string_view text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line);
        start = next;
    }
    return lines;
}

struct Replacement {
    std::string_view marker;
    std::string_view value;
};

// One pass from left to right: wherever a marker stands followed by a quoted value, the value is
// replaced and the scan goes on after its closing quote. A marker inside a replaced value is gone
// with it, so a second pass finds exactly the markers the first one replaced. Each value keeps its
// own quote character: a double quote put around a value that had single ones could pair with an
// unclosed double quote earlier on the line, and a second pass would then replace more.
// replacedFirst is the smallest index (into replacements) of a marker that was replaced, or count
// when none was.
std::string RewriteLine(std::string_view line, const Replacement *replacements, size_t count, size_t *replacedFirst)
{
    std::string out;
    out.reserve(line.size() + 128);
    *replacedFirst = count;
    size_t at = 0;
    while (at < line.size()) {
        bool replaced = false;
        for (size_t r = 0; r < count && !replaced; ++r) {
            const std::string_view marker = replacements[r].marker;
            if (line.compare(at, marker.size(), marker) != 0)
                continue;
            const size_t open = at + marker.size();
            if (open >= line.size() || (line[open] != '"' && line[open] != '\''))
                continue;
            const size_t close = line.find(line[open], open + 1);
            if (close == std::string_view::npos)
                continue;
            out.append(line.substr(at, marker.size() + 1));
            out.append(replacements[r].value);
            out.push_back(line[close]);
            at = close + 1;
            replaced = true;
            if (r < *replacedFirst)
                *replacedFirst = r;
        }
        if (!replaced)
            out.push_back(line[at++]);
    }
    return out;
}

// The value of the line's attribute when the line holds that attribute alone: blanks, the marker
// with what stands before it on the line (prefix), one quoted value, blanks.
bool HoldsAttributeAlone(std::string_view line, std::string_view prefix, std::string_view marker)
{
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return false;
    line.remove_prefix(first);
    if (line.substr(0, prefix.size()) != prefix || line.substr(prefix.size(), marker.size()) != marker)
        return false;
    const size_t open = prefix.size() + marker.size();
    if (open >= line.size() || (line[open] != '"' && line[open] != '\''))
        return false;
    const size_t close = line.find(line[open], open + 1);
    return close != std::string_view::npos && line.find_first_not_of(" \t", close + 1) == std::string_view::npos;
}

}  // namespace

std::string RewriteManifest(std::string_view manifest, std::string_view manifestPath,
                            std::string_view providerName, std::string_view serviceFileName)
{
    // The folder keeps its trailing separator; a path without one names a file in no folder.
    const size_t slash = manifestPath.find_last_of("\\/");
    std::string serviceFile(slash == std::string_view::npos ? std::string_view{}
                                                            : manifestPath.substr(0, slash + 1));
    serviceFile += serviceFileName;

    const Replacement replacements[] = {
        {kProviderMarker, providerName},
        {kResourceMarker, serviceFile},
        {kMessageMarker, serviceFile},
    };
    // A line that holds one of the attributes alone becomes that attribute's line, whatever its
    // old value held (another attribute's marker included). Any other line with a marker keeps
    // everything but the values, and takes the same indentation: that of the provider's line when
    // it names the provider, else that of the file attributes.
    const std::string providerIndent(13, ' ');
    const std::string fileIndent(16, ' ');
    const std::string providerLine =
        providerIndent + "<" + std::string(kProviderMarker) + "\"" + std::string(providerName) + "\"";
    const std::string resourceLine = fileIndent + std::string(kResourceMarker) + "\"" + serviceFile + "\"";
    const std::string messageLine = fileIndent + std::string(kMessageMarker) + "\"" + serviceFile + "\"";
    std::string out;
    out.reserve(manifest.size() + 256);
    for (const std::string &line : SplitLines(manifest)) {
        if (HoldsAttributeAlone(line, "<", kProviderMarker)) {
            out += providerLine;
        } else if (HoldsAttributeAlone(line, "", kResourceMarker)) {
            out += resourceLine;
        } else if (HoldsAttributeAlone(line, "", kMessageMarker)) {
            out += messageLine;
        } else {
            const size_t first = line.find_first_not_of(" \t");
            const std::string_view content =
                first == std::string::npos ? std::string_view{} : std::string_view(line).substr(first);
            size_t replacedFirst = 0;
            const std::string rewritten = RewriteLine(content, replacements, std::size(replacements), &replacedFirst);
            if (replacedFirst == std::size(replacements))
                out += line;
            else
                out += (replacedFirst == 0 ? providerIndent : fileIndent) + rewritten;
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace tlmca
