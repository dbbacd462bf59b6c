#include "storage_box.h"

#include "storage_keys.h"

#include <cstdio>
#include <cstring>

// The list lives in a data section of its own; the section is not shared, so every process has
// its own list and the mutex orders the threads of one process.
__attribute__((section("SHARESEG"))) STORAGE_BOX_LIST StorageBoxList = {};

namespace {

// The published count at the last full publish.
uint32_t s_LastFullPublishCount = 0;
// Whether this process has written the Box key at all: the key is volatile, so it outlives a
// restart of the service, and values of the previous run must not be left behind.
bool s_FullPublishDone = false;

constexpr char kMutexName[] = "QZTLMSsBoxListMutex";
constexpr char kBoxPrefix[] = "Box";

class ListLock {
public:
    ListLock() : m_Handle(LockStorageBoxList()) {}
    ~ListLock() { UnlockStorageBoxList(m_Handle); }
    ListLock(const ListLock &) = delete;
    ListLock &operator=(const ListLock &) = delete;
    explicit operator bool() const { return m_Handle != nullptr; }

private:
    HANDLE m_Handle;
};

bool GoesBefore(const STORAGE_BOX_RECORD *record, const STORAGE_BOX_RECORD *slot)
{
    if (record->Value.HostAdapterIndex != slot->Value.HostAdapterIndex)
        return record->Value.HostAdapterIndex < slot->Value.HostAdapterIndex;
    return record->Value.SequenceNumber < slot->Value.SequenceNumber;
}

LONG WriteBoxValue(HKEY key, unsigned number, const STORAGE_BOX_RECORD *record)
{
    char name[16];
    std::snprintf(name, sizeof name, "%s%03X", kBoxPrefix, number);
    return RegSetValueExA(key, name, 0, REG_BINARY, reinterpret_cast<const BYTE *>(&record->Value),
                          static_cast<DWORD>(sizeof record->Value));
}

} // namespace

HANDLE LockStorageBoxList()
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
    if (mutex == nullptr)
        mutex = OpenMutexA(SYNCHRONIZE, FALSE, kMutexName);
    if (mutex == nullptr)
        return nullptr;
    DWORD wait = WaitForSingleObject(mutex, StorageBoxTimeouts::LockWaitMs.load());
    // An abandoned mutex is owned by this thread now: the list may be half-updated by the thread
    // that died, but every field is rewritten by the next operation, and giving up here would
    // keep the mutex owned by nobody who releases it.
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
        return mutex;
    CloseHandle(mutex);
    return nullptr;
}

void UnlockStorageBoxList(HANDLE lock)
{
    if (lock == nullptr)
        return;
    ReleaseMutex(lock);
    CloseHandle(lock);
}

int InsertStorageBox(STORAGE_BOX_RECORD *record)
{
    ListLock lock;
    if (!lock)
        return STORAGE_BOX_LOCK_FAILED;
    STORAGE_BOX_LIST &list = StorageBoxList;
    for (int position = 0; position < STORAGE_BOX_LIST_CAPACITY; ++position) {
        if (position != list.Count) {
            if (!GoesBefore(record, list.Slots[position]))
                continue;
            if (list.Count >= STORAGE_BOX_LIST_CAPACITY)
                break;
            for (int slot = list.Count; slot > position; --slot) {
                list.Slots[slot] = list.Slots[slot - 1];
                list.Slots[slot]->ListPosition = static_cast<uint8_t>(slot);
            }
        }
        record->Published = 0;
        list.Slots[position] = record;
        record->ListPosition = static_cast<uint8_t>(position);
        ++list.Count;
        return 0;
    }
    return STORAGE_BOX_LIST_FULL;
}

int RemoveStorageBox(STORAGE_BOX_RECORD *record)
{
    ListLock lock;
    if (!lock)
        return STORAGE_BOX_LOCK_FAILED;
    STORAGE_BOX_LIST &list = StorageBoxList;
    // By identity, not by key: after the one-byte sequence number wraps two boxes of an adapter
    // can carry equal keys, and removing by key would unlink the other one and leave this one,
    // about to be freed, in the list.
    int found = -1;
    for (int slot = 0; slot < list.Count; ++slot) {
        if (list.Slots[slot] == record) {
            found = slot;
            break;
        }
    }
    if (found < 0)
        return 0;
    for (int slot = found; slot + 1 < list.Count; ++slot) {
        list.Slots[slot] = list.Slots[slot + 1];
        list.Slots[slot]->ListPosition = static_cast<uint8_t>(slot);
    }
    --list.Count;
    if (record->Published) {
        record->Published = 0;
        if (list.PublishedCount > 0)
            --list.PublishedCount;
    }
    list.Slots[list.Count] = nullptr;
    return 0;
}

int MarkStorageBoxPublished(STORAGE_BOX_RECORD *record)
{
    ListLock lock;
    if (!lock)
        return STORAGE_BOX_LOCK_FAILED;
    if (!record->Published)
        ++StorageBoxList.PublishedCount;
    record->Published = 1;
    return 0;
}

LONG PublishStorageBoxes()
{
    ListLock lock;
    if (!lock)
        return STORAGE_BOX_LOCK_FAILED;
    HKEY system = nullptr;
    LONG result = RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &system);
    if (result != ERROR_SUCCESS)
        return result;
    STORAGE_BOX_LIST &list = StorageBoxList;
    bool shrank = list.PublishedCount < s_LastFullPublishCount;
    HKEY box = nullptr;
    if (shrank || !s_FullPublishDone)
        result = OpenOrRecreateStorageKey(system, StorageKeyPath(STORAGE_ROW_BOX), 1, &box);
    else
        result = OpenOrCreateStorageKey(system, StorageKeyPath(STORAGE_ROW_BOX), &box);
    s_LastFullPublishCount = list.PublishedCount;
    if (result == ERROR_SUCCESS) {
        s_FullPublishDone = true;
        unsigned number = 0;
        for (int slot = 0; slot < list.Count; ++slot) {
            if (list.Slots[slot]->Published)
                WriteBoxValue(box, number++, list.Slots[slot]);
        }
        RegCloseKey(box);
    }
    RegCloseKey(system);
    return result;
}

LONG PublishStorageBox(STORAGE_BOX_RECORD *record)
{
    ListLock lock;
    if (!lock)
        return STORAGE_BOX_LOCK_FAILED;
    HKEY system = nullptr;
    LONG result = RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &system);
    if (result != ERROR_SUCCESS)
        return result;
    HKEY box = nullptr;
    result = RegOpenKeyA(system, StorageKeyPath(STORAGE_ROW_BOX), &box);
    if (result == ERROR_SUCCESS) {
        result = WriteBoxValue(box, record->ListPosition, record);
        RegCloseKey(box);
    }
    RegCloseKey(system);
    return result;
}

void ResetStorageBoxListForTest()
{
    StorageBoxList = {};
    s_LastFullPublishCount = 0;
    s_FullPublishDone = false;
}
