// Firmware and boot-code versions of a miniport's NIC: private NDIS OIDs (Intel, NetXen/QLogic,
// Emulex, Mellanox), the QLMAPI and BMAPI vendor libraries (Broadcom family) and WMI
// (Solarflare). Every reader bounds what it writes into the firmware text and leaves the text as
// it was when its query fails.
#include "firmware_text.h"
#include "miniport.h"
#include "vendor_libs.h"
#include "wmi.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// Driver OIDs of the readers.
constexpr uint32_t kOidNetXenFirmware = 0xFF01011E;
constexpr uint32_t kOidEmulexBootCode = 0xFF020295;
constexpr uint32_t kOidMellanoxBootCode = 0xFFA0C915;

// Vendor records: size, version word and the offsets read from the answer.
constexpr size_t k5706Bytes = 632;
constexpr uint32_t k5706Version = 10;
constexpr size_t k5706TextAt = 8;
constexpr size_t kQl57710Bytes = 824;
constexpr uint32_t kQl57710Version = 11;
constexpr size_t kQl57710PackedAt = 800;
constexpr size_t kQl57710TextAt = 584;
constexpr size_t kQl57710FlagAt = 4;
constexpr size_t kQl57710FlagTextAt = 8;
constexpr size_t k579XXBytes = 5257;
constexpr uint32_t k579XXVersion = 1;
constexpr size_t k579XXTextAt = 5241;
constexpr size_t k579XXOtherTextAt = 4;
constexpr size_t kVbdEnumBytes = 40;
constexpr uint32_t kVbdEnumVersion = 4;
constexpr size_t kVbdEnumHandleAt = 16;
constexpr size_t kPhyNicEntryBytes = 420;
constexpr size_t kPhyNicKindAt = 0;
constexpr size_t kPhyNicHandleAt = 4;
constexpr uint32_t kPhyNicKindVbd = 6;
constexpr size_t kBmapiFirmwareBytes = 836;
constexpr uint32_t kBmapiFirmwareVersion = 12;
constexpr size_t kBmapiVpdFlagAt = 616;
constexpr size_t kBm57710Bytes = 792;
constexpr uint32_t kBm57710Version = 9;
constexpr uint32_t kVpdBytes = 10;

// VBD handle lookup results beside the library's own.
constexpr uint32_t kVbdEntryMissing = 39;
constexpr uint32_t kVbdNoMatch = 204;

// More physical NICs than any host carries: a larger count from a library is cut to this.
constexpr uint32_t kVendorMaxPhyNics = 64;

// Default Broadcom device family: read through BMAPI.
constexpr int kBroadcomFamilyBmapi = 4;

using HandleByServiceNameFn = uint32_t(__cdecl *)(const char *, uint32_t *);
using GetNumPhyNicFn = uint32_t(__cdecl *)(uint32_t *);
using GetAllPhyNicFn = uint32_t(__cdecl *)(uint8_t *, uint32_t);
using HandleRecordFn = uint32_t(__cdecl *)(uint32_t, uint8_t *);
using ReadVpdFn = uint32_t(__cdecl *)(uint32_t, const char *, uint8_t *, uint32_t);

template <class Fn> Fn Entry(FARPROC proc)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(proc));
}

// A zeroed vendor record with its version word.
std::vector<uint8_t> Record(size_t bytes, uint32_t version)
{
    std::vector<uint8_t> record(bytes, 0);
    std::memcpy(record.data(), &version, sizeof(version));
    return record;
}

// The GUID text as 8-bit text (GUIDs are ASCII), cut to fit.
void NarrowGuid(const wchar_t *guid, char out[kFirmwareTextBytes])
{
    size_t i = 0;
    for (; guid != nullptr && guid[i] != 0 && i + 1 < kFirmwareTextBytes; ++i)
        out[i] = static_cast<char>(guid[i] < 0x80 ? guid[i] : '?');
    out[i] = '\0';
}

struct VbdEntries {
    FARPROC numPhyNic;
    FARPROC allPhyNic;
    FARPROC vbdEnumInfo;
};

