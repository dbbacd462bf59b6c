// The writers of the iSCSI record keys.
#include "iscsi_lists.h"

#include "storage_keys.h"

#include <optional>
#include <string>

namespace {

enum IscsiKind { KIND_INSTANCE, KIND_PORTAL, KIND_NODE, KIND_INITIATOR, KIND_SESSION, KIND_CONNECTION, KIND_COUNT };

// The number of values each key received at this process's previous write. Nothing is known
// before the first write, and a key then may still hold rows of an earlier process (the keys
// outlive a service restart): the first write of each key rebuilds it.
std::optional<uint32_t> s_PreviousCount[KIND_COUNT];

struct RECORD_BYTES {
    const void *data;
    DWORD size;
};

void WriteKey(IscsiKind kind, int row, const char *prefix, const std::vector<RECORD_BYTES> &records)
{
    const uint32_t count = static_cast<uint32_t>(records.size());
    HKEY system = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_SET_VALUE, &system) != ERROR_SUCCESS)
        return;
    const bool rebuild = !s_PreviousCount[kind] || count < *s_PreviousCount[kind];
    HKEY key = nullptr;
    LONG opened;
    if (rebuild) {
        opened = RecreateStorageKey(system, row);
        if (opened == ERROR_SUCCESS)
            opened = RegOpenKeyExA(system, StorageKeyPath(row), 0, KEY_SET_VALUE, &key);
    } else {
        opened = RegOpenKeyExA(system, StorageKeyPath(row), 0, KEY_SET_VALUE, &key);
    }
    s_PreviousCount[kind] = count;
    if (opened == ERROR_SUCCESS) {
        for (uint32_t i = 0; i < count; ++i) {
            std::string name = prefix + std::to_string(i + 1);
            RegSetValueExA(key, name.c_str(), 0, REG_BINARY, static_cast<const BYTE *>(records[i].data),
                           records[i].size);
        }
        RegCloseKey(key);
    }
    RegCloseKey(system);
}

template <class Record> RECORD_BYTES Bytes(const Record &record)
{
    return {&record, static_cast<DWORD>(sizeof record)};
}

} // namespace

void ResetIscsiKeyCountsForTests()
{
    for (auto &count : s_PreviousCount)
        count.reset();
}

LONG CreateIscsiStorageKey(HKEY systemKey, int row)
{
    HKEY key = nullptr;
    LONG result = OpenOrCreateStorageKey(systemKey, StorageKeyPath(row), &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result;
}

LONG BuildIscsiLists(ISCSI_LISTS *context)
{
    HKEY system = nullptr;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_ALL_ACCESS, &system);
    if (result == ERROR_SUCCESS) {
        // An existing key is kept with its values: only a missing one is made.
        for (int row = STORAGE_ROW_ISCSI_INSTANCE; row <= STORAGE_ROW_ISCSI_CONNECTION; ++row) {
            result = CreateIscsiStorageKey(system, row);
            if (result != ERROR_SUCCESS)
                break;
        }
        RegCloseKey(system);
    }
    UdateIscsiVersions(context->Revision);
    return result;
}

LONG UdateIscsiVersions(const uint8_t revision[3])
{
    HKEY system = nullptr;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_SET_VALUE, &system);
    if (result != ERROR_SUCCESS)
        return result;
    HKEY key = nullptr;
    result = RegOpenKeyExA(system, StorageKeyPath(STORAGE_ROW_ISCSI), 0, KEY_SET_VALUE, &key);
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExA(key, "SoftwareRevisions", 0, REG_BINARY, revision, 3);
        RegCloseKey(key);
    }
    RegCloseKey(system);
    return result;
}

void UpdateInstanceKeys(ISCSI_LISTS *context)
{
    std::vector<RECORD_BYTES> records;
    for (const ISCSI_INSTANCE_NODE &node : context->Instances)
        records.push_back(Bytes(node.Instance));
    WriteKey(KIND_INSTANCE, STORAGE_ROW_ISCSI_INSTANCE, "Instance", records);
}

void UpdatePortalKeys(ISCSI_LISTS *context)
{
    std::vector<RECORD_BYTES> records;
    for (const ISCSI_INSTANCE_NODE &node : context->Instances)
        for (const ISCSI_PORTAL_RECORD &portal : node.Portals)
            records.push_back(Bytes(portal));
    WriteKey(KIND_PORTAL, STORAGE_ROW_ISCSI_PORTAL, "Portal", records);
}

void UpdateNodeKeys(ISCSI_LISTS *)
{
    // No node-attribute records are built; the key is kept, empty.
    WriteKey(KIND_NODE, STORAGE_ROW_ISCSI_NODE, "Node", {});
}

void UpdateInitiatorKeys(ISCSI_LISTS *context)
{
    std::vector<RECORD_BYTES> records;
    for (const ISCSI_INSTANCE_NODE &node : context->Instances)
        records.push_back(Bytes(node.Initiator));
    WriteKey(KIND_INITIATOR, STORAGE_ROW_ISCSI_INITIATOR, "Initiator", records);
}

void UpdateSessionKeys(ISCSI_LISTS *context)
{
    std::vector<RECORD_BYTES> records;
    for (const ISCSI_INSTANCE_NODE &node : context->Instances)
        for (const ISCSI_SESSION_RECORD &session : node.Sessions)
            records.push_back(Bytes(session));
    WriteKey(KIND_SESSION, STORAGE_ROW_ISCSI_SESSION, "Session", records);
}

void UpdateConnectionKeys(ISCSI_LISTS *context)
{
    std::vector<RECORD_BYTES> records;
    for (const ISCSI_INSTANCE_NODE &node : context->Instances)
        for (const ISCSI_CONNECTION_RECORD &connection : node.Connections)
            records.push_back(Bytes(connection));
    WriteKey(KIND_CONNECTION, STORAGE_ROW_ISCSI_CONNECTION, "Connection", records);
}

void FreeIscsiLists(ISCSI_LISTS *context)
{
    context->Instances.clear();
    context->NextConnectionIndex = 0;
}
