#include "blackbox.h"

#include "blackbox_protocol.h"
#include "blackbox_queue.h"
#include "byte_reader.h"
#include "common_log.h"
#include "registry.h"
#include "service_parameters.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>

std::atomic<BLACKBOX_TRIGGER> s_BlackBoxTrigger{nullptr};
CWorkerThread s_BlackBoxThread{L"Black Box", BlackBoxThread};

namespace {

constexpr uint32_t kOsBootCode = 1;
constexpr uint32_t kOsShutdownCode = 2;
constexpr uint32_t kOsInfoCode = 3;
constexpr uint32_t kOsUsageCode = 11;
constexpr uint32_t kMemoryUsageCode = 12;
constexpr uint32_t kProcessorUsageCode = 13;
constexpr uint32_t kNicLinkCode = 15;
constexpr size_t kNicDescriptionField = 256;

constexpr const wchar_t *kRelogValues[] = {L"RelogBBForDescriptors", L"RelogBBForOsInfo", L"RelogBBForCpuUsage",
                                           L"RelogBBForSwOs", L"RelogBBForServiceDriver"};

BLACKBOX_QUEUE s_Queue;
std::atomic<HANDLE> s_QueueEvent{nullptr};
unsigned long s_RegisterRetryCount = 0;

bool Enabled() { return s_ServiceParameters.EnableBlackbox != 0; }

// The VolatileData key, created volatile when missing so that nothing in it outlives the boot.
bool CreateVolatileKey(CRegistry *key) { return key->Create(REG_OPTION_VOLATILE) != 0; }

void WriteRelogValue(const wchar_t *name)
{
    CRegistry key(kBlackBoxVolatileKey);
    if (CreateVolatileKey(&key))
        key.SetDword(name, 1);
}

// Little-endian packing of a record's fixed part.
class FixedPart {
public:
    FixedPart &U8(uint8_t value) { return Put(value, 1); }
    FixedPart &U16(uint16_t value) { return Put(value, 2); }
    FixedPart &U32(uint32_t value) { return Put(value, 4); }
    FixedPart &U64(uint64_t value) { return Put(value, 8); }
    const uint8_t *Data() const { return m_Bytes; }
    int Length() const { return static_cast<int>(m_Length); }

private:
    FixedPart &Put(uint64_t value, size_t width)
    {
        for (size_t i = 0; i < width; ++i)
            m_Bytes[m_Length++] = static_cast<uint8_t>(value >> (8 * i));
        return *this;
    }
    uint8_t m_Bytes[64] = {};
    size_t m_Length = 0;
};

int PostFlagsAndTexts(uint32_t code, uint32_t staticCode, uint16_t flags, std::initializer_list<const char *> texts)
{
    FixedPart fixed;
    fixed.U16(flags);
    return PostBlackBoxRecord(code, code == staticCode ? 1 : 0, fixed.Data(), fixed.Length(), texts.begin(),
                              texts.size());
}

void UnregisterFeeder(BLACKBOX_FEEDER &feeder, const wchar_t *format)
{
    if (feeder.Handle == -1)
        return;
    int result = UnregisterBlackboxFeeder(feeder.Handle);
    LOG_VERBOSE(L"BlackBoxThread", format, result);
    feeder.Handle = -1;
}

// The log was cleared, or came back after it was disabled: the collectors must log everything again.
void WriteHostFlag(CRegistry &host, const wchar_t *name)
{
    const uint8_t zero[8] = {};
    host.SetDword(name, 1);
    host.SetBinary(L"LastSoftwareCollectionTime", zero, sizeof(zero));
}

void CheckLogState(bool *wasDisabled)
{
    if (s_MainFeeder.Handle == -1)
        return;
    CRegistry host(kBlackBoxHostKey);
    host.Create();
    if (IsBlackboxCleared(s_MainFeeder.Handle))
        WriteHostFlag(host, L"KWBCleared");
    if (IsBlackboxDisabled(s_MainFeeder.Handle)) {
        *wasDisabled = true;
    } else if (*wasDisabled) {
        WriteHostFlag(host, L"KWBDisabledThenEnabled");
        *wasDisabled = false;
    }
}

void OnProcessorReset(bool *registerAgain)
{
    LOG_INFO(L"BlackBoxThread", L"Register KWB log event was triggered.");
    UnregisterFeeder(s_MainFeeder, L"Unregister s_MainFeeder.Handle, result = %d.");
    UnregisterFeeder(s_ProcessorUsageFeeder, L"Unregister s_ProcessorUsageFeeder.Handle, result = %d.");
    // A reset processor has forgotten the source as well.
    s_BlackboxSource = -1;
    if (InitFeeders()) {
        WriteReLogRegistry();
    } else {
        LOG_ERROR(L"BlackBoxThread", L"InitFeeders() failed.");
        *registerAgain = true;
    }
}

void Drain(CWorkerThread &worker, bool *registerAgain)
{
    while (!worker.StopRequested()) {
        if (*registerAgain) {
            LOG_VERBOSE(L"BlackBoxThread", L"Retry : Register KWB log again. (count=%lu)", s_RegisterRetryCount);
            ++s_RegisterRetryCount;
            if (!InitFeeders())
                return;
            WriteReLogRegistry();
            *registerAgain = false;
            s_RegisterRetryCount = 0;
        }
        const BLACKBOX_RECORD *record = s_Queue.PeekOldest();
        if (record == nullptr || !InitFeeders() || !UploadDescriptors())
            return;
        if (!UploadBlackboxRecord(*record))
            LOG_VERBOSE(L"BlackBoxThread", L"BlackBoxThread: failed to upload record =code %d",
                        static_cast<int>(record->Code));
        s_Queue.RemoveOldest();
    }
}

} // namespace

