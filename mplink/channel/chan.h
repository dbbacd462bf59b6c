#pragma once
// Chan objects: request/reply channels over the driver interface, with lazy opening, busy retries,
// reply matching by sequence number and reopening after a reset. Every result is a Win32 error.

#include "zdt_ci.h"

#include <windows.h>

#include <atomic>

constexpr DWORD kChanMagic = 0x6E616843; // "Chan"
constexpr DWORD kChanDeadMagic = 0xDEADBEEF;

struct ChanTimeouts {
    // Each reply read of a new channel waits this long.
    static inline std::atomic<DWORD> DefaultReplyWaitMs{10000};
    // Pause after closing a broken channel, and before draining a (re)opened one.
    static inline std::atomic<DWORD> ReopenPauseMs{100};
    // Pause between the sends of a busy driver.
    static inline std::atomic<DWORD> BusyPauseMs{50};
};

constexpr int kChanBusyRetries = 10;  // sends after the first one that found the driver busy
constexpr int kChanRepliesPerRequest = 5;
constexpr int kChanStalePacketsDrained = 8;

struct CI_CHANNEL {
    DWORD Magic = kChanMagic;
    DWORD Type = 0;
    DWORD SendBufferCount = 2;
    DWORD SendBufferSize = 4096;
    DWORD ReceiveBufferCount = 2;
    DWORD ReceiveBufferSize = 4096;
    DWORD Priority = 0;
    DWORD TimeoutMs = 0;                      // each reply read
    std::atomic<ZDTCI_HANDLE> Driver{nullptr};
    std::atomic<DWORD> Reopen{0};             // the channel must be reopened before it is used
    SRWLOCK Lock = SRWLOCK_INIT;              // held for a whole transaction or reset
    CI_CHANNEL *Next = nullptr;
    CI_CHANNEL *Previous = nullptr;
};

DWORD ChanInitialize(void *context);
DWORD ChanTerminate();
DWORD ChanCreate(CI_CHANNEL **channel);
DWORD ChanDestroy(CI_CHANNEL *channel);
// Non-zero when the channel has no driver channel or must be reopened.
DWORD ChanNeedsReset(CI_CHANNEL *channel);
DWORD ChanReset(CI_CHANNEL *channel);
// Sends the request (its header gives its size and sequence) and reads replies until the one with
// the request's sequence arrives. The reply buffer past the bytes read is zeroed.
DWORD ChanTransaction(CI_CHANNEL *channel, const void *request, void *reply, DWORD replySize);
