#include "blackbox_wire.h"

#include "byte_reader.h"

#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

constexpr BLACKBOX_FIELD_INFO kOsInfoFields[] = {
    {2, 1, "Type"},          {2, 1, "Vendor"},       {2, 2, "Bits"},         {2, 2, "Major Version"},
    {2, 2, "Minor Version"}, {2, 2, "Build Number"}, {2, 2, "Patch Number"}, {2, 2, "Service Pack"},
    {1, 0, "OS Name"},       {1, 0, "OS Version"},
};
constexpr BLACKBOX_FIELD_INFO kDriverFields[] = {
    {6, 2, "Flags"},     {1, 0, "Name"},   {1, 0, "File"},        {1, 0, "Version"},
    {1, 0, "Timestamp"}, {1, 0, "Vendor"}, {1, 0, "PCI Devices"},
};
constexpr BLACKBOX_FIELD_INFO kServiceFields[] = {
    {6, 2, "Flags"}, {1, 0, "Name"}, {1, 0, "File"}, {1, 0, "Version"}, {1, 0, "Timestamp"}, {1, 0, "Vendor"},
};
constexpr BLACKBOX_FIELD_INFO kSoftwareFields[] = {
    {6, 2, "Flags"}, {1, 0, "Vendor"}, {1, 0, "Name"}, {1, 0, "Version"}, {1, 0, "Timestamp"},
};
constexpr BLACKBOX_FIELD_INFO kOsUpdateFields[] = {
    {6, 2, "Flags"}, {1, 0, "Description"}, {1, 0, "Identifier"}, {1, 0, "Timestamp"},
};
constexpr BLACKBOX_FIELD_INFO kOsCrashFields[] = {
    {2, 8, "Bug Check Code"},    {2, 8, "Bug Check Data #1"}, {2, 8, "Bug Check Data #2"},
    {2, 8, "Bug Check Data #3"}, {2, 8, "Bug Check Data #4"}, {1, 0, "Message"},
};
constexpr BLACKBOX_FIELD_INFO kOsEventFields[] = {
    {2, 1, "Severity"}, {2, 1, "Log Type"}, {2, 2, "Repeat Count"}, {2, 4, "ID"}, {1, 0, "Source"}, {1, 0, "Message"},
};
constexpr BLACKBOX_FIELD_INFO kDeviceEventFields[] = {
    {2, 1, "Event Type"}, {1, 0, "Location"}, {1, 0, "ID"}, {1, 0, "Name"},
};
constexpr BLACKBOX_FIELD_INFO kOsUsageFields[] = {
    {2, 4, "Process Count"},
    {2, 4, "Thread Count"},
    {2, 4, "Handle Count"},
    {2, 1, "Overall CPU Usage (User)"},
    {2, 1, "Overall CPU Usage (Kernel)"},
    {2, 1, "Overall CPU Usage (Total)"},
};
constexpr BLACKBOX_FIELD_INFO kMemoryUsageFields[] = {
    {2, 8, "Physical Memory Size"},
    {2, 8, "Physical Memory Free"},
    {2, 8, "Virtual Memory Size"},
    {2, 8, "Virtual Memory Free"},
};
constexpr BLACKBOX_FIELD_INFO kProcessorUsageFields[] = {{2, 1, "User %"}, {2, 1, "Kernel %"}};
constexpr BLACKBOX_FIELD_INFO kNicLinkFields[] = {
    {2, 4, "Interface"}, {6, 2, "Flags"}, {1, 0, "Interface Description"},
};

