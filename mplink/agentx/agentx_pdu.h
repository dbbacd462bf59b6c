#pragma once
// AgentX PDUs as the sub-agent builds and reads them.
//
// Every multi-byte field is little-endian: the sub-agent never sets NETWORK_BYTE_ORDER, and it
// reads received PDUs as little-endian too. Layouts are written and read field by field, never by
// laying a struct over the bytes, so nothing depends on the host's byte order or alignment.
//
// Two kinds of functions live here:
//  - Walkers and builders that take a bare pointer (AgentXOidSize, NextVarBind, CopyAgentXOid,
//    MakeIntegerVarBind...). They trust their input: use them on PDUs and varbinds the service
//    built itself, or on a received PDU that ReadAgentXPdu accepted.
//  - The bounded reader (AGENTX_READER, ReadAgentXPdu) that every received PDU goes through
//    first, and the bounded writer (AGENTX_WRITER) behind the PDU builders. Neither ever reads or
//    writes past the bytes it is given; the reader refuses OIDs longer than a MIBOID holds and
//    says which AgentX error the answer should carry.

#include <cstddef>
#include <cstdint>

#include "datastore.h"

// ---- Sizes, numbers and layouts -----------------------------------------------------------------

constexpr size_t AGENTX_PDU_BUFFER_SIZE = 4080;
constexpr uint8_t AGENTX_VERSION = 1;

enum AXPacketType : uint8_t {
    AXPacketType_Open = 1,
    AXPacketType_Close = 2,
    AXPacketType_Register = 3,
    AXPacketType_Unregister = 4,
    AXPacketType_Get = 5,
    AXPacketType_GetNext = 6,
    AXPacketType_GetBulk = 7,
    AXPacketType_TestSet = 8,
    AXPacketType_CommitSet = 9,
    AXPacketType_UndoSet = 10,
    AXPacketType_CleanupSet = 11,
    AXPacketType_Notify = 12,
    AXPacketType_Ping = 13,
    AXPacketType_IndexAllocate = 14,
    AXPacketType_IndexDeallocate = 15,
    AXPacketType_AddAgentCaps = 16,
    AXPacketType_RemoveAgentCaps = 17,
    AXPacketType_Response = 18,
};

enum : uint8_t {
    AXFlag_InstanceRegistration = 0x01,
    AXFlag_NewIndex = 0x02,
    AXFlag_AnyIndex = 0x04,
    AXFlag_NonDefaultContext = 0x08,
    AXFlag_NetworkByteOrder = 0x10,
};

// Errors of a Response (SNMP errors below 256, AgentX errors above).
enum : uint16_t {
    AXError_NoError = 0,
    AXError_TooBig = 1,
    AXError_GenErr = 5,
    AXError_WrongType = 7,
    AXError_NotOpen = 257,
    AXError_ParseError = 266,
};

// Varbind types beyond the value types of the store (MIBTYPE_*).
enum : uint16_t {
    AXVarBind_NoSuchObject = 128,
    AXVarBind_NoSuchInstance = 129,
    AXVarBind_EndOfMibView = 130,
};

constexpr uint8_t AXCloseReason_Shutdown = 5;

// The PDU header: version, type, flags, reserved (one byte each), then sessionID,
// transactionID, packetID and the payload length (u32 each). The payload follows it.
struct AGENTX_HEADER {
    uint8_t version = AGENTX_VERSION;
    uint8_t type = 0;
    uint8_t flags = 0;
    uint8_t reserved = 0;
    uint32_t sessionId = 0;
    uint32_t transactionId = 0;
    uint32_t packetId = 0;
    uint32_t payloadLength = 0;
};

