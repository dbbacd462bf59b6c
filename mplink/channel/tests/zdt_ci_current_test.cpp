// The current driver generation against the simulated management processor.
#include "channel_test_util.h"
#include "oxbsim_process.h"
#include "pipe_backend.h"
#include "zdt_ci.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class CurrentGeneration : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (ZDTCI_HANDLE handle : m_Handles)
            ZdtCiClose(handle);
        if (m_Initialized)
            ZdtCiTerminate();
    }

    bool StartSim(const std::vector<std::string> &directives = {})
    {
        PipeBackendSetName(sim.Name().c_str());
        return sim.Start(directives);
    }

    DWORD Initialize()
    {
        m_Initialized = true;
        return ZdtCiInitialize(nullptr);
    }

    DWORD Create(ZDTCI_HANDLE *handle)
    {
        DWORD status = ZdtCiCreate(handle, 2, 4096, 2, 4096, 0);
        if (*handle != nullptr)
            m_Handles.push_back(*handle);
        return status;
    }

    void Forget(ZDTCI_HANDLE handle) { m_Handles.erase(std::find(m_Handles.begin(), m_Handles.end(), handle)); }

    OxbSim sim{OxbSim::UniqueName("current")};

private:
    bool m_Initialized = false;
    std::vector<ZDTCI_HANDLE> m_Handles;
};

TEST_F(CurrentGeneration, WithoutADriverEveryCallReportsOneUntilTheDriverComes)
{
    EXPECT_EQ(Initialize(), static_cast<DWORD>(kCiNoDriver));
    EXPECT_EQ(ZdtCiGeneration(), kZdtCiGenerationNone);
    ZDTCI_HANDLE handle = reinterpret_cast<ZDTCI_HANDLE>(1);
    EXPECT_EQ(Create(&handle), static_cast<DWORD>(kCiNoDriver));
    EXPECT_EQ(handle, nullptr);
    DWORD status = 0;
    uint8_t buffer[16] = {};
    EXPECT_EQ(ZdtCiSend(nullptr, buffer, sizeof(buffer), &status), 0u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiNoDriver));
    EXPECT_EQ(ZdtCiStatus(nullptr), static_cast<DWORD>(kCiNoDriver));

    // The probe runs again on every call: a driver installed later is used.
    ASSERT_TRUE(StartSim());
    EXPECT_EQ(Create(&handle), static_cast<DWORD>(kCiSuccess));
    EXPECT_EQ(ZdtCiGeneration(), kZdtCiGenerationCurrent);
    EXPECT_EQ(ZdtCiStatus(handle), static_cast<DWORD>(kCiSuccess));
}

TEST_F(CurrentGeneration, AnOpenBeyondTheDriversChannelsIsRefusedAtOnce)
{
    ASSERT_TRUE(StartSim({"channels 1"}));
    ASSERT_EQ(Initialize(), static_cast<DWORD>(kCiSuccess));
    ZDTCI_HANDLE first = nullptr, second = nullptr;
    ASSERT_EQ(Create(&first), static_cast<DWORD>(kCiSuccess));
    Stopwatch watch;
    EXPECT_EQ(Create(&second), static_cast<DWORD>(kCiNoFreeChannel));
    EXPECT_EQ(second, nullptr);
    EXPECT_LT(watch.ElapsedMs(), 30000u) << "a queued open would wait for ever";

    // The channel the first one held is free again once it is closed.
    EXPECT_EQ(ZdtCiClose(first), static_cast<DWORD>(kCiSuccess));
    Forget(first);
    DWORD status = kCiNoFreeChannel;
    for (int attempt = 0; attempt < 300 && status == kCiNoFreeChannel; ++attempt) {
        Sleep(100);
        status = Create(&second);
    }
    EXPECT_EQ(status, static_cast<DWORD>(kCiSuccess));
    EXPECT_EQ(sim.Records("control").back().Number("result"), 0u);
}

