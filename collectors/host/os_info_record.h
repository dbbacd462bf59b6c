#pragma once
// The black box's "OS Info" record builder, as the black box declares it: type, vendor, word size,
// the OS name and version texts, the four version words and the service-pack major.

#include <cstdint>

void PostOsInfoRecord(uint8_t type, uint8_t vendor, uint16_t bits, const char *osName, const char *osVersion,
                      uint16_t major, uint16_t minor, uint16_t build, uint16_t patch, uint16_t servicePack);
