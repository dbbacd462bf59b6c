#pragma once
// The bytes of the black-box health log: request packets, descriptor records, the record codes
// and their fields, the reply fields and the record payloads. No windows.h: built and tested
// natively too, and every reply is read through ByteReader.

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kBlackboxRequestSize = 1008;
constexpr size_t kBlackboxReplySize = 592;
constexpr size_t kBlackboxDescriptorSize = 96;
constexpr size_t kBlackboxMaxPayload = 976;           // what a record's payload may hold
constexpr size_t kBlackboxDataOffset = 32;            // where a data request's payload starts
constexpr size_t kBlackboxDescriptorsOffset = 28;     // where a describe request's descriptors start
constexpr uint16_t kBlackboxServiceWord = 0x11;

constexpr uint32_t kBlackboxServiceFeeder = 2;
constexpr uint32_t kBlackboxServiceStatus = 3;

// Feeder requests (service 2).
constexpr uint32_t kBlackboxCmdOpenSource = 13;
constexpr uint32_t kBlackboxCmdRegister = 1;
constexpr uint32_t kBlackboxCmdUnregister = 2;
constexpr uint32_t kBlackboxCmdSelect = 3;
constexpr uint32_t kBlackboxCmdDescribe = 4;
constexpr uint32_t kBlackboxCmdLogData = 6;
constexpr uint32_t kBlackboxCmdLogDataArray = 7;
constexpr uint32_t kBlackboxCmdLogDataStatic = 11;
// Status queries (service 3).
constexpr uint32_t kBlackboxCmdIsCleared = 11;
constexpr uint32_t kBlackboxCmdIsDisabled = 7;

constexpr uint32_t kBlackboxStatusSuccess = 0;
constexpr uint32_t kBlackboxStatusUnknownFeeder = 5;
constexpr uint32_t kBlackboxArrayFeederFlag = 0x8000000;
constexpr uint32_t kBlackboxClearedBit = 0x8000;

// Describe kinds (the descriptor's kind, and the word at 20 of a describe request).
constexpr uint8_t kBlackboxKindCode = 1;
constexpr uint8_t kBlackboxKindField = 3;
constexpr uint32_t kBlackboxDescribeCodeWord = 2;
constexpr uint32_t kBlackboxDescribeFieldWord = 3;

// Field types.
constexpr uint8_t kBlackboxTypeText = 1;
constexpr uint8_t kBlackboxTypeInteger = 2;
constexpr uint8_t kBlackboxTypeFlags = 6;

constexpr size_t kBlackboxNameChars = 31;        // source and feeder names
constexpr size_t kBlackboxDescriptorNameChars = 87;

struct BLACKBOX_REQUEST {
    uint8_t Bytes[kBlackboxRequestSize];
};
static_assert(sizeof(BLACKBOX_REQUEST) == 1008);

#pragma pack(push, 1)
struct BLACKBOX_DESCRIPTOR {
    uint8_t Kind;       // 0x80 + (kind << 2)
    uint8_t Source;     // source handle
    uint8_t Code;
    uint8_t Field;      // field index; 0 in a code descriptor
    uint8_t ClassType;  // low nibble class, high nibble type
    uint8_t Size;
    uint8_t Mode;
    uint8_t Reserved;
    char Name[88];      // at most 87 characters, NUL-terminated
};
#pragma pack(pop)
static_assert(sizeof(BLACKBOX_DESCRIPTOR) == kBlackboxDescriptorSize);
static_assert(offsetof(BLACKBOX_DESCRIPTOR, Source) == 1);
static_assert(offsetof(BLACKBOX_DESCRIPTOR, Code) == 2);
static_assert(offsetof(BLACKBOX_DESCRIPTOR, Field) == 3);
static_assert(offsetof(BLACKBOX_DESCRIPTOR, ClassType) == 4);
static_assert(offsetof(BLACKBOX_DESCRIPTOR, Size) == 5);
static_assert(offsetof(BLACKBOX_DESCRIPTOR, Mode) == 6);
static_assert(offsetof(BLACKBOX_DESCRIPTOR, Name) == 8);

struct BLACKBOX_FIELD_INFO {
    uint8_t Type;
    uint8_t Size;
    const char *Name;
};

