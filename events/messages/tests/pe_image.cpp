#include "pe_image.h"

namespace {

void Put(std::vector<uint8_t> &b, size_t at, uint64_t value, int width)
{
    if (b.size() < at + width)
        b.resize(at + width);
    for (int i = 0; i < width; ++i)
        b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

std::vector<uint8_t> PeWithResource(const std::u16string &type, const std::vector<uint8_t> &data)
{
    constexpr uint32_t kSectionRva = 0x1000, kSectionFile = 0x200;
    constexpr uint32_t kHigh = 0x80000000u;
    // The tree: root (two types), the named type's names, the name's languages, the data entry,
    // the type's name, the data.
    std::vector<uint8_t> tree;
    Put(tree, 12, 1, 2); // one named entry
    Put(tree, 14, 1, 2); // one id entry
    const uint32_t typeDir = 32, nameDir = 56, dataEntry = 80, typeName = 96;
    const uint32_t dataAt = (typeName + 2 + 2 * static_cast<uint32_t>(type.size()) + 7) / 8 * 8;
    Put(tree, 16, kHigh | typeName, 4);
    Put(tree, 20, kHigh | typeDir, 4);
    Put(tree, 24, 11, 4);               // the message-table type, pointing at the same names
    Put(tree, 28, kHigh | typeDir, 4);
    Put(tree, typeDir + 14, 1, 2);
    Put(tree, typeDir + 16, 1, 4);
    Put(tree, typeDir + 20, kHigh | nameDir, 4);
    Put(tree, nameDir + 14, 1, 2);
    Put(tree, nameDir + 16, 0x409, 4);
    Put(tree, nameDir + 20, dataEntry, 4);
    Put(tree, dataEntry, kSectionRva + dataAt, 4);
    Put(tree, dataEntry + 4, data.size(), 4);
    Put(tree, typeName, type.size(), 2);
    for (size_t i = 0; i < type.size(); ++i)
        Put(tree, typeName + 2 + 2 * i, type[i], 2);
    tree.resize(dataAt);
    tree.insert(tree.end(), data.begin(), data.end());
    uint32_t treeSize = static_cast<uint32_t>(tree.size());
    tree.resize((tree.size() + 0x1FF) / 0x200 * 0x200);

    std::vector<uint8_t> file(kSectionFile);
    Put(file, 0, 0x5A4D, 2);   // "MZ"
    Put(file, 0x3C, 0x40, 4);  // the PE header's offset
    Put(file, 0x40, 0x00004550, 4);
    const size_t coff = 0x44, optional = coff + 20;
    Put(file, coff, 0x8664, 2); // x64
    Put(file, coff + 2, 1, 2);  // one section
    Put(file, coff + 16, 112 + 16 * 8, 2);
    Put(file, coff + 18, 0x22, 2);
    Put(file, optional, 0x20B, 2); // PE32+
    Put(file, optional + 108, 16, 4);
    Put(file, optional + 112 + 2 * 8, kSectionRva, 4);
    Put(file, optional + 112 + 2 * 8 + 4, treeSize, 4);
    const size_t section = optional + 112 + 16 * 8;
    const char name[] = ".rsrc";
    for (size_t i = 0; i < sizeof name - 1; ++i)
        file[section + i] = static_cast<uint8_t>(name[i]);
    Put(file, section + 8, treeSize, 4);
    Put(file, section + 12, kSectionRva, 4);
    Put(file, section + 16, tree.size(), 4);
    Put(file, section + 20, kSectionFile, 4);
    file.insert(file.end(), tree.begin(), tree.end());
    return file;
}
