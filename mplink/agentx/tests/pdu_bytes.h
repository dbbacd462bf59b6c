#pragma once
// Byte-level builders for test PDUs, written independently of the code under test: fields are
// appended one by one, little-endian, exactly as they travel.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace axtest {

struct Bytes {
    std::vector<uint8_t> b;

    Bytes &u8(uint8_t v)
    {
        b.push_back(v);
        return *this;
    }
    Bytes &u16(uint16_t v) { return u8(uint8_t(v)).u8(uint8_t(v >> 8)); }
    Bytes &u32(uint32_t v) { return u16(uint16_t(v)).u16(uint16_t(v >> 16)); }
    Bytes &u64(uint64_t v) { return u32(uint32_t(v)).u32(uint32_t(v >> 32)); }
    Bytes &oid(uint8_t prefix, uint8_t include, const std::vector<uint32_t> &ids)
    {
        u8(uint8_t(ids.size())).u8(prefix).u8(include).u8(0);
        for (uint32_t id : ids)
            u32(id);
        return *this;
    }
    Bytes &nullOid() { return oid(0, 0, {}); }
    Bytes &octets(const std::string &text)
    {
        u32(uint32_t(text.size()));
        b.insert(b.end(), text.begin(), text.end());
        while (b.size() % 4)
            b.push_back(0);
        return *this;
    }
    Bytes &raw(const std::vector<uint8_t> &more)
    {
        b.insert(b.end(), more.begin(), more.end());
        return *this;
    }
    size_t size() const { return b.size(); }
};

// Header (version 1, session 7, transaction 8, packet 9) and payload; the payload length field is
// the payload's size unless given.
inline std::vector<uint8_t> Pdu(uint8_t type, uint8_t flags, const Bytes &payload, int64_t payloadLength = -1)
{
    Bytes pdu;
    pdu.u8(1).u8(type).u8(flags).u8(0).u32(7).u32(8).u32(9);
    pdu.u32(payloadLength < 0 ? uint32_t(payload.size()) : uint32_t(payloadLength));
    pdu.raw(payload.b);
    return pdu.b;
}

inline std::vector<uint32_t> Repeat(uint32_t id, size_t count)
{
    return std::vector<uint32_t>(count, id);
}

} // namespace axtest