struct BLACKBOX_CODE_INFO {
    uint8_t Code;
    const char *Name;
    uint8_t Class;
    uint8_t Mode;
    uint8_t Type;
    uint8_t Size;
    const BLACKBOX_FIELD_INFO *Fields;
    size_t FieldCount;
};

// The record codes in upload order.
const BLACKBOX_CODE_INFO *BlackboxCodeTable(size_t *count);
// The code's entry, or null.
const BLACKBOX_CODE_INFO *FindBlackboxCode(uint32_t code);

// Descriptors. The field index is 0 and the kind 1 for a code's own descriptor.
BLACKBOX_DESCRIPTOR MakeCodeDescriptor(uint8_t source, const BLACKBOX_CODE_INFO &code);
BLACKBOX_DESCRIPTOR MakeFieldDescriptor(uint8_t source, const BLACKBOX_CODE_INFO &code, size_t fieldIndex);

// Request encoders. Each fills the whole request (bytes not named are 0); false when the
// arguments cannot be encoded (nothing is then to be sent).
bool EncodeOpenSource(BLACKBOX_REQUEST *request, uint16_t sequence, const char *name);
// entryCount 0 for a plain feeder; the flags are sent as given.
bool EncodeRegisterFeeder(BLACKBOX_REQUEST *request, uint16_t sequence, const char *name, uint32_t source,
                          uint32_t flags, uint32_t sizeOrFields, uint32_t entryCount);
void EncodeUnregisterFeeder(BLACKBOX_REQUEST *request, uint16_t sequence, uint32_t handle);
void EncodeSelectCode(BLACKBOX_REQUEST *request, uint16_t sequence, uint32_t handle, uint32_t code);
// describeWord: kBlackboxDescribeCodeWord or kBlackboxDescribeFieldWord. Refused when the
// descriptors do not fit the request.
bool EncodeDescribe(BLACKBOX_REQUEST *request, uint16_t sequence, uint32_t handle, uint32_t describeWord,
                    const void *descriptors, size_t length);
// command: kBlackboxCmdLogData, kBlackboxCmdLogDataArray or kBlackboxCmdLogDataStatic. Refused
// when the payload is above 976 bytes.
bool EncodeLogData(BLACKBOX_REQUEST *request, uint16_t sequence, uint32_t command, uint32_t handle,
                   const void *data, size_t length);
// A status query: sequence 0.
void EncodeStatusQuery(BLACKBOX_REQUEST *request, uint32_t command, uint32_t handle);

// What a reply carries. A reply shorter than the words asked for is refused.
struct BLACKBOX_REPLY {
    uint32_t Result = 0;   // offset 8: source handle for command 13, else status
    uint32_t Word12 = 0;   // offset 12: feeder handle after a registration, cleared bit
    uint32_t Word28 = 0;   // offsets 28 and 32: disabled state
    uint32_t Word32 = 0;
};
enum class BlackboxReplyNeeds { Result, Word12, Disabled };
// The reply's own size (header word at 0, at most size) must cover the words needed.
bool ReadBlackboxReply(const void *data, size_t size, BlackboxReplyNeeds needs, BLACKBOX_REPLY *reply);

// Record payloads: the fixed part, then each text with its NUL and one more NUL after the last
// (when there are texts). A null text is an empty one. Returns the payload length, or 0 with
// *refused set when it would exceed 976 bytes (the buffer holds kBlackboxMaxPayload bytes).
size_t ComposeBlackboxPayload(uint8_t *payload, const void *fixedPart, size_t fixedLength,
                              const char *const *texts, size_t textCount, bool *refused);

// A record payload decoded by its code's field table, for the simulated log's record: the fields
// as "Name=value" joined by ';' (integers decimal, flags 0x-hex, texts as they are), names and
// texts with a space as '_' and '_', '%', '=', ';', '"', control and non-ASCII bytes as %XX. A
// code whose fields repeat (processor usage) gives one group per entry. False when the code is
// unknown or the payload does not hold its fields.
bool DecodeBlackboxPayload(uint32_t code, const uint8_t *payload, size_t length, std::string *text);
