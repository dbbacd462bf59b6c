#pragma once
// Narrow-text routines of the host collector, which the network collectors use too: printf into
// a string, lower case, and the conversions of wide (UTF-16) texts into the ANSI code page.
//
// Narrow strings are byte strings. Every routine bounds what it writes and leaves its result
// terminated.

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <string>

// The format applied to the arguments. The output holds at most L + 1023 characters, L being the
// length of the format, and is cut at its first NUL. Returns target.
std::string &FormatString(std::string &target, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void FormatStringV(std::string &target, const char *format, va_list arguments);

// Lowers ASCII letters in place (the classic locale).
void StringToLower(std::string &text);

// Empties buffer (of size bytes) and converts the wide text (length characters, or -1 up to its
// NUL) in codePage into it, cut where it does not fit; the result always ends with a NUL.
char *WideToNarrowBuffer(char *buffer, size_t size, const wchar_t *text, int length, UINT codePage);

// The ANSI form of the wide text, one byte per wide character: a character without a one-byte
// form in the code page becomes '?'. Null is the empty text.
void AssignFromWide(std::string &target, const std::wstring &source);
std::string &AssignFromWide(std::string &target, const wchar_t *source);
std::string NarrowFromWide(const std::wstring &source);
std::string NarrowFromWide(const wchar_t *source);

std::string &AssignString(std::string &target, const std::string &source);
// The format applied to *value.
void FormatNumber(std::string &target, const char *format, const uint32_t *value);
std::string &AppendText(std::string &target, const char *text);
