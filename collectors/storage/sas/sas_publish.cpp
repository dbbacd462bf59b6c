#include "sas_publish.h"

#include "storage_keys.h"

namespace {

void WriteValues(HKEY key, const std::vector<SasRecordValue> &values)
{
    // Nothing reads these values back here, so a single failed write is not worth a failure.
    for (const SasRecordValue &value : values)
        RegSetValueExA(key, value.Name.c_str(), 0, REG_BINARY, value.Bytes.data(),
                       static_cast<DWORD>(value.Bytes.size()));
}

template <typename Record>
void PublishKind(HKEY system, int row, int recreate, const char *prefix, const std::vector<Record> &records,
                 LONG &first)
{
    HKEY key = nullptr;
    LONG rc = OpenOrRecreateStorageKey(system, StorageKeyPath(row), recreate, &key);
    if (rc != ERROR_SUCCESS) {
        if (first == ERROR_SUCCESS)
            first = rc;
        return;
    }
    WriteValues(key, SasRecordValues(prefix, records));
    RegCloseKey(key);
}

} // namespace

LONG SasPublishRecords(const std::vector<SasPublishAdapter> &adapters, SasPublishState &state, int fullRewrite)
{
    HKEY system = nullptr;
    LONG rc = RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &system);
    if (rc != ERROR_SUCCESS)
        return rc;

    std::vector<SAS_HBA_RECORD> hbas;
    std::vector<SAS_LOGDRV_RECORD> logical;
    std::vector<SAS_PHYDRV_RECORD> drives;
    std::vector<SAS_TAPEDRV_RECORD> tapes;
    bool fewerDrives = false;
    for (const SasPublishAdapter &adapter : adapters) {
        hbas.push_back(adapter.Hba);
        logical.insert(logical.end(), adapter.LogicalDrives.begin(), adapter.LogicalDrives.end());
        drives.insert(drives.end(), adapter.Drives.begin(), adapter.Drives.end());
        tapes.insert(tapes.end(), adapter.Tapes.begin(), adapter.Tapes.end());
        size_t &last = state.DriveCount[adapter.Hba.AdapterIndex];
        if (last > 0 && adapter.Drives.size() < last)
            fewerDrives = true;
        last = adapter.Drives.size();
    }

    const int recreate = fullRewrite ? 1 : 0;
    LONG first = ERROR_SUCCESS;
    PublishKind(system, STORAGE_ROW_SAS_HBA, recreate, "SasHBA", hbas, first);
    PublishKind(system, STORAGE_ROW_SAS_LOGDRV, recreate, "SasLogDrv", logical, first);
    PublishKind(system, STORAGE_ROW_SAS_PHYDRV, recreate || fewerDrives ? 1 : 0, "SasPhyDrv", drives, first);
    PublishKind(system, STORAGE_ROW_SAS_TAPEDRV, recreate, "SasTapeDrv", tapes, first);

    bool fullBoxes = fullRewrite != 0;
    for (const SasPublishAdapter &adapter : adapters) {
        for (STORAGE_BOX_RECORD *box : adapter.Enclosures)
            MarkStorageBoxPublished(box);
        size_t &last = state.EnclosureCount[adapter.Hba.AdapterIndex];
        if (last != adapter.Enclosures.size())
            fullBoxes = true;
        last = adapter.Enclosures.size();
    }
    LONG boxes = ERROR_SUCCESS;
    if (fullBoxes) {
        boxes = PublishStorageBoxes();
    } else {
        for (const SasPublishAdapter &adapter : adapters)
            for (STORAGE_BOX_RECORD *box : adapter.Enclosures) {
                LONG one = PublishStorageBox(box);
                if (boxes == ERROR_SUCCESS)
                    boxes = one;
            }
    }
    if (first == ERROR_SUCCESS)
        first = boxes;
    RegCloseKey(system);
    return first;
}
