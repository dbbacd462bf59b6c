#pragma once
// The reply of IOCTL_SCSI_GET_INQUIRY_DATA: a count of buses, per bus the offset of a chain of
// inquiry entries, each entry with its address, its INQUIRY data and the offset of the next.
// Every offset comes from the driver: the walk stays inside the bytes returned and stops a chain
// at an offset it has seen before.

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t SCSI_BUS_DATA_OFFSET = 4;
constexpr size_t SCSI_BUS_DATA_SIZE = 8;
constexpr size_t SCSI_INQUIRY_ENTRY_HEADER = 12;

struct SCSI_INQUIRY_ENTRY {
    uint8_t Bus;            // index of the bus in the reply
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t DeviceClaimed;
    const uint8_t *Inquiry;  // inside the reply
    size_t InquiryLength;    // the entry's length, cut to the bytes returned
};

std::vector<SCSI_INQUIRY_ENTRY> WalkInquiryData(const uint8_t *reply, size_t returned);