// The physical NIC whose VBD enumeration names the NDIS adapter handle. A NIC of the VBD kind
// whose enumeration fails is taken only when no NIC names the handle (and only where the caller
// allows it), so another NIC's firmware is never read in its place.
uint32_t FindVbdHandle(const VbdEntries &entries, uint32_t ndisHandle, uint32_t *nicHandle, bool takeVbdKind)
{
    auto numPhyNic = Entry<GetNumPhyNicFn>(entries.numPhyNic);
    auto allPhyNic = Entry<GetAllPhyNicFn>(entries.allPhyNic);
    auto vbdEnumInfo = Entry<HandleRecordFn>(entries.vbdEnumInfo);
    if (numPhyNic == nullptr || allPhyNic == nullptr || vbdEnumInfo == nullptr)
        return kVbdEntryMissing;
    uint32_t count = 0;
    uint32_t result = numPhyNic(&count);
    if (result != 0)
        return result;
    if (count > kVendorMaxPhyNics)
        count = kVendorMaxPhyNics;
    if (count == 0)
        return kVbdNoMatch;
    std::unique_ptr<uint8_t[]> nics(new (std::nothrow) uint8_t[count * kPhyNicEntryBytes]());
    if (!nics)
        return ERROR_NOT_ENOUGH_MEMORY;
    result = allPhyNic(nics.get(), count);
    if (result != 0)
        return result;
    const size_t bytes = count * kPhyNicEntryBytes;
    bool fallbackFound = false;
    uint32_t fallback = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *entry = nics.get() + i * kPhyNicEntryBytes;
        const uint32_t handle = RecordWord(entry, bytes - i * kPhyNicEntryBytes, kPhyNicHandleAt);
        std::vector<uint8_t> info = Record(kVbdEnumBytes, kVbdEnumVersion);
        if (vbdEnumInfo(handle, info.data()) == 0) {
            if (RecordWord(info.data(), info.size(), kVbdEnumHandleAt) == ndisHandle) {
                *nicHandle = handle;
                return 0;
            }
        } else if (takeVbdKind && !fallbackFound &&
                   RecordWord(entry, bytes - i * kPhyNicEntryBytes, kPhyNicKindAt) == kPhyNicKindVbd) {
            fallbackFound = true;
            fallback = handle;
        }
    }
    if (fallbackFound) {
        *nicHandle = fallback;
        return 0;
    }
    return kVbdNoMatch;
}

} // namespace

uint32_t GetQLVBDHandle(uint32_t ndisHandle, uint32_t *nicHandle)
{
    return FindVbdHandle({QlmapiEntryPoint(kQLmapiGetNumPhyNic), QlmapiEntryPoint(kQLmapiGetAllPhyNic),
                          QlmapiEntryPoint(kQLmapiGetVbdEnumInfo)},
                         ndisHandle, nicHandle, true);
}

uint32_t GetVBDHandle(uint32_t ndisHandle, uint32_t *nicHandle)
{
    return FindVbdHandle({BmapiEntryPoint(kBmapiGetNumPhyNic), BmapiEntryPoint(kBmapiGetAllPhyNic),
                          BmapiEntryPoint(kBmapiGetVbdEnumInfo)},
                         ndisHandle, nicHandle, false);
}

const char *CMiniport::GetFWVersion()
{
    LOG_INFO(L"CMiniport::GetFWVersion", L"PCI device ID: 0x%X", m_PciId);
    switch (SelectFirmwareReader(m_PciId, m_AdapterType)) {
    case FirmwareReader::kIntel:
        return GetIntelFirmwareVersion();
    case FirmwareReader::kNetXen:
        return GetNetXenFWVersion();
    case FirmwareReader::kEmulex:
        return GetSEBootCodeVersion();
    case FirmwareReader::kQLogic:
        return GetQLGCFWVersion();
    case FirmwareReader::kBroadcom:
        return GetBroadcomFirmwareVersion();
    case FirmwareReader::kSolarflare:
        return GetSolarFlareBootCodeVersion();
    case FirmwareReader::kMellanox:
        return GetMLX4BootCodeVersion();
    case FirmwareReader::kNone:
        break;
    }
    return m_FirmwareText;
}

