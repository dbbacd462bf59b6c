#include "collector_list.h"

#include "mib2_collector.h"
#include "zdtfca_collector.h"
#include "zdthost_collector.h"
#include "zdtide_collector.h"
#include "zdtiscsi_collector.h"
#include "zdtnic_collector.h"
#include "zdtsas_collector.h"
#include "zdtscsi_collector.h"
#include "zdtstdeq_collector.h"

// The order of every pass and of registration. The standard-equipment collector comes first: it
// carries the event of TriggerAllCollections while it is enabled.
DATACOLLECTOR *s_CollectorList[] = {
    &s_ZDTSTDEQDataCollector, &s_ZDTHOSTDataCollector, &s_ZDTSCSIDataCollector,
    &s_ZDTSASDataCollector,   &s_ZDTIDEDataCollector,  &s_ZDTFCADataCollector,
    &s_ZDTiSCSIDataCollector, &s_ZDTNICDataCollector,  &s_MIB2DataCollector,
    nullptr,
};
