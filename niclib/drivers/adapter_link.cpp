// The link data a physical adapter publishes on every pass: condition, duplex state and speed,
// read by the driver family's own reader.

#include "if_table.h"
#include "miniport.h"
#include "vendor_libs.h"

#include <cstring>

namespace {

// The vendors' link entry points (bound by name, see vendor_libs.h).
using HandleByServiceNameFn = uint32_t(__cdecl *)(const char *serviceName, uint32_t *handle);
using BrcmNicInfoFn = uint32_t(__cdecl *)(uint32_t handle, void *record, uint32_t version);
using RetrieveLinkStatusFn = uint32_t(__cdecl *)(uint32_t handle, void *record);

template <class F> F Bind(FARPROC entry)
{
    return reinterpret_cast<F>(reinterpret_cast<void *>(entry));
}

constexpr DWORD kBrcmNicInfoBytes = 112;
constexpr size_t kBrcmNicInfoDuplexOffset = 84;
constexpr DWORD kLinkStatusBytes = 28;
constexpr size_t kLinkStatusDuplexOffset = 20;
constexpr DWORD kMv3StatusBytes = 128;
constexpr size_t kMv3StatusLinkOffset = 16;
constexpr DWORD kMv3DuplexBytes = 48;
constexpr size_t kMv3DuplexOffset = 12;
constexpr DWORD kLinkStateBytes = 40;
constexpr size_t kLinkStateDuplexOffset = 8;
constexpr size_t kAnsiGuidBytes = 256;

uint32_t ReadU32(const uint8_t *bytes, size_t offset)
{
    uint32_t value = 0;
    std::memcpy(&value, bytes + offset, sizeof(value));
    return value;
}

// A duplex state computed from a driver or vendor word: anything outside 1..3 is unknown.
uint32_t DuplexFromWord(uint32_t word, uint32_t offset)
{
    const uint64_t state = static_cast<uint64_t>(word) + offset;
    return state >= kDuplexUnknown && state <= kDuplexFull ? static_cast<uint32_t>(state) : kDuplexUnknown;
}

// NDIS_MEDIA_DUPLEX_STATE answer: 1 half, 2 full; anything else leaves the duplex.
void ApplyMediaDuplex(uint32_t answer, MINIPORTDYNAMICDATA *data)
{
    if (answer == 1)
        data->duplexState = kDuplexHalf;
    else if (answer == 2)
        data->duplexState = kDuplexFull;
}

void GuidToAnsi(const wchar_t *guid, char out[kAnsiGuidBytes])
{
    size_t i = 0;
    for (; guid != nullptr && guid[i] != L'\0' && i + 1 < kAnsiGuidBytes; ++i)
        out[i] = guid[i] < 0x80 ? static_cast<char>(guid[i]) : '?';
    out[i] = '\0';
}

} // namespace

DWORD CMiniport::GetDynamicData(MINIPORTDYNAMICDATA *data)
{
    static constexpr wchar_t kFunction[] = L"CMiniport::GetDynamicData";
    LOG_INFO(kFunction, L"Retrieving physical adapter data.");
    uint8_t speedAnswer[8] = {};
    DWORD returned = 0;
    DWORD result = NdisIoctl(kOidGenLinkSpeed, speedAnswer, sizeof(speedAnswer), &returned);
    data->condition = kConditionOther;
    data->duplexState = kDuplexUnknown;
    // The driver answers in units of 100 bit/s.
    data->linkSpeed = ReadU32(speedAnswer, 0) / 10000;

    switch (m_AdapterType) {
    case 1: case 2: case 3:
        result = GetGenericCondition(data);
        break;
    case 4:
        result = GetMV3DynamicData(data);
        break;
    case 5: case 6: case 7: case 8: case 13: case 14: case 18: case 20:
        result = GetE100DynamicData(data);
        break;
    case 9:
        result = GetQ57W2KDynamicData(data);
        if (result != 0)
            result = GetQ579XXDynamicData(data);
        break;
    case 10:
        result = GetNXP2DynamicData(data);
        break;
    case 11:
        result = GetBE2DynamicData(data);
        break;
    case 12: case 15:
        result = GetMLX4DynamicData(data);
        break;
    case 16:
        result = GetQ579XXDynamicData(data);
        break;
    case 21:
        result = GetIONICDynamicData(data);
        break;
    default:
        LOG_VERBOSE(kFunction, L"Can't determine adapter type!");
        break;
    }
    if (data->condition == kConditionFailed)
        data->duplexState = kDuplexUnknown;
    return result;
}

// The first steps every reader that starts from the generic condition shares: the condition into
// the caller's record, or the query's error with the record unchanged.
#define GENERIC_CONDITION_FIRST(function, information, warning)                                                      \
    LOG_INFO(function, information);                                                                                 \
    {                                                                                                                \
        MINIPORTDYNAMICDATA generic = {kConditionOther, kDuplexUnknown, 0};                                          \
        const DWORD genericResult = GetGenericCondition(&generic);                                                   \
        if (genericResult != 0) {                                                                                    \
            LOG_WARNING(function, warning, static_cast<int>(genericResult));                                         \
            return genericResult;                                                                                    \
        }                                                                                                            \
        data->condition = generic.condition;                                                                         \
    }