const char *CMiniport::GetIntelFirmwareVersion()
{
    static constexpr char kNotAvailable[] = "n/a";
    LOG_INFO(L"CMiniport::GetIntelFirmwareVersion", L"Retrieving firmware version of Intel NICs.");
    uint8_t answer[kIntelFirmwareAnswerBytes] = {};
    DWORD returned = 0;
    if (IntelNdisIoctl(kOidIntelFirmwareVersion, answer, sizeof(answer), &returned) != 0)
        return kNotAvailable;
    const uint32_t word = RecordWord(answer, sizeof(answer), kIntelFirmwareAnswerBytes - 4);
    if (word == 0)
        return kNotAvailable;
    FormatIntelFirmwareVersion(word, m_FirmwareText, sizeof(m_FirmwareText));
    return m_FirmwareText;
}

const char *CMiniport::GetNetXenFWVersion()
{
    LOG_INFO(L"CMiniport::GetNetXenFWVersion", L"Querying NetXen FW version.");
    uint8_t answer[12] = {};
    DWORD returned = 0;
    if (NdisIoctl(kOidNetXenFirmware, answer, sizeof(answer), &returned) == 0)
        FormatNetXenFirmwareVersion(answer, std::min<size_t>(returned, sizeof(answer)), m_FirmwareText,
                                    sizeof(m_FirmwareText));
    return m_FirmwareText;
}

const char *CMiniport::GetSEBootCodeVersion()
{
    LOG_INFO(L"CMiniport::GetSEBootCodeVersion", L"Query SE boot code version.");
    uint8_t answer[256] = {};
    DWORD returned = 0;
    if (NdisIoctl(kOidEmulexBootCode, answer, sizeof(answer), &returned) == 0)
        CopyRecordText(answer, std::min<size_t>(returned, sizeof(answer)), 0, m_FirmwareText, sizeof(m_FirmwareText));
    return m_FirmwareText;
}

const char *CMiniport::GetMLX4BootCodeVersion()
{
    LOG_INFO(L"CMiniport::GetMLX4BootCodeVersion", L"Query MLX4 boot code version.");
    uint8_t answer[8] = {};
    DWORD returned = 0;
    if (NdisIoctl(kOidMellanoxBootCode, answer, sizeof(answer), &returned) == 0) {
        uint64_t word = 0;
        std::memcpy(&word, answer, std::min<size_t>(returned, sizeof(word)));
        FormatMlxBootCodeVersion(word, m_FirmwareText, sizeof(m_FirmwareText));
    }
    return m_FirmwareText;
}

