#include "kdl_located.h"

#include "kdl_format.h"

KdlLocation LocateKdlEvent(const KdlClassData &data, size_t nameOffset)
{
    KdlLocation at;
    uint8_t number = data.Byte(1);
    switch (data.Byte(0)) {
    case 1: at.Form = number == 0 ? kKdlSystem : kKdlChassis; break;
    case 2: at.Form = kKdlExternalStorage; break;
    case 3: at.Form = kKdlInternalStorage; break;
    case 4: at.Form = kKdlBladeEnclosure; break;
    case 5: at.Form = kKdlPowerEnclosure; break;
    default: return at;
    }
    KdlField name = data.String(nameOffset);
    at.Chassis = FormatChassisName(number, name.c_str());
    at.Prefix = FormatChassisPrefix(name.c_str());
    at.Slot = FormatByteOrUnknown(number);
    at.Enclosure = FormatEnclosureId(name.c_str(), data);
    return at;
}
