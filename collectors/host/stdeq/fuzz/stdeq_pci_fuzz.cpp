// Hardware-ID texts and SMBIOS system-slot structures as the configuration manager and the
// firmware could hand them over: the first byte picks the reader, the rest is its input.
#include "stdeq_pci_rules.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t pick = data[0];
    const std::vector<uint8_t> bytes(data + 1, data + size);  // exact size: overreads are caught
    switch (pick % 3) {
    case 0: {
        const PCI_IDS ids = ParsePciHardwareIds(reinterpret_cast<const char *>(bytes.data()), bytes.size());
        if (ids.ClassCodeOffset && *ids.ClassCodeOffset > bytes.size())
            __builtin_trap();
        (void)PciClassName(ids.BaseClass);
        break;
    }
    case 1: {
        SMBIOS_SLOT slot;
        if (ReadSystemSlot(bytes.data(), bytes.size(), &slot))
            (void)MatchSlot({slot}, slot.SlotId, slot.Bus, slot.Device);
        break;
    }
    default: {
        // Two address lists: each entry three bytes.
        std::vector<PCI_ADDRESS> previous, current;
        for (size_t i = 0; i + 3 <= bytes.size(); i += 3)
            (bytes[i] & 0x80 ? current : previous).push_back({bytes[i] & 3, bytes[i + 1] & 1, bytes[i + 2] & 1});
        const PCI_CHANGE change = ChoosePciChange(previous, current);
        if (change.Trap && change.Position >= (change.FromCurrent ? current : previous).size())
            __builtin_trap();
        break;
    }
    }
    return 0;
}
