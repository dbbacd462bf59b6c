// AgentX encoding: walkers, builders, the bounded writer and the bounded reader.
#include "agentx_pdu.h"

#include <algorithm>
#include <cstring>

using namespace axlayout;

// ---- Header -------------------------------------------------------------------------------------

AGENTX_HEADER ReadAgentXHeader(const uint8_t *pdu)
{
    AGENTX_HEADER header;
    header.version = pdu[kVersion];
    header.type = pdu[kType];
    header.flags = pdu[kFlags];
    header.reserved = pdu[kReserved];
    header.sessionId = GetAgentXU32(pdu + kSessionId);
    header.transactionId = GetAgentXU32(pdu + kTransactionId);
    header.packetId = GetAgentXU32(pdu + kPacketId);
    header.payloadLength = GetAgentXU32(pdu + kPayloadLength);
    return header;
}

void WriteAgentXHeader(uint8_t *pdu, const AGENTX_HEADER &header)
{
    pdu[kVersion] = header.version;
    pdu[kType] = header.type;
    pdu[kFlags] = header.flags;
    pdu[kReserved] = header.reserved;
    PutAgentXU32(pdu + kSessionId, header.sessionId);
    PutAgentXU32(pdu + kTransactionId, header.transactionId);
    PutAgentXU32(pdu + kPacketId, header.packetId);
    PutAgentXU32(pdu + kPayloadLength, header.payloadLength);
}

uint32_t GetAgentXPayloadLength(const uint8_t *pdu)
{
    return GetAgentXU32(pdu + kPayloadLength);
}

void SetAgentXPayloadLength(uint8_t *pdu, uint32_t length)
{
    PutAgentXU32(pdu + kPayloadLength, length);
}

// ---- Walkers ------------------------------------------------------------------------------------

size_t AgentXOidSize(const uint8_t *oid)
{
    return 4 * (size_t(oid[kOidCount]) + 1);
}

const uint8_t *SkipAgentXOid(const uint8_t *oid)
{
    return oid + AgentXOidSize(oid);
}

size_t AgentXOctetStringSizeFor(uint64_t length)
{
    return static_cast<size_t>(4 + ((length + 3) & ~uint64_t(3)));
}

size_t AgentXOctetStringSize(const uint8_t *octets)
{
    return AgentXOctetStringSizeFor(GetAgentXU32(octets + kOctetsLength));
}

const uint8_t *SkipAgentXOctetString(const uint8_t *octets)
{
    return octets + AgentXOctetStringSize(octets);
}

// Data bytes of a varbind of the type, given where its data starts.
static size_t DataSizeOf(uint16_t type, const uint8_t *data)
{
    switch (type) {
    case MIBTYPE_INTEGER:
    case MIBTYPE_COUNTER32:
    case MIBTYPE_GAUGE32:
    case MIBTYPE_TIMETICKS:
        return 4;
    case MIBTYPE_COUNTER64:
        return 8;
    case MIBTYPE_OID:
        return AgentXOidSize(data);
    case MIBTYPE_OCTETSTRING:
    case MIBTYPE_IPADDRESS:
    case MIBTYPE_OPAQUE:
        return AgentXOctetStringSize(data);
    default:  // Null, noSuchObject, noSuchInstance, endOfMibView and anything else
        return 0;
    }
}

size_t VarBindDataSize(const uint8_t *varbind)
{
    return DataSizeOf(GetAgentXU16(varbind + kVarBindType), GetVarBindData(varbind));
}

size_t VarBindSize(const uint8_t *varbind)
{
    return kVarBindName + AgentXOidSize(varbind + kVarBindName) + VarBindDataSize(varbind);
}

const uint8_t *GetVarBindData(const uint8_t *varbind)
{
    return SkipAgentXOid(varbind + kVarBindName);
}

uint8_t *GetVarBindData(uint8_t *varbind)
{
    return varbind + kVarBindName + AgentXOidSize(varbind + kVarBindName);
}

const uint8_t *NextVarBind(const uint8_t *varbind)
{
    return varbind + VarBindSize(varbind);
}

const uint8_t *SearchRangeEnd(const uint8_t *range)
{
    return SkipAgentXOid(range);
}

size_t SearchRangeSize(const uint8_t *range)
{
    return AgentXOidSize(range) + AgentXOidSize(SearchRangeEnd(range));
}

