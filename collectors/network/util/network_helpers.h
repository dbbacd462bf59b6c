#pragma once
// Small helpers of the network collectors that the host collector uses as well: the value of an
// AgentX octet-string varbind, a bounded formatter into a 256-byte buffer, and a substring that
// never fails.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Writes the value part of an octet-string varbind at value: the u32 length (little-endian) and
// the bytes, without padding. A count of 0 or null bytes write a length of 0 and nothing else. The
// caller provides 4 + byteCount bytes of room.
void SetOctetStringValue(uint8_t *value, uint32_t byteCount, const void *bytes);

constexpr size_t FORMAT_BUFFER_BYTES = 256;
// As count: write as much as fits.
constexpr size_t FORMAT_TRUNCATE = static_cast<size_t>(-1);

// Formats into a buffer of FORMAT_BUFFER_BYTES bytes, writing at most count characters and never
// more than the buffer holds, and always ends the text with NUL. Returns the number of characters
// written, or -1 when the text was cut or could not be formatted (the buffer then holds what fit).
int FormatBuffer256(char *buffer, size_t count, const char *format, ...);

// The count characters of text that begin at start. A negative start or count counts as 0; a
// count that runs past the end stops at the end; a start past the end gives an empty string.
std::wstring StringMid(std::wstring_view text, int start, int count);
