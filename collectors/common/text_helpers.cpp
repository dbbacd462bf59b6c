#include "text_helpers.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdint>

int FormatBuffer256(char *buffer, size_t count, const char *format, ...)
{
    // A count as large as the buffer would leave no room for the NUL: such a count, like
    // FORMAT_TRUNCATE, means as much as fits.
    const size_t limit = std::min(count, FORMAT_BUFFER_BYTES - 1);
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, limit + 1, format, args);
    va_end(args);
    if (length < 0) {
        buffer[0] = '\0';
        return -1;
    }
    return static_cast<size_t>(length) > limit ? -1 : length;
}

std::wstring StringMid(std::wstring_view text, int start, int count)
{
    // 64-bit arithmetic: start + count must not overflow for any pair of ints.
    const int64_t length = static_cast<int64_t>(text.size());
    const int64_t from = std::max(start, 0);
    int64_t taken = std::max(count, 0);
    if (from + taken > length)
        taken = length - from;
    if (from > length || taken <= 0)
        return std::wstring();
    return std::wstring(text.substr(static_cast<size_t>(from), static_cast<size_t>(taken)));
}
