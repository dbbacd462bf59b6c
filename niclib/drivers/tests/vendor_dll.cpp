// A stand-in for a NIC vendor's management library, built for tests only (as qlmapia.dll, as
// bmapia.dll and, for the partition probe, as bmapi.dll): every entry point the NIC library binds
// by name. The initialise answers are scripted through VendorTestScript; the firmware, link and
// NIC answers through VendorTestAnswer (per entry point: a result, and bytes the entry writes
// into the record or out value it is given, never past the size the library knows it has).
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

uint32_t s_Results[16] = {};
unsigned s_ResultCount = 0;
uint32_t s_Repeat = 0;
unsigned s_InitCalls = 0;
unsigned s_UninitCalls = 0;

struct Answer {
    uint32_t result = 0;
    size_t offset = 0;
    std::vector<uint8_t> bytes;
};
std::map<std::string, Answer> s_Answers;

uint32_t Initialize()
{
    const unsigned call = s_InitCalls++;
    return call < s_ResultCount ? s_Results[call] : s_Repeat;
}

// The scripted answer of an entry point: its bytes go into target when they fit its size.
uint32_t Fill(const char *entry, void *target, size_t size)
{
    auto found = s_Answers.find(entry);
    if (found == s_Answers.end())
        return 0;
    const Answer &answer = found->second;
    if (target != nullptr && answer.offset <= size && answer.bytes.size() <= size - answer.offset)
        std::memcpy(static_cast<uint8_t *>(target) + answer.offset, answer.bytes.data(), answer.bytes.size());
    return answer.result;
}

// Record sizes this library knows for its calls.
constexpr size_t k5706Bytes = 632;
constexpr size_t kQl57710Bytes = 824;
constexpr size_t kBm57710Bytes = 792;
constexpr size_t k579XXBytes = 5257;
constexpr size_t kVbdEnumBytes = 40;
constexpr size_t kPhyNicEntryBytes = 420;
constexpr size_t kFirmwareInfoBytes = 836;
constexpr size_t kNicInfoBytes = 112;
constexpr size_t kLinkStatusBytes = 28;
constexpr size_t kNicInfoExBytes = 200;
constexpr size_t kPhyNicBytes = 16;

} // namespace

