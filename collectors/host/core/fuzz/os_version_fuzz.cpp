// The WMI Version text and the operating-system name are whatever WMI hands out.
#include "host_rules.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    uint32_t major = 0, minor = 0;
    SplitOsVersion(text.c_str(), &major, &minor);
    // Without two splitting dots the defaults stay.
    const std::string visible(text.c_str());
    const size_t first = visible.find('.');
    if (first == std::string::npos || first == 0)
        if (major != 4 || minor != 0)
            abort();
    HOST_OS_FACTS facts;
    facts.major = major;
    facts.minor = minor;
    facts.build = static_cast<uint32_t>(ParseLeadingInt(text.c_str()));
    facts.productType = size > 0 ? data[0] : 0;
    facts.architecture = size > 1 ? data[1] : 0;
    const int32_t code = HostOsTypeCode(facts, text.c_str());
    if (code < 1 || code > 61)
        abort();
    return 0;
}