const uint8_t *NextSearchRange(const uint8_t *range)
{
    return range + SearchRangeSize(range);
}

const uint8_t *PduContext(const uint8_t *pdu)
{
    return (pdu[kFlags] & AXFlag_NonDefaultContext) ? pdu + kHeaderSize : nullptr;
}

const uint8_t *PduPayload(const uint8_t *pdu)
{
    const uint8_t *context = PduContext(pdu);
    return context ? SkipAgentXOctetString(context) : pdu + kHeaderSize;
}

size_t PduPayloadLength(const uint8_t *pdu)
{
    const uint8_t *context = PduContext(pdu);
    const size_t length = GetAgentXPayloadLength(pdu);
    const size_t contextSize = context ? AgentXOctetStringSize(context) : 0;
    return length > contextSize ? length - contextSize : 0;
}

size_t OpenPayloadSize(const uint8_t *payload)
{
    const uint8_t *id = payload + kOpenId;
    return kOpenId + AgentXOidSize(id) + AgentXOctetStringSize(SkipAgentXOid(id));
}

size_t RegisterPayloadSize(const uint8_t *payload)
{
    return kRegisterSubtree + AgentXOidSize(payload + kRegisterSubtree) + (payload[kRegisterRangeSubId] ? 4 : 0);
}

// ---- Builders -----------------------------------------------------------------------------------

void InitAgentXPdu(uint8_t *buffer, uint8_t type)
{
    std::memset(buffer, 0, AGENTX_PDU_BUFFER_SIZE);
    buffer[kVersion] = AGENTX_VERSION;
    buffer[kType] = type;
}

size_t CopyAgentXOid(uint8_t *destination, const uint8_t *oid)
{
    if (!oid)
        return ClearAgentXOid(destination);
    const size_t size = AgentXOidSize(oid);
    std::memmove(destination, oid, size);
    return size;
}

size_t ClearAgentXOid(uint8_t *destination)
{
    std::memset(destination, 0, 4);
    return 4;
}

size_t WriteAgentXOid(uint8_t *destination, uint8_t prefix, uint8_t include, const uint32_t *subIds, uint8_t count)
{
    destination[kOidCount] = count;
    destination[kOidPrefix] = prefix;
    destination[kOidInclude] = include;
    destination[kOidReserved] = 0;
    for (uint8_t i = 0; i < count; ++i)
        PutAgentXU32(destination + kOidSubIds + 4 * size_t(i), subIds[i]);
    return kOidSubIds + 4 * size_t(count);
}

namespace {

// The length, the bytes and zeroed padding; returns the bytes written.
size_t WriteAgentXOctets(uint8_t *destination, const void *bytes, size_t length)
{
    PutAgentXU32(destination + kOctetsLength, static_cast<uint32_t>(length));
    if (length)
        std::memcpy(destination + kOctetsBytes, bytes, length);
    const size_t size = AgentXOctetStringSizeFor(length);
    std::memset(destination + kOctetsBytes + length, 0, size - kOctetsBytes - length);
    return size;
}

} // namespace

size_t MakeAgentXOctetString(uint8_t *destination, const char *text)
{
    return WriteAgentXOctets(destination, text, text ? std::strlen(text) : 0);
}

size_t CopyVarBinds(uint8_t *destination, uint32_t count, const uint8_t *varbinds)
{
    const uint8_t *end = varbinds;
    for (uint32_t i = 0; i < count; ++i)
        end = NextVarBind(end);
    const size_t total = static_cast<size_t>(end - varbinds);
    std::memmove(destination, varbinds, total);
    return total;
}

// Whether the OID goes out in prefix form, and with which prefix.
static uint8_t PrefixOf(const MIBOID &oid)
{
    const uint32_t *id = oid.subIds;
    if (oid.count >= 5 && id[0] == 1 && id[1] == 3 && id[2] == 6 && id[3] == 1 && id[4] >= 1 && id[4] <= 255)
        return static_cast<uint8_t>(id[4]);
    return 0;
}

size_t AgentXEncodedOidSize(const MIBOID &oid)
{
    if (!oid.IsValid())
        return 4;
    return 4 + 4 * size_t(oid.count - (PrefixOf(oid) ? 5 : 0));
}

