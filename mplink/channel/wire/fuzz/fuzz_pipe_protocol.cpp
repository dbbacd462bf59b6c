// The control messages that come back from the pipe's far end, and the packet header fields the
// request/reply layer reads: whatever the bytes, decoding stays inside them, and what decodes
// encodes back to the same bytes.
#include "chan_packet.h"
#include "pipe_protocol.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    pipeproto::ControlMessage message;
    uint8_t encoded[pipeproto::kMaxMessage];
    if (pipeproto::DecodeReply(data, size, &message)) {
        size_t length = pipeproto::EncodeReply(message, encoded, sizeof(encoded));
        if (length != size || std::memcmp(encoded, data, size) != 0)
            std::abort();
    }
    if (pipeproto::DecodeRequest(data, size, &message)) {
        size_t length = pipeproto::EncodeRequest(message, encoded, sizeof(encoded));
        if (length != size || std::memcmp(encoded, data, size) != 0)
            std::abort();
    }
    ChanPacketFields fields;
    if (ReadChanPacketFields(data, size, &fields) != (size >= kChanPacketHeaderSize))
        std::abort();
    return 0;
}
