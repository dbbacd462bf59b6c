#include "zdtide_collector.h"

#include "ide_layer.h"
#include "service_parameters.h"

ZDTIDEDataCollector s_ZDTIDEDataCollector;

ZDTIDEDataCollector::ZDTIDEDataCollector() : DATACOLLECTOR(L"ZDTIDE", 14, 1, 12, &s_ServiceParameters.EnableZDTIDE)
{
    // The device layer starts with the program, enabled or not; what it finds is published for
    // other programs too. Its result shows in the records, not here.
    IdeInit();
}

ZDTIDEDataCollector::~ZDTIDEDataCollector() = default;
