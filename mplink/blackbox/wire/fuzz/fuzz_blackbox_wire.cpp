// What comes back from the management processor (replies) and what the simulated log decodes
// (record payloads): whatever the bytes, reading stays inside them. The first byte picks the
// record code for the payload decoder.
#include "blackbox_wire.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Copies, so that a read past the input is a read past a heap block the sanitizer watches.
    std::vector<uint8_t> bytes(data, data + size);
    for (BlackboxReplyNeeds needs : {BlackboxReplyNeeds::Result, BlackboxReplyNeeds::Word12,
                                     BlackboxReplyNeeds::Disabled}) {
        BLACKBOX_REPLY reply;
        bool read = ReadBlackboxReply(bytes.data(), bytes.size(), needs, &reply);
        size_t declared = bytes.size() >= 2 ? (bytes[0] | bytes[1] << 8) : 0;
        size_t needed = needs == BlackboxReplyNeeds::Result ? 12 : needs == BlackboxReplyNeeds::Word12 ? 16 : 36;
        if (read != (bytes.size() >= needed && declared >= needed))
            std::abort();
    }
    if (!bytes.empty()) {
        std::string text;
        std::vector<uint8_t> payload(bytes.begin() + 1, bytes.end());
        if (DecodeBlackboxPayload(bytes[0], payload.data(), payload.size(), &text) &&
            FindBlackboxCode(bytes[0]) == nullptr)
            std::abort();
    }
    return 0;
}
