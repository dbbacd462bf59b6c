#include "pipe_protocol.h"

#include "byte_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

pipeproto::ControlMessage Sample(uint32_t payloadSize)
{
    pipeproto::ControlMessage message;
    message.id = 7;
    message.value = 2241036;
    message.payloadSize = payloadSize;
    for (uint32_t i = 0; i < payloadSize; ++i)
        message.payload[i] = static_cast<uint8_t>(i + 1);
    return message;
}

TEST(PipeProtocol, RequestsAndRepliesSurviveTheWire)
{
    for (uint32_t payload : {0u, 4u, 16u, 64u}) {
        uint8_t wire[pipeproto::kMaxMessage];
        size_t size = pipeproto::EncodeRequest(Sample(payload), wire, sizeof(wire));
        ASSERT_EQ(size, pipeproto::kHeaderSize + payload);
        pipeproto::ControlMessage decoded;
        ASSERT_TRUE(pipeproto::DecodeRequest(wire, size, &decoded));
        EXPECT_EQ(decoded.id, 7u);
        EXPECT_EQ(decoded.value, 2241036u);
        ASSERT_EQ(decoded.payloadSize, payload);
        const pipeproto::ControlMessage sent = Sample(payload);
        EXPECT_EQ(std::vector<uint8_t>(decoded.payload, decoded.payload + payload),
                  std::vector<uint8_t>(sent.payload, sent.payload + payload));
        // A request is not a reply.
        EXPECT_FALSE(pipeproto::DecodeReply(wire, size, &decoded));
    }
}

TEST(PipeProtocol, MalformedMessagesAreRefused)
{
    uint8_t wire[pipeproto::kMaxMessage + 8];
    size_t size = pipeproto::EncodeReply(Sample(4), wire, sizeof(wire));
    ASSERT_EQ(size, 20u);

    struct Case {
        const char *what;
        size_t size;
        uint32_t payloadSizeField;
    };
    const Case cases[] = {
        {"shorter than its header", 12, 4},
        {"a payload missing its last byte", 19, 4},
        {"bytes beyond the payload", 21, 4},
        {"a payload size larger than any payload", 20, 65},
        {"a payload size that wraps the size", 20, 0xFFFFFFF0},
    };
    for (const Case &c : cases) {
        uint8_t copy[sizeof(wire)] = {};
        std::copy(wire, wire + size, copy);
        PutU32(copy + 12, c.payloadSizeField);
        pipeproto::ControlMessage decoded;
        decoded.id = 99;
        EXPECT_FALSE(pipeproto::DecodeReply(copy, c.size, &decoded)) << c.what;
        EXPECT_EQ(decoded.id, 99u) << c.what << ": the output changed";
    }
    EXPECT_FALSE(pipeproto::DecodeReply(nullptr, 20, nullptr));
}

TEST(PipeProtocol, EncodingRefusesWhatDoesNotFit)
{
    uint8_t wire[pipeproto::kMaxMessage];
    pipeproto::ControlMessage tooLarge = Sample(0);
    tooLarge.payloadSize = pipeproto::kMaxPayload + 1;
    EXPECT_EQ(pipeproto::EncodeRequest(tooLarge, wire, sizeof(wire)), 0u);
    EXPECT_EQ(pipeproto::EncodeRequest(Sample(16), wire, pipeproto::kHeaderSize + 15), 0u);
}

} // namespace
