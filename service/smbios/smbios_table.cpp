#include "smbios_table.h"

#include <cstring>
#include <functional>
#include <new>
#include <utility>

namespace {

constexpr size_t kHeaderSize = sizeof(SMBIOS_RAW_HEADER);
constexpr size_t kStructureHeaderSize = sizeof(SMBIOS_STRUCTURE_HEADER);

// Bounded little-endian reads over the copy: a read past the end fails.
class TableBytes {
public:
    TableBytes(const uint8_t *data, size_t size) : m_Data(data), m_Size(size) {}
    bool Has(size_t offset, size_t count) const { return offset <= m_Size && count <= m_Size - offset; }
    bool U8(size_t offset, uint8_t *value) const
    {
        if (!Has(offset, 1))
            return false;
        *value = m_Data[offset];
        return true;
    }
    bool U32(size_t offset, uint32_t *value) const
    {
        if (!Has(offset, 4))
            return false;
        *value = static_cast<uint32_t>(m_Data[offset]) | static_cast<uint32_t>(m_Data[offset + 1]) << 8 |
                 static_cast<uint32_t>(m_Data[offset + 2]) << 16 | static_cast<uint32_t>(m_Data[offset + 3]) << 24;
        return true;
    }
    // The first offset at or after from where two NUL bytes begin, both inside.
    bool FindDoubleNul(size_t from, size_t *at) const
    {
        for (size_t i = from; Has(i, 2); ++i) {
            if (m_Data[i] == 0 && m_Data[i + 1] == 0) {
                *at = i;
                return true;
            }
        }
        return false;
    }

private:
    const uint8_t *m_Data;
    size_t m_Size;
};

} // namespace

CSMBIOSTable::CSMBIOSTable(std::vector<uint8_t> copy)
{
    Assign(std::move(copy));
}

int CSMBIOSTable::Assign(std::vector<uint8_t> copy)
{
    m_Buffer = std::move(copy);
    m_Valid = 0;
    m_End = 0;
    uint32_t length = 0;
    TableBytes bytes(m_Buffer.data(), m_Buffer.size());
    if (!bytes.U32(offsetof(SMBIOS_RAW_HEADER, Length), &length)) {
        m_Buffer.clear();
        return 0;
    }
    const size_t available = m_Buffer.size() - kHeaderSize;
    m_End = kHeaderSize + (length < available ? length : available);
    m_Valid = 1;
    return 1;
}

bool CSMBIOSTable::StructureEnd(size_t offset, size_t *end) const
{
    TableBytes table(m_Buffer.data(), m_End);
    uint8_t length = 0;
    if (offset < kHeaderSize || !table.Has(offset, kStructureHeaderSize) ||
        !table.U8(offset + offsetof(SMBIOS_STRUCTURE_HEADER, Length), &length))
        return false;
    // A length below the header's own would walk backwards or in place.
    if (length < kStructureHeaderSize || !table.Has(offset, length))
        return false;
    size_t terminator = 0;
    if (!table.FindDoubleNul(offset + length, &terminator))
        return false;
    *end = terminator + 2;
    return true;
}

bool CSMBIOSTable::OffsetOf(const uint8_t *structure, size_t *offset) const
{
    if (!m_Valid || structure == nullptr)
        return false;
    // Compared as addresses, so a pointer into some other object is refused without arithmetic on it.
    const uint8_t *first = m_Buffer.data() + kHeaderSize;
    const uint8_t *end = m_Buffer.data() + m_End;
    if (std::less<const uint8_t *>()(structure, first) || !std::less<const uint8_t *>()(structure, end))
        return false;
    *offset = static_cast<size_t>(structure - m_Buffer.data());
    return true;
}

bool CSMBIOSTable::NextStructure(const uint8_t **structure) const
{
    if (!m_Valid || structure == nullptr)
        return false;
    size_t next = kHeaderSize;
    if (*structure != nullptr) {
        size_t offset = 0;
        if (!OffsetOf(*structure, &offset) || !StructureEnd(offset, &next))
            return false;
    }
    size_t after = 0;
    if (next >= m_End || !StructureEnd(next, &after))
        return false;
    *structure = m_Buffer.data() + next;
    return true;
}

const uint8_t *CSMBIOSTable::FindStructure(uint8_t type, unsigned index) const
{
    const uint8_t *structure = nullptr;
    while (NextStructure(&structure)) {
        if (structure[0] != type)
            continue;
        if (index == 0)
            return structure;
        --index;
    }
    return nullptr;
}

unsigned CSMBIOSTable::CountStructures(uint8_t type) const
{
    unsigned count = 0;
    const uint8_t *structure = nullptr;
    while (NextStructure(&structure))
        if (structure[0] == type)
            ++count;
    return count;
}

const char *CSMBIOSTable::GetString(const uint8_t *structure, unsigned number) const
{
    size_t offset = 0;
    size_t end = 0;
    if (number == 0 || !OffsetOf(structure, &offset) || !StructureEnd(offset, &end))
        return "";
    // The set lies in [offset + length, end) and ends with two NULs, so every string found in it
    // is terminated inside it.
    size_t position = offset + m_Buffer[offset + 1];
    for (unsigned current = 1; position < end && m_Buffer[position] != 0; ++current) {
        const char *text = reinterpret_cast<const char *>(m_Buffer.data() + position);
        if (current == number)
            return text;
        const void *nul = std::memchr(text, 0, end - position);
        if (nul == nullptr)
            return "";
        position = static_cast<size_t>(static_cast<const uint8_t *>(nul) - m_Buffer.data()) + 1;
    }
    return "";
}
