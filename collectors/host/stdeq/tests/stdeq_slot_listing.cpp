// The system slots of a hand-built SMBIOS sample as the collector reads them, one line per slot
// with an address: "ID 1 Bus 0000:03:00.0", in table order (for stdeq_slot_dmidecode.sh).
//     stdeq_slot_listing NAME
#include "smbios_samples.h"
#include "smbios_table.h"
#include "stdeq_pci_rules.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const CSMBIOSTable table(SampleNamed(argv[1]).copy);
    for (const uint8_t *structure = nullptr; table.NextStructure(&structure);) {
        SMBIOS_SLOT slot;
        if (ReadSystemSlot(structure, structure[1], &slot) && slot.HasAddress)
            std::printf("ID %u Bus 0000:%02x:%02x.%x\n", slot.SlotId, slot.Bus, slot.Device, slot.Function);
    }
    return 0;
}
