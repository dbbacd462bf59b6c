#pragma once
// What the MIB store needs of the platform: one private heap with a hard size limit, and a slim
// reader/writer lock.
//
// The Windows flavour implements both with a Win32 private heap and an SRWLOCK
// (store_platform_win32.cpp); the native flavour, which the sanitizer and fuzz builds use, with
// the C++ library (store_platform_std.cpp), counting bytes against the same limit. Exactly one of
// the two is compiled into the store library.

#include <cstddef>
#include <cstdint>

namespace storeplatform {

// A private heap. Blocks come back suitably aligned for any object.
struct Heap;

// Null when no heap can be made. The heap never grows past maximumBytes, its own bookkeeping
// included, so an allocation fails once the limit is reached.
Heap *CreateHeap(size_t initialBytes, size_t maximumBytes);
// Releases the heap with every block still in it.
void DestroyHeap(Heap *heap);
// Null when the heap is full (or heap is null).
void *Allocate(Heap *heap, size_t bytes);
void Free(Heap *heap, void *block);
// Bytes of the blocks now allocated (what callers asked for, without the heap's bookkeeping).
// For leak checks in tests; walks the heap, so it is slow.
size_t BytesInUse(Heap *heap);

// A slim reader/writer lock: no recursion, no upgrade, no fairness promise.
class SlimLock {
public:
    SlimLock();
    ~SlimLock();
    SlimLock(const SlimLock &) = delete;
    SlimLock &operator=(const SlimLock &) = delete;

    void AcquireShared();
    void ReleaseShared();
    void AcquireExclusive();
    void ReleaseExclusive();

private:
    // Room for the platform's lock object; each implementation checks that it fits.
    alignas(16) unsigned char m_Storage[64];
};

} // namespace storeplatform