TEST_F(CurrentGeneration, PacketsTravelWholeAndAReadWithoutDataReportsNoData)
{
    ASSERT_TRUE(StartSim({"echo on"}));
    ASSERT_EQ(Initialize(), static_cast<DWORD>(kCiSuccess));
    ZDTCI_HANDLE handle = nullptr;
    ASSERT_EQ(Create(&handle), static_cast<DWORD>(kCiSuccess));

    uint8_t buffer[4096];
    DWORD status = 0;
    const DWORD shortWait = 200;
    EXPECT_EQ(ZdtCiRecv(handle, buffer, sizeof(buffer), &status, nullptr), 0u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiNoData));
    EXPECT_EQ(ZdtCiRecv(handle, buffer, sizeof(buffer), &status, &shortWait), 0u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiNoData));

    std::vector<uint8_t> packet = NumberedPacket(44, 3, 300);
    EXPECT_EQ(ZdtCiSend(handle, packet.data(), 300, &status), 300u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiSuccess));
    const DWORD wait = 10000;
    EXPECT_EQ(ZdtCiRecv(handle, buffer, sizeof(buffer), &status, &wait), 300u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiSuccess));
    EXPECT_TRUE(std::equal(packet.begin() + 8, packet.end(), buffer + 8));

    // Without a status to report to, nothing happens at all.
    EXPECT_EQ(ZdtCiSend(handle, packet.data(), 300, nullptr), 0u);
    EXPECT_EQ(sim.Records("packet").size(), 1u);
}

TEST_F(CurrentGeneration, AnEmptyPacketReadsAsNoData)
{
    ASSERT_TRUE(StartSim({"echo on", "on request 1: truncate 0"}));
    ASSERT_EQ(Initialize(), static_cast<DWORD>(kCiSuccess));
    ZDTCI_HANDLE handle = nullptr;
    ASSERT_EQ(Create(&handle), static_cast<DWORD>(kCiSuccess));
    std::vector<uint8_t> packet = NumberedPacket(1, 3, 16);
    DWORD status = 0;
    ZdtCiSend(handle, packet.data(), 16, &status);
    ASSERT_EQ(status, static_cast<DWORD>(kCiSuccess));

    const DWORD wait = 60000;
    uint8_t buffer[64];
    Stopwatch watch;
    EXPECT_EQ(ZdtCiRecv(handle, buffer, sizeof(buffer), &status, &wait), 0u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiNoData));
    EXPECT_LT(watch.ElapsedMs(), wait / 2) << "the empty packet ended the read, not the time-out";
    ASSERT_TRUE(sim.WaitForRecords("reply", 1));
    EXPECT_EQ(sim.Records("reply")[0].Number("len"), 0u);
}

TEST_F(CurrentGeneration, TheStatusControlFollowsTheChannelsHealth)
{
    ASSERT_TRUE(StartSim({"echo on", "on request 1: unhealthy"}));
    ASSERT_EQ(Initialize(), static_cast<DWORD>(kCiSuccess));
    ZDTCI_HANDLE handle = nullptr;
    ASSERT_EQ(Create(&handle), static_cast<DWORD>(kCiSuccess));
    EXPECT_EQ(ZdtCiStatus(handle), static_cast<DWORD>(kCiSuccess));

    std::vector<uint8_t> packet = NumberedPacket(1, 3, 16);
    DWORD status = 0;
    ZdtCiSend(handle, packet.data(), 16, &status);
    const DWORD wait = 10000;
    uint8_t buffer[64];
    ZdtCiRecv(handle, buffer, sizeof(buffer), &status, &wait);
    ASSERT_EQ(status, static_cast<DWORD>(kCiSuccess));
    EXPECT_EQ(ZdtCiStatus(handle), static_cast<DWORD>(kCiBroken));
    EXPECT_EQ(ZdtCiStatus(nullptr), static_cast<DWORD>(kCiInvalidArgument));
}

TEST_F(CurrentGeneration, AChannelWhoseFarEndVanishedReportsItBroken)
{
    ASSERT_TRUE(StartSim({"echo on"}));
    ASSERT_EQ(Initialize(), static_cast<DWORD>(kCiSuccess));
    ZDTCI_HANDLE handle = nullptr;
    ASSERT_EQ(Create(&handle), static_cast<DWORD>(kCiSuccess));
    sim.Kill();

    std::vector<uint8_t> packet = NumberedPacket(1, 3, 16);
    DWORD status = 0;
    EXPECT_EQ(ZdtCiSend(handle, packet.data(), 16, &status), 0u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiBroken));
    const DWORD wait = 1000;
    uint8_t buffer[64];
    ZdtCiRecv(handle, buffer, sizeof(buffer), &status, &wait);
    EXPECT_EQ(status, static_cast<DWORD>(kCiBroken));
    EXPECT_EQ(ZdtCiStatus(handle), static_cast<DWORD>(kCiBroken));
}

} // namespace
