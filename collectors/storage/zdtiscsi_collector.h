#pragma once
#include "datacollector.h"
#include "iscsi_records.h"

#include <windows.h>

#include <vector>

// The iSCSI collector of group 169, the highest group of the service (it sets the length of the
// status array). Each collection refreshes the iSCSI records in the registry from WMI, reads them
// back into its five tables, and sends a trap when the session count of the initiator rose or
// fell since the previous collection.
class ZDTiSCSIDataCollector : public DATACOLLECTOR {
public:
    ZDTiSCSIDataCollector();
    ~ZDTiSCSIDataCollector() override;

    int Register(AXSESSION *session) override;
    void Collect(int firstRun, DATASTORE *staging) override;

    LONG GetIscsiData(std::vector<ISCSI_INSTANCE_RECORD> *list);
    LONG CheckIscsiChanges();
    void CheckIscsiTraps(const std::vector<ISCSI_INSTANCE_RECORD> &oldList,
                         const std::vector<ISCSI_INSTANCE_RECORD> &newList);
    void SendIscsiTrap(uint32_t trapNumber, const ISCSI_INSTANCE_RECORD &record);

    void Collect_zdtIscsiInst(DATASTORE *staging);
    void Collect_zdtIscsiPortal(DATASTORE *staging);
    void Collect_zdtIscsiInitiator(DATASTORE *staging);
    void Collect_zdtIscsiSession(DATASTORE *staging);
    void Collect_zdtIscsiConnection(DATASTORE *staging);

    // As a new process starts: no previous instances, the first check not yet made (tests only).
    void ResetForTests();

private:
    std::vector<ISCSI_INSTANCE_RECORD> m_PreviousInstances;
    bool m_FirstCheck = true;
};

extern ZDTiSCSIDataCollector s_ZDTiSCSIDataCollector;
