#pragma once
// The event texts as data, and the checked way of writing them.
//
// Every text a class formatter writes stands in a constant table row {class, code, text}; one
// text is one row, variants are stored whole. Formats that come from a table escape the
// compiler's printf checking, so KdlFormat checks them itself: its constructor runs at compile
// time and refuses a row whose conversions do not match the types of the arguments given with
// it. A wrong argument is a build error, not a garbled line or a read of the wrong stack slot.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <type_traits>
#include <vector>

#include "kdl_text.h"

struct KdlTextRow {
    uint16_t Class;
    uint16_t Code; // the lowest code that writes this text
    const char *Text;
};

// The rows of one formatter, in groups that the formatter indexes.
using KdlTextGroup = std::span<const KdlTextRow>;

namespace kdl_detail {

enum class Conversion { End, String, Unsigned, Signed, Character, Invalid };

template <typename T>
consteval Conversion ConversionOf()
{
    if constexpr (std::is_same_v<T, KdlField> || std::is_same_v<T, const char *> || std::is_same_v<T, char *>)
        return Conversion::String;
    else if constexpr (std::is_same_v<T, unsigned>)
        return Conversion::Unsigned;
    else if constexpr (std::is_same_v<T, int>)
        return Conversion::Signed;
    else if constexpr (std::is_same_v<T, char>)
        return Conversion::Character;
    else
        return Conversion::Invalid;
}

// Walks the conversions of a format: flags '0', a width, a precision, then one of s u d c x X.
// True when they are exactly the expected ones, in order.
consteval bool ConversionsMatch(const char *format, const Conversion *expected, size_t count)
{
    size_t next = 0;
    for (const char *p = format; *p != '\0'; ++p) {
        if (*p != '%')
            continue;
        ++p;
        if (*p == '%')
            continue;
        while (*p == '0')
            ++p;
        while (*p >= '0' && *p <= '9')
            ++p;
        if (*p == '.') {
            ++p;
            while (*p >= '0' && *p <= '9')
                ++p;
        }
        Conversion found = Conversion::Invalid;
        switch (*p) {
        case 's': found = Conversion::String; break;
        case 'u':
        case 'x':
        case 'X': found = Conversion::Unsigned; break;
        case 'd': found = Conversion::Signed; break;
        case 'c': found = Conversion::Character; break;
        default: return false;
        }
        if (next >= count || expected[next] != found)
            return false;
        ++next;
    }
    return next == count;
}

inline const char *Pass(const KdlField &field) { return field.c_str(); }
inline const char *Pass(const char *text) { return text; }
inline unsigned Pass(unsigned value) { return value; }
inline int Pass(int value) { return value; }
inline int Pass(char value) { return static_cast<unsigned char>(value); }

} // namespace kdl_detail

template <typename... Args>
consteval bool KdlRowsTake(std::span<const KdlTextRow> rows)
{
    constexpr kdl_detail::Conversion expected[] = {kdl_detail::ConversionOf<Args>()..., kdl_detail::Conversion::End};
    for (const KdlTextRow &row : rows)
        if (!kdl_detail::ConversionsMatch(row.Text, expected, sizeof...(Args)))
            return false;
    return true;
}

// A table row whose conversions were checked against Args at compile time.
template <typename... Args>
struct KdlFormat {
    const char *Text;

    consteval KdlFormat(const KdlTextRow &row) : Text(row.Text)
    {
        constexpr kdl_detail::Conversion expected[] = {kdl_detail::ConversionOf<Args>()...,
                                                       kdl_detail::Conversion::End};
        if (!kdl_detail::ConversionsMatch(row.Text, expected, sizeof...(Args)))
            throw "the conversions of the text do not match its arguments";
    }
};

// Appends the row's text filled with the arguments.
template <typename... Args>
void KdlAppend(KdlText &text, KdlFormat<std::type_identity_t<Args>...> format, const Args &...args)
{
    if constexpr (sizeof...(Args) == 0)
        text.Append("%s", format.Text);
    else
        text.Append(format.Text, kdl_detail::Pass(args)...);
}

// Replaces the line with the row's text filled with the arguments.
template <typename... Args>
void KdlPut(KdlText &text, KdlFormat<std::type_identity_t<Args>...> format, const Args &...args)
{
    text.Format("%s", "");
    KdlAppend(text, format, args...);
}

// The row's text filled with the arguments, as a field to insert into a line.
template <typename... Args>
KdlField KdlFieldOf(KdlFormat<std::type_identity_t<Args>...> format, const Args &...args)
{
    if constexpr (sizeof...(Args) == 0)
        return KdlField::Of(format.Text);
    else
        return KdlField::Printf(format.Text, kdl_detail::Pass(args)...);
}

// Writes the row of Group::Rows whose code is the given one, for groups of one text per code
// that all take the same arguments (checked at compile time). False when no row has the code.
template <typename Group, typename... Args>
bool KdlPutByCode(KdlText &text, uint16_t code, const Args &...args)
{
    static_assert(KdlRowsTake<Args...>(Group::Rows), "a row of the group does not take these arguments");
    for (const KdlTextRow &row : Group::Rows) {
        if (row.Code != code)
            continue;
        if constexpr (sizeof...(Args) == 0)
            text.Format("%s", row.Text);
        else
            text.Format(row.Text, kdl_detail::Pass(args)...);
        return true;
    }
    return false;
}

// The text of row index of Group::Rows, a group of plain words without conversions (checked at
// compile time), for the name tables that a byte of the class data indexes. The caller keeps the
// index inside the group.
template <typename Group>
const char *KdlWord(size_t index)
{
    static_assert(KdlRowsTake<>(Group::Rows), "a row of the group is not a plain word");
    return Group::Rows[index].Text;
}

// The word of Group::Rows chosen by value: the row of Group::Values that holds the value, or the
// last row, one past the values, for every other value.
template <typename Group>
const char *KdlWordByValue(uint8_t value)
{
    static_assert(std::size(Group::Values) + 1 == std::size(Group::Rows), "one row per value and one for the rest");
    size_t row = 0;
    while (row < std::size(Group::Values) && Group::Values[row] != value)
        ++row;
    return KdlWord<Group>(row);
}

// Every row of every formatter's table, table by table.
std::vector<KdlTextRow> KdlTextCatalogue();
