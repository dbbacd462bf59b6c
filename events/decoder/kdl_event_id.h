#pragma once
// Event identifiers and types of decoded hardware events in the Windows event log.
//
// The identifier carries the Windows severity in its top two bits, facility 0x101, and in its low
// 16 bits class * 256 + severity, which keys the entry's text in the message table.

#include <cstdint>

constexpr uint16_t kKdlEventCategory = 6;

// 0 for a class or severity without an identifier.
uint32_t KdlEventId(uint16_t eventClass, uint8_t severity);

// Event type by the top two bits: 0 success, 1 information (4), 2 warning (2), 3 error (1).
uint16_t EventTypeFromEventId(uint32_t eventId);
