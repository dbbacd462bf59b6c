#pragma once
// Text conversions of the adapter model: every copy into a record field is bounded by the field
// and terminated inside it.

#include <windows.h>

#include <cstddef>
#include <string>

// Wide text into the ANSI code page, at most outSize - 1 bytes and a NUL (an empty text for none).
void WideToAnsiField(const wchar_t *text, char *out, size_t outSize);
// 8-bit text into a field: at most outSize - 1 bytes and a NUL.
void CopyTextField(const char *text, char *out, size_t outSize);
// ANSI text as wide text.
std::wstring AnsiToWide(const char *text);
// Wide text as UTF-8.
std::string WideToUtf8Text(const wchar_t *text);
