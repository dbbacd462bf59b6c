// Everything the FC layer reads from outside, decoded from arbitrary bytes: nothing is read past
// the bytes given, and the results keep their bounds.
#include "fc_decode.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> bytes(data, data + size);   // exactly size bytes, so overreads are caught
    const char *text = reinterpret_cast<const char *>(bytes.data());
    FC_CSMI_CONFIG config;
    DecodeFcCsmiConfig(bytes.data(), size, &config);
    FC_FCMP_REPLY reply;
    DecodeFcmpReply(bytes.data(), size, &reply);
    if (FcFieldText(text, size).size() > size)
        std::abort();
    std::string id;
    if (FcInstanceDeviceId(text, size, &id) && id.size() + 2 > size)
        std::abort();
    uint32_t boardId = 0;
    FcInstanceBoardId(text, size, &boardId);
    if (FcHexBytesText(bytes.data(), size, 36).size() > 72)
        std::abort();
    if (size >= 8)
        FcWwnText(bytes.data());
    unsigned bus = 0, device = 0, function = 0;
    FcParsePciLocation(text, size, &bus, &device, &function);
    if (size >= 4) {
        int32_t slot = static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24);
        if (FcLocationText(slot, size > 4 ? bytes[4] : 0).size() >= 128)
            std::abort();
    }
    return 0;
}
