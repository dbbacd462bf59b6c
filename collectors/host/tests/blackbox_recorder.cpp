#include "blackbox_recorder.h"

#include "blackbox.h"

std::vector<OS_INFO_POST> &RecordedOsInfoPosts()
{
    static std::vector<OS_INFO_POST> posts;
    return posts;
}

int PostOsInfoRecord(uint8_t type, uint8_t vendor, uint16_t bits, const char *osName, const char *osVersion,
                     const uint16_t version[4], uint16_t servicePack)
{
    RecordedOsInfoPosts().push_back({type, vendor, bits, osName ? osName : "(null)", osVersion ? osVersion : "(null)",
                                     version[0], version[1], version[2], version[3], servicePack});
    return 0;
}
