// The vendor NIC libraries on a described host: modules that load only when described, entry
// points scripted here, and the fixture's clock, which the retry and release waits move on.
#include "miniport_test_support.h"

#include <gtest/gtest.h>

using namespace nictest;

namespace {

class VendorLibsTest : public MiniportTestBase {};

TEST_F(VendorLibsTest, NicNotFoundOnTheFirstCallIsFinal)
{
    AddVendorModule(L"qlmapia.dll", s_Qlmapi);
    s_Qlmapi.results = {kVendorNicNotFound};
    const uint64_t start = fixture.Ticks();
    EXPECT_EQ(0, InitializeQMAPI());
    EXPECT_EQ(1u, s_Qlmapi.initCalls);
    EXPECT_EQ(start, fixture.Ticks()); // no wait
    const auto messages = LogMessages(s_LogPath, L"InitializeQMAPI");
    EXPECT_EQ(1u, CountOf(messages, L"QLmapiInitializeEx returned QLMAPI_NIC_NOT_FOUND"));
    EXPECT_EQ(1u, CountOf(messages, L"QLmapiInitializeEx returned 51"));
    // Later bring-ups, also through miniports, ask nothing.
    EXPECT_EQ(0, InitializeQMAPI());
    { CMiniport miniport; }
    EXPECT_EQ(1u, s_Qlmapi.initCalls);
    EXPECT_EQ(1u, fixture.ModuleLoads(L"qlmapia.dll"));
}

TEST_F(VendorLibsTest, FailedBringUpIsNotRepeatedWhileMiniportsLive)
{
    AddVendorModule(L"bmapia.dll", s_Bmapi);
    s_Bmapi.repeat = 7;
    const uint64_t start = fixture.Ticks();
    {
        CMiniport first;
        EXPECT_EQ(kBmapiInitAttempts, s_Bmapi.initCalls);
        EXPECT_EQ(start + (kBmapiInitAttempts - 1) * kVendorInitRetryMs, fixture.Ticks()); // 100 ms apart
        EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"InitializeBMAPI"), L"BmapiInitializeEx returned 7"));
        CMiniport second;
        EXPECT_EQ(0, InitializeBMAPI()); // a reader on demand
        EXPECT_EQ(kBmapiInitAttempts, s_Bmapi.initCalls);
    }
    // The count fell to 0: the next miniport tries again.
    CMiniport again;
    EXPECT_EQ(2 * kBmapiInitAttempts, s_Bmapi.initCalls);
}

TEST_F(VendorLibsTest, AbsentLibraryCostsNothing)
{
    const uint64_t start = fixture.Ticks();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(0, InitializeQMAPI());
        EXPECT_EQ(0, InitializeBMAPI());
    }
    EXPECT_EQ(start, fixture.Ticks());
    EXPECT_TRUE(LogMessages(s_LogPath, L"InitializeQMAPI").empty());
    EXPECT_TRUE(LogMessages(s_LogPath, L"LoadQMAPI").empty());
    EXPECT_EQ(nullptr, LoadQMAPI());
}

TEST_F(VendorLibsTest, QueryOnlyReleasesNothing)
{
    AddVendorModule(L"qlmapia.dll", s_Qlmapi);
    ASSERT_EQ(1, InitializeQMAPI());
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"InitializeQMAPI"), L"QmapiInitializeEx succeeded."));
    EXPECT_EQ(0, UnInitializeQMAPI(1));
    EXPECT_EQ(0u, s_Qlmapi.uninitCalls);
    EXPECT_EQ(0u, fixture.ModuleFrees(L"qlmapia.dll"));
    const uint64_t before = fixture.Ticks();
    EXPECT_EQ(1, UnInitializeQMAPI(0));
    EXPECT_EQ(1u, s_Qlmapi.uninitCalls);
    EXPECT_EQ(1u, fixture.ModuleFrees(L"qlmapia.dll"));
    EXPECT_EQ(before + kVendorReleaseWaitMs, fixture.Ticks());
    EXPECT_EQ(1u, CountOf(LogMessages(s_LogPath, L"UnInitializeQMAPI"), L"QLMAPI unloaded. QLmapiUninitialize returned 0"));
}

