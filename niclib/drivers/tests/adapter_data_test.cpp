// Adapter type, link data and part numbers of a miniport on described drivers and vendor libraries.
#include "miniport_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

using namespace nictest;

namespace {

constexpr wchar_t kDevice[] = L"\\\\.\\{11111111-2222-3333-4444-555555555555}";

std::vector<uint8_t> Word(uint32_t value, size_t bytes = 4, size_t offset = 0)
{
    std::vector<uint8_t> data(bytes, 0);
    std::memcpy(data.data() + offset, &value, 4);
    return data;
}

// The vendor entry points' answers, set by each case.
struct VendorLink {
    uint32_t handleResult = 0;
    uint32_t infoResult = 0;
    uint32_t duplexWord = 0;
    unsigned handleCalls = 0;
};
VendorLink s_Link;

uint32_t __cdecl GetHandle(const char *, uint32_t *handle)
{
    ++s_Link.handleCalls;
    *handle = 7;
    return s_Link.handleResult;
}
uint32_t __cdecl BrcmNicInfo(uint32_t, void *record, uint32_t)
{
    std::memcpy(static_cast<uint8_t *>(record) + 84, &s_Link.duplexWord, 4);
    return s_Link.infoResult;
}
uint32_t __cdecl RetrieveLinkStatus(uint32_t, void *record)
{
    std::memcpy(static_cast<uint8_t *>(record) + 20, &s_Link.duplexWord, 4);
    return s_Link.infoResult;
}

class AdapterDataTest : public MiniportTestBase {
protected:
    void SetUp() override
    {
        MiniportTestBase::SetUp();
        s_Link = VendorLink();
    }
    void Answer(uint32_t oid, std::vector<uint8_t> data, uint32_t status = 0,
                uint32_t ioctl = kIoctlNdisQueryGlobalStats, const wchar_t *path = kDevice)
    {
        fixture.Host().ndis.push_back({path, ioctl, oid, status, std::move(data)});
    }
    // A miniport of the given medium whose driver has the given service name.
    void Make(CMiniport &miniport, const wchar_t *service, uint32_t medium = 0)
    {
        Answer(kOidGenMediaInUse, Word(medium, 8));
        ASSERT_EQ(0u, miniport.Init(nullptr, kDevice, (wcslen(kDevice) + 1) * sizeof(wchar_t), nullptr));
        miniport.SetAdapterType(service);
    }
    unsigned Queries(uint32_t oid) const { return fixture.NdisQueries(kDevice, kIoctlNdisQueryGlobalStats, oid); }
};

TEST_F(AdapterDataTest, ServiceNameGivesTheAdapterType)
{
    struct Case {
        const wchar_t *service;
        uint32_t medium;
        uint8_t type;
    };
    const Case cases[] = {
        {L"Q57AMD64", 0, 9}, // without regard to case
        {L"QLNDNIC", 0, 10},
        {L"l2nd2", 0, 16},
        {L"ionic", 0, 21},
        {L"SFNDIS", 0, 19},
        {L"mervox3", 1, 4},
        {L"rtl8168", 0, 2}, // any other 802.3 adapter
        {L"rtl8168", 1, 0}, // not 802.3: unknown
        {L"q57w2", 0, 2},   // no prefix match
    };
    for (const Case &c : cases) {
        NicFixture local;
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidGenMediaInUse, 0, Word(c.medium, 8)});
        local.Install();
        CMiniport miniport;
        ASSERT_EQ(0u, miniport.Init(nullptr, kDevice, (wcslen(kDevice) + 1) * sizeof(wchar_t), nullptr));
        miniport.SetAdapterType(c.service);
        EXPECT_EQ(c.type, miniport.GetAdapterType()) << c.service << " " << c.medium;
        EXPECT_STREQ(L"N/A", miniport.GetPartNumber()); // the shipped tables are empty
        fixture.Install();
    }
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CMiniport::SetAdapterType"), L"Unknown adapter: rtl8168"));
}

