// Registry data of any length, as the service's readers get it, through every decoder.
#include "nic_records.h"

#include <cstddef>
#include <cstdint>

namespace {

template <class Record> void DecodeAll(const uint8_t *data, size_t size)
{
    Record one;
    if (DecodeRecord(data, size, &one))
        (void)RecordText(reinterpret_cast<const char *>(&one), sizeof(one));
    size_t trailing = 0;
    std::vector<Record> records = DecodeRecordArray<Record>(data, size, &trailing);
    if (records.size() * sizeof(Record) + trailing != size)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    DecodeAll<INTERFACEMAPRECORD>(data, size);
    DecodeAll<VLANMAPRECORD>(data, size);
    DecodeAll<PHYSADAPTERRECORD>(data, size);
    DecodeAll<ETHERNETSTATSRECORD>(data, size);
    DecodeAll<TRAPRECORD>(data, size);
    DecodeAll<MIBSTATSRECORD>(data, size);
    PHYSADAPTERRECORD record;
    if (DecodeRecord(data, size, &record)) {
        (void)RecordText(record.Name);
        (void)RecordText(record.PartNumber);
        (void)RecordText(record.Firmware);
        (void)RecordText(record.PciLocation);
    }
    return 0;
}
