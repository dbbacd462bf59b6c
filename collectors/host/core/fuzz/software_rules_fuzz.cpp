// Image paths come from the registry, processor row names from WMI and the product name from the
// firmware's registry text: none of them is trusted.
#include "software_rules.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    const std::wstring wide(text.begin(), text.end());

    IMAGE_PATH_IO io;
    io.expand = [](const std::wstring &image) -> std::optional<std::wstring> {
        if (image.size() > 260)
            return std::nullopt;
        return image;
    };
    io.exists = [&](const std::wstring &path) { return (path.size() + data[0]) % 3 == 0; };
    io.serviceDll = [&]() -> std::optional<std::wstring> { return wide.substr(0, wide.size() / 2); };
    const std::optional<std::wstring> path = ResolveImagePath(data[0] & 1, wide.substr(0, 8), wide, io);
    if (path && (path->size() > 260 || !io.exists(*path)))
        abort();

    PROCESSOR_SAMPLE sample;
    sample.Reset();
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        sample.Add(text.substr(start, end - start), data[0], static_cast<int32_t>(end));
        start = end + 1;
    }
    if (sample.Count() > PROCESSOR_SAMPLE::kEntries)
        abort();

    const int generation = ServerGenerationFromProduct(wide, L"ZDT");
    if (generation != 0 && generation != 8 && generation != 9)
        abort();
    return 0;
}