extern "C" {

__declspec(dllexport) void VendorTestScript(const uint32_t *results, unsigned count, uint32_t repeat)
{
    s_ResultCount = count < 16 ? count : 16;
    for (unsigned i = 0; i < s_ResultCount; ++i)
        s_Results[i] = results[i];
    s_Repeat = repeat;
    s_InitCalls = 0;
    s_UninitCalls = 0;
    s_Answers.clear();
}

__declspec(dllexport) void VendorTestAnswer(const char *entry, uint32_t result, unsigned offset, const void *bytes,
                                            unsigned size)
{
    Answer answer;
    answer.result = result;
    answer.offset = offset;
    if (bytes != nullptr)
        answer.bytes.assign(static_cast<const uint8_t *>(bytes), static_cast<const uint8_t *>(bytes) + size);
    s_Answers[entry] = answer;
}

__declspec(dllexport) void VendorTestCalls(unsigned *initCalls, unsigned *uninitCalls)
{
    *initCalls = s_InitCalls;
    *uninitCalls = s_UninitCalls;
}

#define VENDOR_ENTRY(name)                                                                                             \
    __declspec(dllexport) uint32_t name() { return 0; }
#define VENDOR_OUT(name)                                                                                               \
    __declspec(dllexport) uint32_t name(uint32_t *out) { return Fill(#name, out, sizeof(*out)); }
#define VENDOR_BY_NAME(name)                                                                                           \
    __declspec(dllexport) uint32_t name(const char *, uint32_t *handle) { return Fill(#name, handle, sizeof(*handle)); }
#define VENDOR_RECORD(name, bytes)                                                                                     \
    __declspec(dllexport) uint32_t name(uint32_t, uint8_t *record) { return Fill(#name, record, bytes); }
#define VENDOR_PHY_NICS(name)                                                                                          \
    __declspec(dllexport) uint32_t name(uint8_t *nics, uint32_t count)                                                \
    {                                                                                                                  \
        return Fill(#name, nics, count * kPhyNicEntryBytes);                                                           \
    }

#if defined(VENDOR_QLMAPI)
__declspec(dllexport) uint32_t QLmapiInitializeEx(uint32_t) { return Initialize(); }
__declspec(dllexport) uint32_t QLmapiUninitialize() { ++s_UninitCalls; return 0; }
VENDOR_BY_NAME(QLmapiGetHandleByServiceName)
VENDOR_RECORD(QLmapiGetBRCMNicInfo, kNicInfoBytes)
VENDOR_RECORD(QLmapiRetrieveLinkStatus, kLinkStatusBytes)
VENDOR_OUT(QLmapiGetNumPhyNic)
VENDOR_PHY_NICS(QLmapiGetAllPhyNic)
VENDOR_RECORD(QLmapiGetVbdEnumInfo, kVbdEnumBytes)
VENDOR_RECORD(QLmapiGet5706FwInfo, k5706Bytes)
VENDOR_RECORD(QLmapiGet57710FwInfo, kQl57710Bytes)
VENDOR_RECORD(QLmapiGet579XXFwInfo, k579XXBytes)
VENDOR_ENTRY(QLmapiGetPhyNic)
#elif defined(VENDOR_NPAR)
__declspec(dllexport) uint32_t BmapiInitializeEx(uint32_t) { return Initialize(); }
__declspec(dllexport) uint32_t BmapiUninitialize() { ++s_UninitCalls; return Fill("BmapiUninitialize", nullptr, 0); }
VENDOR_RECORD(BmapiGetBRCMNicInfoEx, kNicInfoExBytes)
VENDOR_BY_NAME(BmapiGetHandleByServiceName)
VENDOR_OUT(BmapiGetNumPhyNicEx)
__declspec(dllexport) uint32_t BmapiGetAllPhyNicHandles(uint32_t *handles, uint32_t count)
{
    return Fill("BmapiGetAllPhyNicHandles", handles, count * sizeof(uint32_t));
}
VENDOR_RECORD(BmapiGetPhyNic, kPhyNicBytes)
__declspec(dllexport) uint32_t BmapiGetPnpDevId(uint32_t, char *buffer, uint32_t *size, uint32_t *, uint32_t *)
{
    auto found = s_Answers.find("BmapiGetPnpDevId");
    if (found == s_Answers.end() || size == nullptr)
        return 1;
    const std::vector<uint8_t> &id = found->second.bytes;
    if (buffer == nullptr) {
        *size = static_cast<uint32_t>(id.size());
        return 0;
    }
    std::memcpy(buffer, id.data(), id.size() < *size ? id.size() : *size);
    return found->second.result;
}
#else
__declspec(dllexport) uint32_t BmapiInitializeEx(uint32_t) { return Initialize(); }
__declspec(dllexport) uint32_t BmapiUninitialize() { ++s_UninitCalls; return 0; }
VENDOR_BY_NAME(BmapiGetHandleByServiceName)
VENDOR_RECORD(BmapiGetBRCMNicInfo, kNicInfoBytes)
VENDOR_OUT(BmapiGetNumPhyNic)
VENDOR_PHY_NICS(BmapiGetAllPhyNic)
VENDOR_RECORD(BmapiGetVbdEnumInfo, kVbdEnumBytes)
VENDOR_RECORD(BmapiGetFirmwareInfo, kFirmwareInfoBytes)
VENDOR_RECORD(BmapiGet5706FwInfo, k5706Bytes)
VENDOR_RECORD(BmapiGet57710FwInfo, kBm57710Bytes)
__declspec(dllexport) uint32_t BmapiReadVPDVal(uint32_t, const char *, uint8_t *buffer, uint32_t length)
{
    return Fill("BmapiReadVPDVal", buffer, length);
}
VENDOR_ENTRY(BmapiGetAllPhyNicHandles)
VENDOR_ENTRY(BmapiGetPhyNic)
VENDOR_ENTRY(BmapiGetServiceName)
VENDOR_ENTRY(BmapiIsInitialized)
#endif
}
