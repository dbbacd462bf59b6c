#pragma once
// The fields of a channel packet's 8-byte header that the request/reply layer reads: total size,
// sequence and command (the service word is carried along for those that look at it).

#include "byte_reader.h"

#include <cstddef>
#include <cstdint>

constexpr size_t kChanPacketHeaderSize = 8;
constexpr uint16_t kChanReplyBit = 0x8000;
constexpr uint16_t kChanCommandShortReply = 0xFFFF; // accepted even when shorter than its size

struct ChanPacketFields {
    uint16_t totalSize = 0;
    uint16_t sequence = 0;
    uint16_t command = 0;
    uint16_t service = 0;
};

inline bool ReadChanPacketFields(const void *data, size_t size, ChanPacketFields *fields)
{
    ByteReader reader(data, size);
    ChanPacketFields read;
    if (!reader.U16(0, &read.totalSize) || !reader.U16(2, &read.sequence) || !reader.U16(4, &read.command) ||
        !reader.U16(6, &read.service))
        return false;
    *fields = read;
    return true;
}

inline void WriteChanPacketFields(uint8_t *at, const ChanPacketFields &fields)
{
    PutU16(at, fields.totalSize);
    PutU16(at + 2, fields.sequence);
    PutU16(at + 4, fields.command);
    PutU16(at + 6, fields.service);
}
