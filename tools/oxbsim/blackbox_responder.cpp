#include "blackbox_responder.h"

#include "blackbox_wire.h"
#include "byte_reader.h"
#include "chan_packet.h"
#include "script.h"

#include <sstream>

namespace {

std::string Name(const ByteReader &reader, size_t offset, size_t maxLength)
{
    std::string name;
    for (size_t i = 0; i < maxLength; ++i) {
        const uint8_t *at = reader.At(offset + i, 1);
        if (at == nullptr || *at == 0)
            break;
        // One word in the record.
        name.push_back(*at == ' ' ? '_' : *at < 0x20 || *at >= 0x7F ? '?' : static_cast<char>(*at));
    }
    return name;
}

const char *Kind(uint32_t service, uint32_t command)
{
    if (service == kBlackboxServiceStatus)
        return command == kBlackboxCmdIsCleared ? "cleared" : command == kBlackboxCmdIsDisabled ? "disabled" : nullptr;
    if (service != kBlackboxServiceFeeder)
        return nullptr;
    switch (command) {
    case kBlackboxCmdOpenSource:
        return "source";
    case kBlackboxCmdRegister:
        return "register";
    case kBlackboxCmdUnregister:
        return "unregister";
    case kBlackboxCmdSelect:
        return "select";
    case kBlackboxCmdDescribe:
        return "describe";
    case kBlackboxCmdLogData:
    case kBlackboxCmdLogDataArray:
    case kBlackboxCmdLogDataStatic:
        return "data";
    default:
        return nullptr;
    }
}

constexpr uint32_t kStatusRefused = 1;

} // namespace

bool BlackboxResponder::Configure(const std::vector<std::string> &lines, std::string *error)
{
    for (const std::string &line : lines) {
        std::vector<std::string> words = DirectiveWords(line);
        try {
            if (words.size() == 2 && (words[0] == "cleared" || words[0] == "disabled")) {
                (words[0] == "cleared" ? m_Cleared : m_Disabled) = static_cast<uint32_t>(std::stoul(words[1]));
                continue;
            }
            if (words.size() == 1 && words[0] == "silent") {
                m_Silent = true;
                continue;
            }
            if (words.size() >= 5 && words[0] == "on" && words[3] == ":") {
                Scheduled item;
                if (words[4] == "status" && words.size() == 6) {
                    item = {Action::Status, static_cast<uint32_t>(std::stoul(words[5], nullptr, 0))};
                } else if (words[4] == "handle" && words.size() == 6) {
                    item = {Action::Handle, static_cast<uint32_t>(std::stoul(words[5], nullptr, 0))};
                } else if (words[4] == "forget" && words.size() == 5) {
                    item.action = Action::Forget;
                } else if (words[4] == "silent" && words.size() == 5) {
                    item.action = Action::Silent;
                } else {
                    *error = "blackbox: unknown action: " + line;
                    return false;
                }
                m_Scheduled[words[1]][static_cast<uint32_t>(std::stoul(words[2]))] = item;
                continue;
            }
        } catch (const std::exception &) {
        }
        *error = "blackbox: unknown directive: " + line;
        return false;
    }
    return true;
}

bool BlackboxResponder::Answer(uint32_t channel, uint32_t ordinal, const Packet &request, std::vector<Packet> *replies)
{
    ByteReader reader(request.data(), request.size());
    ChanPacketFields fields;
    uint32_t service = 0, command = 0, handle = 0;
    if (!ReadChanPacketFields(request.data(), request.size(), &fields) || fields.totalSize != kRequestSize ||
        fields.service != kServiceWord || !reader.U32(8, &service) || !reader.U32(12, &command))
        return false;
    reader.U32(16, &handle);

    uint32_t result = 0, word12 = 0, word28 = 0;
    bool answered = false;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        answered = Handle(request, service, command, &result, &word12, &word28);
    }
    m_Recorder.Line("bb ch=%u n=%u service=%u command=%u handle=%u result=%u feeder=%u answered=%d", channel, ordinal,
                    service, command, handle, result, word12, answered ? 1 : 0);
    if (!answered)
        return true;
    Packet reply(kReplySize, 0);
    WriteChanPacketFields(reply.data(), {kReplySize, fields.sequence, kChanReplyBit, kServiceWord});
    PutU32(reply.data() + 8, result);
    PutU32(reply.data() + 12, word12);
    PutU32(reply.data() + 28, word28);
    replies->push_back(reply);
    return true;
}

