// The Broadcom partition probe on a described host: "bmapi.dll" beside the library's own file,
// answered by the test's entry points, and the tape-class devices whose location it compares.
#include "adapter_data_support.h"

#include "partition_probe.h"
#include "port_map.h"

#include <gtest/gtest.h>

#include <functional>

using namespace nictest;

namespace {

constexpr wchar_t kOwnModule[] = L"C:\\Program Files\\TLM\\netvarix.dll";
constexpr wchar_t kBesideModule[] = L"C:\\Program Files\\TLM\\bmapi.dll";
constexpr wchar_t kAdapterId[] = L"PCI\\VEN_14E4&DEV_168E&SUBSYS_1798103C&REV_10\\4&1";
constexpr wchar_t kLocation[] = L"PCI bus 4, device 0, function 0";

struct NparNic {
    uint32_t handle;
    uint32_t type;
    std::string pnpId;
    int32_t partition;
};

struct NparScript {
    std::vector<uint32_t> initResults;
    uint32_t uninitResult = 0;
    unsigned initCalls = 0;
    unsigned uninitCalls = 0;
    int64_t count = -1;
    std::vector<NparNic> nics;
    std::map<uint32_t, unsigned> pnpAsked;
    bool terminateId = true;
    uint32_t infoResult = 0;
    uint32_t infoVersion = 0;
} s_Npar;

const NparNic *NicOf(uint32_t handle)
{
    for (const NparNic &nic : s_Npar.nics)
        if (nic.handle == handle)
            return &nic;
    return nullptr;
}

uint32_t __cdecl NparInit(uint32_t)
{
    const unsigned call = s_Npar.initCalls++;
    return call < s_Npar.initResults.size() ? s_Npar.initResults[call] : 0;
}
uint32_t __cdecl NparUninit()
{
    ++s_Npar.uninitCalls;
    return s_Npar.uninitResult;
}
uint32_t __cdecl NparInfoEx(uint32_t handle, uint8_t *record)
{
    std::memcpy(&s_Npar.infoVersion, record, 4);
    const NparNic *nic = NicOf(handle);
    if (nic == nullptr || s_Npar.infoResult != 0)
        return s_Npar.infoResult != 0 ? s_Npar.infoResult : 1;
    std::memcpy(record + 196, &nic->partition, 4);
    return 0;
}
uint32_t __cdecl NparByName(const char *, uint32_t *)
{
    return 1;
}
uint32_t __cdecl NparCount(uint32_t *count)
{
    *count = s_Npar.count >= 0 ? static_cast<uint32_t>(s_Npar.count) : static_cast<uint32_t>(s_Npar.nics.size());
    return 0;
}
uint32_t __cdecl NparHandles(uint32_t *handles, uint32_t count)
{
    for (uint32_t i = 0; i < count && i < s_Npar.nics.size(); ++i)
        handles[i] = s_Npar.nics[i].handle;
    return 0;
}
uint32_t __cdecl NparPhyNic(uint32_t handle, uint8_t *record)
{
    uint32_t size = 0;
    std::memcpy(&size, record, 4);
    const NparNic *nic = NicOf(handle);
    if (nic == nullptr || size != 16)
        return 1;
    std::memcpy(record + 8, &nic->type, 4);
    return 0;
}
uint32_t __cdecl NparPnpId(uint32_t handle, char *buffer, uint32_t *size, uint32_t *, uint32_t *)
{
    const NparNic *nic = NicOf(handle);
    if (nic == nullptr)
        return 1;
    ++s_Npar.pnpAsked[handle];
    // Without its NUL when the script says so: the size is the text's own.
    const uint32_t needed = static_cast<uint32_t>(nic->pnpId.size() + (s_Npar.terminateId ? 1 : 0));
    if (buffer == nullptr) {
        *size = needed;
        return 0;
    }
    if (*size < needed)
        return 2;
    std::memcpy(buffer, nic->pnpId.c_str(), needed);
    return 0;
}

class PartitionProbeTest : public AdapterDataTestBase {
protected:
    void SetUp() override
    {
        AdapterDataTestBase::SetUp();
        s_Npar = NparScript();
        fixture.Host().ownModulePath = kOwnModule;
        NicHostDevice adapter;
        adapter.id = kAdapterId;
        adapter.classGuid = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
        adapter.properties[CM_DRP_LOCATION_INFORMATION] = kLocation;
        adapter.properties[CM_DRP_SERVICE] = L"l2nd";
        adapter.properties[CM_DRP_DEVICEDESC] = L"Test NIC";
        fixture.Host().devices.push_back(adapter);
        TapeClass(L"B06BDRV\\L2ND&PCI_16A114E4\\5&1", L"PCI bus 9, device 0, function 0");
        TapeClass(L"B06BDRV\\L2ND&PCI_164E14E4\\5&2", kLocation);
    }
    void TapeClass(const std::wstring &id, const std::wstring &location)
    {
        NicHostDevice device;
        device.id = id;
        device.classGuid = kNparDeviceClass;
        device.properties[CM_DRP_LOCATION_INFORMATION] = location;
        fixture.Host().devices.push_back(device);
    }
    void Library(const std::wstring &name = kBesideModule, bool all = true)
    {
        fixture.Host().modules.push_back({name, {}});
        const std::pair<const char *, FARPROC> entries[] = {
            {"BmapiInitializeEx", AsProc(NparInit)},          {"BmapiUninitialize", AsProc(NparUninit)},
            {"BmapiGetBRCMNicInfoEx", AsProc(NparInfoEx)},     {"BmapiGetHandleByServiceName", AsProc(NparByName)},
            {"BmapiGetNumPhyNicEx", AsProc(NparCount)},        {"BmapiGetAllPhyNicHandles", AsProc(NparHandles)},
            {"BmapiGetPhyNic", AsProc(NparPhyNic)},            {"BmapiGetPnpDevId", AsProc(NparPnpId)},
        };
        for (const auto &[entry, function] : entries)
            fixture.SetModuleExport(name, entry, all || std::string(entry) != "BmapiGetPnpDevId" ? function : nullptr);
    }
    DEVINST Adapter()
    {
        DEVINST device = 0;
        Nic().CM_Locate_DevNodeW(&device, const_cast<wchar_t *>(kAdapterId), 0);
        return device;
    }
};

TEST_F(PartitionProbeTest, TheNicWhoseIdMatchesTheLocationIsAsked)
{
    Library();
    s_Npar.nics = {{0x10, 4, "B06BDRV\\L2ND&PCI_164E14E4\\5&2", 2},
                   {0x11, 2, "B06BDRV\\L2ND&PCI_164E14E4\\5&2", 9}, // another type: never asked its ID
                   {0x12, 5, "B06BDRV\\L2ND&PCI_16A114E4\\5&1", 7}};
    int32_t value = -1;
    EXPECT_EQ(0u, GetBroadcomPartitionValue(Adapter(), &value));
    EXPECT_EQ(2, value);
    EXPECT_EQ(19u, s_Npar.infoVersion);
    EXPECT_EQ(0u, s_Npar.pnpAsked[0x11]);
    EXPECT_EQ(2u, s_Npar.pnpAsked[0x12]); // asked first (last to first), size and text
    EXPECT_EQ(1u, s_Npar.uninitCalls);
    EXPECT_EQ(1u, fixture.ModuleLoads(kBesideModule));
    EXPECT_EQ(1u, fixture.ModuleFrees(kBesideModule));

    // The same through the port map's walk, which logs the outcome.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    g_PortMap.Reset();
    EXPECT_TRUE(g_PortMap.IsThisAPartitionedAdapter(L"l2nd", Adapter(), L""));
    EXPECT_FALSE(g_PortMap.IsThisAPartitionedAdapter(L"L2ND", Adapter(), L""));
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CPortMap::IsThisAPartitionedAdapter"),
                          L"This is a Partitioned Broadcom adapter."));
    CoUninitialize();
}

