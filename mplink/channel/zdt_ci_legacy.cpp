// The legacy driver generation: a control device opens channels whose packets travel through two
// lock-free rings in memory shared with the driver.
#include "channel_backend.h"
#include "legacy_record.h"
#include "legacy_ring.h"
#include "unique_handle.h"
#include "zdt_ci_internal.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace zdtci_legacy {
namespace {

// "\\.\Global\" and the longest name the driver's 64-byte field can hold.
constexpr size_t kPathChars = sizeof(kZdtCiLegacyControlPrefix) - 1 + sizeof(LEGACY_CHANNEL_RECORD::DeviceName) + 1;

// One direction of a channel, checked once when the channel opens.
struct Direction {
    legacyring::Ring ring;
    uint8_t *buffers = nullptr;
    uint32_t shift = 0;
    uint32_t bufferCount = 0; // as asked for when the channel was opened

    uint32_t BufferSize() const { return uint32_t{1} << shift; }
    uint8_t *Buffer(uint32_t number) const { return buffers + (size_t{number} << shift); }
    // An entry the driver put that names a buffer we never had, or claims more than a buffer holds,
    // is not used.
    bool Valid(uint32_t entry) const
    {
        return legacyring::EntryBuffer(entry) < bufferCount && legacyring::EntryLength(entry) <= BufferSize();
    }
};

struct LegacyChannel {
    LEGACY_CHANNEL_RECORD record{};
    Direction send;
    Direction receive;
    uint32_t *doorbell = nullptr;
    // Ends a waiting receive, so that the thread that reads the channel can always be stopped.
    std::atomic<HANDLE> abortEvent{nullptr};

    HANDLE Device() const { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(record.ChannelDevice)); }
    HANDLE ReceiveEvent() const { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(record.ReceiveEvent)); }
};

LegacyChannel *Channel(ZDTCI_HANDLE handle) { return static_cast<LegacyChannel *>(handle); }

void Free(LegacyChannel *channel)
{
    if (channel->record.ReceiveEvent != 0)
        CloseHandle(channel->ReceiveEvent());
    if (channel->record.ChannelDevice != 0)
        CiBackendLegacyClose(channel->Device());
    delete channel;
}

bool AttachDirection(const LEGACY_RING_DESCRIPTOR &descriptor, uint32_t bufferCount, Direction *direction)
{
    direction->buffers = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(descriptor.Buffers));
    direction->shift = descriptor.BufferShift & 0xF;
    direction->bufferCount = bufferCount;
    return direction->buffers != nullptr &&
           legacyring::Attach(reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(descriptor.Slots)), &direction->ring);
}

bool Resetting(const LegacyChannel &channel)
{
    return legacyring::Resetting(channel.send.ring) || legacyring::Resetting(channel.receive.ring);
}

// Gives a buffer back to the driver's ring without a packet in it.
void GiveBack(const Direction &direction, uint32_t entry, uint32_t lengthBytes)
{
    legacyring::Put(direction.ring, legacyring::MakeEntry(legacyring::EntryBuffer(entry), lengthBytes));
}

} // namespace

bool DriverPresent()
{
    char path[kPathChars];
    snprintf(path, sizeof(path), "%s%s%u", kZdtCiLegacyControlPrefix, kZdtCiLegacyControlName, 0u);
    HANDLE device = CiBackendLegacyOpen(path);
    if (device == nullptr)
        return false;
    CiBackendLegacyClose(device);
    return true;
}

DWORD Create(void *context, ZDTCI_HANDLE *handle, DWORD sendBufferCount, DWORD sendBufferSize,
             DWORD receiveBufferCount, DWORD receiveBufferSize, DWORD priority)
{
    if (context == nullptr)
        return kCiNotInitialized;
    auto *channel = new (std::nothrow) LegacyChannel;
    if (channel == nullptr)
        return kCiNoMemory;

    char path[kPathChars];
    snprintf(path, sizeof(path), "%s%s%u", kZdtCiLegacyControlPrefix, kZdtCiLegacyControlName, 0u);
    HANDLE control = CiBackendLegacyOpen(path);
    if (control == nullptr) {
        Free(channel);
        return kCiNoDriver;
    }
    LEGACY_CHANNEL_RECORD &record = channel->record;
    record.Priority = priority;
    record.SendBufferCount = sendBufferCount;
    record.SendBufferSize = sendBufferSize;
    record.ReceiveBufferCount = receiveBufferCount;
    record.ReceiveBufferSize = receiveBufferSize;
    record.NameRequest = 0;
    record.Status = kCiCannotOpen;
    DWORD returned = 0;
    // The control's own result says nothing: the status field the driver fills decides.
    CiBackendLegacyControl(control, kLegacyOpenChannelControl, &record, sizeof(record), &record, sizeof(record),
                           &returned);
    CiBackendLegacyClose(control);
    if (record.Status != kCiSuccess) {
        DWORD status = record.Status <= kCiUnexpected ? record.Status : kCiUnexpected;
        Free(channel);
        return status;
    }

    // The name field may be filled to its last byte without a terminator.
    size_t nameLength = strnlen(record.DeviceName, sizeof(record.DeviceName));
    if (nameLength == 0) {
        Free(channel);
        return kCiCannotOpen;
    }
    snprintf(path, sizeof(path), "%s%.*s", kZdtCiLegacyControlPrefix, static_cast<int>(nameLength),
             record.DeviceName);
    HANDLE device = CiBackendLegacyOpen(path);
    if (device == nullptr) {
        Free(channel);
        return kCiCannotOpen;
    }
    record.ChannelDevice = reinterpret_cast<uintptr_t>(device);

    char eventName[kPathChars];
    snprintf(eventName, sizeof(eventName), "%s%s%u", "Global\\", "ZdtCiReceive", record.ReceiveEventNumber);
    record.ReceiveEvent = reinterpret_cast<uintptr_t>(OpenEventA(SYNCHRONIZE, FALSE, eventName));

    channel->doorbell = reinterpret_cast<uint32_t *>(static_cast<uintptr_t>(record.SendDoorbell));
    if (!AttachDirection(record.SendRing, sendBufferCount, &channel->send) ||
        !AttachDirection(record.ReceiveRing, receiveBufferCount, &channel->receive) || channel->doorbell == nullptr ||
        reinterpret_cast<uintptr_t>(channel->doorbell) % alignof(uint32_t) != 0) {
        ZDTCI_WARN_ONCE(L"ZdtCiCreate", L"The legacy driver described rings that cannot be used.");
        Free(channel);
        return kCiUnexpected;
    }
    *handle = channel;
    return kCiSuccess;
}

