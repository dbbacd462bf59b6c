// The memory group: four scalars in megabytes from the performance information.
#include "zdthost_collector.h"

#include "common_log.h"
#include "enterprise_arc.h"
#include "store_writers.h"

#include <psapi.h>

std::optional<MEMORY_PAGES> ReadMemoryPages()
{
    PERFORMANCE_INFORMATION information = {};
    information.cb = sizeof information;
    if (!K32GetPerformanceInfo(&information, sizeof information))
        return std::nullopt;
    return MEMORY_PAGES{information.PhysicalTotal, information.PhysicalAvailable, information.CommitLimit,
                        information.CommitTotal, information.PageSize};
}

void WriteMemoryScalars(DATASTORE *staging, const std::optional<MEMORY_PAGES> &pages)
{
    const MEMORY_MEGABYTES megabytes = ComputeMemoryMegabytes(pages);
    DATASTORE_CURSOR cursor(staging);
    if (!cursor.Open(EnterpriseOid({11, 2, 13}), true))
        return;
    cursor.SetInteger(1, megabytes.physicalTotal);
    cursor.SetInteger(2, megabytes.physicalAvailable);
    cursor.SetInteger(3, megabytes.commitLimit);
    cursor.SetInteger(4, megabytes.commitAvailable);
}

void ZDTHOSTDataCollector::Collect_zdtHoMemory(int, DATASTORE *staging)
{
    LOG_VERBOSE(L"ZDTHOSTDataCollector::Collect_zdtHoMemory", L"ZDTHOSTDataCollector::Collect_zdtHoMemory\n");
    WriteMemoryScalars(staging, ReadMemoryPages());
}