size_t EncodeAgentXOid(const MIBOID &oid, uint8_t *destination)
{
    if (!oid.IsValid())
        return ClearAgentXOid(destination);
    const uint8_t prefix = PrefixOf(oid);
    const int32_t skip = prefix ? 5 : 0;
    return WriteAgentXOid(destination, prefix, 0, oid.subIds + skip, static_cast<uint8_t>(oid.count - skip));
}

bool DecodeAgentXOid(const uint8_t *oid, MIBOID *decoded)
{
    const uint8_t count = oid[kOidCount], prefix = oid[kOidPrefix];
    const int32_t total = count + (prefix ? 5 : 0);
    decoded->count = 0;
    if (total > MIBOID_MAX_SUBIDS)
        return false;
    if (prefix) {
        const uint32_t internet[] = {1, 3, 6, 1, prefix};
        std::copy(std::begin(internet), std::end(internet), decoded->subIds);
    }
    const int32_t skip = prefix ? 5 : 0;
    for (int32_t i = 0; i < count; ++i)
        decoded->subIds[skip + i] = GetAgentXU32(oid + kOidSubIds + 4 * size_t(i));
    decoded->count = total;
    return true;
}

size_t AgentXEncodedValueSize(const MIBVALUE_REF &value)
{
    switch (value.type) {
    case MIBTYPE_INTEGER:
    case MIBTYPE_COUNTER32:
    case MIBTYPE_GAUGE32:
    case MIBTYPE_TIMETICKS:
        return 4;
    case MIBTYPE_COUNTER64:
        return 8;
    case MIBTYPE_OCTETSTRING:
    case MIBTYPE_IPADDRESS:
    case MIBTYPE_OPAQUE:
        return AgentXOctetStringSizeFor(value.length);
    case MIBTYPE_OID:
        return 4 + 4 * size_t(std::min<uint32_t>(value.length / 4, 255));
    default:
        return 0;
    }
}

size_t EncodeAgentXValue(const MIBVALUE_REF &value, uint8_t *varbind)
{
    uint8_t *data = GetVarBindData(varbind);
    uint16_t type = value.type;
    switch (value.type) {
    case MIBTYPE_INTEGER:
    case MIBTYPE_COUNTER32:
    case MIBTYPE_GAUGE32:
    case MIBTYPE_TIMETICKS:
        PutAgentXU32(data, value.U32());
        break;
    case MIBTYPE_COUNTER64:
        PutAgentXU64(data, value.U64());
        break;
    case MIBTYPE_OCTETSTRING:
    case MIBTYPE_IPADDRESS:
    case MIBTYPE_OPAQUE: {
        PutAgentXU32(data + kOctetsLength, value.length);
        if (value.length)
            std::memcpy(data + kOctetsBytes, value.data, value.length);
        const size_t size = AgentXOctetStringSizeFor(value.length);
        std::memset(data + kOctetsBytes + value.length, 0, size - kOctetsBytes - value.length);
        break;
    }
    case MIBTYPE_OID: {
        // The store keeps an OID value as its sub-identifiers in host order, 4 bytes each.
        const uint8_t count = static_cast<uint8_t>(std::min<uint32_t>(value.length / 4, 255));
        uint32_t ids[255];
        if (count)
            std::memcpy(ids, value.data, 4 * size_t(count));
        WriteAgentXOid(data, 0, 0, ids, count);
        break;
    }
    case MIBTYPE_NONE:
    case MIBTYPE_NULL:
        break;
    default:
        type = MIBTYPE_NULL;
        break;
    }
    PutAgentXU16(varbind + kVarBindType, type);
    PutAgentXU16(varbind + kVarBindReserved, 0);
    return VarBindSize(varbind);
}

uint8_t *InitVarBind(uint8_t *buffer, uint16_t type, const uint8_t *name)
{
    PutAgentXU16(buffer + kVarBindType, type);
    PutAgentXU16(buffer + kVarBindReserved, 0);
    CopyAgentXOid(buffer + kVarBindName, name);
    return buffer;
}

uint8_t *MakeIntegerVarBind(uint8_t *buffer, const uint8_t *name, int32_t value)
{
    InitVarBind(buffer, MIBTYPE_INTEGER, name);
    PutAgentXU32(GetVarBindData(buffer), static_cast<uint32_t>(value));
    return buffer;
}

