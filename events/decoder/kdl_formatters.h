#pragma once
// The class formatters the decoder dispatches to (see kdl_decoder.cpp for the table), and the
// text table of each.

#include <cstdint>
#include <span>

#include "kdl_entry.h"
#include "kdl_text.h"
#include "kdl_text_table.h"

// Class 0: an empty log slot.
void FormatEmptyEntry(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 1: a reserved entry.
void FormatReservedEntry(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 2: fans, temperatures, side panels, storage enclosure and controller cooling.
void FormatEnvironmentEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 3: memory errors, boards, cartridges, spare and mirrored memory, initialisation.
void FormatMemoryEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 11: power supplies and modules, AC power, server power, batteries. The only formatter
// that looks at the length of the class data (code 26).
void FormatPowerEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 34: the enclosure and rack around a blade.
void FormatRackInfrastructureEvent(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 39: power capping.
void FormatPowerCapEvent(uint16_t code, const KdlClassData &data, KdlText &text);

// The storage enclosure texts: one record layout (side word, unit fields, controller port and
// location) shared by the storage classes and the power class.
enum class KdlEnclosureMember {
    PowerSupplyFailure, // class 11 code 20
};
void FormatEnclosureEventText(KdlEnclosureMember member, const KdlClassData &data, KdlText &text);

std::span<const KdlTextGroup> EnvironmentTexts();
std::span<const KdlTextGroup> MemoryTexts();
std::span<const KdlTextGroup> PowerTexts();
std::span<const KdlTextGroup> PowerCapTexts();
std::span<const KdlTextGroup> RackInfrastructureTexts();
std::span<const KdlTextGroup> EnclosureTexts();
