// The legacy rings over memory the driver wrote, whatever it wrote: the mask, the indices, the put
// flags and every slot word are the input, and the driver keeps writing them between this side's
// operations. Attach must refuse exactly the masks that cannot address the slots, and Get, Put and
// Resetting must stay inside the ring they attached (the sanitizers stop any access past it), end,
// and hand out nothing wider than an entry.
//
// Input: one byte n, then n bytes of operations, then the ring memory from its header on (what is
// missing is zero). The slot array is as large as the mask in the memory says, as the driver
// allocates it; a mask Attach refuses gets one slot.
#include "legacy_ring.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

using namespace legacyring;

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

class Bytes {
public:
    Bytes(const uint8_t *data, size_t size) : m_Data(data), m_Size(size) {}
    bool Empty() const { return m_At >= m_Size; }
    uint64_t Take(size_t count)
    {
        uint64_t value = 0;
        for (size_t i = 0; i < count; ++i)
            value |= uint64_t{m_At < m_Size ? m_Data[m_At++] : uint8_t{0}} << (8 * i);
        return value;
    }

private:
    const uint8_t *m_Data;
    size_t m_Size;
    size_t m_At = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    size_t opBytes = data[0] < size - 1 ? data[0] : size - 1;
    Bytes ops(data + 1, opBytes);
    const uint8_t *image = data + 1 + opBytes;
    size_t imageSize = size - 1 - opBytes;

    // The mask word as the memory will hold it (zero-padded when the image stops inside it).
    uint8_t maskBytes[4] = {};
    for (size_t i = 0; i < 4; ++i)
        if (kHeaderSize - kMaskOffset + i < imageSize)
            maskBytes[i] = image[kHeaderSize - kMaskOffset + i];
    uint32_t mask;
    std::memcpy(&mask, maskBytes, 4);
    bool addressable = mask < kMaxSlots && (mask & (mask + 1)) == 0;
    size_t slots = addressable ? size_t{mask} + 1 : 1;
    size_t bytes = kHeaderSize + 8 * slots;
    auto words = std::make_unique<uint64_t[]>(bytes / 8);
    auto *memory = reinterpret_cast<uint8_t *>(words.get());
    std::memset(memory, 0, bytes);
    std::memcpy(memory, image, imageSize < bytes ? imageSize : bytes);
    uint8_t *slotArray = memory + kHeaderSize;

    Ring ring{nullptr, 0};
    Check(Attach(slotArray, &ring) == addressable);
    if (!addressable)
        return 0;
    Check(ring.slots == slotArray && ring.mask == mask);

    while (!ops.Empty()) {
        switch (ops.Take(1) % 7) {
        case 0: {
            uint32_t entry = 0xFFFFFFFF;
            if (Get(ring, &entry))
                Check(entry <= kEntryMask);
            break;
        }
        case 1:
            Put(ring, static_cast<uint32_t>(ops.Take(4)));
            break;
        case 2: {
            uint32_t entry = static_cast<uint32_t>(ops.Take(4));
            PutWithFlags(ring, entry, ops.Take(8));
            break;
        }
        case 3: {
            // The driver rewrites a slot; the index is a counter, masked only to address it.
            uint64_t index = ops.Take(8);
            *SlotAt(ring, index) = ops.Take(8);
            break;
        }
        case 4:
            *(ops.Take(1) & 1 ? GetIndex(ring) : PutIndex(ring)) = ops.Take(8);
            break;
        case 5: {
            // The driver rewrites a header word, the mask among them: this side must keep the mask
            // it attached with.
            static const size_t kWords[] = {kMaskOffset, kPutFlagsOffset, kResetOffset};
            *HeaderWord(ring, kWords[ops.Take(1) % 3]) = static_cast<uint32_t>(ops.Take(4));
            break;
        }
        default:
            (void)Resetting(ring);
            break;
        }
    }
    return 0;
}