uint8_t *MakeOctetStringVarBind(uint8_t *buffer, const uint8_t *name, const char *text)
{
    InitVarBind(buffer, MIBTYPE_OCTETSTRING, name);
    MakeAgentXOctetString(GetVarBindData(buffer), text);
    return buffer;
}

void SetOctetStringValue(uint8_t *value, uint32_t byteCount, const void *bytes)
{
    if (byteCount == 0 || bytes == nullptr) {
        PutAgentXU32(value + kOctetsLength, 0);
        return;
    }
    PutAgentXU32(value + kOctetsLength, byteCount);
    std::memcpy(value + kOctetsBytes, bytes, byteCount);
}

uint8_t *MakeCountedOctetStringVarBind(uint8_t *buffer, const uint8_t *name, uint32_t count, const void *bytes)
{
    InitVarBind(buffer, MIBTYPE_OCTETSTRING, name);
    uint8_t *value = GetVarBindData(buffer);
    SetOctetStringValue(value, count, bytes);
    // The varbind is sent as far as its padded size: the padding must not carry what the buffer
    // held before.
    const size_t length = GetAgentXU32(value + kOctetsLength);
    std::memset(value + kOctetsBytes + length, 0, AgentXOctetStringSizeFor(length) - kOctetsBytes - length);
    return buffer;
}

void SetLastSubId(uint8_t *oid, uint32_t id)
{
    const size_t count = oid[kOidCount];
    if (count >= 1)
        PutAgentXU32(oid + kOidSubIds + 4 * (count - 1), id);
}

void SetLastTwoSubIds(uint8_t *oid, uint32_t a, uint32_t b)
{
    const size_t count = oid[kOidCount];
    if (count >= 2) {
        PutAgentXU32(oid + kOidSubIds + 4 * (count - 2), a);
        PutAgentXU32(oid + kOidSubIds + 4 * (count - 1), b);
    }
}

void SetLastThreeSubIds(uint8_t *oid, uint32_t a, uint32_t b, uint32_t c)
{
    const size_t count = oid[kOidCount];
    if (count >= 3) {
        PutAgentXU32(oid + kOidSubIds + 4 * (count - 3), a);
        PutAgentXU32(oid + kOidSubIds + 4 * (count - 2), b);
        PutAgentXU32(oid + kOidSubIds + 4 * (count - 1), c);
    }
}

void SetOidIpAddressIndex(uint8_t *oid, uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    const size_t count = oid[kOidCount];
    if (count < 4)
        return;
    const uint32_t ids[] = {a, b, c, d};
    for (size_t i = 0; i < 4; ++i)
        PutAgentXU32(oid + kOidSubIds + 4 * (count - 4 + i), ids[i]);
}

uint8_t *MakeIpAddressVarBind(uint8_t *buffer, const uint8_t *name, const uint8_t address[4])
{
    InitVarBind(buffer, MIBTYPE_IPADDRESS, name);
    // Four bytes need no padding.
    SetOctetStringValue(GetVarBindData(buffer), 4, address);
    return buffer;
}

// ---- Bounded writer -----------------------------------------------------------------------------

uint8_t *AGENTX_WRITER::Room(size_t count)
{
    if (m_Failed || !m_Buffer || count > m_Size - m_Offset) {
        m_Failed = true;
        return nullptr;
    }
    uint8_t *at = m_Buffer + m_Offset;
    m_Offset += count;
    return at;
}

bool AGENTX_WRITER::U8(uint8_t value)
{
    uint8_t *at = Room(1);
    if (at)
        *at = value;
    return at != nullptr;
}

bool AGENTX_WRITER::U16(uint16_t value)
{
    uint8_t *at = Room(2);
    if (at)
        PutAgentXU16(at, value);
    return at != nullptr;
}

bool AGENTX_WRITER::U32(uint32_t value)
{
    uint8_t *at = Room(4);
    if (at)
        PutAgentXU32(at, value);
    return at != nullptr;
}

bool AGENTX_WRITER::U64(uint64_t value)
{
    uint8_t *at = Room(8);
    if (at)
        PutAgentXU64(at, value);
    return at != nullptr;
}

bool AGENTX_WRITER::Zeros(size_t count)
{
    uint8_t *at = Room(count);
    if (at && count)
        std::memset(at, 0, count);
    return at != nullptr;
}

bool AGENTX_WRITER::Bytes(const void *bytes, size_t count)
{
    uint8_t *at = Room(count);
    if (at && count)
        std::memcpy(at, bytes, count);
    return at != nullptr;
}

