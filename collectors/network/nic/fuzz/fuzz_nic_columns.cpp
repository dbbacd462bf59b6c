// The NIC group's rows from any value bytes of any length: the first byte picks the record kind,
// the rest is the key's data as the registry hands it over.
#include "nic_columns.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

template <class Record> void Check(const NIC_ROW &row, const Record &)
{
    for (const NIC_CELL &cell : row) {
        if (cell.type == NicCellType::Octets && cell.bytes.size() > sizeof(Record))
            __builtin_trap();
        if (cell.type == NicCellType::Text) {
            if (cell.bytes.size() >= sizeof(Record) || std::memchr(cell.bytes.data(), 0, cell.bytes.size()) != nullptr)
                __builtin_trap();
            const std::string utf8 = NicLatinToUtf8(cell.bytes);
            if (utf8.size() > 3 * cell.bytes.size())
                __builtin_trap();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t kind = data[0] % 4;
    ++data;
    --size;
    uint32_t row = 1;
    switch (kind) {
    case 0:
        for (const auto &r : DecodeRecordArray<PHYSADAPTERRECORD>(data, size))
            Check(PhysAdapterColumns(r, row++), r);
        break;
    case 1:
        for (const auto &r : DecodeRecordArray<INTERFACEMAPRECORD>(data, size)) {
            const NIC_ROW cells = LogMapColumns(r, row++);
            Check(cells, r);
            if (cells[1].bytes.size() > 4u * kNicMaxIfIndexes || cells[6].bytes.size() > kNicMaxMembers ||
                cells[15].bytes.size() > kNicMaxVlans)
                __builtin_trap();
        }
        break;
    case 2:
        for (const auto &r : DecodeRecordArray<VLANMAPRECORD>(data, size))
            Check(VlanColumns(r, row++), r);
        break;
    default: {
        // Texts and identities the collector parses.
        const std::string_view text(reinterpret_cast<const char *>(data), size);
        ParsePciInstanceId(text);
        uint32_t bus, device, function;
        ParsePciLocation(text, &bus, &device, &function);
        NicSystemIdText(text);
        NicNameBegins(text, "DSC Manage");
        PHYSADAPTERRECORD record{};
        SetRecordFirmware(&record, text);
        if (record.Firmware[sizeof record.Firmware - 1] != 0)
            __builtin_trap();
        break;
    }
    }
    return 0;
}
