#include "zdtfca_collector.h"

#include "service_parameters.h"

ZDTFCADataCollector s_ZDTFCADataCollector;

ZDTFCADataCollector::ZDTFCADataCollector() : DATACOLLECTOR(L"ZDTFCA", 16, 1, 34, &s_ServiceParameters.EnableZDTFCA)
{}

ZDTFCADataCollector::~ZDTFCADataCollector() = default;
