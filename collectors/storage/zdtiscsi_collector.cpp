#include "zdtiscsi_collector.h"

#include "service_parameters.h"

ZDTiSCSIDataCollector s_ZDTiSCSIDataCollector;

ZDTiSCSIDataCollector::ZDTiSCSIDataCollector() : DATACOLLECTOR(L"ZDTISCSI", 169, 1, 5, &s_ServiceParameters.EnableZDTISCSI)
{}

ZDTiSCSIDataCollector::~ZDTiSCSIDataCollector() = default;
