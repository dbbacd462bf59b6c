#include "host_rules.h"

#include <climits>
#include <cstring>

namespace {

constexpr char kAzureStackHci[] = "azure stack hci";

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

int32_t Saturate32(uint64_t value)
{
    return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

// The first '.' of text, when it lies after the first character.
const char *SplitPoint(const char *text)
{
    const char *dot = std::strchr(text, '.');
    return dot != nullptr && dot != text ? dot : nullptr;
}

int32_t Version10ServerCode(const HOST_OS_FACTS &facts, const char *osName)
{
    if (facts.architecture != kArchitectureAmd64)
        return 1;
    const bool hci = ContainsAzureStackHci(osName);
    if (facts.build >= 20285)
        return hci ? 61 : 59;
    if (facts.build >= 17604)
        return hci ? 60 : 57;
    if (facts.build >= 1057)
        return 55;
    return 3;
}

} // namespace

bool ContainsAzureStackHci(const char *text)
{
    if (text == nullptr)
        return false;
    const size_t needle = sizeof(kAzureStackHci) - 1;
    for (const char *start = text; *start != '\0'; ++start) {
        size_t matched = 0;
        while (matched < needle && start[matched] != '\0' && LowerAscii(start[matched]) == kAzureStackHci[matched])
            ++matched;
        if (matched == needle)
            return true;
    }
    return false;
}

int32_t HostOsTypeCode(const HOST_OS_FACTS &facts, const char *osName)
{
    const bool workstation = facts.productType == kProductTypeWorkstation;
    const bool amd64 = facts.architecture == kArchitectureAmd64;
    const bool ia64 = facts.architecture == kArchitectureIa64;
    if (facts.major == 5) {
        switch (facts.minor) {
        case 0:
            return 15;
        case 1:
            return amd64 ? 34 : 33;
        case 2:
            return amd64 ? 18 : (ia64 ? 20 : 17);
        }
        return 1;
    }
    if (facts.major == 6) {
        switch (facts.minor) {
        case 0:
            if (workstation)
                return amd64 ? 36 : 35;
            return amd64 ? 22 : (ia64 ? 23 : 21);
        case 1:
            return workstation ? (amd64 ? 28 : 27) : 37;
        case 2:
            return workstation ? (amd64 ? 30 : 29) : 26;
        case 3:
            return workstation ? (amd64 ? 32 : 1) : 38;
        }
        return 1;
    }
    if (facts.major == 10 && facts.minor == 0)
        return workstation ? (amd64 ? 58 : 1) : Version10ServerCode(facts, osName);
    return 1;
}

int32_t ParseLeadingInt(const char *text)
{
    if (text == nullptr)
        return 0;
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > int64_t(INT32_MAX) + 1)
            value = int64_t(INT32_MAX) + 1;
    }
    if (negative)
        return static_cast<int32_t>(-value);
    return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

void SplitOsVersion(const char *version, uint32_t *major, uint32_t *minor)
{
    *major = 4;
    *minor = 0;
    if (version == nullptr)
        return;
    const char *first = SplitPoint(version);
    if (first == nullptr)
        return;
    const char *rest = first + 1;
    if (SplitPoint(rest) == nullptr)
        return;
    // atoi stops at the '.', so the leading numbers need no copies.
    *major = static_cast<uint32_t>(ParseLeadingInt(version));
    *minor = static_cast<uint32_t>(ParseLeadingInt(rest));
}

MEMORY_MEGABYTES ComputeMemoryMegabytes(const std::optional<MEMORY_PAGES> &pages)
{
    MEMORY_MEGABYTES result;
    // A page size of 0 (seen while a system starts) or above a megabyte has no whole number of
    // pages per megabyte to divide by.
    if (!pages || pages->pageSize == 0 || pages->pageSize > 1048576)
        return result;
    const uint32_t perMb = static_cast<uint32_t>(1048576 / pages->pageSize);
    const auto mb = [perMb](uint64_t count) { return static_cast<int32_t>(static_cast<uint32_t>(count / perMb + 1)); };
    result.physicalTotal = mb(pages->physicalTotal);
    result.physicalAvailable = mb(pages->physicalAvailable);
    result.commitLimit = mb(pages->commitLimit);
    // A charge above the limit leaves nothing, not a wrapped count.
    result.commitAvailable = mb(pages->commitLimit > pages->commitTotal ? pages->commitLimit - pages->commitTotal : 0);
    return result;
}

