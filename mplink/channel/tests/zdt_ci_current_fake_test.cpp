// The current generation against a fake driver that reports byte counts the pipes never would.
#include "fake_current_driver.h"
#include "zdt_ci.h"

#include <gtest/gtest.h>

namespace {

class MisreportingDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(ZdtCiInitialize(nullptr), static_cast<DWORD>(kCiSuccess));
        ASSERT_EQ(ZdtCiCreate(&handle, 2, 4096, 2, 4096, 0), static_cast<DWORD>(kCiSuccess));
    }
    void TearDown() override
    {
        ZdtCiClose(handle);
        ZdtCiTerminate();
    }

    FakeCurrentDriver driver;
    ZDTCI_HANDLE handle = nullptr;
};

TEST_F(MisreportingDriver, TheOpenIssuesTheThreeControlsInOrder)
{
    EXPECT_EQ(driver.controls,
              (std::vector<DWORD>{kZdtCiControlSetPriority, kZdtCiControlSetBuffers, kZdtCiControlOpen}));
}

TEST_F(MisreportingDriver, AWriteThatTookPartOfThePacketIsAFailure)
{
    std::vector<uint8_t> packet(100, 7);
    driver.writeReports = 60;
    DWORD status = 0;
    EXPECT_EQ(ZdtCiSend(handle, packet.data(), 100, &status), 60u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiTruncated));
}

TEST_F(MisreportingDriver, ByteCountsBeyondTheBufferAreNotBelieved)
{
    std::vector<uint8_t> packet(100, 7);
    DWORD status = 0;
    driver.writeReports = 101;
    EXPECT_EQ(ZdtCiSend(handle, packet.data(), 100, &status), 0u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiUnexpected));

    driver.nextPacket.assign(32, 9);
    driver.readReports = 4096;
    uint8_t buffer[64];
    EXPECT_EQ(ZdtCiRecv(handle, buffer, sizeof(buffer), &status, nullptr), 0u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiUnexpected));

    driver.readReports = -1;
    EXPECT_EQ(ZdtCiRecv(handle, buffer, sizeof(buffer), &status, nullptr), 32u);
    EXPECT_EQ(status, static_cast<DWORD>(kCiSuccess));
}

} // namespace