const char *CMiniport::GetQLGCFWVersion()
{
    static constexpr wchar_t kFunction[] = L"CMiniport::GetQLGCFWVersion";
    LOG_INFO(kFunction, L"Querying QLogic FW version.");
    HandleByServiceNameFn byServiceName = nullptr;
    if (InitializeQMAPI() != 1 ||
        (byServiceName = Entry<HandleByServiceNameFn>(QlmapiEntryPoint(kQLmapiGetHandleByServiceName))) == nullptr) {
        LOG_VERBOSE(kFunction, L"QLMAPI can't initialize.");
        return m_FirmwareText;
    }
    char guid[kFirmwareTextBytes];
    NarrowGuid(m_Guid, guid);
    uint32_t handle = 0;
    uint32_t result = byServiceName(guid, &handle);
    if (result != 0) {
        LOG_VERBOSE(kFunction, L"QLmapiGetHandleByServiceName returned %d.", static_cast<int>(result));
        return m_FirmwareText;
    }
    uint32_t nic = 0;
    result = GetQLVBDHandle(handle, &nic);
    if (result != 0) {
        LOG_VERBOSE(kFunction, L"GetQLVBDHandle returned %d.", static_cast<int>(result));
        return m_FirmwareText;
    }

    auto call = [nic](QlmapiEntry entry, std::vector<uint8_t> &record) -> uint32_t {
        auto function = Entry<HandleRecordFn>(QlmapiEntryPoint(entry));
        return function != nullptr ? function(nic, record.data()) : kVbdEntryMissing;
    };
    std::vector<uint8_t> record = Record(k5706Bytes, k5706Version);
    result = call(kQLmapiGet5706FwInfo, record);
    if (result == 0) {
        LOG_VERBOSE(kFunction, L"QLmapiGet5706FwInfo succeeded.");
        CopyRecordText(record.data(), record.size(), k5706TextAt, m_FirmwareText, sizeof(m_FirmwareText));
        return m_FirmwareText;
    }
    record = Record(kQl57710Bytes, kQl57710Version);
    result = call(kQLmapiGet57710FwInfo, record);
    if (result == 0) {
        LOG_VERBOSE(kFunction, L"QLmapiGet5706FwInfo succeeded.");
        const uint32_t packed = RecordWord(record.data(), record.size(), kQl57710PackedAt);
        char text[kFirmwareTextBytes];
        if (packed != 0) {
            FormatPackedFirmwareVersion(packed, m_FirmwareText, sizeof(m_FirmwareText));
        } else if (CopyRecordText(record.data(), record.size(), kQl57710TextAt, text, sizeof(text)) != 0) {
            NormalizeFirmwareVersion(text, sizeof(text));
            std::memcpy(m_FirmwareText, text, sizeof(text));
        } else if (record[kQl57710FlagAt] != 0) {
            CopyRecordText(record.data(), record.size(), kQl57710FlagTextAt, m_FirmwareText, sizeof(m_FirmwareText));
        }
        return m_FirmwareText;
    }
    record = Record(k579XXBytes, k579XXVersion);
    result = call(kQLmapiGet579XXFwInfo, record);
    if (result == 0) {
        LOG_VERBOSE(kFunction, L"QLmapiGet579XXFwInfo succeeded.");
        char text[kFirmwareTextBytes];
        if (CopyRecordText(record.data(), record.size(), k579XXTextAt, text, sizeof(text)) != 0 ||
            CopyRecordText(record.data(), record.size(), k579XXOtherTextAt, text, sizeof(text)) != 0)
            std::memcpy(m_FirmwareText, text, sizeof(text));
        return m_FirmwareText;
    }
    LOG_VERBOSE(kFunction, L"QLmapiGet5706FwInfo/QmapiGet57710FwInfo/QmapiGet579xxFwInfo returned %d.",
                static_cast<int>(result));
    return m_FirmwareText;
}

const char *CMiniport::GetBroadcomFirmwareVersion()
{
    static constexpr wchar_t kFunction[] = L"CMiniport::GetBroadcomFirmwareVersion";
    char guid[kFirmwareTextBytes];
    NarrowGuid(m_Guid, guid);
    const int family = GetBCDeviceFamily(guid);
    LOG_VERBOSE(kFunction, L"Detected BC Family: %d", family);
    // Family 3 would be read through the next-generation library, which is never brought up.
    LOG_INFO(kFunction, L"NX1 or NX2 device detected. Fall-back to BMAPI.");
    return GetBCFWVersion(guid);
}

int CMiniport::GetBCDeviceFamily(const char *)
{
    // The next-generation library is never initialised, so its entry points are never there.
    if (InitializeNGBMAPI() == 0)
        LOG_VERBOSE(L"CMiniport::GetBCDeviceFamily", L"ngBMAPI can't initialize.");
    return kBroadcomFamilyBmapi;
}