bool BlackboxResponder::Handle(const Packet &request, uint32_t service, uint32_t command, uint32_t *result,
                               uint32_t *word12, uint32_t *word28)
{
    ByteReader reader(request.data(), request.size());
    uint32_t handle = 0;
    reader.U32(16, &handle);
    const char *kind = Kind(service, command);
    if (kind == nullptr) {
        *result = kStatusRefused;
        return true;
    }
    Scheduled scheduled;
    bool isScheduled = false;
    auto table = m_Scheduled.find(kind);
    if (table != m_Scheduled.end()) {
        auto found = table->second.find(++m_Counts[kind]);
        if (found != table->second.end()) {
            scheduled = found->second;
            isScheduled = true;
        }
    } else {
        ++m_Counts[kind];
    }
    if (isScheduled && scheduled.action == Action::Silent)
        m_Silent = true;
    if (m_Silent)
        return false;
    if (isScheduled && scheduled.action == Action::Status) {
        *result = scheduled.value;
        return true;
    }
    if (isScheduled && scheduled.action == Action::Forget) {
        m_Recorder.Line("bbforget feeders=%u", static_cast<unsigned>(m_Feeders.size()));
        m_Feeders.clear();
    }
    const bool handOut = isScheduled && scheduled.action == Action::Handle;
    auto feeder = m_Feeders.find(handle);
    const bool known = feeder != m_Feeders.end();
    const std::string what = kind;

    if (what == "source") {
        std::string name = Name(reader, 20, kBlackboxNameChars);
        if (handOut) {
            *result = scheduled.value;
        } else {
            auto found = m_Sources.find(name);
            if (found == m_Sources.end())
                found = m_Sources.emplace(name, m_NextSource++).first;
            *result = found->second;
        }
        m_Recorder.Line("bbsource name=%s handle=%u", name.c_str(), *result);
    } else if (what == "register") {
        uint32_t source = 0, flags = 0, size = 0, entries = 0;
        reader.U32(48, &source);
        reader.U32(52, &flags);
        reader.U32(56, &size);
        reader.U32(60, &entries);
        std::string name = Name(reader, 16, kBlackboxNameChars);
        bool sourceKnown = false;
        for (const auto &entry : m_Sources)
            sourceKnown = sourceKnown || entry.second == source;
        if (!sourceKnown) {
            *result = kStatusUnknownFeeder;
        } else if (handOut) {
            *word12 = scheduled.value;
        } else {
            *word12 = m_NextFeeder++;
            m_Feeders[*word12] = Feeder{name, -1};
        }
        m_Recorder.Line("bbfeeder name=%s source=%u flags=0x%X size=%u entries=%u handle=%u result=%u", name.c_str(),
                        source, flags, size, entries, *word12, *result);
    } else if (!known && service == kBlackboxServiceFeeder) {
        *result = kStatusUnknownFeeder;
    } else if (what == "unregister") {
        m_Feeders.erase(feeder);
        m_Recorder.Line("bbunregister handle=%u", handle);
    } else if (what == "select") {
        uint32_t word20 = 0, code = 0;
        reader.U32(20, &word20);
        reader.U32(28, &code);
        if (word20 != 2 || code > 255) {
            *result = kStatusRefused;
        } else {
            feeder->second.selectedCode = static_cast<int32_t>(code);
            m_Recorder.Line("bbselect handle=%u code=%u", handle, code);
        }
    } else if (what == "describe") {
        uint32_t word20 = 0, length = 0;
        reader.U32(20, &word20);
        reader.U32(24, &length);
        const uint8_t expectedKind = word20 == kBlackboxDescribeCodeWord    ? 0x80 + (kBlackboxKindCode << 2)
                                     : word20 == kBlackboxDescribeFieldWord ? 0x80 + (kBlackboxKindField << 2)
                                                                            : 0;
        if (expectedKind == 0 || length < kBlackboxDescriptorSize || length % kBlackboxDescriptorSize != 0 ||
            !reader.Has(kBlackboxDescriptorsOffset, length)) {
            *result = kStatusRefused;
        } else {
            for (size_t at = kBlackboxDescriptorsOffset; at < kBlackboxDescriptorsOffset + length;
                 at += kBlackboxDescriptorSize) {
                const uint8_t *d = reader.At(at, kBlackboxDescriptorSize);
                if (d[0] != expectedKind)
                    *result = kStatusRefused;
                m_Recorder.Line("bbdesc handle=%u kind=0x%X source=%u code=%u field=%u class=%u type=%u size=%u "
                                "mode=%u name=%s",
                                handle, d[0], d[1], d[2], d[3], d[4] & 15, d[4] >> 4, d[5], d[6],
                                Name(reader, at + 8, kBlackboxDescriptorNameChars).c_str());
            }
        }
    } else if (what == "data") {
        uint32_t length = 0;
        reader.U32(20, &length);
        if (feeder->second.selectedCode < 0 || length > kBlackboxMaxPayload ||
            !reader.Has(kBlackboxDataOffset, length)) {
            *result = kStatusRefused;
        } else {
            std::string decoded;
            uint32_t code = static_cast<uint32_t>(feeder->second.selectedCode);
            if (!DecodeBlackboxPayload(code, reader.At(kBlackboxDataOffset, length), length, &decoded))
                decoded.assign(1, '!'); // not decodable by its code's fields
            m_Recorder.Line("bbdata handle=%u command=%u code=%u len=%u fields=%s", handle, command, code, length,
                            decoded.c_str());
        }
    } else if (what == "cleared") {
        if (m_Cleared != 0) {
            --m_Cleared;
            *word12 = kBlackboxClearedBit;
        }
        m_Recorder.Line("bbcleared handle=%u cleared=%d", handle, *word12 != 0 ? 1 : 0);
    } else if (what == "disabled") {
        if (m_Disabled != 0) {
            --m_Disabled;
            *word28 = 1;
        }
        m_Recorder.Line("bbdisabled handle=%u disabled=%u", handle, *word28);
    }
    return true;
}
