#include "agentx_master.h"

#include "agentx_pdu.h"
#include "byte_reader.h"
#include "chan_packet.h"
#include "script.h"

#include <cstring>
#include <sstream>

namespace {

constexpr uint16_t kHandshake = 2, kSession = 147, kAgentX = 148, kKdl = 149, kReply = 0x8000;
constexpr uint16_t kOpenFailed = 265;

bool ParseOid(const std::string &text, MIBOID *oid)
{
    MIBOID parsed;
    std::istringstream parts(text);
    std::string part;
    while (std::getline(parts, part, '.')) {
        if (part.empty())
            continue;
        char *end = nullptr;
        unsigned long value = strtoul(part.c_str(), &end, 10);
        if (*end != '\0' || !parsed.Append(static_cast<uint32_t>(value)))
            return false;
    }
    *oid = parsed;
    return true;
}

bool ParseHex(const std::string &text, std::vector<uint8_t> *bytes)
{
    if (text.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char *end = nullptr;
        std::string pair = text.substr(i, 2);
        unsigned long value = strtoul(pair.c_str(), &end, 16);
        if (*end != '\0')
            return false;
        bytes->push_back(static_cast<uint8_t>(value));
    }
    return true;
}

std::string OidText(const uint8_t *raw)
{
    MIBOID oid;
    if (!DecodeAgentXOid(raw, &oid))
        return "?";
    std::string text;
    for (int32_t i = 0; i < oid.count; ++i)
        text += (i ? "." : "") + std::to_string(oid.subIds[i]);
    return text.empty() ? "-" : text;
}

std::string VarBindText(const AGENTX_VARBIND &vb)
{
    std::string text = std::to_string(vb.type) + ":" + OidText(vb.name);
    switch (vb.type) {
    case 2: case 65: case 66: case 67:
        if (vb.dataSize >= 4)
            text += ":" + std::to_string(vb.type == 2 ? static_cast<int64_t>(static_cast<int32_t>(GetAgentXU32(vb.data)))
                                                      : static_cast<int64_t>(GetAgentXU32(vb.data)));
        break;
    case 70:
        if (vb.dataSize >= 8)
            text += ":" + std::to_string(GetAgentXU64(vb.data));
        break;
    case 4: case 64: case 68:
        if (vb.dataSize >= 4) {
            uint32_t length = GetAgentXU32(vb.data);
            text += ":x";
            static const char digits[] = "0123456789abcdef";
            for (uint32_t i = 0; i < length && 4 + i < vb.dataSize; ++i) {
                text += digits[vb.data[4 + i] >> 4];
                text += digits[vb.data[4 + i] & 15];
            }
        }
        break;
    case 6:
        text += ":" + OidText(vb.data);
        break;
    default:
        break;
    }
    return text;
}

std::string VarBindsText(const AGENTX_RECEIVED_PDU &pdu)
{
    std::string text = "vbs=" + std::to_string(pdu.varbindCount);
    AGENTX_READER reader(pdu.varbinds, pdu.varbindsLength);
    for (uint32_t i = 0; i < pdu.varbindCount; ++i) {
        AGENTX_VARBIND vb;
        if (reader.VarBind(&vb) != AXRead_Ok)
            break;
        text += " vb" + std::to_string(i + 1) + "=" + VarBindText(vb);
    }
    return text;
}

} // namespace

bool AgentxMaster::Configure(const std::vector<std::string> &lines, std::string *error)
{
    for (const std::string &line : lines) {
        std::vector<std::string> words = DirectiveWords(line);
        if (words.size() == 2 && words[0] == "refuse-passthru") {
            m_RefusePassthru = static_cast<uint32_t>(std::stoul(words[1]));
        } else if (words.size() == 2 && words[0] == "bridge") {
            unsigned long port = std::stoul(words[1]);
            if (port == 0 || port > 65535) {
                *error = "agentx: bridge needs a port";
                return false;
            }
            m_Bridge = std::make_unique<AgentxBridge>(m_Recorder, static_cast<uint16_t>(port));
        } else if (words.size() == 2 && words[0] == "refuse-open") {
            m_RefuseOpen = static_cast<uint32_t>(std::stoul(words[1]));
        } else if (words.size() == 2 && words[0] == "ignore-ping") {
            m_IgnorePing = static_cast<uint32_t>(std::stoul(words[1]));
        } else if (words.size() >= 5 && words[0] == "on" && (words[1] == "register" || words[1] == "passthru") &&
                   words[3] == ":") {
            Scheduled item{std::vector<std::string>(words.begin() + 4, words.end())};
            std::vector<Packet> probe;
            if (!BuildRequest(item, &probe)) {
                *error = "agentx: not a request: " + line;
                return false;
            }
            auto &schedule = words[1] == "register" ? m_OnRegister : m_OnPassthru;
            schedule.emplace(static_cast<uint32_t>(std::stoul(words[2])), item);
        } else {
            *error = "agentx: unknown directive: " + line;
            return false;
        }
    }
    m_PacketId = 1;
    return true;
}

