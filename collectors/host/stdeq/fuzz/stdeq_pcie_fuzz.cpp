// What PCIe disks, their drivers, WMI, the registry and the firmware hand over: the first byte
// picks the reader, the rest is its input.
#include "smbios_table.h"
#include "stdeq_pcie_rules.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t pick = data[0];
    const std::vector<uint8_t> bytes(data + 1, data + size);  // exact size: overreads are caught
    const std::string text(bytes.begin(), bytes.end());
    switch (pick % 6) {
    case 0: {
        (void)ParseNvmeIdentify(bytes.data(), bytes.size());
        PCIE_DISK_INFO disk;
        if (ApplyNvmeHealthLog(bytes.data(), bytes.size(), &disk) && disk.PercentageUsed > 255)
            __builtin_trap();
        break;
    }
    case 1: {
        std::vector<uint8_t> pages;
        if (ParseSupportedLogPages(bytes.data(), bytes.size(), &pages) && pages.size() + 4 > bytes.size() + 4)
            __builtin_trap();
        int32_t temperature = 0, reference = 0;
        ParseTemperatureLogPage(bytes.data(), bytes.size(), &temperature, &reference);
        break;
    }
    case 2: {
        const STORAGE_ADAPTER_INFO info = ParseAdapterDescriptor(bytes.data(), bytes.size());
        (void)PassThroughForm(info.SrbType);
        (void)DescriptorSize(bytes.data(), bytes.size());
        break;
    }
    case 3: {
        if (auto id = ControllerIdFromAntecedent(text)) {
            (void)ControllerSubsystem(*id);
            if (id->size() > text.size())
                __builtin_trap();
        }
        std::string collapsed = text;
        CollapseRepeatedSeparator(&collapsed, "\\");
        break;
    }
    case 4: {
        int32_t bus = -1, device = -1, function = -1;
        (void)ParsePcieLocation(reinterpret_cast<const char *>(bytes.data()), bytes.size(), &bus, &device,
                                &function);
        (void)ControllerStatusCode(text);
        break;
    }
    default: {
        // A firmware copy: the header's 8 bytes, then the structures.
        const CSMBIOSTable table(bytes);
        if (table.IsValid())
            (void)PcieDiskLocationText(table, pick >> 4 & 3, 0, 0);
        break;
    }
    }
    return 0;
}
