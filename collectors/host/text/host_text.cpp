#include "host_text.h"

#include <cstdio>
#include <cstring>
#include <locale>
#include <vector>

std::string &FormatString(std::string &target, const char *format, ...)
{
    std::string formatted;
    va_list arguments;
    va_start(arguments, format);
    FormatStringV(formatted, format, arguments);
    va_end(arguments);
    target = formatted;
    return target;
}

void FormatStringV(std::string &target, const char *format, va_list arguments)
{
    if (format == nullptr) {
        target.clear();
        return;
    }
    const size_t room = strlen(format) + 1024;
    std::vector<char> buffer(room, '\0');
    // vsnprintf always terminates: at most room - 1 = L + 1023 characters.
    vsnprintf(buffer.data(), room, format, arguments);
    target.assign(buffer.data(), strnlen(buffer.data(), room));
}

void StringToLower(std::string &text)
{
    const std::locale &classic = std::locale::classic();
    for (char &c : text)
        c = std::tolower(c, classic);
}

char *WideToNarrowBuffer(char *buffer, size_t size, const wchar_t *text, int length, UINT codePage)
{
    if (buffer == nullptr || size == 0)
        return buffer;
    buffer[0] = '\0';
    if (text == nullptr || length == 0)
        return buffer;
    const int needed = WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return buffer;
    std::vector<char> whole(static_cast<size_t>(needed) + 1, '\0');
    if (WideCharToMultiByte(codePage, 0, text, length, whole.data(), needed, nullptr, nullptr) != needed)
        return buffer;
    // A terminated source brings its NUL along; a counted one does not.
    const size_t bytes = strnlen(whole.data(), static_cast<size_t>(needed));
    const size_t kept = bytes < size - 1 ? bytes : size - 1;
    memcpy(buffer, whole.data(), kept);
    buffer[kept] = '\0';
    return buffer;
}

std::string &AssignFromWide(std::string &target, const wchar_t *source)
{
    target.clear();
    if (source == nullptr)
        return target;
    const size_t length = wcslen(source);
    target.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        char bytes[8];
        const int written =
            WideCharToMultiByte(CP_ACP, 0, source + i, 1, bytes, sizeof bytes, nullptr, nullptr);
        target.push_back(written == 1 ? bytes[0] : '?');
    }
    return target;
}

void AssignFromWide(std::string &target, const std::wstring &source)
{
    // Up to the first NUL, as for a terminated text.
    AssignFromWide(target, source.c_str());
}

std::string NarrowFromWide(const std::wstring &source)
{
    std::string narrow;
    AssignFromWide(narrow, source);
    return narrow;
}

std::string NarrowFromWide(const wchar_t *source)
{
    std::string narrow;
    AssignFromWide(narrow, source);
    return narrow;
}

std::string &AssignString(std::string &target, const std::string &source)
{
    target = source;
    return target;
}

void FormatNumber(std::string &target, const char *format, const uint32_t *value)
{
    FormatString(target, format, value != nullptr ? *value : 0u);
}

std::string &AppendText(std::string &target, const char *text)
{
    if (text != nullptr)
        target += text;
    return target;
}
