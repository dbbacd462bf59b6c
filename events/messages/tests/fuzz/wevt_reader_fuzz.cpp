// Arbitrary bytes through the event manifest reader: as a program file whose resource directory
// is walked to the manifest, and as a manifest itself. Any read outside the input stops the run
// through the sanitizers; a reader that answers differently for the same bytes traps.
#include "wevt_reader.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void ReadManifest(wevtread::Bytes bytes)
{
    wevtread::Manifest first, second;
    std::string error;
    bool ok = wevtread::ReadManifest(bytes, &first, &error);
    Check(ok == wevtread::ReadManifest(bytes, &second, &error));
    if (!ok)
        return;
    Check(first.events.size() == second.events.size());
    for (const wevtread::Event &e : first.events) {
        Check(e.templateIndex < static_cast<int>(first.templates.size()));
        Check(e.levelIndex < static_cast<int>(first.levels.size()));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    wevtread::Bytes input{data, size};
    wevtread::Bytes resource;
    std::string error;
    if (wevtread::FindResourceBytes(input, u"WEVT_TEMPLATE", &resource, &error)) {
        Check(resource.data >= data && resource.size <= size &&
              static_cast<size_t>(resource.data - data) <= size - resource.size);
        ReadManifest(resource);
    }
    ReadManifest(input);
    return 0;
}
