#pragma once
// Text helpers that the host, standard-equipment and network collectors share: a bounded
// formatter into a 256-byte buffer and a substring that never fails.

#include <cstddef>
#include <string>
#include <string_view>

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
