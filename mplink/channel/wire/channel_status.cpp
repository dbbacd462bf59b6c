#include "channel_status.h"

#include <array>

namespace {

using namespace win32err;

// Indexed by status 0..41.
constexpr std::array<uint32_t, 42> kStatusToWin32 = {
    kSuccess,                                                          // 0
    kFileNotFound,    kFileNotFound,                                   // 1, 2
    kNotEnoughMemory,                                                  // 3
    kGenFailure,                                                       // 4
    kTooManyCmds,     kTooManyCmds,                                    // 5, 6
    kNotEnoughMemory, kNotEnoughMemory, kNotEnoughMemory, kNotEnoughMemory, // 7..10
    kInvalidLevel,                                                     // 11
    kNoMoreFiles,     kNoMoreFiles,                                    // 12, 13
    kNotEnoughMemory, kNotEnoughMemory, kNotEnoughMemory, kNotEnoughMemory, kNotEnoughMemory, // 14..18
    kGenFailure,                                                       // 19
    kBusy,                                                             // 20
    kNoData,                                                           // 21
    kGenFailure,      kGenFailure,                                     // 22, 23
    kAccessDenied,                                                     // 24
    kBrokenPipe,                                                       // 25
    kGenFailure,      kGenFailure,      kGenFailure, kGenFailure, kGenFailure, // 26..30
    kNotSupported,                                                     // 31
    kGenFailure,      kGenFailure,                                     // 32, 33
    kSemTimeout,                                                       // 34
    kGenFailure,                                                       // 35
    kBrokenPipe,                                                       // 36
    kGenFailure,                                                       // 37
    kBrokenPipe,                                                       // 38
    kInvalidParameter,                                                 // 39
    kGenFailure,      kGenFailure,                                     // 40, 41
};

} // namespace

uint32_t ChanStatusToWin32(uint32_t status)
{
    return kStatusToWin32[status < kStatusToWin32.size() ? status : kCiUnexpected];
}

uint32_t ZdtCiMapWin32Error(uint32_t error)
{
    switch (error) {
    case kSuccess:
        return kCiSuccess;
    case kFileNotFound:
    case kFileInvalid:
        return kCiNoDriver;
    case kAccessDenied:
        return kCiAccessDenied;
    case kNotEnoughMemory:
    case kNoSystemResources:
        return kCiNoMemory;
    case kNoMoreFiles:
        return kCiNoFreeChannel;
    case kNotReady:
    case kBrokenPipe:
        return kCiBroken;
    case kHandleEof:
    case kNoData:
        return kCiNoData;
    case kNotSupported:
        return kCiNotSupported;
    case kTooManyCmds:
        return kCiTooLarge;
    case kInvalidParameter:
        return kCiInvalidArgument;
    case kSemTimeout:
    case kWaitTimeout:
    case kOperationAborted:
        return kCiTimedOut;
    case kInvalidLevel:
        return kCiInvalidLevel;
    case kBusy:
        return kCiBusy;
    default:
        return kCiUnexpected;
    }
}

bool ChanStatusMarksReopen(uint32_t status)
{
    return status == kCiBusy || status == 25 || status == 36 || status == kCiBroken;
}
