#include "software_text.h"

#include "software_rules.h"

#include <cstdio>

namespace {

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// The value of a key line: what begins two characters after the first colon. False for a line
// without a colon or without anything there.
bool KeyValue(std::string_view line, std::string *value)
{
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon + 2 >= line.size())
        return false;
    *value = std::string(line.substr(colon + 2));
    return true;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A decimal number as "%d" reads one: blanks, a sign, digits. Numbers too large for any date end
// up as a value no date accepts.
bool ReadInt(std::string_view text, size_t *at, long long *value)
{
    size_t i = *at;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const size_t digits = i;
    long long number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        number = number < 1000000000 ? number * 10 + (text[i] - '0') : number;
    if (i == digits)
        return false;
    *value = negative ? -number : number;
    *at = i;
    return true;
}

// Three numbers separated by slashes, as "%d/%d/%d" reads them (the rest of the text ignored).
bool ReadThreeNumbers(std::string_view text, long long numbers[3])
{
    size_t at = 0;
    for (int n = 0; n < 3; ++n) {
        if (n > 0) {
            if (at >= text.size() || text[at] != '/')
                return false;
            ++at;
        }
        if (!ReadInt(text, &at, &numbers[n]))
            return false;
    }
    return true;
}

} // namespace

std::vector<SOFTWARE_LIST_ITEM> ParseSoftwareList(std::string_view text)
{
    std::vector<SOFTWARE_LIST_ITEM> items;
    bool inItem = false;
    size_t at = 0;
    while (at < text.size() && items.size() <= kSoftwareListMaxItems) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty()) {
            inItem = false;
            continue;
        }
        if (line.size() > kSoftwareListMaxLine)
            continue;
        std::string value;
        if (!inItem) {
            if (StartsWith(line, "Name") && KeyValue(line, &value)) {
                if (items.size() == kSoftwareListMaxItems)
                    break;
                items.push_back(SOFTWARE_LIST_ITEM{value, {}, {}, {}});
                inItem = true;
            }
            continue;
        }
        if (StartsWith(line, "Publisher ") && KeyValue(line, &value))
            items.back().publisher = value;
        else if (StartsWith(line, "Version ") && KeyValue(line, &value))
            items.back().version = value;
        else if (StartsWith(line, "InstallLocation ") && KeyValue(line, &value))
            items.back().installLocation = value;
    }
    return items;
}

INSTALLED_ON ParseInstalledOn(std::string_view text)
{
    INSTALLED_ON result;
    long long n[3] = {};
    if (ReadThreeNumbers(text, n)) {
        long long year = 0, month = 0, day = 0;
        if (n[0] > 1000) {
            year = n[0], month = n[1], day = n[2];
        } else if (n[2] > 1000) {
            year = n[2], month = n[0], day = n[1];
        }
        // Day and month the other way round (22/2/2022) are no date, not month 22.
        if (year > 1000 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31) {
            result.kind = INSTALLED_ON::Date;
            result.date.year = static_cast<uint16_t>(year);
            result.date.month = static_cast<uint16_t>(month);
            result.date.day = static_cast<uint16_t>(day);
        }
        return result;
    }
    // Otherwise a FILETIME in hexadecimal, with or without 0x.
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X'))
        i += 2;
    uint64_t value = 0;
    size_t digits = 0;
    for (; i < text.size(); ++i, ++digits) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            break;
        if (value >> 60)
            return result; // more than 64 bits: no time
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    // A zero time is none.
    if (digits > 0 && value != 0) {
        result.kind = INSTALLED_ON::FileTime;
        result.fileTime = value;
    }
    return result;
}

void SoftwareDateAndTime(const SOFTWARE_DATE &date, uint8_t out[8])
{
    DateToOctets(FILE_DATE{date.year, date.month, date.day, date.hour, date.minute, date.second}, out);
    out[7] = static_cast<uint8_t>(date.milliseconds / 100);
}

std::string SoftwareDateText(const SOFTWARE_DATE &date)
{
    if (date.year == 0)
        return "n/a";
    char text[64];
    int length = snprintf(text, sizeof text, "%04d/%02d/%02d", date.year, date.month, date.day);
    if (date.hour != 0 || date.minute != 0 || date.second != 0)
        snprintf(text + length, sizeof text - length, " %02d:%02d:%02d", date.hour, date.minute, date.second);
    return text;
}
