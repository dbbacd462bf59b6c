// Values, the UTF-8 check, and the table and scalar writers of the staging store.
#include "store_writers.h"

#include <algorithm>
#include <cstring>

const char kInvalidCharacterText[] = "Invalid character found";

// ---- MIBVALUE -----------------------------------------------------------------------------------

void MIBVALUE::Init(uint16_t newType, uint32_t newLength)
{
    type = newType;
    flags = 0;
    length = newLength;
}

static void InitU32(MIBVALUE *value, uint16_t type, uint32_t number)
{
    value->Init(type, sizeof number);
    std::memcpy(value->data, &number, sizeof number);
}

void MIBVALUE::InitInteger(int32_t value) { InitU32(this, MIBTYPE_INTEGER, static_cast<uint32_t>(value)); }
void MIBVALUE::InitCounter32(uint32_t value) { InitU32(this, MIBTYPE_COUNTER32, value); }
void MIBVALUE::InitGauge32(uint32_t value) { InitU32(this, MIBTYPE_GAUGE32, value); }
void MIBVALUE::InitTimeTicks(uint32_t value) { InitU32(this, MIBTYPE_TIMETICKS, value); }
void MIBVALUE::InitIpAddress(uint32_t address) { InitU32(this, MIBTYPE_IPADDRESS, address); }

void MIBVALUE::InitOctetString(uint32_t byteCount, const void *bytes)
{
    if (!bytes)
        byteCount = 0;
    byteCount = std::min(byteCount, MIBVALUE_DATA_BYTES);
    Init(MIBTYPE_OCTETSTRING, byteCount);
    if (byteCount)
        std::memcpy(data, bytes, byteCount);
}

void MIBVALUE::InitOid(const MIBOID &oid)
{
    const uint32_t count = oid.IsValid() ? static_cast<uint32_t>(oid.count) : 0;
    Init(MIBTYPE_OID, count * 4);
    if (count)
        std::memcpy(data, oid.subIds, count * 4);
}

MIBVALUE_REF MIBVALUE::Ref() const
{
    return MIBVALUE_REF{type, flags, std::min(length, MIBVALUE_DATA_BYTES), data};
}

// ---- UTF-8 --------------------------------------------------------------------------------------