const char *CMiniport::GetBCFWVersion(const char *guidText)
{
    static constexpr wchar_t kFunction[] = L"CMiniport::GetBCFWVersion";
    const char *service = guidText != nullptr ? guidText : "";
    HandleByServiceNameFn byServiceName = nullptr;
    if (InitializeBMAPI() != 1 ||
        (byServiceName = Entry<HandleByServiceNameFn>(BmapiEntryPoint(kBmapiGetHandleByServiceName))) == nullptr ||
        BmapiEntryPoint(kBmapiGetBRCMNicInfo) == nullptr) {
        LOG_VERBOSE(kFunction, L"BMAPI can't initialize.");
        return m_FirmwareText;
    }
    LOG_INFO(kFunction, L"Service Name: %hs", service);
    uint32_t handle = 0;
    uint32_t result = byServiceName(service, &handle);
    if (result != 0) {
        LOG_INFO(kFunction, L"BmapiGetHandleByServiceName returned %d.", static_cast<int>(result));
        return m_FirmwareText;
    }
    auto firmwareInfo = Entry<HandleRecordFn>(BmapiEntryPoint(kBmapiGetFirmwareInfo));
    std::vector<uint8_t> info = Record(kBmapiFirmwareBytes, kBmapiFirmwareVersion);
    if (firmwareInfo == nullptr || firmwareInfo(handle, info.data()) != 0)
        return m_FirmwareText;
    if (RecordWord(info.data(), info.size(), kBmapiVpdFlagAt) != 0) {
        auto readVpd = Entry<ReadVpdFn>(BmapiEntryPoint(kBmapiReadVPDVal));
        uint8_t vpd[kVpdBytes] = {};
        if (readVpd != nullptr && readVpd(handle, "VA", vpd, kVpdBytes) == 0)
            CopyRecordText(vpd, sizeof(vpd), 0, m_FirmwareText, sizeof(m_FirmwareText));
        return m_FirmwareText;
    }
    uint32_t nic = 0;
    result = GetVBDHandle(handle, &nic);
    if (result != 0) {
        LOG_VERBOSE(kFunction, L"GetVBDHandle returned %d.", static_cast<int>(result));
        return m_FirmwareText;
    }
    auto call = [nic](BmapiEntry entry, std::vector<uint8_t> &record) -> uint32_t {
        auto function = Entry<HandleRecordFn>(BmapiEntryPoint(entry));
        return function != nullptr ? function(nic, record.data()) : kVbdEntryMissing;
    };
    std::vector<uint8_t> record = Record(k5706Bytes, k5706Version);
    result = call(kBmapiGet5706FwInfo, record);
    if (result == 0) {
        LOG_VERBOSE(kFunction, L"BmapiGet5706FwInfo succeeded.");
        CopyRecordText(record.data(), record.size(), k5706TextAt, m_FirmwareText, sizeof(m_FirmwareText));
        return m_FirmwareText;
    }
    record = Record(kBm57710Bytes, kBm57710Version);
    result = call(kBmapiGet57710FwInfo, record);
    if (result == 0) {
        LOG_VERBOSE(kFunction, L"BmapiGet57710FwInfo succeeded.");
        CopyRecordText(record.data(), record.size(), k5706TextAt, m_FirmwareText, sizeof(m_FirmwareText));
        return m_FirmwareText;
    }
    LOG_VERBOSE(kFunction, L"BmapiGet5706FwInfo/BmapiGet57710FwInfo returned %d.", static_cast<int>(result));
    return m_FirmwareText;
}

const char *CMiniport::GetSolarFlareBootCodeVersion()
{
    LOG_INFO(L"CMiniport::GetSolarFlareBootCodeVersion", L"Query SF boot code version.");
    wchar_t version[256] = {};
    if (getSFBootCodeVersion(version, m_CurrentAddress) != 0) {
        size_t i = 0;
        for (; i + 1 < sizeof(m_FirmwareText) && version[i] != 0; ++i)
            m_FirmwareText[i] = static_cast<char>(version[i] < 0x100 ? version[i] : '?');
        m_FirmwareText[i] = '\0';
    }
    return m_FirmwareText;
}

