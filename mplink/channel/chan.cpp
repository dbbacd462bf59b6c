#include "chan.h"

#include "chan_packet.h"
#include "unique_handle.h"

#include <cstring>
#include <new>

namespace {

std::atomic<LONG> s_UseCount{0};
SRWLOCK s_ListLock = SRWLOCK_INIT;
CI_CHANNEL *s_Head = nullptr;

// A channel is ours when it is in the list; its memory is never read otherwise, so a channel
// destroyed twice is refused instead of read after it was freed.
bool IsLive(CI_CHANNEL *channel)
{
    if (channel == nullptr)
        return false;
    SrwExclusive list(&s_ListLock);
    for (CI_CHANNEL *entry = s_Head; entry != nullptr; entry = entry->Next)
        if (entry == channel)
            return channel->Magic == kChanMagic;
    return false;
}

bool Initialized() { return s_UseCount.load() > 0; }

// Under the list lock.
void Unlink(CI_CHANNEL *channel)
{
    if (channel->Previous != nullptr)
        channel->Previous->Next = channel->Next;
    else
        s_Head = channel->Next;
    if (channel->Next != nullptr)
        channel->Next->Previous = channel->Previous;
    channel->Next = channel->Previous = nullptr;
}

// Every status of the driver interface passes through here.
DWORD StatusResult(CI_CHANNEL *channel, DWORD status)
{
    if (status == kCiNoDriver) {
        ZDTCI_HANDLE driver = channel->Driver.exchange(nullptr);
        if (driver != nullptr) {
            ZdtCiClose(driver);
            channel->Reopen = 1;
        }
    }
    if (ChanStatusMarksReopen(status))
        channel->Reopen = 1;
    return ChanStatusToWin32(status);
}

// Under the channel lock.
DWORD Reopen(CI_CHANNEL *channel)
{
    ZDTCI_HANDLE driver = channel->Driver.load();
    if (driver == nullptr || ZdtCiStatus(driver) != kCiSuccess) {
        if (driver != nullptr) {
            channel->Driver = nullptr;
            ZdtCiClose(driver);
            Sleep(ChanTimeouts::ReopenPauseMs);
        }
        DWORD status = ZdtCiCreate(&driver, channel->SendBufferCount, channel->SendBufferSize,
                                   channel->ReceiveBufferCount, channel->ReceiveBufferSize, channel->Priority);
        if (status != kCiSuccess)
            return StatusResult(channel, status);
        channel->Driver = driver;
    }

    // Whatever the far end sent before this side was listening belongs to no request of ours.
    Sleep(ChanTimeouts::ReopenPauseMs);
    uint8_t stale[kChanPacketHeaderSize];
    for (int i = 0; i < kChanStalePacketsDrained; ++i) {
        DWORD status = kCiSuccess;
        ZdtCiRecv(driver, stale, sizeof(stale), &status, nullptr);
        if (status != kCiSuccess)
            break;
    }
    channel->Reopen = 0;
    return ERROR_SUCCESS;
}

// One attempt; under the channel lock.
DWORD RunTransaction(CI_CHANNEL *channel, const uint8_t *request, const ChanPacketFields &sent, uint8_t *reply,
                     DWORD replySize)
{
    ZDTCI_HANDLE driver = channel->Driver.load();
    if (driver == nullptr)
        return ERROR_BROKEN_PIPE;

    DWORD status = kCiSuccess;
    for (int attempt = 0;; ++attempt) {
        ZdtCiSend(driver, request, sent.totalSize, &status);
        if (status != kCiBusy || attempt == kChanBusyRetries)
            break;
        Sleep(ChanTimeouts::BusyPauseMs);
    }
    DWORD error = StatusResult(channel, status);
    if (error != ERROR_SUCCESS)
        return error;

    const DWORD wait = channel->TimeoutMs;
    for (int i = 0; i < kChanRepliesPerRequest; ++i) {
        DWORD read = ZdtCiRecv(driver, reply, replySize, &status, wait != 0 ? &wait : nullptr);
        if (status != kCiSuccess)
            return StatusResult(channel, status);
        ChanPacketFields received;
        if (read < kChanPacketHeaderSize || !ReadChanPacketFields(reply, read, &received))
            return ERROR_INVALID_DATA;
        if (received.sequence != sent.sequence)
            continue;
        if (received.totalSize > replySize)
            return ERROR_INSUFFICIENT_BUFFER;
        // A size that does not even cover the header is no reply.
        if (received.totalSize < kChanPacketHeaderSize)
            return ERROR_INVALID_DATA;
        if (read < received.totalSize && received.command != kChanCommandShortReply)
            return ERROR_INVALID_DATA;
        // What the reply did not fill must not pass for reply data.
        std::memset(reply + read, 0, replySize - read);
        return ERROR_SUCCESS;
    }
    channel->Reopen = 1;
    return ERROR_BROKEN_PIPE;
}

} // namespace