namespace axlayout {
// Header
constexpr size_t kVersion = 0, kType = 1, kFlags = 2, kReserved = 3, kSessionId = 4, kTransactionId = 8,
                 kPacketId = 12, kPayloadLength = 16, kHeaderSize = 20;
static_assert(kSessionId == kReserved + 1 && kTransactionId == kSessionId + 4 && kPacketId == kTransactionId + 4 &&
                  kPayloadLength == kPacketId + 4 && kHeaderSize == kPayloadLength + 4,
              "AgentX header layout");
// OID: n_subid, prefix, include, reserved, then n_subid u32 sub-identifiers.
constexpr size_t kOidCount = 0, kOidPrefix = 1, kOidInclude = 2, kOidReserved = 3, kOidSubIds = 4;
static_assert(kOidSubIds == kOidReserved + 1, "AgentX OID layout");
// Octet string: u32 length, the bytes, padding to a multiple of 4.
constexpr size_t kOctetsLength = 0, kOctetsBytes = 4;
// Varbind: u16 type, u16 reserved, the name (OID), then the data.
constexpr size_t kVarBindType = 0, kVarBindReserved = 2, kVarBindName = 4;
static_assert(kVarBindName == kVarBindReserved + 2, "AgentX varbind layout");
// Response payload: u32 sysUpTime, u16 error, u16 index, then varbinds.
constexpr size_t kResponseUpTime = 0, kResponseError = 4, kResponseIndex = 6, kResponseVarBinds = 8;
static_assert(kResponseVarBinds == kResponseIndex + 2, "AgentX Response layout");
// Open payload: u8 timeout, 3 reserved, the id (OID), the description (octet string).
constexpr size_t kOpenTimeout = 0, kOpenId = 4;
// Close payload: u8 reason, 3 reserved.
constexpr size_t kCloseReason = 0, kCloseSize = 4;
// Register payload: u8 timeout, u8 priority, u8 range_subid, u8 reserved, the subtree (OID),
// and a u32 upper bound only when range_subid is non-zero.
constexpr size_t kRegisterTimeout = 0, kRegisterPriority = 1, kRegisterRangeSubId = 2, kRegisterSubtree = 4;
// GetBulk payload: u16 non_repeaters, u16 max_repetitions, then the search ranges.
constexpr size_t kBulkNonRepeaters = 0, kBulkMaxRepetitions = 2, kBulkRanges = 4;
// The largest OID a PDU can carry: 255 sub-identifiers (n_subid is one byte).
constexpr size_t kMaxOidSize = 4 + 4 * 255;
} // namespace axlayout

constexpr size_t AGENTX_HEADER_SIZE = axlayout::kHeaderSize;

// Little-endian fields.
inline uint16_t GetAgentXU16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t GetAgentXU32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t GetAgentXU64(const uint8_t *p) { return GetAgentXU32(p) | uint64_t(GetAgentXU32(p + 4)) << 32; }
inline void PutAgentXU16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutAgentXU32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutAgentXU64(uint8_t *p, uint64_t v)
{
    PutAgentXU32(p, static_cast<uint32_t>(v));
    PutAgentXU32(p + 4, static_cast<uint32_t>(v >> 32));
}

// The first 20 bytes of a PDU.
AGENTX_HEADER ReadAgentXHeader(const uint8_t *pdu);
void WriteAgentXHeader(uint8_t *pdu, const AGENTX_HEADER &header);
uint32_t GetAgentXPayloadLength(const uint8_t *pdu);
void SetAgentXPayloadLength(uint8_t *pdu, uint32_t length);

// ---- Walkers (trusted input) --------------------------------------------------------------------

size_t AgentXOidSize(const uint8_t *oid);  // 4 * (n_subid + 1)
const uint8_t *SkipAgentXOid(const uint8_t *oid);
// 4 + the length rounded up to a multiple of 4 (computed without overflow).
size_t AgentXOctetStringSizeFor(uint64_t length);
size_t AgentXOctetStringSize(const uint8_t *octets);
const uint8_t *SkipAgentXOctetString(const uint8_t *octets);

size_t VarBindDataSize(const uint8_t *varbind);
size_t VarBindSize(const uint8_t *varbind);
const uint8_t *GetVarBindData(const uint8_t *varbind);
uint8_t *GetVarBindData(uint8_t *varbind);
const uint8_t *NextVarBind(const uint8_t *varbind);

const uint8_t *SearchRangeEnd(const uint8_t *range);
size_t SearchRangeSize(const uint8_t *range);
const uint8_t *NextSearchRange(const uint8_t *range);

