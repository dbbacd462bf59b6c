#include "fault_injector.h"

#include "chan_packet.h"

namespace {

std::vector<Fault> Lookup(const std::map<uint32_t, std::vector<Fault>> &table, uint32_t ordinal)
{
    auto found = table.find(ordinal);
    return found == table.end() ? std::vector<Fault>{} : found->second;
}

// The reply a fault reshapes: the right one, or a bare header when the request had none.
Packet Template(const std::vector<Packet> &replies, uint16_t sequence)
{
    if (!replies.empty() && replies.front().size() >= kChanPacketHeaderSize)
        return replies.front();
    Packet packet(16, 0);
    WriteChanPacketFields(packet.data(), {16, sequence, kChanReplyBit, 0});
    return packet;
}

void SetSequence(Packet *packet, uint16_t sequence)
{
    if (packet->size() >= kChanPacketHeaderSize)
        PutU16(packet->data() + 2, sequence);
}

// The status word of a passthru reply (and of a passthru session reply): non-zero refuses.
constexpr size_t kStatusOffset = 8;
constexpr uint32_t kRefusedStatus = 1;

} // namespace

std::vector<Fault> FaultInjector::ForOpen(uint32_t ordinal) const
{
    return Lookup(m_Script.onOpen, ordinal);
}

std::vector<Fault> FaultInjector::ForRequest(uint32_t ordinal) const
{
    return Lookup(m_Script.onRequest, ordinal);
}

// Faults that act on the channel rather than on packets: the same whether they come with an open
// or with a request. Others are left alone.
void FaultInjector::ApplyToChannel(const Fault &fault, FaultOutcome *outcome)
{
    switch (fault.kind) {
    case FaultKind::Close:
        outcome->close = true;
        break;
    case FaultKind::Busy:
        outcome->busy += fault.count;
        break;
    case FaultKind::Unhealthy:
        outcome->unhealthy = true;
        break;
    case FaultKind::Exit:
        outcome->exit = true;
        break;
    default:
        break;
    }
}

FaultOutcome FaultInjector::ApplyToReplies(const std::vector<Fault> &faults, uint16_t sequence,
                                           std::vector<Packet> *replies)
{
    FaultOutcome outcome;
    // Misnumbered copies go ahead of the request's own reply, in the order of their faults.
    size_t misnumbered = 0;
    for (const Fault &fault : faults) {
        switch (fault.kind) {
        case FaultKind::Misnumber: {
            std::vector<Packet> rest(replies->begin() + static_cast<std::ptrdiff_t>(misnumbered), replies->end());
            Packet wrong = Template(rest, sequence);
            SetSequence(&wrong, static_cast<uint16_t>(fault.count));
            if (wrong.size() >= kStatusOffset + 4)
                PutU32(wrong.data() + kStatusOffset, kRefusedStatus);
            replies->insert(replies->begin() + static_cast<std::ptrdiff_t>(misnumbered), wrong);
            ++misnumbered;
            break;
        }
        case FaultKind::Renumber:
            if (replies->size() > misnumbered)
                SetSequence(&(*replies)[misnumbered], static_cast<uint16_t>(fault.count));
            break;
        case FaultKind::Stale: {
            Packet right = Template(*replies, sequence);
            std::vector<Packet> shaped;
            for (uint32_t i = 0; i < fault.count; ++i) {
                Packet stale = right;
                SetSequence(&stale, static_cast<uint16_t>(sequence + 1 + i));
                shaped.push_back(stale);
            }
            shaped.insert(shaped.end(), replies->begin(), replies->end());
            *replies = shaped;
            break;
        }
        case FaultKind::NoReply:
            replies->clear();
            break;
        case FaultKind::Oversize: {
            Packet grown = Template(*replies, sequence);
            grown.resize(fault.count < kChanPacketHeaderSize ? kChanPacketHeaderSize : fault.count, 0xA5);
            PutU16(grown.data(), static_cast<uint16_t>(grown.size()));
            *replies = {grown};
            break;
        }
        case FaultKind::Truncate:
        case FaultKind::Short: {
            Packet cut = Template(*replies, sequence);
            if (fault.kind == FaultKind::Short)
                PutU16(cut.data() + 4, kChanCommandShortReply);
            if (fault.count < cut.size())
                cut.resize(fault.count);
            *replies = {cut};
            break;
        }
        default:
            ApplyToChannel(fault, &outcome);
            break;
        }
    }
    return outcome;
}

FaultOutcome FaultInjector::ApplyToOpen(const std::vector<Fault> &faults)
{
    FaultOutcome outcome;
    for (const Fault &fault : faults) {
        switch (fault.kind) {
        case FaultKind::Stale:
            outcome.stalePackets += fault.count;
            break;
        default:
            ApplyToChannel(fault, &outcome);
            break;
        }
    }
    return outcome;
}

std::vector<Packet> FaultInjector::StalePackets(uint32_t count)
{
    std::vector<Packet> packets;
    for (uint32_t i = 0; i < count; ++i) {
        Packet packet(16, static_cast<uint8_t>(i));
        WriteChanPacketFields(packet.data(), {16, static_cast<uint16_t>(0xDE00 + i), 0x8000, 0});
        packets.push_back(packet);
    }
    return packets;
}