#define FIELDS(table) table, std::size(table)
constexpr BLACKBOX_CODE_INFO kCodes[] = {
    {1, "OS Boot", 3, 1, 0, 0, nullptr, 0},
    {2, "OS Shutdown", 3, 1, 0, 0, nullptr, 0},
    {3, "OS Info", 5, 1, 0, 0, FIELDS(kOsInfoFields)},
    {5, "Driver", 5, 1, 0, 0, FIELDS(kDriverFields)},
    {16, "Driver Change", 5, 1, 0, 0, FIELDS(kDriverFields)},
    {6, "Service", 5, 1, 0, 0, FIELDS(kServiceFields)},
    {7, "Software", 5, 1, 0, 0, FIELDS(kSoftwareFields)},
    {18, "Software Change", 5, 1, 0, 0, FIELDS(kSoftwareFields)},
    {19, "OS Update", 5, 1, 0, 0, FIELDS(kOsUpdateFields)},
    {20, "OS Update Change", 5, 1, 0, 0, FIELDS(kOsUpdateFields)},
    {8, "OS Crash", 1, 1, 0, 0, FIELDS(kOsCrashFields)},
    {9, "OS Event", 1, 1, 0, 0, FIELDS(kOsEventFields)},
    {10, "Device Event", 3, 1, 0, 0, FIELDS(kDeviceEventFields)},
    {11, "OS Usage", 4, 1, 2, 4, FIELDS(kOsUsageFields)},
    {12, "Memory Usage", 4, 1, 2, 8, FIELDS(kMemoryUsageFields)},
    {13, "Processor Usage", 4, 1, 2, 1, FIELDS(kProcessorUsageFields)},
    {15, "NIC Link", 2, 1, 0, 0, FIELDS(kNicLinkFields)},
};
#undef FIELDS

constexpr uint32_t kProcessorUsageCode = 13;

void Header(BLACKBOX_REQUEST *request, uint16_t sequence, uint32_t service, uint32_t command)
{
    std::memset(request->Bytes, 0, sizeof(request->Bytes));
    PutU16(request->Bytes, static_cast<uint16_t>(kBlackboxRequestSize));
    PutU16(request->Bytes + 2, sequence);
    PutU16(request->Bytes + 6, kBlackboxServiceWord);
    PutU32(request->Bytes + 8, service);
    PutU32(request->Bytes + 12, command);
}

// A name of at most `chars` characters at `at`; the byte after it stays 0.
void PutName(uint8_t *at, const char *name, size_t chars)
{
    size_t length = strnlen(name, chars);
    std::memcpy(at, name, length);
}

BLACKBOX_DESCRIPTOR Descriptor(uint8_t kind, uint8_t source, const BLACKBOX_CODE_INFO &code, uint8_t field,
                               uint8_t type, uint8_t size, const char *name)
{
    BLACKBOX_DESCRIPTOR descriptor{};
    descriptor.Kind = static_cast<uint8_t>(0x80 + (kind << 2));
    descriptor.Source = source;
    descriptor.Code = code.Code;
    descriptor.Field = field;
    descriptor.ClassType = static_cast<uint8_t>((code.Class & 0x0F) | (type << 4));
    descriptor.Size = size;
    descriptor.Mode = static_cast<uint8_t>(code.Mode & 3);
    PutName(reinterpret_cast<uint8_t *>(descriptor.Name), name, kBlackboxDescriptorNameChars);
    return descriptor;
}

// Names and texts as one word: a space becomes '_', and '_', '%', '=', ';', '"', control and
// non-ASCII bytes become %XX, so the record stays one word per field and can be read back.
void AppendWord(std::string *out, const uint8_t *text, size_t length)
{
    static const char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < length; ++i) {
        uint8_t c = text[i];
        if (c == ' ') {
            out->push_back('_');
        } else if (c <= 0x20 || c >= 0x7F || c == '_' || c == '%' || c == '=' || c == ';' || c == '"') {
            out->push_back('%');
            out->push_back(kHex[c >> 4]);
            out->push_back(kHex[c & 15]);
        } else {
            out->push_back(static_cast<char>(c));
        }
    }
}