bool IsValidUtf8(const char *text)
{
    if (!text)
        return true;
    // Longer texts are refused whole: no text column of the MIB is that long, and the bound keeps
    // a text without its NUL from running on.
    constexpr size_t kLimit = 4096;
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    size_t at = 0;
    while (bytes[at]) {
        const unsigned lead = bytes[at];
        unsigned extra;
        uint32_t point;
        if (lead < 0x80) {
            extra = 0;
            point = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            point = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            point = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            point = lead & 0x07;
        } else {
            return false;  // a continuation byte, or 0xF8 and above
        }
        ++at;
        for (unsigned i = 0; i < extra; ++i, ++at) {
            if ((bytes[at] & 0xC0) != 0x80)  // also stops at the NUL
                return false;
            point = (point << 6) | (bytes[at] & 0x3F);
        }
        static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (point < kSmallest[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        if (at >= kLimit)
            return false;
    }
    return true;
}

// The value SetString stores for a text.
static void InitText(MIBVALUE *value, const char *text)
{
    if (!text) {
        value->Init(MIBTYPE_OCTETSTRING, 0);  // nothing to store but an empty string
    } else if (IsValidUtf8(text)) {
        // Valid texts are shorter than 4096 bytes, so strlen stops in bounds.
        value->InitOctetString(static_cast<uint32_t>(std::strlen(text)), text);
    } else {
        value->InitOctetString(sizeof kInvalidCharacterText - 1, kInvalidCharacterText);
    }
}

// ---- DATASTORE_TABLE ----------------------------------------------------------------------------

DATASTORE_TABLE::DATASTORE_TABLE(DATASTORE *store) : m_Store(store) {}

bool DATASTORE_TABLE::BeginTable(const MIBOID &entry, uint32_t indexLength, bool clear)
{
    m_Entry = nullptr;
    if (!m_Store || m_Store->IsLocking() || indexLength > static_cast<uint32_t>(MIBOID_MAX_SUBIDS))
        return false;
    m_IndexLength = indexLength;
    std::fill(std::begin(m_CellPath), std::end(m_CellPath), 0u);
    m_Entry = m_Store->FindOrCreate(entry);
    if (!m_Entry)
        return false;
    if (clear) {
        m_Store->DeleteChildren(m_Entry);
        DATASTORE::MarkReplace(m_Entry);
    }
    m_EntryOid = entry;
    m_Generation = m_Store->Generation();
    return true;
}

uint32_t DATASTORE_TABLE::SetIndexArray(const uint32_t *ids, uint32_t count)
{
    for (uint32_t i = 0; i < m_IndexLength; ++i)
        m_CellPath[1 + i] = ids && i < count ? ids[i] : 0;
    return m_IndexLength;
}

// The open entry node, looked up again when the store freed or moved nodes since (a clear of an
// enclosing group, a merge) so that a writer never writes through a freed node.
DATASTORE_NODE *DATASTORE_TABLE::Entry()
{
    if (m_Entry && m_Generation != m_Store->Generation()) {
        m_Entry = m_Store->FindOrCreate(m_EntryOid);
        m_Generation = m_Store->Generation();
    }
    return m_Entry;
}

bool DATASTORE_TABLE::SetColumn(uint32_t column, const MIBVALUE &value)
{
    DATASTORE_NODE *entry = Entry();
    if (!entry)
        return false;
    m_CellPath[0] = column;
    return m_Store->FindOrCreateBelow(entry, m_IndexLength + 1, m_CellPath, value);
}

bool DATASTORE_TABLE::SetInteger(uint32_t column, int32_t number)
{
    MIBVALUE value;
    value.InitInteger(number);
    return SetColumn(column, value);
}

bool DATASTORE_TABLE::SetCounter32(uint32_t column, uint32_t number)
{
    MIBVALUE value;
    value.InitCounter32(number);
    return SetColumn(column, value);
}

bool DATASTORE_TABLE::SetGauge32(uint32_t column, uint32_t number)
{
    MIBVALUE value;
    value.InitGauge32(number);
    return SetColumn(column, value);
}

bool DATASTORE_TABLE::SetUnsigned32(uint32_t column, uint32_t number)
{
    return SetGauge32(column, number);
}

bool DATASTORE_TABLE::SetTimeTicks(uint32_t column, uint32_t number)
{
    MIBVALUE value;
    value.InitTimeTicks(number);
    return SetColumn(column, value);
}

bool DATASTORE_TABLE::SetIpAddress(uint32_t column, uint32_t address)
{
    MIBVALUE value;
    value.InitIpAddress(address);
    return SetColumn(column, value);
}

bool DATASTORE_TABLE::SetOctetString(uint32_t column, uint32_t byteCount, const void *bytes)
{
    MIBVALUE value;
    value.InitOctetString(byteCount, bytes);
    return SetColumn(column, value);
}

bool DATASTORE_TABLE::SetString(uint32_t column, const char *text)
{
    MIBVALUE value;
    InitText(&value, text);
    return SetColumn(column, value);
}

bool DATASTORE_TABLE::SetOid(uint32_t column, const MIBOID &oid)
{
    MIBVALUE value;
    value.InitOid(oid);
    return SetColumn(column, value);
}

// ---- DATASTORE_CURSOR ---------------------------------------------------------------------------

DATASTORE_CURSOR::DATASTORE_CURSOR(DATASTORE *store) : m_Store(store) {}

bool DATASTORE_CURSOR::Open(const MIBOID &group, bool clear)
{
    m_Node = nullptr;
    if (!m_Store || m_Store->IsLocking())
        return false;
    m_Node = m_Store->FindOrCreate(group);
    if (!m_Node)
        return false;
    if (clear) {
        m_Store->DeleteChildren(m_Node);
        DATASTORE::MarkReplace(m_Node);
    }
    m_GroupOid = group;
    m_Generation = m_Store->Generation();
    return true;
}

DATASTORE_NODE *DATASTORE_CURSOR::Group()
{
    if (m_Node && m_Generation != m_Store->Generation()) {
        m_Node = m_Store->FindOrCreate(m_GroupOid);
        m_Generation = m_Store->Generation();
    }
    return m_Node;
}

bool DATASTORE_CURSOR::SetScalar(uint32_t number, const MIBVALUE &value)
{
    DATASTORE_NODE *group = Group();
    if (!group)
        return false;
    const uint32_t path[] = {number, 0};
    return m_Store->FindOrCreateBelow(group, 2, path, value);
}

bool DATASTORE_CURSOR::SetInteger(uint32_t number, int32_t integer)
{
    MIBVALUE value;
    value.InitInteger(integer);
    return SetScalar(number, value);
}

bool DATASTORE_CURSOR::SetCounter32(uint32_t number, uint32_t counter)
{
    MIBVALUE value;
    value.InitCounter32(counter);
    return SetScalar(number, value);
}

bool DATASTORE_CURSOR::SetTimeTicks(uint32_t number, uint32_t ticks)
{
    MIBVALUE value;
    value.InitTimeTicks(ticks);
    return SetScalar(number, value);
}

bool DATASTORE_CURSOR::SetOctetString(uint32_t number, uint32_t byteCount, const void *bytes)
{
    MIBVALUE value;
    value.InitOctetString(byteCount, bytes);
    return SetScalar(number, value);
}

bool DATASTORE_CURSOR::SetString(uint32_t number, const char *text)
{
    MIBVALUE value;
    InitText(&value, text);
    return SetScalar(number, value);
}
