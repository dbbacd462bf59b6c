#include "vendor_libs.h"

#include "nic_common.h"

namespace {

const char *const kQlmapiNames[kQlmapiEntryCount] = {
    "QLmapiInitializeEx",       "QLmapiUninitialize",  "QLmapiGetHandleByServiceName", "QLmapiGetBRCMNicInfo",
    "QLmapiRetrieveLinkStatus", "QLmapiGetNumPhyNic",  "QLmapiGetAllPhyNic",           "QLmapiGetVbdEnumInfo",
    "QLmapiGet5706FwInfo",      "QLmapiGet57710FwInfo", "QLmapiGet579XXFwInfo",        "QLmapiGetPhyNic",
};

const char *const kBmapiNames[kBmapiEntryCount] = {
    "BmapiInitializeEx",    "BmapiUninitialize",     "BmapiGetHandleByServiceName",
    "BmapiGetBRCMNicInfo",  "BmapiGetNumPhyNic",     "BmapiGetAllPhyNic",
    "BmapiGetVbdEnumInfo",  "BmapiGetFirmwareInfo",  "BmapiGet5706FwInfo",
    "BmapiGet57710FwInfo",  "BmapiReadVPDVal",       "BmapiGetAllPhyNicHandles",
    "BmapiGetPhyNic",       "BmapiGetServiceName",   "BmapiIsInitialized",
};

// What differs between the two libraries: file, names, attempts and the log texts.
struct SlotText {
    const wchar_t *file;
    const char *const *names;
    unsigned entryCount;
    unsigned attempts;
    const wchar_t *loadFunction;
    const wchar_t *loadedText;
    const wchar_t *initFunction;
    const wchar_t *addressText;
    const wchar_t *succeededText;
    bool succeededIsInformation;
    const wchar_t *notFoundText;
    const wchar_t *returnedText;
    const wchar_t *releaseFunction;
    const wchar_t *releasedText;
};

const SlotText kQlmapiText = {
    L"qlmapia.dll", kQlmapiNames, kQlmapiEntryCount, kQlmapiInitAttempts,
    L"LoadQMAPI", L"QLMAPI Loaded!",
    L"InitializeQMAPI", L"fQmapiInitializeEx : 0x%x", L"QmapiInitializeEx succeeded.", true,
    L"QLmapiInitializeEx returned QLMAPI_NIC_NOT_FOUND", L"QLmapiInitializeEx returned %d",
    L"UnInitializeQMAPI", L"QLMAPI unloaded. QLmapiUninitialize returned %d",
};

const SlotText kBmapiText = {
    L"bmapia.dll", kBmapiNames, kBmapiEntryCount, kBmapiInitAttempts,
    L"LoadBMAPI", L"BMAPI loaded.",
    L"InitializeBMAPI", L"BmapiInitializeEx : 0x%x", L"BmapiInitializeEx succeeded.", false,
    L"BmapiInitializeEx returned BMAPI_NIC_NOT_FOUND", L"BmapiInitializeEx returned %d",
    L"UnInitializeBMAPI", L"BMAPI unloaded. BmapiUninitialize() returned %d",
};

struct Slot {
    const SlotText &text;
    HMODULE module = nullptr;
    int initialised = 0;
    int usable = 1;
    // The bring-up spent its attempts while miniports lived; cleared when none is left.
    int spent = 0;
    FARPROC entries[kBmapiEntryCount] = {};

