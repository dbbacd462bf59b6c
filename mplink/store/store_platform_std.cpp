// The store's heap and lock with the C++ library, for the native builds. The heap counts what a
// Windows heap would use (each block rounded up to 16 bytes plus a 16-byte header) against its
// maximum, so the size limit behaves the same in the sanitizer and fuzz runs.
#include "store_platform.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <shared_mutex>

namespace storeplatform {

namespace {

// Every live block is linked into its heap, so that DestroyHeap can release what is left (as
// HeapDestroy does) and BytesInUse can answer.
struct alignas(16) BlockHeader {
    BlockHeader *prev;
    BlockHeader *next;
    size_t bytes;
};

size_t Charge(size_t bytes)
{
    return ((bytes + 15) & ~size_t(15)) + 16;
}

} // namespace

struct Heap {
    std::mutex mutex;
    size_t maximum = 0;
    size_t charged = 0;
    size_t inUse = 0;
    BlockHeader *first = nullptr;
};

Heap *CreateHeap(size_t /*initialBytes*/, size_t maximumBytes)
{
    Heap *heap = new (std::nothrow) Heap;
    if (heap)
        heap->maximum = maximumBytes;
    return heap;
}

void DestroyHeap(Heap *heap)
{
    if (!heap)
        return;
    for (BlockHeader *block = heap->first; block;) {
        BlockHeader *next = block->next;
        std::free(block);
        block = next;
    }
    delete heap;
}

void *Allocate(Heap *heap, size_t bytes)
{
    if (!heap || bytes > heap->maximum)
        return nullptr;
    std::lock_guard<std::mutex> hold(heap->mutex);
    const size_t charge = Charge(bytes);
    if (heap->charged + charge > heap->maximum)
        return nullptr;
    auto *block = static_cast<BlockHeader *>(std::malloc(sizeof(BlockHeader) + bytes));
    if (!block)
        return nullptr;
    block->bytes = bytes;
    block->prev = nullptr;
    block->next = heap->first;
    if (heap->first)
        heap->first->prev = block;
    heap->first = block;
    heap->charged += charge;
    heap->inUse += bytes;
    return block + 1;
}

void Free(Heap *heap, void *pointer)
{
    if (!heap || !pointer)
        return;
    BlockHeader *block = static_cast<BlockHeader *>(pointer) - 1;
    std::lock_guard<std::mutex> hold(heap->mutex);
    if (block->prev)
        block->prev->next = block->next;
    else
        heap->first = block->next;
    if (block->next)
        block->next->prev = block->prev;
    heap->charged -= Charge(block->bytes);
    heap->inUse -= block->bytes;
    std::free(block);
}

size_t BytesInUse(Heap *heap)
{
    if (!heap)
        return 0;
    std::lock_guard<std::mutex> hold(heap->mutex);
    return heap->inUse;
}

static_assert(sizeof(std::shared_mutex) <= 64 && alignof(std::shared_mutex) <= 16,
              "the lock must fit SlimLock's storage");

static std::shared_mutex *Mutex(unsigned char *storage)
{
    return std::launder(reinterpret_cast<std::shared_mutex *>(storage));
}

SlimLock::SlimLock()
{
    new (m_Storage) std::shared_mutex;
}

SlimLock::~SlimLock()
{
    Mutex(m_Storage)->~shared_mutex();
}

void SlimLock::AcquireShared() { Mutex(m_Storage)->lock_shared(); }
void SlimLock::ReleaseShared() { Mutex(m_Storage)->unlock_shared(); }
void SlimLock::AcquireExclusive() { Mutex(m_Storage)->lock(); }
void SlimLock::ReleaseExclusive() { Mutex(m_Storage)->unlock(); }

} // namespace storeplatform