namespace {

// A port matches only through a six-byte array equal to the MAC; the elements compared are
// written out one a line.
bool MacMatches(const VARIANT &value, const uint8_t mac[6])
{
    static constexpr wchar_t kFunction[] = L"getSFBootCodeVersion";
    if (value.vt == VT_NULL || value.vt == VT_EMPTY) {
        LOG_WARNING(kFunction, L"currentmacaddress: %s", value.vt == VT_NULL ? L"NULL" : L"EMPTY");
        return false;
    }
    if (value.vt != (VT_ARRAY | VT_UI1) || value.parray == nullptr || SafeArrayGetDim(value.parray) != 1)
        return false;
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(value.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(value.parray, 1, &upper)) ||
        static_cast<int64_t>(upper) - lower + 1 != kMacBytes)
        return false;
    for (LONG i = lower; i <= upper; ++i) {
        uint8_t element = 0;
        if (FAILED(SafeArrayGetElement(value.parray, &i, &element)))
            return false;
        std::printf("%u\n", static_cast<unsigned>(element));
        if (element != mac[i - lower])
            return false;
    }
    return true;
}

} // namespace

int getSFBootCodeVersion(wchar_t version[256], const uint8_t mac[6])
{
    static constexpr wchar_t kFunction[] = L"getSFBootCodeVersion";
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(result)) {
        LOG_WARNING(kFunction, L"Failed to initialize COM library. Error code 0x%X", static_cast<unsigned>(result));
        return 0;
    }
    // Set once per process; the library's own WMI connection may have done it already.
    result = Nic().CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                        RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (FAILED(result) && result != RPC_E_TOO_LATE) {
        LOG_WARNING(kFunction, L"Failed to initialize security. Error code 0x%X", static_cast<unsigned>(result));
        CoUninitialize();
        return 0;
    }
    int ran = 0;
    {
        ComPtr<IWbemLocator> locator;
        ComPtr<IWbemServices> services;
        result = Nic().CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                        reinterpret_cast<void **>(locator.Put()));
        if (FAILED(result)) {
            LOG_WARNING(kFunction, L"Failed to create IWbemLocator object. Error code 0x%X",
                        static_cast<unsigned>(result));
        } else {
            CBstr path(L"ROOT\\WMI");
            result = locator->ConnectServer(path.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                            services.Put());
            if (FAILED(result))
                LOG_WARNING(kFunction, L"Could not connect COM server. Error code 0x%X", static_cast<unsigned>(result));
        }
        if (SUCCEEDED(result)) {
            std::printf("Connected to ROOT\\WMI WMI namespace\n");
            LOG_INFO(kFunction, L"Connected to ROOT\\WMI namespace");
            result = SetWMIProxyBlanket(services.Get());
            if (FAILED(result))
                LOG_WARNING(kFunction, L"Could not set proxy blanket. Error code 0x%X", static_cast<unsigned>(result));
        }
        ComPtr<IEnumWbemClassObject> rows;
        if (SUCCEEDED(result)) {
            CBstr language(L"WQL");
            CBstr query(L"SELECT * FROM EFX_Port where externalport != 0");
            result = services->ExecQuery(language.Get(), query.Get(),
                                         WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, rows.Put());
            if (FAILED(result))
                LOG_WARNING(kFunction, L"Query for operating system name failed. Error code 0x%X",
                            static_cast<unsigned>(result));
        }
        if (SUCCEEDED(result)) {
            CWMIEnumerator ports(rows.Detach());
            while (IWbemClassObject *port = ports.Next()) {
                CVariant address;
                const bool matches = SUCCEEDED(port->Get(L"currentmacaddress", 0, address.Get(), nullptr, nullptr)) &&
                                     MacMatches(*address.Get(), mac);
                if (!matches)
                    continue;
                std::wstring text;
                if (GetWMIWideString(port, L"mcfwversion", &text, false)) {
                    const size_t n = std::min<size_t>(text.size(), 255);
                    std::memcpy(version, text.data(), n * sizeof(wchar_t));
                    version[n] = L'\0';
                }
            }
            ran = 1;
        }
    }
    CoUninitialize();
    return ran;
}
