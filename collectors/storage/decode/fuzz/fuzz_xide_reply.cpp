// "$XIDE$" replies of codes 1, 17, 18 and 21: any bytes; counts never exceed the entries the
// block holds.
#include "ata_decode.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> block(data, data + size);
    const uint8_t *p = block.data();
    int exceeded = XideSmartExceeded(p, size);
    if (exceeded < -1 || exceeded > 1)
        std::abort();
    XIDE_CONTROLLER_INFO_REPLY info;
    DecodeXideControllerInfo(p, size, &info);
    XIDE_MEMBER_LIST_REPLY list;
    if (DecodeXideMemberList(p, size, &list)) {
        if (list.Count > XIDE_MEMBER_LIST_MAX)
            std::abort();
        for (uint32_t i = 0; i < list.Count; ++i)
            if (std::strlen(list.Entries[i].Model) > 40 || std::strlen(list.Entries[i].Serial) > 20)
                std::abort();
    }
    XIDE_LOGICAL_DRIVE_REPLY drive;
    if (DecodeXideLogicalDrive(p, size, &drive) && drive.Count > XIDE_DRIVE_MEMBERS_MAX)
        std::abort();
    return 0;
}
