// Class 2: fans, temperatures and side panels, of the server, of external chassis and storage
// systems and of the enclosures around a blade, and the cooling of storage enclosures and
// controllers.
#include "kdl_formatters.h"
#include "kdl_format.h"
#include "kdl_located.h"
#include "kdl_names.h"

namespace {

// Rows of the located groups are in KdlLocatedForm order.
struct Overheating {
    static constexpr KdlTextRow Rows[] = {
        {2, 1, "System Overheating (Temperature Sensor %s, Location %s, Temperature %s)"},
        {2, 1, "External Chassis Overheating (Chassis %s, Temperature Sensor %s, Location %s, Temperature %s)"},
        {2, 1, "External Storage System Overheating (%sSlot %s, Temperature Sensor %s, Location %s, Temperature %s)"},
        {2, 1, "Internal Storage System Overheating (%sSlot %s, Temperature Sensor %s, Location %s, Temperature %s)"},
        {2, 1, "Server Blade Enclosure Overheating (Temperature Sensor %s, Location %s, Temperature %s, %s)"},
        {2, 1, "Power Enclosure Overheating (Temperature Sensor %s, Location %s, Temperature %s, %s)"},
    };
};
struct FanFailure {
    static constexpr KdlTextRow Rows[] = {
        {2, 2, "Fan Failure (Fan %s, Location %s)"},
        {2, 2, "External Chassis Fan Failure (Chassis %s, Fan %s, Location %s)"},
        {2, 2, "External Storage System Fan Failure (%sSlot %s, Fan %s, Location %s)"},
        {2, 2, "Internal Storage System Fan Failure (%sSlot %s, Fan %s, Location %s)"},
        {2, 2, "Server Blade Enclosure Fan Failure (Fan %s, Location %s, %s)"},
        {2, 2, "Power Enclosure Fan Failure (Fan %s, Location %s, %s)"},
    };
};
struct SidePanel {
    static constexpr KdlTextRow Rows[] = {
        {2, 3, "Side panel removed or improperly installed"},
        {2, 3, "External Chassis side panel removed or improperly installed (Chassis %s)"},
        {2, 3, "External Storage System side panel removed or improperly installed (%sSlot %s)"},
        {2, 3, "Internal Storage System side panel removed or improperly installed (%sSlot %s)"},
        {2, 3, "Server Blade Enclosure side panel removed or improperly installed"},
        {2, 3, "Power Enclosure side panel removed or improperly installed"},
    };
};
struct FanRemoved {
    static constexpr KdlTextRow Rows[] = {
        {2, 4, "System Fan Removed (Fan %s, Location %s)"},
        {2, 4, "External Chassis Fan Removed (Chassis %s, Fan %s, Location %s)"},
        {2, 4, "External Storage System Fan Removed (%sSlot %s, Fan %s, Location %s)"},
        {2, 4, "Internal Storage System Fan Removed (%sSlot %s, Fan %s, Location %s)"},
        {2, 4, "Server Blade Enclosure Fan Removed (Fan %s, Location %s, %s)"},
        {2, 4, "Power Enclosure Fan Removed (Fan %s, Location %s, %s)"},
    };
};
struct FanInserted {
    static constexpr KdlTextRow Rows[] = {
        {2, 5, "System Fan Inserted (Fan %s, Location %s)"},
        {2, 5, "External Chassis Fan Inserted (Chassis %s, Fan %s, Location %s)"},
        {2, 5, "External Storage System Fan Inserted (%sSlot %s, Fan %s, Location %s)"},
        {2, 5, "Internal Storage System Fan Inserted (%sSlot %s, Fan %s, Location %s)"},
        {2, 5, "Server Blade Enclosure Fan Inserted (Fan %s, Location %s, %s)"},
        {2, 5, "Power Enclosure Fan Inserted (Fan %s, Location %s, %s)"},
    };
};
struct FansNotRedundant {
    static constexpr KdlTextRow Rows[] = {
        {2, 6, "System Fans Not Redundant (Location %s)"},
        {2, 6, "External Chassis Fans Not Redundant (Chassis %s, Location %s)"},
        {2, 6, "External Storage System Fans Not Redundant (%sSlot %s, Location %s)"},
        {2, 6, "Internal Storage System Fans Not Redundant (%sSlot %s, Location %s)"},
        {2, 6, "Server Blade Enclosure Fans Not Redundant (Location %s, %s)"},
        {2, 6, "Power Enclosure Fans Not Redundant (Location %s, %s)"},
    };
};
// Code 14: the server's own sensor 255 has a line of its own, then one row per form.
struct CriticalTemperature {
    static constexpr KdlTextRow NoSensor = {2, 14, "Critical Temperature Threshold Exceeded"};
    static constexpr KdlTextRow Rows[] = {
        {2, 14, "Critical Temperature Threshold Exceeded (Temperature Sensor %s, Location %s, Temperature %s%s)"},
        {2, 14, "External Chassis Overheating (Chassis %s, Temperature Sensor %s, Location %s, Temperature %s%s)"},
        {2, 14, "External Storage System Overheating (%sSlot %s, Temperature Sensor %s, Location %s, Temperature %s%s)"},
        {2, 14, "Internal Storage System Overheating (%sSlot %s, Temperature Sensor %s, Location %s, Temperature %s%s)"},
        {2, 14, "Server Blade Enclosure Overheating (Temperature Sensor %s, Location %s, Temperature %s, %s%s)"},
        {2, 14, "Power Enclosure Overheating (Temperature Sensor %s, Location %s, Temperature %s, %s%s)"},
    };
};
struct Other {
    static constexpr KdlTextRow Rows[] = {
        {2, 7, "System Fans Not Redundant (Shared Location %s)"},
        {2, 8, ", "}, // before an additional text
        {2, 11, "%s Storage Enclosure Fan Failure (Fan %u, Location %s, Box %u, Port %s, %s)"},
        {2, 12, "%s Storage Enclosure Overheating (Temperature Sensor %u, Location %s, Box %u, Port %s, %s)"},
        {2, 13, "%s Storage Enclosure Fan Failure (%s, Location %s, Box %u, Port %s, %s)"},
        {2, 13, "Fan %u, Fan Module %u"},
        {2, 13, "Fan Module %u"},
        {2, 13, "Fan %u"},
        {2, 15, "%s Storage Controller Overheating (Temperature Sensor %u, Location %s, %s)"},
        {2, 16, "Critical Temperature Threshold Exceeded (Service Information: %s)"},
        {2, 17, "Temperature sensor has stopped reporting, Maximum Cooling enabled as a precaution (Temperature sensor %d)"},
        {2, 18, "Temperature sensor reporting restored, returning to previous Thermal Configuration (Temperature sensor %d)"},
    };
    enum : uint8_t {
        SharedLocation, AdditionalText, EnclosureFan, EnclosureOverheating, EnclosureFanModule, FanAndModule, ModuleOnly,
        FanOnly, ControllerOverheating, ServiceInformation, SensorStopped, SensorRestored,
    };
};

const KdlTextGroup kTexts[] = {Overheating::Rows, FanFailure::Rows, SidePanel::Rows, FanRemoved::Rows,
                               FanInserted::Rows, FansNotRedundant::Rows, {&CriticalTemperature::NoSensor, 1},
                               CriticalTemperature::Rows, Other::Rows};

// Where each layout's name string begins.
constexpr size_t kTemperatureName = 6, kFanName = 5, kPanelName = 5, kRedundancyName = 4;

unsigned Number(const KdlClassData &d, size_t offset) { return d.Byte(offset); }

// ", " and the additional text when there is one, else nothing.
KdlField AdditionalTail(const KdlField &additional)
{
    if (additional.empty())
        return {};
    KdlField tail = KdlFieldOf(Other::Rows[Other::AdditionalText]);
    KdlText view(tail.Text, sizeof tail.Text);
    view.Append("%s", additional.c_str());
    return tail;
}

void FormatOverheating(const KdlClassData &d, KdlText &text)
{
    PutLocated<Overheating>(text, LocateKdlEvent(d, kTemperatureName), FormatByteOrUnknown(d.Byte(3)),
                            SensorLocationName(d.Byte(4)), FormatTemperature(d.Byte(5)));
}

template <typename Group>
void FormatFanEvent(const KdlClassData &d, KdlText &text)
{
    PutLocated<Group>(text, LocateKdlEvent(d, kFanName), FormatByteOrUnknown(d.Byte(3)), SensorLocationName(d.Byte(4)));
}

void FormatSidePanel(const KdlClassData &d, KdlText &text)
{
    const KdlLocation at = LocateKdlEvent(d, kPanelName);
    const auto &rows = SidePanel::Rows;
    switch (at.Form) {
    case kKdlSystem: KdlPut(text, rows[kKdlSystem]); break;
    case kKdlChassis: KdlPut(text, rows[kKdlChassis], at.Chassis); break;
    case kKdlExternalStorage: KdlPut(text, rows[kKdlExternalStorage], at.Prefix, at.Slot); break;
    case kKdlInternalStorage: KdlPut(text, rows[kKdlInternalStorage], at.Prefix, at.Slot); break;
    case kKdlBladeEnclosure: KdlPut(text, rows[kKdlBladeEnclosure]); break;
    case kKdlPowerEnclosure: KdlPut(text, rows[kKdlPowerEnclosure]); break;
    default: break;
    }
}

void FormatCriticalTemperature(const KdlClassData &d, KdlText &text)
{
    const KdlLocation at = LocateKdlEvent(d, kTemperatureName);
    const KdlField sensor = FormatByteOrUnknown(d.Byte(3));
    const char *location = SensorLocationName(d.Byte(4));
    const KdlField temperature = FormatTemperature(d.Byte(5));
    const KdlField tail = AdditionalTail(d.String(d.After(kTemperatureName)));
    const auto &rows = CriticalTemperature::Rows;
    switch (at.Form) {
    case kKdlSystem:
        if (d.Byte(3) == 0xFF)
            KdlPut(text, CriticalTemperature::NoSensor);
        else
            KdlPut(text, rows[kKdlSystem], sensor, location, temperature, tail);
        break;
    case kKdlChassis: KdlPut(text, rows[kKdlChassis], at.Chassis, sensor, location, temperature, tail); break;
    case kKdlExternalStorage:
        KdlPut(text, rows[kKdlExternalStorage], at.Prefix, at.Slot, sensor, location, temperature, tail);
        break;
    case kKdlInternalStorage:
        KdlPut(text, rows[kKdlInternalStorage], at.Prefix, at.Slot, sensor, location, temperature, tail);
        break;
    case kKdlBladeEnclosure:
        KdlPut(text, rows[kKdlBladeEnclosure], sensor, location, temperature, at.Enclosure, tail);
        break;
    case kKdlPowerEnclosure:
        KdlPut(text, rows[kKdlPowerEnclosure], sensor, location, temperature, at.Enclosure, tail);
        break;
    default: break;
    }
}

// Codes 8, 9 and 10 carry an additional text after the name string. It is appended to whatever
// the code's family wrote, even to nothing when the enclosure kind wrote no line.
void AppendAdditionalText(const KdlClassData &d, size_t nameOffset, KdlText &text)
{
    KdlField additional = d.String(d.After(nameOffset));
    if (additional.empty())
        return;
    KdlAppend(text, Other::Rows[Other::AdditionalText]);
    text.Append("%s", additional.c_str());
}

// The storage enclosure and controller records: side word of byte 0, then the code's fields.
void FormatEnclosureFan(const KdlClassData &d, KdlText &text)
{
    KdlPut(text, Other::Rows[Other::EnclosureFan], ExternalInternalName(d), Number(d, 3), SensorLocationName(d.Byte(4)),
           Number(d, 7), FormatPortName(d.Byte(5), d.Byte(6)), FormatControllerLocation(d, 8, d.Byte(1)));
}

void FormatEnclosureOverheating(const KdlClassData &d, KdlText &text)
{
    KdlPut(text, Other::Rows[Other::EnclosureOverheating], ExternalInternalName(d), Number(d, 3),
           SensorLocationName(d.Byte(4)), Number(d, 7), FormatPortName(d.Byte(5), d.Byte(6)),
           FormatControllerLocation(d, 8, d.Byte(1)));
}

void FormatEnclosureFanModuleFailure(const KdlClassData &d, KdlText &text)
{
    const unsigned fan = Number(d, 3), module = Number(d, 4);
    KdlField fanText;
    if (fan != 0 && module != 0)
        fanText = KdlFieldOf(Other::Rows[Other::FanAndModule], fan, module);
    else if (module != 0)
        fanText = KdlFieldOf(Other::Rows[Other::ModuleOnly], module);
    else
        fanText = KdlFieldOf(Other::Rows[Other::FanOnly], fan);
    KdlPut(text, Other::Rows[Other::EnclosureFanModule], ExternalInternalName(d), fanText, SensorLocationName(d.Byte(5)),
           Number(d, 8), FormatPortName(d.Byte(6), d.Byte(7)), FormatControllerLocation(d, 9, d.Byte(1)));
}

void FormatControllerOverheating(const KdlClassData &d, KdlText &text)
{
    KdlPut(text, Other::Rows[Other::ControllerOverheating], ExternalInternalName(d), Number(d, 3),
           SensorLocationName(d.Byte(4)), FormatControllerLocation(d, 5, d.Byte(1)));
}

} // namespace

void FormatEnvironmentEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    switch (code) {
    case 1: FormatOverheating(d, text); break;
    case 2: FormatFanEvent<FanFailure>(d, text); break;
    case 3: FormatSidePanel(d, text); break;
    case 4: FormatFanEvent<FanRemoved>(d, text); break;
    case 5: FormatFanEvent<FanInserted>(d, text); break;
    case 6:
        PutLocated<FansNotRedundant>(text, LocateKdlEvent(d, kRedundancyName), SensorLocationName(d.Byte(3)));
        break;
    case 7: KdlPut(text, Other::Rows[Other::SharedLocation], SensorLocationName(d.Byte(4))); break;
    case 8:
        FormatFanEvent<FanFailure>(d, text);
        AppendAdditionalText(d, kFanName, text);
        break;
    case 9:
        FormatSidePanel(d, text);
        AppendAdditionalText(d, kPanelName, text);
        break;
    case 10:
        FormatOverheating(d, text);
        AppendAdditionalText(d, kTemperatureName, text);
        break;
    case 11: FormatEnclosureFan(d, text); break;
    case 12: FormatEnclosureOverheating(d, text); break;
    case 13: FormatEnclosureFanModuleFailure(d, text); break;
    case 14: FormatCriticalTemperature(d, text); break;
    case 15: FormatControllerOverheating(d, text); break;
    case 16: KdlPut(text, Other::Rows[Other::ServiceInformation], d.String(0)); break;
    case 17: KdlPut(text, Other::Rows[Other::SensorStopped], static_cast<int>(d.Byte(0))); break;
    case 18: KdlPut(text, Other::Rows[Other::SensorRestored], static_cast<int>(d.Byte(0))); break;
    default: break;
    }
}

std::span<const KdlTextGroup> EnvironmentTexts()
{
    return kTexts;
}
