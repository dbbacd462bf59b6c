#include "ide_layer.h"

#include "ide_discovery.h"
#include "ide_raid.h"
#include "storage_keys.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t IDE_MIB_GROUP = 14;
constexpr uint32_t IDE_POLL_INTERVAL_MS = 120000;
constexpr BYTE SOFTWARE_REVISIONS[3] = {1, 11, 0};

struct IdeLayerState {
    uint32_t AnsweredDisks = 0;
    uint8_t MibGroup = 0;
    uint8_t Overall = 0;
    uint32_t PollIntervalSeconds = 0;
    IDE_IDENTIFICATION_SLOTS Slots;
    IDE_STATE Nodes;
    // Records written at the previous publish.
    size_t PublishedDisks = 0;
    size_t PublishedLogicalDrives = 0;
};

// Constant-initialised storage: the layer starts during static initialisation, possibly before
// this file's own dynamic initialisers would have run.
IdeLayerState *s_IdeState = nullptr;

IdeLayerState &State()
{
    if (s_IdeState == nullptr)
        s_IdeState = new IdeLayerState();
    return *s_IdeState;
}

void WriteRecord(HKEY key, const char *prefix, const char *format, unsigned number, const void *data, size_t size)
{
    char name[48];
    char numberText[16];
    std::snprintf(numberText, sizeof numberText, format, number);
    std::snprintf(name, sizeof name, "%s%s", prefix, numberText);
    RegSetValueExA(key, name, 0, REG_BINARY, static_cast<const BYTE *>(data), static_cast<DWORD>(size));
}

// Opens the row's key, re-created when fewer records are written than last time.
LONG OpenForRecords(HKEY system, int row, size_t count, size_t *published, HKEY *key)
{
    LONG result = OpenOrRecreateStorageKey(system, StorageKeyPath(row), count < *published ? 1 : 0, key);
    *published = count;
    return result;
}

template <class Each> LONG Writer(HKEY system, int row, Each each)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyA(system, StorageKeyPath(row), &key);
    if (result != ERROR_SUCCESS)
        return result;
    each(key);
    RegCloseKey(key);
    return 0;
}

LONG IdePublish(IdeLayerState &state)
{
    HKEY system = nullptr;
    LONG opened = RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &system);
    if (opened != ERROR_SUCCESS)
        return opened;
    LONG first = 0;
    auto keep = [&](LONG result) {
        if (first == 0)
            first = result;
    };
    auto &controllers = state.Nodes.Controllers;
    keep(Writer(system, STORAGE_ROW_IDE_DEVICE, [&](HKEY key) {
        unsigned number = 0;
        for (unsigned slot = 0; slot < 4; ++slot)
            if (state.Slots.Present[slot])
                WriteRecord(key, "Identification", "%X", number++, &state.Slots.Records[slot],
                            sizeof(IDE_IDENTIFICATION_RECORD));
    }));
    keep(Writer(system, STORAGE_ROW_IDE_CONTROLLER, [&](HKEY key) {
        unsigned number = 0;
        for (auto &controller : controllers)
            WriteRecord(key, "Controller", "%03X", number++, &controller->Record, sizeof(IDE_CONTROLLER_RECORD));
    }));

    size_t disks = 0, drives = 0;
    for (auto &controller : controllers) {
        disks += controller->Disks.size();
        drives += controller->LogicalDrives.size();
    }
    HKEY key = nullptr;
    LONG result = OpenForRecords(system, STORAGE_ROW_IDE_ATADISK, disks, &state.PublishedDisks, &key);
    keep(result);
    if (result == ERROR_SUCCESS) {
        unsigned number = 0;
        for (auto &controller : controllers)
            for (auto &disk : controller->Disks)
                WriteRecord(key, "AtaDisk", "%03X", number++, &disk->Record, sizeof(IDE_DISK_RECORD));
        RegCloseKey(key);
    }
    keep(Writer(system, STORAGE_ROW_IDE_ATAPIDEVICE, [&](HKEY atapiKey) {
        unsigned number = 0;
        for (auto &controller : controllers)
            for (auto &atapi : controller->Atapi)
                WriteRecord(atapiKey, "AtapiDevice", "%X", number++, &atapi->Record, sizeof(IDE_ATAPI_RECORD));
    }));
    result = OpenForRecords(system, STORAGE_ROW_IDE_LOGICALDRIVE, drives, &state.PublishedLogicalDrives, &key);
    keep(result);
    if (result == ERROR_SUCCESS) {
        unsigned number = 0;
        for (auto &controller : controllers)
            for (auto &drive : controller->LogicalDrives)
                WriteRecord(key, "LogicalDrive", "%03X", number++, &drive->Record, sizeof(IDE_LOGICAL_DRIVE_RECORD));
        RegCloseKey(key);
    }
    RegCloseKey(system);
    return first;
}