// The context octet string, or null when NON_DEFAULT_CONTEXT is clear.
const uint8_t *PduContext(const uint8_t *pdu);
// The first payload byte after the header and the context, and the payload length without it.
const uint8_t *PduPayload(const uint8_t *pdu);
size_t PduPayloadLength(const uint8_t *pdu);

size_t OpenPayloadSize(const uint8_t *payload);
size_t RegisterPayloadSize(const uint8_t *payload);

// ---- Builders (trusted input, caller's room) -----------------------------------------------------

// Clears the 4080-byte buffer and sets version 1 and the type.
void InitAgentXPdu(uint8_t *buffer, uint8_t type);
// Copies an AgentX OID unchanged (prefix and include too); a null source writes the null OID.
// Each returns the bytes written.
size_t CopyAgentXOid(uint8_t *destination, const uint8_t *oid);
size_t ClearAgentXOid(uint8_t *destination);
// An OID from its parts: n_subid = count.
size_t WriteAgentXOid(uint8_t *destination, uint8_t prefix, uint8_t include, const uint32_t *subIds, uint8_t count);
// The text without its NUL as an octet string, padding bytes zeroed; null writes length 0.
size_t MakeAgentXOctetString(uint8_t *destination, const char *text);
// Copies count consecutive varbinds; returns their total size.
size_t CopyVarBinds(uint8_t *destination, uint32_t count, const uint8_t *varbinds);

// A MIBOID in AgentX form: with prefix x when it has at least 5 sub-identifiers, begins with
// 1.3.6.1 and the fifth is from 1 to 255 (n_subid = count - 5), else in full. include is 0. An
// invalid MIBOID is written as the null OID.
size_t EncodeAgentXOid(const MIBOID &oid, uint8_t *destination);
size_t AgentXEncodedOidSize(const MIBOID &oid);
// An AgentX OID as a MIBOID (1.3.6.1.prefix in front when the prefix is non-zero; include is
// dropped). False, leaving an empty OID, when it has more sub-identifiers than a MIBOID holds.
bool DecodeAgentXOid(const uint8_t *oid, MIBOID *decoded);

// Writes the type and data of a varbind whose name is already written, from a value of the store:
// Integer, Counter32, Gauge32, TimeTicks as u32; Counter64 as u64; OctetString, IpAddress, Opaque
// as an octet string; OBJECT IDENTIFIER as an OID (prefix 0); types 0 and 5 without data; any
// other type as Null. Returns the varbind's whole size.
size_t EncodeAgentXValue(const MIBVALUE_REF &value, uint8_t *varbind);
// The data bytes EncodeAgentXValue writes for the value.
size_t AgentXEncodedValueSize(const MIBVALUE_REF &value);

// Varbind builders of the trap senders; each returns the varbind buffer.
uint8_t *InitVarBind(uint8_t *buffer, uint16_t type, const uint8_t *name);
uint8_t *MakeIntegerVarBind(uint8_t *buffer, const uint8_t *name, int32_t value);
uint8_t *MakeOctetStringVarBind(uint8_t *buffer, const uint8_t *name, const char *text);
// The value part of an octet-string varbind at value: the u32 length and the bytes, without
// padding. A count of 0 or null bytes write a length of 0 and nothing else. The caller provides
// 4 + byteCount bytes of room.
void SetOctetStringValue(uint8_t *value, uint32_t byteCount, const void *bytes);
// Bytes that may hold NULs: a count of 0 or null bytes gives an empty value. The padding after
// the bytes is zeroed.
uint8_t *MakeCountedOctetStringVarBind(uint8_t *buffer, const uint8_t *name, uint32_t count, const void *bytes);
// Overwrite the last (two, three) sub-identifiers of an OID template with a row index. An OID with too
// few sub-identifiers is left alone.
void SetLastSubId(uint8_t *oid, uint32_t id);
void SetLastTwoSubIds(uint8_t *oid, uint32_t a, uint32_t b);
void SetLastThreeSubIds(uint8_t *oid, uint32_t a, uint32_t b, uint32_t c);
// The four octets of an address as the last four sub-identifiers (first octet fourth from the end).
void SetOidIpAddressIndex(uint8_t *oid, uint32_t a, uint32_t b, uint32_t c, uint32_t d);
// An IpAddress varbind: the four address bytes in the order given (first octet first).
uint8_t *MakeIpAddressVarBind(uint8_t *buffer, const uint8_t *name, const uint8_t address[4]);

