#include "zdtnic_collector.h"

#include "service_parameters.h"

ZDTNICDataCollector s_ZDTNICDataCollector;

ZDTNICDataCollector::ZDTNICDataCollector() : DATACOLLECTOR(L"ZDTNIC", 18, 1, 48, &s_ServiceParameters.EnableZDTNIC)
{}

ZDTNICDataCollector::~ZDTNICDataCollector() = default;
