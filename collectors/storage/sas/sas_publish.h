#pragma once
// Publishing the SAS records as REG_BINARY values under the volatile SCSI key tree.

#include <windows.h>

#include <map>
#include <vector>

#include "sas_records.h"
#include "storage_box.h"

// What one adapter contributes to a publish.
struct SasPublishAdapter {
    SAS_HBA_RECORD Hba;
    std::vector<SAS_LOGDRV_RECORD> LogicalDrives;
    std::vector<SAS_PHYDRV_RECORD> Drives;
    std::vector<SAS_TAPEDRV_RECORD> Tapes;
    std::vector<STORAGE_BOX_RECORD *> Enclosures;
};

// The counts remembered from the last publish, by adapter index.
struct SasPublishState {
    std::map<uint32_t, size_t> DriveCount;
    std::map<uint32_t, size_t> EnclosureCount;
};

// Writes every record kind's key (deleted and recreated with fullRewrite) and the enclosures'
// box values; returns the first non-zero result of its steps.
LONG SasPublishRecords(const std::vector<SasPublishAdapter> &adapters, SasPublishState &state, int fullRewrite);
