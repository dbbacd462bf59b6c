#include "blackbox_protocol.h"

#include "blackbox.h"
#include "chan.h"
#include "common_log.h"
#include "registry.h"

#include <atomic>
#include <cstring>

BLACKBOX_FEEDER s_MainFeeder = {0x2000000, kBlackboxMaxPayload, 0, -1, -1};
BLACKBOX_FEEDER s_ProcessorUsageFeeder = {0, 2, 256, -1, -1};
int32_t s_BlackboxSource = -1;

namespace {

constexpr uint32_t kProcessorUsageCode = 13;
constexpr int kMaxSourceHandle = 255;

std::atomic<uint16_t> s_Sequence{0};
std::atomic<bool> s_DescriptorsUploaded{false};

LONG s_ChannelUseCount = 0;
CRITICAL_SECTION s_BlackboxLock;
CI_CHANNEL *s_Channel = nullptr;

uint16_t NextSequence() { return static_cast<uint16_t>(++s_Sequence); }

// The reply's word, or -1 when the transaction failed or the reply does not hold it.
int Request(const BLACKBOX_REQUEST &request, BlackboxReplyNeeds needs, BLACKBOX_REPLY *reply)
{
    uint8_t bytes[kBlackboxReplySize];
    if (!BlackboxTransaction(request, bytes) || !ReadBlackboxReply(bytes, sizeof(bytes), needs, reply))
        return -1;
    return static_cast<int>(reply->Result);
}

int Register(const char *name, int source, uint32_t flags, uint32_t sizeOrFields, uint32_t entryCount,
             int32_t *handle)
{
    BLACKBOX_REQUEST request;
    if (!EncodeRegisterFeeder(&request, NextSequence(), name, static_cast<uint32_t>(source), flags, sizeOrFields,
                              entryCount))
        return -1;
    BLACKBOX_REPLY reply;
    int result = Request(request, BlackboxReplyNeeds::Word12, &reply);
    if (result == -1)
        return -1;
    // Handle 0 is what every request refuses: a registration that hands it out did not register.
    if (result == 0 && (reply.Word12 == 0 || reply.Word12 > INT32_MAX))
        return -1;
    *handle = static_cast<int32_t>(reply.Word12);
    return result;
}

int Describe(int32_t handle, uint32_t word, int length, const void *descriptors)
{
    BLACKBOX_REQUEST request;
    if (handle == 0 || descriptors == nullptr || length < static_cast<int>(kBlackboxDescriptorSize) ||
        length % kBlackboxDescriptorSize != 0 ||
        !EncodeDescribe(&request, NextSequence(), static_cast<uint32_t>(handle), word, descriptors,
                        static_cast<size_t>(length)))
        return -1;
    BLACKBOX_REPLY reply;
    return Request(request, BlackboxReplyNeeds::Result, &reply);
}

int LogData(uint32_t command, int32_t handle, const void *data, int length)
{
    BLACKBOX_REQUEST request;
    if (handle == 0 || length < 0 || !EncodeLogData(&request, NextSequence(), command, static_cast<uint32_t>(handle),
                                                     data, static_cast<size_t>(length)))
        return -1;
    BLACKBOX_REPLY reply;
    return Request(request, BlackboxReplyNeeds::Result, &reply);
}

bool StatusQuery(uint32_t command, int32_t handle, BLACKBOX_REPLY *reply)
{
    if (handle == 0)
        return false;
    BLACKBOX_REQUEST request;
    EncodeStatusQuery(&request, command, static_cast<uint32_t>(handle));
    return Request(request, command == kBlackboxCmdIsDisabled ? BlackboxReplyNeeds::Disabled
                                                              : BlackboxReplyNeeds::Word12,
                   reply) != -1;
}

BLACKBOX_FEEDER &FeederFor(uint32_t code)
{
    return code == kProcessorUsageCode ? s_ProcessorUsageFeeder : s_MainFeeder;
}

// Registers one feeder when it is not; false when that fails.
bool RegisterFeeder(BLACKBOX_FEEDER &feeder, const wchar_t *format)
{
    if (feeder.Handle != -1)
        return true;
    int32_t handle = -1;
    int result = feeder.EntryCount != 0
                     ? RegisterBlackboxArrayFeeder(kBlackboxName, s_BlackboxSource, feeder.Flags, feeder.SizeOrFields,
                                                   feeder.EntryCount, &handle)
                     : RegisterBlackboxFeeder(kBlackboxName, s_BlackboxSource, feeder.Flags, feeder.SizeOrFields,
                                              &handle);
    LOG_VERBOSE(L"InitFeeders", format, static_cast<unsigned>(handle), result);
    if (result != 0) {
        feeder.Handle = -1;
        // The source may be what the processor no longer knows: open it again next time.
        s_BlackboxSource = -1;
        return false;
    }
    feeder.Handle = handle;
    feeder.SelectedCode = -1;
    return true;
}

// Sends one descriptor (field -1: the code's own) on the feeder that carries its code; a feeder
// the processor does not know is registered again and the descriptor sent once more, built
// afresh since the registration may have opened the source again.
bool SendDescriptor(const BLACKBOX_CODE_INFO &code, int field)
{
    BLACKBOX_FEEDER &feeder = FeederFor(code.Code);
    auto send = [&]() {
        const uint8_t source = static_cast<uint8_t>(s_BlackboxSource);
        if (field < 0) {
            BLACKBOX_DESCRIPTOR descriptor = MakeCodeDescriptor(source, code);
            return DescribeBlackboxCode(feeder.Handle, sizeof(descriptor), &descriptor);
        }
        BLACKBOX_DESCRIPTOR descriptor = MakeFieldDescriptor(source, code, static_cast<size_t>(field));
        return DescribeBlackboxField(feeder.Handle, sizeof(descriptor), &descriptor);
    };
    int status = send();
    if (status == static_cast<int>(kBlackboxStatusUnknownFeeder)) {
        feeder.Handle = -1;
        if (!InitFeeders())
            return false;
        status = send();
    }
    return status == 0;
}

} // namespace

