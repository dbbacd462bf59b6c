// The hardware event end of the channel chain (channel_chain_fuzz.cpp): the entry check and the
// decode into event text. A translation unit of its own, since the decoder's byte reader is not
// the channel's.
#include "channel_chain.h"

#include "kdl_decoder.h"
#include "kdl_entry.h"
#include "kdl_event_id.h"
#include "kdl_packet.h"

#include <cstring>

void ChainCheck(bool condition)
{
    if (!condition)
        __builtin_trap();
}

bool ChainKdlEventText(const uint8_t *packet, size_t received)
{
    size_t available = KdlEntryBytesAvailable(packet, received);
    ChainCheck(available == 0 || kKdlEntryPacketOffset + available <= received);
    KdlEntryView entry;
    if (KdlEntryView::Open(available ? packet + kKdlEntryPacketOffset : nullptr, available, &entry) !=
        KdlEntryStatus::Ok)
        return false;
    ChainCheck(entry.Size() >= kKdlEntryHeaderSize && entry.Size() <= available);
    ChainCheck(entry.ClassData().Size() == entry.Size() - kKdlEntryHeaderSize);

    // The text as the intake makes it, in a buffer of its size between two guards.
    constexpr size_t kGuard = 16;
    static char area[kGuard + kKdlTextSize + kGuard];
    std::memset(area, 0x5A, sizeof area);
    KdlText text(area + kGuard, kKdlTextSize);
    bool decoded = KdlEntryToText(entry, text);
    for (size_t i = 0; i < kGuard; ++i)
        ChainCheck(area[i] == 0x5A && area[kGuard + kKdlTextSize + i] == 0x5A);
    ChainCheck(std::memchr(area + kGuard, '\0', kKdlTextSize) != nullptr);
    if (decoded) {
        uint32_t id = KdlEventId(entry.Class(), entry.Severity());
        ChainCheck(id == 0 || (id & 0xFFFF) == static_cast<uint32_t>(entry.Class() * 256 + entry.Severity()));
        (void)EventTypeFromEventId(id);
    }
    return true;
}
