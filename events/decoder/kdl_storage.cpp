// Class 18: SCSI controllers and devices; class 19: drive array controllers, their cache modules
// and the storage enclosures behind them; class 38: enclosure devices that fail authentication.
// The enclosure texts are members of FormatEnclosureEventText (kdl_enclosure.cpp).
#include "kdl_formatters.h"
#include "kdl_format.h"

namespace {

// The controller and device texts of both classes, which share one layout: byte 1 the chassis
// (the slot in the device texts), byte 2 the bus, byte 3 the slot or bay, the chassis name at 4
// (at 3 in the redundancy texts).
struct Scsi {
    static constexpr KdlTextRow Rows[] = {
        {18, 1, "SCSI Controller Failure (Slot %s)"},
        {18, 1, "SCSI Controller Failure (Chassis %s, Slot %s)"},
        {18, 2, "SCSI Device Failure (%sSlot %s, Bus %s, Bay %s)"},
        {18, 3, "SCSI Controllers No Longer Redundant"},
        {18, 3, "SCSI Controllers No Longer Redundant (Chassis %s)"},
    };
};
struct DriveArray {
    static constexpr KdlTextRow Rows[] = {
        {19, 1, "Drive Array Controller Failure (Slot %s)"},
        {19, 1, "Drive Array Controller Failure (Chassis %s, Slot %s)"},
        {19, 2, "Drive Array Device Failure (%sSlot %s, Bus %s, Bay %s)"},
        {19, 4, "Drive Array Controllers No Longer Redundant"},
        {19, 4, "Drive Array Controllers No Longer Redundant (Chassis %s)"},
    };
};
// The rows of Scsi and DriveArray, in the same order.
enum : uint8_t { ControllerFailure, ChassisControllerFailure, DeviceFailure, NotRedundant, ChassisNotRedundant };

struct ArrayOther {
    static constexpr KdlTextRow Rows[] = {
        {19, 3, "Drive Array Cache Module Battery Failure (Bus %s, Slot %s)"},
        {19, 3, "Drive Array Cache Module Battery Failure (Chassis %s, Bus %s, Slot %s)"},
        {19, 9, "Drive Array Controllers No Longer Redundant (%s)"},
        {19, 14, "Drive Array Controller Cache Module Not Installed (%s)"},
        {19, 16, "Drive Array Controller Cache Module Not Compatible With Controller (%s)"},
    };
    enum : uint8_t { Battery, ChassisBattery, RedundantAt, NotInstalled, NotCompatible };
};

const KdlTextGroup kTexts[] = {Scsi::Rows, DriveArray::Rows, ArrayOther::Rows};

KdlField Number(const KdlClassData &d, size_t offset) { return FormatByteOrUnknown(d.Byte(offset)); }
KdlField Chassis(const KdlClassData &d, size_t nameOffset) { return FormatChassisName(d.Byte(1), d.String(nameOffset).c_str()); }

// Codes 1 to 3 of class 18 and 1, 2 and 4 of class 19, from the rows of Group.
template <typename Group>
void FormatControllerEvent(uint8_t row, const KdlClassData &d, KdlText &text)
{
    const auto &rows = Group::Rows;
    const bool chassis = d.Byte(1) != 0;
    switch (row) {
    case ControllerFailure:
        if (chassis)
            KdlPut(text, rows[ChassisControllerFailure], Chassis(d, 4), Number(d, 3));
        else
            KdlPut(text, rows[ControllerFailure], Number(d, 3));
        break;
    case DeviceFailure:
        // Byte 1 is the slot here; the chassis prefix depends on the name alone.
        KdlPut(text, rows[DeviceFailure], FormatChassisPrefix(d.String(4).c_str()), Number(d, 1), Number(d, 2),
               Number(d, 3));
        break;
    case NotRedundant:
        if (chassis)
            KdlPut(text, rows[ChassisNotRedundant], Chassis(d, 3));
        else
            KdlPut(text, rows[NotRedundant]);
        break;
    default: break;
    }
}

} // namespace

void FormatScsiEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    switch (code) {
    case 1: FormatControllerEvent<Scsi>(ControllerFailure, d, text); break;
    case 2: FormatControllerEvent<Scsi>(DeviceFailure, d, text); break;
    case 3: FormatControllerEvent<Scsi>(NotRedundant, d, text); break;
    default: break;
    }
}

void FormatDriveArrayEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    const auto &rows = ArrayOther::Rows;
    switch (code) {
    case 1: FormatControllerEvent<DriveArray>(ControllerFailure, d, text); break;
    case 2: FormatControllerEvent<DriveArray>(DeviceFailure, d, text); break;
    case 3:
        if (d.Byte(1) != 0)
            KdlPut(text, rows[ArrayOther::ChassisBattery], Chassis(d, 4), Number(d, 2), Number(d, 3));
        else
            KdlPut(text, rows[ArrayOther::Battery], Number(d, 2), Number(d, 3));
        break;
    case 4: FormatControllerEvent<DriveArray>(NotRedundant, d, text); break;
    case 7:
    case 13: FormatEnclosureEventText(KdlEnclosureMember::DeviceFailure, d, text); break;
    case 8: FormatEnclosureEventText(KdlEnclosureMember::PhyLinkExpander, d, text); break;
    case 9: KdlPut(text, rows[ArrayOther::RedundantAt], FormatControllerLocation(d, 3, d.Byte(1))); break;
    case 10: FormatEnclosureEventText(KdlEnclosureMember::PhyLinkErrorPath, d, text); break;
    case 11: FormatEnclosureEventText(KdlEnclosureMember::ProcessorFailure, d, text); break;
    case 12: FormatEnclosureEventText(KdlEnclosureMember::WearError, d, text); break;
    case 14: KdlPut(text, rows[ArrayOther::NotInstalled], FormatControllerLocation(d, 4, d.Byte(3))); break;
    case 15: FormatEnclosureEventText(KdlEnclosureMember::PhyDisabled, d, text); break;
    case 16: KdlPut(text, rows[ArrayOther::NotCompatible], FormatControllerLocation(d, 4, d.Byte(3))); break;
    case 17: FormatEnclosureEventText(KdlEnclosureMember::PhyLinkDevices, d, text); break;
    default: break;
    }
}

void FormatEnclosureGenuineEvent(uint16_t code, const KdlClassData &d, KdlText &text)
{
    if (code == 1)
        FormatEnclosureEventText(KdlEnclosureMember::NotGenuine, d, text);
}

std::span<const KdlTextGroup> StorageTexts()
{
    return kTexts;
}
