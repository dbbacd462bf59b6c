#include "ide_records.h"

#include <cstring>

bool IdeDiskListAdd(IDE_DISK_LIST *list, uint8_t disk)
{
    uint8_t count = list->Count < 8 ? list->Count : 8;
    if (count == 8)
        return false;
    uint8_t at = 0;
    while (at < count && list->Disks[at] < disk)
        ++at;
    if (at < count && list->Disks[at] == disk)
        return false;
    std::memmove(&list->Disks[at + 1], &list->Disks[at], count - at);
    list->Disks[at] = disk;
    list->Count = static_cast<uint8_t>(count + 1);
    return true;
}

uint8_t IdeDiskCondition(uint8_t status)
{
    switch (status) {
    case IDE_DISK_FAILED: return IDE_FAILED;
    case IDE_DISK_THRESHOLD:
    case IDE_DISK_WORN_OUT: return IDE_DEGRADED;
    case IDE_DISK_OK: return IDE_OK;
    default: return IDE_OTHER;
    }
}

uint8_t IdeLogicalDriveCondition(uint8_t status)
{
    switch (status) {
    case 5: return IDE_FAILED;
    case 3:
    case 4: return IDE_DEGRADED;
    case 2: return IDE_OK;
    default: return IDE_OTHER;
    }
}

void IdeFillIdentification(const IDE_ATAPI_RECORD &atapi, uint32_t position, IDE_IDENTIFICATION_RECORD *record)
{
    *record = {};
    record->Position = position;
    static_assert(sizeof(record->Product) > sizeof(atapi.Product));
    // The ATAPI texts are NUL-terminated inside their fields; the wider fields here stay
    // zero behind them (the product's last byte always is).
    std::memcpy(record->Product, atapi.Product, sizeof(atapi.Product));
    std::memcpy(record->Revision, atapi.Revision, sizeof(atapi.Revision));
    record->One1 = record->One2 = record->One3 = record->One4 = 1;
    record->DeviceType = atapi.DeviceType;
    record->Kind = atapi.Kind;
}
