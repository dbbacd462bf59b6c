#pragma once
// The NIC group's rows as the NIC collector serves them, formatted from the library's records, and
// the small rules of the group that need no Windows: names compared the library's way, the team
// interface's description, the PCI identity in a device instance ID, the SMBIOS firmware lookup
// and the system id text of the traps. Portable; every input is untrusted (registry, SMBIOS).

#include "nic_records.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CSMBIOSTable;

// One cell of a row. Text cells hold the record's 8-bit (ANSI) text; the writer turns them into
// UTF-8 before they reach the store.
enum class NicCellType : uint8_t { Integer, Counter32, Gauge32, TimeTicks, Octets, Text };
struct NIC_CELL {
    uint32_t column;
    NicCellType type;
    uint32_t number;    // Integer (as two's complement), Counter32, Gauge32, TimeTicks
    std::string bytes;  // Octets, Text
};
using NIC_ROW = std::vector<NIC_CELL>;

// Bounds of the record's counted lists.
constexpr int32_t kNicMaxIfIndexes = 64;
constexpr uint8_t kNicMaxMembers = 16;
constexpr uint8_t kNicMaxVlans = 64;
// A speed in Mbit/s that still fits a Gauge32 in bit/s.
constexpr uint32_t kNicMaxGaugeMbps = 4294;

// Columns 1 to 43 of the physical adapter table, 1 to 23 of the logical interface table and 1 to
// 7 of the VLAN table, for the row index given.
NIC_ROW PhysAdapterColumns(const PHYSADAPTERRECORD &record, uint32_t row);
// Column 2 of the logical table holds the record's interface indexes, or, when the Hyper-V array
// is given and its element 0 is not 0, as many entries of that array.
NIC_ROW LogMapColumns(const INTERFACEMAPRECORD &record, uint32_t row, const int32_t (*hyperV)[64] = nullptr);
NIC_ROW VlanColumns(const VLANMAPRECORD &record, uint32_t row);

// The counted lists of a logical record, within their arrays whatever the counts say.
uint32_t LogIfIndexCount(const INTERFACEMAPRECORD &record);
uint8_t LogMemberCount(const INTERFACEMAPRECORD &record);
uint8_t LogVlanCount(const INTERFACEMAPRECORD &record);

// ASCII letters compared without case, all other bytes as they are: the names of the records and
// of the adapters are 8-bit texts in one code page.
bool NicNameEquals(std::string_view a, std::string_view b);
bool NicNameBegins(std::string_view text, std::string_view prefix);
// An 8-bit text of the records turned into UTF-8 by the Windows-1252 table (the fuzz target and the
// native tests; the service converts with the system's code page).
std::string NicLatinToUtf8(std::string_view text);

// "QZ Network Team #" followed only by decimal digits (none counts too).
bool IsTeamDescription(std::wstring_view description);

// Vendor, device and subsystem of an instance ID "PCI\VEN_x&DEV_x&SUBSYS_x&REV_x" (hex); all 0
// when the ID has another form.
struct NIC_PCI_IDENTITY {
    uint32_t vendor = 0, device = 0, subsystem = 0;
};
NIC_PCI_IDENTITY ParsePciInstanceId(std::string_view id);

// Bus, device and function of a PCI location text "0000:bb:dd.f" (hex); false when it does not
// read so.
bool ParsePciLocation(std::string_view location, uint32_t *bus, uint32_t *device, uint32_t *function);

// The adapter models whose firmware the SMBIOS records name: PCI id (vendor << 16 | device) and
// subsystem id.
struct NIC_FIRMWARE_MODEL {
    uint32_t pciId;
    uint32_t subsystemId;
};
extern const NIC_FIRMWARE_MODEL kNicFirmwareModels[9];
bool IsFirmwareModel(uint32_t pciId, uint32_t subsystemId);

// The firmware version text that the maker's SMBIOS records give for the adapter in this slot at
// this PCI location (last match wins); false when none does.
bool SmbiosNicFirmware(const CSMBIOSTable &table, int32_t slot, std::string_view pciLocation, std::string *firmware);
// Copies a firmware text into the record's 33-byte field, cut to 32 characters.
void SetRecordFirmware(PHYSADAPTERRECORD *record, std::string_view firmware);

// The maker's system-id tag and the system id text of the traps: "ZDT" and up to four characters
// after the tag, or "N/A".
extern const char kNicSystemIdTag[6];
std::string GetSystemIdString(const CSMBIOSTable &table);
std::string NicSystemIdText(std::string_view systemId);

// The trap-flags value of a trap record: DHCP flag x 2 + (status & 7) x 4.
int32_t NicTrapFlags(const TRAPRECORD &record);
