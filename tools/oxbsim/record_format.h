#pragma once
// The record file the simulator keeps and tests read: one event per line, a verb and key=value
// words ("packet ch=1 n=3 len=1008 seq=3 ..."). Numbers are decimal unless they begin with 0x.

#include <cstddef>
#include <cstdint>

// FNV-1a over a packet's bytes, so that tests can tell which packet arrived, and that it arrived whole.
inline uint32_t PacketDigest(const uint8_t *data, size_t size)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 16777619u;
    }
    return hash;
}
