// A kit log area as the log disk could hand it over, taken, parsed and applied.
#include "stdeq_kit.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::vector<uint8_t> area(data, data + size);  // exact size: overreads are caught
    USB_KIT_RECORDS records;
    TakeUsbKitRecords(area.data(), area.size(), &records);
    if (records.Count > kUsbKitSlots)
        __builtin_trap();
    USB_KIT_STATE state;
    SetUsbKitIdentity(&state, "usb raid lun", "", "");
    ParseUsbKitStatus(&state, records);
    const std::optional<std::string> stamp =
        size > 0 && data[0] & 1 ? std::optional<std::string>(ParseUsbKitStampLine(
                                      reinterpret_cast<const char *>(area.data()), area.size()))
                                : std::nullopt;
    ProcessUsbKitEvents(&state, records, stamp, [](unsigned trap, int card, const USB_KIT_STATE &) {
        if (trap < 1010 || trap > 1014 || card < 0 || card > 7)
            __builtin_trap();
    });
    return 0;
}
