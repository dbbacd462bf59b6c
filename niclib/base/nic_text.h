#pragma once
// The text rules of the NIC library that need no system: which interface descriptions the
// library models, and how much of an outside text may be read. No windows.h.

#include <cstddef>
#include <cstdint>
#include <string_view>

constexpr uint32_t kIfTypeEthernetCsmacd = 6;
constexpr uint32_t kIfTypeSoftwareLoopback = 24;

// 1 when an interface-table row of this type, speed and description (already in wide text) is
// an interface the library models, else 0.
int IsRealInterfaceDescription(uint32_t type, uint32_t speed, std::wstring_view description);

// How many bytes of an interface row's description are text: up to the first NUL, and never
// past the length the row declares or the field's size.
size_t InterfaceDescriptionLength(const uint8_t *field, size_t fieldSize, uint32_t declaredLength);

// The UTF-16 units of the first string of registry string data (REG_SZ or REG_MULTI_SZ) of the
// given byte size: up to the first NUL, never past the data; an odd last byte is no character.
size_t FirstRegistryStringUnits(const void *data, size_t bytes);