TEST_F(AdapterDataTest, ASecondUnknownNameKeepsTheType)
{
    CMiniport miniport;
    Make(miniport, L"be2net");
    miniport.SetAdapterType(L"nothing-known");
    EXPECT_EQ(11, miniport.GetAdapterType());
}

TEST_F(AdapterDataTest, ReaderByAdapterType)
{
    constexpr uint32_t kFail = 31; // a driver's error
    struct Case {
        const char *name;
        const wchar_t *service;
        uint32_t medium;
        int connect;       // -1: the query fails, else the answer
        uint32_t speed;    // units of 100 bit/s
        std::vector<NicHostNdisAnswer> extra;
        DWORD result;
        uint32_t condition, duplex, linkSpeed;
    };
    auto A = [](uint32_t oid, std::vector<uint8_t> data, uint32_t status = 0) {
        return NicHostNdisAnswer{kDevice, kIoctlNdisQueryGlobalStats, oid, status, std::move(data)};
    };
    const Case cases[] = {
        {"generic up", L"rtl8168", 0, 0, 10000000, {}, 0, 2, 1, 1000},
        {"generic down", L"rtl8168", 0, 1, 9999, {}, 0, 4, 1, 0},
        {"generic fails", L"rtl8168", 0, -1, 10000, {}, kFail, 1, 1, 1},
        {"mlx4 up", L"mlx4eth6", 0, 0, 0, {}, 0, 2, 3, 0},
        {"mlx5 down", L"mlx5", 0, 1, 0, {}, 0, 4, 1, 0},
        {"be2 fails", L"be2net", 0, -1, 0, {}, kFail, 1, 1, 0},
        {"ionic up", L"ionic", 0, 0, 0, {}, 0, 2, 3, 0},
        {"nxp2 word 1", L"NXP2NIC", 0, 0, 0, {A(kOidNxp2Duplex, Word(1, 8))}, 0, 2, 3, 0},
        {"nxp2 word 5 out of range", L"NXP2NIC", 0, 0, 0, {A(kOidNxp2Duplex, Word(5, 8))}, 0, 2, 1, 0},
        {"nxp2 word wraps", L"NXP2NIC", 0, 0, 0, {A(kOidNxp2Duplex, Word(0xFFFFFFFF, 8))}, 0, 2, 1, 0},
        {"nxp2 query fails", L"NXP2NIC", 0, 0, 0, {A(kOidNxp2Duplex, {}, kFail)}, 0, 2, 1, 0},
        {"solarflare: no reader", L"SFCNDIS", 0, 0, 250000, {}, 0, 1, 1, 25},
        {"unknown medium: no reader", L"rtl8168", 1, 0, 0, {}, 0, 1, 1, 0},
        {"mv3 up full", L"mervox3", 0, -1, 0,
         {A(kOidMv3LinkStatus, Word(0, 128, 16)), A(kOidMv3Duplex, Word(1, 48, 12))}, 0, 2, 3, 0},
        {"mv3 down", L"mervox3", 0, -1, 0,
         {A(kOidMv3LinkStatus, Word(1, 128, 16)), A(kOidMv3Duplex, Word(1, 48, 12))}, 0, 4, 1, 0},
        {"mv3 second query fails", L"mervox3", 0, -1, 0,
         {A(kOidMv3LinkStatus, Word(0, 128, 16)), A(kOidMv3Duplex, {}, kFail)}, kFail, 1, 1, 0},
        {"q57 media duplex full", L"q57w2k", 0, 0, 0, {A(kOidGenMediaDuplexState, Word(2))}, 0, 2, 3, 0},
        {"q57 media duplex half", L"b57nd", 0, 0, 0, {A(kOidGenMediaDuplexState, Word(1))}, 0, 2, 2, 0},
        {"q57 down reports unknown", L"b57nd", 0, 1, 0, {A(kOidGenMediaDuplexState, Word(2))}, 0, 4, 1, 0},
        {"e100 through the link state", L"E1000", 0, 0, 0, {A(kOidGenLinkState, Word(2, 40, 8))}, 0, 2, 3, 0},
        {"e100 short link state", L"E1000", 0, 0, 0, {A(kOidGenLinkState, Word(2, 8, 0))}, 0, 2, 1, 0},
        {"e100 down", L"ixgbn", 0, 1, 0, {A(kOidGenLinkState, Word(2, 40, 8))}, 0, 4, 1, 0},
    };
    for (const Case &c : cases) {
        NicFixture local;
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidGenMediaInUse, 0, Word(c.medium, 8)});
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidGenLinkSpeed, 0, Word(c.speed, 8)});
        if (c.connect >= 0)
            local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidGenMediaConnectStatus, 0,
                                         Word(static_cast<uint32_t>(c.connect), 8)});
        else
            local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidGenMediaConnectStatus, kFail, {}});
        for (const NicHostNdisAnswer &a : c.extra)
            local.Host().ndis.push_back(a);
        local.Install();
        CMiniport miniport;
        ASSERT_EQ(0u, miniport.Init(nullptr, kDevice, (wcslen(kDevice) + 1) * sizeof(wchar_t), nullptr)) << c.name;
        miniport.SetAdapterType(c.service);
        MINIPORTDYNAMICDATA data = {9, 9, 9};
        EXPECT_EQ(c.result, miniport.GetDynamicData(&data)) << c.name;
        EXPECT_EQ(c.condition, data.condition) << c.name;
        EXPECT_EQ(c.duplex, data.duplexState) << c.name;
        EXPECT_EQ(c.linkSpeed, data.linkSpeed) << c.name;
        fixture.Install();
    }
    const auto lines = LogMessages(s_LogPath, L"CMiniport::GetDynamicData");
    EXPECT_EQ(2u, CountOf(lines, L"Can't determine adapter type!"));
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CMiniport::GetBE2DynamicData"),
                          L"Cannot obtain generic condition. Return code: 31"));
}

