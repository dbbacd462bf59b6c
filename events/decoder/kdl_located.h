#pragma once
// Events about a located component (environment and power events): where the component is,
// by the enclosure kind in byte 0 and the name string of the event's layout.

#include <cstddef>
#include <cstdint>

#include "kdl_entry.h"
#include "kdl_text.h"
#include "kdl_text_table.h"

// The six text forms of a located event, in the order of each group's rows.
enum KdlLocatedForm : uint8_t {
    kKdlSystem,          // kind 1, chassis 0: the server itself
    kKdlChassis,         // kind 1, another chassis: an external chassis
    kKdlExternalStorage, // kind 2
    kKdlInternalStorage, // kind 3
    kKdlBladeEnclosure,  // kind 4
    kKdlPowerEnclosure,  // kind 5
    kKdlLocatedForms,
    kKdlNotLocated = kKdlLocatedForms, // any other kind: no line
};

struct KdlLocation {
    KdlLocatedForm Form = kKdlNotLocated;
    KdlField Chassis;   // the chassis name, or its number
    KdlField Prefix;    // "Chassis <name>, " or empty
    KdlField Slot;      // byte 1 as a number
    KdlField Enclosure; // serial number or address
};

// The location of an event whose name string begins at nameOffset.
KdlLocation LocateKdlEvent(const KdlClassData &data, size_t nameOffset);

// Writes the row of the location's form from Group::Rows (one row per form). Each form takes the
// event's own arguments and, by form: the chassis before them, the chassis prefix and slot
// before them, or (with EnclosureLast) the enclosure after them.
template <typename Group, bool EnclosureLast = true, typename... Own>
void PutLocated(KdlText &text, const KdlLocation &at, const Own &...own)
{
    static_assert(std::size(Group::Rows) == kKdlLocatedForms);
    switch (at.Form) {
    case kKdlSystem: KdlPut(text, Group::Rows[kKdlSystem], own...); break;
    case kKdlChassis: KdlPut(text, Group::Rows[kKdlChassis], at.Chassis, own...); break;
    case kKdlExternalStorage: KdlPut(text, Group::Rows[kKdlExternalStorage], at.Prefix, at.Slot, own...); break;
    case kKdlInternalStorage: KdlPut(text, Group::Rows[kKdlInternalStorage], at.Prefix, at.Slot, own...); break;
    case kKdlBladeEnclosure:
        if constexpr (EnclosureLast)
            KdlPut(text, Group::Rows[kKdlBladeEnclosure], own..., at.Enclosure);
        else
            KdlPut(text, Group::Rows[kKdlBladeEnclosure], own...);
        break;
    case kKdlPowerEnclosure:
        if constexpr (EnclosureLast)
            KdlPut(text, Group::Rows[kKdlPowerEnclosure], own..., at.Enclosure);
        else
            KdlPut(text, Group::Rows[kKdlPowerEnclosure], own...);
        break;
    default: break;
    }
}