DWORD CMiniport::GetE100DynamicData(MINIPORTDYNAMICDATA *data)
{
    static constexpr wchar_t kFunction[] = L"CMiniport::GetE100DynamicData";
    GENERIC_CONDITION_FIRST(kFunction, L"Retrieving E100 dynamic data.",
                            L"Cannot obtain generic condition. Return code: %d")
    uint8_t answer[8] = {};
    DWORD returned = 0;
    const DWORD result = IntelNdisIoctl(kOidIntelDuplex, answer, sizeof(answer), &returned);
    if (result == 0) {
        data->duplexState = DuplexFromWord(ReadU32(answer, 0), 1);
    } else {
        LOG_VERBOSE(kFunction, L"NdisIoctl returned: %d", static_cast<int>(result));
        switch (GetDuplexState()) {
        case 1:
            data->duplexState = kDuplexHalf;
            break;
        case 2:
            data->duplexState = kDuplexFull;
            break;
        default:
            data->duplexState = kDuplexUnknown;
            break;
        }
    }
    return 0;
}

DWORD CMiniport::GetNXP2DynamicData(MINIPORTDYNAMICDATA *data)
{
    static constexpr wchar_t kFunction[] = L"CMiniport::GetNXP2DynamicData";
    GENERIC_CONDITION_FIRST(kFunction, L"Retrieving NXP2 dynamic data.",
                            L"Cannot obtain generic condition. Return code: %d")
    uint8_t answer[8] = {};
    DWORD returned = 0;
    const DWORD result = NdisIoctl(kOidNxp2Duplex, answer, sizeof(answer), &returned);
    if (result == 0) {
        data->duplexState = DuplexFromWord(ReadU32(answer, 0), 2);
    } else {
        LOG_VERBOSE(kFunction, L"NdisIoctl returned: %d", static_cast<int>(result));
        data->duplexState = kDuplexUnknown;
    }
    return 0;
}

DWORD CMiniport::GetBE2DynamicData(MINIPORTDYNAMICDATA *data)
{
    GENERIC_CONDITION_FIRST(L"CMiniport::GetBE2DynamicData", L"Retrieving BE2 dynamic data.",
                            L"Cannot obtain generic condition. Return code: %d")
    data->duplexState = data->condition == kConditionOk ? kDuplexFull : kDuplexUnknown;
    return 0;
}

DWORD CMiniport::GetMLX4DynamicData(MINIPORTDYNAMICDATA *data)
{
    GENERIC_CONDITION_FIRST(L"CMiniport::GetMLX4DynamicData", L"Retrieving MLX4 dynamic data.",
                            L"Cannot obtain generic condition. Return code: %d")
    data->duplexState = data->condition == kConditionOk ? kDuplexFull : kDuplexUnknown;
    return 0;
}

DWORD CMiniport::GetIONICDynamicData(MINIPORTDYNAMICDATA *data)
{
    GENERIC_CONDITION_FIRST(L"CMiniport::GetIONICDynamicData", L"Retrieving INOIC dynamic data!",
                            L"Cannot obtain generic condition. Return code: %d")
    data->duplexState = data->condition == kConditionOk ? kDuplexFull : kDuplexUnknown;
    return 0;
}

DWORD CMiniport::GetQ57W2KDynamicData(MINIPORTDYNAMICDATA *data)
{
    GENERIC_CONDITION_FIRST(L"CMiniport::GetQ57W2KDynamicData", L"Retrieving Q57W2K dynamic data.",
                            L"Can't determine generic condition: %d")
    uint8_t answer[4] = {};
    DWORD returned = 0;
    if (NdisIoctl(kOidGenMediaDuplexState, answer, sizeof(answer), &returned) == 0) {
        ApplyMediaDuplex(ReadU32(answer, 0), data);
        return 0;
    }
    // The next-generation library is never brought up, so the device family is always the one
    // that BMAPI serves.
    char guid[kAnsiGuidBytes];
    GuidToAnsi(m_Guid, guid);
    return GetBmapiNicInfo(data, guid);
}

