// Instance IDs and location texts of any content: the readers stay inside the text, and what
// they report holds together.
#include "adapter_ids.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Bytes as characters (one byte each keeps the seeds readable); no terminator is added, so
    // any read past the view's end would be caught.
    std::wstring text;
    for (size_t i = 0; i < size; ++i)
        text.push_back(static_cast<wchar_t>(data[i]));
    const std::wstring_view view(text.data(), text.size());

    size_t consumed = 0;
    const int32_t number = GetNextNumber(view, &consumed);
    if (number < -1 || (number >= 0 && (consumed == 0 || consumed > view.size())))
        __builtin_trap();

    const HARDWAREIDINFO info = ClassifyHardwareId(view);
    if (info.isPciId != (info.family == HardwareIdFamily::kPci))
        __builtin_trap();
    if (info.family == HardwareIdFamily::kRejected && (info.pciId != 0 || info.subsystemId != 0))
        __builtin_trap();

    uint32_t pciId = 0;
    uint32_t subsystemId = 0;
    (void)ParsePciHardwareId(view, &pciId, &subsystemId);
    (void)MellanoxLocationPort(view);
    uint32_t bus = 0, device = 0, function = 0;
    (void)ParseSolarflareLocation(view, &bus, &device, &function);

    for (bool mellanox : {false, true}) {
        const LOCATIONINFO location = ParseLocationText(view, mellanox);
        if (location.numbers < 0 || location.numbers > 4 || location.hasPort != (mellanox && location.numbers == 4))
            __builtin_trap();
    }
    return 0;
}