VOLUME_USAGE ComputeVolumeUsage(const std::optional<VOLUME_SPACE> &space)
{
    VOLUME_USAGE usage;
    if (!space)
        return usage;
    const uint64_t usedBytes = space->totalBytes > space->availableBytes ? space->totalBytes - space->availableBytes : 0;
    const uint64_t usedClusters =
        space->totalClusters > space->freeClusters ? space->totalClusters - space->freeClusters : 0;
    usage.totalMb = Saturate32(space->totalBytes >> 20);
    usage.usedMb = Saturate32(usedBytes >> 20);
    // usedClusters <= totalClusters < 2^64, so usedClusters * 100 needs care only above 2^57.
    if (space->totalClusters == 0)
        usage.usedPercent = 0;
    else if (usedClusters <= UINT64_MAX / 100)
        usage.usedPercent = static_cast<int32_t>(usedClusters * 100 / space->totalClusters);
    else
        usage.usedPercent = static_cast<int32_t>(usedClusters / (space->totalClusters / 100));
    usage.totalClusters = Saturate32(space->totalClusters);
    usage.usedClusters = Saturate32(usedClusters);
    return usage;
}

HEARTBEAT_UNIT ParseHeartbeatTimeFormat(const char *text)
{
    struct NAMED_UNIT {
        const char *name;
        HEARTBEAT_UNIT unit;
    };
    static constexpr NAMED_UNIT kUnits[] = {
        {"Seconds", HeartbeatSeconds},
        {"Minute(s)", HeartbeatMinutes},
        {"Hour(s)", HeartbeatHours},
        {"Day(s)", HeartbeatDays},
    };
    if (text != nullptr)
        for (const NAMED_UNIT &named : kUnits)
            if (std::strcmp(text, named.name) == 0)
                return named.unit;
    return HeartbeatMinutes;
}

uint64_t HeartbeatPeriodSeconds(uint32_t timeout, HEARTBEAT_UNIT unit)
{
    static constexpr uint64_t kSecondsPerUnit[] = {1, 60, 3600, 86400};
    const uint64_t perUnit = unit < 4 ? kSecondsPerUnit[unit] : 60;
    // At most 2^32 x 86400, far below 2^64.
    return uint64_t(timeout) * perUnit;
}

HEARTBEAT_ACTIONS HEARTBEAT_STATE::Pass(const HEARTBEAT_VALUES &values)
{
    HEARTBEAT_ACTIONS actions;
    if (values.keyOpened) {
        if (values.stopTrap.value_or(0) != 0) {
            // Stopped: no trap and nothing written; the elapsed time waits as it is.
            m_Periodic = false;
            return actions;
        }
        if (values.startTrap.value_or(0) != 0 && values.periodicTrapEnabled) {
            m_Periodic = *values.periodicTrapEnabled != 0;
            if (m_Periodic) {
                actions.periodicallySending = 1;
                if (values.timeout) {
                    HEARTBEAT_UNIT unit = HeartbeatMinutes;
                    if (values.timeFmt)
                        unit = ParseHeartbeatTimeFormat(values.timeFmt->c_str());
                    const uint64_t period = HeartbeatPeriodSeconds(*values.timeout, unit);
                    if (m_Elapsed == 0) {
                        actions.sendTrap = true;
                    } else if (m_Elapsed > period) {
                        actions.sendTrap = true;
                        m_Elapsed = 0;
                    }
                }
            } else {
                actions.clearStartTrapEcho = true;
            }
        }
    }
    if (!m_Periodic) {
        m_Elapsed = 0;
        actions.periodicallySending = 0;
    } else if (m_Elapsed <= UINT64_MAX - kPassSeconds) {
        m_Elapsed += kPassSeconds;
    }
    return actions;
}
