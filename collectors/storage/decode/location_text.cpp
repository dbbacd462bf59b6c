#include "location_text.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <string>

namespace {

// "%d" after the word: leading blanks, an optional sign, digits (saturating); no digits leaves
// the value as it was.
void NumberAfter(const std::string &text, const char *word, int *value)
{
    size_t at = text.find(word);
    if (at == std::string::npos)
        return;
    at += std::char_traits<char>::length(word);
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+'))
        negative = text[at++] == '-';
    if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at])))
        return;
    long long number = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
        number = number * 10 + (text[at++] - '0');
        if (number > INT_MAX)
            number = INT_MAX;
    }
    *value = static_cast<int>(negative ? -number : number);
}

} // namespace

PCI_LOCATION ParseLocationText(const char *text, size_t size, int missing)
{
    std::string lower;
    for (size_t i = 0; text && i < size && text[i] != '\0'; ++i)
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(text[i]))));
    PCI_LOCATION location{missing, missing, missing};
    NumberAfter(lower, "bus ", &location.Bus);
    NumberAfter(lower, "device ", &location.Device);
    NumberAfter(lower, "function ", &location.Function);
    return location;
}

bool LocationMatches(const PCI_LOCATION &location, unsigned bus, unsigned device, unsigned function)
{
    return static_cast<uint8_t>(location.Bus) == static_cast<uint8_t>(bus) &&
           static_cast<uint8_t>(location.Device) == static_cast<uint8_t>(device) &&
           static_cast<uint8_t>(location.Function) == static_cast<uint8_t>(function);
}
