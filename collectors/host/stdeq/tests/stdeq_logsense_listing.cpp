// A LOG SENSE page in sg_logs' hex form as the collector reads it (for stdeq_logsense_sg_logs.sh):
// "temperature T reference R" for the temperature page, "page 0xNN" per code for the supported-pages
// page.
//     stdeq_logsense_listing FILE
#include "stdeq_pcie_rules.h"

#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    FILE *file = std::fopen(argv[1], "r");
    if (file == nullptr)
        return 1;
    std::vector<uint8_t> data;
    for (unsigned byte = 0; std::fscanf(file, "%2x", &byte) == 1;)
        data.push_back(static_cast<uint8_t>(byte));
    std::fclose(file);
    if (data.empty())
        return 1;
    if ((data[0] & 0x3F) == kTemperatureLogPage) {
        int32_t temperature = 0, reference = 0;
        ParseTemperatureLogPage(data.data(), data.size(), &temperature, &reference);
        std::printf("temperature %d reference %d\n", temperature, reference);
    } else {
        std::vector<uint8_t> pages;
        if (!ParseSupportedLogPages(data.data(), data.size(), &pages))
            return 1;
        for (uint8_t page : pages)
            std::printf("page 0x%02x\n", page);
    }
    return 0;
}
