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
// with it, so a second pass finds exactly the markers the first one replaced.
std::string RewriteLine(std::string_view line, const Replacement *replacements, size_t count)
{
    std::string out;
    out.reserve(line.size() + 128);
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
        }
        if (!replaced)
            out.push_back(line[at++]);
    }
    return out;
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
    std::string out;
    out.reserve(manifest.size() + 256);
    for (const std::string &line : SplitLines(manifest)) {
        out += RewriteLine(line, replacements, std::size(replacements));
        out += "\r\n";
    }
    return out;
}

}  // namespace tlmca
