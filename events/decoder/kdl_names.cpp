#include "kdl_names.h"

#include "kdl_entry.h"


namespace {

template <size_t N>
const char *Row(const char *const (&rows)[N], uint8_t index, const char *fallback)
{
    return index < N ? rows[index] : fallback;
}

const char *const kSensorLocation[] = {
    "System", "System Board", "I/O Board", "CPU", "Memory", "Storage", "Removable Media", "Power Supply",
    "Ambient", "Chassis", "Bridge Board", "Management Board", "Backplane", "Network Slot", "Blade Slot", "Virtual",
};
const char *const kPowerComponent[] = {"Enclosure", "Power Module", "Bus Bar", "Breaker", "Power Subsystem"};
const char *const kAcLineEvent[] = {
    "Unknown", "Line Over Voltage", "Line Under Voltage", "Line Hit", "Brown Out", "AC Power Loss",
};
const char *const kPowerOnDenial[] = {
    "Lost Redundant Power",
    "Not Enough Power",
    "Denied By Server Enclosure Management Board",
    "Denied By Power Enclosure Management Board",
};
const char *const kEnclosureSide[] = {"Unknown Location", "Left Side", "Right Side"};
const char *const kPowerConfigError[] = {
    "Unknown",
    "Load Balancing Wire Missing",
    "Too Many Power Enclosures",
    "Improperly Populated Power Bank",
    "DC-to-DC Configuration Invalid",
};
const char *const kPowerModuleFault[] = {
    "Unknown",
    "Powering up",
    "Micro-controller fault",
    "Power fault",
    "Over-current fault",
    "Fan 1 failed or removed",
    "Temperature at caution level",
    "Temperature at critical level",
    "RJ45 module missing",
    "Fan 2 failed or removed",
};
const char *const kPowerBus[] = {"Unknown Location", "Power Bus A", "Power Bus B"};
const char *const kEnclosureComponent[] = {
    "Chassis Slot 1", "Chassis Slot 2", "Chassis Slot 3", "Chassis Slot 4", "Chassis Slot 5",
    "Chassis Slot 6", "Chassis Slot 7", "Chassis Slot 8", "Server Blade Management Module", "Signal Backplane",
    "Power Backplane A", "Power Backplane B", "Interconnect Blade A", "Interconnect Blade B", "RJ45 10 East",
    "RJ45 10 West", "RJ45 6 East", "RJ45 6 West", "Unknown",
};
const char *const kManagementBusDevice[] = {
    "oXB Management Controller", "FRU EEPROM", "Memory", "ICMB UART", "ROM", "LM75",
    "I2C Bus 0", "I2C Bus 1", "I2C Bus 2", "Software", "I2C Bus", "9544 Fuse Mux",
    "9555 Quick Switch", "9555 Sense", "9555 Enable", "9555 IO Expander", "9555 Mux",
};
const char *const kManagementBoardError[] = {
    "I2C Error", "Interrupt Error", "Invalid FRU Data", "POST Failure", "Backup ROM Booted",
    "Bus Error", "Stack Overflow", "I2C Bus Timeout", "Unknown I2C Error",
};
const char *const kPowerDenialReason[] = {
    "Unknown",
    "Not Enough Power",
    "Electronic Keying or I/O Configuration Error",
    "Not Enough Cooling",
    "Power Hold by Manager Profile",
    "Enclosure Busy",
    "Enclosure Error",
};

constexpr const char *kUnknown = "Unknown";

} // namespace

const char *SensorLocationName(uint8_t index) { return Row(kSensorLocation, index, kUnknown); }
const char *PowerComponentName(uint8_t index) { return Row(kPowerComponent, index, kUnknown); }
const char *AcLineEventName(uint8_t index) { return Row(kAcLineEvent, index, kUnknown); }
const char *PowerOnDenialName(uint8_t index) { return Row(kPowerOnDenial, index, kUnknown); }
const char *EnclosureSideName(uint8_t index) { return Row(kEnclosureSide, index, kEnclosureSide[0]); }
const char *PowerConfigErrorName(uint8_t index) { return Row(kPowerConfigError, index, kUnknown); }
const char *PowerModuleFaultName(uint8_t index) { return Row(kPowerModuleFault, index, kUnknown); }
const char *PowerBusName(uint8_t index) { return Row(kPowerBus, index, kUnknown); }
const char *EnclosureComponentName(uint8_t index) { return Row(kEnclosureComponent, index, kUnknown); }
const char *ManagementBusDeviceName(uint8_t index) { return Row(kManagementBusDevice, index, kUnknown); }
const char *ManagementBoardErrorName(uint8_t index) { return Row(kManagementBoardError, index, kUnknown); }
const char *PowerDenialReasonName(uint8_t index) { return Row(kPowerDenialReason, index, kUnknown); }

const char *PowerSupplyFailureName(uint8_t value)
{
    switch (value) {
    case 0: return "General Failure";
    case 1: return "BIST Failure";
    case 2: return "Fan Failure";
    case 5: return "EPROM Failure";
    case 6: return "VREF Failure";
    case 7: return "DAC Failure";
    case 8: return "RAM Test Failed";
    case 9: return "Voltage Channel Failure";
    case 12: return "Give Up On Startup";
    case 13: return "NVRAM Invalid";
    case 14: return "Calibration Table Invalid";
    case 15: return "Input Power Loss or Unplugged Power Cord, Verify Power Supply Input";
    case 255: return "No Error";
    default: return "Unknown Failure";
    }
}

const char *UpperLowerName(uint8_t value)
{
    return value == 1 ? "Upper" : value == 2 ? "Lower" : kUnknown;
}

const char *InterlockFaultPrefix(uint8_t value)
{
    switch (value) {
    case 0: return "Unknown interlock type, ";
    case 1: return "Standby fault, ";
    case 2: return "Runtime fault, ";
    case 3: return "Power on fault, ";
    default: return "";
    }
}

const char *ExternalInternalName(const KdlClassData &data)
{
    uint8_t side = data.Byte(0);
    return side == 2 ? "External" : side == 3 ? "Internal" : "";
}

const char *EnclosureTypeName(uint8_t value)
{
    return value == 4 ? "Server Blade Enclosure" : value == 5 ? "Power Enclosure" : "";
}