DWORD CMiniport::GetBmapiNicInfo(MINIPORTDYNAMICDATA *data, const char *guid)
{
    static constexpr wchar_t kFunction[] = L"CMiniport::GetBmapiNicInfo";
    const int initialised = InitializeBMAPI();
    const auto getHandle = Bind<HandleByServiceNameFn>(BmapiEntryPoint(kBmapiGetHandleByServiceName));
    const auto getInfo = Bind<BrcmNicInfoFn>(BmapiEntryPoint(kBmapiGetBRCMNicInfo));
    if (initialised != 1 || getHandle == nullptr || getInfo == nullptr) {
        LOG_VERBOSE(kFunction, L"BMAPI can't initialize!");
        data->duplexState = kDuplexUnknown;
        return 0;
    }
    uint32_t handle = 0;
    DWORD result = getHandle(guid != nullptr ? guid : "", &handle);
    if (result != 0) {
        data->duplexState = kDuplexUnknown;
        LOG_VERBOSE(kFunction, L"BmapiGetHandleByServiceName returned %d", static_cast<int>(result));
        return result;
    }
    uint8_t record[kBrcmNicInfoBytes] = {};
    result = getInfo(handle, record, 0);
    if (result == 0) {
        data->duplexState = DuplexFromWord(ReadU32(record, kBrcmNicInfoDuplexOffset), 1);
        return 0;
    }
    LOG_VERBOSE(kFunction, L"BmapiGetBRCMNicInfo returned %d", static_cast<int>(result));
    data->duplexState = kDuplexUnknown;
    return result;
}

DWORD CMiniport::GetQ579XXDynamicData(MINIPORTDYNAMICDATA *data)
{
    static constexpr wchar_t kFunction[] = L"CMiniport::GetQ579XXDynamicData";
    GENERIC_CONDITION_FIRST(kFunction, L"Retrieving Q579XX dynamic data.",
                            L"Can't obtain generic condition. Return code: %d")
    uint8_t answer[4] = {};
    DWORD returned = 0;
    const DWORD kept = NdisIoctl(kOidGenMediaDuplexState, answer, sizeof(answer), &returned);
    if (kept == 0) {
        ApplyMediaDuplex(ReadU32(answer, 0), data);
        return 0;
    }
    const int initialised = InitializeQMAPI();
    const auto getHandle = Bind<HandleByServiceNameFn>(QlmapiEntryPoint(kQLmapiGetHandleByServiceName));
    const auto linkStatus = Bind<RetrieveLinkStatusFn>(QlmapiEntryPoint(kQLmapiRetrieveLinkStatus));
    if (initialised != 1 || getHandle == nullptr || linkStatus == nullptr) {
        LOG_VERBOSE(kFunction, L"QLMAPI can't initialize.");
        data->duplexState = kDuplexUnknown;
        return kept;
    }
    char guid[kAnsiGuidBytes];
    GuidToAnsi(m_Guid, guid);
    uint32_t handle = 0;
    DWORD result = getHandle(guid, &handle);
    if (result != 0) {
        data->duplexState = kDuplexUnknown;
        LOG_VERBOSE(kFunction, L"QLmapiGetHandleByServiceName returned %d", static_cast<int>(result));
        return kept;
    }
    uint8_t record[kLinkStatusBytes] = {};
    result = linkStatus(handle, record);
    if (result == 0) {
        data->duplexState = DuplexFromWord(ReadU32(record, kLinkStatusDuplexOffset), 2);
        return 0;
    }
    data->duplexState = kDuplexUnknown;
    LOG_VERBOSE(kFunction, L"QLmapiRetrieveLinkStatus returned %d", static_cast<int>(result));
    return kept;
}

DWORD CMiniport::GetMV3DynamicData(MINIPORTDYNAMICDATA *data)
{
    static constexpr wchar_t kFunction[] = L"CMiniport::GetMV3DynamicData";
    LOG_INFO(kFunction, L"Retrieving MV3 dynamic data.");
    uint8_t status[kMv3StatusBytes] = {};
    uint8_t duplex[kMv3DuplexBytes] = {};
    DWORD returned = 0;
    DWORD result = NdisIoctl(kOidMv3LinkStatus, status, sizeof(status), &returned);
    if (result == 0)
        result = NdisIoctl(kOidMv3Duplex, duplex, sizeof(duplex), &returned);
    if (result != 0) {
        LOG_WARNING(kFunction, L"NdisIoctl returned: %d", static_cast<int>(result));
        return result;
    }
    data->duplexState = DuplexFromWord(ReadU32(duplex, kMv3DuplexOffset), 2);
    LOG_VERBOSE(kFunction, L"Duplex: %d", static_cast<int>(data->duplexState));
    data->condition = ReadU32(status, kMv3StatusLinkOffset) == 0 ? kConditionOk : kConditionFailed;
    return 0;
}

int32_t CMiniport::GetDuplexState()
{
    HANDLE device = OpenDevice(m_DeviceName != nullptr ? m_DeviceName : L"");
    if (device == INVALID_HANDLE_VALUE)
        return -1;
    uint32_t oid = kOidGenLinkState;
    uint8_t answer[kLinkStateBytes] = {};
    DWORD written = 0;
    int32_t state = -1;
    // The state is read only when the driver's answer reaches it.
    if (Nic().DeviceIoControl(device, kIoctlNdisQueryGlobalStats, &oid, sizeof(oid), answer, sizeof(answer), &written,
                              nullptr) &&
        written >= kLinkStateDuplexOffset + sizeof(uint32_t))
        state = static_cast<int32_t>(ReadU32(answer, kLinkStateDuplexOffset));
    Nic().CloseHandle(device);
    return state;
}
