#include "zdtscsi_collector.h"

#include "service_parameters.h"

ZDTSCSIDataCollector s_ZDTSCSIDataCollector;

ZDTSCSIDataCollector::ZDTSCSIDataCollector() : DATACOLLECTOR(L"ZDTSCSI", 5, 1, 43, &s_ServiceParameters.EnableZDTSAS)
{}

ZDTSCSIDataCollector::~ZDTSCSIDataCollector() = default;
