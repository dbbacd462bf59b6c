#pragma once
// Big-endian reads beside ByteReader's little-endian ones: SCSI and ATA log data carry their
// numbers most significant byte first. Each read fails, leaving the output alone, past the end.

#include "byte_reader.h"

inline bool BeU16(const ByteReader &reader, size_t offset, uint16_t *value)
{
    const uint8_t *at = reader.At(offset, 2);
    if (at == nullptr)
        return false;
    *value = static_cast<uint16_t>((at[0] << 8) | at[1]);
    return true;
}

inline bool BeU32(const ByteReader &reader, size_t offset, uint32_t *value)
{
    const uint8_t *at = reader.At(offset, 4);
    if (at == nullptr)
        return false;
    *value = (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) | (uint32_t{at[2]} << 8) | at[3];
    return true;
}

inline bool U8At(const ByteReader &reader, size_t offset, uint8_t *value) { return reader.Bytes(offset, value, 1); }

// A fixed text field of a device reply copied into out (capacity bytes, NUL-terminated, cut at
// the field's first NUL). False when the field is not wholly inside the reply.
bool TextField(const ByteReader &reader, size_t offset, size_t length, char *out, size_t capacity);
