#pragma once
// The contract between the service (qzrtlm.exe, its NIC collector) and the NIC library
// (netvarix.dll). Besides the call of Win2KMain they meet only through these named events and the
// records of nic_records.h; both binaries take every name and wait from here.
//
// Every event is auto-reset, made with CreateEventW(no security, auto-reset, not signalled,
// name); the call opens the object when it exists. An event object lives only while some handle
// to it is open, so a side that sets an event and closes its handle at once leaves the signal only
// if the other side already holds a handle. Hence the order each side keeps:
//
//  - Service, each collection: open kNicInitDoneEvent FIRST, then open and set kNicInitEvent,
//    then wait at most kNicInitDoneWaitMs on the Done handle; both handles are closed after the
//    wait, so that a request made while the library is still starting is not lost either. The end of a pass that was
//    already running may answer it; the pending Init then runs one more pass.
//  - Service, at stop: open kNicStopAckEvent FIRST, then open and set kNicStopEvent (held until
//    the acknowledgement wait ends), wait at most kNicStopAckWaitMs for the acknowledgement; then
//    wait at most kNicLoaderExitWaitMs for the loader thread (Win2KMain returned, FreeLibrary
//    done). Only when that runs out is the loader thread terminated: terminating it inside
//    Win2KMain leaves the library loaded with its collection thread running.
//  - Service, at registration: writes kNicInterfaceDataReadyValue = 0 only into an existing
//    Interface key (the key the library creates is volatile; one the service made would not be).
//  - Library: holds kNicInitEvent, kNicScmEvent and kNicStopEvent from before its collection
//    thread starts until Win2KMain returns; ends every turn of its loop with a Done (also while
//    its first generation is still pending), acknowledges the stop, and returns from Win2KMain
//    only after its collection thread has ended, so that no library code runs once the service
//    frees the library.

#include <cstdint>

constexpr wchar_t kNicLibraryFileName[] = L"netvarix.dll";
constexpr char kNicLibraryEntryName[] = "Win2KMain";
constexpr uint16_t kNicLibraryEntryOrdinal = 3;
// int Win2KMain(int argc, char **argv); the service passes argc 0 and {nullptr}.
using NicLibraryEntry = int (*)(int argc, char **argv);

// Service -> library: run one collection pass.
constexpr wchar_t kNicInitEvent[] = L"ZdtMNicInitEvent";
// Library -> service: a turn of the collection loop has ended.
constexpr wchar_t kNicInitDoneEvent[] = L"ZdtMNicInitEvent_Done";
// Service -> library: leave the collection loop.
constexpr wchar_t kNicStopEvent[] = L"TLM_STOP_EVENT";
// Library -> service: the stop was seen.
constexpr wchar_t kNicStopAckEvent[] = L"ACK_TLM_STOP_EVENT";
// Held by the library; nothing sets them.
constexpr wchar_t kNicScmEvent[] = L"ZdtMNicSCMEvent";
constexpr wchar_t kNicCmdDoneEvent[] = L"ZdtMNicCmdDoneEvent";
// Inside the library: the collection thread has left its loop.
constexpr wchar_t kNicTerminateThreadEvent[] = L"Terminate_Thread_Event";

// The readiness mark (REG_DWORD in kNicInterfaceKey): 0 while a pass rewrites the records.
constexpr wchar_t kNicInterfaceDataReadyName[] = L"InterfaceData_Ready";

// The service's waits. Tests shorten them through NicHandshakeTimeouts.
constexpr uint32_t kNicInitDoneWaitMs = 300000;
constexpr uint32_t kNicStopAckWaitMs = 10000;
// After the acknowledgement: how long the loader thread gets to return from Win2KMain and free
// the library before it is terminated.
constexpr uint32_t kNicLoaderExitWaitMs = 1000;

struct NicHandshakeTimeouts {
    uint32_t initDoneMs = kNicInitDoneWaitMs;
    uint32_t stopAckMs = kNicStopAckWaitMs;
    uint32_t loaderExitMs = kNicLoaderExitWaitMs;
};