bool InitBlackBox()
{
    if (!Enabled())
        return true;
    if (s_QueueEvent.load() == nullptr) {
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (event == nullptr)
            return false;
        s_QueueEvent = event;
    }
    // Accepting from here on, not only once the thread runs: the service's start posts the boot
    // record right after this, and a refused boot record would be missing for the whole boot.
    s_Queue.SetAccepting(true);
    if (s_BlackBoxThread.Start() == 0) {
        s_Queue.SetAccepting(false);
        return false;
    }
    return true;
}

void TermBlackBox()
{
    if (!Enabled())
        return;
    s_BlackBoxThread.Stop();
    s_Queue.SetAccepting(false);
    HANDLE event = s_QueueEvent.exchange(nullptr);
    if (event != nullptr)
        CloseHandle(event);
    s_Queue.Clear();
}

int PostBlackBoxRecord(uint32_t code, uint32_t staticFlag, const void *fixedPart, int fixedLength,
                       const char *const *texts, size_t textCount)
{
    if (!Enabled())
        return 1;
    if ((fixedPart == nullptr && fixedLength != 0) || fixedLength < 0 ||
        fixedLength > static_cast<int>(kBlackboxMaxPayload) || !s_Queue.Accepting() ||
        s_BlackBoxThread.StopRequested())
        return 0;
    std::unique_ptr<BLACKBOX_RECORD> record(new (std::nothrow) BLACKBOX_RECORD);
    if (record == nullptr)
        return 0;
    bool refused = true;
    size_t length = ComposeBlackboxPayload(record->Payload, fixedPart, static_cast<size_t>(fixedLength), texts,
                                           textCount, &refused);
    if (refused)
        return 0;
    record->Code = code;
    record->Static = staticFlag;
    record->Length = static_cast<uint32_t>(length);
    if (!s_Queue.Push(std::move(record)))
        return 0;
    HANDLE event = s_QueueEvent.load();
    if (event != nullptr)
        SetEvent(event);
    return 1;
}