// One pass over a code's fields from *offset; false when the payload ends inside a field.
bool DecodeFields(const BLACKBOX_CODE_INFO &code, const ByteReader &reader, size_t *offset, std::string *out)
{
    for (size_t i = 0; i < code.FieldCount; ++i) {
        const BLACKBOX_FIELD_INFO &field = code.Fields[i];
        if (!out->empty())
            out->push_back(';');
        AppendWord(out, reinterpret_cast<const uint8_t *>(field.Name), std::strlen(field.Name));
        out->push_back('=');
        if (field.Type == kBlackboxTypeText) {
            size_t end = *offset;
            while (reader.Has(end, 1) && *reader.At(end, 1) != 0)
                ++end;
            if (!reader.Has(end, 1))
                return false; // no terminating NUL
            AppendWord(out, reader.At(*offset, end - *offset), end - *offset);
            *offset = end + 1;
            continue;
        }
        uint64_t value = 0;
        const uint8_t *at = reader.At(*offset, field.Size);
        if (at == nullptr || field.Size > 8)
            return false;
        for (size_t b = 0; b < field.Size; ++b)
            value |= static_cast<uint64_t>(at[b]) << (8 * b);
        char number[32];
        snprintf(number, sizeof(number), field.Type == kBlackboxTypeFlags ? "0x%llX" : "%llu",
                 static_cast<unsigned long long>(value));
        out->append(number);
        *offset += field.Size;
    }
    return true;
}

} // namespace

const BLACKBOX_CODE_INFO *BlackboxCodeTable(size_t *count)
{
    *count = std::size(kCodes);
    return kCodes;
}

const BLACKBOX_CODE_INFO *FindBlackboxCode(uint32_t code)
{
    for (const BLACKBOX_CODE_INFO &info : kCodes)
        if (info.Code == code)
            return &info;
    return nullptr;
}

BLACKBOX_DESCRIPTOR MakeCodeDescriptor(uint8_t source, const BLACKBOX_CODE_INFO &code)
{
    return Descriptor(kBlackboxKindCode, source, code, 0, code.Type, code.Size, code.Name);
}

BLACKBOX_DESCRIPTOR MakeFieldDescriptor(uint8_t source, const BLACKBOX_CODE_INFO &code, size_t fieldIndex)
{
    const BLACKBOX_FIELD_INFO &field = code.Fields[fieldIndex];
    return Descriptor(kBlackboxKindField, source, code, static_cast<uint8_t>(fieldIndex), field.Type, field.Size,
                      field.Name);
}

bool EncodeOpenSource(BLACKBOX_REQUEST *request, uint16_t sequence, const char *name)
{
    if (name == nullptr)
        return false;
    Header(request, sequence, kBlackboxServiceFeeder, kBlackboxCmdOpenSource);
    PutName(request->Bytes + 20, name, kBlackboxNameChars);
    return true;
}

bool EncodeRegisterFeeder(BLACKBOX_REQUEST *request, uint16_t sequence, const char *name, uint32_t source,
                          uint32_t flags, uint32_t sizeOrFields, uint32_t entryCount)
{
    if (name == nullptr)
        return false;
    Header(request, sequence, kBlackboxServiceFeeder, kBlackboxCmdRegister);
    PutName(request->Bytes + 16, name, kBlackboxNameChars);
    PutU32(request->Bytes + 48, source);
    PutU32(request->Bytes + 52, flags);
    PutU32(request->Bytes + 56, sizeOrFields);
    PutU32(request->Bytes + 60, entryCount);
    return true;
}

void EncodeUnregisterFeeder(BLACKBOX_REQUEST *request, uint16_t sequence, uint32_t handle)
{
    Header(request, sequence, kBlackboxServiceFeeder, kBlackboxCmdUnregister);
    PutU32(request->Bytes + 16, handle);
}

void EncodeSelectCode(BLACKBOX_REQUEST *request, uint16_t sequence, uint32_t handle, uint32_t code)
{
    Header(request, sequence, kBlackboxServiceFeeder, kBlackboxCmdSelect);
    PutU32(request->Bytes + 16, handle);
    PutU32(request->Bytes + 20, 2);
    PutU32(request->Bytes + 28, code);
}

