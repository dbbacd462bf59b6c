#include "nic_columns.h"

#include "smbios_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// The values this product chose for the maker's lists, in one place: the adapter models whose
// firmware the maker's SMBIOS records carry (each subsystem id is subsystem device << 16 | the
// maker's PCI vendor 0x1F7A) and the tag of the maker's system id.
const NIC_FIRMWARE_MODEL kNicFirmwareModels[9] = {
    {0x10DF0720, 0x0B011F7A}, // Emulex
    {0x15B31015, 0x0B021F7A}, {0x15B31015, 0x0B031F7A}, // Mellanox
    {0x15B31013, 0x0B041F7A}, {0x15B31013, 0x0B051F7A},
    {0x19240903, 0x0B061F7A}, {0x19240903, 0x0B071F7A}, {0x19240903, 0x0B081F7A}, // Solarflare
    {0x80861563, 0x0B091F7A}, // Intel
};
const char kNicSystemIdTag[6] = "$VQSY";

namespace {

uint32_t Signed(int32_t value) { return static_cast<uint32_t>(value); }

NIC_CELL Number(uint32_t column, NicCellType type, uint32_t value) { return {column, type, value, {}}; }
NIC_CELL Integer(uint32_t column, int32_t value) { return Number(column, NicCellType::Integer, Signed(value)); }
NIC_CELL Bytes(uint32_t column, const void *bytes, size_t count)
{
    return {column, NicCellType::Octets, 0, std::string(static_cast<const char *>(bytes), count)};
}
NIC_CELL Text(uint32_t column, std::string text) { return {column, NicCellType::Text, 0, std::move(text)}; }

uint32_t SpeedGauge(uint32_t mbps) { return mbps <= kNicMaxGaugeMbps ? mbps * 1000000u : 0; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// A hex number at the start of text; false when there is none.
bool ReadHex(std::string_view *text, uint32_t *value)
{
    uint64_t v = 0;
    size_t i = 0;
    for (; i < text->size() && i < 8; ++i) {
        const char c = (*text)[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (Lower(c) >= 'a' && Lower(c) <= 'f')
            digit = Lower(c) - 'a' + 10;
        else
            break;
        v = v * 16 + static_cast<uint64_t>(digit);
    }
    if (i == 0)
        return false;
    *value = static_cast<uint32_t>(v);
    text->remove_prefix(i);
    return true;
}

bool Take(std::string_view *text, std::string_view literal)
{
    if (text->substr(0, literal.size()) != literal)
        return false;
    text->remove_prefix(literal.size());
    return true;
}

uint16_t Word(const uint8_t *structure, size_t offset)
{
    return static_cast<uint16_t>(structure[offset] | (structure[offset + 1] << 8));
}

// A structure's byte, 0 when the formatted area is too short for it.
uint8_t ByteAt(const uint8_t *structure, size_t offset) { return offset < structure[1] ? structure[offset] : 0; }
uint16_t WordAt(const uint8_t *structure, size_t offset)
{
    return offset + 1 < structure[1] ? Word(structure, offset) : 0;
}

} // namespace

uint32_t LogIfIndexCount(const INTERFACEMAPRECORD &record)
{
    // The record is packed: the count is copied out before std::clamp takes it by reference.
    const int32_t count = record.IfIndexCount;
    return static_cast<uint32_t>(std::clamp(count, 0, kNicMaxIfIndexes));
}
uint8_t LogMemberCount(const INTERFACEMAPRECORD &record) { return std::min(record.MemberCount, kNicMaxMembers); }
uint8_t LogVlanCount(const INTERFACEMAPRECORD &record) { return std::min(record.VlanCount, kNicMaxVlans); }

NIC_ROW PhysAdapterColumns(const PHYSADAPTERRECORD &r, uint32_t row)
{
    NIC_ROW cells;
    cells.reserve(43);
    cells.push_back(Integer(1, static_cast<int32_t>(row)));
    cells.push_back(Bytes(2, &r.IfIndex, sizeof r.IfIndex));
    cells.push_back(Integer(3, r.Role));
    cells.push_back(Bytes(4, r.MacAddress, sizeof r.MacAddress));
    cells.push_back(Integer(5, r.Slot));
    cells.push_back(Integer(6, static_cast<int32_t>(r.IoBase)));
    cells.push_back(Integer(7, 0));
    cells.push_back(Integer(8, r.Reserved1));
    cells.push_back(Integer(9, 0));
    cells.push_back(Integer(10, r.Port));
    cells.push_back(Integer(11, r.Duplex));
    cells.push_back(Integer(12, r.Condition));
    cells.push_back(Integer(13, r.Status));
    cells.push_back(Integer(14, r.Status2));
    cells.push_back(Integer(15, r.Reserved2));
    const uint32_t counters[] = {r.XmitOk,          r.RcvOk,
                                 r.XmitErrors,      r.RcvErrors,
                                 r.AlignmentErrors, r.FcsErrors,
                                 r.SingleCollisionFrames,
                                 r.MultipleCollisionFrames,
                                 r.DeferredTransmissions,
                                 r.LateCollisions,  r.ExcessiveCollisions,
                                 r.InternalMacTransmitErrors,
                                 r.CarrierSenseErrors,
                                 r.FrameTooLongs,   r.InternalMacReceiveErrors};
    for (uint32_t i = 0; i < 15; ++i)
        cells.push_back(Number(16 + i, NicCellType::Counter32, counters[i]));
    cells.push_back(Text(31, std::string()));
    cells.push_back(Text(32, RecordText(r.PartNumber)));
    cells.push_back(Number(33, NicCellType::Gauge32, SpeedGauge(r.SpeedMbps)));
    cells.push_back(Integer(34, r.ConfSpeedDuplex));
    cells.push_back(Integer(35, r.Reserved3));
    cells.push_back(Number(36, NicCellType::Gauge32, r.SpeedMbps));
    cells.push_back(Number(37, NicCellType::Counter32, r.InOctets));
    cells.push_back(Number(38, NicCellType::Counter32, r.OutOctets));
    cells.push_back(Text(39, RecordText(r.Name)));
    cells.push_back(Integer(40, -1));
    cells.push_back(Text(41, RecordText(r.Firmware)));
    cells.push_back(Integer(42, -1));
    cells.push_back(Text(43, RecordText(r.PciLocation)));
    return cells;
}

NIC_ROW LogMapColumns(const INTERFACEMAPRECORD &r, uint32_t row, const int32_t (*hyperV)[64])
{
    NIC_ROW cells;
    cells.reserve(23);
    cells.push_back(Integer(1, static_cast<int32_t>(row)));
    // The record's list, or the Hyper-V array in its place once that names an interface; the
    // count is the record's either way.
    static_assert(sizeof *hyperV == sizeof r.IfIndexList);
    uint8_t indexes[sizeof r.IfIndexList];
    if (hyperV != nullptr && (*hyperV)[0] != 0)
        std::memcpy(indexes, *hyperV, sizeof indexes);
    else
        std::memcpy(indexes, r.IfIndexList, sizeof indexes);
    cells.push_back(Bytes(2, indexes, LogIfIndexCount(r) * 4u));
    cells.push_back(Text(3, RecordText(r.Description)));
    cells.push_back(Integer(4, r.Kind));
    cells.push_back(Integer(5, r.MemberCount));
    cells.push_back(Integer(6, r.OkMemberCount));
    cells.push_back(Bytes(7, r.MemberIndexes, LogMemberCount(r)));
    static const uint8_t kNoMac[6] = {};
    const bool noMac = std::memcmp(r.MacAddress, kNoMac, sizeof kNoMac) == 0;
    cells.push_back(Bytes(8, r.MacAddress, noMac ? 0 : sizeof r.MacAddress));
    cells.push_back(Integer(9, r.TeamMode));
    cells.push_back(Integer(10, r.Condition));
    cells.push_back(Integer(11, r.Status));
    cells.push_back(Number(12, NicCellType::Counter32, r.TeamWord));
    cells.push_back(Text(13, RecordText(r.ReservedText)));
    cells.push_back(Number(14, NicCellType::Gauge32, SpeedGauge(r.SpeedMbps)));
    cells.push_back(Integer(15, LogVlanCount(r)));
    cells.push_back(Bytes(16, r.VlanIndexList, LogVlanCount(r)));
    cells.push_back(Number(17, NicCellType::TimeTicks, r.LastChange));
    cells.push_back(Integer(18, static_cast<int32_t>(r.TeamFlags)));
    cells.push_back(Number(19, NicCellType::Gauge32, r.SpeedMbps));
    cells.push_back(Text(20, RecordText(r.IPv6Address)));
    cells.push_back(Text(21, RecordText(r.ConnectionName)));
    cells.push_back(Integer(22, r.Dhcp));
    cells.push_back(Text(23, std::string()));
    return cells;
}

NIC_ROW VlanColumns(const VLANMAPRECORD &r, uint32_t row)
{
    return {Integer(1, static_cast<int32_t>(row)),   Integer(2, r.ParentLogicalIndex),
            Integer(3, r.IfIndex),                   Integer(4, r.VlanId),
            Text(5, RecordText(r.VlanName)),         Text(6, RecordText(r.VlanIPv6Address)),
            Text(7, RecordText(r.VlanConnectionName))};
}

bool NicNameEquals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

bool NicNameBegins(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && NicNameEquals(text.substr(0, prefix.size()), prefix);
}

std::string NicLatinToUtf8(std::string_view text)
{
    // Windows-1252 at 0x80 to 0x9F; its five holes stand for themselves (C1 controls).
    static const uint16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                       0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        uint32_t code = c;
        if (c >= 0x80 && c < 0xA0)
            code = kHigh[c - 0x80];
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

bool IsTeamDescription(std::wstring_view description)
{
    static constexpr std::wstring_view kTeam = L"QZ Network Team #";
    if (description.substr(0, kTeam.size()) != kTeam)
        return false;
    for (wchar_t c : description.substr(kTeam.size()))
        if (c < L'0' || c > L'9')
            return false;
    return true;
}

NIC_PCI_IDENTITY ParsePciInstanceId(std::string_view id)
{
    NIC_PCI_IDENTITY parsed;
    uint32_t vendor = 0, device = 0, subsystem = 0, revision = 0;
    if (Take(&id, "PCI\\VEN_") && ReadHex(&id, &vendor) && Take(&id, "&DEV_") && ReadHex(&id, &device) &&
        Take(&id, "&SUBSYS_") && ReadHex(&id, &subsystem) && Take(&id, "&REV_") && ReadHex(&id, &revision)) {
        parsed.vendor = vendor;
        parsed.device = device;
        parsed.subsystem = subsystem;
    }
    return parsed;
}

bool ParsePciLocation(std::string_view location, uint32_t *bus, uint32_t *device, uint32_t *function)
{
    uint32_t b = 0, d = 0, f = 0;
    if (!Take(&location, "0000:") || !ReadHex(&location, &b) || !Take(&location, ":") || !ReadHex(&location, &d) ||
        !Take(&location, ".") || !ReadHex(&location, &f))
        return false;
    *bus = b;
    *device = d;
    *function = f;
    return true;
}

bool IsFirmwareModel(uint32_t pciId, uint32_t subsystemId)
{
    for (const NIC_FIRMWARE_MODEL &model : kNicFirmwareModels)
        if (model.pciId == pciId && model.subsystemId == subsystemId)
            return true;
    return false;
}

bool SmbiosNicFirmware(const CSMBIOSTable &table, int32_t slot, std::string_view pciLocation, std::string *firmware)
{
    if (!table.IsValid())
        return false;
    uint32_t bus = 0, device = 0, function = 0;
    const bool located = ParsePciLocation(pciLocation, &bus, &device, &function);
    bool found = false;
    for (unsigned i = 0;; ++i) {
        const uint8_t *candidate = table.FindStructure(203, i);
        if (candidate == nullptr)
            break;
        const std::string_view type = table.GetString(candidate, ByteAt(candidate, 0x1D));
        const std::string_view where = table.GetString(candidate, ByteAt(candidate, 0x1F));
        if (type.find("NIC") == std::string_view::npos)
            continue;
        int32_t candidateSlot;
        if (where.find("Embedded") != std::string_view::npos) {
            candidateSlot = 0;
        } else {
            const size_t at = where.find("Slot ");
            if (at == std::string_view::npos)
                continue;
            candidateSlot = 0;
            for (size_t k = at + 5; k < where.size() && where[k] >= '0' && where[k] <= '9' && candidateSlot < 100000; ++k)
                candidateSlot = candidateSlot * 10 + (where[k] - '0');
        }
        if (candidateSlot != slot || !located)
            continue;
        const uint16_t handle = WordAt(candidate, 2), related = WordAt(candidate, 4);
        for (unsigned j = 0;; ++j) {
            const uint8_t *record = table.FindStructure(240, j);
            if (record == nullptr)
                break;
            if (WordAt(record, 4) != handle)
                continue;
            // A card in a slot names its slot structure, an embedded one its onboard device.
            const uint8_t slotType = slot != 0 ? 9 : 41;
            const size_t busAt = slot != 0 ? 0x0F : 9, devFnAt = slot != 0 ? 0x10 : 0x0A;
            for (unsigned k = 0;; ++k) {
                const uint8_t *place = table.FindStructure(slotType, k);
                if (place == nullptr)
                    break;
                if (WordAt(place, 2) != related)
                    continue;
                if (devFnAt < place[1] && ByteAt(place, busAt) == bus && (ByteAt(place, devFnAt) >> 3) == device) {
                    *firmware = table.GetString(record, ByteAt(record, 0x0A));
                    found = true;
                    break;
                }
            }
        }
    }
    return found;
}

void SetRecordFirmware(PHYSADAPTERRECORD *record, std::string_view firmware)
{
    const size_t length = std::min(firmware.size(), sizeof record->Firmware - 1);
    std::memset(record->Firmware, 0, sizeof record->Firmware);
    std::memcpy(record->Firmware, firmware.data(), length);
}

std::string GetSystemIdString(const CSMBIOSTable &table)
{
    const uint8_t *structure = table.FindStructure(195, 0);
    if (structure == nullptr)
        return std::string();
    return table.GetString(structure, ByteAt(structure, 4));
}

std::string NicSystemIdText(std::string_view systemId)
{
    const std::string_view tag(kNicSystemIdTag, 5);
    if (systemId.substr(0, tag.size()) != tag)
        return "N/A";
    return "ZDT" + std::string(systemId.substr(tag.size(), 4));
}

int32_t NicTrapFlags(const TRAPRECORD &record)
{
    return static_cast<int32_t>(static_cast<uint32_t>(record.DhcpEnabled) * 2u + (record.MemberStatus & 7u) * 4u);
}
