#include "event_table.h"

#include <cstdio>

namespace evtable {

namespace {

constexpr uint32_t kFacility = 0x101;

constexpr int kT1 = 0; // Uint1, Uint2, Uint3, Str1: event number, class, code, text
constexpr int kT2 = 1; // Uint1, Str1
// T3 (Uint1 alone) is part of the manifest, though no event of this table uses it.
constexpr int kT4 = 3; // Str1
constexpr int kNone = -1;

const char kFullText[] = "Description of Event ID %1, KDL Class Code %2, Event Code %3: %4";
// The event is written with the same four strings as every other hardware event, so the text
// is its fourth string.
const char kRepairedText[] = "Description of Event ID %1: (REPAIRED) %4";

// Classes whose five severities all have an event. Class 1 has only its severity 2 event, and
// class 17 two events of its own beyond the five.
const unsigned kHardwareClasses[] = {
    2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,     //
    17, 18, 19, 20,                                         //
    32, 33, 34,                                             //
    36, 37, 38, 39, 40, 41, 42,                             //
    50, 51, 52, 53, 54, 55, 56, 57, 58, 59,                 //
    255,
};

struct SeverityRow {
    unsigned severity;
    Level level;
    int templateIndex;
    const char *text;
};

const SeverityRow kSeverities[] = {
    {2, Level::Informational, kT1, kFullText},
    {3, Level::Informational, kT1, kFullText},
    {6, Level::Informational, kT2, kRepairedText},
    {9, Level::Warning, kT1, kFullText},
    {15, Level::Error, kT1, kFullText},
};

Event Hardware(unsigned value, Level level, int templateIndex, const char *text)
{
    char symbol[16];
    std::snprintf(symbol, sizeof symbol, "MSG_KDL_%04X", value);
    return Event{static_cast<uint16_t>(value), level, templateIndex, symbol, text};
}

EventTable Build()
{
    EventTable t;
    t.providerName = "NDX Velmarine Management Service";
    t.providerSymbol = "TLM_EVENT_PROVIDER";
    // Ours, chosen once; it names the provider wherever the manifest is registered.
    t.providerGuid = {0x7588DD71, 0xBA98, 0x4393, {0x9D, 0x5C, 0x43, 0xC5, 0xC6, 0xC3, 0x97, 0xBB}};
    t.providerMessage = {0x90000002, "MSG_PROVIDER_NAME", t.providerName};
    t.channelValue = 8;
    t.channelName = "System";
    t.channelMessage = {0x90000001, "MSG_CHANNEL_SYSTEM", "System"};
    t.keyword = 0x8000000000000000ull;
    t.levels = {
        {Level::Error, "win:Error", {0x50000002, "MSG_LEVEL_ERROR", "Error"}},
        {Level::Warning, "win:Warning", {0x50000003, "MSG_LEVEL_WARNING", "Warning"}},
        {Level::Informational, "win:Informational", {0x50000004, "MSG_LEVEL_INFORMATION", "Information"}},
    };
    const Field uint1{"Uint1", FieldType::UInt32}, uint2{"Uint2", FieldType::UInt32},
        uint3{"Uint3", FieldType::UInt32}, str1{"Str1", FieldType::UnicodeString};
    t.templates = {
        {"T1", {0x2C0DEA96, 0x3037, 0x49FE, {0x81, 0x56, 0x29, 0xAD, 0x51, 0xF9, 0x32, 0x05}}, {uint1, uint2, uint3, str1}},
        {"T2", {0xB5AECB99, 0xB279, 0x41A8, {0xA1, 0x99, 0x8F, 0xBF, 0x9E, 0x0B, 0xE6, 0x55}}, {uint1, str1}},
        {"T3", {0xC785D960, 0x6F85, 0x4E04, {0xBB, 0xD0, 0x04, 0x38, 0x0E, 0xBD, 0xBB, 0xC8}}, {uint1}},
        {"T4", {0xFC48FEA6, 0x1D39, 0x447C, {0x83, 0xF2, 0x62, 0x70, 0xBA, 0x1D, 0x74, 0x45}}, {str1}},
    };
    // The event source is registered with 16 categories; hardware events are written in 6.
    t.categories = {"Service",      "Data Collection", "Management Processor", "SNMP Agent",
                    "Health Log",   "Hardware Event",  "Network",              "Storage",
                    "Installation", "Reserved",        "Reserved",             "Reserved",
                    "Reserved",     "Reserved",        "Reserved",             "Reserved"};
    t.events = {
        {100, Level::Informational, kNone, "MSG_SERVICE_PROCESS_STARTED", "The service process has started."},
        {101, Level::Informational, kNone, "MSG_SERVICE_PROCESS_STOPPED", "The service process has stopped."},
        {102, Level::Error, kT4, "MSG_SERVICE_INIT_FAILED", "The %1 service failed to initialize."},
        {103, Level::Error, kNone, "MSG_SERVICE_DISPATCHER_FAILED", "The service process failed to initialize."},
        {104, Level::Error, kT4, "MSG_SERVICE_EXCEPTION", "The service encountered an unexpected exception %1."},
        {105, Level::Error, kT4, "MSG_SERVICE_SUBSYSTEM_FAILED", "The %1 subsystem failed to initialize."},
        // The management processor's planned shutdown and reboot: no code of the service reports
        // them, they stand here for the event log's sake.
        {110, Level::Warning, kT2, "MSG_OOB_SHUTDOWN_PLANNED",
         "The out of band management system will gracefully shutdown the system in %1 seconds. %2"},
        {111, Level::Warning, kT2, "MSG_OOB_REBOOT_PLANNED",
         "The out of band management system will gracefully reboot the system in %1 seconds. %2"},
        {112, Level::Informational, kT4, "MSG_OOB_SHUTDOWN_CANCELLED",
         "The out of band management system has cancelled the planned graceful shutdown or reboot. %1"},
    };
    t.events.push_back(Hardware(1 * 256 + 2, Level::Informational, kT1, kFullText));
    for (unsigned cls : kHardwareClasses) {
        for (const SeverityRow &row : kSeverities) {
            t.events.push_back(Hardware(cls * 256 + row.severity, row.level, row.templateIndex, row.text));
            // Class 17's two further events fall between its severities 9 and 15.
            if (cls == 17 && row.severity == 9) {
                t.events.push_back(Hardware(0x110D, Level::Error, kT1, kFullText));
                t.events.push_back(Hardware(0x110E, Level::Informational, kT1, kFullText));
            }
        }
    }
    return t;
}

} // namespace

uint32_t Event::MessageId() const
{
    uint32_t severity = level == Level::Error ? 3 : level == Level::Warning ? 2 : 1;
    return severity << 30 | kFacility << 16 | value;
}

std::vector<NamedMessage> EventTable::NamedMessages() const
{
    std::vector<NamedMessage> named;
    for (const LevelEntry &l : levels)
        named.push_back(l.message);
    named.push_back(channelMessage);
    named.push_back(providerMessage);
    return named;
}

const EventTable &TheEventTable()
{
    static const EventTable table = Build();
    return table;
}

std::string GuidText(const Guid &g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.data1),
                  g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
                  g.data4[7]);
    return text;
}

} // namespace evtable