Packet AgentxMaster::Frame(uint16_t command, uint16_t sequence, const uint8_t *pdu, size_t length, uint32_t status)
{
    Packet packet(16 + length);
    ChanPacketFields fields{static_cast<uint16_t>(packet.size()), sequence, command, 0};
    WriteChanPacketFields(packet.data(), fields);
    PutU32(packet.data() + 8, status);
    PutU32(packet.data() + 12, static_cast<uint32_t>(length));
    if (length != 0)
        std::memcpy(packet.data() + 16, pdu, length);
    return packet;
}

bool AgentxMaster::BuildRequest(const Scheduled &item, std::vector<Packet> *out)
{
    const std::vector<std::string> &w = item.words;
    if (w.empty())
        return false;
    uint8_t pdu[AGENTX_PDU_BUFFER_SIZE] = {};
    uint32_t packetId = m_PacketId++;
    auto header = [&](uint8_t type, uint32_t session) {
        AGENTX_HEADER h;
        h.type = type;
        h.sessionId = session;
        h.transactionId = packetId;
        h.packetId = packetId;
        WriteAgentXHeader(pdu, h);
    };
    auto frame = [&](size_t length) {
        out->push_back(Frame(kAgentX, static_cast<uint16_t>(packetId | 0x8000), pdu, length));
        return true;
    };
    AGENTX_WRITER writer(pdu, sizeof pdu, AGENTX_HEADER_SIZE);
    auto finish = [&]() {
        if (writer.Failed())
            return false;
        SetAgentXPayloadLength(pdu, static_cast<uint32_t>(writer.Offset() - AGENTX_HEADER_SIZE));
        return frame(writer.Offset());
    };
    const std::string &verb = w[0];
    size_t at = 1;
    uint32_t session = m_Session;
    std::string kind = verb;
    if (verb == "foreign" && w.size() >= 2) {
        session = m_Session + 1000;
        kind = w[1];
        at = 2;
    }
    MIBOID oid;
    if (kind == "get") {
        header(AXPacketType_Get, session);
        if (at >= w.size())
            return false;
        for (; at < w.size(); ++at) {
            if (!ParseOid(w[at], &oid))
                return false;
            writer.Oid(oid);
            writer.U32(0);  // empty end
        }
        return finish();
    }
    if (kind == "getnext" && at < w.size()) {
        header(AXPacketType_GetNext, session);
        if (!ParseOid(w[at], &oid))
            return false;
        size_t startAt = writer.Offset();
        writer.Oid(oid);
        bool include = false;
        MIBOID end;
        for (size_t i = at + 1; i < w.size(); ++i) {
            if (w[i] == "inc")
                include = true;
            else if (w[i] != "-" && !ParseOid(w[i], &end))
                return false;
        }
        if (include && !writer.Failed())
            pdu[startAt + 2] = 1;
        if (end.count != 0)
            writer.Oid(end);
        else
            writer.U32(0);
        return finish();
    }
    if (kind == "getbulk" && at < w.size() && ParseOid(w[at], &oid)) {
        header(AXPacketType_GetBulk, session);
        writer.U16(0);
        writer.U16(5);
        writer.Oid(oid);
        writer.U32(0);
        return finish();
    }
    if (kind == "testset" && at < w.size() && ParseOid(w[at], &oid)) {
        header(AXPacketType_TestSet, session);
        writer.U16(MIBTYPE_NULL);
        writer.U16(0);
        writer.Oid(oid);
        return finish();
    }
    if (kind == "response" && at < w.size() && ParseOid(w[at], &oid)) {
        header(AXPacketType_Response, session);
        writer.U32(0);
        writer.U32(0);
        writer.U16(MIBTYPE_NULL);
        writer.U16(0);
        writer.Oid(oid);
        return finish();
    }
    if (kind == "close") {
        header(AXPacketType_Close, session);
        writer.U8(AXCloseReason_Shutdown);
        writer.Zeros(3);
        return finish();
    }
    std::vector<uint8_t> bytes;
    if ((kind == "pdu" || kind == "packet" || kind == "kdl") && w.size() == 2 && ParseHex(w[1], &bytes)) {
        if (kind == "pdu") {
            out->push_back(Frame(kAgentX, static_cast<uint16_t>(packetId | 0x8000), bytes.data(), bytes.size()));
        } else if (kind == "packet") {
            out->push_back(bytes);
        } else {
            Packet packet = Frame(kKdl, static_cast<uint16_t>(packetId), bytes.data(), bytes.size());
            out->push_back(packet);
        }
        return true;
    }
    return false;
}