int OpenBlackboxSource(const char *name)
{
    BLACKBOX_REQUEST request;
    if (!EncodeOpenSource(&request, NextSequence(), name))
        return -1;
    BLACKBOX_REPLY reply;
    return Request(request, BlackboxReplyNeeds::Result, &reply);
}

int RegisterBlackboxFeeder(const char *name, int source, uint32_t flags, uint32_t recordSize, int32_t *handle)
{
    if (name == nullptr || handle == nullptr || source <= 0 || source > kMaxSourceHandle || recordSize == 0 ||
        (flags & kBlackboxArrayFeederFlag) != 0)
        return -1;
    return Register(name, source, flags, recordSize, 0, handle);
}

int RegisterBlackboxArrayFeeder(const char *name, int source, uint32_t flags, uint32_t fieldCount,
                                uint32_t entryCount, int32_t *handle)
{
    if (name == nullptr || handle == nullptr || source <= 0 || source > kMaxSourceHandle || fieldCount == 0 ||
        entryCount == 0 || fieldCount > INT32_MAX || entryCount > INT32_MAX)
        return -1;
    return Register(name, source, flags | kBlackboxArrayFeederFlag, fieldCount, entryCount, handle);
}

int UnregisterBlackboxFeeder(int32_t handle)
{
    if (handle == 0)
        return -1;
    BLACKBOX_REQUEST request;
    EncodeUnregisterFeeder(&request, NextSequence(), static_cast<uint32_t>(handle));
    BLACKBOX_REPLY reply;
    return Request(request, BlackboxReplyNeeds::Result, &reply);
}

int SelectBlackboxCode(int32_t handle, int code)
{
    if (handle == 0 || code < 0 || code > 255)
        return -1;
    BLACKBOX_REQUEST request;
    EncodeSelectCode(&request, NextSequence(), static_cast<uint32_t>(handle), static_cast<uint32_t>(code));
    BLACKBOX_REPLY reply;
    return Request(request, BlackboxReplyNeeds::Result, &reply);
}

int DescribeBlackboxCode(int32_t handle, int length, const void *descriptors)
{
    return Describe(handle, kBlackboxDescribeCodeWord, length, descriptors);
}

int DescribeBlackboxField(int32_t handle, int length, const void *descriptors)
{
    return Describe(handle, kBlackboxDescribeFieldWord, length, descriptors);
}

int LogBlackboxData(int32_t handle, const void *data, int length)
{
    return LogData(kBlackboxCmdLogData, handle, data, length);
}

int LogBlackboxDataArray(int32_t handle, const void *data, int length)
{
    return LogData(kBlackboxCmdLogDataArray, handle, data, length);
}

int LogBlackboxDataStatic(int32_t handle, const void *data, int length)
{
    return LogData(kBlackboxCmdLogDataStatic, handle, data, length);
}

bool IsBlackboxCleared(int32_t handle)
{
    BLACKBOX_REPLY reply;
    return StatusQuery(kBlackboxCmdIsCleared, handle, &reply) && (reply.Word12 & kBlackboxClearedBit) != 0;
}

