#include "ci_device.h"

#include <cwchar>
#include <new>

namespace {

std::atomic<LONG> s_UseCount{0};
SRWLOCK s_DeviceListLock = SRWLOCK_INIT;
SRWLOCK s_ClassListLock = SRWLOCK_INIT;
LIST_ENTRY s_DeviceList = {&s_DeviceList, &s_DeviceList};
LIST_ENTRY s_ClassList = {&s_ClassList, &s_ClassList};

constexpr size_t kPathUnits = sizeof(CI_DEVICE_CLASS::DevicePath) / sizeof(WCHAR);

void InsertTail(LIST_ENTRY *head, LIST_ENTRY *entry)
{
    entry->Flink = head;
    entry->Blink = head->Blink;
    head->Blink->Flink = entry;
    head->Blink = entry;
}

void Unlink(LIST_ENTRY *entry)
{
    entry->Blink->Flink = entry->Flink;
    entry->Flink->Blink = entry->Blink;
    entry->Flink = entry->Blink = entry;
}

template <class T> T *RecordOf(LIST_ENTRY *entry)
{
    return reinterpret_cast<T *>(reinterpret_cast<char *>(entry) - offsetof(T, Link));
}

// Under the class-list lock.
void ResolvePath(CI_DEVICE_CLASS *record)
{
    WCHAR path[kPathUnits] = {};
    if (CiBackendFindInterface(record->Class, path, kPathUnits) != ERROR_SUCCESS)
        path[0] = L'\0';
    wcsncpy(record->DevicePath, path, kPathUnits - 1);
    record->DevicePath[kPathUnits - 1] = L'\0';
}

// Under the device-list lock.
CI_DEVICE_CLASS *ReferenceClass(const GUID &interfaceClass)
{
    SrwExclusive classes(&s_ClassListLock);
    for (LIST_ENTRY *entry = s_ClassList.Flink; entry != &s_ClassList; entry = entry->Flink) {
        CI_DEVICE_CLASS *record = RecordOf<CI_DEVICE_CLASS>(entry);
        if (IsEqualGUID(record->Class, interfaceClass)) {
            ++record->ReferenceCount;
            return record;
        }
    }
    auto *record = new (std::nothrow) CI_DEVICE_CLASS;
    if (record == nullptr)
        return nullptr;
    record->Class = interfaceClass;
    record->ReferenceCount = 1;
    ResolvePath(record);
    InsertTail(&s_ClassList, &record->Link);
    return record;
}

// The class's path, looked up again first when it is empty (the driver may have come since),
// or when it is still the stale path given (the device went away since it was looked up).
void CurrentPath(CI_DEVICE_CLASS *record, const WCHAR *stale, WCHAR *path)
{
    SrwExclusive classes(&s_ClassListLock);
    if (record->DevicePath[0] == L'\0' || (stale != nullptr && wcscmp(record->DevicePath, stale) == 0))
        ResolvePath(record);
    wcscpy(path, record->DevicePath);
}

// The first step of every operation. On success the record lock stays held.
DWORD AcquireDevice(CI_DEVICE *device)
{
    AcquireSRWLockExclusive(&device->Lock);
    // An operation that got in just before a destroy must not issue its I/O after the destroy
    // cancelled what was in flight: nothing would end it, and the destroy would wait for ever.
    if (device->Destroying.load()) {
        ReleaseSRWLockExclusive(&device->Lock);
        return ERROR_FILE_INVALID;
    }
    if (device->Handle != nullptr)
        return ERROR_SUCCESS;

    DWORD error = ERROR_SUCCESS;
    WCHAR path[kPathUnits];
    if (device->Closed && !device->ReopenAllowed) {
        error = ERROR_FILE_INVALID;
    } else {
        CurrentPath(device->Class, nullptr, path);
        error = path[0] == L'\0' ? ERROR_FILE_NOT_FOUND : CiBackendOpen(path, &device->Handle);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            WCHAR fresh[kPathUnits];
            CurrentPath(device->Class, path, fresh);
            if (fresh[0] != L'\0' && wcscmp(fresh, path) != 0)
                error = CiBackendOpen(fresh, &device->Handle);
        }
    }
    if (error != ERROR_SUCCESS) {
        device->Handle = nullptr;
        ReleaseSRWLockExclusive(&device->Lock);
        return error;
    }
    device->Closed = 0;
    return ERROR_SUCCESS;
}

