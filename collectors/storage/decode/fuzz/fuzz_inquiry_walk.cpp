// The inquiry-data reply of a SCSI port: whatever the offsets, the walk reads only inside the
// bytes returned and ends.
#include "inquiry_walk.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> reply(data, data + size);
    for (const SCSI_INQUIRY_ENTRY &entry : WalkInquiryData(reply.data(), reply.size())) {
        if (entry.InquiryLength != 0) {
            if (entry.Inquiry < reply.data() || entry.Inquiry + entry.InquiryLength > reply.data() + reply.size())
                std::abort();
            volatile uint8_t last = entry.Inquiry[entry.InquiryLength - 1];
            (void)last;
        }
    }
    return 0;
}
