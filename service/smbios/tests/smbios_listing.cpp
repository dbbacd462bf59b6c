// Writes SMBIOS copies as dmidecode dump files together with what CSMBIOSTable makes of them, for
// the cross-check against dmidecode --from-dump (check_dmidecode.sh):
//     smbios_listing samples DIR   every hand-built copy: DIR/NAME.bin and DIR/NAME.txt
//     smbios_listing live DIR      the firmware's copy (Windows only): DIR/live.bin, DIR/live.txt
//     smbios_listing corpus DIR    every hand-built copy as it is (DIR/NAME.raw), as fuzzer seeds
// The listing has one line per structure, "handle 0x0901 type 9 length 17", and one line per
// string, "string 50 43 49 65 00" (its bytes and the terminating NUL).
#include "smbios_samples.h"
#include "smbios_table.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// A dump as dmidecode --dump-bin writes it: a 32-bit entry point at 0 and the table at 0x20.
// A structure count of 0 lets dmidecode walk by length alone.
bool DumpFile(const CSMBIOSTable &table, std::vector<uint8_t> *dump)
{
    const size_t length = table.TableEnd() - sizeof(SMBIOS_RAW_HEADER);
    if (length > 0xFFFF)
        return false;
    std::vector<uint8_t> entry(0x20, 0);
    std::memcpy(entry.data(), "_SM_", 4);
    entry[0x05] = 0x1F;
    entry[0x06] = table.MajorVersion();
    entry[0x07] = table.MinorVersion();
    std::memcpy(entry.data() + 0x10, "_DMI_", 5);
    entry[0x16] = static_cast<uint8_t>(length);
    entry[0x17] = static_cast<uint8_t>(length >> 8);
    entry[0x18] = 0x20;
    entry[0x1E] = static_cast<uint8_t>(table.MajorVersion() << 4 | (table.MinorVersion() & 0x0F));
    uint8_t sum = 0;
    for (size_t i = 0x10; i < 0x1F; ++i)
        sum = static_cast<uint8_t>(sum + entry[i]);
    entry[0x15] = static_cast<uint8_t>(-sum);
    sum = 0;
    for (size_t i = 0; i < 0x1F; ++i)
        sum = static_cast<uint8_t>(sum + entry[i]);
    entry[0x04] = static_cast<uint8_t>(-sum);

    const auto &copy = table.Copy();
    *dump = entry;
    dump->insert(dump->end(), copy.begin() + sizeof(SMBIOS_RAW_HEADER), copy.begin() + table.TableEnd());
    return true;
}

std::vector<uint8_t> Listing(const CSMBIOSTable &table)
{
    std::string text;
    char line[64];
    const uint8_t *structure = nullptr;
    while (table.NextStructure(&structure)) {
        std::snprintf(line, sizeof(line), "handle 0x%04X type %u length %u\n", structure[2] | structure[3] << 8,
                      structure[0], structure[1]);
        text += line;
        for (unsigned number = 1;; ++number) {
            const char *string = table.GetString(structure, number);
            if (*string == '\0')
                break;
            text += "string";
            for (const char *c = string;; ++c) {
                std::snprintf(line, sizeof(line), " %02X", static_cast<unsigned char>(*c));
                text += line;
                if (*c == '\0')
                    break;
            }
            text += "\n";
        }
    }
    return std::vector<uint8_t>(text.begin(), text.end());
}

bool WritePair(const CSMBIOSTable &table, const std::string &base)
{
    std::vector<uint8_t> dump;
    if (!DumpFile(table, &dump)) {
        std::fprintf(stderr, "%s: table too long for a 32-bit entry point\n", base.c_str());
        return false;
    }
    return WriteFile(base + ".bin", dump) && WriteFile(base + ".txt", Listing(table));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const std::string mode = argv[1];
    const std::string folder = std::string(argv[2]) + "/";
    if (mode == "samples" || mode == "corpus") {
        for (const auto &sample : Samples()) {
            bool ok = mode == "corpus" ? WriteFile(folder + sample.name + ".raw", sample.copy)
                                       : WritePair(CSMBIOSTable(sample.copy), folder + sample.name);
            if (!ok)
                return 1;
        }
        return 0;
    }
#ifdef _WIN32
    if (mode == "live") {
        CSMBIOSTable table;
        if (!table.IsValid()) {
            std::fprintf(stderr, "no SMBIOS table from the firmware\n");
            return 3;
        }
        return WritePair(table, folder + "live") ? 0 : 1;
    }
#endif
    return 2;
}
