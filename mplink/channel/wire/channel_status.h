#pragma once
// Channel status codes: the one small integer every call of the channel driver interface reports,
// and the two translations around it (driver Win32 error -> status, status -> the Win32 error the
// Chan layer returns).

#include <cstdint>

enum : uint32_t {
    kCiSuccess = 0,
    kCiNoDriver = 1,          // no channel driver, or the device is missing or closed
    kCiNoMemory = 3,
    kCiCannotOpen = 4,        // channel device cannot be opened, or no channel context (legacy)
    kCiTooLarge = 6,          // packet larger than the receive buffer; too many commands
    kCiInvalidLevel = 11,
    kCiNoFreeChannel = 12,    // no free channel (legacy); no more entries
    kCiBusy = 20,             // no free send buffer, or the device is busy
    kCiNoData = 21,           // nothing arrived within the wait
    kCiTruncated = 22,        // message longer than the send buffer
    kCiAccessDenied = 24,
    kCiNotSupported = 31,
    kCiNoReceiveEvent = 33,   // legacy
    kCiTimedOut = 34,
    kCiNotInitialized = 35,   // legacy: no library context
    kCiBroken = 38,           // channel broken or reset
    kCiInvalidArgument = 39,  // no channel handle
    kCiUnexpected = 41,       // unexpected failure, malformed packet
};

// The Win32 errors these translations speak of. Portable code has no windows.h.
namespace win32err {
constexpr uint32_t kSuccess = 0;
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kNotEnoughMemory = 8;
constexpr uint32_t kInvalidData = 13;
constexpr uint32_t kNoMoreFiles = 18;
constexpr uint32_t kNotReady = 21;
constexpr uint32_t kGenFailure = 31;
constexpr uint32_t kHandleEof = 38;
constexpr uint32_t kNotSupported = 50;
constexpr uint32_t kTooManyCmds = 56;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kBrokenPipe = 109;
constexpr uint32_t kSemTimeout = 121;
constexpr uint32_t kInsufficientBuffer = 122;
constexpr uint32_t kInvalidLevel = 124;
constexpr uint32_t kBusy = 170;
constexpr uint32_t kNoData = 232;
constexpr uint32_t kPipeNotConnected = 233;
constexpr uint32_t kMoreData = 234;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kOperationAborted = 995;
constexpr uint32_t kIoPending = 997;
constexpr uint32_t kFileInvalid = 1006;
constexpr uint32_t kNoSystemResources = 1450;
} // namespace win32err

// The Win32 error the Chan layer returns for a channel status; a status above 41 reads as 41.
uint32_t ChanStatusToWin32(uint32_t status);

// The channel status of a Win32 error of the current driver generation's device layer.
uint32_t ZdtCiMapWin32Error(uint32_t error);

// Statuses after which a channel must be closed and opened again before it is used.
bool ChanStatusMarksReopen(uint32_t status);
