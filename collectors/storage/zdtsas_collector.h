#pragma once
#include "datacollector.h"

// The SAS collector. Its objects lie in the SCSI group (it has no group of its own) and it shares
// the SCSI collector's switch. Registration and collection come with the SAS discovery layer;
// until then it runs the base behaviour.
class ZDTSASDataCollector : public DATACOLLECTOR {
public:
    ZDTSASDataCollector();
    ~ZDTSASDataCollector() override;
};

extern ZDTSASDataCollector s_ZDTSASDataCollector;
