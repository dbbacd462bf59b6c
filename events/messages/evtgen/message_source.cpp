#include "evtgen.h"

#include <cstdio>
#include <string>

namespace evtgen {

namespace {

class Writer {
public:
    void Line(const std::string &text = "") { out_ += text + "\r\n"; }
    void Rule()
    {
        Line(";// " + std::string(93, '-'));
    }
    void Message(uint32_t code, const char *severity, const char *facility, const std::string &symbol,
                 const std::string &text)
    {
        char id[16];
        std::snprintf(id, sizeof id, "0x%X", static_cast<unsigned>(code));
        Line(std::string("MessageId=") + id);
        Line(std::string("Severity=") + severity);
        Line(std::string("Facility=") + facility);
        Line("SymbolicName=" + symbol);
        Line("Language=English");
        Line(text);
        Line(".");
        Line();
    }
    std::string Take() { return std::move(out_); }

private:
    std::string out_;
};

const char *SeverityName(evtable::Level level)
{
    switch (level) {
    case evtable::Level::Error:
        return "Error";
    case evtable::Level::Warning:
        return "Warning";
    default:
        return "Informational";
    }
}

} // namespace

std::string MessageSource(const evtable::EventTable &table)
{
    Writer w;
    w.Line(";// Generated from the event table (event_table.cpp) at build time; edit the table, not this.");
    w.Line(";//");
    w.Line(";// The message table of the service: the texts of its own events and of every hardware event,");
    w.Line(";// each under its full event identifier (severity, facility 0x101, code). The service program");
    w.Line(";// carries it as its own message table, and EventLogMessages.dll carries it for the event log,");
    w.Line(";// which renders an event by looking its identifier up here and inserting the event's strings.");
    w.Line(";// The names of the manifest's levels, channel and provider are added to the compiled table");
    w.Line(";// afterwards, since their identifiers carry bits this language cannot express.");
    w.Line(";//");
    w.Line(";// Hardware events are keyed by class * 256 + severity. Every one of them carries the event");
    w.Line(";// number (%1), the class (%2), the event code (%3) and the decoded text (%4).");
    w.Line();
    w.Line("MessageIdTypedef=DWORD");
    w.Line();
    w.Line("SeverityNames=(Success=0x0:STATUS_SEVERITY_SUCCESS");
    w.Line("               Informational=0x1:STATUS_SEVERITY_INFORMATIONAL");
    w.Line("               Warning=0x2:STATUS_SEVERITY_WARNING");
    w.Line("               Error=0x3:STATUS_SEVERITY_ERROR)");
    w.Line();
    w.Line("FacilityNames=(None=0x0:FACILITY_NONE");
    w.Line("               Agent=0x101:FACILITY_AGENT)");
    w.Line();
    w.Line("LanguageNames=(English=0x409:MSG00409)");
    w.Line();
    w.Rule();
    w.Line(";// Event categories (the source registers this file as its category file with " +
           std::to_string(table.categories.size()) + " categories;");
    w.Line(";// hardware events are written in category 6)");
    w.Rule();
    w.Line();
    for (size_t i = 0; i < table.categories.size(); ++i)
        w.Message(static_cast<uint32_t>(i + 1), "Success", "None", "MSG_CATEGORY_" + std::to_string(i + 1),
                  table.categories[i]);

    unsigned lastClass = ~0u;
    for (const evtable::Event &e : table.events) {
        bool hardware = e.value >= 0x100;
        if (!hardware && e.value == table.events.front().value) {
            w.Rule();
            w.Line(";// Events of the service host");
            w.Rule();
            w.Line();
        }
        if (hardware && lastClass == ~0u) {
            w.Rule();
            w.Line(";// Hardware events, by class: severities 2 and 3 (information), 6 (repaired, information),");
            w.Line(";// 9 (caution, warning) and 15 (critical, error)");
            w.Rule();
            w.Line();
        }
        if (hardware && e.value >> 8 != lastClass) {
            lastClass = e.value >> 8;
            w.Line(";// Class " + std::to_string(lastClass));
        }
        w.Message(e.value, SeverityName(e.level), "Agent", e.symbol, e.text);
    }
    return w.Take();
}

} // namespace evtgen
