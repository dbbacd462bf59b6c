#pragma once
// The collection thread's one way to the adapter model: a generation is built by Init, refreshed
// pass by pass by Update, and replaced when NeedReInit sees that the interface table changed shape.
// Deleting a generation removes its record keys; ReleaseKeepingRecords frees it and leaves what it
// published in place (the thread's end: the records stay for the service until a later start).
//
// NewNicGeneration is defined by the binary that links the thread: netvarix.dll builds the
// interface list; test builds link a scripted generation.

#include <windows.h>

class CTrap;

class INicGeneration {
public:
    virtual ~INicGeneration() = default;
    // 0, or the error that makes the thread stay pending.
    virtual DWORD Init(CTrap *trap) = 0;
    virtual DWORD Update() = 0;
    virtual int NeedReInit() = 0;
    virtual void ReleaseKeepingRecords() = 0;
};

// A new, not yet initialised generation, or null when no memory is left.
INicGeneration *NewNicGeneration();

// COM on the collection thread, from its start to its end, and whatever connection the binary's
// generation keeps in it (the LBFO WMI connection of the interface list). Defined beside
// NewNicGeneration. A failed start is logged by the thread, which goes on.
HRESULT NicThreadComStart(HANDLE stopEvent);
void NicThreadComEnd(HRESULT started);