bool EncodeDescribe(BLACKBOX_REQUEST *request, uint16_t sequence, uint32_t handle, uint32_t describeWord,
                    const void *descriptors, size_t length)
{
    if (descriptors == nullptr || length > kBlackboxRequestSize - kBlackboxDescriptorsOffset)
        return false;
    Header(request, sequence, kBlackboxServiceFeeder, kBlackboxCmdDescribe);
    PutU32(request->Bytes + 16, handle);
    PutU32(request->Bytes + 20, describeWord);
    PutU32(request->Bytes + 24, static_cast<uint32_t>(length));
    std::memcpy(request->Bytes + kBlackboxDescriptorsOffset, descriptors, length);
    return true;
}

bool EncodeLogData(BLACKBOX_REQUEST *request, uint16_t sequence, uint32_t command, uint32_t handle,
                   const void *data, size_t length)
{
    static_assert(kBlackboxDataOffset + kBlackboxMaxPayload == kBlackboxRequestSize);
    if (length > kBlackboxMaxPayload || (data == nullptr && length != 0))
        return false;
    Header(request, sequence, kBlackboxServiceFeeder, command);
    PutU32(request->Bytes + 16, handle);
    PutU32(request->Bytes + 20, static_cast<uint32_t>(length));
    if (length != 0)
        std::memcpy(request->Bytes + kBlackboxDataOffset, data, length);
    return true;
}

void EncodeStatusQuery(BLACKBOX_REQUEST *request, uint32_t command, uint32_t handle)
{
    Header(request, 0, kBlackboxServiceStatus, command);
    PutU32(request->Bytes + 16, handle);
}

bool ReadBlackboxReply(const void *data, size_t size, BlackboxReplyNeeds needs, BLACKBOX_REPLY *reply)
{
    ByteReader whole(data, size);
    uint16_t declared = 0;
    if (!whole.U16(0, &declared))
        return false;
    // Only the bytes the reply says it holds count; what lies past them is not reply data.
    ByteReader reader(data, declared < size ? declared : size);
    BLACKBOX_REPLY read;
    if (!reader.U32(8, &read.Result))
        return false;
    if (needs != BlackboxReplyNeeds::Result && !reader.U32(12, &read.Word12))
        return false;
    if (needs == BlackboxReplyNeeds::Disabled && (!reader.U32(28, &read.Word28) || !reader.U32(32, &read.Word32)))
        return false;
    *reply = read;
    return true;
}

size_t ComposeBlackboxPayload(uint8_t *payload, const void *fixedPart, size_t fixedLength,
                              const char *const *texts, size_t textCount, bool *refused)
{
    *refused = true;
    if (fixedLength > kBlackboxMaxPayload || (fixedPart == nullptr && fixedLength != 0))
        return 0;
    if (fixedLength != 0)
        std::memcpy(payload, fixedPart, fixedLength);
    size_t length = fixedLength;
    if (texts != nullptr && textCount != 0) {
        for (size_t i = 0; i < textCount; ++i) {
            const char *text = texts[i] != nullptr ? texts[i] : "";
            size_t textLength = strnlen(text, kBlackboxMaxPayload + 1);
            // The text, its NUL and the list's final NUL must still fit.
            if (length + textLength + 2 > kBlackboxMaxPayload)
                return 0;
            std::memcpy(payload + length, text, textLength + 1);
            length += textLength + 1;
        }
        payload[length++] = 0;
    }
    *refused = false;
    return length;
}

bool DecodeBlackboxPayload(uint32_t code, const uint8_t *payload, size_t length, std::string *text)
{
    const BLACKBOX_CODE_INFO *info = FindBlackboxCode(code);
    if (info == nullptr)
        return false;
    ByteReader reader(payload, length);
    std::string out;
    size_t offset = 0;
    if (!DecodeFields(*info, reader, &offset, &out))
        return false;
    // Processor usage carries one group per processor.
    while (code == kProcessorUsageCode && offset < reader.Size())
        if (!DecodeFields(*info, reader, &offset, &out))
            return false;
    *text = std::move(out);
    return true;
}