// ---- Bounded writer and the PDUs of the session --------------------------------------------------

// Writes fields into a buffer of known size. A write that would not fit writes nothing and makes
// every later write fail too, so a caller checks once at the end.
class AGENTX_WRITER {
public:
    AGENTX_WRITER(uint8_t *buffer, size_t size, size_t offset = 0)
        : m_Buffer(buffer), m_Size(size), m_Offset(offset <= size ? offset : size), m_Failed(offset > size)
    {
    }

    bool U8(uint8_t value);
    bool U16(uint16_t value);
    bool U32(uint32_t value);
    bool U64(uint64_t value);
    bool Zeros(size_t count);
    bool Bytes(const void *bytes, size_t count);
    bool OctetString(const void *bytes, uint32_t length);  // padding zeroed
    bool Text(const char *text);                          // null: length 0
    bool Oid(const MIBOID &oid);                          // EncodeAgentXOid
    bool RawOid(const uint8_t *oid);                      // a trusted AgentX OID, copied unchanged
    // A varbind named oid (prefix form) holding the store value.
    bool VarBind(const MIBOID &name, const MIBVALUE_REF &value);
    // A varbind without data (noSuchObject, endOfMibView, Null) named with a trusted AgentX OID.
    bool EmptyVarBind(uint16_t type, const uint8_t *name);

    size_t Offset() const { return m_Offset; }
    bool Failed() const { return m_Failed; }

private:
    uint8_t *Room(size_t count);

    uint8_t *m_Buffer;
    size_t m_Size;
    size_t m_Offset;
    bool m_Failed;
};

// Request PDUs. Each clears the first `size` bytes of the buffer, writes header and payload, and
// returns the PDU's size, or 0 when it does not fit.
size_t BuildAgentXOpenPdu(uint8_t *buffer, size_t size, uint32_t packetId, uint8_t timeout, const uint8_t *id,
                          const char *description);
size_t BuildAgentXClosePdu(uint8_t *buffer, size_t size, uint32_t sessionId, uint32_t packetId, uint8_t reason);
// Register or Unregister (type), flags such as AXFlag_InstanceRegistration; timeout and
// range_subid 0.
size_t BuildAgentXRegisterPdu(uint8_t *buffer, size_t size, uint8_t type, uint8_t flags, uint32_t sessionId,
                              uint32_t packetId, uint8_t priority, const uint8_t *subtree);
size_t BuildAgentXPingPdu(uint8_t *buffer, size_t size, uint32_t sessionId, uint32_t packetId);
// Notify with count consecutive (trusted) varbinds as its payload.
size_t BuildAgentXNotifyPdu(uint8_t *buffer, size_t size, uint32_t sessionId, uint32_t packetId, uint32_t count,
                            const uint8_t *varbinds);

// The Response to a request: type 18, flags 0, the request's sessionID, transactionID and
// packetID, then sysUpTime, the error and index 0, no varbinds yet.
size_t BeginAgentXResponse(uint8_t *buffer, size_t size, const AGENTX_HEADER &request, uint32_t sysUpTime,
                           uint16_t error);
void SetAgentXResponseError(uint8_t *pdu, uint16_t error, uint16_t index);
// Append one varbind to the Response in a buffer of `size` bytes and count it in the payload
// length. False, with nothing written, when it does not fit: answer with AnswerAgentXTooBig then.
bool AppendAgentXVarBind(uint8_t *pdu, size_t size, const MIBOID &name, const MIBVALUE_REF &value);
bool AppendAgentXEmptyVarBind(uint8_t *pdu, size_t size, uint16_t type, const uint8_t *name);
// Turns the Response into tooBig without varbinds.
void AnswerAgentXTooBig(uint8_t *pdu);

