#pragma once
// The private arc every OID of the service is built from: 1.3.6.1.4.1.<n>.

#include <cstdint>

constexpr uint32_t ENTERPRISE_NUMBER = 32473;
constexpr uint32_t ENTERPRISE_ARC[] = {1, 3, 6, 1, 4, 1, ENTERPRISE_NUMBER};
constexpr uint8_t ENTERPRISE_ARC_LENGTH = 7;
