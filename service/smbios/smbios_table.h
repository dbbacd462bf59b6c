#pragma once
// The copy of the firmware's SMBIOS table and a walk over its structures.
//
// The copy is what the system firmware table interface returns for 'RSMB': an 8-byte header
// (calling method, major and minor version, DMI revision, table length) followed by the
// structures. The walk trusts none of it: a structure is handed out only when its formatted area
// and its string set both lie inside the table, so a caller may read any byte below
// structure[1] (the formatted length) and the strings that GetString returns.
//
// This file is portable; loading the copy from the firmware is Windows-only (smbios_firmware.cpp).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#pragma pack(push, 1)
// The header in front of the structures in the copy.
struct SMBIOS_RAW_HEADER {
    uint8_t Used20CallingMethod;
    uint8_t MajorVersion;
    uint8_t MinorVersion;
    uint8_t DmiRevision;
    uint32_t Length; // bytes of structures that follow, little-endian
};
// The first bytes of every structure.
struct SMBIOS_STRUCTURE_HEADER {
    uint8_t Type;
    uint8_t Length; // formatted area, this header included
    uint16_t Handle;
};
#pragma pack(pop)
static_assert(sizeof(SMBIOS_RAW_HEADER) == 8);
static_assert(offsetof(SMBIOS_RAW_HEADER, MajorVersion) == 1);
static_assert(offsetof(SMBIOS_RAW_HEADER, MinorVersion) == 2);
static_assert(offsetof(SMBIOS_RAW_HEADER, DmiRevision) == 3);
static_assert(offsetof(SMBIOS_RAW_HEADER, Length) == 4);
static_assert(sizeof(SMBIOS_STRUCTURE_HEADER) == 4);
static_assert(offsetof(SMBIOS_STRUCTURE_HEADER, Length) == 1);
static_assert(offsetof(SMBIOS_STRUCTURE_HEADER, Handle) == 2);

class CSMBIOSTable {
public:
    // Copies the firmware's table (Windows only); IsValid tells whether that worked.
    CSMBIOSTable();
    // Takes a copy in the firmware's layout (tests and tools).
    explicit CSMBIOSTable(std::vector<uint8_t> copy);
    CSMBIOSTable(const CSMBIOSTable &) = delete;
    CSMBIOSTable &operator=(const CSMBIOSTable &) = delete;

    // Reads the table from the firmware again (Windows only). Returns IsValid().
    int Load();

    // Null gives the first structure; otherwise the one after *structure. False at the end of the
    // table, at a structure that does not lie wholly inside it, and on an invalid copy.
    bool NextStructure(const uint8_t **structure) const;
    // The index-th (from 0) structure of a type in table order, or null.
    const uint8_t *FindStructure(uint8_t type, unsigned index) const;
    unsigned CountStructures(uint8_t type) const;
    // String number (from 1) of a structure's string set; "" for 0, for a number past the set and
    // for a pointer that is not a structure of this table. Never null.
    const char *GetString(const uint8_t *structure, unsigned number) const;
    int IsValid() const { return m_Valid; }

    const std::vector<uint8_t> &Copy() const { return m_Buffer; }
    uint8_t MajorVersion() const { return m_Valid ? m_Buffer[1] : 0; }
    uint8_t MinorVersion() const { return m_Valid ? m_Buffer[2] : 0; }
    // Where the structures end: the header's length, cut to the bytes actually copied.
    size_t TableEnd() const { return m_End; }

private:
    int Assign(std::vector<uint8_t> copy);
    // The offset just past the string set of the structure at offset, when the structure lies
    // wholly inside the table.
    bool StructureEnd(size_t offset, size_t *end) const;
    bool OffsetOf(const uint8_t *structure, size_t *offset) const;

    int m_Valid = 0;
    std::vector<uint8_t> m_Buffer;
    size_t m_End = 0;
};

// The service's copy: made when the service starts, released when it stops.
extern std::unique_ptr<CSMBIOSTable> s_SMBIOSTable;
