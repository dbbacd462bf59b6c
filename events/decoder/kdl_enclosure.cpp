// The storage enclosure texts: every member prints the side word of byte 0, its own unit fields,
// the controller port and the location of the reporting controller (slot byte 1).
#include "kdl_formatters.h"
#include "kdl_format.h"
#include "kdl_names.h"

#include <iterator>

namespace {

struct Members {
    static constexpr KdlTextRow Rows[] = {
        {11, 20, "%s Storage Enclosure Power Supply Failure (Power Supply %u, Box %u, Port %s, %s)"},
        {19, 7, "%s Storage Enclosure Device Failure (Bay %u, Box %u, Port %s, %s)"},
        {19, 12, "%s Storage Enclosure Device SMART Wear Error (Bay %u, Box %u, Port %s, %s)"},
        {38, 1, "%s Storage Enclosure Device Not Authenticated As Genuine (Bay %u, Box %u, Port %s, %s)"},
        {19, 8, "%s Storage Enclosure PHY Link Error (PHY %u, Expander %u, Box %u, Port %s, %s)"},
        {19, 10, "%s Storage Enclosure PHY Link Error (%s, Box %u, Port %s, %s)"},
        {19, 11, "%s SAS Array Storage Enclosure Processor Failure (Box %u, Port %s, %s)"},
        {19, 15, "%s Storage Enclosure PHY Disabled (Between %s and %s, Port %s, %s)"},
        {19, 17, "%s Storage Enclosure PHY Link Error (Detected By %s, Attached To %s, Port %s, %s)"},
    };
    enum : uint8_t {
        PowerSupplyFailure, DeviceFailure, WearError, NotGenuine, PhyLinkExpander, PhyLinkErrorPath, ProcessorFailure,
        PhyDisabled, PhyLinkDevices,
    };
};
// The two ends of a disabled PHY, by one byte; the last row stands for every other value.
struct DeviceKind {
    static constexpr KdlTextRow Rows[] = {
        {19, 15, "Physical SATA Device"},
        {19, 15, "Physical SAS Device"},
        {19, 15, "Logical SATA Device"},
        {19, 15, "Logical SAS Device"},
        {19, 15, "Expander"},
        {19, 15, "Storage Enclosure Processor"},
        {19, 15, "SAS Controller"},
        {19, 15, "Unsupported Device"},
        {19, 15, "Connector"},
        {19, 15, "Protocol Adapter"},
        {19, 15, "Unknown Device"},
    };
    static constexpr uint8_t Values[] = {1, 2, 3, 4, 5, 6, 7, 15, 253, 254};
};
// The path of a PHY link error, indexed by one byte; one past the table is row 0.
struct ErrorPath {
    static constexpr KdlTextRow Rows[] = {
        {19, 10, "Error path unknown"},
        {19, 10, "Storage controller to external storage box"},
        {19, 10, "Storage controller to internal device"},
        {19, 10, "Storage controller to onboard expander"},
        {19, 10, "Onboard expander to external storage box"},
        {19, 10, "Onboard expander to internal device"},
        {19, 10, "Storage box to storage box"},
        {19, 10, "Storage box to bay in storage box"},
        {19, 10, "Storage controller to switch expander"},
        {19, 10, "Switch expander to storage box"},
    };
};

const KdlTextGroup kTexts[] = {Members::Rows, DeviceKind::Rows, ErrorPath::Rows};

unsigned Number(const KdlClassData &d, size_t offset) { return d.Byte(offset); }

const char *ErrorPathName(uint8_t value)
{
    return KdlWord<ErrorPath>(value < std::size(ErrorPath::Rows) ? value : 0);
}

// The members whose unit fields are bytes 3 and 6, with the port at 4 and the strings at 7.
void PutUnitAndBox(KdlText &text, KdlFormat<const char *, unsigned, unsigned, KdlField, KdlField> format,
                   const KdlClassData &d, const char *side)
{
    KdlPut(text, format, side, Number(d, 3), Number(d, 6), FormatPortName(d.Byte(4), d.Byte(5)),
           FormatControllerLocation(d, 7, d.Byte(1)));
}

} // namespace

void FormatEnclosureEventText(KdlEnclosureMember member, const KdlClassData &d, KdlText &text)
{
    // With no side word the line begins with a blank: the texts put one after it.
    const char *side = ExternalInternalName(d);
    const auto &rows = Members::Rows;
    // The members with unit fields from byte 5 on have their port at 3.
    const KdlField port = FormatPortName(d.Byte(3), d.Byte(4));
    switch (member) {
    case KdlEnclosureMember::PowerSupplyFailure: PutUnitAndBox(text, rows[Members::PowerSupplyFailure], d, side); break;
    case KdlEnclosureMember::DeviceFailure: PutUnitAndBox(text, rows[Members::DeviceFailure], d, side); break;
    case KdlEnclosureMember::WearError: PutUnitAndBox(text, rows[Members::WearError], d, side); break;
    case KdlEnclosureMember::NotGenuine: PutUnitAndBox(text, rows[Members::NotGenuine], d, side); break;
    case KdlEnclosureMember::PhyLinkExpander:
        KdlPut(text, rows[Members::PhyLinkExpander], side, Number(d, 7), Number(d, 6), Number(d, 5), port,
               FormatControllerLocation(d, 8, d.Byte(1)));
        break;
    case KdlEnclosureMember::PhyLinkErrorPath:
        KdlPut(text, rows[Members::PhyLinkErrorPath], side, ErrorPathName(d.Byte(6)), Number(d, 5), port,
               FormatControllerLocation(d, 7, d.Byte(1)));
        break;
    case KdlEnclosureMember::ProcessorFailure:
        KdlPut(text, rows[Members::ProcessorFailure], side, Number(d, 5), port, FormatControllerLocation(d, 6, d.Byte(1)));
        break;
    case KdlEnclosureMember::PhyDisabled:
        KdlPut(text, rows[Members::PhyDisabled], side, KdlWordByValue<DeviceKind>(d.Byte(5)), KdlWordByValue<DeviceKind>(d.Byte(6)), port,
               FormatControllerLocation(d, 7, d.Byte(1)));
        break;
    case KdlEnclosureMember::PhyLinkDevices:
        KdlPut(text, rows[Members::PhyLinkDevices], side, FormatStorageDevice(d.Byte(5), d.Byte(6), d.Byte(7)),
               FormatStorageDevice(d.Byte(8), d.Byte(9), d.Byte(10)), port, FormatControllerLocation(d, 11, d.Byte(1)));
        break;
    }
}

std::span<const KdlTextGroup> EnclosureTexts()
{
    return kTexts;
}