bool AgentxMaster::Answer(uint32_t channel, uint32_t, const Packet &request, std::vector<Packet> *replies)
{
    ChanPacketFields fields;
    if (!ReadChanPacketFields(request.data(), request.size(), &fields))
        return false;
    std::lock_guard<std::mutex> hold(m_Lock);
    if (fields.command == kHandshake) {
        m_Recorder.Line("axhandshake ch=%u len=%u seq=0x%04X", channel, static_cast<unsigned>(request.size()),
                        fields.sequence);
        Packet reply(8);
        WriteChanPacketFields(reply.data(), ChanPacketFields{8, fields.sequence, kHandshake | kReply, 0});
        replies->push_back(reply);
        return true;
    }
    if (fields.command == kSession) {
        uint16_t what = 0, value = 0;
        ByteReader reader(request.data(), request.size());
        bool wellFormed = request.size() == 12 && reader.U16(8, &what) && reader.U16(10, &value);
        uint32_t status = 0;
        if (!wellFormed)
            status = 2;
        else if (what == 1 && m_RefusePassthru != 0) {
            --m_RefusePassthru;
            status = 1;
        } else if (m_Bridge && what == 1) {
            status = m_Bridge->Open(channel) ? 0 : 1;
        } else if (m_Bridge && what == 2) {
            m_Bridge->Close();
        }
        m_Recorder.Line("axpassthru ch=%u seq=%u request=%s value=%u status=%u", channel, fields.sequence,
                        what == 1 ? "open" : what == 2 ? "close" : "other", value, status);
        Packet reply(12);
        WriteChanPacketFields(reply.data(), ChanPacketFields{12, fields.sequence, 0x8093, 0});
        PutU32(reply.data() + 8, status);
        replies->push_back(reply);
        // Requests scheduled for this session open follow its answer (in bridge mode too).
        if (wellFormed && what == 1 && status == 0)
            SendScheduled(channel, m_OnPassthru, ++m_PassthruOpens, replies);
        return true;
    }
    if (fields.command == kAgentX || fields.command == (kAgentX | kReply)) {
        if (m_Bridge) {
            uint32_t length = 0;
            ByteReader reader(request.data(), request.size());
            if (reader.U32(12, &length) && length >= 20 && length <= request.size() - 16) {
                m_Recorder.Line("axforward ch=%u cmd=0x%04X type=%u", channel, fields.command, request[17]);
                m_Bridge->Forward(channel, request.data() + 16, length);
            } else {
                m_Recorder.Line("axmalformed ch=%u len=%u", channel, static_cast<unsigned>(request.size()));
            }
            return true;
        }
        OnPdu(channel, request, replies);
        return true;
    }
    return false;
}

