#include "smbios_samples.h"

#include <stdexcept>

namespace {

// A system slot (type 9) as SMBIOS 2.6 and later lay it out: designation string 1, PCIe x8,
// available, long, slot ID, segment 0, bus and device/function.
SampleStructure Slot(uint16_t handle, uint8_t id, uint8_t bus, const char *designation)
{
    return {9, handle, {1, 0xA9, 0x0B, 0x03, 0x04, id, 0, 0x0C, 0x01, 0, 0, bus, 0x00}, {designation}};
}

// An on-board device (type 41): reference designation string 1, enabled Ethernet, instance,
// segment 0, bus and device/function.
SampleStructure OnBoard(uint16_t handle, uint8_t instance, uint8_t bus, const char *designation)
{
    return {41, handle, {1, 0x85, instance, 0, 0, bus, 0x00}, {designation}};
}

SampleStructure EndOfTable(uint16_t handle)
{
    return {127, handle, {}, {}};
}

} // namespace

std::vector<uint8_t> BuildStructures(const std::vector<SampleStructure> &structures)
{
    std::vector<uint8_t> bytes;
    for (const auto &structure : structures) {
        const size_t length = 4 + structure.body.size();
        bytes.push_back(structure.type);
        bytes.push_back(static_cast<uint8_t>(structure.length >= 0 ? structure.length : static_cast<int>(length)));
        bytes.push_back(static_cast<uint8_t>(structure.handle));
        bytes.push_back(static_cast<uint8_t>(structure.handle >> 8));
        bytes.insert(bytes.end(), structure.body.begin(), structure.body.end());
        for (const auto &text : structure.strings) {
            bytes.insert(bytes.end(), text.begin(), text.end());
            bytes.push_back(0);
        }
        if (structure.strings.empty())
            bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

std::vector<uint8_t> BuildCopy(const std::vector<uint8_t> &structures, long claimedLength)
{
    const uint32_t length =
        claimedLength >= 0 ? static_cast<uint32_t>(claimedLength) : static_cast<uint32_t>(structures.size());
    std::vector<uint8_t> copy = {0, 2, 8, 0};
    for (int i = 0; i < 4; ++i)
        copy.push_back(static_cast<uint8_t>(length >> (8 * i)));
    copy.insert(copy.end(), structures.begin(), structures.end());
    return copy;
}

std::vector<Sample> Samples()
{
    std::vector<Sample> samples;

    // What a server's table carries: firmware, slots, on-board devices and the maker's OEM types.
    samples.push_back(
        {"platform",
         BuildCopy(BuildStructures({
             {0, 0x0000, {1, 2, 0, 0xF0, 3, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}, {"Vostrel", "1.02", "01/02/2024"}},
             Slot(0x0901, 1, 0x17, "PCIe Slot 1"),
             Slot(0x0902, 2, 0x3A, "PCIe Slot 2"),
             OnBoard(0x2901, 1, 0x01, "Embedded NIC 1"),
             OnBoard(0x2902, 2, 0x01, "Embedded NIC 2"),
             {203, 0xCB01, {0x01, 0x17, 0x00, 0x00, 0x10, 0x00}, {"Port 1", "Port 2"}},
             {240, 0xF001, {0x02, 0x00, 0x00, 0x00}, {}},
             {242, 0xF201, {0x01, 0x3A, 0x00, 0x02}, {"FW 21.80.9"}},
             EndOfTable(0x7F00),
         }))});

    // PCIe disk bays: SMBIOS 2.6 slots with bus and device/function, and the maker's location
    // records (type 203: the slot's handle at 4, the location string's number at 31), one of them
    // too short to hold that number.
    {
        std::vector<uint8_t> bay(28, 0), shortBay(20, 0);
        bay[0] = 0x01;
        bay[1] = 0x09;
        bay[27] = 1;
        shortBay[0] = 0x02;
        shortBay[1] = 0x09;
        samples.push_back(
            {"pcie-disk-slots",
             BuildCopy(BuildStructures({
                 {9, 0x0901, {1, 0xB6, 0x0D, 0x04, 0x08, 1, 0, 0x04, 0x01, 0, 0, 0x03, 0x00}, {"NVMe Bay 1"}},
                 {9, 0x0902, {1, 0xB6, 0x0D, 0x04, 0x08, 2, 0, 0x04, 0x01, 0, 0, 0x04, 0x0A}, {"NVMe Bay 2"}},
                 {203, 0xCB01, shortBay, {"Short record"}},
                 {203, 0xCB02, bay, {"Front bay 1"}},
                 EndOfTable(0x7F00),
             }))});
    }

    // Structures without strings are followed at once by the next one.
    samples.push_back({"empty-sets", BuildCopy(BuildStructures({
                                         {1, 0x0100, {0, 0, 0, 0}, {}},
                                         {203, 0xCB02, {}, {}},
                                         Slot(0x0903, 3, 0x5E, "Riser Slot 3"),
                                         {240, 0xF002, {0xAA}, {}},
                                         EndOfTable(0x7F01),
                                     }))});

    // The last structure's string set is cut off by the end of the table.
    {
        std::vector<uint8_t> bytes =
            BuildStructures({Slot(0x0904, 4, 0x10, "Slot 4"), OnBoard(0x2903, 3, 0x02, "LOM 3")});
        bytes.resize(bytes.size() - 3);
        samples.push_back({"truncated-last", BuildCopy(bytes)});
    }

    // A formatted length below the 4-byte header ends the walk there.
    samples.push_back({"short-length", BuildCopy(BuildStructures({
                                           Slot(0x0905, 5, 0x20, "Slot 5"),
                                           {41, 0x2904, {}, {"never seen"}, 2},
                                           Slot(0x0906, 6, 0x21, "Slot 6"),
                                       }))});

    // The last structure claims a formatted area longer than what is left.
    samples.push_back({"formatted-past-end", BuildCopy(BuildStructures({
                                                 Slot(0x0907, 7, 0x22, "Slot 7"),
                                                 {203, 0xCB03, {1, 2}, {}, 0x40},
                                             }))});

    // The header claims more than was copied: the walk stops at the bytes that are there.
    samples.push_back({"claims-more-than-copied",
                       BuildCopy(BuildStructures({OnBoard(0x2905, 5, 0x03, "LOM 5"), EndOfTable(0x7F02)}), 4096)});
    return samples;
}

const Sample &SampleNamed(const std::string &name)
{
    static const std::vector<Sample> samples = Samples();
    for (const auto &sample : samples)
        if (sample.name == name)
            return sample;
    throw std::out_of_range(name);
}
