#include "kdl_text.h"

#include <cstdio>
#include <cstring>

namespace {

// Writes the formatted text at buffer[offset..capacity), cut so that a NUL always ends it.
void FormatAt(char *buffer, size_t capacity, size_t offset, const char *format, va_list args)
{
    if (buffer == nullptr || offset >= capacity)
        return;
    if (std::vsnprintf(buffer + offset, capacity - offset, format, args) < 0)
        buffer[offset] = '\0';
    buffer[capacity - 1] = '\0';
}

} // namespace

void KdlText::Clear()
{
    if (m_Buffer != nullptr)
        std::memset(m_Buffer, 0, m_Capacity);
}

size_t KdlText::Length() const
{
    if (m_Buffer == nullptr)
        return 0;
    const void *nul = std::memchr(m_Buffer, '\0', m_Capacity);
    return nul ? static_cast<size_t>(static_cast<const char *>(nul) - m_Buffer) : m_Capacity - 1;
}

void KdlText::Format(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    FormatAt(m_Buffer, m_Capacity, 0, format, args);
    va_end(args);
}

void KdlText::Append(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    AppendV(format, args);
    va_end(args);
}

void KdlText::AppendV(const char *format, va_list args)
{
    FormatAt(m_Buffer, m_Capacity, Length(), format, args);
}

KdlField KdlField::Of(const char *text)
{
    KdlField field;
    if (text != nullptr)
        std::snprintf(field.Text, sizeof field.Text, "%s", text);
    return field;
}

KdlField KdlField::Printf(const char *format, ...)
{
    KdlField field;
    va_list args;
    va_start(args, format);
    FormatAt(field.Text, sizeof field.Text, 0, format, args);
    va_end(args);
    return field;
}