bool AGENTX_WRITER::OctetString(const void *bytes, uint32_t length)
{
    if (!bytes)
        length = 0;
    const size_t size = AgentXOctetStringSizeFor(length);
    uint8_t *at = Room(size);
    if (!at)
        return false;
    PutAgentXU32(at + kOctetsLength, length);
    if (length)
        std::memcpy(at + kOctetsBytes, bytes, length);
    std::memset(at + kOctetsBytes + length, 0, size - kOctetsBytes - length);
    return true;
}

bool AGENTX_WRITER::Text(const char *text)
{
    const size_t length = text ? std::strlen(text) : 0;
    if (length > UINT32_MAX) {
        m_Failed = true;
        return false;
    }
    return OctetString(text, static_cast<uint32_t>(length));
}

bool AGENTX_WRITER::Oid(const MIBOID &oid)
{
    uint8_t *at = Room(AgentXEncodedOidSize(oid));
    if (at)
        EncodeAgentXOid(oid, at);
    return at != nullptr;
}

bool AGENTX_WRITER::RawOid(const uint8_t *oid)
{
    uint8_t *at = Room(oid ? AgentXOidSize(oid) : 4);
    if (at)
        CopyAgentXOid(at, oid);
    return at != nullptr;
}

bool AGENTX_WRITER::VarBind(const MIBOID &name, const MIBVALUE_REF &value)
{
    uint8_t *at = Room(kVarBindName + AgentXEncodedOidSize(name) + AgentXEncodedValueSize(value));
    if (at) {
        EncodeAgentXOid(name, at + kVarBindName);
        EncodeAgentXValue(value, at);
    }
    return at != nullptr;
}

bool AGENTX_WRITER::EmptyVarBind(uint16_t type, const uint8_t *name)
{
    uint8_t *at = Room(kVarBindName + (name ? AgentXOidSize(name) : 4));
    if (at)
        InitVarBind(at, type, name);
    return at != nullptr;
}

// ---- PDUs of the session ------------------------------------------------------------------------

// Clears the buffer and writes a header with the payload length still 0.
static bool StartPdu(uint8_t *buffer, size_t size, uint8_t type, uint8_t flags, uint32_t sessionId, uint32_t packetId)
{
    if (!buffer || size < kHeaderSize)
        return false;
    std::memset(buffer, 0, size);
    AGENTX_HEADER header;
    header.type = type;
    header.flags = flags;
    header.sessionId = sessionId;
    header.packetId = packetId;
    WriteAgentXHeader(buffer, header);
    return true;
}

// Sets the payload length from what the writer wrote; 0 when something did not fit.
static size_t FinishPdu(uint8_t *buffer, const AGENTX_WRITER &writer)
{
    if (writer.Failed())
        return 0;
    SetAgentXPayloadLength(buffer, static_cast<uint32_t>(writer.Offset() - kHeaderSize));
    return writer.Offset();
}

size_t BuildAgentXOpenPdu(uint8_t *buffer, size_t size, uint32_t packetId, uint8_t timeout, const uint8_t *id,
                          const char *description)
{
    if (!StartPdu(buffer, size, AXPacketType_Open, 0, 0, packetId))
        return 0;
    AGENTX_WRITER writer(buffer, size, kHeaderSize);
    writer.U8(timeout);
    writer.Zeros(3);
    writer.RawOid(id);
    writer.Text(description);
    return FinishPdu(buffer, writer);
}

size_t BuildAgentXClosePdu(uint8_t *buffer, size_t size, uint32_t sessionId, uint32_t packetId, uint8_t reason)
{
    if (!StartPdu(buffer, size, AXPacketType_Close, 0, sessionId, packetId))
        return 0;
    AGENTX_WRITER writer(buffer, size, kHeaderSize);
    writer.U8(reason);
    writer.Zeros(kCloseSize - 1);
    return FinishPdu(buffer, writer);
}

size_t BuildAgentXRegisterPdu(uint8_t *buffer, size_t size, uint8_t type, uint8_t flags, uint32_t sessionId,
                              uint32_t packetId, uint8_t priority, const uint8_t *subtree)
{
    if (!StartPdu(buffer, size, type, flags, sessionId, packetId))
        return 0;
    AGENTX_WRITER writer(buffer, size, kHeaderSize);
    writer.U8(0);  // timeout: the session's
    writer.U8(priority);
    writer.U8(0);  // range_subid: a plain subtree
    writer.U8(0);
    writer.RawOid(subtree);
    return FinishPdu(buffer, writer);
}

