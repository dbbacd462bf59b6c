#include "zdt_ci_internal.h"

#include "channel_backend.h"
#include "unique_handle.h"

// {79EFB603-BD64-46A0-B3BE-72AD39680601}
const GUID kZdtCiInterfaceClass = {0x79efb603, 0xbd64, 0x46a0, {0xb3, 0xbe, 0x72, 0xad, 0x39, 0x68, 0x06, 0x01}};

namespace {

std::atomic<LONG> s_Generation{kZdtCiGenerationNone};
// Guards the choice of generation and the library's use count against each other.
SRWLOCK s_ProbeLock = SRWLOCK_INIT;
LONG s_LibraryUses = 0;
// The legacy driver's library context; kept whatever the generation, so that a legacy driver
// installed after start-up is usable too.
std::atomic<void *> s_Context{nullptr};

// Under s_ProbeLock.
void ProbeLocked()
{
    if (s_Generation.load() != kZdtCiGenerationNone)
        return;
    if (CiBackendCurrentDriverPresent()) {
        s_Generation = kZdtCiGenerationCurrent;
        // Initialisations made while no driver was known count for the current generation too.
        for (LONG i = 0; i < s_LibraryUses; ++i)
            zdtci_current::Initialize();
    } else if (zdtci_legacy::DriverPresent()) {
        s_Generation = kZdtCiGenerationLegacy;
    }
}

LONG Generation()
{
    LONG generation = s_Generation.load();
    if (generation == kZdtCiGenerationNone) {
        SrwExclusive probe(&s_ProbeLock);
        ProbeLocked();
        generation = s_Generation.load();
    }
    return generation;
}

} // namespace

void ZdtCiProbeDriver()
{
    SrwExclusive probe(&s_ProbeLock);
    ProbeLocked();
}

LONG ZdtCiGeneration()
{
    return s_Generation.load();
}

void ZdtCiForgetGenerationForTest()
{
    SrwExclusive probe(&s_ProbeLock);
    // What is still initialised is let go first, so the layers below keep their counts.
    if (s_Generation.load() == kZdtCiGenerationCurrent)
        for (LONG i = 0; i < s_LibraryUses; ++i)
            zdtci_current::Terminate();
    s_LibraryUses = 0;
    s_Context = nullptr;
    s_Generation = kZdtCiGenerationNone;
}

DWORD ZdtCiInitialize(void *context)
{
    SrwExclusive probe(&s_ProbeLock);
    ++s_LibraryUses;
    s_Context = context != nullptr ? context : reinterpret_cast<void *>(~uintptr_t{0});
    ProbeLocked();
    switch (s_Generation.load()) {
    case kZdtCiGenerationCurrent:
        zdtci_current::Initialize();
        return kCiSuccess;
    case kZdtCiGenerationLegacy:
        return kCiSuccess;
    default:
        return kCiNoDriver;
    }
}

void ZdtCiTerminate()
{
    SrwExclusive probe(&s_ProbeLock);
    if (s_LibraryUses == 0)
        return;
    --s_LibraryUses;
    if (s_Generation.load() == kZdtCiGenerationCurrent)
        zdtci_current::Terminate();
}

DWORD ZdtCiCreate(ZDTCI_HANDLE *handle, DWORD sendBufferCount, DWORD sendBufferSize, DWORD receiveBufferCount,
                  DWORD receiveBufferSize, DWORD priority)
{
    if (handle == nullptr)
        return kCiInvalidArgument;
    *handle = nullptr;
    switch (Generation()) {
    case kZdtCiGenerationCurrent:
        return zdtci_current::Create(handle, sendBufferCount, sendBufferSize, receiveBufferCount, receiveBufferSize,
                                     priority);
    case kZdtCiGenerationLegacy:
        return zdtci_legacy::Create(s_Context.load(), handle, sendBufferCount, sendBufferSize, receiveBufferCount,
                                    receiveBufferSize, priority);
    default:
        return kCiNoDriver;
    }
}

DWORD ZdtCiClose(ZDTCI_HANDLE handle)
{
    switch (Generation()) {
    case kZdtCiGenerationCurrent:
        return zdtci_current::Close(handle);
    case kZdtCiGenerationLegacy:
        return zdtci_legacy::Close(handle);
    default:
        return kCiNoDriver;
    }
}

DWORD ZdtCiStatus(ZDTCI_HANDLE handle)
{
    switch (Generation()) {
    case kZdtCiGenerationCurrent:
        return zdtci_current::Status(handle);
    case kZdtCiGenerationLegacy:
        // The legacy driver cannot tell; its callers always reopen.
        return kCiNotSupported;
    default:
        return kCiNoDriver;
    }
}

DWORD ZdtCiSend(ZDTCI_HANDLE handle, const void *data, DWORD length, DWORD *status)
{
    switch (Generation()) {
    case kZdtCiGenerationCurrent:
        return zdtci_current::Send(handle, data, length, status);
    case kZdtCiGenerationLegacy:
        return zdtci_legacy::Send(handle, data, length, status);
    default:
        if (status != nullptr)
            *status = kCiNoDriver;
        return 0;
    }
}

DWORD ZdtCiRecv(ZDTCI_HANDLE handle, void *buffer, DWORD size, DWORD *status, const DWORD *wait)
{
    switch (Generation()) {
    case kZdtCiGenerationCurrent:
        return zdtci_current::Recv(handle, buffer, size, status, wait);
    case kZdtCiGenerationLegacy:
        return zdtci_legacy::Recv(handle, buffer, size, status, wait);
    default:
        if (status != nullptr)
            *status = kCiNoDriver;
        return 0;
    }
}

void ZdtCiSetAbortEvent(ZDTCI_HANDLE handle, HANDLE abortEvent)
{
    switch (Generation()) {
    case kZdtCiGenerationCurrent:
        zdtci_current::SetAbortEvent(handle, abortEvent);
        break;
    case kZdtCiGenerationLegacy:
        zdtci_legacy::SetAbortEvent(handle, abortEvent);
        break;
    default:
        break;
    }
}
