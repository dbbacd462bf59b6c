#include "blackbox_recorder.h"

#include "blackbox.h"

#include <mutex>

namespace {
// Usage posts come from thread-pool threads.
std::mutex s_Lock;
} // namespace

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

std::vector<SOFTWARE_POST> &RecordedSoftwarePosts()
{
    static std::vector<SOFTWARE_POST> posts;
    return posts;
}

std::vector<USAGE_POST> &RecordedUsagePosts()
{
    static std::vector<USAGE_POST> posts;
    return posts;
}

void ClearRecordedPosts()
{
    std::lock_guard<std::mutex> hold(s_Lock);
    RecordedOsInfoPosts().clear();
    RecordedSoftwarePosts().clear();
    RecordedUsagePosts().clear();
}

int PostDriverRecord(uint32_t code, uint16_t flags, const char *name, const char *file, const char *version,
                     const char *timestamp, const char *vendor, const char *pciDevices)
{
    RecordedSoftwarePosts().push_back({code, flags, {name, file, version, timestamp, vendor, pciDevices}});
    return 0;
}

int PostServiceRecord(uint32_t code, uint16_t flags, const char *name, const char *file, const char *version,
                      const char *timestamp, const char *vendor)
{
    RecordedSoftwarePosts().push_back({code, flags, {name, file, version, timestamp, vendor}});
    return 0;
}

int PostSoftwareRecord(uint32_t code, uint16_t flags, const char *vendor, const char *name, const char *version,
                       const char *timestamp)
{
    RecordedSoftwarePosts().push_back({code, flags, {vendor, name, version, timestamp}});
    return 0;
}

int PostOsUpdateRecord(uint32_t code, uint16_t flags, const char *description, const char *identifier,
                       const char *timestamp)
{
    RecordedSoftwarePosts().push_back({code, flags, {description, identifier, timestamp}});
    return 0;
}

int PostProcessorUsageRecord(const uint8_t *usage, uint32_t processorCount)
{
    std::lock_guard<std::mutex> hold(s_Lock);
    RecordedUsagePosts().push_back({'P', std::vector<uint8_t>(usage, usage + processorCount * 2), {processorCount}, 0});
    return 0;
}

int PostOsUsageRecord(uint32_t processCount, uint32_t threadCount, uint32_t handleCount, uint8_t userPercent,
                      uint8_t kernelPercent)
{
    std::lock_guard<std::mutex> hold(s_Lock);
    RecordedUsagePosts().push_back({'O', {}, {processCount, threadCount, handleCount, userPercent, kernelPercent}, 0});
    return 0;
}

int PostMemoryUsageRecord(uint64_t physicalSize, uint64_t physicalFree, uint64_t virtualSize, uint64_t virtualFree)
{
    std::lock_guard<std::mutex> hold(s_Lock);
    RecordedUsagePosts().push_back({'M', {}, {physicalSize, physicalFree, virtualSize, virtualFree}, 0});
    return 0;
}
