#include "kdl_event_id.h"

namespace {

bool ClassHasEventId(uint16_t c)
{
    return (c >= 2 && c <= 14) || (c >= 17 && c <= 20) || (c >= 32 && c <= 34) || (c >= 36 && c <= 42);
}

} // namespace

uint32_t KdlEventId(uint16_t eventClass, uint8_t severity)
{
    if (!ClassHasEventId(eventClass))
        return 0;
    uint32_t value = static_cast<uint32_t>(eventClass) * 256 + severity;
    switch (severity) {
    case 2:
    case 3:
    case 6: return 0x41010000u + value;
    case 9: return 0x81010000u + value;
    case 15: return 0xC1010000u + value;
    default: return 0;
    }
}

uint16_t EventTypeFromEventId(uint32_t eventId)
{
    static const uint16_t kTypes[] = {0, 4, 2, 1}; // success, information, warning, error
    return kTypes[eventId >> 30];
}
