#include "blackbox_responder.h"

#include "byte_reader.h"
#include "chan_packet.h"

namespace {

std::string Name(const ByteReader &reader, size_t offset, size_t maxLength)
{
    std::string name;
    for (size_t i = 0; i < maxLength; ++i) {
        const uint8_t *at = reader.At(offset + i, 1);
        if (at == nullptr || *at == 0)
            break;
        name.push_back(static_cast<char>(*at));
    }
    return name;
}

} // namespace

bool BlackboxResponder::Answer(uint32_t channel, uint32_t ordinal, const Packet &request, std::vector<Packet> *replies)
{
    ByteReader reader(request.data(), request.size());
    ChanPacketFields fields;
    uint32_t service = 0, command = 0, handle = 0;
    if (!ReadChanPacketFields(request.data(), request.size(), &fields) || fields.totalSize != kRequestSize ||
        fields.service != kServiceWord || !reader.U32(8, &service) || !reader.U32(12, &command))
        return false;
    reader.U32(16, &handle);

    Packet reply(kReplySize, 0);
    WriteChanPacketFields(reply.data(), {kReplySize, fields.sequence, kChanReplyBit, kServiceWord});
    uint32_t result = 0;
    uint32_t word12 = 0;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        bool known = m_Feeders.count(handle) != 0;
        if (service == 2 && command == 13) {
            std::string source = Name(reader, 20, 31);
            auto found = m_Sources.find(source);
            if (found == m_Sources.end())
                found = m_Sources.emplace(source, static_cast<uint32_t>(m_Sources.size() + 1)).first;
            result = found->second;
        } else if (service == 2 && command == 1) {
            uint32_t source = 0;
            reader.U32(48, &source);
            bool sourceKnown = false;
            for (const auto &entry : m_Sources)
                sourceKnown = sourceKnown || entry.second == source;
            if (sourceKnown) {
                word12 = m_NextFeeder++;
                m_Feeders[word12] = Name(reader, 16, 31);
            } else {
                result = kStatusUnknownFeeder;
            }
        } else if (service == 2 && command == 2) {
            result = m_Feeders.erase(handle) != 0 ? 0 : kStatusUnknownFeeder;
        } else if (service == 2 && (command == 3 || command == 4 || command == 6 || command == 7 || command == 11)) {
            result = known ? 0 : kStatusUnknownFeeder;
        } else if (service == 3 && (command == 7 || command == 11)) {
            // Neither cleared nor disabled.
            result = 0;
        } else {
            result = 1;
        }
    }
    PutU32(reply.data() + 8, result);
    PutU32(reply.data() + 12, word12);
    m_Recorder.Line("bb ch=%u n=%u service=%u command=%u handle=%u result=%u feeder=%u", channel, ordinal, service,
                    command, handle, result, word12);
    replies->push_back(reply);
    return true;
}
