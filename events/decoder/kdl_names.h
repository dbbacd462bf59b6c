#pragma once
// Names that class formatters look up by one byte of the class data. A byte outside a table
// yields the table's fallback text; no lookup fails.

#include <cstdint>

class KdlClassData;

const char *SensorLocationName(uint8_t index);
const char *PowerComponentName(uint8_t index);
const char *AcLineEventName(uint8_t index);
const char *PowerOnDenialName(uint8_t index);
const char *EnclosureSideName(uint8_t index);
const char *PowerConfigErrorName(uint8_t index);
const char *PowerModuleFaultName(uint8_t index);
const char *PowerBusName(uint8_t index);
const char *EnclosureComponentName(uint8_t index);
const char *ManagementBusDeviceName(uint8_t index);
const char *ManagementBoardErrorName(uint8_t index);
const char *PowerDenialReasonName(uint8_t index);

// Names chosen by value rather than by row.
const char *PowerSupplyFailureName(uint8_t value);
const char *UpperLowerName(uint8_t value);
// Ends in ", " so that it can precede the rest of a line; empty for an unknown type.
const char *InterlockFaultPrefix(uint8_t value);
// By byte 0 of the class data: "External", "Internal" or empty.
const char *ExternalInternalName(const KdlClassData &data);
const char *EnclosureTypeName(uint8_t value);
