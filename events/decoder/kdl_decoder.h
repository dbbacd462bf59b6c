#pragma once
// Turns one hardware event-log entry into one line of English text.
//
// The decoder looks up the formatter of the entry's class and hands it the event code and the
// class data; when no formatter wrote a line (no formatter for the class, or a code it does not
// know) it writes the fallback "Unknown Event (Class 0x.., Code 0x..)" and reports false.
// Everything here is a pure function of its arguments.

#include <cstdint>
#include <span>

#include "kdl_entry.h"
#include "kdl_text.h"

// A class formatter writes one line without line break into text, or leaves text empty for a
// code it does not know. The class data's Size() is the real length; a formatter that wants the
// length cut to 8 bits cuts it itself.
using KdlClassFormatter = void (*)(uint16_t code, const KdlClassData &data, KdlText &text);

struct KdlClassFormatterRow {
    uint16_t Class;
    KdlClassFormatter Formatter;
};

// Zero-fills text, dispatches by class (compared as unsigned 16-bit) and writes the fallback when
// the text is still empty. True when a formatter produced the text.
bool DecodeKdlEvent(uint16_t eventClass, uint16_t code, const KdlClassData &data, KdlText &text);

// DecodeKdlEvent with the class, code and class data of a checked entry.
bool KdlEntryToText(const KdlEntryView &entry, KdlText &text);

// Every class that has a formatter, with it.
std::span<const KdlClassFormatterRow> KdlClassFormatters();

// The formatter of a class, or null when the class has none.
KdlClassFormatter FindKdlClassFormatter(uint16_t eventClass);