    explicit Slot(const SlotText &t) : text(t) {}
};

Slot s_Qlmapi(kQlmapiText);
Slot s_Bmapi(kBmapiText);
unsigned s_Holders = 0;

HMODULE Load(Slot &slot)
{
    if (slot.module == nullptr)
        slot.module = Nic().LoadLibraryW(slot.text.file);
    if (slot.module == nullptr)
        return nullptr;
    for (unsigned i = 0; i < slot.text.entryCount; ++i)
        slot.entries[i] = Nic().GetProcAddress(slot.module, slot.text.names[i]);
    LOG_INFO(slot.text.loadFunction, slot.text.loadedText);
    return slot.module;
}

int Initialize(Slot &slot)
{
    if (slot.initialised == 1 || slot.usable == 0 || slot.spent != 0)
        return slot.initialised;
    if (Load(slot) == nullptr)
        return slot.initialised;
    auto initialize = reinterpret_cast<VendorInitializeFn>(reinterpret_cast<void *>(slot.entries[0]));
    if (initialize == nullptr) {
        // Without its initialise entry point the library can never come up: waiting is useless.
        LOG_VERBOSE(slot.text.initFunction, slot.text.addressText, 0u);
        slot.usable = 0;
        return slot.initialised;
    }
    uint32_t result = 0;
    for (unsigned attempt = 0; attempt < slot.text.attempts; ++attempt) {
        LOG_VERBOSE(slot.text.initFunction, slot.text.addressText,
                    static_cast<unsigned>(reinterpret_cast<uintptr_t>(initialize)));
        result = initialize(0);
        if (result == 0) {
            if (slot.text.succeededIsInformation)
                LOG_INFO(slot.text.initFunction, slot.text.succeededText);
            else
                LOG_VERBOSE(slot.text.initFunction, slot.text.succeededText);
            slot.initialised = 1;
            break;
        }
        if (result == kVendorNicNotFound) {
            slot.usable = 0;
            LOG_VERBOSE(slot.text.initFunction, slot.text.notFoundText);
            break;
        }
        if (attempt + 1 < slot.text.attempts)
            Nic().Sleep(kVendorInitRetryMs);
    }
    if (result != 0) {
        LOG_VERBOSE(slot.text.initFunction, slot.text.returnedText, static_cast<int>(result));
        if (slot.usable != 0)
            slot.spent = 1;
    }
    return slot.initialised;
}

int Release(Slot &slot, int queryOnly)
{
    if (queryOnly == 0 && slot.initialised == 1 && slot.entries[1] != nullptr) {
        uint32_t result = reinterpret_cast<VendorUninitializeFn>(reinterpret_cast<void *>(slot.entries[1]))();
        slot.initialised = 0;
        Nic().Sleep(kVendorReleaseWaitMs);
        Nic().FreeLibrary(slot.module);
        slot.module = nullptr;
        for (FARPROC &entry : slot.entries)
            entry = nullptr;
        LOG_VERBOSE(slot.text.releaseFunction, slot.text.releasedText, static_cast<int>(result));
    }
    return slot.initialised == 0 ? 1 : 0;
}

} // namespace

HMODULE LoadQMAPI()
{
    return Load(s_Qlmapi);
}

HMODULE LoadBMAPI()
{
    return Load(s_Bmapi);
}

int InitializeQMAPI()
{
    return Initialize(s_Qlmapi);
}

int InitializeBMAPI()
{
    return Initialize(s_Bmapi);
}

// The next-generation library is never brought up in this system.
int InitializeNGBMAPI()
{
    return 0;
}

int UnInitializeQMAPI(int queryOnly)
{
    return Release(s_Qlmapi, queryOnly);
}

int UnInitializeBMAPI(int queryOnly)
{
    return Release(s_Bmapi, queryOnly);
}

int UnInitializeNGBMAPI(int)
{
    return 1;
}

int IsQMAPIInitialized()
{
    return s_Qlmapi.initialised;
}

int IsBMAPIInitialized()
{
    return s_Bmapi.initialised;
}

int IsNGBMAPIInitialized()
{
    return 0;
}

FARPROC QlmapiEntryPoint(QlmapiEntry entry)
{
    return entry < kQlmapiEntryCount ? s_Qlmapi.entries[entry] : nullptr;
}

FARPROC BmapiEntryPoint(BmapiEntry entry)
{
    return entry < kBmapiEntryCount ? s_Bmapi.entries[entry] : nullptr;
}

void HoldVendorLibraries()
{
    ++s_Holders;
    if (!IsBMAPIInitialized())
        InitializeBMAPI();
    if (!IsQMAPIInitialized())
        InitializeQMAPI();
    if (!IsNGBMAPIInitialized())
        InitializeNGBMAPI();
}

void ReleaseVendorLibraries()
{
    if (s_Holders == 0 || --s_Holders != 0)
        return;
    if (IsNGBMAPIInitialized())
        UnInitializeNGBMAPI(0);
    if (IsBMAPIInitialized())
        UnInitializeBMAPI(0);
    if (IsQMAPIInitialized())
        UnInitializeQMAPI(0);
    // With no miniport left, the next one may try a failed bring-up again.
    s_Qlmapi.spent = 0;
    s_Bmapi.spent = 0;
}

unsigned LiveVendorLibraryHolders()
{
    return s_Holders;
}

void ResetVendorLibrarySlots()
{
    for (Slot *slot : {&s_Qlmapi, &s_Bmapi}) {
        slot->module = nullptr;
        slot->initialised = 0;
        slot->usable = 1;
        slot->spent = 0;
        for (FARPROC &entry : slot->entries)
            entry = nullptr;
    }
    s_Holders = 0;
}