void AgentxMaster::OnPdu(uint32_t channel, const Packet &request, std::vector<Packet> *replies)
{
    ChanPacketFields fields;
    ReadChanPacketFields(request.data(), request.size(), &fields);
    uint32_t length = 0;
    ByteReader(request.data(), request.size()).U32(12, &length);
    AGENTX_RECEIVED_PDU pdu;
    if (request.size() < 16 || length > request.size() - 16 ||
        ReadAgentXPdu(request.data() + 16, length, &pdu) != AXRead_Ok) {
        m_Recorder.Line("axmalformed ch=%u len=%u", channel, static_cast<unsigned>(request.size()));
        return;
    }
    const AGENTX_HEADER &h = pdu.header;
    if (fields.command == (kAgentX | kReply)) {
        m_Recorder.Line("axanswer ch=%u seq=%u packet=%u type=%u session=%u error=%u index=%u %s", channel,
                        fields.sequence, h.packetId, h.type, h.sessionId, pdu.error, pdu.index,
                        VarBindsText(pdu).c_str());
        return;
    }
    uint16_t error = AXError_NoError;
    uint32_t responseSession = h.sessionId;
    uint32_t answeredRegister = 0;
    switch (h.type) {
    case AXPacketType_Open: {
        if (m_RefuseOpen != 0) {
            --m_RefuseOpen;
            error = kOpenFailed;
        } else {
            responseSession = m_NextSession++;
            m_Session = responseSession;
        }
        uint32_t descriptionLength = 0;
        const uint8_t *description = nullptr;
        AGENTX_READER reader(pdu.payload, pdu.payloadLength);
        const uint8_t *id = nullptr;
        const uint8_t *raw = nullptr;
        reader.Skip(4);
        reader.Oid(&id, nullptr);
        reader.OctetString(&raw, &description, &descriptionLength);
        std::string text(description ? reinterpret_cast<const char *>(description) : "", descriptionLength);
        for (char &c : text)
            if (c == ' ')
                c = '_';
        m_Recorder.Line("axopen ch=%u session=%u id=%s descr=%s error=%u", channel, responseSession,
                        id ? OidText(id).c_str() : "-", text.c_str(), error);
        break;
    }
    case AXPacketType_Close:
        m_Recorder.Line("axclose ch=%u session=%u reason=%u", channel, h.sessionId,
                        pdu.payloadLength ? pdu.payload[0] : 0);
        if (h.sessionId != m_Session)
            error = AXError_NotOpen;
        break;
    case AXPacketType_Register: {
        AGENTX_READER reader(pdu.payload, pdu.payloadLength);
        uint8_t timeout = 0, priority = 0;
        const uint8_t *subtree = nullptr;
        reader.U8(&timeout);
        reader.U8(&priority);
        reader.Skip(2);
        reader.Oid(&subtree, nullptr);
        m_Recorder.Line("axregister ch=%u session=%u oid=%s priority=%u flags=%u", channel, h.sessionId,
                        subtree ? OidText(subtree).c_str() : "-", priority, h.flags);
        if (h.sessionId != m_Session) {
            error = AXError_NotOpen;
            break;
        }
        answeredRegister = ++m_Registers;
        break;
    }
    case AXPacketType_Ping:
        if (m_IgnorePing != 0) {
            --m_IgnorePing;
            m_Recorder.Line("axping ch=%u session=%u answered=0", channel, h.sessionId);
            return;
        }
        m_Recorder.Line("axping ch=%u session=%u answered=1", channel, h.sessionId);
        break;
    case AXPacketType_Notify:
        m_Recorder.Line("axnotify ch=%u session=%u %s", channel, h.sessionId, VarBindsText(pdu).c_str());
        break;
    default:
        error = AXError_GenErr;
        break;
    }
    uint8_t response[64];
    AGENTX_HEADER answered = h;
    answered.sessionId = responseSession;
    size_t size = BeginAgentXResponse(response, sizeof response, answered, 0, error);
    replies->push_back(Frame(kAgentX | kReply, fields.sequence, response, size));
    if (answeredRegister != 0)
        SendScheduled(channel, m_OnRegister, answeredRegister, replies);
}

void AgentxMaster::SendScheduled(uint32_t channel, const std::multimap<uint32_t, Scheduled> &schedule,
                                 uint32_t ordinal, std::vector<Packet> *replies)
{
    auto range = schedule.equal_range(ordinal);
    for (auto it = range.first; it != range.second; ++it) {
        std::vector<Packet> scheduled;
        BuildRequest(it->second, &scheduled);
        for (Packet &packet : scheduled) {
            ChanPacketFields sent;
            ReadChanPacketFields(packet.data(), packet.size(), &sent);
            m_Recorder.Line("axsent ch=%u seq=%u cmd=0x%04X len=%u", channel, sent.sequence, sent.command,
                            static_cast<unsigned>(packet.size()));
            replies->push_back(std::move(packet));
        }
    }
}
