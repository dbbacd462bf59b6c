#include "mib2_collector.h"

#include "service_parameters.h"

MIB2DataCollector s_MIB2DataCollector;

MIB2DataCollector::MIB2DataCollector() : DATACOLLECTOR(L"MIB-2", 0, 0, 0, &s_ServiceParameters.EnableMIB2)
{
    SetReadsRelogFlags();
}

MIB2DataCollector::~MIB2DataCollector() = default;
