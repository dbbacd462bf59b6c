// Class 11: power supplies, power modules, AC power, the server's power state and the storage
// and backup batteries; class 39: power capping.
#include "kdl_formatters.h"
#include "kdl_format.h"
#include "kdl_located.h"
#include "kdl_names.h"

namespace {

// The located groups: one row per KdlLocatedForm. Kinds 3 and 5 have texts of their own.
struct SupplyFailure {
    static constexpr KdlTextRow Rows[] = {
        {11, 1, "System Power Supply: %s (Power Supply %s)"},
        {11, 1, "External Chassis Power Supply: %s (Chassis %s, Power Supply %s)"},
        {11, 1, "External Storage System Power Supply: %s (%sSlot %s, Power Supply %s)"},
        {11, 1, "Internal Storage System Power Supply: %s (%sSlot %s, Power Supply %s)"},
        {11, 1, "Server Blade Enclosure Power Supply: %s (Power Supply %s, %s)"},
        {11, 1, "Power Enclosure Power Supply: %s (Power Supply %s, %s)"},
    };
};
struct SupplyRemoved {
    static constexpr KdlTextRow Rows[] = {
        {11, 4, "System Power Supply Removed (Power Supply %s)"},
        {11, 4, "External Chassis Power Supply Removed (Chassis %s, Power Supply %s)"},
        {11, 4, "External Storage System Power Supply Removed (%sSlot %s, Power Supply %s)"},
        {11, 4, "Internal Storage System Power Supply Removed (%sSlot %s, Power Supply %s)"},
        {11, 4, "Server Blade Enclosure Power Supply Removed (Power Supply %s, %s)"},
        {11, 4, "Power Enclosure Power Supply Removed (Power Supply %s, %s)"},
    };
};
struct SupplyInserted {
    static constexpr KdlTextRow Rows[] = {
        {11, 5, "System Power Supply Inserted (Power Supply %s)"},
        {11, 5, "External Chassis Power Supply Inserted (Chassis %s, Power Supply %s)"},
        {11, 5, "External Storage System Power Supply Inserted (%sSlot %s, Power Supply %s)"},
        {11, 5, "Internal Storage System Power Supply Inserted (%sSlot %s, Power Supply %s)"},
        {11, 5, "Server Blade Enclosure Power Supply Inserted (Power Supply %s, %s)"},
        {11, 5, "Power Enclosure Power Supply Inserted (Power Supply %s, %s)"},
    };
};
struct SuppliesNotRedundant {
    static constexpr KdlTextRow Rows[] = {
        {11, 6, "System Power Supplies Not Redundant"},
        {11, 6, "External Chassis Power Supplies Not Redundant (Chassis %s)"},
        {11, 6, "External Storage System Power Supplies Not Redundant (%sSlot %s)"},
        {11, 6, "Internal Storage System Power Supplies Not Redundant (%sSlot %s)"},
        {11, 6, "Server Blade Enclosure Power Supplies Not Redundant (in %s, %s)"},
        {11, 6, "Power Enclosure Power Supplies Not Redundant (in %s, %s)"},
    };
};
struct ModulesNotRedundant {
    static constexpr KdlTextRow Rows[] = {
        {11, 7, "System Power Modules Not Redundant"},
        {11, 7, "External Chassis Power Modules Not Redundant (Chassis %s)"},
        {11, 7, "External Storage System Power Modules Not Redundant (%sSlot %s)"},
        {11, 7, "Internal Storage System Power Modules Not Redundant (%sSlot %s)"},
        {11, 7, "Server Blade Enclosure Power Modules Not Redundant"},
        {11, 7, "Power Enclosure Power Modules Not Redundant"},
    };
};
struct AcProblem {
    static constexpr KdlTextRow Rows[] = {
        {11, 8, "System AC Power Problem (Power Supply %s)"},
        {11, 8, "External Chassis AC Power Problem (Chassis %s, Power Supply %s)"},
        {11, 8, "External Storage System AC Power Problem (%sSlot %s, Power Supply %s)"},
        {11, 8, "Internal Storage System AC Power Problem (%sSlot %s, Power Supply %s)"},
        {11, 8, "Server Blade Enclosure AC Power Problem (Power Supply %s, Reason: %s, %s)"},
        {11, 8, "Power Enclosure AC Power Problem (Power Supply %s, Reason: %s, %s)"},
    };
};
struct AcOverload {
    static constexpr KdlTextRow Rows[] = {
        {11, 9, "System AC Power Overload (Power Supply %s)"},
        {11, 9, "External Chassis AC Power Overload (Chassis %s, Power Supply %s)"},
        {11, 9, "External Storage System AC Power Overload (%sSlot %s, Power Supply %s)"},
        {11, 9, "Internal Storage System AC Power Overload (%sSlot %s, Power Supply %s)"},
        {11, 9, "Server Blade Enclosure AC Power Overload (Power Supply %s, Voltage: %s, %s)"},
        {11, 9, "Power Enclosure AC Power Overload (Power Supply %s, Voltage: %s, %s)"},
    };
};
struct PoweredUp {
    static constexpr KdlTextRow Rows[] = {
        {11, 10, "System Power Supply Powered Up (Power Supply %s)"},
        {11, 10, "External Chassis System Power Supply Powered Up (Chassis %s, Power Supply %s)"},
        {11, 10, "External Storage System Power Supply Powered Up (%sSlot %s, Power Supply %s)"},
        {11, 10, "Internal Storage System Power Supply Powered Up (%sSlot %s, Power Supply %s)"},
        {11, 10, "Server Blade Enclosure System Power Supply Powered Up (Power Supply %s)"},
        {11, 10, "Power Enclosure System Power Supply Powered Up (Power Supply %s)"},
    };
};
struct PoweredDown {
    static constexpr KdlTextRow Rows[] = {
        {11, 11, "System Power Supply Powered Down (Power Supply %s)"},
        {11, 11, "External Chassis System Power Supply Powered Down (Chassis %s, Power Supply %s)"},
        {11, 11, "External Storage System Power Supply Powered Down (%sSlot %s, Power Supply %s)"},
        {11, 11, "Internal Storage System Power Supply Powered Down (%sSlot %s, Power Supply %s)"},
        {11, 11, "Server Blade Enclosure System Power Supply Powered Down (Power Supply %s)"},
        {11, 11, "Power Enclosure System Power Supply Powered Down (Power Supply %s)"},
    };
};
struct ModuleFailure {
    static constexpr KdlTextRow Rows[] = {
        {11, 12, "System Power Module Failure (Power Module %s)"},
        {11, 12, "External Chassis Power Module Failure (Chassis %s, Power Module %s)"},
        {11, 12, "External Storage System Power Module Failure (%sSlot %s, Power Module %s)"},
        {11, 12, "Internal Storage System Power Module Failure (%sSlot %s, Power Module %s)"},
        {11, 12, "Server Blade Enclosure Power Module Failure (Power Module %s)"},
        {11, 12, "Power Enclosure Power Module Failure (Power Module %s)"},
    };
};
struct ModuleRemoved {
    static constexpr KdlTextRow Rows[] = {
        {11, 13, "System Power Module Removed (Power Module %s)"},
        {11, 13, "External Chassis Power Module Removed (Chassis %s, Power Module %s)"},
        {11, 13, "External Storage System Power Module Removed (%sSlot %s, Power Module %s)"},
        {11, 13, "Internal Storage System Power Module Removed (%sSlot %s, Power Module %s)"},
        {11, 13, "Server Blade Enclosure Power Module Removed (Power Module %s)"},
        {11, 13, "Power Enclosure Power Module Removed (Power Module %s)"},
    };
};
struct ModuleInserted {
    static constexpr KdlTextRow Rows[] = {
        {11, 14, "System Power Module Inserted (Power Module %s)"},
        {11, 14, "External Chassis Power Module Inserted (Chassis %s, Power Module %s)"},
        {11, 14, "External Storage System Power Module Inserted (%sSlot %s, Power Module %s)"},
        {11, 14, "Internal Storage System Power Module Inserted (%sSlot %s, Power Module %s)"},
        {11, 14, "Server Blade Enclosure Power Module Inserted (Power Module %s)"},
        {11, 14, "Power Enclosure Power Module Inserted (Power Module %s)"},
    };
};
struct ModuleOverload {
    static constexpr KdlTextRow Rows[] = {
        {11, 16, "System Power Module Overload (Power Module %s)"},
        {11, 16, "External Chassis Power Module Overload (Chassis %s, Power Module %s)"},
        {11, 16, "External Storage System Power Module Overload (%sSlot %s, Power Module %s)"},
        {11, 16, "Internal Storage System Power Module Overload (%sSlot %s, Power Module %s)"},
        {11, 16, "Server Blade Enclosure Power Module Overload (Power Module %s)"},
        {11, 16, "Power Enclosure Power Module Overload (Power Module %s)"},
    };
};

struct Power {
    static constexpr KdlTextRow Rows[] = {
        {11, 2, "Real-Time Clock Battery Failing"},
        {11, 2, "Real-Time Clock Battery Failing (Chassis %s)"},
        {11, 3, "A CPU Power Module has Failed"},
        {11, 3, "A PCI Power Module has Failed"},
        {11, 3, "An I/O Power Module has Failed"},
        {11, 3, "A Power Module has Failed"},
        {11, 3, "%s (System Board, Socket %s)"},
        {11, 3, "%s (Chassis %s, Slot %s, Socket %s)"},
        {11, 17, ", %s"},
        {11, 26, "XR: %02X %02X"},
        {11, 26, " MID:"},
        {11, 26, " %02X"},
        {11, 26, "System Power Fault Detected. Consult QZ Ormundal To Ensure Power Supply Sizing. Increase Power If Required (%s)"},
        {11, 26, "System Power Fault Detected (%s)"},
        {11, 36, "Power On Denied (Service Information: %s)"},
        {11, 37, "Battery Backup Unit failure (Bay %d, %s)"},
    };
    enum : uint8_t {
        ClockBattery, ClockBatteryChassis, CpuModule, PciModule, IoModule, AnyModule, ModuleOnBoard, ModuleInChassis,
        Suffix, FaultRegisters, FaultModules, FaultModuleByte, FaultSizing, Fault, PowerOnDenied, BackupUnitFailure,
    };
};
// Code 31 by its service code: 4 to 10 and 12 to 14 have texts of their own, every other value
// (11 included) takes the general one.
struct StorageBattery {
    static constexpr KdlTextRow Rows[] = {
        {11, 31, "Torvel Storage Battery failure (Battery %d, service information: 0x01). Action: 1. Consult server troubleshooting guide. 2. Gather KWB log and contact Support"},
        {11, 31, "Torvel Storage Battery failure (Battery %d, service information: 0x02). Action: 1. Consult server troubleshooting guide. 2. Gather KWB log and contact Support"},
        {11, 31, "Torvel Storage Battery did not charge at the expected rate, indicating a faulty battery (Battery %d, service information: 0x03). Action: 1. Consult server troubleshooting guide. 2. Gather KWB log and contact Support"},
        {11, 31, "Torvel Storage Battery disabled due to high ambient temperature, will be re-enabled when temp is lowered (Battery %d, service information: 0x04). Action: 1. Verify proper ventilation and function of fans. 2. If issue persists, gather KWB log, contact Support."},
        {11, 31, "Torvel Storage Battery discharged to below minimum voltage, resulting in the inability of the battery to recharge properly (Battery %d, service information: 0x05).  Action: 1. Consult server troubleshooting guide. 2. Gather KWB log and contact Support"},
        {11, 31, "Torvel Storage Battery failure (Battery %d, service information: 0x06). Action: 1. Consult server troubleshooting guide. 2. Gather KWB log and contact QZ Support"},
        {11, 31, "Torvel Storage Battery has exceeded the maximum amount of devices supported (Battery %d, service information: 0x07). Action: 1. Remove additional devices. 2. Consult server troubleshooting guide. 3. Gather KWB log and contact Support"},
        {11, 31, "Torvel Storage Battery failure (Battery %d, service information: 0x09). Action: Gather KWB log and contact Support"},
        {11, 31, "Torvel Storage Battery failure (Battery %d, service information: 0x0A). Action: Gather KWB log and contact Support"},
        {11, 31, "Torvel Storage Battery failure (Battery %d, service information: 0x0B). Action: 1. Consult server troubleshooting guide. 2 Gather KWB log and contact Support"},
        {11, 31, "Torvel Storage Battery failure (Battery %d). Action: 1. Consult server troubleshooting guide. 2 Gather KWB log and contact Support"},
    };
};
// Codes with a fixed text.
struct Fixed {
    static constexpr KdlTextRow Rows[] = {
        {11, 21, "Mismatched Power Supply Installed"},
        {11, 22, "Server Powered On"},
        {11, 23, "Server Powered Off"},
        {11, 24, "Server Power Reset"},
        {11, 25, "Server Power Brownout"},
        {11, 27, "System Board Power Protection Fault"},
        {11, 28, "Power Supply or Power Backplane Detection Error"},
        {11, 29, "Power Management Features Disabled By Power Supply"},
        {11, 33, "The system contains multiple types of power supplies.  Certain features are not supported and power redundancy may be limited"},
        {11, 34, "A Power Supply hot-plug event occurred resulting in the system containing multiple types of power supplies when Dynamic Power Capping (DPC) is enabled.  DPC may not function properly in this state, and it is recommended power capping be disabled"},
        {11, 35, "A Power Supply hot-plug event occurred resulting in the system containing multiple types of power supplies when High Efficiency Mode (HEM) is enabled.  HEM may not function properly in this state, and it is recommended HEM be disabled"},
    };
};
// Codes whose one argument is the battery or bay number of byte 0.
struct Battery {
    static constexpr KdlTextRow Rows[] = {
        {11, 30, "Torvel Storage Battery Removed (Battery %d)"},
        {11, 32, "Torvel Storage Battery Not Responding (Battery %d)"},
        {11, 38, "Battery Backup Unit inserted (Bay %d)"},
        {11, 39, "Battery Backup Unit removed (Bay %d)"},
    };
};
struct PowerCap {
    static constexpr KdlTextRow Rows[] = {
        {39, 1, "Processor(s) Operating at Reduced Performance Level Due to a Low Power Cap"},
        {39, 2, "Power Cap Cannot Be Reached With Current System Configuration"},
        {39, 3, "Power Cap Cannot Be Reached With Current System Configuration (Power Cap %dW)"},
        {39, 4, "Power allocation not optimized. Increased power allocation requested. Server performance is not degraded."},
    };
};

const KdlTextGroup kPowerTexts[] = {
    SupplyFailure::Rows, SupplyRemoved::Rows, SupplyInserted::Rows, SuppliesNotRedundant::Rows,
    ModulesNotRedundant::Rows, AcProblem::Rows, AcOverload::Rows, PoweredUp::Rows, PoweredDown::Rows,
    ModuleFailure::Rows, ModuleRemoved::Rows, ModuleInserted::Rows, ModuleOverload::Rows, Power::Rows,
    StorageBattery::Rows, Fixed::Rows, Battery::Rows,
};
const KdlTextGroup kPowerCapTexts[] = {PowerCap::Rows};

constexpr const auto &kRows = Power::Rows;

KdlField Unit(const KdlClassData &d) { return FormatByteOrUnknown(d.Byte(3)); }

// Codes 1 and 19: the failure name comes first in every form.
void FormatSupplyFailure(const KdlClassData &d, KdlText &text)
{
    const KdlLocation at = LocateKdlEvent(d, 5);
    const char *failure = PowerSupplyFailureName(d.Byte(4));
    const KdlField unit = Unit(d);
    const auto &rows = SupplyFailure::Rows;
    switch (at.Form) {
    case kKdlSystem: KdlPut(text, rows[kKdlSystem], failure, unit); break;
    case kKdlChassis: KdlPut(text, rows[kKdlChassis], failure, at.Chassis, unit); break;
    case kKdlExternalStorage: KdlPut(text, rows[kKdlExternalStorage], failure, at.Prefix, at.Slot, unit); break;
    case kKdlInternalStorage: KdlPut(text, rows[kKdlInternalStorage], failure, at.Prefix, at.Slot, unit); break;
    case kKdlBladeEnclosure: KdlPut(text, rows[kKdlBladeEnclosure], failure, unit, at.Enclosure); break;
    case kKdlPowerEnclosure: KdlPut(text, rows[kKdlPowerEnclosure], failure, unit, at.Enclosure); break;
    default: break;
    }
}

// Code 6: the enclosures name the enclosure part, and their string lies one byte further.
void FormatSuppliesNotRedundant(const KdlClassData &d, KdlText &text)
{
    const uint8_t kind = d.Byte(0);
    const KdlLocation at = LocateKdlEvent(d, kind == 4 || kind == 5 ? 4 : 3);
    const char *part = PowerComponentName(d.Byte(3));
    const auto &rows = SuppliesNotRedundant::Rows;
    switch (at.Form) {
    case kKdlSystem: KdlPut(text, rows[kKdlSystem]); break;
    case kKdlChassis: KdlPut(text, rows[kKdlChassis], at.Chassis); break;
    case kKdlExternalStorage: KdlPut(text, rows[kKdlExternalStorage], at.Prefix, at.Slot); break;
    case kKdlInternalStorage: KdlPut(text, rows[kKdlInternalStorage], at.Prefix, at.Slot); break;
    case kKdlBladeEnclosure: KdlPut(text, rows[kKdlBladeEnclosure], part, at.Enclosure); break;
    case kKdlPowerEnclosure: KdlPut(text, rows[kKdlPowerEnclosure], part, at.Enclosure); break;
    default: break;
    }
}

// Codes 8, 17 and 9: the enclosures add a detail (the AC line reason, the voltage) before the
// enclosure.
template <typename Group>
void FormatAcEvent(const KdlClassData &d, const KdlField &detail, KdlText &text)
{
    const KdlLocation at = LocateKdlEvent(d, 5);
    const KdlField unit = Unit(d);
    const auto &rows = Group::Rows;
    switch (at.Form) {
    case kKdlSystem: KdlPut(text, rows[kKdlSystem], unit); break;
    case kKdlChassis: KdlPut(text, rows[kKdlChassis], at.Chassis, unit); break;
    case kKdlExternalStorage: KdlPut(text, rows[kKdlExternalStorage], at.Prefix, at.Slot, unit); break;
    case kKdlInternalStorage: KdlPut(text, rows[kKdlInternalStorage], at.Prefix, at.Slot, unit); break;
    case kKdlBladeEnclosure: KdlPut(text, rows[kKdlBladeEnclosure], unit, detail, at.Enclosure); break;
    case kKdlPowerEnclosure: KdlPut(text, rows[kKdlPowerEnclosure], unit, detail, at.Enclosure); break;
    default: break;
    }
}

// Code 3: a power module of the system board or of a chassis or storage system slot.
void FormatPowerModuleFailed(const KdlClassData &d, KdlText &text)
{
    KdlField module;
    switch (d.Byte(5)) {
    case 1: module = KdlFieldOf(kRows[Power::CpuModule]); break;
    case 2: module = KdlFieldOf(kRows[Power::PciModule]); break;
    case 3: module = KdlFieldOf(kRows[Power::IoModule]); break;
    default: module = KdlFieldOf(kRows[Power::AnyModule]); break;
    }
    const uint8_t kind = d.Byte(0), chassis = d.Byte(1);
    if (kind == 1 && chassis == 0)
        KdlPut(text, kRows[Power::ModuleOnBoard], module, FormatByteOrUnknown(d.Byte(4)));
    else if (kind >= 1 && kind <= 3)
        KdlPut(text, kRows[Power::ModuleInChassis], module, FormatByteOrUnknown(chassis), FormatByteOrUnknown(d.Byte(3)),
               FormatByteOrUnknown(d.Byte(4)));
}

void FormatClockBattery(const KdlClassData &d, KdlText &text)
{
    if (d.Byte(1) == 0)
        KdlPut(text, kRows[Power::ClockBattery]);
    else
        KdlPut(text, kRows[Power::ClockBatteryChassis], FormatByteOrUnknown(d.Byte(1)));
}

// Codes 17, 18 and 19 append their extra string to whatever the base text was, even nothing.
void AppendSuffix(const KdlField &extra, KdlText &text)
{
    if (!extra.empty())
        KdlAppend(text, kRows[Power::Suffix], extra);
}

// Code 26: the fault registers, then every byte after them. The count is the class data length
// cut to 8 bits, less 2, taken as a signed byte: lengths 3 to 129 list bytes, others none.
void FormatSystemPowerFault(const KdlClassData &d, KdlText &text)
{
    char scratch[2048] = {};
    KdlText registers(scratch, sizeof scratch);
    KdlPut(registers, kRows[Power::FaultRegisters], static_cast<unsigned>(d.Byte(0)), static_cast<unsigned>(d.Byte(1)));
    const uint8_t length = static_cast<uint8_t>(d.Size());
    const int count = static_cast<int8_t>(static_cast<uint8_t>(length - 2));
    if (count > 0) {
        KdlAppend(registers, kRows[Power::FaultModules]);
        for (int i = 0; i < count; ++i)
            KdlAppend(registers, kRows[Power::FaultModuleByte], static_cast<unsigned>(d.Byte(2 + static_cast<size_t>(i))));
    }
    const char *scratchText = scratch;
    if (d.Byte(1) & 0x04)
        KdlPut(text, kRows[Power::FaultSizing], scratchText);
    else
        KdlPut(text, kRows[Power::Fault], scratchText);
}

// Code 31: the service code is the 32-bit value at byte 1.
void FormatStorageBatteryFailure(const KdlClassData &d, KdlText &text)
{
    const uint32_t service = d.U32(1);
    const int battery = d.Byte(0);
    const auto &rows = StorageBattery::Rows;
    switch (service) {
    case 4: KdlPut(text, rows[0], battery); break;
    case 5: KdlPut(text, rows[1], battery); break;
    case 6: KdlPut(text, rows[2], battery); break;
    case 7: KdlPut(text, rows[3], battery); break;
    case 8: KdlPut(text, rows[4], battery); break;
    case 9: KdlPut(text, rows[5], battery); break;
    case 10: KdlPut(text, rows[6], battery); break;
    case 12: KdlPut(text, rows[7], battery); break;
    case 13: KdlPut(text, rows[8], battery); break;
    case 14: KdlPut(text, rows[9], battery); break;
    default: KdlPut(text, rows[10], battery); break;
    }
}

} // namespace

void FormatPowerEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    switch (code) {
    case 1: FormatSupplyFailure(d, text); break;
    case 2: FormatClockBattery(d, text); break;
    case 3: FormatPowerModuleFailed(d, text); break;
    case 4: PutLocated<SupplyRemoved>(text, LocateKdlEvent(d, 4), Unit(d)); break;
    case 5: PutLocated<SupplyInserted>(text, LocateKdlEvent(d, 4), Unit(d)); break;
    case 6: FormatSuppliesNotRedundant(d, text); break;
    // Codes 7 and 15 differ only in where the chassis string lies.
    case 7: PutLocated<ModulesNotRedundant, false>(text, LocateKdlEvent(d, 6)); break;
    case 15: PutLocated<ModulesNotRedundant, false>(text, LocateKdlEvent(d, 3)); break;
    case 8: FormatAcEvent<AcProblem>(d, KdlField::Of(AcLineEventName(d.Byte(4))), text); break;
    case 9: FormatAcEvent<AcOverload>(d, FormatByteOrUnknown(d.Byte(4)), text); break;
    case 10: PutLocated<PoweredUp, false>(text, LocateKdlEvent(d, 4), Unit(d)); break;
    case 11: PutLocated<PoweredDown, false>(text, LocateKdlEvent(d, 4), Unit(d)); break;
    case 12: PutLocated<ModuleFailure, false>(text, LocateKdlEvent(d, 5), Unit(d)); break;
    case 13: PutLocated<ModuleRemoved, false>(text, LocateKdlEvent(d, 4), Unit(d)); break;
    case 14: PutLocated<ModuleInserted, false>(text, LocateKdlEvent(d, 4), Unit(d)); break;
    case 16: PutLocated<ModuleOverload, false>(text, LocateKdlEvent(d, 5), Unit(d)); break;
    case 17:
        FormatAcEvent<AcProblem>(d, KdlField::Of(AcLineEventName(d.Byte(4))), text);
        AppendSuffix(d.String(d.After(5)), text);
        break;
    case 18:
        FormatClockBattery(d, text);
        AppendSuffix(d.String(3), text);
        break;
    case 19:
        FormatSupplyFailure(d, text);
        AppendSuffix(d.String(d.After(5)), text);
        break;
    case 20: FormatEnclosureEventText(KdlEnclosureMember::PowerSupplyFailure, d, text); break;
    case 26: FormatSystemPowerFault(d, text); break;
    case 31: FormatStorageBatteryFailure(d, text); break;
    case 36: KdlPut(text, kRows[Power::PowerOnDenied], d.String(0)); break;
    case 37: KdlPut(text, kRows[Power::BackupUnitFailure], static_cast<int>(d.Byte(0)), d.String(1)); break;
    default:
        if (!KdlPutByCode<Fixed>(text, code))
            KdlPutByCode<Battery>(text, code, static_cast<int>(d.Byte(0)));
        break;
    }
}

void FormatPowerCapEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    const auto &rows = PowerCap::Rows;
    switch (code) {
    case 1: KdlPut(text, rows[0]); break;
    case 2: KdlPut(text, rows[1]); break;
    case 3: KdlPut(text, rows[2], static_cast<int>(d.U16(0))); break;
    case 4: KdlPut(text, rows[3]); break;
    default: break;
    }
}

std::span<const KdlTextGroup> PowerTexts()
{
    return kPowerTexts;
}

std::span<const KdlTextGroup> PowerCapTexts()
{
    return kPowerCapTexts;
}
