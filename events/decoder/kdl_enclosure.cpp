// The storage enclosure texts: every member prints the side word of byte 0, its own unit fields,
// the controller port and the location of the reporting controller (slot byte 1).
#include "kdl_formatters.h"
#include "kdl_format.h"
#include "kdl_names.h"

namespace {

struct Members {
    static constexpr KdlTextRow Rows[] = {
        {11, 20, "%s Storage Enclosure Power Supply Failure (Power Supply %u, Box %u, Port %s, %s)"},
    };
    enum : uint8_t { PowerSupplyFailure };
};

const KdlTextGroup kTexts[] = {Members::Rows};

unsigned Number(const KdlClassData &d, size_t offset) { return d.Byte(offset); }

} // namespace

void FormatEnclosureEventText(KdlEnclosureMember member, const KdlClassData &d, KdlText &text)
{
    // With no side word the line begins with a blank: the texts put one after it.
    const char *side = ExternalInternalName(d);
    switch (member) {
    case KdlEnclosureMember::PowerSupplyFailure:
        KdlPut(text, Members::Rows[Members::PowerSupplyFailure], side, Number(d, 3), Number(d, 6),
               FormatPortName(d.Byte(4), d.Byte(5)), FormatControllerLocation(d, 7, d.Byte(1)));
        break;
    }
}

std::span<const KdlTextGroup> EnclosureTexts()
{
    return kTexts;
}
