#include "mib_status.h"

#include "enterprise_arc.h"
#include "store_writers.h"

using namespace mibstatus;

MIB_STATUS_OBJECTS::MIB_STATUS_OBJECTS()
{
    array[kHeaderVersion] = kVersion;
    array[kHeaderWorstCondition] = 1;
    array[kHeaderMarker] = kMarker;
    array[kHeaderReserved] = 0;
    arrayLength = kEntryBytes;
}

void MIB_STATUS_OBJECTS::Add(const MIB_GROUP_STATUS &group)
{
    if (group.group == 0 || group.group > kHighestGroup)
        return;
    const uint32_t length = static_cast<uint32_t>(kEntryBytes * (group.group + 1));
    if (length > arrayLength)
        arrayLength = length;
    uint8_t *entry = array + kEntryBytes * group.group;
    entry[kStatus] = group.status;
    entry[kCondition] = group.condition;
    entry[kRevisionMajor] = group.revisionMajor;
    entry[kRevisionMinor] = group.revisionMinor;
    if (group.condition > array[kHeaderWorstCondition])
        array[kHeaderWorstCondition] = group.condition;
    for (const SummarySlot &slot : kSummarySlots)
        if (slot.group == group.group)
            summary[slot.offset] = group.condition;
}

bool WriteMibStatusObjects(DATASTORE *staging, const MIB_STATUS_OBJECTS &objects)
{
    if (staging == nullptr)
        return false;
    DATASTORE_CURSOR cursor(staging);
    if (!cursor.Open(EnterpriseOid({kHostGroup, kStatusBranch, kStatusGroup}), false))
        return false;
    const bool array = cursor.SetOctetString(kArrayScalar, objects.arrayLength, objects.array);
    const bool summary = cursor.SetOctetString(kSummaryScalar, kSummaryBytes, objects.summary);
    return array && summary;
}
