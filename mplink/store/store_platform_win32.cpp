// The store's heap and lock on Windows: a private heap with a maximum size, and an SRWLOCK.
#include "store_platform.h"

#include <windows.h>

#include <new>

namespace storeplatform {

struct Heap {
    HANDLE handle;
};

Heap *CreateHeap(size_t initialBytes, size_t maximumBytes)
{
    if (initialBytes > maximumBytes)
        initialBytes = maximumBytes;
    HANDLE handle = HeapCreate(0, initialBytes, maximumBytes);
    if (!handle)
        return nullptr;
    // Nodes are many and small: ask for the low-fragmentation front end. Some versions refuse it
    // for a heap of fixed maximum size; the heap works either way, so the answer does not matter.
    ULONG lowFragmentation = 2;
    HeapSetInformation(handle, HeapCompatibilityInformation, &lowFragmentation, sizeof lowFragmentation);
    Heap *heap = new (std::nothrow) Heap{handle};
    if (!heap)
        HeapDestroy(handle);
    return heap;
}

void DestroyHeap(Heap *heap)
{
    if (!heap)
        return;
    HeapDestroy(heap->handle);
    delete heap;
}

void *Allocate(Heap *heap, size_t bytes)
{
    return heap ? HeapAlloc(heap->handle, 0, bytes) : nullptr;
}

void Free(Heap *heap, void *block)
{
    if (heap && block)
        HeapFree(heap->handle, 0, block);
}

size_t BytesInUse(Heap *heap)
{
    if (!heap || !HeapLock(heap->handle))
        return 0;
    size_t total = 0;
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap->handle, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
            total += entry.cbData;
    HeapUnlock(heap->handle);
    return total;
}

static_assert(sizeof(SRWLOCK) <= 64, "the lock must fit SlimLock's storage");

static SRWLOCK *Srw(unsigned char *storage)
{
    return reinterpret_cast<SRWLOCK *>(storage);
}

SlimLock::SlimLock()
{
    InitializeSRWLock(new (m_Storage) SRWLOCK);
}

SlimLock::~SlimLock() = default;  // an SRWLOCK needs no clean-up

void SlimLock::AcquireShared() { AcquireSRWLockShared(Srw(m_Storage)); }
void SlimLock::ReleaseShared() { ReleaseSRWLockShared(Srw(m_Storage)); }
void SlimLock::AcquireExclusive() { AcquireSRWLockExclusive(Srw(m_Storage)); }
void SlimLock::ReleaseExclusive() { ReleaseSRWLockExclusive(Srw(m_Storage)); }

} // namespace storeplatform