TEST_F(AdapterDataTest, BroadcomConditionFailureFallsThroughToTheSecondReader)
{
    Answer(kOidGenMediaConnectStatus, {}, 31);
    Answer(kOidGenMediaDuplexState, {}, 50);
    CMiniport miniport;
    Make(miniport, L"q57w2k");
    MINIPORTDYNAMICDATA data = {};
    // The second reader asks no more (the link query is now off), and without QLMAPI keeps the
    // duplex query's error.
    EXPECT_EQ(50u, miniport.GetDynamicData(&data));
    EXPECT_EQ(1u, data.condition);
    EXPECT_EQ(1u, data.duplexState);
    EXPECT_EQ(1u, Queries(kOidGenMediaConnectStatus));
    EXPECT_EQ(0u, miniport.GetLinkQueryEnabled());
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CMiniport::GetQ57W2KDynamicData"),
                          L"Can't determine generic condition: 31"));
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"CMiniport::GetQ579XXDynamicData"), L"QLMAPI can't initialize."));
}

TEST_F(AdapterDataTest, VendorLibrariesDecideTheDuplex)
{
    struct Case {
        const char *name;
        bool qlmapi;          // else BMAPI
        bool module;          // the library is present
        bool linkEntries;     // with its link entry points
        uint32_t handleResult, infoResult, duplexWord;
        DWORD result;
        uint32_t duplex;
    };
    const Case cases[] = {
        {"bmapi full", false, true, true, 0, 0, 2, 0, 3},
        {"bmapi half", false, true, true, 0, 0, 1, 0, 2},
        {"bmapi word out of range", false, true, true, 0, 0, 7, 0, 1},
        // A BMAPI error sends the pass on to the second reader, which without QLMAPI keeps the
        // duplex query's error.
        {"bmapi handle error", false, true, true, 4, 0, 2, 50, 1},
        {"bmapi info error", false, true, true, 0, 6, 2, 50, 1},
        {"bmapi entry missing", false, true, false, 0, 0, 2, 0, 1},
        {"bmapi absent", false, false, false, 0, 0, 2, 0, 1},
        {"qlmapi full", true, true, true, 0, 0, 1, 0, 3},
        {"qlmapi word out of range", true, true, true, 0, 0, 2, 0, 1},
        {"qlmapi handle error keeps the query error", true, true, true, 4, 0, 1, 50, 1},
        {"qlmapi status error keeps the query error", true, true, true, 0, 6, 1, 50, 1},
        {"qlmapi entry missing", true, true, false, 0, 0, 1, 50, 1},
    };
    for (const Case &c : cases) {
        ResetVendorLibrarySlots();
        s_Qlmapi = VendorScript();
        s_Bmapi = VendorScript();
        NicFixture local;
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidGenMediaInUse, 0, Word(0, 8)});
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidGenMediaConnectStatus, 0, Word(0, 8)});
        local.Host().ndis.push_back({kDevice, kIoctlNdisQueryGlobalStats, kOidGenMediaDuplexState, 50, {}});
        local.Install();
        if (c.module) {
            const std::wstring name = c.qlmapi ? L"qlmapia.dll" : L"bmapia.dll";
            local.Host().modules.push_back({name, {}});
            local.SetModuleExport(name, c.qlmapi ? "QLmapiInitializeEx" : "BmapiInitializeEx",
                                  AsProc(c.qlmapi ? QlmapiInit : BmapiInit));
            if (c.linkEntries) {
                local.SetModuleExport(name, c.qlmapi ? "QLmapiGetHandleByServiceName" : "BmapiGetHandleByServiceName",
                                      AsProc(GetHandle));
                if (c.qlmapi)
                    local.SetModuleExport(name, "QLmapiRetrieveLinkStatus", AsProc(RetrieveLinkStatus));
                else
                    local.SetModuleExport(name, "BmapiGetBRCMNicInfo", AsProc(BrcmNicInfo));
            }
        }
        s_Link = VendorLink();
        s_Link.handleResult = c.handleResult;
        s_Link.infoResult = c.infoResult;
        s_Link.duplexWord = c.duplexWord;
        CMiniport miniport;
        ASSERT_EQ(0u, miniport.Init(nullptr, kDevice, (wcslen(kDevice) + 1) * sizeof(wchar_t), nullptr)) << c.name;
        miniport.SetAdapterType(c.qlmapi ? L"l2nd2" : L"q57w2k");
        MINIPORTDYNAMICDATA data = {};
        EXPECT_EQ(c.result, miniport.GetDynamicData(&data)) << c.name;
        EXPECT_EQ(2u, data.condition) << c.name;
        EXPECT_EQ(c.duplex, data.duplexState) << c.name;
        EXPECT_EQ(c.module && c.linkEntries ? 1u : 0u, s_Link.handleCalls) << c.name;
        fixture.Install();
    }
}