size_t BuildAgentXPingPdu(uint8_t *buffer, size_t size, uint32_t sessionId, uint32_t packetId)
{
    if (!StartPdu(buffer, size, AXPacketType_Ping, 0, sessionId, packetId))
        return 0;
    return FinishPdu(buffer, AGENTX_WRITER(buffer, size, kHeaderSize));
}

size_t BuildAgentXNotifyPdu(uint8_t *buffer, size_t size, uint32_t sessionId, uint32_t packetId, uint32_t count,
                            const uint8_t *varbinds)
{
    if (!StartPdu(buffer, size, AXPacketType_Notify, 0, sessionId, packetId))
        return 0;
    AGENTX_WRITER writer(buffer, size, kHeaderSize);
    const uint8_t *varbind = varbinds;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t varbindSize = VarBindSize(varbind);
        if (!writer.Bytes(varbind, varbindSize))
            break;
        varbind += varbindSize;
    }
    return FinishPdu(buffer, writer);
}

size_t BeginAgentXResponse(uint8_t *buffer, size_t size, const AGENTX_HEADER &request, uint32_t sysUpTime,
                           uint16_t error)
{
    if (!StartPdu(buffer, size, AXPacketType_Response, 0, request.sessionId, request.packetId))
        return 0;
    PutAgentXU32(buffer + kTransactionId, request.transactionId);
    AGENTX_WRITER writer(buffer, size, kHeaderSize);
    writer.U32(sysUpTime);
    writer.U16(error);
    writer.U16(0);
    return FinishPdu(buffer, writer);
}

void SetAgentXResponseError(uint8_t *pdu, uint16_t error, uint16_t index)
{
    PutAgentXU16(pdu + kHeaderSize + kResponseError, error);
    PutAgentXU16(pdu + kHeaderSize + kResponseIndex, index);
}

// A writer at the end of the Response's payload.
static AGENTX_WRITER ResponseTail(uint8_t *pdu, size_t size)
{
    const size_t end = kHeaderSize + size_t(GetAgentXPayloadLength(pdu));
    return AGENTX_WRITER(pdu, size, end);
}

bool AppendAgentXVarBind(uint8_t *pdu, size_t size, const MIBOID &name, const MIBVALUE_REF &value)
{
    AGENTX_WRITER writer = ResponseTail(pdu, size);
    if (!writer.VarBind(name, value))
        return false;
    SetAgentXPayloadLength(pdu, static_cast<uint32_t>(writer.Offset() - kHeaderSize));
    return true;
}

bool AppendAgentXEmptyVarBind(uint8_t *pdu, size_t size, uint16_t type, const uint8_t *name)
{
    AGENTX_WRITER writer = ResponseTail(pdu, size);
    if (!writer.EmptyVarBind(type, name))
        return false;
    SetAgentXPayloadLength(pdu, static_cast<uint32_t>(writer.Offset() - kHeaderSize));
    return true;
}

void AnswerAgentXTooBig(uint8_t *pdu)
{
    SetAgentXResponseError(pdu, AXError_TooBig, 0);
    SetAgentXPayloadLength(pdu, kResponseVarBinds);
}

// ---- Bounded reader -----------------------------------------------------------------------------

bool AgentXReadAnswer(int result, uint16_t *error)
{
    uint16_t answer = AXError_NoError;
    switch (result) {
    case AXRead_Ok:
        break;
    case AXRead_PastEnd:
    case AXRead_Truncated:
        answer = AXError_ParseError;
        break;
    case AXRead_OidTooLong:
        answer = AXError_GenErr;
        break;
    default:  // no usable header: nobody to answer
        return false;
    }
    if (error)
        *error = answer;
    return true;
}

int AGENTX_READER::Bytes(size_t count, const uint8_t **at)
{
    if (count > Remaining())
        return AXRead_Truncated;
    if (at)
        *at = m_Bytes + m_Offset;
    m_Offset += count;
    return AXRead_Ok;
}

int AGENTX_READER::Skip(size_t count)
{
    return Bytes(count, nullptr);
}

