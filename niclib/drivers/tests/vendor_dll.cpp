// A stand-in for a NIC vendor's management library, built for tests only (as qlmapia.dll and as
// bmapia.dll): every entry point the NIC library binds by name, with the initialise answers
// scripted by the test through VendorTestScript.
#include <windows.h>

#include <cstdint>

namespace {

uint32_t s_Results[16] = {};
unsigned s_ResultCount = 0;
uint32_t s_Repeat = 0;
unsigned s_InitCalls = 0;
unsigned s_UninitCalls = 0;

uint32_t Initialize()
{
    const unsigned call = s_InitCalls++;
    return call < s_ResultCount ? s_Results[call] : s_Repeat;
}

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
}

__declspec(dllexport) void VendorTestCalls(unsigned *initCalls, unsigned *uninitCalls)
{
    *initCalls = s_InitCalls;
    *uninitCalls = s_UninitCalls;
}

#define VENDOR_ENTRY(name)                                                                                             \
    __declspec(dllexport) uint32_t name() { return 0; }

#ifdef VENDOR_QLMAPI
__declspec(dllexport) uint32_t QLmapiInitializeEx(uint32_t) { return Initialize(); }
__declspec(dllexport) uint32_t QLmapiUninitialize() { ++s_UninitCalls; return 0; }
VENDOR_ENTRY(QLmapiGetHandleByServiceName)
VENDOR_ENTRY(QLmapiGetBRCMNicInfo)
VENDOR_ENTRY(QLmapiRetrieveLinkStatus)
VENDOR_ENTRY(QLmapiGetNumPhyNic)
VENDOR_ENTRY(QLmapiGetAllPhyNic)
VENDOR_ENTRY(QLmapiGetVbdEnumInfo)
VENDOR_ENTRY(QLmapiGet5706FwInfo)
VENDOR_ENTRY(QLmapiGet57710FwInfo)
VENDOR_ENTRY(QLmapiGet579XXFwInfo)
VENDOR_ENTRY(QLmapiGetPhyNic)
#else
__declspec(dllexport) uint32_t BmapiInitializeEx(uint32_t) { return Initialize(); }
__declspec(dllexport) uint32_t BmapiUninitialize() { ++s_UninitCalls; return 0; }
VENDOR_ENTRY(BmapiGetHandleByServiceName)
VENDOR_ENTRY(BmapiGetBRCMNicInfo)
VENDOR_ENTRY(BmapiGetNumPhyNic)
VENDOR_ENTRY(BmapiGetAllPhyNic)
VENDOR_ENTRY(BmapiGetVbdEnumInfo)
VENDOR_ENTRY(BmapiGetFirmwareInfo)
VENDOR_ENTRY(BmapiGet5706FwInfo)
VENDOR_ENTRY(BmapiGet57710FwInfo)
VENDOR_ENTRY(BmapiReadVPDVal)
VENDOR_ENTRY(BmapiGetAllPhyNicHandles)
VENDOR_ENTRY(BmapiGetPhyNic)
VENDOR_ENTRY(BmapiGetServiceName)
VENDOR_ENTRY(BmapiIsInitialized)
#endif
}
