#pragma once
// Bounded 8-bit texts for the event decoder.
//
// Lines are built from texts that come partly from the entry, so every write is bounded by the
// buffer it goes to: a longer text is cut, and the buffer always ends with a NUL.

#include <cstdarg>
#include <cstddef>

#if defined(__MINGW32__) && !defined(__clang__)
#define KDL_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define KDL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

// The event writer's text buffer: 1023 characters and the NUL.
constexpr size_t kKdlTextSize = 1024;

// A view over a caller's buffer of fixed capacity (NUL included).
class KdlText {
public:
    KdlText(char *buffer, size_t capacity) : m_Buffer(capacity ? buffer : nullptr), m_Capacity(buffer ? capacity : 0) {}
    KdlText(const KdlText &) = delete;
    KdlText &operator=(const KdlText &) = delete;

    // Zero-fills the whole buffer.
    void Clear();
    // Replaces the text with the formatted one, cut to the capacity.
    void Format(const char *format, ...) KDL_PRINTF(2, 3);
    // Appends the formatted text, cut to the capacity.
    void Append(const char *format, ...) KDL_PRINTF(2, 3);
    void AppendV(const char *format, va_list args);

    bool Empty() const { return m_Buffer == nullptr || m_Buffer[0] == '\0'; }
    size_t Length() const;
    size_t Capacity() const { return m_Capacity; }
    const char *CStr() const { return m_Buffer ? m_Buffer : ""; }

private:
    char *m_Buffer;
    size_t m_Capacity;
};

// A short text held by value: a name, a number or a string of the class data that a formatter
// inserts into its line. As long as a whole line, so that inserting it never cuts it earlier
// than the line itself would be cut.
struct KdlField {
    char Text[kKdlTextSize] = {};

    const char *c_str() const { return Text; }
    bool empty() const { return Text[0] == '\0'; }

    static KdlField Of(const char *text);
    static KdlField Printf(const char *format, ...) KDL_PRINTF(1, 2);
};