// Part-number rows of a test product line.
constexpr uint32_t kDualA = 0x00011111, kDualB = 0x00021111, kByDevice = 0x00031111;
const PARTNUMBERROW kGeneric[] = {{0x11112222, 0, L"GEN-1"}};
const PARTNUMBERROW kTlan[] = {{0x0E110001, 0, L"TLAN-1"}, {0x0E110002, 0, L"TLAN-2"}};
const PARTNUMBERROW kIntel[] = {
    {kDualA, 0x1572, L"INT-1572"}, {kDualA, 0, L"INT-DUAL"}, {kDualB, 0x1572, L"INT-1572"}, {kDualB, 0, L"INT-DUAL"},
    {kByDevice, 0x1593, L"INT-1593"}, {kByDevice, 0x159B, L"INT-159B"}, {kByDevice, 0, nullptr},
    {0x00041111, 0, L"INT-4"},
};
const PARTNUMBERROW kBroadcom[] = {{0x1917103C, 0, L"BRC-1"}};

PARTNUMBERTABLES TestTables()
{
    PARTNUMBERTABLES tables = {};
    tables.family[kPartGeneric] = {kGeneric, std::size(kGeneric)};
    tables.family[kPartTlan] = {kTlan, std::size(kTlan)};
    tables.family[kPartIntel] = {kIntel, std::size(kIntel)};
    tables.family[kPartBroadcom] = {kBroadcom, std::size(kBroadcom)};
    return tables;
}

