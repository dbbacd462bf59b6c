// The manifest file. The installer rewrites it line by line: the line holding "provider name="
// becomes the provider's opening with its name alone, and the lines holding "resourceFileName="
// and "messageFileName=" name the installed program. So each attribute of the provider stands on
// a line of its own, and no other line holds one of those three texts.
#include "evtgen.h"

namespace evtgen {

namespace {

std::string Escaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

const char *InType(evtable::FieldType type)
{
    return type == evtable::FieldType::UnicodeString ? "win:UnicodeString" : "win:UInt32";
}

const std::string &LevelName(const evtable::EventTable &table, evtable::Level level)
{
    for (const evtable::LevelEntry &l : table.levels)
        if (l.level == level)
            return l.name;
    return table.levels.front().name;
}

} // namespace

std::string ManifestXml(const evtable::EventTable &table, const std::string &program)
{
    std::string x;
    auto line = [&x](const std::string &text) { x += text + "\r\n"; };
    line("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    line("<!-- Generated from the event table (event_table.cpp) at build time. -->");
    line("<instrumentationManifest xmlns=\"http://schemas.microsoft.com/win/2004/08/events\"");
    line("    xmlns:win=\"http://manifests.microsoft.com/win/2004/08/windows/events\"");
    line("    xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"");
    line("    xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">");
    line("    <instrumentation>");
    line("        <events>");
    line(std::string(13, ' ') + "<provider name=\"" + Escaped(table.providerName) + "\"");
    line(std::string(16, ' ') + "guid=\"" + evtable::GuidText(table.providerGuid) + "\"");
    line(std::string(16, ' ') + "symbol=\"" + table.providerSymbol + "\"");
    line(std::string(16, ' ') + "message=\"$(string.provider)\"");
    line(std::string(16, ' ') + "resourceFileName=\"" + Escaped(program) + "\"");
    line(std::string(16, ' ') + "messageFileName=\"" + Escaped(program) + "\"");
    line("                >");
    line("                <channels>");
    line("                    <importChannel chid=\"" + table.channelName + "\" name=\"" + table.channelName + "\"/>");
    line("                </channels>");
    line("                <templates>");
    for (const evtable::Template &t : table.templates) {
        line("                    <template tid=\"" + t.id + "\">");
        for (const evtable::Field &f : t.fields)
            line("                        <data name=\"" + f.name + "\" inType=\"" + InType(f.type) + "\"/>");
        line("                    </template>");
    }
    line("                </templates>");
    line("                <events>");
    for (const evtable::Event &e : table.events) {
        std::string event = "                    <event value=\"" + std::to_string(e.value) + "\" symbol=\"" + e.symbol +
                            "\" level=\"" + LevelName(table, e.level) + "\" channel=\"" + table.channelName + "\"";
        if (e.templateIndex >= 0)
            event += " template=\"" + table.templates.at(static_cast<size_t>(e.templateIndex)).id + "\"";
        event += " message=\"$(string." + e.symbol + ")\"/>";
        line(event);
    }
    line("                </events>");
    line("            </provider>");
    line("        </events>");
    line("    </instrumentation>");
    line("    <localization>");
    line("        <resources culture=\"en-US\">");
    line("            <stringTable>");
    line("                <string id=\"provider\" value=\"" + Escaped(table.providerName) + "\"/>");
    for (const evtable::Event &e : table.events)
        line("                <string id=\"" + e.symbol + "\" value=\"" + Escaped(e.text) + "\"/>");
    line("            </stringTable>");
    line("        </resources>");
    line("    </localization>");
    line("</instrumentationManifest>");
    return x;
}

} // namespace evtgen
