#pragma once
// The class formatters the decoder dispatches to (see kdl_decoder.cpp for the table).

#include <cstdint>

#include "kdl_entry.h"
#include "kdl_text.h"

// Class 0: an empty log slot.
void FormatEmptyEntry(uint16_t code, const KdlClassData &data, KdlText &text);
// Class 1: a reserved entry.
void FormatReservedEntry(uint16_t code, const KdlClassData &data, KdlText &text);