int AGENTX_READER::U8(uint8_t *value)
{
    const uint8_t *at;
    const int result = Bytes(1, &at);
    if (result == AXRead_Ok)
        *value = *at;
    return result;
}

int AGENTX_READER::U16(uint16_t *value)
{
    const uint8_t *at;
    const int result = Bytes(2, &at);
    if (result == AXRead_Ok)
        *value = GetAgentXU16(at);
    return result;
}

int AGENTX_READER::U32(uint32_t *value)
{
    const uint8_t *at;
    const int result = Bytes(4, &at);
    if (result == AXRead_Ok)
        *value = GetAgentXU32(at);
    return result;
}

int AGENTX_READER::U64(uint64_t *value)
{
    const uint8_t *at;
    const int result = Bytes(8, &at);
    if (result == AXRead_Ok)
        *value = GetAgentXU64(at);
    return result;
}

int AGENTX_READER::Oid(const uint8_t **raw, MIBOID *decoded)
{
    if (Remaining() < kOidSubIds)
        return AXRead_Truncated;
    const uint8_t *oid = Here();
    const size_t size = AgentXOidSize(oid);
    if (size > Remaining())
        return AXRead_Truncated;
    if (oid[kOidCount] + (oid[kOidPrefix] ? 5 : 0) > MIBOID_MAX_SUBIDS)
        return AXRead_OidTooLong;
    if (decoded)
        DecodeAgentXOid(oid, decoded);
    if (raw)
        *raw = oid;
    m_Offset += size;
    return AXRead_Ok;
}

int AGENTX_READER::OctetString(const uint8_t **raw, const uint8_t **bytes, uint32_t *length)
{
    if (Remaining() < kOctetsBytes)
        return AXRead_Truncated;
    const uint8_t *octets = Here();
    const uint32_t declared = GetAgentXU32(octets + kOctetsLength);
    if (AgentXOctetStringSizeFor(declared) > Remaining())
        return AXRead_PastEnd;
    if (raw)
        *raw = octets;
    if (bytes)
        *bytes = octets + kOctetsBytes;
    if (length)
        *length = declared;
    m_Offset += AgentXOctetStringSizeFor(declared);
    return AXRead_Ok;
}

int AGENTX_READER::VarBind(AGENTX_VARBIND *varbind)
{
    AGENTX_READER probe = *this;  // commit only a whole varbind
    AGENTX_VARBIND read;
    read.start = probe.Here();
    int result = probe.U16(&read.type);
    if (result == AXRead_Ok)
        result = probe.Skip(2);
    if (result == AXRead_Ok)
        result = probe.Oid(&read.name, nullptr);
    if (result != AXRead_Ok)
        return result;
    read.data = probe.Here();
    const size_t before = probe.Offset();
    switch (read.type) {
    case MIBTYPE_INTEGER:
    case MIBTYPE_COUNTER32:
    case MIBTYPE_GAUGE32:
    case MIBTYPE_TIMETICKS:
        result = probe.Skip(4);
        break;
    case MIBTYPE_COUNTER64:
        result = probe.Skip(8);
        break;
    case MIBTYPE_OID:
        result = probe.Oid(nullptr, nullptr);
        break;
    case MIBTYPE_OCTETSTRING:
    case MIBTYPE_IPADDRESS:
    case MIBTYPE_OPAQUE:
        result = probe.OctetString(nullptr, nullptr, nullptr);
        break;
    default:
        break;
    }
    if (result != AXRead_Ok)
        return result;
    read.dataSize = probe.Offset() - before;
    read.size = probe.Offset() - m_Offset;
    if (varbind)
        *varbind = read;
    *this = probe;
    return AXRead_Ok;
}

int AGENTX_READER::SearchRange(AGENTX_SEARCH_RANGE *range)
{
    AGENTX_READER probe = *this;
    const uint8_t *start, *end;
    int result = probe.Oid(&start, range ? &range->start : nullptr);
    if (result == AXRead_Ok)
        result = probe.Oid(&end, range ? &range->end : nullptr);
    if (result != AXRead_Ok)
        return result;
    if (range) {
        range->rawStart = start;
        range->rawEnd = end;
        range->include = start[kOidInclude];
    }
    *this = probe;
    return AXRead_Ok;
}