DWORD Close(ZDTCI_HANDLE handle)
{
    if (handle != nullptr)
        Free(Channel(handle));
    return kCiSuccess;
}

DWORD Send(ZDTCI_HANDLE handle, const void *data, DWORD length, DWORD *status)
{
    if (status == nullptr)
        return 0;
    LegacyChannel *channel = Channel(handle);
    if (channel == nullptr) {
        *status = kCiCannotOpen;
        return 0;
    }
    if (Resetting(*channel)) {
        *status = kCiBroken;
        return 0;
    }
    const Direction &send = channel->send;
    // A packet cut to the buffer would reach the far end as a malformed packet: refuse it whole.
    if (length > send.BufferSize()) {
        *status = kCiTruncated;
        return 0;
    }
    uint32_t entry = 0;
    if (!legacyring::Get(send.ring, &entry)) {
        *status = kCiBusy;
        return 0;
    }
    if (!send.Valid(entry)) {
        ZDTCI_WARN_ONCE(L"ZdtCiSend", L"The legacy driver offered send buffer entry 0x%06X.", entry);
        GiveBack(send, entry, 0);
        *status = kCiUnexpected;
        return 0;
    }
    if (length > legacyring::EntryLength(entry)) {
        GiveBack(send, entry, 0);
        *status = kCiTruncated;
        return 0;
    }
    uint32_t buffer = legacyring::EntryBuffer(entry);
    std::memcpy(send.Buffer(buffer), data, length);
    if (!legacyring::Put(send.ring, legacyring::MakeEntry(buffer, length))) {
        ZDTCI_WARN_ONCE(L"ZdtCiSend", L"The legacy send ring had no room for a packet taken from it.");
        *status = kCiBusy;
        return 0;
    }
    std::atomic_ref<uint32_t>(*channel->doorbell).store(1);
    *status = kCiSuccess;
    return length;
}

DWORD Recv(ZDTCI_HANDLE handle, void *buffer, DWORD size, DWORD *status, const DWORD *wait)
{
    if (status == nullptr)
        return 0;
    LegacyChannel *channel = Channel(handle);
    if (channel == nullptr) {
        *status = kCiCannotOpen;
        return 0;
    }
    const Direction &receive = channel->receive;
    const DWORD timeout = wait != nullptr ? *wait : 0;
    DWORD remaining = timeout;
    const ULONGLONG start = GetTickCount64();
    uint32_t entry = 0;
    for (;;) {
        if (Resetting(*channel)) {
            *status = kCiBroken;
            return 0;
        }
        if (legacyring::Get(receive.ring, &entry))
            break;
        if (remaining == 0) {
            *status = kCiNoData;
            return 0;
        }
        if (channel->record.ReceiveEvent == 0) {
            *status = kCiNoReceiveEvent;
            return 0;
        }
        DWORD returned = 0;
        if (!CiBackendLegacyControl(channel->Device(), kLegacyArmReceiveControl, nullptr, 0, nullptr, 0, &returned)) {
            *status = kCiBroken;
            return 0;
        }
        if (legacyring::Get(receive.ring, &entry))
            break;
        HANDLE abort = channel->abortEvent.load();
        HANDLE waits[2] = {channel->ReceiveEvent(), abort};
        if (WaitForMultipleObjects(abort != nullptr ? 2 : 1, waits, FALSE, remaining) == WAIT_OBJECT_0 + 1) {
            *status = kCiNoData;
            return 0;
        }
        if (timeout != INFINITE) {
            ULONGLONG elapsed = GetTickCount64() - start;
            remaining = elapsed >= timeout ? 0 : static_cast<DWORD>(timeout - elapsed);
        }
    }

    if (!receive.Valid(entry)) {
        ZDTCI_WARN_ONCE(L"ZdtCiRecv", L"The legacy driver delivered receive entry 0x%06X.", entry);
        GiveBack(receive, entry, receive.BufferSize());
        *status = kCiUnexpected;
        return 0;
    }
    // Lengths are multiples of 8; the packet's own size field gives its real length.
    DWORD copied = legacyring::EntryLength(entry) < size ? legacyring::EntryLength(entry) : size;
    std::memcpy(buffer, receive.Buffer(legacyring::EntryBuffer(entry)), copied);
    GiveBack(receive, entry, receive.BufferSize());
    *status = kCiSuccess;
    return copied;
}

void SetAbortEvent(ZDTCI_HANDLE handle, HANDLE abortEvent)
{
    if (handle != nullptr)
        Channel(handle)->abortEvent = abortEvent;
}

} // namespace zdtci_legacy
