// Any bytes as a manifest: the rewrite never reads outside the text, keeps the number of lines,
// and a second rewrite changes nothing.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "manifest_rewrite.h"

namespace {

size_t CountLines(std::string_view text)
{
    size_t lines = 0;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        ++lines;
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    constexpr std::string_view kPath = "C:\\Program Files\\Vostrel-Quinbar\\TLM\\Service\\qzrtlmevents.man";
    const std::string once = tlmca::RewriteManifest(input, kPath, "NDX Velmarine Management Service", "qzrtlm.exe");
    const std::string twice = tlmca::RewriteManifest(once, kPath, "NDX Velmarine Management Service", "qzrtlm.exe");
    if (once != twice)
        abort();
    if (CountLines(once) != CountLines(input))
        abort();
    return 0;
}
