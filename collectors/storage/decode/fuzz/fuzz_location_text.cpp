// Location texts of PCI devices: any text parses without reading past its size.
#include "location_text.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> text(data, data + size);
    PCI_LOCATION location = ParseLocationText(text.data(), text.size());
    LocationMatches(location, 0, 0, 0);
    return 0;
}
