#include "event_sink.h"

#include <cstdio>

namespace eventsink {
namespace {

std::string ToUtf8(const std::wstring &text)
{
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(const std::string &text)
{
    if (text.empty())
        return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

void AppendEscaped(std::string *out, const std::wstring &field)
{
    for (char c : ToUtf8(field)) {
        switch (c) {
        case '\\': *out += "\\\\"; break;
        case '\t': *out += "\\t"; break;
        case '\n': *out += "\\n"; break;
        case '\r': *out += "\\r"; break;
        default: *out += c; break;
        }
    }
}

std::wstring Unescape(const std::string &field)
{
    std::string raw;
    for (size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\\' && i + 1 < field.size()) {
            char n = field[++i];
            raw += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            raw += c;
        }
    }
    return FromUtf8(raw);
}

struct NamedSource {
    std::wstring name;
};

} // namespace

HANDLE NewNamedSource(const wchar_t *source)
{
    return source ? reinterpret_cast<HANDLE>(new NamedSource{source}) : nullptr;
}

void DeleteNamedSource(HANDLE source)
{
    delete reinterpret_cast<NamedSource *>(source);
}

bool MakeEvent(HANDLE source, WORD type, WORD category, DWORD id, WORD count, const wchar_t **strings, Event *event)
{
    auto *named = reinterpret_cast<NamedSource *>(source);
    if (named == nullptr)
        return false;
    *event = Event{named->name, type, category, id, {}};
    for (WORD i = 0; i < count && strings != nullptr; ++i)
        event->strings.emplace_back(strings[i] ? strings[i] : L"");
    return true;
}

std::string FormatLine(const Event &event)
{
    char head[64];
    std::snprintf(head, sizeof head, "0x%08lX\t%u\t%u\t", static_cast<unsigned long>(event.id),
                  static_cast<unsigned>(event.type), static_cast<unsigned>(event.category));
    std::string line = head;
    AppendEscaped(&line, event.source);
    for (const auto &s : event.strings) {
        line += '\t';
        AppendEscaped(&line, s);
    }
    line += '\n';
    return line;
}

bool ParseLine(const std::string &line, Event *event)
{
    std::vector<std::string> fields;
    std::string current;
    for (char c : line) {
        if (c == '\n' || c == '\r')
            break;
        if (c == '\t') {
            fields.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    fields.push_back(current);
    if (fields.size() < 4)
        return false;
    unsigned long id = 0;
    unsigned type = 0, category = 0;
    if (std::sscanf(fields[0].c_str(), "0x%lX", &id) != 1 || std::sscanf(fields[1].c_str(), "%u", &type) != 1 ||
        std::sscanf(fields[2].c_str(), "%u", &category) != 1)
        return false;
    event->id = static_cast<DWORD>(id);
    event->type = static_cast<WORD>(type);
    event->category = static_cast<WORD>(category);
    event->source = Unescape(fields[3]);
    event->strings.clear();
    for (size_t i = 4; i < fields.size(); ++i)
        event->strings.push_back(Unescape(fields[i]));
    return true;
}

} // namespace eventsink