uint32_t __cdecl OtherInit(uint32_t)
{
    ++s_Qlmapi.otherCalls;
    return 0;
}

TEST_F(VendorLibsTest, InitReleaseInitLoadsAndResolvesAfresh)
{
    AddVendorModule(L"qlmapia.dll", s_Qlmapi);
    ASSERT_EQ(1, InitializeQMAPI());
    ASSERT_EQ(1, UnInitializeQMAPI(0));
    EXPECT_EQ(nullptr, QlmapiEntryPoint(kQLmapiInitializeEx));
    // The library found on the second load exports another function under the same name.
    fixture.SetModuleExport(L"qlmapia.dll", "QLmapiInitializeEx", AsProc(OtherInit));
    ASSERT_EQ(1, InitializeQMAPI());
    EXPECT_EQ(2u, fixture.ModuleLoads(L"qlmapia.dll"));
    EXPECT_EQ(1u, s_Qlmapi.initCalls);
    EXPECT_EQ(1u, s_Qlmapi.otherCalls);
}

TEST_F(VendorLibsTest, MissingInitialiseEntryPointIsUnusableAtOnce)
{
    fixture.Host().modules.push_back({L"qlmapia.dll", {}});
    fixture.SetModuleExport(L"qlmapia.dll", "QLmapiUninitialize", AsProc(ScriptedUninit<0>));
    const uint64_t start = fixture.Ticks();
    EXPECT_EQ(0, InitializeQMAPI());
    EXPECT_EQ(0, InitializeQMAPI());
    { CMiniport miniport; }
    EXPECT_EQ(start, fixture.Ticks());
    EXPECT_EQ(1u, fixture.ModuleLoads(L"qlmapia.dll"));
}

TEST_F(VendorLibsTest, CopiesAndTemporariesDoNotCycleTheLibraries)
{
    AddVendorModule(L"qlmapia.dll", s_Qlmapi);
    AddVendorModule(L"bmapia.dll", s_Bmapi);
    {
        CMiniport listed;
        EXPECT_EQ(1, IsQMAPIInitialized());
        EXPECT_EQ(1, IsBMAPIInitialized());
        for (int i = 0; i < 3; ++i) {
            CMiniport copy;
            copy = listed;
        }
        EXPECT_EQ(1u, s_Qlmapi.initCalls);
        EXPECT_EQ(1u, s_Bmapi.initCalls);
        EXPECT_EQ(0u, s_Qlmapi.uninitCalls);
        EXPECT_EQ(1u, LiveVendorLibraryHolders());
    }
    EXPECT_EQ(0u, LiveVendorLibraryHolders());
    EXPECT_EQ(1u, s_Qlmapi.uninitCalls);
    EXPECT_EQ(1u, s_Bmapi.uninitCalls);
    EXPECT_EQ(0, IsQMAPIInitialized());
    EXPECT_EQ(1u, fixture.ModuleFrees(L"bmapia.dll"));
}

// Eight miniports as a list build makes them (one dropped on the way, copies for the adapters),
// with a QLMAPI that answers neither 0 nor 51: one bring-up of 601 attempts, one minute of
// simulated wait, where each construction used to cost that minute again.
TEST_F(VendorLibsTest, EightMiniportsWithAFailingQlmapiPayOneBringUp)
{
    AddVendorModule(L"qlmapia.dll", s_Qlmapi);
    s_Qlmapi.repeat = 3;
    const uint64_t start = fixture.Ticks();
    {
        std::vector<std::unique_ptr<CMiniport>> list;
        for (int i = 0; i < 8; ++i) {
            list.push_back(std::make_unique<CMiniport>());
            CMiniport dropped; // an interface whose Init failed
        }
        for (int i = 0; i < 8; ++i) {
            CMiniport copy;
            copy = *list[i];
        }
    }
    EXPECT_EQ(kQlmapiInitAttempts, s_Qlmapi.initCalls);
    EXPECT_EQ(start + (kQlmapiInitAttempts - 1) * kVendorInitRetryMs, fixture.Ticks());
    RecordProperty("simulated_wait_ms", static_cast<int>(fixture.Ticks() - start));
}

} // namespace
