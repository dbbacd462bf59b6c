#include "kdl_entry.h"

#include <algorithm>
#include <cstring>


uint8_t KdlClassData::Byte(size_t offset) const
{
    uint8_t value = 0;
    m_Reader.U8(offset, &value);
    return value;
}

uint16_t KdlClassData::U16(size_t offset) const
{
    return static_cast<uint16_t>(Byte(offset) | Byte(offset + 1) << 8);
}

uint32_t KdlClassData::U32(size_t offset) const
{
    return static_cast<uint32_t>(Byte(offset)) | static_cast<uint32_t>(Byte(offset + 1)) << 8 |
           static_cast<uint32_t>(Byte(offset + 2)) << 16 | static_cast<uint32_t>(Byte(offset + 3)) << 24;
}

KdlField KdlClassData::String(size_t offset) const
{
    KdlField field;
    if (offset >= Size())
        return field;
    const uint8_t *start = m_Reader.At(offset, Size() - offset);
    size_t length = std::min(After(offset) - offset, sizeof field.Text - 1);
    std::memcpy(field.Text, start, length);
    field.Text[length] = '\0'; // cuts at the NUL when the copy took it
    return field;
}

size_t KdlClassData::After(size_t offset) const
{
    if (offset >= Size())
        return Size();
    const uint8_t *start = m_Reader.At(offset, Size() - offset);
    const void *nul = std::memchr(start, '\0', Size() - offset);
    return nul ? static_cast<size_t>(static_cast<const uint8_t *>(nul) - start) + offset + 1 : Size();
}

const char *KdlEntryStatusText(KdlEntryStatus status)
{
    switch (status) {
    case KdlEntryStatus::Ok: return "complete";
    case KdlEntryStatus::HeaderIncomplete: return "header incomplete";
    case KdlEntryStatus::SizeBelowHeader: return "size below the header";
    case KdlEntryStatus::SizeBeyondReceived: return "size beyond the bytes received";
    }
    return "unknown";
}

KdlEntryStatus KdlEntryView::Open(const uint8_t *bytes, size_t received, KdlEntryView *view)
{
    ByteReader reader(bytes, received);
    KdlEntryView entry;
    if (!reader.U16(offsetof(KDL_ENTRY, Size), &entry.m_Size) ||
        !reader.U32(offsetof(KDL_ENTRY, EventNumber), &entry.m_EventNumber) ||
        !reader.U8(offsetof(KDL_ENTRY, Severity), &entry.m_Severity) ||
        !reader.U16(offsetof(KDL_ENTRY, Class), &entry.m_Class) ||
        !reader.U16(offsetof(KDL_ENTRY, Code), &entry.m_Code) || reader.At(0, kKdlEntryHeaderSize) == nullptr)
        return KdlEntryStatus::HeaderIncomplete;
    if (entry.m_Size < kKdlEntryHeaderSize)
        return KdlEntryStatus::SizeBelowHeader;
    // An entry cut short on its way still has its header and the class data that arrived.
    KdlEntryStatus status = entry.m_Size > received ? KdlEntryStatus::SizeBeyondReceived : KdlEntryStatus::Ok;
    size_t length = std::min<size_t>(entry.m_Size, received) - kKdlEntryHeaderSize;
    entry.m_ClassData = KdlClassData(reader.At(kKdlEntryHeaderSize, length), length);
    *view = entry;
    return status;
}
