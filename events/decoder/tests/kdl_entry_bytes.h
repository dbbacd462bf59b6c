#pragma once
// Builds the bytes of one hardware event entry for tests: the 28-byte header (little-endian)
// followed by the class data. Header bytes that no field sets hold the filler.

#include <cstdint>
#include <vector>

namespace kdltest {

struct EntryFields {
    uint16_t size = 28;
    uint32_t number = 1;
    uint8_t severity = 2;
    uint16_t eventClass = 0;
    uint16_t code = 0;
    std::vector<uint8_t> classData = {};
};

inline std::vector<uint8_t> EncodeEntry(const EntryFields &e, uint8_t filler = 0)
{
    std::vector<uint8_t> b(28, filler);
    auto put16 = [&](size_t at, uint16_t v) {
        b[at] = static_cast<uint8_t>(v & 0xFF);
        b[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    put16(0, e.size);
    for (int i = 0; i < 4; ++i)
        b[2 + i] = static_cast<uint8_t>(e.number >> (8 * i));
    b[7] = e.severity;
    put16(8, e.eventClass);
    put16(10, e.code);
    for (uint8_t byte : e.classData)
        b.push_back(byte);
    return b;
}

} // namespace kdltest
