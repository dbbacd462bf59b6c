#include "zdtstdeq_collector.h"

#include "service_parameters.h"

ZDTSTDEQDataCollector s_ZDTSTDEQDataCollector;

ZDTSTDEQDataCollector::ZDTSTDEQDataCollector() : DATACOLLECTOR(L"ZDTSTDEQ", 0, 0, 0, &s_ServiceParameters.EnableZDTSTDEQ)
{}

ZDTSTDEQDataCollector::~ZDTSTDEQDataCollector() = default;
