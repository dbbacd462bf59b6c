#include "inquiry_walk.h"

#include "byte_reader.h"

#include <set>

std::vector<SCSI_INQUIRY_ENTRY> WalkInquiryData(const uint8_t *reply, size_t returned)
{
    std::vector<SCSI_INQUIRY_ENTRY> entries;
    ByteReader reader(reply, returned);
    uint8_t buses = 0;
    if (!reader.Bytes(0, &buses, 1))
        return entries;
    std::set<uint32_t> seen;
    for (unsigned bus = 0; bus < buses; ++bus) {
        size_t busAt = SCSI_BUS_DATA_OFFSET + bus * SCSI_BUS_DATA_SIZE;
        uint32_t offset = 0;
        if (!reader.U32(busAt + 4, &offset))
            break;
        while (offset != 0 && seen.insert(offset).second) {
            const uint8_t *header = reader.At(offset, SCSI_INQUIRY_ENTRY_HEADER);
            if (header == nullptr)
                break;
            uint32_t length = 0;
            uint32_t next = 0;
            reader.U32(offset + 4, &length);
            reader.U32(offset + 8, &next);
            size_t dataAt = offset + SCSI_INQUIRY_ENTRY_HEADER;
            size_t available = returned - dataAt;
            SCSI_INQUIRY_ENTRY entry;
            entry.Bus = static_cast<uint8_t>(bus);
            entry.PathId = header[0];
            entry.TargetId = header[1];
            entry.Lun = header[2];
            entry.DeviceClaimed = header[3];
            entry.InquiryLength = length < available ? length : available;
            entry.Inquiry = reply + dataAt;
            entries.push_back(entry);
            offset = next;
        }
    }
    return entries;
}