// ---- Bounded reader -----------------------------------------------------------------------------

enum AXRead : int {
    AXRead_Ok = 0,
    AXRead_ShortHeader,  // fewer than 20 bytes: nothing to answer
    AXRead_BadVersion,   // not AgentX version 1: nothing to answer
    AXRead_PastEnd,      // a length field runs past the bytes (payload, context, octet string)
    AXRead_Truncated,    // a field, OID, search range, varbind or the context is cut off
    AXRead_OidTooLong,   // more sub-identifiers than a MIBOID holds
};

// Whether a PDU read with this result can be answered, and with which error: parseError for a
// malformed PDU, genErr for an OID too long to serve. False when the header itself is unusable
// (the PDU is dropped).
bool AgentXReadAnswer(int result, uint16_t *error);

struct AGENTX_VARBIND {
    uint16_t type = 0;
    const uint8_t *start = nullptr;  // the varbind's first byte
    size_t size = 0;                 // the whole varbind
    const uint8_t *name = nullptr;   // AgentX OID
    const uint8_t *data = nullptr;
    size_t dataSize = 0;
};

struct AGENTX_SEARCH_RANGE {
    const uint8_t *rawStart = nullptr;  // the start OID as received (to name an answer)
    const uint8_t *rawEnd = nullptr;
    MIBOID start;
    MIBOID end;  // count 0: no end
    uint8_t include = 0;
};

// Reads fields of untrusted bytes. Every accessor fails, reading nothing, instead of passing the
// end; OIDs longer than a MIBOID are refused.
class AGENTX_READER {
public:
    AGENTX_READER(const uint8_t *bytes, size_t size) : m_Bytes(bytes), m_Size(bytes ? size : 0) {}

    int U8(uint8_t *value);
    int U16(uint16_t *value);
    int U32(uint32_t *value);
    int U64(uint64_t *value);
    int Skip(size_t count);
    int Bytes(size_t count, const uint8_t **at);
    // raw: the OID's first byte; decoded may be null.
    int Oid(const uint8_t **raw, MIBOID *decoded);
    int OctetString(const uint8_t **raw, const uint8_t **bytes, uint32_t *length);
    int VarBind(AGENTX_VARBIND *varbind);
    int SearchRange(AGENTX_SEARCH_RANGE *range);

    size_t Offset() const { return m_Offset; }
    size_t Remaining() const { return m_Size - m_Offset; }
    const uint8_t *Here() const { return m_Bytes + m_Offset; }

private:
    const uint8_t *m_Bytes;
    size_t m_Size;
    size_t m_Offset = 0;
};

// A received PDU that ReadAgentXPdu checked from end to end; the pointers point into its bytes.
struct AGENTX_RECEIVED_PDU {
    AGENTX_HEADER header;
    const uint8_t *pdu = nullptr;
    size_t size = 0;                   // header + payload (received bytes beyond are ignored)
    const uint8_t *context = nullptr;  // the context octet string, or null
    const uint8_t *payload = nullptr;  // after the context
    size_t payloadLength = 0;
    // Get, GetNext, GetBulk: the search ranges (for GetBulk after its two counts).
    const uint8_t *ranges = nullptr;
    size_t rangesLength = 0;
    uint32_t rangeCount = 0;
    uint16_t nonRepeaters = 0;
    uint16_t maxRepetitions = 0;
    // Response, Notify, TestSet, IndexAllocate, IndexDeallocate: the varbinds.
    const uint8_t *varbinds = nullptr;
    size_t varbindsLength = 0;
    uint32_t varbindCount = 0;
    // Response
    uint32_t sysUpTime = 0;
    uint16_t error = 0;
    uint16_t index = 0;
};

// Checks a received PDU completely: header, payload length, context, and every field, OID,
// octet string, search range and varbind of its type. AXRead_Ok fills pdu; the walkers above are
// then safe on it. Types the sub-agent does not know are checked up to their context only.
int ReadAgentXPdu(const uint8_t *bytes, size_t size, AGENTX_RECEIVED_PDU *pdu);
