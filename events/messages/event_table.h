// The one table of the service's events: every event the service writes (its own and the hardware
// events), with its level, template and message, and the provider they are written under. The
// build turns it into the message-table source, the event manifest resource of the service
// program and the manifest file the installer registers, so the three cannot disagree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace evtable {

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

// Event levels as the event log numbers them.
enum class Level : uint8_t { Error = 2, Warning = 3, Informational = 4 };

// Input types of template fields, numbered as the event log numbers them.
enum class FieldType : uint8_t { UnicodeString = 1, UInt32 = 8 };

struct Field {
    std::string name;
    FieldType type;
};

struct Template {
    std::string id;   // "T1"
    Guid guid;        // the compiled template's identifier
    std::vector<Field> fields;
};

struct Event {
    uint16_t value;       // the low 16 bits of the event identifier
    Level level;
    int templateIndex;    // into EventTable::templates, or -1 for an event without data
    std::string symbol;   // the message's symbolic name in the generated header
    std::string text;     // the message text, without its line end
    // The full identifier: the severity of the level in the top two bits, facility 0x101, value.
    uint32_t MessageId() const;
};

// A message that names something of the manifest (level, channel, provider), not an event.
struct NamedMessage {
    uint32_t id;
    std::string symbol;
    std::string text;
};

struct LevelEntry {
    Level level;
    std::string name;   // "win:Error"
    NamedMessage message;
};

struct EventTable {
    std::string providerName;
    std::string providerSymbol;
    Guid providerGuid;
    NamedMessage providerMessage;
    uint8_t channelValue;       // the System log's channel value
    std::string channelName;    // "System"
    NamedMessage channelMessage;
    uint64_t keyword;           // on every event
    std::vector<LevelEntry> levels;
    std::vector<Template> templates;
    std::vector<std::string> categories; // category n + 1 at index n
    std::vector<Event> events;            // service events first, then hardware events by value

    // The messages of levels, channel and provider, which stand in the message table beside the
    // events' texts.
    std::vector<NamedMessage> NamedMessages() const;
};

const EventTable &TheEventTable();

std::string GuidText(const Guid &guid); // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}, upper case

} // namespace evtable
