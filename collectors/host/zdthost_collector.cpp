#include "zdthost_collector.h"

#include "service_parameters.h"

ZDTHOSTDataCollector s_ZDTHOSTDataCollector;

ZDTHOSTDataCollector::ZDTHOSTDataCollector() : DATACOLLECTOR(L"ZDTHOST", 11, 1, 47, &s_ServiceParameters.EnableZDTHOST)
{
    SetReadsRelogFlags();
}

ZDTHOSTDataCollector::~ZDTHOSTDataCollector() = default;