void PostOsBootRecord()
{
    CRegistry key(kBlackBoxVolatileKey);
    if (!CreateVolatileKey(&key))
        return;
    // With the black box switched off the post succeeds too, so the value is written then as well.
    if (key.ValueExists(L"OS Boot Logged"))
        return;
    if (PostBlackBoxRecord(kOsBootCode, 0, nullptr, 0, nullptr, 0) != 0)
        key.SetDword(L"OS Boot Logged", 1);
}

int PostOsShutdownRecord() { return PostBlackBoxRecord(kOsShutdownCode, 0, nullptr, 0, nullptr, 0); }

int PostOsInfoRecord(uint8_t type, uint8_t vendor, uint16_t bits, const char *osName, const char *osVersion,
                     const uint16_t version[4], uint16_t servicePack)
{
    FixedPart fixed;
    fixed.U8(type).U8(vendor).U16(bits);
    for (int i = 0; i < 4; ++i)
        fixed.U16(version != nullptr ? version[i] : 0);
    fixed.U16(servicePack);
    const char *texts[] = {osName, osVersion};
    return PostBlackBoxRecord(kOsInfoCode, 1, fixed.Data(), fixed.Length(), texts, std::size(texts));
}

int PostDriverRecord(uint32_t code, uint16_t flags, const char *name, const char *file, const char *version,
                     const char *timestamp, const char *vendor, const char *pciDevices)
{
    return PostFlagsAndTexts(code, kBlackboxCodeDriver, flags, {name, file, version, timestamp, vendor, pciDevices});
}

int PostServiceRecord(uint32_t code, uint16_t flags, const char *name, const char *file, const char *version,
                      const char *timestamp, const char *vendor)
{
    return PostFlagsAndTexts(code, kBlackboxCodeService, flags, {name, file, version, timestamp, vendor});
}

int PostSoftwareRecord(uint32_t code, uint16_t flags, const char *vendor, const char *name, const char *version,
                       const char *timestamp)
{
    return PostFlagsAndTexts(code, kBlackboxCodeSoftware, flags, {vendor, name, version, timestamp});
}

int PostOsUpdateRecord(uint32_t code, uint16_t flags, const char *description, const char *identifier,
                       const char *timestamp)
{
    return PostFlagsAndTexts(code, kBlackboxCodeOsUpdate, flags, {description, identifier, timestamp});
}

int PostOsUsageRecord(uint32_t processCount, uint32_t threadCount, uint32_t handleCount, uint8_t userPercent,
                      uint8_t kernelPercent)
{
    unsigned total = std::min(100u, static_cast<unsigned>(userPercent) + kernelPercent);
    FixedPart fixed;
    fixed.U32(processCount).U32(threadCount).U32(handleCount).U8(userPercent).U8(kernelPercent);
    fixed.U8(static_cast<uint8_t>(total));
    return PostBlackBoxRecord(kOsUsageCode, 0, fixed.Data(), fixed.Length(), nullptr, 0);
}

int PostMemoryUsageRecord(uint64_t physicalSize, uint64_t physicalFree, uint64_t virtualSize, uint64_t virtualFree)
{
    FixedPart fixed;
    fixed.U64(physicalSize).U64(physicalFree).U64(virtualSize).U64(virtualFree);
    return PostBlackBoxRecord(kMemoryUsageCode, 0, fixed.Data(), fixed.Length(), nullptr, 0);
}

int PostProcessorUsageRecord(const uint8_t *usage, uint32_t processorCount)
{
    // More processors than a record holds is refused by the post, as any oversized record.
    uint64_t length = uint64_t{processorCount} * 2;
    if (length > kBlackboxMaxPayload)
        return Enabled() ? 0 : 1;
    return PostBlackBoxRecord(kProcessorUsageCode, 0, usage, static_cast<int>(length), nullptr, 0);
}