TEST(PartNumberLookup, FamiliesKeysAndMissLines)
{
    const PARTNUMBERTABLES tables = TestTables();
    struct Case {
        uint8_t type;
        uint32_t pciId, subsystemId;
        const wchar_t *part;     // none: "N/A"
        const wchar_t *missLine; // none: silent
    };
    const Case cases[] = {
        {0, 0, 0x11112222, nullptr, L"Could not detect Part #!"},
        {3, 0, 0x11112222, nullptr, L"Could not detect Part #!"},
        {22, 0, 0x11112222, nullptr, L"Could not detect Part #!"},
        {2, 0, 0x11112222, L"GEN-1", nullptr},
        {2, 0, 0x11112223, nullptr, L"Could not detect Generic NIC Part #!"},
        {9, 0, 0x11112222, nullptr, L"Could not detect Broadcom Part #!"},
        {9, 0, 0x1917103C, L"BRC-1", nullptr},
        {11, 0, 1, nullptr, L"Could not detect Emulex Part #!"},
        {12, 0, 1, nullptr, L"Could not detect Mellanox Part #!"},
        {15, 0, 1, nullptr, L"Could not detect MLX5 NIC Part #!"},
        {6, 0x80861521, 0x5, nullptr, nullptr}, // Intel family: silent
        {10, 0, 1, nullptr, nullptr},
        // Type 4 by PCI ID: the same subsystem ID on two controllers.
        {4, 0x0E110001, 0x1234, L"TLAN-1", nullptr},
        {4, 0x0E110002, 0x1234, L"TLAN-2", nullptr},
        {4, 0x0E110003, 0x0E110001, nullptr, L"Could not detect TLAN Part #!"},
        // The Intel keys that look at the device ID.
        {8, 0x80861572, kDualA, L"INT-1572", nullptr},
        {8, 0x80861583, kDualA, L"INT-DUAL", nullptr},
        {13, 0x80861572, kDualB, L"INT-1572", nullptr},
        {20, 0x80861593, kByDevice, L"INT-1593", nullptr},
        {20, 0x8086159B, kByDevice, L"INT-159B", nullptr},
        {20, 0x80861592, kByDevice, nullptr, nullptr},
        {14, 0x80861592, 0x00041111, L"INT-4", nullptr},
    };
    for (const Case &c : cases) {
        const wchar_t *missLine = L"unset";
        const wchar_t *part = LookupPartNumber(tables, c.type, c.pciId, c.subsystemId, &missLine);
        const std::string label = std::to_string(c.type) + " " + std::to_string(c.subsystemId);
        EXPECT_STREQ(c.part, part) << label;
        EXPECT_STREQ(c.missLine, missLine) << label;
    }
}

TEST_F(AdapterDataTest, SecondAdapterTypeRecomputesThePartNumber)
{
    const PARTNUMBERTABLES tables = TestTables();
    ScopedPartNumberTables scoped(tables);
    CMiniport miniport;
    miniport.SetPCIDeviceID(0x80861572);
    miniport.SetSubsystemID(kDualA);
    Make(miniport, L"i40ea");
    EXPECT_STREQ(L"INT-1572", miniport.GetPartNumber());
    miniport.SetSubsystemID(0x7777);
    miniport.SetAdapterType(L"i40ea");
    EXPECT_STREQ(L"N/A", miniport.GetPartNumber());

    CMiniport broadcom;
    broadcom.SetSubsystemID(0x7777);
    Make(broadcom, L"b57nd");
    EXPECT_STREQ(L"N/A", broadcom.GetPartNumber());
    const auto lines = LogMessages(s_LogPath, L"CMiniport::SetPartNumber");
    EXPECT_EQ(1u, CountOf(lines, L"Could not detect Broadcom Part #!"));
    EXPECT_EQ(2u, CountOf(lines, L"SubID: 0x00007777 Adapter Type: 8") + CountOf(lines, L"SubID: 0x00007777 Adapter Type: 9"));
}

} // namespace