// A thread inside an operation of the record; destruction waits until there is none.
class DeviceUser {
public:
    explicit DeviceUser(CI_DEVICE *device) : m_Device(device)
    {
        SrwExclusive users(&m_Device->UsersLock);
        m_Entered = !m_Device->Destroying.load();
        if (m_Entered)
            ++m_Device->Users;
    }
    ~DeviceUser()
    {
        if (!m_Entered)
            return;
        SrwExclusive users(&m_Device->UsersLock);
        if (--m_Device->Users == 0)
            WakeAllConditionVariable(&m_Device->UsersIdle);
    }
    DeviceUser(const DeviceUser &) = delete;
    DeviceUser &operator=(const DeviceUser &) = delete;
    explicit operator bool() const { return m_Entered; }

private:
    CI_DEVICE *m_Device;
    bool m_Entered = false;
};

class Deadline {
public:
    explicit Deadline(DWORD timeoutMs) : m_Timeout(timeoutMs), m_Start(GetTickCount64()) {}
    DWORD Remaining() const
    {
        if (m_Timeout == INFINITE)
            return INFINITE;
        ULONGLONG elapsed = GetTickCount64() - m_Start;
        return elapsed >= m_Timeout ? 0 : static_cast<DWORD>(m_Timeout - elapsed);
    }

private:
    DWORD m_Timeout;
    ULONGLONG m_Start;
};

// Holds the slot of one kind for the duration of an operation. The flag and the waiter count are
// sequentially consistent: a releaser that clears Busy before a waiter counts itself is seen by
// the waiter's next try, and one that clears it after sees the count and signals Free.
class SlotHold {
public:
    SlotHold(CI_DEVICE *device, CI_IO_SLOT &slot, const Deadline &deadline) : m_Slot(slot)
    {
        if (TryTake()) {
            m_Error = ERROR_SUCCESS;
            return;
        }
        ++m_Slot.Waiters;
        m_Error = WaitForSlot(device, deadline);
        --m_Slot.Waiters;
    }
    ~SlotHold()
    {
        if (m_Error != ERROR_SUCCESS)
            return;
        m_Slot.Busy = false;
        if (m_Slot.Waiters.load() != 0)
            SetEvent(m_Slot.Free.Get());
    }
    SlotHold(const SlotHold &) = delete;
    SlotHold &operator=(const SlotHold &) = delete;
    DWORD Error() const { return m_Error; }

private:
    bool TryTake() { return !m_Slot.Busy.exchange(true); }

    DWORD WaitForSlot(CI_DEVICE *device, const Deadline &deadline)
    {
        HANDLE abort = device->AbortEvent.load();
        HANDLE waits[3] = {m_Slot.Free.Get(), device->Closing.Get(), abort};
        DWORD count = abort != nullptr ? 3 : 2;
        for (;;) {
            // The slot comes first: a free slot is taken even when the abort event is already
            // set, as an operation that completes at once would still complete.
            if (TryTake())
                return ERROR_SUCCESS;
            // Free may carry a signal meant for a waiter that already took the slot: then the
            // try above fails again and the wait goes on.
            switch (WaitForMultipleObjects(count, waits, FALSE, deadline.Remaining())) {
            case WAIT_OBJECT_0:
                continue;
            case WAIT_OBJECT_0 + 1:
                return ERROR_FILE_INVALID;
            case WAIT_OBJECT_0 + 2:
                return ERROR_OPERATION_ABORTED;
            case WAIT_TIMEOUT:
                return TryTake() ? ERROR_SUCCESS : ERROR_SEM_TIMEOUT;
            default:
                return GetLastError();
            }
        }
    }

