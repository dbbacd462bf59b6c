#pragma once
// Small formatting helpers that class formatters share. Each yields the text to insert as a
// KdlField, which holds either the formatted text or a constant such as "Unknown".

#include <cstddef>
#include <cstdint>

#include "kdl_text.h"

class KdlClassData;

KdlField FormatByteOrUnknown(uint8_t value);     // "%u"; 255 is "Unknown"
KdlField FormatDwordOrUnknown(uint32_t value);   // "%u"; 0xFFFFFFFF is "Unknown"
KdlField FormatCharOrUnknown(uint8_t value);     // the character; 0xFF is "Unknown"
KdlField FormatHexByte(uint8_t value);           // "%02x"
KdlField FormatHex32(uint32_t value);            // "0x%08X"
KdlField FormatTemperature(uint8_t celsius);     // "%uC"; 255 is "Unknown"
KdlField FormatPortName(uint8_t first, uint8_t second); // two characters, such as 1I

// The chassis name when one is given and not empty, else the chassis number (or "Unknown").
KdlField FormatChassisName(uint8_t number, const char *name);
// "Chassis <name>, " when the name is not empty, else empty.
KdlField FormatChassisPrefix(const char *name);
// From the two strings at offset (chassis name, then slot name) and the slot number: the chassis
// prefix, then the slot name or "Slot <number>".
KdlField FormatControllerLocation(const KdlClassData &data, size_t offset, uint8_t slot);
// The enclosure's serial number (at most 16 characters) when it begins with a letter or a digit,
// else its address from bytes 1 (high) and 2 (low) of the class data.
KdlField FormatEnclosureId(const char *serial, const KdlClassData &data);
KdlField FormatStorageDevice(uint8_t box, uint8_t bay, uint8_t type);

// The count bytes at offset, most significant first; of more than four only the last four count.
uint32_t BigEndianValue(const KdlClassData &data, size_t offset, uint8_t count);
// The source with leading white space dropped, each run of white space made one blank and a
// trailing blank dropped; at most capacity - 1 characters (a line at most).
KdlField SqueezeSpaces(const char *source, size_t capacity = kKdlTextSize);
