#pragma once
// How collectors write their MIB objects into the cycle's staging store: MIBVALUE, a typed SNMP
// value; DATASTORE_TABLE, which writes the cells of one conceptual table (entry . column . index);
// and DATASTORE_CURSOR, which writes the scalars of one group (group . number . 0).
//
// Both writers refuse the locked global store, so collector output reaches the served store only
// through the merge at the end of the cycle. They take no lock: a staging store belongs to the
// "Data Collection" thread alone.

#include <cstddef>
#include <cstdint>

#include "datastore.h"

// A typed value: type, flags (0 from these builders), length in bytes, and room for
// MIBVALUE_DATA_BYTES of data. Numbers are kept in host order.
struct MIBVALUE {
    uint16_t type;
    uint16_t flags;
    uint32_t length;
    uint8_t data[MIBVALUE_DATA_BYTES];

    // An empty value: type 0, and a length of the whole 1024-byte object, as callers that fill
    // the data themselves expect. The store never reads more than MIBVALUE_DATA_BYTES of it.
    MIBVALUE() : type(MIBTYPE_NONE), flags(0), length(sizeof(MIBVALUE)) {}

    // Type and length as given; the data stays as it is.
    void Init(uint16_t newType, uint32_t newLength);
    void InitInteger(int32_t value);
    void InitCounter32(uint32_t value);
    void InitGauge32(uint32_t value);
    void InitTimeTicks(uint32_t value);
    // An IpAddress: the four bytes of the address as the IP Helper tables hold it (first octet in
    // the lowest byte), which is already the order on the wire.
    void InitIpAddress(uint32_t address);
    // At most MIBVALUE_DATA_BYTES; longer strings are cut without notice. Null bytes give length 0.
    void InitOctetString(uint32_t byteCount, const void *bytes);
    // The sub-identifiers of the OID (an invalid OID gives length 0).
    void InitOid(const MIBOID &oid);

    // The value as the store sees it, its length cut to the data this object holds.
    MIBVALUE_REF Ref() const;
};
static_assert(sizeof(MIBVALUE) == 1024, "MIBVALUE is 1024 bytes");
static_assert(offsetof(MIBVALUE, type) == 0 && offsetof(MIBVALUE, flags) == 2 &&
                  offsetof(MIBVALUE, length) == 4 && offsetof(MIBVALUE, data) == 8,
              "MIBVALUE layout");

// True when text is valid UTF-8 of fewer than 4096 bytes: no stray continuation bytes or lead
// bytes above 0xF7, no truncated sequences, no overlong forms, no surrogates, nothing above
// U+10FFFF. A null pointer counts as valid.
bool IsValidUtf8(const char *text);

// Writes the cells of one table at a time into a staging store.
class DATASTORE_TABLE {
public:
    explicit DATASTORE_TABLE(DATASTORE *store);

    // Opens the table whose entry OID is given, with rows indexed by indexLength sub-identifiers
    // (at most MIBOID_MAX_SUBIDS). With clear, rows written earlier into this staging store are
    // dropped and the entry is marked, so that at the merge the served table holds exactly the
    // rows written from now on. Fails, leaving no table open, for a locking store or when the
    // entry node cannot be made.
    bool BeginTable(const MIBOID &entry, uint32_t indexLength, bool clear);

    // Sets the row index for the cells that follow; returns the index length. Positions without
    // an argument become 0; arguments beyond the index length are ignored.
    template <class... Rest>
    uint32_t SetIndex(uint32_t first, Rest... rest)
    {
        const uint32_t ids[] = {first, static_cast<uint32_t>(rest)...};
        return SetIndexArray(ids, static_cast<uint32_t>(sizeof ids / sizeof ids[0]));
    }
    uint32_t SetIndexArray(const uint32_t *ids, uint32_t count);

    // Stores the value at entry . column . index. False when no table is open or the heap is full.
    bool SetColumn(uint32_t column, const MIBVALUE &value);
    bool SetInteger(uint32_t column, int32_t value);
    bool SetCounter32(uint32_t column, uint32_t value);
    bool SetGauge32(uint32_t column, uint32_t value);
    bool SetUnsigned32(uint32_t column, uint32_t value);  // a Gauge32, as SNMP encodes Unsigned32
    bool SetTimeTicks(uint32_t column, uint32_t value);
    bool SetOctetString(uint32_t column, uint32_t byteCount, const void *bytes);
    // The text without its NUL; "Invalid character found" in its place when it is not valid
    // UTF-8 (IsValidUtf8); an empty string for null.
    bool SetString(uint32_t column, const char *text);
    bool SetOid(uint32_t column, const MIBOID &oid);
    bool SetIpAddress(uint32_t column, uint32_t address);  // as MIBVALUE::InitIpAddress

private:
    DATASTORE_NODE *Entry();

    DATASTORE *m_Store;
    DATASTORE_NODE *m_Entry = nullptr;
    uint32_t m_IndexLength = 0;
    uint32_t m_CellPath[1 + MIBOID_MAX_SUBIDS] = {};  // column, then the index
    MIBOID m_EntryOid;
    uint64_t m_Generation = 0;
};

// Writes the scalars of one group at a time into a staging store.
class DATASTORE_CURSOR {
public:
    explicit DATASTORE_CURSOR(DATASTORE *store);

    // The same rules as DATASTORE_TABLE::BeginTable, for the group's subtree.
    bool Open(const MIBOID &group, bool clear);
    // Stores the value at group . number . 0. False when nothing is open or the heap is full.
    bool SetScalar(uint32_t number, const MIBVALUE &value);
    bool SetInteger(uint32_t number, int32_t value);
    bool SetOctetString(uint32_t number, uint32_t byteCount, const void *bytes);
    bool SetString(uint32_t number, const char *text);
    bool SetCounter32(uint32_t number, uint32_t value);
    bool SetTimeTicks(uint32_t number, uint32_t value);

private:
    DATASTORE_NODE *Group();

    DATASTORE *m_Store;
    DATASTORE_NODE *m_Node = nullptr;
    MIBOID m_GroupOid;
    uint64_t m_Generation = 0;
};

// The text SetString stores in place of text that is not valid UTF-8.
extern const char kInvalidCharacterText[];