    CI_IO_SLOT &m_Slot;
    DWORD m_Error = ERROR_GEN_FAILURE;
};

DWORD RunOperation(CI_DEVICE *device, CI_IO_SLOT CI_DEVICE::*slotOfKind, const CI_IO_REQUEST &request, DWORD *bytes,
                   DWORD timeoutMs)
{
    if (bytes != nullptr)
        *bytes = 0;
    if (device == nullptr)
        return ERROR_INVALID_PARAMETER;
    CI_IO_SLOT &slot = device->*slotOfKind;

    DeviceUser user(device);
    if (!user)
        return ERROR_FILE_INVALID;
    Deadline deadline(timeoutMs);
    SlotHold hold(device, slot, deadline);
    if (hold.Error() != ERROR_SUCCESS)
        return hold.Error();

    // The backend's ReadFile, WriteFile or DeviceIoControl resets the OVERLAPPED's event itself.
    slot.Overlapped = OVERLAPPED{};
    slot.Overlapped.hEvent = slot.Completion.Get();

    DWORD error = AcquireDevice(device);
    if (error != ERROR_SUCCESS)
        return error;
    CI_BACKEND_DEVICE *handle = device->Handle;
    BOOL done = CiBackendIssue(handle, request, &slot.Overlapped);
    error = done ? ERROR_SUCCESS : GetLastError();
    ReleaseSRWLockExclusive(&device->Lock);

    if (error == ERROR_IO_PENDING) {
        HANDLE abort = device->AbortEvent.load();
        HANDLE waits[2] = {slot.Completion.Get(), abort};
        DWORD wait = WaitForMultipleObjects(abort != nullptr ? 2 : 1, waits, FALSE, deadline.Remaining());
        if (wait != WAIT_OBJECT_0) {
            SrwExclusive locked(&device->Lock);
            if (device->Handle != nullptr)
                CancelIoEx(CiBackendIoHandle(device->Handle, request.Kind), &slot.Overlapped);
        }
    }

    // An operation that completed at once has its byte count in the OVERLAPPED as well; taking it
    // from there is what keeps a read that found its data waiting from reporting 0 bytes.
    DWORD transferred = 0;
    if (done || error == ERROR_IO_PENDING || error == ERROR_MORE_DATA)
        error = GetOverlappedResult(nullptr, &slot.Overlapped, &transferred, TRUE) ? ERROR_SUCCESS : GetLastError();
    error = CiBackendFinish(handle, request, error, &transferred);
    if (bytes != nullptr)
        *bytes = transferred;
    return error;
}

// Under the device-list lock.
void DestroyLocked(CI_DEVICE *device)
{
    {
        SrwExclusive users(&device->UsersLock);
        device->Destroying = true;
    }
    // Wakes the operations that wait for a slot; those in flight are cancelled and finish.
    SetEvent(device->Closing.Get());
    {
        SrwExclusive locked(&device->Lock);
        if (device->Handle != nullptr)
            CiBackendCancelAll(device->Handle);
    }
    {
        AcquireSRWLockExclusive(&device->UsersLock);
        while (device->Users != 0)
            SleepConditionVariableSRW(&device->UsersIdle, &device->UsersLock, INFINITE, 0);
        ReleaseSRWLockExclusive(&device->UsersLock);
    }
    if (device->Handle != nullptr) {
        CiBackendClose(device->Handle);
        device->Handle = nullptr;
        device->Closed = 1;
    }
    {
        SrwExclusive classes(&s_ClassListLock);
        --device->Class->ReferenceCount;
    }
    Unlink(&device->Link);
    delete device;
}

} // namespace

