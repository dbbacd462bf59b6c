#pragma once
// Bounded little-endian reads and writes over a byte range. Every read of bytes that came from
// outside the process goes through ByteReader: a read past the end fails and leaves the output
// untouched, it never reads beyond the range.

#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteReader {
public:
    ByteReader(const void *data, size_t size) : m_Data(static_cast<const uint8_t *>(data)), m_Size(data ? size : 0) {}

    size_t Size() const { return m_Size; }
    bool Has(size_t offset, size_t count) const { return offset <= m_Size && count <= m_Size - offset; }

    bool U8(size_t offset, uint8_t *value) const { return Read(offset, 1, value); }
    bool U16(size_t offset, uint16_t *value) const { return Read(offset, 2, value); }
    bool U32(size_t offset, uint32_t *value) const { return Read(offset, 4, value); }
    bool U64(size_t offset, uint64_t *value) const { return Read(offset, 8, value); }
    bool Bytes(size_t offset, void *out, size_t count) const
    {
        if (!Has(offset, count))
            return false;
        if (count != 0)
            std::memcpy(out, m_Data + offset, count);
        return true;
    }
    const uint8_t *At(size_t offset, size_t count) const { return Has(offset, count) ? m_Data + offset : nullptr; }

private:
    template <class T> bool Read(size_t offset, size_t width, T *value) const
    {
        if (!Has(offset, width))
            return false;
        T result = 0;
        for (size_t i = 0; i < width; ++i)
            result |= static_cast<T>(m_Data[offset + i]) << (8 * i);
        *value = result;
        return true;
    }

    const uint8_t *m_Data;
    size_t m_Size;
};

inline void PutU16(uint8_t *at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

inline void PutU32(uint8_t *at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}
