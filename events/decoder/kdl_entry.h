#pragma once
// One hardware event-log entry as the management processor pushes it, and bounded views over it.
//
// The entry arrives from outside the process: its size field, its strings and every offset a
// class formatter reads are untrusted. Nothing here reads a byte that was not received: the entry
// view checks the header and the size against the bytes present, and the class data view answers
// reads past its end with zero bytes and cuts strings at its end.

#include <cstddef>
#include <cstdint>

#include "byte_reader.h"
#include "kdl_text.h"

#pragma pack(push, 1)
// Little-endian on the wire; documents the layout, never laid over received bytes.
struct KDL_ENTRY {
    uint16_t Size;        // bytes of the entry, header included
    uint32_t EventNumber; // printed as a signed decimal
    uint8_t Reserved6;
    uint8_t Severity;     // 2 and 3 informational, 6 repaired, 9 caution, 15 critical
    uint16_t Class;
    uint16_t Code;        // event code within the class
    uint8_t Reserved12[16];
    // class data follows, Size - 28 bytes
};
#pragma pack(pop)

static_assert(sizeof(KDL_ENTRY) == 28);
static_assert(offsetof(KDL_ENTRY, Size) == 0);
static_assert(offsetof(KDL_ENTRY, EventNumber) == 2);
static_assert(offsetof(KDL_ENTRY, Severity) == 7);
static_assert(offsetof(KDL_ENTRY, Class) == 8);
static_assert(offsetof(KDL_ENTRY, Code) == 10);
static_assert(offsetof(KDL_ENTRY, Reserved12) == 12);

constexpr size_t kKdlEntryHeaderSize = sizeof(KDL_ENTRY);
// Where the entry lies in a channel packet of command 149.
constexpr size_t kKdlEntryPacketOffset = 16;


// The class data of one entry. Formatters read fixed offsets and NUL-terminated strings laid one
// after the other; a byte past the end reads as 0 and a string without NUL ends at the end, so a
// short or unterminated entry yields a shorter text, never a read past what was received.
class KdlClassData {
public:
    KdlClassData() = default;
    KdlClassData(const uint8_t *data, size_t size) : m_Reader(data, size) {}

    // The real length (entries are at most 65535 bytes, so it is not cut to 8 bits).
    size_t Size() const { return m_Reader.Size(); }
    uint8_t Byte(size_t offset) const;
    uint16_t U16(size_t offset) const; // little-endian, missing bytes read as 0
    uint32_t U32(size_t offset) const; // little-endian, unaligned, missing bytes read as 0
    // The string that begins at offset, up to its NUL or the end of the data, cut to what a line
    // can hold. Empty when offset lies at or past the end.
    KdlField String(size_t offset) const;
    // Where the string after the one at offset begins: just past its NUL (the end when it has none).
    size_t After(size_t offset) const;

private:
    ByteReader m_Reader{nullptr, 0};
};

enum class KdlEntryStatus {
    Ok,
    HeaderIncomplete,   // fewer than 28 bytes arrived
    SizeBelowHeader,    // the entry's size field is below 28
    SizeBeyondReceived, // the entry's size field claims more bytes than arrived
};

const char *KdlEntryStatusText(KdlEntryStatus status);

// A checked entry: the header fields and the class data of Size - 28 bytes, or fewer when fewer
// arrived.
class KdlEntryView {
public:
    // Checks received bytes (the entry and whatever follows it) and fills *view when Ok, and also
    // for SizeBeyondReceived, with the class data of the bytes that arrived (the header stays as
    // sent, Size included).
    static KdlEntryStatus Open(const uint8_t *bytes, size_t received, KdlEntryView *view);

    uint16_t Size() const { return m_Size; }
    uint32_t EventNumber() const { return m_EventNumber; }
    uint8_t Severity() const { return m_Severity; }
    uint16_t Class() const { return m_Class; }
    uint16_t Code() const { return m_Code; }
    const KdlClassData &ClassData() const { return m_ClassData; }

private:
    uint16_t m_Size = 0;
    uint32_t m_EventNumber = 0;
    uint8_t m_Severity = 0;
    uint16_t m_Class = 0;
    uint16_t m_Code = 0;
    KdlClassData m_ClassData;
};