TEST_F(PartitionProbeTest, FailuresGiveTwoAndStillRelease)
{
    struct Case {
        const char *name;
        std::function<void(PartitionProbeTest &)> describe;
        unsigned loads;
        unsigned frees;
        uint64_t waitMs;
        int32_t value = -1;
    };
    const Case cases[] = {
        // Found only on the search path, not beside the library: never loaded.
        {"search path only", [](PartitionProbeTest &t) { t.Library(L"bmapi.dll"); }, 0, 0, 0},
        {"entry point missing", [](PartitionProbeTest &t) { t.Library(kBesideModule, false); }, 1, 1, 0},
        {"five failed initialisations",
         [](PartitionProbeTest &t) {
             t.Library();
             s_Npar.initResults = {3, 3, 3, 3, 3};
         },
         1, 1, 5 * kNparInitWaitMs + kNparReleaseWaitMs},
        {"no location matches",
         [](PartitionProbeTest &t) {
             t.Library();
             t.fixture.Host().devices.pop_back();
         },
         1, 1, kNparReleaseWaitMs},
        {"no NIC of the ID",
         [](PartitionProbeTest &t) {
             t.Library();
             s_Npar.nics = {{0x10, 4, "OTHER\\ID", 2}};
         },
         1, 1, kNparReleaseWaitMs},
        {"information refused",
         [](PartitionProbeTest &t) {
             t.Library();
             s_Npar.nics = {{0x10, 5, "B06BDRV\\L2ND&PCI_164E14E4\\5&2", 2}};
             s_Npar.infoResult = 8;
         },
         1, 1, kNparReleaseWaitMs},
        {"uninitialise refused",
         [](PartitionProbeTest &t) {
             t.Library();
             s_Npar.nics = {{0x10, 5, "B06BDRV\\L2ND&PCI_164E14E4\\5&2", 2}};
             s_Npar.uninitResult = 6;
         },
         1, 1, 0, 2}, // the value was read before the release failed
    };
    const std::vector<NicHostDevice> devices = fixture.Host().devices;
    for (const Case &c : cases) {
        fixture.Host().modules.clear();
        fixture.Host().devices = devices;
        s_Npar = NparScript();
        c.describe(*this);
        const unsigned loads = fixture.ModuleLoads(kBesideModule);
        const unsigned frees = fixture.ModuleFrees(kBesideModule);
        const uint64_t start = fixture.Ticks();
        int32_t value = -1;
        EXPECT_EQ(2u, GetBroadcomPartitionValue(Adapter(), &value)) << c.name;
        EXPECT_EQ(c.value, value) << c.name;
        EXPECT_EQ(c.loads, fixture.ModuleLoads(kBesideModule) - loads) << c.name;
        EXPECT_EQ(c.frees, fixture.ModuleFrees(kBesideModule) - frees) << c.name;
        EXPECT_EQ(c.waitMs, fixture.Ticks() - start) << c.name;
        // The slot is empty again: the next probe loads afresh.
        EXPECT_EQ(0u, UnloadNparBmapi()) << c.name;
    }
    EXPECT_EQ(0u, fixture.ModuleLoads(L"bmapi.dll"));
}

} // namespace