bool IsBlackboxDisabled(int32_t handle)
{
    BLACKBOX_REPLY reply;
    return StatusQuery(kBlackboxCmdIsDisabled, handle, &reply) && (reply.Word28 != 0 || reply.Word32 != 0);
}

bool OpenBlackboxChannel()
{
    if (++s_ChannelUseCount == 1) {
        InitializeCriticalSection(&s_BlackboxLock);
        ChanInitialize(nullptr);
        if (ChanCreate(&s_Channel) != ERROR_SUCCESS)
            s_Channel = nullptr;
    }
    return s_Channel != nullptr;
}

void CloseBlackboxChannel()
{
    if (s_ChannelUseCount <= 0 || --s_ChannelUseCount != 0)
        return;
    if (s_Channel != nullptr)
        ChanDestroy(s_Channel);
    s_Channel = nullptr;
    ChanTerminate();
    DeleteCriticalSection(&s_BlackboxLock);
}

bool BlackboxTransaction(const BLACKBOX_REQUEST &request, uint8_t *reply)
{
    // Nothing of an earlier or a failed reply may pass for this one's words.
    std::memset(reply, 0, kBlackboxReplySize);
    if (s_ChannelUseCount <= 0 || s_Channel == nullptr)
        return false;
    EnterCriticalSection(&s_BlackboxLock);
    DWORD error = ChanTransaction(s_Channel, request.Bytes, reply, kBlackboxReplySize);
    if (error != ERROR_SUCCESS && ChanNeedsReset(s_Channel) != 0 && ChanReset(s_Channel) == ERROR_SUCCESS) {
        std::memset(reply, 0, kBlackboxReplySize);
        error = ChanTransaction(s_Channel, request.Bytes, reply, kBlackboxReplySize);
    }
    LeaveCriticalSection(&s_BlackboxLock);
    return error == ERROR_SUCCESS;
}

bool InitFeeders()
{
    if (s_BlackboxSource == -1) {
        int source = OpenBlackboxSource(kBlackboxName);
        // A source handle must fit the descriptors' byte and the registrations' range.
        if (source <= 0 || source > kMaxSourceHandle)
            return false;
        s_BlackboxSource = source;
    }
    if (!RegisterFeeder(s_MainFeeder, L"Register s_MainFeeder.Handle = 0x%X, result = %d"))
        return false;
    return RegisterFeeder(s_ProcessorUsageFeeder, L"Register s_ProcessorUsageFeeder.Handle = 0x%X, result = %d");
}

bool UploadDescriptors()
{
    CRegistry volatileData(kBlackBoxVolatileKey);
    if (volatileData.ValueExists(L"RelogBBForDescriptors")) {
        LOG_VERBOSE(L"UploadDescriptors", L"Log Upload Descriptors again.");
        volatileData.DeleteValue(L"RelogBBForDescriptors");
        s_DescriptorsUploaded = false;
    }
    if (s_DescriptorsUploaded)
        return true;
    size_t count = 0;
    const BLACKBOX_CODE_INFO *codes = BlackboxCodeTable(&count);
    for (size_t i = 0; i < count; ++i)
        for (int field = -1; field < static_cast<int>(codes[i].FieldCount); ++field)
            if (!SendDescriptor(codes[i], field))
                return false;
    s_DescriptorsUploaded = true;
    return true;
}

void ForgetBlackboxDescriptorsForTest() { s_DescriptorsUploaded = false; }

bool UploadBlackboxRecord(const BLACKBOX_RECORD &record)
{
    BLACKBOX_FEEDER &feeder = FeederFor(record.Code);
    if (feeder.Handle == -1 && !InitFeeders())
        return false;
    if (feeder.SelectedCode != static_cast<int32_t>(record.Code)) {
        int status = SelectBlackboxCode(feeder.Handle, static_cast<int>(record.Code));
        if (status == static_cast<int>(kBlackboxStatusUnknownFeeder))
            feeder.Handle = -1;
        if (status != 0)
            return false;
        feeder.SelectedCode = static_cast<int32_t>(record.Code);
    }
    int length = static_cast<int>(record.Length);
    int status = record.Static != 0       ? LogBlackboxDataStatic(feeder.Handle, record.Payload, length)
                 : feeder.EntryCount != 0 ? LogBlackboxDataArray(feeder.Handle, record.Payload, length)
                                          : LogBlackboxData(feeder.Handle, record.Payload, length);
    if (status == static_cast<int>(kBlackboxStatusUnknownFeeder))
        feeder.Handle = -1;
    return status == 0;
}