LONG IdeRefresh(bool writeRevisions)
{
    IdeLayerState &state = State();
    IdeRescanDisks(&state.Nodes);
    uint8_t overall = IDE_OTHER;
    for (auto &controller : state.Nodes.Controllers) {
        IDE_CONTROLLER_RECORD &record = controller->Record;
        controller->PollInterval = state.PollIntervalSeconds;
        record.Condition = IDE_OK;
        record.ControllerStatus = IDE_OK;
        record.SecondStatus = IDE_OK;
        IdeControllerStatus(controller.get());
        IdeRefreshLogicalDrives(controller.get());
        for (auto &drive : controller->LogicalDrives)
            record.Condition = std::max(record.Condition, drive->Record.Condition);
        for (auto &disk : controller->Disks) {
            if (disk->Record.Valid == 0)
                continue;
            if (disk->Answered)
                IdeDiskHealth(controller.get(), disk.get());
            uint8_t condition = disk->Record.Condition;
            // A failed member leaves its logical drive to carry the failure: the controller is
            // degraded by it.
            if (disk->Record.Membership == IDE_FLAG_YES && condition == IDE_FAILED)
                condition = IDE_DEGRADED;
            record.Condition = std::max(record.Condition, condition);
        }
        overall = std::max(overall, record.Condition);
    }
    LONG result = IdePublish(state);
    if (overall != state.Overall) {
        state.Overall = overall;
        HKEY key = nullptr;
        char path[160];
        std::snprintf(path, sizeof path, "SYSTEM\\%s", StorageKeyPath(STORAGE_ROW_IDE));
        result = RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &key);
        if (result == ERROR_SUCCESS)
            RegCloseKey(key);
    }
    if (result == 0 && writeRevisions) {
        char path[160];
        std::snprintf(path, sizeof path, "SYSTEM\\%s", StorageKeyPath(STORAGE_ROW_IDE));
        HKEY key = nullptr;
        result = RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &key);
        if (result == ERROR_SUCCESS) {
            result = RegSetValueExA(key, "SoftwareRevisions", 0, REG_BINARY, SOFTWARE_REVISIONS,
                                    sizeof SOFTWARE_REVISIONS);
            RegCloseKey(key);
        }
    }
    return result;
}

// The get protocol: refresh, then count or copy the records collect() gives.
template <class Record, class Collect> LONG GetRecords(Record *destination, int *count, Collect collect)
{
    if (count == nullptr || (*count > 0 && destination == nullptr))
        return ERROR_INVALID_DATA;
    IdeRefresh(true);   // its failures are the registry's; the records still show what was read
    std::vector<Record> records = collect();
    if (records.empty())
        return 0;
    if (*count <= 0) {
        *count = static_cast<int>(records.size());
        return 0;
    }
    // Records the caller counted but that are gone now read zero, valid 0.
    std::memset(static_cast<void *>(destination), 0, sizeof(Record) * static_cast<size_t>(*count));
    size_t copied = std::min(records.size(), static_cast<size_t>(*count));
    std::copy(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(copied), destination);
    return 0;
}

} // namespace

namespace {
LONG s_LastInitResult = -1;

LONG Init()
{
    IdeLayerState &state = State();
    state.AnsweredDisks = 0;
    state.MibGroup = IDE_MIB_GROUP;
    state.Overall = 0;
    state.PollIntervalSeconds = IDE_POLL_INTERVAL_MS / 1000;
    HKEY system = nullptr;
    LONG result = RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &system);
    if (result != ERROR_SUCCESS)
        return result;
    for (int row : {STORAGE_ROW_IDE_DEVICE, STORAGE_ROW_IDE_CONTROLLER, STORAGE_ROW_IDE_ATADISK,
                    STORAGE_ROW_IDE_ATAPIDEVICE, STORAGE_ROW_IDE_LOGICALDRIVE}) {
        result = RecreateStorageKey(system, row);
        if (result != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(system);
    if (result != ERROR_SUCCESS)
        return result;
    result = IdeScanControllers(&state.Nodes);
    if (result == 0)
        result = IdeScanDisks(&state.Nodes);
    if (result == 0)
        result = IdeScanAtapi(&state.Nodes, &state.Slots);
    if (result != 0)
        return result;
    for (auto &controller : state.Nodes.Controllers)
        for (auto &disk : controller->Disks)
            state.AnsweredDisks += disk->Answered ? 1 : 0;
    return IdeRefresh(true);
}
} // namespace

LONG IdeInit()
{
    s_LastInitResult = Init();
    return s_LastInitResult;
}

LONG IdeInitResultForTest() { return s_LastInitResult; }

LONG IdeGetControllers(IDE_CONTROLLER_RECORD *destination, int *count)
{
    return GetRecords(destination, count, [] {
        std::vector<IDE_CONTROLLER_RECORD> records;
        for (auto &controller : State().Nodes.Controllers)
            records.push_back(controller->Record);
        return records;
    });
}

LONG IdeGetDisks(IDE_DISK_RECORD *destination, int *count)
{
    return GetRecords(destination, count, [] {
        std::vector<IDE_DISK_RECORD> records;
        for (auto &controller : State().Nodes.Controllers)
            for (auto &disk : controller->Disks) {
                records.push_back(disk->Record);
                records.back().ControllerType = static_cast<uint8_t>(controller->Type);
            }
        return records;
    });
}

void IdeResetForTest()
{
    delete s_IdeState;
    s_IdeState = nullptr;
}

LONG IdeRestartForTest()
{
    IdeResetForTest();
    return IdeInit();
}

uint8_t IdeOverallConditionForTest() { return State().Overall; }
