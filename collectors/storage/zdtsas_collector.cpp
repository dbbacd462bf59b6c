#include "zdtsas_collector.h"

#include "service_parameters.h"

ZDTSASDataCollector s_ZDTSASDataCollector;

ZDTSASDataCollector::ZDTSASDataCollector() : DATACOLLECTOR(L"ZDTSAS", 0, 0, 0, &s_ServiceParameters.EnableZDTSAS)
{}

ZDTSASDataCollector::~ZDTSASDataCollector() = default;
