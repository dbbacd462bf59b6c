#include "manifest_rewrite.h"

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

// Replaces the quoted value that begins at valueStart (the opening quote) within line.
bool ReplaceQuoted(std::string &line, size_t valueStart, std::string_view value)
{
    if (valueStart >= line.size())
        return false;
    const char quote = line[valueStart];
    if (quote != '"' && quote != '\'')
        return false;
    const size_t close = line.find(quote, valueStart + 1);
    if (close == std::string::npos)
        return false;
    line.replace(valueStart + 1, close - valueStart - 1, value);
    return true;
}

}  // namespace

bool ReplaceAttributeValue(std::string &line, std::string_view marker, std::string_view value)
{
    const size_t at = line.find(marker);
    if (at == std::string::npos)
        return false;
    return ReplaceQuoted(line, at + marker.size(), value);
}

std::string RewriteManifest(std::string_view manifest, std::string_view manifestPath,
                            std::string_view providerName, std::string_view serviceFileName)
{
    // The folder keeps its trailing separator; a path without one names a file in no folder.
    const size_t slash = manifestPath.find_last_of("\\/");
    std::string serviceFile(slash == std::string_view::npos ? std::string_view{}
                                                            : manifestPath.substr(0, slash + 1));
    serviceFile += serviceFileName;

    std::string out;
    out.reserve(manifest.size() + 256);
    for (std::string &line : SplitLines(manifest)) {
        ReplaceAttributeValue(line, kProviderMarker, providerName);
        ReplaceAttributeValue(line, kResourceMarker, serviceFile);
        ReplaceAttributeValue(line, kMessageMarker, serviceFile);
        out += line;
        out += "\r\n";
    }
    return out;
}

}  // namespace tlmca