void CiDeviceInitialize()
{
    // The lists and locks are valid from the start; the count decides who tears them down.
    ++s_UseCount;
}

void CiDeviceTerminate()
{
    LONG count = s_UseCount.load();
    do {
        if (count == 0)
            return;
    } while (!s_UseCount.compare_exchange_weak(count, count - 1));
    if (count != 1)
        return;

    {
        SrwExclusive devices(&s_DeviceListLock);
        while (s_DeviceList.Flink != &s_DeviceList)
            DestroyLocked(RecordOf<CI_DEVICE>(s_DeviceList.Flink));
    }
    SrwExclusive classes(&s_ClassListLock);
    while (s_ClassList.Flink != &s_ClassList) {
        CI_DEVICE_CLASS *record = RecordOf<CI_DEVICE_CLASS>(s_ClassList.Flink);
        Unlink(&record->Link);
        delete record;
    }
}

DWORD CiDeviceStartNotifications()
{
    return ERROR_GEN_FAILURE;
}

DWORD CiDeviceCreate(const GUID *interfaceClass, DWORD reopenAllowed, CI_DEVICE **device)
{
    if (interfaceClass == nullptr || device == nullptr)
        return ERROR_INVALID_PARAMETER;
    *device = nullptr;

    auto *record = new (std::nothrow) CI_DEVICE;
    if (record == nullptr)
        return ERROR_OUTOFMEMORY;
    record->ReopenAllowed = reopenAllowed;
    record->Closing.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    bool created = static_cast<bool>(record->Closing);
    for (CI_IO_SLOT *slot : {&record->Read, &record->Write, &record->Control}) {
        if (!created)
            break;
        slot->Completion.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        slot->Free.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        created = slot->Completion && slot->Free;
        slot->Overlapped.hEvent = slot->Completion.Get();
    }
    if (!created) {
        DWORD error = GetLastError();
        delete record;
        return error != ERROR_SUCCESS ? error : ERROR_OUTOFMEMORY;
    }

    SrwExclusive devices(&s_DeviceListLock);
    record->Class = ReferenceClass(*interfaceClass);
    if (record->Class == nullptr) {
        delete record;
        return ERROR_OUTOFMEMORY;
    }
    InsertTail(&s_DeviceList, &record->Link);
    *device = record;
    return ERROR_SUCCESS;
}

void CiDeviceDestroy(CI_DEVICE *device)
{
    if (device == nullptr)
        return;
    SrwExclusive devices(&s_DeviceListLock);
    DestroyLocked(device);
}

DWORD CiDeviceRead(CI_DEVICE *device, void *buffer, DWORD size, DWORD *bytesRead, DWORD timeoutMs)
{
    CI_IO_REQUEST request{CiIoKind::Read, 0, nullptr, 0, buffer, size};
    return RunOperation(device, &CI_DEVICE::Read, request, bytesRead, timeoutMs);
}

DWORD CiDeviceWrite(CI_DEVICE *device, const void *data, DWORD size, DWORD *bytesWritten, DWORD timeoutMs)
{
    CI_IO_REQUEST request{CiIoKind::Write, 0, data, size, nullptr, 0};
    return RunOperation(device, &CI_DEVICE::Write, request, bytesWritten, timeoutMs);
}

DWORD CiDeviceIoControl(CI_DEVICE *device, DWORD code, const void *input, DWORD inputSize, void *output,
                        DWORD outputSize, DWORD *bytesReturned, DWORD timeoutMs)
{
    CI_IO_REQUEST request{CiIoKind::Control, code, input, inputSize, output, outputSize};
    return RunOperation(device, &CI_DEVICE::Control, request, bytesReturned, timeoutMs);
}

void CiDeviceSetAbortEvent(CI_DEVICE *device, HANDLE abortEvent)
{
    if (device != nullptr)
        device->AbortEvent = abortEvent;
}
