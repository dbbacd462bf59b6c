#include "zdtide_collector.h"

#include "service_parameters.h"

ZDTIDEDataCollector s_ZDTIDEDataCollector;

ZDTIDEDataCollector::ZDTIDEDataCollector() : DATACOLLECTOR(L"ZDTIDE", 14, 1, 12, &s_ServiceParameters.EnableZDTIDE)
{}

ZDTIDEDataCollector::~ZDTIDEDataCollector() = default;