// Reads search ranges up to the end of the reader.
static int ReadRanges(AGENTX_READER &reader, AGENTX_RECEIVED_PDU *pdu)
{
    pdu->ranges = reader.Here();
    pdu->rangesLength = reader.Remaining();
    while (reader.Remaining()) {
        const int result = reader.SearchRange(nullptr);
        if (result != AXRead_Ok)
            return result;
        ++pdu->rangeCount;
    }
    return AXRead_Ok;
}

// Reads varbinds up to the end of the reader.
static int ReadVarBinds(AGENTX_READER &reader, AGENTX_RECEIVED_PDU *pdu)
{
    pdu->varbinds = reader.Here();
    pdu->varbindsLength = reader.Remaining();
    while (reader.Remaining()) {
        const int result = reader.VarBind(nullptr);
        if (result != AXRead_Ok)
            return result;
        ++pdu->varbindCount;
    }
    return AXRead_Ok;
}

static int ReadPayload(AGENTX_READER &reader, AGENTX_RECEIVED_PDU *pdu)
{
    int result = AXRead_Ok;
    switch (pdu->header.type) {
    case AXPacketType_Open:
        result = reader.Skip(kOpenId);
        if (result == AXRead_Ok)
            result = reader.Oid(nullptr, nullptr);
        if (result == AXRead_Ok)
            result = reader.OctetString(nullptr, nullptr, nullptr);
        return result;
    case AXPacketType_Close:
        return reader.Skip(kCloseSize);
    case AXPacketType_Register:
    case AXPacketType_Unregister: {
        const uint8_t *fixed;
        result = reader.Bytes(kRegisterSubtree, &fixed);
        if (result == AXRead_Ok)
            result = reader.Oid(nullptr, nullptr);
        if (result == AXRead_Ok && fixed[kRegisterRangeSubId])
            result = reader.Skip(4);
        return result;
    }
    case AXPacketType_Get:
    case AXPacketType_GetNext:
        return ReadRanges(reader, pdu);
    case AXPacketType_GetBulk:
        result = reader.U16(&pdu->nonRepeaters);
        if (result == AXRead_Ok)
            result = reader.U16(&pdu->maxRepetitions);
        if (result == AXRead_Ok)
            result = ReadRanges(reader, pdu);
        return result;
    case AXPacketType_TestSet:
    case AXPacketType_Notify:
    case AXPacketType_IndexAllocate:
    case AXPacketType_IndexDeallocate:
        return ReadVarBinds(reader, pdu);
    case AXPacketType_AddAgentCaps:
        result = reader.Oid(nullptr, nullptr);
        if (result == AXRead_Ok)
            result = reader.OctetString(nullptr, nullptr, nullptr);
        return result;
    case AXPacketType_RemoveAgentCaps:
        return reader.Oid(nullptr, nullptr);
    case AXPacketType_Response:
        result = reader.U32(&pdu->sysUpTime);
        if (result == AXRead_Ok)
            result = reader.U16(&pdu->error);
        if (result == AXRead_Ok)
            result = reader.U16(&pdu->index);
        if (result == AXRead_Ok)
            result = ReadVarBinds(reader, pdu);
        return result;
    default:  // CommitSet, UndoSet, CleanupSet, Ping: no payload; unknown types: nothing to check
        return AXRead_Ok;
    }
}

int ReadAgentXPdu(const uint8_t *bytes, size_t size, AGENTX_RECEIVED_PDU *pdu)
{
    AGENTX_RECEIVED_PDU read;
    if (!bytes || size < kHeaderSize)
        return AXRead_ShortHeader;
    read.header = ReadAgentXHeader(bytes);
    if (read.header.version != AGENTX_VERSION)
        return AXRead_BadVersion;
    if (read.header.payloadLength > size - kHeaderSize)
        return AXRead_PastEnd;
    read.pdu = bytes;
    read.size = kHeaderSize + size_t(read.header.payloadLength);

    AGENTX_READER reader(bytes + kHeaderSize, read.header.payloadLength);
    if (read.header.flags & AXFlag_NonDefaultContext) {
        const int result = reader.OctetString(&read.context, nullptr, nullptr);
        if (result != AXRead_Ok)
            return result;
    }
    read.payload = reader.Here();
    read.payloadLength = reader.Remaining();
    const int result = ReadPayload(reader, &read);
    if (result != AXRead_Ok)
        return result;
    if (pdu)
        *pdu = read;
    return AXRead_Ok;
}