DWORD ChanInitialize(void *context)
{
    if (++s_UseCount == 1)
        ZdtCiInitialize(context);
    return ERROR_SUCCESS;
}

DWORD ChanTerminate()
{
    LONG remaining = --s_UseCount;
    if (remaining < 0) {
        ++s_UseCount;
        return ERROR_SUCCESS;
    }
    if (remaining != 0)
        return ERROR_SUCCESS;
    for (;;) {
        CI_CHANNEL *channel = nullptr;
        {
            SrwExclusive list(&s_ListLock);
            channel = s_Head;
        }
        if (channel == nullptr)
            break;
        ChanDestroy(channel);
    }
    ZdtCiTerminate();
    return ERROR_SUCCESS;
}

DWORD ChanCreate(CI_CHANNEL **channel)
{
    if (!Initialized())
        return ERROR_NOT_READY;
    if (channel == nullptr)
        return ERROR_INVALID_PARAMETER;
    auto *created = new (std::nothrow) CI_CHANNEL;
    if (created == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    created->TimeoutMs = ChanTimeouts::DefaultReplyWaitMs;
    SrwExclusive list(&s_ListLock);
    created->Next = s_Head;
    if (s_Head != nullptr)
        s_Head->Previous = created;
    s_Head = created;
    *channel = created;
    return ERROR_SUCCESS;
}

DWORD ChanDestroy(CI_CHANNEL *channel)
{
    {
        SrwExclusive list(&s_ListLock);
        bool listed = false;
        for (CI_CHANNEL *entry = s_Head; entry != nullptr && !listed; entry = entry->Next)
            listed = entry == channel;
        if (!listed || channel->Magic != kChanMagic)
            return ERROR_INVALID_PARAMETER;
        Unlink(channel);
    }
    {
        // A transaction still running on another thread finishes first.
        SrwExclusive locked(&channel->Lock);
        ZDTCI_HANDLE driver = channel->Driver.exchange(nullptr);
        if (driver != nullptr)
            ZdtCiClose(driver);
        channel->Magic = kChanDeadMagic;
    }
    delete channel;
    return ERROR_SUCCESS;
}

DWORD ChanNeedsReset(CI_CHANNEL *channel)
{
    if (!Initialized())
        return ERROR_NOT_READY;
    if (!IsLive(channel))
        return ERROR_INVALID_PARAMETER;
    return channel->Driver.load() == nullptr || channel->Reopen.load() != 0 ? 1 : 0;
}

DWORD ChanReset(CI_CHANNEL *channel)
{
    if (!Initialized())
        return ERROR_NOT_READY;
    if (!IsLive(channel))
        return ERROR_INVALID_PARAMETER;
    SrwExclusive locked(&channel->Lock);
    if (channel->Driver.load() != nullptr && channel->Reopen.load() == 0)
        return ERROR_SUCCESS;
    return Reopen(channel);
}

DWORD ChanTransaction(CI_CHANNEL *channel, const void *request, void *reply, DWORD replySize)
{
    if (!Initialized())
        return ERROR_NOT_READY;
    if (!IsLive(channel) || request == nullptr || reply == nullptr || replySize < kChanPacketHeaderSize)
        return ERROR_INVALID_PARAMETER;
    ChanPacketFields sent;
    ReadChanPacketFields(request, kChanPacketHeaderSize, &sent);
    // A request too short for its own header would go out as a malformed packet.
    if (sent.totalSize < kChanPacketHeaderSize)
        return ERROR_INVALID_PARAMETER;
    if (channel->Reopen.load() != 0)
        return ERROR_BROKEN_PIPE;

    SrwExclusive locked(&channel->Lock);
    if (channel->Reopen.load() != 0)
        return ERROR_BROKEN_PIPE;
    if (channel->Driver.load() == nullptr) {
        DWORD error = Reopen(channel);
        if (error != ERROR_SUCCESS)
            return error;
    }
    return RunTransaction(channel, static_cast<const uint8_t *>(request), sent, static_cast<uint8_t *>(reply),
                          replySize);
}
