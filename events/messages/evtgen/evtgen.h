// The generator's outputs, each made from the event table alone.
#pragma once

#include "event_table.h"

#include <cstdint>
#include <string>
#include <vector>

namespace evtgen {

// The message-table source that windmc compiles: categories, the service's events and every
// hardware event, each under its full identifier. CR LF line ends throughout, since windmc keeps
// them and the event log shows each text with its line end.
std::string MessageSource(const evtable::EventTable &table);

// The event manifest resource (WEVT_TEMPLATE) of the service program.
std::vector<uint8_t> ManifestResource(const evtable::EventTable &table);

// The manifest file that the installer adapts and registers. program names the file that holds
// the resource and the messages; the installer rewrites it to the installed path.
std::string ManifestXml(const evtable::EventTable &table, const std::string &program);

// Adds messages to a compiled message table (the binary windmc writes): the names of levels,
// channel and provider carry identifier bits (0x50000000, 0x90000000) that the message source
// language cannot express. False, with *error set, for a table that cannot be read or that
// already holds one of the identifiers.
bool AddMessages(std::vector<uint8_t> &messageTable, const std::vector<evtable::NamedMessage> &messages,
                 std::string *error);

} // namespace evtgen