int PostNicLinkRecord(uint32_t interfaceIndex, uint16_t flags, const char *description)
{
    uint8_t fixed[4 + 2 + kNicDescriptionField] = {};
    PutU32(fixed, interfaceIndex);
    PutU16(fixed + 4, flags);
    if (description != nullptr)
        std::memcpy(fixed + 6, description, strnlen(description, kNicDescriptionField - 1));
    return PostBlackBoxRecord(kNicLinkCode, 0, fixed, sizeof(fixed), nullptr, 0);
}

void ClearRelogFlags()
{
    CRegistry key(kBlackBoxVolatileKey);
    for (const wchar_t *name : kRelogValues)
        if (key.ValueExists(name))
            key.DeleteValue(name);
}

void WriteReLogRegistry()
{
    LOG_VERBOSE(L"WriteReLogRegistry", L"Set Upload Descriptors registry.");
    WriteRelogValue(L"RelogBBForDescriptors");
    UploadDescriptors();
    LOG_VERBOSE(L"WriteReLogRegistry", L"Set OS Info registry.");
    WriteRelogValue(L"RelogBBForOsInfo");
    DWORD cpuPollMinutes = 0;
    CRegistry parameters(kBlackBoxParametersKey, KEY_READ);
    // A periodic utilisation sampler logs on its own; otherwise the usage is asked for once.
    if (!parameters.GetDword(L"PollInterval_CPUUtilizationInMinutes", &cpuPollMinutes) || cpuPollMinutes == 0) {
        LOG_VERBOSE(L"WriteReLogRegistry", L"Set CPU and Memory usage registry.");
        WriteRelogValue(L"RelogBBForCpuUsage");
    }
    LOG_VERBOSE(L"WriteReLogRegistry", L"Set Software and OS update registry.");
    WriteRelogValue(L"RelogBBForSwOs");
    LOG_VERBOSE(L"WriteReLogRegistry", L"Set Services and Drivers registry.");
    WriteRelogValue(L"RelogBBForServiceDriver");
    BLACKBOX_TRIGGER trigger = s_BlackBoxTrigger.load();
    if (trigger != nullptr) {
        trigger(L"ZDTHOST", 0);
        trigger(L"MIB-2", 0);
    }
}

unsigned __stdcall BlackBoxThread(void *record)
{
    auto &worker = *static_cast<CWorkerThread *>(record);
    s_BlackboxSource = -1;
    s_MainFeeder.Handle = -1;
    s_ProcessorUsageFeeder.Handle = -1;
    if (!OpenBlackboxChannel())
        worker.m_StopFlag = 1;

    ClearRelogFlags();
    bool registerAgain = false;
    bool wasDisabled = false;
    // InitBlackBox opened the queue already; a thread without a channel closes it again.
    if (worker.StopRequested())
        s_Queue.SetAccepting(false);
    HANDLE resetEvent = CreateEventW(nullptr, FALSE, FALSE, kBlackBoxResetEventName);

    while (!worker.StopRequested()) {
        HANDLE waits[3] = {worker.m_StopEvent, s_QueueEvent.load(), resetEvent};
        DWORD count = resetEvent != nullptr ? 3 : 2;
        DWORD woke = WaitForMultipleObjects(count, waits, FALSE, BlackBoxTimeouts::WakeMs);
        if (woke == WAIT_OBJECT_0 + 2)
            OnProcessorReset(&registerAgain);
        if (worker.StopRequested())
            break;
        CheckLogState(&wasDisabled);
        Drain(worker, &registerAgain);
    }

    if (resetEvent != nullptr)
        CloseHandle(resetEvent);
    s_Queue.SetAccepting(false);
    ClearRelogFlags();
    UnregisterFeeder(s_MainFeeder, L"Unregister s_MainFeeder.Handle, result = %d");
    UnregisterFeeder(s_ProcessorUsageFeeder, L"Unregister s_ProcessorUsageFeeder.Handle, result = %d");
    CloseBlackboxChannel();
    return 0;
}
