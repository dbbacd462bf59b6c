#include "blackbox_recorder.h"

#include "os_info_record.h"

std::vector<OS_INFO_POST> &RecordedOsInfoPosts()
{
    static std::vector<OS_INFO_POST> posts;
    return posts;
}

void PostOsInfoRecord(uint8_t type, uint8_t vendor, uint16_t bits, const char *osName, const char *osVersion,
                      uint16_t major, uint16_t minor, uint16_t build, uint16_t patch, uint16_t servicePack)
{
    RecordedOsInfoPosts().push_back(
        {type, vendor, bits, osName ? osName : "(null)", osVersion ? osVersion : "(null)", major, minor, build, patch,
         servicePack});
}
